// Tests of the sampler's random numbers.
#include "sculptor/random.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include "sculptor/expansion.h"

namespace tervik {
namespace {

TEST(SymRand, MapsEveryDrawOntoMinusOneToOne) {
  EXPECT_EQ(0 * symsc - 1.0, -1.0);
  EXPECT_EQ(2147483647 * symsc - 1.0, 1.0);
  EXPECT_EQ(symsc, 2.0 / 2147483647.0);
  std::srand(99);
  int draws[1000];
  for (int& d : draws) d = std::rand();
  std::srand(99);
  for (int d : draws) {
    const double r = sym_rand();
    EXPECT_EQ(r, d * symsc - 1.0);
    EXPECT_GE(r, -1.0);
    EXPECT_LE(r, 1.0);
  }
}

TEST(SymRand, RandomVectorsAreDrawnZThenYThenX) {
  std::srand(3);
  const int z = std::rand(), y = std::rand(), x = std::rand();
  std::srand(3);
  const Point3D v = random_vector();
  EXPECT_EQ(v.z, z * symsc - 1.0);
  EXPECT_EQ(v.y, y * symsc - 1.0);
  EXPECT_EQ(v.x, x * symsc - 1.0);
}

}  // namespace
}  // namespace tervik
