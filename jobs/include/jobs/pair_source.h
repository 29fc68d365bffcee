// The pairs of a job: read from a list (比較元,比較先[,プロファイル名] a line) or found in two
// folders (every file under the old one against the file of the same relative path under the
// new one), each with the relative path its results are kept under.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace vesmer {

// Which sides of a pair exist: found in two folders, a file may be on one side only.
enum class Presence { kBoth, kSourceOnly, kDestinationOnly };

struct JobPair {
  std::string source, destination;  // paths as the run opens them (UTF-8)
  // The source's path under the job's root, "/"-separated, never absolute and never with "..":
  // its results go to the same path under the output folder.
  std::string relative;
  std::string profile;  // named by the list, "" when none
  Presence presence = Presence::kBoth;
  std::string origin;  // where it was written ("pairs.txt 3 行目"), "" for folders
};

// The text of a list or profile file as UTF-8: UTF-8 as it is (a byte order mark dropped), else
// taken as code page 932.
[[nodiscard]] std::string ListFileText(std::string_view bytes);

// Calls `take(line, number)` for each line of `text` (as ListFileText gives it) that holds
// anything: lines end at LF or CR LF and are passed without their end, numbered from 1; blank
// lines and lines whose first non-blank character is one of `comment_marks` are passed over.
// Stops, returning false, at the first line `take` returns false for.
bool ForEachListLine(std::string_view text, std::string_view comment_marks,
                     const std::function<bool(std::string_view, std::size_t)>& take);

// Reads the pair list at `path`: one pair a line, 比較元,比較先[,プロファイル名], fields separated
// by commas (a field in double quotes may hold commas, "" a quote), blanks around a field
// dropped; empty lines and lines whose first non-blank character is "#" are skipped. Relative
// paths count from the list's folder. A pair's relative path is its source's path under the
// list's folder, or for a source elsewhere its absolute path without the leading "/". False
// with a Japanese message naming the file and the line when the file cannot be read or a line
// is not a pair.
[[nodiscard]] bool ReadPairList(const std::string& path, std::vector<JobPair>& pairs,
                                std::string& problem);

// Lists the regular files (a link to a regular file counts; links to folders are not followed)
// under `old_root` and `new_root`, pairs those of the same relative path and lists the others as
// on one side only, in the order of their relative paths (bytes). A file is taken when it
// matches one of `include` (or `include` is empty) and none of `exclude` (see GlobMatches).
// False with a Japanese message naming the folder when one cannot be read.
[[nodiscard]] bool ListFolderPairs(const std::string& old_root, const std::string& new_root,
                                   const std::vector<std::string>& include,
                                   const std::vector<std::string>& exclude,
                                   std::vector<JobPair>& pairs, std::string& problem);

// Whether the glob `pattern` (*, ?, [...]) matches a relative path: a pattern with a "/" is
// matched against the whole path ("*" stops at "/"), one without against the file name.
[[nodiscard]] bool GlobMatches(std::string_view pattern, std::string_view relative);

}  // namespace vesmer
