// The jobs behind the four file exports: open the named resource and move
// one design record or one material entry through its file format.
#include <memory>

#include "files/design_file.h"
#include "files/material_file.h"
#include "files/resource.h"
#include "interface/jobs.h"

namespace zm {

namespace {

// The target of a save is replaced only on commit, so a save that fails
// part-way keeps the previous file.
template <typename Write>
void SaveThroughCommit(const char* fileName, Write&& write) {
  std::unique_ptr<TResource> stream = RscOpenCreate(fileName);
  write(*stream);
  stream->Commit();
}

}  // namespace

void LoadSetupJob(const char* fileName, TDesignRecord& design) {
  std::unique_ptr<TResource> stream = RscOpenRead(fileName);
  ReadDesign(*stream, design);
}

void SaveSetupJob(const char* fileName, const TDesignRecord& design) {
  SaveThroughCommit(fileName, [&](TResource& stream) { WriteDesign(stream, design); });
}

void LoadMaterialJob(const char* fileName, TMaterialEntry& material) {
  std::unique_ptr<TResource> stream = RscOpenRead(fileName);
  ReadMaterial(*stream, material);
}

void SaveMaterialJob(const char* fileName, const TMaterialEntry& material) {
  SaveThroughCommit(fileName, [&](TResource& stream) { WriteMaterial(stream, material); });
}

}  // namespace zm
