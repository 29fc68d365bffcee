// The comparison result list: each listed differing pair in 100-column segments under the
// ruler, the source ("-O:"), destination ("-C:") and marker ("-R:") lines, "?" under every
// differing byte.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <string_view>

#include "core/job.h"
#include "core/record_sink.h"
#include "core/run_observer.h"
#include "platform/files.h"

namespace vesmer {

// One pair to list. A line without a partner is listed against an empty one.
struct ListedPair {
  std::string_view source_line;  // the bytes shown, as read
  std::string_view destination_line;
  // The bytes differences are judged on: the comparison bytes, or the raw comparison bytes when
  // the job compares bytes.
  std::string_view source_comparison;
  std::string_view destination_comparison;
  // The length of the line bytes (the line re-encoded), or of the line as read when the job
  // compares bytes.
  std::size_t source_width = 0;
  std::size_t destination_width = 0;
  std::int64_t number = 0;  // the line number printed on every line of the entry
  // Columns from here on hold only padding that is not compared (the two inputs are of
  // different formats): never marked.
  std::size_t padding_from = static_cast<std::size_t>(-1);

  // The pair of two records, or of one record and an empty partner (a null record), numbered
  // with `number`.
  [[nodiscard]] static ListedPair Of(const Record* source, const Record* destination,
                                     std::int64_t number);

  // Columns of the entry: the longer line; the columns both lines have.
  [[nodiscard]] std::size_t max() const;
  [[nodiscard]] std::size_t min() const;
  // Appends the marker of 0-based columns [from, to) (to <= max()): "?" where the comparison
  // bytes differ and past the shorter line, " " elsewhere.
  void AppendMarker(std::size_t from, std::size_t to, std::string& out) const;
  // The same, put at `dst`, which has room for to - from bytes.
  void PutMarker(std::size_t from, std::size_t to, char* dst) const;
};

// Writes entries into an open result list file.
class ResultListWriter {
 public:
  // `scale` is the ruler text in code page 932 bytes. With `display`, every segment is shown
  // to the observer; after every segment it is told so and asked whether to stop.
  ResultListWriter(OutputFile& file, std::string scale, bool display, RunObserver& observer)
      : file_(file),
        scale_line_(std::string(14, ' ') + scale),
        display_(display),
        observer_(observer) {}

  // Writes one entry. Returns false when the observer asked the run to stop; the entry is still
  // written whole.
  bool Write(const PairDiff& diff);
  bool Write(const ListedPair& pair);

 private:
  // Appends the shown bytes of 0-based columns [from, to), padded with spaces.
  void AppendShown(std::string_view line, std::size_t from, std::size_t to);

  OutputFile& file_;
  std::string scale_line_;
  bool display_;
  RunObserver& observer_;
  std::string segments_[3];  // the source, destination and marker segment at hand
  std::string line_;
};

// Feeds the result list of a run (kind 5): one entry per differing pair when kind 2 or kind 3
// is selected, and one per line-mode line without a partner when its own kind is selected.
class ResultListSink : public RecordSink {
 public:
  ResultListSink(const ComparisonJob& job, OutputFile& file, RunObserver& observer);

  void OnPair(const Record& source, const Record& destination, PairVerdict verdict,
              const PairDiff* diff) override;
  void OnLoneLine(const Record& record, const PairDiff& diff) override;

  // Entries written, and of those the ones that reached the file whole (fewer after a failed
  // write); whether the observer asked the run to stop.
  [[nodiscard]] std::int64_t entries() const { return entries_; }
  [[nodiscard]] std::int64_t entries_reached() const;
  [[nodiscard]] bool stop_requested() const { return stop_; }

 private:
  void Write(const PairDiff& diff);

  const ComparisonJob& job_;
  OutputFile& file_;
  ResultListWriter writer_;
  // Where the entries end in the file that may not have reached it yet (at most a buffer's
  // worth: older ones are dropped as writes succeed).
  std::deque<std::uint64_t> pending_ends_;
  std::int64_t entries_ = 0;
  bool stop_ = false;
  std::string entry_;  // a field-list entry, kept from entry to entry
};

// The fields of a differing pair of decoded records that the field list shows, in its order:
// for records of fields, each compared field whose texts differ (one that a record lacks too),
// named by the header or as "N列目"; otherwise each of the job's ListFields whose texts differ,
// or, when none does, the whole records as "レコード" with their comparison texts. `each` gets
// the name (UTF-8) and the two values (PairDiff::ShownTexts).
using ListedFieldVisitor = std::function<void(std::string_view name, std::u16string_view source,
                                              std::u16string_view destination)>;
void ForEachListedField(const ComparisonJob& job, const PairDiff& diff,
                        const ListedFieldVisitor& each);

// The entry of a differing pair of decoded records in the field list (code page 932 bytes,
// CR LF ends): a heading with the list number, the records' numbers and the key, then a line
// for each differing field (the job's ListFields, else the whole record) with its name and the
// two values; characters code page 932 lacks as U+XXXX, control bytes and bytes that are no
// character as \xNN.
void AppendFieldEntry(const ComparisonJob& job, const PairDiff& diff, std::string& out);

// Whether the cut after 1-based column `p` (p < padded.size()) would split a double-byte
// character of the padded source line, so the segment takes column p + 1 too.
[[nodiscard]] bool CutCarries(std::string_view padded_source, std::size_t p);

// A segment of the progress display as text (UTF-8): decoded from code page 932, with each
// full-width space shown as "□" on the record lines (not on the marker line).
[[nodiscard]] std::string DisplayText(std::string_view segment, bool record_line);

}  // namespace vesmer
