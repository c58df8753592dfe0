#include "cli/progress.h"

#include <cmath>
#include <cstdio>
#include <string>

#include "cli/console_text.h"
#include "cli/stop_signals.h"

namespace zm::cli {

void Progress::Show(int32_t done) {
  if (quiet) return;
  const auto now = std::chrono::steady_clock::now();
  // The rate counts from the first call, after the engine's set-up.
  if (done == 0) start = now;
  const double elapsed = std::chrono::duration<double>(now - start).count();
  const double rate = elapsed > 0 ? done / elapsed : 0;
  const double left = rate > 0 ? (total - done) / rate : NAN;
  const double fraction = total > 0 ? double(done) / total : 1.0;
  if (terminal) {
    if (drawn && now - lastDraw < std::chrono::milliseconds(100) && done < total) return;
    lastDraw = now;
    const int width = 30;
    const int filled = int(fraction * width);
    std::string bar(size_t(filled), '#');
    bar += std::string(size_t(width - filled), '.');
    std::fprintf(stderr, "\r  [%s] %3d%%  %s / %s rays  %s rays/s  %s left   ", bar.c_str(),
                 int(fraction * 100), Thousands(done).c_str(), Thousands(total).c_str(),
                 Thousands(std::llround(rate)).c_str(), Duration(left).c_str());
    drawn = true;
  } else {
    const int decile = int(fraction * 10);
    if (decile == lastDecile) return;
    lastDecile = decile;
    std::fprintf(stderr, "progress: %s / %s rays (%d%%), %s rays/s, %s left\n",
                 Thousands(done).c_str(), Thousands(total).c_str(), int(fraction * 100),
                 Thousands(std::llround(rate)).c_str(), Duration(left).c_str());
  }
  std::fflush(stderr);
}

void Progress::Finish(bool completed) {
  if (quiet) return;
  const double elapsed =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (terminal && drawn) std::fprintf(stderr, "\r%100s\r", "");
  if (completed) {
    std::fprintf(stderr, "traced %s rays in %.1f s\n", Thousands(total).c_str(), elapsed);
  }
}

extern "C" void ZM_CALLBACK OnProgress(int32_t done, int32_t total, void* userData) {
  auto* progress = static_cast<Progress*>(userData);
  progress->total = total;
  if (StopSignal() != 0) {
    *progress->abortFlag = 1;
    progress->abortSet = true;
    return;
  }
  progress->Show(done);
}

}  // namespace zm::cli
