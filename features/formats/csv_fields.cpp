#include "formats/csv_fields.h"

#include "csv_scan.h"

namespace vesmer {

struct CsvFields::Tables {
  char delimiter;
  bool shift_jis;
  csv::ByteTable unquoted;
  csv::ByteTable quoted;
};

CsvFields::CsvFields() = default;

CsvFields::~CsvFields() = default;

bool CsvFields::Split(std::string_view record, char delimiter, bool shift_jis) {
  record_ = record;
  fields_.clear();
  values_.clear();
  if (delimiter == '"') return false;
  if (tables_ == nullptr || tables_->delimiter != delimiter || tables_->shift_jis != shift_jis) {
    // Line ends are data here: the reader has taken the record's end away already.
    tables_ = std::make_unique<Tables>(
        Tables{delimiter, shift_jis,
               csv::ByteTable::Unquoted(delimiter, false,
                                        csv::DelimiterInTrailBytes(delimiter, shift_jis)),
               csv::ByteTable::Quoted(false)});
  }
  const csv::ByteTable& unquoted = tables_->unquoted;
  const csv::ByteTable& quoted = tables_->quoted;
  const std::size_t n = record.size();
  std::size_t p = 0;
  for (;;) {
    Field f;
    f.offset = p;
    if (p < n && record[p] == '"') {
      ++p;
      f.value_at = p;
      std::size_t piece = p;  // where the bytes of the value not yet copied start
      for (;;) {
        const std::size_t quote = quoted.SkipPlain(record, p);
        if (quote == n) {
          fields_.clear();
          return false;  // the quote never closes
        }
        if (quote + 1 < n && record[quote + 1] == '"') {
          // A doubled quote: the value is built in values_, one quote for the two.
          if (!f.unescaped) {
            f.unescaped = true;
            f.value_at = values_.size();
          }
          values_.append(record.substr(piece, quote + 1 - piece));
          p = quote + 2;
          piece = p;
          continue;
        }
        if (f.unescaped) {
          values_.append(record.substr(piece, quote - piece));
          f.value_size = values_.size() - f.value_at;
        } else {
          f.value_size = quote - f.value_at;
        }
        p = quote + 1;
        break;
      }
      if (p < n && record[p] != delimiter) {
        fields_.clear();
        return false;  // text after the closing quote
      }
    } else {
      for (;;) {
        p = unquoted.SkipPlain(record, p);
        if (p == n) break;
        const csv::ByteClass c = unquoted[record[p]];
        if (c == csv::kDelimiter) break;
        if (c == csv::kQuote) {
          fields_.clear();
          return false;  // a quote inside a field that does not start with one
        }
        // A lead byte: its second byte, whatever it looks like, belongs to the character.
        p += p + 1 < n && csv::IsTrailByte(static_cast<unsigned char>(record[p + 1])) ? 2 : 1;
      }
      f.value_at = f.offset;
      f.value_size = p - f.offset;
    }
    f.length = p - f.offset;
    fields_.push_back(f);
    if (p == n) return true;
    ++p;  // past the delimiter
  }
}

}  // namespace vesmer
