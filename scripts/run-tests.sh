#!/usr/bin/env bash
# Configures, builds and runs every test under one CMake preset (default: dev).
#   scripts/run-tests.sh [dev|asan|tsan|release]
# The dev run also runs the comparison tests once more with every shortcut switched off
# (VESMER_NO_FAST_PATHS): both ways must give the same results.
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
cmake --preset "$preset"
cmake --build --preset "$preset"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset" --timeout 600
if [ "$preset" = dev ]; then
  VESMER_NO_FAST_PATHS=1 ctest --preset dev --timeout 600 \
    -R '^(Batch|ComparisonRun|SameBytes|RecordReader|RecordKey|ResultList|Cp932|LineReader|Sorted)'
fi
