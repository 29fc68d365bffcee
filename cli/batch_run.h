// The three ways vesmer-batch runs, once its arguments are parsed: one pair of files, a job of
// many pairs, and the pages of pairs run elsewhere.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/batch_options.h"

namespace vesmer {

// The arguments as one line a shell would read back, for the record.
[[nodiscard]] std::string CommandLine(const std::vector<std::string>& args);

// One comparison of two files, as a single invocation makes it: `command` is the command line
// the report records. Prints the summary (plain or --json) to `out`, messages to `err`, the
// progress line to `err` when `progress_allowed`. Returns the exit status. Reentrant: a job runs
// several at once, each with its own streams; they share the stop flag.
int RunSingle(const BatchOptions& o, const std::string& command, std::ostream& out,
              std::ostream& err, bool progress_allowed);

// A job (--pairs or --folders): `args` are the program's arguments without its name.
int RunJob(const BatchOptions& o, const std::vector<std::string>& args, std::ostream& out,
           std::ostream& err, bool progress_allowed);

// --rollup: the dashboard, CSV and workbook of the JSON summaries under the folders given.
int RunRollup(const BatchOptions& o, const std::vector<std::string>& args, std::ostream& out,
              std::ostream& err);

}  // namespace vesmer
