// Code page 932 (Shift-JIS as Windows reads and writes it): the character walk, decoding to
// UTF-16 and encoding back, byte for byte as Windows does.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace vesmer::cp932 {

// The character Windows substitutes for a byte sequence that is not in the table.
inline constexpr char16_t kDefaultChar = u'\u30FB';

// 0x81-0x9F and 0xE0-0xFC start a double-byte character.
[[nodiscard]] constexpr bool IsLeadByte(std::uint8_t b) {
  return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

// Bytes the character at `p` takes, `n` > 0 bytes being left: 2 for a lead byte followed by any
// non-zero byte (even a pair that is not in the table), else 1.
[[nodiscard]] inline std::size_t CharLength(const char* p, std::size_t n) {
  return (n >= 2 && IsLeadByte(static_cast<std::uint8_t>(p[0])) && p[1] != 0) ? 2 : 1;
}

// True when every byte is below 0x80: such bytes decode to the same code units. A word at a
// time; inline, as keys of a few bytes ask it for every record.
[[nodiscard]] inline bool IsAscii(std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  std::uint64_t high = 0;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    high |= word;
  }
  for (; n > 0; ++p, --n) high |= static_cast<std::uint8_t>(*p);
  return (high & 0x8080808080808080ull) == 0;
}

// The code unit Windows decodes the single byte `b` (not a lead byte) to. Every such byte has one.
[[nodiscard]] char16_t SingleUnit(std::uint8_t b);

// The code unit of the pair `lead` `trail` (`lead` a lead byte, `trail` not NUL), or 0 when the
// pair is not in the table: the pairs Decode gives U+30FB for, though they are not that character.
[[nodiscard]] char16_t PairUnit(std::uint8_t lead, std::uint8_t trail);

// Decodes code page 932 bytes and appends the UTF-16 text to `out`. Never fails: pairs that
// are not in the table and a lead byte at the end give U+30FB.
void DecodeAppend(std::string_view bytes, std::u16string& out);
[[nodiscard]] std::u16string Decode(std::string_view bytes);
// Decodes as DecodeAppend does and appends the text as UTF-8.
void DecodeAppendUtf8(std::string_view bytes, std::string& out);

// Encodes UTF-16 text and appends its bytes to `out`: best fit where Windows has one, else '?'.
// A surrogate gives '?' (one per code unit, as Windows does).
void EncodeAppend(std::u16string_view text, std::string& out);
[[nodiscard]] std::string Encode(std::u16string_view text);

// True when Decode(a) == Decode(b), answered without building either.
[[nodiscard]] bool DecodesEqual(std::string_view a, std::string_view b);

// True when Encode(Decode(bytes)) == bytes, answered without building either.
[[nodiscard]] bool RoundTrips(std::string_view bytes);

// RoundTrips of two byte strings at once, their common beginning walked once: the two lines of
// a pair mostly differ in a few columns.
void RoundTripsBoth(std::string_view a, std::string_view b, bool& a_round_trips,
                    bool& b_round_trips);

// Canonical(x).size() for the character x at `p` (CharLength(p, n) bytes, `n` > 0 bytes being
// left): 1 or 2, without building it. A lone lead byte gives the default character's 2.
[[nodiscard]] std::size_t CanonicalCharLength(const char* p, std::size_t n);

// The bytes as Windows holds the same text: Encode(Decode(bytes)). Returns `bytes` itself when
// it round-trips; otherwise builds the canonical form in `scratch` and returns a view of it.
[[nodiscard]] std::string_view Canonical(std::string_view bytes, std::string& scratch);

// Bytes Utf8ToCp932 may write for `utf8_bytes` bytes of input: no sequence gives more than
// two bytes per byte it takes (a malformed byte gives U+FFFD's form).
[[nodiscard]] constexpr std::size_t Utf8ToCp932MaxBytes(std::size_t utf8_bytes) {
  return 2 * utf8_bytes;
}

// Encodes UTF-8 straight to code page 932, byte for byte as decoding each character with
// DecodeUtf8 and encoding its UTF-16 units with EncodeAppend would: malformed UTF-8 gives
// U+FFFD's form, a character outside the BMP one '?' per UTF-16 unit. A byte order mark is text
// here; dropping one is the caller's business.
// `dst` needs room for Utf8ToCp932MaxBytes(utf8.size()) bytes; `written` receives how many were
// written. Returns the bytes of `utf8` consumed. For a stream cut into pieces: with `last` false,
// a sequence cut off by the end of `utf8` (one to three bytes that begin a valid sequence) is
// not consumed, so the caller hands it in again in front of the next piece; with `last` true
// everything is consumed and a cut sequence counts as malformed. Never fails.
[[nodiscard]] std::size_t Utf8ToCp932(std::string_view utf8, char* dst, std::size_t& written,
                                      bool last);
// Utf8ToCp932 appending to `out`; returns the bytes of `utf8` consumed.
std::size_t Utf8ToCp932Append(std::string_view utf8, std::string& out, bool last = true);

// UTF-8 <-> code page 932 for the program's own texts (paths, settings values, range texts).
// Malformed UTF-8 becomes U+FFFD, which encodes as Windows encodes it.
[[nodiscard]] std::string FromUtf8(std::string_view utf8);
[[nodiscard]] std::string ToUtf8(std::string_view cp932_bytes);

}  // namespace vesmer::cp932
