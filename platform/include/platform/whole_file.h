// Files read and replaced as a whole (the settings file, reports): a replacement goes through a
// new file and one rename, so a reader or a crash never meets a half-written file.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/status.h"

namespace vesmer {

// Reads the whole file at `path` into `content`. Fails with the system's error number (ENOENT
// for a missing file, EISDIR for a folder, EACCES, ...), or with EFBIG when the file holds more
// than `max_bytes` (a record file named by mistake is not pulled into memory); `content` is then
// empty.
[[nodiscard]] Status ReadWholeFile(const std::string& path, std::size_t max_bytes,
                                   std::string& content);

// The file a write to `path` lands on: symbolic links are followed to their final target, which
// need not exist (a dangling link names the file to create). A relative link target counts from
// the folder of the link. Fails with ELOOP after 40 links, or with the error of reading a link.
[[nodiscard]] Status ResolveLinks(const std::string& path, std::string& target);

// How a replaced file meets a power cut. kSynced: the new bytes are synced before the rename and
// the folder after it, so the old file or the new one is found, whole (settings). kWriteBack: the
// system writes them back in its own time, like the result files beside them (reports); a sync
// there waits for every result file still being written back.
enum class Durability { kSynced, kWriteBack };

// Replaces the file at `path` by `content` in one step: the bytes go to a new file in the folder
// of the final target (links are written through, see ResolveLinks), with the mode of the old
// file (0644 for a new one) and its owner where the system lets us give it away, are synced as
// `durability` says, and the new file is renamed over the target, so no reader ever sees half
// of the new content. A link stays a link. The new file has no name while it is written
// (O_TMPFILE), so a process killed then leaves nothing behind; it gets a hidden temporary name
// (".NAME.XXXXXX") just before the rename. Where the file system cannot make nameless files it
// is created under that name at the start. On a failure before the rename the temporary file
// is removed and the old file is left exactly as it was; the Status names the target file and
// the system's error. A failure to sync
// the folder after the rename is reported too, though the new content is then in place. A target
// that is a folder fails with EISDIR, any other kind of non-regular file with EINVAL.
// When `stop` is set while the bytes are written, the replacement is given up as after a failure
// (EINTR): the old file stays as it was.
[[nodiscard]] Status ReplaceWholeFile(const std::string& path, std::string_view content,
                                      Durability durability = Durability::kSynced,
                                      const std::atomic<bool>* stop = nullptr);

// Creates `folder` and every missing folder above it with `mode` (subject to the umask); folders
// that exist are fine. Fails with the error of the first folder that could not be made, ENOTDIR
// when a part of the path is a file.
[[nodiscard]] Status MakeFolders(const std::string& folder, mode_t mode);

// True when `path` exists and the process may write it by its effective ids: for a folder,
// create files in it (write and search permission); false on a read-only file system too.
[[nodiscard]] bool MayWrite(const std::string& path);

}  // namespace vesmer
