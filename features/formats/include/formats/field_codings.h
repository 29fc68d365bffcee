// Records of two formats seen as records of the same fields in one order, so that a CSV file and
// a file of byte columns (the host's fixed-length records, Shift-JIS lines) compare field by
// field, their fields matched by name.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/record_text.h"

namespace vesmer {

// Bytes [begin, end) of a record as stored (0-based).
struct ByteSpan {
  std::uint32_t begin = 0;
  std::uint32_t end = 0;
};

// Records decoded by `inner` (offsets are bytes of the record) and cut into fields: field i is
// the units of the characters that start in spans[i], as a range of columns cuts a decoded
// record; a record shorter than a span gives what it has of it, maybe nothing. The result is a
// record of fields (offsets are field numbers) with as many fields as spans, never short.
class ByteFieldsCoding final : public RecordCoding {
 public:
  // `spans` must not be empty.
  ByteFieldsCoding(std::unique_ptr<RecordCoding> inner, std::vector<ByteSpan> spans);
  [[nodiscard]] std::unique_ptr<RecordDecoder> NewDecoder() const override;
  // The inner coding's name with the spans: equal bytes give equal fields for equal names only.
  [[nodiscard]] std::string Name() const override;

 private:
  std::unique_ptr<RecordCoding> inner_;
  std::vector<ByteSpan> spans_;
};

// Records of fields decoded by `inner` (CSV), with their fields chosen and put in another order:
// field i is the inner record's field columns[i] (0-based). A field past the end of the record
// is empty, and the record is then short. The result has as many fields as `columns`.
class SelectedFieldsCoding final : public RecordCoding {
 public:
  // `columns` must not be empty.
  SelectedFieldsCoding(std::unique_ptr<RecordCoding> inner, std::vector<std::uint32_t> columns);
  [[nodiscard]] std::unique_ptr<RecordDecoder> NewDecoder() const override;
  [[nodiscard]] std::string Name() const override;

 private:
  std::unique_ptr<RecordCoding> inner_;
  std::vector<std::uint32_t> columns_;
};

}  // namespace vesmer
