// Decodes a file record by record with a code page and prints the throughput, to set beside
// iconv converting the same file. Also writes the files it reads.
//   code_page_decode write-ibm930 COUNT FILE     fixed 200-byte ibm-930 records
//   code_page_decode write-cp932 COUNT FILE      code page 932 lines of the same kind
//   code_page_decode fixed CODEPAGE LENGTH FILE  decodes fixed-length records
//   code_page_decode lines CODEPAGE FILE         decodes LF-terminated lines
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/code_page_records.h"
#include "formats/code_page.h"

namespace {

int Write(bool host, unsigned long count, const char* path) {
  std::FILE* f = std::fopen(path, "wb");
  if (f == nullptr) return 1;
  for (unsigned long i = 0; i < count; ++i) {
    std::string r = host ? vesmer::bench::HostRecord(static_cast<std::uint32_t>(i))
                         : vesmer::bench::Cp932Record(static_cast<std::uint32_t>(i)) + "\n";
    if (std::fwrite(r.data(), 1, r.size(), f) != r.size()) {
      std::fclose(f);
      return 1;
    }
  }
  return std::fclose(f) == 0 ? 0 : 1;
}

int Decode(const char* name, std::size_t length, const char* path) {
  std::string message;
  const auto code_page = vesmer::CodePage::Open(name, message);
  if (!code_page) {
    std::fprintf(stderr, "%s\n", message.c_str());
    return 2;
  }
  const int fd = open(path, O_RDONLY);
  if (fd < 0) return 1;
  // Fixed records: a whole number of them a read. Lines: what is left of a line moves to the
  // front before the next read.
  const std::size_t chunk = length > 0 ? length * (std::size_t{1} << 16) : std::size_t{1} << 24;
  std::vector<char> buffer(chunk);
  vesmer::DecodedText text;
  std::size_t bytes = 0, records = 0, bad = 0, units = 0, held = 0;
  const auto start = std::chrono::steady_clock::now();
  for (;;) {
    const ssize_t got = read(fd, buffer.data() + held, buffer.size() - held);
    if (got < 0) return 1;
    const std::size_t end = held + static_cast<std::size_t>(got);
    std::size_t at = 0;
    if (length > 0) {
      for (; at + length <= end; at += length, ++records) {
        bad += code_page->Decode(std::string_view(buffer.data() + at, length), text);
        units += text.size();
      }
    } else {
      for (;;) {
        const void* lf = std::memchr(buffer.data() + at, '\n', end - at);
        if (lf == nullptr) break;
        const auto stop = static_cast<std::size_t>(static_cast<const char*>(lf) - buffer.data());
        bad += code_page->Decode(std::string_view(buffer.data() + at, stop - at), text);
        units += text.size();
        ++records;
        at = stop + 1;
      }
    }
    bytes += at;
    held = end - at;
    std::memmove(buffer.data(), buffer.data() + at, held);
    if (got == 0) break;
  }
  close(fd);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("%s: %zu records, %zu bytes, %zu units, %zu bad, %.3f s, %.0f MB/s\n", name, records,
              bytes, units, bad, seconds, static_cast<double>(bytes) / seconds / 1e6);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if ((mode == "write-ibm930" || mode == "write-cp932") && argc == 4) {
    return Write(mode == "write-ibm930", std::strtoul(argv[2], nullptr, 10), argv[3]);
  }
  if (mode == "fixed" && argc == 5)
    return Decode(argv[2], std::strtoul(argv[3], nullptr, 10), argv[4]);
  if (mode == "lines" && argc == 4) return Decode(argv[2], 0, argv[3]);
  std::fprintf(stderr,
               "usage: code_page_decode write-ibm930|write-cp932 COUNT FILE\n"
               "       code_page_decode fixed CODEPAGE LENGTH FILE\n"
               "       code_page_decode lines CODEPAGE FILE\n");
  return 2;
}
