// Byte string helpers the hot loops share.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesmer {

// How many bytes at the start of `a` and `b` are the same, looked at 16 at a time.
[[nodiscard]] inline std::size_t CommonPrefixLength(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
#if defined(__SSE2__)
  for (; i + 16 <= n; i += 16) {
    const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a.data() + i));
    const __m128i y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data() + i));
    const auto differ = ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(x, y))) & 0xFFFFu;
    if (differ != 0) return i + static_cast<std::size_t>(__builtin_ctz(differ));
  }
#endif
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace vesmer
