// zm: renders room designs into impulse responses, converts designs between
// the engine's files and JSON, summarises them, measures impulse responses
// and draws both. This file reads the command line and runs the command.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/exit_codes.h"
#include "cli/options.h"
#include "lib/base/nearest_name.h"
#include "zm/zm.h"

namespace zm::cli {
namespace {

int RunCommand(const Commands& c, const Arguments& a) {
  if (c.render->parsed()) {
    return Render({.design = a.design,
                   .output = a.output,
                   .group = a.group,
                   .format = a.format,
                   .quiet = a.quiet,
                   .report = a.report,
                   .strict = a.strict,
                   .physicalDirect = a.physicalDirect,
                   .fast = a.fast,
                   .ditherSeed = a.ditherSeed});
  }
  if (c.convert->parsed()) return Convert(a.input, a.output, a.format);
  if (c.info->parsed()) return Info(a.design, a.strict);
  if (c.check->parsed()) return Check(a.design, a.strict);
  if (c.analyze->parsed()) return Analyze(a.input, a.json);
  if (c.plan->parsed()) return PlotPlan(a.design, a.output);
  if (c.ir->parsed()) return PlotIr(a.input, a.output, a.channels, a.band);
  if (c.materials->parsed()) return Materials(a.words);
  if (c.workbench->parsed()) return Workbench(a.design, a.page, a.port);
  if (c.auralise->parsed()) {
    return AuraliseCommand(a.dry, a.input, a.output, a.format, a.auralise);
  }
  return kExitUsage;
}

// The first word that names no command of `app` (or of the command it
// names, for commands with commands of their own), with the nearest
// command's name: CLI11 alone would only say that an argument was not
// expected. Empty when every command word is known.
std::string UnknownCommand(CLI::App& app, int argc, char** argv) {
  CLI::App* level = &app;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.empty() || word[0] == '-') continue;
    const std::vector<CLI::App*> commands = level->get_subcommands([](CLI::App*) { return true; });
    if (commands.empty()) return "";
    std::vector<std::string> names;
    CLI::App* named = nullptr;
    for (CLI::App* command : commands) {
      names.push_back(command->get_name());
      if (command->get_name() == word) named = command;
    }
    if (named == nullptr) {
      const std::string where = level == &app ? "" : " " + level->get_name();
      return "unknown command \"" + word + "\"" + DidYouMean(word, names) + "; \"zm" + where +
             " --help\" lists them";
    }
    level = named;
  }
  return "";
}

int Main(int argc, char** argv) {
  CLI::App app{"zm: room-acoustics impulse responses from plan designs"};
  app.require_subcommand(1);
  app.set_version_flag("--version", "zm tool, engine version " + std::to_string(ZM_getVersion()));
  Arguments arguments;
  const Commands commands = DefineCommands(app, arguments);
  if (const std::string unknown = UnknownCommand(app, argc, argv); !unknown.empty()) {
    std::fprintf(stderr, "zm: %s\n", unknown.c_str());
    return kExitUsage;
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    const int code = app.exit(e);
    return code == 0 ? 0 : kExitUsage;
  }
  try {
    return RunCommand(commands, arguments);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "zm: %s\n", e.what());
    return kExitUsage;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zm: %s\n", e.what());
    return kExitFailure;
  }
}

}  // namespace
}  // namespace zm::cli

int main(int argc, char** argv) {
  return zm::cli::Main(argc, argv);
}
