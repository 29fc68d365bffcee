// The records of one input in a framing other than CR lines: LF lines, fixed-length records,
// RDW records and CSV records, read with the line reader's read-ahead.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/record_reader.h"
#include "formats/record_format.h"
#include "platform/files.h"
#include "platform/mapped_buffer.h"
#include "platform/status.h"

namespace vesmer {

// Reads a file as records of its RecordFormat's framing, numbered from 1 by their place in the
// file. What Next() hands out:
//   lines  the line without its CR or CR LF (as FileLines does; a lone LF is data);
//   lf     the line without its LF or CR LF; a CR not before a LF is data. Every line end of a
//          file is of one kind, that of its first line;
//   fixed  record_length bytes;
//   rdw    the record with its 4-byte descriptor word (big-endian length counting the word,
//          then two zero bytes): result files keep it, columns start after it;
//   csv    the record as read, quotes kept, without its end (CR LF, LF or CR outside quotes);
//          line ends inside quoted fields stay in it. With `header` the first record is the
//          header: not handed out, read with ReadHeader(), and the first data record is
//          number 2. A text in a Shift-JIS code page is split by its characters, so the second
//          byte of a double-byte character is never taken for a delimiter such as '|'.
// The last line or CSV record need not have an end; an empty file has no records.
//
// A record within one chunk is handed out where it lies; one over a chunk's end is assembled
// in a buffer that is kept for the next (memory: the chunks and about the longest record; the
// buffer's memory is given back once records fit in a chunk again).
//
// Input that does not fit the framing is a failed read: Next() returns false and status() names
// the file (path()) and, as its reason(), the place (EINVAL, operation "read"):
//   fixed  ファイルの大きさ 1,234 バイトは固定長 200 バイトの倍数ではありません
//          (before any record, from the size of a regular file), or
//          読み込んだ 1,234 バイトは... (a pipe, or a file that grew: at the end);
//   rdw    オフセット 1,024 のレコード記述語の長さ 3 が 4 未満です,
//          ...記述語の 3、4 バイト目が 0 ではありません,
//          ...記述語が示す 300 バイトのレコードがファイルの終わりを越えています,
//          ...記述語がファイルの終わりで切れています;
//   csv    3 行目から始まるレコードの引用符が閉じていません
//          (the physical line where the record starts),
//          5 行目: 引用符で囲まれていないフィールドに引用符があります (ab"c),
//          5 行目: 閉じた引用符の後に区切り文字がありません ("ab"c);
//   lf     12 行目の行末（LF）が 1 行目の行末（CR LF）と違います (or the other way round).
class FramedRecords final : public LineSource {
 public:
  FramedRecords();
  // Reads `chunk_size` bytes at a time (see LineReader); small sizes are for tests.
  explicit FramedRecords(std::size_t chunk_size);
  ~FramedRecords() override;
  FramedRecords(const FramedRecords&) = delete;
  FramedRecords& operator=(const FramedRecords&) = delete;

  // Opens `path` (closing what was open) to read it as `format` says; its code page is not
  // looked at but to tell whether it is Shift-JIS (see RecordFormat::ShiftJisBytes). Fails as
  // LineReader::Open fails. `observer` is passed every byte read, as LineReader passes them.
  [[nodiscard]] Status Open(const std::string& path, const RecordFormat& format,
                            ChunkObserver* observer = nullptr);
  void Close();
  // See LineReader::SetInterrupt.
  void SetInterrupt(const std::atomic<bool>* flag) { reader_.SetInterrupt(flag); }
  [[nodiscard]] FileId id() const { return reader_.id(); }
  [[nodiscard]] const RecordFormat& format() const { return format_; }

  // The next record and its number (see above). The view stays valid until the next call.
  // False at the end of the file, on a read error or on input that does not fit the framing
  // (then status()); and from then on.
  [[nodiscard]] bool Next(std::string_view& record, std::int64_t& record_number) override;
  // Fixed-length records: the bytes after the record handed out last that the chunk at hand
  // holds, the next records one after another (the last of them may be cut). Empty for other
  // framings, before the first record and after a failure.
  [[nodiscard]] std::string_view Ahead() const {
    if (format_.framing != Framing::kFixed || number_ == 0 || !status_.ok()) return {};
    return chunk_;
  }
  // Fixed-length records: from now on, the read-ahead looks at the records of each chunk it
  // reads through the format's code page and tells which are characters only
  // (CodePage::KnownClean), so that AheadKnownClean() can; chunks read ahead already are not
  // looked at. Off until asked for: the look costs the read-ahead thread its time. Only the
  // records of every `every`-th chunk from the `first`-th (from 0) are looked at.
  void MarkCleanRecords(unsigned every = 1, unsigned first = 0);
  // Of Ahead(), the bytes from its start whose records are known to be characters only: whole
  // records, each as CodePage::KnownClean of the format's code page takes it. 0 when none are
  // known, which says nothing of them.
  [[nodiscard]] std::size_t AheadKnownClean() const {
    if (Ahead().empty()) return 0;  // then chunk_ may lie in no chunk
    const auto at = static_cast<std::uint64_t>(chunk_.data() - chunk_begin_);
    return reader_.chunk_note() > at ? static_cast<std::size_t>(reader_.chunk_note() - at) : 0;
  }
  // Moves past the first `records` whole records of Ahead(), numbering them as Next() would.
  void Skip(std::int64_t records) {
    const std::size_t bytes = static_cast<std::size_t>(records) * format_.record_length;
    chunk_.remove_prefix(bytes);
    consumed_ += bytes;
    number_ += records;
  }

  // The header of a csv format with `header`, read now if Next() has not read it yet; valid
  // until the file is closed. False when the format has no header, the file is empty, or the
  // read fails (then status()).
  [[nodiscard]] bool ReadHeader(std::string_view& header);

  [[nodiscard]] const Status& status() const override { return status_; }
  // Bytes of the file taken by the records handed out so far, their ends included (and the
  // header's); only the LF of a CR LF split across chunks is counted with the next record (the
  // record is handed out without waiting for the next chunk). At the end, the size of the file.
  [[nodiscard]] std::uint64_t consumed() const override { return consumed_; }
  // The size of a regular file when it was opened; 0 for a pipe, a FIFO or a device.
  [[nodiscard]] std::uint64_t size() const override { return reader_.size(); }
  // Memory held for assembling records that run over a chunk's end.
  [[nodiscard]] std::size_t record_buffer_capacity() const { return carry_.capacity(); }

 private:
  enum class LineEnd : std::uint8_t { kUnknown, kLf, kCrLf };
  struct CsvTables;
  class CleanRecordMarks;

  [[nodiscard]] bool NextRecord(std::string_view& record);
  [[nodiscard]] bool NextLine(std::string_view& record);
  [[nodiscard]] bool NextFixed(std::string_view& record);
  [[nodiscard]] bool NextRdw(std::string_view& record);
  [[nodiscard]] bool NextCsv(std::string_view& record);
  // Hands out `line`, which ends at chunk_[end], and moves past its end (lines and lf).
  [[nodiscard]] bool EndLine(std::string_view line, std::size_t end, std::string_view& record);
  // Hands out the CSV record that ends at the CR or LF at chunk_[end], after the bytes carried
  // from earlier chunks when `carrying`, and moves past its end.
  [[nodiscard]] bool EndCsvRecord(std::size_t end, bool carrying, std::string_view& record);
  // Moves past the LF of a CR LF whose CR ended the last chunk, if it is there.
  [[nodiscard]] bool SkipLf();
  // Reads the csv header when it is still to be read.
  [[nodiscard]] bool TakeHeader();
  // The length in the descriptor word at `word` (4 bytes) of the record at consumed_; false
  // (with status_ set) when the word is not one.
  [[nodiscard]] bool RdwLength(const char* word, std::size_t& length);

  // Moves on to the next chunk; false at the end of the file or on a failed read (status_).
  [[nodiscard]] bool Refill();
  // Moves bytes from the chunks into carry_ until it holds `bytes`; false when the file ends
  // first or a read fails (status_).
  [[nodiscard]] bool Gather(std::size_t bytes);
  // Adds `bytes` to carry_; false (status_ ENOMEM) when memory runs out.
  [[nodiscard]] bool Carry(std::string_view bytes);
  // After a record handed out from carry_: keeps its memory for the next unless it grew big.
  void KeepCarry();
  // Before a record handed out in place: gives back the memory of a big carry_.
  void ReleaseCarry() {
    if (carry_big_) ShrinkCarry();
  }
  void ShrinkCarry();
  // Records input that does not fit the framing; returns false.
  bool FailFormat(std::string reason) noexcept;

  LineReader reader_;
  RecordFormat format_;
  std::string path_;
  bool open_ = false;
  Status status_;
  std::uint64_t consumed_ = 0;
  std::int64_t number_ = 0;
  std::string_view chunk_;             // the bytes of the chunk at hand not read yet
  const char* chunk_begin_ = nullptr;  // where the chunk at hand starts
  MappedBuffer carry_;                 // a record that runs on into the next chunk
  bool carry_big_ = false;             // carry_ holds more memory than it keeps between records
  bool skip_lf_ = false;     // lines, csv: the last record ended with a CR at the end of a chunk
  bool check_size_ = false;  // fixed: the file's size is still to be checked
  bool header_pending_ = false;  // csv: the header is still to be read
  bool has_header_ = false;
  std::string header_;
  LineEnd line_end_ = LineEnd::kUnknown;  // lf: the kind of the first line's end
  std::int64_t line_ = 1;                 // csv: the physical line at the next record's start
  std::unique_ptr<CsvTables> csv_;        // csv: the classes of the bytes outside and inside quotes
  std::unique_ptr<CleanRecordMarks> marks_;  // fixed: the read-ahead's look at the records
};

}  // namespace vesmer
