// The settings store: the values that carry the user's choices from one run of the program to
// the next, with their settings file beside the executable or, where that folder cannot be
// written, in the user's configuration folder.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/status.h"

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
  // Saving first makes the missing folders of `file` (mode 0700): set for the per-user location,
  // whose folders a first run does not find.
  bool create_folders = false;
};

// What SettingsLocationFor asks of the machine; tests bring their own.
struct SettingsEnvironment {
  // True when the path exists and may be written; for a folder, when files may be made in it.
  std::function<bool(const std::string&)> may_write;
  std::string xdg_config_home;  // $XDG_CONFIG_HOME, "" when unset
  std::string home;             // $HOME
};

// For an executable at /dir/name(.ext): /dir/name.ini, section "name", when /dir may be written
// or /dir/name.ini exists and may be written. Otherwise (an installed program, /usr/bin/vesmer)
// the per-user file $XDG_CONFIG_HOME/vesmer/name.ini, same section, with create_folders set; an
// unset, empty or relative $XDG_CONFIG_HOME counts as $HOME/.config. When neither gives an
// absolute folder the file beside the executable stays the only choice. The same location serves
// reading and writing.
[[nodiscard]] SettingsLocation SettingsLocationFor(const std::string& executable_path,
                                                   const SettingsEnvironment& environment);
// The same on this machine: MayWrite (effective ids, read-only file systems), the process
// environment, and the home folder of the password database when $HOME is unset.
[[nodiscard]] SettingsLocation SettingsLocationFor(const std::string& executable_path);

// The settings file named by a path of its own, the section being the file's base name. Kept for
// callers that choose the section themselves; LoadSettingsFile finds the section in the file and
// reports a file it cannot use.
[[nodiscard]] SettingsLocation SettingsLocationOfFile(const std::string& ini_path);

inline constexpr std::size_t kIniValueLimit = 1023;

// Reads a value (cut to 1,023 bytes in code page 932) as UTF-8; "" when anything is missing.
[[nodiscard]] std::string ReadIni(const std::string& section, const std::string& key,
                                  const std::string& file);
// Writes a UTF-8 value, encoded in code page 932, replacing the file in one step as
// SaveSettingsChecked does. Returns false when the write failed; the file is then unchanged.
bool WriteIni(const std::string& section, const std::string& key, const std::string& value,
              const std::string& file);

// Fills every value from the file, with the defaults and load-time checks. Never fails: a
// missing or broken file gives the defaults.
void LoadSettings(SettingsStore& store, const SettingsLocation& where);

// Loads the settings file named on a command line (`vesmer-batch --settings FILE`). The section
// is the one named after the file's base name (its name without extension, compared as section
// names are) when the file has it, else the file's only section, so a copy of vesmer.ini saved
// as nightly.ini still loads; the values then load as LoadSettings loads them. Fails, leaving
// `store` as it was, when the file cannot be read (missing, a folder, no permission, larger than
// kProfileFileLimit), has no section, or has several and none of that name; `message` is then
// the Japanese one-line message for the user, naming the file (otherwise it is emptied). The
// Status holds the system's error of a failed read, EINVAL for a file without a usable section.
[[nodiscard]] Status LoadSettingsFile(const std::string& path, SettingsStore& store,
                                      std::string& message);

// Writes every value, in order, into the section of the file in one replacement (see
// WriteProfileStrings): afterwards the file holds all of them or, on failure, exactly what it
// held before, every other line of the file kept. A file that is a symbolic link is written
// through. Makes the missing folders first when the location asks for it. A failure names the
// file (or the folder that could not be made) and the system's error.
[[nodiscard]] Status SaveSettingsChecked(const SettingsStore& store, const SettingsLocation& where);
// SaveSettingsChecked for the window's exit, which has nobody left to tell: a failure is dropped
// and the file keeps its previous contents.
void SaveSettings(const SettingsStore& store, const SettingsLocation& where);
// The one-line message for a failed save, e.g.
// "★設定ファイルを保存できません: /usr/bin/vesmer.ini（アクセスが許可されていません）".
[[nodiscard]] std::string SaveSettingsMessage(const Status& failure);

// "1" is on; anything else is off.
[[nodiscard]] inline bool IsOn(const std::string& flag) { return flag == "1"; }

}  // namespace vesmer
