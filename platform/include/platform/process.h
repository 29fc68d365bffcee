// Starting other programs and finding the running executable.
#pragma once

#include <string>
#include <vector>

#include "platform/status.h"

namespace vesmer {

// Starts `argv[0]` (looked up on PATH when it has no "/") with the other elements as its
// arguments, no shell involved, and returns without waiting for it. The child is reaped so no
// zombie is left. Fails when the program cannot be started.
[[nodiscard]] Status StartDetached(const std::vector<std::string>& argv);

// The full path of the first executable file called `name` in the folders of PATH, or "".
[[nodiscard]] std::string FindOnPath(const std::string& name);

// The full path of the running executable (from /proc/self/exe), or "" when unknown.
[[nodiscard]] std::string ExecutablePath();

}  // namespace vesmer
