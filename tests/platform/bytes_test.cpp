#include "platform/bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace vesmer {
namespace {

// Every length either side of the 64- and 16-byte steps, with the first difference at every
// place, in either string, and none: the length counted must be exactly the bytes before it.
TEST(BytesTest, CommonPrefixLengthStopsAtTheFirstDifferenceWherever) {
  for (std::size_t n = 0; n <= 200; ++n) {
    std::string a(n + 7, 'x');
    for (std::size_t i = 0; i < a.size(); ++i) a[i] = static_cast<char>('a' + i % 23);
    const std::string b = a;
    // Views that start past the start of their strings and end short of their ends.
    EXPECT_EQ(
        CommonPrefixLength(std::string_view(a).substr(3, n), std::string_view(b).substr(3, n)), n);
    for (std::size_t at = 0; at < n; ++at) {
      std::string c = b;
      c[3 + at] = '\x80';
      EXPECT_EQ(
          CommonPrefixLength(std::string_view(a).substr(3, n), std::string_view(c).substr(3, n)),
          at)
          << n;
      // Another difference after it, in the same 64 bytes or the next, takes nothing from it.
      for (const std::size_t later : {at + 1, at + 17, at + 40, at + 63}) {
        if (later >= n) break;
        c[3 + later] = '\x81';
        EXPECT_EQ(
            CommonPrefixLength(std::string_view(a).substr(3, n), std::string_view(c).substr(3, n)),
            at)
            << n << " " << later;
      }
      c = b;
      c[3 + at] = '\x80';
      // The shorter of the two ends it when they agree that far.
      EXPECT_EQ(CommonPrefixLength(std::string_view(c).substr(3 + at + 1, n - at - 1),
                                   std::string_view(b).substr(3 + at + 1)),
                n - at - 1);
    }
  }
}

}  // namespace
}  // namespace vesmer
