// The format of one input: how its bytes divide into records (the framing) and the code page
// its text is in, as the option --format FORMAT gives them.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace vesmer {

enum class Framing {
  kLines,  // a record ends at CR or CR LF; a lone LF belongs to the record
  kLf,     // a record ends at LF or CR LF, the same end all through the file
  kFixed,  // records of record_length bytes, nothing between them
  kRdw,    // each record opens with a 4-byte record descriptor word that counts itself
  kCsv,    // RFC 4180 records: a line end inside a quoted field belongs to the record
};

struct RecordFormat {
  static constexpr std::size_t kMaxRecordLength = std::size_t{1} << 30;
  static constexpr std::string_view kDefaultCodePage = "cp932";

  Framing framing = Framing::kLines;
  std::size_t record_length = 0;  // kFixed: 1..kMaxRecordLength
  char delimiter = ',';           // kCsv: the field delimiter
  bool header = false;            // kCsv: the first record names the fields, it is no data
  // As the user wrote it, ASCII letters in lower case; the converter judges it.
  std::string code_page = std::string(kDefaultCodePage);

  // Lines in code page 932: what a run reads when no format is given.
  [[nodiscard]] bool IsDefault() const {
    return framing == Framing::kLines && code_page == kDefaultCodePage;
  }
  // The canonical option text, everything spelled out and in a fixed order: framing, the csv
  // options, code page: "lines,cp932", "fixed=200,ibm-930", "csv,delimiter=\t,header,utf-8"
  // (a tab as backslash-t). ParseRecordFormat gives back this format from it.
  [[nodiscard]] std::string Text() const;
  // What a result file writes after each record: CR LF after a line or a CSV record; nothing
  // after a fixed-length or an RDW record, which are written exactly as read (the RDW with its
  // descriptor word).
  [[nodiscard]] std::string_view Terminator() const {
    return framing == Framing::kFixed || framing == Framing::kRdw ? std::string_view()
                                                                  : std::string_view("\r\n");
  }
  // Bytes at the start of a record as FramedRecords hands it out before column 1: the RDW's
  // descriptor word.
  [[nodiscard]] std::size_t ColumnOffset() const { return framing == Framing::kRdw ? 4 : 0; }
  // True when the code page writes characters as Shift-JIS does (code page 932 and its
  // relatives), whose second byte of a double-byte character may be any of the ASCII bytes
  // 0x40-0x7E: a CSV delimiter such as '|' or '\' must not be taken from inside a character.
  [[nodiscard]] bool ShiftJisBytes() const;

  friend bool operator==(const RecordFormat&, const RecordFormat&) = default;
};

// Parses the text of --format: words separated by commas, in any order, keywords in either
// case. A framing (lines, lf, fixed=N, rdw, csv), for csv the options delimiter=C (one ASCII
// character other than '"', CR and LF, or \t for a tab) and header, and a code page: any other
// word, such as utf-8 or ibm-930; each at most once. What is not given keeps its default
// (lines, cp932). Returns true with `format` set; on the first bad word returns false, leaves
// `format` as it was and sets `message` (UTF-8) naming the word:
//   形式の指定「fixed=abc」が正しくありません          an unknown or malformed word
//   形式の指定「lf」が重複しています                    the same word twice
//   形式の指定「lf」と「csv」は一緒に使えません          two framings, two code pages, ...
//   形式の指定「header」は csv と一緒にしか使えません    a csv option without csv
//   形式の指定「csv,,header」に空の項目があります       an empty word
[[nodiscard]] bool ParseRecordFormat(std::string_view text, RecordFormat& format,
                                     std::string& message);

}  // namespace vesmer
