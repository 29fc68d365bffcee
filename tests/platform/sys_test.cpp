#include "platform/sys.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "tests/support/sys_faults.h"

namespace vesmer {
namespace {

int FailedFsync(int /*fd*/) {
  errno = EIO;
  return -1;
}

int SucceededFsync(int /*fd*/) { return 0; }

TEST(SysCallsTest, TheRealCallsAreMadeUnlessATestReplacesThem) {
  EXPECT_EQ(&sys::Calls(), &sys::RealCalls());
  EXPECT_EQ(sys::Calls().fsync(-1), -1);
  EXPECT_EQ(errno, EBADF);
}

TEST(SysCallsTest, AReplacedTableServesUntilItsScopeEndsThenTheOneBeforeReturns) {
  sys::SysCalls failing = sys::Calls();
  failing.fsync = FailedFsync;
  {
    const sys::ScopedSysCalls outer(failing);
    EXPECT_EQ(sys::Calls().fsync(0), -1);
    EXPECT_EQ(errno, EIO);
    sys::SysCalls succeeding = sys::Calls();
    succeeding.fsync = SucceededFsync;
    {
      const sys::ScopedSysCalls inner(succeeding);
      EXPECT_EQ(sys::Calls().fsync(0), 0);
      EXPECT_EQ(sys::Calls().read, sys::RealCalls().read);  // what is not replaced stays real
    }
    EXPECT_EQ(sys::Calls().fsync(0), -1);
  }
  EXPECT_EQ(&sys::Calls(), &sys::RealCalls());
}

TEST(SysFaultsTest, AFaultActsOnTheChosenCallsOnly) {
  testing::SysFaults faults;
  faults.Add({.call = testing::Call::kFsync, .error = EIO, .nth = 2, .times = 2});
  faults.Add({.call = testing::Call::kRead, .error = ENOSPC, .fd = 12345});
  EXPECT_EQ(sys::Calls().fsync(-1), -1);
  EXPECT_EQ(errno, EBADF);  // the first is made
  EXPECT_EQ(sys::Calls().fsync(-1), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(sys::Calls().fsync(-1), -1);
  EXPECT_EQ(errno, EIO);
  EXPECT_EQ(sys::Calls().fsync(-1), -1);
  EXPECT_EQ(errno, EBADF);  // and so is the fourth
  char c;
  EXPECT_EQ(sys::Calls().read(-1, &c, 1), -1);
  EXPECT_EQ(errno, EBADF);  // another descriptor
  EXPECT_EQ(sys::Calls().read(12345, &c, 1), -1);
  EXPECT_EQ(errno, ENOSPC);
  EXPECT_EQ(faults.Calls(testing::Call::kFsync), 4);
  EXPECT_EQ(faults.Hits(), 3);
}

}  // namespace
}  // namespace vesmer
