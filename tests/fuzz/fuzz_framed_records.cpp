// FramedRecords on arbitrary bytes in every framing, read in tiny chunks so that chunk edges fall
// everywhere (inside a descriptor word, between CR and LF, after a Shift-JIS lead byte): the
// records, the failure and its message, the bytes consumed and the bytes the observer sees all
// match a plain reader written from the framing's rules, byte by byte. CSV records are split
// by CsvFields too, whose fields must tile the record and unquote to what the rules say.
//
// Input: byte 0 chooses the framing and, for csv, header, code page and delimiter; byte 1 the
// chunk size and the fixed record length; the rest is the file.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "formats/code_page.h"
#include "formats/csv_fields.h"
#include "formats/framed_records.h"

namespace {

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_framed_records: %s\n", what);
  std::abort();
}

// One temporary file for the whole run, in memory; the reader opens it by its /proc name as a
// regular file of its own.
int TemporaryFile() {
  static const int fd = [] {
    const int f = ::memfd_create("fuzz_framed_records", MFD_CLOEXEC);
    if (f < 0) Fail("memfd_create");
    return f;
  }();
  return fd;
}

void Store(std::string_view bytes) {
  const int fd = TemporaryFile();
  if (::ftruncate(fd, 0) != 0) Fail("ftruncate");
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put =
        ::pwrite(fd, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    if (put <= 0) Fail("pwrite");
    done += static_cast<std::size_t>(put);
  }
}

class Gather : public vesmer::ChunkObserver {
 public:
  void OnChunk(std::string_view bytes) override { seen.append(bytes); }
  std::string seen;
};

std::string Grouped(std::uint64_t n) {
  std::string digits = std::to_string(n);
  for (std::size_t at = digits.size(); at > 3; at -= 3) digits.insert(at - 3, ",");
  return digits;
}

// What the rules say a file holds: its records, where each one's end ends, and the failure.
struct Expected {
  std::vector<std::string> records;
  std::vector<std::size_t> ends;  // the offset after each record's end
  std::vector<bool> crlf;         // its end is a CR LF
  std::string reason;             // empty: a clean end
  std::string header;
  bool has_header = false;
};

void Add(Expected& e, std::string_view record, std::size_t end, bool crlf) {
  e.records.emplace_back(record);
  e.ends.push_back(end);
  e.crlf.push_back(crlf);
}

Expected Lines(std::string_view t, bool lf) {
  Expected e;
  const char end = lf ? '\n' : '\r';
  int kind = 0;  // lf: 1 LF, 2 CR LF
  std::size_t i = 0;
  while (i < t.size()) {
    const std::size_t at = t.find(end, i);
    if (at == std::string_view::npos) {
      Add(e, t.substr(i), t.size(), false);
      break;
    }
    std::string_view line = t.substr(i, at - i);
    std::size_t next = at + 1;
    bool crlf = false;
    if (lf) {
      crlf = !line.empty() && line.back() == '\r';
      if (crlf) line.remove_suffix(1);
      const int this_kind = crlf ? 2 : 1;
      if (kind == 0) kind = this_kind;
      if (kind != this_kind) {
        e.reason = Grouped(e.records.size() + 1) + " 行目の行末（" + (crlf ? "CR LF" : "LF") +
                   "）が 1 行目の行末（" + (crlf ? "LF" : "CR LF") + "）と違います";
        return e;
      }
      crlf = false;  // the LF ends the line: nothing is left for the next
    } else if (next < t.size() && t[next] == '\n') {
      ++next;
      crlf = true;
    }
    Add(e, line, next, crlf);
    i = next;
  }
  return e;
}

Expected Fixed(std::string_view t, std::size_t n) {
  Expected e;
  if (t.size() % n != 0) {
    e.reason = "ファイルの大きさ " + Grouped(t.size()) + " バイトは固定長 " + Grouped(n) +
               " バイトの倍数ではありません";
    return e;
  }
  for (std::size_t i = 0; i < t.size(); i += n) Add(e, t.substr(i, n), i + n, false);
  return e;
}

Expected Rdw(std::string_view t) {
  Expected e;
  std::size_t i = 0;
  while (i < t.size()) {
    const std::string at = "オフセット " + Grouped(i) + " のレコード記述語";
    if (t.size() - i < 4) {
      e.reason = at + "がファイルの終わりで切れています";
      return e;
    }
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(t[i + k]); };
    const std::size_t length = std::size_t{byte(0)} * 256 + byte(1);
    if (byte(2) != 0 || byte(3) != 0) {
      e.reason = at + "の 3、4 バイト目が 0 ではありません";
      return e;
    }
    if (length < 4) {
      e.reason = at + "の長さ " + std::to_string(length) + " が 4 未満です";
      return e;
    }
    if (t.size() - i < length) {
      e.reason =
          at + "が示す " + Grouped(length) + " バイトのレコードがファイルの終わりを越えています";
      return e;
    }
    Add(e, t.substr(i, length), i + length, false);
    i += length;
  }
  return e;
}

bool IsLead(unsigned char c) { return (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC); }
bool IsTrail(unsigned char c) { return (c >= 0x40 && c <= 0x7E) || (c >= 0x80 && c <= 0xFC); }

Expected Csv(std::string_view t, char delimiter, bool lead_bytes) {
  Expected e;
  enum { kStart, kUnquoted, kQuoted, kClosed } state;
  std::size_t i = 0;
  std::uint64_t line = 1;
  while (i < t.size()) {
    const std::size_t start = i;
    const std::uint64_t first_line = line;
    state = kStart;
    for (;;) {
      if (i == t.size()) {
        if (state == kQuoted) {
          e.reason = Grouped(first_line) + " 行目から始まるレコードの引用符が閉じていません";
          return e;
        }
        Add(e, t.substr(start), i, false);
        break;
      }
      const char c = t[i];
      if (state == kQuoted) {
        if (c == '"') {
          state = kClosed;
        } else if (c == '\r' || (c == '\n' && t[i - 1] != '\r')) {
          ++line;
        }
        ++i;
        continue;
      }
      if (c == '\r' || c == '\n') {
        std::size_t next = i + 1;
        const bool crlf = c == '\r' && next < t.size() && t[next] == '\n';
        if (crlf) ++next;
        ++line;
        Add(e, t.substr(start, i - start), next, crlf);
        i = next;
        break;
      }
      if (state == kClosed && c != '"' && c != delimiter) {
        e.reason = Grouped(line) + " 行目: 閉じた引用符の後に区切り文字がありません";
        return e;
      }
      if (c == delimiter) {
        state = kStart;
      } else if (c == '"') {
        if (state == kUnquoted) {
          e.reason = Grouped(line) + " 行目: 引用符で囲まれていないフィールドに引用符があります";
          return e;
        }
        state = kQuoted;
      } else {
        state = kUnquoted;
        if (lead_bytes && IsLead(static_cast<unsigned char>(c)) && i + 1 < t.size() &&
            IsTrail(static_cast<unsigned char>(t[i + 1]))) {
          ++i;
        }
      }
      ++i;
    }
  }
  return e;
}

// The first record is the header, even of a file that fails after it.
void TakeHeader(Expected& e) {
  if (e.records.empty()) return;
  e.has_header = true;
  e.header = e.records.front();
  e.records.erase(e.records.begin());
  e.ends.erase(e.ends.begin());
  e.crlf.erase(e.crlf.begin());
}

// A field's value by the rules: the slice itself, or between its quotes with "" made ".
std::string Unquote(std::string_view slice) {
  if (slice.empty() || slice.front() != '"') return std::string(slice);
  std::string value;
  for (std::size_t i = 1; i + 1 < slice.size(); ++i) {
    value += slice[i];
    if (slice[i] == '"') ++i;
  }
  return value;
}

void CheckFields(vesmer::CsvFields& fields, std::string_view record, char delimiter, bool shift_jis,
                 bool must_split) {
  if (!fields.Split(record, delimiter, shift_jis)) {
    if (must_split) Fail("a record read as CSV does not split");
    if (fields.size() != 0) Fail("fields of a refused record");
    return;
  }
  if (fields.size() == 0) Fail("no fields");
  std::size_t at = 0;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (fields.offset(i) != at) Fail("fields do not tile the record");
    if (fields.length(i) > record.size() - at) Fail("a field runs past the record");
    const std::string_view slice = record.substr(at, fields.length(i));
    if (fields.field(i) != Unquote(slice)) Fail("a field's value");
    at += fields.length(i);
    if (i + 1 < fields.size()) {
      if (at >= record.size() || record[at] != delimiter) Fail("no delimiter between fields");
      ++at;
    }
  }
  if (at != record.size()) Fail("fields end before the record");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 2) return 0;
  static constexpr char kDelimiters[] = {',', '\t', '|', ';', '\\', ' '};
  vesmer::RecordFormat format;
  const unsigned choice = data[0];
  format.framing = static_cast<vesmer::Framing>(choice % 5);
  if (format.framing == vesmer::Framing::kCsv) {
    format.header = (choice / 5) % 2 != 0;
    format.code_page = (choice / 10) % 2 != 0 ? "utf-8" : "cp932";
    format.delimiter = kDelimiters[(choice / 20) % sizeof kDelimiters];
  }
  static constexpr const char* kFixedCodePages[] = {"cp932", "ibm-930", "utf-8"};
  if (format.framing == vesmer::Framing::kFixed)
    format.code_page = kFixedCodePages[(choice / 5) % 3];
  const std::size_t chunk = data[1] % 32 + 1;
  format.record_length = data[1] / 32 + 1;
  const std::string_view text(reinterpret_cast<const char*>(data) + 2, size - 2);
  Store(text);
  static const std::string path = "/proc/self/fd/" + std::to_string(TemporaryFile());

  const bool shift_jis = format.ShiftJisBytes();
  Expected expected;
  switch (format.framing) {
    case vesmer::Framing::kLines:
      expected = Lines(text, false);
      break;
    case vesmer::Framing::kLf:
      expected = Lines(text, true);
      break;
    case vesmer::Framing::kFixed:
      expected = Fixed(text, format.record_length);
      break;
    case vesmer::Framing::kRdw:
      expected = Rdw(text);
      break;
    case vesmer::Framing::kCsv:
      expected = Csv(text, format.delimiter,
                     shift_jis && IsTrail(static_cast<unsigned char>(format.delimiter)));
      if (format.header) TakeHeader(expected);
      break;
  }

  Gather gather;
  vesmer::FramedRecords source(chunk);
  if (!source.Open(path, format, &gather).ok()) Fail("open");
  // Fixed-length records the read-ahead marks as characters only must be so.
  source.MarkCleanRecords();
  static std::unique_ptr<vesmer::CodePage> code_pages[3];
  vesmer::CodePage* code_page = nullptr;
  if (format.framing == vesmer::Framing::kFixed) {
    auto& opened = code_pages[(choice / 5) % 3];
    std::string message;
    if (opened == nullptr) opened = vesmer::CodePage::Open(format.code_page, message);
    if (opened == nullptr) Fail("code page");
    code_page = opened.get();
  }
  if (source.size() != text.size()) Fail("size");
  vesmer::CsvFields fields;
  std::string_view header;
  if (source.ReadHeader(header) != expected.has_header) Fail("a header or none");
  if (expected.has_header) {
    if (header != expected.header) Fail("the header differs");
    CheckFields(fields, header, format.delimiter, shift_jis, true);
  }
  std::string_view record;
  std::int64_t number = 0;
  std::size_t k = 0;
  while (source.Next(record, number)) {
    if (code_page != nullptr) {
      const std::string_view ahead = source.Ahead();
      const std::size_t known = source.AheadKnownClean();
      if (known > ahead.size() || known % format.record_length != 0) Fail("marks past Ahead()");
      for (std::size_t at = 0; at < known; at += format.record_length) {
        if (!code_page->KnownClean(ahead.substr(at, format.record_length))) {
          Fail("a record marked clean is not");
        }
      }
    }
    if (k == expected.records.size()) Fail("a record too many");
    if (record != expected.records[k]) Fail("a record differs");
    if (number != static_cast<std::int64_t>(k + 1 + (expected.has_header ? 1 : 0))) {
      Fail("record number");
    }
    // The LF of a CR LF whose CR ended a chunk is counted with the next record.
    const std::uint64_t end = expected.ends[k];
    if (source.consumed() != end && !(expected.crlf[k] && source.consumed() == end - 1)) {
      Fail("consumed() after a record");
    }
    if (format.framing == vesmer::Framing::kCsv) {
      CheckFields(fields, record, format.delimiter, shift_jis, true);
    }
    ++k;
  }
  if (k != expected.records.size()) Fail("a record is missing");
  if (expected.reason.empty()) {
    if (!source.status().ok()) Fail("a failure where none is");
    if (source.consumed() != text.size()) Fail("consumed() at the end");
    if (gather.seen != text) Fail("observed bytes");
  } else {
    if (source.status().ok()) Fail("no failure");
    if (source.status().reason() != expected.reason) {
      std::fprintf(stderr, "got: %s\nwant: %s\n", source.status().reason().c_str(),
                   expected.reason.c_str());
      Fail("the failure's reason");
    }
    if (source.status().path() != path) Fail("the failure's path");
    // The read-ahead may still be passing chunks on until the file is closed.
    source.Close();
    if (text.substr(0, gather.seen.size()) != gather.seen) Fail("observed bytes");
  }
  if (source.Next(record, number)) Fail("a record after the end");
  // The splitter on the raw bytes: no crash, and fields that tile when it takes them.
  if (format.framing == vesmer::Framing::kCsv) {
    CheckFields(fields, text, format.delimiter, shift_jis, false);
  }
  return 0;
}
