#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "platform/sys.h"
#include "tests/support/forked_child.h"
#include "tests/support/sys_faults.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::kChildSkipped;
using testing::ReadFile;
using testing::RunInChild;
using testing::TempDir;
using testing::WriteFile;
using namespace std::chrono_literals;

// The sanitizers' allocators end the process where operator new would throw std::bad_alloc,
// and their shadow memory counts in the process's peak memory.
#if defined(__has_feature)
#define VESMER_HAS_FEATURE(x) __has_feature(x)
#else
#define VESMER_HAS_FEATURE(x) 0
#endif
#if defined(__SANITIZE_ADDRESS__) || VESMER_HAS_FEATURE(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#if defined(__SANITIZE_THREAD__) || VESMER_HAS_FEATURE(thread_sanitizer)
constexpr bool kThreadSanitizer = true;
#else
constexpr bool kThreadSanitizer = false;
#endif

int OpenDescriptors() {
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/fd")) {
    while (::readdir(d) != nullptr) ++n;
    ::closedir(d);
  }
  return n;
}

TEST(FilesTest, FileExists) {
  TempDir dir;
  WriteFile(dir / "f.txt", "x");
  const int before = OpenDescriptors();
  EXPECT_TRUE(FileExists(dir / "f.txt"));
  EXPECT_TRUE(FileExists(dir / "f.txt/"));  // one trailing separator is dropped
  EXPECT_FALSE(FileExists(""));
  EXPECT_FALSE(FileExists(dir.path()));
  EXPECT_FALSE(FileExists(dir / "missing"));
  if (::geteuid() != 0) {  // root reads everything
    ::chmod((dir / "f.txt").c_str(), 0);
    EXPECT_FALSE(FileExists(dir / "f.txt"));
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(FilesTest, CutNullAndExtensions) {
  EXPECT_EQ(CutNull("abc"), "abc");
  EXPECT_EQ(CutNull(std::string("\0abc", 4)), "");
  EXPECT_EQ(CutNull(std::string("ab\0c", 4)), "ab");
  EXPECT_EQ(RemoveExtension("/d/name"), "/d/name");
  EXPECT_EQ(RemoveExtension("/d/a.b.c"), "/d/a.b");
  EXPECT_EQ(RemoveExtension("/d.e/name"), "/d.e/name");
  EXPECT_EQ(RemoveExtension("name.txt"), "name");
}

TEST(FilesTest, RenameNoReplaceRefusesAnExistingName) {
  TempDir dir;
  WriteFile(dir / "a", "A");
  WriteFile(dir / "b", "B");
  EXPECT_FALSE(RenameNoReplace(dir / "a", dir / "b").ok());
  EXPECT_EQ(ReadFile(dir / "b"), "B");
  EXPECT_TRUE(RenameNoReplace(dir / "a", dir / "c").ok());
  EXPECT_EQ(ReadFile(dir / "c"), "A");
  EXPECT_FALSE(RenameNoReplace(dir / "a", dir / "d").ok());  // the old name is gone
}

std::vector<std::string> ReadAll(const std::string& path) {
  LineReader reader;
  EXPECT_TRUE(reader.Open(path).ok());
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(line)) lines.emplace_back(line);
  EXPECT_TRUE(reader.status().ok());
  EXPECT_EQ(reader.consumed(), reader.size());
  return lines;
}

TEST(FilesTest, LineReaderSplitsAtCrAndCrLf) {
  TempDir dir;
  WriteFile(dir / "f", "a\r\nb\rc\nd\r\r\ne");
  EXPECT_EQ(ReadAll(dir / "f"), (std::vector<std::string>{"a", "b", "c\nd", "", "e"}));
  WriteFile(dir / "f", "");
  EXPECT_TRUE(ReadAll(dir / "f").empty());
  WriteFile(dir / "f", "a\r\n");
  EXPECT_EQ(ReadAll(dir / "f"), (std::vector<std::string>{"a"}));
}

TEST(FilesTest, LineReaderHandlesLinesLongerThanItsBuffer) {
  TempDir dir;
  // A CR LF split across the first 1 MiB read, then a line of 3 MiB.
  const std::string first((1 << 20) - 1, 'x');
  const std::string long_line(3 << 20, 'y');
  WriteFile(dir / "f", first + "\r\n" + long_line + "\r\nz");
  const auto lines = ReadAll(dir / "f");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], first);
  EXPECT_EQ(lines[1], long_line);
  EXPECT_EQ(lines[2], "z");
}

TEST(FilesTest, OutputFileReportsAFullDisk) {
  OutputFile out;
  ASSERT_TRUE(out.Create("/dev/full").ok());
  out.AppendLine("x");
  EXPECT_FALSE(out.Close().ok());
}

// The lines a file holds, split the simple way: a line ends at CR or CR LF, a lone LF is part
// of the line, and text after the last line end is one more line.
std::vector<std::string> ReferenceLines(std::string_view text) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      line += text[i];
      continue;
    }
    lines.push_back(line);
    line.clear();
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

// Writes `count` copies of `piece` to `path` without holding them all in memory.
void WriteRepeated(const std::string& path, std::string_view piece, std::size_t count,
                   std::string_view tail) {
  const UniqueFd fd(::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
  ASSERT_TRUE(fd.valid());
  for (std::size_t i = 0; i < count; ++i) {
    ASSERT_EQ(::write(fd.get(), piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
  }
  ASSERT_EQ(::write(fd.get(), tail.data(), tail.size()), static_cast<ssize_t>(tail.size()));
}

void WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t put = ::write(fd, bytes.data(), bytes.size());
    if (put <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(put));
  }
}

// Gathers what a LineReader passes to its observer.
class Gather : public ChunkObserver {
 public:
  void OnChunk(std::string_view bytes) override {
    if (bytes.empty()) ++empty_calls;
    bytes_.append(bytes);
    largest = std::max(largest, bytes.size());
    ++calls;
  }
  [[nodiscard]] const std::string& bytes() const { return bytes_; }

  int calls = 0;
  int empty_calls = 0;
  std::size_t largest = 0;

 private:
  std::string bytes_;
};

TEST(LineReaderTest, SplitsLikeTheReferenceAtEveryChunkSize) {
  TempDir dir;
  const std::string inputs[] = {
      "",
      "\r",
      "\n",
      "\r\n",
      "\r\r",
      "\n\r",
      "\r\n\r\n",
      "\r\r\n\n",
      "\n\n\r",
      "abc",
      "abc\r",
      "abc\r\n",
      "a\r\nb\rc\nd\r\r\ne",
      std::string("nul\0inside\r\n\0", 14),
      "\x82\xa0\x83\x5c\r\n\x88\x9f\r",  // Shift-JIS bytes pass through as they are
      std::string(100, 'x') + "\r\n" + std::string(37, 'y') + "\r\r\n" + std::string(64, 'z'),
      "x\r" + std::string(70, '\n') + "\r\n",
  };
  for (const std::string& text : inputs) {
    WriteFile(dir / "f", text);
    const std::vector<std::string> expected = ReferenceLines(text);
    for (std::size_t chunk : {1u, 2u, 3u, 4u, 5u, 7u, 8u, 13u, 64u, 4096u}) {
      SCOPED_TRACE(::testing::Message() << "chunk " << chunk << ", text of " << text.size());
      LineReader reader(chunk);
      EXPECT_EQ(reader.chunk_size(), chunk);
      ASSERT_TRUE(reader.Open(dir / "f").ok());
      EXPECT_EQ(reader.size(), text.size());
      std::vector<std::string> lines;
      std::string_view line;
      std::uint64_t consumed = 0;
      while (reader.Next(line)) {
        lines.emplace_back(line);
        EXPECT_GT(reader.consumed(), consumed);  // every line takes up bytes, its end at least
        consumed = reader.consumed();
      }
      EXPECT_TRUE(reader.status().ok());
      EXPECT_EQ(lines, expected);
      EXPECT_EQ(reader.consumed(), text.size());
      EXPECT_FALSE(reader.Next(line));  // the end stays the end
    }
  }
}

TEST(LineReaderTest, AheadShowsTheLinesToComeAndSkipMovesPastThem) {
  TempDir dir;
  WriteFile(dir / "f", "ab\r\ncd\ref\r\ngh");
  LineReader reader(64);
  ASSERT_TRUE(reader.Open(dir / "f").ok());
  std::string_view line;
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(reader.Ahead(), "cd\ref\r\ngh");
  reader.Skip(3);  // "cd" and its CR
  EXPECT_EQ(reader.consumed(), 7u);
  EXPECT_EQ(reader.Ahead(), "ef\r\ngh");
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, "ef");
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, "gh");
  EXPECT_FALSE(reader.Next(line));

  // A CR that ends a chunk: whether an LF follows is still open, so nothing is shown ahead.
  LineReader split(3);
  ASSERT_TRUE(split.Open(dir / "f").ok());
  ASSERT_TRUE(split.Next(line));
  EXPECT_EQ(line, "ab");
  EXPECT_EQ(split.Ahead(), "");
  ASSERT_TRUE(split.Next(line));
  EXPECT_EQ(line, "cd");
}

TEST(LineReaderTest, ChunkSizeIsKeptWithinItsBounds) {
  EXPECT_EQ(LineReader().chunk_size(), LineReader::kDefaultChunkSize);
  EXPECT_EQ(LineReader(0).chunk_size(), 1u);
  EXPECT_EQ(LineReader(std::size_t{1} << 40).chunk_size(), LineReader::kMaxChunkSize);
}

TEST(LineReaderTest, ReopensAndReadsAgain) {
  TempDir dir;
  WriteFile(dir / "a", "1\r\n2\r\n3");
  WriteFile(dir / "b", "x\ry");
  LineReader reader(2);
  ASSERT_TRUE(reader.Open(dir / "a").ok());
  std::string_view line;
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, "1");
  ASSERT_TRUE(reader.Open(dir / "b").ok());  // mid-file: the first file is dropped
  std::vector<std::string> lines;
  while (reader.Next(line)) lines.emplace_back(line);
  EXPECT_EQ(lines, (std::vector<std::string>{"x", "y"}));
  EXPECT_EQ(reader.consumed(), 3u);
  reader.Close();
  EXPECT_FALSE(reader.is_open());
  EXPECT_FALSE(reader.Next(line));
}

TEST(LineReaderTest, OpenFailuresLeaveNoDescriptorOpen) {
  TempDir dir;
  const int before = OpenDescriptors();
  LineReader reader;
  Status s = reader.Open(dir / "missing");
  EXPECT_EQ(s.error_number(), ENOENT);
  EXPECT_EQ(s.path(), dir / "missing");
  s = reader.Open(dir.path());
  EXPECT_EQ(s.error_number(), EISDIR);
  EXPECT_EQ(s.path(), dir.path());
  EXPECT_FALSE(reader.is_open());
  EXPECT_EQ(reader.status().error_number(), EISDIR);
  std::string_view line;
  EXPECT_FALSE(reader.Next(line));
  EXPECT_EQ(OpenDescriptors(), before);
}

std::thread RefuseToStart(std::function<void()>) {
  throw std::system_error(EAGAIN, std::generic_category(), "no thread");
}

std::thread NoMemoryToStart(std::function<void()>) { throw std::bad_alloc(); }

std::thread NoThreadAtAll(std::function<void()>) { return {}; }

int started_threads = 0;
std::thread CountStart(std::function<void()> body) {
  ++started_threads;
  return std::thread(std::move(body));
}

TEST(LineReaderTest, AThreadThatCannotStartIsAStatusAndLeaksNothing) {
  TempDir dir;
  WriteFile(dir / "f", "a\r\nb");
  const int before = OpenDescriptors();
  struct Case {
    LineReader::ThreadStarter start;
    int error_number;
  };
  for (const Case& c :
       {Case{RefuseToStart, EAGAIN}, Case{NoMemoryToStart, ENOMEM}, Case{NoThreadAtAll, EAGAIN}}) {
    LineReader reader(4, c.start);
    const Status s = reader.Open(dir / "f");
    EXPECT_FALSE(s.ok());
    EXPECT_EQ(s.error_number(), c.error_number);
    EXPECT_EQ(s.path(), dir / "f");
    EXPECT_FALSE(reader.is_open());
    std::string_view line;
    EXPECT_FALSE(reader.Next(line));
    EXPECT_EQ(OpenDescriptors(), before);
  }
  // A pipe has a wake-up descriptor too; it goes as well.
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  const UniqueFd read_end(fds[0]);
  const UniqueFd write_end(fds[1]);
  const int with_pipe = OpenDescriptors();
  LineReader reader(4, RefuseToStart);
  EXPECT_EQ(reader.Open("/proc/self/fd/" + std::to_string(read_end.get())).error_number(), EAGAIN);
  EXPECT_EQ(OpenDescriptors(), with_pipe);

  started_threads = 0;
  LineReader counted(4, CountStart);
  ASSERT_TRUE(counted.Open(dir / "f").ok());
  EXPECT_EQ(started_threads, 1);  // the reader starts its thread through the starter given
  std::string_view line;
  ASSERT_TRUE(counted.Next(line));
  EXPECT_EQ(line, "a");
}

// Threads that each run a pair of their own read in the caller: the same lines, every byte
// observed and inspected once in order, a long line across chunks, a failed read; no thread
// is started for a regular file, and a pipe is still read ahead.
TEST(LineReaderTest, ReadsInTheCallerWhereAsked) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 300; ++i) text += "line " + std::to_string(i) + (i % 4 ? "\r\n" : "\r");
  text += std::string(50, 'L') + "\r\n" + "last";
  WriteFile(dir / "f", text);
  const std::vector<std::string> expected = ReferenceLines(text);
  {
    const WorkInCaller in_caller;
    for (std::size_t chunk : {1u, 7u, 16u, 4096u}) {
      SCOPED_TRACE(chunk);
      started_threads = 0;
      Gather gather;
      LineReader reader(chunk, CountStart);
      ASSERT_TRUE(reader.Open(dir / "f", &gather).ok());
      std::vector<std::string> lines;
      std::string_view line;
      while (reader.Next(line)) lines.emplace_back(line);
      EXPECT_TRUE(reader.status().ok());
      EXPECT_EQ(lines, expected);
      EXPECT_EQ(reader.consumed(), text.size());
      EXPECT_EQ(gather.bytes(), text);
      EXPECT_EQ(started_threads, 0);
    }
    // A starter that always fails is never asked.
    LineReader refused(4, RefuseToStart);
    ASSERT_TRUE(refused.Open(dir / "f").ok());
    std::string_view line;
    ASSERT_TRUE(refused.Next(line));
    EXPECT_EQ(line, "line 0");

    testing::SysFaults faults;
    faults.Add({.call = testing::Call::kRead, .error = EIO, .nth = 2});
    LineReader failing(8);
    ASSERT_TRUE(failing.Open(dir / "f").ok());
    ASSERT_TRUE(failing.Next(line));
    EXPECT_EQ(line, "line 0");
    while (failing.Next(line)) {
    }
    EXPECT_EQ(failing.status().error_number(), EIO);
  }
  // A pipe's reads may wait for ever: it keeps its thread even here.
  {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
    const UniqueFd read_end(fds[0]);
    UniqueFd write_end(fds[1]);
    const WorkInCaller in_caller;
    started_threads = 0;
    LineReader piped(4, CountStart);
    ASSERT_TRUE(piped.Open("/proc/self/fd/" + std::to_string(read_end.get())).ok());
    EXPECT_EQ(started_threads, 1);
    ASSERT_EQ(::write(write_end.get(), "p\r\n", 3), 3);
    write_end.Reset();
    std::string_view line;
    ASSERT_TRUE(piped.Next(line));
    EXPECT_EQ(line, "p");
  }
  // Once the scope has ended, a thread reads ahead again.
  started_threads = 0;
  LineReader after(4, CountStart);
  ASSERT_TRUE(after.Open(dir / "f").ok());
  EXPECT_EQ(started_threads, 1);
}

TEST(LineReaderTest, NoMemoryForTheChunksIsAStatus) {
  if (kAddressSanitizer || kThreadSanitizer) {
    GTEST_SKIP() << "the sanitizer ends the process instead of throwing std::bad_alloc";
  }
  TempDir dir;
  WriteFile(dir / "f", "a\r\n");
  const std::string path = dir / "f";
  const int code = RunInChild([&] {
    const int before = OpenDescriptors();
    if (!testing::LimitAddressSpace(std::size_t{64} << 20)) return kChildSkipped;
    LineReader reader(std::size_t{256} << 20);  // four such chunks cannot be had
    const Status s = reader.Open(path);
    CHILD_CHECK(!s.ok());
    CHILD_CHECK(s.error_number() == ENOMEM);
    CHILD_CHECK(s.path() == path);
    CHILD_CHECK(!reader.is_open());
    CHILD_CHECK(OpenDescriptors() == before);
    return 0;
  });
  if (code == kChildSkipped) GTEST_SKIP() << "RLIMIT_AS cannot be set here";
  EXPECT_EQ(code, 0);
}

TEST(LineReaderTest, NoMemoryForALongLineIsAFailedRead) {
  if (kThreadSanitizer) {
    // Seen once in a full run: the sanitizer's own memory for the read-ahead thread ran out
    // under the limit, and it ended the child.
    GTEST_SKIP() << "the thread sanitizer's own allocations may fail under the memory limit";
  }
  TempDir dir;
  const std::string path = dir / "f";
  WriteRepeated(path, std::string(std::size_t{1} << 20, 'x'), 48, "\r\nshort\r\n");
  const int code = RunInChild([&] {
    LineReader reader(std::size_t{64} << 10);
    CHILD_CHECK(reader.Open(path).ok());
    if (!testing::LimitAddressSpace(std::size_t{16} << 20)) return kChildSkipped;
    std::string_view line;
    CHILD_CHECK(!reader.Next(line));  // a 48 MiB line does not fit in 16 MiB
    CHILD_CHECK(reader.status().error_number() == ENOMEM);
    CHILD_CHECK(reader.status().operation() == "read");
    CHILD_CHECK(reader.status().path() == path);
    CHILD_CHECK(!reader.Next(line));  // and the reader stays failed
    reader.Close();
    return 0;
  });
  if (code == kChildSkipped) GTEST_SKIP() << "RLIMIT_AS cannot be set here";
  EXPECT_EQ(code, 0);
}

// A long line costs about its own length in memory: no second copy while its buffer grows.
TEST(LineReaderTest, ALongLineCostsAboutItsOwnLength) {
  if (kThreadSanitizer) GTEST_SKIP() << "ThreadSanitizer's shadow is several times the line";
  TempDir dir;
  const std::string path = dir / "f";
  // Just over a power of two, where a doubling buffer holds old and new storage at once.
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  constexpr std::size_t kLine = 33 * kMiB;
  WriteRepeated(path, std::string(kMiB, 'x'), kLine / kMiB, "\r\nend\r\n");
  const int code = RunInChild([&] {
    LineReader reader;
    CHILD_CHECK(reader.Open(path).ok());
    if (!testing::ResetPeakMemory()) return kChildSkipped;
    const long before_kib = testing::ProcStatusKib("VmRSS");
    CHILD_CHECK(before_kib > 0);
    std::string_view line;
    CHILD_CHECK(reader.Next(line));
    CHILD_CHECK(line.size() == kLine);
    CHILD_CHECK(line.find_first_not_of('x') == std::string_view::npos);
    CHILD_CHECK(reader.Next(line) && line == "end");
    const long peak_kib = testing::ProcStatusKib("VmHWM");
    const long growth = (peak_kib - before_kib) * 1024;
    std::fprintf(stderr, "a line of %zu bytes: peak grew by %ld bytes\n", kLine, growth);
    // The line, the four chunks in flight and a little slack (AddressSanitizer adds its shadow
    // of the line, an eighth, and bookkeeping); a doubling buffer needs 64 MiB and more.
    const std::size_t allowed = kLine + 10 * kMiB + (kAddressSanitizer ? kLine / 4 : 0);
    CHILD_CHECK(growth < static_cast<long>(allowed));
    return 0;
  });
  if (code == kChildSkipped) GTEST_SKIP() << "peak memory cannot be reset here";
  EXPECT_EQ(code, 0);
}

TEST(LineReaderTest, GivesBackTheMemoryOfALongLineWhenLinesAreShortAgain) {
  TempDir dir;
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  // A long line, short lines within a chunk, a long one again, then short ones that each run
  // over a chunk's end.
  const std::string long_line(3 * kMiB + 5, 'L');
  const std::string text = long_line + "\r\nshort\r\n" + long_line + "\r\n" +
                           std::string(6000, 's') + "\r\n" + std::string(6000, 't') + "\r\n";
  WriteFile(dir / "f", text);
  LineReader reader(4096);
  ASSERT_TRUE(reader.Open(dir / "f").ok());
  std::string_view line;
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line.size(), long_line.size());
  EXPECT_GE(reader.line_buffer_capacity(), long_line.size());
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, "short");
  EXPECT_LE(reader.line_buffer_capacity(), kMiB);
  ASSERT_TRUE(reader.Next(line));
  EXPECT_TRUE(line == long_line);
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, std::string(6000, 's'));
  EXPECT_LE(reader.line_buffer_capacity(), kMiB);
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, std::string(6000, 't'));
  EXPECT_FALSE(reader.Next(line));
  EXPECT_TRUE(reader.status().ok());
  reader.Close();
  EXPECT_EQ(reader.line_buffer_capacity(), 0u);
}

TEST(LineReaderTest, PipeHandsOutALineAsSoonAsItsEndArrives) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  const UniqueFd read_end(fds[0]);
  UniqueFd write_end(fds[1]);
  std::promise<void> first_line_seen;
  std::future<void> seen = first_line_seen.get_future();
  bool writer_waited_in_vain = false;
  // The writer sends a line whose CR is the last byte so far and then holds the pipe open until
  // the reader has that line (or gives up after a long while, so the test cannot hang).
  std::jthread writer([&] {
    WriteAll(write_end.get(), "one\r");
    writer_waited_in_vain = seen.wait_for(30s) != std::future_status::ready;
    WriteAll(write_end.get(), "\ntwo\r\nthr");
    WriteAll(write_end.get(), "ee");
    write_end.Reset();
  });
  Gather gather;
  LineReader reader;
  ASSERT_TRUE(reader.Open("/proc/self/fd/" + std::to_string(read_end.get()), &gather).ok());
  EXPECT_EQ(reader.size(), 0u);
  std::string_view line;
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, "one");
  first_line_seen.set_value();
  std::vector<std::string> lines;
  while (reader.Next(line)) lines.emplace_back(line);
  EXPECT_TRUE(reader.status().ok());
  EXPECT_EQ(lines, (std::vector<std::string>{"two", "three"}));
  EXPECT_EQ(reader.consumed(), 15u);
  EXPECT_EQ(gather.bytes(), "one\r\ntwo\r\nthree");
  writer.join();
  EXPECT_FALSE(writer_waited_in_vain) << "the first line came only when the writer gave up";
}

TEST(LineReaderTest, CloseDoesNotWaitForAPipesWriter) {
  int fds[2];
  ASSERT_EQ(::pipe2(fds, O_CLOEXEC), 0);
  const UniqueFd read_end(fds[0]);
  UniqueFd write_end(fds[1]);
  std::promise<void> closed;
  std::future<void> is_closed = closed.get_future();
  bool writer_waited_in_vain = false;
  std::jthread writer([&] {
    WriteAll(write_end.get(), "one\r\n");
    writer_waited_in_vain = is_closed.wait_for(30s) != std::future_status::ready;
    write_end.Reset();
  });
  LineReader reader;
  ASSERT_TRUE(reader.Open("/proc/self/fd/" + std::to_string(read_end.get())).ok());
  std::string_view line;
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, "one");
  reader.Close();  // the read-ahead thread waits for more; Close must not wait with it
  closed.set_value();
  writer.join();
  EXPECT_FALSE(writer_waited_in_vain) << "Close returned only when the writer gave up";
}

TEST(LineReaderTest, ObserverSeesEveryByteOnceInOrder) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 500; ++i) text += "line " + std::to_string(i) + (i % 3 ? "\r\n" : "\r");
  text += "last";
  WriteFile(dir / "f", text);
  for (std::size_t chunk : {1u, 3u, 16u}) {
    SCOPED_TRACE(chunk);
    Gather gather;
    LineReader reader(chunk);
    ASSERT_TRUE(reader.Open(dir / "f", &gather).ok());
    std::string_view line;
    std::size_t lines = 0;
    while (reader.Next(line)) ++lines;
    EXPECT_EQ(lines, 501u);
    // Next() has returned false at the end: the thread is done with the observer.
    EXPECT_EQ(gather.bytes(), text);
    EXPECT_EQ(gather.empty_calls, 0);
    EXPECT_LE(gather.largest, chunk);
    EXPECT_GE(static_cast<std::size_t>(gather.calls), (text.size() + chunk - 1) / chunk);
  }
  // An empty file: nothing to observe.
  WriteFile(dir / "e", "");
  Gather empty;
  LineReader reader(3);
  ASSERT_TRUE(reader.Open(dir / "e", &empty).ok());
  std::string_view line;
  EXPECT_FALSE(reader.Next(line));
  EXPECT_EQ(empty.calls, 0);
}

TEST(LineReaderTest, AfterCloseTheObserverHasAPrefixAndIsNotTouchedAgain) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 2000; ++i) text += std::to_string(i) + "\r\n";
  WriteFile(dir / "f", text);
  auto gather = std::make_unique<Gather>();
  LineReader reader(7);
  ASSERT_TRUE(reader.Open(dir / "f", gather.get()).ok());
  std::string_view line;
  ASSERT_TRUE(reader.Next(line));
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, "1");
  reader.Close();
  const std::string seen = gather->bytes();
  EXPECT_GE(seen.size(), reader.consumed());
  EXPECT_EQ(seen, text.substr(0, seen.size()));
  gather.reset();  // were the thread still to touch it, the sanitizers would tell
  EXPECT_FALSE(reader.Next(line));
}

// An observer slower than the reader: it looks at each chunk only after a pause.
class SlowGather : public ChunkObserver {
 public:
  void OnChunk(std::string_view bytes) override {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    bytes_.append(bytes);
  }
  [[nodiscard]] const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
};

TEST(LineReaderTest, AChunkIsNotReadAgainWhileTheObserverStillLooksAtIt) {
  // The reader is done with each chunk long before the observer: were a chunk given back and
  // filled again while still observed, the observer would see later bytes.
  TempDir dir;
  std::string text;
  for (int i = 0; i < 600; ++i) text += std::to_string(i * 7919) + "\r\n";
  WriteFile(dir / "f", text);
  SlowGather slow;
  LineReader reader(5);
  ASSERT_TRUE(reader.Open(dir / "f", &slow).ok());
  std::string_view line;
  std::size_t lines = 0;
  while (reader.Next(line)) ++lines;
  EXPECT_TRUE(reader.status().ok());
  EXPECT_EQ(lines, 600u);
  EXPECT_EQ(slow.bytes(), text);
}

// Counts what it is passed, for a test that waits on it from another thread.
class CountingGather : public ChunkObserver {
 public:
  void OnChunk(std::string_view bytes) override {
    bytes_.append(bytes);
    seen_.store(bytes_.size());
  }
  [[nodiscard]] std::size_t seen() const { return seen_.load(); }
  [[nodiscard]] const std::string& bytes() const { return bytes_; }

 private:
  std::string bytes_;
  std::atomic<std::size_t> seen_{0};
};

TEST(LineReaderTest, TheObserverOfARegularFileGoesOnWhileTheReaderWaits) {
  // The reader takes nothing for a while (a run emptying its result files first): the chunks
  // ahead fill up, and the observer still sees the whole file; then, read to its end, every
  // byte was passed exactly once, in order.
  TempDir dir;
  std::string text;
  for (int i = 0; i < 4000; ++i) text += std::to_string(i * 7919) + "\r\n";
  WriteFile(dir / "f", text);
  CountingGather gather;
  LineReader reader(64);
  ASSERT_TRUE(reader.Open(dir / "f", &gather).ok());
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (gather.seen() < text.size() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  EXPECT_EQ(gather.seen(), text.size());
  std::string read;
  std::string_view bytes;
  while (reader.NextChunk(bytes)) read.append(bytes);
  EXPECT_TRUE(reader.status().ok());
  EXPECT_EQ(read, text);
  EXPECT_EQ(gather.bytes(), text);
}

// An observer that fails after the first few chunks.
class FailingObserver : public ChunkObserver {
 public:
  explicit FailingObserver(bool no_memory, int good_calls = 2)
      : no_memory_(no_memory), good_calls_(good_calls) {}
  void OnChunk(std::string_view bytes) override {
    if (++calls_ > good_calls_) {
      if (no_memory_) throw std::bad_alloc();
      throw std::runtime_error("observer");
    }
    seen.append(bytes);
  }
  std::string seen;

 private:
  bool no_memory_;
  int good_calls_;
  int calls_ = 0;
};

TEST(LineReaderTest, AnObserverThatThrowsEndsTheReadingWithAnError) {
  TempDir dir;
  WriteFile(dir / "f", "ab\r\ncd\r\nef\r\ngh\r\n");
  for (bool no_memory : {true, false}) {
    FailingObserver observer(no_memory);
    LineReader reader(4);
    ASSERT_TRUE(reader.Open(dir / "f", &observer).ok());
    std::vector<std::string> lines;
    std::string_view line;
    while (reader.Next(line)) lines.emplace_back(line);
    // The chunk it failed on may have been handed out already; nothing after it is.
    if (lines.size() == 3) {
      EXPECT_EQ(lines, (std::vector<std::string>{"ab", "cd", "ef"}));
    } else {
      EXPECT_EQ(lines, (std::vector<std::string>{"ab", "cd"}));
    }
    EXPECT_EQ(observer.seen, "ab\r\ncd\r\n");
    EXPECT_EQ(reader.status().error_number(), no_memory ? ENOMEM : EIO);
    EXPECT_EQ(reader.status().operation(), "read");
    EXPECT_EQ(reader.status().path(), dir / "f");
  }
}

TEST(LineReaderTest, AnObserverThatFailsOnTheLastChunkIsNoCleanEnd) {
  // The last chunk reaches the reader before the observer is done with it: the end of the file
  // must still come as the observer's failure, never as a clean end.
  TempDir dir;
  WriteFile(dir / "f", "ab\r\ncd\r\n");
  for (int round = 0; round < 50; ++round) {
    FailingObserver observer(false, 1);
    LineReader reader(4);
    ASSERT_TRUE(reader.Open(dir / "f", &observer).ok());
    std::string_view line;
    int lines = 0;
    while (reader.Next(line)) ++lines;
    EXPECT_LE(lines, 2);
    EXPECT_EQ(reader.status().error_number(), EIO);
  }
}

// True when `bytes` holds nothing of an old result: a file emptied, or its old contents turned
// into zeros in place.
bool NoOldBytes(std::string_view bytes) {
  return bytes.find_first_not_of('\0') == std::string_view::npos;
}

// The calls of a file system that cannot turn a file's contents into zeros in place (tmpfs,
// ext4 without extents): an old result is truncated.
sys::SysCalls WithoutZeroing() {
  sys::SysCalls calls = sys::Calls();
  calls.fallocate = [](int, int, off_t, off_t) {
    errno = EOPNOTSUPP;
    return -1;
  };
  return calls;
}

TEST(OutputFileTest, CreateWritesANewFileOrReplacesTheContents) {
  TempDir dir;
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "new").ok());
  EXPECT_TRUE(out.id() == IdOfPath(dir / "new"));
  out.AppendLine("\x82\xa0");
  out.Append("x");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ReadFile(dir / "new"), "\x82\xa0\r\nx");

  WriteFile(dir / "old", "a much longer old content\r\n");
  ASSERT_TRUE(out.Create(dir / "old").ok());
  out.AppendLine("b");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ReadFile(dir / "old"), "b\r\n");

  // More than the buffer holds, in pieces and in one piece larger than the buffer.
  ASSERT_TRUE(out.Create(dir / "big").ok());
  const std::string piece(300000, 'p');
  for (int i = 0; i < 5; ++i) out.Append(piece);
  const std::string huge(std::size_t{3} << 20, 'h');
  out.Append(huge);
  out.Append("end");
  ASSERT_TRUE(out.Close().ok());
  const std::string written = ReadFile(dir / "big");
  EXPECT_EQ(written.size(), 5 * piece.size() + huge.size() + 3);
  EXPECT_TRUE(written == piece + piece + piece + piece + piece + huge + "end");
}

TEST(OutputFileTest, AppendsAnEmptyViewThatHasNoBytesBehindIt) {
  // An empty line may come as a view without data (the line reader hands out the first line of a
  // file so when it is empty); appending it must not pass a null pointer on.
  TempDir dir;
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "empty").ok());
  out.Append(std::string_view());
  out.AppendLine(std::string_view());
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ReadFile(dir / "empty"), "\r\n");
}

TEST(OutputFileTest, OpenLockedChangesNothingUntilTruncate) {
  TempDir dir;
  WriteFile(dir / "r", "old result\r\n");
  OutputFile out;
  ASSERT_TRUE(out.OpenLocked(dir / "r").ok());
  EXPECT_TRUE(out.is_open());
  EXPECT_TRUE(out.id() == IdOfPath(dir / "r"));
  EXPECT_EQ(ReadFile(dir / "r"), "old result\r\n");
  out.Append("x");  // before Truncate nothing may be written over the old contents
  EXPECT_EQ(out.status().error_number(), EBADF);
  EXPECT_EQ(out.Close().error_number(), EBADF);
  EXPECT_EQ(ReadFile(dir / "r"), "old result\r\n");

  ASSERT_TRUE(out.OpenLocked(dir / "r").ok());
  ASSERT_TRUE(out.Truncate().ok());
  EXPECT_TRUE(NoOldBytes(ReadFile(dir / "r")));
  out.AppendLine("new");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ReadFile(dir / "r"), "new\r\n");
}

TEST(OutputFileTest, TwoOpensOfOneFileInOneProcessConflict) {
  TempDir dir;
  WriteFile(dir / "r", "kept\r\n");
  const int before = OpenDescriptors();
  OutputFile first;
  ASSERT_TRUE(first.OpenLocked(dir / "r").ok());
  OutputFile second;
  Status s = second.OpenLocked(dir / "r");
  EXPECT_EQ(s.error_number(), EWOULDBLOCK);
  EXPECT_EQ(s.path(), dir / "r");
  EXPECT_FALSE(second.is_open());
  EXPECT_FALSE(second.id().valid);
  EXPECT_EQ(second.Create(dir / "r").error_number(), EWOULDBLOCK);  // Create locks as well
  EXPECT_EQ(ReadFile(dir / "r"), "kept\r\n");

  ASSERT_TRUE(first.Truncate().ok());
  first.AppendLine("first");
  EXPECT_EQ(second.OpenLocked(dir / "r").error_number(), EWOULDBLOCK);  // held until Close
  ASSERT_TRUE(first.Close().ok());
  EXPECT_EQ(ReadFile(dir / "r"), "first\r\n");

  ASSERT_TRUE(second.Create(dir / "r").ok());
  second.AppendLine("second");
  ASSERT_TRUE(second.Close().ok());
  EXPECT_EQ(ReadFile(dir / "r"), "second\r\n");
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(OutputFileTest, AFileLockedByAnotherProcessIsRefusedAndKept) {
  TempDir dir;
  const std::string path = dir / "r";
  WriteFile(path, "theirs\r\n");
  int to_child[2];
  int from_child[2];
  ASSERT_EQ(::pipe2(to_child, O_CLOEXEC), 0);
  ASSERT_EQ(::pipe2(from_child, O_CLOEXEC), 0);
  const UniqueFd to_child_read(to_child[0]), to_child_write(to_child[1]);
  const UniqueFd from_child_read(from_child[0]), from_child_write(from_child[1]);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // The other run: lock the file, say so, hold it until told to finish.
    OutputFile out;
    const char locked = out.OpenLocked(path).ok() ? 'L' : 'F';
    if (::write(from_child_write.get(), &locked, 1) != 1) ::_exit(2);
    char go;
    if (::read(to_child_read.get(), &go, 1) != 1) ::_exit(3);
    ::_exit(0);
  }
  char locked = 0;
  ASSERT_EQ(::read(from_child_read.get(), &locked, 1), 1);
  ASSERT_EQ(locked, 'L');
  OutputFile out;
  const Status s = out.OpenLocked(path);
  EXPECT_EQ(s.error_number(), EWOULDBLOCK);
  EXPECT_EQ(s.operation(), "lock");
  EXPECT_EQ(s.path(), path);
  EXPECT_EQ(out.Create(path).error_number(), EWOULDBLOCK);
  EXPECT_EQ(ReadFile(path), "theirs\r\n");
  const char go = 'g';
  ASSERT_EQ(::write(to_child_write.get(), &go, 1), 1);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The other run has ended: the lock went with it.
  ASSERT_TRUE(out.Create(path).ok());
  out.AppendLine("ours");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ReadFile(path), "ours\r\n");
}

TEST(OutputFileTest, AbandonRemovesOnlyAFileItCreated) {
  TempDir dir;
  const int before = OpenDescriptors();
  WriteFile(dir / "existing", "as it was");
  OutputFile existing;
  ASSERT_TRUE(existing.OpenLocked(dir / "existing").ok());
  existing.Abandon();
  EXPECT_FALSE(existing.is_open());
  EXPECT_EQ(ReadFile(dir / "existing"), "as it was");

  OutputFile created;
  ASSERT_TRUE(created.OpenLocked(dir / "new").ok());
  EXPECT_TRUE(testing::Exists(dir / "new"));
  created.Abandon();
  EXPECT_FALSE(testing::Exists(dir / "new"));

  // The path names another file by now: that one is not ours to remove.
  ASSERT_TRUE(created.OpenLocked(dir / "moved").ok());
  ASSERT_EQ(::rename((dir / "moved").c_str(), (dir / "elsewhere").c_str()), 0);
  WriteFile(dir / "moved", "someone else's");
  created.Abandon();
  EXPECT_EQ(ReadFile(dir / "moved"), "someone else's");
  EXPECT_TRUE(testing::Exists(dir / "elsewhere"));

  // Abandoned after writing began: a file this object created goes all the same.
  ASSERT_TRUE(created.OpenLocked(dir / "half").ok());
  ASSERT_TRUE(created.Truncate().ok());
  created.AppendLine("partial");
  created.Abandon();
  EXPECT_FALSE(testing::Exists(dir / "half"));
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(OutputFileTest, DestroyingAFileThatWasOnlyLockedAbandonsIt) {
  TempDir dir;
  WriteFile(dir / "existing", "as it was");
  {
    OutputFile created;
    ASSERT_TRUE(created.OpenLocked(dir / "new").ok());
    OutputFile existing;
    ASSERT_TRUE(existing.OpenLocked(dir / "existing").ok());
  }
  EXPECT_FALSE(testing::Exists(dir / "new"));
  EXPECT_EQ(ReadFile(dir / "existing"), "as it was");
  {
    OutputFile written;
    ASSERT_TRUE(written.Create(dir / "written").ok());
    written.AppendLine("kept");
  }  // a file being written is flushed and closed, never removed
  EXPECT_EQ(ReadFile(dir / "written"), "kept\r\n");
}

TEST(OutputFileTest, OpenFailuresCreateNothing) {
  TempDir dir;
  const int before = OpenDescriptors();
  OutputFile out;
  Status s = out.OpenLocked(dir / "no/such/folder");
  EXPECT_EQ(s.error_number(), ENOENT);
  EXPECT_EQ(s.operation(), "create");
  EXPECT_EQ(s.path(), dir / "no/such/folder");
  s = out.OpenLocked(dir.path());
  EXPECT_EQ(s.error_number(), EISDIR);
  EXPECT_FALSE(out.is_open());
  EXPECT_EQ(out.Truncate().error_number(), EBADF);
  if (::geteuid() != 0) {  // root writes everywhere
    WriteFile(dir / "read-only", "x");
    ::chmod((dir / "read-only").c_str(), 0444);
    EXPECT_EQ(out.Create(dir / "read-only").error_number(), EACCES);
    EXPECT_EQ(ReadFile(dir / "read-only"), "x");
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(OutputFileTest, ASymbolicLinkToAMissingFileIsFollowedButNeverRemoved) {
  TempDir dir;
  ASSERT_EQ(::symlink((dir / "target").c_str(), (dir / "link").c_str()), 0);
  OutputFile out;
  ASSERT_TRUE(out.OpenLocked(dir / "link").ok());
  EXPECT_TRUE(testing::Exists(dir / "target"));
  out.Abandon();  // not surely created by us: kept
  EXPECT_TRUE(testing::Exists(dir / "target"));
  ASSERT_TRUE(out.Create(dir / "link").ok());
  out.AppendLine("via link");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ReadFile(dir / "target"), "via link\r\n");
}

TEST(OutputFileTest, DevicesAndFifosAreNeitherTruncatedNorLocked) {
  OutputFile first;
  OutputFile second;
  ASSERT_TRUE(first.Create("/dev/null").ok());
  ASSERT_TRUE(second.Create("/dev/null").ok());  // any number of runs may share /dev/null
  first.AppendLine("x");
  EXPECT_TRUE(first.Close().ok());
  EXPECT_TRUE(second.Close().ok());

  TempDir dir;
  ASSERT_EQ(::mkfifo((dir / "fifo").c_str(), 0600), 0);
  const UniqueFd reader(::open((dir / "fifo").c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC));
  ASSERT_TRUE(reader.valid());
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "fifo").ok());
  out.AppendLine("through");
  ASSERT_TRUE(out.Close().ok());
  char buffer[32];
  const ssize_t got = ::read(reader.get(), buffer, sizeof buffer);
  ASSERT_EQ(got, 9);
  EXPECT_EQ(std::string_view(buffer, 9), "through\r\n");
}

// The threads of this process; -1 under ThreadSanitizer, which starts one of its own.
int Threads() {
  if (kThreadSanitizer) return -1;
  int n = 0;
  if (DIR* d = ::opendir("/proc/self/task")) {
    while (const dirent* entry = ::readdir(d)) n += entry->d_name[0] != '.';
    ::closedir(d);
  }
  return n;
}

// Threads() once it has come down to `expected`, or after a minute: a thread is still listed for
// a moment after join() returned, while the system lets go of it.
int ThreadsOnceDownTo(int expected) {
  const auto deadline = std::chrono::steady_clock::now() + 60s;
  int n = Threads();
  while (n > expected && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(1ms);
    n = Threads();
  }
  return n;
}

// `n` bytes that differ from one MiB to the next, so that a piece written twice or lost shows.
std::string Pattern(std::size_t n, char seed) {
  std::string bytes(n, '\0');
  for (std::size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>(seed + i / 4093 + i % 251);
  return bytes;
}

TEST(OutputFileTest, ALargeFileIsWrittenBehindAndStaysExactlyWhatWasAppended) {
  // A large file's disk writes are started on a thread while it is still being written, when
  // its old contents had to be truncated. That thread must never change the file, and must be
  // gone whenever the file is let go: closed, abandoned, or opened again.
  const sys::ScopedSysCalls truncating(WithoutZeroing());
  TempDir dir;
  const int threads = Threads();
  const int running = kThreadSanitizer ? -1 : threads + 1;
  const std::string first = Pattern(std::size_t{20} << 20, 'a');
  const std::string second = Pattern(std::size_t{18} << 20, 'k');
  WriteFile(dir / "r", second + second);  // an old, longer result
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  for (std::size_t at = 0; at < first.size(); at += 300001) {
    out.Append(std::string_view(first).substr(at, 300001));
  }
  // The writer and the write-behind run.
  EXPECT_EQ(Threads(), kThreadSanitizer ? -1 : threads + 2);
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ThreadsOnceDownTo(threads), threads);
  EXPECT_TRUE(ReadFile(dir / "r") == first);

  // Opened again while the write-behind runs, and emptied: only the new bytes are left.
  ASSERT_TRUE(out.Create(dir / "r").ok());
  out.Append(first);
  EXPECT_EQ(Threads(), running);
  ASSERT_TRUE(out.Create(dir / "r").ok());
  EXPECT_EQ(ThreadsOnceDownTo(threads), threads);
  out.Append(second);
  out.AppendLine("end");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_TRUE(ReadFile(dir / "r") == second + "end\r\n");

  // A new file is not written behind: it had nothing to empty, so its close writes nothing back.
  // Abandoned, it is removed.
  ASSERT_TRUE(out.OpenLocked(dir / "n").ok());
  ASSERT_TRUE(out.Truncate().ok());
  out.Append(first);
  EXPECT_EQ(Threads(), threads);
  out.Abandon();
  EXPECT_EQ(ThreadsOnceDownTo(threads), threads);
  EXPECT_FALSE(FileExists(dir / "n"));
}

// The write-behind's requests to the system, as the stand-in for sync_file_range below saw
// them; `hold` keeps a request from returning, as a slow disk does while the writes it asked
// for are queued.
struct SyncRequests {
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<std::pair<std::uint64_t, std::uint64_t>> seen;  // offset and length
  bool hold = false;
};

SyncRequests& Requests() {
  static SyncRequests requests;
  return requests;
}

// Stands in for sync_file_range: each request is noted and held while a test asks for a slow
// disk, then passed on unchanged.
int NotedSyncFileRange(int fd, off_t offset, off_t count, unsigned flags) {
  SyncRequests& requests = Requests();
  {
    std::unique_lock lock(requests.mutex);
    requests.seen.emplace_back(static_cast<std::uint64_t>(offset),
                               static_cast<std::uint64_t>(count));
    requests.changed.notify_all();
    requests.changed.wait(lock, [&] { return !requests.hold; });
  }
  return sys::RealCalls().sync_file_range(fd, offset, count, flags);
}

// Waits (a minute at most) until `ready` holds for the requests seen; false when it never does.
template <typename Ready>
bool WaitForRequests(Ready ready) {
  SyncRequests& requests = Requests();
  std::unique_lock lock(requests.mutex);
  return requests.changed.wait_for(lock, 60s, [&] { return ready(requests.seen); });
}

TEST(OutputFileTest, ASlowDiskIsAskedForOneStepAtATime) {
  // On a slow disk a request returns about when the writes it asked for are done, and Close()
  // waits for the request under way. The write-behind must ask for a step at a time, not for
  // everything written while the last request waited, or closing (after a stop, too) would
  // wait for most of the file.
  TempDir dir;
  const std::string bytes = Pattern(std::size_t{40} << 20, 'c');
  WriteFile(dir / "r", "old result\r\n");  // only a file that was emptied is written behind
  SyncRequests& requests = Requests();
  {
    std::lock_guard lock(requests.mutex);
    requests.seen.clear();
    requests.hold = true;
  }
  sys::SysCalls calls = WithoutZeroing();
  calls.sync_file_range = NotedSyncFileRange;
  const sys::ScopedSysCalls noted(calls);
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  out.Append(std::string_view(bytes).substr(0, std::size_t{17} << 20));
  ASSERT_TRUE(WaitForRequests([](const auto& seen) { return seen.size() == 1; }));
  out.Append(std::string_view(bytes).substr(std::size_t{17} << 20));  // while the disk is slow
  {
    std::lock_guard lock(requests.mutex);
    requests.hold = false;
  }
  requests.changed.notify_all();
  ASSERT_TRUE(WaitForRequests([](const auto& seen) { return seen.size() >= 2; }));
  ASSERT_TRUE(out.Close().ok());
  EXPECT_TRUE(ReadFile(dir / "r") == bytes);

  std::lock_guard lock(requests.mutex);
  std::uint64_t next = 0;
  for (const auto& [offset, length] : requests.seen) {
    EXPECT_EQ(offset, next);  // in file order, nothing asked for twice
    EXPECT_GT(length, 0u);
    EXPECT_LE(length, std::uint64_t{8} << 20);
    next = offset + length;
  }
  EXPECT_LE(next, bytes.size());
}

// An old result is turned into zeros in place, written over, and cut after the new contents
// when the file is let go of: shorter, longer, as long, closed or abandoned, with the writer's
// thread or without. No old byte can be read once the file is emptied, and no zero is left.
TEST(OutputFileTest, AnOldResultIsZeroedInPlaceAndCutAfterTheNewContents) {
  TempDir dir;
  const int threads = Threads();
  const std::string old = Pattern(std::size_t{3} << 20, 'o');
  const std::string large = Pattern(std::size_t{20} << 20, 'l');
  struct Case {
    const char* what;
    std::string old, now;
    bool abandon;
  };
  const Case cases[] = {
      {"shorter", old, "new\r\n", false},
      {"longer", old, old + large, false},
      {"as long", old, Pattern(old.size(), 'n'), false},
      {"large over larger", large + old, large, false},
      {"abandoned after a flush", old, "kept\r\n", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    WriteFile(dir / "r", c.old);
    const testing::SysFaults counted;
    OutputFile out;
    ASSERT_TRUE(out.Create(dir / "r").ok());
    EXPECT_EQ(counted.Calls(testing::Call::kFallocate), 1);
    EXPECT_EQ(counted.Calls(testing::Call::kFtruncate), 0);
    const std::string emptied = ReadFile(dir / "r");
    EXPECT_EQ(emptied.size(), c.old.size());  // zeros in place: no block was given up
    EXPECT_TRUE(NoOldBytes(emptied));
    for (std::size_t at = 0; at < c.now.size(); at += 100003) {
      out.Append(std::string_view(c.now).substr(at, 100003));
    }
    if (c.now.size() > (std::size_t{16} << 20)) {
      EXPECT_EQ(Threads(), kThreadSanitizer ? -1 : threads + 1);  // the writer, no write-behind
    }
    if (c.abandon) {
      ASSERT_TRUE(out.Flush().ok());
      out.Abandon();
    } else {
      ASSERT_TRUE(out.Close().ok());
    }
    EXPECT_EQ(ThreadsOnceDownTo(threads), threads);
    EXPECT_TRUE(ReadFile(dir / "r") == c.now);
    // Cut only where zeros were left.
    EXPECT_EQ(counted.Calls(testing::Call::kFtruncate), c.now.size() < c.old.size() ? 1 : 0);
  }
}

TEST(OutputFileTest, ASparseOldResultIsTruncatedNotFilled) {
  // Zeroing in place would allocate the holes: a file of a terabyte that holds nothing would
  // take the disk.
  TempDir dir;
  {
    const UniqueFd fd(::open((dir / "r").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
    ASSERT_TRUE(fd.valid());
    ASSERT_EQ(::ftruncate(fd.get(), off_t{1} << 40), 0);
  }
  const testing::SysFaults counted;
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  EXPECT_EQ(counted.Calls(testing::Call::kFallocate), 0);
  EXPECT_EQ(counted.Calls(testing::Call::kFtruncate), 1);
  out.AppendLine("new");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ReadFile(dir / "r"), "new\r\n");
}

TEST(OutputFileTest, OnAFileSystemShortOfSpaceAnOldResultIsTruncated) {
  // Blocks kept for one result are not free for the others of the run: on a file system with
  // less free space than the old result holds, it is given up at once, as before.
  TempDir dir;
  const std::string old = Pattern(std::size_t{1} << 20, 'o');
  WriteFile(dir / "r", old);
  sys::SysCalls calls = sys::Calls();
  calls.fstatvfs = [](int fd, struct statvfs* st) {
    const int result = sys::RealCalls().fstatvfs(fd, st);
    st->f_bavail = (std::size_t{1} << 20) / st->f_frsize - 1;
    return result;
  };
  const sys::ScopedSysCalls nearly_full(calls);
  const testing::SysFaults counted;
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  EXPECT_EQ(counted.Calls(testing::Call::kFallocate), 0);
  EXPECT_EQ(counted.Calls(testing::Call::kFtruncate), 1);
  EXPECT_EQ(ReadFile(dir / "r"), "");
  out.AppendLine("new");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ReadFile(dir / "r"), "new\r\n");
}

// Disk faults, through the system-call seam.

using testing::Call;
using testing::SysFaults;

std::string Records(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) bytes += "record " + std::to_string(i) + "\r\n";
  return bytes;
}

// Lines of 64 bytes, CR LF included, as a large result holds them.
std::string Lines(int count) {
  std::string bytes;
  for (int i = 0; i < count; ++i) {
    std::string line = "line " + std::to_string(i);
    line.resize(62, '.');
    bytes += line + "\r\n";
  }
  return bytes;
}

// Once a file is large, its buffers are written by a thread of its own while the caller fills
// the next: the file is still exactly what was appended, in order, through AppendLine,
// Reserve and Commit, and Flush; a second opening, or one in a thread that does its work
// itself, starts no writer.
TEST(OutputFileTest, ALargeFileWrittenByItsWriterIsExactlyWhatWasAppended) {
  const sys::ScopedSysCalls truncating(WithoutZeroing());  // the write-behind runs too
  TempDir dir;
  const int threads = Threads();
  const std::string lines = Lines(400'000);  // 25.6 MB
  const auto write = [&](OutputFile& out) {
    std::size_t at = 0;
    int n = 0;
    while (at < lines.size()) {
      const std::string_view line = std::string_view(lines).substr(at, 62);
      if (n % 3 == 0) {
        out.AppendLine(line);
      } else if (n % 3 == 1) {
        char* to = out.Reserve(64);
        ASSERT_NE(to, nullptr);
        std::memcpy(to, lines.data() + at, 64);
        out.Commit(64);
      } else {
        out.Append(std::string_view(lines).substr(at, 64));
      }
      if (n == 200'000) {
        EXPECT_EQ(Threads(), kThreadSanitizer ? -1 : threads + 1);  // the writer runs
        ASSERT_TRUE(out.Flush().ok());
        EXPECT_EQ(out.bytes_reached(), at + 64);  // the writer is done with what it held
      }
      at += 64;
      ++n;
    }
  };
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  write(out);
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ThreadsOnceDownTo(threads), threads);
  EXPECT_TRUE(ReadFile(dir / "r") == lines);
  EXPECT_EQ(out.bytes_reached(), lines.size());
  EXPECT_EQ(out.bytes_appended(), lines.size());

  // A record larger than a buffer goes through the writer, after what it holds.
  ASSERT_TRUE(out.Create(dir / "r").ok());
  const std::string large = Pattern(std::size_t{3} << 20, 'q');
  for (std::size_t at = 0; at < lines.size(); at += 64) {
    out.Append(std::string_view(lines).substr(at, 64));
    if (at == std::size_t{10} << 20) out.Append(large);
  }
  ASSERT_TRUE(out.Close().ok());
  const std::size_t cut = (std::size_t{10} << 20) + 64;
  EXPECT_TRUE(ReadFile(dir / "r") == lines.substr(0, cut) + large + lines.substr(cut));

  // Emptied again while the writer holds buffers: only the new bytes are left.
  ASSERT_TRUE(out.Create(dir / "r").ok());
  for (std::size_t at = 0; at < lines.size(); at += 64) {
    out.Append(std::string_view(lines).substr(at, 64));
  }
  EXPECT_EQ(Threads(), kThreadSanitizer ? -1 : threads + 2);  // the writer and write-behind
  ASSERT_TRUE(out.Create(dir / "r").ok());
  EXPECT_EQ(ThreadsOnceDownTo(threads), threads);
  out.AppendLine("new");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ReadFile(dir / "r"), "new\r\n");

  // Abandoned while the writer holds buffers: the new file goes, and so does the thread.
  ASSERT_TRUE(out.OpenLocked(dir / "n").ok());
  ASSERT_TRUE(out.Truncate().ok());
  for (int i = 0; i < 400'000; ++i) out.AppendLine(std::string_view(lines).substr(0, 62));
  out.Abandon();
  EXPECT_EQ(ThreadsOnceDownTo(threads), threads);
  EXPECT_FALSE(FileExists(dir / "n"));

  std::thread([&] {
    const WorkInCaller in_caller;
    OutputFile alone;
    WriteFile(dir / "c", "old result\r\n");
    ASSERT_TRUE(alone.Create(dir / "c").ok());
    for (std::size_t at = 0; at < lines.size(); at += 64) {
      alone.Append(std::string_view(lines).substr(at, 64));
      if (at == std::size_t{20} << 20) {
        // The write-behind, but no writer.
        EXPECT_EQ(Threads(), kThreadSanitizer ? -1 : threads + 2);
      }
    }
    ASSERT_TRUE(alone.Close().ok());
  }).join();
  EXPECT_TRUE(ReadFile(dir / "c") == lines);
}

// A write that fails on the writer's thread is the file's failure: reported by the next hand
// over and by Close() with the path, nothing tried after it, and every line that did not reach
// the file counted as lost, those the writer still held and those appended afterwards.
// Records larger than a buffer go through the writer a buffer at a time: in order, and when a
// write fails, every line of theirs that did not reach the file is counted as lost.
TEST(OutputFileTest, RecordsLargerThanABufferGoThroughTheWriter) {
  for (const bool fail : {false, true}) {
    SCOPED_TRACE(fail ? "failing" : "sound");
    TempDir dir;
    const std::string path = dir / "r";
    const std::string lines = Lines(200'000);  // 12.8 MB
    testing::SysFaults faults;
    if (fail) {
      faults.Add({.call = Call::kWrite, .error = ENOSPC, .nth = 11, .times = testing::kEveryCall});
    }
    OutputFile out;
    ASSERT_TRUE(out.Create(path).ok());
    // 9 MiB of lines start the writer; then pieces of 3 MiB and a bit, and lines again.
    const std::size_t first = std::size_t{9} << 20;
    for (std::size_t at = 0; at < first; at += 64) {
      out.AppendLine(std::string_view(lines).substr(at, 62));
    }
    const std::size_t piece = (std::size_t{3} << 20) + 640;
    std::size_t at = first;
    for (; at + piece <= lines.size() - 6400; at += piece) {
      out.Append(std::string_view(lines).substr(at, piece));
    }
    for (; at < lines.size(); at += 64) out.AppendLine(std::string_view(lines).substr(at, 62));
    const Status s = out.Close();
    const std::string held = ReadFile(path);
    EXPECT_EQ(held.size(), out.bytes_reached());
    EXPECT_TRUE(held == lines.substr(0, held.size()));
    EXPECT_EQ(out.lines_lost(), 200'000u - held.size() / 64);
    if (fail) {
      EXPECT_EQ(s.error_number(), ENOSPC);
      EXPECT_EQ(held.size(), std::size_t{10} << 20);
      EXPECT_EQ(faults.Calls(Call::kWrite), 11);
    } else {
      EXPECT_TRUE(s.ok());
      EXPECT_EQ(held.size(), lines.size());
    }
  }
}

TEST(OutputFileTest, AWriteThatFailsOnTheWritersThreadIsReportedAndCounted) {
  for (const bool discard : {false, true}) {
    SCOPED_TRACE(discard ? "abandoned" : "closed");
    TempDir dir;
    const std::string path = dir / "r";
    const std::string lines = Lines(300'000);  // 19.2 MB: the writer starts at 8 MiB
    SysFaults faults;
    faults.Add({.call = Call::kWrite, .error = ENOSPC, .nth = 12, .times = testing::kEveryCall});
    OutputFile out;
    ASSERT_TRUE(out.Create(path).ok());
    bool seen = false;
    for (std::size_t at = 0; at < lines.size(); at += 64) {
      out.AppendLine(std::string_view(lines).substr(at, 62));
      if (!out.status().ok()) seen = true;
    }
    EXPECT_TRUE(seen);  // a hand over told of it before the end
    EXPECT_EQ(out.status().error_number(), ENOSPC);
    if (discard) {
      out.Abandon();
      EXPECT_EQ(out.bytes_reached(), std::uint64_t{11} << 20);
    } else {
      const Status s = out.Close();
      EXPECT_EQ(s.error_number(), ENOSPC);
      EXPECT_EQ(s.operation(), "write");
      EXPECT_EQ(s.path(), path);
      const std::string held = ReadFile(path);
      EXPECT_EQ(held.size(), out.bytes_reached());
      EXPECT_TRUE(held == lines.substr(0, held.size()));
      // Eleven whole buffers of whole lines reached the file; every other line is lost.
      EXPECT_EQ(out.bytes_reached(), (std::uint64_t{11} << 20) / 64 * 64);
      EXPECT_EQ(out.lines_lost(), 300'000u - out.bytes_reached() / 64);
    }
    EXPECT_EQ(faults.Calls(Call::kWrite), 12);  // nothing is tried after a failure
  }
}

// The runs keep the ends of the records that have not reached the file yet and let go of them
// as bytes_reached() passes them: while the writer runs, what it wrote must be known at each
// hand over, so that no more is pending than the buffers it holds and the one being filled.
TEST(OutputFileTest, WhatReachedTheFileIsKnownWhileTheWriterRuns) {
  const sys::ScopedSysCalls truncating(WithoutZeroing());  // the write-behind runs too
  TempDir dir;
  const int threads = Threads();
  const std::string lines = Lines(400'000);  // 25.6 MB
  WriteFile(dir / "r", "old result\r\n");
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  std::uint64_t most_pending = 0;
  for (std::size_t at = 0; at < lines.size(); at += 64) {
    out.AppendLine(std::string_view(lines).substr(at, 62));
    most_pending = std::max(most_pending, out.bytes_appended() - out.bytes_reached());
    if (at == std::size_t{20} << 20) {
      EXPECT_EQ(Threads(), kThreadSanitizer ? -1 : threads + 2);  // the writer and write-behind
    }
  }
  EXPECT_LE(most_pending, 4 * OutputFile::kWriteBufferSize);
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(out.bytes_reached(), lines.size());
  EXPECT_TRUE(ReadFile(dir / "r") == lines);
}

// An append that finds the write making room for it failed must not leave its bytes in the
// buffer as if they were still to be written: like every byte after a failure they are lost,
// and counted so, whatever is appended next.
TEST(OutputFileTest, AnAppendMetByAFailedWriteIsCountedLost) {
  TempDir dir;
  SysFaults faults;
  faults.Add({.call = Call::kWrite, .error = ENOSPC, .times = testing::kEveryCall});
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  out.Append(Lines(16'000));  // nearly a whole buffer
  out.Append(Lines(1'000));   // does not fit: the buffer is written first, and that fails
  EXPECT_EQ(out.status().error_number(), ENOSPC);
  char* to = out.Reserve(6);
  ASSERT_NE(to, nullptr);
  std::memcpy(to, "last\r\n", 6);
  out.Commit(6);
  EXPECT_EQ(out.Close().error_number(), ENOSPC);
  EXPECT_EQ(out.bytes_reached(), 0u);
  EXPECT_EQ(out.bytes_appended(), Lines(17'000).size() + 6);
  EXPECT_EQ(out.lines_lost(), 17'001u);
  EXPECT_EQ(faults.Calls(Call::kWrite), 1);  // nothing is tried after a failure
}

// Stands in for write: on the test's own thread a write is made as ever; on another (the
// writer's) it waits until the test lets it go, then fails as on a full disk.
struct HeldWrites {
  std::mutex mutex;
  std::condition_variable changed;
  std::thread::id test;
  bool entered = false;
  bool released = false;
};

HeldWrites& Held() {
  static HeldWrites held;
  return held;
}

ssize_t FailingOnAnotherThread(int fd, const void* buffer, std::size_t count) {
  HeldWrites& held = Held();
  if (std::this_thread::get_id() == held.test) return sys::RealCalls().write(fd, buffer, count);
  std::unique_lock lock(held.mutex);
  held.entered = true;
  held.changed.notify_all();
  held.changed.wait(lock, [&] { return held.released; });
  errno = ENOSPC;
  return -1;
}

// A failure the writer met but had not told of yet is the file's all the same: Truncate()
// reports it and leaves the file as it was, as it does once the failure is known.
TEST(OutputFileTest, ATruncateAfterAFailureTheWriterMetLeavesTheFile) {
  TempDir dir;
  const std::string path = dir / "r";
  HeldWrites& held = Held();
  {
    std::lock_guard lock(held.mutex);
    held.test = std::this_thread::get_id();
    held.entered = held.released = false;
  }
  sys::SysCalls calls = sys::Calls();
  calls.write = FailingOnAnotherThread;
  const sys::ScopedSysCalls failing(calls);
  OutputFile out;
  ASSERT_TRUE(out.Create(path).ok());
  const auto release = [&] {
    {
      std::lock_guard lock(held.mutex);
      held.released = true;
    }
    held.changed.notify_all();
  };
  // Lets the held write go however the test ends, before the file is closed.
  struct Releaser {
    std::function<void()> release;
    ~Releaser() { release(); }
  } const releaser{release};
  // Eight buffers are written here; the ninth is handed to the writer, whose write fails.
  const std::string lines = Lines(147'457);
  for (std::size_t at = 0; at < lines.size(); at += 64) {
    out.AppendLine(std::string_view(lines).substr(at, 62));
  }
  {
    std::unique_lock lock(held.mutex);
    ASSERT_TRUE(held.changed.wait_for(lock, 60s, [&] { return held.entered; }));
  }
  EXPECT_TRUE(out.status().ok());  // not told of yet
  release();
  const Status s = out.Truncate();
  EXPECT_EQ(s.error_number(), ENOSPC);
  EXPECT_EQ(s.operation(), "write");
  EXPECT_EQ(s.path(), path);
  EXPECT_TRUE(ReadFile(path) == lines.substr(0, std::size_t{8} << 20));
  EXPECT_EQ(out.Close().error_number(), ENOSPC);
  EXPECT_TRUE(ReadFile(path) == lines.substr(0, std::size_t{8} << 20));
}

TEST(OutputFileTest, AnInterruptedWriteIsMadeAgain) {
  TempDir dir;
  SysFaults faults;
  faults.Add({.call = Call::kWrite, .error = EINTR});
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  out.Append(Records(100));
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(faults.Hits(), 1);
  EXPECT_EQ(ReadFile(dir / "r"), Records(100));
  EXPECT_EQ(out.bytes_reached(), Records(100).size());
  EXPECT_EQ(out.lines_lost(), 0u);
}

// The writer's own writes may be cut short or interrupted like any: it goes on from where each
// stopped, and the file is still exactly what was appended, with nothing counted lost.
TEST(OutputFileTest, TheWriterContinuesShortAndInterruptedWrites) {
  TempDir dir;
  const int threads = Threads();
  const std::string lines = Lines(300'000);  // 19.2 MB
  SysFaults faults;
  // The first eight writes, of a buffer each, are the caller's; the rest are the writer's.
  faults.Add({.call = Call::kWrite, .at_most = 100'003, .nth = 9, .times = testing::kEveryCall});
  faults.Add({.call = Call::kWrite, .error = EINTR, .nth = 9});
  faults.Add({.call = Call::kWrite, .error = EINTR, .nth = 40, .times = 3});
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  for (std::size_t at = 0; at < lines.size(); at += 64) {
    out.AppendLine(std::string_view(lines).substr(at, 62));
    if (at == std::size_t{12} << 20) {
      EXPECT_EQ(Threads(), kThreadSanitizer ? -1 : threads + 1);  // the writer runs
    }
  }
  ASSERT_TRUE(out.Close().ok());
  EXPECT_TRUE(ReadFile(dir / "r") == lines);
  EXPECT_EQ(out.bytes_reached(), lines.size());
  EXPECT_EQ(out.lines_lost(), 0u);
  // Each of the writer's writes moved 100,003 bytes at most, and four were interrupted.
  const std::uint64_t by_writer = lines.size() - (std::uint64_t{8} << 20);
  EXPECT_GE(faults.Calls(Call::kWrite), 8 + 4 + static_cast<int>(by_writer / 100'003));
}

TEST(OutputFileTest, AShortWriteIsContinuedUntilEveryByteIsWritten) {
  TempDir dir;
  SysFaults faults;
  // Every write takes 7 bytes at most, as a nearly full disk may.
  faults.Add({.call = Call::kWrite, .at_most = 7, .times = testing::kEveryCall});
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  out.Append(Records(50));
  ASSERT_TRUE(out.Flush().ok());
  out.AppendLine("last");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(ReadFile(dir / "r"), Records(50) + "last\r\n");
  EXPECT_EQ(out.bytes_reached(), out.bytes_appended());
  EXPECT_GT(faults.Calls(Call::kWrite), 2);
}

TEST(OutputFileTest, AFailedWriteIsReportedWithTheFileAndTheRecordsLost) {
  for (const int error : {ENOSPC, EIO}) {
    TempDir dir;
    const std::string path = dir / "r";
    SysFaults faults;
    // The first write gets 20 bytes through; the disk is full for the rest.
    faults.Add({.call = Call::kWrite, .at_most = 20});
    faults.Add({.call = Call::kWrite, .error = error, .nth = 2, .times = testing::kEveryCall});
    OutputFile out;
    ASSERT_TRUE(out.Create(path).ok());
    out.Append(Records(10));
    out.AppendLine("after the failure");
    const Status s = out.Close();
    EXPECT_EQ(s.error_number(), error);
    EXPECT_EQ(s.operation(), "write");
    EXPECT_EQ(s.path(), path);
    EXPECT_EQ(ReadFile(path), Records(10).substr(0, 20));
    EXPECT_EQ(out.bytes_reached(), 20u);
    // The 20 bytes are records 0 and 1: the other 8, and the line appended after the failure,
    // are lost.
    EXPECT_EQ(out.lines_lost(), 9u);
    EXPECT_EQ(faults.Calls(Call::kWrite), 2);  // nothing is tried after a failure
  }
}

TEST(OutputFileTest, ZerosThatCannotBeCutFailTheClose) {
  // The new contents are all there, but zeros would follow them: the file is no result.
  TempDir dir;
  WriteFile(dir / "r", "an old and longer result\r\n");
  SysFaults faults;
  faults.Add({.call = Call::kFtruncate, .error = EIO, .times = testing::kEveryCall});
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  out.AppendLine("new");
  const Status s = out.Close();
  EXPECT_EQ(s.error_number(), EIO);
  EXPECT_EQ(s.operation(), "truncate");
  EXPECT_EQ(s.path(), dir / "r");
  EXPECT_FALSE(out.is_open());
  EXPECT_EQ(ReadFile(dir / "r").substr(0, 5), "new\r\n");
}

TEST(OutputFileTest, AFailedCloseIsReported) {
  // A delayed write error may only show when the file is closed.
  TempDir dir;
  const std::string path = dir / "r";
  const int before = OpenDescriptors();
  {
    SysFaults faults;
    faults.Add({.call = Call::kClose, .error = EIO, .path = path});
    OutputFile out;
    ASSERT_TRUE(out.Create(path).ok());
    out.AppendLine("x");
    const Status s = out.Close();
    EXPECT_EQ(s.error_number(), EIO);
    EXPECT_EQ(s.operation(), "close");
    EXPECT_EQ(s.path(), path);
    EXPECT_FALSE(out.is_open());
  }
  EXPECT_EQ(OpenDescriptors(), before);
}

TEST(OutputFileTest, AnInterruptedTruncateIsMadeAgain) {
  TempDir dir;
  WriteFile(dir / "r", "old result\r\n");
  {
    SysFaults faults;  // zeroing in place, and the cut after the new contents
    faults.Add({.call = Call::kFallocate, .error = EINTR});
    faults.Add({.call = Call::kFtruncate, .error = EINTR});
    OutputFile out;
    ASSERT_TRUE(out.Create(dir / "r").ok());
    out.AppendLine("new");
    ASSERT_TRUE(out.Close().ok());
    EXPECT_EQ(faults.Calls(Call::kFallocate), 2);
    EXPECT_EQ(faults.Calls(Call::kFtruncate), 2);
    EXPECT_EQ(ReadFile(dir / "r"), "new\r\n");
  }
  SysFaults faults;  // a file system that cannot zero in place
  faults.Add({.call = Call::kFallocate, .error = EOPNOTSUPP, .times = testing::kEveryCall});
  faults.Add({.call = Call::kFtruncate, .error = EINTR});
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  out.AppendLine("newer");
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(faults.Calls(Call::kFtruncate), 2);
  EXPECT_EQ(ReadFile(dir / "r"), "newer\r\n");
}

TEST(OutputFileTest, AnInterruptedLockIsMadeAgain) {
  TempDir dir;
  SysFaults faults;
  faults.Add({.call = Call::kFlock, .error = EINTR});
  OutputFile out;
  ASSERT_TRUE(out.Create(dir / "r").ok());
  ASSERT_TRUE(out.Close().ok());
  EXPECT_EQ(faults.Calls(Call::kFlock), 2);
}

TEST(OutputFileTest, AFailedTruncateLeavesTheFileAsItWasAndAnEmptyFileIsNotTruncated) {
  TempDir dir;
  WriteFile(dir / "old", "old result\r\n");
  WriteFile(dir / "empty", "");
  SysFaults faults;
  faults.Add({.call = Call::kFallocate, .error = EOPNOTSUPP, .times = testing::kEveryCall});
  faults.Add({.call = Call::kFtruncate, .error = EIO, .times = testing::kEveryCall});
  OutputFile out;
  Status s = out.Create(dir / "old");
  EXPECT_EQ(s.error_number(), EIO);
  EXPECT_EQ(s.operation(), "truncate");
  EXPECT_EQ(s.path(), dir / "old");
  EXPECT_FALSE(out.is_open());
  EXPECT_EQ(ReadFile(dir / "old"), "old result\r\n");
  EXPECT_EQ(faults.Calls(Call::kFtruncate), 1);
  // A new or empty file has nothing to cut: it is written without a truncate.
  for (const char* name : {"new", "empty"}) {
    ASSERT_TRUE(out.Create(dir / name).ok()) << name;
    out.AppendLine(name);
    ASSERT_TRUE(out.Close().ok()) << name;
    EXPECT_EQ(ReadFile(dir / name), std::string(name) + "\r\n");
  }
  EXPECT_EQ(faults.Calls(Call::kFtruncate), 1);
  // Emptied again after bytes were written, it is truncated.
  ASSERT_TRUE(out.Create(dir / "fresh").ok());
  out.AppendLine("first");
  ASSERT_TRUE(out.Flush().ok());
  s = out.Truncate();
  EXPECT_EQ(s.error_number(), EIO);
  out.Abandon();
  EXPECT_EQ(testing::FolderEntries(dir.path()), (std::vector<std::string>{"empty", "new", "old"}));
}

TEST(LineReaderTest, AnInterruptedReadIsMadeAgain) {
  TempDir dir;
  WriteFile(dir / "f", "a\r\nb\r\n");
  SysFaults faults;
  faults.Add({.call = Call::kRead, .error = EINTR});
  EXPECT_EQ(ReadAll(dir / "f"), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(faults.Hits(), 1);
}

TEST(LineReaderTest, AFailedReadIsAnErrorNotTheEndOfTheFile) {
  TempDir dir;
  const std::string path = dir / "f";
  WriteFile(path, "first\r\nsecond\r\nthird\r\n");
  SysFaults faults;
  faults.Add({.call = Call::kRead, .error = EIO, .nth = 2});
  LineReader reader(8);  // "first\r\ns", then a read that fails
  ASSERT_TRUE(reader.Open(path).ok());
  std::string_view line;
  ASSERT_TRUE(reader.Next(line));
  EXPECT_EQ(line, "first");
  EXPECT_FALSE(reader.Next(line));  // "second" runs on into the chunk that could not be read
  EXPECT_EQ(reader.status().error_number(), EIO);
  EXPECT_EQ(reader.status().operation(), "read");
  EXPECT_EQ(reader.status().path(), path);
  EXPECT_FALSE(reader.Next(line));
  reader.Close();
}

TEST(LineReaderTest, NextChunkHandsOutEveryByteOnceAndEndsCleanly) {
  TempDir dir;
  const std::string text = "ab\r\ncd\ref\r\n" + std::string(40, 'g') + "\r";
  WriteFile(dir / "f", text);
  for (std::size_t chunk : {1u, 3u, 8u, 4096u}) {
    SCOPED_TRACE(chunk);
    Gather gather;
    LineReader reader(chunk);
    ASSERT_TRUE(reader.Open(dir / "f", &gather).ok());
    std::string read;
    std::string_view bytes;
    while (reader.NextChunk(bytes)) {
      EXPECT_FALSE(bytes.empty());
      EXPECT_LE(bytes.size(), chunk);
      read.append(bytes);
      EXPECT_EQ(reader.consumed(), read.size());
    }
    EXPECT_TRUE(reader.status().ok());
    EXPECT_EQ(read, text);
    EXPECT_EQ(gather.bytes(), text);
    EXPECT_FALSE(reader.NextChunk(bytes));
  }
  // A closed reader hands out nothing.
  LineReader reader;
  std::string_view bytes;
  EXPECT_FALSE(reader.NextChunk(bytes));
}

// Says of each chunk where in the file it starts and what its first byte is, so a note handed
// out with the wrong chunk shows.
class PlaceNotes : public ChunkInspector {
 public:
  std::uint64_t Inspect(std::string_view bytes) noexcept override {
    const std::uint64_t note = offset_ << 8 | static_cast<std::uint8_t>(bytes.front());
    offset_ += bytes.size();
    return note;
  }

 private:
  std::uint64_t offset_ = 0;
};

// Reads every chunk of `reader` (opened with PlaceNotes and `gather`): each comes with the note
// of its place and first byte, and together they are `text`, which the observer saw too.
void ExpectChunksNotedByPlace(LineReader& reader, const std::string& text, const Gather& gather) {
  std::uint64_t at = 0;
  std::string_view bytes;
  while (reader.NextChunk(bytes)) {
    ASSERT_EQ(reader.chunk_note(), at << 8 | static_cast<std::uint8_t>(bytes.front())) << at;
    at += bytes.size();
  }
  EXPECT_TRUE(reader.status().ok());
  EXPECT_EQ(at, text.size());
  EXPECT_EQ(gather.bytes(), text);
}

TEST(LineReaderTest, EachChunkComesWithTheNoteItsInspectorGaveIt) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 5000; ++i) text += static_cast<char>('a' + i % 26);
  WriteFile(dir / "f", text);
  for (std::size_t chunk : {1u, 7u, 4096u}) {
    SCOPED_TRACE(chunk);
    PlaceNotes notes;
    Gather gather;
    LineReader reader(chunk);
    ASSERT_TRUE(reader.Open(dir / "f", &gather, &notes).ok());
    ExpectChunksNotedByPlace(reader, text, gather);
  }
}

// Read line by line, the lines still to come are placed in the chunk whose note the reader
// holds: the chunk's place in the file and where Ahead() starts in it give how far the lines
// handed out reach, whatever line ends fall across the chunks' ends.
TEST(LineReaderTest, AheadIsPlacedInTheChunkItsNoteIsOf) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 3000; ++i) {
    text += std::string(static_cast<std::size_t>(i % 23), static_cast<char>('a' + i % 26));
    text += i % 5 == 0 ? "\r" : i % 7 == 0 ? "\n\r\n" : "\r\n";
  }
  WriteFile(dir / "f", text);
  for (std::size_t chunk : {7u, 64u, 4096u}) {
    SCOPED_TRACE(chunk);
    PlaceNotes notes;
    LineReader reader(chunk);
    ASSERT_TRUE(reader.Open(dir / "f", nullptr, &notes).ok());
    std::string_view line;
    int placed = 0;
    while (reader.Next(line)) {
      const std::string_view ahead = reader.Ahead();
      if (ahead.empty()) continue;
      const std::uint64_t at = reader.chunk_note() >> 8;
      ASSERT_EQ(at + reader.ahead_offset(), reader.consumed());
      ASSERT_EQ(ahead, std::string_view(text).substr(reader.consumed(), ahead.size()));
      ++placed;
    }
    EXPECT_TRUE(reader.status().ok());
    EXPECT_GT(placed, 1000);
  }
}

// Read in the caller, each chunk still comes with its inspector's note, and an observer that
// fails ends the reading right after the chunk it failed on, as a failed read of the file.
TEST(LineReaderTest, InTheCallerNotesAndAFailingObserverAreKept) {
  TempDir dir;
  std::string text;
  for (int i = 0; i < 5000; ++i) text += static_cast<char>('a' + i % 26);
  WriteFile(dir / "f", text);
  WriteFile(dir / "g", "ab\r\ncd\r\nef\r\ngh\r\n");
  const WorkInCaller in_caller;
  started_threads = 0;
  PlaceNotes notes;
  Gather gather;
  LineReader chunks(7, CountStart);
  ASSERT_TRUE(chunks.Open(dir / "f", &gather, &notes).ok());
  ExpectChunksNotedByPlace(chunks, text, gather);
  EXPECT_EQ(started_threads, 0);

  FailingObserver observer(false);
  LineReader reader(4);
  ASSERT_TRUE(reader.Open(dir / "g", &observer).ok());
  std::vector<std::string> lines;
  std::string_view line;
  while (reader.Next(line)) lines.emplace_back(line);
  // Each chunk is observed as soon as it is read: the third is handed out, nothing after it.
  EXPECT_EQ(lines, (std::vector<std::string>{"ab", "cd", "ef"}));
  EXPECT_EQ(observer.seen, "ab\r\ncd\r\n");
  EXPECT_EQ(reader.status().error_number(), EIO);
  EXPECT_EQ(reader.status().operation(), "read");
  EXPECT_EQ(reader.status().path(), dir / "g");
}

TEST(LineReaderTest, NextChunkReportsAFailedRead) {
  TempDir dir;
  const std::string path = dir / "f";
  WriteFile(path, "0123456789abcdef");
  SysFaults faults;
  faults.Add({.call = Call::kRead, .error = EIO, .nth = 2});
  LineReader reader(8);
  ASSERT_TRUE(reader.Open(path).ok());
  std::string_view bytes;
  ASSERT_TRUE(reader.NextChunk(bytes));
  EXPECT_EQ(bytes, "01234567");
  EXPECT_FALSE(reader.NextChunk(bytes));
  EXPECT_EQ(reader.status().error_number(), EIO);
  EXPECT_EQ(reader.status().path(), path);
  EXPECT_FALSE(reader.NextChunk(bytes));
}

TEST(LineReaderTest, ShortReadsGiveTheSameLines) {
  // A read may hand over fewer bytes than asked for, ending anywhere: inside a line, between a
  // CR and its LF. Only a read of nothing is the end of the file.
  TempDir dir;
  const std::string text = "a\r\nbc\r\rdef\r\n\r\nghij\nk\r\nl";
  WriteFile(dir / "f", text);
  for (std::size_t at_most = 1; at_most <= 7; ++at_most) {
    SysFaults faults;
    faults.Add({.call = Call::kRead, .at_most = at_most, .times = testing::kEveryCall});
    EXPECT_EQ(ReadAll(dir / "f"), ReferenceLines(text)) << at_most;
    EXPECT_GT(faults.Calls(Call::kRead), static_cast<int>(text.size() / at_most)) << at_most;
  }
}

TEST(FilesTest, RenameNoReplaceWithoutRenameNoReplaceStillRefusesAnExistingName) {
  // Where renameat2 cannot refuse (EINVAL from the file system, ENOSYS from an old kernel), a
  // link and an unlink do the same.
  for (const int error : {EINVAL, ENOSYS}) {
    TempDir dir;
    WriteFile(dir / "a", "A");
    WriteFile(dir / "b", "B");
    SysFaults faults;
    faults.Add({.call = Call::kRenameat2, .error = error, .times = testing::kEveryCall});
    const Status s = RenameNoReplace(dir / "a", dir / "b");
    EXPECT_EQ(s.error_number(), EEXIST);
    EXPECT_EQ(s.operation(), "link");
    EXPECT_EQ(ReadFile(dir / "b"), "B");
    EXPECT_TRUE(RenameNoReplace(dir / "a", dir / "c").ok());
    EXPECT_EQ(testing::FolderEntries(dir.path()), (std::vector<std::string>{"b", "c"}));
    EXPECT_EQ(ReadFile(dir / "c"), "A");
    EXPECT_EQ(faults.Calls(Call::kLink), 2);
  }
}

TEST(FilesTest, RenameNoReplaceThatFailsLeavesBothNamesAsTheyWere) {
  TempDir dir;
  WriteFile(dir / "a", "A");
  SysFaults faults;
  faults.Add({.call = Call::kRenameat2, .error = EIO});
  Status s = RenameNoReplace(dir / "a", dir / "c");
  EXPECT_EQ(s.error_number(), EIO);
  EXPECT_EQ(s.operation(), "rename");
  EXPECT_EQ(s.path(), dir / "a");
  EXPECT_EQ(testing::FolderEntries(dir.path()), std::vector<std::string>{"a"});
  // Linked under the new name, but the old name cannot be removed: the new name goes again.
  faults.Add({.call = Call::kRenameat2, .error = EINVAL});
  faults.Add({.call = Call::kUnlink, .error = EIO, .path = dir / "a"});
  s = RenameNoReplace(dir / "a", dir / "c");
  EXPECT_EQ(s.error_number(), EIO);
  EXPECT_EQ(s.operation(), "unlink");
  EXPECT_EQ(s.path(), dir / "a");
  EXPECT_EQ(testing::FolderEntries(dir.path()), std::vector<std::string>{"a"});
  EXPECT_EQ(ReadFile(dir / "a"), "A");
}

}  // namespace
}  // namespace vesmer
