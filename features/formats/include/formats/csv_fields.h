// The fields of one CSV record: their values without quotes, and where each lies in the record
// as it was read (for columns).
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace vesmer {

// Splits records, one at a time, reusing its memory: once it has seen records with as many
// fields and as many doubled quotes, a split allocates nothing.
class CsvFields {
 public:
  CsvFields();
  ~CsvFields();
  CsvFields(const CsvFields&) = delete;
  CsvFields& operator=(const CsvFields&) = delete;

  // Splits `record`, one CSV record as FramedRecords hands it out (quotes kept, no record end),
  // at each `delimiter` outside quotes. `shift_jis`: the record is in a Shift-JIS code page
  // (RecordFormat::ShiftJisBytes), so the second byte of a double-byte character is never a
  // delimiter. Returns false, with no fields, when the record is not RFC 4180 CSV: a quote in a
  // field that does not start with one, text after a closing quote, a quote that never closes.
  // `delimiter` must not be '"'. An empty record is one empty field; a record ending in the
  // delimiter ends in an empty field. The fields refer to `record`, which must outlive them.
  [[nodiscard]] bool Split(std::string_view record, char delimiter, bool shift_jis = false);

  [[nodiscard]] std::size_t size() const { return fields_.size(); }
  // The value of field `i` (< size()): the field itself, or for a quoted field what is between
  // its quotes with each "" made ". Valid until the next Split().
  [[nodiscard]] std::string_view field(std::size_t i) const {
    const Field& f = fields_[i];
    return f.unescaped ? std::string_view(values_).substr(f.value_at, f.value_size)
                       : record_.substr(f.value_at, f.value_size);
  }
  // Where field `i` lies in the record: its first byte (a quoted field's opening quote) and its
  // length up to the delimiter after it, quotes included.
  [[nodiscard]] std::size_t offset(std::size_t i) const { return fields_[i].offset; }
  [[nodiscard]] std::size_t length(std::size_t i) const { return fields_[i].length; }

 private:
  struct Field {
    std::size_t offset = 0;
    std::size_t length = 0;
    std::size_t value_at = 0;  // in record_, or in values_ when unescaped
    std::size_t value_size = 0;
    bool unescaped = false;  // the value had doubled quotes: it is kept in values_
  };

  struct Tables;

  std::unique_ptr<Tables> tables_;  // for the delimiter and code page of the last Split()
  std::string_view record_;
  std::vector<Field> fields_;
  std::string values_;  // the values that had doubled quotes, one after another
};

}  // namespace vesmer
