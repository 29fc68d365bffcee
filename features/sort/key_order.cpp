#include "sort/key_order.h"

#include <cerrno>
#include <system_error>
#include <thread>

namespace vesmer {

// A source of lines that is a sorted input.
class KeyOrderSort::Source final : public LineSource {
 public:
  explicit Source(SortedInput& input) : input_(input) {}
  bool Next(std::string_view& line, std::int64_t& line_number) override {
    return input_.Next(line, line_number);
  }
  const Status& status() const override { return input_.status(); }
  std::uint64_t consumed() const override { return input_.consumed(); }
  std::uint64_t size() const override { return input_.size(); }

 private:
  SortedInput& input_;
};

Status KeyOrderSort::Arrange(const ComparisonJob& job, const std::atomic<bool>* stop,
                             const std::array<ChunkObserver*, 2>& observers,
                             const std::array<const RecordFraming*, 2>& framings,
                             const std::array<const RecordCoding*, 2>& codings,
                             RunObserver& observer, std::array<LineSource*, 2>& sources,
                             std::array<FileId, 2>& ids) {
  // Both inputs at once, one on a thread of its own: each sorts while it reads.
  std::array<SortOptions, 2> options;
  std::array<std::atomic<std::uint64_t>, 2> done{}, total{};
  for (const Side s : kSides) {
    const std::size_t i = Index(s);
    sorted_[i] = std::make_unique<SortedInput>();
    options[i] = options_;
    options[i].stop = stop;
    options[i].observer = observers[i];
    options[i].framing = framings[i];
    options[i].coding = codings[i];
    options[i].trim_padding = job.TrimPadding;
    options[i].progress = [&, i](std::uint64_t d, std::uint64_t t) {
      done[i] = d;
      total[i] = t;
      // The observer hears from the thread that runs the run only.
      if (i == 0) observer.OnSortProgress(done[0] + done[1], total[0] + total[1]);
    };
  }
  std::array<Status, 2> sorted;
  std::thread other;
  try {
    other = std::thread([&] {
      sorted[1] = sorted_[1]->Sort(job.Input(Side::kDestination), job.KeyColumns, options[1]);
    });
  } catch (const std::system_error&) {
    sorted[1] = sorted_[1]->Sort(job.Input(Side::kDestination), job.KeyColumns, options[1]);
  }
  sorted[0] = sorted_[0]->Sort(job.Input(Side::kSource), job.KeyColumns, options[0]);
  if (other.joinable()) other.join();
  for (const Side s : kSides) {
    const std::size_t i = Index(s);
    if (sorted[i].error_number() == EINTR) return sorted[i];
    if (!sorted[i].ok()) return WithPath(sorted[i], job.Input(s));
    sources_[i] = std::make_unique<Source>(*sorted_[i]);
    sources[i] = sources_[i].get();
    ids[i] = sorted_[i]->id();
  }
  return {};
}

}  // namespace vesmer
