// Record layouts: the named fields of a fixed-layout record, read from the layout file a user
// writes, and the column ranges of fields given by name (key and omitted fields).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vesmer {

struct Field {
  std::string name;         // UTF-8, trimmed
  std::int32_t start = 0;   // 1-based byte column
  std::int32_t length = 0;  // bytes; start + length - 1 never exceeds INT32_MAX
  char attribute = 'X';     // 'X' text, '9' number, 'N' double-byte
  int line = 0;             // the line of the layout file that defined it
};

struct Layout {
  std::string path;
  std::vector<Field> fields;  // in file order; names are unique; columns may overlap
  // The field named exactly `name` (UTF-8), or nullptr.
  [[nodiscard]] const Field* Find(std::string_view name) const;
};

// Parses the text of a layout file: one field a line, "名前,開始桁,桁数[,属性]".
//
// The bytes are UTF-8 (a byte order mark allowed) when they decode as UTF-8, else code page 932.
// Lines end at LF, CR LF or a lone CR. Blank lines and lines whose first non-blank character is
// '#' are passed over. Blanks (half-width, tab, full-width) around columns are trimmed. The first
// line that carries data is a header and skipped when neither its second nor its third column is
// a number: a typing slip in the first field's start alone must not pass for a header. Numbers
// are decimal digits, half-width or full-width. The attribute is X, 9 or N (either width, either
// case); empty or missing means X. There is no quoting: a name cannot hold a comma.
//
// On success fills `layout` (path = `path_for_messages`) and returns true. On the first bad line
// returns false with `message` naming the file and the line, e.g.
// "★レイアウトファイル /x/a.csv の 7 行目: 開始桁が数値ではありません"; a file with no field
// at all is refused as well. `layout` is then left empty.
[[nodiscard]] bool ParseLayoutText(std::string_view bytes, const std::string& path_for_messages,
                                   Layout& layout, std::string& message);

// Reads and parses the layout file at `path`. Fails with the read error (`message` then holds
// the system's reason, e.g. "★レイアウトファイル /x/a.csv を読み込めません: ファイルまたは
// フォルダがありません") or, when the text is bad, with EINVAL ("parse") and ParseLayoutText's
// message. The user is shown `message`; the status tells the two kinds of failure apart.
[[nodiscard]] Status LoadLayout(const std::string& path, Layout& layout, std::string& message);

// Turns a list of field names into range text the start checks parse, fields in the order
// given: "社員番号,部署" -> "12-19,1-5". Names (UTF-8) are separated by ',' or the full-width
// '，' and trimmed of blanks; empty items are passed over, so an empty list gives "". The
// ideographic comma '、' separates nothing, as a field name may hold it (a name holding '，'
// cannot be given here). A name given twice gives its range twice. There is no limit on the
// count here: the caller's range parsing refuses more than kMaxRanges with its own message.
//
// Returns false when names are not in the layout, with `message` naming each unknown name once,
// in the order given: "★レイアウトにない項目です: 部署コード, 氏名".
[[nodiscard]] bool FieldNamesToRangeText(const Layout& layout, std::string_view names,
                                         std::string& range_text, std::string& message);

}  // namespace vesmer
