// The time of the engine's render call for one JSON design: the median of
// five renders of group 0 to memory, on the SIMD path named ("portable", or
// the best the machine has). The native side of the workbench's speed
// figure (bench/web-render-times.js times the same call in the browser).
//   design_render_time DESIGN.json [portable]     (ZM_THREADS=1 for one thread)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "lib/base/json_text.h"
#include "lib/design/design_json.h"
#include "support/simd_path.h"
#include "zm/zm.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: design_render_time DESIGN.json [portable]\n");
    return 2;
  }
  std::ifstream in(argv[1]);
  std::stringstream text;
  text << in.rdbuf();
  auto design = std::make_unique<TDesignRecord>();
  zm::cli::DesignFromJson(zm::cli::ParseJsonText(text.str(), argv[1]), *design);
  const bool portable = argc > 2 && std::string(argv[2]) == "portable";
  if (portable) zm::ForceSimdPath(zm::TSimdPath::Portable);
  std::vector<double> times;
  for (int i = 0; i < 5; ++i) {
    TErrorRecord error{};
    uint8_t abortFlag = 0;
    auto t0 = std::chrono::steady_clock::now();
    ZM_process(design.get(), "mem:out", &error, &abortFlag, nullptr, nullptr, 0);
    times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
    if (error.Failed) {
      std::printf("failed: %s\n", error.Message);
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  std::printf("%s %s %.3f\n", argv[1], zm::SimdPathName(zm::ActiveSimdPath()), times[2]);
}
