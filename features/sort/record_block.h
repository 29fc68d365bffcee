// The in-memory step of sorting an input by key: records (key, line, line number) packed into
// one block of memory, sorted there by key and written out or handed out in that order.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesmer {

// Memory taken straight from the system: pages cost nothing until touched and go back to the
// system when freed, so a sort buffer that is let go leaves no resident pages behind (the C
// heap may keep them).
class PageMemory {
 public:
  PageMemory() = default;
  ~PageMemory() { Free(); }
  PageMemory(PageMemory&& other) noexcept;
  PageMemory& operator=(PageMemory&& other) noexcept;
  PageMemory(const PageMemory&) = delete;
  PageMemory& operator=(const PageMemory&) = delete;

  // Replaces the memory held by `bytes` new bytes of unspecified content; false when the
  // system has no memory left (nothing is held then).
  [[nodiscard]] bool Allocate(std::size_t bytes);
  void Free();
  [[nodiscard]] char* data() const { return data_; }
  [[nodiscard]] std::size_t size() const { return size_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
};

// How a record is laid out in a block and in the sort's temporary files: this header, then the
// key bytes, then the line bytes.
struct RecordHeader {
  std::uint32_t key_size;
  std::uint32_t line_size;
  // The 1-based line number shifted left by 3, or'ed with the bytes of the input that were
  // consumed with the line besides its own (its line end, an LF left over from a CR that ended
  // the previous chunk, an RDW record's descriptor word): 0 to RecordBlock::kMaxExtra. Summed
  // over all records they give the input's size.
  std::uint64_t number_and_extra;
};
static_assert(sizeof(RecordHeader) == 16);

// One record as a block or a run hands it out. `bytes` is the whole packed record (header, key,
// line), to copy it into a run as it is.
struct RecordView {
  std::string_view key;
  std::string_view line;
  std::int64_t number = 0;
  std::uint32_t extra = 0;
  std::string_view bytes;
};

// A key seen through the 8 bytes that follow a prefix all keys at hand share, so that most
// comparisons are one of integers. Equal probes with both lengths within the probe mean the
// shorter key is a prefix of the other (the padding is zeros, and so were the other's bytes);
// only two keys that both run on past their probes need the rest of their bytes compared.
struct KeyProbe {
  std::uint64_t prefix = 0;  // key bytes [common, common + 8), zero-padded, first byte highest
  std::uint8_t length = 0;   // key bytes after the common prefix, kLongKey for more than 8
  static constexpr std::uint8_t kLongKey = 9;
};

// The probe of `key`, whose first `common` bytes all keys compared with it share.
[[nodiscard]] KeyProbe ProbeKey(std::string_view key, std::size_t common);

// CompareKeys(a, b) from the keys and their probes (made with the same `common`).
[[nodiscard]] inline int CompareProbedKeys(const KeyProbe& pa, std::string_view a,
                                           const KeyProbe& pb, std::string_view b,
                                           std::size_t common) {
  if (pa.prefix != pb.prefix) return pa.prefix < pb.prefix ? -1 : 1;
  if (pa.length != pb.length) return pa.length < pb.length ? -1 : 1;
  if (pa.length != KeyProbe::kLongKey) return 0;
  const int c = a.substr(common + 8).compare(b.substr(common + 8));
  return (c > 0) - (c < 0);
}

// Reads the record packed at `p` (header, key, line all present).
[[nodiscard]] RecordView UnpackRecord(const char* p);

// The order the sort hands records out in: by key as CompareKeys orders them, then by line
// number. Line numbers are unique, so no two records tie.
[[nodiscard]] bool RecordBefore(const RecordView& a, const RecordView& b);

enum class BlockSortMethod {
  // LSD radix on key probes; many long keys that tie are probed further on and radix sorted
  // again, a few are compared (the default).
  kRadix,
  kComparison,  // std::sort on the same probes with the same tie rules (kept to measure against)
};

// Records appended in file order into a fixed block: the records from the front, and at sort
// time a 16-byte index entry per record and as much again for the radix sort's scratch at the
// back. Fits() tells when the block is full, so the block never grows beyond its capacity
// unless a single record needs more (Reserve()).
class RecordBlock {
 public:
  // The most bytes a record may have been read with besides its own (see RecordHeader).
  static constexpr std::uint32_t kMaxExtra = 7;

  RecordBlock() = default;
  RecordBlock(const RecordBlock&) = delete;
  RecordBlock& operator=(const RecordBlock&) = delete;

  // Bytes one record takes in a block, its index entries included.
  [[nodiscard]] static std::size_t Footprint(std::size_t key_size, std::size_t line_size);

  // Drops all records and sets the capacity (rounded up to 16 bytes, at most 32 GiB); the same
  // capacity again keeps the memory. Pages are committed only as records fill them. Returns
  // false when the system has no memory left.
  [[nodiscard]] bool Reserve(std::size_t capacity);
  // Gives the memory back to the system; the block is empty with capacity 0.
  void Release();
  void Clear();

  // True when a record of these sizes fits beside the records already in the block.
  [[nodiscard]] bool Fits(std::size_t key_size, std::size_t line_size) const {
    return used_ + Footprint(key_size, line_size) + kIndexBytes * count_ <= capacity_;
  }
  // Appends a record; Fits() must hold and `extra` be at most kMaxExtra. Records go in line
  // number order: records with equal keys keep the order they were appended in.
  void Append(std::string_view key, std::string_view line, std::int64_t number,
              std::uint32_t extra);

  // Builds the index in key order. Returns false, leaving the order undefined, when `stop` was
  // set meanwhile. `in_order` says the records were appended in key order already.
  bool Sort(const std::atomic<bool>* stop, bool in_order = false,
            BlockSortMethod method = BlockSortMethod::kRadix);

  // Bytes every key in the block starts with.
  [[nodiscard]] std::size_t common_prefix() const { return common_prefix_; }
  [[nodiscard]] std::size_t count() const { return count_; }
  [[nodiscard]] bool empty() const { return count_ == 0; }
  [[nodiscard]] std::size_t capacity() const { return capacity_; }
  // Bytes in use: records and, once sorted, the index.
  [[nodiscard]] std::size_t footprint() const { return used_ + kIndexBytes * count_; }
  // The i-th record in key order; Sort() must have succeeded.
  [[nodiscard]] RecordView At(std::size_t i) const;
  // Asks the processor to fetch the i-th record early: records in key order lie scattered.
  void Prefetch(std::size_t i) const;

 private:
  struct Entry;
  static constexpr std::size_t kIndexBytes = 32;  // an entry and its radix scratch

  Entry* Index() const;
  void BuildIndex();
  RecordView Record(const Entry& e) const;
  // Entries compared by probes made past `offset` key bytes all their keys share.
  bool EntryBefore(const Entry& a, const Entry& b, std::size_t offset) const;
  // Both return false when `stop` was set.
  bool RadixSort(Entry* entries, Entry* scratch, std::size_t n,
                 const std::atomic<bool>* stop) const;
  bool SortTies(Entry* entries, Entry* scratch, std::size_t n, std::size_t offset,
                const std::atomic<bool>* stop) const;

  PageMemory memory_;
  std::size_t capacity_ = 0;
  std::size_t used_ = 0;
  std::size_t count_ = 0;
  std::size_t common_prefix_ = 0;  // bytes every key in the block starts with
  bool sorted_ = false;
};

}  // namespace vesmer
