// Powers of ten for exact decimals, shared by the value type and the decoders.
#pragma once

#include <array>

#include "numbers/decimal.h"

namespace vesmer::decimal_internal {

constexpr std::array<DecimalCoefficient, Decimal::kMaxDigits + 1> MakePowers() {
  std::array<DecimalCoefficient, Decimal::kMaxDigits + 1> powers{};
  DecimalCoefficient p = 1;
  for (auto& power : powers) {
    power = p;
    p *= 10;
  }
  return powers;
}

// kPowers[n] is 10^n, n up to 38; a coefficient is below kPowers[38].
inline constexpr auto kPowers = MakePowers();

}  // namespace vesmer::decimal_internal
