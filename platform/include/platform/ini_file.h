// A profile (INI) file reader and writer that behaves like the Windows profile functions for
// what this program stores: "[section]" headers and "key=value" lines, names compared without
// regard to ASCII letter case, blanks around names and values ignored on reading. Writing keeps
// every other line of the file as it was. Names and values are code page 932 bytes.
#pragma once

#include <string>
#include <string_view>

namespace vesmer {

// The value of `key` in `section` of the file content `text`; "" when any of them is missing.
// The first of duplicate sections and keys wins.
[[nodiscard]] std::string FindProfileValue(std::string_view text, std::string_view section,
                                           std::string_view key);

// `text` with `key` of `section` set to `value`: an existing key is replaced in place, a missing
// key is added at the end of its section, a missing section at the end of the text. CR and LF
// in the value become spaces, so a value never spills onto a line of its own.
[[nodiscard]] std::string SetProfileValue(std::string_view text, std::string_view section,
                                          std::string_view key, std::string_view value);

// Reads `key` of `section` from the file at `path`, cut to `max_bytes` bytes; "" when the file,
// the section or the key is missing.
[[nodiscard]] std::string ReadProfileString(const std::string& path, std::string_view section,
                                            std::string_view key, std::size_t max_bytes);

// Sets `key` of `section` in the file at `path`, creating file, section and key as needed. The
// file is replaced as a whole through a temporary file beside it, so it is never half-written.
// Returns false when the file could not be written; the old file then stays as it was.
[[nodiscard]] bool WriteProfileString(const std::string& path, std::string_view section,
                                      std::string_view key, std::string_view value);

}  // namespace vesmer
