// The numbers in a record's bytes: zoned decimal (DISPLAY), packed decimal (COMP-3), big-endian
// binary (COMP, COMP-4, COMP-5), and decimal text such as a CSV column holds, each decoded into
// an exact Decimal. They run once per field per record: none allocates, and each is one pass
// over the field's bytes through small tables.
#pragma once

#include <string_view>

#include "numbers/decimal.h"
#include "numbers/number_format.h"

namespace vesmer {

// Each decoder takes a field's bytes and its implied decimal places (PIC V, 小数桁: `places`
// 0..Decimal::kMaxScale), stores the value in `value` and returns true; or returns false, with
// `value` left as it was, when the bytes are not a number of that type. A field that is not a
// number is never taken as zero.

// Zoned decimal. Every byte but the one carrying the sign is a digit of `family`; the sign
// byte's low half is its digit and its zone the sign:
//   EBCDIC: C or F positive, D negative (0xC1 is +1, 0xD5 is -5);
//   ASCII:  0x3X positive and 0x7X negative (ASCII COBOL), or the overpunch letters of host data
//           converted to ASCII: '{' and A-I for +0..+9, '}' and J-R for -0..-9.
// With kAny a sign in the first byte's zone is taken only when the last byte carries none, and
// a field with signs at both ends is invalid. Blanks (0x20, or 0x40 in EBCDIC) are allowed
// before the first digit or separate sign and read as nothing, as a number written right-aligned
// leaves them; a field of blanks only, a blank among the digits or behind them, or no digit at
// all is invalid. More than 38 significant digits are invalid.
[[nodiscard]] bool DecodeZoned(std::string_view bytes, DigitFamily family, NumberSign sign,
                               int places, Decimal& value);

// Packed decimal (COMP-3): two digits a byte, the last byte's low half the sign: C, F, A or E
// positive, D or B negative. A digit half above 9 or a sign half of 0-9 is invalid, and so is a
// negative sign when `sign` is kUnsigned; so are more than 38 significant digits (a field of up
// to 19 bytes always fits) and an empty field.
[[nodiscard]] bool DecodePacked(std::string_view bytes, NumberSign sign, int places,
                                Decimal& value);

// Binary, big-endian, of 2, 4 or 8 bytes: two's complement when `is_signed` (COMP, COMP-4,
// BINARY and COMP-5 alike), else unsigned. Every pattern of bits is a number; any other length
// is invalid.
[[nodiscard]] bool DecodeBinary(std::string_view bytes, bool is_signed, int places, Decimal& value);

// Decimal text such as a CSV column or a text field holds, in ASCII, UTF-8 or UTF-16: blanks
// (space, tab, the full-width space U+3000) around it, a sign '+' or '-' in front of or behind
// the digits (not both), half-width digits with at most one '.' ("12.", ".5" and "-0" are
// numbers). No grouping commas, no exponent, no full-width digits (written in a field of width
// 2 each, they are text to be compared as text). More than 38 significant digits or 38 places
// are invalid.
[[nodiscard]] bool ParseDecimalText(std::string_view text, Decimal& value);
[[nodiscard]] bool ParseDecimalText(std::u16string_view text, Decimal& value);

// The decoder for `format`'s type, applied to `bytes`; a zoned field of BLANK WHEN ZERO that holds
// blanks only is 0. kText reads the bytes as ASCII or UTF-8
// text (ParseDecimalText); a field of another code page is to be decoded to text first.
[[nodiscard]] bool DecodeNumber(const NumberFormat& format, std::string_view bytes, Decimal& value);

}  // namespace vesmer
