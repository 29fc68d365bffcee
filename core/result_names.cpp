#include "core/result_names.h"

#include "platform/files.h"

namespace vesmer {

ResultPaths MakeResultPaths(std::string_view source_path) {
  ResultPaths paths;
  if (source_path.empty()) return paths;
  const std::string stem = CutNull(RemoveExtension(source_path));
  for (std::size_t k = 0; k < kOutputKinds; ++k) {
    paths[k] = stem + "_" + static_cast<char>('0' + k) + ".TXT";
  }
  return paths;
}

}  // namespace vesmer
