#include "platform/whole_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>

#include "platform/nameless_file.h"
#include "platform/sys.h"
#include "platform/unique_fd.h"

namespace vesmer {
namespace {

// As many links as the kernel follows in one path before it gives up with ELOOP.
constexpr int kMaxLinks = 40;

// Names tried for a finished file before giving up: only a folder crowded with hidden files of
// that pattern ever needs a second one.
constexpr int kNameTries = 100;

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// "/dir/.name.XXXXXX" for "/dir/name": hidden, so a file left by a killed process does not sit
// among the user's files under a name that looks like theirs.
std::string TemporaryPattern(const std::string& target) {
  const std::size_t slash = target.rfind('/');
  const std::size_t name = slash == std::string::npos ? 0 : slash + 1;
  return target.substr(0, name) + "." + target.substr(name) + ".XXXXXX";
}

// Replaces the "XXXXXX" at the end of `name` by letters and digits no other process can guess.
void FillRandomSuffix(std::string& name) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  unsigned char random[6] = {};
  if (::getrandom(random, sizeof random, GRND_NONBLOCK) != static_cast<ssize_t>(sizeof random)) {
    // No entropy yet (early boot): any name that differs from the last will do, since a name
    // taken is only tried again.
    static std::atomic<unsigned> counter{0};
    const unsigned seed = static_cast<unsigned>(::getpid()) * 2654435761u + counter++;
    for (std::size_t i = 0; i < sizeof random; ++i)
      random[i] = static_cast<unsigned char>(seed >> (i * 5));
  }
  for (std::size_t i = 0; i < sizeof random; ++i) {
    name[name.size() - sizeof random + i] = kLetters[random[i] % (sizeof kLetters - 1)];
  }
}

// Writes all of `data`, a step at a time so that a stop request is heard within one step; false
// with errno set on a failure, or EINTR when `stop` was set.
bool WriteAll(int fd, std::string_view data, const std::atomic<bool>* stop) {
  constexpr std::size_t kStep = std::size_t{8} << 20;
  while (!data.empty()) {
    if (stop != nullptr && stop->load()) {
      errno = EINTR;
      return false;
    }
    const ssize_t put = sys::Calls().write(fd, data.data(), std::min(data.size(), kStep));
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data.remove_prefix(static_cast<std::size_t>(put));
  }
  return true;
}

// Makes a finished rename in `folder` survive a power cut.
Status SyncFolder(const std::string& folder) {
  const int fd = sys::Calls().open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC, 0);
  if (fd < 0) return Status::Error(errno, "fsync", folder);
  // Some file systems cannot sync a folder and say so with EINVAL; there is nothing to do then.
  if (sys::Calls().fsync(fd) != 0 && errno != EINVAL) {
    const int error = errno;
    sys::Calls().close(fd);
    return Status::Error(error, "fsync", folder);
  }
  if (sys::Calls().close(fd) != 0) return Status::Error(errno, "close", folder);
  return {};
}

}  // namespace

Status ReadWholeFile(const std::string& path, std::size_t max_bytes, std::string& content) {
  content.clear();
  const int fd = sys::Calls().open(path.c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return Status::Error(errno, "open", path);
  const auto fail = [&](int error, const char* operation) {
    sys::Calls().close(fd);
    content.clear();
    return Status::Error(error, operation, path);
  };
  struct stat st;
  if (sys::Calls().fstat(fd, &st) != 0) return fail(errno, "stat");
  if (S_ISREG(st.st_mode)) {
    if (static_cast<std::uint64_t>(st.st_size) > max_bytes) return fail(EFBIG, "read");
    content.reserve(static_cast<std::size_t>(st.st_size));
  }
  char buffer[65536];
  for (;;) {
    const ssize_t got = sys::Calls().read(fd, buffer, sizeof buffer);
    if (got < 0) {
      if (errno == EINTR) continue;
      return fail(errno, "read");
    }
    if (got == 0) break;
    // The file may grow while we read, or not be a regular file at all.
    if (static_cast<std::size_t>(got) > max_bytes - content.size()) return fail(EFBIG, "read");
    content.append(buffer, static_cast<std::size_t>(got));
  }
  if (sys::Calls().close(fd) != 0) {
    content.clear();
    return Status::Error(errno, "close", path);
  }
  return {};
}

Status ResolveLinks(const std::string& path, std::string& target) {
  target = path;
  for (int links = 0;; ++links) {
    struct stat st;
    if (sys::Calls().lstat(target.c_str(), &st) != 0) {
      if (errno == ENOENT) return {};  // a file yet to be made
      return Status::Error(errno, "lstat", target);
    }
    if (!S_ISLNK(st.st_mode)) return {};
    if (links == kMaxLinks) return Status::Error(ELOOP, "readlink", path);
    std::string link(256, '\0');
    for (;;) {
      const ssize_t got = sys::Calls().readlink(target.c_str(), link.data(), link.size());
      if (got < 0) return Status::Error(errno, "readlink", target);
      if (static_cast<std::size_t>(got) < link.size()) {
        link.resize(static_cast<std::size_t>(got));
        break;
      }
      link.resize(link.size() * 2);  // the text may have been cut: read again with more room
    }
    if (link.empty()) return Status::Error(ENOENT, "readlink", target);
    if (link.front() == '/' || target.find('/') == std::string::npos) {
      target = link;
    } else {
      target = target.substr(0, target.rfind('/') + 1) + link;
    }
  }
}

Status ReplaceWholeFile(const std::string& path, std::string_view content, Durability durability,
                        const std::atomic<bool>* stop) {
  std::string target;
  if (Status resolved = ResolveLinks(path, target); !resolved.ok()) return resolved;
  struct stat old;
  const bool exists = sys::Calls().stat(target.c_str(), &old) == 0;
  if (!exists && errno != ENOENT) return Status::Error(errno, "stat", target);
  if (exists && !S_ISREG(old.st_mode)) {
    return Status::Error(S_ISDIR(old.st_mode) ? EISDIR : EINVAL, "replace", target);
  }

  // The bytes go to a file without a name, so a process killed while it writes leaves nothing
  // behind; the file gets a (temporary) name only once it is complete.
  const std::string folder = FolderOf(target);
  UniqueFd fd(OpenNamelessFile(folder, O_WRONLY, 0600));
  std::string temp;  // the temporary name, once the file has one
  if (!fd.valid()) {
    if (!NamelessFileUnsupported(errno)) return Status::Error(errno, "create", target);
    temp = TemporaryPattern(target);
    // mkostemp creates the file with O_EXCL: a file of that name that exists is never reused.
    fd.Reset(sys::Calls().mkostemp(temp.data(), O_CLOEXEC));
    if (!fd.valid()) return Status::Error(errno, "create", target);
  }
  const auto fail = [&](int error, const char* operation) {
    fd.Reset();
    if (!temp.empty()) sys::Calls().unlink(temp.c_str());
    return Status::Error(error, operation, target);
  };
  if (exists) {
    // Only root may give a file away; anyone else ends up owning the new file, as with any
    // editor that saves through a new file.
    if ((old.st_uid != ::geteuid() || old.st_gid != ::getegid()) &&
        sys::Calls().fchown(fd.get(), old.st_uid, old.st_gid) != 0 && errno != EPERM) {
      return fail(errno, "chown");
    }
  }
  if (sys::Calls().fchmod(fd.get(), exists ? (old.st_mode & 07777) : 0644) != 0)
    return fail(errno, "chmod");
  if (!WriteAll(fd.get(), content, stop)) return fail(errno, "write");
  const bool sync = durability == Durability::kSynced;
  if (sync && sys::Calls().fsync(fd.get()) != 0) return fail(errno, "fsync");
  if (temp.empty()) {
    for (int tries = 0;; ++tries) {
      temp = TemporaryPattern(target);
      FillRandomSuffix(temp);
      const int error = LinkNamelessFile(fd.get(), temp);
      if (error == 0) break;
      temp.clear();  // not ours to remove
      if (error != EEXIST || tries == kNameTries) return fail(error, "link");
    }
  }
  if (const int error = fd.Close(); error != 0) return fail(error, "close");
  // The last moment a stop can still leave the old file as it was.
  if (stop != nullptr && stop->load()) return fail(EINTR, "write");
  if (sys::Calls().rename(temp.c_str(), target.c_str()) != 0) return fail(errno, "rename");
  return sync ? SyncFolder(folder) : Status{};
}

Status MakeFolders(const std::string& folder, mode_t mode) {
  std::size_t end = 0;
  while (end != std::string::npos) {
    end = folder.find('/', end + 1);
    const std::string part = folder.substr(0, end);
    if (part.empty() || part.back() == '/') continue;  // the root, or a doubled "/"
    if (sys::Calls().mkdir(part.c_str(), mode) == 0) continue;
    const int error = errno;
    // An existing folder answers EEXIST, or EACCES/EROFS where we could not create it anyway.
    struct stat st;
    if (sys::Calls().stat(part.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) continue;
      return Status::Error(ENOTDIR, "mkdir", part);
    }
    return Status::Error(error, "mkdir", part);
  }
  return {};
}

bool MayWrite(const std::string& path) {
  struct stat st;
  if (path.empty() || sys::Calls().stat(path.c_str(), &st) != 0) return false;
  const int wanted = S_ISDIR(st.st_mode) ? (W_OK | X_OK) : W_OK;
  // The effective ids decide what the process may do, as they do for open().
  return sys::Calls().faccessat(AT_FDCWD, path.c_str(), wanted, AT_EACCESS) == 0;
}

}  // namespace vesmer
