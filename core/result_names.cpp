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

std::string_view PathFileName(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

ResultPaths MakeResultPathsIn(std::string_view folder, std::string_view source_path) {
  const std::string_view name = PathFileName(source_path);
  if (name.empty()) return {};
  std::string inside(folder);
  if (inside.empty() || inside.back() != '/') inside += '/';
  return MakeResultPaths(inside + std::string(name));
}

}  // namespace vesmer
