// A run observer for tests: records what the run shows and tells, and asks it to stop when told
// to; plus jobs on test files.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/comparison_run.h"
#include "core/result_list.h"
#include "core/result_names.h"

namespace vesmer::testing {

class RecordingObserver : public RunObserver {
 public:
  // Each listed segment as the display shows it (UTF-8, full-width spaces as squares).
  std::vector<std::array<std::string, 3>> shown_segments;
  int segments_written = 0;
  int progress_reports = 0;
  int stop_after_segments = -1;  // StopRequested() answers true from this count on
  bool shows_listed_pairs = false;

  [[nodiscard]] bool ShowsListedPairs() const override { return shows_listed_pairs; }

  void OnProgress(const RunProgress&) override { ++progress_reports; }
  void OnListedSegment(std::string_view source, std::string_view destination,
                       std::string_view marker) override {
    shown_segments.push_back(
        {DisplayText(source, true), DisplayText(destination, true), DisplayText(marker, false)});
  }
  void OnSegmentWritten() override { ++segments_written; }
  bool StopRequested() override {
    return stop_after_segments >= 0 && segments_written >= stop_after_segments;
  }
};

inline constexpr const char* kTestRuler =
    "....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*"
    "....+....#";

// A job for `source` and `destination` with the result files the window would name, kinds 2 to
// 5 selected and the default ruler.
inline ComparisonJob MakeJob(const std::string& source, const std::string& destination) {
  ComparisonJob job;
  job.InputData = {source, destination};
  job.ResultPath = MakeResultPaths(source);
  job.OutputSelected.values = {false, false, true, true, true, true};
  job.Scale = kTestRuler;
  return job;
}

// Turns key mode on with one range text (which must parse).
inline void UseKey(ComparisonJob& job, std::string_view ranges) {
  job.UseKey = true;
  job.OutputSelected[OutputKind::kSourceUnmatched] = true;
  job.OutputSelected[OutputKind::kDestinationUnmatched] = true;
  (void)ParseRangeText(ranges, job.KeyColumns);
}

inline void UseOmit(ComparisonJob& job, std::string_view ranges) {
  job.UseOmit = true;
  (void)ParseRangeText(ranges, job.OmitColumns);
}

// The counts a run wrote, by kind.
inline std::array<std::int64_t, kOutputKinds> Written(const RunSummary& s) {
  std::array<std::int64_t, kOutputKinds> counts{};
  for (const OutputKind k : kAllOutputKinds) counts[Index(k)] = s.outputs[k].written;
  return counts;
}

inline std::array<std::int64_t, 2> LinesRead(const RunSummary& s) {
  return {s.inputs[0].lines, s.inputs[1].lines};
}

}  // namespace vesmer::testing
