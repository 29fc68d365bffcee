#include "platform/display_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "formats/code_page.h"
#include "platform/cp932.h"

namespace vesmer {
namespace {

std::string Cp932Display(std::u16string_view text) {
  std::string out = "<";  // appended to, not replaced
  AppendCp932Display(text, out);
  return out;
}

std::string Utf8Display(std::u16string_view text) {
  std::string out = "<";
  AppendUtf8Display(text, out);
  return out;
}

TEST(DisplayTextTest, WhatIsNotPlainTextIsSpelledOut) {
  struct Case {
    std::u16string text;
    std::string cp932;
    std::string utf8;
  };
  const Case cases[] = {
      {u"Aあ亜ｱ", "<A\x82\xA0\x88\x9F\xB1", "<Aあ亜ｱ"},
      // Controls and escaped bytes: the code or the byte; U+0080 is a character of both.
      {std::u16string(u"\t\0\x7F", 3) + u"\x80", "<\\x09\\x00\\x7F\x80",
       "<\\x09\\x00\\x7F\xC2\x80"},
      {std::u16string{ByteEscape(0x85), ByteEscape(0x00), ByteEscape(0xFF)}, "<\\x85\\x00\\xFF",
       "<\\x85\\x00\\xFF"},
      // Characters code page 932 lacks: Windows' best fits (¥ -> '\', é -> 'e') are not them.
      {u"¥é", "<U+00A5U+00E9", "<¥é"},
      // Outside the BMP: U+10000 is D800 DC00, whose low half is no escape.
      {u"\U00010000\U0010FFFF😀", "<U+10000U+10FFFFU+1F600", "<\U00010000\U0010FFFF😀"},
      // Lone surrogates that are no escape.
      {std::u16string{0xD800, 'A', 0xDE00, 0xDBFF}, "<U+D800AU+DE00U+DBFF", "<U+D800AU+DE00U+DBFF"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Cp932Display(c.text), c.cp932);
    EXPECT_EQ(Utf8Display(c.text), c.utf8);
  }
}

// Every BMP character: either code page 932's own bytes for it, which decode back to it, or its
// code point spelled out; never another character's bytes.
TEST(DisplayTextTest, Cp932ShowsEachCharacterAsItselfOrByItsCode) {
  std::size_t as_itself = 0;
  for (char32_t cp = 0x20; cp < 0x10000; ++cp) {
    if (cp == 0x7F || (cp >= 0xD800 && cp <= 0xDFFF)) continue;
    const std::u16string text(1, static_cast<char16_t>(cp));
    std::string shown;
    AppendCp932Display(text, shown);
    if (shown.starts_with("U+") && shown.size() > 2) {
      EXPECT_NE(cp932::Decode(cp932::Encode(text)), text) << std::hex << static_cast<unsigned>(cp);
      EXPECT_EQ(std::stoul(shown.substr(2), nullptr, 16), static_cast<unsigned long>(cp));
    } else {
      ASSERT_EQ(cp932::Decode(shown), text) << std::hex << static_cast<unsigned>(cp);
      ++as_itself;
    }
  }
  EXPECT_GT(as_itself, 7000u);
}

// Texts of every kind of character one after another: a text shows as its characters do, each
// shown alone, whatever comes before and after it (plain runs are written apart from the rest).
TEST(DisplayTextTest, Cp932ShowsATextAsItsCharactersOneByOne) {
  std::mt19937 random(932);
  const char16_t samples[] = {u'A',      u' ',      u'~',      u'\x7F',   u'\t',     u'\0',
                              u'\u3042', u'\u4E00', u'\uFF71', u'\u2603', u'\xDC85', u'\xDCFF',
                              u'\xD83D', u'\xDE00', u'\u00E9', u'\u3000'};
  for (int r = 0; r < 3020; ++r) {
    std::u16string text;
    // Short texts, and a few long ones whose characters shown by their codes outgrow the room
    // made for two bytes a unit many times over.
    const int length = r < 3000 ? static_cast<int>(random() % 24) : 5000;
    for (int i = 0; i < length; ++i) text += samples[random() % std::size(samples)];
    std::string whole, alone;
    AppendCp932Display(text, whole);
    // Character by character: a surrogate pair is one.
    for (std::size_t i = 0; i < text.size(); ++i) {
      const bool pair = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size() &&
                        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
      AppendCp932Display(std::u16string_view(text).substr(i, pair ? 2 : 1), alone);
      i += pair;
    }
    ASSERT_EQ(whole, alone) << r;
  }
  std::string shown;
  AppendCp932Display(std::u16string{u'a', 0xD83D, 0xDE00, 0xDC85, u'\t', u'b'}, shown);
  EXPECT_EQ(shown, "aU+1F600\\x85\\x09b");
}

}  // namespace
}  // namespace vesmer
