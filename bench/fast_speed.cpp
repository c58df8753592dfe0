// fast_speed: the reference workloads A-D traced by the exact path
// (ZM_process) and by fast mode (ProcessFast) side by side in one run, linked
// statically, as fast mode is not an export of the shared library.
//
//   fast_speed [--rounds R] [--only LETTERS] [--out DIR] [--fast-only 1]
//
// Each round runs every selected workload once in each mode and prints
// "<letter> exact <s> fast <s> ratio <x>", then the processor time each
// took (all threads) the same way; the best of the rounds closes the run.
// With --out the files are kept as DIR/<letter>-exact.wav and
// DIR/<letter>-fast.wav. --fast-only 1 skips the exact path, for a
// profiler's view of fast mode alone. ZM_THREADS passes through the
// environment.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <string>

#include "interface/fast_process.h"
#include "workloads.h"
#include "zm/zm.h"

namespace {

struct TTimes {
  double Wall, Cpu;
};

TTimes Time(char letter, bool fast, const std::string& file) {
  workloads::Design design = workloads::Workload(letter);
  TErrorRecord error{};
  uint8_t abortFlag = 0;
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  if (fast) {
    zm::ProcessFast(&*design, nullptr, file.c_str(), &error, &abortFlag, nullptr, nullptr, 0);
  } else {
    ZM_process(&*design, file.c_str(), &error, &abortFlag, nullptr, nullptr, 0);
  }
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  if (error.Failed) {
    std::fprintf(stderr, "fast_speed: %c failed: %.128s\n", letter, error.Message);
    std::exit(1);
  }
  return {took.count(), cpu};
}

void Print(char letter, TTimes exact, TTimes fast) {
  std::printf("%c exact %.4f fast %.4f ratio %.1f   cpu: exact %.4f fast %.4f ratio %.1f\n", letter,
              exact.Wall, fast.Wall, exact.Wall / fast.Wall, exact.Cpu, fast.Cpu,
              exact.Cpu / fast.Cpu);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 1;
  std::string only = "ABCD";
  std::string out;
  bool fastOnly = false;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--rounds") {
      rounds = std::atoi(argv[i + 1]);
    } else if (option == "--only") {
      only = argv[i + 1];
    } else if (option == "--fast-only") {
      fastOnly = std::atoi(argv[i + 1]) != 0;
    } else if (option == "--out") {
      out = argv[i + 1];
    } else {
      std::fprintf(stderr, "fast_speed: unknown option %s\n", option.c_str());
      return 2;
    }
  }
  std::map<char, std::pair<TTimes, TTimes>> best;
  for (int round = 0; round < rounds; ++round) {
    for (char letter : only) {
      const std::string stem = out.empty() ? "mem:" : out + "/" + letter;
      const TTimes exact =
          fastOnly ? TTimes{} : Time(letter, false, out.empty() ? stem : stem + "-exact.wav");
      const TTimes fast = Time(letter, true, out.empty() ? stem : stem + "-fast.wav");
      Print(letter, exact, fast);
      std::fflush(stdout);
      auto [it, added] = best.try_emplace(letter, exact, fast);
      if (!added) {
        for (auto [kept, now] : {std::pair{&it->second.first, exact}, {&it->second.second, fast}}) {
          kept->Wall = std::min(kept->Wall, now.Wall);
          kept->Cpu = std::min(kept->Cpu, now.Cpu);
        }
      }
    }
  }
  std::printf("best of %d:\n", rounds);
  for (char letter : only) {
    const auto [exact, fast] = best[letter];
    Print(letter, exact, fast);
  }
  return 0;
}
