// Files without a name (O_TMPFILE): whatever a process writes into one vanishes with the
// process, however it ends, unless it gives the file a name first.
#pragma once

#include <sys/types.h>

#include <string>

namespace vesmer {

// Opens a new file without a name in `folder`: open(2) with O_TMPFILE | O_CLOEXEC | `flags`
// (O_WRONLY or O_RDWR, with O_EXCL for a file that must never get a name) and `mode`. Returns
// the descriptor, or -1 with errno set.
[[nodiscard]] int OpenNamelessFile(const std::string& folder, int flags, mode_t mode);

// True for the errors of OpenNamelessFile that mean the kernel or the file system cannot make
// such files, rather than that the folder is unusable: a caller then takes a named file.
[[nodiscard]] bool NamelessFileUnsupported(int error);

// Gives the nameless file open as `fd` the name `path` (which must not exist, and must be in the
// folder the file was opened in). Returns 0, or the errno of the failure (EEXIST when the name
// is taken).
[[nodiscard]] int LinkNamelessFile(int fd, const std::string& path);

// Seam for tests: while on, OpenNamelessFile fails with EOPNOTSUPP, as on a file system that
// has no O_TMPFILE, so the named way is taken.
void ForceNamedFilesForTesting(bool on);

}  // namespace vesmer
