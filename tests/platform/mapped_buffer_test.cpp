#include "platform/mapped_buffer.h"

#include <gtest/gtest.h>
#include <sys/mman.h>

#include <cerrno>
#include <string>

#include "platform/sys.h"
#include "tests/support/forked_child.h"

namespace vesmer {
namespace {

using testing::kChildSkipped;
using testing::RunInChild;

// Bytes that differ from position to position, so a lost or moved piece shows.
std::string Pattern(std::size_t n, unsigned seed) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i)
    s[i] = static_cast<char>((i * 131 + seed * 7 + i / 4093) & 0xFF);
  return s;
}

TEST(MappedBufferTest, MapsNothingUntilBytesArrive) {
  MappedBuffer buffer;
  EXPECT_EQ(buffer.capacity(), 0u);
  EXPECT_TRUE(buffer.Append("").ok());
  EXPECT_EQ(buffer.capacity(), 0u);
  EXPECT_TRUE(buffer.empty());
  EXPECT_EQ(buffer.view(), "");
}

TEST(MappedBufferTest, KeepsEveryByteWhileGrowing) {
  MappedBuffer buffer;
  std::string expected;
  // Pieces of odd sizes across many growth steps, with bytes that show a misplaced piece.
  for (unsigned i = 0; expected.size() < (std::size_t{9} << 20); ++i) {
    const std::string piece = Pattern(1 + (i * 7919) % 300000, i);
    ASSERT_TRUE(buffer.Append(piece).ok());
    expected += piece;
    ASSERT_EQ(buffer.size(), expected.size());
    ASSERT_GE(buffer.capacity(), buffer.size());
  }
  EXPECT_TRUE(buffer.view() == expected);
  buffer.Clear();
  EXPECT_TRUE(buffer.empty());
  const std::size_t capacity = buffer.capacity();
  ASSERT_TRUE(buffer.Append("again").ok());
  EXPECT_EQ(buffer.view(), "again");
  EXPECT_EQ(buffer.capacity(), capacity);  // cleared memory is used again, not mapped anew
}

TEST(MappedBufferTest, ShrinkGivesBackOnlyWhatTheBytesDoNotNeed) {
  MappedBuffer buffer;
  const std::string big = Pattern(std::size_t{3} << 20, 1);
  ASSERT_TRUE(buffer.Append(big).ok());
  const std::size_t grown = buffer.capacity();
  ASSERT_GE(grown, big.size());

  buffer.ShrinkTo(std::size_t{1} << 20);  // the bytes held do not fit: nothing changes
  EXPECT_EQ(buffer.capacity(), grown);
  EXPECT_TRUE(buffer.view() == big);

  buffer.Clear();
  ASSERT_TRUE(buffer.Append("kept").ok());
  const char* where = buffer.view().data();
  buffer.ShrinkTo(5000);  // rounded up to whole pages
  EXPECT_LT(buffer.capacity(), grown);
  EXPECT_GE(buffer.capacity(), 5000u);
  EXPECT_EQ(buffer.capacity() % 4096, 0u);
  EXPECT_EQ(buffer.view(), "kept");
  EXPECT_EQ(buffer.view().data(), where);  // shrunk in place

  buffer.ShrinkTo(100000);  // more than it holds: nothing to give
  EXPECT_LT(buffer.capacity(), 100000u);

  buffer.Clear();
  buffer.ShrinkTo(0);
  EXPECT_EQ(buffer.capacity(), 0u);
  ASSERT_TRUE(buffer.Append("after").ok());  // usable again after giving everything back
  EXPECT_EQ(buffer.view(), "after");
}

TEST(MappedBufferTest, NoMemoryIsAnErrorAndKeepsTheBytesHeld) {
  const int code = RunInChild([] {
    MappedBuffer buffer;
    const std::string first = Pattern(std::size_t{1} << 20, 3);
    CHILD_CHECK(buffer.Append(first).ok());
    const std::string piece(std::size_t{1} << 20, 'z');  // had before the limit bites
    if (!testing::LimitAddressSpace(std::size_t{8} << 20)) return kChildSkipped;
    Status s;
    for (int i = 0; i < 64 && s.ok(); ++i) s = buffer.Append(piece);
    CHILD_CHECK(!s.ok());
    CHILD_CHECK(s.error_number() == ENOMEM);
    CHILD_CHECK(buffer.view().substr(0, first.size()) == first);
    CHILD_CHECK(buffer.size() >= first.size() && buffer.size() < first.size() + (64u << 20));
    CHILD_CHECK(buffer.view().find_first_not_of('z', first.size()) == std::string::npos);
    return 0;
  });
  if (code == kChildSkipped) GTEST_SKIP() << "RLIMIT_AS cannot be set here";
  EXPECT_EQ(code, 0);
}

// The largest mapping LimitedMremap lets a buffer grow to, as a limit on address space would.
std::size_t mremap_limit = 0;

void* LimitedMremap(void* address, std::size_t old_length, std::size_t new_length, int flags) {
  if (new_length > mremap_limit) {
    errno = ENOMEM;
    return MAP_FAILED;
  }
  return sys::RealCalls().mremap(address, old_length, new_length, flags);
}

TEST(MappedBufferTest, AGrowthThatIsRefusedTriesTheExactNeedThenKeepsTheBytesHeld) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  MappedBuffer buffer;
  const std::string first = Pattern(kMiB, 3);
  ASSERT_TRUE(buffer.Append(first).ok());
  ASSERT_EQ(buffer.capacity(), kMiB);
  sys::SysCalls calls = sys::Calls();
  calls.mremap = LimitedMremap;
  mremap_limit = kMiB + kMiB / 4;
  const sys::ScopedSysCalls limited(calls);
  // Doubling would take 2 MiB: refused; the 1.125 MiB needed fit.
  ASSERT_TRUE(buffer.Append(std::string(kMiB / 8, 'a')).ok());
  EXPECT_EQ(buffer.capacity(), kMiB + kMiB / 8);
  const Status s = buffer.Append(std::string(kMiB / 2, 'b'));
  EXPECT_EQ(s.error_number(), ENOMEM);
  EXPECT_EQ(s.operation(), "mremap");
  EXPECT_EQ(buffer.size(), kMiB + kMiB / 8);
  EXPECT_TRUE(buffer.view() == first + std::string(kMiB / 8, 'a'));
}

}  // namespace
}  // namespace vesmer
