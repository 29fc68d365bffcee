// UTF-8 and UTF-16 conversions for the program's texts. Malformed input becomes U+FFFD.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesmer {

inline constexpr char32_t kReplacementChar = U'\uFFFD';

// Decodes one code point from UTF-8 at `p` (`n` > 0 bytes left) and stores how many bytes it
// took. A malformed sequence yields U+FFFD and consumes its maximal valid prefix (at least 1).
// With `complete` false, a sequence cut off by the end of `p` reports 0 bytes taken so the
// caller can retry once more input is at hand.
char32_t DecodeUtf8(const char* p, std::size_t n, std::size_t& taken, bool complete = true);

void AppendUtf8(char32_t cp, std::string& out);
void AppendUtf16(char32_t cp, std::u16string& out);

[[nodiscard]] std::u16string Utf8ToUtf16(std::string_view utf8);
[[nodiscard]] std::string Utf16ToUtf8(std::u16string_view utf16);

// Characters of a user's text a message shows at most.
inline constexpr std::size_t kShownCharacters = 80;

// `text` (meant to be UTF-8) as a message on a terminal may echo it: each control character
// (C0, DEL, C1) and each byte outside well-formed UTF-8 becomes `\xNN` per byte,
// so nothing reaches the terminal raw and no byte is lost from view; and a text longer than
// `max_characters` (an escape counting as its four) is cut at a character boundary and ends
// in "…".
[[nodiscard]] std::string ShownText(std::string_view text,
                                    std::size_t max_characters = kShownCharacters);

}  // namespace vesmer
