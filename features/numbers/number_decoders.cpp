#include "numbers/number_decoders.h"

#include <array>

#include "decimal_internal.h"

namespace vesmer {
namespace {

using decimal_internal::kPowers;

constexpr std::uint8_t kNotADigit = 0xFF;

// A byte that may carry a sign in its zone: its digit in the low bits, and flags.
constexpr std::uint8_t kSignNegative = 0x10;
constexpr std::uint8_t kSignZone = 0x20;  // a zone that says the sign, not a plain digit's

struct FamilyTables {
  std::array<std::uint8_t, 256> digit;         // the digit of a plain digit byte, else kNotADigit
  std::array<std::uint8_t, 256> signed_digit;  // digit | flags, or kNotADigit
  unsigned char blank, plus, minus;
};

constexpr FamilyTables MakeAscii() {
  FamilyTables t{};
  t.digit.fill(kNotADigit);
  t.signed_digit.fill(kNotADigit);
  for (std::uint8_t d = 0; d < 10; ++d) {
    t.digit[0x30 + d] = d;
    t.signed_digit[0x30 + d] = d;
    t.signed_digit[0x70 + d] = d | kSignNegative | kSignZone;  // ASCII COBOL's negative zone
  }
  // Host overpunch letters, as host data converted to ASCII holds them.
  t.signed_digit['{'] = 0 | kSignZone;
  t.signed_digit['}'] = 0 | kSignNegative | kSignZone;
  for (std::uint8_t d = 1; d < 10; ++d) {
    t.signed_digit['A' + d - 1] = d | kSignZone;
    t.signed_digit['J' + d - 1] = d | kSignNegative | kSignZone;
  }
  t.blank = 0x20;
  t.plus = '+';
  t.minus = '-';
  return t;
}

constexpr FamilyTables MakeEbcdic() {
  FamilyTables t{};
  t.digit.fill(kNotADigit);
  t.signed_digit.fill(kNotADigit);
  for (std::uint8_t d = 0; d < 10; ++d) {
    t.digit[0xF0 + d] = d;
    t.signed_digit[0xF0 + d] = d;
    t.signed_digit[0xC0 + d] = d | kSignZone;
    t.signed_digit[0xD0 + d] = d | kSignNegative | kSignZone;
  }
  t.blank = 0x40;
  t.plus = 0x4E;
  t.minus = 0x60;
  return t;
}

constexpr FamilyTables kAsciiTables = MakeAscii();
constexpr FamilyTables kEbcdicTables = MakeEbcdic();

// Both halves of a packed byte as two digits (0-99), or kNotADigit.
constexpr std::array<std::uint8_t, 256> MakePackedPairs() {
  std::array<std::uint8_t, 256> t{};
  t.fill(kNotADigit);
  for (int hi = 0; hi < 10; ++hi) {
    for (int lo = 0; lo < 10; ++lo) t[hi * 16 + lo] = static_cast<std::uint8_t>(hi * 10 + lo);
  }
  return t;
}
constexpr auto kPackedPairs = MakePackedPairs();

// A packed sign half: 0 positive, kSignNegative negative, kNotADigit invalid.
constexpr std::array<std::uint8_t, 16> kPackedSigns = {
    kNotADigit,
    kNotADigit,
    kNotADigit,
    kNotADigit,
    kNotADigit,
    kNotADigit,
    kNotADigit,
    kNotADigit,
    kNotADigit,
    kNotADigit,
    0,              // A
    kSignNegative,  // B
    0,              // C
    kSignNegative,  // D
    0,              // E
    0,              // F
};

// Gathers the digits of a number, most significant first, leading zeros left out: in 64 bits
// up to 19 digits, the common case, in 128 bits beyond.
class Digits {
 public:
  void Add(unsigned digit) {
    if (significant_ == 0 && digit == 0) return;
    ++significant_;
    low_ = low_ * 10 + digit;
    if (++low_count_ == 19) {
      high_ = high_ * kPowers[19] + low_;
      low_ = 0;
      low_count_ = 0;
    }
  }
  // The number, when it has at most 38 significant digits.
  [[nodiscard]] bool Finish(DecimalCoefficient& coefficient) const {
    if (significant_ > Decimal::kMaxDigits) return false;
    coefficient = high_ == 0 ? DecimalCoefficient{low_} : high_ * kPowers[low_count_] + low_;
    return true;
  }

 private:
  DecimalCoefficient high_ = 0;
  std::uint64_t low_ = 0;
  int low_count_ = 0;
  int significant_ = 0;
};

bool Make(bool negative, const Digits& digits, int places, Decimal& value) {
  DecimalCoefficient coefficient = 0;
  return digits.Finish(coefficient) && Decimal::FromParts(negative, coefficient, places, value);
}

}  // namespace

bool DecodeZoned(std::string_view bytes, DigitFamily family, NumberSign sign, int places,
                 Decimal& value) {
  const FamilyTables& t = family == DigitFamily::kEbcdic ? kEbcdicTables : kAsciiTables;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* end = p + bytes.size();
  while (p != end && *p == t.blank) ++p;
  if (p == end) return false;

  bool negative = false;
  // A separate sign, and then digits only.
  const bool separate_allowed = sign == NumberSign::kAny;
  bool separate = false;
  if ((sign == NumberSign::kLeadingSeparate || separate_allowed) &&
      (*p == t.plus || *p == t.minus)) {
    negative = *p++ == t.minus;
    separate = true;
  } else if ((sign == NumberSign::kTrailingSeparate || separate_allowed) &&
             (end[-1] == t.plus || end[-1] == t.minus)) {
    negative = *--end == t.minus;
    separate = true;
  } else if (sign == NumberSign::kLeadingSeparate || sign == NumberSign::kTrailingSeparate) {
    return false;
  }
  if (p == end) return false;

  // Which byte carries the sign in its zone, if any.
  const unsigned char* zoned = nullptr;
  if (!separate) {
    switch (sign) {
      case NumberSign::kUnsigned:
      case NumberSign::kTrailing:
        zoned = end - 1;
        break;
      case NumberSign::kLeading:
        zoned = p;
        break;
      case NumberSign::kAny:
        if (t.signed_digit[end[-1]] != kNotADigit && (t.signed_digit[end[-1]] & kSignZone)) {
          zoned = end - 1;
        } else if (t.signed_digit[*p] != kNotADigit && (t.signed_digit[*p] & kSignZone)) {
          zoned = p;
        }
        break;
      case NumberSign::kLeadingSeparate:
      case NumberSign::kTrailingSeparate:
        break;
    }
  }

  Digits digits;
  for (; p != end; ++p) {
    std::uint8_t d = t.digit[*p];
    if (p == zoned) {
      d = t.signed_digit[*p];
      if (d == kNotADigit) return false;
      negative = (d & kSignNegative) != 0;
      d &= 0x0F;
    } else if (d == kNotADigit) {
      return false;
    }
    digits.Add(d);
  }
  if (negative && sign == NumberSign::kUnsigned) return false;
  return Make(negative, digits, places, value);
}

bool DecodePacked(std::string_view bytes, NumberSign sign, int places, Decimal& value) {
  if (bytes.empty()) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
  const unsigned char* last = p + bytes.size() - 1;
  Digits digits;
  for (; p != last; ++p) {
    const std::uint8_t pair = kPackedPairs[*p];
    if (pair == kNotADigit) return false;
    digits.Add(pair / 10u);
    digits.Add(pair % 10u);
  }
  const unsigned high = *last >> 4;
  const std::uint8_t sign_half = kPackedSigns[*last & 0x0F];
  if (high > 9 || sign_half == kNotADigit) return false;
  digits.Add(high);
  const bool negative = sign_half == kSignNegative;
  if (negative && sign == NumberSign::kUnsigned) return false;
  return Make(negative, digits, places, value);
}

bool DecodeBinary(std::string_view bytes, bool is_signed, int places, Decimal& value) {
  const std::size_t n = bytes.size();
  if (n != 2 && n != 4 && n != 8) return false;
  std::uint64_t bits = 0;
  for (const char c : bytes) bits = bits << 8 | static_cast<unsigned char>(c);
  const unsigned width = static_cast<unsigned>(n) * 8;
  const bool negative = is_signed && ((bits >> (width - 1)) & 1) != 0;
  std::uint64_t magnitude = bits;
  if (negative) {
    // Two's complement within the width: the magnitude is 2^width - bits.
    const std::uint64_t mask = width == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << width) - 1;
    magnitude = (~bits + 1) & mask;
  }
  return Decimal::FromParts(negative, magnitude, places, value);
}

namespace {

// Decimal text of either code unit type; `wide_blank(text, front)` gives the units of a
// full-width space at the text's front (or back), 0 when there is none.
template <typename Unit, typename WideBlank>
bool ParseText(std::basic_string_view<Unit> text, WideBlank wide_blank, Decimal& value) {
  auto is_blank = [](Unit c) { return c == Unit(' ') || c == Unit('\t'); };
  for (;;) {
    if (!text.empty() && is_blank(text.front())) {
      text.remove_prefix(1);
    } else if (const std::size_t n = wide_blank(text, true); n != 0) {
      text.remove_prefix(n);
    } else {
      break;
    }
  }
  for (;;) {
    if (!text.empty() && is_blank(text.back())) {
      text.remove_suffix(1);
    } else if (const std::size_t n = wide_blank(text, false); n != 0) {
      text.remove_suffix(n);
    } else {
      break;
    }
  }
  if (text.empty()) return false;
  bool negative = false;
  if (text.front() == Unit('+') || text.front() == Unit('-')) {
    negative = text.front() == Unit('-');
    text.remove_prefix(1);
  } else if (text.back() == Unit('+') || text.back() == Unit('-')) {
    negative = text.back() == Unit('-');
    text.remove_suffix(1);
  }
  Digits digits;
  bool any_digit = false, point = false;
  int places = 0;
  int zeros = 0;  // zeros after the point not yet added: trailing ones change no value
  for (const Unit c : text) {
    if (c == Unit('.')) {
      if (point) return false;
      point = true;
      continue;
    }
    if (c < Unit('0') || c > Unit('9')) return false;
    any_digit = true;
    const auto d = static_cast<unsigned>(c - Unit('0'));
    if (!point) {
      digits.Add(d);
    } else if (d == 0) {
      ++zeros;
    } else {
      for (; zeros > 0; --zeros) digits.Add(0);
      digits.Add(d);
      if (places > Decimal::kMaxScale) return false;
    }
    if (point) ++places;
  }
  if (!any_digit) return false;
  places -= zeros;
  return places <= Decimal::kMaxScale && Make(negative, digits, places, value);
}

}  // namespace

bool ParseDecimalText(std::string_view text, Decimal& value) {
  constexpr std::string_view kWide = "\xE3\x80\x80";  // U+3000 in UTF-8
  return ParseText(
      text,
      [&](std::string_view t, bool front) -> std::size_t {
        return (front ? t.starts_with(kWide) : t.ends_with(kWide)) ? kWide.size() : 0;
      },
      value);
}

bool ParseDecimalText(std::u16string_view text, Decimal& value) {
  return ParseText(
      text,
      [](std::u16string_view t, bool front) -> std::size_t {
        return !t.empty() && (front ? t.front() : t.back()) == u'\u3000' ? 1 : 0;
      },
      value);
}

bool DecodeNumber(const NumberFormat& format, std::string_view bytes, Decimal& value) {
  switch (format.type) {
    case NumberType::kZoned:
      if (format.blank_when_zero && !bytes.empty() &&
          bytes.find_first_not_of(format.family == DigitFamily::kEbcdic ? '\x40' : ' ') ==
              std::string_view::npos) {
        value = Decimal();
        return true;
      }
      return DecodeZoned(bytes, format.family, format.sign, format.places, value);
    case NumberType::kPacked:
      return DecodePacked(bytes, format.sign, format.places, value);
    case NumberType::kBinary:
      return DecodeBinary(bytes, true, format.places, value);
    case NumberType::kUnsignedBinary:
      return DecodeBinary(bytes, false, format.places, value);
    case NumberType::kText:
      return ParseDecimalText(bytes, value);
  }
  return false;
}

}  // namespace vesmer
