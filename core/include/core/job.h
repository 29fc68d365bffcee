// The comparison job: everything one run reads, taken once when the run starts, and the names
// of its inputs and result files.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "core/ranges.h"

namespace vesmer {

// 0 the source (比較元), 1 the destination (比較先).
enum class Side : int { kSource = 0, kDestination = 1 };
inline constexpr std::array<Side, 2> kSides = {Side::kSource, Side::kDestination};

[[nodiscard]] constexpr std::size_t Index(Side side) { return static_cast<std::size_t>(side); }
[[nodiscard]] constexpr Side Other(Side side) {
  return side == Side::kSource ? Side::kDestination : Side::kSource;
}

// Index of a result file, of its output check box and of its count.
enum class OutputKind : int {
  kSourceUnmatched = 0,       // source records whose key has no partner
  kDestinationUnmatched = 1,  // destination records whose key has no partner
  kSourceDiffers = 2,         // source records of pairs that differ
  kDestinationDiffers = 3,    // destination records of pairs that differ
  kMatching = 4,              // pairs that match, one line each
  kResultList = 5,            // the comparison result list
};
inline constexpr std::size_t kOutputKinds = 6;
inline constexpr std::array<OutputKind, kOutputKinds> kAllOutputKinds = {
    OutputKind::kSourceUnmatched, OutputKind::kDestinationUnmatched,
    OutputKind::kSourceDiffers,   OutputKind::kDestinationDiffers,
    OutputKind::kMatching,        OutputKind::kResultList};

[[nodiscard]] constexpr std::size_t Index(OutputKind kind) {
  return static_cast<std::size_t>(kind);
}
[[nodiscard]] constexpr OutputKind KindAt(std::size_t index) {
  return static_cast<OutputKind>(index);
}
// The side whose records a result file of kinds 0 to 4 receives.
[[nodiscard]] constexpr Side SideOf(OutputKind kind) {
  return kind == OutputKind::kDestinationUnmatched || kind == OutputKind::kDestinationDiffers
             ? Side::kDestination
             : Side::kSource;
}
// Kinds whose records (or entries) mean the files differ: all but the matching pairs.
[[nodiscard]] constexpr bool IsDifference(OutputKind kind) { return kind != OutputKind::kMatching; }
[[nodiscard]] constexpr OutputKind UnmatchedKind(Side side) {
  return side == Side::kSource ? OutputKind::kSourceUnmatched : OutputKind::kDestinationUnmatched;
}
[[nodiscard]] constexpr OutputKind DiffersKind(Side side) {
  return side == Side::kSource ? OutputKind::kSourceDiffers : OutputKind::kDestinationDiffers;
}

// A value for each result kind, indexed by OutputKind.
template <typename T>
struct PerKind {
  std::array<T, kOutputKinds> values{};
  T& operator[](OutputKind kind) { return values[Index(kind)]; }
  const T& operator[](OutputKind kind) const { return values[Index(kind)]; }
  friend bool operator==(const PerKind&, const PerKind&) = default;
};

using ResultPaths = std::array<std::string, kOutputKinds>;

// What one run compares and how. Texts are UTF-8; paths are file system paths as given.
// A field of the field list: its name (UTF-8) and its 1-based byte columns.
struct ListedField {
  std::string name;
  std::int32_t start = 0;
  std::int32_t length = 0;
};

struct ComparisonJob {
  std::array<std::string, 2> InputData;  // by Side
  std::array<bool, 2> Utf8{};            // the input is UTF-8, converted before reading
  PerKind<bool> OutputSelected;
  ResultPaths ResultPath;  // the six result file paths, by OutputKind
  bool UseKey = false;
  RangeList KeyColumns;
  bool UseOmit = false;
  RangeList OmitColumns;
  bool SpaceCompare = false;
  bool ArrangeLength = false;
  // Pairs compare on their raw comparison bytes instead of their texts (keys stay text): two
  // codes of one character differ. The batch tool's alone; the window never sets it.
  bool CompareBytes = false;
  // Blanks at the end of a record and of its key (half-width and full-width spaces) are not
  // compared: the inputs are of different formats, which pad the same text differently. The
  // batch tool's alone.
  bool TrimPadding = false;
  std::string Scale;  // the ruler of the result list
  // The fields a field list names (a layout's) for decoded records; none: the record as one.
  // The batch tool's alone.
  std::vector<ListedField> ListFields;

  [[nodiscard]] const std::string& Input(Side side) const { return InputData[Index(side)]; }
  [[nodiscard]] const std::string& Result(OutputKind kind) const { return ResultPath[Index(kind)]; }
};

}  // namespace vesmer
