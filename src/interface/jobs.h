// The jobs behind the exports. Each runs inside the error frame and reports
// failure by throwing; the exports only check the pointers and frame them.
#pragma once

#include <cstdint>

#include "interface/fast_process.h"
#include "zm/zm.h"

namespace zm {

// Throws when a pointer argument the job needs is null, naming the argument.
void RequireArgument(const void* pointer, const char* argumentName);

void ProcessJob(const TDesignRecord& design, const char* outputFile, uint8_t* abortFlag,
                TProgressCallback progress, void* userData, int32_t group);
// The same job traced in fast mode (fast_process.h).
void ProcessFastJob(const TDesignRecord& design, const TFastHeight* height, const char* outputFile,
                    uint8_t* abortFlag, TProgressCallback progress, void* userData, int32_t group);
void LoadSetupJob(const char* fileName, TDesignRecord& design);
void SaveSetupJob(const char* fileName, const TDesignRecord& design);
void LoadMaterialJob(const char* fileName, TMaterialEntry& material);
void SaveMaterialJob(const char* fileName, const TMaterialEntry& material);

}  // namespace zm
