// The number decoders on arbitrary bytes: no crash; a value decoded is shown in text that parses
// back to the same value; and the zoned, packed, binary and text forms of a value built from the
// input all decode to that value.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "numbers/number_decoders.h"
#include "platform/unicode.h"

namespace {

using vesmer::Decimal;
using vesmer::DecimalCoefficient;
using vesmer::DigitFamily;
using vesmer::NumberSign;

void Check(bool condition) {
  if (!condition) std::abort();
}

// A valid value's canonical text parses back to it, as UTF-8 and as UTF-16.
void CheckText(const Decimal& value) {
  char text[Decimal::kMaxTextSize];
  const std::size_t n = value.ToChars(text);
  Check(n >= 1 && n <= Decimal::kMaxTextSize);
  const std::string_view shown(text, n);
  Check(shown == value.ToString());
  Decimal back;
  Check(vesmer::ParseDecimalText(shown, back) && back == value);
  Check(!(back < value) && !(value < back));
  Decimal back16;
  Check(vesmer::ParseDecimalText(vesmer::Utf8ToUtf16(shown), back16) && back16 == value);
}

void DecodeEverything(std::string_view bytes, int places) {
  Decimal value;
  for (const DigitFamily family : {DigitFamily::kAscii, DigitFamily::kEbcdic}) {
    for (const NumberSign sign :
         {NumberSign::kAny, NumberSign::kUnsigned, NumberSign::kTrailing, NumberSign::kLeading,
          NumberSign::kTrailingSeparate, NumberSign::kLeadingSeparate}) {
      if (vesmer::DecodeZoned(bytes, family, sign, places, value)) {
        CheckText(value);
        if (sign == NumberSign::kUnsigned) Check(!value.negative());
      }
    }
  }
  if (vesmer::DecodePacked(bytes, NumberSign::kAny, places, value)) CheckText(value);
  if (vesmer::DecodePacked(bytes, NumberSign::kUnsigned, places, value)) {
    CheckText(value);
    Check(!value.negative());
  }
  for (const bool is_signed : {true, false}) {
    if (vesmer::DecodeBinary(bytes, is_signed, places, value)) CheckText(value);
  }
  if (vesmer::ParseDecimalText(bytes, value)) CheckText(value);
}

// A value from the input: up to 31 digits, a sign and places; then its encodings.
void CheckEncodings(std::string_view input) {
  if (input.size() < 2) return;
  const bool negative = (input[0] & 1) != 0;
  const int places = static_cast<unsigned char>(input[0]) >> 1 & 0x1F;  // 0..31
  std::string digits;
  for (const char c : input.substr(1, 31)) digits += static_cast<char>('0' + (c & 0x7F) % 10);
  if (static_cast<int>(digits.size()) < places) return;
  DecimalCoefficient coefficient = 0;
  for (const char d : digits) coefficient = coefficient * 10 + static_cast<unsigned>(d - '0');
  Decimal expected;
  Check(Decimal::FromParts(negative, coefficient, places, expected));
  CheckText(expected);

  Decimal got;
  // Packed: a leading zero digit when the count is even, then the sign half.
  std::string nibbles = (digits.size() % 2 == 0 ? "0" : "") + digits;
  std::string packed;
  for (std::size_t i = 0; i + 1 < nibbles.size(); i += 2) {
    packed += static_cast<char>((nibbles[i] - '0') << 4 | (nibbles[i + 1] - '0'));
  }
  packed += static_cast<char>((nibbles.back() - '0') << 4 | (negative ? 0xD : 0xC));
  Check(vesmer::DecodePacked(packed, NumberSign::kAny, places, got) && got == expected);

  // Zoned, EBCDIC: the sign in the last zone.
  std::string ebcdic;
  for (const char d : digits) ebcdic += static_cast<char>(0xF0 | (d - '0'));
  ebcdic.back() = static_cast<char>((negative ? 0xD0 : 0xC0) | (digits.back() - '0'));
  Check(vesmer::DecodeZoned(ebcdic, DigitFamily::kEbcdic, NumberSign::kTrailing, places, got) &&
        got == expected);
  Check(vesmer::DecodeZoned(ebcdic, DigitFamily::kEbcdic, NumberSign::kAny, places, got) &&
        got == expected);
  // Zoned, ASCII: a separate sign in front, and the overpunch letters behind.
  Check(vesmer::DecodeZoned((negative ? "-" : "+") + digits, DigitFamily::kAscii,
                            NumberSign::kLeadingSeparate, places, got) &&
        got == expected);
  std::string letters = digits;
  const int last = digits.back() - '0';
  letters.back() = negative ? (last == 0 ? '}' : static_cast<char>('J' + last - 1))
                            : (last == 0 ? '{' : static_cast<char>('A' + last - 1));
  Check(vesmer::DecodeZoned(letters, DigitFamily::kAscii, NumberSign::kAny, places, got) &&
        got == expected);

  // Binary, where the coefficient fits 63 bits.
  if (coefficient < (DecimalCoefficient{1} << 63)) {
    const auto magnitude = static_cast<std::uint64_t>(coefficient);
    const std::uint64_t bits = negative ? ~magnitude + 1 : magnitude;
    std::string binary;
    for (int shift = 56; shift >= 0; shift -= 8) {
      binary += static_cast<char>(bits >> shift & 0xFF);
    }
    Check(vesmer::DecodeBinary(binary, true, places, got) && got == expected);
  }

  // Text with the point written where the places say.
  std::string text = digits;
  if (places > 0) text.insert(text.size() - static_cast<std::size_t>(places), ".");
  if (negative) text += '-';
  Check(vesmer::ParseDecimalText(" " + text + " ", got) && got == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (input.empty()) return 0;
  const int places = static_cast<unsigned char>(input[0]) % 40;  // 38 and 39 are out of range
  DecodeEverything(input.substr(1), places);
  CheckEncodings(input);
  return 0;
}
