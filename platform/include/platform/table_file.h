// The small comma-separated files a user writes by hand (record layouts, expected differences):
// reading them whole, telling UTF-8 from code page 932, and walking their lines as trimmed
// columns. Internal to the engine.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vesmer::table_file {

// These files hold a few hundred lines; a record file named by mistake is refused before it is
// read into memory whole.
inline constexpr std::size_t kMaxBytes = std::size_t{16} << 20;

// Reads the file at `path` whole into `bytes`. Fails with the system's error, or EFBIG when the
// file is larger than kMaxBytes.
[[nodiscard]] Status Read(const std::string& path, std::string& bytes);

// Blanks around a column: half-width space, tab and the full-width space U+3000 (UTF-8 in).
[[nodiscard]] std::string_view TrimBlanks(std::string_view text);

// The count of columns up to the last one that is not empty. Spreadsheets pad every line with
// commas to the widest one, so empty columns at the end carry nothing.
[[nodiscard]] std::size_t UsedColumns(const std::vector<std::string_view>& columns);

// Walks the lines of a file's bytes. The bytes are UTF-8 when they start with a byte order mark
// or decode as valid UTF-8 throughout, else code page 932; either way the columns come out as
// UTF-8. A line ends at LF, CR LF or a lone CR; line numbers count every physical line from 1.
// Blank lines and lines whose first non-blank character is '#' are passed over. Columns are
// split at ',' (no quoting) and trimmed of blanks.
class Reader {
 public:
  // `bytes` must outlive the reader.
  explicit Reader(std::string_view bytes);

  // Moves to the next line that carries data; false at the end.
  [[nodiscard]] bool Next();
  // The current line's 1-based physical line number.
  [[nodiscard]] int line_number() const { return line_number_; }
  // The current line's columns; valid until the next call of Next().
  [[nodiscard]] const std::vector<std::string_view>& columns() const { return columns_; }
  // True when the file is marked UTF-8 by its byte order mark but the current line holds bytes
  // that are not UTF-8: its columns are then not to be trusted.
  [[nodiscard]] bool malformed() const { return malformed_; }

 private:
  std::string_view rest_;
  bool utf8_ = true;
  int line_number_ = 0;
  bool malformed_ = false;
  std::string decoded_;  // the current line as UTF-8 when the file is code page 932
  std::vector<std::string_view> columns_;
};

// "★<what> <path> の <line> 行目: <text>": a bad line of a layout or rules file.
[[nodiscard]] std::string LineMessage(std::string_view what, const std::string& path, int line,
                                      std::string_view text);

}  // namespace vesmer::table_file
