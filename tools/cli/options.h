// The command line's table: every command with its arguments and options,
// and where their values go.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "lib/audio/auralise.h"

namespace zm::cli {

// The values of every command's arguments and options.
struct Arguments {
  std::string design, output, input, format;
  std::vector<std::string> words;
  std::string dry;
  AuraliseOptions auralise;
  int group = 0;
  std::vector<int> channels;
  std::string band;
  bool quiet = false, report = false, json = false;
  bool strict = false;
  bool physicalDirect = false;
  bool fast = false;
  std::optional<int64_t> ditherSeed;
  std::string page;
  int port = 0;
};

struct Commands {
  CLI::App *render, *convert, *info, *analyze, *plan, *ir, *materials, *auralise;
  CLI::App *check, *workbench;
};

// Adds the commands to `app`, their values going to `a`.
Commands DefineCommands(CLI::App& app, Arguments& a);

}  // namespace zm::cli
