// How a record's field holds a number: its type, where its sign is, which digits a zoned field
// uses and its implied decimal places. No values here, so that a layout can describe its fields
// without the decoders.
#pragma once

#include <cstdint>

namespace vesmer {

// Whose digits a zoned field holds: the record's code page is ASCII-based (digits 0x30-0x39,
// code page 932 and the like) or EBCDIC (digits 0xF0-0xF9, the IBM host code pages).
enum class DigitFamily : std::uint8_t { kAscii, kEbcdic };

// Where a zoned field keeps its sign; packed fields use only kAny (signed) and kUnsigned.
enum class NumberSign : std::uint8_t {
  // Any of the forms below but kUnsigned: the zone of the last or of the first byte, or a
  // separate '+' or '-' in front or behind. What a layout line's "9" field takes.
  kAny,
  // No sign: every byte a digit, the last one's zone positive at most (C or F in EBCDIC, the
  // letters {ABCDEFGHI} of host data converted to ASCII). A negative sign is invalid.
  kUnsigned,
  kTrailing,          // S9(n): the zone of the last byte (COBOL's default)
  kLeading,           // SIGN LEADING: the zone of the first byte
  kTrailingSeparate,  // SIGN TRAILING SEPARATE: a '+' or '-' byte after the digits
  kLeadingSeparate,   // SIGN LEADING SEPARATE: a '+' or '-' byte before the digits
};

// How a field holds a number (DecodeNumber).
enum class NumberType : std::uint8_t { kZoned, kPacked, kBinary, kUnsignedBinary, kText };

struct NumberFormat {
  NumberType type = NumberType::kZoned;
  NumberSign sign = NumberSign::kAny;        // zoned and packed
  DigitFamily family = DigitFamily::kAscii;  // zoned
  std::uint8_t places = 0;                   // kText takes the places as written, not these
  bool blank_when_zero = false;              // zoned: a field of blanks only is 0
};

}  // namespace vesmer
