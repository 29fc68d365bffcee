#include "formats/code_page.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "core/ranges.h"
#include "core/record_key.h"
#include "formats/code_page_coding.h"
#include "platform/cp932.h"
#include "tests/support/code_page_reference.h"

namespace vesmer {
namespace {

using namespace std::string_view_literals;

using testing::Cp932Reference;
using testing::Decoded;
using testing::IcuReference;

constexpr const char* kHostCodePages[] = {"ibm-930", "ibm-939", "ibm-1390", "ibm-1399"};

std::unique_ptr<CodePage> MustOpen(const char* name) {
  std::string message;
  auto code_page = CodePage::Open(name, message);
  EXPECT_NE(code_page, nullptr) << name << ": " << message;
  return code_page;
}

Decoded DecodeWith(CodePage& code_page, std::string_view bytes, DecodedText& out) {
  Decoded d;
  d.bad = code_page.Decode(bytes, out);
  d.text = out.text();
  d.offsets.assign(out.offsets().begin(), out.offsets().end());
  return d;
}

Decoded DecodeWith(CodePage& code_page, std::string_view bytes) {
  DecodedText out;
  return DecodeWith(code_page, bytes, out);
}

std::string Bytes(std::initializer_list<int> bytes) {
  std::string s;
  for (const int b : bytes) s += static_cast<char>(b);
  return s;
}

TEST(CodePageOpenTest, NamesAreComparedAsIcuDoesAndShownShort) {
  const std::pair<const char*, const char*> cases[] = {{"CP932", "cp932"},
                                                       {"Windows-31J", "cp932"},
                                                       {"ms932", "cp932"},
                                                       {"UTF8", "utf-8"},
                                                       {"utf-8", "utf-8"},
                                                       {"EUC_JP", "euc-jp"},
                                                       {"IBM930", "ibm-930"},
                                                       {"ibm-939", "ibm-939"},
                                                       {"ibm-1390", "ibm-1390"},
                                                       {"IBM-1399", "ibm-1399"},
                                                       {"ibm-930_P120-1999", "ibm-930"}};
  for (const auto& [given, shown] : cases) {
    const auto code_page = MustOpen(given);
    ASSERT_NE(code_page, nullptr);
    EXPECT_EQ(code_page->name(), shown) << given;
  }
  UErrorCode error = U_ZERO_ERROR;
  UConverter* icu = ucnv_open("ibm-037", &error);
  ASSERT_TRUE(U_SUCCESS(error));
  EXPECT_EQ(MustOpen("ibm-037")->name(), ucnv_getName(icu, &error));
  ucnv_close(icu);
}

TEST(CodePageOpenTest, UnknownNamesAreRefusedInTheUsersWords) {
  const std::pair<std::string, std::string> cases[] = {
      {"xyz", "★コードページ「xyz」はありません"},
      {"", "★コードページ「」はありません"},
      {std::string("ibm-930\0x", 9), "★コードページ「ibm-930\\x00x」はありません"}};
  for (const auto& [name, expected] : cases) {
    std::string message;
    EXPECT_EQ(CodePage::Open(name, message), nullptr) << name;
    EXPECT_EQ(message, expected);
  }
}

// The tables against ICU over every single byte, every pair between SO and SI, and the shifts
// around them: the decoder must give exactly what ICU gives, escapes and counts included.
TEST(HostCodePageTest, EveryByteAndPairDecodesAsIcuDecodesIt) {
  for (const char* name : kHostCodePages) {
    const auto code_page = MustOpen(name);
    IcuReference icu(name);
    ASSERT_TRUE(icu.ok());
    DecodedText out;
    for (int b = 0; b < 256; ++b) {
      for (const std::string& record : {Bytes({b}), Bytes({0xC1, b, 0x0E}), Bytes({0x0F, b})}) {
        ASSERT_EQ(DecodeWith(*code_page, record, out), icu.Decode(record)) << name << " " << b;
      }
    }
    std::size_t characters = 0, faults = 0;
    const std::uint64_t slow_before = code_page->records_through_icu();
    for (int lead = 0; lead < 256; ++lead) {
      for (int trail = 0; trail < 256; ++trail) {
        const std::string record = Bytes({0xC1, 0x0E, lead, trail, 0x0F, 0xC2});
        const Decoded expected = icu.Decode(record);
        ASSERT_EQ(DecodeWith(*code_page, record, out), expected)
            << name << " " << lead << " " << trail;
        characters += expected.bad == 0;
        // Shift bytes in the pair's place make shifts out of turn, but for SI SO, which closes
        // and opens again.
        const bool shift = (lead == 0x0E || lead == 0x0F || trail == 0x0E || trail == 0x0F) &&
                           !(lead == 0x0F && trail == 0x0E);
        faults += expected.bad != 0 || shift;
      }
    }
    EXPECT_GT(characters, 7000u) << name;  // the pairs held kanji, not escapes alone
    // The tables decoded every record whose pair is a character; ICU only the others, and those
    // where the pair's bytes are shifts.
    EXPECT_EQ(code_page->records_through_icu() - slow_before, faults) << name;
  }
}

// Code pages without shifts through their tables: every byte alone and every pair between
// ASCII, against ICU; only records with bytes that are no character go to ICU (EUC-JP's
// three-byte characters among them, which the tables leave to it).
TEST(TableCodePageTest, EveryByteAndPairDecodesAsIcuDecodesIt) {
  for (const char* name : {"euc-jp", "shift_jis", "ibm-290", "ibm-037"}) {
    const auto code_page = MustOpen(name);
    IcuReference icu(name);
    DecodedText out;
    std::size_t faults = 0, records = 0;
    const std::uint64_t slow_before = code_page->records_through_icu();
    for (int lead = 0; lead < 256; ++lead) {
      for (int trail = 0; trail < 256; ++trail) {
        const std::string record =
            trail == 0 ? Bytes({lead}) : Bytes({0x20, 0x41, lead, trail, 0x42});
        const Decoded expected = icu.Decode(record);
        ASSERT_EQ(DecodeWith(*code_page, record, out), expected)
            << name << " " << lead << " " << trail;
        faults += expected.bad != 0;
        ++records;
      }
    }
    EXPECT_GT(records - faults, records / 3) << name;
    EXPECT_EQ(code_page->records_through_icu() - slow_before, faults) << name;
  }
}

// Random records of characters, shifts and stray bytes, decoded one after another into the same
// text: no state may leak from one record to the next.
TEST(HostCodePageTest, RandomRecordsDecodeAsIcuDecodesThem) {
  std::mt19937 random(930);
  for (const char* name : kHostCodePages) {
    const auto code_page = MustOpen(name);
    IcuReference icu(name);
    DecodedText out;
    for (int r = 0; r < 3000; ++r) {
      std::string record;
      bool shifted = false;
      const int length = static_cast<int>(random() % 40);
      for (int i = 0; i < length; ++i) {
        const auto pick = static_cast<unsigned>(random() % 100);
        if (pick < 8) {
          shifted = !shifted;
          record += shifted ? '\x0E' : '\x0F';
        } else if (pick < 10) {
          record += static_cast<char>(random() % 2 ? 0x0E : 0x0F);  // out of turn
        } else if (shifted && pick < 90) {
          record += static_cast<char>(0x45 + random() % 0x20);
          record += static_cast<char>(0x41 + random() % 0xBE);
        } else {
          record += static_cast<char>(pick < 95 ? 0x40 + random() % 0xBF : random() % 256);
        }
      }
      ASSERT_EQ(DecodeWith(*code_page, record, out), icu.Decode(record)) << name << " " << r;
    }
  }
}

TEST(HostCodePageTest, KanjiKatakanaAndLatinLetters) {
  const auto ibm930 = MustOpen("ibm-930");
  const auto ibm939 = MustOpen("ibm-939");
  // 一二 between SO and SI, each character at its first byte.
  const std::string kanji = Bytes({0x0E, 0x45, 0x41, 0x45, 0x42, 0x0F});
  for (const auto* code_page : {ibm930.get(), ibm939.get()}) {
    const Decoded d = DecodeWith(*const_cast<CodePage*>(code_page), kanji);
    EXPECT_EQ(d.text, u"一二");
    EXPECT_EQ(d.offsets, (std::vector<std::uint32_t>{1, 3}));
    EXPECT_EQ(d.bad, 0u);
  }
  // 0x81 0x82 0x83 are half-width katakana in ibm-930, lowercase letters in ibm-939; the
  // uppercase letters are where they are in both.
  const std::string letters = Bytes({0xC1, 0x81, 0x82, 0x83});
  EXPECT_EQ(DecodeWith(*ibm930, letters).text, u"Aｱｲｳ");
  EXPECT_EQ(DecodeWith(*ibm939, letters).text, u"Aabc");
}

// ibm-1390 and ibm-1399 map some pairs to characters outside the BMP: two units sharing the
// pair's offset, and the tables hold them as ICU does.
TEST(HostCodePageTest, SupplementaryCharactersTakeTwoUnitsAtOneOffset) {
  for (const char* name : {"ibm-1390", "ibm-1399"}) {
    IcuReference icu(name);
    const auto code_page = MustOpen(name);
    int found = 0;
    for (int lead = 0x40; lead < 0xFF && found < 3; ++lead) {
      for (int trail = 0x40; trail < 0xFF && found < 3; ++trail) {
        const std::string record = Bytes({0xC1, 0x0E, lead, trail, 0x45, 0x41, 0x0F, 0xC2});
        const Decoded expected = icu.Decode(record);
        if (expected.text.size() != 5 || expected.text[1] < 0xD800 || expected.text[1] > 0xDBFF) {
          continue;
        }
        ++found;
        const Decoded d = DecodeWith(*code_page, record);
        EXPECT_EQ(d, expected);
        EXPECT_EQ(d.offsets, (std::vector<std::uint32_t>{0, 2, 2, 4, 7}));
      }
    }
    EXPECT_EQ(found, 3) << name;
  }
}

// Shift sequences out of the ordinary and broken characters: whatever ICU makes of them, with
// the bytes that are no character escaped where they stand.
TEST(HostCodePageTest, OddShiftsAndCutCharactersAsIcuHasThem) {
  struct Case {
    const char* what;
    std::string record;
    std::u16string text;  // for ibm-930
    std::vector<std::uint32_t> offsets;
    std::size_t bad;
    bool through_icu = true;  // anything out of the ordinary is left to ICU
  };
  const Case cases[] = {
      {"SO never closed", Bytes({0xC1, 0x0E, 0x45, 0x41}), u"A一", {0, 2}, 0},
      {"SO at the end", Bytes({0xC1, 0x0E}), u"A", {0}, 0},
      {"SI with no SO", Bytes({0xC1, 0x0F, 0xC2}), u"AB", {0, 2}, 0},
      {"SO twice", Bytes({0x0E, 0x0E, 0x45, 0x41, 0x0F}), u"一", {2}, 0},
      {"SO SI, nothing between", Bytes({0x0E, 0x0F, 0xC1}), u"A", {2}, 0, false},
      {"odd byte before SI",
       Bytes({0x0E, 0x45, 0x41, 0x45, 0x0F, 0xC1}),
       u"一\xDC45"
       u"A",
       {1, 3, 5},
       1},
      {"character cut by the end", Bytes({0x0E, 0x45, 0x41, 0x45}), u"一\xDC45", {1, 3}, 1},
      {"pair not in the table", Bytes({0x0E, 0xFF, 0xFF, 0x0F}), u"\xDCFF\xDCFF", {1, 2}, 1},
  };
  const auto code_page = MustOpen("ibm-930");
  IcuReference icu("ibm-930");
  DecodedText out;
  for (const Case& c : cases) {
    const std::uint64_t slow_before = code_page->records_through_icu();
    const Decoded d = DecodeWith(*code_page, c.record, out);
    EXPECT_EQ(code_page->records_through_icu(), slow_before + c.through_icu) << c.what;
    EXPECT_EQ(d, icu.Decode(c.record)) << c.what;
    EXPECT_EQ(d.text, c.text) << c.what;
    EXPECT_EQ(d.offsets, c.offsets) << c.what;
    EXPECT_EQ(d.bad, c.bad) << c.what;
  }
}

TEST(DecodedTextTest, SliceCutsByBytesOfTheStoredRecord) {
  const auto code_page = MustOpen("ibm-930");
  DecodedText out;
  // A 一 二 B: bytes C1 | 0E | 45 41 | 45 42 | 0F | C2.
  (void)code_page->Decode(Bytes({0xC1, 0x0E, 0x45, 0x41, 0x45, 0x42, 0x0F, 0xC2}), out);
  EXPECT_EQ(out.Slice(0, 8), u"A一二B");
  EXPECT_EQ(out.Slice(4, 6), u"二");   // inside the shift sequence
  EXPECT_EQ(out.Slice(3, 6), u"二");   // cuts 一 in two: neither half
  EXPECT_EQ(out.Slice(1, 2), u"");     // SO alone
  EXPECT_EQ(out.Slice(6, 100), u"B");  // past the end
  EXPECT_EQ(out.Slice(5, 2), u"");     // reversed
  // The same buffer, a shorter record: nothing of the longer one is left.
  (void)code_page->Decode(Bytes({0xC3}), out);
  EXPECT_EQ(out.text(), u"C");
  EXPECT_EQ(out.Slice(0, 8), u"C");
}

TEST(Cp932CodePageTest, TextInTheTableDecodesAsPlatformDoes) {
  std::string record = "ABC 123";
  for (int b = 0x80; b < 0x100; ++b) {
    if (!cp932::IsLeadByte(static_cast<std::uint8_t>(b))) record += static_cast<char>(b);
  }
  for (int lead = 0x81; lead < 0x100; ++lead) {
    if (!cp932::IsLeadByte(static_cast<std::uint8_t>(lead))) continue;
    for (int trail = 1; trail < 0x100; ++trail) {
      if (cp932::PairUnit(static_cast<std::uint8_t>(lead), static_cast<std::uint8_t>(trail))) {
        record += static_cast<char>(lead);
        record += static_cast<char>(trail);
      }
    }
  }
  const auto code_page = MustOpen("cp932");
  const Decoded d = DecodeWith(*code_page, record);
  EXPECT_EQ(d.text, cp932::Decode(record));
  EXPECT_EQ(d, Cp932Reference(record));
  EXPECT_EQ(d.bad, 0u);
  EXPECT_GT(d.text.size(), 7000u);
}

TEST(Cp932CodePageTest, WhatWindowsHasNoCharacterForIsEscaped) {
  const auto code_page = MustOpen("cp932");
  // 0x85 0x40 is not in the table; 0x81 0x45 is U+30FB itself; a lead byte before NUL and at
  // the end stands alone.
  const std::string record = Bytes({'A', 0x85, 0x40, 0x81, 0x45, 0x88, 0x00, 0x88, 0x9F, 0x88});
  const Decoded d = DecodeWith(*code_page, record);
  EXPECT_EQ(d.text,
            u"A\xDC85\xDC40\u30FB\xDC88"
            u"\0"
            u"亜\xDC88"sv);
  EXPECT_EQ(d.offsets, (std::vector<std::uint32_t>{0, 1, 2, 3, 5, 6, 7, 9}));
  EXPECT_EQ(d.bad, 3u);
  EXPECT_EQ(d, Cp932Reference(record));
}

TEST(Cp932CodePageTest, RandomBytesDecodeAsWindowsWalksThem) {
  std::mt19937 random(932);
  const auto code_page = MustOpen("cp932");
  DecodedText out;
  for (int r = 0; r < 5000; ++r) {
    std::string record(random() % 64, '\0');
    for (char& c : record) c = static_cast<char>(random() % 4 ? 0x80 + random() % 0x80 : random());
    ASSERT_EQ(DecodeWith(*code_page, record, out), Cp932Reference(record)) << r;
  }
}

// UTF-8 and EUC-JP against ICU on random bytes: the UTF-8 decoder is this program's own, and
// EUC-JP takes its ASCII beginning without ICU.
TEST(AsciiCompatibleCodePageTest, RandomBytesDecodeAsIcuDecodesThem) {
  std::mt19937 random(8);
  for (const char* name : {"utf-8", "euc-jp"}) {
    const auto code_page = MustOpen(name);
    IcuReference icu(name);
    DecodedText out;
    const std::string samples[] = {"\xE3\x81\x82", "\xF0\x9F\x98\x80", "\xA4\xA2", "\x8E\xB1",
                                   "\x8F\xB0\xA1", "\xC3\xA9",         "AB12"};
    for (int r = 0; r < 5000; ++r) {
      std::string record;
      const int pieces = static_cast<int>(random() % 12);
      for (int i = 0; i < pieces; ++i) {
        if (random() % 4 == 0) {
          record += static_cast<char>(random());
        } else {
          record += samples[random() % std::size(samples)];
        }
      }
      ASSERT_EQ(DecodeWith(*code_page, record, out), icu.Decode(record)) << name << " " << r;
    }
  }
}

TEST(AsciiCompatibleCodePageTest, ByteOrderMarkOnlyAtTheStartOfAUtf8File) {
  const auto utf8 = MustOpen("utf-8");
  const auto cp932 = MustOpen("cp932");
  const std::string first =
      "\xEF\xBB\xBF"
      "A\xE3\x81\x82";
  EXPECT_EQ(utf8->WithoutByteOrderMark(first), "A\xE3\x81\x82");
  EXPECT_EQ(utf8->WithoutByteOrderMark("A"), "A");
  EXPECT_EQ(cp932->WithoutByteOrderMark(first), first);
  // Decoded as a record, the mark is the character it is.
  const Decoded d = DecodeWith(*utf8, first);
  EXPECT_EQ(d.text, u"\uFEFFAあ");
  EXPECT_EQ(d.offsets, (std::vector<std::uint32_t>{0, 3, 4}));
}

// A record most runs never decode: its bytes looked at for anything undecodable, and the
// characters of its key decoded alone. The look may only say clean where the decode finds
// nothing, and must say it for records of plain text (else every record is decoded); a prefix
// gives what the whole decode gives for the characters that start in it, at every cut.
TEST(CodePageTest, TheLookAtTheBytesAndThePrefixAgreeWithTheWholeDecode) {
  std::mt19937 random(1390);
  const std::pair<const char*, std::vector<std::string>> pieces[] = {
      {"ibm-930",
       {Bytes({0xC1}), Bytes({0xF1, 0x40}), Bytes({0x0E, 0x45, 0x41, 0x45, 0x42, 0x0F}),
        Bytes({0x81})}},
      {"ibm-1390", {Bytes({0xC1}), Bytes({0x0E, 0x45, 0x41, 0x0F}), Bytes({0x40, 0x40})}},
      {"utf-8", {"A", "\xE4\xB8\x80", "\xC3\xA9", "12"}},
      {"cp932", {"A", "\x88\xEA", "\xB1", "12"}},
      {"euc-jp", {"A", "\xB0\xEC", "\x8E\xB1"}},
  };
  for (const auto& [name, samples] : pieces) {
    const auto code_page = MustOpen(name);
    DecodedText whole, prefix;
    int clean = 0, looked_clean = 0;
    for (int r = 0; r < 3000; ++r) {
      std::string record;
      const int count = static_cast<int>(random() % 30);
      const bool plain = r % 2 == 0;  // characters only
      for (int i = 0; i < count; ++i) {
        if (!plain && random() % 6 == 0) {
          record += static_cast<char>(random());  // a stray byte, a shift out of turn
        } else {
          record += samples[random() % samples.size()];
        }
      }
      const std::size_t bad = code_page->Decode(record, whole);
      const bool looked = code_page->KnownClean(record);
      ASSERT_FALSE(looked && bad != 0) << name << " " << r;
      clean += bad == 0;
      looked_clean += looked;
      for (std::size_t cut = 0; cut <= record.size(); ++cut) {
        code_page->DecodePrefix(record, cut, prefix);
        std::u16string a, b;
        for (std::size_t i = 0; i < whole.size() && whole.offsets()[i] < cut; ++i) {
          a += whole.text()[i];
        }
        for (std::size_t i = 0; i < prefix.size() && prefix.offsets()[i] < cut; ++i) {
          b += prefix.text()[i];
        }
        ASSERT_EQ(a, b) << name << " record " << r << " cut at " << cut;
      }
    }
    if (std::string_view(name) != "euc-jp") {  // decoded always: the look never says clean
      EXPECT_GT(looked_clean, clean * 9 / 10) << name;
    } else {
      EXPECT_EQ(looked_clean, 0);
    }
  }
}

// Long double-byte runs, which the look goes over sixteen bytes at a time: kanji of full rows,
// blanks, and now and then a pair that is no character (a trail out of range, a blank's lead
// with another trail, an SO inside) anywhere in the run. Shifts are well formed, so the look
// says clean exactly when the decode finds nothing undecodable.
TEST(HostCodePageTest, TheLookOverLongDoubleByteRunsFindsEveryPairThatIsNoCharacter) {
  std::mt19937 random(939);
  for (const char* name : kHostCodePages) {
    const auto code_page = MustOpen(name);
    DecodedText out;
    int clean = 0;
    for (int r = 0; r < 4000; ++r) {
      std::string record = Bytes({0xC1});
      const int runs = 1 + static_cast<int>(random() % 3);
      for (int run = 0; run < runs; ++run) {
        record += '\x0E';
        const int pairs = static_cast<int>(random() % 40);
        const bool spoil = random() % 3 == 0;
        const int spoilt = pairs > 0 ? static_cast<int>(random() % pairs) : -1;
        for (int k = 0; k < pairs; ++k) {
          int lead = 0x45 + static_cast<int>(random() % 0x10);  // kanji
          int trail = 0x41 + static_cast<int>(random() % 0xBE);
          if (random() % 4 == 0) lead = trail = 0x40;  // the blank
          if (spoil && k == spoilt) {
            const int how = static_cast<int>(random() % 4);
            if (how == 0) trail = 0xFF;
            if (how == 1) trail = 0x3F;
            if (how == 2) lead = 0x40;  // 0x40 with a trail other than 0x40
            if (how == 3) lead = 0x0E;
            if (how == 2 && trail == 0x40) trail = 0x41;
          }
          record += static_cast<char>(lead);
          record += static_cast<char>(trail);
        }
        record += '\x0F';
        record += static_cast<char>(0xC1 + random() % 9);
      }
      const std::size_t bad = code_page->Decode(record, out);
      ASSERT_EQ(code_page->KnownClean(record), bad == 0) << name << " record " << r;
      clean += bad == 0;
    }
    EXPECT_GT(clean, 1000) << name;
    EXPECT_LT(clean, 3900) << name;
  }
}

// The key of a record known to be characters only, made from as little as it needs (its bytes
// alone where they are single-byte characters up to the key's end, else a prefix decoded): the
// key of the whole decoded record, for any ranges, padding trimmed or not, BOM or not.
TEST(CodePageCodingTest, KeysOfCleanRecordsAreTheKeysOfTheirWholeText) {
  std::mt19937 random(390);
  const std::pair<const char*, std::vector<std::string>> pieces[] = {
      {"ibm-930",
       {Bytes({0xC1}), Bytes({0xF1}), Bytes({0x40}), Bytes({0x81}),
        Bytes({0x0E, 0x45, 0x41, 0x40, 0x40, 0x0F})}},
      {"ibm-1390", {Bytes({0xC1}), Bytes({0x0E, 0x45, 0x41, 0x0F}), Bytes({0x40})}},
      {"utf-8", {"A", "\xE4\xB8\x80", " ", "\xE3\x80\x80"}},
  };
  const char* range_texts[] = {"1-3", "2-2", "1-1,4-9", "3-12,1-2", "5-40", "30-31"};
  for (const auto& [name, samples] : pieces) {
    std::string message;
    const auto coding = CodePageCoding::Open(name, message);
    ASSERT_NE(coding, nullptr) << message;
    const auto decoder = coding->NewDecoder();
    const auto whole = coding->NewDecoder();
    for (const char* range_text : range_texts) {
      RangeList ranges;
      ASSERT_EQ(ParseRangeText(range_text, ranges), ParseOutcome::kValid);
      for (const bool trim : {false, true}) {
        KeyBuilder keys(ranges, trim);
        for (int r = 0; r < 400; ++r) {
          std::string record =
              r % 7 == 0 && std::string_view(name) == "utf-8" ? "\xEF\xBB\xBF" : "";
          const int count = static_cast<int>(random() % 16);
          for (int i = 0; i < count; ++i) record += samples[random() % samples.size()];
          const bool first = r % 2 == 0;
          if (!decoder->KnownClean(record, first)) continue;
          KeyText expected, got;
          keys.BuildFromText(whole->Decode(record, first), expected);
          keys.BuildOfCleanRecord(*decoder, record, first, got);
          ASSERT_EQ(got.view(), expected.view()) << name << " " << range_text << " " << r;
        }
      }
    }
  }
}

// The same text in every code page compares equal once decoded.
TEST(CodePageTest, SameTextInEveryCodePageDecodesTheSame) {
  const std::pair<const char*, std::string> records[] = {
      {"cp932", "A1\x88\xEA\x93\xF1\xB1"},
      {"utf-8", "A1\xE4\xB8\x80\xE4\xBA\x8C\xEF\xBD\xB1"},
      {"euc-jp", "A1\xB0\xEC\xC6\xF3\x8E\xB1"},
      {"ibm-930", Bytes({0xC1, 0xF1, 0x0E, 0x45, 0x41, 0x45, 0x42, 0x0F, 0x81})},
      {"ibm-1390", Bytes({0xC1, 0xF1, 0x0E, 0x45, 0x41, 0x45, 0x42, 0x0F, 0x81})},
  };
  for (const auto& [name, record] : records) {
    EXPECT_EQ(DecodeWith(*MustOpen(name), record).text, u"A1一二ｱ") << name;
  }
}

}  // namespace
}  // namespace vesmer
