// Ctrl-C and SIGTERM during a render: the first asks the engine to stop at
// its next progress call; a second one ends the process at once.
#pragma once

namespace zm::cli {

void InstallStopHandlers();
// Back to the default handlers once the engine has returned.
void RemoveStopHandlers();
// The signal that asked to stop, 0 while none did.
int StopSignal();

}  // namespace zm::cli
