// vesmer-batch when things go wrong: files in use, full disks, signals, inputs that are not what
// they seem. Whatever happens, no input is lost and no failure is reported as success.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <nlohmann/json.hpp>
#include <thread>

#include "core/messages.h"
#include "platform/cp932.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using nlohmann::json;
using testing::CrLf;
using testing::Exists;
using testing::ProcessResult;
using testing::ReadFile;
using testing::RunBatchExe;
using testing::TempDir;
using testing::WriteFile;

// Record lines in a result file: each ends with CR LF, and a record never holds a CR.
std::int64_t Records(const std::string& path) {
  const std::string bytes = ReadFile(path);
  return std::count(bytes.begin(), bytes.end(), '\r');
}

// Every result file a summary names holds exactly the records it counts.
void ExpectCountsMatchFiles(const json& summary) {
  for (const json& o : summary["outputs"]) {
    if (!o["selected"].get<bool>() || o["kind"] == 5) continue;
    EXPECT_EQ(Records(o["path"]), o["count"].get<std::int64_t>()) << o.dump();
  }
}

std::string Lines(int n, const std::string& prefix) {
  std::string out;
  for (int i = 0; i < n; ++i) out += prefix + std::to_string(1000000 + i) + " data\r\n";
  return out;
}

class BatchTrustTest : public ::testing::Test {
 protected:
  std::string Path(const std::string& name) const { return dir_ / name; }
  TempDir dir_;
  const std::string utf8_ = "キー,値\r\n1,あいう\r\n";
  const std::string sjis_ = "\x83\x4c\x81\x5b,\x92\x6c\r\n1,\x82\xa0\x82\xa2\x82\xa4\r\n";
};

// Holds an exclusive lock on a file, as a second run writing it would.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path)
      : fd_(::open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644)) {
    EXPECT_GE(fd_, 0);
    EXPECT_EQ(::flock(fd_, LOCK_EX | LOCK_NB), 0);
  }
  ~HeldLock() { ::close(fd_); }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;

 private:
  int fd_;
};

TEST_F(BatchTrustTest, ResultFileInUseRefusesTheRunBeforeAnythingIsTouched) {
  WriteFile(Path("a.csv"), utf8_);
  WriteFile(Path("b.csv"), sjis_);
  WriteFile(Path("a_2.TXT"), "earlier 2");
  WriteFile(Path("a_4.TXT"), "earlier 4");
  HeldLock lock(Path("a_4.TXT"));
  const ProcessResult r = RunBatchExe({"--json", "--utf8-source", Path("a.csv"), Path("b.csv")});
  EXPECT_EQ(r.exit_code, 2);
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "failed");
  EXPECT_EQ(j["status"], messages::kCannotOpen);
  EXPECT_EQ(j["error"]["path"], Path("a_4.TXT"));
  EXPECT_EQ(j["error"]["reason"], "ほかの処理が使用中です");
  EXPECT_TRUE(j["outputs"].empty());  // it created none
  EXPECT_NE(r.err.find(Path("a_4.TXT") + ": ほかの処理が使用中です"), std::string::npos);
  // Checked before the conversion: the source is still the user's UTF-8 file.
  EXPECT_EQ(ReadFile(Path("a.csv")), utf8_);
  EXPECT_FALSE(Exists(Path("a_UTF8.TXT")));
  EXPECT_FALSE(Exists(Path("a_SJIS.TXT")));
  EXPECT_EQ(ReadFile(Path("a_2.TXT")), "earlier 2");
  EXPECT_EQ(ReadFile(Path("a_4.TXT")), "earlier 4");
  EXPECT_FALSE(Exists(Path("a_3.TXT")));  // a file the run had created is gone again
  EXPECT_FALSE(Exists(Path("a_5.TXT")));
}

TEST_F(BatchTrustTest, ResultFileThatIsAnInputRefusesTheRunBeforeTheConversion) {
  // The destination is the result file of kind 3 under another name (a hard link).
  WriteFile(Path("a.csv"), utf8_);
  WriteFile(Path("a_3.TXT"), sjis_);
  ASSERT_EQ(::link(Path("a_3.TXT").c_str(), Path("b.csv").c_str()), 0);
  const ProcessResult r = RunBatchExe({"--utf8-source", Path("a.csv"), Path("b.csv")});
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(ReadFile(Path("a.csv")), utf8_);
  EXPECT_EQ(ReadFile(Path("b.csv")), sjis_);
  EXPECT_FALSE(Exists(Path("a_UTF8.TXT")));
  EXPECT_FALSE(Exists(Path("a_2.TXT")));
}

TEST_F(BatchTrustTest, TwoRunsOnTheSameResultFilesNeverMix) {
  const std::string a = Lines(200000, "A"), b = Lines(200000, "B"), c = Lines(200000, "C");
  WriteFile(Path("a.prn"), a);
  WriteFile(Path("b.prn"), b);
  WriteFile(Path("c.prn"), c);
  testing::BatchProcess first({"--json", Path("a.prn"), Path("b.prn")});
  testing::BatchProcess second({"--json", Path("a.prn"), Path("c.prn")});
  const ProcessResult r1 = first.Wait();
  const ProcessResult r2 = second.Wait();
  // Each run either completed alone or was refused; what a completed run reports is in its
  // files, and never a mix of both.
  int completed = 0;
  for (const ProcessResult* r : {&r1, &r2}) {
    const json j = json::parse(r->out);
    if (r->exit_code == 1) {
      ++completed;
    } else {
      EXPECT_EQ(r->exit_code, 2);
      EXPECT_EQ(j["error"]["reason"], "ほかの処理が使用中です");
    }
  }
  ASSERT_GE(completed, 1);
  const std::string two = ReadFile(Path("a_2.TXT"));
  EXPECT_EQ(two, a);
  const std::string three = ReadFile(Path("a_3.TXT"));
  EXPECT_TRUE(three == b || three == c);
}

// A run reads its inputs under a shared lock: another run cannot truncate one as its result
// file meanwhile, and a file another run is still writing is no input.
TEST_F(BatchTrustTest, InputsAreNeitherWrittenNorTruncatedByAnotherRun) {
  WriteFile(Path("a.prn"), CrLf({"a"}));
  WriteFile(Path("b_2.TXT"), CrLf({"b"}));  // the destination, and a result file of b.prn
  {
    HeldLock writer(Path("b_2.TXT"));  // another run writes it
    const ProcessResult r = RunBatchExe({"--json", Path("a.prn"), Path("b_2.TXT")});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(json::parse(r.out)["error"]["reason"], "ほかの処理が使用中です");
  }
  // Held for reading (as a running comparison holds its inputs): a run that would write it as
  // a result file is refused and leaves it as it was.
  const int reader = ::open(Path("b_2.TXT").c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(reader, 0);
  ASSERT_EQ(::flock(reader, LOCK_SH | LOCK_NB), 0);
  WriteFile(Path("b.prn"), CrLf({"x"}));
  const ProcessResult r = RunBatchExe({"--json", Path("b.prn"), Path("a.prn")});
  ::close(reader);
  EXPECT_EQ(r.exit_code, 2);
  EXPECT_EQ(json::parse(r.out)["error"]["path"], Path("b_2.TXT"));
  EXPECT_EQ(ReadFile(Path("b_2.TXT")), CrLf({"b"}));
}

TEST_F(BatchTrustTest, ExitStatusTellsTheFilesDifferWhateverIsWritten) {
  WriteFile(Path("a.prn"), CrLf({"same", "left"}));
  WriteFile(Path("b.prn"), CrLf({"same", "right"}));
  for (const char* outputs : {"4", "5"}) {
    const ProcessResult r = RunBatchExe({"--json", "-o", outputs, Path("a.prn"), Path("b.prn")});
    EXPECT_EQ(r.exit_code, 1) << outputs;
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "differences");
    EXPECT_EQ(j["outputs"][2]["found"], 1);
    EXPECT_EQ(j["outputs"][2]["count"], 0);
    EXPECT_EQ(j["outputs"][3]["found"], 1);
    EXPECT_EQ(j["outputs"][4]["found"], 1);
  }
}

TEST_F(BatchTrustTest, FullDiskNamesTheFileAndCountsOnlyWhatReachedIt) {
  WriteFile(Path("a.prn"), Lines(50000, "K"));
  WriteFile(Path("b.prn"), Lines(50000, "K"));
  const ProcessResult r =
      RunBatchExe({"--json", Path("a.prn"), Path("b.prn")}, {.file_size = 100000});
  EXPECT_EQ(r.exit_code, 2);
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "failed");
  EXPECT_EQ(j["status"], messages::kReadWriteFailed);
  EXPECT_EQ(j["error"]["path"], Path("a_4.TXT"));
  EXPECT_EQ(j["error"]["reason"], "ファイルが大きすぎます");
  const json& matching = j["outputs"][2];  // kinds 2 to 5 were created
  EXPECT_EQ(matching["kind"], 4);
  EXPECT_FALSE(matching["complete"].get<bool>());
  EXPECT_GT(matching["count"].get<int>(), 0);
  EXPECT_LT(matching["count"].get<int>(), matching["found"].get<int>());
  ExpectCountsMatchFiles(j);
  EXPECT_NE(r.err.find(Path("a_4.TXT") + ": ファイルが大きすぎます"), std::string::npos);
}

TEST_F(BatchTrustTest, SignalsStopTheRunCleanly) {
  for (const int sig : {SIGINT, SIGTERM}) {
    // The destination comes through a pipe that gives 100 lines and then waits.
    WriteFile(Path("a.prn"), Lines(1000, "K"));
    ::unlink(Path("b.fifo").c_str());
    ASSERT_EQ(::mkfifo(Path("b.fifo").c_str(), 0600), 0);
    testing::BatchProcess batch({"--json", Path("a.prn"), Path("b.fifo")});
    const int fifo = ::open(Path("b.fifo").c_str(), O_WRONLY);
    ASSERT_GE(fifo, 0);
    const std::string first = Lines(100, "K");
    ASSERT_EQ(::write(fifo, first.data(), first.size()), static_cast<ssize_t>(first.size()));
    ASSERT_TRUE(batch.WaitUntilCatching(sig));
    // Wait until the run has taken everything there is.
    int waiting = 1;
    for (int i = 0; i < 1000 && waiting > 0; ++i) {
      ASSERT_EQ(::ioctl(fifo, FIONREAD, &waiting), 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(waiting, 0);
    batch.Signal(sig);
    const ProcessResult r = batch.Wait();
    ::close(fifo);
    EXPECT_EQ(r.exit_code, 128 + sig);
    const json j = json::parse(r.out);
    EXPECT_EQ(j["outcome"], "stopped");
    EXPECT_EQ(j["status"], "☆中止しました");
    EXPECT_EQ(j["inputs"][1]["lines"], 100);
    EXPECT_EQ(j["outputs"][4]["count"], 100);
    ExpectCountsMatchFiles(j);
  }
}

TEST_F(BatchTrustTest, AStoppedRunOverLongerOldResultsLeavesOnlyWhatItWrote) {
  // The old results are longer than anything the stopped run writes: none of their bytes, and
  // none of the zeros they are turned into while the run writes, may be left in a result.
  WriteFile(Path("a.prn"), Lines(1000, "K"));
  const std::string old = Lines(20000, "OLD");
  for (int kind = 2; kind <= 5; ++kind) WriteFile(Path("a_" + std::to_string(kind) + ".TXT"), old);
  ::unlink(Path("b.fifo").c_str());
  ASSERT_EQ(::mkfifo(Path("b.fifo").c_str(), 0600), 0);
  testing::BatchProcess batch({"--json", Path("a.prn"), Path("b.fifo")});
  const int fifo = ::open(Path("b.fifo").c_str(), O_WRONLY);
  ASSERT_GE(fifo, 0);
  const std::string first = Lines(100, "K");
  ASSERT_EQ(::write(fifo, first.data(), first.size()), static_cast<ssize_t>(first.size()));
  ASSERT_TRUE(batch.WaitUntilCatching(SIGINT));
  int waiting = 1;
  for (int i = 0; i < 1000 && waiting > 0; ++i) {
    ASSERT_EQ(::ioctl(fifo, FIONREAD, &waiting), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  ASSERT_EQ(waiting, 0);
  batch.Signal(SIGINT);
  const ProcessResult r = batch.Wait();
  ::close(fifo);
  EXPECT_EQ(r.exit_code, 128 + SIGINT);
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "stopped");
  EXPECT_EQ(ReadFile(Path("a_4.TXT")), first);
  for (int kind = 2; kind <= 5; ++kind) {  // those a line run writes
    const std::string bytes = ReadFile(Path("a_" + std::to_string(kind) + ".TXT"));
    EXPECT_EQ(bytes.find("OLD"), std::string::npos) << kind;
    EXPECT_EQ(bytes.find('\0'), std::string::npos) << kind;
  }
  ExpectCountsMatchFiles(j);
}

TEST_F(BatchTrustTest, LineFeedLineEndsAreWarnedAbout) {
  WriteFile(Path("a.prn"), "one\ntwo\nthree\n");
  WriteFile(Path("b.prn"), CrLf({"one", "two"}));
  const ProcessResult r = RunBatchExe({"--json", Path("a.prn"), Path("b.prn")});
  const json j = json::parse(r.out);
  ASSERT_EQ(j["warnings"].size(), 1u);
  const std::string warning = j["warnings"][0];
  EXPECT_NE(warning.find("比較元ファイルは改行に LF だけを使っているようです"), std::string::npos);
  EXPECT_NE(warning.find(Path("a.prn")), std::string::npos);
  EXPECT_NE(r.err.find(warning), std::string::npos);
  EXPECT_EQ(j["inputs"][0]["lines"], 1);  // results unchanged: one long line

  // CR LF files, and a lone LF inside a CR LF file, give no warning.
  WriteFile(Path("a.prn"), CrLf({"one\ntwo", "three"}));
  const json quiet = json::parse(RunBatchExe({"--json", Path("a.prn"), Path("b.prn")}).out);
  EXPECT_FALSE(quiet.contains("warnings"));
}

TEST_F(BatchTrustTest, ResultListMarksBytesThatTheLineReencodesWider) {
  // A lead byte before a NUL decodes to the default character, which takes two bytes: the
  // line bytes are five long although four were read, and the differing fifth byte is marked.
  WriteFile(Path("a.prn"), std::string("A\x81\x00"
                                       "B\r\n",
                                       6));
  WriteFile(Path("b.prn"), std::string("A\x81\x00"
                                       "C\r\n",
                                       6));
  const ProcessResult r = RunBatchExe({Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 1);
  const std::string list = ReadFile(Path("a_5.TXT"));
  EXPECT_NE(list.find(std::string("0000001 000-O:A\x81\x00"
                                  "B \r\n",
                                  21)),
            std::string::npos);
  EXPECT_NE(list.find("0000001 000-R:    ?\r\n"), std::string::npos) << list;
}

TEST_F(BatchTrustTest, SettingsFileThatCannotBeUsedIsRefused) {
  WriteFile(Path("a.prn"), "x");
  WriteFile(Path("b.prn"), "y");
  WriteFile(Path("garbage.ini"), "not a settings file\n");
  WriteFile(Path("nightly.ini"), "[vesmer]\r\nKey=1\r\nKeyRange=1-1\r\n[other]\r\nKey=0\r\n");
  for (const std::string& ini :
       {Path("missing.ini"), dir_.path(), Path("garbage.ini"), Path("nightly.ini")}) {
    const ProcessResult r = RunBatchExe({"--settings", ini, Path("a.prn"), Path("b.prn")});
    EXPECT_EQ(r.exit_code, 2) << ini;
    EXPECT_EQ(r.err.rfind("★設定ファイル", 0), 0u) << r.err;
    EXPECT_NE(r.err.find(ini), std::string::npos) << r.err;
    EXPECT_FALSE(Exists(Path("a_2.TXT")));
  }
  // A copy of the window's file under another name: its only section is read.
  WriteFile(Path("copy.ini"), "[vesmer]\r\nOutputData=000010\r\n");
  const ProcessResult r =
      RunBatchExe({"--settings", Path("copy.ini"), Path("a.prn"), Path("b.prn")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_TRUE(Exists(Path("a_4.TXT")));
  EXPECT_FALSE(Exists(Path("a_2.TXT")));
}

TEST_F(BatchTrustTest, RunningOutOfMemoryIsAFailedRunNotACrash) {
  if (testing::UnderSanitizer()) GTEST_SKIP() << "sanitizers ignore address space limits";
  // Two lines of 300 MB cannot be held in 256 MB of address space. (Files of NUL bytes, made
  // sparse so the test stays quick.)
  for (const char* name : {"a.prn", "b.prn"}) {
    const int fd = ::open(Path(name).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, 300 << 20), 0);
    ASSERT_EQ(::pwrite(fd, name, 1, (300 << 20) - 1), 1);
    ::close(fd);
  }
  const ProcessResult r =
      RunBatchExe({"--json", Path("a.prn"), Path("b.prn")}, {.address_space = 256u << 20});
  EXPECT_EQ(r.exit_code, 2) << r.err;
  const json j = json::parse(r.out);
  EXPECT_EQ(j["outcome"], "failed");
  EXPECT_EQ(j["status"], messages::kOutOfMemory);
  EXPECT_EQ(j["error"]["reason"], "メモリが足りません");
}

}  // namespace
}  // namespace vesmer
