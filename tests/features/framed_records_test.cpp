#include "formats/framed_records.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "formats/code_page.h"
#include "tests/support/sys_faults.h"
#include "tests/support/test_util.h"

namespace vesmer {
namespace {

using testing::TempDir;
using testing::WriteFile;

// Chunk sizes that put chunk ends everywhere in short inputs, and one that holds them whole.
constexpr std::size_t kChunkSizes[] = {1, 2, 3, 4, 5, 6, 7, 8, 11, 16, 4096};

RecordFormat Format(const std::string& text) {
  RecordFormat format;
  std::string message;
  EXPECT_TRUE(ParseRecordFormat(text, format, message)) << message;
  return format;
}

struct Reading {
  std::vector<std::string> records;
  std::vector<std::int64_t> numbers;
  bool ok = true;
  std::string reason;  // when not ok
  std::uint64_t consumed = 0;
  std::uint64_t size = 0;
};

// Every record of `path` read as `format` in chunks of `chunk` bytes, and how the reading ended.
Reading ReadAll(const std::string& path, const std::string& format, std::size_t chunk) {
  FramedRecords source(chunk);
  Reading r;
  EXPECT_TRUE(source.Open(path, Format(format)).ok());
  std::string_view record;
  std::int64_t number = 0;
  std::uint64_t consumed = 0;
  while (source.Next(record, number)) {
    r.records.emplace_back(record);
    r.numbers.push_back(number);
    EXPECT_GT(source.consumed(), consumed);  // every record takes up bytes
    consumed = source.consumed();
  }
  r.ok = source.status().ok();
  if (!r.ok) {
    EXPECT_EQ(source.status().path(), path);
    EXPECT_EQ(source.status().operation(), "read");
    r.reason = source.status().reason();
  }
  r.consumed = source.consumed();
  r.size = source.size();
  EXPECT_FALSE(source.Next(record, number));  // the end stays the end, a failure a failure
  return r;
}

// Reads `text` as `format` at every chunk size and expects these records, then a clean end
// with the whole file consumed.
void ExpectRecords(const std::string& text, const std::string& format,
                   const std::vector<std::string>& expected) {
  TempDir dir;
  WriteFile(dir / "f", text);
  for (const std::size_t chunk : kChunkSizes) {
    SCOPED_TRACE(::testing::Message()
                 << format << ", chunk " << chunk << ", text of " << text.size());
    const Reading r = ReadAll(dir / "f", format, chunk);
    EXPECT_TRUE(r.ok) << r.reason;
    EXPECT_EQ(r.records, expected);
    EXPECT_EQ(r.consumed, text.size());
    EXPECT_EQ(r.size, text.size());
  }
}

// Reads `text` as `format` at every chunk size and expects these records, then a failed read
// for this reason.
void ExpectFailure(const std::string& text, const std::string& format,
                   const std::vector<std::string>& before, const std::string& reason) {
  TempDir dir;
  WriteFile(dir / "f", text);
  for (const std::size_t chunk : kChunkSizes) {
    SCOPED_TRACE(::testing::Message() << format << ", chunk " << chunk);
    const Reading r = ReadAll(dir / "f", format, chunk);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(r.reason, reason);
    EXPECT_EQ(r.records, before);
  }
}

std::string Rdw(const std::string& data) {
  const std::size_t length = data.size() + 4;
  return std::string{static_cast<char>(length >> 8), static_cast<char>(length & 0xFF), '\0', '\0'} +
         data;
}

TEST(FramedRecordsTest, LfLinesEndAtLfOrCrLf) {
  ExpectRecords("", "lf", {});
  ExpectRecords("\n", "lf", {""});
  ExpectRecords("a\nbc\n", "lf", {"a", "bc"});
  ExpectRecords("a\r\nbc\r\n", "lf", {"a", "bc"});
  ExpectRecords("a\nbc", "lf", {"a", "bc"});  // the last line need not have an end
  ExpectRecords("x\r\n\r\n\r\ny", "lf", {"x", "", "", "y"});
  // A CR that is not before a LF is data.
  ExpectRecords("a\rb\nc\r", "lf", {"a\rb", "c\r"});
  ExpectRecords("\r\r\n", "lf", {"\r"});
  ExpectRecords(std::string(40, 'x') + "\r\n" + std::string(23, 'y') + "\r\n", "lf,utf-8",
                {std::string(40, 'x'), std::string(23, 'y')});
}

TEST(FramedRecordsTest, LfLinesAllEndAlike) {
  ExpectFailure("a\r\nb\nc\r\n", "lf", {"a"},
                "2 行目の行末（LF）が 1 行目の行末（CR LF）と違います");
  ExpectFailure("a\nb\nc\r\nd\n", "lf", {"a", "b"},
                "3 行目の行末（CR LF）が 1 行目の行末（LF）と違います");
  // Over a thousand lines, a number grouped as the sizes are.
  std::string text;
  for (int i = 0; i < 1233; ++i) text += "line\n";
  text += "last\r\n";
  TempDir dir;
  WriteFile(dir / "f", text);
  const Reading r = ReadAll(dir / "f", "lf", 4096);
  EXPECT_EQ(r.records.size(), 1233u);
  EXPECT_EQ(r.reason, "1,234 行目の行末（CR LF）が 1 行目の行末（LF）と違います");
}

TEST(FramedRecordsTest, LinesAreReadAsTheLineReaderReadsThem) {
  TempDir dir;
  for (const std::string& text :
       {std::string("a\r\nb\rc\nd\r\r\ne"), std::string("\r\n\r"), std::string("x\r"),
        std::string(30, 'l') + "\r\n" + std::string(17, 'm') + "\n\r" + std::string(9, 'n')}) {
    WriteFile(dir / "f", text);
    std::vector<std::string> expected;
    LineReader reader;
    ASSERT_TRUE(reader.Open(dir / "f").ok());
    std::string_view line;
    while (reader.Next(line)) expected.emplace_back(line);
    ASSERT_TRUE(reader.status().ok());
    ExpectRecords(text, "lines", expected);
  }
}

TEST(FramedRecordsTest, FixedRecordsAreHandedOutAsTheyLie) {
  ExpectRecords("", "fixed=3", {});
  ExpectRecords("abcdefghi", "fixed=3", {"abc", "def", "ghi"});
  ExpectRecords("a\r\nb\r\n", "fixed=3", {"a\r\n", "b\r\n"});  // line ends are data
  ExpectRecords(std::string("\0\0\0\0", 4), "fixed=2",
                {std::string(2, '\0'), std::string(2, '\0')});
  ExpectRecords("x", "fixed=1", {"x"});
  const std::string long_record(50, 'L');
  ExpectRecords(long_record + long_record, "fixed=50,ibm-930", {long_record, long_record});
}

TEST(FramedRecordsTest, FixedRecordsMustFillTheFile) {
  ExpectFailure("abcdefgh", "fixed=3", {},
                "ファイルの大きさ 8 バイトは固定長 3 バイトの倍数ではありません");
  ExpectFailure(std::string(1234, 'x'), "fixed=200", {},
                "ファイルの大きさ 1,234 バイトは固定長 200 バイトの倍数ではありません");
}

TEST(FramedRecordsTest, FixedRecordsFromAPipeEndWithWhatWasRead) {
  TempDir dir;
  const std::string fifo = dir / "fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::thread writer([&] {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return;
    EXPECT_EQ(::write(fd, "abcdefgh", 8), 8);
    ::close(fd);
  });
  FramedRecords source(4);
  ASSERT_TRUE(source.Open(fifo, Format("fixed=3")).ok());
  EXPECT_EQ(source.size(), 0u);
  std::vector<std::string> records;
  std::string_view record;
  std::int64_t number = 0;
  while (source.Next(record, number)) records.emplace_back(record);
  writer.join();
  EXPECT_EQ(records, (std::vector<std::string>{"abc", "def"}));
  EXPECT_EQ(source.status().error_number(), EINVAL);
  EXPECT_EQ(source.status().reason(), "読み込んだ 8 バイトは固定長 3 バイトの倍数ではありません");
  EXPECT_EQ(source.consumed(), 6u);
}

TEST(FramedRecordsTest, RdwRecordsKeepTheirDescriptorWord) {
  ExpectRecords("", "rdw", {});
  const std::string a = Rdw("abc"), empty = Rdw(""), long_one = Rdw(std::string(300, 'z'));
  // With chunks of 1 to 16 bytes descriptor words end chunks, start them and lie across them.
  ExpectRecords(a + empty + long_one + a, "rdw", {a, empty, long_one, a});
  ExpectRecords(Rdw("\r\n"), "rdw,ibm-930", {Rdw("\r\n")});
}

TEST(FramedRecordsTest, BadDescriptorWordsAreNamedByTheirOffset) {
  const std::string a = Rdw("abc");  // 7 bytes
  ExpectFailure(a + std::string("\0\3\0\0", 4), "rdw", {a},
                "オフセット 7 のレコード記述語の長さ 3 が 4 未満です");
  ExpectFailure(std::string("\0\0\0\0", 4), "rdw", {},
                "オフセット 0 のレコード記述語の長さ 0 が 4 未満です");
  ExpectFailure(a + std::string("\0\5\0\1x", 5), "rdw", {a},
                "オフセット 7 のレコード記述語の 3、4 バイト目が 0 ではありません");
  ExpectFailure(a + std::string("\0\5\1\0x", 5), "rdw", {a},
                "オフセット 7 のレコード記述語の 3、4 バイト目が 0 ではありません");
  ExpectFailure(
      a + std::string("\0\x10\0\0abc", 7), "rdw", {a},
      "オフセット 7 のレコード記述語が示す 16 バイトのレコードがファイルの終わりを越えています");
  ExpectFailure(a + std::string("\0\5", 2), "rdw", {a},
                "オフセット 7 のレコード記述語がファイルの終わりで切れています");
  // Offsets of four digits and more are grouped.
  std::string text;
  std::vector<std::string> records;
  for (int i = 0; i < 12; ++i) records.push_back(Rdw(std::string(96, 'r')));
  records.push_back(Rdw(std::string(30, 's')));
  for (const std::string& r : records) text += r;
  ASSERT_EQ(text.size(), 1234u);
  ExpectFailure(text + std::string("\x01\0\0\0", 4), "rdw", records,
                "オフセット 1,234 のレコード記述語が示す 256 "
                "バイトのレコードがファイルの終わりを越えています");
}

TEST(FramedRecordsTest, CsvRecordsEndOutsideQuotes) {
  ExpectRecords("", "csv", {});
  ExpectRecords("a,b\r\nc,d\r\n", "csv", {"a,b", "c,d"});
  ExpectRecords("a\rb\nc\r\nd", "csv", {"a", "b", "c", "d"});  // any of the three ends
  ExpectRecords("\r\n\n", "csv", {"", ""});
  ExpectRecords("a,\r\n,b,\r\n,", "csv", {"a,", ",b,", ","});  // empty first and last fields
  // Line ends inside quotes belong to the record; doubled quotes are kept as they are.
  ExpectRecords("\"x\r\ny\",2\r\n3,\"z\nw\"\n\"\r\"\r", "csv",
                {"\"x\r\ny\",2", "3,\"z\nw\"", "\"\r\""});
  ExpectRecords("\"a\"\"b\",\"\"\"\",\"\"\r\n", "csv", {"\"a\"\"b\",\"\"\"\",\"\""});
  ExpectRecords("\"\"", "csv", {"\"\""});
}

TEST(FramedRecordsTest, CsvTakesTheDelimiterGiven) {
  ExpectRecords("a\tb\r\n\"x\ty\"\t\"z\"\r\n", "csv,delimiter=\\t", {"a\tb", "\"x\ty\"\t\"z\""});
  // A closing quote must be followed by the delimiter given, not by a comma.
  ExpectFailure("\"a\",b\r\n", "csv,delimiter=\\t", {},
                "1 行目: 閉じた引用符の後に区切り文字がありません");
  ExpectRecords("\"a\";\"b\"\n", "csv,delimiter=;", {"\"a\";\"b\""});
}

TEST(FramedRecordsTest, CsvInShiftJisNeverTakesHalfACharacterForTheDelimiter) {
  // 0x83 0x7C is a katakana whose second byte is '|': in code page 932 the quote after it is
  // inside an unquoted field; in UTF-8 the '|' is a delimiter and the quote opens a field.
  const std::string text = "\x83|\"b\"\r\n";
  ExpectRecords(text, "csv,delimiter=|,utf-8", {"\x83|\"b\""});
  ExpectFailure(text, "csv,delimiter=|", {},
                "1 行目: 引用符で囲まれていないフィールドに引用符があります");
  // A real delimiter after a double-byte character, and a lead byte before a line end.
  ExpectRecords("\x83\x7C|\"b\"\r\n\x83\r\n\x83", "csv,delimiter=|,shift_jis",
                {"\x83\x7C|\"b\"", "\x83", "\x83"});
  // A comma is never a second byte: no need to look at characters.
  ExpectRecords("\x83,\"b\"\r\n", "csv", {"\x83,\"b\""});
}

TEST(FramedRecordsTest, CsvHeaderIsNoRecord) {
  TempDir dir;
  WriteFile(dir / "f", "name,age\r\nx,1\r\ny,2\r\n");
  for (const std::size_t chunk : {4u, 4096u}) {  // chunk ends not between the CR and the LF
    FramedRecords source(chunk);
    ASSERT_TRUE(source.Open(dir / "f", Format("csv,header")).ok());
    std::string_view header;
    ASSERT_TRUE(source.ReadHeader(header));
    EXPECT_EQ(header, "name,age");
    EXPECT_EQ(source.consumed(), 10u);
    std::string_view record;
    std::int64_t number = 0;
    ASSERT_TRUE(source.Next(record, number));
    EXPECT_EQ(record, "x,1");
    EXPECT_EQ(number, 2);
    ASSERT_TRUE(source.Next(record, number));
    EXPECT_EQ(record, "y,2");
    EXPECT_EQ(number, 3);
    EXPECT_FALSE(source.Next(record, number));
    EXPECT_TRUE(source.status().ok());
    ASSERT_TRUE(source.ReadHeader(header));  // kept while the file is open
    EXPECT_EQ(header, "name,age");
  }
  // Next() reads the header first when nobody asked for it.
  EXPECT_EQ(ReadAll(dir / "f", "csv,header", 5).records, (std::vector<std::string>{"x,1", "y,2"}));
  // Without the option the header is a record; with another framing there is none to read.
  EXPECT_EQ(ReadAll(dir / "f", "csv", 5).records.size(), 3u);
  FramedRecords source;
  ASSERT_TRUE(source.Open(dir / "f", Format("csv")).ok());
  std::string_view header;
  EXPECT_FALSE(source.ReadHeader(header));
}

TEST(FramedRecordsTest, CsvHeaderOfAnEmptyOrHeaderOnlyFile) {
  TempDir dir;
  WriteFile(dir / "empty", "");
  WriteFile(dir / "only", "a,b");
  FramedRecords source;
  std::string_view header;
  ASSERT_TRUE(source.Open(dir / "empty", Format("csv,header")).ok());
  EXPECT_FALSE(source.ReadHeader(header));
  EXPECT_TRUE(source.status().ok());
  ASSERT_TRUE(source.Open(dir / "only", Format("csv,header")).ok());
  ASSERT_TRUE(source.ReadHeader(header));
  EXPECT_EQ(header, "a,b");
  std::string_view record;
  std::int64_t number = 0;
  EXPECT_FALSE(source.Next(record, number));
  EXPECT_TRUE(source.status().ok());
  EXPECT_EQ(source.consumed(), 3u);
}

TEST(FramedRecordsTest, BadCsvIsNamedByItsLine) {
  ExpectFailure("a\r\n\"b\r\nc\r\n", "csv", {"a"},
                "2 行目から始まるレコードの引用符が閉じていません");
  // Physical lines count the line ends inside quotes, a CR LF as one.
  ExpectFailure("\"a\r\nb\",1\r\n\"c\n", "csv", {"\"a\r\nb\",1"},
                "3 行目から始まるレコードの引用符が閉じていません");
  ExpectFailure("\"a\rb\nc\",1\n\"", "csv", {"\"a\rb\nc\",1"},
                "4 行目から始まるレコードの引用符が閉じていません");
  ExpectFailure("a,b\"c\r\n", "csv", {},
                "1 行目: 引用符で囲まれていないフィールドに引用符があります");
  ExpectFailure("ok\n\"x\ny\",a\"b\n", "csv", {"ok"},
                "3 行目: 引用符で囲まれていないフィールドに引用符があります");
  ExpectFailure("\"ab\"c,d\n", "csv", {}, "1 行目: 閉じた引用符の後に区切り文字がありません");
  ExpectFailure("\"ab\" \n", "csv", {}, "1 行目: 閉じた引用符の後に区切り文字がありません");
  std::string text;
  for (int i = 0; i < 1233; ++i) text += "x\r\n";
  TempDir dir;
  WriteFile(dir / "f", text + "\"open");
  const Reading r = ReadAll(dir / "f", "csv", 4096);
  EXPECT_EQ(r.records.size(), 1233u);
  EXPECT_EQ(r.reason, "1,234 行目から始まるレコードの引用符が閉じていません");
}

TEST(FramedRecordsTest, RecordsAreNumberedFromOne) {
  TempDir dir;
  WriteFile(dir / "f", "a\nb\nc\n");
  EXPECT_EQ(ReadAll(dir / "f", "lf", 2).numbers, (std::vector<std::int64_t>{1, 2, 3}));
  // Reopening starts again.
  FramedRecords source(2);
  std::string_view record;
  std::int64_t number = 0;
  for (int pass = 0; pass < 2; ++pass) {
    ASSERT_TRUE(source.Open(dir / "f", Format("fixed=2")).ok());
    ASSERT_TRUE(source.Next(record, number));
    EXPECT_EQ(record, "a\n");
    EXPECT_EQ(number, 1);
  }
  source.Close();
  EXPECT_FALSE(source.Next(record, number));
}

TEST(FramedRecordsTest, ConsumedCountsTheRecordsAndTheirEnds) {
  TempDir dir;
  WriteFile(dir / "f", "ab\r\ncd\r\n");
  FramedRecords source(64);
  ASSERT_TRUE(source.Open(dir / "f", Format("lf")).ok());
  EXPECT_EQ(source.size(), 8u);
  std::string_view record;
  std::int64_t number = 0;
  ASSERT_TRUE(source.Next(record, number));
  EXPECT_EQ(source.consumed(), 4u);
  ASSERT_TRUE(source.Next(record, number));
  EXPECT_EQ(source.consumed(), 8u);
  // CSV: a CR that ends a chunk hands its record out at once; its LF counts with the next.
  WriteFile(dir / "f", "ab\r\ncd");
  FramedRecords csv(3);
  ASSERT_TRUE(csv.Open(dir / "f", Format("csv")).ok());
  ASSERT_TRUE(csv.Next(record, number));
  EXPECT_EQ(record, "ab");
  EXPECT_EQ(csv.consumed(), 3u);
  ASSERT_TRUE(csv.Next(record, number));
  EXPECT_EQ(record, "cd");
  EXPECT_EQ(csv.consumed(), 6u);
}

TEST(FramedRecordsTest, ALongRecordsMemoryIsGivenBackOnceRecordsAreShortAgain) {
  TempDir dir;
  const std::string long_field(5 << 20, 'q');
  WriteFile(dir / "f", "short\r\n\"" + long_field + "\"\r\nshort\r\nshort\r\n");
  FramedRecords source;  // chunks of 1 MiB: the long record runs over six of them
  ASSERT_TRUE(source.Open(dir / "f", Format("csv")).ok());
  std::string_view record;
  std::int64_t number = 0;
  ASSERT_TRUE(source.Next(record, number));
  ASSERT_TRUE(source.Next(record, number));
  EXPECT_EQ(record.size(), long_field.size() + 2);
  EXPECT_GE(source.record_buffer_capacity(), long_field.size());
  ASSERT_TRUE(source.Next(record, number));
  EXPECT_EQ(record, "short");
  EXPECT_LE(source.record_buffer_capacity(), std::size_t{2} << 20);
}

TEST(FramedRecordsTest, TheObserverSeesTheWholeFile) {
  struct Gather : ChunkObserver {
    void OnChunk(std::string_view bytes) override { seen.append(bytes); }
    std::string seen;
  } gather;
  TempDir dir;
  const std::string text = Rdw("one") + Rdw("two") + Rdw(std::string(20, '3'));
  WriteFile(dir / "f", text);
  FramedRecords source(5);
  ASSERT_TRUE(source.Open(dir / "f", Format("rdw"), &gather).ok());
  std::string_view record;
  std::int64_t number = 0;
  int records = 0;
  while (source.Next(record, number)) ++records;
  EXPECT_EQ(records, 3);
  EXPECT_EQ(gather.seen, text);
}

// The read-ahead's marks of fixed-length records known to be characters only: never a record
// with a byte that is no character, at every chunk size (records cut by chunk ends are left
// unmarked), taken one by one or skipped over.
TEST(FramedRecordsTest, RecordsMarkedCleanAheadAreCleanRecords) {
  constexpr std::size_t kLength = 6;
  const std::string so = "\x0E", si = "\x0F";
  std::string text;
  std::vector<bool> clean;
  for (int i = 0; i < 3000; ++i) {
    // Single-byte letters, a kanji between shifts, or a pair that is no character.
    if (i % 97 == 13) {
      text += "\xC1" + so + "\xFF\xFF" + si + "\xC1";
      clean.push_back(false);
    } else if (i % 5 == 0) {
      text += "\xC2" + so + "\x45\x41" + si + "\xC2";
      clean.push_back(true);
    } else {
      text += std::string(kLength, static_cast<char>(0xC1 + i % 9));
      clean.push_back(true);
    }
  }
  ASSERT_EQ(text.size(), clean.size() * kLength);
  TempDir dir;
  WriteFile(dir / "f", text);
  std::string message;
  const auto code_page = CodePage::Open("ibm-930", message);
  ASSERT_NE(code_page, nullptr) << message;
  // Every chunk looked at, or every other one (from the first or the second).
  for (const auto& [every, first] : {std::pair{1u, 0u}, std::pair{2u, 0u}, std::pair{2u, 1u}}) {
    for (const std::size_t chunk : {1u, 5u, 6u, 7u, 64u, 4096u}) {
      SCOPED_TRACE(::testing::Message()
                   << "chunk " << chunk << ", every " << every << " from " << first);
      FramedRecords source(chunk);
      ASSERT_TRUE(source.Open(dir / "f", Format("fixed=6,ibm-930")).ok());
      source.MarkCleanRecords(every, first);
      std::vector<bool> marked(clean.size());
      std::size_t next = 0;
      std::string_view record;
      std::int64_t number = 0;
      while (source.Next(record, number)) {
        next = static_cast<std::size_t>(number);  // records before it are handed out
        const std::string_view ahead = source.Ahead();
        const std::size_t known = source.AheadKnownClean();
        ASSERT_LE(known, ahead.size());
        ASSERT_EQ(known % kLength, 0u);
        for (std::size_t at = 0; at < known; at += kLength) {
          ASSERT_TRUE(clean[next + at / kLength]) << next + at / kLength;
          ASSERT_TRUE(code_page->KnownClean(ahead.substr(at, kLength)));
          marked[next + at / kLength] = true;
        }
        // Every third time, move past what is known as the same-records path does.
        if (number % 3 == 0 && known != 0) source.Skip(static_cast<std::int64_t>(known / kLength));
      }
      EXPECT_TRUE(source.status().ok());
      // Past the first chunks, read before the marks were asked for, and for chunks that hold a
      // few records each, the look finds most.
      const auto count = static_cast<std::size_t>(std::count(marked.begin(), marked.end(), true));
      if (chunk == 64) {
        EXPECT_GT(count, clean.size() / 2 / every);
      }
      if (chunk == 64 && every == 2) {
        EXPECT_LT(count, clean.size() * 2 / 3);
      }
    }
  }
}

TEST(FramedRecordsTest, OpenAndReadFailuresAreStatuses) {
  TempDir dir;
  FramedRecords source;
  const Status missing = source.Open(dir / "missing", Format("csv"));
  EXPECT_EQ(missing.error_number(), ENOENT);
  EXPECT_EQ(missing.path(), dir / "missing");
  std::string_view record;
  std::int64_t number = 0;
  EXPECT_FALSE(source.Next(record, number));

  const std::string path = dir / "f";
  WriteFile(path, "0123456789abcdefgh");
  testing::SysFaults faults;
  faults.Add({.call = testing::Call::kRead, .error = EIO, .nth = 2});
  FramedRecords fixed(8);
  ASSERT_TRUE(fixed.Open(path, Format("fixed=6")).ok());
  ASSERT_TRUE(fixed.Next(record, number));
  EXPECT_EQ(record, "012345");
  EXPECT_FALSE(fixed.Next(record, number));  // "6789ab" runs on into the chunk not read
  EXPECT_EQ(fixed.status().error_number(), EIO);
  EXPECT_EQ(fixed.status().path(), path);
  EXPECT_FALSE(fixed.Next(record, number));
}

}  // namespace
}  // namespace vesmer
