// Whether the shortcuts that answer common cases quickly are taken. Setting the environment
// variable VESMER_NO_FAST_PATHS (to anything) when a program starts makes every answer come the
// long way; the benchmark script checks that both ways give the same result bytes.
#pragma once

namespace vesmer {

extern const bool kFastPaths;

}  // namespace vesmer
