// Converting a UTF-8 input to code page 932 on disk before a run.
#pragma once

#include <string>

#include "platform/status.h"

namespace vesmer {

struct Utf8InputNames {
  std::string converted;  // P + "_SJIS.TXT", the converted text while it is written
  std::string backup;     // P + "_UTF8.TXT", the UTF-8 file after the conversion
};

// P being `input_path` without its extension.
[[nodiscard]] Utf8InputNames MakeUtf8InputNames(const std::string& input_path);

// Streams the UTF-8 file at `input_path` into P_SJIS.TXT as code page 932 (a byte order mark
// dropped, malformed UTF-8 as U+FFFD, characters without a code page form as Windows writes
// them, line ends unchanged), renames the input to P_UTF8.TXT and P_SJIS.TXT to the input path.
// No rename replaces an existing file. On failure the input path still names a file with the
// user's text, and the backup is never overwritten.
[[nodiscard]] Status ConvertUtf8Input(const std::string& input_path);

}  // namespace vesmer
