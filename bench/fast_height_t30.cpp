// fast_height_t30: T30 of shoebox rooms with a height, traced in fast mode,
// beside their 3D Sabine and Eyring figures, for calibrating the 3D model
// against a 3D ray tracer's figures (the table of the lead's reference).
//
//   fast_height_t30 [--rays N] [--seeds S]
//
// Each room: the plan's four walls, floor and ceiling with energy
// absorption alpha (amplitude reflection sqrt(1 - alpha)) and scattering s
// on every surface, as the design tool converts them; the emitter at
// (0.30, 0.35) of the plan and a receiver strip 1 m long at (0.70, 0.60).
// T30 is fitted to the Schroeder decay of the broadband impulse from -5 to
// -35 dB.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <numbers>
#include <string>
#include <vector>

#include "fast/fast_tracer.h"
#include "scene/hydra.h"
#include "zm/zm.h"

namespace {

constexpr double kPi = std::numbers::pi;

struct Room {
  double l, w, h, walls, floor, ceiling, s, reference;
};

double ScatterOf(double s) {
  return std::sqrt(12 * (kPi * kPi / 4 - 2) * s);
}

std::unique_ptr<TDesignRecord> Design(const Room& room, int rays, int seed, double length) {
  auto r = std::make_unique<TDesignRecord>();
  std::memset(r.get(), 0, sizeof *r);
  r->ImpulseLength = length;
  r->MinAmplitude = 1e-6;
  r->SampleRate = 44100;
  r->BitsPerSample = 32;
  r->FilterLength = 32;
  r->AirAttenuation = 1.0;
  r->CoordinateScale = 1.0;
  r->RandomSeed = seed;
  r->SubArrivals = 8;
  r->StereoWidth = 1.0;
  r->DirectSoundLevel = 0;
  r->DefaultRayCount = rays;
  auto material = [&](int slot, const char* name, double reflection, double scatter) {
    TMaterialEntry& m = r->Materials[slot];
    m.InUse = 1;
    std::snprintf(m.Name, sizeof m.Name, "%s", name);
    m.Reflection = reflection;
    m.Scatter = scatter;
    for (double& f : m.BandFactors) f = 1.0;
  };
  material(0, "wall", std::sqrt(1 - room.walls), ScatterOf(room.s));
  material(1, "open", 1.0, 0.0);
  const double points[6][2] = {{0, 0},
                               {room.l, 0},
                               {room.l, room.w},
                               {0, room.w},
                               {0.7 * room.l - 0.5, 0.6 * room.w},
                               {0.7 * room.l + 0.5, 0.6 * room.w}};
  for (int i = 0; i < 6; ++i) r->Points[i].X = points[i][0], r->Points[i].Y = points[i][1];
  r->Points[6].X = 0.3 * room.l;
  r->Points[6].Y = 0.35 * room.w;
  for (int i = 0; i < 5; ++i) {
    TWallEntry& wall = r->Walls[i];
    wall.InUse = 1;
    wall.StartPoint = i < 4 ? i : 4;
    wall.EndPoint = i < 4 ? (i + 1) % 4 : 5;
    wall.Material = i < 4 ? 0 : 1;
    wall.Gain = 1.0;
    wall.Receiver = i == 4;
    wall.PassThrough = i == 4;
  }
  TEmitterEntry& e = r->Emitters[0];
  e.InUse = 1;
  e.Point = 6;
  e.RayCount = rays;
  e.Spread = 2 * kPi;
  e.RandomDirections = 1;
  e.Level = 1.0;
  return r;
}

// T30 from the Schroeder decay of `x`, fitted from -5 to -35 dB.
double T30(const std::vector<double>& x, double rate) {
  std::vector<double> decay(x.size());
  double sum = 0.0;
  for (size_t i = x.size(); i-- > 0;) decay[i] = sum += x[i] * x[i];
  const double total = decay[0];
  double sx = 0, sy = 0, sxx = 0, sxy = 0;
  int n = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    const double db = 10 * std::log10(decay[i] / total);
    if (db > -5 || db < -35) continue;
    const double t = i / rate;
    sx += t, sy += db, sxx += t * t, sxy += t * db, ++n;
  }
  const double slope = (n * sxy - sx * sy) / (n * sxx - sx * sx);
  return -60.0 / slope;
}

}  // namespace

int main(int argc, char** argv) {
  int rays = 20000, seeds = 2;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--rays") == 0) rays = std::atoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--seeds") == 0) seeds = std::atoi(argv[i + 1]);
  }
  const Room rooms[] = {{10, 6, 3, 0.2, 0.2, 0.2, 0.5, 0.607},
                        {4, 3, 2.5, 0.1, 0.3, 0.6, 0.3, 0.385},
                        {30, 20, 10, 0.05, 0.2, 0.1, 0.5, 3.646},
                        {7, 5, 2.7, 0.05, 0.25, 0.7, 0.2, 0.662},
                        {10, 6, 3, 0.4, 0.4, 0.4, 0.5, 0.283}};
  std::printf("room            eyring  reference  fast T30 (seeds)\n");
  for (const Room& room : rooms) {
    const double volume = room.l * room.w * room.h;
    const double walls = 2 * (room.l + room.w) * room.h, plan = room.l * room.w;
    const double area = walls + 2 * plan;
    const double mean = (walls * room.walls + plan * (room.floor + room.ceiling)) / area;
    const double eyring = 0.161 * volume / (-area * std::log(1 - mean));
    std::printf("%4.0fx%2.0fx%4.1f  %6.3f  %9.3f ", room.l, room.w, room.h, eyring, room.reference);
    zm::fast::TRoomHeight height;
    height.Height = room.h;
    height.Reflection[0] = std::sqrt(1 - room.floor);
    height.Reflection[1] = std::sqrt(1 - room.ceiling);
    for (int b = 0; b < ZM_BAND_COUNT; ++b) height.BandFactors[0][b] = height.BandFactors[1][b] = 1;
    height.ScatterProbability[0] = height.ScatterProbability[1] =
        zm::fast::ScatterProbabilityOf(ScatterOf(room.s));
    double mean30 = 0;
    for (int seed = 1; seed <= seeds; ++seed) {
      auto design =
          Design(room, rays, seed, std::min(10.0, 2.5 * std::max(eyring, room.reference)));
      zm::THydra scene(*design);
      zm::fast::TFastTracer tracer(scene, 0, &height);
      uint8_t abortFlag = 0;
      tracer.Run(&abortFlag, nullptr, nullptr);
      const double* c = tracer.Impulse->Channel(0);
      std::vector<double> x(c, c + tracer.Impulse->WrittenEnd + 1);
      const double t30 = T30(x, 44100);
      mean30 += t30 / seeds;
      std::printf(" %.3f", t30);
    }
    std::printf("  mean %.3f (%+.0f %%)\n", mean30, 100 * (mean30 / room.reference - 1));
  }
  return 0;
}
