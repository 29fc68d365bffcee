#include "jobs/job_runner.h"

#include <algorithm>
#include <thread>

namespace vesmer {

std::vector<bool> RunPairs(std::size_t count, std::size_t workers,
                           const std::function<void(std::size_t)>& run,
                           const std::atomic<bool>& stop) {
  // Written by one worker each, read after every worker is joined; a vector<bool> shares bytes.
  std::vector<char> started(count, 0);
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    while (!stop.load()) {
      const std::size_t i = next.fetch_add(1);
      if (i >= count) return;
      // A stop that came while this pair was taken: it is not started.
      if (stop.load()) return;
      started[i] = 1;
      run(i);
    }
  };
  const std::size_t threads = std::clamp<std::size_t>(workers, 1, std::max<std::size_t>(count, 1));
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();  // this thread is one of the workers
  for (std::thread& t : pool) t.join();
  return {started.begin(), started.end()};
}

}  // namespace vesmer
