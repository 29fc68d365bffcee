// What a comparison run reports to and asks of its front end: the window, or the batch tool.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/job.h"

namespace vesmer {

class RunHost {
 public:
  virtual ~RunHost() = default;

  // Called once, after the front end has been locked: the job the run works on.
  virtual ComparisonJob TakeJob() = 0;

  virtual void SetStatus(std::string_view text) = 0;
  // lblFileICount(side): lines read, or "" while a run sets up.
  virtual void SetInputCount(int side, std::string_view text) = 0;
  // lblFileOCount(kind): records written, or "".
  virtual void SetOutputCount(int kind, std::string_view text) = 0;
  // lblRecord(line): the progress display's source, destination and marker lines (UTF-8).
  virtual void SetRecordLine(int line, std::string_view text) = 0;
  // false locks the front end, true unlocks it.
  virtual void ApplyControlStates(bool enable) = 0;

  // Lets pending window events run once. Returns false when the run should stop (the window is
  // closing); the run then finishes the entry at hand, flushes and closes its files.
  virtual bool Yield() { return true; }
  // Called about every 100 ms of a long run with the source bytes read so far and the source's
  // size; the same contract as Yield.
  virtual bool KeepAlive(std::uint64_t /*done*/, std::uint64_t /*total*/) { return true; }

  // Opening the result list at the end of a run.
  virtual void OpenDocument(const std::string& /*path*/) {}
  virtual void StartProgram(const std::vector<std::string>& /*argv*/) {}
};

}  // namespace vesmer
