// The profile reader and writer on arbitrary file contents: no crash, and a value written is
// read back (after the writer's own cleaning) from the rewritten text.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/ini_file.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  // The first line names section, key and value; the rest is the file.
  const std::size_t nl = all.find('\n');
  const std::string_view head = all.substr(0, nl == std::string_view::npos ? 0 : nl);
  const std::string_view text = nl == std::string_view::npos ? all : all.substr(nl + 1);
  (void)vesmer::FindProfileValue(text, "vesmer", "Key");

  const std::string section = "S" + std::string(head.substr(0, head.size() / 3));
  std::string key = "K" + std::string(head.substr(head.size() / 3, head.size() / 3));
  std::string value(head.substr(2 * (head.size() / 3)));
  for (char& c : key) {
    if (c == '=' || c == '[' || c == ']' || c == '\r' || c == '\n' || c == ' ' || c == '\t')
      c = 'x';
  }
  std::string s = section;
  for (char& c : s) {
    if (c == ']' || c == '[' || c == '\r' || c == '\n' || c == ' ' || c == '\t') c = 'y';
  }
  for (char& c : value) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.erase(0, 1);
  while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.pop_back();
  const std::string updated = vesmer::SetProfileValue(text, s, key, value);
  if (vesmer::FindProfileValue(updated, s, key) != value) std::abort();
  return 0;
}
