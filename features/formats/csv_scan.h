// What the CSV reader and the field splitter share: the classes of the bytes that mean something
// in a CSV text, and a scan that passes over the bytes that do not, 16 at a time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "platform/fast_paths.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesmer::csv {

enum ByteClass : std::uint8_t {
  kPlain = 0,
  kDelimiter,
  kQuote,
  kCr,
  kLf,
  // The first byte of a Shift-JIS double-byte character, when its second byte could be taken
  // for the delimiter.
  kLead,
};

// The second byte of a double-byte character of code page 932.
inline bool IsTrailByte(unsigned char c) {
  return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC);
}

// Shift-JIS texts need lead bytes looked at only when the delimiter can be a second byte:
// '|', '\', '@', letters, ... The quote and the line ends never can.
inline bool DelimiterInTrailBytes(char delimiter, bool shift_jis) {
  return shift_jis && IsTrailByte(static_cast<unsigned char>(delimiter));
}

// A class for every byte, and the bytes that are not kPlain, for the block scan.
class ByteTable {
 public:
  // The bytes outside quotes: the delimiter, the quote, and the line ends when `line_ends`;
  // Shift-JIS lead bytes when `lead_bytes`.
  static ByteTable Unquoted(char delimiter, bool line_ends, bool lead_bytes) {
    ByteTable t;
    t.Mark(delimiter, kDelimiter);
    t.Mark('"', kQuote);
    if (line_ends) {
      t.Mark('\r', kCr);
      t.Mark('\n', kLf);
    }
    if (lead_bytes) {
      for (int c = 0x81; c <= 0xFC; ++c) {
        if (c <= 0x9F || c >= 0xE0) t.class_[static_cast<std::size_t>(c)] = kLead;
      }
      t.high_bytes_ = true;
    }
    return t;
  }
  // The bytes inside quotes: the quote, and the line ends when `line_ends` (to count lines).
  static ByteTable Quoted(bool line_ends) {
    ByteTable t;
    t.Mark('"', kQuote);
    if (line_ends) {
      t.Mark('\r', kCr);
      t.Mark('\n', kLf);
    }
    return t;
  }

  [[nodiscard]] ByteClass operator[](char c) const {
    return static_cast<ByteClass>(class_[static_cast<unsigned char>(c)]);
  }

  // The first position at or after `from` whose byte is not kPlain; bytes.size() when none.
  [[nodiscard]] std::size_t SkipPlain(std::string_view bytes, std::size_t from) const {
    const char* s = bytes.data();
    const std::size_t n = bytes.size();
    std::size_t p = from;
#if defined(__SSE2__)
    if (kFastPaths) {
      const __m128i a = _mm_set1_epi8(marked_[0]);
      const __m128i b = _mm_set1_epi8(marked_[1]);
      const __m128i c = _mm_set1_epi8(marked_[2]);
      const __m128i d = _mm_set1_epi8(marked_[3]);
      for (; p + 16 <= n; p += 16) {
        const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + p));
        const __m128i hit =
            _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(block, a), _mm_cmpeq_epi8(block, b)),
                         _mm_or_si128(_mm_cmpeq_epi8(block, c), _mm_cmpeq_epi8(block, d)));
        auto mask = static_cast<unsigned>(_mm_movemask_epi8(hit));
        // Bytes from 0x80 stop the block scan when lead bytes count; half-width katakana are
        // plain, and the bytes after them are scanned one by one up to the block's end.
        if (high_bytes_) mask |= static_cast<unsigned>(_mm_movemask_epi8(block));
        while (mask != 0) {
          const std::size_t at = p + static_cast<std::size_t>(__builtin_ctz(mask));
          if (class_[static_cast<unsigned char>(s[at])] != kPlain) return at;
          mask &= mask - 1;
        }
      }
    }
#endif
    while (p < n && class_[static_cast<unsigned char>(s[p])] == kPlain) ++p;
    return p;
  }

 private:
  // The block scan compares with four bytes; a table with fewer repeats one of them.
  void Mark(char c, ByteClass cls) {
    class_[static_cast<unsigned char>(c)] = cls;
    if (marks_ == 0) marked_.fill(c);
    marked_[marks_++] = c;
  }

  std::array<std::uint8_t, 256> class_{};
  std::array<char, 4> marked_{};
  std::size_t marks_ = 0;
  bool high_bytes_ = false;
};

}  // namespace vesmer::csv
