// The settings store: the values that carry the user's choices from one run of the program to
// the next, with their settings file beside the executable.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace vesmer {

// The ruler written into the result list unless the settings give another; the window's
// progress display shows it too.
inline constexpr const char* kDefaultScale =
    "....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*....+....*"
    "....+....#";

// Texts are UTF-8 in memory; the file holds them in code page 932.
struct SettingsStore {
  std::int16_t Left = 0;  // twips; 0 centres the window
  std::int16_t Top = 0;
  std::array<std::string, 2> InputData;
  std::array<std::string, 2> Utf8;
  std::string OutputData;
  std::string Key;
  std::string KeyRange;
  std::string Omit;
  std::string OmitRange;
  std::string Display;
  std::string SpaceCompare;
  std::string ArrangeLength;
  std::string OpenResult;
  std::string Editor;
  std::string EditorName;
  std::string Scale;
};

// Where the settings live: the file and its one section.
struct SettingsLocation {
  std::string file;
  std::string section;
};

// For an executable at /dir/name(.ext): /dir/name.ini, section "name".
[[nodiscard]] SettingsLocation SettingsLocationFor(const std::string& executable_path);

// The settings file named by a path of its own (as `vesmer-batch --settings` takes it): the
// section is the file's base name.
[[nodiscard]] SettingsLocation SettingsLocationOfFile(const std::string& ini_path);

inline constexpr std::size_t kIniValueLimit = 1023;

// Reads a value (cut to 1,023 bytes in code page 932) as UTF-8; "" when anything is missing.
[[nodiscard]] std::string ReadIni(const std::string& section, const std::string& key,
                                  const std::string& file);
// Writes a UTF-8 value, encoded in code page 932. Returns false when the write failed.
bool WriteIni(const std::string& section, const std::string& key, const std::string& value,
              const std::string& file);

// Fills every value from the file, with the defaults and load-time checks. Never fails: a
// missing or broken file gives the defaults.
void LoadSettings(SettingsStore& store, const SettingsLocation& where);
// Writes every value, in order. Failed writes are ignored, as are their old values kept.
void SaveSettings(const SettingsStore& store, const SettingsLocation& where);

// "1" is on; anything else is off.
[[nodiscard]] inline bool IsOn(const std::string& flag) { return flag == "1"; }

}  // namespace vesmer
