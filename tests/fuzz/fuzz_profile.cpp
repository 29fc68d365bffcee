// The profile reader and writer on arbitrary file contents: no crash; values written in one pass
// (as a settings save writes them) read back, after the writer's own cleaning; every other value
// reads as before; the section list only gains the section written to.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ini_file.h"

namespace {

// A name the writer can store: no brackets, "=", blanks or line ends, and a first character
// that keeps a key line from looking like a section header.
std::string Name(char first, std::string_view bytes) {
  std::string name(1, first);
  for (char c : bytes) {
    const bool bad = c == '=' || c == '[' || c == ']' || c == '\r' || c == '\n' || c == ' ' ||
                     c == '\t' || c == '\0';
    name += bad ? 'x' : c;
  }
  return name;
}

// The value as it reads back: line ends become spaces, blanks around it are dropped.
std::string Cleaned(std::string_view bytes) {
  std::string value(bytes);
  for (char& c : value) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  // The first line names section, two keys and two values; the rest is the file.
  const std::size_t nl = all.find('\n');
  const std::string_view head = all.substr(0, nl == std::string_view::npos ? 0 : nl);
  const std::string_view text = nl == std::string_view::npos ? all : all.substr(nl + 1);
  const std::size_t part = head.size() / 5;
  const std::string section = Name('S', head.substr(0, part));
  const std::string key = Name('K', head.substr(part, part));
  const std::string other_key = Name('L', head.substr(2 * part, part));
  const std::string value(head.substr(3 * part, part));
  const std::string other_value(head.substr(4 * part));

  // Values the write must not disturb: another key of the same section (the keys written start
  // with K and L) and a key of another section (the section written starts with S).
  const std::string probe_before = vesmer::FindProfileValue(text, section, "Probe");
  const std::string elsewhere_before = vesmer::FindProfileValue(text, "vesmer", "Key");
  const std::vector<std::string> sections_before = vesmer::ProfileSectionNames(text);

  const vesmer::ProfileEntry entries[] = {{key, value}, {other_key, other_value}};
  const std::string updated = vesmer::SetProfileValues(text, section, entries);

  if (vesmer::FindProfileValue(updated, section, key) != Cleaned(value)) std::abort();
  if (vesmer::FindProfileValue(updated, section, other_key) != Cleaned(other_value)) std::abort();
  if (vesmer::FindProfileValue(updated, section, "Probe") != probe_before) std::abort();
  if (vesmer::FindProfileValue(updated, "vesmer", "Key") != elsewhere_before) std::abort();

  std::vector<std::string> sections_expected = sections_before;
  bool known = false;
  for (const std::string& name : sections_before) {
    known = known || vesmer::SameProfileName(name, section);
  }
  if (!known) sections_expected.push_back(section);
  if (vesmer::ProfileSectionNames(updated) != sections_expected) std::abort();
  return 0;
}
