// The command's exit codes besides the checks' own (kExitRefused,
// kExitWarnings in lib/checks/check_report.h). README.md's table "Exit
// codes" is the users' account of them, and tests/tools/cli_test.py runs
// its examples.
#pragma once

#include <stdexcept>

namespace zm::cli {

// Bad input: a file that cannot be read or is refused, an output that
// cannot be written, a failed command.
inline constexpr int kExitFailure = 1;
// The command line itself is wrong, whatever the files hold: an unknown
// command or option, a missing argument, a value the option does not take.
inline constexpr int kExitUsage = 2;

// A command line that asks for what no input could satisfy; exits with
// kExitUsage.
class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
// A stopped render exits as a shell reports a process the signal ended:
// 128 + the signal's number (130 for Ctrl-C, 143 for SIGTERM).
inline constexpr int kExitSignalBase = 128;

}  // namespace zm::cli
