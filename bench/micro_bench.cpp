// Micro benchmarks of the hot paths: decoding, the round-trip check, line splitting.
#include <benchmark/benchmark.h>

#include <string>

#include "platform/cp932.h"

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

}  // namespace

BENCHMARK_MAIN();
