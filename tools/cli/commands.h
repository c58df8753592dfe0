// The zm commands, each run with its parsed arguments; each returns the
// process's exit code and throws for a failure that ends it with 1.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/audio/auralise.h"

namespace zm::cli {

struct RenderOptions {
  std::string design;  // design file or JSON design
  std::string output;
  int group = 0;
  std::string format;   // empty: the engine's own WAV, unchanged
  bool quiet = false;   // no progress display
  bool report = false;  // the acoustic report of the result too
  bool strict = false;  // warnings and a silent result end the render
  bool physicalDirect = false;
  bool fast = false;                  // fast mode (zmtool_process_fast) rather than ZM_process
  std::optional<int64_t> ditherSeed;  // --format's dither; default the design's random seed
};

int Render(const RenderOptions& options);

// Designs: convert, info, check.
int Convert(const std::string& input, const std::string& output, const std::string& formatName);
int Info(const std::string& path, bool strict);
int Check(const std::string& path, bool strict);

// Impulse responses: analyze, plot, auralise.
int Analyze(const std::string& path, bool json);
int PlotPlan(const std::string& designPath, const std::string& output);
int PlotIr(const std::string& path, const std::string& output, const std::vector<int>& channels,
           const std::string& band);
int AuraliseCommand(const std::string& dryPath, const std::string& irPath,
                    const std::string& output, const std::string& formatName,
                    const AuraliseOptions& options);

int Materials(const std::vector<std::string>& words);

// Serves the workbench page on 127.0.0.1:`port` (0: any free port) until
// the process is ended; `design` (may be empty) is the page's first design.
int Workbench(const std::string& design, const std::string& pageFolder, int port);

}  // namespace zm::cli
