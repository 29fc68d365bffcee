// Reads a comparison result list back into whole entries for the fuzz targets: every group of
// four lines is checked for its layout (ruler, "-O:", "-C:", "-R:", line number, segment
// counter, segment widths) and the segments of an entry are joined again, so a target compares
// whole padded lines and markers instead of 100-column pieces.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/cp932.h"

namespace vesmer::fuzzing {

struct ListedEntry {
  std::string number;  // the line number as printed
  // The padded source and destination lines and the marker, segments joined, the space that
  // stands in front of a segment after a carried column taken off.
  std::string source;
  std::string destination;
  std::string marker;
  // For every segment but the last: the 0-based column its 100 columns end at, and whether it
  // took one more column (a double-byte character would have been cut).
  std::vector<std::size_t> cuts;
  std::vector<bool> carried;
};

namespace detail {

inline bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// "NNNNNNN SSS-T:content": a line number of at least 7 digits, a space, a segment counter of
// at least 3 digits and the tag.
inline bool SplitTagged(std::string_view line, std::string_view tag, std::string_view& number,
                        std::size_t& segment, std::string_view& content) {
  std::size_t i = 0;
  while (i < line.size() && IsDigit(line[i])) ++i;
  if (i < 7 || i >= line.size() || line[i] != ' ') return false;
  number = line.substr(0, i);
  std::size_t j = i + 1;
  segment = 0;
  while (j < line.size() && IsDigit(line[j])) {
    if (segment > 100000000) return false;
    segment = segment * 10 + static_cast<std::size_t>(line[j] - '0');
    ++j;
  }
  if (j - (i + 1) < 3 || line.substr(j, tag.size()) != tag) return false;
  // A counter wider than 3 digits is never zero-padded beyond that.
  if (j - (i + 1) > 3 && line[i + 1] == '0') return false;
  content = line.substr(j + tag.size());
  return true;
}

}  // namespace detail

// Parses the result list `list` (the file's bytes); `ruler_line` is the line every segment
// starts with. Returns false with `error` naming the first thing that is not as a result list
// lays it out.
inline bool ReadListedEntries(std::string_view list, std::string_view ruler_line,
                              std::vector<ListedEntry>& entries, std::string& error) {
  entries.clear();
  std::vector<std::string_view> lines;
  for (std::size_t at = 0; at < list.size();) {
    const std::size_t cr = list.find('\r', at);
    if (cr == std::string_view::npos) {
      error = "the last line has no CR LF";
      return false;
    }
    if (cr + 1 >= list.size() || list[cr + 1] != '\n') {
      error = "a CR without its LF";
      return false;
    }
    lines.push_back(list.substr(at, cr - at));
    at = cr + 2;
  }
  if (lines.size() % 4 != 0) {
    error = "the lines do not come in groups of four";
    return false;
  }
  static constexpr std::string_view kTags[3] = {"-O:", "-C:", "-R:"};
  std::size_t last_width = 0;  // the width of the entry's segment before
  std::size_t last_segment = 0;
  for (std::size_t g = 0; g < lines.size(); g += 4) {
    if (lines[g] != ruler_line) {
      error = "a group does not start with the ruler";
      return false;
    }
    std::string_view number[3], content[3];
    std::size_t segment[3] = {};
    for (std::size_t i = 0; i < 3; ++i) {
      if (!detail::SplitTagged(lines[g + 1 + i], kTags[i], number[i], segment[i], content[i])) {
        error = "a tagged line is malformed";
        return false;
      }
    }
    if (number[1] != number[0] || number[2] != number[0] || segment[1] != segment[0] ||
        segment[2] != segment[0]) {
      error = "the lines of one segment differ in number or counter";
      return false;
    }
    const std::size_t width = content[0].size();
    if (content[1].size() != width || content[2].size() != width) {
      error = "the lines of one segment differ in width";
      return false;
    }
    // Only the one segment of an entry of two empty lines is empty.
    if ((width == 0 && segment[0] != 0) || width > 101) {
      error = "a segment after the first is empty, or one is wider than 101 columns";
      return false;
    }
    bool carry_in = false;
    if (segment[0] == 0) {
      if (!entries.empty() && last_width > 100) {
        error = "an entry ends with a carried column";
        return false;
      }
      entries.emplace_back();
      entries.back().number = std::string(number[0]);
    } else {
      if (entries.empty() || number[0] != entries.back().number || segment[0] != last_segment + 1) {
        error = "segment counters do not count up from 000 within an entry";
        return false;
      }
      if (last_width < 100) {
        error = "a segment before the last is narrower than 100 columns";
        return false;
      }
      ListedEntry& entry = entries.back();
      entry.cuts.push_back(100 * segment[0]);
      entry.carried.push_back(last_width == 101);
      carry_in = last_width == 101;
    }
    ListedEntry& entry = entries.back();
    std::string* joined[3] = {&entry.source, &entry.destination, &entry.marker};
    for (std::size_t i = 0; i < 3; ++i) {
      std::string_view part = content[i];
      if (carry_in) {
        if (part.front() != ' ') {
          error = "a segment after a carried column does not start with a space";
          return false;
        }
        part.remove_prefix(1);
      }
      joined[i]->append(part);
    }
    last_width = width;
    last_segment = segment[0];
  }
  if (!entries.empty() && last_width > 100) {
    error = "the list ends with a carried column";
    return false;
  }
  return true;
}

// Whether every cut of `entry` carried exactly when it would have split the byte pair of a lead
// byte and a byte that is not NUL in the padded source line (the pairing is by bytes, not by a
// character walk from the start of the line).
[[nodiscard]] inline bool CutsCarryAsDefined(const ListedEntry& entry) {
  for (std::size_t i = 0; i < entry.cuts.size(); ++i) {
    const std::size_t cut = entry.cuts[i];  // columns [0, cut) lie before it
    if (cut == 0 || cut >= entry.source.size()) return false;
    const bool splits = cp932::IsLeadByte(static_cast<std::uint8_t>(entry.source[cut - 1])) &&
                        entry.source[cut] != '\0';
    if (splits != entry.carried[i]) return false;
  }
  return true;
}

// `line` padded with spaces to `width` columns.
[[nodiscard]] inline std::string PaddedTo(std::string_view line, std::size_t width) {
  std::string padded(line);
  if (padded.size() < width) padded.append(width - padded.size(), ' ');
  return padded;
}

// The printed form of a line number: zero-padded to at least 7 digits.
[[nodiscard]] inline std::string PrintedNumber(std::uint64_t number) {
  std::string digits = std::to_string(number);
  if (digits.size() < 7) digits.insert(0, 7 - digits.size(), '0');
  return digits;
}

}  // namespace vesmer::fuzzing
