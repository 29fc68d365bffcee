#include "platform/sha256.h"

#include <gtest/gtest.h>

namespace vesmer {
namespace {

TEST(Sha256Test, KnownDigests) {
  EXPECT_EQ(Sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  EXPECT_EQ(Sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256Test, PiecesGiveTheDigestOfTheWhole) {
  std::string bytes;
  for (int i = 0; i < 100000; ++i) bytes += static_cast<char>(i * 7919 % 251);
  const std::string whole = Sha256Hex(bytes);
  Sha256 pieces;
  for (std::size_t at = 0, n = 1; at < bytes.size(); at += n, n = n * 3 % 4097 + 1) {
    pieces.OnChunk(std::string_view(bytes).substr(at, n));
  }
  EXPECT_EQ(pieces.Hex(), whole);
  EXPECT_EQ(pieces.bytes(), bytes.size());
  EXPECT_EQ(pieces.Hex(), whole);  // asking twice changes nothing
}

}  // namespace
}  // namespace vesmer
