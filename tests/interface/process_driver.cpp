// Renders one small design to a given path through ZM_process and prints
// what the file must hold, so that readers written elsewhere can be checked
// against it: channels, rate, bits, frames and title, one per line.
//
//   test_process_driver PATH BITS CHANNEL RATE TITLE
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "design_builder.h"
#include "process_wave.h"
#include "zm/zm.h"

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: %s PATH BITS CHANNEL RATE TITLE\n", argv[0]);
    return 2;
  }
  const std::string path = argv[1];
  zm::test::DesignBuilder b;
  b.Title(argv[5]);
  b->BitsPerSample = std::atoi(argv[2]);
  b->SampleRate = std::atoi(argv[4]);
  b->ImpulseLength = 0.05;
  b->TrimToDirect = 1;
  const int wall = b.AddMaterial("Wall", 0.8);
  b.AddReceiver(3.0, -2.0, 3.0, 2.0, wall, std::atoi(argv[3]));
  b.AddWall(-1.0, -2.0, -1.0, 2.0, wall);
  b.AddEmitter(0.0, 0.0, 0.0, 300, 1.0);

  TErrorRecord error;
  std::memset(&error, 0, sizeof error);
  uint8_t abortFlag = 0;
  ZM_process(&b.Record(), path.c_str(), &error, &abortFlag, nullptr, nullptr, 0);
  if (error.Failed) {
    std::fprintf(stderr, "%.128s\n", error.Message);
    return 1;
  }
  const zm::test::WaveFile w = zm::test::ParseWave(path);
  if (!w.valid) {
    std::fprintf(stderr, "%s: not a well-formed wave file\n", path.c_str());
    return 1;
  }
  std::printf("%u\n%u\n%u\n%u\n%s\n", w.channels, w.sampleRate, w.bits, w.Frames(),
              w.title.c_str());
  return 0;
}
