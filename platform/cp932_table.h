// Raw code page 932 tables, generated from Windows' own mapping data.
// Use the functions of cp932.h instead of reading these directly.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vesmer::cp932_table {

inline constexpr std::size_t kLeadCount = 60;
inline constexpr std::size_t kEncodeCount = 9486;

struct EncodeEntry {
  std::uint16_t unit;
  std::uint16_t bytes;
};

extern const std::uint16_t kSingle[256];
extern const std::uint16_t kDouble[kLeadCount][256];
extern const EncodeEntry kEncode[kEncodeCount];

}  // namespace vesmer::cp932_table
