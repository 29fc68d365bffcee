// Micro benchmarks of the hot paths: decoding, the round-trip check, the result list's marker
// line, the comparison of a differing pair, keys, the UTF-8 input conversion's encoder
// against the character-by-character path it replaced, and reading records in other framings
// beside the line reader.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/code_page_records.h"
#include "core/record_key.h"
#include "core/result_list.h"
#include "formats/code_page.h"
#include "formats/framed_records.h"
#include "platform/cp932.h"
#include "platform/files.h"
#include "tests/support/utf8_reference.h"

namespace {

std::string MixedRecord() {
  std::string r = "K00000012345,20240131,";
  for (int i = 0; i < 16; ++i) r += static_cast<char>(0xB1 + i);
  r += ',';
  for (int i = 0; i < 16; ++i) r += "\x88\x9F";
  r += ",000123456789,00012345,ABCDEFGH";
  return r;
}

void BM_Decode(benchmark::State& state) {
  const std::string record = MixedRecord();
  std::u16string out;
  for (auto _ : state) {
    out.clear();
    vesmer::cp932::DecodeAppend(record, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * record.size()));
}
BENCHMARK(BM_Decode);

void BM_RoundTrips(benchmark::State& state) {
  const std::string record = MixedRecord();
  for (auto _ : state) benchmark::DoNotOptimize(vesmer::cp932::RoundTrips(record));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * record.size()));
}
BENCHMARK(BM_RoundTrips);

void BM_Encode(benchmark::State& state) {
  const std::u16string text = vesmer::cp932::Decode(MixedRecord());
  std::string out;
  for (auto _ : state) {
    out.clear();
    vesmer::cp932::EncodeAppend(text, out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}
BENCHMARK(BM_Encode);

void BM_RoundTripsBoth(benchmark::State& state) {
  const std::string a = MixedRecord();
  std::string b = a;
  b.back() = 'Z';
  for (auto _ : state) {
    bool ra = false, rb = false;
    vesmer::cp932::RoundTripsBoth(a, b, ra, rb);
    benchmark::DoNotOptimize(ra);
    benchmark::DoNotOptimize(rb);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (a.size() + b.size())));
}
BENCHMARK(BM_RoundTripsBoth);

// Differing bytes that decode alike or not: the comparison of a pair that is not canonical.
void BM_DecodesEqual(benchmark::State& state) {
  const std::string a = MixedRecord();
  std::string b = a;
  b[b.size() / 2] = 'Z';
  for (auto _ : state) benchmark::DoNotOptimize(vesmer::cp932::DecodesEqual(a, b));
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * (a.size() + b.size())));
}
BENCHMARK(BM_DecodesEqual);

// The marker line of a differing pair of `state.range(0)` columns, as the result list writes it.
void BM_Marker(benchmark::State& state) {
  const auto n = static_cast<std::size_t>(state.range(0));
  std::string a(n, 'a'), b(n, 'a');
  for (std::size_t i = 0; i < n; i += 7) b[i] = 'b';
  vesmer::ListedPair pair;
  pair.source_line = pair.source_comparison = a;
  pair.destination_line = pair.destination_comparison = b;
  pair.source_width = pair.destination_width = n;
  std::string marker(n, ' ');
  for (auto _ : state) {
    pair.PutMarker(0, n, marker.data());
    benchmark::DoNotOptimize(marker.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * n));
}
BENCHMARK(BM_Marker)->Arg(100)->Arg(1 << 16);

// A short key of an ASCII record, held and compared as machine words.
void BM_ShortKey(benchmark::State& state) {
  vesmer::RangeList ranges;
  (void)vesmer::ParseRangeText("1-8", ranges);
  const vesmer::KeyBuilder builder(ranges);
  vesmer::KeyText key, previous;
  std::string scratch;
  const std::string records[2] = {"00001234Ab", "00001235Cd"};
  int i = 0;
  for (auto _ : state) {
    builder.Build(records[i], key, scratch);
    benchmark::DoNotOptimize(Compare(previous, key));
    previous.Assign(key.view());
    i ^= 1;
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
}
BENCHMARK(BM_ShortKey);

// About 1 MiB of UTF-8 records: Japanese ones (kanji, kana, half-width kana, ASCII numbers) for
// argument 0, plain ASCII ones for argument 1.
std::string Utf8Block(bool ascii) {
  const std::string record =
      ascii ? std::string("K00000012345,20240131,YAMADA TARO,TOKYO CHIYODA 1-2-3,000123456789\r\n")
            : vesmer::cp932::ToUtf8(MixedRecord()) + "," + "山田　太郎,東京都千代田区１丁目\r\n";
  std::string block;
  while (block.size() < (1u << 20)) block += record;
  return block;
}

void BM_Utf8ToCp932(benchmark::State& state) {
  const std::string utf8 = Utf8Block(state.range(0) == 1);
  std::vector<char> out(vesmer::cp932::Utf8ToCp932MaxBytes(utf8.size()));
  for (auto _ : state) {
    std::size_t written = 0;
    benchmark::DoNotOptimize(vesmer::cp932::Utf8ToCp932(utf8, out.data(), written, true));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * utf8.size()));
}
BENCHMARK(BM_Utf8ToCp932)->Arg(0)->Arg(1);

void BM_Utf8ToCp932PerCharacter(benchmark::State& state) {
  const std::string utf8 = Utf8Block(state.range(0) == 1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(vesmer::testing::ReferenceUtf8ToCp932(utf8).data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * utf8.size()));
}
BENCHMARK(BM_Utf8ToCp932PerCharacter)->Arg(0)->Arg(1);

// A file of about 32 MiB under $TMPDIR (or /tmp) holding `record` over and over, written once
// per process and removed at its end; read from the page cache after the first pass.
class RecordFile {
 public:
  explicit RecordFile(const std::string& record) {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/vesmer_bench.XXXXXX";
    const int fd = ::mkstemp(path_.data());
    if (fd < 0) std::abort();
    std::string block;
    while (block.size() < (1u << 20)) block += record;
    for (std::size_t written = 0; written < (std::size_t{32} << 20); written += block.size()) {
      if (::write(fd, block.data(), block.size()) != static_cast<ssize_t>(block.size())) {
        std::abort();
      }
      size_ += block.size();
    }
    if (::close(fd) != 0) std::abort();
  }
  ~RecordFile() { std::remove(path_.c_str()); }
  RecordFile(const RecordFile&) = delete;
  RecordFile& operator=(const RecordFile&) = delete;
  [[nodiscard]] const std::string& path() const { return path_; }
  [[nodiscard]] std::size_t size() const { return size_; }

 private:
  std::string path_;
  std::size_t size_ = 0;
};

// A CSV record of the kind the reader meets most: numbers, a date, quoted text (one with the
// delimiter inside) and half-width kana.
const std::string kCsvRecord =
    "K00000012345,20240131,\"\xB1\xB2\xB3\xB4\",\"TOKYO, CHIYODA 1-2-3\",000123456789,00012345\r\n";

void ReadFramed(benchmark::State& state, const RecordFile& file, const char* format_text) {
  vesmer::RecordFormat format;
  std::string message;
  if (!vesmer::ParseRecordFormat(format_text, format, message)) std::abort();
  vesmer::FramedRecords source;
  std::int64_t records = 0;
  for (auto _ : state) {
    if (!source.Open(file.path(), format).ok()) std::abort();
    std::string_view record;
    std::int64_t number = 0;
    while (source.Next(record, number)) benchmark::DoNotOptimize(record.data());
    if (!source.status().ok()) std::abort();
    records = number;
    source.Close();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
  state.counters["records"] = static_cast<double>(records);
}

void BM_FramedFixed(benchmark::State& state) {
  static const RecordFile file(std::string(200, 'F'));
  ReadFramed(state, file, "fixed=200");
}
BENCHMARK(BM_FramedFixed)->Unit(benchmark::kMillisecond)->UseRealTime();

// Argument 0: records with quoted fields, looked at field by field; 1: records without quotes.
void BM_FramedCsv(benchmark::State& state) {
  static const RecordFile quoted(kCsvRecord);
  static const RecordFile plain(
      "K00000012345,20240131,\xB1\xB2\xB3\xB4,TOKYO CHIYODA 1-2-3,"
      "000123456789,00012345\r\n");
  ReadFramed(state, state.range(0) == 0 ? quoted : plain, "csv");
}
BENCHMARK(BM_FramedCsv)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_FramedLf(benchmark::State& state) {
  static const RecordFile file(kCsvRecord);
  ReadFramed(state, file, "lf");
}
BENCHMARK(BM_FramedLf)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same file as CR lines by the line reader itself, for scale.
void BM_LineReader(benchmark::State& state) {
  static const RecordFile file(kCsvRecord);
  vesmer::LineReader reader;
  for (auto _ : state) {
    if (!reader.Open(file.path()).ok()) std::abort();
    std::string_view line;
    while (reader.Next(line)) benchmark::DoNotOptimize(line.data());
    if (!reader.status().ok()) std::abort();
    reader.Close();
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * file.size()));
}
BENCHMARK(BM_LineReader)->Unit(benchmark::kMillisecond)->UseRealTime();

// Records decoded one at a time into one reused text: fixed 200-byte ibm-930 records (argument
// 0) through the tables, code page 932 lines of the same kind (argument 1).
void BM_CodePageDecode(benchmark::State& state) {
  const bool host = state.range(0) == 0;
  std::string message;
  const auto code_page = vesmer::CodePage::Open(host ? "ibm-930" : "cp932", message);
  std::vector<std::string> records;
  std::size_t bytes = 0;
  for (std::uint32_t i = 0; i < 1024; ++i) {
    records.push_back(host ? vesmer::bench::HostRecord(i) : vesmer::bench::Cp932Record(i));
    bytes += records.back().size();
  }
  vesmer::DecodedText text;
  for (const auto& r : records) {
    if (code_page->Decode(r, text) != 0) state.SkipWithError("a record holds no characters");
  }
  for (auto _ : state) {
    for (const auto& r : records) {
      (void)code_page->Decode(r, text);
      benchmark::DoNotOptimize(text.text().data());
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes));
}
BENCHMARK(BM_CodePageDecode)->Arg(0)->Arg(1);

}  // namespace

BENCHMARK_MAIN();
