// The line reader on arbitrary bytes read in tiny chunks, so that chunk edges fall everywhere
// (between CR and LF, between two CRs, lines over many chunks): the lines, the bytes consumed
// after each line and the bytes the observer sees all match a plain splitter.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_line_reader: %s\n", what);
  std::abort();
}

// One temporary file for the whole run, in memory; the reader opens it by its /proc name as a
// regular file of its own.
int TemporaryFile() {
  static const int fd = [] {
    const int f = ::memfd_create("fuzz_line_reader", MFD_CLOEXEC);
    if (f < 0) Fail("memfd_create");
    return f;
  }();
  return fd;
}

void Store(std::string_view bytes) {
  const int fd = TemporaryFile();
  if (::ftruncate(fd, 0) != 0) Fail("ftruncate");
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (put <= 0) Fail("pwrite");
    done += static_cast<std::size_t>(put);
  }
}

class Gather : public vesmer::ChunkObserver {
 public:
  explicit Gather(std::size_t chunk) : chunk_(chunk) {}
  void OnChunk(std::string_view bytes) override {
    if (bytes.empty() || bytes.size() > chunk_) Fail("observer chunk size");
    seen.append(bytes);
  }
  std::string seen;

 private:
  std::size_t chunk_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::size_t chunk = data[0] % 64 + 1;
  const std::string_view text(reinterpret_cast<const char*>(data) + 1, size - 1);
  Store(text);
  static const std::string path = "/proc/self/fd/" + std::to_string(TemporaryFile());

  Gather gather(chunk);
  vesmer::LineReader reader(chunk);
  if (!reader.Open(path, &gather).ok()) Fail("open");
  if (reader.size() != text.size()) Fail("size");

  // The reference: a line ends at CR or CR LF; a lone LF is part of the line; bytes after the
  // last line end are one more line.
  std::size_t start = 0;
  std::string_view line;
  for (std::size_t i = 0; i <= text.size(); ++i) {
    const bool at_end = i == text.size();
    if (!at_end && text[i] != '\r') continue;
    if (at_end && start == text.size()) break;  // nothing after the last line end
    std::size_t next = i + 1;
    if (!at_end && next < text.size() && text[next] == '\n') ++next;
    if (at_end) next = text.size();
    if (!reader.Next(line)) Fail("a line is missing");
    if (line != text.substr(start, i - start)) Fail("a line differs");
    // A LF after a CR that ended a chunk is counted with the next line: the reader hands the
    // line out without waiting for the next chunk.
    const bool lf_pending = next >= 2 && text[next - 1] == '\n' && text[next - 2] == '\r';
    if (reader.consumed() != next && !(lf_pending && reader.consumed() == next - 1)) {
      Fail("consumed() after a line");
    }
    start = next;
    i = next - 1;
  }
  if (reader.Next(line)) Fail("a line too many");
  if (!reader.status().ok()) Fail("status");
  if (reader.consumed() != text.size()) Fail("consumed() at the end");
  if (gather.seen != text) Fail("observed bytes");
  if (reader.Next(line)) Fail("a line after the end");
  return 0;
}
