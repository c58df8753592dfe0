// One wall of the plan, in metres, with what the tracer needs on every hit.
#pragma once

#include <cstdint>
#include <string>

#include "zm/zm.h"

namespace zm {

class TMaterial;

class TWall {
 public:
  TWall(const TDesignRecord& design, int index);

  double X1, Y1;
  double X2, Y2;
  double MidX, MidY;
  double Angle;  // atan2(Y2 - Y1, X2 - X1)
  double Length;
  bool PassThrough;
  bool Receiver;
  std::string MaterialName;
  int32_t Channel;
  double Gain;
  int32_t Pattern;
  double PatternWeight;                 // 0.25, 0.5, 0.75, 1.0 for Pattern 1..4, else 0
  const TMaterial* Material = nullptr;  // owned by the scene's material list
};

}  // namespace zm
