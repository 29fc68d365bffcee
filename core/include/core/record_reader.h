// The record reader: turns the next line of one input into the images the run compares and
// writes (line bytes, key, comparison bytes), and aligns two records' comparison lengths.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "core/job.h"
#include "core/record_key.h"
#include "core/record_text.h"
#include "platform/files.h"
#include "platform/status.h"

namespace vesmer {

// The lines of one input, one after another.
class LineSource {
 public:
  virtual ~LineSource() = default;
  // The next line without its end, and its 1-based number in the file as the user gave it. The
  // view stays valid until the next call. False at the end or on a failure (then status()).
  [[nodiscard]] virtual bool Next(std::string_view& line, std::int64_t& line_number) = 0;
  [[nodiscard]] virtual const Status& status() const = 0;
  // Progress: bytes handed out so far, of `size()` (0 when unknown).
  [[nodiscard]] virtual std::uint64_t consumed() const = 0;
  [[nodiscard]] virtual std::uint64_t size() const = 0;
};

// A file's lines as the line reader reads them, numbered from 1. Also lets a caller look at the
// lines ahead and move past them without having them handed out (the same-bytes path).
class FileLines final : public LineSource {
 public:
  bool Next(std::string_view& line, std::int64_t& line_number) override {
    if (!reader_.is_open() || !reader_.Next(line)) return false;
    line_number = ++number_;
    return true;
  }
  [[nodiscard]] const Status& status() const override { return reader_.status(); }
  [[nodiscard]] std::uint64_t consumed() const override { return reader_.consumed(); }
  [[nodiscard]] std::uint64_t size() const override { return reader_.size(); }

  [[nodiscard]] Status Open(const std::string& path, ChunkObserver* observer,
                            ChunkInspector* inspector = nullptr) {
    number_ = 0;
    return reader_.Open(path, observer, inspector);
  }
  void Close() { reader_.Close(); }
  void SetInterrupt(const std::atomic<bool>* flag) { reader_.SetInterrupt(flag); }
  [[nodiscard]] FileId id() const { return reader_.id(); }
  // See LineReader::Ahead and Skip; `lines` is how many lines `bytes` hold.
  [[nodiscard]] std::string_view Ahead() const { return reader_.Ahead(); }
  // The inspector's note of the chunk Ahead() is the rest of, and where Ahead() starts in it.
  [[nodiscard]] std::uint64_t chunk_note() const { return reader_.chunk_note(); }
  [[nodiscard]] std::size_t ahead_offset() const { return reader_.ahead_offset(); }
  void Skip(std::size_t bytes, std::int64_t lines) {
    reader_.Skip(bytes);
    number_ += lines;
  }

 private:
  LineReader reader_;
  std::int64_t number_ = 0;
};

class InputSide;

// The current record of one side as sinks see it: the line as read, its key, and the images
// made from it when first asked for (most records are decided by their raw bytes alone). The
// side that read it (InputSide) sets it; everyone else only looks.
class Record {
 public:
  Record(Side side, const ComparisonJob& job, const KeyText* key)
      : side_(side), job_(&job), key_(key) {}

  [[nodiscard]] Side side() const { return side_; }
  // The line's number in the file as the user gave it.
  [[nodiscard]] std::int64_t line_number() const { return line_number_; }
  // The line as read, without its line end: what result files receive.
  [[nodiscard]] std::string_view raw() const { return raw_; }
  // The key (key mode only), as BuildKey makes it.
  [[nodiscard]] std::string_view key() const { return key_->view(); }
  [[nodiscard]] const KeyText& key_text() const { return *key_; }
  // The line as Windows holds its text, the raw line decoded and encoded again: columns count
  // these bytes. The raw line itself when it comes back unchanged, as nearly every line does.
  [[nodiscard]] std::string_view LineBytes() const;
  // The comparison bytes as far as the current pair compares them: the line bytes with
  // full-width spaces made two spaces (SpaceCompare), omitted columns blanked and the length
  // aligned to the partner (ArrangeLength).
  [[nodiscard]] std::string_view ComparisonBytes() const;
  // The comparison bytes before alignment.
  [[nodiscard]] std::string_view FullComparisonBytes() const;
  // True when the comparison bytes come back unchanged from a decode and encode, so bytes that
  // differ mean texts that differ.
  [[nodiscard]] bool ComparisonIsCanonical() const;
  // The same options applied on the line as read instead of on its text: full-width spaces
  // 0x81 0x40 (at a character boundary) made two spaces (SpaceCompare), the bytes that stand for
  // the omitted columns of the line bytes blanked, the length aligned to the partner
  // (ArrangeLength, by AlignRawLengths). Two lines whose comparison texts are equal can still
  // differ here: bytes that are no character, or two codes of one character.
  [[nodiscard]] std::string_view RawComparisonBytes() const;
  // The raw comparison bytes before alignment.
  [[nodiscard]] std::string_view FullRawComparisonBytes() const;
  [[nodiscard]] const ComparisonJob& job() const { return *job_; }

  // Records of another code page (the run compares texts): the record decoded, valid while it
  // is the current record; empty otherwise.
  [[nodiscard]] bool decoded() const { return decoded_mode_; }
  // Decoded when first asked for: a record equal to its partner byte for byte is never asked.
  [[nodiscard]] const DecodedRecord& Text() const {
    if (!text_ready_) {
      text_ = decoder_->Decode(raw_, line_number_ == 1);
      text_ready_ = true;
    }
    return text_;
  }
  // The comparison text of a decoded record: its text without the units of omitted columns,
  // full-width spaces as two spaces (SpaceCompare), without padding at its end (TrimPadding),
  // cut to the partner's length (ArrangeLength, by AlignTextLengths).
  [[nodiscard]] std::u16string_view ComparisonText() const;
  [[nodiscard]] std::u16string_view FullComparisonText() const;
  // A record of fields: the field number of each unit of FullComparisonText().
  [[nodiscard]] const std::vector<std::uint32_t>& ComparisonFields() const {
    (void)FullComparisonText();
    return comparison_fields_;
  }
  // Where each unit of FullComparisonText() comes from: its byte offset in the record (its field
  // number, for a record of fields), a full-width space made two blanks giving its own twice.
  // Worked out when first asked for (a pair judged field by field), not while comparing.
  [[nodiscard]] std::span<const std::uint32_t> ComparisonOffsets() const;

 private:
  friend class InputSide;
  friend void TakeLine(InputSide&, std::string_view, std::int64_t, bool&);
  friend void TakeDecodedLine(InputSide&, std::string_view, std::int64_t, bool&);
  friend void HoldRecordsAhead(InputSide&, std::string_view, std::int64_t, const KeyText*);
  friend void AlignTextLengths(Record&, Record&);
  friend void PrepareLineBytes(const Record&, const Record&);
  friend void AlignRecordLengths(Record&, Record&);
  friend void AlignRawLengths(Record&, Record&);
  void SetLineBytes(bool round_trips) const;
  // A new line, and the key its side built for it.
  void Reset(std::string_view raw, std::int64_t line_number, const KeyText* key);
  void Prepare() const;
  void PrepareRaw() const;

  Side side_;
  const ComparisonJob* job_;
  std::int64_t line_number_ = 0;
  std::string_view raw_;
  const KeyText* key_;

  // Made on demand for the current record.
  mutable bool line_ready_ = false;
  mutable bool prepared_ = false;
  mutable bool comparison_canonical_ = true;
  mutable std::string_view line_bytes_;
  mutable std::string_view comparison_;
  mutable std::size_t aligned_length_ = 0;
  mutable std::string canonical_;         // the re-encoded line, when it differs from raw
  mutable std::string comparison_store_;  // the comparison bytes, when they differ from the line
  mutable bool raw_prepared_ = false;
  mutable std::string_view raw_comparison_;
  mutable std::size_t raw_aligned_length_ = 0;
  mutable std::string raw_comparison_store_;  // when the line is not its own line bytes

  bool decoded_mode_ = false;
  RecordDecoder* decoder_ = nullptr;  // its side's, when decoded_mode_
  mutable DecodedRecord text_;
  mutable bool text_ready_ = false;
  bool known_clean_ = false;  // known to hold none without a decode
  mutable bool text_prepared_ = false;
  mutable std::u16string_view comparison_view_;  // comparison_text_, or a part of text_
  mutable std::u16string comparison_text_;       // when units are blanked, widened or counted
  mutable std::vector<std::uint32_t> comparison_fields_;  // a record of fields: each unit's
  mutable std::size_t text_aligned_length_ = 0;
  mutable bool offsets_ready_ = false;
  mutable std::u16string offsets_text_;  // the comparison text made again with its offsets
  mutable std::vector<std::uint32_t> comparison_offsets_;
};

// The run's cursor on one input: where its lines come from, how far it has read, the keys it
// built (the current one and the one before, for the order check) and the record at hand.
class InputSide {
 public:
  InputSide(Side side, const ComparisonJob& job)
      : record_(side, job, &keys_[0]), key_builder_(job.KeyColumns, job.TrimPadding) {}
  InputSide(const InputSide&) = delete;
  InputSide& operator=(const InputSide&) = delete;

  [[nodiscard]] Side side() const { return record_.side(); }
  // The record at hand; valid while has_record.
  [[nodiscard]] const Record& record() const { return record_; }
  [[nodiscard]] Record& record() { return record_; }

  // The input's own file; lines come from it unless ReadFrom() gave another source.
  [[nodiscard]] FileLines& file() { return file_; }
  // Reads its lines from `source` (a sorted stream of the input) instead of its file.
  void ReadFrom(LineSource& source) { lines_ = &source; }
  // Decodes every record with `decoder` (records of another code page): keys and comparisons
  // are of their texts. Null: code page 932 lines.
  void DecodeWith(std::unique_ptr<RecordDecoder> decoder) {
    decoder_ = std::move(decoder);
    record_.decoded_mode_ = decoder_ != nullptr;
    record_.decoder_ = decoder_.get();
    key_builder_.SetDecoder(nullptr);  // the side decodes what a key needs itself
  }
  [[nodiscard]] bool decodes() const { return decoder_ != nullptr; }
  [[nodiscard]] RecordDecoder* decoder() const { return decoder_.get(); }
  // Records of one code page on both sides: a record that is byte for byte `twin`'s current
  // one takes its key and what is known of its text instead of decoding. Null: none.
  void TwinOf(const InputSide* twin) { twin_ = twin; }
  // Records are decoded only when asked for (see KnownClean): worth it where most of them never
  // are, records of one code page on both sides whose equal bytes are equal texts.
  void DecodeLazily(bool lazily) { lazy_ = lazily; }
  // Decoded records with bytes that were no character (counted once each).
  std::int64_t undecodable_records = 0;
  // Records of fields with fewer fields than they should have.
  std::int64_t short_records = 0;
  [[nodiscard]] bool reads_file() const { return lines_ == &file_; }

  std::int64_t lines_read = 0;
  bool has_record = false;
  bool read_failed = false;
  // The current key equals the key of the record before it (key mode).
  bool repeated_key = false;

  [[nodiscard]] std::string_view previous_key() const { return keys_[1 - current_key_].view(); }
  [[nodiscard]] const KeyBuilder& key_builder() const { return key_builder_; }
  // Forgets the keys of an earlier run (and takes the job's key ranges and padding anew).
  void ClearKeys() {
    keys_[0].clear();
    keys_[1].clear();
    has_previous_ = false;
    key_builder_.SetTrimPadding(record_.job().TrimPadding);
    key_builder_.Reset();
  }
  [[nodiscard]] const Status& status() const { return lines_->status(); }
  [[nodiscard]] std::uint64_t consumed() const { return lines_->consumed(); }
  [[nodiscard]] std::uint64_t size() const { return lines_->size(); }

 private:
  friend void ReadRecord(InputSide&, bool&);
  friend void ReadSameRecord(InputSide&, const InputSide&, std::string_view, std::size_t,
                             std::int64_t);
  friend void TakeLine(InputSide&, std::string_view, std::int64_t, bool&);
  friend void TakeDecodedLine(InputSide&, std::string_view, std::int64_t, bool&);
  friend void ReadRecordsAhead(InputSide&, std::string_view, std::size_t, std::int64_t);
  friend void HoldRecordsAhead(InputSide&, std::string_view, std::int64_t, const KeyText*);
  // The record becomes `line`, with the current key.
  void Hold(std::string_view line, std::int64_t line_number) {
    record_.Reset(line, line_number, &keys_[current_key_]);
  }
  // The key of the line being taken, built by `build`, and its order after the one before.
  template <typename BuildKey>
  [[gnu::always_inline]] void TakeKey(bool& out_of_order, BuildKey build) {
    KeyText& key = keys_[1 - current_key_];
    build(key);
    const KeyText& previous = keys_[current_key_];
    const int order = has_previous_ ? Compare(previous, key) : -1;
    // An empty previous key is not checked: a short line before a longer one is no decrease.
    if (order > 0 && !previous.empty()) out_of_order = true;
    repeated_key = order == 0;
    has_previous_ = true;
    current_key_ = 1 - current_key_;
  }

  Record record_;
  FileLines file_;
  LineSource* lines_ = &file_;
  KeyText keys_[2];
  int current_key_ = 0;
  bool has_previous_ = false;
  KeyBuilder key_builder_;
  std::string key_scratch_;
  std::unique_ptr<RecordDecoder> decoder_;
  const InputSide* twin_ = nullptr;
  bool lazy_ = false;
};

// Reads the next record of `side` and builds its key, or marks the side exhausted
// (has_record false; read_failed too when the read failed). Sets `out_of_order` when a key
// decreases.
void ReadRecord(InputSide& side, bool& out_of_order);

// Reads the next record of `side` from `line`, which starts Ahead() of the side's reader where
// the caller found it: the reader is moved past `bytes` (the line and its end, as
// LineReader::Skip takes them) and the rest is as ReadRecord does it.
void ReadRecordAhead(InputSide& side, std::string_view line, std::size_t bytes, bool& out_of_order);

// Reads the next `records` records of `side` at once, from lines the caller found in Ahead() of
// its reader and whose keys it saw to increase, each over the one before: the reader is moved
// past `bytes` (the lines and their ends, as LineReader::Skip takes them) and the record
// becomes `line`, the last of them. Only that record is made.
void ReadRecordsAhead(InputSide& side, std::string_view line, std::size_t bytes,
                      std::int64_t records);

// Reads the next `records` records of `side` knowing they are the lines `from` read last, byte
// for byte, the last of them `from`'s current line: the side's current record must be the
// same line as the one `from` had before them. The side's reader is moved past `bytes` (the
// lines and their ends, as LineReader::Skip takes them), and its record becomes `line`, the
// last of them, found in its reader's Ahead(). The key and how it orders after the one before
// are `from`'s, not worked out again.
void ReadSameRecord(InputSide& side, const InputSide& from, std::string_view line,
                    std::size_t bytes, std::int64_t records);

// Takes `records` records of `side` at once, decoded records that its source has been moved past
// already (FramedSource::Skip): records of characters only (KnownClean), whose keys went up each
// over the one before. The record becomes `last`, the last of them, with `key` (key mode) as its
// key; its text is decoded when asked for.
void HoldRecordsAhead(InputSide& side, std::string_view last, std::int64_t records,
                      const KeyText* key);

// Makes the line bytes of two records at once (a pair that differs), their common beginning
// checked once; nothing when either has them already.
void PrepareLineBytes(const Record& a, const Record& b);

// With ArrangeLength on, both current records compare at the shorter comparison length. Each
// pair starts from the records' own full comparison bytes, so a cut never outlives its pair.
void AlignRecordLengths(Record& source, Record& destination);

// The raw comparison bytes' counterpart of AlignRecordLengths.
void AlignRawLengths(Record& source, Record& destination);

enum class TextMatch {
  kSameLines,  // the lines are the same bytes: equal whatever is compared
  kEqual,      // the comparison texts are equal, the lines are not
  kDiffers,
};

// With ArrangeLength on, both decoded records compare at the shorter comparison text.
void AlignTextLengths(Record& source, Record& destination);

// Compares the two current comparison texts code unit for code unit, the pair aligned first.
// kSameLines is a shortcut: without fast paths, identical lines give kEqual.
[[nodiscard]] TextMatch MatchComparisonTexts(Record& source, Record& destination);

// True when the two current comparison texts are identical code unit for code unit. Aligns
// the pair first.
[[nodiscard]] inline bool ComparisonTextsEqual(Record& source, Record& destination) {
  return MatchComparisonTexts(source, destination) != TextMatch::kDiffers;
}

// True when the two current raw comparison bytes are identical, the pair aligned first.
[[nodiscard]] bool RawComparisonBytesEqual(Record& source, Record& destination);

}  // namespace vesmer
