// The progress display of a render, on stderr: a bar redrawn in place on a
// terminal, else a line at the start, every few seconds and at the end (a
// log or a pipe would otherwise see nothing for minutes).
#pragma once

#include <chrono>
#include <cstdint>

#include "zm/zm.h"

namespace zm::cli {

inline constexpr std::chrono::seconds kProgressLineInterval{5};

struct Progress {
  uint8_t* abortFlag = nullptr;
  bool quiet = false;
  bool terminal = false;
  bool abortSet = false;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point lastDraw{};
  int32_t total = 0;
  bool drawn = false;

  void Show(int32_t done);
  void Finish(bool completed);
};

// The engine's progress callback; `userData` is the Progress. Once a stop
// signal came, it sets the abort flag instead of drawing.
extern "C" void ZM_CALLBACK OnProgress(int32_t done, int32_t total, void* userData);

}  // namespace zm::cli
