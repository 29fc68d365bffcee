#include "engine/record_key.h"

#include <algorithm>
#include <cstdint>

#include "platform/cp932.h"

namespace vesmer {
namespace {

// The bytes of `line` from 1-based `start`, `end - start + 1` of them, fewer or none where the
// line is shorter.
std::string_view Slice(std::string_view line, std::int32_t start, std::int32_t end) {
  const auto first = static_cast<std::uint64_t>(start) - 1;
  if (first >= line.size()) return {};
  const auto length = static_cast<std::uint64_t>(end) - static_cast<std::uint64_t>(start) + 1;
  return line.substr(first, static_cast<std::size_t>(std::min<std::uint64_t>(length, line.size())));
}

}  // namespace

std::string_view KeyLineBytes(std::string_view raw, const RangeList& ranges, std::string& scratch) {
  std::int32_t last = 0;
  for (std::size_t i = 0, n = ranges.UsedPrefix(); i < n; ++i) last = std::max(last, ranges[i].End);
  const std::string_view prefix =
      raw.substr(0, std::min<std::size_t>(raw.size(), static_cast<std::size_t>(last)));
  return cp932::RoundTrips(prefix) ? raw : cp932::Canonical(raw, scratch);
}

void BuildKey(std::string_view line_bytes, const RangeList& ranges, std::string& key) {
  key.clear();
  const std::size_t used = ranges.UsedPrefix();
  for (std::size_t i = 0; i < used; ++i)
    key.append(Slice(line_bytes, ranges[i].Start, ranges[i].End));
  if (cp932::IsAscii(key)) return;
  key.clear();
  for (std::size_t i = 0; i < used; ++i) {
    cp932::DecodeAppendUtf8(Slice(line_bytes, ranges[i].Start, ranges[i].End), key);
  }
}

}  // namespace vesmer
