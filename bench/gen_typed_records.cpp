// Writes a pair of host record files of typed fields for benchmarks, and their layout: records of
// 200 bytes in EBCDIC (ibm-930's single bytes), sorted by a zoned key, with 5 packed and 5 zoned
// numbers among 20 fields; about 1% of the destination's records changed in a number or a text.
//
//   gen_typed_records SOURCE DESTINATION LAYOUT RECORDS [SEED]
//
// The layout (UTF-8, "名前,開始桁,桁数,属性,小数桁") names every byte: KEY 9(10), then per
// group of two, a packed S9(9)V99 (6 bytes), a zoned S9(7)V99 (9 bytes) and a text of 13 bytes;
// the last text takes what is left.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_rng.h"

namespace {

constexpr std::size_t kRecordBytes = 200;

using vesmer::bench::Rng;

struct Field {
  const char* name;
  std::size_t start;  // 0-based
  std::size_t length;
  char type;  // 'X', '9' or 'P'
  int places;
};

std::vector<Field> Layout() {
  static const char* const kNames[] = {"AMT1", "BAL1", "TXT1", "AMT2", "BAL2", "TXT2", "AMT3",
                                       "BAL3", "TXT3", "AMT4", "BAL4", "TXT4", "AMT5", "BAL5",
                                       "TXT5", "TXT6", "TXT7", "TXT8", "TXT9"};
  std::vector<Field> fields = {{"KEY", 0, 10, '9', 0}};
  std::size_t at = 10;
  for (int group = 0; group < 5; ++group) {
    fields.push_back({kNames[group * 3], at, 6, 'P', 2});
    at += 6;
    fields.push_back({kNames[group * 3 + 1], at, 9, '9', 2});
    at += 9;
    fields.push_back({kNames[group * 3 + 2], at, 13, 'X', 0});
    at += 13;
  }
  for (int t = 15; t < 19; ++t) {
    const std::size_t length = t < 18 ? 13 : kRecordBytes - at;
    fields.push_back({kNames[t], at, length, 'X', 0});
    at += length;
  }
  return fields;
}

void Packed(std::uint64_t value, bool negative, std::size_t bytes, char* out) {
  int sign = negative ? 0xD : 0xC;
  for (std::size_t i = bytes; i-- > 0;) {
    const int low = i + 1 == bytes ? sign : static_cast<int>(value % 10);
    if (i + 1 != bytes) value /= 10;
    const int high = static_cast<int>(value % 10);
    value /= 10;
    out[i] = static_cast<char>((high << 4) | low);
  }
}

void Zoned(std::uint64_t value, bool negative, std::size_t digits, char* out) {
  for (std::size_t i = digits; i-- > 0; value /= 10) {
    out[i] = static_cast<char>(0xF0 + value % 10);
  }
  if (negative) out[digits - 1] = static_cast<char>(0xD0 | (out[digits - 1] & 0x0F));
}

char Letter(Rng& rng) {
  static const char kLetters[] = "\xC1\xC2\xC3\xC4\xC5\xC6\xC7\xC8\xC9\xD1\xD2\xD3\xD4";
  return kLetters[rng.Below(13)];
}

void Make(std::uint64_t key, Rng& rng, const std::vector<Field>& fields, std::string& record) {
  record.assign(kRecordBytes, '\x40');
  for (const Field& f : fields) {
    char* at = record.data() + f.start;
    switch (f.type) {
      case '9':
        Zoned(f.start == 0 ? key : rng.Next() % 1000000000, f.start != 0 && rng.Below(4) == 0,
              f.length, at);
        break;
      case 'P':
        Packed(rng.Next() % 100000000000ull, rng.Below(4) == 0, f.length, at);
        break;
      default:
        for (std::size_t i = 0, n = 4 + rng.Below(static_cast<std::uint32_t>(f.length - 3)); i < n;
             ++i) {
          at[i] = Letter(rng);
        }
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: gen_typed_records SOURCE DESTINATION LAYOUT RECORDS [SEED]\n");
    return 2;
  }
  const std::uint64_t records = std::stoull(argv[4]);
  Rng rng(argc > 5 ? std::stoull(argv[5]) : 7);
  const std::vector<Field> fields = Layout();
  std::FILE* layout = std::fopen(argv[3], "wb");
  std::FILE* a = std::fopen(argv[1], "wb");
  std::FILE* b = std::fopen(argv[2], "wb");
  if (layout == nullptr || a == nullptr || b == nullptr) {
    std::perror("gen_typed_records");
    return 1;
  }
  std::fprintf(layout, "項目名,開始桁,桁数,属性,小数桁\n");
  for (const Field& f : fields) {
    std::fprintf(layout, "%s,%zu,%zu,%c", f.name, f.start + 1, f.length, f.type);
    if (f.type != 'X') std::fprintf(layout, ",%d", f.places);
    std::fprintf(layout, "\n");
  }
  std::string record, changed;
  for (std::uint64_t n = 0; n < records; ++n) {
    Make(n * 3 + 1, rng, fields, record);
    changed = record;
    if (rng.Below(100) == 0) {
      // A number or a text of another value.
      const Field& f = fields[1 + rng.Below(static_cast<std::uint32_t>(fields.size() - 1))];
      char& c = changed[f.start + (f.type == 'X' ? 0 : f.length - 2)];
      c = f.type == 'X' ? static_cast<char>(c == '\xC1' ? '\xC2' : '\xC1')
                        : static_cast<char>((c & 0xF0) | ((c & 0x0F) == 1 ? 2 : 1));
    }
    if (std::fwrite(record.data(), 1, record.size(), a) != record.size() ||
        std::fwrite(changed.data(), 1, changed.size(), b) != changed.size()) {
      std::perror("gen_typed_records");
      return 1;
    }
  }
  if (std::fclose(a) != 0 || std::fclose(b) != 0 || std::fclose(layout) != 0) {
    std::perror("gen_typed_records");
    return 1;
  }
  return 0;
}
