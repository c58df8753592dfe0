#include "support/random.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace zm {
namespace {

TEST(RandomNumberGenerator, MatchesPublishedSequence) {
  TRandomNumberGenerator random(1802, 9373);
  for (int i = 0; i < 20000; ++i) random.Next();
  const int expected[] = {6533892, 14220222, 7275067, 6172232, 8354498, 10633180};
  for (int value : expected) {
    EXPECT_EQ(static_cast<int>(random.Next() * 16777216.0), value);
  }
}

TEST(RandomNumberGenerator, AcceptsSeedRangeEdges) {
  EXPECT_NO_THROW(TRandomNumberGenerator(0, 0));
  EXPECT_NO_THROW(TRandomNumberGenerator(31328, 0));
  EXPECT_NO_THROW(TRandomNumberGenerator(0, 30081));
  EXPECT_NO_THROW(TRandomNumberGenerator(31328, 30081));
}

TEST(RandomNumberGenerator, RefusesSeedsOutOfRangeAndKeepsState) {
  TRandomNumberGenerator random(1802, 9373);
  TRandomNumberGenerator reference(1802, 9373);
  random.Next();
  reference.Next();
  const int32_t bad[][2] = {{31329, 0}, {-1, 0}, {0, 30082}, {0, -1}};
  for (const auto& seeds : bad) {
    try {
      random.SetSeeds(seeds[0], seeds[1]);
      ADD_FAILURE() << "seeds " << seeds[0] << ", " << seeds[1] << " accepted";
    } catch (const ERangeError& e) {
      EXPECT_STREQ(e.what(), "Random number generator parameters out of range");
    }
    EXPECT_THROW(TRandomNumberGenerator(seeds[0], seeds[1]), ERangeError);
  }
  EXPECT_EQ(random.Seed1, 1802);
  EXPECT_EQ(random.Seed2, 9373);
  for (int i = 0; i < 200; ++i) ASSERT_EQ(random.Next(), reference.Next());
}

TEST(RandomNumberGenerator, SetSeedsRestartsTheSequence) {
  TRandomNumberGenerator random(12, 34);
  std::vector<double> first;
  for (int i = 0; i < 300; ++i) first.push_back(random.Next());
  random.SetSeeds(12, 34);
  for (double value : first) ASSERT_EQ(random.Next(), value);
}

// Several threads drawing at once must neither race (the sanitizer build
// would report it) nor lose the generator's invariants.
TEST(SharedRandom, DrawsFromSeveralThreadsStayValid) {
  std::vector<std::thread> threads;
  std::vector<int> bad(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &bad] {
      for (int i = 0; i < 2000; ++i) {
        double u = SharedRandomNext();
        if (!(u >= 0.0 && u < 1.0)) ++bad[t];
      }
      SharedRandomLock lock;
      for (int i = 0; i < 1000; ++i) {
        double u = lock.Generator().Next();
        if (!(u >= 0.0 && u < 1.0)) ++bad[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  for (int count : bad) EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace zm
