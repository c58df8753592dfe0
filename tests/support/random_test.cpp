// The tracer's generator against the published RANMAR test, its seed
// range, and the shared instance drawn from several threads.
#include "support/random.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace zm {
namespace {

TEST(RandomNumberGenerator, MatchesThePublishedSequenceAndRestarts) {
  TRandomNumberGenerator random(1802, 9373);
  std::vector<double> first(20000);
  for (double& value : first) value = random.Next();
  for (int value : {6533892, 14220222, 7275067, 6172232, 8354498, 10633180}) {
    EXPECT_EQ(static_cast<int>(random.Next() * 16777216.0), value);
  }
  random.SetSeeds(1802, 9373);
  for (double value : first) ASSERT_EQ(random.Next(), value);
}

TEST(RandomNumberGenerator, RefusesSeedsOutOfRangeAndKeepsItsState) {
  for (auto [seed1, seed2] : {std::pair{0, 0}, {31328, 0}, {0, 30081}, {31328, 30081}}) {
    EXPECT_NO_THROW(TRandomNumberGenerator(seed1, seed2));
  }
  TRandomNumberGenerator random(1802, 9373), reference(1802, 9373);
  random.Next(), reference.Next();
  for (auto [seed1, seed2] : {std::pair{31329, 0}, {-1, 0}, {0, 30082}, {0, -1}}) {
    try {
      random.SetSeeds(seed1, seed2);
      ADD_FAILURE() << "seeds " << seed1 << ", " << seed2 << " accepted";
    } catch (const ERangeError& e) {
      EXPECT_STREQ(e.what(), "Random number generator parameters out of range");
    }
  }
  for (int i = 0; i < 200; ++i) ASSERT_EQ(random.Next(), reference.Next());
}

}  // namespace
}  // namespace zm
