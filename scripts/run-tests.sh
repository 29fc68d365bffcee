#!/usr/bin/env bash
# Configures, builds and runs every test under one CMake preset (default: dev).
#   scripts/run-tests.sh [dev|asan|release]
set -euo pipefail
cd "$(dirname "$0")/.."
preset="${1:-dev}"
cmake --preset "$preset"
cmake --build --preset "$preset"
export QT_QPA_PLATFORM=offscreen
ctest --preset "$preset" --timeout 600
