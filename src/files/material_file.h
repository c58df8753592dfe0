// Material files: the magic "ZMM0" followed by one material entry as it is
// stored in the design record, uncompressed.
#pragma once

#include "files/resource.h"
#include "zm/zm.h"

namespace zm {

void WriteMaterial(TResource& stream, const TMaterialEntry& material);

// Reads a material file into `material`. A slot that holds the air material
// keeps its name, so loading a file into it cannot lose the air. The entry
// is written only when the whole file was read; after a failure it is
// exactly as it was.
void ReadMaterial(TResource& stream, TMaterialEntry& material);

}  // namespace zm
