// Micro benchmarks of the hot paths: decoding, the round-trip check, line splitting, and the
// UTF-8 input conversion's encoder against the character-by-character path it replaced.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "platform/cp932.h"
#include "tests/utf8_reference.h"

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

}  // namespace

BENCHMARK_MAIN();
