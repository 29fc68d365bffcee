// A run host for tests: records every report in order and hands out a prepared job.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "engine/comparison_run.h"
#include "engine/result_names.h"

namespace vesmer::testing {

class RecordingHost : public RunHost {
 public:
  ComparisonJob job;
  std::vector<std::string> statuses;
  std::vector<std::string> events;  // "lock", "unlock", "yield", "take-job"
  std::array<std::string, 2> input_counts;
  std::array<std::string, kOutputKinds> output_counts;
  std::array<std::string, 3> record_lines;
  std::vector<std::array<std::string, 3>> shown_segments;
  std::vector<std::string> opened_documents;
  std::vector<std::vector<std::string>> started_programs;
  int yields = 0;
  int stop_after_yields = -1;  // Yield() answers false from this count on

  ComparisonJob TakeJob() override {
    events.push_back("take-job");
    return job;
  }
  void SetStatus(std::string_view text) override { statuses.emplace_back(text); }
  void SetInputCount(int side, std::string_view text) override { input_counts[side] = text; }
  void SetOutputCount(int kind, std::string_view text) override { output_counts[kind] = text; }
  void SetRecordLine(int line, std::string_view text) override {
    record_lines[line] = text;
    if (line == 2 && !text.empty()) shown_segments.push_back(record_lines);
  }
  void ApplyControlStates(bool enable) override { events.push_back(enable ? "unlock" : "lock"); }
  bool Yield() override {
    ++yields;
    return stop_after_yields < 0 || yields < stop_after_yields;
  }
  void OpenDocument(const std::string& path) override { opened_documents.push_back(path); }
  void StartProgram(const std::vector<std::string>& argv) override {
    started_programs.push_back(argv);
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
  job.OutputSelected = {false, false, true, true, true, true};
  job.Scale = kTestRuler;
  return job;
}

// Turns key mode on with one range text (which must parse).
inline void UseKey(ComparisonJob& job, std::string_view ranges) {
  job.UseKey = true;
  job.OutputSelected[0] = job.OutputSelected[1] = true;
  (void)ParseRangeText(ranges, job.KeyColumns);
}

inline void UseOmit(ComparisonJob& job, std::string_view ranges) {
  job.UseOmit = true;
  (void)ParseRangeText(ranges, job.OmitColumns);
}

}  // namespace vesmer::testing
