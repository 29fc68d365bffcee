// The sort as a run sees it: both inputs sorted by the key at once, each on a thread of its own,
// then read in key order.
#pragma once

#include <array>
#include <memory>

#include "core/comparison_run.h"
#include "sort/sorted_input.h"

namespace vesmer {

class KeyOrderSort final : public InputOrder {
 public:
  // `options.memory_bytes` for each input; its stop, progress and observer are the run's.
  explicit KeyOrderSort(SortOptions options) : options_(std::move(options)) {}

  [[nodiscard]] Status Arrange(const ComparisonJob& job, const std::atomic<bool>* stop,
                               const std::array<ChunkObserver*, 2>& observers,
                               const std::array<const RecordFraming*, 2>& framings,
                               const std::array<const RecordCoding*, 2>& codings,
                               RunObserver& observer, std::array<LineSource*, 2>& sources,
                               std::array<FileId, 2>& ids) override;

 private:
  class Source;

  SortOptions options_;
  std::array<std::unique_ptr<SortedInput>, 2> sorted_;
  std::array<std::unique_ptr<LineSource>, 2> sources_;
};

}  // namespace vesmer
