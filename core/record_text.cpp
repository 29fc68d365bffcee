#include "core/record_text.h"

#include <algorithm>

namespace vesmer {

void AppendRangeText(const DecodedRecord& record, const RangeList& ranges, std::u16string& out) {
  const std::span<const std::uint32_t> offsets = record.offsets;
  for (std::size_t i = 0; i < ranges.UsedPrefix(); ++i) {
    // 1-based columns Start..End are bytes Start-1 .. End-1.
    const auto first = static_cast<std::uint32_t>(ranges[i].Start - 1);
    const auto last = static_cast<std::uint32_t>(ranges[i].End - 1);
    const auto begin = std::lower_bound(offsets.begin(), offsets.end(), first);
    const auto end = std::upper_bound(begin, offsets.end(), last);
    out.append(record.text.substr(static_cast<std::size_t>(begin - offsets.begin()),
                                  static_cast<std::size_t>(end - begin)));
  }
}

void AppendUnpaddedFieldsText(const DecodedRecord& record, const RangeList& ranges,
                              std::u16string& out) {
  const std::span<const std::uint32_t> offsets = record.offsets;
  const auto trim = [&](std::size_t field_start) {
    while (out.size() > field_start && (out.back() == u' ' || out.back() == u'\u3000')) {
      out.pop_back();
    }
  };
  for (std::size_t i = 0; i < ranges.UsedPrefix(); ++i) {
    const auto first = static_cast<std::uint32_t>(ranges[i].Start - 1);
    const auto last = static_cast<std::uint32_t>(ranges[i].End - 1);
    std::size_t u = static_cast<std::size_t>(
        std::lower_bound(offsets.begin(), offsets.end(), first) - offsets.begin());
    const auto end = static_cast<std::size_t>(
        std::upper_bound(offsets.begin() + static_cast<std::ptrdiff_t>(u), offsets.end(), last) -
        offsets.begin());
    while (u < end) {
      // One field's units, then its padding off.
      const std::size_t field_start = out.size();
      const std::uint32_t field = offsets[u];
      for (; u < end && offsets[u] == field; ++u) out.push_back(record.text[u]);
      trim(field_start);
    }
  }
}

void AppendKeyForm(std::u16string_view text, std::string& key) {
  for (const char16_t u : text) {
    if (u < 0x80) {
      key.push_back(static_cast<char>(u));
    } else if (u < 0x800) {
      key.push_back(static_cast<char>(0xC0 | (u >> 6)));
      key.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    } else {
      key.push_back(static_cast<char>(0xE0 | (u >> 12)));
      key.push_back(static_cast<char>(0x80 | ((u >> 6) & 0x3F)));
      key.push_back(static_cast<char>(0x80 | (u & 0x3F)));
    }
  }
}

}  // namespace vesmer
