#include "core/utf8_input.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "tests/support/sys_faults.h"
#include "tests/support/test_util.h"
#include "tests/support/utf8_reference.h"

namespace vesmer {
namespace {

using testing::Call;
using testing::Exists;
using testing::ReadFile;
using testing::SysFaults;
using testing::TempDir;
using testing::WriteFile;

// The names in a folder, to show that a refused conversion created and removed nothing.
std::set<std::string> Listing(const TempDir& dir) {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

bool IsSymlink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

// Byte equality that reports the first difference: gtest's own diff of megabytes of lines
// would take minutes.
::testing::AssertionResult SameBytes(const std::string& actual, const std::string& expected) {
  const auto [a, e] = std::mismatch(actual.begin(), actual.end(), expected.begin(), expected.end());
  if (a == actual.end() && e == expected.end()) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "sizes " << actual.size() << " and " << expected.size()
                                       << ", first difference at " << (a - actual.begin());
}

// Converts `path` with both inputs protected, as a run does.
Status Convert(const std::string& path, const std::string& other) {
  const FileId ids[] = {IdOfPath(path), IdOfPath(other)};
  return ConvertUtf8Input(path, ids);
}

// UTF-8 records and their code page 932 form.
const std::string kUtf8 = "キー,値\r\n1,あいう\r\n";
const std::string kSjis = "\x83\x4c\x81\x5b,\x92\x6c\r\n1,\x82\xa0\x82\xa2\x82\xa4\r\n";

TEST(Utf8InputTest, NamesComeFromThePathWithoutExtension) {
  EXPECT_EQ(MakeUtf8InputNames("/d/a.csv").converted, "/d/a_SJIS.TXT");
  EXPECT_EQ(MakeUtf8InputNames("/d/a").backup, "/d/a_UTF8.TXT");
  EXPECT_EQ(MakeUtf8InputNames("/d.x/a").backup, "/d.x/a_UTF8.TXT");
}

TEST(Utf8InputTest, ConvertsOnDiskAndKeepsTheOriginalBeside) {
  TempDir dir;
  WriteFile(dir / "a.csv", kUtf8);
  WriteFile(dir / "b.csv", kSjis);
  ASSERT_TRUE(Convert(dir / "a.csv", dir / "b.csv").ok());
  EXPECT_EQ(ReadFile(dir / "a.csv"), kSjis);
  EXPECT_EQ(ReadFile(dir / "a_UTF8.TXT"), kUtf8);
  EXPECT_EQ(ReadFile(dir / "b.csv"), kSjis);
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"a.csv", "a_UTF8.TXT", "b.csv"}));
}

TEST(Utf8InputTest, DropsTheByteOrderMarkAndReplacesWhatHasNoForm) {
  TempDir dir;
  // BOM, a character with a best fit (¥ -> 5C), one without a form (한), malformed bytes,
  // a character outside the BMP (two '?'), line ends kept as they are.
  WriteFile(dir / "in.txt",
            "\xEF\xBB\xBF"
            "a¥한\xFF\n😀\r\n");
  ASSERT_TRUE(ConvertUtf8Input(dir / "in.txt", {}).ok());
  EXPECT_EQ(ReadFile(dir / "in.txt"), "a\\??\n??\r\n");
}

TEST(Utf8InputTest, StreamsAcrossReadBoundaries) {
  TempDir dir;
  // Enough three-byte characters that several fall across the 1 MiB reads.
  std::string utf8, sjis;
  for (int i = 0; i < 400000; ++i) {
    utf8 += (i % 7 == 0) ? "\r\n" : "あ";
    sjis += (i % 7 == 0) ? "\r\n" : "\x82\xA0";
  }
  WriteFile(dir / "big.txt", utf8);
  ASSERT_TRUE(ConvertUtf8Input(dir / "big.txt", {}).ok());
  EXPECT_TRUE(SameBytes(ReadFile(dir / "big.txt"), sjis));
  EXPECT_TRUE(SameBytes(ReadFile(dir / "big_UTF8.TXT"), utf8));
}

TEST(Utf8InputTest, EmptyFileAndBareMark) {
  TempDir dir;
  WriteFile(dir / "e.txt", "");
  WriteFile(dir / "m.txt", "\xEF\xBB\xBF");
  WriteFile(dir / "p.txt", "\xEF\xBB");  // only the start of a mark: a malformed sequence
  for (const char* name : {"e.txt", "m.txt", "p.txt"}) {
    ASSERT_TRUE(ConvertUtf8Input(dir / name, {}).ok()) << name;
  }
  EXPECT_EQ(ReadFile(dir / "e.txt"), "");
  EXPECT_EQ(ReadFile(dir / "m.txt"), "");
  EXPECT_EQ(ReadFile(dir / "p.txt"), "?");
  EXPECT_EQ(ReadFile(dir / "p_UTF8.TXT"), "\xEF\xBB");
}

TEST(Utf8InputTest, MissingInputFails) {
  TempDir dir;
  const Status s = ConvertUtf8Input(dir / "none.txt", {});
  EXPECT_FALSE(s.ok());
  EXPECT_EQ(s.error_number(), ENOENT);
  EXPECT_EQ(s.path(), dir / "none.txt");
  EXPECT_TRUE(Listing(dir).empty());
}

TEST(Utf8InputTest, InputThatIsNoRegularFileIsRefused) {
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "d.txt").c_str(), 0755), 0);
  ASSERT_EQ(::mkfifo((dir / "f.txt").c_str(), 0644), 0);
  EXPECT_EQ(ConvertUtf8Input(dir / "d.txt", {}).error_number(), EISDIR);
  EXPECT_EQ(ConvertUtf8Input(dir / "f.txt", {}).error_number(), EINVAL);  // does not hang
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"d.txt", "f.txt"}));
}

// The destination b.txt is marked UTF-8 and the source is the name its conversion would write.
TEST(Utf8InputTest, RefusesToWriteIntoTheOtherInput) {
  TempDir dir;
  const std::string source = "source records\r\n";
  WriteFile(dir / "b_SJIS.TXT", source);
  WriteFile(dir / "b.txt", kUtf8);
  const Status s = Convert(dir / "b.txt", dir / "b_SJIS.TXT");
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.path(), dir / "b_SJIS.TXT");
  EXPECT_EQ(s.error_number(), EEXIST);
  EXPECT_EQ(ReadFile(dir / "b_SJIS.TXT"), source);
  EXPECT_EQ(ReadFile(dir / "b.txt"), kUtf8);
  EXPECT_EQ(Listing(dir), (std::set<std::string>{"b.txt", "b_SJIS.TXT"}));
}

TEST(Utf8InputTest, RefusesAHardLinkToAnInput) {
  TempDir dir;
  const std::string other = "other input\r\n";
  WriteFile(dir / "other.prn", other);
  WriteFile(dir / "b.txt", kUtf8);
  ASSERT_EQ(::link((dir / "other.prn").c_str(), (dir / "b_SJIS.TXT").c_str()), 0);
  const Status s = Convert(dir / "b.txt", dir / "other.prn");
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.path(), dir / "b_SJIS.TXT");
  EXPECT_EQ(ReadFile(dir / "other.prn"), other);
  EXPECT_EQ(ReadFile(dir / "b.txt"), kUtf8);
  EXPECT_FALSE(Exists(dir / "b_UTF8.TXT"));

  // A hard link to the input itself is refused without being listed.
  TempDir self;
  WriteFile(self / "a.txt", kUtf8);
  ASSERT_EQ(::link((self / "a.txt").c_str(), (self / "a_SJIS.TXT").c_str()), 0);
  EXPECT_EQ(ConvertUtf8Input(self / "a.txt", {}).path(), self / "a_SJIS.TXT");
  EXPECT_EQ(ReadFile(self / "a.txt"), kUtf8);
}

TEST(Utf8InputTest, RefusesAFileThatHasOtherNames) {
  // Not an input, but writing it would change the file under its other name.
  TempDir dir;
  const std::string kept = "kept elsewhere\r\n";
  WriteFile(dir / "keep.txt", kept);
  WriteFile(dir / "a.txt", kUtf8);
  ASSERT_EQ(::link((dir / "keep.txt").c_str(), (dir / "a_SJIS.TXT").c_str()), 0);
  const Status s = ConvertUtf8Input(dir / "a.txt", {});
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.path(), dir / "a_SJIS.TXT");
  EXPECT_EQ(ReadFile(dir / "keep.txt"), kept);
  EXPECT_EQ(ReadFile(dir / "a.txt"), kUtf8);
}

TEST(Utf8InputTest, NeverWritesThroughASymbolicLink) {
  TempDir dir;
  const std::string target = "a file the link points at\r\n";
  WriteFile(dir / "target.txt", target);
  WriteFile(dir / "a.txt", kUtf8);
  ASSERT_EQ(::symlink("target.txt", (dir / "a_SJIS.TXT").c_str()), 0);
  Status s = ConvertUtf8Input(dir / "a.txt", {});
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error_number(), ELOOP);
  EXPECT_EQ(s.path(), dir / "a_SJIS.TXT");
  EXPECT_EQ(ReadFile(dir / "target.txt"), target);
  EXPECT_TRUE(IsSymlink(dir / "a_SJIS.TXT"));
  EXPECT_EQ(ReadFile(dir / "a.txt"), kUtf8);

  // A dangling link: following it would create the file it names.
  ASSERT_EQ(::unlink((dir / "a_SJIS.TXT").c_str()), 0);
  ASSERT_EQ(::symlink("created.txt", (dir / "a_SJIS.TXT").c_str()), 0);
  s = ConvertUtf8Input(dir / "a.txt", {});
  EXPECT_EQ(s.error_number(), ELOOP);
  EXPECT_FALSE(Exists(dir / "created.txt"));
  EXPECT_EQ(ReadFile(dir / "a.txt"), kUtf8);
}

TEST(Utf8InputTest, RefusesAConvertedNameThatIsNoRegularFile) {
  TempDir dir;
  WriteFile(dir / "a.txt", kUtf8);
  ASSERT_EQ(::mkfifo((dir / "a_SJIS.TXT").c_str(), 0644), 0);
  EXPECT_EQ(ConvertUtf8Input(dir / "a.txt", {}).path(), dir / "a_SJIS.TXT");  // does not hang
  {
    // With a reader at the other end the open succeeds; the file type still refuses it.
    const int reader = ::open((dir / "a_SJIS.TXT").c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    const Status s = ConvertUtf8Input(dir / "a.txt", {});
    char byte;
    EXPECT_EQ(::read(reader, &byte, 1), 0);  // nothing was written into it
    ::close(reader);
    EXPECT_EQ(s.operation(), "create");
    EXPECT_EQ(s.error_number(), EEXIST);
  }
  ASSERT_EQ(::unlink((dir / "a_SJIS.TXT").c_str()), 0);
  ASSERT_EQ(::mkdir((dir / "a_SJIS.TXT").c_str(), 0755), 0);
  EXPECT_EQ(ConvertUtf8Input(dir / "a.txt", {}).path(), dir / "a_SJIS.TXT");
  EXPECT_EQ(ReadFile(dir / "a.txt"), kUtf8);
  EXPECT_FALSE(Exists(dir / "a_UTF8.TXT"));
}

TEST(Utf8InputTest, InputThroughASymbolicLinkLeavesItsTargetAlone) {
  // The link is read through; the renames move the link, so the target keeps the UTF-8 text
  // and P_UTF8.TXT still leads to it.
  TempDir dir;
  ASSERT_EQ(::mkdir((dir / "data").c_str(), 0755), 0);
  WriteFile(dir / "data/real.csv", kUtf8);
  ASSERT_EQ(::symlink("data/real.csv", (dir / "a.csv").c_str()), 0);
  ASSERT_TRUE(ConvertUtf8Input(dir / "a.csv", {}).ok());
  EXPECT_EQ(ReadFile(dir / "data/real.csv"), kUtf8);
  EXPECT_FALSE(IsSymlink(dir / "a.csv"));
  EXPECT_EQ(ReadFile(dir / "a.csv"), kSjis);
  EXPECT_TRUE(IsSymlink(dir / "a_UTF8.TXT"));
  EXPECT_EQ(ReadFile(dir / "a_UTF8.TXT"), kUtf8);
}

TEST(Utf8InputTest, OverwritesALeftoverConversionInFull) {
  TempDir dir;
  WriteFile(dir / "a.txt", kUtf8);
  WriteFile(dir / "a_SJIS.TXT", std::string(10000, 'x'));  // longer than the new text
  ASSERT_TRUE(ConvertUtf8Input(dir / "a.txt", {}).ok());
  EXPECT_EQ(ReadFile(dir / "a.txt"), kSjis);
  EXPECT_FALSE(Exists(dir / "a_SJIS.TXT"));
}

TEST(Utf8InputTest, NeverOverwritesTheBackupEvenWhenItIsTheOtherInput) {
  TempDir dir;
  const std::string source = "source records\r\n";
  WriteFile(dir / "b_UTF8.TXT", source);
  WriteFile(dir / "b.txt", kUtf8);
  const Status s = Convert(dir / "b.txt", dir / "b_UTF8.TXT");
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error_number(), EEXIST);
  EXPECT_EQ(ReadFile(dir / "b_UTF8.TXT"), source);
  EXPECT_EQ(ReadFile(dir / "b.txt"), kUtf8);
  EXPECT_EQ(ReadFile(dir / "b_SJIS.TXT"), kSjis);  // written before the rename was refused
}

TEST(Utf8InputTest, AFailedWriteRemovesTheHalfWrittenFile) {
  std::string utf8;
  while (utf8.size() < 3 * (1u << 20)) utf8 += kUtf8;
  for (const int error : {ENOSPC, EIO, EFBIG}) {
    SCOPED_TRACE(error);
    TempDir dir;
    WriteFile(dir / "a.txt", utf8);
    WriteFile(dir / "b.txt", kSjis);
    Status s;
    {
      // The first write of the converted text goes through; the second fails as a full disk,
      // a failing disk or a file size limit would.
      SysFaults faults;
      faults.Add({.call = Call::kWrite, .error = error, .nth = 2, .path = dir / "a_SJIS.TXT"});
      s = Convert(dir / "a.txt", dir / "b.txt");
      EXPECT_EQ(faults.Hits(), 1);
    }
    ASSERT_FALSE(s.ok());
    EXPECT_EQ(s.operation(), "write");
    EXPECT_EQ(s.error_number(), error);
    EXPECT_EQ(s.path(), dir / "a_SJIS.TXT");
    EXPECT_TRUE(SameBytes(ReadFile(dir / "a.txt"), utf8));
    EXPECT_EQ(Listing(dir), (std::set<std::string>{"a.txt", "b.txt"}));
  }
}

std::string* removed_by_hook = nullptr;

void RemoveConvertedAfterFirstRename(int step) {
  if (step == detail::kStepInputRenamed) ::unlink(removed_by_hook->c_str());
}

TEST(Utf8InputTest, AFailedSecondRenamePutsTheInputBack) {
  TempDir dir;
  WriteFile(dir / "a.txt", kUtf8);
  std::string converted = dir / "a_SJIS.TXT";
  removed_by_hook = &converted;
  detail::SetUtf8ConversionStepHook(RemoveConvertedAfterFirstRename);
  const Status s = ConvertUtf8Input(dir / "a.txt", {});
  detail::SetUtf8ConversionStepHook(nullptr);
  ASSERT_FALSE(s.ok());
  EXPECT_EQ(s.error_number(), ENOENT);
  EXPECT_EQ(ReadFile(dir / "a.txt"), kUtf8);
  EXPECT_EQ(Listing(dir), std::set<std::string>{"a.txt"});
}

int kill_at_step = -1;

void KillAtStep(int step) {
  if (step == kill_at_step) ::raise(SIGKILL);
}

// A process killed after any step of the conversion leaves the UTF-8 text whole under the input
// path or under P_UTF8.TXT, the other input untouched, and no file but the conversion's own.
TEST(Utf8InputTest, KilledAtAnyStepTheTextSurvives) {
  std::string utf8;
  while (utf8.size() < 5 * (1u << 19)) utf8 += kUtf8;  // more than two reads
  std::string sjis;
  for (std::size_t i = 0; i < utf8.size() / kUtf8.size(); ++i) sjis += kSjis;
  const std::string other = "other input\r\n";
  for (const int step : {detail::kStepChunkWritten, detail::kStepConvertedClosed,
                         detail::kStepInputRenamed, detail::kStepConvertedRenamed}) {
    SCOPED_TRACE(step);
    TempDir dir;
    WriteFile(dir / "a.csv", utf8);
    WriteFile(dir / "b.csv", other);
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      kill_at_step = step;
      detail::SetUtf8ConversionStepHook(KillAtStep);
      (void)Convert(dir / "a.csv", dir / "b.csv");
      ::_exit(0);  // the hook never ran
    }
    int wstatus = 0;
    ASSERT_EQ(::waitpid(pid, &wstatus, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(wstatus) && WTERMSIG(wstatus) == SIGKILL) << wstatus;

    const std::set<std::string> names = Listing(dir);
    for (const std::string& name : names) {
      EXPECT_TRUE(name == "a.csv" || name == "b.csv" || name == "a_SJIS.TXT" ||
                  name == "a_UTF8.TXT")
          << name;
    }
    const bool under_input = Exists(dir / "a.csv") && ReadFile(dir / "a.csv") == utf8;
    const bool under_backup = Exists(dir / "a_UTF8.TXT") && ReadFile(dir / "a_UTF8.TXT") == utf8;
    EXPECT_TRUE(under_input || under_backup);
    EXPECT_EQ(ReadFile(dir / "b.csv"), other);

    // Where each step leaves things.
    switch (step) {
      case detail::kStepChunkWritten:
        EXPECT_TRUE(under_input);
        EXPECT_LT(ReadFile(dir / "a_SJIS.TXT").size(), sjis.size());
        EXPECT_TRUE(SameBytes(ReadFile(dir / "a_SJIS.TXT"),
                              sjis.substr(0, ReadFile(dir / "a_SJIS.TXT").size())));
        break;
      case detail::kStepConvertedClosed:
        EXPECT_TRUE(under_input);
        EXPECT_TRUE(SameBytes(ReadFile(dir / "a_SJIS.TXT"), sjis));
        break;
      case detail::kStepInputRenamed:
        EXPECT_FALSE(Exists(dir / "a.csv"));
        EXPECT_TRUE(under_backup);
        EXPECT_TRUE(SameBytes(ReadFile(dir / "a_SJIS.TXT"), sjis));
        break;
      default:
        EXPECT_TRUE(under_backup);
        EXPECT_TRUE(SameBytes(ReadFile(dir / "a.csv"), sjis));
        EXPECT_FALSE(Exists(dir / "a_SJIS.TXT"));
        break;
    }
  }
}

// Reads `bytes` in pieces whose sizes cycle through `sizes`.
detail::ReadFunction PiecesOf(const std::string& bytes, std::vector<std::size_t> sizes) {
  return [&bytes, sizes, at = std::size_t{0}, turn = std::size_t{0}](
             char* buffer, std::size_t capacity) mutable -> ssize_t {
    const std::size_t n = std::min({sizes[turn++ % sizes.size()], capacity, bytes.size() - at});
    std::memcpy(buffer, bytes.data() + at, n);
    at += n;
    return static_cast<ssize_t>(n);
  };
}

std::string Transcode(const std::string& utf8, std::vector<std::size_t> sizes,
                      std::size_t chunk = detail::kUtf8ConversionChunk) {
  std::string out;
  const Status s = detail::TranscodeUtf8(
      PiecesOf(utf8, std::move(sizes)),
      [&out](std::string_view b) {
        out += b;
        return Status{};
      },
      chunk);
  EXPECT_TRUE(s.ok());
  return out;
}

TEST(Utf8InputTranscodeTest, OutputDoesNotDependOnHowReadsCutTheInput) {
  std::mt19937 rng(65001);
  // Short reads of a large chunk, and full reads of small chunks.
  const std::vector<std::vector<std::size_t>> cuts = {{1},       {2},    {3},    {1, 2},
                                                      {2, 1, 5}, {7, 1}, {4096}, {1u << 20}};
  for (int round = 0; round < 300; ++round) {
    std::string utf8 = testing::RandomUtf8Like(rng, 1 + round % 40);
    if (round % 3 == 0) utf8.insert(0, "\xEF\xBB\xBF");
    const std::string expected = testing::ReferenceUtf8InputConversion(utf8);
    for (const auto& sizes : cuts) {
      ASSERT_EQ(Transcode(utf8, sizes), expected) << round << " " << sizes[0];
    }
    for (const std::size_t chunk : {1, 2, 3, 4, 5, 16}) {
      ASSERT_EQ(Transcode(utf8, {chunk}, chunk), expected) << round << " " << chunk;
    }
  }
}

TEST(Utf8InputTranscodeTest, OnlyALeadingMarkIsDropped) {
  EXPECT_EQ(Transcode("\xEF\xBB\xBF"
                      "a",
                      {1}),
            "a");
  EXPECT_EQ(Transcode("\xEF\xBB\xBF\xEF\xBB\xBF"
                      "a",
                      {2}),
            "?a");  // the second one is text
  EXPECT_EQ(Transcode("a\xEF\xBB\xBF", {1}), "a?");
  EXPECT_EQ(Transcode("\xEF\xBB", {1}), "?");
  EXPECT_EQ(Transcode("\xEF", {5}), "?");
  EXPECT_EQ(Transcode("", {1}), "");
}

TEST(Utf8InputTranscodeTest, FailuresOfReadAndWriteArePassedOn) {
  const Status read_failed = detail::TranscodeUtf8(
      [](char*, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
      },
      [](std::string_view) { return Status{}; });
  EXPECT_EQ(read_failed.operation(), "read");
  EXPECT_EQ(read_failed.error_number(), EIO);

  const std::string text = "abc";
  int writes = 0;
  const Status write_failed =
      detail::TranscodeUtf8(PiecesOf(text, {1}), [&writes](std::string_view) {
        ++writes;
        return Status::Error(ENOSPC, "write", "x");
      });
  EXPECT_EQ(write_failed.error_number(), ENOSPC);
  EXPECT_EQ(writes, 1);  // nothing more is written after a failure
}

}  // namespace
}  // namespace vesmer
