// Byte string helpers the hot loops share.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesmer {

// How many bytes at the start of `a` and `b` are the same, looked at 64 at a time (four loads
// of each under way at once, one branch; the first 64 that differ say where without another
// loop, as files that part every few short lines need), then 16.
[[nodiscard]] inline std::size_t CommonPrefixLength(std::string_view a, std::string_view b) {
  const std::size_t n = std::min(a.size(), b.size());
  std::size_t i = 0;
#if defined(__SSE2__)
  const auto same16 = [&](std::size_t at) {
    return _mm_cmpeq_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a.data() + at)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b.data() + at)));
  };
  const auto bits = [](__m128i same, int shift) {
    return std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(same))} << shift;
  };
  for (; i + 64 <= n; i += 64) {
    const __m128i s0 = same16(i), s1 = same16(i + 16), s2 = same16(i + 32), s3 = same16(i + 48);
    const __m128i same = _mm_and_si128(_mm_and_si128(s0, s1), _mm_and_si128(s2, s3));
    if (_mm_movemask_epi8(same) != 0xFFFF) {
      const std::uint64_t differ = ~(bits(s0, 0) | bits(s1, 16) | bits(s2, 32) | bits(s3, 48));
      return i + static_cast<std::size_t>(__builtin_ctzll(differ));
    }
  }
  for (; i + 16 <= n; i += 16) {
    const auto differ = ~static_cast<unsigned>(_mm_movemask_epi8(same16(i))) & 0xFFFFu;
    if (differ != 0) return i + static_cast<std::size_t>(__builtin_ctz(differ));
  }
#endif
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

}  // namespace vesmer
