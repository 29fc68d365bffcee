// SIGINT and SIGTERM as a request to stop: the run ends at its next check, flushes and closes
// its files and reports how far it got, instead of dying with half-written buffers.
#pragma once

#include <atomic>

namespace vesmer {

// Installs the handlers (once per process).
void InstallStopSignals();

// The signal that asked to stop, or 0.
[[nodiscard]] int StopSignal();

// The flag the handlers set, for code that polls an atomic (sorting).
[[nodiscard]] const std::atomic<bool>& StopFlag();

}  // namespace vesmer
