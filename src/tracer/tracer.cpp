#include "tracer/tracer.h"

#include <bit>
#include <cmath>

#include "scene/emitter.h"
#include "scene/hydra.h"
#include "scene/material_list.h"
#include "scene/wall.h"
#include "support/power.h"
#include "support/thread_count.h"

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
  Threads = ConfiguredThreadCount();
  Impulse = std::make_unique<TImpulse>(scene, Threads);
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

  for (int b = 0; b < kBandCount; ++b) {
    airBand_[b] = TAirBase{AirBandBase[b], std::log(AirBandBase[b])};
  }
  airBroadband_ = TAirBase{AirBroadbandBase, std::log(AirBroadbandBase)};

  WallTable.reserve(static_cast<size_t>(scene.WallCount));
  for (int32_t i = 0; i < scene.WallCount; ++i) {
    const TWall& wall = *scene.Walls[i];
    WallTable.push_back(TWallSegment{wall.X1, wall.Y1, wall.X2, wall.Y2, wall.X2 - wall.X1,
                                     wall.Y2 - wall.Y1, &wall});
  }
  wallScan_ = std::make_unique<TWallScan>(WallTable);
}

TTracer::~TTracer() = default;

bool TTracer::Run(uint8_t* abortFlag, TProgressCallback progress, void* userData) {
  const int32_t total = Scene->GroupRayTotal(GroupIndex);
  SegmentCount = 0;
  TAccumulator accumulator(*Impulse, Threads > 1);
  TRun run(accumulator, *Random, abortFlag, progress, userData, total);
  for (int32_t e = 0; e < Scene->EmitterCount; ++e) {
    TEmitter& emitter = *Scene->Emitters[e];
    if (emitter.Group != GroupIndex) continue;
    if (!TraceEmitter(run, emitter)) return false;
  }
  accumulator.Finish();
  return true;
}

bool TTracer::AbortRequested(const TRun& run) {
  // The host may set the byte from another thread at any time.
  return run.AbortFlag != nullptr && __atomic_load_n(run.AbortFlag, __ATOMIC_RELAXED) != 0;
}

bool TTracer::TraceEmitter(TRun& run, TEmitter& emitter) {
  const int32_t n = emitter.RayCount;
  if (n <= 0) return true;
  const TOptions& options = *Scene->Options;
  TRayState& ray = run.Ray;
  // The same for every ray of the emitter: each doubling of the ray count
  // lowers the direct sound by 10^0.15, each level step raises it as much.
  const double log2n = std::log(static_cast<double>(n)) / std::log(2.0);
  const double normalisation =
      Power(10.0, -0.15 * (log2n - static_cast<double>(options.DirectSoundLevel)));

  for (int32_t i = 0; i < n; ++i) {
    if (run.Done % kProgressInterval == 0) {
      if (run.Progress != nullptr) {
        run.Progress(static_cast<int32_t>(run.Done), run.Total, run.UserData);
      }
      if (AbortRequested(run)) return false;
    }

    double theta;
    if (emitter.RandomDirections) {
      theta = (run.Draws.Take() - 0.5) * emitter.Spread + emitter.Direction;
    } else {
      // A single evenly spaced ray takes the middle of the fan rather than
      // dividing zero by zero.
      const double u = n == 1 ? 0.5 : static_cast<double>(i) / static_cast<double>(n - 1);
      theta = (u - 0.5) * emitter.Spread + emitter.Direction;
    }
    ray.Amplitude = run.Draws.Take() < 0.5 ? 1.0 : -1.0;
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

    if (!TraceRay(run)) return false;
    ++run.Done;
  }
  return true;
}

bool TTracer::TraceRay(TRun& run) {
  TRayState& ray = run.Ray;
  const TOptions& options = *Scene->Options;
  const double minAmplitude = options.MinAmplitude;
  const double impulseLength = options.ImpulseLength;
  const double speed = options.SpeedOfSound;
  const TWallScan& walls = *wallScan_;
  int32_t stalledHits = 0;
  int32_t hitsToAbortCheck = kAbortCheckHits;
  TScanBest hit;
  int32_t lastWall = -1;  // ray.LastWall as an entry of the wall table
  // The direction changes only where the ray reflects, not where it passes
  // through a wall.
  double cosine, sine;
  run.Directions.Direction(ray.Angle, cosine, sine);

  for (;;) {
    if (minAmplitude > std::fabs(ray.Amplitude)) return true;
    if (!walls.Find(ray.X, ray.Y, ray.Angle, cosine, sine, lastWall, run.Draws.Peek(), hit)) {
      return true;
    }
    const TWall& wall = *WallTable[hit.Index].Wall;
    ++SegmentCount;
    if (--hitsToAbortCheck == 0) {
      if (AbortRequested(run)) return false;
      hitsToAbortCheck = kAbortCheckHits;
    }
    // Timed to the wall's midpoint, not to the hit point.
    const double mx = ray.X - wall.MidX;
    const double my = ray.Y - wall.MidY;
    const double d = std::sqrt(mx * mx + my * my);
    const double dt = d / speed;
    // Written as "not before the end" so that a NaN time also ends the ray.
    if (!(ray.Time + dt < impulseLength)) return true;
    if (ray.Time + dt > ray.Time) {
      stalledHits = 0;
    } else if (++stalledHits > kMaxStalledHits) {
      return true;
    }

    if (wall.Receiver) {
      SetDirectivity(ray, wall);
      const bool finite = ray.Reflections == 0 ? RecordDirect(run, wall, d, dt)
                                               : RecordReflection(run, wall, d, dt);
      if (!finite) return true;
    }

    ray.Time = ray.Time + dt;
    ray.Distance = ray.Distance + d;
    ray.LastWall = &wall;
    lastWall = hit.Index;
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
    // ReflectAngle(ray.Angle, wall.Angle, material.Scatter, this draw),
    // worked out by the hit test while it looked for the wall.
    run.Draws.Take();
    ray.Angle = hit.NextAngle;
    run.Directions.Direction(ray.Angle, cosine, sine);
  }
}

void TTracer::DirectionOf(double angle, double& cosine, double& sine) {
  cosine = std::cos(angle);
  sine = std::sin(angle);
}

TTracer::TDirectionMemory::TDirectionMemory() {
  for (int i = 0; i < kEntries; ++i) {
    angles_[i] = std::bit_cast<uint64_t>(0.0);
    DirectionOf(0.0, cosines_[i], sines_[i]);
  }
}

void TTracer::TDirectionMemory::Direction(double angle, double& cosine, double& sine) {
  const uint64_t key = std::bit_cast<uint64_t>(angle);
  for (int i = 0; i < kEntries; ++i) {
    if (angles_[i] == key) {
      cosine = cosines_[i];
      sine = sines_[i];
      return;
    }
  }
  DirectionOf(angle, cosine, sine);
  angles_[next_] = key;
  cosines_[next_] = cosine;
  sines_[next_] = sine;
  next_ = (next_ + 1) % kEntries;
}

void TTracer::SetDirectivity(TRayState& ray, const TWall& wall) const {
  const double w = wall.PatternWeight;
  ray.DirectivityFactor = (1.0 - w) + w * std::sin(ray.Angle - wall.Angle);
}

double TTracer::TAirBase::PowerOf(double e) const {
  // Power's rules, with ln(Base) taken once. Power(1, e) is exactly 1 for
  // any finite e, which spares the exponential when there is no air loss.
  if (Base == 1.0 && std::isfinite(e)) return 1.0;
  if (Base == 0.0) {
    if (e == 0.0) throw EInvalidOp();
    return 0.0;
  }
  if (e == 0.0) return 1.0;
  if (Base < 0.0) throw EInvalidOp();
  return std::exp(e * Log);
}

double TTracer::AirAlongPath(const TRayState& ray, double d, TArrivalGroup& group) const {
  const double e = (ray.Distance + d) * kAirUnitsPerMetre;
  for (int b = 0; b < kBandCount; ++b) group.Air[b] = airBand_[b].PowerOf(e);
  const double broadband = airBroadband_.PowerOf(e);
  for (int b = 0; b < kBandCount; ++b) group.Gains[b] = ray.BandGain[b] * group.Air[b];
  return broadband;
}

bool TTracer::Finite(const TArrivalGroup& group) {
  bool finite = std::isfinite(group.Amplitude);
  for (int b = 0; b < kBandCount; ++b) finite = finite && std::isfinite(group.Gains[b]);
  return finite;
}

bool TTracer::RecordDirect(TRun& run, const TWall& wall, double d, double dt) {
  const TRayState& ray = run.Ray;
  const double t = ray.Time + dt;
  if (Impulse->FirstDirectTime > t) Impulse->FirstDirectTime = t;
  if (Scene->Options->DirectSoundLevel == 0) return true;
  TArrivalGroup group{};
  const double air = AirAlongPath(ray, d, group);
  // The absolute value drops the ray's random sign so that all direct rays
  // add up in phase; the directivity may still turn the result negative.
  group.Amplitude =
      std::fabs(ray.Amplitude * wall.Gain * air) * ray.Normalisation * ray.DirectivityFactor;
  group.Time = t;
  group.Channel = wall.Channel;
  group.SpreadCount = 0;
  if (!Finite(group)) return false;
  run.Accumulator.Add(group);
  return true;
}

bool TTracer::RecordReflection(TRun& run, const TWall& wall, double d, double dt) {
  const TRayState& ray = run.Ray;
  const double t = ray.Time + dt;
  if (Impulse->FirstReflectionTime > t) Impulse->FirstReflectionTime = t;
  TArrivalGroup group{};
  const double air = AirAlongPath(ray, d, group);
  group.Amplitude = ray.Amplitude * wall.Gain * air * ray.DirectivityFactor;
  group.Time = t;
  group.Channel = wall.Channel;
  group.SpreadCount = 0;
  if (!Finite(group)) return false;
  if (ray.Reflections <= 2) {
    run.Accumulator.Add(group);
    return true;
  }

  // From the third reflection on, spread diffuse arrivals along the last
  // segment so that the late tail becomes dense: growing with f, signs
  // alternating from minus, band gains blended from before to after the
  // last wall hit. A spread arrival whose band gains are not finite ends
  // the ray (its amplitude, the group's scaled down, is finite); the ones
  // before it still count.
  group.SpreadDivisions = Scene->Options->SubArrivals;
  group.SegmentStart = ray.Time;
  group.SegmentDuration = dt;
  for (int b = 0; b < kBandCount; ++b) {
    group.GainsBefore[b] = ray.PreviousBandGain[b];
    group.GainChange[b] = ray.BandGain[b] - ray.PreviousBandGain[b];
  }
  group.SpreadCount = group.FiniteSpreadCount();
  const bool finite = group.SpreadCount == group.SpreadDivisions;
  run.Accumulator.Add(group);
  return finite;
}

}  // namespace zm
