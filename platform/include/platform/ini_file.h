// A profile (INI) file reader and writer that behaves like the Windows profile functions for
// what this program stores: "[section]" headers and "key=value" lines, names compared without
// regard to ASCII letter case, blanks around names and values ignored on reading. Writing keeps
// every other line of the file as it was. Names and values are code page 932 bytes.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace vesmer {

// A profile file larger than this is refused rather than read into memory: settings files are a
// few kilobytes, a larger file is most likely a record file named by mistake.
inline constexpr std::size_t kProfileFileLimit = 16 * 1024 * 1024;

// True when two section or key names are the same, ASCII letters compared without case (other
// bytes, double-byte characters among them, must be equal).
[[nodiscard]] bool SameProfileName(std::string_view a, std::string_view b);

// The section names of the file content `text`, in the order they first appear, blanks around
// them dropped; a name that comes again (in any letter case) is listed once, as first spelt.
[[nodiscard]] std::vector<std::string> ProfileSectionNames(std::string_view text);

// The value of `key` in `section` of the file content `text`; "" when any of them is missing.
// The first of duplicate sections and keys wins.
[[nodiscard]] std::string FindProfileValue(std::string_view text, std::string_view section,
                                           std::string_view key);

// `text` with `key` of `section` set to `value`: an existing key is replaced in place, a missing
// key is added at the end of its section, a missing section at the end of the text. CR and LF
// in the value become spaces, so a value never spills onto a line of its own.
[[nodiscard]] std::string SetProfileValue(std::string_view text, std::string_view section,
                                          std::string_view key, std::string_view value);

struct ProfileEntry {
  std::string_view key;
  std::string_view value;
};

// `text` with each entry set in turn, as SetProfileValue sets one.
[[nodiscard]] std::string SetProfileValues(std::string_view text, std::string_view section,
                                           std::span<const ProfileEntry> entries);

// Reads `key` of `section` from the file at `path`, cut to `max_bytes` bytes; "" when the file,
// the section or the key is missing, or the file cannot be read.
[[nodiscard]] std::string ReadProfileString(const std::string& path, std::string_view section,
                                            std::string_view key, std::size_t max_bytes);

// Sets every entry in `section` of the file at `path`, creating file, section and keys as
// needed: the file is read once, changed in memory and replaced once by ReplaceWholeFile (a
// symbolic link is written through), so it is never half-written and never holds some of the
// entries only. Nothing is written when the text would not change. A file that exists but cannot
// be read is not replaced. On failure the old file stays as it was and the Status names the
// file and the system's error.
[[nodiscard]] Status WriteProfileStrings(const std::string& path, std::string_view section,
                                         std::span<const ProfileEntry> entries);

// WriteProfileStrings for one key.
[[nodiscard]] Status WriteProfileString(const std::string& path, std::string_view section,
                                        std::string_view key, std::string_view value);

}  // namespace vesmer
