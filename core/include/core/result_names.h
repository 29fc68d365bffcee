// Names of the six result files, made from the source path.
#pragma once

#include <string_view>

#include "core/job.h"

namespace vesmer {

// For source path P without its extension, kind k is P + "_" + k + ".TXT", in the source's
// folder. An empty source names nothing: all six are empty.
[[nodiscard]] ResultPaths MakeResultPaths(std::string_view source_path);

}  // namespace vesmer
