#include "platform/cp932.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "platform/unicode.h"
#include "tests/support/utf8_reference.h"

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

// The table's own look-ups hold exactly Windows' pairs: a pair not listed has no unit, though
// Decode gives it U+30FB.
TEST(Cp932Test, PairAndSingleUnitsAreWindowsTable) {
  std::size_t pairs = 0;
  for (const Row& r : ReadTable("decode.tsv")) {
    if (r.left_digits == 4) {
      ++pairs;
      EXPECT_EQ(static_cast<unsigned>(cp932::PairUnit(static_cast<std::uint8_t>(r.left >> 8),
                                                      static_cast<std::uint8_t>(r.left))),
                r.right)
          << std::hex << r.left;
    } else if (!cp932::IsLeadByte(static_cast<std::uint8_t>(r.left))) {
      EXPECT_EQ(static_cast<unsigned>(cp932::SingleUnit(static_cast<std::uint8_t>(r.left))),
                r.right)
          << std::hex << r.left;
    }
  }
  std::size_t mapped = 0;
  for (unsigned lead = 0x81; lead <= 0xFC; ++lead) {
    if (!cp932::IsLeadByte(static_cast<std::uint8_t>(lead))) continue;
    for (unsigned trail = 1; trail < 256; ++trail) {
      mapped +=
          cp932::PairUnit(static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail)) != 0;
    }
  }
  EXPECT_EQ(mapped, pairs);
  EXPECT_EQ(cp932::PairUnit(0x85, 0x40), 0);
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

TEST(Cp932Test, CanonicalCharLengthIsTheLengthOfTheCanonicalForm) {
  std::string scratch;
  for (unsigned first = 0; first < 256; ++first) {
    for (unsigned second = 0; second < 256; ++second) {
      const char bytes[2] = {static_cast<char>(first), static_cast<char>(second)};
      const std::size_t n = cp932::CharLength(bytes, 2);
      // Never shorter: a line as long as its canonical form has the same columns.
      ASSERT_GE(cp932::CanonicalCharLength(bytes, 2), n) << first << " " << second;
      ASSERT_EQ(cp932::CanonicalCharLength(bytes, 2), cp932::Canonical({bytes, n}, scratch).size())
          << first << " " << second;
    }
    const char alone = static_cast<char>(first);
    ASSERT_EQ(cp932::CanonicalCharLength(&alone, 1), cp932::Canonical({&alone, 1}, scratch).size())
        << first;
  }
  EXPECT_EQ(cp932::CanonicalCharLength("\x88", 1), 2u);
  EXPECT_EQ(cp932::CanonicalCharLength("\xED\x40", 2), 2u);
  EXPECT_EQ(cp932::CanonicalCharLength("\xB1", 1), 1u);
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

// Runs the direct encoder into a buffer of exactly the room it asks for, so that a write past
// that room is caught by the address sanitizer.
std::string Direct(std::string_view utf8, bool last = true, std::size_t* consumed = nullptr) {
  std::vector<char> room(cp932::Utf8ToCp932MaxBytes(utf8.size()));
  std::size_t written = 0;
  const std::size_t used = cp932::Utf8ToCp932(utf8, room.data(), written, last);
  if (consumed != nullptr) *consumed = used;
  EXPECT_LE(written, room.size());
  if (last) {
    EXPECT_EQ(used, utf8.size());
  }
  return std::string(room.data(), written);
}

std::string Hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    out += ' ';
  }
  return out;
}

TEST(Utf8ToCp932Test, KnownCharacters) {
  EXPECT_EQ(Direct(""), "");
  EXPECT_EQ(Direct("A,1\r\n"), "A,1\r\n");
  EXPECT_EQ(Direct(std::string("a\0b", 3)), std::string("a\0b", 3));
  EXPECT_EQ(Direct("比較元"), "\x94\xe4\x8a\x72\x8c\xb3");
  EXPECT_EQ(Direct("あア\uFF71ー"), "\x82\xA0\x83\x41\xB1\x81\x5B");  // kana, half-width kana
  EXPECT_EQ(Direct("α¥é"),
            "\x83\xBF\x5C"
            "e");                           // Greek; best fits for two Latin-1 signs
  EXPECT_EQ(Direct("\uAC00"), "?");         // no form and no best fit
  EXPECT_EQ(Direct("\U0001F600x"), "??x");  // one '?' per UTF-16 unit
  EXPECT_EQ(Direct("\uFEFF"), "?");         // a byte order mark is text here
}

TEST(Utf8ToCp932Test, MalformedInputGivesOneReplacementPerMaximalPrefix) {
  EXPECT_EQ(Direct("\x80\xBF"), "??");            // stray continuation bytes
  EXPECT_EQ(Direct("\xC0\x80"), "??");            // overlong NUL
  EXPECT_EQ(Direct("\xE0\x80\x80"), "???");       // overlong three-byte form
  EXPECT_EQ(Direct("\xED\xA0\x80"), "???");       // an encoded surrogate
  EXPECT_EQ(Direct("\xF4\x90\x80\x80"), "????");  // past U+10FFFF
  EXPECT_EQ(Direct("\xE3\x81"), "?");             // a cut sequence at the very end is one '?'
  EXPECT_EQ(Direct("\xE3\x81"
                   "A"),
            "?A");
  EXPECT_EQ(Direct("\xF0\x9F\x98"), "?");
  EXPECT_EQ(Direct("\xFF\xFE"), "??");
}

TEST(Utf8ToCp932Test, AsciiRunsOfEveryLengthAroundACharacter) {
  // The ASCII copy goes a word at a time: a character at every offset of runs of every length
  // up to three words catches a word that is taken past its first non-ASCII byte.
  for (std::size_t length = 0; length <= 48; ++length) {
    for (std::size_t at = 0; at <= length; ++at) {
      std::string utf8(length, 'a');
      std::string expected(length, 'a');
      for (std::size_t i = 0; i < length; ++i) utf8[i] = expected[i] = static_cast<char>('!' + i);
      utf8.insert(at, "あ");
      expected.insert(at, "\x82\xA0");
      ASSERT_EQ(Direct(utf8), expected) << length << " " << at;
      // A byte with the high bit set but no character behind it.
      utf8 = std::string(length, 'z');
      utf8.insert(at, "\x80");
      expected = std::string(length, 'z');
      expected.insert(at, "?");
      ASSERT_EQ(Direct(utf8), expected) << length << " " << at;
    }
  }
}

TEST(Utf8ToCp932Test, EveryCodePointMatchesTheCharacterByCharacterPath) {
  std::string utf8;
  for (char32_t cp = 0; cp < 0x10000; ++cp) {
    utf8.clear();
    testing::AppendRawUtf8(cp, utf8);  // surrogates give their malformed three-byte form
    ASSERT_EQ(Direct(utf8), testing::ReferenceUtf8ToCp932(utf8))
        << std::hex << static_cast<unsigned>(cp);
  }
  // The planes above the BMP, a plane at a time.
  for (char32_t plane = 1; plane <= 0x10; ++plane) {
    utf8.clear();
    for (char32_t cp = plane << 16; cp < ((plane + 1) << 16); ++cp) {
      testing::AppendRawUtf8(cp, utf8);
    }
    ASSERT_EQ(Direct(utf8), testing::ReferenceUtf8ToCp932(utf8))
        << std::hex << static_cast<unsigned>(plane);
  }
}

TEST(Utf8ToCp932Test, EveryShortByteStringMatchesTheCharacterByCharacterPath) {
  std::string bytes;
  for (unsigned a = 0; a < 256; ++a) {
    for (unsigned b = 0; b < 256; ++b) {
      bytes = {static_cast<char>(a), static_cast<char>(b)};
      ASSERT_EQ(Direct(bytes), testing::ReferenceUtf8ToCp932(bytes)) << Hex(bytes);
      ASSERT_EQ(Direct(bytes.substr(0, 1)), testing::ReferenceUtf8ToCp932(bytes.substr(0, 1)));
    }
  }
  // Three and four bytes: every lead byte with the bytes that sit on the decoder's edges.
  static constexpr unsigned char kEdges[] = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F,
                                             0xA0, 0xBF, 0xC0, 0xC2, 0xE3, 0xF0, 0xFF};
  for (unsigned lead = 0x80; lead < 256; ++lead) {
    for (const unsigned char b : kEdges) {
      for (const unsigned char c : kEdges) {
        for (const unsigned char d : kEdges) {
          bytes = {static_cast<char>(lead), static_cast<char>(b), static_cast<char>(c),
                   static_cast<char>(d)};
          ASSERT_EQ(Direct(bytes), testing::ReferenceUtf8ToCp932(bytes)) << Hex(bytes);
        }
      }
    }
  }
}

TEST(Utf8ToCp932Test, RandomTextMatchesTheCharacterByCharacterPath) {
  std::mt19937 rng(932);
  for (int round = 0; round < 3000; ++round) {
    const std::string utf8 = testing::RandomUtf8Like(rng, 1 + round % 60);
    ASSERT_EQ(Hex(Direct(utf8)), Hex(testing::ReferenceUtf8ToCp932(utf8))) << Hex(utf8);
  }
}

TEST(Utf8ToCp932Test, APieceEndingInACutSequenceLeavesItForTheNext) {
  std::size_t consumed = 0;
  EXPECT_EQ(Direct("ab\xE3\x81", false, &consumed), "ab");
  EXPECT_EQ(consumed, 2u);
  EXPECT_EQ(Direct("\xF0\x9F\x98", false, &consumed), "");
  EXPECT_EQ(consumed, 0u);
  // What can no longer become a character is not held back.
  EXPECT_EQ(Direct("a\xE3\x41", false, &consumed), "a?A");
  EXPECT_EQ(consumed, 3u);
  EXPECT_EQ(Direct("\xC0", false, &consumed), "?");
  EXPECT_EQ(consumed, 1u);
  EXPECT_EQ(Direct("\xED\xA0", false, &consumed), "??");
  EXPECT_EQ(consumed, 2u);

  // Cut anywhere, carried over, the pieces give what the whole gives.
  std::mt19937 rng(1252);
  for (int round = 0; round < 500; ++round) {
    const std::string utf8 = testing::RandomUtf8Like(rng, 1 + round % 30);
    const std::string whole = testing::ReferenceUtf8ToCp932(utf8);
    for (std::size_t cut = 0; cut <= utf8.size(); ++cut) {
      std::string out;
      const std::size_t first = cp932::Utf8ToCp932Append(utf8.substr(0, cut), out, false);
      ASSERT_LE(cut - first, 3u);
      const std::string rest = utf8.substr(first);
      ASSERT_EQ(cp932::Utf8ToCp932Append(rest, out, true), rest.size());
      ASSERT_EQ(Hex(out), Hex(whole)) << Hex(utf8) << " cut at " << cut;
    }
  }
}

TEST(Utf8ToCp932Test, AppendKeepsWhatIsThere) {
  std::string out = "x";
  EXPECT_EQ(cp932::Utf8ToCp932Append("あ", out), 3u);
  EXPECT_EQ(out, "x\x82\xA0");
}

}  // namespace
}  // namespace vesmer

namespace vesmer::cp932 {
namespace {

// Two strings checked at once give what each gives alone, wherever they start to differ:
// inside a double-byte character, at a lead byte, at the end of the shorter.
TEST(Cp932Test, RoundTripsBothAgreesWithEachAlone) {
  const char alphabet[] = {'A',    '\0',   '\x80', '\xA0', '\xB1', '\xFD', '\x81', '\x40',
                           '\x88', '\x9F', '\xED', '\x40', '\xEE', '\xFC', '\xFF', '\x7F'};
  std::uint32_t seed = 7;
  auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
  for (int i = 0; i < 50000; ++i) {
    std::string a;
    for (std::size_t n = next() % 24; n > 0; --n) a += alphabet[(next() >> 8) % sizeof alphabet];
    std::string b = a.substr(0, next() % (a.size() + 1));
    for (std::size_t n = next() % 6; n > 0; --n) b += alphabet[(next() >> 8) % sizeof alphabet];
    bool ra = false, rb = false;
    RoundTripsBoth(a, b, ra, rb);
    ASSERT_EQ(ra, RoundTrips(a)) << i;
    ASSERT_EQ(rb, RoundTrips(b)) << i;
    ASSERT_EQ(RoundTrips(a), Encode(Decode(a)) == a) << i;
  }
}

}  // namespace
}  // namespace vesmer::cp932
