// Material files: ZM_loadMaterial and ZM_saveMaterial.
#include "interface/jobs.h"

namespace zm {

void LoadMaterialJob(const char* /*fileName*/, TMaterialEntry& /*material*/) {}
void SaveMaterialJob(const char* /*fileName*/, const TMaterialEntry& /*material*/) {}

}  // namespace zm
