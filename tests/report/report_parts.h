// Parts of report data for the report's tests: pairs marked by the result list's own marker
// code, and fields.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/result_list.h"
#include "report/report.h"

namespace vesmer::testing {

// A pair as the comparison lists it: the marker from the result list's own marker code.
inline ReportPair MakePair(const std::string& source, const std::string& destination,
                           std::int64_t number, std::vector<int> differing_fields = {}) {
  ListedPair listed;
  listed.source_line = listed.source_comparison = source;
  listed.destination_line = listed.destination_comparison = destination;
  listed.source_width = source.size();
  listed.destination_width = destination.size();
  listed.number = number;
  ReportPair pair;
  pair.source_line = source;
  pair.destination_line = destination;
  listed.AppendMarker(0, listed.max(), pair.marker);
  pair.number = number;
  pair.differing_fields = std::move(differing_fields);
  return pair;
}

inline ReportField MakeField(const std::string& name, int start, int length, char attribute,
                             std::int64_t differing = 0) {
  ReportField f;
  f.name = name;
  f.start = start;
  f.length = length;
  f.attribute = attribute;
  f.differing = differing;
  return f;
}

}  // namespace vesmer::testing
