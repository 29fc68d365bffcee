// Record keys: cut from the key columns of a record and ordered as the run orders them, by the
// UTF-16 code units of the decoded key.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "engine/ranges.h"

namespace vesmer {

// The line bytes the key columns are cut from: the line as Windows holds its text. That is
// `raw` itself when its bytes up to the last key column come back unchanged from a decode and
// encode (nearly always); otherwise the canonical form of the whole line, built in `scratch`.
[[nodiscard]] std::string_view KeyLineBytes(std::string_view raw, const RangeList& ranges,
                                            std::string& scratch);

// Builds into `key` the key of `line_bytes` (code page 932) for the used key ranges, in a form
// that orders by plain byte comparison exactly as the decoded key orders by UTF-16 code unit:
// the bytes themselves when they are all ASCII, otherwise the decoded text as UTF-8. (Code page
// 932 decodes into the Basic Multilingual Plane without surrogates, where UTF-8 byte order is
// code unit order, and a proper prefix still orders first.) Each range decodes by itself, so a
// range cut inside a double-byte character decodes as that piece alone does.
void BuildKey(std::string_view line_bytes, const RangeList& ranges, std::string& key);

// <0, 0, >0 as `a` orders before, with or after `b`.
[[nodiscard]] inline int CompareKeys(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return (c > 0) - (c < 0);
}

// KeyLineBytes and BuildKey for one run's key ranges, worked out once: a line whose bytes up
// to the last key column are ASCII (the usual case) gives its key by copying those columns.
class KeyBuilder {
 public:
  // Works out what it needs from `ranges`, which must outlive it; again after they change.
  explicit KeyBuilder(const RangeList& ranges) : ranges_(ranges) { Reset(); }
  void Reset();
  // The key of the raw line as read.
  void Build(std::string_view raw, std::string& key, std::string& scratch) const;

 private:
  const RangeList& ranges_;
  std::size_t used_ = 0;
  std::size_t last_ = 0;                            // the last key column
  std::size_t first_start_ = 0, first_length_ = 0;  // the first range, 0-based
};

}  // namespace vesmer
