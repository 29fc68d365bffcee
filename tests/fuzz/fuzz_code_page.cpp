// The code page decoders on arbitrary records, the first byte choosing the code page: the IBM
// host code pages' tables and EUC-JP's and UTF-8's own paths give exactly what ICU gives, code
// page 932 what Windows' walk gives; offsets never decrease and stay inside the record; one
// text reused for every record. A record the bytes' look calls clean decodes with nothing
// undecodable, and a prefix decodes to the characters the whole record has there.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

#include "formats/code_page.h"
#include "tests/support/code_page_reference.h"

namespace {

constexpr const char* kNames[] = {"ibm-930", "ibm-939", "ibm-1390", "ibm-1399",
                                  "ibm-290", "euc-jp",  "utf-8",    "cp932"};
constexpr std::size_t kCount = std::size(kNames);

struct Opened {
  std::unique_ptr<vesmer::CodePage> code_page;
  std::unique_ptr<vesmer::testing::IcuReference> icu;  // none for cp932
};

Opened* OpenAll() {
  static Opened opened[kCount];
  for (std::size_t i = 0; i < kCount; ++i) {
    std::string message;
    opened[i].code_page = vesmer::CodePage::Open(kNames[i], message);
    if (!opened[i].code_page) std::abort();
    if (std::string_view(kNames[i]) != "cp932") {
      opened[i].icu = std::make_unique<vesmer::testing::IcuReference>(kNames[i]);
      if (!opened[i].icu->ok()) std::abort();
    }
  }
  return opened;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Opened* const opened = OpenAll();
  static vesmer::DecodedText out;
  if (size == 0) return 0;
  Opened& o = opened[data[0] % kCount];
  const std::string_view record(reinterpret_cast<const char*>(data + 1), size - 1);

  vesmer::testing::Decoded got;
  got.bad = o.code_page->Decode(record, out);
  got.text = out.text();
  got.offsets.assign(out.offsets().begin(), out.offsets().end());
  const vesmer::testing::Decoded expected =
      o.icu ? o.icu->Decode(record) : vesmer::testing::Cp932Reference(record);
  if (got != expected) std::abort();

  for (std::size_t i = 0; i < got.offsets.size(); ++i) {
    if (got.offsets[i] >= record.size()) std::abort();
    if (i > 0 && got.offsets[i] < got.offsets[i - 1]) std::abort();
  }
  // A byte range's text: the units whose characters start inside it.
  const std::size_t begin = record.size() / 3, end = 2 * record.size() / 3;
  std::u16string inside;
  for (std::size_t i = 0; i < got.text.size(); ++i) {
    if (got.offsets[i] >= begin && got.offsets[i] < end) inside += got.text[i];
  }
  if (out.Slice(begin, end) != inside) std::abort();

  // What a look at the bytes says clean decodes clean; a prefix gives the record's characters
  // that start in it, as the whole decode gives them.
  if (o.code_page->KnownClean(record) && got.bad != 0) std::abort();
  static vesmer::DecodedText prefix;
  o.code_page->DecodePrefix(record, begin, prefix);
  std::u16string head, prefix_head;
  for (std::size_t i = 0; i < got.text.size() && got.offsets[i] < begin; ++i) head += got.text[i];
  for (std::size_t i = 0; i < prefix.size() && prefix.offsets()[i] < begin; ++i) {
    prefix_head += prefix.text()[i];
  }
  if (head != prefix_head) std::abort();

  // Two halves compared unit by unit from their bytes: only when each byte is a character of one
  // unit alone, and then as their decoded texts order.
  const std::size_t half = record.size() / 2;
  const std::string_view a = record.substr(0, half), b = record.substr(half, half);
  int order = 0;
  if (o.code_page->CompareSingleByteUnits(a, b, order)) {
    static vesmer::DecodedText first, second;
    if (o.code_page->Decode(a, first) != 0 || o.code_page->Decode(b, second) != 0) std::abort();
    if (first.size() != a.size() || second.size() != b.size()) std::abort();
    const int decoded = first.text().compare(second.text());
    if ((order < 0) != (decoded < 0) || (order == 0) != (decoded == 0)) std::abort();
  }
  return 0;
}
