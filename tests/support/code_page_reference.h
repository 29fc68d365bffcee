// What a record should decode to, worked out apart from the code pages' own decoders: ICU's
// conversion of the whole record, and Windows' code page 932 character by character. Shared by
// the tests and the fuzz target.
#pragma once

#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cp932.h"

namespace vesmer::testing {

struct Decoded {
  std::u16string text;
  std::vector<std::uint32_t> offsets;
  std::size_t bad = 0;  // sequences that were no character
  friend bool operator==(const Decoded&, const Decoded&) = default;
};

// One ICU converter converting whole records with flush, each bad byte written as U+DC00 + byte.
class IcuReference {
 public:
  explicit IcuReference(const char* name) {
    UErrorCode error = U_ZERO_ERROR;
    converter_ = ucnv_open(name, &error);
    ucnv_setToUCallBack(converter_, Callback, &bad_, nullptr, nullptr, &error);
  }
  ~IcuReference() { ucnv_close(converter_); }
  IcuReference(const IcuReference&) = delete;
  IcuReference& operator=(const IcuReference&) = delete;

  [[nodiscard]] bool ok() const { return converter_ != nullptr; }

  [[nodiscard]] Decoded Decode(std::string_view bytes) {
    Decoded d;
    std::vector<UChar> units(4 * bytes.size() + 16);
    std::vector<int32_t> offsets(units.size());
    ucnv_resetToUnicode(converter_);
    bad_ = 0;
    UChar* target = units.data();
    const char* source = bytes.data();
    UErrorCode error = U_ZERO_ERROR;
    ucnv_toUnicode(converter_, &target, units.data() + units.size(), &source,
                   bytes.data() + bytes.size(), offsets.data(), true, &error);
    const auto n = static_cast<std::size_t>(target - units.data());
    d.text.assign(units.data(), n);
    d.offsets.assign(offsets.begin(), offsets.begin() + static_cast<std::ptrdiff_t>(n));
    d.bad = U_SUCCESS(error) ? bad_ : ~std::size_t{0};
    return d;
  }

 private:
  static void Callback(const void* context, UConverterToUnicodeArgs* args, const char* bytes,
                       int32_t length, UConverterCallbackReason reason, UErrorCode* error) {
    if (reason > UCNV_IRREGULAR) return;
    ++*static_cast<std::size_t*>(const_cast<void*>(context));
    *error = U_ZERO_ERROR;
    for (int32_t i = 0; i < length; ++i) {
      const UChar unit = static_cast<UChar>(0xDC00 + static_cast<std::uint8_t>(bytes[i]));
      ucnv_cbToUWriteUChars(args, &unit, 1, i, error);
    }
  }

  UConverter* converter_ = nullptr;
  std::size_t bad_ = 0;
};

// Code page 932 as Windows walks it, each character decoded by platform's decoder on its own;
// a character that comes out as U+30FB without being 0x81 0x45 is not in the table, and its
// bytes are escaped.
[[nodiscard]] inline Decoded Cp932Reference(std::string_view bytes) {
  Decoded d;
  const std::string middle_dot = cp932::Encode(u"\u30FB");
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t length = cp932::CharLength(bytes.data() + i, bytes.size() - i);
    const std::string_view character = bytes.substr(i, length);
    const std::u16string unit = cp932::Decode(character);
    if (unit == u"\u30FB" && character != middle_dot) {
      for (std::size_t j = 0; j < length; ++j) {
        d.text += static_cast<char16_t>(0xDC00 + static_cast<std::uint8_t>(character[j]));
        d.offsets.push_back(static_cast<std::uint32_t>(i + j));
      }
      ++d.bad;
    } else {
      d.text += unit;
      d.offsets.push_back(static_cast<std::uint32_t>(i));
    }
    i += length;
  }
  return d;
}

}  // namespace vesmer::testing
