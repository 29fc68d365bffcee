// Writes a pair of host record files for benchmarks: the same sorted records as fixed-length
// ibm-930 (SBCS fields, DBCS fields between SO and SI, EBCDIC blanks to the end), as code page
// 932 fixed-length records, or as code page 932 lines. One seed gives one content in every form,
// so a file of one form and its twin of another hold the same texts.
//
//   gen_host_records ibm-930|fixed-cp932|lines SOURCE DESTINATION RECORDS [SEED]
//
// Every record is 200 bytes in every form (a line is 198 and CR LF); its key is bytes 1-10. The
// destination holds the same keys, about 1% of its records changed in an amount or an address.
// The characters are those ibm-930 and code page 932 both have, found by decoding every ibm-930
// byte and pair with the program's own code page and keeping what code page 932 gives back.
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/bench_rng.h"
#include "formats/code_page.h"
#include "platform/cp932.h"

namespace {

constexpr std::size_t kRecordBytes = 200;
constexpr char kShiftOut = '\x0E';
constexpr char kShiftIn = '\x0F';

using vesmer::bench::Rng;

// A character in both code pages.
struct Char {
  std::string host;   // ibm-930: one byte, or a pair to go between SO and SI
  std::string cp932;  // one or two bytes
};

struct Pools {
  std::vector<Char> digits;  // '0'-'9' in order
  std::vector<Char> letters;
  std::vector<Char> kana;   // half-width katakana
  std::vector<Char> kanji;  // double-byte: kanji of the first JIS level
  std::vector<Char> hiragana;
  Char blank;
  Char wide_blank;  // the DBCS space, U+3000
};

// What `code_page` makes of `bytes`: one unit, else 0.
char16_t DecodeOne(vesmer::CodePage& code_page, std::string_view bytes) {
  vesmer::DecodedText text;
  if (code_page.Decode(bytes, text) != 0 || text.size() != 1) return 0;
  return text.text()[0];
}

// The code page 932 bytes of `unit` when they decode back to it; empty otherwise.
std::string Cp932Of(char16_t unit) {
  std::string bytes = vesmer::cp932::Encode(std::u16string(1, unit));
  if (vesmer::cp932::Decode(bytes) != std::u16string(1, unit)) bytes.clear();
  return bytes;
}

bool BuildPools(Pools& pools) {
  std::string message;
  const std::unique_ptr<vesmer::CodePage> host = vesmer::CodePage::Open("ibm-930", message);
  if (host == nullptr) {
    std::fprintf(stderr, "gen_host_records: %s\n", message.c_str());
    return false;
  }
  std::array<std::vector<Char>, 128> ascii;  // by character
  for (unsigned b = 0x40; b <= 0xFE; ++b) {
    const std::string byte(1, static_cast<char>(b));
    const char16_t unit = DecodeOne(*host, byte);
    const std::string cp932 = unit != 0 ? Cp932Of(unit) : std::string();
    if (cp932.empty()) continue;
    if (unit < 0x80) {
      ascii[unit].push_back({byte, cp932});
    } else if (unit >= u'\uFF66' && unit <= u'\uFF9D') {
      pools.kana.push_back({byte, cp932});
    }
  }
  for (char c = '0'; c <= '9'; ++c) {
    if (ascii[static_cast<unsigned>(c)].empty()) return false;
    pools.digits.push_back(ascii[static_cast<unsigned>(c)][0]);
  }
  for (char c = 'A'; c <= 'Z'; ++c) {
    if (!ascii[static_cast<unsigned>(c)].empty())
      pools.letters.push_back(ascii[static_cast<unsigned>(c)][0]);
  }
  if (ascii[' '].empty()) return false;
  pools.blank = ascii[' '][0];
  for (unsigned lead = 0x40; lead <= 0xFE; ++lead) {
    for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
      const std::string pair = {static_cast<char>(lead), static_cast<char>(trail)};
      const char16_t unit = DecodeOne(*host, std::string(1, kShiftOut) + pair + kShiftIn);
      const std::string cp932 = unit != 0 ? Cp932Of(unit) : std::string();
      if (cp932.size() != 2) continue;
      const auto cp932_lead = static_cast<unsigned char>(cp932[0]);
      if (unit == u'\u3000') {
        pools.wide_blank = {pair, cp932};
      } else if (unit >= u'\u3041' && unit <= u'\u3093') {
        pools.hiragana.push_back({pair, cp932});
      } else if (unit >= u'\u4E00' && unit <= u'\u9FFF' && cp932_lead >= 0x88 &&
                 cp932_lead <= 0x98) {
        pools.kanji.push_back({pair, cp932});
      }
    }
  }
  if (pools.letters.size() != 26 || pools.kana.size() < 50 || pools.kanji.size() < 2000 ||
      pools.hiragana.size() < 50 || pools.wide_blank.host.empty()) {
    std::fprintf(stderr, "gen_host_records: ibm-930 lacks the characters expected (%zu %zu %zu)\n",
                 pools.kana.size(), pools.kanji.size(), pools.hiragana.size());
    return false;
  }
  return true;
}

// A record's content as fields; each field one kind of bytes.
struct Field {
  bool dbcs = false;
  std::vector<const Char*> chars;
};

class RecordMaker {
 public:
  explicit RecordMaker(const Pools& pools) : p_(pools) {}

  // The fields of record `key`, drawing from `rng`.
  void Make(std::uint64_t key, Rng& rng, std::vector<Field>& fields) const {
    fields.clear();
    Field& k = Single(fields);
    for (std::uint64_t n = key, i = 0; i < 10; ++i, n /= 10)
      k.chars.insert(k.chars.begin(), Digit(n));
    Blank(fields);
    Field& date = Single(fields);
    Number(date, 2000 + rng.Below(26), 4);
    Number(date, 1 + rng.Below(12), 2);
    Number(date, 1 + rng.Below(28), 2);
    Blank(fields);
    // A name in half-width katakana, blank padded to 20.
    Field& kana = Single(fields);
    const std::uint32_t kana_length = 6 + rng.Below(13);
    for (std::uint32_t i = 0; i < 20; ++i)
      kana.chars.push_back(i < kana_length ? Pick(p_.kana, rng) : &p_.blank);
    Blank(fields);
    // A name in kanji and hiragana, DBCS blank padded to 10 characters.
    Field& name = Double(fields);
    const std::uint32_t family = 1 + rng.Below(3);
    const std::uint32_t given = 1 + rng.Below(3);
    for (std::uint32_t i = 0; i < family; ++i) name.chars.push_back(Pick(p_.kanji, rng));
    name.chars.push_back(&p_.wide_blank);
    for (std::uint32_t i = 0; i < given; ++i)
      name.chars.push_back(Pick(rng.Below(4) == 0 ? p_.hiragana : p_.kanji, rng));
    while (name.chars.size() < 10) name.chars.push_back(&p_.wide_blank);
    Blank(fields);
    // An address, padded to 24 characters.
    Field& address = Double(fields);
    const std::uint32_t address_length = 8 + rng.Below(17);
    for (std::uint32_t i = 0; i < 24; ++i)
      address.chars.push_back(i < address_length ? Pick(p_.kanji, rng) : &p_.wide_blank);
    Blank(fields);
    Number(Single(fields), rng.Next(), 12);
    Blank(fields);
    Field& code = Single(fields);
    for (int i = 0; i < 3; ++i) code.chars.push_back(Pick(p_.letters, rng));
    Number(code, rng.Below(100000), 5);
    // Remarks in three records of ten: as long as they are, no padding inside.
    if (rng.Below(10) < 3) {
      Blank(fields);
      Field& remarks = Double(fields);
      const std::uint32_t length = 4 + rng.Below(12);
      for (std::uint32_t i = 0; i < length; ++i)
        remarks.chars.push_back(Pick(rng.Below(3) == 0 ? p_.hiragana : p_.kanji, rng));
    }
  }

  // A change a user would see: a digit of the amount, or a character of the address.
  void Change(std::vector<Field>& fields, Rng& rng) const {
    if (rng.Below(2) == 0) {
      Field& amount = fields[10];
      const Char*& digit = amount.chars[rng.Below(12)];
      digit = digit == &p_.digits[7] ? &p_.digits[3] : &p_.digits[7];
    } else {
      Field& address = fields[8];
      const Char*& c = address.chars[rng.Below(8)];
      const Char* other = Pick(p_.kanji, rng);
      c = other != c ? other : &p_.kanji[0] != c ? &p_.kanji[0] : &p_.kanji[1];
    }
  }

 private:
  static Field& Single(std::vector<Field>& fields) { return fields.emplace_back(); }
  static Field& Double(std::vector<Field>& fields) {
    Field& f = fields.emplace_back();
    f.dbcs = true;
    return f;
  }
  void Blank(std::vector<Field>& fields) const { Single(fields).chars.push_back(&p_.blank); }
  const Char* Digit(std::uint64_t n) const { return &p_.digits[n % 10]; }
  void Number(Field& f, std::uint64_t n, int digits) const {
    const std::size_t at = f.chars.size();
    for (int i = 0; i < digits; ++i, n /= 10)
      f.chars.insert(f.chars.begin() + static_cast<std::ptrdiff_t>(at), Digit(n));
  }
  static const Char* Pick(const std::vector<Char>& pool, Rng& rng) {
    return &pool[rng.Below(static_cast<std::uint32_t>(pool.size()))];
  }

  const Pools& p_;
};

enum class Form { kHost, kFixedCp932, kLines };

// The record in `form`, padded to its length (blanks of its code page).
void Encode(const std::vector<Field>& fields, Form form, const Pools& pools, std::string& out) {
  out.clear();
  for (const Field& f : fields) {
    if (form == Form::kHost && f.dbcs) out += kShiftOut;
    for (const Char* c : f.chars) out += form == Form::kHost ? c->host : c->cp932;
    if (form == Form::kHost && f.dbcs) out += kShiftIn;
  }
  const std::size_t length = form == Form::kLines ? kRecordBytes - 2 : kRecordBytes;
  const std::string& blank = form == Form::kHost ? pools.blank.host : pools.blank.cp932;
  while (out.size() < length) out += blank;
  if (form == Form::kLines) out += "\r\n";
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5 || argc > 6) {
    std::fprintf(stderr,
                 "usage: gen_host_records ibm-930|fixed-cp932|lines SOURCE DESTINATION RECORDS "
                 "[SEED]\n");
    return 2;
  }
  Form form;
  if (std::strcmp(argv[1], "ibm-930") == 0) {
    form = Form::kHost;
  } else if (std::strcmp(argv[1], "fixed-cp932") == 0) {
    form = Form::kFixedCp932;
  } else if (std::strcmp(argv[1], "lines") == 0) {
    form = Form::kLines;
  } else {
    std::fprintf(stderr, "gen_host_records: no form %s\n", argv[1]);
    return 2;
  }
  const std::uint64_t records = std::strtoull(argv[4], nullptr, 10);
  Pools pools;
  if (!BuildPools(pools)) return 1;
  const RecordMaker maker(pools);
  Rng rng(argc > 5 ? std::strtoull(argv[5], nullptr, 10) : 1);
  std::FILE* a = std::fopen(argv[2], "wb");
  std::FILE* b = std::fopen(argv[3], "wb");
  if (a == nullptr || b == nullptr) {
    std::perror("gen_host_records");
    return 1;
  }
  static char buffer_a[1 << 20], buffer_b[1 << 20];
  std::setvbuf(a, buffer_a, _IOFBF, sizeof buffer_a);
  std::setvbuf(b, buffer_b, _IOFBF, sizeof buffer_b);
  std::vector<Field> fields;
  std::string bytes;
  bool written = true;
  for (std::uint64_t i = 0; i < records && written; ++i) {
    maker.Make(i, rng, fields);
    for (std::FILE* file : {a, b}) {
      if (file == b && rng.Below(100) == 0) maker.Change(fields, rng);
      Encode(fields, form, pools, bytes);
      if (bytes.size() != kRecordBytes) {
        std::fprintf(stderr, "gen_host_records: a record of %zu bytes\n", bytes.size());
        return 1;
      }
      written = written && std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    }
  }
  if (std::fclose(a) != 0 || std::fclose(b) != 0 || !written) {
    std::perror("gen_host_records");
    return 1;
  }
  return 0;
}
