// Each build of the analysis's real transform against the plain sums it
// stands for, forwards and back.
#include "lib/audio/real_transform.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <vector>

namespace zm::cli {
namespace {

TEST(RealTransform, MatchesTheDefiningSumsBothWays) {
  for (size_t size : {4u, 8u, 64u, 1024u}) {
    RealTransform transform(size);
    AlignedDoubles time = AllocateAlignedDoubles(size);
    for (size_t j = 0; j < size; ++j) time[j] = std::sin(0.37 * double(j * j)) + 0.25;
    const AlignedDoubles spectrumMemory = AllocateAlignedDoubles(size + 2);
    auto* spectrum = reinterpret_cast<std::complex<double>*>(spectrumMemory.get());
    transform.Forward(time.get(), spectrum);
    for (size_t k = 0; k <= size / 2; ++k) {
      std::complex<double> sum = 0;
      for (size_t j = 0; j < size; ++j) {
        sum += time[j] *
               std::polar(1.0, -2.0 * std::numbers::pi * double(j * k % size) / double(size));
      }
      EXPECT_NEAR(std::abs(spectrum[k] - sum), 0.0, 1e-10 * double(size)) << size << " bin " << k;
    }
    AlignedDoubles back = AllocateAlignedDoubles(size);
    transform.Inverse(spectrum, back.get());
    for (size_t j = 0; j < size; ++j) {
      EXPECT_NEAR(back[j] / double(size), time[j], 1e-12 * double(size)) << size << " at " << j;
    }
  }
  EXPECT_THROW(RealTransform(1000), std::runtime_error);
  EXPECT_THROW(RealTransform(2), std::runtime_error);
}

}  // namespace
}  // namespace zm::cli
