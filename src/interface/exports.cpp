// The six exported functions. Each checks its pointers and runs its job
// inside the error frame; ZM_getVersion needs neither.
#include "interface/error_frame.h"
#include "interface/jobs.h"
#include "support/exception.h"

namespace zm {

namespace msg::zm {
inline constexpr MessageText sNullArgument{"Argument \"%s\" must not be a null pointer"};
}  // namespace msg::zm

void RequireArgument(const void* pointer, const char* argumentName) {
  if (pointer == nullptr) throw Exception(Format(msg::zm::sNullArgument, {argumentName}));
}

}  // namespace zm

extern "C" {

ZM_API void ZM_CALL ZM_process(const TDesignRecord* design, const char* outputFile,
                               TErrorRecord* error, uint8_t* abortFlag, TProgressCallback progress,
                               void* userData, int32_t group) {
  zm::RunInErrorFrame(error, [&] {
    zm::RequireArgument(design, "design");
    zm::RequireArgument(outputFile, "outputFile");
    zm::RequireArgument(abortFlag, "abortFlag");
    zm::ProcessJob(*design, outputFile, abortFlag, progress, userData, group);
  });
}

ZM_API void ZM_CALL ZM_loadSetup(const char* fileName, TDesignRecord* design, TErrorRecord* error) {
  zm::RunInErrorFrame(error, [&] {
    zm::RequireArgument(fileName, "fileName");
    zm::RequireArgument(design, "design");
    zm::LoadSetupJob(fileName, *design);
  });
}

ZM_API void ZM_CALL ZM_saveSetup(const char* fileName, const TDesignRecord* design,
                                 TErrorRecord* error) {
  zm::RunInErrorFrame(error, [&] {
    zm::RequireArgument(fileName, "fileName");
    zm::RequireArgument(design, "design");
    zm::SaveSetupJob(fileName, *design);
  });
}

ZM_API void ZM_CALL ZM_loadMaterial(const char* fileName, TMaterialEntry* material,
                                    TErrorRecord* error) {
  zm::RunInErrorFrame(error, [&] {
    zm::RequireArgument(fileName, "fileName");
    zm::RequireArgument(material, "material");
    zm::LoadMaterialJob(fileName, *material);
  });
}

ZM_API void ZM_CALL ZM_saveMaterial(const char* fileName, const TMaterialEntry* material,
                                    TErrorRecord* error) {
  zm::RunInErrorFrame(error, [&] {
    zm::RequireArgument(fileName, "fileName");
    zm::RequireArgument(material, "material");
    zm::SaveMaterialJob(fileName, *material);
  });
}

ZM_API int32_t ZM_CALL ZM_getVersion(void) {
  return ZM_VERSION;
}

}  // extern "C"
