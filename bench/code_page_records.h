// Records for measuring the code page decoders: fixed 200-byte ibm-930 records (EBCDIC digits,
// letters, half-width katakana and forty kanji between SO and SI) and code page 932 lines of the
// same kind.
#pragma once

#include <cstdint>
#include <string>

namespace vesmer::bench {

inline constexpr std::size_t kHostRecordLength = 200;

inline void AppendDigits(std::string& r, std::uint32_t n, int digits, char zero) {
  std::string d(static_cast<std::size_t>(digits), zero);
  for (int i = digits - 1; i >= 0; --i, n /= 10)
    d[static_cast<std::size_t>(i)] += static_cast<char>(n % 10);
  r += d;
}

inline std::string HostRecord(std::uint32_t n) {
  static const unsigned char kKana[20] = {0x81, 0x82, 0x83, 0x84, 0x85, 0x86, 0x87,
                                          0x88, 0x89, 0x8A, 0x8C, 0x8D, 0x8E, 0x8F,
                                          0x90, 0x91, 0x92, 0x93, 0x94, 0x95};
  std::string r = "\xD2";  // K
  AppendDigits(r, n, 11, '\xF0');
  r += '\x40';
  for (unsigned i = 0; i < 20; ++i) r += static_cast<char>(kKana[(n + i) % 20]);
  r += '\x40';
  r += '\x0E';
  for (unsigned i = 0; i < 40; ++i) {
    r += static_cast<char>(0x45 + (n + i) % 4);
    r += static_cast<char>(0x41 + (n * 7 + i) % 0x3F);
  }
  r += '\x0F';
  r += '\x40';
  AppendDigits(r, n * 37, 12, '\xF0');
  while (r.size() < kHostRecordLength) r += static_cast<char>(0xC1 + r.size() % 9);  // A-I
  return r;
}

inline std::string Cp932Record(std::uint32_t n) {
  std::string r = "K";
  AppendDigits(r, n, 11, '0');
  r += ' ';
  for (unsigned i = 0; i < 20; ++i) r += static_cast<char>(0xB1 + (n + i) % 20);
  r += ' ';
  for (unsigned i = 0; i < 40; ++i) {
    r += '\x88';
    r += static_cast<char>(0x9F + (n * 7 + i) % 0x5D);
  }
  r += ' ';
  AppendDigits(r, n * 37, 12, '0');
  while (r.size() < kHostRecordLength) r += static_cast<char>('A' + r.size() % 9);
  return r;
}

}  // namespace vesmer::bench
