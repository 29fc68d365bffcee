// Micro benchmarks behind the sort's choices: radix against comparison sorting of a block, and
// building a key again from its line against carrying it along in the runs.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "core/record_key.h"
#include "features/sort/record_block.h"

namespace {

using vesmer::RangeList;

// Lines shaped as bench/gen_records writes them: a 12-byte ASCII key, half-width katakana,
// kanji and digits, about 120 bytes; in shuffled order.
std::vector<std::string> Lines(std::size_t count) {
  std::mt19937 rng(1);
  std::vector<std::string> lines;
  for (std::size_t i = 0; i < count; ++i) {
    char head[32];
    std::snprintf(head, sizeof head, "K%011zu,20240131,", i * 2);
    std::string line = head;
    for (int j = 0; j < 16; ++j) line += static_cast<char>(0xB1 + rng() % 45);
    line += ',';
    for (int j = 0; j < 16; ++j) {
      line += static_cast<char>(0x89 + rng() % 14);
      line += static_cast<char>(0x9F + rng() % 90);
    }
    line += ",000123456789,00012345,ABCDEFGHIJKLMNOPQRSTUV";
    lines.push_back(std::move(line));
  }
  std::shuffle(lines.begin(), lines.end(), rng);
  return lines;
}

RangeList Ranges(const char* text) {
  RangeList ranges;
  (void)vesmer::ParseRangeText(text, ranges);
  return ranges;
}

// Sorting a block of 200,000 records (a sort buffer at a 64 MiB cap holds about that many).
// Sort() builds its index afresh each time, so the same block sorts again and again.
void BlockSort(benchmark::State& state, const char* keys, vesmer::BlockSortMethod method) {
  const std::vector<std::string> lines = Lines(200000);
  const RangeList ranges = Ranges(keys);
  vesmer::RecordBlock block;
  std::size_t need = 0;
  std::vector<std::string> built;
  std::string scratch;
  for (const auto& line : lines) {
    built.emplace_back();
    vesmer::BuildKey(vesmer::KeyLineBytes(line, ranges, scratch), ranges, built.back());
    need += vesmer::RecordBlock::Footprint(built.back().size(), line.size());
  }
  if (!block.Reserve(need)) state.SkipWithError("no memory");
  for (std::size_t i = 0; i < lines.size(); ++i) {
    block.Append(built[i], lines[i], static_cast<std::int64_t>(i + 1), 2);
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(block.Sort(nullptr, false, method));
    benchmark::DoNotOptimize(block.At(0).number);
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * lines.size()));
}
BENCHMARK_CAPTURE(BlockSort, ascii_key_radix, "1-12", vesmer::BlockSortMethod::kRadix)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BlockSort, ascii_key_comparison, "1-12", vesmer::BlockSortMethod::kComparison)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BlockSort, kana_key_radix, "23-38", vesmer::BlockSortMethod::kRadix)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BlockSort, kana_key_comparison, "23-38", vesmer::BlockSortMethod::kComparison)
    ->Unit(benchmark::kMillisecond);

// What building a record's key costs: a merge that did not carry keys in its runs would pay
// this for every record in every pass, where carrying them costs their bytes in the runs.
void KeyBuild(benchmark::State& state, const char* keys) {
  const std::vector<std::string> lines = Lines(4096);
  const RangeList ranges = Ranges(keys);
  std::string key, scratch;
  std::size_t i = 0;
  for (auto _ : state) {
    const std::string& line = lines[i++ & 4095];
    vesmer::BuildKey(vesmer::KeyLineBytes(line, ranges, scratch), ranges, key);
    benchmark::DoNotOptimize(key.data());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()));
  state.counters["key_bytes"] = static_cast<double>(key.size());
}
BENCHMARK_CAPTURE(KeyBuild, ascii_key, "1-12");
BENCHMARK_CAPTURE(KeyBuild, kana_key, "23-38");
BENCHMARK_CAPTURE(KeyBuild, kanji_key, "40-71");

}  // namespace

BENCHMARK_MAIN();
