// Whether an output file can be written, asked before hours of work rather
// than after.
#pragma once

#include <string>

namespace zm::cli {

// Why `path` cannot be written, in words ("the folder /x does not exist",
// "Permission denied", the system's own reason), or "" when it can. The
// answer comes from opening the file for writing; a file that did not
// exist before is removed again, one that did is left unchanged.
std::string WhyNotWritable(const std::string& path);

}  // namespace zm::cli
