#!/usr/bin/env bash
# Builds the libFuzzer targets (preset "fuzz") and runs every target named in
# tests/fuzz/CMakeLists.txt for SECONDS seconds each, one after the other, each from an empty
# corpus in a temporary folder and with its dictionary when there is one. Stops at the first
# crash, leak, timeout or undefined behaviour; the input that caused it is kept in
# build/fuzz/artifacts/.
#   scripts/run-fuzz.sh SECONDS
set -euo pipefail
cd "$(dirname "$0")/.."

if [[ $# -ne 1 || ! "$1" =~ ^[1-9][0-9]*$ ]]; then
  echo "usage: $0 SECONDS" >&2
  exit 2
fi
seconds=$1

# Every fuzz_* name in the CMake file that has a source of its own is a target.
targets=()
for name in $(grep -oE '\bfuzz_[a-z0-9_]+' tests/fuzz/CMakeLists.txt | sort -u); do
  if [[ -f "tests/fuzz/$name.cpp" ]]; then targets+=("$name"); fi
done
if [[ ${#targets[@]} -eq 0 ]]; then
  echo "no fuzz targets named in tests/fuzz/CMakeLists.txt" >&2
  exit 2
fi

cmake --preset fuzz
cmake --build --preset fuzz --target "${targets[@]}"

work=$(mktemp -d "${TMPDIR:-/tmp}/vesmer-fuzz.XXXXXX")
trap 'rm -rf "$work"' EXIT
artifacts=build/fuzz/artifacts
mkdir -p "$artifacts"
# Undefined behaviour is reported and passed over unless told to stop; here it fails the run.
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-halt_on_error=1:print_stacktrace=1}"

for name in "${targets[@]}"; do
  corpus="$work/corpus-$name"
  scratch="$work/tmp-$name"  # the targets' own temporary files
  mkdir -p "$corpus" "$scratch"
  args=(-max_total_time="$seconds" -print_final_stats=1 -artifact_prefix="$artifacts/$name-")
  for dict in "tests/fuzz/$name.dict" "tests/fuzz/${name#fuzz_}.dict"; do
    if [[ -f "$dict" ]]; then
      args+=(-dict="$dict")
      break
    fi
  done
  echo "== $name: ${seconds}s"
  log="$work/$name.log"
  if ! TMPDIR="$scratch" "build/fuzz/tests/fuzz/$name" "${args[@]}" "$corpus" >"$log" 2>&1; then
    tail -n 80 "$log" >&2
    echo "$name failed; the input is kept under $artifacts/$name-*" >&2
    exit 1
  fi
  grep -E '^#[0-9]+[[:space:]]+DONE|^stat::number_of_executed_units' "$log" || true
done
echo "all ${#targets[@]} fuzz targets ran ${seconds}s each without a failure"
