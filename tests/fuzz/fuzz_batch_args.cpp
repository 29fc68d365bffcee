// The batch tool's command line and the settings file it may name, on arbitrary bytes: the
// parser never crashes or throws, and arguments it accepts name two files, or none with
// --settings, and only result kinds 2 to 5; a settings file of any content and name loads, or
// fails with a "★" message that names the file and leaves the settings as they were.
//
// Input layout: the NUL-separated pieces of the input are the arguments after the program name.
// The first piece also names the settings file (a "/" in it becomes "_"; a name starting with
// "!" is not written, one starting with "#" is a folder) and everything after the first NUL is
// the file's content.
//
// Then the same bytes choose a run over a folder of fixed files: which extra outputs, layout,
// rules and settings file it gets, each named after one of the run's own files (as given, in
// another spelling, through a symbolic or a hard link) or a new name. Whatever is chosen, no
// file the run reads changes, and a run refused at setup leaves every file as it was.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "cli/batch.h"
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

// The run's own files, fresh for every input: inputs that differ, a layout, rules, a settings
// file, and links to them.
const std::map<std::string, std::string>& OwnFiles() {
  static const std::map<std::string, std::string> files = {
      {"a.prn", "0001 aaa\r\n0002 bbb\r\n0002 bbb\r\n"},
      {"b.prn", "0001 aaa\r\n0002 bbc\r\n0003 ccc\r\n"},
      {"lay.csv", "k,1,4\nv,6,3\n"},
      {"rules.csv", "v,\xE7\x84\xA1\xE8\xA6\x96\n"},  // 無視
      {"s.ini", "[vesmer]\r\nOutputData=001111\r\n"},
  };
  return files;
}

const std::vector<std::string>& Names() {
  static const std::vector<std::string> names = {
      "a.prn",   "b.prn",    "lay.csv",   "rules.csv",  "s.ini",    "./a.prn",     "./lay.csv",
      "a.link",  "lay.link", "s.link",    "rules.hard", "b.hard",   "a_0.TXT",     "a_2.TXT",
      "a_4.TXT", "a_5.TXT",  "new1.html", "new2.csv",   "new3.txt", "../x/lay.csv"};
  return names;
}

std::string Slurp(const std::string& path) {
  std::string bytes;
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return "(none)";
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) != 0;) {
    bytes.append(buffer, got);
  }
  std::fclose(file);
  return bytes;
}

// Every entry of the folder and its bytes (a link by what it points to).
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) Fail("opendir " + folder);
  while (const dirent* entry = ::readdir(dir)) {
    const std::string name = entry->d_name;
    if (name == "." || name == "..") continue;
    entries[name] = Slurp(folder + "/" + name);
  }
  ::closedir(dir);
  return entries;
}

void ResetOwnFiles(const std::string& folder) {
  for (const auto& [name, bytes] : Snapshot(folder)) {
    (void)bytes;
    if (::unlink((folder + "/" + name).c_str()) != 0) Fail("unlink " + name);
  }
  for (const auto& [name, bytes] : OwnFiles()) WriteWhole(folder + "/" + name, bytes);
  const auto in = [&](const char* name) { return folder + "/" + name; };
  if (::symlink("a.prn", in("a.link").c_str()) != 0 ||
      ::symlink("lay.csv", in("lay.link").c_str()) != 0 ||
      ::symlink(in("s.ini").c_str(), in("s.link").c_str()) != 0 ||
      ::link(in("rules.csv").c_str(), in("rules.hard").c_str()) != 0 ||
      ::link(in("b.prn").c_str(), in("b.hard").c_str()) != 0) {
    Fail("links");
  }
}

void CheckOwnFilesAreNeverWritten(std::string_view all) {
  static const std::string folder = [] {
    const std::string f = Folder() + "/run";
    if (::mkdir(f.c_str(), 0700) != 0) Fail("mkdir " + f);
    std::atexit([] {
      const std::string run = Folder() + "/run";
      for (const auto& [name, bytes] : Snapshot(run)) ::unlink((run + "/" + name).c_str());
      ::rmdir(run.c_str());
    });
    return f;
  }();
  ResetOwnFiles(folder);
  std::size_t at = 0;
  const auto next = [&]() -> unsigned {
    return at < all.size() ? static_cast<unsigned char>(all[all.size() - 1 - at++]) : 0u;
  };
  // The files this run reads, by the name of the file each of their names leads to.
  std::vector<std::string> read;
  const auto own = [&](const std::string& given) {
    static const std::map<std::string, std::string> leads_to = {
        {"./a.prn", "a.prn"},    {"./lay.csv", "lay.csv"}, {"a.link", "a.prn"},
        {"lay.link", "lay.csv"}, {"s.link", "s.ini"},      {"rules.hard", "rules.csv"},
        {"b.hard", "b.prn"}};
    const auto found = leads_to.find(given);
    const std::string file = found != leads_to.end() ? found->second : given;
    if (OwnFiles().count(file) != 0) read.push_back(file);
  };
  std::string last;
  const auto name = [&] {
    last = Names()[next() % Names().size()];
    return folder + "/" + last;
  };
  std::vector<std::string> args = {"vesmer-batch", "--json", "-q", "-k", "1-4"};
  const unsigned choose = next() | (next() << 8);
  const char* const outputs[] = {"--report", "--summary-csv", "--duplicates", "--expected"};
  const char* const reads[] = {"--layout", "--rules", "--settings"};
  bool rules = false;
  for (int i = 0; i < 3; ++i) {
    if ((choose & (1u << i)) == 0) continue;
    args.insert(args.end(), {reads[i], name()});
    own(last);
    rules = rules || i == 1;
  }
  // Rules name fields: they need the layout.
  if (rules && (choose & 1u) == 0) {
    args.insert(args.end(), {"--layout", folder + "/lay.csv"});
    own("lay.csv");
  }
  for (int i = 0; i < 4; ++i) {
    if ((choose & (1u << (3 + i))) == 0) continue;
    if (i == 3 && !rules) continue;  // --expected needs --rules
    args.insert(args.end(), {outputs[i], name()});
  }
  if ((choose & (1u << 8)) != 0) args.push_back("--sort");
  if ((choose & (1u << 9)) != 0) args.insert(args.end(), {"-o", "2345"});
  const std::string source = (choose & (1u << 10)) != 0 ? "a.link" : "a.prn";
  const std::string destination = (choose & (1u << 11)) != 0 ? "b.hard" : "b.prn";
  args.push_back(folder + "/" + source);
  args.push_back(folder + "/" + destination);
  own(source);
  own(destination);

  std::vector<const char*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  const auto before = Snapshot(folder);
  std::ostringstream out, err;
  const int status = vesmer::RunBatch(static_cast<int>(argv.size()), argv.data(), out, err, false);
  const auto after = Snapshot(folder);
  std::string command;
  for (const std::string& a : args) command += " " + a;
  // Whatever the run did, the files it read hold what they held.
  for (const std::string& file : read) {
    Check(after.at(file) == OwnFiles().at(file), file + " was written by" + command);
  }
  if (status == 2 && out.str().find("\"outcome\":\"failed\"") != std::string::npos &&
      out.str().find("\"written\":true") == std::string::npos) {
    Check(after == before, "a refused run touched the folder:" + command + "\n" + err.str());
  }
  Check(status == 0 || status == 1 || status == 2, "exit status " + std::to_string(status));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view all(reinterpret_cast<const char*>(data), size);
  CheckArguments(all);
  CheckSettingsFile(all);
  CheckOwnFilesAreNeverWritten(all);
  return 0;
}
