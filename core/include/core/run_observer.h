// What a comparison run tells its front end while it works, and the one thing it asks: whether
// to stop. It knows nothing of windows; the window and the batch tool each make of it what they
// show.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace vesmer {

struct RunProgress {
  std::array<std::uint64_t, 2> bytes_read{};   // bytes of each input consumed so far, by Side
  std::array<std::uint64_t, 2> bytes_total{};  // each input's size; 0 when unknown (a pipe)
  std::array<std::int64_t, 2> records_read{};
};

class RunObserver {
 public:
  virtual ~RunObserver() = default;

  // About every 100 ms of a long run.
  virtual void OnProgress(const RunProgress& /*progress*/) {}
  // While the inputs are sorted by key (before any record is compared): bytes of both inputs
  // sorted so far, of their total.
  virtual void OnSortProgress(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
  // Whether OnListedSegment shows the pairs listed (the window's display option); asked once,
  // when the run starts.
  [[nodiscard]] virtual bool ShowsListedPairs() const { return false; }
  // When ShowsListedPairs(), each segment of a listed pair as it is written into the result
  // list: the code page 932 bytes of the source, destination and marker segment.
  virtual void OnListedSegment(std::string_view /*source*/, std::string_view /*destination*/,
                               std::string_view /*marker*/) {}
  // After every segment written into the result list, display or not (the window lets its
  // events run here).
  virtual void OnSegmentWritten() {}
  // Asked after every segment and every few thousand records; must be cheap. True stops the
  // run: it finishes the entry at hand, flushes and closes its files.
  virtual bool StopRequested() { return false; }
};

}  // namespace vesmer
