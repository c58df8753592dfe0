// Writes the seed corpus of the fuzz targets: a few small, valid inputs per
// target, so that the fuzzers start from real blocks and files.
//   fuzz_make_corpus <folder>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "design_builder.h"
#include "files/design_file.h"
#include "files/hrc.h"
#include "files/material_file.h"
#include "files/resource.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

fs::path root;

void Put(const std::string& target, const std::string& leaf, const Bytes& content) {
  fs::create_directories(root / target);
  std::ofstream out(root / target / leaf, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(content.data()),
            static_cast<std::streamsize>(content.size()));
}

// Everything written to a memory resource by `write`.
template <typename Write>
Bytes Capture(Write write) {
  auto stream = zm::RscOpen("mem:", zm::rmReadWrite);
  write(*stream);
  Bytes out(static_cast<size_t>(stream->GetLength()));
  stream->SetPosition(0);
  stream->Read(out.data(), static_cast<int32_t>(out.size()));
  return out;
}

Bytes Block(const Bytes& data, const char* magic = nullptr) {
  return Capture([&](zm::TResource& s) {
    if (magic) s.Write(magic, 4);
    zm::HrcWriteBlock(s, data.data(), static_cast<int32_t>(data.size()));
  });
}

Bytes Text() {
  std::string s;
  for (int i = 0; i < 40; ++i) s += "the wall reflects ray " + std::to_string(i % 7) + "\n";
  return Bytes(s.begin(), s.end());
}

Bytes Scrambled(size_t n, uint32_t seed) {
  Bytes out(n);
  for (uint8_t& b : out) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return out;
}

// Three blocks 2008, 3016 bytes back after fresh data: the second opens a
// carried nibble that the third fills.
Bytes NibbleCase() {
  Bytes r = Scrambled(3200, 7);
  Bytes out = r;
  out.insert(out.end(), r.begin() + 2200, r.begin() + 2208);
  out.insert(out.end(), r.begin() + 1200, r.begin() + 1208);
  out.insert(out.end(), r.begin() + 200, r.begin() + 208);
  return out;
}

zm::test::DesignBuilder SmallDesign() {
  zm::test::DesignBuilder d;
  d.Title("Seed room");
  int brick = d.AddMaterial("Brick", 0.8, 0.1, 0.7);
  d.AddWall(0, 0, 10, 0, brick);
  d.AddWall(10, 0, 10, 8, brick);
  d.AddReceiver(2, 2, 2, 3, brick);
  d.AddEmitter(5, 4, 0.0, 100, 6.28);
  return d;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 2;
  root = argv[1];

  Put("fuzz_hrc_decode", "empty", Block({}));
  Put("fuzz_hrc_decode", "abc", Block({'a', 'b', 'c'}));
  Put("fuzz_hrc_decode", "zeros", Block(Bytes(100, 0)));
  Put("fuzz_hrc_decode", "text", Block(Text()));
  Put("fuzz_hrc_decode", "nibble", Block(NibbleCase()));

  Put("fuzz_hrc_roundtrip", "text", Text());
  Put("fuzz_hrc_roundtrip", "nibble", NibbleCase());
  Put("fuzz_hrc_roundtrip", "scrambled", Scrambled(300, 3));

  zm::test::DesignBuilder design = SmallDesign();
  Put("fuzz_load_design", "current.zmd",
      Capture([&](zm::TResource& s) { zm::WriteDesign(s, design.Record()); }));
  const char* magics[] = {"ZMD0", "ZMD1", "ZMD2", "ZMD3", "ZMD4"};
  const size_t sizes[] = {12488, 12496, 12512, 16608, 16676};
  const uint8_t* raw = reinterpret_cast<const uint8_t*>(&design.Record());
  for (int v = 0; v < 5; ++v) {
    // Title, comment and the start of the settings are where every layout
    // has them; enough to give the fuzzer each magic with a sound block.
    Bytes old(sizes[v], 0);
    std::memcpy(old.data(), raw, 146);
    Put("fuzz_load_design", std::string(magics[v]) + ".zmd", Block(old, magics[v]));
  }

  // The process fuzzer reads its design from the input; the last byte sets
  // how often a value is wild (below 128: never).
  for (auto [leaf, size, mode] :
       {std::tuple{"sound-plain", 64, 0}, std::tuple{"sound", 700, 5},
        std::tuple{"few-wild", 700, 150}, std::tuple{"many-wild", 1200, 250}}) {
    Bytes input = Scrambled(static_cast<size_t>(size), static_cast<uint32_t>(size));
    input.back() = static_cast<uint8_t>(mode);
    Put("fuzz_process", leaf, input);
  }

  TMaterialEntry material = design.Record().Materials[0];
  Put("fuzz_load_material", "brick.zmm",
      Capture([&](zm::TResource& s) { zm::WriteMaterial(s, material); }));
  std::memset(material.Name, 0, sizeof(material.Name));
  std::memcpy(material.Name, "** AIR **", 9);
  Put("fuzz_load_material", "air.zmm",
      Capture([&](zm::TResource& s) { zm::WriteMaterial(s, material); }));
  return 0;
}
