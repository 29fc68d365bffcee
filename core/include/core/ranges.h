// Column ranges: the range list type, parsing of the range text the user types, and the
// overlap test between key and omitted columns.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesmer {

// 1-based Shift-JIS byte columns, inclusive. Start 0 marks a free entry.
struct ColumnRange {
  std::int32_t Start = 0;
  std::int32_t End = 0;
  friend bool operator==(const ColumnRange&, const ColumnRange&) = default;
};

inline constexpr std::size_t kMaxRanges = 20;

class RangeList {
 public:
  void Clear() { entries_.fill({}); }
  ColumnRange& operator[](std::size_t i) { return entries_[i]; }
  const ColumnRange& operator[](std::size_t i) const { return entries_[i]; }
  // The entries a record reader uses: from index 0 up to the first free entry.
  [[nodiscard]] std::size_t UsedPrefix() const {
    std::size_t n = 0;
    while (n < kMaxRanges && entries_[n].Start != 0) ++n;
    return n;
  }
  auto begin() const { return entries_.begin(); }
  auto end() const { return entries_.end(); }

 private:
  std::array<ColumnRange, kMaxRanges> entries_{};
};

enum class ParseOutcome { kValid, kInvalid, kOverLimit };

// Parses range text (UTF-8, already normalised) into `list`, which is cleared first.
[[nodiscard]] ParseOutcome ParseRangeText(std::string_view text, RangeList& list);

// As ParseRangeText; on kOverLimit `message` receives the parser's own status text.
[[nodiscard]] ParseOutcome ParseKeyRange(std::string_view text, RangeList& list,
                                         std::string& message);
[[nodiscard]] ParseOutcome ParseOmitRange(std::string_view text, RangeList& list,
                                          std::string& message);

// True when no column lies in a used key entry and a used omit entry.
[[nodiscard]] bool CheckRangeOverlap(const RangeList& key, const RangeList& omit);

// Full-width characters with a half-width form (U+FF01-U+FF5E, U+3000) become half-width, then
// leading and trailing spaces go. UTF-8 in and out.
[[nodiscard]] std::string NormaliseRangeText(std::string_view text);

}  // namespace vesmer
