// Record keys: cut from the key columns of a record and ordered as the run orders them, by the
// UTF-16 code units of the decoded key.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "core/ranges.h"
#include "core/record_text.h"
#include "platform/fast_paths.h"

namespace vesmer {

// The line bytes the key columns are cut from: the line as Windows holds its text. That is
// `raw` itself when its bytes up to the last key column come back unchanged from a decode and
// encode (nearly always); otherwise the canonical form of the whole line, built in `scratch`.
[[nodiscard]] std::string_view KeyLineBytes(std::string_view raw, const RangeList& ranges,
                                            std::string& scratch);

// Builds into `key` the key of `line_bytes` (code page 932) for the used key ranges, in a form
// that orders by plain byte comparison exactly as the decoded key orders by UTF-16 code unit:
// the bytes themselves when they are all ASCII, otherwise the decoded text as UTF-8. (Code page
// 932 decodes into the Basic Multilingual Plane without surrogates, where UTF-8 byte order is
// code unit order, and a proper prefix still orders first.) Each range decodes by itself, so a
// range cut inside a double-byte character decodes as that piece alone does.
void BuildKey(std::string_view line_bytes, const RangeList& ranges, std::string& key);

// <0, 0, >0 as `a` orders before, with or after `b`.
[[nodiscard]] inline int CompareKeys(std::string_view a, std::string_view b) {
  const int c = a.compare(b);
  return (c > 0) - (c < 0);
}

// A key as BuildKey makes it, held where copying and comparing it costs least: a key of up to
// 16 bytes (nearly all) lives in two machine words, most significant byte first, so that two
// such keys compare as two pairs of integers; a longer one lives in a string.
class KeyText {
 public:
  KeyText() = default;
  KeyText(const KeyText&) = delete;
  KeyText& operator=(const KeyText&) = delete;

  [[nodiscard]] std::string_view view() const {
    return packed_ ? std::string_view(bytes_, size_) : std::string_view(heap_);
  }
  [[nodiscard]] bool empty() const { return packed_ ? size_ == 0 : heap_.empty(); }
  void clear() { Assign({}); }
  [[gnu::always_inline]] void Assign(std::string_view bytes) {
    const std::size_t n = bytes.size();
    if (n > 16) {
      packed_ = false;
      heap_.assign(bytes);
      return;
    }
    std::uint64_t lo, hi;
    Pack(bytes, lo, hi);
    std::memcpy(bytes_, &lo, 8);
    std::memcpy(bytes_ + 8, &hi, 8);
    high_ = __builtin_bswap64(lo);
    low_ = __builtin_bswap64(hi);
    size_ = n;
    packed_ = true;
  }
  // The words a key of up to 16 bytes compares by, most significant byte first (as Compare()
  // takes them from two keys of the same size).
  [[gnu::always_inline]] static void Words(std::string_view bytes, std::uint64_t& high,
                                           std::uint64_t& low) {
    std::uint64_t lo, hi;
    Pack(bytes, lo, hi);
    high = __builtin_bswap64(lo);
    low = __builtin_bswap64(hi);
  }
  // This key's words when it is held in them and is `size` bytes long.
  [[nodiscard]] bool WordsOfSize(std::size_t size, std::uint64_t& high, std::uint64_t& low) const {
    if (!packed_ || size_ != size) return false;
    high = high_;
    low = low_;
    return true;
  }
  // The same key as `other`, without working it out again.
  [[gnu::always_inline]] void AssignFrom(const KeyText& other) {
    if (!other.packed_) {
      packed_ = false;
      heap_.assign(other.heap_);
      return;
    }
    // Word by word, as Assign() stored them: one wider load would wait for both stores.
    std::uint64_t high = other.high_, low = other.low_, first, second;
    std::memcpy(&first, other.bytes_, 8);
    std::memcpy(&second, other.bytes_ + 8, 8);
    asm("" : "+r"(high), "+r"(low), "+r"(first), "+r"(second));
    high_ = high;
    low_ = low;
    std::memcpy(bytes_, &first, 8);
    std::memcpy(bytes_ + 8, &second, 8);
    size_ = other.size_;
    packed_ = true;
  }
  // The string to build a long or decoded key in; the key is what it holds afterwards.
  std::string& Long() {
    packed_ = false;
    return heap_;
  }

  // <0, 0, >0 as `a` orders before, with or after `b`, as CompareKeys orders their bytes.
  [[gnu::always_inline]] friend int Compare(const KeyText& a, const KeyText& b) {
    if (kFastPaths && a.packed_ && b.packed_) {
      if (a.high_ != b.high_) return a.high_ < b.high_ ? -1 : 1;
      if (a.low_ != b.low_) return a.low_ < b.low_ ? -1 : 1;
      // Equal words: the bytes are equal as far as the shorter goes (a NUL there included).
      return (a.size_ > b.size_) - (a.size_ < b.size_);
    }
    return CompareKeys(a.view(), b.view());
  }

 private:
  // Up to 16 bytes as two little-endian words, zero past them, without reading past them.
  [[gnu::always_inline]] static void Pack(std::string_view bytes, std::uint64_t& lo,
                                          std::uint64_t& hi) {
    const std::size_t n = bytes.size();
    const char* p = bytes.data();
    lo = 0;
    hi = 0;
    if (n >= 8) {
      std::memcpy(&lo, p, 8);
      if (n > 8) {
        std::memcpy(&hi, p + n - 8, 8);
        hi >>= 8 * (16 - n);
      }
    } else if (n >= 4) {
      std::uint32_t first, last;
      std::memcpy(&first, p, 4);
      std::memcpy(&last, p + n - 4, 4);
      lo = first | (std::uint64_t{last} << (8 * (n - 4)));
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        lo |= std::uint64_t{static_cast<std::uint8_t>(p[i])} << (8 * i);
      }
    }
  }

  std::uint64_t high_ = 0, low_ = 0;  // bytes 1-8 and 9-16, zero past the end
  char bytes_[16] = {};
  std::size_t size_ = 0;
  bool packed_ = true;
  std::string heap_;
};

// KeyLineBytes and BuildKey for one run's key ranges, worked out once: a line whose bytes up
// to the last key column are ASCII (the usual case) gives its key by copying those columns.
class KeyBuilder {
 public:
  // Works out what it needs from `ranges`, which must outlive it; again after they change.
  // `trim_padding`: blanks at the end of the key (U+0020, U+3000) are not part of it, as when
  // two inputs of different formats pad the same text differently.
  explicit KeyBuilder(const RangeList& ranges, bool trim_padding = false)
      : ranges_(ranges), trim_padding_(trim_padding) {
    Reset();
  }
  void Reset();
  void SetTrimPadding(bool trim_padding) { trim_padding_ = trim_padding; }
  // Records of another code page: keys are cut from their decoded text, `decoder` decoding each
  // (null: code page 932 lines).
  void SetDecoder(RecordDecoder* decoder) { decoder_ = decoder; }
  // The key of the raw line as read.
  // `first_in_file`: the line opens its file (a decoded record may start with a byte order
  // mark there).
  [[gnu::always_inline]] void Build(std::string_view raw, KeyText& key, std::string& scratch,
                                    bool first_in_file = false) const {
    if (decoder_ != nullptr) {
      BuildFromText(decoder_->Decode(raw, first_in_file), key);
      return;
    }
    if (IsShort(raw)) {
      key.Assign(std::string_view(raw.data() + first_start_, first_length_));
      return;
    }
    BuildAny(raw, key, scratch);
    if (trim_padding_) TrimPadding(key);
  }
  // Where short keys (see IsShort) are, for a loop over many lines that keeps it at hand: the
  // key of a line that has one (ShortKeyWordsOf) is the `length` bytes at `start`.
  struct ShortKeyShape {
    std::size_t start = 0, length = 0, last = 0;
  };
  // False when keys are never short ones.
  [[nodiscard]] bool ShortKeys(ShortKeyShape& shape) const {
    if (!ShortKeysPossible()) return false;
    shape = {first_start_, first_length_, last_};
    return true;
  }
  // When the key of `raw` is a short one for keys of `shape`: its words (KeyText::Words); every
  // short key is `shape.length` bytes long.
  [[gnu::always_inline]] static bool ShortKeyWordsOf(std::string_view raw,
                                                     const ShortKeyShape& shape,
                                                     std::uint64_t& high, std::uint64_t& low) {
    if (!HeadIsAscii(raw, shape.last)) return false;
    KeyText::Words(std::string_view(raw.data() + shape.start, shape.length), high, low);
    return true;
  }
  [[nodiscard]] std::size_t short_key_size() const { return first_length_; }
  // The last column of any key range: a key is made of the bytes up to it.
  [[nodiscard]] std::size_t last_column() const { return last_; }

 private:
  // Short records want their key in place: one key range that ends within the first 16 bytes
  // of a line long enough to hold it, those bytes ASCII (two words that may overlap). Such a
  // key is those bytes themselves.
  [[gnu::always_inline]] bool IsShort(std::string_view raw) const {
    return ShortKeysPossible() && HeadIsAscii(raw, last_);
  }
  [[nodiscard]] bool ShortKeysPossible() const {
    return kFastPaths && !trim_padding_ && used_ == 1 && last_ >= 8 && last_ <= 16;
  }
  // The first `last` bytes of `raw` (8 to 16 of them) are there and ASCII.
  [[gnu::always_inline]] static bool HeadIsAscii(std::string_view raw, std::size_t last) {
    if (raw.size() < last) return false;
    std::uint64_t head, tail;
    std::memcpy(&head, raw.data(), 8);
    std::memcpy(&tail, raw.data() + last - 8, 8);
    return ((head | tail) & 0x8080808080808080ull) == 0;
  }
  void BuildAny(std::string_view raw, KeyText& key, std::string& scratch) const;
  static void TrimPadding(KeyText& key);

 public:
  // The key of a decoded record: the text of the key ranges in the key form.
  void BuildFromText(const DecodedRecord& record, KeyText& key) const;
  // BuildFromText of `record`, which `decoder` knows to be characters only (KnownClean), decoded
  // only as far as its key needs, or not at all where the decoder makes the key form from the
  // bytes.
  void BuildOfCleanRecord(RecordDecoder& decoder, std::string_view record, bool first_in_file,
                          KeyText& key) const;
  // How the keys of `a` and `b`, records of one length, order (the sign of Compare of their
  // keys in `order`), told from their bytes without making the keys where `decoder` can
  // (RecordDecoder::OrderKeysOfBytes); false where it cannot, or where the key is not whole in
  // the records.
  [[nodiscard]] bool OrderOfRecordKeys(RecordDecoder& decoder, std::string_view a,
                                       std::string_view b, int& order) const {
    return !trim_padding_ && used_ != 0 && a.size() >= last_ &&
           decoder.OrderKeysOfBytes(a, b, ranges_, last_, order);
  }

 private:
  RecordDecoder* decoder_ = nullptr;

  const RangeList& ranges_;
  bool trim_padding_ = false;
  std::size_t used_ = 0;
  std::size_t last_ = 0;                            // the last key column
  std::size_t first_start_ = 0, first_length_ = 0;  // the first range, 0-based
};

}  // namespace vesmer
