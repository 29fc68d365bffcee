#include "core/record_text.h"

#include <algorithm>
#include <array>

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

std::u16string_view FieldText(std::u16string_view text, std::span<const std::uint32_t> offsets,
                              std::int32_t start, std::int32_t length) {
  if (start < 1 || length < 1) return {};
  const auto first = static_cast<std::uint32_t>(start - 1);
  const std::uint64_t end = std::uint64_t{first} + static_cast<std::uint64_t>(length);
  const auto b = std::lower_bound(offsets.begin(), offsets.end(), first);
  const auto e = std::lower_bound(
      b, offsets.end(), end, [](std::uint32_t offset, std::uint64_t to) { return offset < to; });
  return text.substr(static_cast<std::size_t>(b - offsets.begin()),
                     static_cast<std::size_t>(e - b));
}

bool LackDiffers(const DecodedRecord& a, const DecodedRecord& b, std::uint64_t first,
                 std::uint64_t end, const RangeList* omitted) {
  const std::uint64_t to = std::min<std::uint64_t>(end, std::max(a.fields, b.fields));
  for (std::uint64_t f = first; f < to; ++f) {
    if (Lacks(a, f) == Lacks(b, f)) continue;
    if (omitted != nullptr && InOmitRange(*omitted, static_cast<std::uint32_t>(f))) continue;
    return true;
  }
  return false;
}

std::u16string_view Unpadded(std::u16string_view text, bool trim) {
  if (!trim) return text;
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\u3000')) text.remove_suffix(1);
  return text;
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

namespace {

// The key form of a number's canonical decimal text ("-12.5", "0", "100"), ordering by value
// with no byte 00: 01 negative, 02 zero, 03 positive; then the place of the first significant
// digit (80 + its power of ten plus one) and the significant digits without the zeros that end
// them. A negative number has both turned over, and ':' after its digits, so that -1.2 orders
// after -1.23. False, with nothing appended, for a text that is not of that form.
bool AppendNumberKeyForm(std::u16string_view text, std::string& key) {
  const bool negative = !text.empty() && text.front() == u'-';
  if (negative) text.remove_prefix(1);
  const std::size_t point = text.find(u'.');
  const std::u16string_view whole = text.substr(0, point);
  const std::u16string_view part =
      point == std::u16string_view::npos ? std::u16string_view() : text.substr(point + 1);
  if (whole.empty() || (whole.size() > 1 && whole.front() == u'0') ||
      (point != std::u16string_view::npos && (part.empty() || part.back() == u'0'))) {
    return false;
  }
  // A canonical decimal has at most 39 digits; a longer text is none.
  std::array<char, 80> buffer{};
  std::size_t count = 0;
  for (const std::u16string_view piece : {whole, part}) {
    for (const char16_t c : piece) {
      if (c < u'0' || c > u'9' || count == buffer.size()) return false;
      buffer[count++] = static_cast<char>(c);
    }
  }
  std::string_view digits(buffer.data(), count);
  // The first significant digit and its power of ten.
  const std::size_t lead = digits.find_first_not_of('0');
  if (lead == std::string_view::npos) {
    if (negative) return false;  // canonical zero has no sign
    key.push_back('\x02');
    return true;
  }
  const int power = static_cast<int>(whole.size()) - static_cast<int>(lead);
  digits.remove_prefix(lead);
  while (digits.back() == '0') digits.remove_suffix(1);
  const auto place = static_cast<char>(0x80 + power);
  if (!negative) {
    key.push_back('\x03');
    key.push_back(place);
    key.append(digits);
    return true;
  }
  key.push_back('\x01');
  key.push_back(static_cast<char>(0xFF - static_cast<unsigned char>(place)));
  for (const char d : digits) key.push_back(static_cast<char>('9' - d + '0'));
  key.push_back(':');
  return true;
}

}  // namespace

void AppendFieldsKeyForm(const DecodedRecord& record, const RangeList& ranges, bool trim,
                         std::string& key) {
  const std::span<const std::uint32_t> offsets = record.offsets;
  const std::size_t n = offsets.size();
  for (std::size_t i = 0; i < ranges.UsedPrefix(); ++i) {
    // Ranges of columns are ranges of field numbers; fields past the record's last are none.
    const auto first = static_cast<std::uint32_t>(ranges[i].Start - 1);
    const std::uint64_t last =
        std::min<std::uint64_t>(static_cast<std::uint64_t>(ranges[i].End - 1), record.fields);
    auto u = static_cast<std::size_t>(std::lower_bound(offsets.begin(), offsets.end(), first) -
                                      offsets.begin());
    for (std::uint64_t field = first; field <= last && field < record.fields; ++field) {
      const std::size_t start = key.size();
      const std::size_t from = u;
      while (u < n && offsets[u] == field) ++u;
      // The field's units at once; a NUL among them is 00 01, above the end of a field and
      // below every other character.
      std::u16string_view units = record.text.substr(from, u - from);
      if (field < record.numbers.size() && record.numbers[field] != 0) {
        if (AppendNumberKeyForm(units, key)) {
          key.append("\0\0", 2);
          continue;
        }
        key.push_back('\x04');  // no number: after every number
      }
      for (std::size_t nul; (nul = units.find(u'\0')) != std::u16string_view::npos;) {
        AppendKeyForm(units.substr(0, nul), key);
        key.append("\0\1", 2);
        units.remove_prefix(nul + 1);
      }
      AppendKeyForm(units, key);
      if (trim) {
        std::string_view v(key.data() + start, key.size() - start);
        while (v.ends_with(' ') || v.ends_with("\xE3\x80\x80")) {
          v.remove_suffix(v.back() == ' ' ? 1 : 3);
        }
        key.resize(start + v.size());
      }
      key.append("\0\0", 2);
    }
  }
}

void AppendKeyForm(std::u16string_view text, std::string& key) {
  // Written through a pointer into room for the longest form, three bytes a unit.
  const std::size_t at = key.size();
  key.resize(at + 3 * text.size());
  char* p = key.data() + at;
  for (const char16_t u : text) {
    if (u < 0x80) {
      *p++ = static_cast<char>(u);
    } else if (u < 0x800) {
      *p++ = static_cast<char>(0xC0 | (u >> 6));
      *p++ = static_cast<char>(0x80 | (u & 0x3F));
    } else {
      *p++ = static_cast<char>(0xE0 | (u >> 12));
      *p++ = static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      *p++ = static_cast<char>(0x80 | (u & 0x3F));
    }
  }
  key.resize(static_cast<std::size_t>(p - key.data()));
}

}  // namespace vesmer
