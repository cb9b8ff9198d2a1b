// Splitting long loops by chords: the parts tile the loop, keep its direction and stay short.
#include "weaver/closing/loop_split.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <utility>

#include <gtest/gtest.h>

namespace tervik {
namespace {

// A closed curve r(t) in the plane z = 0, counter-clockwise seen from +z, n corners.
template <typename Radius>
std::vector<Point3D> plane_loop(int n, Radius radius) {
  std::vector<Point3D> p;
  for (int i = 0; i < n; ++i) {
    const double t = 2.0 * M_PI * i / n;
    p.emplace_back(radius(t) * std::cos(t), radius(t) * std::sin(t), 0.0);
  }
  return p;
}

double signed_area_z(const LoopSplit& s, const std::vector<int>& part) {
  double area = 0.0;
  for (std::size_t i = 0; i < part.size(); ++i) {
    const Point3D& a = s.points[std::size_t(part[i])];
    const Point3D& b = s.points[std::size_t(part[(i + 1) % part.size()])];
    area += 0.5 * (a.x * b.y - a.y * b.x);
  }
  return area;
}

// The parts tile the loop: each loop edge is used once, in the loop's direction, and every
// other edge (a chord piece) twice, once each way; every part runs counter-clockwise and the
// areas add up to the loop's.
void expect_tiles(const LoopSplit& s, int corners) {
  std::map<std::pair<int, int>, int> uses;
  double area = 0.0;
  for (const auto& part : s.parts) {
    EXPECT_GE(part.size(), 3u);
    const double a = signed_area_z(s, part);
    EXPECT_GT(a, 0.0);
    area += a;
    for (std::size_t i = 0; i < part.size(); ++i) ++uses[{part[i], part[(i + 1) % part.size()]}];
  }
  LoopSplit whole;
  whole.points = s.points;
  std::vector<int> loop;
  for (int i = 0; i < corners; ++i) loop.push_back(i);
  EXPECT_NEAR(area, signed_area_z(whole, loop), 1e-9);
  for (const auto& [edge, count] : uses) {
    const auto [a, b] = edge;
    const bool loop_edge = a < corners && b < corners && (b == (a + 1) % corners);
    if (loop_edge) {
      EXPECT_EQ(count, 1) << a << "->" << b;
    } else {
      EXPECT_EQ(count, 1) << a << "->" << b;
      EXPECT_EQ(uses.count({b, a}), 1u) << "chord piece " << a << "-" << b << " has one side";
    }
  }
  EXPECT_EQ(s.parents.size(), s.points.size() - std::size_t(corners));
}

TEST(LoopSplit, LongLoopsArePartedIntoShortPartsThatTileThem) {
  const auto any = [](int, int) { return true; };
  // A circle and a wavy, non-convex loop, 240 corners each; chords cut to the corners' spacing.
  const std::vector<std::vector<Point3D>> loops = {
      plane_loop(240, [](double) { return 1.0; }),
      plane_loop(240, [](double t) { return 1.0 + 0.3 * std::sin(5.0 * t); })};
  for (const auto& p : loops) {
    const std::vector<Point3D> up(p.size(), Point3D(0, 0, 1));
    const double spacing = norm(p[1] - p[0]);
    const LoopSplit s = split_loop(p, up, spacing, 24, any);
    EXPECT_GT(s.parts.size(), 10u);
    for (const auto& part : s.parts) EXPECT_LE(part.size(), 24u);
    expect_tiles(s, int(p.size()));
    // Chord pieces are about the spacing long, none longer than twice it.
    for (const auto& part : s.parts)
      for (std::size_t i = 0; i < part.size(); ++i) {
        const Point3D& a = s.points[std::size_t(part[i])];
        const Point3D& b = s.points[std::size_t(part[(i + 1) % part.size()])];
        EXPECT_LT(norm(b - a), 2.0 * spacing);
      }
    // New points carry unit normals blended from the chord's ends.
    for (std::size_t k = p.size(); k < s.points.size(); ++k) EXPECT_NEAR(s.normals[k].z, 1.0, 1e-12);
  }
}

TEST(LoopSplit, ChordsOnlyWhereTheyRunInsideAndAreAllowed) {
  const auto any = [](int, int) { return true; };
  const std::vector<Point3D> circle = plane_loop(120, [](double) { return 1.0; });
  // Normals pointing down: seen from outside the loop runs clockwise, so every chord would
  // leave its ends to the outside; the loop stays whole.
  const std::vector<Point3D> down(circle.size(), Point3D(0, 0, -1));
  const LoopSplit flipped = split_loop(circle, down, 0.05, 24, any);
  ASSERT_EQ(flipped.parts.size(), 1u);
  EXPECT_EQ(flipped.parts[0].size(), circle.size());
  EXPECT_TRUE(flipped.parents.empty());

  // A dumbbell: two discs joined by a waist one spacing wide. The chord across the waist has
  // no new point; when it is not allowed the loop is split elsewhere, never across it.
  const auto waist = [](double t) { return 1.0 - 0.97 * std::pow(std::sin(t), 2.0); };
  const std::vector<Point3D> bell = plane_loop(200, waist);
  const std::vector<Point3D> up(bell.size(), Point3D(0, 0, 1));
  const double spacing = 0.06;  // the waist is 2 * 0.03 = 0.06 wide
  const LoopSplit open = split_loop(bell, up, spacing, 150, any);
  ASSERT_EQ(open.parts.size(), 2u);
  EXPECT_TRUE(open.parents.empty());  // one chord, straight across the waist
  expect_tiles(open, int(bell.size()));
  const int top = 50, bottom = 150;  // the waist's corners (t = pi/2 and 3 pi/2)
  const auto no_waist = [&](int i, int k) {
    return std::abs(i - top) > 3 && std::abs(i - bottom) > 3 && std::abs(k - top) > 3 &&
           std::abs(k - bottom) > 3;
  };
  const LoopSplit refused = split_loop(bell, up, spacing, 150, no_waist);
  expect_tiles(refused, int(bell.size()));
  for (const auto& part : refused.parts)
    for (std::size_t i = 0; i < part.size(); ++i) {
      const int a = part[i], b = part[(i + 1) % part.size()];
      if (a < int(bell.size()) && b < int(bell.size()) && b != (a + 1) % int(bell.size()))
        EXPECT_TRUE(no_waist(a, b)) << a << "-" << b;
    }
}

// The loop started at corner `shift` instead of corner 0.
std::vector<Point3D> rotated(const std::vector<Point3D>& loop, int shift) {
  std::vector<Point3D> p;
  for (std::size_t i = 0; i < loop.size(); ++i) p.push_back(loop[(i + std::size_t(shift)) % loop.size()]);
  return p;
}

// The corners, in the unshifted loop of n corners, where the parts' edges that are no loop edges
// (the chords) end; `shift` is the corner the split loop started at.
std::vector<int> chord_ends(const LoopSplit& s, int n, int shift) {
  std::vector<int> ends;
  for (const auto& part : s.parts)
    for (std::size_t i = 0; i < part.size(); ++i) {
      const int a = part[i], b = part[(i + 1) % part.size()];
      if (b != (a + 1) % n) ends.push_back((a + shift) % n);
    }
  return ends;
}

TEST(LoopSplit, TheWaistIsFoundWhereverTheLoopStarts) {
  // The dumbbell's waist seen from each starting corner: the search passes over ends whose chord
  // is too long by a margin, and must not pass over the waist's corners wherever they fall in it.
  const auto any = [](int, int) { return true; };
  const std::vector<Point3D> bell =
      plane_loop(200, [](double t) { return 1.0 - 0.97 * std::pow(std::sin(t), 2.0); });
  const std::vector<Point3D> up(bell.size(), Point3D(0, 0, 1));
  for (int shift = 0; shift < 200; shift += 3) {
    const LoopSplit s = split_loop(rotated(bell, shift), up, 0.06, 150, any);
    ASSERT_EQ(s.parts.size(), 2u) << shift;
    // The chord is the only edge of the first part that is no loop edge; its ends are the
    // waist's corners 50 and 150 of the unshifted loop.
    const std::vector<int> ends = chord_ends(s, 200, shift);
    ASSERT_EQ(ends.size(), 2u) << shift;
    EXPECT_EQ(std::min(ends[0], ends[1]), 50) << shift;
    EXPECT_EQ(std::max(ends[0], ends[1]), 150) << shift;
  }
}

TEST(LoopSplit, TheWaistOfALopsidedDumbbellIsFoundWhereverTheLoopStarts) {
  // One lobe three times as wide as the other: from a waist corner the other one lies less
  // than half the loop away one way round and more than half the other way, so the search
  // passes over ends both where the shorter way round grows and where it shrinks.
  const auto any = [](int, int) { return true; };
  const std::vector<Point3D> bell = plane_loop(
      240, [](double t) { return (1.0 - 0.97 * std::pow(std::sin(t), 2.0)) * (1.0 + 0.5 * std::cos(t)); });
  const std::vector<Point3D> up(bell.size(), Point3D(0, 0, 1));
  for (int shift = 0; shift < 240; shift += 7) {
    const LoopSplit s = split_loop(rotated(bell, shift), up, 0.06, 200, any);
    ASSERT_EQ(s.parts.size(), 2u) << shift;
    expect_tiles(s, 240);
    const std::vector<int> ends = chord_ends(s, 240, shift);
    ASSERT_EQ(ends.size(), 2u) << shift;
    EXPECT_EQ(std::min(ends[0], ends[1]), 60) << shift;
    EXPECT_EQ(std::max(ends[0], ends[1]), 180) << shift;
  }
}

TEST(LoopSplit, NoPartFacesAgainstItsCornersNormals) {
  const auto any = [](int, int) { return true; };
  // A circle whose first half has normals up and second half down: a chord may only leave
  // from the first half (elsewhere it would run outside), but whichever part holds the second
  // half would face against most of its corners' normals, so the loop stays whole.
  const std::vector<Point3D> p = plane_loop(120, [](double) { return 1.0; });
  std::vector<Point3D> normals(p.size(), Point3D(0, 0, 1));
  for (std::size_t i = 60; i < p.size(); ++i) normals[i] = Point3D(0, 0, -1);
  const LoopSplit s = split_loop(p, normals, norm(p[1] - p[0]), 24, any);
  EXPECT_EQ(s.parts.size(), 1u);
  // With the first two thirds up, a chord that leaves the down corners in one part is found.
  for (std::size_t i = 60; i < 80; ++i) normals[i] = Point3D(0, 0, 1);
  const LoopSplit t = split_loop(p, normals, norm(p[1] - p[0]), 24, any);
  EXPECT_GT(t.parts.size(), 1u);
  expect_tiles(t, int(p.size()));
}

// The chord of the closed polygon p that split_loop should take first, found by trying every
// pair of corners: the least length against the shorter way round (under 0.9), leaving both
// ends within 60 degrees of straight inwards, shortening both parts, each part's area vector
// within 60 degrees of its normal sum. {-1, -1} where no pair qualifies.
std::pair<int, int> best_pair(const std::vector<Point3D>& p, const std::vector<Point3D>& normals, double spacing) {
  const int n = int(p.size());
  std::vector<double> arc(std::size_t(n) + 1, 0.0);
  for (int i = 0; i < n; ++i) arc[std::size_t(i) + 1] = arc[std::size_t(i)] + norm(p[std::size_t((i + 1) % n)] - p[std::size_t(i)]);
  const auto inward = [&](int i) {
    const Point3D l = cross(normals[std::size_t(i)], p[std::size_t((i + 1) % n)] - p[std::size_t((i + n - 1) % n)]);
    return l / norm(l);
  };
  // Whether the polygon over corners from, from + 1, ..., to (indices mod n) faces its normals.
  const auto faces = [&](int from, int to) {
    Point3D area, sum;
    for (int k = from;; k = (k + 1) % n) {
      const int next = k == to ? from : (k + 1) % n;
      area += cross(p[std::size_t(k)], p[std::size_t(next)]);
      sum += normals[std::size_t(k)];
      if (k == to) break;
    }
    return dot(area, sum) > 0.5 * norm(area) * norm(sum);
  };
  std::pair<int, int> best{-1, -1};
  double best_share = 0.9;
  for (int i = 0; i < n; ++i)
    for (int j = i + 2; j < n; ++j) {
      if (i == 0 && j == n - 1) continue;
      const double along = arc[std::size_t(j)] - arc[std::size_t(i)];
      const double around = std::min(along, arc[std::size_t(n)] - along);
      const Point3D c = p[std::size_t(j)] - p[std::size_t(i)];
      const double d = norm(c), share = d / around;
      if (!(share < best_share) || dot(inward(i), c) <= 0.5 * d || dot(inward(j), c) >= -0.5 * d) continue;
      const int pieces = std::max(1, int(std::lround(d / spacing)));
      if (j - i + pieces >= n || n - (j - i) + pieces >= n || !faces(i, j) || !faces(j, i)) continue;
      best = {i, j}, best_share = share;
    }
  return best;
}

TEST(LoopSplit, TheFirstChordIsTheBestOfEveryPair) {
  // Bumpy loops that wander up and down, their normals tilted: the search passes over most
  // pairs, and starts from a bound found on a coarse grid of corners; the chord it takes is
  // still the one that trying every pair finds.
  const auto any = [](int, int) { return true; };
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  int found = 0;
  for (int trial = 0; trial < 40; ++trial) {
    const int n = 100 + 13 * trial;
    const double a2 = 0.3 * u(rng), a3 = 0.2 * u(rng), a5 = 0.1 * u(rng), lift = 0.3 * u(rng);
    std::vector<Point3D> p = plane_loop(n, [&](double t) {
      return 1.0 + a2 * std::cos(2.0 * t) + a3 * std::sin(3.0 * t) + a5 * std::cos(5.0 * t);
    });
    std::vector<Point3D> normals;
    for (int i = 0; i < n; ++i) {
      const double t = 2.0 * M_PI * i / n;
      p[std::size_t(i)].z = lift * std::sin(2.0 * t) + 0.01 * u(rng);
      const Point3D tilt(0.3 * u(rng), 0.3 * u(rng), 1.0);
      normals.push_back(tilt / norm(tilt));
    }
    const double spacing = 2.0 * M_PI / n;
    const LoopSplit s = split_loop(p, normals, spacing, n - 1, any);
    const auto [i, j] = best_pair(p, normals, spacing);
    if (i < 0) {
      EXPECT_EQ(s.parts.size(), 1u) << trial;
      continue;
    }
    ++found;
    ASSERT_EQ(s.parts.size(), 2u) << trial;
    // The chord's ends: those of its new points, or of the one part edge that is no loop edge.
    std::vector<int> ends;
    if (!s.parents.empty()) ends = {s.parents[0][0], s.parents[0][1]};
    else ends = chord_ends(s, n, 0);
    ASSERT_EQ(ends.size(), 2u) << trial;
    EXPECT_EQ(std::min(ends[0], ends[1]), i) << trial;
    EXPECT_EQ(std::max(ends[0], ends[1]), j) << trial;
  }
  EXPECT_GT(found, 30);
}

}  // namespace
}  // namespace tervik
