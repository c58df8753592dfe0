// Renders one small design to PATH through ZM_process, for readers written
// elsewhere to read back; a failure's message goes to stderr.
//   test_process_driver PATH BITS CHANNEL RATE TITLE
#include <cstdio>
#include <cstdlib>

#include "design_builder.h"

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
  if (error.Failed) std::fprintf(stderr, "%.128s\n", error.Message);
  return error.Failed;
}
