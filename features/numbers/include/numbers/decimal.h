// Exact decimal numbers: the values of host number fields (zoned, packed, binary) and of decimal
// texts, compared by value and shown as canonical decimal text. No floating point anywhere.
#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vesmer {

// Up to 38 significant digits and 38 decimal places: every field of up to 16 packed bytes (31
// digits), 8 binary bytes (20 digits) or a zoned field of up to 38 digits fits exactly.
__extension__ using DecimalCoefficient = unsigned __int128;

// A value sign * coefficient / 10^scale. It holds no memory beyond itself, so making one costs
// no allocation. Zero is never negative: -0 and 0 are one value. Values compare by value, so
// 123.450 == 123.45 whatever their scales.
class Decimal {
 public:
  static constexpr int kMaxDigits = 38;
  static constexpr int kMaxScale = 38;
  // The longest canonical text: a sign, "0." and 38 digits.
  static constexpr std::size_t kMaxTextSize = 41;

  constexpr Decimal() = default;

  // The value of the parts. False, with `value` left as it was, when `coefficient` has more than
  // kMaxDigits digits or `scale` is outside 0..kMaxScale.
  [[nodiscard]] static bool FromParts(bool negative, DecimalCoefficient coefficient, int scale,
                                      Decimal& value);
  // A whole number, with `scale` implied places (FromInteger(12345, 2) is 123.45); `scale` must
  // lie within 0..kMaxScale.
  [[nodiscard]] static Decimal FromInteger(std::int64_t whole, int scale = 0);

  [[nodiscard]] bool negative() const { return negative_; }
  [[nodiscard]] DecimalCoefficient coefficient() const { return coefficient_; }
  [[nodiscard]] int scale() const { return scale_; }
  [[nodiscard]] bool IsZero() const { return coefficient_ == 0; }

  // Writes the canonical text into `out` (room for kMaxTextSize bytes) and returns its length:
  // ASCII, '-' for a negative value, no '+', no leading zeros but the one before the point, no
  // trailing zeros after it and no point when nothing follows: "123.45", "-0.5", "0", "100".
  std::size_t ToChars(char* out) const;
  [[nodiscard]] std::string ToString() const;

  friend bool operator==(const Decimal& a, const Decimal& b) { return Compare(a, b) == 0; }
  friend std::strong_ordering operator<=>(const Decimal& a, const Decimal& b) {
    return Compare(a, b) <=> 0;
  }

 private:
  // -1, 0 or 1 as `a` is less than, equal to or greater than `b`, by value.
  static int Compare(const Decimal& a, const Decimal& b);

  DecimalCoefficient coefficient_ = 0;
  std::uint8_t scale_ = 0;
  bool negative_ = false;
};

}  // namespace vesmer
