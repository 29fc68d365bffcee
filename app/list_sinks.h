// Lists a run writes besides its result files, fed as it goes: the records whose key repeats,
// and the pairs the rules accepted as result-list entries.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "core/record_sink.h"
#include "core/result_list.h"
#include "platform/files.h"

namespace vesmer {

// Writes every record whose key equals the key of the record before it: "比較元" or "比較先",
// a tab, the line number in the file as given, a tab, the record's bytes as read, CR LF; in
// code page 932 like the result files.
class DuplicatesSink : public RecordSink {
 public:
  explicit DuplicatesSink(OutputFile& file) : file_(file) {}
  void OnRepeatedKey(const Record& record) override;

 private:
  OutputFile& file_;
  std::string line_;
};

// Writes each expected pair (a difference the rules accept) as a result-list entry: of records
// compared as texts, as the field list's entry (AppendFieldEntry).
class ExpectedListSink : public RecordSink {
 public:
  ExpectedListSink(OutputFile& file, std::string scale_cp932, const ComparisonJob& job)
      : file_(file), job_(job), writer_(file, std::move(scale_cp932), false, quiet_) {}
  void OnPair(const Record& source, const Record& destination, PairVerdict verdict,
              const PairDiff* diff) override;
  [[nodiscard]] bool WantsExpectedPairs() const override { return true; }

 private:
  OutputFile& file_;
  const ComparisonJob& job_;
  RunObserver quiet_;  // shows nothing, never stops the run
  ResultListWriter writer_;
  std::string entry_;
};

// Counts, by field and side, the number fields that hold no number of their type, in records of
// typed fields (DecodedRecord::numbers): those of pairs that differ or that the rules accept,
// and of records without a partner. Pairs found equal are not counted: most are equal byte for
// byte and never decoded, and a field of no number equals only the same bytes. A field a record
// lacks (a short CSV record) is no field of that record.
class InvalidNumbersSink : public RecordSink {
 public:
  explicit InvalidNumbersSink(std::size_t fields) : counts_(fields) {}
  void OnUnmatched(const Record& record) override { Count(record); }
  void OnPair(const Record& source, const Record& destination, PairVerdict verdict,
              const PairDiff* diff) override;
  void OnLoneLine(const Record& record, const PairDiff& diff) override;
  [[nodiscard]] bool WantsExpectedPairs() const override { return true; }
  // By field (in the order of the records' fields), by side.
  [[nodiscard]] const std::vector<std::array<std::uint64_t, 2>>& counts() const { return counts_; }

 private:
  void Count(const Record& record);
  std::vector<std::array<std::uint64_t, 2>> counts_;
};

}  // namespace vesmer
