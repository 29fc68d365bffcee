#include "formats/framed_records.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <utility>

#include "csv_scan.h"
#include "formats/code_page.h"
#include "platform/fast_paths.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vesmer {
namespace {

// 1234567 -> "1,234,567".
std::string Grouped(std::uint64_t n) {
  const std::string digits = std::to_string(n);
  std::string text;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) text += ',';
    text += digits[i];
  }
  return text;
}

// The first `byte` of `bytes`, or null. Short records are common: the first 16 bytes are looked
// at in place before memchr is called. (No memchr on an empty view: its data may be null.)
inline const void* Find(std::string_view bytes, char byte) {
#if defined(__SSE2__)
  if (kFastPaths && bytes.size() >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes.data()));
    const int mask = _mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8(byte)));
    if (mask != 0) return bytes.data() + __builtin_ctz(static_cast<unsigned>(mask));
    return std::memchr(bytes.data() + 16, byte, bytes.size() - 16);
  }
#endif
  return bytes.empty() ? nullptr : std::memchr(bytes.data(), byte, bytes.size());
}

// Records that fit in a chunk or two keep the assembly buffer; after a longer one its memory is
// given back as soon as records are short again.
std::size_t KeptCarry(std::size_t chunk_size) {
  return std::max<std::size_t>(2 * chunk_size, std::size_t{1} << 20);
}

// Where a CSV record's scan stands between two bytes.
enum class CsvState : std::uint8_t {
  kFieldStart,  // at the start of a field
  kUnquoted,    // in a field that does not start with a quote
  kQuoted,      // inside the quotes of a quoted field
  kClosed,      // after a quote inside quotes: it closed the field, or a second one follows
  kTrail,       // unquoted, after a Shift-JIS lead byte that ended a chunk
};

}  // namespace

struct FramedRecords::CsvTables {
  csv::ByteTable unquoted;
  csv::ByteTable quoted;
};

// The read-ahead's look at fixed-length records: each chunk's note is where, counted from the
// chunk's start, the records known to be characters only end. They are the whole records from
// the first that starts in the chunk (one that began in the chunk before is not looked at) up
// to the first that is not known clean.
class FramedRecords::CleanRecordMarks final : public ChunkInspector {
 public:
  CleanRecordMarks(std::unique_ptr<CodePage> code_page, std::size_t length)
      : code_page_(std::move(code_page)), length_(length) {}

  void Start(unsigned every, unsigned first) {
    every_.store(std::max(every, 1u), std::memory_order_relaxed);
    first_.store(first, std::memory_order_relaxed);
    on_.store(true, std::memory_order_release);
  }

  std::uint64_t Inspect(std::string_view bytes) noexcept override {
    std::size_t at = static_cast<std::size_t>((length_ - offset_ % length_) % length_);
    offset_ += bytes.size();
    const std::uint64_t chunk = chunks_++;
    if (!on_.load(std::memory_order_acquire)) return 0;
    const unsigned every = every_.load(std::memory_order_relaxed);
    if (chunk % every != first_.load(std::memory_order_relaxed) % every) return 0;
    while (at + length_ <= bytes.size() && code_page_->KnownClean(bytes.substr(at, length_))) {
      at += length_;
    }
    return at;
  }

 private:
  const std::unique_ptr<CodePage> code_page_;  // the read-ahead thread's own
  const std::size_t length_;
  std::uint64_t offset_ = 0;  // of the next chunk in the file
  std::uint64_t chunks_ = 0;  // read so far
  std::atomic<bool> on_{false};
  std::atomic<unsigned> every_{1}, first_{0};
};

FramedRecords::FramedRecords() = default;

FramedRecords::FramedRecords(std::size_t chunk_size) : reader_(chunk_size) {}

FramedRecords::~FramedRecords() { reader_.Close(); }  // before the marks it may be looking through

Status FramedRecords::Open(const std::string& path, const RecordFormat& format,
                           ChunkObserver* observer) {
  Close();
  status_ = {};
  consumed_ = 0;
  number_ = 0;
  line_end_ = LineEnd::kUnknown;
  line_ = 1;
  header_.clear();
  has_header_ = false;
  try {
    path_ = path;
    format_ = format;
    if (format.framing == Framing::kCsv) {
      const bool lead_bytes = csv::DelimiterInTrailBytes(format.delimiter, format.ShiftJisBytes());
      csv_ = std::make_unique<CsvTables>(
          CsvTables{csv::ByteTable::Unquoted(format.delimiter, true, lead_bytes),
                    csv::ByteTable::Quoted(true)});
    }
    marks_.reset();
    if (format.framing == Framing::kFixed) {
      // A code page that cannot be opened is the decoder's to report.
      std::string unused;
      if (auto code_page = CodePage::Open(format.code_page, unused)) {
        marks_ = std::make_unique<CleanRecordMarks>(std::move(code_page), format.record_length);
      }
    }
  } catch (const std::bad_alloc&) {
    return status_ = Status::Error(ENOMEM, "open", path);
  }
  if (Status s = reader_.Open(path, observer, marks_.get()); !s.ok()) return status_ = s;
  open_ = true;
  check_size_ = format.framing == Framing::kFixed;
  header_pending_ = format.framing == Framing::kCsv && format.header;
  return status_;
}

void FramedRecords::MarkCleanRecords(unsigned every, unsigned first) {
  if (marks_ != nullptr) marks_->Start(every, first);
}

void FramedRecords::Close() {
  reader_.Close();
  open_ = false;
  chunk_ = {};
  skip_lf_ = false;
  carry_.Clear();
  carry_.ShrinkTo(0);
  carry_big_ = false;
}

bool FramedRecords::FailFormat(std::string reason) noexcept {
  try {
    status_ = Status::Error(EINVAL, "read", path_).WithReason(std::move(reason));
  } catch (...) {
    status_ = Status::Error(EINVAL, "read");
  }
  chunk_ = {};
  return false;
}

bool FramedRecords::Refill() {
  if (reader_.NextChunk(chunk_)) {
    chunk_begin_ = chunk_.data();
    return true;
  }
  chunk_ = {};
  if (!reader_.status().ok()) status_ = reader_.status();
  return false;
}

bool FramedRecords::Carry(std::string_view bytes) {
  if (Status s = carry_.Append(bytes); !s.ok()) {
    status_ = Status::Error(s.error_number(), "read", path_);
    return false;
  }
  return true;
}

bool FramedRecords::Gather(std::size_t bytes) {
  while (carry_.size() < bytes) {
    if (chunk_.empty() && !Refill()) return false;
    const std::size_t take = std::min(bytes - carry_.size(), chunk_.size());
    if (!Carry(chunk_.substr(0, take))) return false;
    chunk_.remove_prefix(take);
  }
  return true;
}

void FramedRecords::KeepCarry() {
  const std::size_t keep = KeptCarry(reader_.chunk_size());
  carry_.ShrinkTo(keep);
  carry_big_ = carry_.capacity() > keep;
}

void FramedRecords::ShrinkCarry() {
  carry_.Clear();
  KeepCarry();
}

bool FramedRecords::Next(std::string_view& record, std::int64_t& record_number) {
  if (!open_ || !status_.ok()) return false;
  if (header_pending_ && !TakeHeader()) return false;
  if (!NextRecord(record)) return false;
  record_number = ++number_;
  return true;
}

bool FramedRecords::NextRecord(std::string_view& record) {
  switch (format_.framing) {
    case Framing::kLines:
    case Framing::kLf:
      return NextLine(record);
    case Framing::kFixed:
      return NextFixed(record);
    case Framing::kRdw:
      return NextRdw(record);
    case Framing::kCsv:
      return NextCsv(record);
  }
  return false;
}

bool FramedRecords::TakeHeader() {
  header_pending_ = false;
  std::string_view header;
  if (!NextCsv(header)) return status_.ok();  // an empty file: no header, no records
  try {
    header_.assign(header);
  } catch (const std::bad_alloc&) {
    status_ = Status::Error(ENOMEM, "read", path_);
    return false;
  }
  has_header_ = true;
  number_ = 1;
  return true;
}

bool FramedRecords::ReadHeader(std::string_view& header) {
  if (open_ && status_.ok() && header_pending_ && !TakeHeader()) return false;
  if (!has_header_) return false;
  header = header_;
  return true;
}

bool FramedRecords::SkipLf() {
  skip_lf_ = false;
  if (chunk_.empty() && !Refill()) return false;
  if (chunk_.front() == '\n') {
    chunk_.remove_prefix(1);
    ++consumed_;
  }
  return true;
}

// Lines and lf lines.

bool FramedRecords::NextLine(std::string_view& record) {
  const char end = format_.framing == Framing::kLines ? '\r' : '\n';
  if (skip_lf_ && !SkipLf()) return false;
  if (chunk_.empty() && !Refill()) return false;
  // Most lines lie within the chunk at hand and are handed out where they are.
  if (const void* at = Find(chunk_, end)) {
    ReleaseCarry();
    const auto p = static_cast<std::size_t>(static_cast<const char*>(at) - chunk_.data());
    return EndLine(chunk_.substr(0, p), p, record);
  }
  carry_.Clear();
  for (;;) {
    if (!Carry(chunk_)) return false;
    consumed_ += chunk_.size();
    chunk_ = {};
    if (!Refill()) {
      if (!status_.ok()) return false;
      KeepCarry();
      record = carry_.view();  // the last line, without an end
      return true;
    }
    if (const void* at = std::memchr(chunk_.data(), end, chunk_.size())) {
      const auto p = static_cast<std::size_t>(static_cast<const char*>(at) - chunk_.data());
      if (!Carry(chunk_.substr(0, p))) return false;
      KeepCarry();
      return EndLine(carry_.view(), p, record);
    }
  }
}

bool FramedRecords::EndLine(std::string_view line, std::size_t end, std::string_view& record) {
  std::size_t next = end + 1;
  if (format_.framing == Framing::kLines) {
    if (next < chunk_.size()) {
      if (chunk_[next] == '\n') ++next;
    } else {
      skip_lf_ = true;  // the LF, if any, starts the next chunk
    }
  } else {
    // The CR before the LF is in `line`, whether it lay in this chunk or an earlier one.
    const bool cr_lf = !line.empty() && line.back() == '\r';
    if (cr_lf) line.remove_suffix(1);
    const LineEnd kind = cr_lf ? LineEnd::kCrLf : LineEnd::kLf;
    if (line_end_ == LineEnd::kUnknown) {
      line_end_ = kind;
    } else if (kind != line_end_) {
      return FailFormat(Grouped(static_cast<std::uint64_t>(number_ + 1)) + " 行目の行末（" +
                        (cr_lf ? "CR LF" : "LF") + "）が 1 行目の行末（" +
                        (cr_lf ? "LF" : "CR LF") + "）と違います");
    }
  }
  consumed_ += next;
  chunk_.remove_prefix(next);
  record = line;
  return true;
}

// Fixed-length records.

bool FramedRecords::NextFixed(std::string_view& record) {
  const std::size_t length = format_.record_length;
  if (check_size_) {
    // A regular file's size tells before the first record that the last one would be cut.
    check_size_ = false;
    if (reader_.size() % length != 0) {
      return FailFormat("ファイルの大きさ " + Grouped(reader_.size()) + " バイトは固定長 " +
                        Grouped(length) + " バイトの倍数ではありません");
    }
  }
  if (chunk_.empty() && !Refill()) return false;
  if (chunk_.size() >= length) {
    ReleaseCarry();
    record = chunk_.substr(0, length);
    chunk_.remove_prefix(length);
    consumed_ += length;
    return true;
  }
  carry_.Clear();
  if (!Gather(length)) {
    if (!status_.ok()) return false;
    // A pipe, or a file that grew since it was opened.
    return FailFormat("読み込んだ " + Grouped(consumed_ + carry_.size()) + " バイトは固定長 " +
                      Grouped(length) + " バイトの倍数ではありません");
  }
  KeepCarry();
  record = carry_.view();
  consumed_ += length;
  return true;
}

// RDW records.

bool FramedRecords::RdwLength(const char* word, std::size_t& length) {
  const auto byte = [word](int i) { return static_cast<unsigned char>(word[i]); };
  length = std::size_t{byte(0)} << 8 | byte(1);
  if (byte(2) != 0 || byte(3) != 0) {
    return FailFormat("オフセット " + Grouped(consumed_) +
                      " のレコード記述語の 3、4 バイト目が 0 ではありません");
  }
  if (length < 4) {
    return FailFormat("オフセット " + Grouped(consumed_) + " のレコード記述語の長さ " +
                      std::to_string(length) + " が 4 未満です");
  }
  return true;
}

bool FramedRecords::NextRdw(std::string_view& record) {
  if (chunk_.empty() && !Refill()) return false;
  std::size_t length = 0;
  if (chunk_.size() >= 4) {
    if (!RdwLength(chunk_.data(), length)) return false;
    if (chunk_.size() >= length) {
      ReleaseCarry();
      record = chunk_.substr(0, length);
      chunk_.remove_prefix(length);
      consumed_ += length;
      return true;
    }
  }
  carry_.Clear();
  if (!Gather(4)) {
    if (!status_.ok()) return false;
    return FailFormat("オフセット " + Grouped(consumed_) +
                      " のレコード記述語がファイルの終わりで切れています");
  }
  if (!RdwLength(carry_.view().data(), length)) return false;
  if (!Gather(length)) {
    if (!status_.ok()) return false;
    return FailFormat("オフセット " + Grouped(consumed_) + " のレコード記述語が示す " +
                      Grouped(length) + " バイトのレコードがファイルの終わりを越えています");
  }
  KeepCarry();
  record = carry_.view();
  consumed_ += length;
  return true;
}

// CSV records.

bool FramedRecords::NextCsv(std::string_view& record) {
  if (skip_lf_ && !SkipLf()) return false;
  if (chunk_.empty() && !Refill()) return false;
  const csv::ByteTable& unquoted = csv_->unquoted;
  const csv::ByteTable& quoted = csv_->quoted;
  // A record without quotes needs no look at its fields: it ends at its first CR or LF.
  if (const std::size_t end = quoted.SkipPlain(chunk_, 0);
      end < chunk_.size() && chunk_[end] != '"') {
    return EndCsvRecord(end, false, record);
  }
  const std::int64_t first_line = line_;
  CsvState state = CsvState::kFieldStart;
  bool carrying = false;  // the record began in an earlier chunk: its bytes so far are in carry_
  std::size_t p = 0;      // the scan's position in chunk_, where the record starts
  for (;;) {
    const char* const s = chunk_.data();
    const std::size_t n = chunk_.size();
    while (p < n) {
      if (state == CsvState::kQuoted) {
        p = quoted.SkipPlain(chunk_, p);
        if (p == n) break;
        const char c = s[p];
        if (c == '"') {
          state = CsvState::kClosed;
        } else {
          // A physical line ends at CR, at a LF not after a CR: one line for a CR LF. A LF at the
          // chunk's start follows the last byte carried (the quote that opened, at least).
          const char before = p > 0 ? s[p - 1] : carry_.view().back();
          if (c == '\r' || before != '\r') ++line_;
        }
        ++p;
        continue;
      }
      if (state == CsvState::kTrail) {
        state = CsvState::kUnquoted;
        if (csv::IsTrailByte(static_cast<unsigned char>(s[p]))) {
          ++p;
          continue;
        }
      }
      if (state == CsvState::kUnquoted) {
        p = unquoted.SkipPlain(chunk_, p);
        if (p == n) break;
      }
      switch (unquoted[s[p]]) {
        case csv::kPlain:
        case csv::kLead:
          if (state == CsvState::kClosed) {
            return FailFormat(Grouped(static_cast<std::uint64_t>(line_)) +
                              " 行目: 閉じた引用符の後に区切り文字がありません");
          }
          state = CsvState::kUnquoted;
          if (unquoted[s[p]] == csv::kLead) {
            // The second byte of the character, whatever it looks like, is no delimiter.
            if (p + 1 == n) {
              state = CsvState::kTrail;
            } else if (csv::IsTrailByte(static_cast<unsigned char>(s[p + 1]))) {
              ++p;
            }
          }
          ++p;
          break;
        case csv::kDelimiter:
          state = CsvState::kFieldStart;
          ++p;
          break;
        case csv::kQuote:
          if (state == CsvState::kUnquoted) {
            return FailFormat(Grouped(static_cast<std::uint64_t>(line_)) +
                              " 行目: 引用符で囲まれていないフィールドに引用符があります");
          }
          // Opens a quoted field, or is the second of two quotes: a quote in the value.
          state = CsvState::kQuoted;
          ++p;
          break;
        case csv::kCr:
        case csv::kLf:
          return EndCsvRecord(p, carrying, record);
      }
    }
    // The chunk ends inside the record.
    if (!carrying) {
      carry_.Clear();
      carrying = true;
    }
    if (!Carry(chunk_)) return false;
    consumed_ += chunk_.size();
    chunk_ = {};
    p = 0;
    if (!Refill()) {
      if (!status_.ok()) return false;
      if (state == CsvState::kQuoted) {
        return FailFormat(Grouped(static_cast<std::uint64_t>(first_line)) +
                          " 行目から始まるレコードの引用符が閉じていません");
      }
      KeepCarry();
      record = carry_.view();  // the last record, without an end
      return true;
    }
  }
}

bool FramedRecords::EndCsvRecord(std::size_t end, bool carrying, std::string_view& record) {
  std::string_view line = chunk_.substr(0, end);
  if (carrying) {
    if (!Carry(line)) return false;
    KeepCarry();
    line = carry_.view();
  } else {
    ReleaseCarry();
  }
  std::size_t next = end + 1;
  if (chunk_[end] == '\r') {
    if (next < chunk_.size()) {
      if (chunk_[next] == '\n') ++next;
    } else {
      skip_lf_ = true;  // the LF, if any, starts the next chunk
    }
  }
  ++line_;
  consumed_ += next;
  chunk_.remove_prefix(next);
  record = line;
  return true;
}

}  // namespace vesmer
