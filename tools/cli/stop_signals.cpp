#include "cli/stop_signals.h"

#include <csignal>

namespace zm::cli {

namespace {

volatile std::sig_atomic_t gStopRequested = 0;

extern "C" void OnStopSignal(int signal) {
  gStopRequested = signal;
}

}  // namespace

// The handler is reset by its first call, so that a second Ctrl-C ends the
// process.
void InstallStopHandlers() {
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

void RemoveStopHandlers() {
  std::signal(SIGINT, SIG_DFL);
  std::signal(SIGTERM, SIG_DFL);
}

int StopSignal() {
  return gStopRequested;
}

}  // namespace zm::cli
