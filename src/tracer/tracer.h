// The tracer follows sound through the plan of the room: every emitter of one
// group sends a fan of rays, each ray travels from wall to wall, loses
// amplitude to the wall materials, reflects (blurred by the material's
// scatter) or passes through, and every receiver wall it meets records an
// arrival in the impulse. All randomness comes from the tracer's own
// generator, seeded from the design, so a design always gives the same
// impulse.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "impulse/accumulator.h"
#include "impulse/impulse.h"
#include "scene/options.h"
#include "support/random.h"
#include "tracer/geometry.h"
#include "tracer/wall_scan.h"
#include "zm/zm.h"

namespace zm {

class THydra;
class TEmitter;

// The state of the ray being traced; one per run, reused for every ray.
struct TRayState {
  double Amplitude;  // broadband, with the ray's random sign
  double X, Y;       // current origin
  double Angle;
  double Time;               // seconds travelled
  double Distance;           // metres travelled
  double Normalisation;      // direct-sound scale of the ray's emitter
  double DirectivityFactor;  // receiver directivity for the current hit
  double BandGain[kBandCount];
  double PreviousBandGain[kBandCount];  // BandGain before the last hit
  const TWall* LastWall;                // excluded from the next hit test
  int32_t Reflections;                  // pass-through hits do not count
};

class TTracer {
 public:
  // Seeds the generator from the design's RandomSeed (ERangeError when the
  // seed gives out-of-range seeds), builds the impulse, the air attenuation
  // and the wall table. The scene must outlive the tracer.
  TTracer(THydra& scene, int32_t groupIndex);
  ~TTracer();

  TTracer(const TTracer&) = delete;
  TTracer& operator=(const TTracer&) = delete;

  // Traces every ray of every emitter of the group. Before every 512th ray
  // (0, 512, ...) calls `progress` (skipped when null) and then reads the
  // abort byte, which it also reads every kAbortCheckHits wall hits of a
  // ray; returns false as soon as it is nonzero, true when every ray was
  // traced. Refuses, before any ray, a group whose ray total the progress
  // count cannot hold (THydra::GroupRayTotal). Progress calls come on the
  // calling thread; the arrivals are applied to the impulse on a worker
  // thread beside it when Threads is above 1, with the same result.
  bool Run(uint8_t* abortFlag, TProgressCallback progress, void* userData);

  // One ray may meet walls for minutes (a tiny lossless room); a host that
  // asks to stop is heard after at most this many hits.
  static constexpr int32_t kAbortCheckHits = 65536;

  // A ray that keeps meeting walls without its time advancing is trapped at
  // a point (for example where two walls meet at their midpoints); after
  // this many such hits in a row it is ended. A sane design never gets near
  // it: any loss below 1 or a MinAmplitude above 0 ends such a ray long
  // before, and a free ray always advances.
  static constexpr int32_t kMaxStalledHits = 10000;

  std::unique_ptr<TRandomNumberGenerator> Random;
  std::unique_ptr<TImpulse> Impulse;
  THydra* Scene = nullptr;
  double AirBandBase[kBandCount] = {};
  double AirBroadbandBase = 1.0;
  std::vector<TWallSegment> WallTable;
  int32_t GroupIndex = 0;
  // Threads of the run (ConfiguredThreadCount unless a test sets it).
  int32_t Threads = 1;
  // Wall hits followed during the last Run: a measure of the work done.
  int64_t SegmentCount = 0;

 private:
  struct TRun;
  bool TraceEmitter(TRun& run, TEmitter& emitter);
  // False when the host asked to stop during the ray.
  bool TraceRay(TRun& run);
  static bool AbortRequested(const TRun& run);
  static void DirectionOf(double angle, double& cosine, double& sine);

  // Rays that reflect without scatter come back to the same few angles
  // over and over (four in a rectangular room); their cosine and sine, a
  // good part of the time a ray takes, are then looked up rather than
  // computed again. Keyed by the angle's bits, so a lookup gives exactly
  // what DirectionOf gives.
  class TDirectionMemory {
   public:
    TDirectionMemory();
    void Direction(double angle, double& cosine, double& sine);

   private:
    static constexpr int kEntries = 4;
    uint64_t angles_[kEntries];
    double cosines_[kEntries], sines_[kEntries];
    int32_t next_ = 0;
  };
  void SetDirectivity(TRayState& ray, const TWall& wall) const;
  // Both return false when an arrival was not finite: the ray ends there.
  bool RecordDirect(TRun& run, const TWall& wall, double d, double dt);
  bool RecordReflection(TRun& run, const TWall& wall, double d, double dt);
  // The air over the whole path of a ray to a receiver `d` metres on: the
  // band factors into group.Air, the ray's band gains with them into
  // group.Gains; returns the broadband factor.
  double AirAlongPath(const TRayState& ray, double d, TArrivalGroup& group) const;
  // Whether the group's own arrival is finite; a runaway material can
  // overflow it, and such an arrival ends the ray.
  static bool Finite(const TArrivalGroup& group);
  // Power(AirBandBase[b] or AirBroadbandBase, e) with the logarithm of the
  // base taken once per run.
  struct TAirBase {
    double Base;
    double Log;
    double PowerOf(double e) const;
  };
  TAirBase airBand_[kBandCount] = {};
  TAirBase airBroadband_ = {};

  // The tracer's draws in their order, one taken from the generator ahead:
  // the hit test works out the next reflection with the draw that it will
  // take before the wall is known. (The generator serves nothing else.)
  class TDrawAhead {
   public:
    TDrawAhead() = default;
    explicit TDrawAhead(TRandomNumberGenerator& random) : random_(&random), next_(random.Next()) {}
    double Peek() const { return next_; }
    double Take() {
      const double draw = next_;
      next_ = random_->Next();
      return draw;
    }

   private:
    TRandomNumberGenerator* random_ = nullptr;
    double next_ = 0.0;
  };

  // Everything one Run works with, made afresh by each Run and passed down
  // to every step of it.
  struct TRun {
    TRun(TAccumulator& accumulator, TRandomNumberGenerator& random, const uint8_t* abortFlag,
         TProgressCallback progress, void* userData, int32_t total)
        : Accumulator(accumulator),
          Draws(random),
          AbortFlag(abortFlag),
          Progress(progress),
          UserData(userData),
          Total(total) {}

    TAccumulator& Accumulator;
    TDrawAhead Draws;
    TDirectionMemory Directions;
    TRayState Ray = {};
    const uint8_t* AbortFlag;
    TProgressCallback Progress;
    void* UserData;
    int32_t Total;     // rays of the group
    int64_t Done = 0;  // rays traced so far
  };

  std::unique_ptr<TWallScan> wallScan_;
};

}  // namespace zm
