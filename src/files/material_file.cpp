// Material files: the magic and one uncompressed material entry.
#include "files/material_file.h"

#include <cstring>
#include <string>

#include "files/design_file.h"
#include "support/text.h"

namespace zm {

namespace {

constexpr char kMaterialMagic[4] = {'Z', 'M', 'M', '0'};

}  // namespace

void WriteMaterial(TResource& stream, const TMaterialEntry& material) {
  stream.Write(kMaterialMagic, sizeof(kMaterialMagic));
  stream.Write(&material, static_cast<int32_t>(sizeof(TMaterialEntry)));
}

void ReadMaterial(TResource& stream, TMaterialEntry& material) {
  char magic[4];
  stream.Read(magic, sizeof(magic));
  if (std::memcmp(magic, kMaterialMagic, sizeof(magic)) != 0) {
    throw Exception(std::string(msg::zm::sInvalidSignature.text));
  }
  const bool isAir = ReadFixedText(material.Name) == ZM_AIR_MATERIAL_NAME;
  // Read aside: a short file must not leave half an entry behind.
  TMaterialEntry loaded;
  stream.Read(&loaded, static_cast<int32_t>(sizeof(TMaterialEntry)));
  if (isAir) WriteFixedText(loaded.Name, ZM_AIR_MATERIAL_NAME);
  std::memcpy(&material, &loaded, sizeof(TMaterialEntry));
}

}  // namespace zm
