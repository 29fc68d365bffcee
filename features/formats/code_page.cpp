#include "formats/code_page.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "code_page_internal.h"
#include "platform/cp932.h"
#include "platform/unicode.h"

namespace vesmer {

std::u16string_view DecodedText::Slice(std::size_t begin, std::size_t end) const {
  const std::uint32_t* first = offsets_.get();
  const std::uint32_t* last = first + size_;
  const auto from = std::lower_bound(first, last, begin);
  const auto to = std::lower_bound(from, last, std::max(begin, end));
  return {units_.get() + (from - first), static_cast<std::size_t>(to - from)};
}

CodePage::~CodePage() = default;

void CodePage::Reserve(DecodedText& out, std::size_t units, std::size_t keep) {
  if (units <= out.capacity_) return;
  const std::size_t capacity = std::max(units, out.capacity_ + out.capacity_ / 2);
  auto new_units = std::make_unique_for_overwrite<char16_t[]>(capacity);
  auto new_offsets = std::make_unique_for_overwrite<std::uint32_t[]>(capacity);
  if (keep > 0) {
    std::memcpy(new_units.get(), out.units_.get(), keep * sizeof(char16_t));
    std::memcpy(new_offsets.get(), out.offsets_.get(), keep * sizeof(std::uint32_t));
  }
  out.units_ = std::move(new_units);
  out.offsets_ = std::move(new_offsets);
  out.capacity_ = capacity;
}

std::size_t CodePage::Decode(std::string_view record, DecodedText& out) {
  if (record.size() <= kMaxDecodedRecordBytes) return DecodeRecord(record, out);
  return DecodeRecord(record.substr(0, kMaxDecodedRecordBytes), out) + 1;
}

void CodePage::DecodePrefix(std::string_view record, std::size_t bytes, DecodedText& out) {
  record = record.substr(0, std::min(record.size(), kMaxDecodedRecordBytes));
  if (bytes >= record.size()) {
    (void)DecodeRecord(record, out);
  } else {
    DecodeRecordPrefix(record, bytes, out);
  }
}

void CodePage::DecodeRecordPrefix(std::string_view record, std::size_t bytes, DecodedText& out) {
  // No code page here takes more than four bytes for a character, nor for an escape sequence
  // that changes how the next ones read.
  constexpr std::size_t kLongestSequence = 4;
  (void)DecodeRecord(record.substr(0, std::min(record.size(), bytes + kLongestSequence)), out);
}

std::string_view CodePage::WithoutByteOrderMark(std::string_view first_record) const {
  if (name_ == "utf-8" && first_record.starts_with("\xEF\xBB\xBF")) {
    first_record.remove_prefix(3);
  }
  return first_record;
}

namespace {

inline void PutEscape(const std::uint8_t* p, std::size_t i, char16_t* u, std::uint32_t* o,
                      std::size_t& k) {
  u[k] = ByteEscape(p[i]);
  o[k++] = static_cast<std::uint32_t>(i);
}

// Code page 932 from platform's tables (Windows' own), but a pair Windows has no character for
// gives the escapes of its two bytes where Windows gives U+30FB, which is real text (0x8145).
// The character walk is Windows': a lead byte takes the byte after it unless that is NUL.
class Cp932CodePage final : public CodePage {
 public:
  Cp932CodePage() : CodePage("cp932") {}

 private:
  struct Tables {
    std::array<char16_t, 256> single{};
    std::array<std::uint8_t, 256> lead_row{};  // row in `pair` + 1 for a lead byte, else 0
    std::array<char16_t, 61 * 256> pair{};     // 0: no character
    Tables() {
      std::uint8_t rows = 0;
      for (unsigned b = 0; b < 256; ++b) {
        const auto byte = static_cast<std::uint8_t>(b);
        if (!cp932::IsLeadByte(byte)) {
          single[b] = cp932::SingleUnit(byte);
          continue;
        }
        lead_row[b] = ++rows;
        for (unsigned t = 1; t < 256; ++t) {
          pair[rows * 256u + t] = cp932::PairUnit(byte, static_cast<std::uint8_t>(t));
        }
      }
    }
  };

  static const Tables& GetTables() {
    static const Tables tables;
    return tables;
  }

  std::size_t DecodeRecord(std::string_view record, DecodedText& out) override {
    const Tables& t = GetTables();
    const auto* p = reinterpret_cast<const std::uint8_t*>(record.data());
    const std::size_t n = record.size();
    Reserve(out, n);  // a character or an escape takes at least one byte
    char16_t* u = Units(out);
    std::uint32_t* o = Offsets(out);
    std::size_t i = 0, k = 0, bad = 0;
    while (i < n) {
      const std::uint8_t b = p[i];
      if (b < 0x80) {
        code_page_internal::CopyAscii(p, n, i, u, o, k);
        continue;
      }
      const std::uint8_t row = t.lead_row[b];
      if (row == 0) {
        u[k] = t.single[b];
        o[k++] = static_cast<std::uint32_t>(i++);
      } else if (i + 1 < n && p[i + 1] != 0) {
        const char16_t unit = t.pair[row * 256u + p[i + 1]];
        if (unit != 0) {
          u[k] = unit;
          o[k++] = static_cast<std::uint32_t>(i);
        } else {
          PutEscape(p, i, u, o, k);
          PutEscape(p, i + 1, u, o, k);
          ++bad;
        }
        i += 2;
      } else {
        PutEscape(p, i++, u, o, k);  // a lead byte at the end or before NUL
        ++bad;
      }
    }
    SetSize(out, k);
    return bad;
  }

  // The walk of DecodeRecord, with nothing written: any sequence it would escape says no.
  bool IsKnownClean(std::string_view record) override {
    const Tables& t = GetTables();
    const auto* p = reinterpret_cast<const std::uint8_t*>(record.data());
    const std::size_t n = record.size();
    std::size_t i = 0;
    while (i < n) {
      if (code_page_internal::EightAsciiAt(p, i, n)) {
        i += 8;
        continue;
      }
      const std::uint8_t row = t.lead_row[p[i]];
      if (row == 0) {
        ++i;
      } else if (i + 1 < n && p[i + 1] != 0 && t.pair[row * 256u + p[i + 1]] != 0) {
        i += 2;
      } else {
        return false;
      }
    }
    return true;
  }
};

// UTF-8 as ICU decodes it, without ICU: a malformed sequence is its maximal valid beginning
// (at least one byte), the bytes of each escaped.
class Utf8CodePage final : public CodePage {
 public:
  Utf8CodePage() : CodePage("utf-8") {}

 private:
  std::size_t DecodeRecord(std::string_view record, DecodedText& out) override {
    const auto* p = reinterpret_cast<const std::uint8_t*>(record.data());
    const std::size_t n = record.size();
    Reserve(out, n);  // four bytes give the most units, two
    char16_t* u = Units(out);
    std::uint32_t* o = Offsets(out);
    std::size_t i = 0, k = 0, bad = 0;
    while (i < n) {
      const std::uint8_t b0 = p[i];
      if (b0 < 0x80) {
        code_page_internal::CopyAscii(p, n, i, u, o, k);
        continue;
      }
      // Kana and kanji take three bytes: the well-formed case here, everything else below.
      if (b0 >= 0xE0 && b0 <= 0xEF && i + 2 < n) {
        const std::uint8_t b1 = p[i + 1], b2 = p[i + 2];
        const auto cp =
            static_cast<char16_t>(((b0 & 0x0F) << 12) | ((b1 & 0x3F) << 6) | (b2 & 0x3F));
        // Below U+0800 is an overlong form, D800-DFFF an encoded surrogate: both malformed.
        if ((b1 & 0xC0) == 0x80 && (b2 & 0xC0) == 0x80 && cp >= 0x800 && (cp & 0xF800) != 0xD800) {
          u[k] = cp;
          o[k++] = static_cast<std::uint32_t>(i);
          i += 3;
          continue;
        }
      }
      std::size_t taken = 0;
      const char32_t cp = DecodeUtf8(record.data() + i, n - i, taken);
      if (cp == kReplacementChar && !(taken == 3 && p[i] == 0xEF)) {
        // Malformed: EF BF BD, U+FFFD itself, is the only three bytes to give it as text.
        for (std::size_t j = 0; j < taken; ++j) PutEscape(p, i + j, u, o, k);
        ++bad;
      } else if (cp < 0x10000) {
        u[k] = static_cast<char16_t>(cp);
        o[k++] = static_cast<std::uint32_t>(i);
      } else {
        u[k] = static_cast<char16_t>(0xD800 | ((cp - 0x10000) >> 10));
        u[k + 1] = static_cast<char16_t>(0xDC00 | (cp & 0x3FF));
        o[k] = o[k + 1] = static_cast<std::uint32_t>(i);
        k += 2;
      }
      i += taken;
    }
    SetSize(out, k);
    return bad;
  }

  // ASCII, and characters of two and three bytes well formed; anything else (four bytes, a
  // malformed sequence) is left to a decode.
  bool IsKnownClean(std::string_view record) override {
    const auto* p = reinterpret_cast<const std::uint8_t*>(record.data());
    const std::size_t n = record.size();
    std::size_t i = 0;
    while (i < n) {
      if (code_page_internal::EightAsciiAt(p, i, n)) {
        i += 8;
        continue;
      }
      const std::uint8_t b0 = p[i];
      if (b0 < 0x80) {
        ++i;
      } else if (b0 >= 0xC2 && b0 <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
        i += 2;
      } else if (b0 >= 0xE0 && b0 <= 0xEF && i + 2 < n && (p[i + 1] & 0xC0) == 0x80 &&
                 (p[i + 2] & 0xC0) == 0x80) {
        const unsigned cp = ((b0 & 0x0Fu) << 12) | ((p[i + 1] & 0x3Fu) << 6);
        if (cp < 0x800 || (cp & 0xF800) == 0xD800) return false;
        i += 3;
      } else {
        return false;
      }
    }
    return true;
  }
};

// Names the user may give for code page 932 as Windows has it; ICU's own "cp932" is IBM's
// table and differs from Windows' in places.
constexpr std::array<const char*, 4> kCp932Names = {"cp932", "windows-31j", "ms932", "windows-932"};
}  // namespace

std::unique_ptr<CodePage> CodePage::Open(std::string_view name, std::string& message) {
  const std::string key(name);
  const bool usable = !key.empty() && key.find('\0') == std::string::npos;
  if (usable) {
    for (const char* cp932_name : kCp932Names) {
      if (code_page_internal::SameConverterName(key.c_str(), cp932_name)) {
        return std::make_unique<Cp932CodePage>();
      }
    }
    if (code_page_internal::SameConverterName(key.c_str(), "utf-8")) {
      return std::make_unique<Utf8CodePage>();
    }
    if (auto code_page = code_page_internal::OpenIcu(key)) return code_page;
  }
  message = "★コードページ「" + ShownText(name) + "」はありません";
  return nullptr;
}

}  // namespace vesmer
