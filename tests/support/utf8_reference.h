// The UTF-8 to code page 932 conversion done one character at a time through UTF-16, as the
// program first did it: the reference the direct encoder must match byte for byte. Also a
// generator of UTF-8-like test input full of the cases a decoder gets wrong.
#pragma once

#include <cstddef>
#include <random>
#include <string>
#include <string_view>

#include "platform/cp932.h"
#include "platform/unicode.h"

namespace vesmer::testing {

// Every character decoded on its own, turned into UTF-16 units and encoded unit by unit.
inline std::string ReferenceUtf8ToCp932(std::string_view utf8) {
  std::string out;
  std::u16string units;
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t taken = 0;
    const char32_t cp = DecodeUtf8(utf8.data() + i, utf8.size() - i, taken);
    i += taken;
    units.clear();
    AppendUtf16(cp, units);
    cp932::EncodeAppend(units, out);
  }
  return out;
}

// What the input conversion writes for a whole file: a byte order mark at the start dropped.
inline std::string ReferenceUtf8InputConversion(std::string_view utf8) {
  if (utf8.substr(0, 3) == "\xEF\xBB\xBF") utf8.remove_prefix(3);
  return ReferenceUtf8ToCp932(utf8);
}

// Appends the UTF-8 form of `cp` without any check, so surrogates and values past U+10FFFF
// come out as the malformed sequences a careless encoder would write.
inline void AppendRawUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Random text of about `pieces` pieces: ASCII runs of every length (word edges), kana, kanji,
// Latin, astral characters, and the malformed forms (stray continuation bytes, overlong forms,
// encoded surrogates, values past U+10FFFF, cut sequences, bytes that never start one).
inline std::string RandomUtf8Like(std::mt19937& rng, int pieces) {
  const auto pick = [&rng](unsigned lo, unsigned hi) {
    return std::uniform_int_distribution<unsigned>(lo, hi)(rng);
  };
  std::string out;
  for (int i = 0; i < pieces; ++i) {
    switch (pick(0, 11)) {
      case 0:
      case 1: {
        const unsigned n = pick(0, 40);
        for (unsigned k = 0; k < n; ++k) out += static_cast<char>(pick(0, 0x7F));
        break;
      }
      case 2:
        AppendRawUtf8(pick(0x3041, 0x30FF), out);  // kana
        break;
      case 3:
        AppendRawUtf8(pick(0x4E00, 0x9FFF), out);  // kanji
        break;
      case 4:
        AppendRawUtf8(pick(0x80, 0x7FF), out);  // Latin, Greek, Cyrillic
        break;
      case 5:
        AppendRawUtf8(pick(0x800, 0xFFFF), out);  // anything in the BMP, surrogates included
        break;
      case 6:
        AppendRawUtf8(pick(0x10000, 0x10FFFF), out);
        break;
      case 7: {  // a valid character cut short
        std::string whole;
        AppendRawUtf8(pick(0x80, 0x10FFFF), whole);
        out += whole.substr(0, pick(1, static_cast<unsigned>(whole.size()) - 1));
        break;
      }
      case 8: {  // an overlong form
        const char32_t cp = pick(0, 0x7FF);
        if (pick(0, 1) == 0) {
          out += static_cast<char>(0xC0 | (cp >> 6));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
          out += '\xE0';
          out += static_cast<char>(0x80 | (cp >> 6));
          out += static_cast<char>(0x80 | (cp & 0x3F));
        }
        break;
      }
      case 9: {  // past U+10FFFF, or an F0 overlong
        const char32_t cp = pick(0, 1) == 0 ? pick(0x110000, 0x1FFFFF) : pick(0, 0xFFFF);
        out += static_cast<char>(0xF0 | ((cp >> 18) & 0x07));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
        break;
      }
      case 10: {
        static constexpr unsigned char kEdges[] = {0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0,
                                                   0xC1, 0xC2, 0xDF, 0xE0, 0xED, 0xEF, 0xF0,
                                                   0xF4, 0xF5, 0xF8, 0xFE, 0xFF};
        out += static_cast<char>(kEdges[pick(0, sizeof kEdges - 1)]);
        break;
      }
      default:
        out += pick(0, 3) == 0 ? "\xEF\xBB\xBF" : "\r\n";
        break;
    }
  }
  return out;
}

}  // namespace vesmer::testing
