#include "formats/csv_coding.h"

#include "formats/code_page.h"
#include "formats/csv_fields.h"
#include "formats/framed_records.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

class CsvDecoder final : public RecordDecoder {
 public:
  CsvDecoder(std::unique_ptr<CodePage> code_page, const RecordFormat& format,
             std::size_t expected_fields, std::size_t named_fields)
      : code_page_(std::move(code_page)),
        delimiter_(format.delimiter),
        shift_jis_(format.ShiftJisBytes()),
        expected_fields_(expected_fields),
        named_fields_(named_fields) {}

  DecodedRecord Decode(std::string_view record, bool first_in_file) override {
    if (first_in_file) record = code_page_->WithoutByteOrderMark(record);
    text_.clear();
    offsets_.clear();
    std::size_t undecodable = 0;
    // The framing checked the record's quotes: it splits.
    if (!fields_.Split(record, delimiter_, shift_jis_)) {
      // Should the split still fail, the record is one field of its bytes, compared as such.
      undecodable += code_page_->Decode(record, value_);
      Append(0);
      return Result(1, undecodable);
    }
    for (std::size_t f = 0; f < fields_.size(); ++f) {
      undecodable += code_page_->Decode(fields_.field(f), value_);
      Append(static_cast<std::uint32_t>(f));
    }
    if (expected_fields_ == 0) expected_fields_ = fields_.size();
    return Result(fields_.size(), undecodable);
  }

 private:
  void Append(std::uint32_t field) {
    text_.append(value_.text());
    offsets_.insert(offsets_.end(), value_.size(), field);
  }
  DecodedRecord Result(std::size_t fields, std::size_t undecodable) const {
    return DecodedRecord{
        text_, offsets_, undecodable, fields, fields < expected_fields_ || fields < named_fields_,
        {},    {}};
  }

  std::unique_ptr<CodePage> code_page_;
  const char delimiter_;
  const bool shift_jis_;
  std::size_t expected_fields_;
  const std::size_t named_fields_;
  CsvFields fields_;
  DecodedText value_;
  std::u16string text_;
  std::vector<std::uint32_t> offsets_;
};

}  // namespace

std::unique_ptr<CsvCoding> CsvCoding::Open(const RecordFormat& format, std::size_t expected_fields,
                                           std::string& message, std::size_t named_fields) {
  std::unique_ptr<CodePage> code_page = CodePage::Open(format.code_page, message);
  if (code_page == nullptr) return nullptr;
  return std::unique_ptr<CsvCoding>(
      new CsvCoding(format, code_page->name(), expected_fields, named_fields));
}

std::unique_ptr<RecordDecoder> CsvCoding::NewDecoder() const {
  std::string message;
  return std::make_unique<CsvDecoder>(CodePage::Open(code_page_, message), format_,
                                      expected_fields_, named_fields_);
}

bool ReadCsvHeader(const std::string& path, const RecordFormat& format,
                   std::vector<std::string>& names, std::string& message) {
  names.clear();
  FramedRecords records;
  Status status = records.Open(path, format);
  std::string_view header;
  if (status.ok() && !records.ReadHeader(header)) {
    status = records.status();
    if (status.ok()) return true;  // an empty file names no field
  }
  if (!status.ok()) {
    message = "★" + path + ": " + status.reason();
    return false;
  }
  std::unique_ptr<CodePage> code_page = CodePage::Open(format.code_page, message);
  if (code_page == nullptr) return false;
  CsvFields fields;
  if (!fields.Split(code_page->WithoutByteOrderMark(header), format.delimiter,
                    format.ShiftJisBytes())) {
    message = "★" + path + ": 見出しの行を CSV として読めません";
    return false;
  }
  DecodedText text;
  for (std::size_t f = 0; f < fields.size(); ++f) {
    (void)code_page->Decode(fields.field(f), text);
    names.push_back(Utf16ToUtf8(std::u16string(text.text())));
  }
  records.Close();
  return true;
}

}  // namespace vesmer
