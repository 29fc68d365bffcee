// The batch tool's command line and the settings file it may name, on arbitrary bytes: the
// parser never crashes or throws, and arguments it accepts name two files, or none with
// --settings, and only result kinds 2 to 5; a settings file of any content and name loads, or
// fails with a "★" message that names the file and leaves the settings as they were.
//
// Input layout: the NUL-separated pieces of the input are the arguments after the program name.
// The first piece also names the settings file (a "/" in it becomes "_"; a name starting with
// "!" is not written, one starting with "#" is a folder) and everything after the first NUL is
// the file's content.
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "cli/batch_options.h"
#include "platform/files.h"
#include "settings/settings_store.h"
#include "tests/fuzz/scratch_folder.h"

namespace {

constexpr std::size_t kMaxArguments = 64;
constexpr std::size_t kMaxNameBytes = 100;

[[noreturn]] void Fail(const std::string& what) {
  std::fprintf(stderr, "fuzz_batch_args: %s\n", what.c_str());
  std::abort();
}

void Check(bool ok, const std::string& what) {
  if (!ok) Fail(what);
}

const std::string& Folder() { return vesmer::fuzzing::ScratchFolder("fuzz_batch_args"); }

void WriteWhole(const std::string& path, std::string_view bytes) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) Fail("open for writing " + path);
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
    Fail("write " + path);
  }
  if (std::fclose(file) != 0) Fail("close " + path);
}

void CheckArguments(std::string_view all) {
  std::vector<std::string> pieces;
  for (std::size_t at = 0; at <= all.size() && pieces.size() < kMaxArguments;) {
    const std::size_t nul = all.find('\0', at);
    const std::size_t end = nul == std::string_view::npos ? all.size() : nul;
    pieces.emplace_back(all.substr(at, end - at));
    at = end + 1;
  }
  std::vector<const char*> argv = {"vesmer-batch"};
  for (const std::string& piece : pieces) argv.push_back(piece.c_str());
  const int argc = static_cast<int>(argv.size());
  argv.push_back(nullptr);

  vesmer::BatchOptions options;
  const std::string message = vesmer::ParseBatchOptions(argc, argv.data(), options);
  vesmer::BatchOptions again;
  Check(vesmer::ParseBatchOptions(argc, argv.data(), again) == message,
        "a second parse answers otherwise");
  if (!message.empty()) return;
  if (options.help || options.version) return;
  Check(options.paths.size() == 2 || (options.settings.has_value() && options.paths.empty()),
        "accepted without two files or --settings alone");
  if (options.outputs) {
    for (const char c : *options.outputs) Check(c >= '2' && c <= '5', "accepted a result kind");
  }
}

// A store no file loads: every value set to something LoadSettingsFile would not produce.
vesmer::SettingsStore Sentinel() {
  vesmer::SettingsStore store;
  store.Left = 12345;
  store.Top = -12345;
  store.InputData = {
      "\x01"
      "source",
      "\x01"
      "destination"};
  store.Utf8 = {
      "\x01"
      "u0",
      "\x01"
      "u1"};
  std::string* texts[] = {&store.OutputData,   &store.Key,           &store.KeyRange,
                          &store.Omit,         &store.OmitRange,     &store.Display,
                          &store.SpaceCompare, &store.ArrangeLength, &store.OpenResult,
                          &store.Editor,       &store.EditorName,    &store.Scale};
  for (std::size_t i = 0; i < std::size(texts); ++i) *texts[i] = "\x01" + std::to_string(i);
  return store;
}

bool SameStore(const vesmer::SettingsStore& a, const vesmer::SettingsStore& b) {
  return a.Left == b.Left && a.Top == b.Top && a.InputData == b.InputData && a.Utf8 == b.Utf8 &&
         a.OutputData == b.OutputData && a.Key == b.Key && a.KeyRange == b.KeyRange &&
         a.Omit == b.Omit && a.OmitRange == b.OmitRange && a.Display == b.Display &&
         a.SpaceCompare == b.SpaceCompare && a.ArrangeLength == b.ArrangeLength &&
         a.OpenResult == b.OpenResult && a.Editor == b.Editor && a.EditorName == b.EditorName &&
         a.Scale == b.Scale;
}

void CheckSettingsFile(std::string_view all) {
  const std::size_t nul = all.find('\0');
  std::string name(all.substr(0, std::min(nul, kMaxNameBytes)));
  const std::string_view content =
      nul == std::string_view::npos ? std::string_view() : all.substr(nul + 1);
  for (char& c : name) {
    if (c == '/') c = '_';
  }
  if (name.empty() || name == "." || name == "..") name = "vesmer" + name + ".ini";
  const std::string path = Folder() + "/" + name;
  const bool missing = name[0] == '!';
  const bool folder = name[0] == '#';
  if (folder) {
    if (::mkdir(path.c_str(), 0700) != 0) Fail("mkdir " + path);
  } else if (!missing) {
    WriteWhole(path, content);
  }

  const vesmer::SettingsStore before = Sentinel();
  vesmer::SettingsStore store = before;
  std::string message = "not cleared";
  const vesmer::Status loaded = vesmer::LoadSettingsFile(path, store, message);
  if (loaded.ok()) {
    Check(!missing && !folder, "a missing file or a folder loaded");
    Check(message.empty(), "a message after a load that worked");
    for (const std::string& input : store.InputData) {
      Check(input.empty() || (vesmer::FileExists(input) && !vesmer::IsDirectory(input)),
            "an input path that names no file");
    }
  } else {
    Check(message.starts_with("\xE2\x98\x85"), "a failure message without the star: " + message);
    Check(message.find(path) != std::string::npos, "a failure message without the file");
    Check(SameStore(store, before), "a failed load changed the settings");
  }

  const int removed = folder ? ::rmdir(path.c_str()) : ::unlink(path.c_str());
  if (removed != 0 && !(missing && errno == ENOENT)) Fail("remove " + path);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  CheckArguments(all);
  CheckSettingsFile(all);
  return 0;
}
