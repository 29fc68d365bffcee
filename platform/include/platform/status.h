// A small result type: success, or a failure with the operation, the file it concerned and the
// OS error number behind it.
#pragma once

#include <string>

namespace vesmer {

class [[nodiscard]] Status {
 public:
  Status() = default;
  // `operation` names what failed ("open", "write", "rename", ...) for diagnostics; `path` is
  // the file it concerned, "" when none.
  static Status Error(int error_number, std::string operation, std::string path = {}) {
    Status s;
    s.ok_ = false;
    s.errno_ = error_number;
    s.operation_ = std::move(operation);
    s.path_ = std::move(path);
    return s;
  }

  // The same failure told in the user's words where no error number says it ("the layout file
  // this run reads").
  [[nodiscard]] Status WithReason(std::string reason) && {
    reason_ = std::move(reason);
    return std::move(*this);
  }

  [[nodiscard]] bool ok() const { return ok_; }
  [[nodiscard]] int error_number() const { return errno_; }
  [[nodiscard]] const std::string& operation() const { return operation_; }
  [[nodiscard]] const std::string& path() const { return path_; }
  // The system's reason in the user's words (Japanese), from the error number.
  [[nodiscard]] std::string reason() const;
  // Operation and path, for diagnostics; not a user-facing message.
  [[nodiscard]] std::string what() const {
    return path_.empty() ? operation_ : operation_ + " " + path_;
  }

 private:
  bool ok_ = true;
  int errno_ = 0;
  std::string operation_;
  std::string path_;
  std::string reason_;
};

// The reason an OS error number stands for, in Japanese for the errors a user meets with files
// (a full disk, a missing file, no permission, a file in use, ...), else the system's own text.
[[nodiscard]] std::string ReasonText(int error_number);

// `status`, naming `path` when it names no file yet: a failure keeps the file it concerned.
[[nodiscard]] inline Status WithPath(Status status, const std::string& path) {
  if (status.ok() || !status.path().empty()) return status;
  return Status::Error(status.error_number(), status.operation(), path);
}

}  // namespace vesmer
