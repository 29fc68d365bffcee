#include "settings/settings_store.h"

#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/cp932.h"
#include "platform/files.h"
#include "platform/ini_file.h"
#include "platform/whole_file.h"

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

// The sections a failure message lists at most; a record file named by mistake may have a
// "[" at the start of every line.
constexpr std::size_t kListedSections = 10;

// Fills the store from the content of a settings file, `section` in code page 932. Every value
// goes through the 1,023-byte limit of the profile reader, an empty one gets its default.
void LoadFromText(SettingsStore& store, std::string_view text, std::string_view section) {
  const auto read = [&](std::string_view key, const char* fallback) {
    std::string value = FindProfileValue(text, section, key);
    if (value.size() > kIniValueLimit) value.resize(kIniValueLimit);
    return value.empty() ? std::string(fallback) : cp932::ToUtf8(value);
  };
  store.Left = ReadPosition(read("Left", ""));
  store.Top = ReadPosition(read("Top", ""));
  for (std::size_t i = 0; i < 2; ++i) {
    const std::string digit(1, static_cast<char>('0' + i));
    std::string path = read("InputData" + digit, "");
    if (!FileExists(path) || IsDirectory(path)) path.clear();
    store.InputData[i] = path;
    store.Utf8[i] = read("Utf8" + digit, "");
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

bool IsAbsolute(const std::string& path) { return !path.empty() && path.front() == '/'; }

std::string WithoutTrailingSlashes(std::string path) {
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

}  // namespace

SettingsLocation SettingsLocationFor(const std::string& executable_path,
                                     const SettingsEnvironment& environment) {
  const std::string base = RemoveExtension(BaseName(executable_path));
  const std::string folder = Folder(executable_path);
  SettingsLocation beside{folder + "/" + base + ".ini", base};
  if (!environment.may_write || environment.may_write(folder) ||
      environment.may_write(beside.file)) {
    return beside;
  }
  std::string config;
  if (IsAbsolute(environment.xdg_config_home)) {
    config = WithoutTrailingSlashes(environment.xdg_config_home);
  } else if (IsAbsolute(environment.home)) {
    config = WithoutTrailingSlashes(environment.home);
    config = (config == "/" ? "" : config) + "/.config";
  } else {
    return beside;
  }
  if (config != "/") config += "/";
  return {config + "vesmer/" + base + ".ini", base, true};
}

SettingsLocation SettingsLocationFor(const std::string& executable_path) {
  SettingsEnvironment environment;
  environment.may_write = MayWrite;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME")) environment.xdg_config_home = xdg;
  if (const char* home = std::getenv("HOME")) environment.home = home;
  if (environment.home.empty()) {
    // Started without a login environment (a service, cron): the password database knows.
    if (const passwd* entry = ::getpwuid(::geteuid()); entry != nullptr && entry->pw_dir) {
      environment.home = entry->pw_dir;
    }
  }
  return SettingsLocationFor(executable_path, environment);
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
  std::string text;  // stays empty when the file cannot be read: every value gets its default
  (void)ReadWholeFile(where.file, kProfileFileLimit, text);
  LoadFromText(store, text, cp932::FromUtf8(where.section));
}

Status LoadSettingsFile(const std::string& path, SettingsStore& store, std::string& message) {
  message.clear();
  std::string text;
  if (Status read = ReadWholeFile(path, kProfileFileLimit, text); !read.ok()) {
    message = "★設定ファイルを読めません: " + path + "（" + read.reason() + "）";
    return read;
  }
  const std::vector<std::string> sections = ProfileSectionNames(text);
  if (sections.empty()) {
    message = "★設定ファイルにセクションがありません: " + path;
    return Status::Error(EINVAL, "section", path);
  }
  const std::string base = RemoveExtension(BaseName(path));
  std::string section = cp932::FromUtf8(base);
  bool found = false;
  for (const std::string& name : sections) found = found || SameProfileName(name, section);
  if (!found) {
    if (sections.size() > 1) {
      std::string list;
      for (std::size_t i = 0; i < sections.size() && i < kListedSections; ++i) {
        if (i > 0) list += "、";
        list += "[" + cp932::ToUtf8(sections[i]) + "]";
      }
      if (sections.size() > kListedSections) list += "、…";
      message = "★設定ファイルにセクション [" + base + "] がありません（" + list +
                " があります）: " + path;
      return Status::Error(EINVAL, "section", path);
    }
    section = sections.front();
  }
  LoadFromText(store, text, section);
  return {};
}

Status SaveSettingsChecked(const SettingsStore& store, const SettingsLocation& where) {
  // The keys in the order they are written, values already in code page 932.
  const auto encoded = [](const std::string& text) { return cp932::FromUtf8(text); };
  const std::pair<const char*, std::string> values[] = {
      {"Left", std::to_string(store.Left)},
      {"Top", std::to_string(store.Top)},
      {"InputData0", encoded(store.InputData[0])},
      {"Utf80", encoded(store.Utf8[0])},
      {"InputData1", encoded(store.InputData[1])},
      {"Utf81", encoded(store.Utf8[1])},
      {"OutputData", encoded(store.OutputData)},
      {"Key", encoded(store.Key)},
      {"KeyRange", encoded(store.KeyRange)},
      {"Omit", encoded(store.Omit)},
      {"OmitRange", encoded(store.OmitRange)},
      {"Display", encoded(store.Display)},
      {"SpaceCompare", encoded(store.SpaceCompare)},
      {"ArrangeLength", encoded(store.ArrangeLength)},
      {"OpenResult", encoded(store.OpenResult)},
      {"Editor", encoded(store.Editor)},
      {"EditorName", encoded(store.EditorName)},
      {"Scale", encoded(store.Scale)},
  };
  ProfileEntry entries[std::size(values)];
  for (std::size_t i = 0; i < std::size(values); ++i) {
    entries[i] = {values[i].first, values[i].second};
  }
  if (where.create_folders) {
    if (Status made = MakeFolders(Folder(where.file), 0700); !made.ok()) return made;
  }
  return WriteProfileStrings(where.file, cp932::FromUtf8(where.section), entries);
}

void SaveSettings(const SettingsStore& store, const SettingsLocation& where) {
  (void)SaveSettingsChecked(store, where);
}

std::string SaveSettingsMessage(const Status& failure) {
  return "★設定ファイルを保存できません: " + failure.path() + "（" + failure.reason() + "）";
}

}  // namespace vesmer
