// MappedBuffer: a byte buffer for text of any length (a line of hundreds of MB) whose growth
// neither copies nor briefly holds the old and the new storage at once.
#pragma once

#include <cstddef>
#include <string_view>

#include "platform/status.h"

namespace vesmer {

// The bytes live in an anonymous private mapping that grows with mremap(MREMAP_MAYMOVE): the
// kernel moves the pages instead of copying them, and capacity that was never written costs no
// memory. So holding n bytes costs about n bytes of memory, however the buffer got there.
class MappedBuffer {
 public:
  MappedBuffer() = default;
  ~MappedBuffer();
  MappedBuffer(const MappedBuffer&) = delete;
  MappedBuffer& operator=(const MappedBuffer&) = delete;

  // Appends `bytes`. When the memory for them cannot be had, returns the error (ENOMEM) and
  // keeps what the buffer held before.
  [[nodiscard]] Status Append(std::string_view bytes);
  // Forgets the bytes held; the memory stays for the next use.
  void Clear() { size_ = 0; }
  // Gives back memory beyond `limit` bytes (rounded up to whole pages) when the bytes held fit
  // in that; otherwise does nothing. The bytes held stay where they are.
  void ShrinkTo(std::size_t limit);

  [[nodiscard]] std::string_view view() const { return {data_, size_}; }
  [[nodiscard]] std::size_t size() const { return size_; }
  [[nodiscard]] bool empty() const { return size_ == 0; }
  // Bytes mapped; only the pages written to are resident.
  [[nodiscard]] std::size_t capacity() const { return capacity_; }

 private:
  char* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t capacity_ = 0;
};

}  // namespace vesmer
