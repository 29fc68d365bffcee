#include "core/record_reader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/cp932.h"
#include "platform/fast_paths.h"

namespace vesmer {
namespace {

// U+3000 is 0x81 0x40; on line bytes (canonical) a character walk finds each one. Returns
// whether the bytes hold one.
bool HasFullWidthSpace(std::string_view bytes) {
  const void* first = bytes.empty() ? nullptr : std::memchr(bytes.data(), '\x81', bytes.size());
  if (first == nullptr) return false;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = cp932::CharLength(bytes.data() + i, bytes.size() - i);
    if (n == 2 && bytes[i] == '\x81' && bytes[i + 1] == '\x40') return true;
    i += n;
  }
  return false;
}

void ReplaceFullWidthSpaces(std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = cp932::CharLength(bytes.data() + i, bytes.size() - i);
    if (n == 2 && bytes[i] == '\x81' && bytes[i + 1] == '\x40') {
      bytes[i] = ' ';
      bytes[i + 1] = ' ';
    }
    i += n;
  }
}

// The last column of omit range `r` that a record of `size` bytes has blanked; 0 when the
// range is skipped. A range reaching past the end of the record is skipped whole, unless
// padding is left out (`padded`, the inputs are of different formats): the record then stands
// for itself padded with blanks, and the range blanks those of its columns the record has.
std::uint64_t OmittedThrough(const ColumnRange& r, std::size_t size, bool padded) {
  const auto end = static_cast<std::uint64_t>(r.End);
  if (end <= size) return end;
  return padded && static_cast<std::uint64_t>(r.Start) <= size ? size : 0;
}

// Whether any omit range blanks a column of a record of `size` bytes (see OmittedThrough).
bool AnyOmitRangeInside(const RangeList& ranges, std::size_t size, bool padded) {
  for (std::size_t i = 0, used = ranges.UsedPrefix(); i < used; ++i) {
    if (OmittedThrough(ranges[i], size, padded) != 0) return true;
  }
  return false;
}

void MaskOmitted(std::string& bytes, const RangeList& ranges, bool padded) {
  for (std::size_t i = 0, used = ranges.UsedPrefix(); i < used; ++i) {
    const ColumnRange& r = ranges[i];
    const std::uint64_t through = OmittedThrough(r, bytes.size(), padded);
    if (through == 0) continue;
    std::memset(bytes.data() + r.Start - 1, ' ', static_cast<std::size_t>(through - r.Start + 1));
  }
}

// Blanks, in `out` (a copy of `raw`), the bytes that stand for the omitted columns of the line
// bytes, `canonical_size` bytes that hold raw's characters one for one. A character whose
// length is kept is blanked byte for byte; one whose length changes (a lone lead byte that
// becomes the whole default character) is blanked whole when any of its columns is omitted.
void MaskOmittedOfRaw(std::string_view raw, std::size_t canonical_size, const RangeList& ranges,
                      bool padded, std::string& out) {
  const std::size_t used = ranges.UsedPrefix();
  // Whether 0-based column `c` of the line bytes is blanked, as MaskOmitted blanks them.
  const auto omitted = [&](std::size_t c) {
    for (std::size_t i = 0; i < used; ++i) {
      const ColumnRange& r = ranges[i];
      if (c + 1 >= static_cast<std::uint64_t>(r.Start) &&
          c + 1 <= OmittedThrough(r, canonical_size, padded)) {
        return true;
      }
    }
    return false;
  };
  for (std::size_t at = 0, column = 0; at < raw.size() && column < canonical_size;) {
    const std::size_t n = cp932::CharLength(raw.data() + at, raw.size() - at);
    const std::size_t width = std::min(cp932::CanonicalCharLength(raw.data() + at, raw.size() - at),
                                       canonical_size - column);
    if (width == n) {
      for (std::size_t k = 0; k < n; ++k) {
        if (omitted(column + k)) out[at + k] = ' ';
      }
    } else if (omitted(column) || (width > 1 && omitted(column + 1))) {
      std::memset(out.data() + at, ' ', n);
    }
    at += n;
    column += width;
  }
}

// `bytes` (code page 932) without the half-width and full-width spaces at its end. A 0x81 0x40
// is a full-width space only where a character starts: 0x81 is also the second byte of many.
std::string_view WithoutPadding(std::string_view bytes) {
  while (bytes.ends_with(' ')) bytes.remove_suffix(1);
  if (!bytes.ends_with("\x81\x40")) return bytes;
  // Walk the characters once: the end of the last one that is no blank.
  std::size_t end = 0;
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = cp932::CharLength(bytes.data() + i, bytes.size() - i);
    const std::string_view c = bytes.substr(i, n);
    i += n;
    if (c != " " && c != "\x81\x40") end = i;
  }
  return bytes.substr(0, end);
}

}  // namespace

void Record::Reset(std::string_view raw, std::int64_t line_number, const KeyText* key) {
  raw_ = raw;
  line_number_ = line_number;
  key_ = key;
  line_ready_ = false;
  prepared_ = false;
  raw_prepared_ = false;
  text_prepared_ = false;
  text_ready_ = false;
}

namespace {

// Appends the comparison text of `t` to `text` unit by unit (see Record::ComparisonText),
// and to `offsets`, when given, each unit's offset: its byte of the record, or its field (a
// record of fields needs them, to trim each field's padding).
void AppendComparisonText(const DecodedRecord& t, const ComparisonJob& job, std::u16string& text,
                          std::vector<std::uint32_t>* offsets) {
  const bool omit = job.UseOmit;
  const bool fields = t.fields != 0;
  // Blanks at the end of the record, or of each field of a record of fields (trimmed when the
  // next begins, so that the fields before the last are trimmed already).
  const auto trim = [&] {
    if (!job.TrimPadding) return;
    while (!text.empty() && (text.back() == u' ' || text.back() == u'\u3000')) {
      text.pop_back();
      if (offsets != nullptr) offsets->pop_back();
    }
  };
  for (std::size_t i = 0; i < t.text.size(); ++i) {
    if (omit && InOmitRange(job.OmitColumns, t.offsets[i])) continue;
    if (fields && offsets != nullptr && !offsets->empty() && offsets->back() != t.offsets[i]) {
      trim();
    }
    const bool two = job.SpaceCompare && t.text[i] == u'\u3000';
    text.append(two ? std::u16string_view(u"  ") : t.text.substr(i, 1));
    if (offsets != nullptr) offsets->insert(offsets->end(), two ? 2 : 1, t.offsets[i]);
  }
  trim();
}

}  // namespace

std::u16string_view Record::FullComparisonText() const {
  if (!text_prepared_) {
    text_prepared_ = true;
    offsets_ready_ = false;
    const DecodedRecord& t = Text();
    const bool fields = t.fields != 0;
    // Most records have nothing to blank or widen: their comparison text is the decoded text
    // itself, its padding aside, and is not copied unit by unit.
    if (!job_->UseOmit && !fields &&
        !(job_->SpaceCompare && t.text.find(u'\u3000') != std::u16string_view::npos)) {
      const std::u16string_view text = Unpadded(t.text, job_->TrimPadding);
      comparison_view_ = text;
      comparison_fields_.clear();
      text_aligned_length_ = text.size();
      return comparison_view_;
    }
    comparison_text_.clear();
    comparison_fields_.clear();
    AppendComparisonText(t, *job_, comparison_text_, fields ? &comparison_fields_ : nullptr);
    comparison_view_ = comparison_text_;
    text_aligned_length_ = comparison_text_.size();
  }
  return comparison_view_;
}

std::span<const std::uint32_t> Record::ComparisonOffsets() const {
  const std::u16string_view text = FullComparisonText();
  if (text_.fields != 0) return comparison_fields_;
  // The decoded text itself, or a part of it: its own offsets.
  if (text.data() == text_.text.data()) return text_.offsets.first(text.size());
  if (!offsets_ready_) {
    offsets_ready_ = true;
    offsets_text_.clear();
    comparison_offsets_.clear();
    AppendComparisonText(text_, *job_, offsets_text_, &comparison_offsets_);
  }
  return comparison_offsets_;
}

std::u16string_view Record::ComparisonText() const {
  return FullComparisonText().substr(0, text_aligned_length_);
}

void AlignTextLengths(Record& source, Record& destination) {
  const std::size_t a = source.FullComparisonText().size();
  const std::size_t b = destination.FullComparisonText().size();
  const std::size_t n = source.job_->ArrangeLength ? std::min(a, b) : SIZE_MAX;
  source.text_aligned_length_ = std::min(a, n);
  destination.text_aligned_length_ = std::min(b, n);
}

void Record::SetLineBytes(bool round_trips) const {
  line_ready_ = true;
  line_bytes_ = round_trips ? raw_ : cp932::Canonical(raw_, canonical_);
}

void PrepareLineBytes(const Record& a, const Record& b) {
  if (!kFastPaths || a.line_ready_ || b.line_ready_) return;
  bool a_round_trips = false, b_round_trips = false;
  cp932::RoundTripsBoth(a.raw_, b.raw_, a_round_trips, b_round_trips);
  a.SetLineBytes(a_round_trips);
  b.SetLineBytes(b_round_trips);
}

std::string_view Record::LineBytes() const {
  if (!line_ready_) {
    line_ready_ = true;
    line_bytes_ = cp932::Canonical(raw_, canonical_);
    // Give back what a huge line took once lines are short again.
    if (line_bytes_.data() == raw_.data() && canonical_.capacity() > (1u << 20)) {
      std::string().swap(canonical_);
    }
  }
  return line_bytes_;
}

void Record::Prepare() const {
  if (prepared_) return;
  prepared_ = true;
  const std::string_view line = LineBytes();
  const bool spaces = job_->SpaceCompare && HasFullWidthSpace(line);
  const bool omit =
      job_->UseOmit && AnyOmitRangeInside(job_->OmitColumns, line.size(), job_->TrimPadding);
  if (!spaces && !omit) {
    comparison_ = line;
    comparison_canonical_ = true;
    if (comparison_store_.capacity() > (1u << 20)) std::string().swap(comparison_store_);
  } else {
    comparison_store_.assign(line);
    if (spaces) ReplaceFullWidthSpaces(comparison_store_);
    // Two spaces for a full-width space keep the bytes canonical; a blanked column may cut a
    // double-byte character.
    if (omit) MaskOmitted(comparison_store_, job_->OmitColumns, job_->TrimPadding);
    comparison_ = comparison_store_;
    comparison_canonical_ = !omit;
  }
  if (job_->TrimPadding) comparison_ = WithoutPadding(comparison_);
  aligned_length_ = comparison_.size();
}

std::string_view Record::ComparisonBytes() const {
  Prepare();
  return std::string_view(comparison_.data(), aligned_length_);  // never past its end
}

std::string_view Record::FullComparisonBytes() const {
  Prepare();
  return comparison_;
}

bool Record::ComparisonIsCanonical() const {
  Prepare();
  // A cut may split a double-byte character.
  return comparison_canonical_ && aligned_length_ == comparison_.size();
}

void Record::PrepareRaw() const {
  if (raw_prepared_) return;
  raw_prepared_ = true;
  const std::string_view line = LineBytes();
  if (line.data() == raw_.data() && line.size() == raw_.size()) {
    // The line is its own line bytes, as nearly every line is: the comparison bytes are these.
    raw_comparison_ = FullComparisonBytes();
  } else {
    raw_comparison_store_.assign(raw_);
    if (job_->SpaceCompare) ReplaceFullWidthSpaces(raw_comparison_store_);
    if (job_->UseOmit && AnyOmitRangeInside(job_->OmitColumns, line.size(), job_->TrimPadding)) {
      // No character is shorter in the line bytes and only a lead byte alone is longer, so a
      // line as long as its line bytes has the same columns.
      if (raw_.size() == line.size()) {
        MaskOmitted(raw_comparison_store_, job_->OmitColumns, job_->TrimPadding);
      } else {
        MaskOmittedOfRaw(raw_, line.size(), job_->OmitColumns, job_->TrimPadding,
                         raw_comparison_store_);
      }
    }
    raw_comparison_ = raw_comparison_store_;
    if (job_->TrimPadding) raw_comparison_ = WithoutPadding(raw_comparison_);
  }
  raw_aligned_length_ = raw_comparison_.size();
}

std::string_view Record::RawComparisonBytes() const {
  PrepareRaw();
  return std::string_view(raw_comparison_.data(), raw_aligned_length_);
}

std::string_view Record::FullRawComparisonBytes() const {
  PrepareRaw();
  return raw_comparison_;
}

// TakeLine() for decoded records. Only what is needed now is decoded. One the same bytes as its
// twin's record is known already; one known to be characters only waits until its text is
// asked for, and its key is decoded from the bytes that hold it.
[[gnu::noinline]] void TakeDecodedLine(InputSide& side, std::string_view line, std::int64_t number,
                                       bool& out_of_order) {
  const bool first = number == 1;
  const Record* twin = nullptr;
  DecodedRecord text;
  bool text_ready = false, known_clean = false;
  if (side.twin_ != nullptr && side.twin_->has_record && side.twin_->record_.known_clean_ &&
      (side.twin_->record_.line_number_ == 1) == first && side.twin_->record_.raw_ == line) {
    twin = &side.twin_->record_;
    known_clean = true;
  } else if (side.lazy_ && side.decoder_->KnownClean(line, first)) {
    known_clean = true;
  } else {
    text = side.decoder_->Decode(line, first);
    text_ready = true;
    if (text.undecodable != 0) ++side.undecodable_records;
    if (text.short_record) ++side.short_records;
  }
  if (side.record_.job().UseKey) {
    side.TakeKey(out_of_order, [&](KeyText& key) {
      if (twin != nullptr) {
        key.AssignFrom(twin->key_text());
      } else if (text_ready) {
        side.key_builder_.BuildFromText(text, key);
      } else {
        side.key_builder_.BuildOfCleanRecord(*side.decoder_, line, first, key);
      }
    });
  }
  side.Hold(line, number);
  Record& record = side.record_;
  record.text_ = text;
  record.text_ready_ = text_ready;
  record.known_clean_ = known_clean;
}

// The rest of reading a record once its line is known.
[[gnu::always_inline]] inline void TakeLine(InputSide& side, std::string_view line,
                                            std::int64_t number, bool& out_of_order) {
  side.has_record = true;
  ++side.lines_read;
  if (side.decoder_ != nullptr) {
    TakeDecodedLine(side, line, number, out_of_order);
    return;
  }
  if (side.record_.job().UseKey) {
    side.TakeKey(out_of_order,
                 [&](KeyText& key) { side.key_builder_.Build(line, key, side.key_scratch_); });
  }
  side.Hold(line, number);
}

void ReadRecord(InputSide& side, bool& out_of_order) {
  std::string_view line;
  std::int64_t number = 0;
  // The input's own file is called as what it is: its lines come without a virtual call. (The
  // other source fills views of its own, so `line` stays in registers.)
  bool got;
  if (side.reads_file()) {
    got = side.file_.Next(line, number);
  } else {
    std::string_view other;
    std::int64_t other_number = 0;
    got = side.lines_->Next(other, other_number);
    line = other;
    number = other_number;
  }
  if (!got) {
    side.has_record = false;
    side.read_failed = !side.status().ok();
    return;
  }
  TakeLine(side, line, number, out_of_order);
}

void ReadRecordAhead(InputSide& side, std::string_view line, std::size_t bytes,
                     bool& out_of_order) {
  side.file().Skip(bytes, 1);
  TakeLine(side, line, side.lines_read + 1, out_of_order);
}

void ReadRecordsAhead(InputSide& side, std::string_view line, std::size_t bytes,
                      std::int64_t records) {
  side.file_.Skip(bytes, records);
  side.has_record = true;
  side.lines_read += records;
  if (side.record_.job().UseKey) {
    side.key_builder_.Build(line, side.keys_[1 - side.current_key_], side.key_scratch_);
    side.repeated_key = false;
    side.has_previous_ = true;
    side.current_key_ = 1 - side.current_key_;
  }
  side.Hold(line, side.lines_read);
}

void ReadSameRecord(InputSide& side, const InputSide& from, std::string_view line,
                    std::size_t bytes, std::int64_t records) {
  side.file_.Skip(bytes, records);
  side.has_record = true;
  side.lines_read += records;
  if (side.record_.job().UseKey) {
    // The records before were the same lines too, so the order check comes out the same.
    side.keys_[1 - side.current_key_].AssignFrom(from.record().key_text());
    side.repeated_key = from.repeated_key;
    side.has_previous_ = true;
    side.current_key_ = 1 - side.current_key_;
  }
  side.Hold(line, side.lines_read);
}

void HoldRecordsAhead(InputSide& side, std::string_view last, std::int64_t records,
                      const KeyText* key) {
  side.has_record = true;
  side.lines_read += records;
  if (key != nullptr) {
    side.keys_[1 - side.current_key_].AssignFrom(*key);
    side.repeated_key = false;
    side.has_previous_ = true;
    side.current_key_ = 1 - side.current_key_;
  }
  side.Hold(last, side.lines_read);
  side.record_.text_ready_ = false;
  side.record_.known_clean_ = true;
}

void AlignRecordLengths(Record& source, Record& destination) {
  const std::size_t a = source.FullComparisonBytes().size();
  const std::size_t b = destination.FullComparisonBytes().size();
  const std::size_t n = source.job_->ArrangeLength ? std::min(a, b) : SIZE_MAX;
  source.aligned_length_ = std::min(a, n);
  destination.aligned_length_ = std::min(b, n);
}

namespace {

// a == b, without the call the library's comparison costs on short records: up to 16 bytes
// compare as two words that may overlap.
bool SameBytes(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  const char* p = a.data();
  const char* q = b.data();
  if (n >= 8 && n <= 16) {
    std::uint64_t p1, p2, q1, q2;
    std::memcpy(&p1, p, 8);
    std::memcpy(&p2, p + n - 8, 8);
    std::memcpy(&q1, q, 8);
    std::memcpy(&q2, q + n - 8, 8);
    return ((p1 ^ q1) | (p2 ^ q2)) == 0;
  }
  return n == 0 || std::memcmp(p, q, n) == 0;
}

// a == b for texts, as memory: the library compares char16_t strings unit by unit.
bool SameUnits(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         (a.empty() || std::memcmp(a.data(), b.data(), a.size() * sizeof(char16_t)) == 0);
}

}  // namespace

TextMatch MatchComparisonTexts(Record& source, Record& destination) {
  if (source.decoded()) {
    // Texts of one code page only are the same for the same bytes; the caller knows.
    const DecodedRecord& a = source.Text();
    const DecodedRecord& b = destination.Text();
    if (a.fields != 0 || b.fields != 0) {
      // Fields one by one: a field missing from the shorter record is empty and differs.
      const auto compared = [&](std::size_t fields) {
        std::size_t n = 0;
        for (std::size_t f = 0; f < fields; ++f) {
          if (!source.job().UseOmit ||
              !InOmitRange(source.job().OmitColumns, static_cast<std::uint32_t>(f))) {
            ++n;
          }
        }
        return n;
      };
      // A field compared that one record lacks and the other has (records made of some fields
      // of another: its fields are all there, some of them absent).
      const auto lacked_alike = [&] {
        const ComparisonJob& job = source.job();
        return (a.absent.empty() && b.absent.empty()) ||
               !LackDiffers(a, b, 0, UINT64_MAX, job.UseOmit ? &job.OmitColumns : nullptr);
      };
      const bool equal = compared(a.fields) == compared(b.fields) &&
                         SameUnits(source.FullComparisonText(), destination.FullComparisonText()) &&
                         source.ComparisonFields() == destination.ComparisonFields() &&
                         lacked_alike();
      return equal ? TextMatch::kEqual : TextMatch::kDiffers;
    }
    AlignTextLengths(source, destination);
    return SameUnits(source.ComparisonText(), destination.ComparisonText()) ? TextMatch::kEqual
                                                                            : TextMatch::kDiffers;
  }
  // Identical lines give identical comparison texts whatever the options.
  if (kFastPaths && SameBytes(source.raw(), destination.raw())) return TextMatch::kSameLines;
  PrepareLineBytes(source, destination);
  AlignRecordLengths(source, destination);
  const std::string_view a = source.ComparisonBytes();
  const std::string_view b = destination.ComparisonBytes();
  if (kFastPaths && SameBytes(a, b)) return TextMatch::kEqual;
  // Canonical bytes are the only encoding of their text, so different bytes mean different
  // texts. Otherwise (a column blanked or a length cut inside a double-byte character) bytes
  // can differ and still decode alike: only the texts decide.
  if (kFastPaths && source.ComparisonIsCanonical() && destination.ComparisonIsCanonical()) {
    return TextMatch::kDiffers;
  }
  return cp932::DecodesEqual(a, b) ? TextMatch::kEqual : TextMatch::kDiffers;
}

void AlignRawLengths(Record& source, Record& destination) {
  const std::size_t a = source.FullRawComparisonBytes().size();
  const std::size_t b = destination.FullRawComparisonBytes().size();
  const std::size_t n = source.job_->ArrangeLength ? std::min(a, b) : SIZE_MAX;
  source.raw_aligned_length_ = std::min(a, n);
  destination.raw_aligned_length_ = std::min(b, n);
}

bool RawComparisonBytesEqual(Record& source, Record& destination) {
  PrepareLineBytes(source, destination);
  AlignRawLengths(source, destination);
  return SameBytes(source.RawComparisonBytes(), destination.RawComparisonBytes());
}

}  // namespace vesmer
