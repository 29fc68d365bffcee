// Words the run plan's messages share: the sides' names and lists of field names.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

#include "platform/unicode.h"

namespace vesmer::plan_words {

inline std::string SideName(std::size_t i) { return i == 0 ? "比較元" : "比較先"; }

// Names for a message: "A, B".
inline std::string NameList(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) {
    if (!text.empty()) text += ", ";
    text += ShownText(name);
  }
  return text;
}

inline bool Contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

}  // namespace vesmer::plan_words
