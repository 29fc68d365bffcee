// Every file a run writes, the selected result files first and then the front end's extra
// outputs, each through the same steps: refused when it is a file the run reads, locked without
// being touched, emptied once the run may start, watched for a failed write as the run goes,
// and closed at the end.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/comparison_run.h"
#include "core/job.h"
#include "core/own_files.h"
#include "platform/files.h"
#include "platform/status.h"

namespace vesmer {

class OutputSet {
 public:
  // `results` are the files of the result kinds `job` selects; both outlive the set.
  OutputSet(const ComparisonJob& job, PerKind<OutputFile>& results,
            const std::vector<ExtraOutput>& extras);

  // Refuses, before any file is touched, an output that is one of `reads` (by name, or by
  // device and inode through any link), one that is one of `later` (files the front end writes
  // once the run has ended), and two outputs that are one file.
  [[nodiscard]] Status CheckAgainst(const std::vector<NamedFile>& reads,
                                    const std::vector<NamedFile>& later) const;
  // Opens and locks every output without emptying it, so that a run refused now leaves every
  // file as it was. Stops at the first failure; Abandon() then lets go of the rest.
  [[nodiscard]] Status Lock();
  // Lets go of every output opened so far; files this run created go again.
  void Abandon();
  // The files locked, for a conversion that must not write through one of them.
  [[nodiscard]] std::vector<FileId> ids() const;
  // Empties every output; refused when one of them has become one of `inputs` (a converted
  // input is a new file).
  [[nodiscard]] Status Empty(const std::vector<FileId>& inputs);
  // The first output, in order, whose write has failed; ok when none has.
  [[nodiscard]] Status FirstFailure() const;
  // Flushes and closes every open output, all of them whatever fails; the first failure.
  [[nodiscard]] Status Close();

  // Whether the run emptied it and wrote it anew.
  [[nodiscard]] bool created(OutputKind kind) const;
  [[nodiscard]] bool extra_created(std::size_t i) const {
    return entries_[first_extra_ + i].created;
  }

 private:
  struct Entry {
    const std::string* path;
    OutputFile* file;
    std::string role;                // what it is to the user, for a refusal
    std::optional<OutputKind> kind;  // of a result file
    bool created = false;
  };

  std::vector<Entry> entries_;
  std::size_t first_extra_ = 0;
};

}  // namespace vesmer
