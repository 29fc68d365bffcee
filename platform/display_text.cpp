#include "platform/display_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

#include "platform/cp932.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

constexpr char kHex[] = "0123456789ABCDEF";

void AppendByteEscape(unsigned byte, std::string& out) {
  out += "\\x";
  out += kHex[(byte >> 4) & 0xF];
  out += kHex[byte & 0xF];
}

void AppendCodePoint(char32_t cp, std::string& out) {
  out += "U+";
  int digits = 4;
  while (digits < 6 && (cp >> (4 * digits)) != 0) ++digits;
  for (int d = digits - 1; d >= 0; --d) out += kHex[(cp >> (4 * d)) & 0xF];
}

bool IsControl(char32_t cp) { return cp < 0x20 || cp == 0x7F; }

// Walks `text` by characters: a surrogate pair is one, anything else one unit. `visit` gets
// the code point and whether it is a lone surrogate.
template <typename Visit>
void ForEachCharacter(std::u16string_view text, Visit visit) {
  const std::size_t n = text.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < n && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      visit(0x10000 + ((char32_t{unit} - 0xD800) << 10) + (text[i + 1] - 0xDC00), false);
      ++i;
    } else {
      visit(char32_t{unit}, unit >= 0xD800 && unit <= 0xDFFF);
    }
  }
}

// Code page 932's bytes for each code unit it has as itself (encoded, then decoded back the
// same), else 0: what Windows would write as a best fit or '?' is not the character.
struct DisplayTable {
  std::array<std::uint16_t, 65536> bytes{};
  DisplayTable() {
    std::u16string all(65536, u'\0');
    for (std::size_t u = 0; u < all.size(); ++u) all[u] = static_cast<char16_t>(u);
    const std::string encoded = cp932::Encode(all);
    // One character of code page 932 for each unit, and back one unit for each character.
    const std::u16string decoded = cp932::Decode(encoded);
    std::size_t at = 0;
    for (std::size_t u = 0; u < all.size(); ++u) {
      const std::size_t length = cp932::CharLength(encoded.data() + at, encoded.size() - at);
      std::uint16_t code = static_cast<std::uint8_t>(encoded[at]);
      if (length == 2)
        code = static_cast<std::uint16_t>(code << 8 | static_cast<std::uint8_t>(encoded[at + 1]));
      if (decoded[u] == all[u]) bytes[u] = code;
      at += length;
    }
  }
};

const DisplayTable& GetDisplayTable() {
  static const auto table = std::make_unique<const DisplayTable>();
  return *table;
}

// AppendCp932Display character by character.
void AppendCp932DisplaySlowly(std::u16string_view text, std::string& out) {
  const auto& bytes = GetDisplayTable().bytes;
  ForEachCharacter(text, [&](char32_t cp, bool lone_surrogate) {
    if (lone_surrogate) {
      if (cp >= kByteEscapeFirst && cp <= kByteEscapeLast) {
        AppendByteEscape(cp - kByteEscapeFirst, out);
      } else {
        AppendCodePoint(cp, out);
      }
    } else if (IsControl(cp)) {
      AppendByteEscape(cp, out);
    } else if (cp < 0x10000 && bytes[cp] != 0) {
      const std::uint16_t code = bytes[cp];
      if (code > 0xFF) out += static_cast<char>(code >> 8);
      out += static_cast<char>(code & 0xFF);
    } else {
      AppendCodePoint(cp, out);
    }
  });
}

}  // namespace

void AppendCp932Display(std::u16string_view text, std::string& out) {
  const auto& bytes = GetDisplayTable().bytes;
  // Printable ASCII and what the table has, the most of any text, written through a pointer
  // into room made once (two bytes a unit at most); anything else as the walk below says, its
  // room made as it needs it, growing the buffer by half again so that a text of many such
  // characters costs no more than one of few.
  const std::size_t n = text.size();
  std::size_t used = out.size();
  out.resize(used + 2 * n);
  std::string slow;
  for (std::size_t i = 0; i < n;) {
    char* p = out.data() + used;
    for (; i < n; ++i) {
      const char16_t u = text[i];
      if (u >= 0x20 && u < 0x7F) {
        *p++ = static_cast<char>(u);
        continue;
      }
      const std::uint16_t code = u >= 0x80 && (u < 0xD800 || u > 0xDFFF) ? bytes[u] : 0;
      if (code == 0) break;
      if (code > 0xFF) *p++ = static_cast<char>(code >> 8);
      *p++ = static_cast<char>(code & 0xFF);
    }
    used = static_cast<std::size_t>(p - out.data());
    if (i == n) break;
    // One character the walk below writes: a control, a surrogate, one the table lacks.
    const std::size_t length = text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < n &&
                                       text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF
                                   ? 2
                                   : 1;
    slow.clear();
    AppendCp932DisplaySlowly(text.substr(i, length), slow);
    i += length;
    // Room for it and for two bytes a unit of the rest.
    const std::size_t needed = used + slow.size() + 2 * (n - i);
    if (needed > out.size()) out.resize(std::max(needed, out.size() + out.size() / 2));
    std::memcpy(out.data() + used, slow.data(), slow.size());
    used += slow.size();
  }
  out.resize(used);
}

void AppendUtf8Display(std::u16string_view text, std::string& out) {
  ForEachCharacter(text, [&](char32_t cp, bool lone_surrogate) {
    if (lone_surrogate) {
      if (cp >= kByteEscapeFirst && cp <= kByteEscapeLast) {
        AppendByteEscape(cp - kByteEscapeFirst, out);
      } else {
        AppendCodePoint(cp, out);
      }
    } else if (IsControl(cp)) {
      AppendByteEscape(cp, out);
    } else {
      AppendUtf8(cp, out);
    }
  });
}

}  // namespace vesmer
