#include "tracer/tracer.h"

#include <cmath>

#include "scene/emitter.h"
#include "scene/hydra.h"
#include "scene/material_list.h"
#include "scene/wall.h"
#include "support/power.h"

namespace zm {

namespace {
constexpr int32_t kProgressInterval = 512;
// Paths are multiplied by this rather than divided by the air unit: the two
// round differently, and rendered files must not change by a bit.
constexpr double kAirUnitsPerMetre = 1.0 / ZM_AIR_UNIT_METRES;
}  // namespace

TTracer::TTracer(THydra& scene, int32_t groupIndex) : GroupIndex(groupIndex) {
  const TOptions& options = *scene.Options;
  // Both truncate toward zero, so a negative seed gives a negative first
  // seed, which the generator refuses.
  Random = std::make_unique<TRandomNumberGenerator>(options.RandomSeed % 31000,
                                                    options.RandomSeed / 31000);
  Impulse = std::make_unique<TImpulse>(scene);
  Scene = &scene;

  const TMaterialListItem key{std::string(ZM_AIR_MATERIAL_NAME)};
  const TMaterialListItem* air = scene.Materials ? scene.Materials->Search(key) : nullptr;
  if (air != nullptr) {
    for (int b = 0; b < kBandCount; ++b) AirBandBase[b] = air->Material->BandFactors[b];
    AirBroadbandBase = air->Material->Reflection;
  } else {
    for (double& base : AirBandBase) base = 1.0;
    AirBroadbandBase = AirFactorPerUnit(options.AirAttenuation);
  }

  WallTable.reserve(static_cast<size_t>(scene.WallCount));
  for (int32_t i = 0; i < scene.WallCount; ++i) {
    const TWall& wall = *scene.Walls[i];
    WallTable.push_back(TWallSegment{wall.X1, wall.Y1, wall.X2, wall.Y2, wall.X2 - wall.X1,
                                     wall.Y2 - wall.Y1, &wall});
  }
}

TTracer::~TTracer() = default;

bool TTracer::Run(uint8_t* abortFlag, TProgressCallback progress, void* userData) {
  const TOptions& options = *Scene->Options;
  for (int32_t e = 0; e < Scene->EmitterCount; ++e) {
    TEmitter& emitter = *Scene->Emitters[e];
    if (emitter.UseDefaultRayCount) emitter.RayCount = options.DefaultRayCount;
  }
  total_ = Scene->GroupRayTotal(GroupIndex);
  done_ = 0;
  SegmentCount = 0;
  abortFlag_ = abortFlag;
  progress_ = progress;
  userData_ = userData;

  auto ray = std::make_unique<TRayState>();
  ray_ = ray.get();
  struct ClearOnExit {
    TRayState*& ray;
    ~ClearOnExit() { ray = nullptr; }
  } clear{ray_};

  for (int32_t e = 0; e < Scene->EmitterCount; ++e) {
    TEmitter& emitter = *Scene->Emitters[e];
    if (emitter.Group != GroupIndex) continue;
    if (!TraceEmitter(emitter)) return false;
  }
  return true;
}

bool TTracer::TraceEmitter(TEmitter& emitter) {
  const int32_t n = emitter.RayCount;
  if (n <= 0) return true;
  const TOptions& options = *Scene->Options;
  TRayState& ray = *ray_;
  // The same for every ray of the emitter: each doubling of the ray count
  // lowers the direct sound by 10^0.15, each level step raises it as much.
  const double log2n = std::log(static_cast<double>(n)) / std::log(2.0);
  const double normalisation =
      Power(10.0, -0.15 * (log2n - static_cast<double>(options.DirectSoundLevel)));

  for (int32_t i = 0; i < n; ++i) {
    if (done_ % kProgressInterval == 0) {
      if (progress_ != nullptr) {
        progress_(static_cast<int32_t>(done_), total_, userData_);
      }
      // The host may set the byte from its callback or at any other time; it
      // is read here and only here.
      if (abortFlag_ != nullptr && *abortFlag_ != 0) return false;
    }

    double theta;
    if (emitter.RandomDirections) {
      theta = (Random->Next() - 0.5) * emitter.Spread + emitter.Direction;
    } else {
      // A single evenly spaced ray takes the middle of the fan rather than
      // dividing zero by zero.
      const double u = n == 1 ? 0.5 : static_cast<double>(i) / static_cast<double>(n - 1);
      theta = (u - 0.5) * emitter.Spread + emitter.Direction;
    }
    ray.Amplitude = Random->Next() < 0.5 ? 1.0 : -1.0;
    ray.X = emitter.X;
    ray.Y = emitter.Y;
    if (theta < 0.0) {
      ray.Angle = theta + kTwoPi;
    } else if (theta >= kTwoPi) {
      ray.Angle = theta - kTwoPi;
    } else {
      ray.Angle = theta;
    }
    ray.Time = 0.0;
    ray.Distance = 0.0;
    ray.Reflections = 0;
    ray.LastWall = nullptr;
    ray.Normalisation = normalisation;
    for (double& gain : ray.BandGain) gain = 1.0;

    TraceRay(ray);
    ++done_;
  }
  return true;
}

void TTracer::TraceRay(TRayState& ray) {
  const TOptions& options = *Scene->Options;
  const double minAmplitude = options.MinAmplitude;
  const double impulseLength = options.ImpulseLength;
  const double speed = options.SpeedOfSound;
  const TWallSegment* table = WallTable.data();
  const int32_t count = static_cast<int32_t>(WallTable.size());
  int32_t stalledHits = 0;
  THit hit;

  for (;;) {
    if (minAmplitude > std::fabs(ray.Amplitude)) return;
    if (!FindNearestHit(ray.X, ray.Y, ray.Angle, table, count, ray.LastWall, hit)) return;
    const TWall& wall = *hit.Wall;
    ++SegmentCount;
    // Timed to the wall's midpoint, not to the hit point.
    const double mx = ray.X - wall.MidX;
    const double my = ray.Y - wall.MidY;
    const double d = std::sqrt(mx * mx + my * my);
    const double dt = d / speed;
    // Written as "not before the end" so that a NaN time also ends the ray.
    if (!(ray.Time + dt < impulseLength)) return;
    if (ray.Time + dt > ray.Time) {
      stalledHits = 0;
    } else if (++stalledHits > kMaxStalledHits) {
      return;
    }

    if (wall.Receiver) {
      SetDirectivity(ray, wall);
      if (ray.Reflections == 0) {
        RecordDirect(ray, wall, d, dt);
      } else {
        RecordReflection(ray, wall, d, dt);
      }
    }

    ray.Time = ray.Time + dt;
    ray.Distance = ray.Distance + d;
    ray.LastWall = &wall;
    const TMaterial& material = *wall.Material;
    ray.Amplitude = ray.Amplitude * material.Reflection;
    for (int b = 0; b < kBandCount; ++b) {
      ray.PreviousBandGain[b] = ray.BandGain[b];
      ray.BandGain[b] = ray.BandGain[b] * material.BandFactors[b];
    }
    ray.X = hit.X;
    ray.Y = hit.Y;
    if (wall.PassThrough) continue;
    ++ray.Reflections;
    ray.Angle = ReflectAngle(ray.Angle, wall.Angle, material.Scatter, Random->Next());
  }
}

void TTracer::SetDirectivity(TRayState& ray, const TWall& wall) const {
  const double w = wall.PatternWeight;
  ray.DirectivityFactor = (1.0 - w) + w * std::sin(ray.Angle - wall.Angle);
}

TTracer::TAirPath TTracer::AirAlongPath(const TRayState& ray, double d) const {
  TAirPath air;
  const double e = (ray.Distance + d) * kAirUnitsPerMetre;
  for (int b = 0; b < kBandCount; ++b) air.Band[b] = Power(AirBandBase[b], e);
  air.Broadband = Power(AirBroadbandBase, e);
  for (int b = 0; b < kBandCount; ++b) air.Gains[b] = ray.BandGain[b] * air.Band[b];
  return air;
}

void TTracer::RecordDirect(const TRayState& ray, const TWall& wall, double d, double dt) {
  const double t = ray.Time + dt;
  if (Impulse->FirstDirectTime > t) Impulse->FirstDirectTime = t;
  if (Scene->Options->DirectSoundLevel == 0) return;
  const TAirPath air = AirAlongPath(ray, d);
  // The absolute value drops the ray's random sign so that all direct rays
  // add up in phase; the directivity may still turn the result negative.
  const double amplitude = std::fabs(ray.Amplitude * wall.Gain * air.Broadband) *
                           ray.Normalisation * ray.DirectivityFactor;
  Impulse->AddArrival(t, amplitude, air.Gains, wall.Channel);
}

void TTracer::RecordReflection(const TRayState& ray, const TWall& wall, double d, double dt) {
  const double t = ray.Time + dt;
  if (Impulse->FirstReflectionTime > t) Impulse->FirstReflectionTime = t;
  const TAirPath air = AirAlongPath(ray, d);
  const double amplitude = ray.Amplitude * wall.Gain * air.Broadband * ray.DirectivityFactor;
  Impulse->AddArrival(t, amplitude, air.Gains, wall.Channel);

  // From the third reflection on, spread diffuse arrivals along the last
  // segment so that the late tail becomes dense: growing with f, signs
  // alternating from minus, band gains blended from before to after the
  // last wall hit.
  if (ray.Reflections <= 2) return;
  const int32_t n = Scene->Options->SubArrivals;
  double gains[kBandCount];
  for (int32_t j = 0; j < n; ++j) {
    const double f = (j + 0.5) / n;
    for (int b = 0; b < kBandCount; ++b) {
      gains[b] =
          ((ray.BandGain[b] - ray.PreviousBandGain[b]) * f + ray.PreviousBandGain[b]) * air.Band[b];
    }
    const double sign = (j % 2 == 0) ? -1.0 : 1.0;
    Impulse->AddArrival(ray.Time + dt * f, amplitude * f * sign, gains, wall.Channel);
  }
}

}  // namespace zm
