// The SSE2 lanes truncate without a rounding instruction; they must agree
// with std::trunc to the bit, also at the edges of that arithmetic.
#include "support/lanes.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace zm {
namespace {

TEST(Lanes, TruncMatchesTheLibraryToTheBit) {
  constexpr double kBig = 0x1.0p52, kInf = std::numeric_limits<double>::infinity();
  // Values at and past 2^52, where truncation must change nothing, and the
  // extremes; then halves, whole numbers and the last fraction below 2^52,
  // each with its negative.
  std::vector<double> values = {
      kBig, kBig + 1.0, -2 * kBig, 1e300, std::numeric_limits<double>::denorm_min(), kInf, -kInf};
  for (double x : {0.0, 0.3, 0.5, 1.0, 2.5, 3.5, kBig - 0.5}) values.insert(values.end(), {x, -x});
  for (double x : values) {
    const uint64_t expected = std::bit_cast<uint64_t>(std::trunc(x));
    EXPECT_EQ(std::bit_cast<uint64_t>(lanes::TDouble1::Trunc({x}).V), expected) << x;
#if ZM_X86
    double out[2];
    lanes::TDouble2::Trunc(lanes::TDouble2::Broadcast(x)).Store(out);
    EXPECT_EQ(std::bit_cast<uint64_t>(out[0]), expected) << x;
#endif
  }
#if ZM_X86
  double out[2];
  lanes::TDouble2::Trunc(lanes::TDouble2::Broadcast(std::nan(""))).Store(out);
  EXPECT_TRUE(std::isnan(out[0]));
#endif
}

}  // namespace
}  // namespace zm
