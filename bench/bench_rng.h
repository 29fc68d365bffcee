// The benchmark generators' random numbers: a small xorshift, the same sequence for the same
// seed on every machine, so generated files are the same from run to run.
#pragma once

#include <cstdint>

namespace vesmer::bench {

class Rng {
 public:
  explicit Rng(std::uint64_t seed) : state_(seed * 0x9E3779B97F4A7C15ull + 1) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ >> 16);
  }
  std::uint32_t Below(std::uint32_t n) { return Next() % n; }

 private:
  std::uint64_t state_;
};

}  // namespace vesmer::bench
