// Renders one small design to PATH through ZM_process and prints what the
// file must hold, for readers written elsewhere to be checked against:
// channels, rate, bits, frames and title, one per line.
//   test_process_driver PATH BITS CHANNEL RATE TITLE
#include <cstdio>
#include <cstdlib>

#include "design_builder.h"
#include "wave_file.h"

int main(int argc, char** argv) {
  if (argc != 6) return 2;
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
  TErrorRecord error{};
  uint8_t abortFlag = 0;
  ZM_process(&b.Record(), argv[1], &error, &abortFlag, nullptr, nullptr, 0);
  const zm::test::WaveFile w(argv[1]);
  if (error.Failed || !w.valid) {
    std::fprintf(stderr, "%.128s\n", error.Failed ? error.Message : "not a well-formed wave file");
    return 1;
  }
  std::printf("%u\n%u\n%u\n%u\n%s\n", w.channels, w.sampleRate, w.bits, w.Frames(),
              w.title.c_str());
  return 0;
}
