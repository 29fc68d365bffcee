#include <unistd.h>

#include <exception>
#include <iostream>

#include "cli/batch.h"

int main(int argc, char** argv) {
  try {
    return vesmer::RunBatch(argc, argv, std::cout, std::cerr, ::isatty(STDERR_FILENO) == 1);
  } catch (const std::exception& e) {
    std::cerr << "vesmer-batch: " << e.what() << '\n';
    return 2;
  }
}
