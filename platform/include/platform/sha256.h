// SHA-256 of a file's bytes as they stream past: a chunk observer that a line reader (on its
// read-ahead thread) or a conversion feeds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace vesmer {

class Sha256 : public ChunkObserver {
 public:
  Sha256();
  ~Sha256() override;
  Sha256(const Sha256&) = delete;
  Sha256& operator=(const Sha256&) = delete;

  void OnChunk(std::string_view bytes) override;
  // The digest of every byte passed so far, as 64 lowercase hex digits. Call it once the
  // feeding is over (the reader reached the end or was closed).
  [[nodiscard]] std::string Hex() const;
  [[nodiscard]] std::uint64_t bytes() const { return bytes_; }

 private:
  struct State;
  std::unique_ptr<State> state_;
  std::uint64_t bytes_ = 0;
};

// The SHA-256 of `bytes`, as lowercase hex.
[[nodiscard]] std::string Sha256Hex(std::string_view bytes);

}  // namespace vesmer
