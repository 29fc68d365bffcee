// The read-ahead's notes of lines in order, against the same stretch worked out line by line.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <set>
#include <string>
#include <string_view>

#include "core/run.h"
#include "platform/fast_paths.h"
#include "tests/core/recording_observer.h"

namespace vesmer::detail {
namespace {

// That `note` is the stretch the chunk `bytes` holds: from the first line that starts in the
// chunk, the lines ended with CR LF whose keys (the bytes [start, start + length), all of the
// first `last` bytes ASCII) go up, and the length they share; no note where the first 16 lines
// are long ones, or keys end before column 8.
void ExpectNote(std::uint64_t note, std::string_view bytes, bool keyed, std::size_t start,
                std::size_t length) {
  // Keys that are not short ones (ending before column 8), or none looked at: no note.
  if (keyed && (!kFastPaths || start + length < 8)) {
    EXPECT_EQ(note, 0u);
    return;
  }
  const std::size_t cr = bytes.find('\r');
  if (cr == std::string_view::npos || cr + 1 >= bytes.size()) {
    EXPECT_EQ(note, 0u);
    return;
  }
  const std::size_t from = cr + (bytes[cr + 1] == '\n' ? 2 : 1);
  const std::size_t last = start + length;
  std::size_t to = from;
  std::string before(length, '\0');  // a first key of NULs alone starts no stretch
  std::set<std::size_t> lengths;     // of the lines taken, CR LF included
  for (std::size_t lines = 0;; ++lines) {
    if (lines == 16 && to - from >= 16 * 48) {
      EXPECT_EQ(note, 0u);
      return;
    }
    const std::size_t end = bytes.find('\r', to);
    if (end == std::string_view::npos || end + 1 >= bytes.size() || bytes[end + 1] != '\n') break;
    if (keyed) {
      const std::string_view line = bytes.substr(to, end - to);
      if (line.size() < last) break;
      bool ascii = true;
      for (std::size_t i = 0; i < last; ++i)
        ascii = ascii && static_cast<unsigned char>(line[i]) < 0x80;
      if (!ascii) break;
      const std::string key(line.substr(start, length));
      if (key <= before) break;
      before = key;
    }
    lengths.insert(end + 2 - to);
    to = end + 2;
  }
  // Lines of one length: which, when the note has room for it.
  const std::size_t one = lengths.size() == 1 ? *lengths.begin() : 0;
  EXPECT_EQ(OrderedLineMarks::From(note), from);
  EXPECT_EQ(OrderedLineMarks::To(note), to);
  EXPECT_EQ(OrderedLineMarks::Length(note), one <= OrderedLineMarks::kLongestLength ? one : 0);
}

// Chunks of lines of one length, as fixed-layout files hold, and what breaks them: a line of
// another length, a CR alone or inside a line, a byte that is no ASCII in the key's head, a key
// that repeats or falls, a line cut off by the chunk's end.
TEST(OrderedLineMarksTest, NotesAreTheStretchOfLinesInOrderWhateverBreaksIt) {
  std::mt19937 random(20261210);
  const auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  for (int round = 0; round < 3000; ++round) {
    const bool keyed = round % 4 != 0;
    // Bytes before each line's CR LF: now and then too many for the read-ahead to look at.
    const std::size_t body = 1 + below(round % 7 == 0 ? 70 : 24);
    const std::size_t length = 1 + below(std::min<std::size_t>(body, 16));
    const std::size_t last = length + below(std::min<std::size_t>(body, 16) - length + 1);
    const std::size_t start = last - length;
    ComparisonJob job;
    if (keyed) {
      testing::UseKey(job, std::to_string(start + 1) + "-" + std::to_string(last));
    }
    std::string bytes = std::string(below(30), 'j') + "\r\n";  // a line begun in the chunk before
    const std::size_t lines = 1 + below(300);
    const std::size_t broken = below(lines + lines / 2);  // past the end: none
    std::uint64_t key = 1 + below(1000);
    std::string previous;
    for (std::size_t i = 0; i < lines; ++i) {
      key += 1 + below(3);
      std::string line(body, 'a' + static_cast<char>(i % 26));
      // The key in digits, as wide as its columns hold, the lowest last.
      std::uint64_t k = key;
      for (std::size_t c = last; c-- > start;) {
        line[c] = static_cast<char>('0' + k % 10);
        k /= 10;
      }
      if (i == broken) {
        switch (below(9)) {
          case 0:
            line += 'x';
            break;
          case 1:
            line.pop_back();
            break;
          case 2:
            line[below(body)] = '\r';
            break;
          case 3:
            line[below(body)] = '\x82';
            break;
          case 4:  // the line before again: its key repeats
            if (!previous.empty()) line = previous;
            break;
          case 5:  // a lower key
            line[start] = '\0';
            break;
          case 6:
            line.clear();
            break;
          case 7:  // CR CR LF
            line += '\r';
            break;
          default:  // a CR alone ends the line
            line += "\rz";
            break;
        }
      }
      bytes += line;
      bytes += "\r\n";
      previous = line;
    }
    if (below(2) == 0) {  // the chunk ends within a line
      bytes.resize(bytes.size() - 1 - below(std::min<std::size_t>(bytes.size() - 1, body + 2)));
    }
    bytes += std::string(below(3), '\n');
    OrderedLineMarks marks(job);
    marks.Want();
    const std::uint64_t note = marks.Inspect(bytes);
    SCOPED_TRACE(::testing::Message()
                 << "round " << round << " body " << body << " key " << start + 1 << "-" << last
                 << " broken " << broken << " of " << lines);
    ExpectNote(note, bytes, keyed, start, length);
    if (HasFailure()) return;
  }
}

}  // namespace
}  // namespace vesmer::detail
