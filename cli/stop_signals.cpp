#include "cli/stop_signals.h"

#include <csignal>

namespace vesmer {
namespace {

std::atomic<int> g_signal{0};
std::atomic<bool> g_stop{false};

extern "C" void OnStopSignal(int signal_number) {
  int none = 0;
  if (!g_signal.compare_exchange_strong(none, signal_number)) {
    // Asked twice: the user does not want to wait for an orderly stop.
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  g_stop.store(true);
}

}  // namespace

void InstallStopSignals() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  // No SA_RESTART: a blocking read returns early, and the reader retries on EINTR.
  action.sa_flags = 0;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

int StopSignal() { return g_signal.load(); }

const std::atomic<bool>& StopFlag() { return g_stop; }

}  // namespace vesmer
