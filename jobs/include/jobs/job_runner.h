// Runs the pairs of a job on a few threads at once, and stops starting them when asked.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <vector>

namespace vesmer {

// Calls `run(i)` for every i below `count`, taking them in order of i, with up to `workers` calls
// at once (at least one). Once `stop` is set no call starts; the calls running end as `run` ends
// them (it sees the same flag). Returns, for each i, whether its call started. A call must not
// throw.
[[nodiscard]] std::vector<bool> RunPairs(std::size_t count, std::size_t workers,
                                         const std::function<void(std::size_t)>& run,
                                         const std::atomic<bool>& stop);

}  // namespace vesmer
