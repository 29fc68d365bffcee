#include "platform/files.h"

#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

#include "tests/platform/in_child.h"
#include "tests/test_util.h"

namespace vesmer {
namespace {

using testing::InChild;
using testing::kChildSkipped;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;
using namespace std::chrono_literals;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
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

TEST(LineReaderTest, NoMemoryForTheChunksIsAStatus) {
  if (kAddressSanitizer) {
    GTEST_SKIP() << "AddressSanitizer ends the process instead of throwing std::bad_alloc";
  }
  TempDir dir;
  WriteFile(dir / "f", "a\r\n");
  const std::string path = dir / "f";
  const int code = InChild([&] {
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
  TempDir dir;
  const std::string path = dir / "f";
  WriteRepeated(path, std::string(std::size_t{1} << 20, 'x'), 48, "\r\nshort\r\n");
  const int code = InChild([&] {
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
  TempDir dir;
  const std::string path = dir / "f";
  // Just over a power of two, where a doubling buffer holds old and new storage at once.
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  constexpr std::size_t kLine = 33 * kMiB;
  WriteRepeated(path, std::string(kMiB, 'x'), kLine / kMiB, "\r\nend\r\n");
  const int code = InChild([&] {
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
    // The line, the four chunks in flight and a little slack; a doubling buffer needs 64 MiB.
    CHILD_CHECK(growth < static_cast<long>(kLine + 10 * kMiB));
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

// An observer that fails after the first few chunks.
class FailingObserver : public ChunkObserver {
 public:
  explicit FailingObserver(bool no_memory) : no_memory_(no_memory) {}
  void OnChunk(std::string_view bytes) override {
    if (++calls_ > 2) {
      if (no_memory_) throw std::bad_alloc();
      throw std::runtime_error("observer");
    }
    seen.append(bytes);
  }
  std::string seen;

 private:
  bool no_memory_;
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
    // The chunks the observer saw are handed out; the one it failed on is not.
    EXPECT_EQ(lines, (std::vector<std::string>{"ab", "cd"}));
    EXPECT_EQ(observer.seen, "ab\r\ncd\r\n");
    EXPECT_EQ(reader.status().error_number(), no_memory ? ENOMEM : EIO);
    EXPECT_EQ(reader.status().operation(), "read");
    EXPECT_EQ(reader.status().path(), dir / "f");
  }
}

}  // namespace
}  // namespace vesmer
