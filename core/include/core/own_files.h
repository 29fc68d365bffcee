// The files one run reads and the files it writes, checked against each other before any of
// them is touched: no output may be a file the run reads, nor may two outputs be one file.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace vesmer {

// A file of a run and what it is to the user, in Japanese ("レイアウト", "報告書").
struct NamedFile {
  std::string path;
  std::string role;
};

// Whether two paths are one file: the same name once made absolute and normal, or once
// symbolic links are followed (a write goes through them), or the same device and inode (a
// hard link, a link to a folder on the way).
[[nodiscard]] bool SameFile(const std::string& a, const std::string& b);

// Fails for the first of `writes` that is one of `reads` or one of the `writes` before it,
// naming it, with the reason in the user's words ("この実行が読むレイアウトのファイルです").
[[nodiscard]] Status CheckOwnFiles(const std::vector<NamedFile>& reads,
                                   const std::vector<NamedFile>& writes);

}  // namespace vesmer
