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
inline KeptPair MakePair(const std::string& source, const std::string& destination,
                         std::int64_t number, std::vector<int> differing_fields = {}) {
  ListedPair listed;
  listed.source_line = listed.source_comparison = source;
  listed.destination_line = listed.destination_comparison = destination;
  listed.source_width = source.size();
  listed.destination_width = destination.size();
  listed.number = number;
  KeptPair pair;
  pair.source_line = source;
  pair.destination_line = destination;
  listed.AppendMarker(0, listed.max(), pair.marker);
  pair.number = number;
  pair.differing_fields = std::move(differing_fields);
  return pair;
}

// A layout field and the differing pairs counted for it.
struct CountedField {
  std::string name;
  int start = 0;
  int length = 0;
  char attribute = 'X';
  std::int64_t differing = 0;
};

inline CountedField MakeField(const std::string& name, int start, int length, char attribute,
                              std::int64_t differing = 0) {
  return {name, start, length, attribute, differing};
}

inline void SetFields(ReportData& data, const std::vector<CountedField>& fields) {
  data.fields.clear();
  data.field_counts.clear();
  for (const CountedField& f : fields) {
    Field field;
    field.name = f.name;
    field.start = f.start;
    field.length = f.length;
    field.attribute = f.attribute;
    data.fields.push_back(field);
    data.field_counts.push_back(f.differing);
  }
}

// A rule line and the expected pairs it accepted.
struct CountedRule {
  int line = 0;
  std::string field, rule, value;
  std::int64_t pairs = 0;
};

inline void SetRules(ReportData& data, const std::vector<CountedRule>& rules) {
  data.rules.clear();
  data.rule_pairs.clear();
  for (const CountedRule& r : rules) {
    data.rules.push_back(RuleLine{r.line, r.field, r.rule, r.value});
    data.rule_pairs.push_back(r.pairs);
  }
}

// An input as the run summed it up and the evidence adds to it.
struct TestInput {
  std::string path;
  std::uint64_t size = 0;
  std::int64_t lines = 0;
  std::string sha256, utf8_original_path, utf8_original_sha256;
  std::int64_t repeated_records = 0, repeated_keys = 0;
  std::string absolute_path;
};

inline void SetInput(ReportData& data, std::size_t side, const TestInput& in) {
  InputSummary& run = data.run.inputs[side];
  run.path = in.path;
  run.bytes = in.size;
  run.lines = in.lines;
  run.repeated_records = in.repeated_records;
  run.repeated_keys = in.repeated_keys;
  data.inputs[side] = {in.sha256, in.absolute_path, in.utf8_original_path, in.utf8_original_sha256};
}

// Result file `kind` (0..5).
inline OutputSummary& Output(ReportData& data, int kind) {
  return data.run.outputs.values[static_cast<std::size_t>(kind)];
}

inline KeptRecord Unmatched(std::int64_t number, std::string line) {
  return KeptRecord{std::move(line), number};
}

}  // namespace vesmer::testing
