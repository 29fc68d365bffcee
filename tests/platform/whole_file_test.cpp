#include "platform/whole_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "platform/nameless_file.h"
#include "tests/support/forked_child.h"
#include "tests/support/sys_faults.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::Call;
using testing::FolderEntries;
using testing::ReadFile;
using testing::SysFaults;
using testing::TempDir;
using testing::WriteFile;

mode_t ModeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
  return st.st_mode;
}

std::string LinkText(const std::string& path) {
  char buffer[4096];
  const ssize_t got = ::readlink(path.c_str(), buffer, sizeof buffer);
  return got < 0 ? std::string("(not a link)") : std::string(buffer, static_cast<size_t>(got));
}

void Symlink(const std::string& target, const std::string& link) {
  ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0) << link;
}

// What a watched write showed of the file being written.
struct SeenWrite {
  bool caught = false;  // seen holding some of the bytes but not all
  std::string name;     // the file's name as /proc shows it: "(deleted)" when it has none
  int exit_code = -1;   // the child's, 128 + the signal when killed
};

// Replaces `path` by `bytes` bytes of content in a child process and watches the child's open
// files from this one: once the file it writes in `path`'s folder holds some of the bytes but
// not all, notes its name and, with `kill`, kills the child with SIGKILL right there. With
// `named`, the child writes as on a file system without nameless files.
SeenWrite WatchReplace(const std::string& path, std::size_t bytes, bool kill, bool named) {
  SeenWrite seen;
  const std::string folder = std::filesystem::path(path).parent_path().string() + "/";
  std::fflush(nullptr);
  const pid_t pid = ::fork();
  if (pid < 0) return seen;
  if (pid == 0) {
    ForceNamedFilesForTesting(named);
    const std::string content(bytes, 'r');
    ::_exit(ReplaceWholeFile(path, content, Durability::kWriteBack).ok() ? 0 : 1);
  }
  const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
  int status = 0;
  while (::waitpid(pid, &status, WNOHANG) == 0) {
    if (seen.caught) continue;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(fds, ec)) {
      const std::string name = LinkText(entry.path().string());
      struct stat st;
      if (name.rfind(folder, 0) != 0 || ::stat(entry.path().c_str(), &st) != 0) continue;
      if (st.st_size <= 0 || static_cast<std::size_t>(st.st_size) >= bytes) continue;
      seen.caught = true;
      seen.name = name.substr(folder.size());
      if (kill) ::kill(pid, SIGKILL);
      break;
    }
  }
  seen.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return seen;
}

TEST(WholeFileTest, ReadsEveryByte) {
  TempDir dir;
  const std::string bytes("a\r\n\0b\x82\xa0\rlast", 12);
  WriteFile(dir / "f", bytes);
  std::string content = "stale";
  ASSERT_TRUE(ReadWholeFile(dir / "f", 100, content).ok());
  EXPECT_EQ(content, bytes);
  WriteFile(dir / "empty", "");
  ASSERT_TRUE(ReadWholeFile(dir / "empty", 100, content).ok());
  EXPECT_EQ(content, "");
  // Exactly at the limit is fine.
  ASSERT_TRUE(ReadWholeFile(dir / "f", bytes.size(), content).ok());
  EXPECT_EQ(content, bytes);
}

TEST(WholeFileTest, ReadFailuresNameTheFileAndTheReason) {
  TempDir dir;
  std::string content = "stale";
  Status s = ReadWholeFile(dir / "missing", 100, content);
  EXPECT_EQ(s.error_number(), ENOENT);
  EXPECT_EQ(s.path(), dir / "missing");
  EXPECT_EQ(content, "");
  content = "stale";
  s = ReadWholeFile(dir.path(), 100, content);
  EXPECT_EQ(s.error_number(), EISDIR);
  EXPECT_EQ(content, "");
  WriteFile(dir / "big", std::string(101, 'x'));
  content = "stale";
  s = ReadWholeFile(dir / "big", 100, content);
  EXPECT_EQ(s.error_number(), EFBIG);
  EXPECT_EQ(s.path(), dir / "big");
  EXPECT_EQ(content, "");
}

TEST(WholeFileTest, ResolvesLinkChainsToTheirFinalTarget) {
  TempDir dir;
  std::filesystem::create_directory(dir / "sub");
  WriteFile(dir / "sub/real", "x");
  Symlink("sub/real", dir / "relative");            // relative to the link's folder
  Symlink(dir / "relative", dir / "sub/absolute");  // a chain of two
  Symlink("../sub/nothing", dir / "sub/dangling");
  std::string target;
  ASSERT_TRUE(ResolveLinks(dir / "sub/absolute", target).ok());
  EXPECT_EQ(target, dir / "sub/real");
  ASSERT_TRUE(ResolveLinks(dir / "sub/dangling", target).ok());
  EXPECT_EQ(target, dir / "sub/../sub/nothing");
  ASSERT_TRUE(ResolveLinks(dir / "plain", target).ok());
  EXPECT_EQ(target, dir / "plain");
  Symlink("loop2", dir / "loop1");
  Symlink("loop1", dir / "loop2");
  EXPECT_EQ(ResolveLinks(dir / "loop1", target).error_number(), ELOOP);
}

TEST(WholeFileTest, NewFileIsCreatedWithItsContentAndNothingElse) {
  TempDir dir;
  const std::string path = dir / "new.ini";
  ASSERT_TRUE(ReplaceWholeFile(path, "[a]\r\nk=v\r\n").ok());
  EXPECT_EQ(ReadFile(path), "[a]\r\nk=v\r\n");
  EXPECT_EQ(ModeOf(path) & 07777, 0644u);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"new.ini"});
}

TEST(WholeFileTest, ReplacementKeepsTheModeAndNeverWritesTheOldFile) {
  // Synced or left to the write-back, the replacement goes through a new file all the same.
  for (const Durability durability : {Durability::kSynced, Durability::kWriteBack}) {
    TempDir dir;
    const std::string path = dir / "v.ini";
    WriteFile(path, "old content");
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    // A second name for the old file: were the old file written in place, it would show here.
    ASSERT_EQ(::link(path.c_str(), (dir / "keep").c_str()), 0);
    ASSERT_TRUE(ReplaceWholeFile(path, "new", durability).ok());
    EXPECT_EQ(ReadFile(path), "new");
    EXPECT_EQ(ReadFile(dir / "keep"), "old content");
    EXPECT_EQ(ModeOf(path) & 07777, 0640u);
    EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"keep", "v.ini"}));
    ASSERT_TRUE(ReplaceWholeFile(path, "", durability).ok());
    EXPECT_EQ(ReadFile(path), "");
  }
}

TEST(WholeFileTest, TwoWritersAndAReaderSeeOnlyWholeFiles) {
  // Two runs replace one report at once while someone reads it: every read finds one of the
  // contents whole, and no temporary file stays.
  TempDir dir;
  const std::string path = dir / "report.html";
  const std::string contents[] = {std::string(256 << 10, 'a'), std::string(200 << 10, 'b'),
                                  std::string(300 << 10, 'c')};
  WriteFile(path, contents[0]);
  std::atomic<int> writing{2};
  std::atomic<int> failures{0};
  auto writer = [&](int which) {
    for (int i = 0; i < 40; ++i) {
      if (!ReplaceWholeFile(path, contents[which], Durability::kWriteBack).ok()) ++failures;
    }
    --writing;
  };
  std::thread first(writer, 1), second(writer, 2);
  int reads = 0, torn = 0;
  while (writing > 0 || reads == 0) {
    const std::string seen = ReadFile(path);
    ++reads;
    if (seen != contents[0] && seen != contents[1] && seen != contents[2]) ++torn;
  }
  first.join();
  second.join();
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(torn, 0) << "of " << reads << " reads";
  const std::string last = ReadFile(path);
  EXPECT_TRUE(last == contents[1] || last == contents[2]);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"report.html"});
}

TEST(WholeFileTest, LinksAreWrittenThroughAndStayLinks) {
  for (const Durability durability : {Durability::kSynced, Durability::kWriteBack}) {
    TempDir dir;
    std::filesystem::create_directory(dir / "conf");
    std::filesystem::create_directory(dir / "bin");
    WriteFile(dir / "conf/real.ini", "old");
    ASSERT_EQ(::chmod((dir / "conf/real.ini").c_str(), 0600), 0);
    Symlink("../conf/real.ini", dir / "bin/middle");
    Symlink(dir / "bin/middle", dir / "bin/vesmer.ini");
    ASSERT_TRUE(ReplaceWholeFile(dir / "bin/vesmer.ini", "new", durability).ok());
    EXPECT_TRUE(S_ISLNK(ModeOf(dir / "bin/vesmer.ini")));
    EXPECT_TRUE(S_ISLNK(ModeOf(dir / "bin/middle")));
    EXPECT_EQ(LinkText(dir / "bin/vesmer.ini"), dir / "bin/middle");
    EXPECT_EQ(LinkText(dir / "bin/middle"), "../conf/real.ini");
    EXPECT_EQ(ReadFile(dir / "conf/real.ini"), "new");
    EXPECT_EQ(ModeOf(dir / "conf/real.ini") & 07777, 0600u);
    // The temporary file lived beside the target, and is gone.
    EXPECT_EQ(FolderEntries(dir / "conf"), std::vector<std::string>{"real.ini"});
    EXPECT_EQ(FolderEntries(dir / "bin"), (std::vector<std::string>{"middle", "vesmer.ini"}));
  }
}

TEST(WholeFileTest, DanglingLinkGetsItsTargetCreated) {
  TempDir dir;
  Symlink("target.ini", dir / "link.ini");
  ASSERT_TRUE(ReplaceWholeFile(dir / "link.ini", "v").ok());
  EXPECT_TRUE(S_ISLNK(ModeOf(dir / "link.ini")));
  EXPECT_EQ(ReadFile(dir / "target.ini"), "v");
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"link.ini", "target.ini"}));
}

TEST(WholeFileTest, KilledWhileWritingLeavesNoFileBehind) {
  TempDir dir;
  const std::string path = dir / "r.html";
  WriteFile(path, "old report");
  // The larger the content, the longer the write: grow it until the kill lands inside.
  SeenWrite seen;
  for (std::size_t bytes = std::size_t{64} << 20; !seen.caught && bytes <= (std::size_t{512} << 20);
       bytes *= 2) {
    seen = WatchReplace(path, bytes, /*kill=*/true, /*named=*/false);
  }
  ASSERT_TRUE(seen.caught) << "the write always ended before it could be seen";
  EXPECT_EQ(seen.exit_code, 128 + SIGKILL);
  EXPECT_NE(seen.name.find("(deleted)"), std::string::npos) << seen.name;
  EXPECT_EQ(ReadFile(path), "old report");
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"r.html"});
}

TEST(WholeFileTest, WithoutNamelessFilesTheNewFileIsWrittenUnderAHiddenName) {
  TempDir dir;
  const std::string path = dir / "r.html";
  WriteFile(path, "old report");
  ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
  SeenWrite seen;
  std::size_t bytes = std::size_t{64} << 20;
  for (; !seen.caught && bytes <= (std::size_t{512} << 20); bytes *= 2) {
    seen = WatchReplace(path, bytes, /*kill=*/false, /*named=*/true);
  }
  ASSERT_TRUE(seen.caught) << "the write always ended before it could be seen";
  EXPECT_EQ(seen.exit_code, 0);
  EXPECT_EQ(seen.name.rfind(".r.html.", 0), 0u) << seen.name;
  EXPECT_EQ(seen.name.size(), std::string(".r.html.XXXXXX").size()) << seen.name;
  EXPECT_EQ(ReadFile(path), std::string(bytes / 2, 'r'));
  EXPECT_EQ(ModeOf(path) & 07777, 0640u);
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"r.html"});
}

TEST(WholeFileTest, WhatCannotBeReplacedIsLeftAlone) {
  TempDir dir;
  std::filesystem::create_directory(dir / "folder");
  Status s = ReplaceWholeFile(dir / "folder", "x");
  EXPECT_EQ(s.error_number(), EISDIR);
  EXPECT_TRUE(std::filesystem::is_directory(dir / "folder"));
  s = ReplaceWholeFile(dir / "no/such/v.ini", "x");
  EXPECT_EQ(s.error_number(), ENOENT);
  EXPECT_EQ(s.path(), dir / "no/such/v.ini");
  Symlink("loop", dir / "loop");
  EXPECT_EQ(ReplaceWholeFile(dir / "loop", "x").error_number(), ELOOP);
  EXPECT_EQ(FolderEntries(dir.path()), (std::vector<std::string>{"folder", "loop"}));
}

// Makes ReplaceWholeFile write under a hidden name from the start (`on`), or without a name
// until the file is complete, for the lifetime of the object.
class NamedFiles {
 public:
  explicit NamedFiles(bool on) { ForceNamedFilesForTesting(on); }
  ~NamedFiles() { ForceNamedFilesForTesting(false); }
  NamedFiles(const NamedFiles&) = delete;
  NamedFiles& operator=(const NamedFiles&) = delete;
};

TEST(WholeFileTest, FailedWriteLeavesTheOldFileAndNoTemporaryFile) {
  // A full disk or a failing one, with or without a sync, with or without a nameless file: the
  // old file is read whole, the new bytes are nowhere.
  for (const int error : {ENOSPC, EIO}) {
    for (const Durability durability : {Durability::kSynced, Durability::kWriteBack}) {
      for (const bool named : {false, true}) {
        SCOPED_TRACE(::testing::Message() << "errno " << error << (named ? ", named" : ""));
        TempDir dir;
        const std::string path = dir / "v.ini";
        const std::string old = "[S]\r\nk=old\r\n";
        WriteFile(path, old);
        const NamedFiles named_files(named);
        SysFaults faults;
        // Some of the bytes get through, then the disk fails.
        faults.Add({.call = Call::kWrite, .at_most = 32});
        faults.Add({.call = Call::kWrite, .error = error, .nth = 2});
        const Status s = ReplaceWholeFile(path, std::string(100, 'n'), durability);
        EXPECT_EQ(s.error_number(), error);
        EXPECT_EQ(s.operation(), "write");
        EXPECT_EQ(s.path(), path);
        EXPECT_EQ(ReadFile(path), old);
        EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"v.ini"});
      }
    }
  }
}

TEST(WholeFileTest, FailedSyncCloseOrRenameLeavesTheOldFileAndNoTemporaryFile) {
  struct Case {
    Call call;
    int error;
    const char* operation;
  };
  for (const Case& c : {Case{Call::kFsync, EIO, "fsync"}, Case{Call::kClose, EIO, "close"},
                        Case{Call::kClose, ENOSPC, "close"}, Case{Call::kRename, EIO, "rename"},
                        Case{Call::kRename, ENOSPC, "rename"}}) {
    for (const bool named : {false, true}) {
      SCOPED_TRACE(::testing::Message()
                   << c.operation << " errno " << c.error << (named ? ", named" : ""));
      TempDir dir;
      const std::string path = dir / "v.ini";
      const std::string old = "[S]\r\nk=old\r\n";
      WriteFile(path, old);
      const NamedFiles named_files(named);
      SysFaults faults;
      faults.Add({.call = c.call, .error = c.error});
      const Status s = ReplaceWholeFile(path, "[S]\r\nk=new\r\n");
      EXPECT_EQ(s.error_number(), c.error);
      EXPECT_EQ(s.operation(), c.operation);
      EXPECT_EQ(s.path(), path);
      EXPECT_EQ(faults.Hits(), 1);
      EXPECT_EQ(ReadFile(path), old);
      EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"v.ini"});
    }
  }
}

TEST(WholeFileTest, AnInterruptedOrShortWriteStillWritesEveryByte) {
  TempDir dir;
  const std::string path = dir / "v.ini";
  WriteFile(path, "old");
  const std::string content = "[S]\r\nk=" + std::string(200, 'n') + "\r\n";
  SysFaults faults;
  faults.Add({.call = Call::kWrite, .error = EINTR});
  faults.Add({.call = Call::kWrite, .at_most = 9, .nth = 2, .times = testing::kEveryCall});
  ASSERT_TRUE(ReplaceWholeFile(path, content).ok());
  EXPECT_EQ(ReadFile(path), content);
  EXPECT_GT(faults.Calls(Call::kWrite), static_cast<int>(content.size() / 9));
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"v.ini"});
}

TEST(WholeFileTest, AFolderThatCannotBeSyncedIsReportedWithTheNewFileInPlace) {
  TempDir dir;
  const std::string path = dir / "v.ini";
  WriteFile(path, "old");
  SysFaults faults;
  faults.Add({.call = Call::kFsync, .error = EIO, .nth = 2});  // the file's, then the folder's
  const Status s = ReplaceWholeFile(path, "new");
  EXPECT_EQ(s.error_number(), EIO);
  EXPECT_EQ(s.operation(), "fsync");
  EXPECT_EQ(s.path(), dir.path());
  EXPECT_EQ(ReadFile(path), "new");
  EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"v.ini"});
  // A file system that cannot sync a folder says so with EINVAL: nothing to do then.
  faults.Add({.call = Call::kFsync, .error = EINVAL, .nth = 2});
  EXPECT_TRUE(ReplaceWholeFile(path, "newer").ok());
  EXPECT_EQ(ReadFile(path), "newer");
  EXPECT_EQ(faults.Hits(), 2);
}

TEST(WholeFileTest, InterruptedAndShortReadsStillReadEveryByte) {
  TempDir dir;
  const std::string bytes = "[S]\r\nk=" + std::string(100000, 'v') + "\r\n";
  WriteFile(dir / "f", bytes);
  SysFaults faults;
  faults.Add({.call = Call::kRead, .error = EINTR});
  faults.Add({.call = Call::kRead, .at_most = 1000, .nth = 2, .times = 5});
  std::string content;
  ASSERT_TRUE(ReadWholeFile(dir / "f", bytes.size(), content).ok());
  EXPECT_EQ(content, bytes);
}

TEST(WholeFileTest, AFailedReadOrCloseLeavesNothingRead) {
  for (const Call call : {Call::kRead, Call::kClose}) {
    TempDir dir;
    const std::string path = dir / "f";
    WriteFile(path, "[S]\r\nk=v\r\n");
    SysFaults faults;
    // The first read gets some of the bytes; then the read or the close fails.
    faults.Add({.call = Call::kRead, .at_most = 5});
    faults.Add({.call = call, .error = EIO, .nth = call == Call::kRead ? 2 : 1});
    std::string content = "stale";
    const Status s = ReadWholeFile(path, 100, content);
    EXPECT_EQ(s.error_number(), EIO);
    EXPECT_EQ(s.operation(), call == Call::kRead ? "read" : "close");
    EXPECT_EQ(s.path(), path);
    EXPECT_EQ(content, "");
  }
}

// A stop request gives the replacement up: the old file stays, and nothing else is left, with
// a nameless file or a named one.
TEST(WholeFileTest, AStopLeavesTheOldFileAsItWas) {
  for (const bool named : {false, true}) {
    ForceNamedFilesForTesting(named);
    TempDir dir;
    const std::string path = dir / "r.html";
    WriteFile(path, "old");
    std::atomic<bool> stop{true};
    const Status s = ReplaceWholeFile(path, "new", Durability::kWriteBack, &stop);
    ForceNamedFilesForTesting(false);
    EXPECT_EQ(s.error_number(), EINTR) << named;
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(FolderEntries(dir.path()), std::vector<std::string>{"r.html"});
    stop = false;
    EXPECT_TRUE(ReplaceWholeFile(path, "new", Durability::kWriteBack, &stop).ok());
    EXPECT_EQ(ReadFile(path), "new");
  }
}

TEST(WholeFileTest, FolderThatCannotBeWrittenLeavesTheOldFile) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  std::filesystem::create_directory(dir / "ro");
  const std::string path = dir / "ro/v.ini";
  WriteFile(path, "old");
  ASSERT_EQ(::chmod(path.c_str(), 0666), 0);  // the file itself is writable, its folder is not
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0555), 0);
  const int code = testing::RunUnprivileged([&] {
    const Status s = ReplaceWholeFile(path, "new");
    if (s.ok()) return 1;
    if (s.error_number() != EACCES || s.path() != path) return 2;
    return 0;
  });
  ASSERT_EQ(::chmod((dir / "ro").c_str(), 0755), 0);
  if (code == testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot change user ids";
  EXPECT_EQ(code, 0);
  EXPECT_EQ(ReadFile(path), "old");
  EXPECT_EQ(FolderEntries(dir / "ro"), std::vector<std::string>{"v.ini"});
}

TEST(WholeFileTest, MakesMissingFoldersWithTheirMode) {
  TempDir dir;
  ASSERT_TRUE(MakeFolders(dir / "a/b//c/", 0700).ok());
  EXPECT_TRUE(std::filesystem::is_directory(dir / "a/b/c"));
  EXPECT_EQ(ModeOf(dir / "a") & 07777, 0700u);
  EXPECT_EQ(ModeOf(dir / "a/b/c") & 07777, 0700u);
  ASSERT_EQ(::chmod((dir / "a").c_str(), 0755), 0);
  ASSERT_TRUE(MakeFolders(dir / "a/b/c", 0700).ok());  // all there already
  EXPECT_EQ(ModeOf(dir / "a") & 07777, 0755u);         // and left as they were
  WriteFile(dir / "file", "x");
  const Status s = MakeFolders(dir / "file/sub", 0700);
  EXPECT_EQ(s.error_number(), ENOTDIR);
  EXPECT_EQ(s.path(), dir / "file");
}

TEST(WholeFileTest, MayWriteFollowsPermissions) {
  TempDir dir;
  ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
  WriteFile(dir / "mine", "x");
  ASSERT_EQ(::chmod((dir / "mine").c_str(), 0644), 0);
  WriteFile(dir / "open", "x");
  ASSERT_EQ(::chmod((dir / "open").c_str(), 0666), 0);
  std::filesystem::create_directory(dir / "shared");
  ASSERT_EQ(::chmod((dir / "shared").c_str(), 0777), 0);
  EXPECT_TRUE(MayWrite(dir.path()));
  EXPECT_TRUE(MayWrite(dir / "mine"));
  EXPECT_FALSE(MayWrite(dir / "missing"));
  EXPECT_FALSE(MayWrite(""));
  // Another user may write only what the permissions give to others.
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
  const int code = testing::RunUnprivileged([&] {
    int wrong = 0;
    if (MayWrite(dir.path())) wrong |= 1;
    if (MayWrite(dir / "mine")) wrong |= 2;
    if (!MayWrite(dir / "open")) wrong |= 4;
    if (!MayWrite(dir / "shared")) wrong |= 8;
    return wrong;
  });
  if (code == testing::kCannotDropPrivileges) GTEST_SKIP() << "cannot change user ids";
  EXPECT_EQ(code, 0);
}

}  // namespace
}  // namespace vesmer
