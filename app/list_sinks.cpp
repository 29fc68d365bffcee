#include "list_sinks.h"

#include <algorithm>
#include <string>

#include "core/pair_diff.h"
#include "formats/typed_fields.h"

namespace vesmer {
namespace {

// "比較元" and "比較先" in code page 932.
constexpr const char* kSideLabels[2] = {"\x94\xe4\x8a\x72\x8c\xb3", "\x94\xe4\x8a\x72\x90\xe6"};

}  // namespace

void DuplicatesSink::OnRepeatedKey(const Record& record) {
  line_.assign(kSideLabels[Index(record.side())]);
  line_.push_back('\t');
  line_.append(std::to_string(record.line_number()));
  line_.push_back('\t');
  line_.append(record.raw());
  file_.AppendLine(line_);
}

void ExpectedListSink::OnPair(const Record& /*source*/, const Record& /*destination*/,
                              PairVerdict verdict, const PairDiff* diff) {
  if (verdict != PairVerdict::kExpected) return;
  if (diff->decoded()) {
    entry_.clear();
    AppendFieldEntry(job_, *diff, entry_);
    file_.Append(entry_);
    return;
  }
  (void)writer_.Write(*diff);
}

void InvalidNumbersSink::OnPair(const Record& source, const Record& destination,
                                PairVerdict verdict, const PairDiff* /*diff*/) {
  if (verdict == PairVerdict::kEqual) return;
  Count(source);
  Count(destination);
}

void InvalidNumbersSink::OnLoneLine(const Record& record, const PairDiff& /*diff*/) {
  Count(record);
}

void InvalidNumbersSink::Count(const Record& record) {
  if (!record.decoded()) return;
  const DecodedRecord& text = record.Text();
  const std::size_t side = Index(record.side());
  const std::size_t n = std::min({text.numbers.size(), counts_.size(), text.fields});
  for (std::size_t f = 0; f < n; ++f) {
    if (text.numbers[f] == 0 || Lacks(text, f)) continue;
    const std::u16string_view value = FieldText(text, static_cast<std::int32_t>(f + 1), 1);
    if (!IsNumberText(value)) ++counts_[f][side];
  }
}

}  // namespace vesmer
