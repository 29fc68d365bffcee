// Records of typed fields: fields cut from the bytes before anything is decoded, numbers read as
// values and shown canonically, fields that are no number shown so that they equal only the same
// bytes, and keys of numbers ordered by value.
#include "formats/typed_fields.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/ranges.h"
#include "formats/csv_coding.h"
#include "formats/field_codings.h"
#include "formats/record_format.h"

namespace vesmer {
namespace {

// One record decoded, copied out of its decoder: each field's text, and the flags.
struct Decoded {
  std::vector<std::u16string> fields;
  std::vector<std::uint8_t> numbers;
  std::size_t undecodable = 0;
};

Decoded Decode(RecordDecoder& decoder, std::string_view record, std::size_t prefix = 0) {
  const DecodedRecord d =
      prefix == 0 ? decoder.Decode(record, false) : decoder.DecodePrefix(record, false, prefix);
  Decoded out;
  out.fields.resize(d.fields);
  for (std::size_t u = 0; u < d.text.size(); ++u) out.fields.at(d.offsets[u]).push_back(d.text[u]);
  out.numbers.assign(d.numbers.begin(), d.numbers.end());
  out.undecodable = d.undecodable;
  return out;
}

TypedField Text(std::uint32_t begin, std::uint32_t end) {
  return TypedField{TypedField::Kind::kText, begin, end, {}};
}
TypedField DoubleBytes(std::uint32_t begin, std::uint32_t end) {
  return TypedField{TypedField::Kind::kDoubleByte, begin, end, {}};
}
TypedField Number(std::uint32_t begin, std::uint32_t end, NumberType type, std::uint8_t places = 0,
                  NumberSign sign = NumberSign::kAny) {
  return TypedField{TypedField::Kind::kNumber, begin, end,
                    NumberFormat{type, sign, DigitFamily::kAscii, places}};
}

std::unique_ptr<TypedBytesCoding> Open(const char* code_page, std::vector<TypedField> fields) {
  std::string message;
  std::unique_ptr<TypedBytesCoding> coding =
      TypedBytesCoding::Open(code_page, std::move(fields), false, message);
  EXPECT_NE(coding, nullptr) << message;
  return coding;
}

TEST(TypedBytesCodingTest, NumbersOfEveryTypeAreTheirValuesInCanonicalText) {
  // EBCDIC: "AB", packed -1234.5 (S9(5)V9), zoned +0042.10 with its sign in the last zone, a
  // binary halfword -2, an unsigned one 65535.
  const std::string record =
      "\xC1\xC2"
      "\x12\x34\x5D"
      "\xF0\xF0\xF4\xF2\xF1\xC0"
      "\xFF\xFE"
      "\xFF\xFF";
  const auto coding =
      Open("ibm-037",
           {Text(0, 2), Number(2, 5, NumberType::kPacked, 1), Number(5, 11, NumberType::kZoned, 2),
            Number(11, 13, NumberType::kBinary), Number(13, 15, NumberType::kUnsignedBinary)});
  const auto decoder = coding->NewDecoder();
  const Decoded d = Decode(*decoder, record);
  EXPECT_EQ(d.fields, (std::vector<std::u16string>{u"AB", u"-1234.5", u"42.1", u"-2", u"65535"}));
  EXPECT_EQ(d.numbers, (std::vector<std::uint8_t>{0, 1, 1, 1, 1}));
  EXPECT_EQ(d.undecodable, 0u);
}

TEST(TypedBytesCodingTest, ZonedDigitsAreTheCodePagesOwn) {
  // The same zoned field in ASCII digits: its sign a trailing '-'.
  const auto ascii = Open("cp932", {Number(0, 6, NumberType::kZoned, 2)});
  EXPECT_EQ(Decode(*ascii->NewDecoder(), "01234-").fields[0], u"-12.34");
  const auto ebcdic = Open("ibm-930", {Number(0, 5, NumberType::kZoned, 2)});
  EXPECT_EQ(Decode(*ebcdic->NewDecoder(), "\xF0\xF1\xF2\xF3\xD4").fields[0], u"-12.34");
}

TEST(TypedBytesCodingTest, AFieldThatIsNoNumberShowsItsBytesAndEqualsNoNumber) {
  const auto coding =
      Open("ibm-037", {Number(0, 3, NumberType::kPacked), Number(3, 6, NumberType::kZoned),
                       Number(6, 8, NumberType::kBinary)});
  const auto decoder = coding->NewDecoder();
  // A digit half above 9; zoned blanks only; a record that ends inside the binary field.
  const Decoded d = Decode(*decoder, std::string("\x1A\x00\x0C\x40\x40\x40\x00", 7));
  EXPECT_EQ(d.fields, (std::vector<std::u16string>{u"X'1A000C'", u"X'404040'", u"X'00'"}));
  EXPECT_EQ(d.numbers, (std::vector<std::uint8_t>{1, 1, 1}));
  EXPECT_FALSE(IsNumberText(d.fields[0]));
  EXPECT_TRUE(IsNumberText(u"-12.5"));
  // A record that lacks a field holds none of it: empty, and no number either.
  const Decoded empty = Decode(*decoder, std::string_view("\x00\x0C", 2));
  EXPECT_EQ(empty.fields, (std::vector<std::u16string>{u"X'000C'", u"X''", u"X''"}));
}

TEST(TypedBytesCodingTest, NumberBytesThatAreShiftCodesChangeNoTextAfterThem) {
  // Packed +120 ends in SI (0x0F), a binary 3598 is two SOs (0x0E): read with the record, they
  // would shift the name after them into double bytes.
  const std::string record =
      "\x12\x0F"
      "\x0E\x0E"
      "\xC1\xC2\xC3";
  const auto coding = Open("ibm-930", {Number(0, 2, NumberType::kPacked),
                                       Number(2, 4, NumberType::kBinary), Text(4, 7)});
  const Decoded d = Decode(*coding->NewDecoder(), record);
  EXPECT_EQ(d.fields, (std::vector<std::u16string>{u"120", u"3598", u"ABC"}));
  EXPECT_EQ(d.undecodable, 0u);
}

TEST(TypedBytesCodingTest, DoubleBytesWithoutShiftsReadAsTheHostsPicGField) {
  // 山田 as ibm-930 double bytes, with and without their shifts; a field marked double-byte
  // that holds characters of one byte reads as those.
  const auto coding = Open("ibm-930", {DoubleBytes(0, 4), DoubleBytes(4, 10), DoubleBytes(10, 13)});
  const Decoded d = Decode(*coding->NewDecoder(),
                           "\x45\x65\x45\x63"
                           "\x0E\x45\x65\x45\x63\x0F"
                           "\xE7\xE8\xE9");
  EXPECT_EQ(d.fields, (std::vector<std::u16string>{u"山田", u"山田", u"XYZ"}));
  EXPECT_EQ(d.undecodable, 0u);
}

TEST(TypedBytesCodingTest, BytesTheFieldsLeaveAreAFieldToTheRecordsEnd) {
  const auto coding = Open(
      "cp932", {Text(0, 2), Text(2, TypedField::kToRecordEnd), Number(0, 2, NumberType::kZoned)});
  const auto decoder = coding->NewDecoder();
  EXPECT_EQ(Decode(*decoder, "12abc").fields, (std::vector<std::u16string>{u"12", u"abc", u"12"}));
  EXPECT_EQ(Decode(*decoder, "12").fields, (std::vector<std::u16string>{u"12", u"", u"12"}));
}

TEST(TypedBytesCodingTest, KnownCleanLooksAtTextFieldsOnlyAndAPrefixDecodesTheFirstFields) {
  const auto coding = Open("ibm-930", {Text(0, 2), Number(2, 4, NumberType::kBinary), Text(4, 6)});
  const auto decoder = coding->NewDecoder();
  // Binary bytes that are no character change nothing; a text field's do.
  EXPECT_TRUE(decoder->KnownClean(std::string_view("\xC1\xC2\x0E\xFF\xC3\xC4", 6), false));
  EXPECT_FALSE(decoder->KnownClean(std::string_view("\xC1\xC2\x00\x01\x0E\xC4", 6), false));
  const Decoded first = Decode(*decoder, std::string_view("\xC1\xC2\x00\x07\xC3\xC4", 6), 2);
  EXPECT_EQ(first.fields, (std::vector<std::u16string>{u"AB", u"7", u""}));
  // A prefix leaves the record Decode gave as it was.
  const DecodedRecord whole =
      decoder->Decode(std::string_view("\xC1\xC2\x00\x07\xC3\xC4", 6), false);
  (void)decoder->DecodePrefix(std::string_view("\xC5\xC6\x00\x09\xC7\xC8", 6), false, 1);
  EXPECT_EQ(std::u16string(whole.text), u"AB7CD");
}

TEST(TypedBytesCodingTest, AByteOrderMarkIsLeftOutOnlyWhereTheFileMayHaveOne) {
  const std::string first =
      "\xEF\xBB\xBF\x01"
      "AB";
  std::string message;
  for (const bool mark : {false, true}) {
    const auto coding = TypedBytesCoding::Open(
        "utf-8", {Number(0, 4, NumberType::kBinary), Text(4, 6)}, mark, message);
    ASSERT_NE(coding, nullptr) << message;
    const auto decoder = coding->NewDecoder();
    const DecodedRecord d = decoder->Decode(first, true);
    const std::u16string text(d.text);
    // Records of a fixed length hold the bytes as data; a line's mark is no part of it.
    EXPECT_EQ(text, mark ? u"X'014142'" : u"-272908543AB");
  }
}

TEST(TypedBytesCodingTest, NamesTellApartEveryWayOfReadingAField) {
  const auto a = Open("ibm-930", {Number(0, 3, NumberType::kPacked, 2)});
  const auto b = Open("ibm-930", {Number(0, 3, NumberType::kPacked, 1)});
  const auto c = Open("ibm-939", {Number(0, 3, NumberType::kPacked, 2)});
  const auto d = Open("ibm-930", {Number(0, 3, NumberType::kPacked, 2)});
  EXPECT_NE(a->Name(), b->Name());
  EXPECT_NE(a->Name(), c->Name());
  EXPECT_EQ(a->Name(), d->Name());
  // Blanks that are 0 in one field and no number in the other: equal bytes, other values.
  TypedField zero = Number(0, 3, NumberType::kZoned);
  zero.number.blank_when_zero = true;
  EXPECT_NE(Open("ibm-930", {zero})->Name(),
            Open("ibm-930", {Number(0, 3, NumberType::kZoned)})->Name());
  EXPECT_FALSE(a->CleanAsWholeRecord());
}

TEST(NumberFieldsCodingTest, FlaggedColumnsAreReadAsDecimalText) {
  RecordFormat format;
  std::string message;
  ASSERT_TRUE(ParseRecordFormat("csv,utf-8", format, message)) << message;
  std::unique_ptr<RecordCoding> csv = CsvCoding::Open(format, 0, message);
  ASSERT_NE(csv, nullptr) << message;
  const NumberFieldsCoding coding(std::move(csv), {1, 0, 1});
  const auto decoder = coding.NewDecoder();
  const Decoded d = Decode(*decoder, " 0012.50 ,0012.50,1e3");
  EXPECT_EQ(d.fields, (std::vector<std::u16string>{u"12.5", u"0012.50", u"1e3"}));
  // A text that could be taken for bytes shown, or for such a text, is quoted: it equals neither.
  EXPECT_EQ(Decode(*decoder, "X'20',X'20',\"\"\"X\"").fields,
            (std::vector<std::u16string>{u"\"X'20'\"", u"X'20'", u"\"\"X\""}));
  EXPECT_EQ(d.numbers, (std::vector<std::uint8_t>{1, 0, 1}));
  EXPECT_FALSE(IsNumberText(d.fields[2]));
  EXPECT_EQ(Decode(*decoder, "-0,x,+.5").fields, (std::vector<std::u16string>{u"0", u"x", u"0.5"}));
}

// The key form of one record of fields whose every field is a number.
std::string NumberKey(std::vector<std::u16string> values) {
  std::u16string text;
  std::vector<std::uint32_t> offsets;
  for (std::uint32_t f = 0; f < values.size(); ++f) {
    text += values[f];
    offsets.insert(offsets.end(), values[f].size(), f);
  }
  const std::vector<std::uint8_t> numbers(values.size(), 1);
  DecodedRecord record{text, offsets, 0, values.size(), false, {}, {}};
  record.numbers = numbers;
  RangeList ranges;
  ranges[0] = {1, static_cast<std::int32_t>(values.size())};
  std::string key;
  AppendFieldsKeyForm(record, ranges, false, key);
  return key;
}

TEST(NumberKeyFormTest, KeysOfNumbersOrderByValue) {
  const std::vector<std::u16string> ordered = {
      u"-1000", u"-99.5", u"-10", u"-9.99", u"-1.23", u"-1.2", u"-1", u"-0.05", u"0",
      u"0.05",  u"0.5",   u"1",   u"1.2",   u"1.23",  u"9",    u"10", u"99.5",  u"1000"};
  for (std::size_t i = 0; i + 1 < ordered.size(); ++i) {
    EXPECT_LT(NumberKey({ordered[i]}), NumberKey({ordered[i + 1]}))
        << std::string(ordered[i].begin(), ordered[i].end()) << " < "
        << std::string(ordered[i + 1].begin(), ordered[i + 1].end());
  }
  // Equal values have one key; a field that is no number orders after every number; a key of
  // two fields orders by the first, then the second.
  EXPECT_EQ(NumberKey({u"100"}), NumberKey({u"100"}));
  EXPECT_LT(NumberKey({u"99999"}), NumberKey({u"X'0C'"}));
  EXPECT_LT(NumberKey({u"2", u"100"}), NumberKey({u"10", u"1"}));
  EXPECT_LT(NumberKey({u"2", u"9"}), NumberKey({u"2", u"10"}));
  EXPECT_EQ(NumberKey({u"0"}).find('\0'), 1u);  // the field's end, no 00 inside a value
}

}  // namespace
}  // namespace vesmer
