// CSV records for a run that compares texts: each record split into its fields and their values
// decoded from the code page, so that fields are compared one by one and named by number.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/record_text.h"
#include "formats/record_format.h"

namespace vesmer {

class CsvCoding final : public RecordCoding {
 public:
  // The CSV records of `format` (its delimiter and code page); null with `message` when the
  // code page does not exist. `expected_fields`: the number of fields a record should have (the
  // header's), 0: as many as the file's first record. `named_fields`: a record with fewer fields
  // is short too (a layout names a column that far).
  [[nodiscard]] static std::unique_ptr<CsvCoding> Open(const RecordFormat& format,
                                                       std::size_t expected_fields,
                                                       std::string& message,
                                                       std::size_t named_fields = 0);
  [[nodiscard]] std::unique_ptr<RecordDecoder> NewDecoder() const override;
  // One name for one delimiter and code page: equal bytes are then equal fields.
  [[nodiscard]] std::string Name() const override {
    return "csv," + std::string(1, format_.delimiter) + "," + code_page_;
  }

 private:
  CsvCoding(const RecordFormat& format, std::string code_page, std::size_t expected_fields,
            std::size_t named_fields)
      : format_(format),
        code_page_(std::move(code_page)),
        expected_fields_(expected_fields),
        named_fields_(named_fields) {}
  RecordFormat format_;
  std::string code_page_;  // canonical
  std::size_t expected_fields_;
  std::size_t named_fields_;
};

// The names of the fields in the header of the CSV file `path` (UTF-8), from its first record;
// false with `message` (the user's words, naming the file) when it cannot be read.
[[nodiscard]] bool ReadCsvHeader(const std::string& path, const RecordFormat& format,
                                 std::vector<std::string>& names, std::string& message);

}  // namespace vesmer
