#include "platform/cp932.h"

#include <array>
#include <bit>
#include <bitset>
#include <cstring>

#include "cp932_table.h"
#include "platform/bytes.h"
#include "platform/fast_paths.h"
#include "platform/unicode.h"

namespace vesmer::cp932 {
namespace {

constexpr std::size_t LeadIndex(std::uint8_t lead) {
  return lead <= 0x9F ? lead - 0x81u : lead - 0xE0u + 31u;
}

// Full lookup tables built once from the generated data: the encode table by code unit, and
// which single bytes and pairs come back unchanged from a decode and encode.
enum ByteClass : std::uint8_t { kSingleSame, kSingleChanges, kLeadByte };

struct Tables {
  std::array<std::uint16_t, 65536> encode;
  std::bitset<256> single_round_trips;
  std::bitset<cp932_table::kLeadCount * 256> pair_round_trips;
  // For RoundTrips, small enough to stay in the first-level cache: what a byte is (a single
  // byte that comes back unchanged, one that does not, a lead byte), and one bit for each lead
  // and trail byte pair that comes back unchanged, by `lead << 8 | trail`.
  std::array<std::uint8_t, 256> byte_class{};
  std::array<std::uint64_t, 65536 / 64> pair_bits{};

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
        const bool same = unit != 0 && encode[unit] == ((lead_byte << 8) | trail);
        pair_round_trips[lead * 256 + trail] = same;
        // A lead byte before NUL (trail 0) decodes alone, to the default character: never set.
        // A lead byte before NUL (trail 0) decodes alone, to the default character: never set.
        const unsigned code = (lead_byte << 8) | trail;
        if (same) pair_bits[code >> 6] |= std::uint64_t{1} << (code & 63);
      }
    }
    for (unsigned b = 0; b < 256; ++b) {
      byte_class[b] = IsLeadByte(static_cast<std::uint8_t>(b))
                          ? kLeadByte
                          : (b < 0x80 || single_round_trips[b] ? kSingleSame : kSingleChanges);
    }
  }
};

const Tables& GetTables() {
  static const Tables tables;
  return tables;
}

}  // namespace

char16_t SingleUnit(std::uint8_t b) { return cp932_table::kSingle[b]; }

char16_t PairUnit(std::uint8_t lead, std::uint8_t trail) {
  return cp932_table::kDouble[LeadIndex(lead)][trail];
}

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

namespace {

struct Walked {
  std::size_t at;  // where the walk stopped: a character boundary
  bool ok;         // every character walked comes back unchanged
};

// Walks the characters of p from `i`, checking that each comes back unchanged from a
// decode and encode, up to `stop`. When `stop` is the end of the bytes the walk is whole;
// otherwise a lead byte at stop - 1 is left unwalked, as what it decodes to depends on the byte
// at `stop` (or on there being none).
Walked Walk(const std::uint8_t* p, std::size_t i, std::size_t stop, bool stop_is_end) {
  const Tables& tables = GetTables();
  while (i < stop) {
    // Skip ASCII eight bytes at a time: it always round-trips.
    while (i + 8 <= stop) {
      std::uint64_t word;
      std::memcpy(&word, p + i, sizeof word);
      if (word & 0x8080808080808080ull) break;
      i += 8;
    }
    // Other text: one table look-up a character, by its byte and the next (NUL at the end: a
    // lead byte there decodes alone), until ASCII comes again.
    while (i < stop) {
      const std::uint8_t b = p[i];
      const std::uint8_t kind = tables.byte_class[b];
      if (kind == kSingleSame) {
        ++i;
        if (b < 0x80) break;
        continue;
      }
      if (kind == kSingleChanges) return {i, false};
      if (i + 1 >= stop) return {i, !stop_is_end};  // past `stop`, or a lead byte at the end
      const unsigned code = (unsigned{b} << 8) | p[i + 1];
      if (((tables.pair_bits[code >> 6] >> (code & 63)) & 1) == 0) return {i, false};
      i += 2;
    }
  }
  return {i, true};
}

}  // namespace

bool RoundTrips(std::string_view bytes) {
  if (!kFastPaths) return Encode(Decode(bytes)) == bytes;
  const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
  return Walk(p, 0, bytes.size(), true).ok;
}

void RoundTripsBoth(std::string_view a, std::string_view b, bool& a_round_trips,
                    bool& b_round_trips) {
  const auto* pa = reinterpret_cast<const std::uint8_t*>(a.data());
  const auto* pb = reinterpret_cast<const std::uint8_t*>(b.data());
  // The common beginning is walked once; it ends at the first byte that differs.
  const std::size_t same = CommonPrefixLength(a, b);
  const Walked common = Walk(pa, 0, same, false);
  if (!common.ok) {
    a_round_trips = b_round_trips = false;
    return;
  }
  a_round_trips = Walk(pa, common.at, a.size(), true).ok;
  b_round_trips = Walk(pb, common.at, b.size(), true).ok;
}

std::size_t CanonicalCharLength(const char* p, std::size_t n) {
  std::size_t taken;
  const char16_t unit = UnitAt(reinterpret_cast<const std::uint8_t*>(p), 0, n, taken);
  return GetTables().encode[unit] > 0xFF ? 2 : 1;
}

std::string_view Canonical(std::string_view bytes, std::string& scratch) {
  if (RoundTrips(bytes)) return bytes;
  std::u16string text;
  DecodeAppend(bytes, text);
  scratch.clear();
  EncodeAppend(text, scratch);
  return scratch;
}

std::size_t Utf8ToCp932(std::string_view utf8, char* dst, std::size_t& written, bool last) {
  const std::uint16_t* const encode = GetTables().encode.data();
  const auto* const begin = reinterpret_cast<const std::uint8_t*>(utf8.data());
  const auto* const end = begin + utf8.size();
  const auto* p = begin;
  char* d = dst;
  // Both bytes are stored whatever the width: the second store of a one-byte form lands in room
  // the next character overwrites, and the two-bytes-per-byte bound leaves it room.
  const auto put = [&d, encode](char32_t unit) {
    const std::uint16_t code = encode[unit];
    const bool wide = code > 0xFF;
    d[0] = static_cast<char>(wide ? code >> 8 : code);
    d[1] = static_cast<char>(code & 0xFF);
    d += wide ? 2 : 1;
  };
  constexpr std::uint64_t kHighBits = 0x8080808080808080ull;
  while (p < end) {
    const std::uint8_t b0 = *p;
    if (b0 < 0x80) {
      // ASCII encodes as itself: copy whole words while no byte has its high bit set. A word is
      // stored before it is tested; what lies past the first non-ASCII byte is overwritten later,
      // and 8 bytes of input ahead mean 8 bytes of room ahead.
      while (end - p >= 16) {
        std::uint64_t a, b;
        std::memcpy(&a, p, 8);
        std::memcpy(&b, p + 8, 8);
        if ((a | b) & kHighBits) break;
        std::memcpy(d, &a, 8);
        std::memcpy(d + 8, &b, 8);
        p += 16;
        d += 16;
      }
      if constexpr (std::endian::native == std::endian::little) {
        if (end - p >= 8) {
          std::uint64_t a;
          std::memcpy(&a, p, 8);
          std::memcpy(d, &a, 8);
          const std::uint64_t high = a & kHighBits;
          const std::size_t ascii = high == 0 ? 8 : std::countr_zero(high) / 8;
          p += ascii;
          d += ascii;
          continue;
        }
      }
      while (p < end && *p < 0x80) *d++ = static_cast<char>(*p++);
      continue;
    }
    // Kana and kanji take three bytes, Latin-1 and Greek two: decode the well-formed cases here.
    if (b0 >= 0xE0 && b0 <= 0xEF && end - p >= 3) {
      const std::uint8_t b1 = p[1], b2 = p[2];
      const char32_t cp =
          static_cast<char32_t>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
      // Below U+0800 is an overlong form, D800-DFFF an encoded surrogate: both malformed.
      if ((b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80 && cp >= 0x800 && (cp & 0xF800) != 0xD800) {
        put(cp);
        p += 3;
        continue;
      }
    } else if (b0 >= 0xC2 && b0 <= 0xDF && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
      put(static_cast<char32_t>(((b0 & 0x1F) << 6) | (p[1] & 0x3F)));
      p += 2;
      continue;
    }
    // Four-byte characters, malformed and cut sequences: the general decoder says how many
    // bytes make the character or its replacement.
    std::size_t taken = 0;
    const char32_t cp = DecodeUtf8(reinterpret_cast<const char*>(p),
                                   static_cast<std::size_t>(end - p), taken, last);
    if (taken == 0) break;  // cut off at the end of this piece
    p += taken;
    if (cp < 0x10000) {
      put(cp);
    } else {
      put(0xD800 | ((cp - 0x10000) >> 10));
      put(0xDC00 | (cp & 0x3FF));
    }
  }
  written = static_cast<std::size_t>(d - dst);
  return static_cast<std::size_t>(p - begin);
}

std::size_t Utf8ToCp932Append(std::string_view utf8, std::string& out, bool last) {
  const std::size_t base = out.size();
  out.resize(base + Utf8ToCp932MaxBytes(utf8.size()));
  std::size_t written = 0;
  const std::size_t consumed = Utf8ToCp932(utf8, out.data() + base, written, last);
  out.resize(base + written);
  return consumed;
}

std::string FromUtf8(std::string_view utf8) {
  std::string out;
  Utf8ToCp932Append(utf8, out);
  return out;
}

std::string ToUtf8(std::string_view cp932_bytes) { return Utf16ToUtf8(Decode(cp932_bytes)); }

}  // namespace vesmer::cp932
