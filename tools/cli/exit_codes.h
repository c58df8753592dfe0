// The command's exit codes besides the checks' own (kExitRefused,
// kExitWarnings in lib/checks/check_report.h).
#pragma once

namespace zm::cli {

inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// A stopped render exits as a shell reports a process the signal ended:
// 128 + the signal's number (130 for Ctrl-C, 143 for SIGTERM).
inline constexpr int kExitSignalBase = 128;

}  // namespace zm::cli
