#include "record_block.h"

#include <sys/mman.h>

#include <algorithm>
#include <cassert>
#include <cstring>
#include <utility>

#include "core/record_key.h"

namespace vesmer {
namespace {

// Slots address records in 8-byte units, so a block holds at most 32 GiB of records.
constexpr std::size_t kMaxCapacity = std::size_t{1} << 35;
// Below this many records the radix passes cost more than they save.
constexpr std::size_t kRadixThreshold = 512;
constexpr std::size_t kPrefixBytes = 8;
constexpr std::uint8_t kLongKey = KeyProbe::kLongKey;

constexpr std::size_t kHugePage = std::size_t{2} << 20;

constexpr std::size_t Align8(std::size_t n) { return (n + 7) & ~std::size_t{7}; }

std::uint64_t LoadBigEndian(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, sizeof v);
  return __builtin_bswap64(v);
}

}  // namespace

PageMemory::PageMemory(PageMemory&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

PageMemory& PageMemory::operator=(PageMemory&& other) noexcept {
  if (this != &other) {
    Free();
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
  }
  return *this;
}

bool PageMemory::Allocate(std::size_t bytes) {
  Free();
  if (bytes == 0) return true;
  void* p = ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (p == MAP_FAILED) return false;
  // Sort buffers are filled whole and read at random: huge pages save most of the page faults
  // and TLB misses. Only a hint.
  if (bytes >= kHugePage) (void)::madvise(p, bytes, MADV_HUGEPAGE);
  data_ = static_cast<char*>(p);
  size_ = bytes;
  return true;
}

void PageMemory::Free() {
  if (data_ != nullptr) ::munmap(data_, size_);
  data_ = nullptr;
  size_ = 0;
}

RecordView UnpackRecord(const char* p) {
  RecordHeader h;
  std::memcpy(&h, p, sizeof h);
  RecordView r;
  r.key = std::string_view(p + sizeof h, h.key_size);
  r.line = std::string_view(p + sizeof h + h.key_size, h.line_size);
  r.number = static_cast<std::int64_t>(h.number_and_extra >> 3);
  r.extra = static_cast<std::uint32_t>(h.number_and_extra & RecordBlock::kMaxExtra);
  r.bytes = std::string_view(p, sizeof h + h.key_size + h.line_size);
  return r;
}

bool RecordBefore(const RecordView& a, const RecordView& b) {
  const int c = CompareKeys(a.key, b.key);
  return c != 0 ? c < 0 : a.number < b.number;
}

KeyProbe ProbeKey(std::string_view key, std::size_t common) {
  const std::size_t tail = key.size() - common;
  KeyProbe probe;
  if (tail >= kPrefixBytes) {
    probe.prefix = LoadBigEndian(key.data() + common);
  } else {
    for (std::size_t i = 0; i < tail; ++i) {
      probe.prefix |= std::uint64_t{static_cast<unsigned char>(key[common + i])} << (56 - 8 * i);
    }
  }
  probe.length = static_cast<std::uint8_t>(tail > kPrefixBytes ? kLongKey : tail);
  return probe;
}

// An entry is a record's key probe and where the record lies; the radix sort orders entries by
// probe alone, and only runs of long keys with equal probes are sorted again with their tails.
struct RecordBlock::Entry {
  std::uint64_t prefix;  // the probe's
  std::uint32_t slot;    // record offset / 8: grows with the append order
  std::uint8_t length;   // the probe's
  KeyProbe probe() const { return {prefix, length}; }
};

std::size_t RecordBlock::Footprint(std::size_t key_size, std::size_t line_size) {
  return Align8(sizeof(RecordHeader) + key_size + line_size) + kIndexBytes;
}

bool RecordBlock::Reserve(std::size_t capacity) {
  Clear();
  capacity = std::min((capacity + 15) & ~std::size_t{15}, kMaxCapacity);
  if (capacity == memory_.size()) return true;
  capacity_ = 0;
  if (!memory_.Allocate(capacity)) return false;
  capacity_ = capacity;
  return true;
}

void RecordBlock::Release() {
  Clear();
  memory_.Free();
  capacity_ = 0;
}

void RecordBlock::Clear() {
  used_ = 0;
  count_ = 0;
  common_prefix_ = 0;
  sorted_ = false;
}

void RecordBlock::Append(std::string_view key, std::string_view line, std::int64_t number,
                         std::uint32_t extra) {
  assert(Fits(key.size(), line.size()));
  assert(extra <= kMaxExtra);
  char* p = memory_.data() + used_;
  const RecordHeader h{static_cast<std::uint32_t>(key.size()),
                       static_cast<std::uint32_t>(line.size()),
                       (static_cast<std::uint64_t>(number) << 3) | extra};
  std::memcpy(p, &h, sizeof h);
  if (!key.empty()) std::memcpy(p + sizeof h, key.data(), key.size());
  if (!line.empty()) std::memcpy(p + sizeof h + key.size(), line.data(), line.size());
  if (count_ == 0) {
    common_prefix_ = key.size();
  } else {
    const char* first = memory_.data() + sizeof h;
    std::size_t n = 0;
    const std::size_t limit = std::min(common_prefix_, key.size());
    while (n < limit && first[n] == key[n]) ++n;
    common_prefix_ = n;
  }
  used_ += Align8(sizeof h + key.size() + line.size());
  ++count_;
  sorted_ = false;
}

RecordBlock::Entry* RecordBlock::Index() const {
  static_assert(2 * sizeof(Entry) == kIndexBytes);
  return reinterpret_cast<Entry*>(memory_.data() + capacity_ - kIndexBytes * count_);
}

RecordView RecordBlock::Record(const Entry& e) const {
  return UnpackRecord(memory_.data() + std::size_t{e.slot} * 8);
}

void RecordBlock::BuildIndex() {
  Entry* entry = Index();
  for (std::size_t offset = 0; offset < used_; ++entry) {
    const RecordView r = UnpackRecord(memory_.data() + offset);
    const KeyProbe probe = ProbeKey(r.key, common_prefix_);
    entry->prefix = probe.prefix;
    entry->length = probe.length;
    entry->slot = static_cast<std::uint32_t>(offset / 8);
    offset += Align8(r.bytes.size());
  }
}

bool RecordBlock::EntryBefore(const Entry& a, const Entry& b, std::size_t offset) const {
  if (a.prefix != b.prefix) return a.prefix < b.prefix;
  if (a.length != b.length) return a.length < b.length;
  if (a.length == kLongKey) {
    const RecordView ra = Record(a);
    const RecordView rb = Record(b);
    const int c = CompareProbedKeys(a.probe(), ra.key, b.probe(), rb.key, offset);
    if (c != 0) return c < 0;
  }
  return a.slot < b.slot;
}

// Least significant digit first: the length code, then the prefix bytes from the last to the
// first. Each pass is stable, so entries that tie on all digits keep their order. A digit all
// entries share costs no pass.
bool RecordBlock::RadixSort(Entry* entries, Entry* scratch, std::size_t n,
                            const std::atomic<bool>* stop) const {
  constexpr int kDigits = 1 + kPrefixBytes;
  Entry* source = entries;
  Entry* target = scratch;
  std::size_t counts[kDigits][256] = {};
  for (std::size_t i = 0; i < n; ++i) {
    const Entry& e = source[i];
    ++counts[0][e.length];
    for (std::size_t d = 0; d < kPrefixBytes; ++d) ++counts[1 + d][(e.prefix >> (8 * d)) & 0xFF];
  }
  for (int digit = 0; digit < kDigits; ++digit) {
    std::size_t* count = counts[digit];
    if (std::any_of(count, count + 256, [n](std::size_t c) { return c == n; })) continue;
    std::size_t sum = 0;
    for (int v = 0; v < 256; ++v) sum += std::exchange(count[v], sum);
    const int shift = digit == 0 ? 0 : 8 * (digit - 1);
    for (std::size_t i = 0; i < n; ++i) {
      const Entry& e = source[i];
      const unsigned v = digit == 0 ? e.length : static_cast<unsigned>((e.prefix >> shift) & 0xFF);
      target[count[v]++] = e;
    }
    std::swap(source, target);
    if (stop != nullptr && stop->load(std::memory_order_relaxed)) return false;
  }
  if (source != entries) std::memcpy(entries, source, n * sizeof(Entry));
  return true;
}

// Entries sorted by probe leave runs of long keys with equal probes. A small run is sorted by
// comparison; a large one (keys sharing long stretches) is probed again past what all its keys
// share and radix sorted in turn, so long common stretches cost no comparisons either.
bool RecordBlock::SortTies(Entry* entries, Entry* scratch, std::size_t n, std::size_t offset,
                           const std::atomic<bool>* stop) const {
  std::size_t groups = 0;
  for (std::size_t i = 0; i < n;) {
    std::size_t j = i + 1;
    if (entries[i].length == kLongKey) {
      while (j < n && entries[j].prefix == entries[i].prefix && entries[j].length == kLongKey) ++j;
    }
    const std::size_t size = j - i;
    if (size >= kRadixThreshold) {
      // All keys of the group share offset + 8 bytes and run on past them.
      const std::string_view first = Record(entries[i]).key;
      std::size_t common = first.size();
      for (std::size_t k = i + 1; k < j; ++k) {
        const std::string_view key = Record(entries[k]).key;
        std::size_t same = offset + kPrefixBytes;
        const std::size_t limit = std::min(common, key.size());
        while (same < limit && first[same] == key[same]) ++same;
        common = same;
      }
      for (std::size_t k = i; k < j; ++k) {
        const KeyProbe probe = ProbeKey(Record(entries[k]).key, common);
        entries[k].prefix = probe.prefix;
        entries[k].length = probe.length;
      }
      if (!RadixSort(entries + i, scratch + i, size, stop) ||
          !SortTies(entries + i, scratch + i, size, common, stop)) {
        return false;
      }
    } else if (size > 1) {
      std::sort(entries + i, entries + j, [this, offset](const Entry& a, const Entry& b) {
        return EntryBefore(a, b, offset);
      });
    }
    if (size > 1 && (++groups & 255) == 0 && stop != nullptr &&
        stop->load(std::memory_order_relaxed)) {
      return false;
    }
    i = j;
  }
  return true;
}

bool RecordBlock::Sort(const std::atomic<bool>* stop, bool in_order, BlockSortMethod method) {
  sorted_ = false;
  if (count_ == 0) return true;
  BuildIndex();
  Entry* index = Index();
  if (in_order) {
    // Already in order.
  } else if (method == BlockSortMethod::kComparison || count_ < kRadixThreshold) {
    std::sort(index, index + count_,
              [this](const Entry& a, const Entry& b) { return EntryBefore(a, b, common_prefix_); });
  } else if (!RadixSort(index, index + count_, count_, stop) ||
             !SortTies(index, index + count_, count_, common_prefix_, stop)) {
    return false;
  }
  sorted_ = true;
  return true;
}

RecordView RecordBlock::At(std::size_t i) const {
  assert(sorted_ && i < count_);
  return Record(Index()[i]);
}

void RecordBlock::Prefetch(std::size_t i) const {
  if (i >= count_) return;
  const char* p = memory_.data() + std::size_t{Index()[i].slot} * 8;
  __builtin_prefetch(p);
  __builtin_prefetch(p + 64);
  __builtin_prefetch(p + 128);
}

}  // namespace vesmer
