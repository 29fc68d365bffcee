#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "platform/unicode.h"

namespace vesmer {
namespace {

struct Row {
  unsigned left;
  unsigned right;
  std::size_t left_digits;
};

std::vector<Row> ReadTable(const std::string& name) {
  std::ifstream f(std::string(VESMER_TEST_DATA) + "/cp932/" + name);
  std::vector<Row> rows;
  std::string a, b;
  while (f >> a >> b) {
    rows.push_back({static_cast<unsigned>(std::stoul(a, nullptr, 16)),
                    static_cast<unsigned>(std::stoul(b, nullptr, 16)), a.size()});
  }
  return rows;
}

std::string Bytes(unsigned code, std::size_t digits) {
  std::string s;
  if (digits == 4) s += static_cast<char>(code >> 8);
  s += static_cast<char>(code & 0xFF);
  return s;
}

TEST(Cp932Test, DecodesEveryLineOfWindowsTable) {
  const auto rows = ReadTable("decode.tsv");
  ASSERT_EQ(rows.size(), 9800u);
  for (const Row& r : rows) {
    const std::u16string text = cp932::Decode(Bytes(r.left, r.left_digits));
    ASSERT_EQ(text.size(), 1u) << std::hex << r.left;
    EXPECT_EQ(static_cast<unsigned>(text[0]), r.right) << std::hex << r.left;
  }
}

TEST(Cp932Test, EncodesEveryLineOfWindowsTable) {
  const auto rows = ReadTable("encode.tsv");
  ASSERT_EQ(rows.size(), 9486u);
  for (const Row& r : rows) {
    const std::string expected = Bytes(r.right, r.right > 0xFF ? 4 : 2);
    EXPECT_EQ(cp932::Encode(std::u16string(1, static_cast<char16_t>(r.left))), expected)
        << std::hex << r.left;
  }
}

TEST(Cp932Test, UnmappedCharactersEncodeAsQuestionMarks) {
  EXPECT_EQ(cp932::Encode(u"\uAC00"), "?");       // no form and no best fit
  EXPECT_EQ(cp932::Encode(u"\u00E9"), "e");       // best fit
  EXPECT_EQ(cp932::Encode(u"\U0001F600"), "??");  // one '?' per UTF-16 code unit
  EXPECT_EQ(cp932::Encode(u"\u00A5"), "\x5C");    // best fit
}

TEST(Cp932Test, InvalidInputDecodesAsWindowsDoes) {
  EXPECT_EQ(cp932::Decode("\x85\x40"), u"\u30FB");  // lead byte without mapped pairs
  EXPECT_EQ(cp932::Decode("A\x88"), u"A\u30FB");    // lead byte at the end
  EXPECT_EQ(cp932::Decode(std::string("\x88\0B", 3)), std::u16string(u"\u30FB\0B", 3));
  EXPECT_EQ(cp932::Decode("\x88\x20"), u"\u30FB");  // any non-zero trail byte is taken
  EXPECT_EQ(cp932::Decode("\x80\xA0\xFD"), u"\u0080\uF8F0\uF8F1");
}

TEST(Cp932Test, CharacterWalk) {
  EXPECT_TRUE(cp932::IsLeadByte(0x81));
  EXPECT_TRUE(cp932::IsLeadByte(0xFC));
  EXPECT_FALSE(cp932::IsLeadByte(0xA0));
  EXPECT_FALSE(cp932::IsLeadByte(0xDF));
  EXPECT_EQ(cp932::CharLength("\x82\xA0", 2), 2u);
  EXPECT_EQ(cp932::CharLength("\x82", 1), 1u);
  EXPECT_EQ(cp932::CharLength("\x82\0", 2), 1u);
  EXPECT_EQ(cp932::CharLength("\xB1\x82", 2), 1u);  // half-width katakana is one byte
}

TEST(Cp932Test, CanonicalFormIsWhatWindowsWritesBack) {
  std::string scratch;
  EXPECT_TRUE(cp932::RoundTrips("ABC\x82\xA0\xB1"));
  const std::string_view plain = "ABC";
  EXPECT_EQ(cp932::Canonical(plain, scratch).data(), plain.data());  // no copy
  // NEC-selected IBM extension ED40 decodes to U+7E8A, which Windows writes as FA5C.
  EXPECT_FALSE(cp932::RoundTrips("\xED\x40"));
  EXPECT_EQ(cp932::Canonical("x\xED\x40", scratch), "x\xFA\x5C");
  // A lone lead byte becomes the default character, two bytes wide.
  EXPECT_EQ(cp932::Canonical("A\x88", scratch), "A\x81\x45");
}

TEST(Cp932Test, Utf8Conversions) {
  EXPECT_EQ(cp932::FromUtf8("比較元"), "\x94\xe4\x8a\x72\x8c\xb3");
  EXPECT_EQ(cp932::ToUtf8("\x94\xe4\x8a\x72\x8c\xb3"), "比較元");
  EXPECT_EQ(Utf16ToUtf8(Utf8ToUtf16("a\xFF"
                                    "b")),
            "a\uFFFD"
            "b");
  EXPECT_EQ(Utf8ToUtf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xF0\x9F\x98\x80"), u"\U0001F600");
}

}  // namespace
}  // namespace vesmer
