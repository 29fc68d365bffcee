#include "core/result_list.h"

#include <algorithm>
#include <cstring>

#include "core/pair_diff.h"
#include "platform/cp932.h"
#include "platform/display_text.h"
#include "platform/fast_paths.h"
#include "platform/unicode.h"

namespace vesmer {
namespace {

constexpr std::size_t kSegment = 100;

// The byte of the line at 0-based column `c` as padded with spaces.
inline std::uint8_t PaddedAt(std::string_view line, std::size_t c) {
  return c < line.size() ? static_cast<std::uint8_t>(line[c]) : ' ';
}

// CutCarries on a line padded with spaces up to any width.
bool CutCarriesPadded(std::string_view line, std::size_t p) {
  // The tests in their order, on 1-based columns. A pair of bytes decodes to one character
  // exactly when the first is a lead byte and the second is not NUL, and a single byte always
  // decodes to one character (a lone lead byte gives the default character). So test 1 decides
  // every carry; tests 2 and 3 always answer "no carry" when test 1 does not apply.
  return cp932::IsLeadByte(PaddedAt(line, p - 1)) && PaddedAt(line, p) != 0;
}

}  // namespace

ListedPair ListedPair::Of(const Record* source, const Record* destination, std::int64_t number) {
  ListedPair pair;
  // When bytes decide, the marks go under the bytes as read, which a line's own bytes (not its
  // text's) number.
  const auto comparison = [](const Record& r) {
    return r.job().CompareBytes ? r.RawComparisonBytes() : r.ComparisonBytes();
  };
  const auto width = [](const Record& r) {
    return r.job().CompareBytes ? r.raw().size() : r.LineBytes().size();
  };
  if (source != nullptr) {
    pair.source_line = source->raw();
    pair.source_comparison = comparison(*source);
    pair.source_width = width(*source);
  }
  if (destination != nullptr) {
    pair.destination_line = destination->raw();
    pair.destination_comparison = comparison(*destination);
    pair.destination_width = width(*destination);
  }
  pair.number = number;
  const Record* any = source != nullptr ? source : destination;
  if (any != nullptr && any->job().TrimPadding) {
    // Past the longer of the comparison images as the records gave them, before any cut.
    const auto full = [](const Record* r) -> std::size_t {
      if (r == nullptr) return 0;
      return r->job().CompareBytes ? r->FullRawComparisonBytes().size()
                                   : r->FullComparisonBytes().size();
    };
    pair.padding_from = std::max(full(source), full(destination));
  }
  return pair;
}

std::size_t ListedPair::max() const {
  // The widths come from the line bytes; a line as read is never longer, but shown bytes must
  // never be cut off.
  return std::max({source_width, destination_width, source_line.size(), destination_line.size()});
}

std::size_t ListedPair::min() const { return std::min(source_width, destination_width); }

void ListedPair::AppendMarker(std::size_t from, std::size_t to, std::string& out) const {
  const std::size_t base = out.size();
  out.resize(base + (to - from));
  PutMarker(from, to, out.data() + base);
}

bool CutCarries(std::string_view padded_source, std::size_t p) {
  return CutCarriesPadded(padded_source, p);
}

std::string DisplayText(std::string_view segment, bool record_line) {
  std::u16string text = cp932::Decode(segment);
  if (record_line) std::replace(text.begin(), text.end(), u'\u3000', u'\u25A1');
  return Utf16ToUtf8(text);
}

namespace {

// Puts the shown bytes of 0-based columns [from, to) at `dst`, padded with spaces.
char* PutShown(std::string_view line, std::size_t from, std::size_t to, char* dst) {
  const std::size_t have = std::min(to, std::max(from, line.size()));
  if (have > from) {
    std::memcpy(dst, line.data() + from, have - from);
    dst += have - from;
  }
  if (to > have) {
    std::memset(dst, ' ', to - have);
    dst += to - have;
  }
  return dst;
}

// The decimal digits of `value`, zero-padded to at least `width`, at `dst`.
char* PutPadded(std::uint64_t value, std::size_t width, char* dst) {
  char digits[24];
  std::size_t n = 0;
  do {
    digits[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  for (; width > n; --width) *dst++ = '0';
  while (n > 0) *dst++ = digits[--n];
  return dst;
}

}  // namespace

void ResultListWriter::AppendShown(std::string_view line, std::size_t from, std::size_t to) {
  const std::size_t base = line_.size();
  line_.resize(base + (to - from));
  PutShown(line, from, to, line_.data() + base);
}

void ListedPair::PutMarker(std::size_t from, std::size_t to, char* dst) const {
  const std::size_t common = std::min(to, min());
  std::size_t c = from;
  if (c < common) {
    // Columns both comparison images hold: a tight loop the compiler vectorises.
    const std::size_t both =
        std::min({common, source_comparison.size(), destination_comparison.size()});
    const char* a = source_comparison.data();
    const char* b = destination_comparison.data();
    // Eight columns at a time: the high bit of each byte of `x ^ y` folded in says whether
    // that column differs; 0x20 (space) plus 0x1F for a difference gives 0x3F ("?").
    constexpr std::uint64_t kLow7 = 0x7F7F7F7F7F7F7F7Full, kSpaces = 0x2020202020202020ull;
    for (; kFastPaths && c + 8 <= both; c += 8, dst += 8) {
      std::uint64_t x, y;
      std::memcpy(&x, a + c, 8);
      std::memcpy(&y, b + c, 8);
      const std::uint64_t d = x ^ y;
      const std::uint64_t differs = ((((d & kLow7) + kLow7) | d) >> 7) & 0x0101010101010101ull;
      const std::uint64_t marks = kSpaces + differs * 0x1F;
      std::memcpy(dst, &marks, 8);
    }
    for (; c < both; ++c) *dst++ = a[c] == b[c] ? ' ' : '?';
  }
  // A comparison image shorter than the line bytes (a cut) differs wherever it has no byte.
  if (c < to) {
    const std::size_t marked = std::max(c, std::min(to, padding_from));
    std::memset(dst, '?', marked - c);
    std::memset(dst + (marked - c), ' ', to - marked);
  }
}

bool ResultListWriter::Write(const ListedPair& pair) { return Write(PairDiff(pair)); }

bool ResultListWriter::Write(const PairDiff& diff) {
  const ListedPair& pair = diff.pair();
  const std::string_view marker = diff.marker();
  const std::size_t max = pair.max();
  bool keep_going = true;
  bool carry = false;
  static constexpr const char* kTags[3] = {"-O:", "-C:", "-R:"};
  // "0000012 ": the number, at least 7 digits, and a space; the same on every tagged line.
  char number[24];
  const std::size_t number_size = static_cast<std::size_t>(
      PutPadded(static_cast<std::uint64_t>(pair.number), 7, number) - number);
  number[number_size] = ' ';
  // An entry has a segment at least: an empty line past the end of the shorter file is a
  // difference the list must show too.
  const std::size_t count = std::max<std::size_t>(1, (max + kSegment - 1) / kSegment);
  for (std::size_t s = 0, start = 0; s < count; ++s, start += kSegment) {
    // 0-based columns [from, to): start..end, or a space and start+1..end after a carry; one
    // more column when this cut carries.
    const std::size_t end = std::min(start + kSegment, max);
    const bool carries = end < max && CutCarriesPadded(pair.source_line, end);
    const std::size_t from = carry ? start + 1 : start;
    const std::size_t to = carries ? end + 1 : end;
    if (display_) {
      for (int i = 0; i < 3; ++i) {
        line_.clear();
        if (carry) line_.push_back(' ');
        if (i == 0) AppendShown(pair.source_line, from, to);
        if (i == 1) AppendShown(pair.destination_line, from, to);
        if (i == 2) {
          line_.append(marker.substr(from, to - from));
        }
        segments_[i].swap(line_);
      }
      observer_.OnListedSegment(segments_[0], segments_[1], segments_[2]);
    }
    observer_.OnSegmentWritten();
    if (observer_.StopRequested()) keep_going = false;
    file_.AppendLine(scale_line_);
    // The three tagged lines, formatted in place in the file's buffer.
    const std::size_t text = (carry ? 1 : 0) + (to - from);
    const std::size_t size = number_size + 1 + 20 + 3 + text + 2;
    for (int i = 0; i < 3; ++i) {
      char* const begin = file_.Reserve(size);
      char* d = begin;
      std::memcpy(d, number, number_size + 1);
      d = PutPadded(s, 3, d + number_size + 1);
      std::memcpy(d, kTags[i], 3);
      d += 3;
      if (carry) *d++ = ' ';
      if (i == 0) d = PutShown(pair.source_line, from, to, d);
      if (i == 1) d = PutShown(pair.destination_line, from, to, d);
      if (i == 2) {
        std::memcpy(d, marker.data() + from, to - from);
        d += to - from;
      }
      *d++ = '\r';
      *d++ = '\n';
      file_.Commit(static_cast<std::size_t>(d - begin));
    }
    carry = carries;
  }
  return keep_going;
}

ResultListSink::ResultListSink(const ComparisonJob& job, OutputFile& file, RunObserver& observer)
    : job_(job),
      file_(file),
      writer_(file, cp932::FromUtf8(job.Scale), observer.ShowsListedPairs(), observer) {}

void ForEachListedField(const ComparisonJob& job, const PairDiff& diff,
                        const ListedFieldVisitor& each) {
  const Record* src = diff.source();
  const Record* dst = diff.destination();
  const std::size_t fields =
      std::max(src != nullptr ? src->Text().fields : 0, dst != nullptr ? dst->Text().fields : 0);
  if (fields != 0) {
    // Records of fields: each field that differs, named by the header or by its number; one
    // that a record lacks is empty.
    std::string name;
    for (std::size_t f = 0; f < fields; ++f) {
      const auto column = static_cast<std::int32_t>(f + 1);
      if (job.UseOmit &&
          std::any_of(job.OmitColumns.begin(), job.OmitColumns.end(), [&](const ColumnRange& r) {
            return r.Start != 0 && r.Start <= column && column <= r.End;
          })) {
        continue;  // not compared
      }
      const FieldTexts texts = diff.ShownTexts(column, 1);
      if (!texts.differ()) continue;
      name = std::to_string(column) + "列目";
      for (const ListedField& named : job.ListFields) {
        if (named.start == column && !named.name.empty()) name = named.name;
      }
      each(name, texts.source, texts.destination);
    }
    return;
  }
  bool listed = false;
  for (const ListedField& f : job.ListFields) {
    const FieldTexts texts = diff.ShownTexts(f.start, f.length);
    if (!texts.differ()) continue;
    each(f.name, texts.source, texts.destination);
    listed = true;
  }
  // No field tells the difference (none given, or it lies outside them): the whole records.
  if (!listed) {
    each("レコード", src != nullptr ? src->FullComparisonText() : std::u16string_view(),
         dst != nullptr ? dst->FullComparisonText() : std::u16string_view());
  }
}

namespace {

void AppendValue(std::u16string_view text, std::string& out) {
  static const std::string open = cp932::FromUtf8("「"), close = cp932::FromUtf8("」");
  out += open;
  AppendCp932Display(text, out);
  out += close;
}

}  // namespace

void AppendFieldEntry(const ComparisonJob& job, const PairDiff& diff, std::string& out) {
  const Record* src = diff.source();
  const Record* dst = diff.destination();
  char number[24];
  const std::size_t n = static_cast<std::size_t>(
      PutPadded(static_cast<std::uint64_t>(diff.number()), 7, number) - number);
  out.append(number, n);
  const auto line_of = [&](const char* label, const Record* r) {
    out += label;
    out += r != nullptr ? std::to_string(r->line_number()) : std::string("-");
  };
  static const std::string source = cp932::FromUtf8(" 比較元 "),
                           destination = cp932::FromUtf8(" 比較先 "),
                           key_label = cp932::FromUtf8(" キー"), arrow = cp932::FromUtf8("→");
  line_of(source.c_str(), src);
  line_of(destination.c_str(), dst);
  if (job.UseKey) {
    const Record* keyed = src != nullptr ? src : dst;
    std::u16string key;
    if (job.TrimPadding && keyed->Text().fields != 0) {
      AppendUnpaddedFieldsText(keyed->Text(), job.KeyColumns, key);  // the key as compared
    } else {
      AppendRangeText(keyed->Text(), job.KeyColumns, key);
    }
    out += key_label;
    AppendValue(key, out);
  }
  out += "\r\n";
  ForEachListedField(job, diff,
                     [&](std::string_view name, std::u16string_view a, std::u16string_view b) {
                       out += "    ";
                       out += cp932::FromUtf8(name);
                       out += ' ';
                       AppendValue(a, out);
                       out += arrow;
                       AppendValue(b, out);
                       out += "\r\n";
                     });
}

void ResultListSink::Write(const PairDiff& diff) {
  const Record* any = diff.source() != nullptr ? diff.source() : diff.destination();
  if (any != nullptr && any->decoded()) {
    entry_.clear();
    AppendFieldEntry(job_, diff, entry_);
    file_.Append(entry_);
    ++entries_;
    while (!pending_ends_.empty() && pending_ends_.front() <= file_.bytes_reached()) {
      pending_ends_.pop_front();
    }
    pending_ends_.push_back(file_.bytes_appended());
    return;
  }
  if (!writer_.Write(diff)) stop_ = true;
  ++entries_;
  while (!pending_ends_.empty() && pending_ends_.front() <= file_.bytes_reached()) {
    pending_ends_.pop_front();
  }
  pending_ends_.push_back(file_.bytes_appended());
}

std::int64_t ResultListSink::entries_reached() const {
  std::int64_t lost = 0;
  for (const std::uint64_t end : pending_ends_) {
    if (end > file_.bytes_reached()) ++lost;
  }
  return entries_ - lost;
}

void ResultListSink::OnPair(const Record& /*source*/, const Record& /*destination*/,
                            PairVerdict verdict, const PairDiff* diff) {
  if (verdict != PairVerdict::kDiffers) return;
  // The entry goes with the source record when its file is written, else with the
  // destination's; with neither, the list gets no entry.
  if (!job_.OutputSelected[OutputKind::kSourceDiffers] &&
      !job_.OutputSelected[OutputKind::kDestinationDiffers]) {
    return;
  }
  Write(*diff);
}

void ResultListSink::OnLoneLine(const Record& record, const PairDiff& diff) {
  if (!job_.OutputSelected[DiffersKind(record.side())]) return;
  Write(diff);
}

}  // namespace vesmer
