// A record of fields as a coding builds it, for the codings of records of fields: the units of
// each field in turn, each unit with the number of its field.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/record_text.h"
#include "numbers/decimal.h"

namespace vesmer {

class FieldsOut {
 public:
  void Clear() {
    text_.clear();
    offsets_.clear();
    absent_.clear();
  }
  void Append(std::u16string_view units, std::uint32_t field) {
    text_.append(units);
    offsets_.insert(offsets_.end(), units.size(), field);
  }
  // The canonical text of `value`.
  void AppendNumber(const Decimal& value, std::uint32_t field) {
    std::array<char, Decimal::kMaxTextSize> chars{};
    const std::size_t n = value.ToChars(chars.data());
    for (std::size_t i = 0; i < n; ++i) text_.push_back(static_cast<char16_t>(chars[i]));
    offsets_.insert(offsets_.end(), n, field);
  }
  // The text of a field that should hold a number and holds none: as it is, unless it could be
  // taken for what AppendBytesShown writes (X'...') or for this, which it then is in quotes, so
  // that a text equals only the same text and never a field of bytes.
  void AppendNoNumber(std::u16string_view units, std::uint32_t field) {
    const bool quoted = units.starts_with(u"X'") || units.starts_with(u'"');
    if (quoted) Append(u"\"", field);
    Append(units, field);
    if (quoted) Append(u"\"", field);
  }
  // `bytes` in hexadecimal: X'0C1F'.
  void AppendBytesShown(std::string_view bytes, std::uint32_t field) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    const std::size_t from = text_.size();
    text_ += u"X'";
    for (const char c : bytes) {
      const auto b = static_cast<unsigned char>(c);
      text_.push_back(static_cast<char16_t>(kHex[b >> 4]));
      text_.push_back(static_cast<char16_t>(kHex[b & 0xF]));
    }
    text_.push_back(u'\'');
    offsets_.insert(offsets_.end(), text_.size() - from, field);
  }
  // Field `field` is one the record it is made of lacks (it is empty).
  void Lack(std::uint32_t field, std::size_t fields) {
    absent_.resize(fields, 0);
    absent_[field] = 1;
  }
  [[nodiscard]] std::u16string_view text() const { return text_; }
  [[nodiscard]] std::span<const std::uint32_t> offsets() const { return offsets_; }
  // The record of `fields` fields built, valid until the next Clear().
  [[nodiscard]] DecodedRecord Result(std::size_t undecodable, std::size_t fields,
                                     bool short_record) const {
    DecodedRecord record{text_, offsets_, undecodable, fields, short_record, {}, {}};
    record.absent = absent_;
    return record;
  }

 private:
  std::u16string text_;
  std::vector<std::uint32_t> offsets_;
  std::vector<std::uint8_t> absent_;
};

}  // namespace vesmer
