// Inside the code pages: the decoders built on ICU, opened by code_page.cpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string>

#include "formats/code_page.h"

namespace vesmer::code_page_internal {

// Opens ICU's converter `name` (not empty, no NUL) as a code page; nullptr when ICU has none by
// that name. The code pages this program was made for take their short names ("ibm-930"),
// whichever of their names was given; others ICU's name ("ibm-37_P100-1995").
[[nodiscard]] std::unique_ptr<CodePage> OpenIcu(const std::string& name);

// True when `a` and `b` are the same converter name as ICU compares them: case, '-', '_' and
// blanks aside.
[[nodiscard]] bool SameConverterName(const char* a, const char* b);

inline constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// Whether the eight bytes of `p` from `i` on (of `n`) are all there and all ASCII.
inline bool EightAsciiAt(const std::uint8_t* p, std::size_t i, std::size_t n) {
  if (i + 8 > n) return false;
  std::uint64_t word;
  std::memcpy(&word, p + i, sizeof word);
  return (word & kHighBits) == 0;
}

// Copies the ASCII bytes of `p` from `i` on (up to `n`) as units at `k`, each with its offset.
// Returns at the first byte that is not ASCII.
inline void CopyAscii(const std::uint8_t* p, std::size_t n, std::size_t& i, char16_t* u,
                      std::uint32_t* o, std::size_t& k) {
  while (i + 8 <= n) {
    std::uint64_t word;
    std::memcpy(&word, p + i, sizeof word);
    if (word & kHighBits) break;
    for (std::size_t j = 0; j < 8; ++j) {
      u[k + j] = p[i + j];
      o[k + j] = static_cast<std::uint32_t>(i + j);
    }
    i += 8;
    k += 8;
  }
  while (i < n && p[i] < 0x80) {
    u[k] = p[i];
    o[k++] = static_cast<std::uint32_t>(i++);
  }
}

}  // namespace vesmer::code_page_internal
