// Files: line-by-line reading, buffered writing with CR LF line ends, and the small path and
// text helpers (FileExists, CutNull, extension removal, renaming without replacing).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vesmer {

// Identity of a file on disk, to tell whether two paths name the same file.
struct FileId {
  dev_t device = 0;
  ino_t inode = 0;
  bool valid = false;
  friend bool operator==(const FileId& a, const FileId& b) {
    return a.valid && b.valid && a.device == b.device && a.inode == b.inode;
  }
};

// Identity of the file at `path`; `valid` is false when it does not exist.
[[nodiscard]] FileId IdOfPath(const std::string& path);

// Reads a file line by line with large reads. A line ends at CR or at CR LF; a lone LF belongs
// to the line; the last line need not have an end; an empty file has no lines. The view that
// Next() hands out stays valid until the next call. A thread of the reader's own reads ahead, a
// few chunks at most, so reading overlaps the caller's work; memory grows only with the longest
// line.
class LineReader {
 public:
  LineReader();
  ~LineReader();
  LineReader(const LineReader&) = delete;
  LineReader& operator=(const LineReader&) = delete;

  [[nodiscard]] Status Open(const std::string& path);
  // Stores the next line in `line` and returns true; returns false at the end of the file or
  // on a read error (then status() is not ok).
  [[nodiscard]] bool Next(std::string_view& line);
  void Close();

  [[nodiscard]] const Status& status() const { return status_; }
  [[nodiscard]] bool is_open() const { return prefetch_ != nullptr; }
  [[nodiscard]] FileId id() const { return id_; }
  [[nodiscard]] std::uint64_t size() const { return size_; }
  // Bytes of the file consumed by the lines handed out so far.
  [[nodiscard]] std::uint64_t consumed() const { return consumed_; }

 private:
  struct Prefetch;
  // Moves on to the next chunk; false at the end of the file or on an error.
  bool Refill();
  // Hands out `line`, which ended with the CR at `chunk_[cr]`, and moves past its line end.
  void EndLine(std::size_t cr);

  std::unique_ptr<Prefetch> prefetch_;
  FileId id_;
  std::uint64_t size_ = 0;
  std::uint64_t consumed_ = 0;
  std::string_view chunk_;  // the unread part of the chunk at hand
  std::string carry_;       // a line that runs on into the next chunk
  bool skip_lf_ = false;    // the last line ended with a CR at the end of a chunk
  Status status_;
};

// Creates or truncates a file and appends to it through a large buffer. Every failure is kept:
// once a write fails, status() reports it and Close() returns it.
class OutputFile {
 public:
  OutputFile();
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  [[nodiscard]] Status Create(const std::string& path);
  void Append(std::string_view bytes);
  // Appends the bytes and CR LF.
  void AppendLine(std::string_view bytes) {
    Append(bytes);
    Append("\r\n");
  }
  [[nodiscard]] Status Flush();
  // Flushes and closes; returns the first failure met since Create.
  [[nodiscard]] Status Close();
  [[nodiscard]] bool is_open() const { return fd_ >= 0; }
  [[nodiscard]] const Status& status() const { return status_; }

 private:
  void WriteOut(const char* data, std::size_t n);

  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  std::size_t used_ = 0;
  Status status_;
};

// True when `path` names a file that can be opened for reading: false for an empty path, a
// folder, a missing or unreadable file. One trailing "/" is dropped before the test.
[[nodiscard]] bool FileExists(std::string path);

[[nodiscard]] bool IsDirectory(const std::string& path);

// The text up to, not including, its first NUL; the whole text when it holds none.
[[nodiscard]] std::string CutNull(std::string_view text);

// The path without the extension of its final component: the last dot of the part after the
// last "/" and everything after it. A dot in a folder name is no extension.
[[nodiscard]] std::string RemoveExtension(std::string_view path);

// Renames `from` to `to`, refusing (EEXIST) when `to` exists, even on file systems where a
// plain rename would replace it.
[[nodiscard]] Status RenameNoReplace(const std::string& from, const std::string& to);

}  // namespace vesmer
