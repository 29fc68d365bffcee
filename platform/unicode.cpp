#include "platform/unicode.h"

#include <cstdint>

namespace vesmer {

char32_t DecodeUtf8(const char* p, std::size_t n, std::size_t& taken, bool complete) {
  const auto* s = reinterpret_cast<const std::uint8_t*>(p);
  const std::uint8_t b0 = s[0];
  if (b0 < 0x80) {
    taken = 1;
    return b0;
  }
  std::size_t need;
  char32_t cp;
  std::uint8_t lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    cp = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    cp = b0 & 0x0F;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    cp = b0 & 0x07;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    taken = 1;
    return kReplacementChar;
  }
  std::size_t i = 1;
  for (; i <= need; ++i) {
    if (i >= n) {
      if (!complete) {
        taken = 0;
        return kReplacementChar;
      }
      taken = i;
      return kReplacementChar;
    }
    const std::uint8_t b = s[i];
    const std::uint8_t min = i == 1 ? lo : 0x80;
    const std::uint8_t max = i == 1 ? hi : 0xBF;
    if (b < min || b > max) {
      taken = i;
      return kReplacementChar;
    }
    cp = (cp << 6) | (b & 0x3F);
  }
  taken = i;
  return cp;
}

void AppendUtf8(char32_t cp, std::string& out) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

void AppendUtf16(char32_t cp, std::u16string& out) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
  }
}

std::u16string Utf8ToUtf16(std::string_view utf8) {
  std::u16string out;
  out.reserve(utf8.size());
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t taken = 0;
    AppendUtf16(DecodeUtf8(utf8.data() + i, utf8.size() - i, taken), out);
    i += taken;
  }
  return out;
}

std::string Utf16ToUtf8(std::u16string_view utf16) {
  std::string out;
  out.reserve(utf16.size() * 3);
  for (std::size_t i = 0; i < utf16.size(); ++i) {
    char32_t cp = utf16[i];
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < utf16.size() && utf16[i + 1] >= 0xDC00 &&
        utf16[i + 1] <= 0xDFFF) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (utf16[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp <= 0xDFFF) {
      cp = kReplacementChar;
    }
    AppendUtf8(cp, out);
  }
  return out;
}

std::string ShownText(std::string_view text, std::size_t max_characters) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string shown;
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size();) {
    std::size_t taken = 0;
    const char32_t cp = DecodeUtf8(text.data() + i, text.size() - i, taken);
    // U+FFFD written out is a character like any other; made up by the decoder it stands for
    // bytes that are not UTF-8.
    const bool malformed = cp == kReplacementChar && text.substr(i, 3) != "\xEF\xBF\xBD";
    const bool control = cp < 0x20 || (cp >= 0x7F && cp <= 0x9F);
    const std::size_t width = malformed || control ? 4 * taken : 1;
    if (characters + width > max_characters) {
      shown += "…";
      break;
    }
    characters += width;
    if (malformed || control) {
      for (std::size_t k = i; k < i + taken; ++k) {
        const auto b = static_cast<unsigned char>(text[k]);
        shown += "\\x";
        shown += kHex[b >> 4];
        shown += kHex[b & 0xF];
      }
    } else {
      shown.append(text, i, taken);
    }
    i += taken;
  }
  return shown;
}

}  // namespace vesmer
