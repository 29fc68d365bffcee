// vesmer-batch: the comparison from the command line, for scripts and very large files.
#pragma once

#include <iosfwd>

namespace vesmer {

// Runs the batch front end with the program's arguments. Returns the exit status: 0 completed
// without differences, 1 completed with differences, 2 refused, failed, keys out of order or a
// usage error, 130 / 143 stopped by SIGINT / SIGTERM (see InstallStopSignals).
int RunBatch(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
             bool progress_allowed);

}  // namespace vesmer
