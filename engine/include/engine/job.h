// The comparison job: everything one run reads, taken once when the run starts.
#pragma once

#include <array>
#include <string>

#include "engine/ranges.h"

namespace vesmer {

// Index of a result file, of its output check box and of its count.
enum OutputKind : int {
  kSourceUnmatched = 0,
  kDestinationUnmatched = 1,
  kSourceDiffers = 2,
  kDestinationDiffers = 3,
  kMatching = 4,
  kResultList = 5,
};
inline constexpr int kOutputKinds = 6;

using ResultPaths = std::array<std::string, kOutputKinds>;

// Texts are UTF-8; paths are file system paths as given.
struct ComparisonJob {
  std::array<std::string, 2> InputData;
  std::array<bool, 2> Utf8{};
  std::array<bool, kOutputKinds> OutputSelected{};
  ResultPaths ResultPath;  // the six result file paths
  bool UseKey = false;
  RangeList KeyColumns;
  bool UseOmit = false;
  RangeList OmitColumns;
  bool Display = false;
  bool SpaceCompare = false;
  bool ArrangeLength = false;
  bool OpenResult = false;
  bool Editor = false;
  std::string EditorName;
  std::string Scale;
};

}  // namespace vesmer
