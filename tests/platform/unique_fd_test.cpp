#include "platform/unique_fd.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <utility>

namespace vesmer {
namespace {

bool IsOpen(int fd) { return ::fcntl(fd, F_GETFD) != -1; }

int OpenNull() { return ::open("/dev/null", O_RDONLY | O_CLOEXEC); }

TEST(UniqueFdTest, ClosesItsDescriptorWhenDestroyed) {
  int raw = -1;
  {
    UniqueFd fd(OpenNull());
    raw = fd.get();
    ASSERT_TRUE(fd.valid());
    EXPECT_TRUE(IsOpen(raw));
  }
  EXPECT_FALSE(IsOpen(raw));
}

TEST(UniqueFdTest, MovingHandsOverOwnership) {
  UniqueFd first(OpenNull());
  const int raw = first.get();
  UniqueFd second(std::move(first));
  EXPECT_FALSE(first.valid());  // NOLINT(bugprone-use-after-move): moved-from state is defined
  EXPECT_EQ(second.get(), raw);
  { UniqueFd moved_from(std::move(second)); }
  EXPECT_FALSE(IsOpen(raw));  // closed by the last owner only

  UniqueFd a(OpenNull());
  UniqueFd b(OpenNull());
  const int raw_a = a.get();
  const int raw_b = b.get();
  a = std::move(b);  // a's own descriptor is closed, b's is taken over
  EXPECT_FALSE(IsOpen(raw_a));
  EXPECT_EQ(a.get(), raw_b);
  EXPECT_TRUE(IsOpen(raw_b));
  UniqueFd& same = a;
  a = std::move(same);  // moving onto itself keeps the descriptor open
  EXPECT_EQ(a.get(), raw_b);
  EXPECT_TRUE(IsOpen(raw_b));
}

TEST(UniqueFdTest, ReleaseAndReset) {
  UniqueFd fd(OpenNull());
  const int raw = fd.Release();
  EXPECT_FALSE(fd.valid());
  EXPECT_EQ(fd.Release(), -1);
  EXPECT_TRUE(IsOpen(raw));  // no longer owned, not closed
  fd.Reset(raw);
  EXPECT_EQ(fd.get(), raw);
  const int other = OpenNull();
  fd.Reset(other);
  EXPECT_FALSE(IsOpen(raw));
  EXPECT_TRUE(IsOpen(other));
  fd.Reset();
  EXPECT_FALSE(IsOpen(other));
  EXPECT_FALSE(UniqueFd(-5).valid());
}

TEST(UniqueFdTest, CloseReportsAFailureAndForgetsTheDescriptor) {
  UniqueFd fd(OpenNull());
  const int raw = fd.get();
  EXPECT_EQ(fd.Close(), 0);
  EXPECT_FALSE(fd.valid());
  EXPECT_FALSE(IsOpen(raw));
  EXPECT_EQ(fd.Close(), 0);  // nothing held: nothing to report
  // A number that is no open descriptor: close fails, and the failure is handed back.
  ASSERT_FALSE(IsOpen(raw));
  UniqueFd stale(raw);
  EXPECT_EQ(stale.Close(), EBADF);
  EXPECT_FALSE(stale.valid());
}

}  // namespace
}  // namespace vesmer
