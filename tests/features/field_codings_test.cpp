// Records of byte columns and CSV records seen as records of the same fields: fields cut by
// byte spans from decoded records, CSV fields picked and reordered, what is missing left empty.
#include "formats/field_codings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "formats/code_page_coding.h"
#include "formats/csv_coding.h"
#include "formats/record_format.h"

namespace vesmer {
namespace {

// One decoded record, copied out of its decoder.
struct Fields {
  std::u16string text;
  std::vector<std::uint32_t> offsets;
  std::size_t undecodable = 0;
  std::size_t fields = 0;
  bool short_record = false;
};

Fields Decode(const RecordCoding& coding, std::string_view record) {
  const std::unique_ptr<RecordDecoder> decoder = coding.NewDecoder();
  const DecodedRecord d = decoder->Decode(record, false);
  return Fields{std::u16string(d.text),
                {d.offsets.begin(), d.offsets.end()},
                d.undecodable,
                d.fields,
                d.short_record};
}

std::unique_ptr<RecordCoding> CodePageOf(const char* name) {
  std::string message;
  std::unique_ptr<RecordCoding> coding = CodePageCoding::Open(name, message);
  EXPECT_NE(coding, nullptr) << message;
  return coding;
}

std::unique_ptr<RecordCoding> CsvOf(const char* format_text, std::size_t expected,
                                    std::size_t named = 0) {
  RecordFormat format;
  std::string message;
  EXPECT_TRUE(ParseRecordFormat(format_text, format, message)) << message;
  std::unique_ptr<RecordCoding> coding = CsvCoding::Open(format, expected, message, named);
  EXPECT_NE(coding, nullptr) << message;
  return coding;
}

// "A001 " and 山田 between SO and SI, EBCDIC blanks to byte 19, then "00100": ibm-930.
const std::string kHostRecord =
    "\xC1\xF0\xF0\xF1\x40"
    "\x0E\x45\x65\x45\x63\x0F\x40\x40\x40\x40\x40\x40\x40\x40"
    "\xF0\xF0\xF1\xF0\xF0";

TEST(ByteFieldsCodingTest, FieldsAreTheCharactersThatStartInTheirBytes) {
  const ByteFieldsCoding coding(CodePageOf("ibm-930"), {{0, 4}, {5, 19}, {19, 24}});
  const Fields f = Decode(coding, kHostRecord);
  // Shift bytes give no text; the blanks after SI are the field's own, padding or not.
  EXPECT_EQ(f.text, u"A001山田        00100");
  EXPECT_EQ(f.offsets,
            (std::vector<std::uint32_t>{0, 0, 0, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2, 2, 2, 2, 2}));
  EXPECT_EQ(f.fields, 3u);
  EXPECT_FALSE(f.short_record);
  EXPECT_EQ(f.undecodable, 0u);
}

TEST(ByteFieldsCodingTest, SpansMayOverlapCutCharactersOrLiePastTheRecord) {
  // The second byte of 山 (byte 7) starts no character: 田 (bytes 8-9) is all of 7-10.
  const ByteFieldsCoding coding(CodePageOf("ibm-930"),
                                {{0, 2}, {0, 4}, {7, 11}, {24, 30}, {100, 200}});
  const Fields f = Decode(coding, kHostRecord);
  EXPECT_EQ(f.text, u"A0A001田");
  EXPECT_EQ(f.offsets, (std::vector<std::uint32_t>{0, 0, 1, 1, 1, 1, 2}));
  EXPECT_EQ(f.fields, 5u);  // the last two empty, and the record is not short for it
  EXPECT_FALSE(f.short_record);
}

TEST(ByteFieldsCodingTest, BytesThatAreNoCharacterAreCountedAndNamesTellSpansApart) {
  const ByteFieldsCoding coding(CodePageOf("utf-8"), {{0, 1}, {1, 3}});
  const Fields f = Decode(coding,
                          "a\xFF"
                          "b");
  EXPECT_EQ(f.undecodable, 1u);
  EXPECT_EQ(f.text,
            u"a\xDCFF"
            u"b");
  const ByteFieldsCoding other(CodePageOf("utf-8"), {{0, 1}, {1, 4}});
  EXPECT_NE(coding.Name(), other.Name());
  EXPECT_NE(coding.Name().find("utf-8"), std::string::npos);
}

TEST(SelectedFieldsCodingTest, CsvFieldsArePickedInTheGivenOrder) {
  const SelectedFieldsCoding coding(CsvOf("csv,utf-8", 3), {2, 0});
  Fields f = Decode(coding, "a1,\"b,2\",c3");
  EXPECT_EQ(f.text, u"c3a1");
  EXPECT_EQ(f.offsets, (std::vector<std::uint32_t>{0, 0, 1, 1}));
  EXPECT_EQ(f.fields, 2u);
  EXPECT_FALSE(f.short_record);
  // A field the record lacks is empty, and the record short.
  f = Decode(coding, "a1,b2");
  EXPECT_EQ(f.text, u"a1");
  EXPECT_EQ(f.offsets, (std::vector<std::uint32_t>{1, 1}));
  EXPECT_EQ(f.fields, 2u);
  EXPECT_TRUE(f.short_record);
  // Short as CSV, fewer fields than the header's, even when every field picked is there.
  const SelectedFieldsCoding first(CsvOf("csv,utf-8", 3), {0});
  EXPECT_TRUE(Decode(first, "a1,b2").short_record);
  EXPECT_NE(coding.Name(), first.Name());
}

TEST(CsvCodingTest, ARecordWithoutTheColumnsALayoutNamesIsShort) {
  // Counted from the file's first record alone, two fields would be all a record needs.
  const std::unique_ptr<RecordCoding> coding = CsvOf("csv", 0, 3);
  const std::unique_ptr<RecordDecoder> decoder = coding->NewDecoder();
  EXPECT_TRUE(decoder->Decode("a,b", true).short_record);
  EXPECT_TRUE(decoder->Decode("a,b", false).short_record);
  EXPECT_FALSE(decoder->Decode("a,b,c", false).short_record);
  const std::unique_ptr<RecordDecoder> first = CsvOf("csv", 0)->NewDecoder();
  EXPECT_FALSE(first->Decode("a,b", true).short_record);
  EXPECT_TRUE(first->Decode("a", false).short_record);
}

}  // namespace
}  // namespace vesmer
