#include "numbers/number_decoders.h"

#include <gtest/gtest.h>

#include <string>

namespace vesmer {
namespace {

using namespace std::string_literals;

// The canonical text of what a decoder gave, or "invalid".
template <typename Decode>
std::string Text(Decode decode) {
  Decimal value = Decimal::FromInteger(4242);  // never the answer of a case below
  if (!decode(value)) {
    EXPECT_EQ(value, Decimal::FromInteger(4242)) << "an invalid field changed the value";
    return "invalid";
  }
  return value.ToString();
}

std::string Zoned(const std::string& bytes, DigitFamily family, NumberSign sign = NumberSign::kAny,
                  int places = 0) {
  return Text([&](Decimal& v) { return DecodeZoned(bytes, family, sign, places, v); });
}
std::string Ebcdic(const std::string& bytes, NumberSign sign = NumberSign::kAny, int places = 0) {
  return Zoned(bytes, DigitFamily::kEbcdic, sign, places);
}
std::string Ascii(const std::string& bytes, NumberSign sign = NumberSign::kAny, int places = 0) {
  return Zoned(bytes, DigitFamily::kAscii, sign, places);
}
std::string Packed(const std::string& bytes, NumberSign sign = NumberSign::kAny, int places = 0) {
  return Text([&](Decimal& v) { return DecodePacked(bytes, sign, places, v); });
}
std::string Binary(const std::string& bytes, bool is_signed, int places = 0) {
  return Text([&](Decimal& v) { return DecodeBinary(bytes, is_signed, places, v); });
}
std::string Parsed(const std::string& text) {
  return Text([&](Decimal& v) { return ParseDecimalText(text, v); });
}
std::string Parsed16(const std::u16string& text) {
  return Text([&](Decimal& v) { return ParseDecimalText(text, v); });
}

TEST(ZonedTest, EbcdicSignInTheLastZone) {
  EXPECT_EQ(Ebcdic("\xF1\xF2\xF3"), "123");
  EXPECT_EQ(Ebcdic("\xF1\xF2\xC3"), "123");
  EXPECT_EQ(Ebcdic("\xF1\xF2\xD3"), "-123");
  EXPECT_EQ(Ebcdic("\xF1\xF2\xD3", NumberSign::kTrailing, 2), "-1.23");
  EXPECT_EQ(Ebcdic("\xF0\xF0\xF0\xF1\xF2\xF3\xF4\xC5", NumberSign::kTrailing, 2), "123.45");
  EXPECT_EQ(Ebcdic("\xF0\xD0"), "0");  // -0 is 0
  EXPECT_EQ(Ebcdic("\xD9"), "-9");
}

TEST(ZonedTest, EbcdicSignLeadingAndSeparate) {
  EXPECT_EQ(Ebcdic("\xD1\xF2\xF3", NumberSign::kLeading), "-123");
  EXPECT_EQ(Ebcdic("\xD1\xF2\xF3"), "-123");  // kAny takes a first zone too
  EXPECT_EQ(Ebcdic("\xC1\xF2\xF3", NumberSign::kLeading), "123");
  EXPECT_EQ(Ebcdic("\x60\xF1\xF2", NumberSign::kLeadingSeparate), "-12");
  EXPECT_EQ(Ebcdic("\x4E\xF1\xF2", NumberSign::kLeadingSeparate), "12");
  EXPECT_EQ(Ebcdic("\xF1\xF2\x60", NumberSign::kTrailingSeparate), "-12");
  EXPECT_EQ(Ebcdic("\xF1\xF2\x4E"), "12");
  EXPECT_EQ(Ebcdic("\x60\xF1\xF2\xF5", NumberSign::kAny, 1), "-12.5");
}

TEST(ZonedTest, AsciiZonesAndOverpunchLetters) {
  EXPECT_EQ(Ascii("123"), "123");
  EXPECT_EQ(Ascii("12s"), "-123");  // 0x73: ASCII COBOL's negative 3
  EXPECT_EQ(Ascii("12p"), "-120");
  EXPECT_EQ(Ascii("12C"), "123");
  EXPECT_EQ(Ascii("12L"), "-123");
  EXPECT_EQ(Ascii("12{"), "120");
  EXPECT_EQ(Ascii("12}"), "-120");
  EXPECT_EQ(Ascii("12I"), "129");
  EXPECT_EQ(Ascii("12R"), "-129");
  EXPECT_EQ(Ascii("12A"), "121");
  EXPECT_EQ(Ascii("12J"), "-121");
  EXPECT_EQ(Ascii("J23", NumberSign::kLeading), "-123");
  EXPECT_EQ(Ascii("+0123"), "123");
  EXPECT_EQ(Ascii("0123-"), "-123");
  EXPECT_EQ(Ascii("0123-", NumberSign::kTrailingSeparate, 3), "-0.123");
  // "00012345" with two places is 123.45.
  EXPECT_EQ(Ascii("00012345", NumberSign::kAny, 2), "123.45");
}

TEST(ZonedTest, LeadingBlanksAreNothingOtherBlanksAreInvalid) {
  EXPECT_EQ(Ascii("  12"), "12");
  EXPECT_EQ(Ascii("  -12"), "-12");
  EXPECT_EQ(Ebcdic("\x40\x40\xF1\xC2"), "12");
  EXPECT_EQ(Ascii("    "), "invalid");
  EXPECT_EQ(Ebcdic("\x40\x40"), "invalid");
  EXPECT_EQ(Ascii("1 2"), "invalid");
  EXPECT_EQ(Ascii("12 "), "invalid");
  EXPECT_EQ(Ascii("- 12"), "invalid");
  EXPECT_EQ(Ascii(""), "invalid");
  // A space of the other family is no blank.
  EXPECT_EQ(Ebcdic("\x20\xF1"), "invalid");
  EXPECT_EQ(Ascii("\x40\x31"), "invalid");
}

TEST(ZonedTest, BadZonesAndDigitsAreInvalid) {
  EXPECT_EQ(Ebcdic("\xF1\xFA\xF3"), "invalid");  // digit half above 9
  EXPECT_EQ(Ebcdic("\xF1\xF2\xE3"), "invalid");  // zone E
  EXPECT_EQ(Ebcdic("\xF1\xF2\xA3"), "invalid");  // zone A
  EXPECT_EQ(Ebcdic("\xF1\xC2\xF3"), "invalid");  // a sign zone in the middle
  EXPECT_EQ(Ebcdic("\xC1\xF2\xD3"), "invalid");  // signs at both ends
  EXPECT_EQ(Ebcdic("\x31\x32"), "invalid");      // ASCII digits in an EBCDIC record
  EXPECT_EQ(Ascii("\xF1\xF2"), "invalid");       // and the other way round
  EXPECT_EQ(Ascii("12a"), "invalid");
  EXPECT_EQ(Ascii("12S"), "invalid");  // past R: no overpunch letter
  EXPECT_EQ(Ascii("1C3"), "invalid");
  EXPECT_EQ(Ascii("+12-"), "invalid");
  EXPECT_EQ(Ascii("-"), "invalid");
  EXPECT_EQ(Ascii("-12L"), "invalid");  // a separate sign and an overpunch
  EXPECT_EQ(Ascii("12L", NumberSign::kLeading), "invalid");
  EXPECT_EQ(Ascii("123", NumberSign::kLeadingSeparate), "invalid");
  EXPECT_EQ(Ascii("123", NumberSign::kTrailingSeparate), "invalid");
  EXPECT_EQ(Ascii("+123", NumberSign::kTrailingSeparate), "invalid");
  EXPECT_EQ(Ascii("+123", NumberSign::kTrailing), "invalid");
}

TEST(ZonedTest, UnsignedTakesNoNegativeSign) {
  EXPECT_EQ(Ebcdic("\xF1\xF2", NumberSign::kUnsigned), "12");
  EXPECT_EQ(Ebcdic("\xF1\xC2", NumberSign::kUnsigned), "12");
  EXPECT_EQ(Ebcdic("\xF1\xD2", NumberSign::kUnsigned), "invalid");
  EXPECT_EQ(Ascii("12r", NumberSign::kUnsigned), "invalid");
  EXPECT_EQ(Ascii("-12", NumberSign::kUnsigned), "invalid");
  EXPECT_EQ(Ascii("1B2", NumberSign::kUnsigned), "invalid");
}

TEST(ZonedTest, ThirtyEightSignificantDigitsAtMost) {
  EXPECT_EQ(Ascii(std::string(38, '9')), std::string(38, '9'));
  EXPECT_EQ(Ascii(std::string(37, '9') + "R"), "-" + std::string(38, '9'));
  EXPECT_EQ(Ascii(std::string(39, '9')), "invalid");
  EXPECT_EQ(Ascii(std::string(50, '0') + "1"), "1");
  EXPECT_EQ(Ascii("1" + std::string(37, '0'), NumberSign::kAny, 38), "0.1");
  EXPECT_EQ(Ascii("1", NumberSign::kAny, 39), "invalid");
}

TEST(PackedTest, SignNibbles) {
  EXPECT_EQ(Packed("\x12\x34\x5C"), "12345");
  EXPECT_EQ(Packed("\x12\x34\x5D"), "-12345");
  EXPECT_EQ(Packed("\x12\x34\x5F"), "12345");
  EXPECT_EQ(Packed("\x12\x34\x5A"), "12345");
  EXPECT_EQ(Packed("\x12\x34\x5E"), "12345");
  EXPECT_EQ(Packed("\x12\x34\x5B"), "-12345");
  EXPECT_EQ(Packed("\x00\x0D"s), "0");  // -0 is 0
  EXPECT_EQ(Packed("\x01\x23\x4C", NumberSign::kAny, 2), "12.34");
  EXPECT_EQ(Packed("\x9D", NumberSign::kAny, 1), "-0.9");
  EXPECT_EQ(Packed("\x12\x3F", NumberSign::kUnsigned), "123");
  EXPECT_EQ(Packed("\x12\x3D", NumberSign::kUnsigned), "invalid");
}

TEST(PackedTest, BadNibblesAreInvalid) {
  EXPECT_EQ(Packed("\x1A\x34\x5C"), "invalid");  // a digit half above 9
  EXPECT_EQ(Packed("\xB2\x34\x5C"), "invalid");
  EXPECT_EQ(Packed("\x12\x34\xAC"), "invalid");  // the last byte's digit
  for (const char sign : "\x00\x01\x05\x09"s) {
    EXPECT_EQ(Packed("\x12\x34"s + static_cast<char>(0x50 | sign)), "invalid") << int(sign);
  }
  EXPECT_EQ(Packed(""), "invalid");
  EXPECT_EQ(Packed("\x40\x40\x40"), "invalid");  // blanks are no packed number
}

TEST(PackedTest, LargestOfSixteenBytes) {
  const std::string nines(15, '\x99');
  EXPECT_EQ(Packed(nines + "\x9C"), std::string(31, '9'));
  EXPECT_EQ(Packed(nines + "\x9D"), "-" + std::string(31, '9'));
  EXPECT_EQ(Packed(nines + "\x9D", NumberSign::kAny, 31), "-0." + std::string(31, '9'));
  EXPECT_EQ(Packed(std::string(18, '\x99') + "\x9C"), std::string(37, '9'));
  EXPECT_EQ(Packed(std::string(19, '\x99') + "\x9C"), "invalid");  // 39 digits
  EXPECT_EQ(Packed(std::string(19, '\x00') + "\x1C"), "1");
}

TEST(BinaryTest, EveryWidthSignedAndUnsigned) {
  EXPECT_EQ(Binary("\x00\x01"s, true), "1");
  EXPECT_EQ(Binary("\xFF\xFF", true), "-1");
  EXPECT_EQ(Binary("\xFF\xFF", false), "65535");
  EXPECT_EQ(Binary("\x80\x00"s, true), "-32768");
  EXPECT_EQ(Binary("\x7F\xFF", true), "32767");
  EXPECT_EQ(Binary("\x80\x00\x00\x00"s, true), "-2147483648");
  EXPECT_EQ(Binary("\x7F\xFF\xFF\xFF", true), "2147483647");
  EXPECT_EQ(Binary("\xFF\xFF\xFF\xFF", false), "4294967295");
  EXPECT_EQ(Binary("\xFF\xFF\xFF\xFE", true), "-2");
  EXPECT_EQ(Binary("\x80\x00\x00\x00\x00\x00\x00\x00"s, true), "-9223372036854775808");
  EXPECT_EQ(Binary("\x7F\xFF\xFF\xFF\xFF\xFF\xFF\xFF", true), "9223372036854775807");
  EXPECT_EQ(Binary("\xFF\xFF\xFF\xFF\xFF\xFF\xFF\xFF", false), "18446744073709551615");
  EXPECT_EQ(Binary("\x00\x00\x01\x00"s, false), "256");
  EXPECT_EQ(Binary("\x30\x39", true, 2), "123.45");
  EXPECT_EQ(Binary("\xCF\xC7", true, 2), "-123.45");
  EXPECT_EQ(Binary("\x00\x00"s, true, 3), "0");
}

TEST(BinaryTest, OtherWidthsAreInvalid) {
  for (const std::size_t n : {0, 1, 3, 5, 6, 7, 9, 16}) {
    EXPECT_EQ(Binary(std::string(n, '\x01'), true), "invalid") << n;
    EXPECT_EQ(Binary(std::string(n, '\x01'), false), "invalid") << n;
  }
}

TEST(DecimalTextTest, NumbersAsWritten) {
  EXPECT_EQ(Parsed("123.45"), "123.45");
  EXPECT_EQ(Parsed(" 123.450 "), "123.45");
  EXPECT_EQ(Parsed("\t-0.50"), "-0.5");
  EXPECT_EQ(Parsed("12-"), "-12");
  EXPECT_EQ(Parsed("12+"), "12");
  EXPECT_EQ(Parsed("+.5"), "0.5");
  EXPECT_EQ(Parsed("5."), "5");
  EXPECT_EQ(Parsed("-0"), "0");
  EXPECT_EQ(Parsed("000"), "0");
  EXPECT_EQ(Parsed("\u3000１\u3000"), "invalid");  // full-width digits are text
  EXPECT_EQ(Parsed("\u300012\u3000"), "12");
  EXPECT_EQ(Parsed16(u"\u3000-12.5 "), "-12.5");
  EXPECT_EQ(Parsed16(u"1,234"), "invalid");
}

TEST(DecimalTextTest, WhatIsNoNumber) {
  for (const char* text : {"", " ", ".", "+", "-", "+-1", "1-+", "-1-", "1,234", "1.2.3", "1e5",
                           "- 1", "1 2", "0x10", "１２", "12円", "--1"}) {
    EXPECT_EQ(Parsed(text), "invalid") << text;
  }
}

TEST(DecimalTextTest, DigitsAndPlacesAtMost38) {
  EXPECT_EQ(Parsed(std::string(38, '9')), std::string(38, '9'));
  EXPECT_EQ(Parsed(std::string(39, '9')), "invalid");
  EXPECT_EQ(Parsed("0." + std::string(37, '0') + "1"), "0." + std::string(37, '0') + "1");
  EXPECT_EQ(Parsed("0." + std::string(38, '0') + "1"), "invalid");
  EXPECT_EQ(Parsed("1." + std::string(60, '0')), "1");  // trailing zeros change nothing
  EXPECT_EQ(Parsed(std::string(60, '0') + "7.5"), "7.5");
}

TEST(NumbersAcrossTypesTest, OneValueInEveryForm) {
  // 123.45 as zoned (ASCII and EBCDIC), packed, binary and text compares equal by value.
  Decimal zoned_ascii, zoned_ebcdic, packed, binary, text, wider;
  ASSERT_TRUE(DecodeZoned("00012345", DigitFamily::kAscii, NumberSign::kAny, 2, zoned_ascii));
  ASSERT_TRUE(DecodeZoned("\xF1\xF2\xF3\xF4\xC5", DigitFamily::kEbcdic, NumberSign::kTrailing, 2,
                          zoned_ebcdic));
  ASSERT_TRUE(DecodePacked("\x12\x34\x5C", NumberSign::kAny, 2, packed));
  ASSERT_TRUE(DecodeBinary("\x00\x00\x30\x39"s, true, 2, binary));
  ASSERT_TRUE(ParseDecimalText(" 123.45", text));
  ASSERT_TRUE(DecodePacked("\x00\x12\x34\x50\x0C"s, NumberSign::kAny, 4, wider));
  for (const Decimal& v : {zoned_ebcdic, packed, binary, text, wider}) EXPECT_EQ(v, zoned_ascii);
}

TEST(NumbersAcrossTypesTest, DecodeNumberTakesTheFormatsDecoder) {
  const struct {
    NumberFormat format;
    std::string bytes;
    std::string expected;
  } cases[] = {
      {{NumberType::kZoned, NumberSign::kAny, DigitFamily::kEbcdic, 1}, "\xF1\xD2", "-1.2"},
      {{NumberType::kZoned, NumberSign::kAny, DigitFamily::kAscii, 1}, "\xF1\xD2", "invalid"},
      {{NumberType::kPacked, NumberSign::kAny, DigitFamily::kAscii, 0}, "\x12\x3D", "-123"},
      {{NumberType::kBinary, NumberSign::kAny, DigitFamily::kAscii, 0}, "\xFF\xFE", "-2"},
      {{NumberType::kUnsignedBinary, NumberSign::kAny, DigitFamily::kAscii, 0},
       "\xFF\xFE",
       "65534"},
      {{NumberType::kText, NumberSign::kAny, DigitFamily::kAscii, 2}, " 12.5 ", "12.5"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Text([&](Decimal& v) { return DecodeNumber(c.format, c.bytes, v); }), c.expected)
        << c.expected;
  }
}

}  // namespace
}  // namespace vesmer
