#include "support/random.h"

#include <chrono>
#include <random>

namespace zm {

TRandomNumberGenerator::TRandomNumberGenerator(int32_t seed1, int32_t seed2) {
  SetSeeds(seed1, seed2);
}

void TRandomNumberGenerator::SetSeeds(int32_t seed1, int32_t seed2) {
  if (seed1 < 0 || seed1 > kMaxSeed1 || seed2 < 0 || seed2 > kMaxSeed2) {
    throw ERangeError(Format(msg::random::sParametersOutOfRange));
  }
  Seed1 = seed1;
  Seed2 = seed2;
  int32_t i = (seed1 / 177) % 177 + 2;
  int32_t j = seed1 % 177 + 2;
  int32_t k = (seed2 / 169) % 178 + 1;
  int32_t l = seed2 % 169;
  for (int n = 0; n < 97; ++n) {
    double s = 0.0;
    double t = 0.5;
    for (int bit = 0; bit < 24; ++bit) {
      int32_t m = (((i * j) % 179) * k) % 179;
      i = j;
      j = k;
      k = m;
      l = (53 * l + 1) % 169;
      if ((l * m) % 64 >= 32) s = s + t;
      t = t * 0.5;
    }
    Table[n] = s;
  }
  Carry = 362436.0 / 16777216.0;
  I = 96;
  J = 32;
}

namespace {

struct SharedGenerator {
  std::mutex mutex;
  TRandomNumberGenerator generator;

  SharedGenerator() : generator(MakeSeeded()) {}

  // Seeds from the clock: draw the second seed, then the first, each
  // uniformly over its whole range.
  static TRandomNumberGenerator MakeSeeded() {
    auto ticks = std::chrono::steady_clock::now().time_since_epoch().count() ^
                 std::chrono::system_clock::now().time_since_epoch().count();
    std::mt19937 source(static_cast<std::mt19937::result_type>(ticks));
    int32_t seed2 =
        std::uniform_int_distribution<int32_t>(0, TRandomNumberGenerator::kMaxSeed2)(source);
    int32_t seed1 =
        std::uniform_int_distribution<int32_t>(0, TRandomNumberGenerator::kMaxSeed1)(source);
    return TRandomNumberGenerator(seed1, seed2);
  }
};

// Created once, on first use (thread-safe initialisation), and kept until
// the library is unloaded.
SharedGenerator& Shared() {
  static SharedGenerator shared;
  return shared;
}

}  // namespace

SharedRandomLock::SharedRandomLock() : lock_(Shared().mutex), generator_(&Shared().generator) {}

SharedRandomLock::~SharedRandomLock() = default;

double SharedRandomNext() {
  SharedRandomLock lock;
  return lock.Generator().Next();
}

}  // namespace zm
