// speed_workloads: times the reference workloads end to end through the
// public interface of any build of the engine.
//
//   speed_workloads LIBRARY [--rounds R] [--only LETTERS] [--out DIR]
//
// LIBRARY is the shared library to load (dlopen), so that the same driver
// times an old and a new build. Each round runs every selected workload once
// through ZM_process and prints one line "<letter> <seconds>"; with --out the
// outputs are kept as DIR/<letter>.wav (32-bit float, so two builds can be
// compared byte for byte), else they go to a memory resource. The engine's
// own ZM_THREADS setting passes through the environment.
//
// The workloads:
//   A  a 20 x 15 m room, four walls of amplitude reflection sqrt(0.8) and
//      Scatter 0.1, a 1 m pass-through receiver at (14, 8.5)-(14, 9.5), one
//      emitter at (5, 7) sending 100 000 random rays over 2 pi; 2 s at
//      44 100 Hz, SubArrivals 8, FilterLength 32, MinAmplitude 1e-4
//   B  A with Scatter 0
//   C  a star-shaped room of 140 walls around a radius of 9 m, 20 000 rays, 1 s
//   D  A with FilterLength 256 (a 34 MB filter table: memory-bound)
#include <dlfcn.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "workloads.h"
#include "zm/zm.h"

namespace {

using workloads::Design;
using workloads::Workload;

struct Engine {
  decltype(&ZM_process) process = nullptr;

  bool Open(const char* path) {
    void* handle = dlopen(path, RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) {
      std::fprintf(stderr, "speed_workloads: cannot load %s: %s\n", path, dlerror());
      return false;
    }
    process = reinterpret_cast<decltype(process)>(dlsym(handle, "ZM_process"));
    if (process == nullptr) std::fprintf(stderr, "speed_workloads: %s has no ZM_process\n", path);
    return process != nullptr;
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: speed_workloads LIBRARY [--rounds R] [--only ABCD] [--out DIR]\n");
    return 2;
  }
  int rounds = 1;
  std::string only = "ABCD";
  std::string out;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--rounds") {
      rounds = std::atoi(argv[i + 1]);
    } else if (option == "--only") {
      only = argv[i + 1];
    } else if (option == "--out") {
      out = argv[i + 1];
    } else {
      std::fprintf(stderr, "speed_workloads: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  Engine engine;
  if (!engine.Open(argv[1])) return 1;

  for (int round = 0; round < rounds; ++round) {
    for (char letter : only) {
      Design design = Workload(letter);
      const std::string file = out.empty() ? "mem:" : out + "/" + letter + ".wav";
      TErrorRecord error{};
      uint8_t abortFlag = 0;
      const auto start = std::chrono::steady_clock::now();
      engine.process(&*design, file.c_str(), &error, &abortFlag, nullptr, nullptr, 0);
      const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
      if (error.Failed) {
        std::fprintf(stderr, "speed_workloads: %c failed: %.128s\n", letter, error.Message);
        return 1;
      }
      std::printf("%c %.4f\n", letter, took.count());
      std::fflush(stdout);
    }
  }
  return 0;
}
