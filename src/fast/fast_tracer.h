// Fast mode's tracer: the room of the exact tracer (tracer/tracer.h), the
// same rays and stopping rule, traced for speed rather than for the exact
// path's bytes. Each ray draws from a random stream of its own, so rays are
// independent and run on every core; the directions' sines and cosines and
// the air's exponentials are this layer's own polynomials; the arrivals go
// through the band shaper (band_shaper.h). The same design, seed and height
// give the same bytes for any thread count and SIMD path.
//
// With a height the plan is a room extruded between a flat floor and
// ceiling. Each ray gets an elevation drawn from the diffuse (uniform on the
// sphere) distribution and crosses the plan at c cos(elevation); it meets
// floor and ceiling every H / (c |sin(elevation)|) seconds, losing their
// reflection and band factors, and leaves a floor or ceiling hit in a new
// elevation (cosine-distributed away from the surface) with the surface's
// scattering probability, else mirrored. Walls are vertical: they mirror or
// blur the plan direction as in the plan room and keep the elevation, but
// one that scatters draws, with its scattering probability, the elevation
// of a Lambert reflection about its normal (without that, rays that leave
// near the horizontal never meet floor or ceiling and ring on between the
// walls). With specular walls, floor and ceiling this is exact ray tracing
// of the extruded room. Times and air follow the path in 3D. A floor or
// ceiling's scattering probability is read from its Scatter as the design
// tool maps a scattering coefficient onto a wall's blur (TRoomHeight), so
// the coefficient comes back unchanged. Emitters stand at half the
// height; a receiver wall is a strip from floor to ceiling that hears every
// ray crossing it. The listening point is taken at the emitter's height,
// so the direct sound is the plan's: a ray that meets a receiver before any
// wall reflection adds the direct arrival of the plan room (horizontal
// path, no floor or ceiling loss); one that met the floor or ceiling on the
// way adds, besides, its own arrival as a reflection.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "fast/band_shaper.h"
#include "fast/wall_scan.h"
#include "impulse/impulse.h"
#include "scene/options.h"
#include "zm/zm.h"

namespace zm {
class THydra;
class TWall;
class TEmitter;
}  // namespace zm

namespace zm::fast {

// Floor (0) and ceiling (1) of a room with height.
struct TRoomHeight {
  double Height = 0;  // m, finite and above 0
  double Reflection[2] = {};
  double BandFactors[2][kBandCount] = {};
  // The chance that a hit draws a new elevation: the material's Scatter
  // (a blur angle for walls) read as the scattering coefficient whose
  // blur has the same variance as a Lambert reflection's angle, as the
  // design tool converts one into the other, up to 1.
  double ScatterProbability[2] = {};
};

// Scattering probability from a material's Scatter angle (see TRoomHeight).
double ScatterProbabilityOf(double scatter);

class TFastTracer {
 public:
  // The scene must outlive the tracer; `height` null traces the plan.
  TFastTracer(THydra& scene, int32_t groupIndex, const TRoomHeight* height);
  ~TFastTracer();

  TFastTracer(const TFastTracer&) = delete;
  TFastTracer& operator=(const TFastTracer&) = delete;

  // Traces every ray of every emitter of the group and leaves the impulse
  // ready to render. Progress comes as from TTracer::Run: on the calling
  // thread, for done = 0, 512, 1024, ... below the group's ray total, in
  // order, each followed by a read of the abort byte; false as soon as it
  // is nonzero (also when seen inside a ray, every kAbortCheckHits hits).
  bool Run(uint8_t* abortFlag, TProgressCallback progress, void* userData);

  static constexpr int32_t kAbortCheckHits = 65536;
  static constexpr int32_t kMaxStalledHits = 10000;
  // Rays are dealt in blocks of the progress interval to this many shares,
  // block k to share k mod kShares; each share has its own band streams,
  // summed in share order. A thread traces whole shares, so the sums do not
  // depend on how many threads there are. Two: one per core of the
  // machines this serves; each share's streams take several megabytes.
  static constexpr int32_t kShares = 2;

  std::unique_ptr<TImpulse> Impulse;
  int32_t Threads = 1;
  // Rays traced, wall hits and floor or ceiling hits in the last Run.
  int64_t RayCount = 0, WallHits = 0, SurfaceHits = 0;

 private:
  struct TRay;
  struct TShare;
  struct TSource {  // one emitter of the group that sends rays
    const TEmitter* Emitter;
    int64_t FirstRay;  // global index of its ray 0
    int32_t Index;     // its entry in the scene's emitters, for the stream
    double Normalisation;
  };
  struct TAir {
    double Base, Log;
    double PowerOf(double e) const;
  };
  struct TRun;
  struct TWallFacts;

  enum class TStep { Go, Ended, Stop };  // Stop: the host asked to stop
  struct TLanes;                         // one share's rays in flight, one per lane
  // `caller`: the thread that reports progress and reads the abort byte.
  void TraceShare(TRun& run, int32_t share, bool caller) const;
  // Rays first .. last - 1 (of sources_ from `source` on, which it
  // advances); false when the host asked to stop.
  bool TraceBlock(TRun& run, TShare& share, TLanes& lanes, int64_t first, int64_t last,
                  size_t& source) const;
  // Starts ray `index` of `source`; false when it ends before its first
  // segment.
  bool StartRay(TRay& ray, const TSource& source, int32_t index) const;
  // Carries the ray over its next hit (none: Index -1). A wall that
  // reflects it leaves the reflection to do in lane `lane` of
  // `reflections`, and `reflecting` set.
  TStep Step(TRun& run, TShare& share, TRay& ray, const TFastHit& hit,
             TLaneReflections& reflections, int lane, bool& reflecting) const;
  // Counts a wall reflection and leaves the turn of the ray's direction to
  // lane `lane` of `reflections`; with a height, may draw a new elevation.
  void BeginReflection(TRay& ray, const TWallFacts& facts, TLaneReflections& reflections,
                       int lane) const;
  // With a height: the 3D length `d` of the plan's `planD` metres at the
  // ray's elevation, through every floor and ceiling hit on the way, at
  // any of which the ray may end.
  TStep CrossSurfaces(TRun& run, TShare& share, TRay& ray, double planD, double& d) const;
  bool Record(TShare& share, TRay& ray, const TWall& wall, double d, double dt) const;
  double AirAlongPath(double distance, double* air) const;

  THydra* scene_;
  int32_t group_;
  bool hasHeight_ = false;
  TRoomHeight height_;
  struct TWallFacts {  // what a hit needs of a wall beyond the scan's lanes
    const TWall* Wall;
    double TX, TY;  // unit direction from its first end point to its second
    double Scatter;
    double ScatterProbability;  // with a height: of drawing a new elevation
    // The wall's and its material's, side by side for the hit step.
    double MidX, MidY;
    double Reflection;
    double BandFactors[kBandCount];
    bool Receiver, PassThrough;
  };
  TFastWalls lanes_;
  std::vector<TWallFacts> walls_;
  int32_t wallCount_ = 0;
  TLaneScan laneScan_ = nullptr;
  TLaneReflect laneReflect_ = nullptr;
  std::unique_ptr<TBandShaper> shaper_;
  TAir airBand_[kBandCount] = {};
  TAir airBroadband_ = {};
  std::vector<TSource> sources_;
  int64_t total_ = 0;
};

}  // namespace zm::fast
