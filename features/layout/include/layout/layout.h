// Record layouts: the named fields of a fixed-layout record, or the named columns of a CSV file,
// read from the layout file a user writes or from a COBOL copybook, and the column ranges of
// fields given by name (key and omitted fields).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "numbers/number_format.h"
#include "platform/status.h"

namespace vesmer {

// How a field's bytes hold its value: the 属性 of a layout line.
enum class FieldType : std::uint8_t {
  kText,            // X: characters
  kZoned,           // 9: zoned decimal, one digit a byte in the record's code page
  kDoubleByte,      // N: double-byte characters
  kPacked,          // P: packed decimal (COMP-3)
  kBinary,          // B: big-endian two's complement binary of 2, 4 or 8 bytes
  kUnsignedBinary,  // BU: the same, unsigned
};

// Whether a field takes part in the comparison. A copybook's FILLER and the items of a
// REDEFINES are kept in the layout, to be shown, but compared only through the item they
// redefine.
enum class FieldRole : std::uint8_t { kCompared, kFiller, kRedefining };

struct Field {
  std::string name;         // UTF-8, trimmed
  std::int32_t start = 0;   // 1-based byte column; of a CSV layout, the 1-based CSV column
  std::int32_t length = 0;  // bytes (1 in a CSV layout); start + length - 1 <= INT32_MAX
  char attribute = 'X';     // 'X' text, '9' number (of any number type), 'N' double-byte
  int line = 0;             // the line of the layout file that defined it
  FieldType type = FieldType::kText;
  std::uint8_t places = 0;             // implied decimal places (小数桁, PIC V) of a number
  NumberSign sign = NumberSign::kAny;  // of kZoned and kPacked: where the sign may be
  bool blank_when_zero = false;        // a copybook's BLANK WHEN ZERO: blanks are 0
  FieldRole role = FieldRole::kCompared;

  [[nodiscard]] bool IsNumber() const { return attribute == '9'; }
  [[nodiscard]] bool Compared() const { return role == FieldRole::kCompared; }
};

// The 属性 text of a type: "X", "9", "N", "P", "B" or "BU".
[[nodiscard]] std::string_view FieldTypeName(FieldType type);

// How a number field of `field`'s type decodes in a record of `family`'s digits; meaningful
// only for a field whose IsNumber() holds.
[[nodiscard]] NumberFormat NumberFormatOf(const Field& field, DigitFamily family);

// A group item of a copybook: the range of its elementary fields, named so that --key-fields
// can take it whole.
struct FieldGroup {
  std::string name;  // UTF-8; no field or other group has it
  std::int32_t start = 0;
  std::int32_t length = 0;
  int line = 0;
  std::size_t first_field = 0;  // the index in Layout::fields of its first elementary field
};

// What a layout's fields are: byte columns of a record ("名前,開始桁,桁数[,属性]"), or columns
// of a CSV record ("名前,列番号[,属性]").
enum class LayoutForm { kBytes, kCsvColumns };

struct Layout {
  std::string path;
  LayoutForm form = LayoutForm::kBytes;
  int form_line = 0;               // the line whose columns told the form; 0: none did (bytes)
  std::vector<Field> fields;       // in file order; names are unique; byte columns may overlap,
                                   // CSV columns do not
  std::vector<FieldGroup> groups;  // of a copybook, in its order; its names are no field's
  bool copybook = false;           // read from a COBOL copybook
  // The field named exactly `name` (UTF-8), or nullptr.
  [[nodiscard]] const Field* Find(std::string_view name) const;
  // The group named exactly `name` (UTF-8), or nullptr.
  [[nodiscard]] const FieldGroup* FindGroup(std::string_view name) const;
};

// Parses the text of a layout file: one field a line, "名前,開始桁,桁数[,属性[,小数桁]]", or one
// CSV column a line, "名前,列番号[,属性]" (a CSV layout: `start` is the column, `length` 1).
//
// The form is told by the first line that can be only one of them: two columns, or a third
// that is the attribute X or N, make a CSV layout; a third that is a number but 9, or a fourth,
// a layout of byte columns. A file whose every line is "名前,数,9" is a layout of byte columns.
// The other lines must then be of that form: in a CSV layout a third column 9 is the attribute.
//
// The bytes are UTF-8 (a byte order mark allowed) when they decode as UTF-8, else code page 932.
// Lines end at LF, CR LF or a lone CR. Blank lines and lines whose first non-blank character is
// '#' are passed over. Blanks (half-width, tab, full-width) around columns are trimmed. The first
// line that carries data is a header and skipped when neither its second nor its third column is
// a number: a typing slip in the first field's start alone must not pass for a header. Numbers
// are decimal digits, half-width or full-width. The attribute is X, 9, N, P (packed), B (binary)
// or BU (unsigned binary), either width, either case, and X, 9 or N in a CSV layout; empty or
// missing means X. A binary field is 2, 4 or 8 bytes long, a packed one 16 at most. 小数桁, the
// implied decimal places, belongs to the numbers 9, P, B and BU and is at most their digits (9:
// its length; P: twice its length less one; B: 5, 10 or 19; BU: 5, 10 or 20). There is no
// quoting: a name cannot hold a comma.
//
// On success fills `layout` (path = `path_for_messages`) and returns true. On the first bad line
// returns false with `message` naming the file and the line, e.g.
// "★レイアウトファイル /x/a.csv の 7 行目: 開始桁が数値ではありません"; a file with no field
// at all is refused as well, and so is a CSV layout that names one column twice. `layout` is then
// left empty.
[[nodiscard]] bool ParseLayoutText(std::string_view bytes, const std::string& path_for_messages,
                                   Layout& layout, std::string& message);

// Reads and parses the layout file at `path`: a COBOL copybook (ParseCopybookText) when its text
// looks like one (LooksLikeCopybook), else a layout file (ParseLayoutText). Fails with the read
// error (`message` then holds the system's reason, e.g. "★レイアウトファイル /x/a.csv を読み込め
// ません: ファイルまたはフォルダがありません") or, when the text is bad, with EINVAL ("parse")
// and the parser's message. The user is shown `message`; the status tells the two kinds of
// failure apart.
[[nodiscard]] Status LoadLayout(const std::string& path, Layout& layout, std::string& message);

// The names of a list such as FieldNamesToRangeText takes, in the order given, trimmed, empty
// items left out.
[[nodiscard]] std::vector<std::string> SplitFieldNames(std::string_view names);

// Turns a list of field names into range text the start checks parse, fields in the order
// given: "社員番号,部署" -> "12-19,1-5". A copybook's group name gives the group's range. Names
// (UTF-8) are separated by ',' or the full-width '，' and trimmed of blanks; empty items are passed
// over, so an empty list gives "". The ideographic comma '、' separates nothing, as a field name
// may hold it (a name holding '，' cannot be given here). A name given twice gives its range twice.
// There is no limit on the count here: the caller's range parsing refuses more than kMaxRanges with
// its own message.
//
// Returns false when names are not in the layout, with `message` naming each unknown name once,
// in the order given: "★レイアウトにない項目です: 部署コード, 氏名".
[[nodiscard]] bool FieldNamesToRangeText(const Layout& layout, std::string_view names,
                                         std::string& range_text, std::string& message);

// Fields an old and a new layout name differently: "旧名,新名" a line, the source's name first.
struct FieldMap {
  std::string path;
  std::vector<std::pair<std::string, std::string>> renamed;  // (source name, destination name)
};

// Parses the text of a field map file. Encodings, line ends, comments, blanks and the absence of
// quoting are as for layout files; there is no header line. Each line holds two names; a name
// given twice on its side is refused, as one field cannot become two. On the first bad line
// returns false with `message` naming the file and the line ("★項目の対応ファイル /x/m.csv の
// 3 行目: 旧名と新名の二つを書いてください"); a file with no line is refused as well.
[[nodiscard]] bool ParseFieldMapText(std::string_view bytes, const std::string& path_for_messages,
                                     FieldMap& map, std::string& message);
// Reads and parses the field map file at `path` (read errors as LoadLayout's).
[[nodiscard]] Status LoadFieldMap(const std::string& path, FieldMap& map, std::string& message);

// The layout in the layout-file form ParseLayoutText reads, UTF-8, lines ended by LF: a header,
// then one line a compared field, "名前,開始桁,桁数,属性[,小数桁]" (小数桁 when not 0), or
// "名前,列番号,属性" for a CSV layout. Fields not compared (FILLER, REDEFINES) and groups are
// written as comment lines, so that reading the text back gives the compared fields alone:
// "# 比較しない（FILLER）: FILLER,9,2,X", "# 集団項目: 日付,1,8". A sign clause of a copybook has
// no place in the form: its field reads back as a 9 that takes any sign; nor has BLANK WHEN
// ZERO: its field reads back as one whose blanks are no number.
[[nodiscard]] std::string LayoutText(const Layout& layout);

}  // namespace vesmer
