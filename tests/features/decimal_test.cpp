#include "numbers/decimal.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace vesmer {
namespace {

Decimal Make(bool negative, DecimalCoefficient coefficient, int scale) {
  Decimal value;
  EXPECT_TRUE(Decimal::FromParts(negative, coefficient, scale, value));
  return value;
}

// 10^n, written out so that the tests do not lean on the code's own table.
DecimalCoefficient Power(int n) {
  DecimalCoefficient p = 1;
  for (int i = 0; i < n; ++i) p *= 10;
  return p;
}

TEST(DecimalTest, CanonicalText) {
  EXPECT_EQ(Make(false, 12345, 2).ToString(), "123.45");
  EXPECT_EQ(Make(false, 123450, 3).ToString(), "123.45");
  EXPECT_EQ(Make(true, 5, 1).ToString(), "-0.5");
  EXPECT_EQ(Make(false, 5, 2).ToString(), "0.05");
  EXPECT_EQ(Make(false, 100, 0).ToString(), "100");
  EXPECT_EQ(Make(false, 10000, 2).ToString(), "100");
  EXPECT_EQ(Make(false, 0, 5).ToString(), "0");
  EXPECT_EQ(Make(true, 0, 0).ToString(), "0");
  EXPECT_EQ(Decimal().ToString(), "0");
  EXPECT_EQ(Make(false, 1, 0).ToString(), "1");
  EXPECT_EQ(Make(true, 1000000000000000000ULL, 18).ToString(), "-1");
  // Across the 19-digit chunks the text is made of: zeros inside a chunk are kept.
  EXPECT_EQ(Make(false, Power(19), 0).ToString(), "10000000000000000000");
  EXPECT_EQ(Make(false, Power(19) + 7, 0).ToString(), "10000000000000000007");
  EXPECT_EQ(Make(false, Power(30) + 1, 30).ToString(), "1.000000000000000000000000000001");
}

TEST(DecimalTest, LargestAndSmallest) {
  const DecimalCoefficient nines = Power(38) - 1;
  EXPECT_EQ(Make(false, nines, 0).ToString(), std::string(38, '9'));
  EXPECT_EQ(Make(true, nines, 0).ToString(), "-" + std::string(38, '9'));
  EXPECT_EQ(Make(true, nines, 38).ToString(), "-0." + std::string(38, '9'));
  const std::string tiny = Make(true, 1, 38).ToString();
  EXPECT_EQ(tiny, "-0." + std::string(37, '0') + "1");
  EXPECT_EQ(tiny.size(), Decimal::kMaxTextSize);
  Decimal untouched = Make(false, 7, 0);
  EXPECT_FALSE(Decimal::FromParts(false, Power(38), 0, untouched));
  EXPECT_FALSE(Decimal::FromParts(false, 1, 39, untouched));
  EXPECT_FALSE(Decimal::FromParts(false, 1, -1, untouched));
  EXPECT_EQ(untouched.ToString(), "7");
  EXPECT_EQ(Decimal::FromInteger(std::numeric_limits<std::int64_t>::min()).ToString(),
            "-9223372036854775808");
  EXPECT_EQ(Decimal::FromInteger(std::numeric_limits<std::int64_t>::max(), 4).ToString(),
            "922337203685477.5807");
}

TEST(DecimalTest, EqualByValueWhateverTheScale) {
  EXPECT_EQ(Make(false, 123450, 3), Make(false, 12345, 2));
  EXPECT_EQ(Make(true, 0, 2), Decimal());
  EXPECT_FALSE(Make(true, 0, 2).negative());
  EXPECT_EQ(Make(false, 5, 0), Make(false, 500000, 5));
  EXPECT_NE(Make(false, 5, 0), Make(true, 5, 0));
  EXPECT_NE(Make(false, 12345, 2), Make(false, 12345, 3));
  // 10^37 - 1 against 9999999999999999999999999999999999999.0: the same value at scale 1.
  EXPECT_EQ(Make(false, Power(37) - 1, 0), Make(false, Power(38) - 10, 1));
}

TEST(DecimalTest, OrderedByValue) {
  const Decimal ordered[] = {Make(true, Power(38) - 1, 0),
                             Make(true, 1, 0),
                             Make(true, 5, 1),
                             Make(true, 1, 38),
                             Decimal(),
                             Make(false, 1, 38),
                             Make(false, 1, 3),
                             Make(false, 1, 0),
                             Make(false, 1001, 3),
                             Make(false, Power(38) - 1, 1),
                             Make(false, Power(37), 0),
                             Make(false, Power(38) - 1, 0)};
  constexpr std::size_t n = std::size(ordered);
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = 0; j < n; ++j) {
      EXPECT_EQ(ordered[i] < ordered[j], i < j) << i << " " << j;
      EXPECT_EQ(ordered[i] == ordered[j], i == j) << i << " " << j;
    }
  }
}

}  // namespace
}  // namespace vesmer
