// Rim edges that a bridge may join: the grid and the x windows find exactly the pairs that
// looking at every pair finds.
#include "weaver/closing/rim_bridges.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>

#include <gtest/gtest.h>

namespace tervik {
namespace {

using Candidates = std::vector<std::tuple<double, std::size_t, std::size_t>>;

// Every pair (i < j) of edges of different groups that passes the tests, sorted.
Candidates every_pair(const std::vector<RimEdge>& edges) {
  Candidates out;
  for (std::size_t i = 0; i < edges.size(); ++i)
    for (std::size_t j = i + 1; j < edges.size(); ++j) {
      const RimEdge &a = edges[i], &b = edges[j];
      if (a.group == b.group) continue;
      const Point3D ma = (a.from + a.to) * 0.5, mb = (b.from + b.to) * 0.5;
      const double within = std::min(a.reach, b.reach);
      const double size_a = std::abs(ma.x) + std::abs(ma.y) + std::abs(ma.z);
      const double size_b = std::abs(mb.x) + std::abs(mb.y) + std::abs(mb.z);
      const double apart = within * (1.0 + 1e-6) + 1e-9 * (size_a + size_b);
      if (dist2(ma, mb) > apart * apart) continue;
      if (dot(a.to - a.from, b.to - b.from) >= 0.0) continue;
      const double across = norm(a.to - b.from), back = norm(b.to - a.from);
      if (across <= within && back <= within) out.emplace_back(across + back, i, j);
    }
  std::sort(out.begin(), out.end());
  return out;
}

// Rims of `groups` pieces: loops of short edges round random centres in a box, some of them
// running one way and some the other, with reaches from tiny to large; `twins` edges are
// copies of others moved to another group and turned round (pairs at distance zero, equal x).
std::vector<RimEdge> random_rims(std::mt19937& rng, int loops, int groups, double box, int twins) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  std::vector<RimEdge> edges;
  for (int l = 0; l < loops; ++l) {
    const Point3D centre(box * unit(rng), box * unit(rng), box * (unit(rng) < 0.3 ? 0.0 : unit(rng)));
    const int corners = 3 + int(unit(rng) * 30);
    const double radius = 0.2 + 3.0 * unit(rng) * unit(rng);
    const int group = int(unit(rng) * groups);
    const bool turned = unit(rng) < 0.5;
    // Reaches: the loop's own radius, capped at 2, or all equal (ties between edges).
    const double reach = unit(rng) < 0.2 ? 1.0 : std::min(radius, 2.0);
    for (int k = 0; k < corners; ++k) {
      const double t0 = 2.0 * M_PI * k / corners, t1 = 2.0 * M_PI * (k + 1) / corners;
      Point3D a = centre + Point3D(radius * std::cos(t0), radius * std::sin(t0), 0.1 * unit(rng));
      Point3D b = centre + Point3D(radius * std::cos(t1), radius * std::sin(t1), 0.1 * unit(rng));
      if (turned) std::swap(a, b);
      edges.push_back({a, b, group, reach});
    }
  }
  for (int t = 0; t < twins && !edges.empty(); ++t) {
    RimEdge e = edges[std::size_t(unit(rng) * double(edges.size()))];
    std::swap(e.from, e.to);
    e.group = (e.group + 1) % groups;
    edges.push_back(e);
  }
  return edges;
}

TEST(RimBridges, FindsWhatLookingAtEveryPairFinds) {
  std::mt19937 rng(7);
  std::size_t found = 0, clouds_with_pairs = 0;
  for (int round = 0; round < 60; ++round) {
    const int loops = 2 + round % 25, groups = 2 + round % 4;
    const double box = 2.0 + double(round % 7) * 3.0;
    const auto edges = random_rims(rng, loops, groups, box, round % 3 == 0 ? 20 : 0);
    const Candidates want = every_pair(edges);
    EXPECT_EQ(bridge_candidates(edges), want) << "round " << round;
    found += want.size();
    clouds_with_pairs += !want.empty();
  }
  // The clouds hold many pairs to find, in most rounds.
  EXPECT_GT(found, 5000u);
  EXPECT_GT(clouds_with_pairs, 30u);
}

TEST(RimBridges, FarFromTheOriginTheRoundingSlackStillFindsThePairs) {
  std::mt19937 rng(11);
  for (int round = 0; round < 10; ++round) {
    auto edges = random_rims(rng, 12, 3, 6.0, 10);
    for (RimEdge& e : edges) e.from += Point3D(1e6, -2e6, 5e5), e.to += Point3D(1e6, -2e6, 5e5);
    EXPECT_EQ(bridge_candidates(edges), every_pair(edges)) << "round " << round;
  }
}

TEST(RimBridges, AnEdgeThatIsNotFiniteNeitherPairsNorHidesOtherPairs) {
  std::mt19937 rng(3);
  for (int round = 0; round < 10; ++round) {
    auto edges = random_rims(rng, 10, 3, 5.0, 10);
    const Candidates before = every_pair(edges);
    ASSERT_FALSE(before.empty());
    // An edge far from the others, with one corner not a number.
    edges.push_back({Point3D(std::numeric_limits<double>::quiet_NaN(), 0.0, 0.0), Point3D(0.0, 1.0, 0.0), 0, 1.0});
    const Candidates with_nan = bridge_candidates(edges);
    EXPECT_EQ(with_nan, every_pair(edges));
    EXPECT_EQ(with_nan, before);
  }
}

TEST(RimBridges, OnePieceOrNoReachGivesNoPairs) {
  std::mt19937 rng(5);
  auto edges = random_rims(rng, 8, 1, 4.0, 0);
  EXPECT_TRUE(bridge_candidates(edges).empty());
  edges = random_rims(rng, 8, 3, 4.0, 5);
  for (RimEdge& e : edges) e.reach = 0.0;
  EXPECT_TRUE(bridge_candidates(edges).empty());
  EXPECT_TRUE(bridge_candidates({}).empty());
}

}  // namespace
}  // namespace tervik
