#include "formats/code_page_coding.h"

#include <algorithm>

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
    return DecodedRecord{text_.text(), text_.offsets(), undecodable, 0, false, {}, {}};
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
    return DecodedRecord{prefix_.text(), prefix_.offsets(), 0, 0, false, {}, {}};
  }

  bool AppendKeyFormOfBytes(std::string_view record, bool first_in_file, const RangeList& ranges,
                            std::size_t last, std::string& form) override {
    if (first_in_file) record = code_page_->WithoutByteOrderMark(record);
    const std::string_view head = record.substr(0, std::min(record.size(), last));
    // One unit a byte: a range's units are its bytes' own.
    if (!code_page_->SingleByteUnits(head, units_)) return false;
    for (std::size_t i = 0, used = ranges.UsedPrefix(); i < used; ++i) {
      const auto first = static_cast<std::size_t>(ranges[i].Start) - 1;
      const std::size_t end = std::min(head.size(), static_cast<std::size_t>(ranges[i].End));
      if (first < end) AppendKeyForm(std::u16string_view(units_).substr(first, end - first), form);
    }
    return true;
  }

  bool OrderKeysOfBytes(std::string_view a, std::string_view b, const RangeList& ranges,
                        std::size_t last, int& order) override {
    if (a.size() != b.size()) return false;
    const std::size_t n = std::min(a.size(), last);
    // Every byte up to the last key column a character alone, as AppendKeyFormOfBytes asks.
    if (!code_page_->CompareSingleByteUnits(a.substr(0, n), b.substr(0, n), order)) return false;
    const std::size_t used = ranges.UsedPrefix();
    if (used == 1 && ranges[0].Start == 1) return true;  // the key is those bytes
    for (std::size_t i = 0; i < used; ++i) {
      const auto first = static_cast<std::size_t>(ranges[i].Start) - 1;
      const std::size_t end = std::min(n, static_cast<std::size_t>(ranges[i].End));
      if (first >= end) continue;
      const std::size_t count = end - first;
      if (!code_page_->CompareSingleByteUnits(a.substr(first, count), b.substr(first, count),
                                              order)) {
        return false;
      }
      if (order != 0) return true;
    }
    order = 0;
    return true;
  }

 private:
  std::unique_ptr<CodePage> code_page_;
  DecodedText text_;
  DecodedText prefix_;
  std::u16string units_;  // of a key's bytes
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
