#include "fast/fast_tracer.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <numbers>
#include <system_error>
#include <thread>

#include "fast/fast_math.h"
#include "scene/emitter.h"
#include "scene/hydra.h"
#include "scene/material_list.h"
#include "scene/wall.h"
#include "support/exception.h"
#include "support/power.h"
#include "support/random.h"
#include "support/simd_path.h"
#include "support/thread_count.h"

namespace zm::fast {

namespace {

constexpr int32_t kProgressInterval = 512;
constexpr double kPi = std::numbers::pi;
constexpr double kAirUnitsPerMetre = 1.0 / ZM_AIR_UNIT_METRES;
// The variance of a Lambert reflection's angle from the normal, pi^2/4 - 2:
// a uniform blur of width Scatter has the variance Scatter^2 / 12.
constexpr double kLambertVariance = std::numbers::pi * std::numbers::pi / 4 - 2;

bool AbortRequested(const uint8_t* abortFlag) {
  // The host may set the byte from another thread at any time.
  return abortFlag != nullptr && __atomic_load_n(abortFlag, __ATOMIC_RELAXED) != 0;
}

}  // namespace

double ScatterProbabilityOf(double scatter) {
  return std::min(1.0, scatter * scatter / (12 * kLambertVariance));
}

struct TFastTracer::TRay {
  double Amplitude;
  double X, Y;
  double DX, DY;  // unit direction
  double Time, Distance;
  double Normalisation, Directivity;
  double BandGain[kBandCount], PreviousBandGain[kBandCount];
  int32_t LastWall;
  int32_t Reflections;      // walls, floor and ceiling; pass-through hits do not count
  int32_t WallReflections;  // walls alone
  int32_t HitsToAbortCheck;
  int32_t StalledHits;  // hits in a row that did not advance its time
  // With a height: the elevation's sine and cosine and the height above
  // the floor; the plan's own time, distance, amplitude and band gains,
  // which the direct sound takes until the first wall reflection.
  double SinE, CosE, Z;
  double PlanTime, PlanDistance, PlanAmplitude, PlanBandGain[kBandCount];
  TRayStream Stream;
};

// The rays of one share in flight, one per lane, with their scan's and
// their reflections' lanes. The reflections are done together after the
// lanes' steps: the rotation by the blur is the longest chain of a hit,
// and the lanes' chains are independent.
struct TFastTracer::TLanes {
  TLaneRays Scan;
  TRay Rays[kScanLanes];
  bool Busy[kScanLanes] = {};
  TLaneReflections Reflections{};
  bool Reflecting[kScanLanes] = {};
};

struct TFastTracer::TShare {
  TBandStreams Streams;
  double FirstDirect = kNoArrivalTime, FirstReflection = kNoArrivalTime;
  int64_t Rays = 0, WallHits = 0, SurfaceHits = 0;
};

struct TFastTracer::TRun {
  const uint8_t* AbortFlag = nullptr;
  TProgressCallback Progress = nullptr;
  void* UserData = nullptr;
  int64_t Total = 0;
  std::vector<TShare> Shares;
  std::atomic<int32_t> NextShare{0};
  std::atomic<int64_t> Done{0};
  std::atomic<bool> Stop{false};
  std::atomic<bool> Aborted{false};
  std::mutex Mutex;
  std::condition_variable Changed;
  std::exception_ptr Failure;
  int64_t Reported = 0;  // the next multiple of the interval to report

  // On the calling thread only: reports every multiple of the interval
  // below the total that the rays done have reached, each followed by a
  // read of the abort byte. False once the host asked to stop.
  bool Report() {
    while (Reported < Total && Reported <= Done.load()) {
      if (Progress != nullptr) {
        Progress(static_cast<int32_t>(Reported), static_cast<int32_t>(Total), UserData);
      }
      Reported += kProgressInterval;
      if (AbortRequested(AbortFlag)) {
        Aborted = true;
        Stop = true;
        return false;
      }
    }
    return true;
  }

  void Fail(std::exception_ptr failure) {
    std::lock_guard<std::mutex> lock(Mutex);
    if (!Failure) Failure = failure;
    Stop = true;
  }
};

double TFastTracer::TAir::PowerOf(double e) const {
  // Power's rules, with ln(Base) taken once.
  if (Base == 1.0 && std::isfinite(e)) return 1.0;
  if (Base == 0.0) {
    if (e == 0.0) throw EInvalidOp();
    return 0.0;
  }
  if (e == 0.0) return 1.0;
  if (Base < 0.0) throw EInvalidOp();
  return Exp(e * Log);
}

TFastTracer::TFastTracer(THydra& scene, int32_t groupIndex, const TRoomHeight* height)
    : scene_(&scene), group_(groupIndex) {
  const TOptions& options = *scene.Options;
  // Rays take their own streams, but a seed the exact tracer refuses is
  // refused here too, with its message.
  TRandomNumberGenerator(options.RandomSeed % 31000, options.RandomSeed / 31000);
  Threads = ConfiguredThreadCount();
  Impulse = std::make_unique<TImpulse>(scene, Threads, false);
  shaper_ = std::make_unique<TBandShaper>(*Impulse);
  if (height != nullptr) {
    hasHeight_ = true;
    height_ = *height;
  }

  const TMaterialListItem key{std::string(ZM_AIR_MATERIAL_NAME)};
  const TMaterialListItem* air = scene.Materials ? scene.Materials->Search(key) : nullptr;
  double bandBase[kBandCount], broadbandBase;
  if (air != nullptr) {
    for (int b = 0; b < kBandCount; ++b) bandBase[b] = air->Material->BandFactors[b];
    broadbandBase = air->Material->Reflection;
  } else {
    for (double& base : bandBase) base = 1.0;
    broadbandBase = AirFactorPerUnit(options.AirAttenuation);
  }
  for (int b = 0; b < kBandCount; ++b) airBand_[b] = TAir{bandBase[b], std::log(bandBase[b])};
  airBroadband_ = TAir{broadbandBase, std::log(broadbandBase)};

  // Padded to whole vectors of the widest path, so that every path tests
  // the same lanes.
  constexpr int32_t kPad = 8;
  lanes_.Count = (scene.WallCount + kPad - 1) / kPad * kPad;
  for (std::vector<double>* field : {&lanes_.X1, &lanes_.Y1, &lanes_.DX, &lanes_.DY}) {
    field->assign(static_cast<size_t>(lanes_.Count), 0.0);
  }
  for (int32_t i = 0; i < scene.WallCount; ++i) {
    const TWall& wall = *scene.Walls[i];
    const double dx = wall.X2 - wall.X1, dy = wall.Y2 - wall.Y1;
    lanes_.X1[i] = wall.X1;
    lanes_.Y1[i] = wall.Y1;
    lanes_.DX[i] = dx;
    lanes_.DY[i] = dy;
    const double length = std::sqrt(dx * dx + dy * dy);
    TWallFacts facts{};
    facts.Wall = &wall;
    facts.TX = length > 0.0 ? dx / length : 1.0;
    facts.TY = length > 0.0 ? dy / length : 0.0;
    facts.Scatter = wall.Material ? wall.Material->Scatter : 0.0;
    facts.ScatterProbability = ScatterProbabilityOf(facts.Scatter);
    facts.MidX = wall.MidX;
    facts.MidY = wall.MidY;
    facts.Reflection = wall.Material ? wall.Material->Reflection : 0.0;
    for (int b = 0; b < kBandCount; ++b) {
      facts.BandFactors[b] = wall.Material ? wall.Material->BandFactors[b] : 0.0;
    }
    facts.Receiver = wall.Receiver;
    facts.PassThrough = wall.PassThrough;
    walls_.push_back(facts);
  }
  wallCount_ = scene.WallCount;
  laneScan_ = LaneScanFor(ActiveSimdPath());
  laneReflect_ = LaneReflectFor(ActiveSimdPath());

  for (int32_t e = 0; e < scene.EmitterCount; ++e) {
    const TEmitter& emitter = *scene.Emitters[e];
    if (emitter.Group != group_ || emitter.RayCount <= 0) continue;
    const double n = emitter.RayCount;
    const double log2n = std::log(n) / std::log(2.0);
    const double normalisation =
        Power(10.0, -0.15 * (log2n - static_cast<double>(options.DirectSoundLevel)));
    sources_.push_back(TSource{&emitter, total_, e, normalisation});
    total_ += emitter.RayCount;
  }
}

TFastTracer::~TFastTracer() = default;

bool TFastTracer::Run(uint8_t* abortFlag, TProgressCallback progress, void* userData) {
  // Refuses a total the progress count cannot hold, as the exact tracer.
  scene_->GroupRayTotal(group_);
  TRun run;
  run.AbortFlag = abortFlag;
  run.Progress = progress;
  run.UserData = userData;
  run.Total = total_;
  run.Shares.resize(kShares);

  auto work = [this, &run](bool caller) {
    try {
      for (;;) {
        if (caller && !run.Report()) return;
        if (run.Stop) return;
        const int32_t share = run.NextShare++;
        if (share >= kShares) return;
        TraceShare(run, share, caller);
      }
    } catch (...) {
      run.Fail(std::current_exception());
    }
  };
  std::vector<std::thread> helpers;
  const int32_t threads = std::min(Threads, kShares);
  for (int32_t t = 1; t < threads; ++t) {
    try {
      helpers.emplace_back(work, false);
    } catch (const std::system_error&) {
      break;  // the system has no thread to spare: the others share the rest
    }
  }
  // The caller traces too; what remains of its time goes to reporting.
  work(true);
  {
    std::unique_lock<std::mutex> lock(run.Mutex);
    while (!run.Stop && run.Done.load() < run.Total) {
      lock.unlock();
      run.Report();
      lock.lock();
      if (run.Stop) break;
      run.Changed.wait_for(lock, std::chrono::milliseconds(5));
    }
  }
  for (std::thread& helper : helpers) helper.join();
  if (run.Failure) std::rethrow_exception(run.Failure);
  if (!run.Aborted) run.Report();
  if (run.Aborted) return false;

  RayCount = WallHits = SurfaceHits = 0;
  std::vector<TBandStreams> streams;
  for (TShare& share : run.Shares) {
    Impulse->FirstDirectTime = std::min(Impulse->FirstDirectTime, share.FirstDirect);
    Impulse->FirstReflectionTime = std::min(Impulse->FirstReflectionTime, share.FirstReflection);
    RayCount += share.Rays;
    WallHits += share.WallHits;
    SurfaceHits += share.SurfaceHits;
    streams.push_back(std::move(share.Streams));
  }
  shaper_->Render(streams, *Impulse, Threads);
  return true;
}

void TFastTracer::TraceShare(TRun& run, int32_t shareIndex, bool caller) const {
  TShare& share = run.Shares[static_cast<size_t>(shareIndex)];
  TLanes lanes{};
  size_t source = 0;
  for (int64_t first = int64_t{shareIndex} * kProgressInterval; first < total_;
       first += int64_t{kShares} * kProgressInterval) {
    if (run.Stop) return;
    const int64_t last = std::min(first + kProgressInterval, total_);
    if (!TraceBlock(run, share, lanes, first, last, source)) return;
    share.Rays += last - first;
    run.Done += last - first;
    run.Changed.notify_all();
    // The caller reports between its own blocks too, so that the host sees
    // progress, and its abort byte is read, every 512 rays of the run.
    if (caller && !run.Report()) return;
  }
}

bool TFastTracer::TraceBlock(TRun& run, TShare& share, TLanes& lanes, int64_t first, int64_t last,
                             size_t& source) const {
  // Eight rays at a time, whatever the path: each step finds the next wall
  // of all of them in one scan, then carries each over its hit; a lane
  // whose ray ended takes the block's next ray. Rays are independent, so
  // the processor works on several at once instead of waiting on one.
  int64_t next = first;
  // Starts the block's next ray that does not end at once in `lane`.
  auto refill = [&](int lane) {
    lanes.Busy[lane] = false;
    while (!lanes.Busy[lane] && next < last) {
      while (next >= sources_[source].FirstRay + sources_[source].Emitter->RayCount) ++source;
      const TSource& from = sources_[source];
      lanes.Busy[lane] =
          StartRay(lanes.Rays[lane], from, static_cast<int32_t>(next - from.FirstRay));
      ++next;
    }
  };
  int active = 0;
  for (int lane = 0; lane < kScanLanes; ++lane) {
    refill(lane);
    active += lanes.Busy[lane];
  }
  while (active > 0) {
    for (int lane = 0; lane < kScanLanes; ++lane) {
      const TRay& ray = lanes.Rays[lane];
      const bool busy = lanes.Busy[lane];
      lanes.Scan.X[lane] = busy ? ray.X : 0.0;
      lanes.Scan.Y[lane] = busy ? ray.Y : 0.0;
      lanes.Scan.DX[lane] = busy ? ray.DX : 0.0;
      lanes.Scan.DY[lane] = busy ? ray.DY : 0.0;
      lanes.Scan.Last[lane] = ray.LastWall;
    }
    laneScan_(lanes_, wallCount_, lanes.Scan);
    bool anyReflecting = false;
    for (int lane = 0; lane < kScanLanes; ++lane) {
      bool& reflecting = lanes.Reflecting[lane];
      reflecting = false;
      if (!lanes.Busy[lane]) continue;
      const TFastHit hit{static_cast<int32_t>(lanes.Scan.Index[lane]), lanes.Scan.Distance[lane],
                         lanes.Scan.U[lane]};
      const TStep step =
          Step(run, share, lanes.Rays[lane], hit, lanes.Reflections, lane, reflecting);
      if (step == TStep::Stop) {
        run.Aborted = true;
        run.Stop = true;
        run.Changed.notify_all();
        return false;
      }
      if (step == TStep::Ended) {
        reflecting = false;
        refill(lane);
        active -= !lanes.Busy[lane];
      }
      anyReflecting = anyReflecting || reflecting;
    }
    if (anyReflecting) {
      laneReflect_(lanes.Reflections);
      for (int lane = 0; lane < kScanLanes; ++lane) {
        if (!lanes.Reflecting[lane]) continue;
        lanes.Rays[lane].DX = lanes.Reflections.DX[lane];
        lanes.Rays[lane].DY = lanes.Reflections.DY[lane];
      }
    }
  }
  return true;
}

bool TFastTracer::StartRay(TRay& ray, const TSource& source, int32_t index) const {
  const TOptions& options = *scene_->Options;
  const TEmitter& emitter = *source.Emitter;
  const int32_t n = emitter.RayCount;
  ray.Stream = TRayStream(static_cast<uint64_t>(options.RandomSeed),
                          static_cast<uint64_t>(source.Index), static_cast<uint64_t>(index));
  double theta;
  if (emitter.RandomDirections) {
    theta = (ray.Stream.Next() - 0.5) * emitter.Spread + emitter.Direction;
  } else {
    // A single evenly spaced ray takes the middle of the fan.
    const double u = n == 1 ? 0.5 : static_cast<double>(index) / static_cast<double>(n - 1);
    theta = (u - 0.5) * emitter.Spread + emitter.Direction;
  }
  ray.Amplitude = ray.Stream.Next() < 0.5 ? 1.0 : -1.0;
  ray.X = emitter.X;
  ray.Y = emitter.Y;
  SinCos(theta, ray.DY, ray.DX);
  ray.Time = 0.0;
  ray.Distance = 0.0;
  ray.Normalisation = source.Normalisation;
  ray.Directivity = 0.0;
  for (int b = 0; b < kBandCount; ++b) ray.BandGain[b] = ray.PreviousBandGain[b] = 1.0;
  ray.LastWall = -1;
  ray.Reflections = ray.WallReflections = 0;
  ray.HitsToAbortCheck = kAbortCheckHits;
  ray.StalledHits = 0;
  if (hasHeight_) {
    ray.SinE = 2.0 * ray.Stream.Next() - 1.0;
    ray.CosE = std::sqrt(std::max(0.0, 1.0 - ray.SinE * ray.SinE));
    ray.Z = 0.5 * height_.Height;
    ray.PlanTime = ray.PlanDistance = 0.0;
    ray.PlanAmplitude = ray.Amplitude;
    for (double& gain : ray.PlanBandGain) gain = 1.0;
  }
  return !(options.MinAmplitude > std::fabs(ray.Amplitude));
}

TFastTracer::TStep TFastTracer::CrossSurfaces(TRun& run, TShare& share, TRay& ray, double planD,
                                              double& d) const {
  const TOptions& options = *scene_->Options;
  const double minAmplitude = options.MinAmplitude;
  const double impulseLength = options.ImpulseLength;
  const double speed = options.SpeedOfSound;
  const double height = height_.Height;
  double left = planD;
  d = 0.0;
  for (;;) {
    const double up = ray.SinE;
    const double toSurface = up > 0.0   ? (height - ray.Z) / up
                             : up < 0.0 ? ray.Z / (0.0 - up)
                                        : HUGE_VAL;
    const double planToSurface = toSurface * ray.CosE;
    if (!(planToSurface < left)) {
      const double rest = ray.CosE > 0.0 ? left / ray.CosE : 0.0;
      ray.Z = std::clamp(ray.Z + rest * up, 0.0, height);
      d = d + rest;
      return TStep::Go;
    }
    d = d + toSurface;
    left = left - planToSurface;
    const int surface = up > 0.0 ? 1 : 0;
    ray.Z = surface == 1 ? height : 0.0;
    ++share.SurfaceHits;
    if (--ray.HitsToAbortCheck == 0) {
      if (AbortRequested(run.AbortFlag) || run.Stop) return TStep::Stop;
      ray.HitsToAbortCheck = kAbortCheckHits;
    }
    if (!(ray.Time + d / speed < impulseLength)) return TStep::Ended;
    ray.Amplitude = ray.Amplitude * height_.Reflection[surface];
    for (int b = 0; b < kBandCount; ++b) {
      ray.PreviousBandGain[b] = ray.BandGain[b];
      ray.BandGain[b] = ray.BandGain[b] * height_.BandFactors[surface][b];
    }
    ++ray.Reflections;
    if (minAmplitude > std::fabs(ray.Amplitude)) return TStep::Ended;
    if (ray.Stream.Next() < height_.ScatterProbability[surface]) {
      // Lambert: the sine of the elevation away from the surface is the
      // square root of a uniform draw.
      const double s = std::sqrt(ray.Stream.Next());
      ray.SinE = surface == 0 ? s : 0.0 - s;
    } else {
      ray.SinE = 0.0 - ray.SinE;
    }
    ray.CosE = std::sqrt(std::max(0.0, 1.0 - ray.SinE * ray.SinE));
  }
}

TFastTracer::TStep TFastTracer::Step(TRun& run, TShare& share, TRay& ray, const TFastHit& hit,
                                     TLaneReflections& reflections, int lane,
                                     bool& reflecting) const {
  const TOptions& options = *scene_->Options;
  const double minAmplitude = options.MinAmplitude;
  const double impulseLength = options.ImpulseLength;
  const double speed = options.SpeedOfSound;
  if (hit.Index < 0) return TStep::Ended;
  const TWallFacts& facts = walls_[static_cast<size_t>(hit.Index)];
  const TWall& wall = *facts.Wall;
  ++share.WallHits;
  if (--ray.HitsToAbortCheck == 0) {
    if (AbortRequested(run.AbortFlag) || run.Stop) return TStep::Stop;
    ray.HitsToAbortCheck = kAbortCheckHits;
  }
  // Timed to the wall's midpoint, not to the hit point.
  const double mx = ray.X - facts.MidX;
  const double my = ray.Y - facts.MidY;
  const double planD = std::sqrt(mx * mx + my * my);
  double d = planD;
  if (hasHeight_) {
    const TStep crossed = CrossSurfaces(run, share, ray, planD, d);
    if (crossed != TStep::Go) return crossed;
  }
  const double dt = d / speed;
  // Written as "not before the end" so that a NaN time also ends the ray.
  if (!(ray.Time + dt < impulseLength)) return TStep::Ended;
  if (ray.Time + dt > ray.Time) {
    ray.StalledHits = 0;
  } else if (++ray.StalledHits > kMaxStalledHits) {
    return TStep::Ended;
  }

  if (facts.Receiver) {
    const double w = wall.PatternWeight;
    // The sine of the angle from the wall's direction to the ray's.
    ray.Directivity = (1.0 - w) + w * (facts.TX * ray.DY - facts.TY * ray.DX);
    if (!Record(share, ray, wall, planD, d)) return TStep::Ended;
  }

  ray.Time = ray.Time + dt;
  ray.Distance = ray.Distance + d;
  ray.LastWall = hit.Index;
  if (hasHeight_ && ray.WallReflections == 0) {
    ray.PlanTime = ray.PlanTime + planD / speed;
    ray.PlanDistance = ray.PlanDistance + planD;
    ray.PlanAmplitude = ray.PlanAmplitude * facts.Reflection;
    for (int b = 0; b < kBandCount; ++b) {
      ray.PlanBandGain[b] = ray.PlanBandGain[b] * facts.BandFactors[b];
    }
  }
  ray.Amplitude = ray.Amplitude * facts.Reflection;
  for (int b = 0; b < kBandCount; ++b) {
    ray.PreviousBandGain[b] = ray.BandGain[b];
    ray.BandGain[b] = ray.BandGain[b] * facts.BandFactors[b];
  }
  const size_t at = static_cast<size_t>(hit.Index);
  ray.X = lanes_.X1[at] + lanes_.DX[at] * hit.U;
  ray.Y = lanes_.Y1[at] + lanes_.DY[at] * hit.U;
  if (!facts.PassThrough) {
    BeginReflection(ray, facts, reflections, lane);
    reflecting = true;
  }
  return minAmplitude > std::fabs(ray.Amplitude) ? TStep::Ended : TStep::Go;
}

void TFastTracer::BeginReflection(TRay& ray, const TWallFacts& facts, TLaneReflections& reflections,
                                  int lane) const {
  ++ray.Reflections;
  ++ray.WallReflections;
  // The lane reflection's inputs; TraceBlock turns the direction, nothing
  // here reads it again.
  reflections.DX[lane] = ray.DX;
  reflections.DY[lane] = ray.DY;
  reflections.TX[lane] = facts.TX;
  reflections.TY[lane] = facts.TY;
  reflections.Scatter[lane] = facts.Scatter;
  reflections.Draw[lane] = ray.Stream.Next();
  if (hasHeight_ && ray.Stream.Next() < facts.ScatterProbability) {
    // Scattered off a vertical wall: the elevation of a Lambert
    // reflection about the wall's normal, sin(angle from the normal)
    // times the sine of a uniform turn about it.
    const double fromNormal = std::sqrt(1.0 - ray.Stream.Next());
    ray.SinE = fromNormal * Sin(2.0 * kPi * ray.Stream.Next());
    ray.CosE = std::sqrt(std::max(0.0, 1.0 - ray.SinE * ray.SinE));
  }
}

double TFastTracer::AirAlongPath(double distance, double* air) const {
  const double e = distance * kAirUnitsPerMetre;
  for (int b = 0; b < kBandCount; ++b) air[b] = airBand_[b].PowerOf(e);
  return airBroadband_.PowerOf(e);
}

bool TFastTracer::Record(TShare& share, TRay& ray, const TWall& wall, double planD,
                         double d) const {
  const TOptions& options = *scene_->Options;
  const double speed = options.SpeedOfSound;
  double air[kBandCount], gains[kBandCount];
  auto finite = [&](double amplitude) {
    bool ok = std::isfinite(amplitude);
    for (int b = 0; b < kBandCount; ++b) ok = ok && std::isfinite(gains[b]);
    return ok;
  };

  if (ray.WallReflections == 0) {
    // The direct sound, as in the plan room.
    const double time = hasHeight_ ? ray.PlanTime + planD / speed : ray.Time + d / speed;
    if (share.FirstDirect > time) share.FirstDirect = time;
    if (options.DirectSoundLevel != 0) {
      const double distance = hasHeight_ ? ray.PlanDistance + planD : ray.Distance + d;
      const double amplitude = hasHeight_ ? ray.PlanAmplitude : ray.Amplitude;
      const double* bandGain = hasHeight_ ? ray.PlanBandGain : ray.BandGain;
      const double broadband = AirAlongPath(distance, air);
      for (int b = 0; b < kBandCount; ++b) gains[b] = bandGain[b] * air[b];
      // The absolute value drops the ray's random sign so that all direct
      // rays add up in phase; the directivity may still turn it negative.
      const double value =
          std::fabs(amplitude * wall.Gain * broadband) * ray.Normalisation * ray.Directivity;
      if (!finite(value)) return false;
      shaper_->Add(share.Streams, time, value, gains, wall.Channel, true);
    }
    // A ray that met no floor or ceiling on the way has no other arrival.
    if (ray.Reflections == 0) return true;
  }

  const double dt = d / speed;
  const double time = ray.Time + dt;
  if (share.FirstReflection > time) share.FirstReflection = time;
  const double broadband = AirAlongPath(ray.Distance + d, air);
  for (int b = 0; b < kBandCount; ++b) gains[b] = ray.BandGain[b] * air[b];
  const double value = ray.Amplitude * wall.Gain * broadband * ray.Directivity;
  if (!finite(value)) return false;
  shaper_->Add(share.Streams, time, value, gains, wall.Channel, ray.Reflections <= 2);
  if (ray.Reflections <= 2) return true;

  // From the third reflection on, diffuse arrivals along the last segment:
  // growing with f, signs alternating from minus, band gains blended from
  // before to after the last hit. One whose gains are not finite ends the
  // ray; the ones before it still count.
  const int32_t divisions = options.SubArrivals;
  for (int32_t j = 0; j < divisions; ++j) {
    const double f = (j + 0.5) / divisions;
    for (int b = 0; b < kBandCount; ++b) {
      gains[b] =
          ((ray.BandGain[b] - ray.PreviousBandGain[b]) * f + ray.PreviousBandGain[b]) * air[b];
    }
    const double sign = (j % 2 == 0) ? -1.0 : 1.0;
    const double spread = value * f * sign;
    if (!finite(spread)) return false;
    shaper_->Add(share.Streams, ray.Time + dt * f, spread, gains, wall.Channel, false);
  }
  return true;
}

}  // namespace zm::fast
