#include "sort/sorted_input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "core/record_key.h"
#include "features/sort/record_block.h"
#include "formats/csv_coding.h"
#include "formats/field_codings.h"
#include "formats/format_framing.h"
#include "platform/temp_file.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::CrLf;
using testing::ReadFile;
using testing::TempDir;
using testing::WriteFile;

using Record = std::pair<std::string, std::int64_t>;  // line, 1-based line number

RangeList Keys(std::string_view text) {
  RangeList ranges;
  EXPECT_EQ(ParseRangeText(text, ranges), ParseOutcome::kValid) << text;
  return ranges;
}

// Lines as the reader cuts them: a CR or CR LF ends a line, a lone LF is part of it, the last
// line needs no end.
std::vector<std::string> SplitLines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::string line;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r') {
      lines.push_back(line);
      line.clear();
      if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
    } else {
      line += bytes[i];
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

std::string KeyOf(std::string_view line, const RangeList& ranges) {
  std::string scratch, key;
  BuildKey(KeyLineBytes(line, ranges, scratch), ranges, key);
  return key;
}

// The order the comparison run needs, by the slow obvious way.
std::vector<Record> ReferenceOrder(const std::string& bytes, const RangeList& ranges) {
  const std::vector<std::string> lines = SplitLines(bytes);
  std::vector<std::pair<std::string, Record>> keyed;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    keyed.push_back({KeyOf(lines[i], ranges), {lines[i], static_cast<std::int64_t>(i + 1)}});
  }
  std::stable_sort(keyed.begin(), keyed.end(),
                   [](const auto& a, const auto& b) { return CompareKeys(a.first, b.first) < 0; });
  std::vector<Record> out;
  for (auto& k : keyed) out.push_back(std::move(k.second));
  return out;
}

std::vector<Record> Drain(SortedInput& input) {
  std::vector<Record> out;
  std::string_view line;
  std::int64_t number = 0;
  while (input.Next(line, number)) out.emplace_back(std::string(line), number);
  return out;
}

// Files this process holds open in `dir`, as /proc shows them ("... (deleted)" once unnamed).
std::vector<std::string> OpenFilesIn(const std::string& dir) {
  std::vector<std::string> found;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    char target[4096];
    const ssize_t n = ::readlink(entry.path().c_str(), target, sizeof target - 1);
    if (n <= 0) continue;
    const std::string link(target, static_cast<std::size_t>(n));
    if (link.rfind(dir + "/", 0) == 0) found.push_back(link);
  }
  return found;
}

std::size_t EntriesIn(const std::string& dir) {
  return static_cast<std::size_t>(std::distance(std::filesystem::directory_iterator(dir),
                                                std::filesystem::directory_iterator{}));
}

// Records whose first six bytes (the key) mix ASCII, half-width katakana, kanji (one of them
// cut by the end of the key, one that Windows writes back as other bytes), bytes that are no
// character and NUL; keys repeat often, and the number after the key makes lines unique.
std::string MixedRecords(int count, std::uint32_t seed, bool sorted = false) {
  using namespace std::string_view_literals;
  static constexpr std::string_view kPieces[] = {
      "0"sv,    "1"sv,    "9"sv,        "A"sv,        "Z"sv,        "a"sv,       " "sv,
      "\xB1"sv, "\xB2"sv, "\xDD"sv,     "\xA0"sv,     "\xFD"sv,     "\xFF"sv,    "\x80"sv,
      "\0"sv,   "\x81"sv, "\x81\x40"sv, "\xE0\x40"sv, "\x88\x9F"sv, "\xED\x40"sv};
  std::mt19937 rng(seed);
  std::vector<std::string> pool;
  for (int i = 0; i < 150; ++i) {
    std::string key;
    while (key.size() < 6) key += kPieces[rng() % std::size(kPieces)];
    key.resize(6);
    pool.push_back(key);
  }
  std::vector<std::string> lines;
  for (int i = 0; i < count; ++i) {
    std::string line =
        pool[rng() % pool.size()] + "|" + std::to_string(i) + "|" + std::string(rng() % 40, 'p');
    if (rng() % 50 == 0) line.resize(rng() % 7);  // a short key, or none
    lines.push_back(line);
  }
  if (sorted) {
    const RangeList ranges = Keys("1-6");
    std::stable_sort(lines.begin(), lines.end(), [&](const auto& a, const auto& b) {
      return CompareKeys(KeyOf(a, ranges), KeyOf(b, ranges)) < 0;
    });
  }
  return CrLf(lines);
}

class SortedInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    temp_ = dir_ / "tmp";
    std::filesystem::create_directory(temp_);
    options_.temp_dir = temp_;
  }

  std::string Input(const std::string& bytes) {
    WriteFile(dir_ / "in", bytes);
    return dir_ / "in";
  }

  // Sorts `bytes` by `keys` and expects the reference order, line numbers included.
  void ExpectSortedAsReference(const std::string& bytes, std::string_view keys) {
    SortedInput input;
    ASSERT_TRUE(input.Sort(Input(bytes), Keys(keys), options_).ok());
    EXPECT_EQ(Drain(input), ReferenceOrder(bytes, Keys(keys)));
    EXPECT_TRUE(input.status().ok()) << input.status().what();
    EXPECT_EQ(input.lines(), static_cast<std::int64_t>(SplitLines(bytes).size()));
    EXPECT_EQ(input.consumed(), bytes.size());
    EXPECT_EQ(input.size(), bytes.size());
  }

  TempDir dir_;
  std::string temp_;
  SortOptions options_;
};

TEST_F(SortedInputTest, EmptyInputHasNoRecords) {
  SortedInput input;
  ASSERT_TRUE(input.Sort(Input(""), Keys("1-3"), options_).ok());
  EXPECT_EQ(input.lines(), 0);
  EXPECT_TRUE(input.presorted());
  EXPECT_TRUE(Drain(input).empty());
  EXPECT_TRUE(input.status().ok());
  EXPECT_EQ(input.consumed(), 0u);
}

TEST_F(SortedInputTest, LinesEndAsTheReaderEndsThem) {
  // CR LF, a lone CR, a lone LF inside a line, CR CR LF and CR CR (empty lines) and a last
  // line without its end.
  const std::string bytes = "d1\r\nb\n2\rc3\r\r\na0\r\rz";
  SortedInput input;
  ASSERT_TRUE(input.Sort(Input(bytes), Keys("1-1"), options_).ok());
  EXPECT_FALSE(input.presorted());
  EXPECT_EQ(Drain(input),
            (std::vector<Record>{
                {"", 4}, {"", 6}, {"a0", 5}, {"b\n2", 2}, {"c3", 3}, {"d1", 1}, {"z", 7}}));
  EXPECT_EQ(input.lines(), 7);
  EXPECT_EQ(input.consumed(), bytes.size());
}

TEST_F(SortedInputTest, KeysOrderAsTextNotAsBytes) {
  // By bytes the half-width katakana 0xB1 (U+FF71) comes before the kanji 0xE0 0x40
  // (U+6F3E); as text, the run's order, the kanji comes first.
  const std::string bytes = CrLf({"\xB1-k", "\xE0\x40-j", "A-a", "\xB1-k2", "\xE0\x40-j2"});
  SortedInput input;
  ASSERT_TRUE(input.Sort(Input(bytes), Keys("1-2"), options_).ok());
  EXPECT_EQ(Drain(input),
            (std::vector<Record>{
                {"A-a", 3}, {"\xE0\x40-j", 2}, {"\xE0\x40-j2", 5}, {"\xB1-k", 1}, {"\xB1-k2", 4}}));
}

TEST_F(SortedInputTest, MixedScriptsAndInvalidBytesFollowCompareKeys) {
  ExpectSortedAsReference(MixedRecords(3000, 1), "1-6");
}

TEST_F(SortedInputTest, SeveralKeyRangesAndShortLines) {
  // Key columns out of line order; lines too short for some or all of them.
  const std::string bytes = CrLf({"b2x", "a1", "", "c", "a1y", "b1z", "a"});
  ExpectSortedAsReference(bytes, "3-3,1-1");
}

TEST_F(SortedInputTest, ShuffledInputSortsInMemoryAndThroughManyRuns) {
  // About 350 KB in sort buffers: in one buffer, never written; in one of a 2 MiB cap's
  // buffers, never written; in runs merged at once; in a thousand runs merged in passes.
  const std::string bytes = MixedRecords(4000, 2);
  const std::size_t caps[] = {std::size_t{256} << 20, std::size_t{2} << 20, std::size_t{256} << 10,
                              2048};
  for (const std::size_t memory : caps) {
    SCOPED_TRACE(memory);
    options_.memory_bytes = memory;
    std::uint64_t last_total = 0;
    bool written = false;
    options_.progress = [&](std::uint64_t done, std::uint64_t total) {
      last_total = std::max(last_total, total);
      if (done == total) written = !OpenFilesIn(temp_).empty();
    };
    ExpectSortedAsReference(bytes, "1-6");
    EXPECT_EQ(written, memory < (std::size_t{2} << 20));
    // Only the tiny cap leaves more runs than one merge takes: its passes add to the work.
    EXPECT_EQ(last_total > bytes.size(), memory == 2048);
  }
}

TEST_F(SortedInputTest, EqualKeysKeepFileOrderAcrossRuns) {
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i) lines.push_back(std::string(1, "bca"[i % 3]) + std::to_string(i));
  const std::string bytes = CrLf(lines);
  for (const std::size_t memory : {std::size_t{256} << 20, std::size_t{4096}}) {
    options_.memory_bytes = memory;
    SortedInput input;
    ASSERT_TRUE(input.Sort(Input(bytes), Keys("1-1"), options_).ok());
    const std::vector<Record> out = Drain(input);
    ASSERT_EQ(out.size(), lines.size());
    for (std::size_t i = 1; i < out.size(); ++i) {
      const bool same_key = out[i].first[0] == out[i - 1].first[0];
      EXPECT_TRUE(same_key ? out[i - 1].second < out[i].second
                           : out[i - 1].first[0] < out[i].first[0])
          << i;
    }
    EXPECT_EQ(out, ReferenceOrder(bytes, Keys("1-1")));
  }
}

TEST_F(SortedInputTest, LongKeysTiedOnTheirFirstBytes) {
  // Keys share long stretches, differ late or only in length, and hold NUL bytes.
  std::mt19937 rng(3);
  std::vector<std::string> lines;
  for (int i = 0; i < 2000; ++i) {
    std::string line = "COMMON-PART-";
    const std::size_t tail = rng() % 14;
    for (std::size_t j = 0; j < tail; ++j) line += "\0\x01\x7Fz"[rng() % 4];
    lines.push_back(line);
  }
  options_.memory_bytes = 16 << 10;
  ExpectSortedAsReference(CrLf(lines), "1-25");
  options_.memory_bytes = 256 << 20;
  ExpectSortedAsReference(CrLf(lines), "1-25");
}

TEST_F(SortedInputTest, LineLongerThanASortBuffer) {
  std::vector<std::string> lines;
  for (int i = 0; i < 300; ++i) lines.push_back(std::to_string((i * 7919) % 1000) + "-line");
  lines[150] = "5" + std::string(200000, 'L');
  lines[151] = "4" + std::string(100000, '\xB1');
  options_.memory_bytes = 2048;
  ExpectSortedAsReference(CrLf(lines), "1-3");
}

TEST_F(SortedInputTest, PresortedInputWithinABufferComesFromMemory) {
  const std::string bytes = MixedRecords(500, 4, /*sorted=*/true);
  bool temp_open_at_end = true;
  options_.progress = [&](std::uint64_t done, std::uint64_t total) {
    if (done == total) temp_open_at_end = !OpenFilesIn(temp_).empty();
  };
  SortedInput input;
  ASSERT_TRUE(input.Sort(Input(bytes), Keys("1-6"), options_).ok());
  EXPECT_TRUE(input.presorted());
  EXPECT_FALSE(temp_open_at_end);
  std::filesystem::remove(dir_ / "in");  // not read again
  EXPECT_EQ(Drain(input), ReferenceOrder(bytes, Keys("1-6")));
  EXPECT_TRUE(input.status().ok());
}

TEST_F(SortedInputTest, PresortedInputLargerThanABufferIsReadAgain) {
  const std::string bytes = MixedRecords(3000, 5, /*sorted=*/true);
  options_.memory_bytes = 4096;
  bool temp_open_at_end = true;
  options_.progress = [&](std::uint64_t done, std::uint64_t total) {
    if (done == total) temp_open_at_end = !OpenFilesIn(temp_).empty();
  };
  SortedInput input;
  ASSERT_TRUE(input.Sort(Input(bytes), Keys("1-6"), options_).ok());
  EXPECT_TRUE(input.presorted());
  EXPECT_FALSE(temp_open_at_end);  // no run was written
  EXPECT_EQ(Drain(input), ReferenceOrder(bytes, Keys("1-6")));
  EXPECT_TRUE(input.status().ok());
  EXPECT_EQ(input.consumed(), bytes.size());
}

// Rewrites the input in place with other bytes of the same size and a later modification time.
void ChangeKeepingSize(const std::string& path) {
  std::string bytes = ReadFile(path);
  std::reverse(bytes.begin(), bytes.end());
  WriteFile(path, bytes);
  const struct timespec later[2] = {{0, UTIME_OMIT}, {4000000000, 0}};
  ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), later, 0), 0);
}

TEST_F(SortedInputTest, InputChangedBeforeItIsReadAgainFails) {
  options_.memory_bytes = 4096;
  for (const bool presorted : {true, false}) {
    // Out of order only at the end: the sorted lines before are read again from the input.
    std::string bytes = MixedRecords(2000, 6, /*sorted=*/true);
    if (!presorted) bytes += CrLf({"000000 first"});
    SortedInput input;
    ASSERT_TRUE(input.Sort(Input(bytes), Keys("1-6"), options_).ok());
    EXPECT_EQ(input.presorted(), presorted);
    ChangeKeepingSize(dir_ / "in");
    std::string_view line;
    std::int64_t number;
    EXPECT_FALSE(input.Next(line, number));
    EXPECT_EQ(input.status().error_number(), ESTALE);
    EXPECT_EQ(input.status().path(), dir_ / "in");
    EXPECT_EQ(input.status().reason(), "ファイルが変更されたか、置き換えられました");
    EXPECT_TRUE(OpenFilesIn(temp_).empty());
  }
}

TEST_F(SortedInputTest, SortedStartThenDisorder) {
  // The sorted lines before the first decrease are not written but read again.
  const std::string bytes = MixedRecords(2000, 7, /*sorted=*/true) + MixedRecords(500, 8);
  options_.memory_bytes = 4096;
  ExpectSortedAsReference(bytes, "1-6");
}

TEST_F(SortedInputTest, ALateDecreaseAfterManyBlocksInOrder) {
  // Blocks and blocks in key order (those are not held but read again), then one line whose
  // key equals the first line's, and more in order: the late line goes right after the first,
  // and none is lost or doubled where holding stopped and started again.
  std::vector<std::string> lines;
  for (int i = 0; i < 3000; ++i) lines.push_back(std::to_string(100000 + i) + "-sorted");
  lines.push_back("100000-late");
  for (int i = 0; i < 300; ++i) lines.push_back(std::to_string(103000 + i) + "-after");
  options_.memory_bytes = 4096;
  ExpectSortedAsReference(CrLf(lines), "1-6");
  // And a decrease as the very line that finds a block full.
  for (int at = 1; at <= 45; ++at) {  // past the first few block ends
    std::vector<std::string> shifted(lines.begin(), lines.begin() + 200);
    shifted.insert(shifted.begin() + at, "099999-early");
    ExpectSortedAsReference(CrLf(shifted), "1-6");
  }
}

TEST_F(SortedInputTest, DisorderAfterASortedStartWithinOneKeyPrefix) {
  // The sorted start spans keys from A to Z; the lines after it all start as its first key.
  std::vector<std::string> lines;
  for (int i = 0; i < 2000; ++i) {
    lines.push_back(std::string(1, static_cast<char>('A' + i / 80)) + std::to_string(10000 + i) +
                    "-sorted");
  }
  std::mt19937 rng(16);
  for (int i = 0; i < 600; ++i) lines.push_back("A100" + std::to_string(10 + rng() % 90) + "-late");
  options_.memory_bytes = 4096;
  ExpectSortedAsReference(CrLf(lines), "1-6");
}

TEST_F(SortedInputTest, InputChangedWhileItIsSortedFails) {
  const std::string bytes = MixedRecords(3000, 15);
  const std::string path = Input(bytes);
  options_.progress = [&](std::uint64_t done, std::uint64_t) {
    if (done == 0) WriteFile(path, bytes + bytes);
  };
  SortedInput input;
  const Status s = input.Sort(path, Keys("1-6"), options_);
  EXPECT_EQ(s.error_number(), ESTALE);
  EXPECT_EQ(s.path(), path);
  EXPECT_TRUE(OpenFilesIn(temp_).empty());
}

TEST_F(SortedInputTest, ReplacedInputIsNotReadAgain) {
  options_.memory_bytes = 4096;
  const std::string bytes = MixedRecords(2000, 9, /*sorted=*/true);
  SortedInput input;
  ASSERT_TRUE(input.Sort(Input(bytes), Keys("1-6"), options_).ok());
  ASSERT_TRUE(input.presorted());
  WriteFile(dir_ / "new", bytes);
  ASSERT_EQ(::rename((dir_ / "new").c_str(), (dir_ / "in").c_str()), 0);
  std::string_view line;
  std::int64_t number;
  EXPECT_FALSE(input.Next(line, number));
  EXPECT_EQ(input.status().error_number(), ESTALE);
}

TEST_F(SortedInputTest, MissingInputFailsWithItsPath) {
  SortedInput input;
  const Status s = input.Sort(dir_ / "missing", Keys("1-2"), options_);
  EXPECT_EQ(s.error_number(), ENOENT);
  EXPECT_EQ(s.path(), dir_ / "missing");
  EXPECT_EQ(input.status().error_number(), ENOENT);
  std::string_view line;
  std::int64_t number;
  EXPECT_FALSE(input.Next(line, number));
}

TEST_F(SortedInputTest, MissingTempFolderFailsWithItsPath) {
  options_.temp_dir = dir_ / "no-such-folder";
  options_.memory_bytes = 4096;
  SortedInput input;
  const Status s = input.Sort(Input(MixedRecords(1000, 10)), Keys("1-6"), options_);
  EXPECT_EQ(s.error_number(), ENOENT);
  EXPECT_EQ(s.path(), dir_ / "no-such-folder");
}

TEST_F(SortedInputTest, SortingAgainStartsAfresh) {
  options_.memory_bytes = 4096;
  const std::string first = MixedRecords(1500, 11), second = MixedRecords(700, 12);
  SortedInput input;
  ASSERT_TRUE(input.Sort(Input(first), Keys("1-6"), options_).ok());
  std::string_view line;
  std::int64_t number;
  ASSERT_TRUE(input.Next(line, number));
  WriteFile(dir_ / "second", second);
  ASSERT_TRUE(input.Sort(dir_ / "second", Keys("2-4"), options_).ok());
  EXPECT_EQ(Drain(input), ReferenceOrder(second, Keys("2-4")));
  EXPECT_EQ(input.lines(), 700);
  EXPECT_EQ(input.consumed(), second.size());
  EXPECT_TRUE(OpenFilesIn(temp_).empty());
}

TEST_F(SortedInputTest, TwoInputsSortAtOnce) {
  options_.memory_bytes = 32 << 10;
  const std::string a = MixedRecords(5000, 13), b = MixedRecords(4000, 14);
  WriteFile(dir_ / "a", a);
  WriteFile(dir_ / "b", b);
  std::vector<Record> out_a, out_b;
  Status status_a, status_b;
  std::thread other([&] {
    SortedInput input;
    status_a = input.Sort(dir_ / "a", Keys("1-6"), options_);
    out_a = Drain(input);
  });
  SortedInput input;
  status_b = input.Sort(dir_ / "b", Keys("1-6"), options_);
  out_b = Drain(input);
  other.join();
  EXPECT_TRUE(status_a.ok());
  EXPECT_TRUE(status_b.ok());
  EXPECT_EQ(out_a, ReferenceOrder(a, Keys("1-6")));
  EXPECT_EQ(out_b, ReferenceOrder(b, Keys("1-6")));
}

// Temporary files: nothing ever shows in the folder, and what is held goes with the object.
class SortedInputTempFileTest : public SortedInputTest, public ::testing::WithParamInterface<bool> {
 protected:
  void SetUp() override {
    SortedInputTest::SetUp();
    ForceNamedTempFilesForTesting(GetParam());
  }
  void TearDown() override { ForceNamedTempFilesForTesting(false); }

  // What a held temporary file looks like in /proc: unnamed from the start, or named and
  // removed at once.
  void ExpectUnnamed(const std::vector<std::string>& open) {
    ASSERT_FALSE(open.empty());
    for (const std::string& link : open) {
      const std::string name = GetParam() ? "/.vesmer-sort-" : "/#";
      EXPECT_EQ(link.rfind(temp_ + name, 0), 0u) << link;
      EXPECT_TRUE(link.ends_with(" (deleted)")) << link;
    }
  }
};

TEST_P(SortedInputTempFileTest, GoneAfterTheLastRecord) {
  const std::string bytes = MixedRecords(3000, 20);
  options_.memory_bytes = 2048;
  std::vector<std::string> open_at_end;
  options_.progress = [&](std::uint64_t done, std::uint64_t total) {
    if (done == total) open_at_end = OpenFilesIn(temp_);
    EXPECT_EQ(EntriesIn(temp_), 0u);
  };
  SortedInput input;
  ASSERT_TRUE(input.Sort(Input(bytes), Keys("1-6"), options_).ok());
  ExpectUnnamed(open_at_end);
  std::string_view line;
  std::int64_t number;
  ASSERT_TRUE(input.Next(line, number));
  ExpectUnnamed(OpenFilesIn(temp_));
  EXPECT_EQ(EntriesIn(temp_), 0u);
  while (input.Next(line, number)) {
  }
  EXPECT_TRUE(input.status().ok());
  EXPECT_TRUE(OpenFilesIn(temp_).empty());  // let go at the end, before the object goes
  EXPECT_EQ(EntriesIn(temp_), 0u);
}

TEST_P(SortedInputTempFileTest, GoneWhenTheObjectGoesEarly) {
  options_.memory_bytes = 2048;
  {
    SortedInput input;
    ASSERT_TRUE(input.Sort(Input(MixedRecords(3000, 21)), Keys("1-6"), options_).ok());
    std::string_view line;
    std::int64_t number;
    ASSERT_TRUE(input.Next(line, number));
    ExpectUnnamed(OpenFilesIn(temp_));
  }
  EXPECT_TRUE(OpenFilesIn(temp_).empty());
  EXPECT_EQ(EntriesIn(temp_), 0u);
}

TEST_P(SortedInputTempFileTest, StopBeforeSortReadsNothing) {
  std::atomic<bool> stop{true};
  options_.stop = &stop;
  SortedInput input;
  const Status s = input.Sort(Input(MixedRecords(100, 22)), Keys("1-6"), options_);
  EXPECT_EQ(s.error_number(), EINTR);
  EXPECT_EQ(input.lines(), 0);
}

TEST_P(SortedInputTempFileTest, StopWhenMergePassesStart) {
  const std::string bytes = MixedRecords(3000, 23);
  options_.memory_bytes = 2048;
  std::atomic<bool> stop{false};
  options_.stop = &stop;
  std::vector<std::string> open_when_stopped;
  options_.progress = [&](std::uint64_t, std::uint64_t total) {
    if (total > bytes.size() && !stop) {
      open_when_stopped = OpenFilesIn(temp_);
      stop = true;
    }
  };
  SortedInput input;
  const Status s = input.Sort(Input(bytes), Keys("1-6"), options_);
  ExpectUnnamed(open_when_stopped);
  EXPECT_EQ(s.error_number(), EINTR);
  EXPECT_EQ(s.path(), dir_ / "in");
  EXPECT_TRUE(OpenFilesIn(temp_).empty());
  EXPECT_EQ(EntriesIn(temp_), 0u);
  std::string_view line;
  std::int64_t number;
  EXPECT_FALSE(input.Next(line, number));
}

TEST_P(SortedInputTempFileTest, StopWhileRunsAreWritten) {
  // A large input in tiny buffers: the stop comes as soon as the first run is being written.
  std::string bytes;
  for (std::uint32_t i = 0; i < 8; ++i) bytes += MixedRecords(10000, 30 + i);
  options_.memory_bytes = 8192;
  std::atomic<bool> stop{false}, sorting{true};
  options_.stop = &stop;
  const std::string path = Input(bytes);
  std::thread watcher([&] {
    while (sorting && OpenFilesIn(temp_).empty()) std::this_thread::yield();
    stop = true;
  });
  SortedInput input;
  const Status s = input.Sort(path, Keys("1-6"), options_);
  sorting = false;
  watcher.join();
  EXPECT_EQ(s.error_number(), EINTR);
  EXPECT_LT(input.lines(), 80000);
  EXPECT_TRUE(OpenFilesIn(temp_).empty());
  EXPECT_EQ(EntriesIn(temp_), 0u);
}

TEST_P(SortedInputTempFileTest, StopWhileHandingOut) {
  options_.memory_bytes = 2048;
  std::atomic<bool> stop{false};
  options_.stop = &stop;
  SortedInput input;
  ASSERT_TRUE(input.Sort(Input(MixedRecords(3000, 24)), Keys("1-6"), options_).ok());
  std::string_view line;
  std::int64_t number;
  for (int i = 0; i < 10; ++i) ASSERT_TRUE(input.Next(line, number));
  ExpectUnnamed(OpenFilesIn(temp_));
  stop = true;
  EXPECT_FALSE(input.Next(line, number));
  EXPECT_EQ(input.status().error_number(), EINTR);
  EXPECT_TRUE(OpenFilesIn(temp_).empty());
  stop = false;
  EXPECT_FALSE(input.Next(line, number));  // a failure stays
}

// The temporary folder fills up: Sort runs in a child under a file size limit, which makes
// writes fail with EFBIG (SIGXFSZ ignored) just as a full disk makes them fail with ENOSPC.
TEST_P(SortedInputTempFileTest, FullTempFolderFailsWithItsPath) {
  const std::string bytes = MixedRecords(20000, 25);
  const std::string path = Input(bytes);
  options_.memory_bytes = 64 << 10;
  int pipe_fds[2];
  ASSERT_EQ(::pipe(pipe_fds), 0);
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    ::close(pipe_fds[0]);
    std::signal(SIGXFSZ, SIG_IGN);
    const struct rlimit limit = {64 << 10, 64 << 10};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    SortedInput input;
    const Status s = input.Sort(path, Keys("1-6"), options_);
    const std::string report = std::to_string(s.error_number()) + "|" + s.operation() + "|" +
                               s.path() + "|" + std::to_string(OpenFilesIn(temp_).size());
    const bool written =
        ::write(pipe_fds[1], report.data(), report.size()) == static_cast<ssize_t>(report.size());
    ::_exit(written ? 0 : 1);
  }
  ::close(pipe_fds[1]);
  std::string report;
  char buffer[512];
  for (ssize_t n; (n = ::read(pipe_fds[0], buffer, sizeof buffer)) > 0;) {
    report.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(pipe_fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(report, std::to_string(EFBIG) + "|write temporary file|" + temp_ + "|0");
  EXPECT_EQ(ReadFile(path), bytes);
  EXPECT_EQ(EntriesIn(temp_), 0u);
}

// Killed outright while its temporary file is open, the sort leaves nothing in the folder:
// the file has no name by the time it is written to.
TEST_P(SortedInputTempFileTest, NothingLeftAfterSigkill) {
  std::string bytes;
  for (std::uint32_t i = 0; i < 8; ++i) bytes += MixedRecords(10000, 40 + i);
  const std::string path = Input(bytes);
  options_.memory_bytes = 8192;
  const pid_t pid = ::fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    SortedInput input;
    (void)input.Sort(path, Keys("1-6"), options_);
    ::_exit(0);
  }
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  bool killed = false;
  int status = 0;
  while (!killed && ::waitpid(pid, &status, WNOHANG) == 0) {
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
      char target[4096];
      const ssize_t n = ::readlink(entry.path().c_str(), target, sizeof target - 1);
      const std::string link(target, n > 0 ? static_cast<std::size_t>(n) : 0);
      if (link.rfind(temp_ + "/", 0) == 0 && link.ends_with(" (deleted)")) {
        ::kill(pid, SIGKILL);
        killed = true;
        break;
      }
    }
  }
  if (killed) {
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  }
  EXPECT_TRUE(killed) << "the sort ended without holding an unnamed temporary file";
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(EntriesIn(temp_), 0u);
  EXPECT_EQ(ReadFile(path), bytes);
}

INSTANTIATE_TEST_SUITE_P(Unnamed, SortedInputTempFileTest, ::testing::Values(false));
INSTANTIATE_TEST_SUITE_P(NamedAndRemoved, SortedInputTempFileTest, ::testing::Values(true));

TEST(TempFileTest, WritesAndReadsBackAtOffsets) {
  TempDir dir;
  TempFile file;
  ASSERT_TRUE(file.Create(dir.path()).ok());
  ASSERT_TRUE(file.WriteAt(0, "abcdef", 6).ok());
  ASSERT_TRUE(file.WriteAt(3, "XYZ!", 4).ok());
  char got[7] = {};
  ASSERT_TRUE(file.ReadAt(0, got, 7).ok());
  EXPECT_EQ(std::string(got, 7), "abcXYZ!");
  const Status past_end = file.ReadAt(5, got, 3);
  EXPECT_EQ(past_end.error_number(), EIO);
  EXPECT_EQ(past_end.path(), dir.path());
  file.Discard(0, 4096);
  file.Close();
  EXPECT_EQ(EntriesIn(dir.path()), 0u);
}

// --- The in-memory block ---------------------------------------------------------------

std::vector<std::pair<std::string, std::int64_t>> SortBlock(const std::vector<std::string>& keys,
                                                            BlockSortMethod method) {
  RecordBlock block;
  std::size_t need = 0;
  for (const auto& k : keys) need += RecordBlock::Footprint(k.size(), 3);
  EXPECT_TRUE(block.Reserve(need));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    EXPECT_TRUE(block.Fits(keys[i].size(), 3));
    block.Append(keys[i], std::string{'L', static_cast<char>('0' + i % 10), 'x'},
                 static_cast<std::int64_t>(i + 1), 2);
  }
  EXPECT_TRUE(block.Sort(nullptr, false, method));
  std::vector<std::pair<std::string, std::int64_t>> out;
  for (std::size_t i = 0; i < block.count(); ++i) {
    const RecordView r = block.At(i);
    EXPECT_EQ(r.extra, 2u);
    out.emplace_back(std::string(r.key), r.number);
  }
  return out;
}

std::vector<std::pair<std::string, std::int64_t>> StableByKey(
    const std::vector<std::string>& keys) {
  std::vector<std::pair<std::string, std::int64_t>> out;
  for (std::size_t i = 0; i < keys.size(); ++i) {
    out.emplace_back(keys[i], static_cast<std::int64_t>(i + 1));
  }
  std::stable_sort(out.begin(), out.end(),
                   [](const auto& a, const auto& b) { return CompareKeys(a.first, b.first) < 0; });
  return out;
}

std::vector<std::string> RandomKeys(std::size_t count, std::uint32_t seed, std::string common,
                                    std::size_t max_tail, std::string_view alphabet) {
  std::mt19937 rng(seed);
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < count; ++i) {
    std::string key = common;
    const std::size_t tail = rng() % (max_tail + 1);
    for (std::size_t j = 0; j < tail; ++j) key += alphabet[rng() % alphabet.size()];
    keys.push_back(key);
  }
  return keys;
}

// Keys made of stretches that many keys share: one of two 8-byte heads and a letter, one of
// two middles, then a short random tail; one empty key keeps the block's common prefix at
// nothing.
std::vector<std::string> NestedKeys(std::size_t count, std::uint32_t seed) {
  static const char* const kHeads[] = {"HEAD-ONE", "HEAD-TWO"};
  static const char* const kMiddles[] = {"middle-x-\x01\x02\x03", "middle-y-\x00\x00\x00"};
  std::mt19937 rng(seed);
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < count; ++i) {
    std::string key = kHeads[rng() % 2];
    key += static_cast<char>('a' + rng() % 2);
    key.append(kMiddles[rng() % 2], 12);
    const std::size_t tail = rng() % 5;
    for (std::size_t j = 0; j < tail; ++j) key += static_cast<char>('a' + rng() % 3);
    keys.push_back(key);
  }
  keys[count / 2].clear();
  return keys;
}

TEST(RecordBlockTest, BothMethodsGiveTheStableKeyOrder) {
  using namespace std::string_view_literals;
  const std::vector<std::vector<std::string>> cases = {
      RandomKeys(5000, 1, "", 12,
                 "\0\x01"
                 "ab\xFF"sv),                                // short and long, NUL bytes
      RandomKeys(5000, 2, "PREFIX-", 20, "\0z"sv),           // long ties after a prefix
      RandomKeys(3000, 3, "K00000", 6, "0123456789"sv),      // fixed width numbers
      RandomKeys(4000, 4, "", 3, "ab"sv),                    // many equal keys
      RandomKeys(200, 5, "", 10, "\0\x80\xC0"sv),            // below the radix threshold
      NestedKeys(8000, 8),                                   // long shared stretches
      std::vector<std::string>(1000, "same"),                // one key
      std::vector<std::string>(1000, std::string(40, 'L')),  // one long key
      RandomKeys(2000, 6, "", 0, "x"sv),                     // all empty
  };
  for (std::size_t c = 0; c < cases.size(); ++c) {
    SCOPED_TRACE(c);
    const auto expected = StableByKey(cases[c]);
    EXPECT_EQ(SortBlock(cases[c], BlockSortMethod::kRadix), expected);
    EXPECT_EQ(SortBlock(cases[c], BlockSortMethod::kComparison), expected);
  }
}

TEST(RecordBlockTest, FitsKeepsRecordsAndIndexWithinTheCapacity) {
  RecordBlock block;
  ASSERT_TRUE(block.Reserve(4000));
  EXPECT_EQ(block.capacity(), 4000u);
  std::size_t n = 0;
  while (block.Fits(5, 30)) {
    block.Append("12345", std::string(30, 'x'), static_cast<std::int64_t>(n + 1), 0);
    ++n;
  }
  EXPECT_LE(block.footprint(), block.capacity());
  EXPECT_GT(block.footprint() + RecordBlock::Footprint(5, 30), block.capacity());
  EXPECT_EQ(block.footprint(), n * RecordBlock::Footprint(5, 30));
  ASSERT_TRUE(block.Sort(nullptr));
  EXPECT_EQ(block.At(n - 1).number, static_cast<std::int64_t>(n));
  block.Clear();
  EXPECT_TRUE(block.empty());
  EXPECT_TRUE(block.Fits(5, 30));
}

TEST(RecordBlockTest, StopLeavesTheSortUnfinished) {
  const auto keys = RandomKeys(5000, 7, "", 8, "abcdefgh");
  RecordBlock block;
  std::size_t need = 0;
  for (const auto& k : keys) need += RecordBlock::Footprint(k.size(), 0);
  ASSERT_TRUE(block.Reserve(need));
  for (std::size_t i = 0; i < keys.size(); ++i)
    block.Append(keys[i], "", static_cast<std::int64_t>(i + 1), 0);
  const std::atomic<bool> stop{true};
  EXPECT_FALSE(block.Sort(&stop));
  EXPECT_TRUE(block.Sort(nullptr));
}

TEST(RecordBlockTest, UnpackReadsWhatAppendWrote) {
  RecordBlock block;
  ASSERT_TRUE(block.Reserve(1024));
  block.Append("k\xE3\x82", std::string("line\0x", 6), (std::int64_t{1} << 40) + 5, 3);
  ASSERT_TRUE(block.Sort(nullptr));
  const RecordView r = block.At(0);
  EXPECT_EQ(r.key, "k\xE3\x82");
  EXPECT_EQ(r.line, std::string_view("line\0x", 6));
  EXPECT_EQ(r.number, (std::int64_t{1} << 40) + 5);
  EXPECT_EQ(r.extra, 3u);
  EXPECT_EQ(r.bytes.size(), sizeof(RecordHeader) + 3 + 6);
  const RecordView again = UnpackRecord(r.bytes.data());
  EXPECT_EQ(again.key, r.key);
  EXPECT_EQ(again.line, r.line);
}

TEST(RecordBlockTest, ARecordsDescriptorWordCountsBesideItsNumber) {
  // An RDW record is handed to the sort without the 4 bytes of its word.
  RecordBlock block;
  ASSERT_TRUE(block.Reserve(1024));
  block.Append("a", "x", 2, 4);
  block.Append("b", "y", 3, RecordBlock::kMaxExtra);
  ASSERT_TRUE(block.Sort(nullptr));
  EXPECT_EQ(block.At(0).number, 2);
  EXPECT_EQ(block.At(0).extra, 4u);
  EXPECT_EQ(block.At(1).number, 3);
  EXPECT_EQ(block.At(1).extra, RecordBlock::kMaxExtra);
}

// Inputs in key order for a random stretch (keys repeating, so equal keys straddle the line
// where the sort stops holding lines), then lines out of order, some with keys equal to the
// last in order; CR, CR LF and lone LF mixed, now and then a line longer than a sort buffer,
// and a last line with or without its end.
std::string SortedStartThenTail(std::mt19937& rng) {
  std::vector<std::string> lines;
  const int sorted = static_cast<int>(rng() % 4000);
  const int repeat = 1 + static_cast<int>(rng() % 6);
  for (int i = 0; i < sorted; ++i) {
    lines.push_back(std::to_string(100000 + i / repeat) + "|" + std::to_string(i) +
                    std::string(rng() % 30, 'p'));
  }
  const int tail = static_cast<int>(rng() % 600);
  for (int i = 0; i < tail; ++i) {
    std::string key = std::to_string(100000 + rng() % (sorted / repeat + 5));
    if (rng() % 3 == 0 && !lines.empty()) key = lines.back().substr(0, 6);
    lines.push_back(key + "|t" + std::to_string(i) + std::string(rng() % 30, 'q'));
  }
  if (rng() % 10 == 0 && !lines.empty()) lines[rng() % lines.size()] += std::string(70000, 'H');
  std::string bytes;
  for (const std::string& line : lines) {
    static constexpr std::string_view kEnds[] = {"\r", "\r\n", "\n\r\n"};
    bytes += line;
    bytes += kEnds[rng() % std::size(kEnds)];
  }
  if (rng() % 2 == 0 && !bytes.empty()) bytes.pop_back();
  if (rng() % 2 == 0 && !bytes.empty() && bytes.back() == '\r') bytes.pop_back();
  return bytes;
}

TEST_F(SortedInputTest, NoLineLostOrDoubledWhereHoldingStopsAndStartsAgain) {
  std::mt19937 rng(12345);
  static constexpr std::size_t kMemories[] = {1024, 2048, 4096, 8192, 65536, 1 << 20};
  for (int round = 0; round < 120 && !HasFailure(); ++round) {
    const std::string bytes = SortedStartThenTail(rng);
    options_.memory_bytes = kMemories[rng() % std::size(kMemories)];
    SCOPED_TRACE(::testing::Message() << "round " << round << ", " << bytes.size()
                                      << " bytes, memory " << options_.memory_bytes);
    ExpectSortedAsReference(bytes, "1-6");
  }
}

TEST_F(SortedInputTest, ConsumedReachesTheSizeWhenTheLastLineEndIsSplit) {
  // The CR of the last line ends the first chunk and its LF is all of the second: no line
  // takes the LF, yet at the end all bytes of the input are consumed.
  const std::size_t chunk = LineReader::kDefaultChunkSize;
  for (const bool disorder : {false, true}) {
    std::string bytes;
    for (int i = 0; bytes.size() < chunk - 100; ++i) {
      bytes += std::to_string(100000 + i) + "-filler\r\n";
    }
    if (disorder) bytes += "000001-early\r\n";
    bytes += "999999-" + std::string(chunk - 1 - bytes.size() - 7, 'z') + "\r";
    ASSERT_EQ(bytes.size(), chunk);
    bytes += "\n";
    // Held in memory; read again from the input (whole, or the lines before the decrease).
    for (const std::size_t memory : {std::size_t{256} << 20, std::size_t{4096}}) {
      SCOPED_TRACE(::testing::Message() << "disorder " << disorder << ", memory " << memory);
      options_.memory_bytes = memory;
      ExpectSortedAsReference(bytes, "1-6");
    }
  }
}

TEST_F(SortedInputTest, CsvRecordsAfterAHeaderKeepTheLinesTheyStartOn) {
  // Keyed by their second column, picked out by the coding as comparisons of CSV against other
  // records pick it; now and then a record over two lines. Records keep the numbers the
  // framing gives them, the header's place counted; the header belongs to no record, yet every
  // byte of the input is consumed.
  RecordFormat format;
  std::string message;
  ASSERT_TRUE(ParseRecordFormat("csv,header", format, message)) << message;
  const FormatFraming framing(format);
  const SelectedFieldsCoding coding(CsvCoding::Open(format, 2, message),
                                    std::vector<std::uint32_t>{1});
  options_.framing = &framing;
  options_.coding = &coding;
  std::mt19937 rng(7);
  for (const bool in_order : {true, false}) {
    std::string bytes = "id,name\r\n";
    std::vector<std::pair<std::string, Record>> keyed;  // key, record
    for (int i = 0; i < 600; ++i) {
      std::string name = in_order ? std::to_string(1000 + i) : std::to_string(rng() % 100);
      const bool two_lines = i % 37 == 5;
      const std::string record =
          std::to_string(i) + "," + (two_lines ? "\"" + name + "\r\nx\"" : name);
      keyed.push_back({two_lines ? name + "\r\nx" : name, {record, i + 2}});
      bytes += record + "\r\n";
    }
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<Record> expected;
    for (const auto& k : keyed) expected.push_back(k.second);
    // Held in memory, written in runs, or (in order) read again from the input.
    for (const std::size_t memory : {std::size_t{256} << 20, std::size_t{4096}}) {
      SCOPED_TRACE(::testing::Message() << "in order " << in_order << ", memory " << memory);
      options_.memory_bytes = memory;
      SortedInput input;
      ASSERT_TRUE(input.Sort(Input(bytes), Keys("1-1"), options_).ok());
      EXPECT_EQ(Drain(input), expected);
      EXPECT_TRUE(input.status().ok()) << input.status().what();
      EXPECT_EQ(input.lines(), 600);
      EXPECT_EQ(input.consumed(), bytes.size());
    }
  }
}

TEST_F(SortedInputTest, InputChangedWithItsTimeSetBackIsNotReadAgain) {
  // Same size, same modification time (set back as touch -r does), other bytes: only the
  // change time tells, and the input must not be read again.
  options_.memory_bytes = 4096;
  for (const bool presorted : {true, false}) {
    SCOPED_TRACE(presorted);
    std::string bytes = MixedRecords(2000, 6, /*sorted=*/true);
    if (!presorted) bytes += CrLf({"000000 first"});
    const std::string path = Input(bytes);
    struct stat before;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    SortedInput input;
    ASSERT_TRUE(input.Sort(path, Keys("1-6"), options_).ok());
    ASSERT_EQ(input.presorted(), presorted);
    std::string changed = bytes;
    const std::size_t at = changed.find("pp", bytes.size() / 2);
    ASSERT_NE(at, std::string::npos);
    changed[at] = 'q';
    {
      const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      const ssize_t put = ::pwrite(fd, changed.data(), changed.size(), 0);
      ASSERT_EQ(::close(fd), 0);
      ASSERT_EQ(put, static_cast<ssize_t>(changed.size()));
    }
    const struct timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
    struct stat after;
    ASSERT_EQ(::stat(path.c_str(), &after), 0);
    ASSERT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    ASSERT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    // The input is opened again before the first record: none is handed out.
    EXPECT_EQ(Drain(input).size(), 0u);
    EXPECT_EQ(input.status().error_number(), ESTALE);
    EXPECT_EQ(input.status().reason(), "ファイルが変更されたか、置き換えられました");
  }
}

}  // namespace
}  // namespace vesmer
