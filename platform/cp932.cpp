#include "platform/cp932.h"

#include <array>
#include <bitset>
#include <cstring>

#include "cp932_table.h"
#include "platform/unicode.h"

namespace vesmer::cp932 {
namespace {

constexpr std::size_t LeadIndex(std::uint8_t lead) {
  return lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 31u;
}

// Full lookup tables built once from the generated data: the encode table by code unit, and
// which single bytes and pairs come back unchanged from a decode and encode.
struct Tables {
  std::array<std::uint16_t, 65536> encode;
  std::bitset<256> single_round_trips;
  std::bitset<cp932_table::kLeadCount * 256> pair_round_trips;

  Tables() {
    encode.fill('?');
    for (const auto& e : cp932_table::kEncode) encode[e.unit] = e.bytes;
    for (unsigned b = 0; b < 256; ++b) {
      if (!IsLeadByte(static_cast<std::uint8_t>(b))) {
        single_round_trips[b] = encode[cp932_table::kSingle[b]] == b;
      }
    }
    for (std::size_t lead = 0; lead < cp932_table::kLeadCount; ++lead) {
      const auto lead_byte = static_cast<unsigned>(lead < 31 ? 0x81 + lead : 0xE0 + lead - 31);
      for (unsigned trail = 1; trail < 256; ++trail) {
        const std::uint16_t unit = cp932_table::kDouble[lead][trail];
        pair_round_trips[lead * 256 + trail] =
            unit != 0 && encode[unit] == ((lead_byte << 8) | trail);
      }
    }
  }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

}  // namespace

void DecodeAppend(std::string_view bytes, std::u16string& out) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t n = bytes.size();
  const std::size_t base = out.size();
  out.resize(base + n);  // never more units than bytes
  char16_t* dst = out.data() + base;
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t b = p[i];
    if (b < 0x80) {
      *dst++ = b;
      ++i;
    } else if (!IsLeadByte(b)) {
      *dst++ = cp932_table::kSingle[b];
      ++i;
    } else if (i + 1 < n && p[i + 1] != 0) {
      const std::uint16_t unit = cp932_table::kDouble[LeadIndex(b)][p[i + 1]];
      *dst++ = unit != 0 ? unit : kDefaultChar;
      i += 2;
    } else {
      // A lead byte at the end, or before a NUL (which then decodes on its own).
      *dst++ = kDefaultChar;
      ++i;
    }
  }
  out.resize(static_cast<std::size_t>(dst - out.data()));
}

void DecodeAppendUtf8(std::string_view bytes, std::string& out) {
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    const std::uint8_t b = p[i];
    char16_t unit;
    if (b < 0x80) {
      out.push_back(static_cast<char>(b));
      ++i;
      continue;
    }
    if (!IsLeadByte(b)) {
      unit = cp932_table::kSingle[b];
      ++i;
    } else if (i + 1 < n && p[i + 1] != 0) {
      const std::uint16_t u = cp932_table::kDouble[LeadIndex(b)][p[i + 1]];
      unit = u != 0 ? u : kDefaultChar;
      i += 2;
    } else {
      unit = kDefaultChar;
      ++i;
    }
    AppendUtf8(unit, out);
  }
}

namespace {

// The code unit of the character at `p[i]` (`n` bytes in all), and how many bytes it takes.
inline char16_t UnitAt(const std::uint8_t* p, std::size_t i, std::size_t n, std::size_t& taken) {
  const std::uint8_t b = p[i];
  taken = 1;
  if (b < 0x80) return b;
  if (!IsLeadByte(b)) return cp932_table::kSingle[b];
  if (i + 1 < n && p[i + 1] != 0) {
    taken = 2;
    const std::uint16_t unit = cp932_table::kDouble[LeadIndex(b)][p[i + 1]];
    return unit != 0 ? unit : kDefaultChar;
  }
  return kDefaultChar;
}

}  // namespace

bool DecodesEqual(std::string_view a, std::string_view b) {
  const auto* pa = reinterpret_cast<const std::uint8_t*>(a.data());
  const auto* pb = reinterpret_cast<const std::uint8_t*>(b.data());
  std::size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    std::size_t ta, tb;
    if (UnitAt(pa, i, a.size(), ta) != UnitAt(pb, j, b.size(), tb)) return false;
    i += ta;
    j += tb;
  }
  return i == a.size() && j == b.size();
}

std::u16string Decode(std::string_view bytes) {
  std::u16string out;
  DecodeAppend(bytes, out);
  return out;
}

void EncodeAppend(std::u16string_view text, std::string& out) {
  const auto& encode = GetTables().encode;
  out.reserve(out.size() + text.size() * 2);
  for (const char16_t unit : text) {
    const std::uint16_t code = encode[unit];
    if (code > 0xFF) out.push_back(static_cast<char>(code >> 8));
    out.push_back(static_cast<char>(code & 0xFF));
  }
}

std::string Encode(std::u16string_view text) {
  std::string out;
  EncodeAppend(text, out);
  return out;
}

bool IsAscii(std::string_view bytes) {
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  std::uint64_t high = 0;
  for (; n >= 8; p += 8, n -= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, sizeof word);
    high |= word;
  }
  for (; n > 0; ++p, --n) high |= static_cast<std::uint8_t>(*p);
  return (high & 0x8080808080808080ull) == 0;
}

bool RoundTrips(std::string_view bytes) {
  const Tables& tables = GetTables();
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // Skip ASCII eight bytes at a time: it always round-trips.
    while (i + 8 <= n) {
      std::uint64_t word;
      std::memcpy(&word, p + i, sizeof word);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    if (i >= n) break;
    const std::uint8_t b = p[i];
    if (b < 0x80) {
      ++i;
    } else if (!IsLeadByte(b)) {
      if (!tables.single_round_trips[b]) return false;
      ++i;
    } else {
      if (i + 1 >= n || p[i + 1] == 0) return false;
      if (!tables.pair_round_trips[LeadIndex(b) * 256 + p[i + 1]]) return false;
      i += 2;
    }
  }
  return true;
}

std::string_view Canonical(std::string_view bytes, std::string& scratch) {
  if (RoundTrips(bytes)) return bytes;
  std::u16string text;
  DecodeAppend(bytes, text);
  scratch.clear();
  EncodeAppend(text, scratch);
  return scratch;
}

std::string FromUtf8(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  std::u16string units;
  for (std::size_t i = 0; i < utf8.size();) {
    std::size_t taken = 0;
    const char32_t cp = DecodeUtf8(utf8.data() + i, utf8.size() - i, taken);
    i += taken;
    units.clear();
    AppendUtf16(cp, units);
    EncodeAppend(units, out);
  }
  return out;
}

std::string ToUtf8(std::string_view cp932_bytes) { return Utf16ToUtf8(Decode(cp932_bytes)); }

}  // namespace vesmer::cp932
