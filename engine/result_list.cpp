#include "engine/result_list.h"

#include <algorithm>

#include "platform/cp932.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

// Appends `value` in decimal, zero-padded to at least `width` digits.
void AppendPadded(std::string& out, std::uint64_t value, std::size_t width) {
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  if (n < width) out.append(width - n, '0');
  while (n > 0) out.push_back(digits[--n]);
}

// "0000012 000-O:": the number with at least 7 digits, the segment number with at least 3.
void AppendPrefix(std::string& out, std::int64_t number, std::size_t segment, const char* tag) {
  AppendPadded(out, static_cast<std::uint64_t>(number), 7);
  out.push_back(' ');
  AppendPadded(out, segment, 3);
  out.append(tag, 3);
}

}  // namespace

bool CutCarries(std::string_view s, std::size_t p) {
  // The tests in their order, on 1-based columns. A pair of bytes decodes to one character
  // exactly when the first is a lead byte and the second is not NUL, and a single byte always
  // decodes to one character (a lone lead byte gives the default character). So test 1 decides
  // every carry; tests 2 and 3 always answer "no carry" when test 1 does not apply.
  const auto at = [&](std::size_t column) { return static_cast<std::uint8_t>(s[column - 1]); };
  return cp932::IsLeadByte(at(p)) && at(p + 1) != 0;
}

void ResultListWriter::ShowSegment(int line, std::string_view segment) {
  display_text_.clear();
  cp932::DecodeAppend(segment, display_text_);
  if (line < 2) std::replace(display_text_.begin(), display_text_.end(), u'\u3000', u'\u25A1');
  host_.SetRecordLine(line, Utf16ToUtf8(display_text_));
}

bool ResultListWriter::Write(const ListedPair& pair) {
  const std::size_t max = std::max(pair.source_line.size(), pair.destination_line.size());
  const std::size_t min = std::min(pair.source_line.size(), pair.destination_line.size());

  marker_.assign(max, ' ');
  std::fill(marker_.begin() + static_cast<std::ptrdiff_t>(min), marker_.end(), '?');
  const std::string_view a = pair.source_comparison, b = pair.destination_comparison;
  for (std::size_t c = 0; c < min; ++c) {
    if (c >= a.size() || c >= b.size() || a[c] != b[c]) marker_[c] = '?';
  }
  source_.assign(pair.source_line);
  source_.resize(max, ' ');
  destination_.assign(pair.destination_line);
  destination_.resize(max, ' ');

  bool keep_going = true;
  bool carry = false;
  const std::string_view origins[3] = {source_, destination_, marker_};
  static constexpr const char* kTags[3] = {"-O:", "-C:", "-R:"};
  std::string_view segments[3];
  const std::size_t count = (max + 99) / 100;
  for (std::size_t s = 0, start = 1; s < count; ++s, start += 100) {
    const std::size_t end = std::min(100 * (s + 1), max);
    const bool carries = end < max && CutCarries(source_, end);
    for (int i = 0; i < 3; ++i) {
      // Columns start..end (1-based), or a space and start+1..end after a carry; one more
      // column when this cut carries.
      const std::size_t from = carry ? start : start - 1;
      const std::size_t to = carries ? end + 1 : end;
      if (carry) {
        carried_[i].assign(1, ' ');
        carried_[i].append(origins[i].substr(from, to - from));
        segments[i] = carried_[i];
      } else {
        segments[i] = origins[i].substr(from, to - from);
      }
    }
    carry = carries;
    if (display_) {
      ShowSegment(0, segments[0]);
      ShowSegment(1, segments[1]);
      host_.SetRecordLine(2, segments[2]);
    }
    if (!host_.Yield()) keep_going = false;
    file_.AppendLine(scale_line_);
    for (int i = 0; i < 3; ++i) {
      line_.clear();
      AppendPrefix(line_, pair.number, s, kTags[i]);
      line_.append(segments[i]);
      file_.AppendLine(line_);
    }
  }
  return keep_going;
}

}  // namespace vesmer
