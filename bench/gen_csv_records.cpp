// Writes a pair of code page 932 CSV files for benchmarks: a header naming ten fields, then
// records sorted by their first field, a 10-digit key. Some fields are quoted: addresses with a
// comma inside, amounts with thousands separators, notes with a doubled quote.
//
//   gen_csv_records SOURCE DESTINATION RECORDS [SEED]
//
// The destination holds the same keys, about 1% of its records changed in one field.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_rng.h"

namespace {

using vesmer::bench::Rng;

// Kanji of the first JIS level (lead 0x89-0x96, trail 0x9F-0xFC: never a comma or a quote).
void AppendKanji(std::string& out, Rng& rng, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i) {
    out += static_cast<char>(0x89 + rng.Below(14));
    out += static_cast<char>(0x9F + rng.Below(0xFC - 0x9F + 1));
  }
}

void AppendKatakana(std::string& out, Rng& rng, std::uint32_t count) {
  for (std::uint32_t i = 0; i < count; ++i)
    out += static_cast<char>(0xB1 + rng.Below(0xDD - 0xB1 + 1));
}

void AppendNumber(std::string& out, std::uint64_t n, int digits) {
  std::string d(static_cast<std::size_t>(digits), '0');
  for (int i = digits - 1; i >= 0; --i, n /= 10)
    d[static_cast<std::size_t>(i)] = static_cast<char>('0' + n % 10);
  out += d;
}

// 1234567 -> "1,234,567" in quotes.
void AppendGrouped(std::string& out, std::uint32_t n) {
  const std::string digits = std::to_string(n);
  out += '"';
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i != 0 && (digits.size() - i) % 3 == 0) out += ',';
    out += digits[i];
  }
  out += '"';
}

struct Record {
  std::string fields[10];
};

void Make(std::uint64_t key, Rng& rng, Record& r) {
  for (std::string& f : r.fields) f.clear();
  AppendNumber(r.fields[0], key, 10);
  AppendKanji(r.fields[1], rng, 1 + rng.Below(3));
  r.fields[1] += "\x81\x40";  // a full-width space between family and given name
  AppendKanji(r.fields[1], rng, 1 + rng.Below(3));
  AppendKatakana(r.fields[2], rng, 6 + rng.Below(11));
  // An address with a comma inside is quoted, as a spreadsheet writes it.
  std::string& address = r.fields[3];
  const bool quoted_address = rng.Below(10) < 3;
  if (quoted_address) address += '"';
  AppendKanji(address, rng, 4 + rng.Below(6));
  if (quoted_address) {
    address += ',';
    AppendKanji(address, rng, 2 + rng.Below(4));
  }
  address += std::to_string(1 + rng.Below(9)) + "-" + std::to_string(1 + rng.Below(30));
  if (quoted_address) address += '"';
  AppendNumber(r.fields[4], 2000 + rng.Below(26), 4);
  r.fields[4] += '/';
  AppendNumber(r.fields[4], 1 + rng.Below(12), 2);
  r.fields[4] += '/';
  AppendNumber(r.fields[4], 1 + rng.Below(28), 2);
  const std::uint32_t amount = rng.Below(100000000);
  if (rng.Below(5) == 0) {
    AppendGrouped(r.fields[5], amount);
  } else {
    r.fields[5] = std::to_string(amount);
  }
  for (int i = 0; i < 3; ++i) r.fields[6] += static_cast<char>('A' + rng.Below(26));
  AppendNumber(r.fields[6], rng.Below(100000), 5);
  switch (rng.Below(10)) {
    case 0:
      r.fields[7] = "\"";
      AppendKanji(r.fields[7], rng, 2);
      r.fields[7] += "\"\"";
      AppendKanji(r.fields[7], rng, 3);
      r.fields[7] += "\"\"\"";
      break;
    case 1:
    case 2:
    case 3:
      AppendKanji(r.fields[7], rng, 2 + rng.Below(8));
      break;
    default:
      break;  // most notes are empty
  }
  r.fields[8] = "0";
  AppendNumber(r.fields[8], 1 + rng.Below(99), 1 + rng.Below(2));
  r.fields[8] += '-';
  AppendNumber(r.fields[8], rng.Below(10000), 4);
  r.fields[8] += '-';
  AppendNumber(r.fields[8], rng.Below(10000), 4);
  r.fields[9] = rng.Below(20) == 0 ? "1" : "0";
}

// A change in the code or the name.
void Change(Record& r, Rng& rng) {
  if (rng.Below(2) == 0) {
    char& letter = r.fields[6][0];
    letter = letter == 'Z' ? 'A' : static_cast<char>(letter + 1);
  } else {
    AppendKanji(r.fields[1], rng, 1);
  }
}

bool Write(std::FILE* f, const Record& r) {
  std::string line;
  for (int i = 0; i < 10; ++i) {
    if (i != 0) line += ',';
    line += r.fields[i];
  }
  line += "\r\n";
  return std::fwrite(line.data(), 1, line.size(), f) == line.size();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4 || argc > 5) {
    std::fprintf(stderr, "usage: gen_csv_records SOURCE DESTINATION RECORDS [SEED]\n");
    return 2;
  }
  const std::uint64_t records = std::strtoull(argv[3], nullptr, 10);
  Rng rng(argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 1);
  std::FILE* a = std::fopen(argv[1], "wb");
  std::FILE* b = std::fopen(argv[2], "wb");
  if (a == nullptr || b == nullptr) {
    std::perror("gen_csv_records");
    return 1;
  }
  static char buffer_a[1 << 20], buffer_b[1 << 20];
  std::setvbuf(a, buffer_a, _IOFBF, sizeof buffer_a);
  std::setvbuf(b, buffer_b, _IOFBF, sizeof buffer_b);
  const char header[] = "KEY,NAME,KANA,ADDRESS,DATE,AMOUNT,CODE,NOTE,PHONE,STATUS\r\n";
  bool written = std::fputs(header, a) >= 0 && std::fputs(header, b) >= 0;
  Record r;
  for (std::uint64_t i = 0; i < records && written; ++i) {
    Make(i, rng, r);
    written = Write(a, r);
    if (rng.Below(100) == 0) Change(r, rng);
    written = written && Write(b, r);
  }
  if (std::fclose(a) != 0 || std::fclose(b) != 0 || !written) {
    std::perror("gen_csv_records");
    return 1;
  }
  return 0;
}
