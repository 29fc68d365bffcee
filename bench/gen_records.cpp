// Writes a pair of realistic code page 932 record files for benchmarks: sorted fixed-layout
// records of about 120 bytes with ASCII, half-width katakana and kanji fields.
//
//   gen_records SOURCE DESTINATION RECORDS key|line|all|short [SEED]
//
// key:   the destination has about 1% changed records, 0.5% missing and 0.5% extra keys.
// line:  the destination has about 1% changed records and the same number of lines.
// all:   every destination record differs from its source record (worst case for the list).
// short: as key, with records of 10 bytes: an 8-digit key (columns 1-8) and two more bytes.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench/bench_rng.h"

namespace {

using vesmer::bench::Rng;

// Kanji from the first level of JIS X 0208 (lead 0x88-0x97, trail 0x9F-0xFC).
void AppendKanji(std::string& out, Rng& rng, int count) {
  for (int i = 0; i < count; ++i) {
    out += static_cast<char>(0x89 + rng.Below(14));
    out += static_cast<char>(0x9F + rng.Below(0xFC - 0x9F + 1));
  }
}

void AppendKatakana(std::string& out, Rng& rng, int count) {
  for (int i = 0; i < count; ++i) out += static_cast<char>(0xB1 + rng.Below(0xDD - 0xB1 + 1));
}

std::string ShortRecord(std::uint64_t key, Rng& rng) {
  char r[16];
  std::snprintf(r, sizeof r, "%08llu%c%c", static_cast<unsigned long long>(key % 100000000),
                'A' + static_cast<char>(rng.Below(26)), 'a' + static_cast<char>(rng.Below(26)));
  return r;
}

std::string Record(std::uint64_t key, Rng& rng) {
  char head[64];
  std::snprintf(head, sizeof head, "K%011llu,%04u%02u%02u,", static_cast<unsigned long long>(key),
                2000 + rng.Below(26), 1 + rng.Below(12), 1 + rng.Below(28));
  std::string r = head;
  AppendKatakana(r, rng, 16);
  r += ',';
  AppendKanji(r, rng, 12);
  r += "\x81\x40";  // a full-width space
  AppendKanji(r, rng, 4);
  char tail[64];
  std::snprintf(tail, sizeof tail, ",%012u,%08u,ABCDEFGHIJKLMNOPQRSTUV", rng.Next(),
                rng.Below(100000000));
  r += tail;
  return r;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: gen_records SOURCE DESTINATION RECORDS key|line|all [SEED]\n");
    return 2;
  }
  const std::uint64_t records = std::strtoull(argv[3], nullptr, 10);
  const bool short_records = std::strcmp(argv[4], "short") == 0;
  const bool key_mode = std::strcmp(argv[4], "key") == 0 || short_records;
  const auto make = short_records ? ShortRecord : Record;
  const bool all_differ = std::strcmp(argv[4], "all") == 0;
  Rng rng(argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 1);
  std::FILE* a = std::fopen(argv[1], "wb");
  std::FILE* b = std::fopen(argv[2], "wb");
  if (a == nullptr || b == nullptr) {
    std::perror("gen_records");
    return 1;
  }
  static char buffer_a[1 << 20], buffer_b[1 << 20];
  std::setvbuf(a, buffer_a, _IOFBF, sizeof buffer_a);
  std::setvbuf(b, buffer_b, _IOFBF, sizeof buffer_b);
  for (std::uint64_t i = 0; i < records; ++i) {
    const std::uint64_t key = i * 2;  // odd keys are free for extra records
    std::string record = make(key, rng);
    std::fputs(record.c_str(), a);
    std::fputs("\r\n", a);
    const std::uint32_t roll = rng.Below(1000);
    if (key_mode && roll < 5) continue;  // missing from the destination
    if (all_differ || (roll >= 5 && roll < 15)) record.back() = 'Z';
    std::fputs(record.c_str(), b);
    std::fputs("\r\n", b);
    if (key_mode && roll >= 995) {
      const std::string extra = make(key + 1, rng);
      std::fputs(extra.c_str(), b);
      std::fputs("\r\n", b);
    }
  }
  if (std::fclose(a) != 0 || std::fclose(b) != 0) {
    std::perror("gen_records");
    return 1;
  }
  return 0;
}
