#include "platform/mapped_buffer.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/sys.h"

namespace vesmer {
namespace {

constexpr std::size_t kMinCapacity = std::size_t{64} << 10;

std::size_t PageSize() {
  static const std::size_t page = [] {
    const long n = ::sysconf(_SC_PAGESIZE);
    return n > 0 ? static_cast<std::size_t>(n) : std::size_t{4096};
  }();
  return page;
}

// `n` rounded up to whole pages; 0 when that does not fit in a size_t.
std::size_t RoundUpToPage(std::size_t n) {
  const std::size_t page = PageSize();
  if (n > std::numeric_limits<std::size_t>::max() - (page - 1)) return 0;
  return (n + page - 1) / page * page;
}

}  // namespace

MappedBuffer::~MappedBuffer() {
  if (data_ != nullptr) sys::Calls().munmap(data_, capacity_);
}

Status MappedBuffer::Append(std::string_view bytes) {
  if (bytes.empty()) return {};
  if (bytes.size() > capacity_ - size_) {
    if (bytes.size() > std::numeric_limits<std::size_t>::max() - size_) {
      return Status::Error(ENOMEM, "mremap");
    }
    const std::size_t needed = RoundUpToPage(size_ + bytes.size());
    if (needed == 0) return Status::Error(ENOMEM, "mremap");
    // Doubling keeps the number of moves logarithmic; the extra room is only address space.
    // Should that much address space be refused (a limit on it), the exact need may still fit.
    const std::size_t doubled =
        capacity_ > std::numeric_limits<std::size_t>::max() / 2 ? 0 : RoundUpToPage(2 * capacity_);
    const std::size_t wanted = std::max({needed, doubled, kMinCapacity});
    void* p = MAP_FAILED;
    for (const std::size_t size : {wanted, needed}) {
      p = data_ == nullptr ? sys::Calls().mmap(nullptr, size, PROT_READ | PROT_WRITE,
                                               MAP_PRIVATE | MAP_ANONYMOUS, -1, 0)
                           : sys::Calls().mremap(data_, capacity_, size, MREMAP_MAYMOVE);
      if (p != MAP_FAILED) {
        capacity_ = size;
        break;
      }
      if (size == needed) break;
    }
    if (p == MAP_FAILED) return Status::Error(errno, data_ == nullptr ? "mmap" : "mremap");
    data_ = static_cast<char*>(p);
  }
  std::memcpy(data_ + size_, bytes.data(), bytes.size());
  size_ += bytes.size();
  return {};
}

void MappedBuffer::ShrinkTo(std::size_t limit) {
  if (data_ == nullptr) return;
  const std::size_t keep = RoundUpToPage(limit);
  if (keep == 0 && limit != 0) return;  // no page-rounded limit that small: nothing to give
  if (capacity_ <= keep || size_ > keep) return;
  if (keep == 0) {
    sys::Calls().munmap(data_, capacity_);
    data_ = nullptr;
    capacity_ = 0;
    return;
  }
  // Unmapping the tail shrinks the mapping where it is, so the bytes held do not move.
  if (sys::Calls().munmap(data_ + keep, capacity_ - keep) == 0) capacity_ = keep;
}

}  // namespace vesmer
