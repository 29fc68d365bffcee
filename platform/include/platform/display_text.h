// Decoded record text as people read it in a result list (code page 932) or in the HTML report
// (UTF-8): nothing that is not what the record holds is shown as if it were.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace vesmer {

// A byte that is no character of the code page decodes to the lone surrogate U+DC00 + byte (as
// Python's "surrogateescape" does). No decoder gives a lone surrogate for real text, so such a
// unit never equals a character: two records compare by those bytes, and shown it is `\xNN`.
inline constexpr char16_t kByteEscapeFirst = 0xDC00;
inline constexpr char16_t kByteEscapeLast = 0xDCFF;
[[nodiscard]] constexpr char16_t ByteEscape(std::uint8_t b) {
  return static_cast<char16_t>(kByteEscapeFirst + b);
}

// Appends `text` (UTF-16, as CodePage::Decode gives it) to `out` as code page 932 bytes:
// - a character code page 932 has as itself: its bytes (never a best fit: a character it lacks
//   must not turn into another one);
// - a byte escape (a lone U+DC00 + byte): `\xNN`, the byte in uppercase hexadecimal;
// - a control character (U+0000-U+001F, U+007F): `\xNN` of its code;
// - any other character it lacks, and a lone surrogate: `U+XXXX`, 4 to 6 uppercase hex digits.
void AppendCp932Display(std::u16string_view text, std::string& out);

// The same for UTF-8 output: every character as itself, the escapes and controls as `\xNN`, a
// lone surrogate that is no escape as `U+XXXX`.
void AppendUtf8Display(std::u16string_view text, std::string& out);

}  // namespace vesmer
