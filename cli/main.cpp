#include <unistd.h>

#include <exception>
#include <iostream>

#include "cli/batch.h"
#include "cli/stop_signals.h"

int main(int argc, char** argv) {
  vesmer::InstallStopSignals();
  try {
    return vesmer::RunBatch(argc, argv, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
  } catch (const std::exception& e) {
    std::cerr << "vesmer-batch: " << e.what() << '\n';
    return 2;
  }
}
