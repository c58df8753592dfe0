// The library's uniform random numbers: the lagged Fibonacci generator of
// Marsaglia and Zaman (97 lags combined with an arithmetic sequence). Every
// value it stores or returns is a whole multiple of 2^-24, so double
// arithmetic computes it exactly and a pair of seeds gives the same sequence
// on every machine.
#pragma once

#include <cstdint>
#include <mutex>

#include "support/exception.h"

namespace zm {

namespace msg::random {
inline constexpr MessageText sParametersOutOfRange{
    "Random number generator parameters out of range"};
}  // namespace msg::random

class TRandomNumberGenerator {
 public:
  static constexpr int32_t kMaxSeed1 = 31328;
  static constexpr int32_t kMaxSeed2 = 30081;

  // Throws ERangeError when a seed is out of range.
  TRandomNumberGenerator(int32_t seed1, int32_t seed2);

  // Restarts the sequence. Out-of-range seeds throw ERangeError and leave the
  // generator exactly as it was.
  void SetSeeds(int32_t seed1, int32_t seed2);

  // The next number, 0 <= result < 1 (0 is possible, 1 is not).
  double Next() {
    double u = Table[I] - Table[J];
    if (u < 0.0) u = u + 1.0;
    Table[I] = u;
    if (--I < 0) I = 96;
    if (--J < 0) J = 96;
    Carry = Carry - kCarryStep;
    if (Carry < 0.0) Carry = Carry + kCarryWrap;
    u = u - Carry;
    if (u < 0.0) u = u + 1.0;
    return u;
  }

  int32_t Seed1 = 0;
  int32_t Seed2 = 0;
  double Carry = 0.0;
  double Table[97] = {};
  int32_t I = 96;
  int32_t J = 32;

 private:
  static constexpr double kCarryStep = 7654321.0 / 16777216.0;
  static constexpr double kCarryWrap = 16777213.0 / 16777216.0;
};

// The generator shared by the whole library (the output dither draws from
// it). It is seeded once per library load from the clock, so its sequence
// runs on from call to call and differs between runs; a mutex keeps host
// threads that render at the same time from corrupting it.
//
// Hold a SharedRandomLock for a whole batch of draws (for example the seven
// numbers per sample of one channel conversion) instead of locking per draw:
//
//   SharedRandomLock lock;
//   TRandomNumberGenerator& random = lock.Generator();
//   for (...) x = random.Next();
//
// Do not keep the reference beyond the lock's lifetime, and do not take a
// second lock (or call SharedRandomNext) on the same thread while one is
// held: the mutex is not recursive.
class SharedRandomLock {
 public:
  SharedRandomLock();
  ~SharedRandomLock();
  SharedRandomLock(const SharedRandomLock&) = delete;
  SharedRandomLock& operator=(const SharedRandomLock&) = delete;

  TRandomNumberGenerator& Generator() { return *generator_; }

 private:
  std::unique_lock<std::mutex> lock_;
  TRandomNumberGenerator* generator_;
};

// One draw from the shared generator, locking for just that draw.
double SharedRandomNext();

}  // namespace zm
