// The result list writer on one arbitrary pair: the entry comes out in groups of four lines
// (ruler, "-O:", "-C:", "-R:"), its segments counted from 000 and every tagged line led by the
// zero-padded number; joined again, the segments give the shown lines padded to the entry's
// columns and a marker with "?" exactly past the shorter width and where the comparison bytes
// differ or end; a cut carries exactly when it would split a byte pair; what the display is shown
// is what the file receives; a stop request still lets the entry be written whole.
//
// Input layout: byte 0 holds the options (bits 0-1 how the source comparison bytes are made,
// bits 2-3 the destination's: 0 the shown line, 1 bytes of their own, 2 the shown line with
// those bytes added in, 3 the shown line cut short; bit 4 the display; bit 5 the entry written
// twice; bits 6-7 the ruler); byte 1 the segment from which the observer asks to stop (0:
// never); bytes 2-3 how much wider than the shown lines the widths are; bytes 4-8 the number
// (little endian); bytes 9-10 and 11-12 the marker columns [from, to) asked for directly;
// bytes 13-18 three lengths (little endian, each modulo what is left): the source line, the
// destination line (a CR in either becomes an LF) and the source's own comparison bytes; the
// destination's own comparison bytes are the rest. Bytes 19 and 20, when not 0, repeat the
// source and the destination line to 90 columns and as many more as the byte says, so that
// short patterns of lead and trail bytes fall on every cut.
#include <fcntl.h>
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

#include "core/result_list.h"
#include "platform/files.h"
#include "tests/fuzz/listed_entries.h"
#include "tests/fuzz/scratch_folder.h"

namespace {

constexpr std::size_t kHeader = 21;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_result_list: %s\n", what.c_str());
  std::abort();
}

void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

const std::string& ListPath() {
  static const std::string path = vesmer::fuzzing::ScratchFolder("fuzz_result_list") + "/a_5.TXT";
  return path;
}

// Records what the writer shows and tells; asks to stop from segment `stop_from` on.
class Observer : public vesmer::RunObserver {
 public:
  explicit Observer(int stop_from) : stop_from_(stop_from) {}
  void OnListedSegment(std::string_view source, std::string_view destination,
                       std::string_view marker) override {
    shown.push_back({std::string(source), std::string(destination), std::string(marker)});
  }
  void OnSegmentWritten() override { ++segments; }
  bool StopRequested() override {
    const bool stop = stop_from_ > 0 && segments >= stop_from_;
    answered_stop = answered_stop || stop;
    return stop;
  }
  std::vector<std::array<std::string, 3>> shown;
  int segments = 0;
  bool answered_stop = false;  // StopRequested() answered true since this was last cleared

 private:
  int stop_from_;
};

std::size_t Take16(const std::uint8_t* at, std::size_t left) {
  return (at[0] | std::size_t{at[1]} << 8) % (left + 1);
}

// The comparison bytes of one side by `mode` (see the input layout).
std::string ComparisonBytes(int mode, std::string_view line, std::string_view own) {
  switch (mode) {
    case 0:
      return std::string(line);
    case 1:
      return std::string(own);
    case 2: {
      std::string bytes(line);
      for (std::size_t i = 0; i < bytes.size() && i < own.size(); ++i) bytes[i] ^= own[i];
      return bytes;
    }
    default:
      return std::string(line.substr(0, own.size() % (line.size() + 1)));
  }
}

constexpr std::array<std::string_view, 4> kRulers = {
    "....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*"
    "....+....#",
    "",
    "\x82\x50\x82\x51\x82\x52\x82\x53\x82\x54\x82\x55\x82\x56\x82\x57\x82\x58\x82\x4F",
    "....+",
};

}  // namespace

// Every entry goes through a file with a write buffer of a megabyte, taken and given back each
// time: clearing the buffer's shadow by memset rather than by remapping is several times faster
// and finds the same faults.
extern "C" const char* __asan_default_options() { return "clear_shadow_mmap_threshold=1073741824"; }

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < kHeader) return 0;
  const std::uint8_t options = data[0];
  std::uint64_t number = 0;
  for (int i = 4; i >= 0; --i) number = number << 8 | data[4 + i];
  std::string_view rest(reinterpret_cast<const char*>(data) + kHeader, size - kHeader);
  const auto take = [&rest](const std::uint8_t* at) {
    const std::string_view piece = rest.substr(0, Take16(at, rest.size()));
    rest.remove_prefix(piece.size());
    return piece;
  };
  // A line as read never holds a CR (it ends the line); a lone LF stays in it.
  const auto as_read = [](std::string_view bytes, std::uint8_t repeat) {
    std::string line(bytes);
    if (repeat != 0 && !line.empty()) {
      const std::size_t length = 90 + std::size_t{repeat};
      while (line.size() < length) line.append(line, 0, length - line.size());
    }
    std::replace(line.begin(), line.end(), '\r', '\n');
    return line;
  };
  const std::string source_line = as_read(take(data + 13), data[19]);
  const std::string destination_line = as_read(take(data + 15), data[20]);
  const std::string_view source_own = take(data + 17);
  const std::string_view destination_own = rest;
  const std::string source_comparison = ComparisonBytes(options & 3, source_line, source_own);
  const std::string destination_comparison =
      ComparisonBytes(options >> 2 & 3, destination_line, destination_own);

  vesmer::ListedPair pair;
  pair.source_line = source_line;
  pair.destination_line = destination_line;
  pair.source_comparison = source_comparison;
  pair.destination_comparison = destination_comparison;
  pair.source_width = source_line.size() + data[2] % 64;
  pair.destination_width = destination_line.size() + data[3] % 64;
  pair.number = static_cast<std::int64_t>(number);

  // The entry's columns and the marker, from their definitions.
  const std::size_t max = std::max(pair.source_width, pair.destination_width);
  const std::size_t min = std::min(pair.source_width, pair.destination_width);
  Check(pair.max() == max && pair.min() == min, "max() or min()");
  std::string marker;
  for (std::size_t c = 0; c < max; ++c) {
    const bool same = c < min && c < source_comparison.size() &&
                      c < destination_comparison.size() &&
                      source_comparison[c] == destination_comparison[c];
    marker.push_back(same ? ' ' : '?');
  }

  // AppendMarker on its own, for any columns, appends and keeps what was there.
  {
    std::size_t from = (data[9] | std::size_t{data[10]} << 8) % (max + 1);
    std::size_t to = (data[11] | std::size_t{data[12]} << 8) % (max + 1);
    if (from > to) std::swap(from, to);
    std::string out = "kept";
    pair.AppendMarker(from, to, out);
    Check(out == "kept" + marker.substr(from, to - from), "AppendMarker on columns");
  }

  const std::string_view ruler = kRulers[options >> 6];
  const bool display = (options & 16) != 0;
  const int times = (options & 32) != 0 ? 2 : 1;
  Observer observer(data[1]);
  vesmer::OutputFile file;
  if (!file.Create(ListPath()).ok()) Fail("create the list file");
  vesmer::ResultListWriter writer(file, std::string(ruler), display, observer);
  for (int t = 0; t < times; ++t) {
    observer.answered_stop = false;
    const bool keep_going = writer.Write(pair);
    Check(keep_going == !observer.answered_stop,
          "Write() does not say whether the observer asked to stop");
  }
  if (!file.Close().ok()) Fail("close the list file");
  const std::optional<std::string> read = vesmer::fuzzing::ReadWhole(ListPath());
  if (!read) Fail("the list file is missing");
  const std::string& list = *read;
  if (::unlink(ListPath().c_str()) != 0) Fail("unlink the list file");

  // An entry has at least one segment, also for two empty lines.
  const std::size_t segments = std::max<std::size_t>(1, (max + 99) / 100);
  Check(observer.segments == static_cast<int>(segments) * times, "segments told");
  const std::string ruler_line = std::string(14, ' ') + std::string(ruler);
  std::vector<vesmer::fuzzing::ListedEntry> entries;
  std::string error;
  if (!vesmer::fuzzing::ReadListedEntries(list, ruler_line, entries, error)) {
    Fail("result list: " + error);
  }
  Check(entries.size() == static_cast<std::size_t>(times), "entries written");
  for (const vesmer::fuzzing::ListedEntry& entry : entries) {
    Check(entry.number == vesmer::fuzzing::PrintedNumber(number), "entry number");
    Check(entry.cuts.size() + 1 == segments, "segments in the entry");
    Check(entry.source == vesmer::fuzzing::PaddedTo(source_line, max), "source line");
    Check(entry.destination == vesmer::fuzzing::PaddedTo(destination_line, max),
          "destination line");
    Check(entry.marker == marker, "marker");
    Check(vesmer::fuzzing::CutsCarryAsDefined(entry), "a cut carries wrongly");
  }

  // The display is shown exactly the segments the file receives.
  if (!display) {
    Check(observer.shown.empty(), "segments shown without the display");
  } else {
    std::string expected;
    for (std::size_t i = 0; i < observer.shown.size(); ++i) {
      std::string prefix = vesmer::fuzzing::PrintedNumber(number) + " ";
      const std::string counter = std::to_string(i % segments);
      prefix += std::string(counter.size() < 3 ? 3 - counter.size() : 0, '0') + counter;
      expected += ruler_line + "\r\n";
      expected += prefix + "-O:" + observer.shown[i][0] + "\r\n";
      expected += prefix + "-C:" + observer.shown[i][1] + "\r\n";
      expected += prefix + "-R:" + observer.shown[i][2] + "\r\n";
    }
    Check(observer.shown.size() == segments * times, "segments shown");
    Check(list == expected, "the display differs from the file");
  }
  return 0;
}
