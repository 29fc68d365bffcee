#include "core/own_files.h"

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "platform/files.h"
#include "platform/whole_file.h"

namespace vesmer {
namespace {

// The names a path goes by: as given, made absolute and normal; and the file a write to it
// lands on, with every link on the way followed as far as the path exists (a folder reached
// through a link is one folder).
struct Names {
  std::string given, target;
  FileId id;
};

std::string Normal(const std::string& path) {
  std::error_code error;
  const std::filesystem::path absolute = std::filesystem::absolute(path, error);
  return error ? path : absolute.lexically_normal().string();
}

std::string Canonical(const std::string& path) {
  std::error_code error;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, error);
  return error ? Normal(path) : canonical.lexically_normal().string();
}

Names NamesOf(const std::string& path) {
  Names names;
  names.given = Normal(path);
  std::string target;
  names.target = Canonical(ResolveLinks(path, target).ok() ? target : path);
  names.id = IdOfPath(path);
  return names;
}

bool Same(const Names& a, const Names& b) {
  return a.given == b.given || a.target == b.target || a.given == b.target || a.target == b.given ||
         a.id == b.id;
}

}  // namespace

bool SameFile(const std::string& a, const std::string& b) { return Same(NamesOf(a), NamesOf(b)); }

Status CheckOwnFiles(const std::vector<NamedFile>& reads, const std::vector<NamedFile>& writes) {
  std::vector<Names> read_names, write_names;
  for (const NamedFile& r : reads) read_names.push_back(NamesOf(r.path));
  for (std::size_t w = 0; w < writes.size(); ++w) {
    const Names names = NamesOf(writes[w].path);
    for (std::size_t r = 0; r < reads.size(); ++r) {
      if (Same(names, read_names[r])) {
        return Status::Error(EEXIST, "output is a file the run reads", writes[w].path)
            .WithReason("この実行が読む" + reads[r].role + "のファイルです");
      }
    }
    for (std::size_t earlier = 0; earlier < w; ++earlier) {
      if (Same(names, write_names[earlier])) {
        return Status::Error(EEXIST, "two outputs are one file", writes[w].path)
            .WithReason(writes[earlier].role + "と同じファイルです");
      }
    }
    write_names.push_back(names);
  }
  return {};
}

}  // namespace vesmer
