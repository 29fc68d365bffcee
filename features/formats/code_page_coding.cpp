#include "formats/code_page_coding.h"

#include "formats/code_page.h"

namespace vesmer {
namespace {

class CodePageDecoder final : public RecordDecoder {
 public:
  explicit CodePageDecoder(std::unique_ptr<CodePage> code_page)
      : code_page_(std::move(code_page)) {}

  DecodedRecord Decode(std::string_view record, bool first_in_file) override {
    // Offsets count from after a byte order mark, so columns count from the first character.
    if (first_in_file) record = code_page_->WithoutByteOrderMark(record);
    const std::size_t undecodable = code_page_->Decode(record, text_);
    return DecodedRecord{text_.text(), text_.offsets(), undecodable};
  }

  bool KnownClean(std::string_view record, bool first_in_file) override {
    if (first_in_file) record = code_page_->WithoutByteOrderMark(record);
    return code_page_->KnownClean(record);
  }

  DecodedRecord DecodePrefix(std::string_view record, bool first_in_file,
                             std::size_t bytes) override {
    // Offsets, and so `bytes`, count from after a byte order mark.
    if (first_in_file) record = code_page_->WithoutByteOrderMark(record);
    code_page_->DecodePrefix(record, bytes, prefix_);
    return DecodedRecord{prefix_.text(), prefix_.offsets()};
  }

 private:
  std::unique_ptr<CodePage> code_page_;
  DecodedText text_;
  DecodedText prefix_;
};

}  // namespace

std::unique_ptr<CodePageCoding> CodePageCoding::Open(const std::string& name,
                                                     std::string& message) {
  std::unique_ptr<CodePage> code_page = CodePage::Open(name, message);
  if (code_page == nullptr) return nullptr;
  return std::unique_ptr<CodePageCoding>(new CodePageCoding(code_page->name()));
}

std::unique_ptr<RecordDecoder> CodePageCoding::NewDecoder() const {
  std::string message;
  // The name opened once already: it opens again (tables are cached per converter).
  return std::make_unique<CodePageDecoder>(CodePage::Open(name_, message));
}

}  // namespace vesmer
