// Profiles: the options of one kind of file, written as the command line writes them, in named
// sections of a file, chosen for a pair by the name its list gives or by a glob on its relative
// path.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace vesmer {

struct Profile {
  std::string name;  // the section's name; a glob when it holds *, ? or [
  bool glob = false;
  std::vector<std::string> args;  // the options, one argument each
  int line = 0;                   // the line of the section's header
};

struct ProfileSet {
  std::string path;
  std::vector<Profile> profiles;  // in the file's order

  // The profile of that name, null when there is none.
  [[nodiscard]] const Profile* Named(std::string_view name) const;
  // The first glob profile that matches `relative` (GlobMatches), null when none does.
  [[nodiscard]] const Profile* ForPath(std::string_view relative) const;
};

// Splits one line of options into arguments as a shell does for plain words: blanks separate
// them, '...' keeps everything as written, "..." keeps all but \" and \\, and a backslash
// outside quotes keeps the character after it. False with a Japanese message when a quote does
// not close.
[[nodiscard]] bool SplitArguments(std::string_view line, std::vector<std::string>& args,
                                  std::string& problem);

// Reads a profile file (UTF-8 or code page 932): "[名前]" starts a section, the lines after it
// hold its options (several lines add up); empty lines and lines starting with "#" or ";" are
// skipped. False with a Japanese message naming the file and the line: options before any
// section, a header that does not close, a name given twice, a quote that does not close.
[[nodiscard]] bool LoadProfiles(const std::string& path, ProfileSet& set, std::string& problem);

}  // namespace vesmer
