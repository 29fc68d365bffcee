#include "settings/settings_store.h"

#include <cstdlib>

#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/ini_file.h"

namespace vesmer {
namespace {

std::string BaseName(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string Folder(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// A number as the window position is stored: blanks around, an optional sign, digits and an
// optional fraction, rounded half to even. Values outside a signed 16-bit integer give 0.
std::int16_t ReadPosition(const std::string& text) {
  std::size_t i = 0, n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t')) ++i;
  while (n > i && (text[n - 1] == ' ' || text[n - 1] == '\t')) --n;
  bool negative = false;
  if (i < n && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
  long long whole = 0;
  bool digits = false;
  for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
    digits = true;
    if (whole < 1000000) whole = whole * 10 + (text[i] - '0');
  }
  bool round_up = false;
  if (i < n && text[i] == '.') {
    const std::size_t first = ++i;
    bool rest_nonzero = false;
    for (; i < n && text[i] >= '0' && text[i] <= '9'; ++i) {
      digits = true;
      if (i > first && text[i] != '0') rest_nonzero = true;
    }
    if (first < i) {
      const char f = text[first];
      round_up = f > '5' || (f == '5' && (rest_nonzero || whole % 2 == 1));
    }
  }
  if (!digits || i != n) return 0;
  long long value = whole + (round_up ? 1 : 0);
  if (negative) value = -value;
  if (value < -32768 || value > 32767) return 0;
  return static_cast<std::int16_t>(value);
}

}  // namespace

SettingsLocation SettingsLocationFor(const std::string& executable_path) {
  const std::string base = RemoveExtension(BaseName(executable_path));
  return {Folder(executable_path) + "/" + base + ".ini", base};
}

SettingsLocation SettingsLocationOfFile(const std::string& ini_path) {
  return {ini_path, RemoveExtension(BaseName(ini_path))};
}

std::string ReadIni(const std::string& section, const std::string& key, const std::string& file) {
  return cp932::ToUtf8(
      ReadProfileString(file, cp932::FromUtf8(section), cp932::FromUtf8(key), kIniValueLimit));
}

bool WriteIni(const std::string& section, const std::string& key, const std::string& value,
              const std::string& file) {
  return WriteProfileString(file, cp932::FromUtf8(section), cp932::FromUtf8(key),
                            cp932::FromUtf8(value))
      .ok();
}

void LoadSettings(SettingsStore& store, const SettingsLocation& where) {
  const auto read = [&](const char* key, const char* fallback) {
    std::string value = ReadIni(where.section, key, where.file);
    return value.empty() ? std::string(fallback) : value;
  };
  store.Left = ReadPosition(read("Left", ""));
  store.Top = ReadPosition(read("Top", ""));
  for (int i = 0; i < 2; ++i) {
    const std::string digit(1, static_cast<char>('0' + i));
    std::string path = read(("InputData" + digit).c_str(), "");
    if (!FileExists(path) || IsDirectory(path)) path.clear();
    store.InputData[i] = path;
    store.Utf8[i] = read(("Utf8" + digit).c_str(), "");
  }
  store.OutputData = read("OutputData", "111111");
  store.Key = read("Key", "0");
  store.KeyRange = read("KeyRange", "");
  store.Omit = read("Omit", "0");
  store.OmitRange = read("OmitRange", "");
  store.Display = read("Display", "1");
  store.SpaceCompare = read("SpaceCompare", "0");
  store.ArrangeLength = read("ArrangeLength", "0");
  store.OpenResult = read("OpenResult", "0");
  store.Editor = read("Editor", "0");
  store.EditorName = read("EditorName", "Notepad.exe");
  store.Scale = read("Scale", kDefaultScale);
}

void SaveSettings(const SettingsStore& store, const SettingsLocation& where) {
  const auto write = [&](const std::string& key, const std::string& value) {
    (void)WriteIni(where.section, key, value, where.file);
  };
  write("Left", std::to_string(store.Left));
  write("Top", std::to_string(store.Top));
  for (int i = 0; i < 2; ++i) {
    const std::string digit(1, static_cast<char>('0' + i));
    write("InputData" + digit, store.InputData[i]);
    write("Utf8" + digit, store.Utf8[i]);
  }
  write("OutputData", store.OutputData);
  write("Key", store.Key);
  write("KeyRange", store.KeyRange);
  write("Omit", store.Omit);
  write("OmitRange", store.OmitRange);
  write("Display", store.Display);
  write("SpaceCompare", store.SpaceCompare);
  write("ArrangeLength", store.ArrangeLength);
  write("OpenResult", store.OpenResult);
  write("Editor", store.Editor);
  write("EditorName", store.EditorName);
  write("Scale", store.Scale);
}

}  // namespace vesmer
