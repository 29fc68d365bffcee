// Names of the six result files, made from the source path.
#pragma once

#include <string_view>

#include "core/job.h"

namespace vesmer {

// For source path P without its extension, kind k is P + "_" + k + ".TXT", in the source's
// folder. An empty source names nothing: all six are empty.
[[nodiscard]] ResultPaths MakeResultPaths(std::string_view source_path);

// The same names in `folder` instead of the source's own: folder + "/" + the source's file name
// without its extension + "_" + k + ".TXT". A source path that ends in "/" has no file name and
// names nothing, as an empty one.
[[nodiscard]] ResultPaths MakeResultPathsIn(std::string_view folder, std::string_view source_path);

// The part of a path after its last "/" (the whole path when it has none).
[[nodiscard]] std::string_view PathFileName(std::string_view path);

}  // namespace vesmer
