#include "numbers/decimal.h"

#include <algorithm>
#include <cassert>

#include "decimal_internal.h"

namespace vesmer {
namespace {

using decimal_internal::kPowers;

// Writes the decimal digits of `n` (at least one) backwards, ending just before `end`; returns
// where they start. Chunks of 19 digits keep the 128-bit divisions to two.
char* WriteDigitsBackwards(DecimalCoefficient n, char* end) {
  constexpr std::uint64_t kChunk = 10'000'000'000'000'000'000ULL;  // 10^19
  char* p = end;
  do {
    auto chunk = static_cast<std::uint64_t>(n % kChunk);
    n /= kChunk;
    const char* const chunk_end = p - 19;
    do {
      *--p = static_cast<char>('0' + chunk % 10);
      chunk /= 10;
    } while (chunk != 0);
    if (n != 0) {
      while (p > chunk_end) *--p = '0';
    }
  } while (n != 0);
  return p;
}

}  // namespace

bool Decimal::FromParts(bool negative, DecimalCoefficient coefficient, int scale, Decimal& value) {
  if (coefficient >= kPowers[kMaxDigits] || scale < 0 || scale > kMaxScale) return false;
  value.coefficient_ = coefficient;
  value.scale_ = static_cast<std::uint8_t>(scale);
  value.negative_ = negative && coefficient != 0;
  return true;
}

Decimal Decimal::FromInteger(std::int64_t whole, int scale) {
  assert(scale >= 0 && scale <= kMaxScale);
  Decimal value;
  value.negative_ = whole < 0;
  // The magnitude of INT64_MIN does not fit an int64_t; it does fit unsigned arithmetic.
  const auto magnitude = static_cast<std::uint64_t>(whole);
  value.coefficient_ = whole < 0 ? 0 - magnitude : magnitude;
  value.scale_ = static_cast<std::uint8_t>(scale);
  return value;
}

int Decimal::Compare(const Decimal& a, const Decimal& b) {
  if (a.negative_ != b.negative_) return a.negative_ ? -1 : 1;
  // The magnitudes, brought to one scale. The one of fewer places is multiplied up; when that
  // would reach 10^38 it is certainly the larger, as the other is below 10^38.
  int magnitude = 0;
  if (a.scale_ == b.scale_) {
    magnitude = a.coefficient_ == b.coefficient_ ? 0 : (a.coefficient_ < b.coefficient_ ? -1 : 1);
  } else {
    const bool a_fewer = a.scale_ < b.scale_;
    const Decimal& fewer = a_fewer ? a : b;
    const Decimal& more = a_fewer ? b : a;
    const int shift = more.scale_ - fewer.scale_;
    int fewer_vs_more = 1;
    if (fewer.coefficient_ < kPowers[kMaxDigits - shift]) {
      const DecimalCoefficient scaled = fewer.coefficient_ * kPowers[shift];
      fewer_vs_more = scaled == more.coefficient_ ? 0 : (scaled < more.coefficient_ ? -1 : 1);
    }
    magnitude = a_fewer ? fewer_vs_more : -fewer_vs_more;
  }
  return a.negative_ ? -magnitude : magnitude;
}

std::size_t Decimal::ToChars(char* out) const {
  // Trailing zeros after the point are no part of the canonical text.
  DecimalCoefficient n = coefficient_;
  int scale = scale_;
  if (n == 0) {
    out[0] = '0';
    return 1;
  }
  while (scale > 0 && n % 10 == 0) {
    n /= 10;
    --scale;
  }
  char digits[kMaxDigits + 2];
  char* const end = digits + sizeof digits;
  const char* start = WriteDigitsBackwards(n, end);
  const auto count = static_cast<int>(end - start);
  char* p = out;
  if (negative_) *p++ = '-';
  if (scale == 0) {
    p = std::copy(start, static_cast<const char*>(end), p);
  } else if (count > scale) {
    p = std::copy(start, start + (count - scale), p);
    *p++ = '.';
    p = std::copy(start + (count - scale), static_cast<const char*>(end), p);
  } else {
    *p++ = '0';
    *p++ = '.';
    p = std::fill_n(p, scale - count, '0');
    p = std::copy(start, static_cast<const char*>(end), p);
  }
  return static_cast<std::size_t>(p - out);
}

std::string Decimal::ToString() const {
  char text[kMaxTextSize];
  return std::string(text, ToChars(text));
}

}  // namespace vesmer
