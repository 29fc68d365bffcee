// Sorts one or two record files by key with SortedInput, both at once on threads of their own
// as the comparison does, then hands every record out. For timing against other sorts.
//
//   sort_inputs [--memory MiB] [--keys RANGES] [--temp DIR] [--output FILE] INPUT [INPUT]
//
// --memory is each input's cap (default 256). --output writes the first input's records in
// key order, each followed by CR LF, to check the order against another sort. Prints per input
// the lines, whether it was presorted, the seconds to sort and to hand out, and a checksum of
// the order (line numbers) so that nothing is optimised away.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "core/ranges.h"
#include "platform/files.h"
#include "sort/sorted_input.h"

namespace {

struct Result {
  vesmer::Status status;
  std::int64_t lines = 0;
  bool presorted = false;
  double sort_seconds = 0;
  double drain_seconds = 0;
  std::uint64_t checksum = 0;
};

double Since(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

void SortOne(const std::string& path, const vesmer::RangeList& keys,
             const vesmer::SortOptions& options, const std::string& output, Result& result) {
  vesmer::SortedInput input;
  auto start = std::chrono::steady_clock::now();
  result.status = input.Sort(path, keys, options);
  result.sort_seconds = Since(start);
  if (!result.status.ok()) return;
  vesmer::OutputFile out;
  if (!output.empty() && !(result.status = out.Create(output)).ok()) return;
  start = std::chrono::steady_clock::now();
  std::string_view line;
  std::int64_t number = 0;
  std::uint64_t checksum = 0;
  while (input.Next(line, number)) {
    checksum = (checksum ^ static_cast<std::uint64_t>(number)) * 0x100000001B3ull;
    if (out.is_open()) out.AppendLine(line);
  }
  result.drain_seconds = Since(start);
  result.status = input.status();
  if (result.status.ok() && out.is_open()) result.status = out.Close();
  result.lines = input.lines();
  result.presorted = input.presorted();
  result.checksum = checksum;
}

}  // namespace

int main(int argc, char** argv) {
  vesmer::SortOptions options;
  std::string key_text = "1-12", output;
  std::vector<std::string> inputs;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (i + 1 < argc && arg == "--memory") {
      options.memory_bytes = std::strtoull(argv[++i], nullptr, 10) << 20;
    } else if (i + 1 < argc && arg == "--keys") {
      key_text = argv[++i];
    } else if (i + 1 < argc && arg == "--temp") {
      options.temp_dir = argv[++i];
    } else if (i + 1 < argc && arg == "--output") {
      output = argv[++i];
    } else {
      inputs.push_back(arg);
    }
  }
  vesmer::RangeList keys;
  if (inputs.empty() || inputs.size() > 2 ||
      vesmer::ParseRangeText(key_text, keys) != vesmer::ParseOutcome::kValid) {
    std::fprintf(stderr,
                 "usage: sort_inputs [--memory MiB] [--keys RANGES] [--temp DIR] "
                 "[--output FILE] INPUT [INPUT]\n");
    return 2;
  }
  std::vector<Result> results(inputs.size());
  const auto start = std::chrono::steady_clock::now();
  std::thread second;
  if (inputs.size() == 2) {
    second = std::thread([&] { SortOne(inputs[1], keys, options, {}, results[1]); });
  }
  SortOne(inputs[0], keys, options, output, results[0]);
  if (second.joinable()) second.join();
  const double total = Since(start);
  int exit_code = 0;
  for (std::size_t i = 0; i < inputs.size(); ++i) {
    const Result& r = results[i];
    if (!r.status.ok()) {
      std::fprintf(stderr, "%s: %s: %s\n", inputs[i].c_str(), r.status.what().c_str(),
                   r.status.reason().c_str());
      exit_code = 1;
      continue;
    }
    std::printf("%s: %lld lines%s, sort %.2f s, hand out %.2f s, checksum %016llx\n",
                inputs[i].c_str(), static_cast<long long>(r.lines),
                r.presorted ? " (presorted)" : "", r.sort_seconds, r.drain_seconds,
                static_cast<unsigned long long>(r.checksum));
  }
  std::printf("total %.2f s\n", total);
  return exit_code;
}
