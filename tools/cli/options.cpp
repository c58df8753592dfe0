#include "cli/options.h"

#include <string>

#include "lib/audio/audio_export.h"
#include "zm/zm.h"

namespace zm::cli {

namespace {

// render: a design into a WAV file.
void DefineRender(CLI::App& app, Arguments& a, Commands& c) {
  c.render = app.add_subcommand("render", "Render a design into an impulse response");
  c.render->add_option("DESIGN", a.design, "design file or JSON design")->required();
  c.render->add_option("OUTPUT", a.output, "sound file to write")->required();
  c.render->add_option("--group", a.group,
                       "emitter group to render (0 to " + std::to_string(ZM_GROUP_SLOTS - 1) + ")");
  c.render->add_flag("--quiet", a.quiet, "no progress display");
  c.render->add_flag("--physical-direct", a.physicalDirect,
                     "direct sound at the level that makes its ratio to the reflections "
                     "physical (see zm info)");
  c.render->add_flag("--fast", a.fast,
                     "fast mode: rays traced independently on every core; the same room "
                     "statistically, not the same bytes (see docs/fast-mode.md)");
  c.render->add_flag("--report", a.report, "print the acoustic report of the result");
  c.render->add_flag(
      "--strict", a.strict,
      "treat warnings (a silent result, rays lost through gaps ...) as errors: exit 3");
  c.render->add_option("--format", a.format,
                       "write through libsndfile as " + ExportFormatChoices() +
                           "; without it the format the extension names (for .wav the "
                           "engine's own WAV, unchanged)");
  c.render->add_option("--dither-seed", a.ditherSeed,
                       "seed of the dither of --format's integer output, so that the same "
                       "command gives the same bytes (default: the design's randomSeed)");
}

// convert, info and check.
void DefineDesignCommands(CLI::App& app, Arguments& a, Commands& c) {
  c.convert = app.add_subcommand(
      "convert", "Convert between design/material files and JSON (OUT ending in .json gives JSON)");
  c.convert->add_option("IN", a.input, "design file, material file or JSON")->required();
  c.convert->add_option("OUT", a.output, "file to write")->required();
  c.convert->add_option(
      "--format", a.format,
      "for sound files: " + ExportFormatChoices() + " (default: from OUT's extension)");

  c.info = app.add_subcommand(
      "info", "Summarise a design, estimate its reverberation and check it (exit codes as check)");
  c.info->add_option("DESIGN", a.design, "design file or JSON design")->required();
  c.info->add_flag("--strict", a.strict, "exit 3 on warnings");

  c.check = app.add_subcommand(
      "check", "Check a design: exit 0 clean, 1 refused by the engine, 3 warnings with --strict");
  c.check->add_option("DESIGN", a.design, "design file or JSON design")->required();
  c.check->add_flag("--strict", a.strict, "exit 3 on warnings");
}

// analyze, plot, auralise and materials.
void DefineSoundCommands(CLI::App& app, Arguments& a, Commands& c) {
  c.analyze = app.add_subcommand("analyze", "Room parameters of an impulse response");
  c.analyze->add_option("IR", a.input, "impulse response (WAV or any format libsndfile reads)")
      ->required();
  c.analyze->add_flag("--json", a.json, "print JSON");

  CLI::App* plot = app.add_subcommand("plot", "Draw SVG pictures");
  plot->require_subcommand(1);
  c.plan = plot->add_subcommand("plan", "The plan of a design");
  c.plan->add_option("DESIGN", a.design, "design file or JSON design")->required();
  c.plan->add_option("SVG", a.output, "SVG file to write")->required();
  c.ir = plot->add_subcommand(
      "ir", "An impulse response: waveform, echogram, decay curve with T20 and T30 fits");
  c.ir->add_option("IR", a.input, "impulse response")->required();
  c.ir->add_option("SVG", a.output, "SVG file to write")->required();
  c.ir->add_option("--channel", a.channels,
                   "channels to draw, overlaid: --channel 0,2 (default: all that hold sound)")
      ->delimiter(',');
  c.ir->add_option("--band", a.band, "draw one octave band: 125, 250, 500, 1k, 2k, 4k or 8k");

  c.auralise = app.add_subcommand(
      "auralise", "Convolve a dry recording with an impulse response, to listen to the room");
  c.auralise->add_option("DRY", a.dry, "mono or stereo recording")->required();
  c.auralise->add_option("IR", a.input, "impulse response (any number of channels)")->required();
  c.auralise->add_option("OUT", a.output, "sound file to write")->required();
  c.auralise->add_option("--format", a.format,
                         ExportFormatChoices() + " (default: from OUT's extension, float)");
  c.auralise->add_option("--peak", a.auralise.peakDb,
                         "normalise the output's peak to this many dBFS (default -1)");
  c.auralise->add_option("--gain", a.auralise.gainDb,
                         "apply this gain in dB instead of normalising; refused if it would clip");

  c.materials = app.add_subcommand(
      "materials", "List the material catalogue, or the entries matching every WORD");
  c.materials->add_option("WORD", a.words, "words to look for in ids, names and categories");

  c.workbench = app.add_subcommand(
      "workbench", "Serve the workbench page (draw, render and hear a room) on 127.0.0.1");
  c.workbench->add_option("DESIGN", a.design, "design to open in it (any form zm reads)");
  c.workbench->add_option("--port", a.port, "port to listen on (default: any free one)");
  c.workbench->add_option("--page", a.page,
                          "folder of the built page (default: build/wasm/web beside this build)");
}

}  // namespace

Commands DefineCommands(CLI::App& app, Arguments& a) {
  Commands c{};
  DefineRender(app, a, c);
  DefineDesignCommands(app, a, c);
  DefineSoundCommands(app, a, c);
  return c;
}

}  // namespace zm::cli
