// A small result type: success, or a failure with the OS error number behind it.
#pragma once

#include <string>

namespace vesmer {

class [[nodiscard]] Status {
 public:
  Status() = default;
  static Status Error(int error_number, std::string what) {
    Status s;
    s.ok_ = false;
    s.errno_ = error_number;
    s.what_ = std::move(what);
    return s;
  }

  [[nodiscard]] bool ok() const { return ok_; }
  [[nodiscard]] int error_number() const { return errno_; }
  // What failed, for diagnostics; not a user-facing message.
  [[nodiscard]] const std::string& what() const { return what_; }

 private:
  bool ok_ = true;
  int errno_ = 0;
  std::string what_;
};

}  // namespace vesmer
