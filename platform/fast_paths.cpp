#include "platform/fast_paths.h"

#include <cstdlib>

namespace vesmer {

const bool kFastPaths = std::getenv("VESMER_NO_FAST_PATHS") == nullptr;

}  // namespace vesmer
