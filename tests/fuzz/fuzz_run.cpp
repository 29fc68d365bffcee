// The whole comparison run on arbitrary inputs and options. Checks the summary's own rules (every
// record read is classified once, written equals found for a selected kind, unselected files are
// never made, the outcome follows from what was found), the layout of every result file, and all
// of it against a plain model of the run built from the definitions: lines end at CR or CR LF,
// keys are the decoded key columns in UTF-16 order, two records match when their comparison
// texts decode alike. A second run on the same files must write the same bytes.
//
// Input layout: byte 0 holds the options (bit 0 key mode, bit 1 a second key range, bit 2
// omitted columns, bit 3 a second omitted range, bit 4 SpaceCompare, bit 5 ArrangeLength,
// bit 6 the display, bit 7 a ruler of double-byte characters); bits 0-3 of byte 1 select the
// result kinds 2 to 5, bit 4 makes the destination the source changed by the destination's
// bytes; bytes 2-9 are four ranges as start and length bytes (two key ranges, two
// omitted ranges); bytes 10-11 the length of the source (little endian, modulo what is left);
// then the source and the destination.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/comparison_run.h"
#include "core/job.h"
#include "core/result_names.h"
#include "platform/cp932.h"
#include "tests/fuzz/listed_entries.h"
#include "tests/fuzz/scratch_folder.h"

namespace {

using vesmer::ComparisonJob;
using vesmer::OutputKind;
using vesmer::RunOutcome;
using vesmer::RunSummary;

constexpr std::size_t kHeader = 12;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_run: %s\n", what.c_str());
  std::abort();
}

void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

const std::string& Folder() { return vesmer::fuzzing::ScratchFolder("fuzz_run"); }

void WriteWhole(const std::string& path, std::string_view bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) Fail("open for writing " + path);
  for (std::size_t done = 0; done < bytes.size();) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) Fail("write " + path);
    done += static_cast<std::size_t>(put);
  }
  if (::close(fd) != 0) Fail("close " + path);
}

void Remove(const std::string& path) {
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) Fail("unlink " + path);
}

class SilentObserver : public vesmer::RunObserver {
 public:
  explicit SilentObserver(bool display = false) : display_(display) {}
  [[nodiscard]] bool ShowsListedPairs() const override { return display_; }

 private:
  bool display_;
};

// ---- The model -------------------------------------------------------------------------------

struct Line {
  std::string_view raw;
  std::size_t end = 0;  // offset just past its line end
};

// A line ends at CR or CR LF; a lone LF belongs to the line; bytes after the last line end are
// one more line.
std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t cr = text.find('\r', start);
    if (cr == std::string_view::npos) {
      lines.push_back({text.substr(start), text.size()});
      break;
    }
    std::size_t next = cr + 1;
    if (next < text.size() && text[next] == '\n') ++next;
    lines.push_back({text.substr(start, cr - start), next});
    start = next;
  }
  return lines;
}

std::string Canonical(std::string_view raw) {
  std::string scratch;
  return std::string(vesmer::cp932::Canonical(raw, scratch));
}

// The comparison bytes before alignment: the line as Windows holds it, every full-width space
// (found by a character walk) made two spaces, omitted ranges that lie within the line blanked.
std::string ComparisonOf(std::string_view raw, const ComparisonJob& job) {
  std::string bytes = Canonical(raw);
  if (job.SpaceCompare) {
    for (std::size_t i = 0; i < bytes.size();) {
      const std::size_t n = vesmer::cp932::CharLength(bytes.data() + i, bytes.size() - i);
      if (n == 2 && bytes[i] == '\x81' && bytes[i + 1] == '\x40') bytes.replace(i, 2, "  ");
      i += n;
    }
  }
  if (job.UseOmit) {
    for (const vesmer::ColumnRange& r : job.OmitColumns) {
      if (r.Start == 0) break;
      if (static_cast<std::size_t>(r.End) > bytes.size()) continue;
      std::fill(bytes.begin() + (r.Start - 1), bytes.begin() + r.End, ' ');
    }
  }
  return bytes;
}

// The key: each key range cut from the line as Windows holds it, decoded by itself.
std::u16string KeyOf(std::string_view raw, const ComparisonJob& job) {
  const std::string line = Canonical(raw);
  std::u16string key;
  for (const vesmer::ColumnRange& r : job.KeyColumns) {
    if (r.Start == 0) break;
    const std::size_t first = static_cast<std::size_t>(r.Start) - 1;
    if (first >= line.size()) continue;
    key += vesmer::cp932::Decode(
        std::string_view(line).substr(first, static_cast<std::size_t>(r.End - r.Start) + 1));
  }
  return key;
}

struct ModelEntry {
  std::int64_t number = 0;
  std::string source;  // padded to the entry's columns
  std::string destination;
  std::string marker;
};

struct Model {
  RunOutcome outcome = RunOutcome::kNoDifferences;
  std::array<std::int64_t, 2> lines{};
  std::array<std::uint64_t, 2> bytes{};
  std::array<std::int64_t, 2> repeated_records{};
  std::array<std::int64_t, 2> repeated_keys{};
  std::array<std::int64_t, vesmer::kOutputKinds> found{};
  std::array<std::string, 5> files;  // what each of kinds 0 to 4 holds when selected
  std::int64_t listed = 0;           // entries the result list receives, empty ones too
  std::vector<ModelEntry> entries;   // the entries that show in the list
};

struct ModelSide {
  std::vector<Line> lines;
  std::uint64_t size = 0;
  std::size_t next = 0;
  bool has = false;
  bool exhausted = false;
  std::string_view raw;
  std::u16string key;
  bool has_previous = false;
  bool previous_repeated = false;
  std::int64_t repeated_records = 0;
  std::int64_t repeated_keys = 0;
};

class ModelRun {
 public:
  ModelRun(const ComparisonJob& job, std::string_view source, std::string_view destination)
      : job_(job) {
    sides_[0].lines = SplitLines(source);
    sides_[0].size = source.size();
    sides_[1].lines = SplitLines(destination);
    sides_[1].size = destination.size();
  }

  Model Run() {
    ModelSide& s = sides_[0];
    ModelSide& d = sides_[1];
    Read(s);
    Read(d);
    while (s.has || d.has) {
      if (out_of_order_) break;
      if (job_.UseKey && s.has && d.has) {
        if (d.key < s.key) {
          Unmatched(d, OutputKind::kDestinationUnmatched);
          Read(d);
        } else if (s.key < d.key) {
          Unmatched(s, OutputKind::kSourceUnmatched);
          Read(s);
        } else {
          Pair(s, d);
          Read(s);
          Read(d);
        }
      } else if (job_.UseKey) {
        ModelSide& one = s.has ? s : d;
        Unmatched(one, s.has ? OutputKind::kSourceUnmatched : OutputKind::kDestinationUnmatched);
        Read(one);
      } else if (s.has && d.has) {
        Pair(s, d);
        Read(s);
        Read(d);
      } else {
        const bool source = s.has;
        Lone(source ? s : d, source);
        Read(source ? s : d);
      }
    }
    for (std::size_t i = 0; i < 2; ++i) {
      const ModelSide& side = sides_[i];
      model_.lines[i] = static_cast<std::int64_t>(side.next);
      model_.bytes[i] = side.exhausted   ? side.size
                        : side.next == 0 ? 0
                                         : side.lines[side.next - 1].end;
      model_.repeated_records[i] = side.repeated_records;
      model_.repeated_keys[i] = side.repeated_keys;
    }
    bool differences = false;
    for (std::size_t k = 0; k < 4; ++k) differences = differences || model_.found[k] > 0;
    model_.outcome = out_of_order_ ? RunOutcome::kOutOfOrder
                     : differences ? RunOutcome::kDifferences
                                   : RunOutcome::kNoDifferences;
    return model_;
  }

 private:
  void Read(ModelSide& side) {
    if (side.next >= side.lines.size()) {
      side.has = false;
      side.exhausted = true;
      return;
    }
    side.raw = side.lines[side.next++].raw;
    side.has = true;
    if (!job_.UseKey) return;
    std::u16string key = KeyOf(side.raw, job_);
    bool repeated = false;
    if (side.has_previous) {
      // A key after an empty one is never out of order.
      if (key < side.key && !side.key.empty()) out_of_order_ = true;
      repeated = key == side.key;
    }
    side.key = std::move(key);
    side.has_previous = true;
    if (repeated) {
      ++side.repeated_records;
      if (!side.previous_repeated) ++side.repeated_keys;
    }
    side.previous_repeated = repeated;
  }

  void Put(OutputKind kind, std::string_view raw) {
    model_.files[vesmer::Index(kind)].append(raw).append("\r\n");
  }

  void Unmatched(const ModelSide& side, OutputKind kind) {
    ++model_.found[vesmer::Index(kind)];
    Put(kind, side.raw);
  }

  void Pair(const ModelSide& s, const ModelSide& d) {
    std::string a = ComparisonOf(s.raw, job_);
    std::string b = ComparisonOf(d.raw, job_);
    if (job_.ArrangeLength) {
      const std::size_t n = std::min(a.size(), b.size());
      a.resize(n);
      b.resize(n);
    }
    // The texts decide, code unit for code unit.
    if (vesmer::cp932::Decode(a) == vesmer::cp932::Decode(b)) {
      ++model_.found[vesmer::Index(OutputKind::kMatching)];
      Put(OutputKind::kMatching, s.raw);
      return;
    }
    ++model_.found[vesmer::Index(OutputKind::kSourceDiffers)];
    ++model_.found[vesmer::Index(OutputKind::kDestinationDiffers)];
    ++model_.found[vesmer::Index(OutputKind::kResultList)];
    Put(OutputKind::kSourceDiffers, s.raw);
    Put(OutputKind::kDestinationDiffers, d.raw);
    if (job_.OutputSelected[OutputKind::kSourceDiffers] ||
        job_.OutputSelected[OutputKind::kDestinationDiffers]) {
      List(static_cast<std::int64_t>(s.next), s.raw, d.raw, Canonical(s.raw).size(),
           Canonical(d.raw).size(), a, b);
    }
  }

  void Lone(const ModelSide& side, bool source) {
    const OutputKind kind = source ? OutputKind::kSourceDiffers : OutputKind::kDestinationDiffers;
    ++model_.found[vesmer::Index(kind)];
    ++model_.found[vesmer::Index(OutputKind::kResultList)];
    Put(kind, side.raw);
    if (!job_.OutputSelected[kind]) return;
    const std::size_t width = Canonical(side.raw).size();
    const std::string comparison = ComparisonOf(side.raw, job_);
    const auto number = static_cast<std::int64_t>(side.next);
    if (source) {
      List(number, side.raw, {}, width, 0, comparison, {});
    } else {
      List(number, {}, side.raw, 0, width, {}, comparison);
    }
  }

  // An entry: its columns are the longest of the widths and the lines as read; "?" under every
  // column past the shorter width and wherever the comparison bytes differ or end.
  void List(std::int64_t number, std::string_view source, std::string_view destination,
            std::size_t source_width, std::size_t destination_width, std::string_view a,
            std::string_view b) {
    ++model_.listed;
    const std::size_t max =
        std::max({source_width, destination_width, source.size(), destination.size()});
    if (max == 0) return;
    const std::size_t min = std::min(source_width, destination_width);
    ModelEntry entry;
    entry.number = number;
    entry.source = vesmer::fuzzing::PaddedTo(source, max);
    entry.destination = vesmer::fuzzing::PaddedTo(destination, max);
    for (std::size_t c = 0; c < max; ++c) {
      const bool same = c < min && c < a.size() && c < b.size() && a[c] == b[c];
      entry.marker.push_back(same ? ' ' : '?');
    }
    model_.entries.push_back(std::move(entry));
  }

  const ComparisonJob& job_;
  std::array<ModelSide, 2> sides_;
  bool out_of_order_ = false;
  Model model_;
};

// ---- The run and its checks ------------------------------------------------------------------

constexpr const char* kRuler =
    "....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*"
    "....+....#";
// Full-width digits 1 to 9 and 0, in UTF-8 for the job and in code page 932 in the list.
constexpr const char* kWideRulerUtf8 =
    "\xEF\xBC\x91\xEF\xBC\x92\xEF\xBC\x93\xEF\xBC\x94\xEF\xBC\x95\xEF\xBC\x96\xEF\xBC\x97"
    "\xEF\xBC\x98\xEF\xBC\x99\xEF\xBC\x90";
constexpr const char* kWideRulerCp932 =
    "\x82\x50\x82\x51\x82\x52\x82\x53\x82\x54\x82\x55\x82\x56\x82\x57\x82\x58\x82\x4F";

// What a run left behind, for the second run to match.
struct Outcome {
  RunOutcome outcome = RunOutcome::kSetupFailed;
  std::array<std::int64_t, 2> lines{};
  std::array<std::uint64_t, 2> bytes{};
  std::array<std::int64_t, vesmer::kOutputKinds> found{}, written{};
  std::array<std::optional<std::string>, vesmer::kOutputKinds> files;
  friend bool operator==(const Outcome&, const Outcome&) = default;
};

Outcome Collect(const RunSummary& s, const ComparisonJob& job) {
  Outcome o;
  o.outcome = s.outcome;
  for (std::size_t i = 0; i < 2; ++i) {
    o.lines[i] = s.inputs[i].lines;
    o.bytes[i] = s.inputs[i].bytes;
  }
  for (std::size_t k = 0; k < vesmer::kOutputKinds; ++k) {
    o.found[k] = s.outputs.values[k].found;
    o.written[k] = s.outputs.values[k].written;
    o.files[k] = vesmer::fuzzing::ReadWhole(job.ResultPath[k]);
  }
  return o;
}

std::size_t Count(std::string_view bytes, char c) {
  return static_cast<std::size_t>(std::count(bytes.begin(), bytes.end(), c));
}

void CheckRun(const RunSummary& s, const Outcome& o, const ComparisonJob& job, const Model& model,
              std::string_view ruler_line) {
  const bool completed =
      s.outcome == RunOutcome::kNoDifferences || s.outcome == RunOutcome::kDifferences;
  if (!completed && s.outcome != RunOutcome::kOutOfOrder) {
    Fail("the run did not complete: " + s.error.what());
  }
  Check(completed || job.UseKey, "out of order in line mode");
  Check(s.error.ok(), "an error on a run that ended well");
  const auto& f = o.found;
  const auto& w = o.written;

  // Every record read is classified once; on an out-of-order end the record that broke the
  // order (and its partner's successor) stay unclassified.
  const std::int64_t source_classified = f[0] + f[2] + f[4];
  const std::int64_t destination_classified = f[1] + f[3] + f[4];
  if (completed) {
    Check(source_classified == o.lines[0], "source records classified != lines read");
    Check(destination_classified == o.lines[1], "destination records classified != lines read");
    bool differences = false;
    for (std::size_t k = 0; k < 4; ++k) differences = differences || f[k] > 0;
    Check((s.outcome == RunOutcome::kDifferences) == differences, "outcome against found");
  } else {
    Check(source_classified <= o.lines[0], "more source records classified than read");
    Check(destination_classified <= o.lines[1], "more destination records classified than read");
  }
  if (!job.UseKey) Check(f[0] == 0 && f[1] == 0, "unmatched records in line mode");

  for (std::size_t k = 0; k < vesmer::kOutputKinds; ++k) {
    const vesmer::OutputSummary& out = s.outputs.values[k];
    const bool selected = job.OutputSelected.values[k];
    Check(out.selected == selected, "selected in the summary");
    if (!selected) {
      Check(w[k] == 0 && !out.created, "an unselected kind was written");
      Check(!o.files[k].has_value(), "an unselected result file exists");
      continue;
    }
    Check(out.created && out.complete && o.files[k].has_value(), "a selected file is missing");
    if (k == vesmer::Index(OutputKind::kResultList)) continue;
    Check(w[k] == f[k], "written != found for a selected kind");
    // A record never holds a CR, and every record line ends with CR LF.
    const std::string& bytes = *o.files[k];
    Check(Count(bytes, '\r') == static_cast<std::size_t>(w[k]), "CRs in a file != written");
    Check(bytes.empty() || bytes.ends_with("\r\n"), "a result file does not end with CR LF");
  }

  // The model, which knows what every file should hold.
  Check(s.outcome == model.outcome, "outcome differs from the model");
  for (std::size_t i = 0; i < 2; ++i) {
    Check(o.lines[i] == model.lines[i], "lines read differ from the model");
    Check(o.bytes[i] == model.bytes[i], "bytes read differ from the model");
    Check(s.inputs[i].repeated_records == model.repeated_records[i] &&
              s.inputs[i].repeated_keys == model.repeated_keys[i],
          "repeated keys differ from the model");
  }
  for (std::size_t k = 0; k < vesmer::kOutputKinds; ++k) {
    Check(f[k] == model.found[k], "found differs from the model for kind " + std::to_string(k));
  }
  for (std::size_t k = 0; k < 5; ++k) {
    if (!job.OutputSelected.values[k]) continue;
    Check(*o.files[k] == model.files[k],
          "result file differs from the model, kind " + std::to_string(k));
  }

  if (!job.OutputSelected[OutputKind::kResultList]) return;
  const std::size_t list_index = vesmer::Index(OutputKind::kResultList);
  Check(w[list_index] == model.listed, "result list entries differ from the model");
  // An entry for an empty line without a partner is counted as written but writes no segment
  // (ComparisonRunTest.EmptyLinePastTheShorterFileIsAnEntryTheListShows). Until the list shows
  // such entries, lists that hold one are not compared.
  if (static_cast<std::size_t>(model.listed) != model.entries.size()) return;
  std::vector<vesmer::fuzzing::ListedEntry> entries;
  std::string error;
  if (!vesmer::fuzzing::ReadListedEntries(*o.files[list_index], ruler_line, entries, error)) {
    Fail("result list: " + error);
  }
  Check(static_cast<std::int64_t>(entries.size()) == w[list_index],
        "entries in the result list != written");
  Check(entries.size() == model.entries.size(), "entries shown differ from the model");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const vesmer::fuzzing::ListedEntry& got = entries[i];
    const ModelEntry& want = model.entries[i];
    Check(got.number == vesmer::fuzzing::PrintedNumber(static_cast<std::uint64_t>(want.number)),
          "entry number");
    Check(got.source == want.source, "entry source line");
    Check(got.destination == want.destination, "entry destination line");
    Check(got.marker == want.marker, "entry marker");
    Check(vesmer::fuzzing::CutsCarryAsDefined(got), "a segment cut carries wrongly");
  }
}

void RemoveAll(const ComparisonJob& job) {
  for (const std::string& path : job.ResultPath) Remove(path);
  for (const std::string& path : job.InputData) Remove(path);
}

}  // namespace

// Every run takes and gives back megabytes of read and write buffers. Clearing their shadow by
// remapping it makes each run stall on TLB shootdowns across the reader threads; clearing it by
// memset is several times faster and finds the same faults.
extern "C" const char* __asan_default_options() { return "clear_shadow_mmap_threshold=1073741824"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  const std::uint8_t options = data[0];
  const std::uint8_t kinds = data[1];
  const auto range = [&](std::size_t at) {
    const std::int32_t start = 1 + data[at] % 24;
    return vesmer::ColumnRange{start, start + data[at + 1] % 8};
  };
  const std::string_view rest(reinterpret_cast<const char*>(data) + kHeader, size - kHeader);
  const std::size_t split = (data[10] | std::size_t{data[11]} << 8) % (rest.size() + 1);
  const std::string_view source = rest.substr(0, split);
  // Either the destination as given, or the source with the given bytes added in (zero bytes
  // keep the source's), so that pairs which differ in a byte or two are common.
  std::string destination(rest.substr(split));
  if ((kinds & 16) != 0) {
    std::string changed(source);
    for (std::size_t i = 0; i < destination.size(); ++i) {
      if (i < changed.size()) {
        changed[i] = static_cast<char>(changed[i] ^ destination[i]);
      } else {
        changed.push_back(destination[i]);
      }
    }
    destination.swap(changed);
  }

  ComparisonJob job;
  job.InputData = {Folder() + "/a.prn", Folder() + "/b.prn"};
  job.ResultPath = vesmer::MakeResultPaths(job.InputData[0]);
  job.UseKey = (options & 1) != 0;
  if (job.UseKey) {
    job.KeyColumns[0] = range(2);
    if ((options & 2) != 0) job.KeyColumns[1] = range(4);
  }
  job.UseOmit = (options & 4) != 0;
  if (job.UseOmit) {
    job.OmitColumns[0] = range(6);
    if ((options & 8) != 0) job.OmitColumns[1] = range(8);
    // The start checks refuse key and omitted columns that overlap.
    if (job.UseKey && !vesmer::CheckRangeOverlap(job.KeyColumns, job.OmitColumns)) {
      job.UseOmit = false;
      job.OmitColumns.Clear();
    }
  }
  job.SpaceCompare = (options & 16) != 0;
  job.ArrangeLength = (options & 32) != 0;
  const bool display = (options & 64) != 0;
  job.Scale = (options & 128) != 0 ? kWideRulerUtf8 : kRuler;
  const std::string ruler_line =
      std::string(14, ' ') + ((options & 128) != 0 ? kWideRulerCp932 : kRuler);
  job.OutputSelected[OutputKind::kSourceUnmatched] = job.UseKey;
  job.OutputSelected[OutputKind::kDestinationUnmatched] = job.UseKey;
  for (std::size_t k = 2; k < vesmer::kOutputKinds; ++k) {
    job.OutputSelected.values[k] = (kinds >> (k - 2) & 1) != 0;
  }

  WriteWhole(job.InputData[0], source);
  WriteWhole(job.InputData[1], destination);
  const Model model = ModelRun(job, source, destination).Run();

  SilentObserver observer(display);
  const RunSummary first = vesmer::RunComparison(job, observer);
  const Outcome first_outcome = Collect(first, job);
  CheckRun(first, first_outcome, job, model, ruler_line);

  // The same inputs again, from no result files at all: the same bytes.
  for (const std::string& path : job.ResultPath) Remove(path);
  const RunSummary second = vesmer::RunComparison(job, observer);
  Check(Collect(second, job) == first_outcome, "a second run differs from the first");

  RemoveAll(job);
  return 0;
}
