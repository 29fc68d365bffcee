// Range text parsing on arbitrary input: no crash, and every parsed entry is well formed.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/ranges.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string normal = vesmer::NormaliseRangeText(text);
  vesmer::RangeList list;
  if (vesmer::ParseRangeText(normal, list) == vesmer::ParseOutcome::kValid) {
    for (const auto& r : list) {
      if (r.Start < 0 || r.Start > r.End) std::abort();
    }
    (void)vesmer::CheckRangeOverlap(list, list);
  }
  return 0;
}
