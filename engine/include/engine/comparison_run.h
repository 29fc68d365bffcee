// One comparison run: opens the inputs and the selected result files, matches records line by
// line or by key, writes each classified record, and reports through its host.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "engine/job.h"
#include "engine/run_host.h"

namespace vesmer {

enum class RunOutcome {
  kNoDifferences,
  kDifferences,
  kOutOfOrder,   // a key decreased; what was written so far stays
  kSetupFailed,  // an input could not be converted or opened, a result file not created
  kIoFailed,     // a read or write failed after the run had started matching
  kStopped,      // the host asked the run to stop (the window is closing)
};

struct RunSummary {
  RunOutcome outcome = RunOutcome::kSetupFailed;
  std::string status;  // the last status text shown
  std::array<std::int64_t, 2> lines_read{};
  std::array<std::int64_t, kOutputKinds> counts{};
  ComparisonJob job;  // the job the run worked on
};

// Runs to the end on the calling thread. Every outcome is also reported through `host`.
RunSummary RunComparison(RunHost& host);

}  // namespace vesmer
