// The reference workloads A-D as design records, shared by the drivers that
// time them (speed_workloads, fast_speed).
//   A  a 20 x 15 m room, four walls of amplitude reflection sqrt(0.8) and
//      Scatter 0.1, a 1 m pass-through receiver at (14, 8.5)-(14, 9.5), one
//      emitter at (5, 7) sending 100 000 random rays over 2 pi; 2 s at
//      44 100 Hz, SubArrivals 8, FilterLength 32, MinAmplitude 1e-4
//   B  A with Scatter 0
//   C  a star-shaped room of 140 walls around a radius of 9 m, 20 000 rays, 1 s
//   D  A with FilterLength 256 (a 34 MB filter table: memory-bound)
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>

#include "zm/zm.h"

namespace workloads {

constexpr double kPi = 3.14159265358979323846;

// Fills a design record slot by slot.
class Design {
 public:
  Design() : r_(std::make_unique<TDesignRecord>()) {
    std::memset(r_.get(), 0, sizeof(TDesignRecord));
    r_->ImpulseLength = 2.0;
    r_->MinAmplitude = 1e-4;
    r_->SampleRate = 44100;
    r_->BitsPerSample = 32;
    r_->FilterLength = 32;
    r_->AirAttenuation = 1.0;
    r_->CoordinateScale = 1.0;
    r_->RandomSeed = 4711;
    r_->SubArrivals = 8;
    r_->StereoWidth = 1.0;
    r_->TrimToDirect = 1;
    r_->DirectSoundLevel = 1;
    r_->FixedGainDb = -48.0;
    r_->DefaultRayCount = 10000;
  }

  TDesignRecord& operator*() { return *r_; }
  TDesignRecord* operator->() { return r_.get(); }

  int Material(const char* name, double reflection, double scatter) {
    TMaterialEntry& m = r_->Materials[materials_];
    m.InUse = 1;
    std::snprintf(m.Name, sizeof m.Name, "%s", name);
    m.Reflection = reflection;
    m.Scatter = scatter;
    // A gentle loss towards the high bands, as real walls have.
    for (int b = 0; b < ZM_BAND_COUNT; ++b)
      m.BandFactors[b] = reflection == 1.0 ? 1.0 : 1.0 - 0.01 * b;
    return materials_++;
  }

  int Point(double x, double y) {
    r_->Points[points_].X = x;
    r_->Points[points_].Y = y;
    return points_++;
  }

  void Wall(int from, int to, int material, bool receiver = false) {
    TWallEntry& w = r_->Walls[walls_++];
    w.InUse = 1;
    w.StartPoint = from;
    w.EndPoint = to;
    w.Material = material;
    w.Gain = 1.0;
    w.PassThrough = receiver;
    w.Receiver = receiver;
  }

  void Emitter(double x, double y, int32_t rays) {
    TEmitterEntry& e = r_->Emitters[0];
    e.InUse = 1;
    e.Point = Point(x, y);
    e.RayCount = rays;
    e.Spread = 2 * kPi;
    e.RandomDirections = 1;
    e.Level = 1.0;
  }

  // A closed outline: wall i from corner i to corner i + 1.
  void Outline(const double (*corners)[2], int count, int material) {
    const int first = points_;
    for (int i = 0; i < count; ++i) Point(corners[i][0], corners[i][1]);
    for (int i = 0; i < count; ++i) Wall(first + i, first + (i + 1) % count, material);
  }

 private:
  std::unique_ptr<TDesignRecord> r_;
  int materials_ = 0, points_ = 0, walls_ = 0;
};

inline Design RoomA(double scatter, int32_t filterLength) {
  Design d;
  d->FilterLength = filterLength;
  const int wall = d.Material("Wall", std::sqrt(0.8), scatter);
  const int open = d.Material("Open", 1.0, 0.0);
  const double corners[4][2] = {{0, 0}, {20, 0}, {20, 15}, {0, 15}};
  d.Outline(corners, 4, wall);
  d.Wall(d.Point(14, 8.5), d.Point(14, 9.5), open, true);
  d.Emitter(5, 7, 100000);
  return d;
}

// A star of 140 corners: the radius swings by a quarter five times around
// and by a little from corner to corner, so the room is far from convex.
inline Design RoomC() {
  Design d;
  d->ImpulseLength = 1.0;
  const int wall = d.Material("Wall", std::sqrt(0.8), 0.1);
  const int open = d.Material("Open", 1.0, 0.0);
  constexpr int kCorners = 140;
  double corners[kCorners][2];
  for (int i = 0; i < kCorners; ++i) {
    const double a = 2 * kPi * i / kCorners;
    const double r = 9.0 * (1.0 + 0.25 * std::sin(5 * a) + 0.04 * ((i * 7919) % 11 - 5) / 5.0);
    corners[i][0] = r * std::cos(a);
    corners[i][1] = r * std::sin(a);
  }
  d.Outline(corners, kCorners, wall);
  d.Wall(d.Point(2.5, -0.5), d.Point(2.5, 0.5), open, true);
  d.Emitter(-3, 1, 20000);
  return d;
}

inline Design Workload(char letter) {
  Design d = letter == 'A'   ? RoomA(0.1, 32)
             : letter == 'B' ? RoomA(0.0, 32)
             : letter == 'C' ? RoomC()
                             : RoomA(0.1, 256);
  // A title of its own keeps the output path out of the file.
  std::snprintf(d->Title, sizeof d->Title, "Workload %c", letter);
  return d;
}

}  // namespace workloads
