// Code pages decoded by ICU. The IBM host code pages, single-byte ones and those of one or two
// bytes a character (EUC-JP, ICU's Shift-JIS) go through lookup tables built from ICU when first
// opened, and a record the tables cannot take whole goes to ICU itself: the text is always ICU's.
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#if defined(__x86_64__)
#include <tmmintrin.h>
#endif

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <vector>

#include "code_page_internal.h"

namespace vesmer::code_page_internal {
namespace {

struct ConverterCloser {
  void operator()(UConverter* converter) const { ucnv_close(converter); }
};
using Converter = std::unique_ptr<UConverter, ConverterCloser>;

Converter OpenConverter(const char* name) {
  UErrorCode error = U_ZERO_ERROR;
  Converter converter(ucnv_open(name, &error));
  if (U_FAILURE(error)) converter.reset();
  return converter;
}

// ICU's to-Unicode callback: each byte of a sequence that is no character becomes its escape,
// with the byte's own offset (offsets a callback writes count from the sequence's first byte),
// and the sequence is counted in the int the context points to.
void EscapeBytes(const void* context, UConverterToUnicodeArgs* args, const char* bytes,
                 int32_t length, UConverterCallbackReason reason, UErrorCode* error) {
  if (reason > UCNV_IRREGULAR) return;  // reset, close, clone: nothing to write
  ++*static_cast<std::size_t*>(const_cast<void*>(context));
  *error = U_ZERO_ERROR;
  for (int32_t i = 0; i < length && U_SUCCESS(*error); ++i) {
    const UChar unit = ByteEscape(static_cast<std::uint8_t>(bytes[i]));
    ucnv_cbToUWriteUChars(args, &unit, 1, i, error);
  }
}

// A table entry: the one or two units a byte or pair decodes to (the second in the high half,
// 0 when there is none), or kNoEntry where the table does not know: a byte or pair that is no
// character, or whose meaning hangs on the bytes around it.
constexpr std::uint32_t kNoEntry = 0xFFFFFFFF;
constexpr std::uint8_t kShiftOut = 0x0E;
constexpr std::uint8_t kShiftIn = 0x0F;

// A set of bytes, looked up sixteen at a time where the processor can (SSSE3): each byte's low
// nibble picks a row of the set's bitmap, its high nibble the bit in the row.
class ByteSet {
 public:
  void Add(std::uint8_t b) {
    (b < 0x80 ? low_rows_ : high_rows_)[b & 0x0F] |= static_cast<std::uint8_t>(1u << (b >> 4 & 7));
    in_[b] = 1;
  }

  // The first byte of p[i, n) not in the set; n when there is none.
  [[nodiscard]] std::size_t SkipIn(const std::uint8_t* p, std::size_t i, std::size_t n) const {
#if defined(__x86_64__)
    static const bool kWide = __builtin_cpu_supports("ssse3");
    if (kWide) i = SkipInSixteens(p, i, n);
#endif
    while (i < n && in_[p[i]]) ++i;
    return i;
  }

 private:
#if defined(__x86_64__)
  [[gnu::target("ssse3")]] std::size_t SkipInSixteens(const std::uint8_t* p, std::size_t i,
                                                      std::size_t n) const {
    const __m128i low_rows = _mm_loadu_si128(reinterpret_cast<const __m128i*>(low_rows_.data()));
    const __m128i high_rows = _mm_loadu_si128(reinterpret_cast<const __m128i*>(high_rows_.data()));
    const __m128i bits = _mm_setr_epi8(1, 2, 4, 8, 16, 32, 64, -128, 1, 2, 4, 8, 16, 32, 64, -128);
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      const __m128i low = _mm_and_si128(v, nibble);
      const __m128i high = _mm_and_si128(_mm_srli_epi16(v, 4), nibble);
      // Bytes of 0x80 and above (their sign bit set) take their row from the second bitmap.
      const __m128i upper = _mm_cmplt_epi8(v, zero);
      const __m128i row = _mm_or_si128(_mm_andnot_si128(upper, _mm_shuffle_epi8(low_rows, low)),
                                       _mm_and_si128(upper, _mm_shuffle_epi8(high_rows, low)));
      const __m128i hit = _mm_and_si128(row, _mm_shuffle_epi8(bits, high));
      const auto outside = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(hit, zero)));
      if (outside != 0) return i + static_cast<std::size_t>(__builtin_ctz(outside));
    }
    return i;
  }
#endif

  std::array<std::uint8_t, 16> low_rows_{};   // bytes 0x00-0x7F
  std::array<std::uint8_t, 16> high_rows_{};  // bytes 0x80-0xFF
  std::array<std::uint8_t, 256> in_{};
};

// How a converter's records are decoded.
enum class Path {
  kShifted,      // EBCDIC with SO/SI: the tables, ICU for anything unusual
  kSingleByte,   // one byte a character: the table, ICU for a byte it does not know
  kTwoByte,      // one or two bytes a character, no shifts: the tables, ICU for anything longer
  kAsciiPrefix,  // ASCII-compatible: the ASCII beginning as is, ICU for the rest
  kIcu,          // ICU alone
};

struct Tables {
  std::array<std::uint32_t, 256> single;
  // By lead << 8 | trail: shifted out (kShifted), from the initial state (kTwoByte); empty for
  // single-byte code pages.
  std::vector<std::uint32_t> pair;
};

// What ICU makes of `bytes` from its initial state, as a table entry for the character at
// `at`. Converted without flushing, so that a byte sequence ICU holds back (as it does for the
// beginning of a longer mapping) gives no entry.
std::uint32_t Probe(UConverter* converter, std::string_view bytes, int32_t at) {
  std::size_t bad = 0;
  UErrorCode error = U_ZERO_ERROR;
  ucnv_setToUCallBack(converter, EscapeBytes, &bad, nullptr, nullptr, &error);
  ucnv_resetToUnicode(converter);
  std::array<UChar, 8> units;
  std::array<int32_t, 8> offsets;
  UChar* target = units.data();
  const char* source = bytes.data();
  ucnv_toUnicode(converter, &target, units.data() + units.size(), &source,
                 bytes.data() + bytes.size(), offsets.data(), false, &error);
  const auto count = target - units.data();
  if (U_FAILURE(error) || bad != 0 || count < 1 || count > 2) return kNoEntry;
  for (std::ptrdiff_t i = 0; i < count; ++i) {
    if (offsets[i] != at) return kNoEntry;
  }
  return count == 1 ? units[0] : units[0] | (std::uint32_t{units[1]} << 16);
}

Tables BuildTables(UConverter* converter, Path path) {
  const bool shifted = path == Path::kShifted;
  Tables tables;
  for (unsigned b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    tables.single[b] = shifted && (b == kShiftOut || b == kShiftIn)
                           ? kNoEntry
                           : Probe(converter, std::string_view(&byte, 1), 0);
  }
  if (path == Path::kSingleByte) return tables;
  tables.pair.assign(65536, kNoEntry);
  // Shifted out, a pair comes after SO.
  char bytes[3] = {static_cast<char>(kShiftOut), 0, 0};
  const int at = shifted ? 1 : 0;
  for (unsigned lead = 0; lead < 256; ++lead) {
    // Shifted, the shifts are read before pairs; without shifts a byte that is a character
    // alone starts no pair.
    if (shifted ? lead == kShiftOut || lead == kShiftIn : tables.single[lead] != kNoEntry) {
      continue;
    }
    for (unsigned trail = 0; trail < 256; ++trail) {
      bytes[1] = static_cast<char>(lead);
      bytes[2] = static_cast<char>(trail);
      tables.pair[lead << 8 | trail] =
          Probe(converter, std::string_view(bytes + 1 - at, 2 + at), at);
    }
  }
  return tables;
}

// Tables are built once for each converter and kept: a run opens the same code page for both
// inputs, and a table of pairs takes ICU a few tens of milliseconds to fill.
// Options after a comma ("ibm-930,swaplfnl") may change the mapping: such a name is kept apart.
const Tables& TablesFor(UConverter* converter, const std::string& opened_as, Path path) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<const Tables>> built;
  UErrorCode error = U_ZERO_ERROR;
  std::string key = ucnv_getName(converter, &error);
  if (opened_as.find(',') != std::string::npos) key += "|" + opened_as;
  const std::lock_guard lock(mutex);
  auto& tables = built[key];
  if (!tables) tables = std::make_unique<const Tables>(BuildTables(converter, path));
  return *tables;
}

// True when every ASCII byte on its own, from the initial state, is that character and no
// beginning of anything longer: then a record's ASCII beginning can be copied as it is and the
// rest begins in the initial state.
bool AsciiIsItself(UConverter* converter) {
  for (unsigned b = 0; b < 0x80; ++b) {
    const char byte = static_cast<char>(b);
    if (Probe(converter, std::string_view(&byte, 1), 0) != b) return false;
  }
  return true;
}

Path PathFor(UConverter* converter) {
  switch (ucnv_getType(converter)) {
    case UCNV_EBCDIC_STATEFUL:
      return Path::kShifted;
    case UCNV_SBCS:
    case UCNV_LATIN_1:
    case UCNV_US_ASCII:
      return Path::kSingleByte;
    case UCNV_MBCS:
    case UCNV_DBCS:
      return Path::kTwoByte;
    case UCNV_UTF8:
      return AsciiIsItself(converter) ? Path::kAsciiPrefix : Path::kIcu;
    default:
      return Path::kIcu;
  }
}

class IcuCodePage final : public CodePage {
 public:
  IcuCodePage(std::string name, const std::string& opened_as, Converter converter)
      : CodePage(std::move(name)), converter_(std::move(converter)) {
    path_ = PathFor(converter_.get());
    if (path_ == Path::kShifted || path_ == Path::kSingleByte || path_ == Path::kTwoByte) {
      tables_ = &TablesFor(converter_.get(), opened_as, path_);
      ascii_is_itself_ = path_ == Path::kTwoByte && AsciiIsItself(converter_.get());
      for (unsigned b = 0; b < 256; ++b) {
        if (tables_->single[b] != kNoEntry) alone_.Add(static_cast<std::uint8_t>(b));
      }
      for (std::size_t pair = 0; pair < tables_->pair.size() && path_ == Path::kShifted; ++pair) {
        if (tables_->pair[pair] != kNoEntry)
          pair_known_[pair >> 6] |= std::uint64_t{1} << (pair & 63);
      }
    }
    // The table probes set their own callback; from here on the record's count is the context.
    UErrorCode error = U_ZERO_ERROR;
    ucnv_setToUCallBack(converter_.get(), EscapeBytes, &bad_, nullptr, nullptr, &error);
  }

 private:
  std::size_t DecodeRecord(std::string_view record, DecodedText& out) override {
    switch (path_) {
      case Path::kShifted:
        if (DecodeShifted(record, out)) return 0;
        break;
      case Path::kSingleByte:
        if (DecodeSingleByte(record, out)) return 0;
        break;
      case Path::kTwoByte:
        if (DecodeTwoByte(record, out)) return 0;
        break;
      case Path::kAsciiPrefix: {
        const std::size_t ascii = CopyAsciiPrefix(record, out);
        if (ascii == record.size()) return 0;
        return DecodeWithIcu(record, ascii, out);
      }
      case Path::kIcu:
        break;
    }
    return DecodeWithIcu(record, 0, out);
  }

  // DecodeShifted's walk with nothing written: true exactly when it would take the record, and
  // then nothing in it is undecodable. Single-byte characters, most of a host record, are
  // looked at sixteen at a time.
  bool IsKnownClean(std::string_view record) override {
    if (path_ != Path::kShifted && path_ != Path::kSingleByte) return false;
    const auto* p = reinterpret_cast<const std::uint8_t*>(record.data());
    const std::size_t n = record.size();
    std::size_t i = 0;
    while (i < n) {
      i = alone_.SkipIn(p, i, n);
      if (i == n) break;
      if (path_ != Path::kShifted || p[i] != kShiftOut) return false;
      for (++i;; i += 2) {
        if (i + 1 >= n) {
          if (i < n && p[i] == kShiftIn) break;
          return false;
        }
        if (p[i] == kShiftIn) break;
        const unsigned pair = p[i] << 8 | p[i + 1];
        if ((pair_known_[pair >> 6] >> (pair & 63) & 1) == 0) return false;  // SO's row too
      }
      ++i;
    }
    return true;
  }

  bool SingleByteUnits(std::string_view bytes, std::u16string& units) override {
    if (path_ != Path::kShifted && path_ != Path::kSingleByte) return false;
    units.resize(bytes.size());
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      // No entry, two units, and the shifts (which have no entry) all say no.
      const std::uint32_t e = tables_->single[static_cast<std::uint8_t>(bytes[i])];
      if (e > 0xFFFF) return false;
      units[i] = static_cast<char16_t>(e);
    }
    return true;
  }

  bool CompareSingleByteUnits(std::string_view a, std::string_view b, int& order) override {
    if (path_ != Path::kShifted && path_ != Path::kSingleByte) return false;
    const std::uint32_t* single = tables_->single.data();
    order = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
      const std::uint32_t x = single[static_cast<std::uint8_t>(a[i])];
      const std::uint32_t y = single[static_cast<std::uint8_t>(b[i])];
      if ((x | y) > 0xFFFF) return false;  // as SingleByteUnits says no
      if (order == 0 && x != y) order = x < y ? -1 : 1;
    }
    return true;
  }

  void DecodeRecordPrefix(std::string_view record, std::size_t bytes, DecodedText& out) override {
    // Cut anywhere, a host record may end shifted out, which the tables leave to ICU: they stop
    // at the first character after the prefix instead.
    if (path_ == Path::kShifted && DecodeShifted(record, out, bytes)) return;
    CodePage::DecodeRecordPrefix(record, bytes, out);
  }

  // The record through the tables; false, with `out` undefined, at the first byte or pair they
  // do not know and at any shift sequence out of the ordinary (SO when shifted out already, SI
  // when not, the record ending shifted out), which leaves the record to ICU. With `stop` short
  // of the record's end, the characters that start before it (see DecodePrefix).
  bool DecodeShifted(std::string_view record, DecodedText& out, std::size_t stop = SIZE_MAX) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(record.data());
    const std::size_t n = record.size();
    stop = std::min(stop, n);
    Reserve(out, 2 * n);  // a supplementary character may take two units for one byte
    char16_t* u = Units(out);
    std::uint32_t* o = Offsets(out);
    const std::uint32_t* single = tables_->single.data();
    const std::uint32_t* pair = tables_->pair.data();
    std::size_t i = 0, k = 0;
    // Nearly every entry is one unit: written with no test of the entry between one character
    // and the next, so that where the next goes does not wait for the table. Anything else (no
    // entry, two units, a shift, whose entries are none) is looked at apart.
    while (i < n) {
      // Single-byte characters up to SO.
      for (; i < stop; ++i) {
        const std::uint32_t e = single[p[i]];
        if (e > 0xFFFF) [[unlikely]] {
          if (p[i] == kShiftOut) break;
          if (e == kNoEntry) return false;
          Put(e, i, u, o, k);
          continue;
        }
        u[k] = static_cast<char16_t>(e);
        o[k++] = static_cast<std::uint32_t>(i);
      }
      if (i >= stop) break;
      // Double-byte characters up to SI.
      for (++i;; i += 2) {
        if (i >= stop && i < n) {
          SetSize(out, k);  // a prefix, cut shifted out
          return true;
        }
        if (i + 1 >= n) {
          // The record ends shifted out, or with the first byte of a character cut off.
          if (i < n && p[i] == kShiftIn) break;
          return false;
        }
        const std::uint32_t e = pair[p[i] << 8 | p[i + 1]];  // the rows of SO and SI are none
        if (e > 0xFFFF) [[unlikely]] {
          if (p[i] == kShiftIn) break;
          if (e == kNoEntry) return false;
          Put(e, i, u, o, k);
          continue;
        }
        u[k] = static_cast<char16_t>(e);
        o[k++] = static_cast<std::uint32_t>(i);
      }
      ++i;
    }
    SetSize(out, k);
    return true;
  }

  bool DecodeSingleByte(std::string_view record, DecodedText& out) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(record.data());
    const std::size_t n = record.size();
    Reserve(out, 2 * n);
    char16_t* u = Units(out);
    std::uint32_t* o = Offsets(out);
    const std::uint32_t* single = tables_->single.data();
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
      const std::uint32_t e = single[p[i]];
      if (e == kNoEntry) return false;
      Put(e, i, u, o, k);
    }
    SetSize(out, k);
    return true;
  }

  // The record through the tables, a byte that is no character alone taken with the next as a
  // pair; false at the first byte or pair they do not know (EUC-JP's three-byte characters).
  bool DecodeTwoByte(std::string_view record, DecodedText& out) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(record.data());
    const std::size_t n = record.size();
    Reserve(out, 2 * n);
    char16_t* u = Units(out);
    std::uint32_t* o = Offsets(out);
    const std::uint32_t* single = tables_->single.data();
    const std::uint32_t* pair = tables_->pair.data();
    std::size_t i = 0, k = 0;
    while (i < n) {
      if (ascii_is_itself_ && p[i] < 0x80) {
        CopyAscii(p, n, i, u, o, k);
        continue;
      }
      std::uint32_t e = single[p[i]];
      if (e != kNoEntry) {
        Put(e, i++, u, o, k);
        continue;
      }
      if (i + 1 == n) return false;
      e = pair[p[i] << 8 | p[i + 1]];
      if (e == kNoEntry) return false;
      Put(e, i, u, o, k);
      i += 2;
    }
    SetSize(out, k);
    return true;
  }

  static inline void Put(std::uint32_t e, std::size_t i, char16_t* u, std::uint32_t* o,
                         std::size_t& k) {
    // Both units are stored whatever the entry holds: the room is there, and the second is
    // overwritten by the next character when it is none.
    u[k] = static_cast<char16_t>(e);
    u[k + 1] = static_cast<char16_t>(e >> 16);
    o[k] = o[k + 1] = static_cast<std::uint32_t>(i);
    k += (e >> 16) != 0 ? 2 : 1;
  }

  // Copies the record's ASCII beginning as units and returns its length.
  static std::size_t CopyAsciiPrefix(std::string_view record, DecodedText& out) {
    Reserve(out, record.size());
    std::size_t i = 0, k = 0;
    CopyAscii(reinterpret_cast<const std::uint8_t*>(record.data()), record.size(), i, Units(out),
              Offsets(out), k);
    SetSize(out, k);
    return k;
  }

  // Decodes `record` from byte `from` on through ICU, from its initial state, after the `from`
  // units `out` holds. Returns the count of sequences that were no character.
  std::size_t DecodeWithIcu(std::string_view record, std::size_t from, DecodedText& out) {
    CountRecordThroughIcu();
    const std::size_t n = record.size();
    // Room for two units a byte: more only from a mapping to a string, and then it grows.
    std::size_t room = from + 2 * (n - from) + 16;
    for (;;) {
      Reserve(out, room, from);
      bad_ = 0;
      ucnv_resetToUnicode(converter_.get());
      UChar* const begin = Units(out) + from;
      UChar* target = begin;
      const char* source = record.data() + from;
      // ICU's offsets are int32_t; the buffer's are their unsigned twins, which may alias them.
      auto* offsets = reinterpret_cast<int32_t*>(Offsets(out) + from);
      UErrorCode error = U_ZERO_ERROR;
      ucnv_toUnicode(converter_.get(), &target, Units(out) + Capacity(out), &source,
                     record.data() + n, offsets, true, &error);
      if (error == U_BUFFER_OVERFLOW_ERROR) {
        room = 2 * Capacity(out);  // decoded again from the start: offsets stay exact
        continue;
      }
      std::size_t k = from + static_cast<std::size_t>(target - begin);
      std::uint32_t* o = Offsets(out);
      // A unit ICU gives no offset (-1) belongs to the character before it.
      std::int64_t last = from > 0 ? o[from - 1] : 0;
      for (std::size_t j = from; j < k; ++j) {
        const std::int64_t offset = static_cast<int32_t>(o[j]);
        last = offset < 0 ? last : std::max(last, offset + static_cast<std::int64_t>(from));
        o[j] = static_cast<std::uint32_t>(last);
      }
      if (U_FAILURE(error)) {
        // Never seen: what ICU did not take is kept as its bytes.
        const auto taken = static_cast<std::size_t>(source - record.data());
        Reserve(out, k + (n - taken), k);
        for (std::size_t i = taken; i < n; ++i) {
          Units(out)[k] = ByteEscape(static_cast<std::uint8_t>(record[i]));
          Offsets(out)[k++] = static_cast<std::uint32_t>(i);
        }
        ++bad_;
      }
      SetSize(out, k);
      return bad_;
    }
  }

  Converter converter_;
  Path path_ = Path::kIcu;
  const Tables* tables_ = nullptr;
  bool ascii_is_itself_ = false;  // every ASCII byte is that character: copied eight at a time
  ByteSet alone_;                 // the bytes that are a character on their own
  // One bit for each pair shifted out that is a character: a look at a record's pairs stays in
  // 8 KiB, where the table of their units takes 256.
  std::array<std::uint64_t, 1024> pair_known_{};
  std::size_t bad_ = 0;  // the callback's count for the record being decoded
};

// The names this program shows for the code pages it was made for.
constexpr std::array<const char*, 5> kShortNames = {"euc-jp", "ibm-930", "ibm-939", "ibm-1390",
                                                    "ibm-1399"};

}  // namespace

bool SameConverterName(const char* a, const char* b) { return ucnv_compareNames(a, b) == 0; }

std::unique_ptr<CodePage> OpenIcu(const std::string& name) {
  Converter converter = OpenConverter(name.c_str());
  if (!converter) return nullptr;
  UErrorCode error = U_ZERO_ERROR;
  std::string shown = ucnv_getName(converter.get(), &error);
  for (const char* short_name : kShortNames) {
    if (SameConverterName(name.c_str(), short_name)) {
      shown = short_name;
      break;
    }
    const Converter known = OpenConverter(short_name);
    if (known && shown == ucnv_getName(known.get(), &error)) {
      shown = short_name;
      break;
    }
  }
  return std::make_unique<IcuCodePage>(std::move(shown), name, std::move(converter));
}

}  // namespace vesmer::code_page_internal
