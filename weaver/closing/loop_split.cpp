// Splitting a long hole loop by chords across the hole.
#include "weaver/closing/loop_split.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace tervik {
namespace {

// A chord is taken only when it is shorter than this share of the shorter way round the loop
// between its ends; a longer one (a loop that is a narrow slit seen end-on, or a saddle) would
// shorten its parts too little.
constexpr double kMaxChordShare = 0.9;
// A chord leaves each end within this cosine of the direction straight into the hole (60
// degrees): one that grazes the loop would leave thin triangles along it.
constexpr double kMinInward = 0.5;
// Each part's area vector (the sum of its edges' cross products) must lie within this cosine
// of the sum of its corners' normals (60 degrees): a chord through the object's inside, across
// a hole that wraps around it, would leave parts that face across the surface.
constexpr double kMinFacing = 0.5;

// Whether the polygon of area vector `area` faces the way of the normal sum `normals`.
bool faces_along(const Point3D& area, const Point3D& normals) {
  return dot(area, normals) > kMinFacing * norm(area) * norm(normals);
}

// How far the chord search's skips stride before they step corner by corner.
constexpr std::size_t kStride = 4;
// The share of the provable reach that a skip of the chord search passes over.
constexpr double kReach = 0.9;
// About this many corners of a long part are paired first, for a first bound on the share.
constexpr int kSeedCorners = 32;

struct Chord {
  int from = -1, to = -1;  // positions in the part, from < to
  int pieces = 0;          // edges the chord is cut into
  double share = kMaxChordShare;
};

// The chord of `part` with the least length against the shorter way round between its ends,
// among those that leave both ends towards the inside and make both parts shorter than `part`.
Chord best_chord(const LoopSplit& s, const std::vector<int>& part, double spacing, int corners,
                 const std::function<bool(int, int)>& allowed) {
  const int n = int(part.size());
  // The part's corners, read once into one array (the pairs below read them n^2 times).
  std::vector<Point3D> corner;
  corner.reserve(part.size());
  for (const int k : part) corner.push_back(s.points[std::size_t(k)]);
  const auto at = [&](int i) -> const Point3D& { return corner[std::size_t(i)]; };
  std::vector<double> arc(std::size_t(n) + kStride, 0.0);
  std::vector<Point3D> left(static_cast<std::size_t>(n));
  // Running sums of the edges' cross products (twice the area vector) and of the normals.
  std::vector<Point3D> twice_area(std::size_t(n) + 1), normal_sum(std::size_t(n) + 1);
  for (int i = 0; i < n; ++i) {
    arc[std::size_t(i) + 1] = arc[std::size_t(i)] + norm(at((i + 1) % n) - at(i));
    twice_area[std::size_t(i) + 1] = twice_area[std::size_t(i)] + cross(at(i), at((i + 1) % n));
    normal_sum[std::size_t(i) + 1] = normal_sum[std::size_t(i)] + s.normals[std::size_t(part[std::size_t(i)])];
    // Left of the loop's direction at the corner, seen from outside: towards the inside.
    const Point3D l = cross(s.normals[std::size_t(part[std::size_t(i)])], at((i + 1) % n) - at((i + n - 1) % n));
    const double len = norm(l);
    left[std::size_t(i)] = len > 0.0 ? l / len : l;
  }
  const double total = arc[std::size_t(n)];
  // Past the last corner the arc reads as endless, so that the skips below stop there without
  // a test of their own.
  std::fill(arc.begin() + n, arc.end(), std::numeric_limits<double>::infinity());
  // Whether the chord from corner i to corner j (i < j), c = at(j) - at(i) and d long, passes
  // the tests beyond its share: it leaves both ends towards the inside, makes both parts
  // shorter, leaves each facing its corners' normals and is allowed. Its pieces (0: it fails).
  const auto pieces_if_fit = [&](int i, int j, const Point3D& c, double d) {
    if (dot(left[std::size_t(i)], c) <= kMinInward * d || dot(left[std::size_t(j)], c) >= -kMinInward * d)
      return 0;
    const int pieces = std::max(1, int(std::lround(d / spacing)));
    if (j - i + pieces >= n || n - (j - i) + pieces >= n) return 0;
    const auto ui = std::size_t(i), uj = std::size_t(j), un = std::size_t(n);
    const Point3D first_area = twice_area[uj] - twice_area[ui] + cross(at(j), at(i));
    const Point3D second_area = twice_area[un] - twice_area[uj] + twice_area[ui] + cross(at(i), at(j));
    if (!faces_along(first_area, normal_sum[uj + 1] - normal_sum[ui]) ||
        !faces_along(second_area, normal_sum[un] - normal_sum[uj] + normal_sum[ui + 1]))
      return 0;
    const int a = part[ui], b = part[uj];
    if (pieces == 1 && a < corners && b < corners && !allowed(a, b)) return 0;
    return pieces;
  };
  Chord best;
  // The search below passes over the ends whose chords are too long for the best share so far;
  // the lower that share from the start, the more it passes over. The best chord between every
  // stride-th corner gives a first share, held back a little (a bound, not a chord: the
  // search finds that chord again, or an earlier one as good, or a better one).
  const int stride = n / kSeedCorners;
  if (stride >= 2) {
    double seed = kMaxChordShare;
    for (int i = 0; i < n; i += stride)
      for (int j = i + stride; j < n; j += stride) {
        if (i == 0 && j == n - 1) continue;
        const double along = arc[std::size_t(j)] - arc[std::size_t(i)];
        const double around = std::min(along, total - along);
        if (!(around > 0.0)) continue;
        const Point3D c = at(j) - at(i);
        const double d = std::sqrt(norm2(c));
        const double share = d / around;
        if (share < seed && pieces_if_fit(i, j, c, d) > 0) seed = share;
      }
    best.share = std::min(kMaxChordShare, seed * (1.0 + 1e-9));
  }
  for (int i = 0; i < n; ++i)
    for (int j = i + 2; j < n; ++j) {
      if (i == 0 && j == n - 1) continue;
      const double along = arc[std::size_t(j)] - arc[std::size_t(i)];
      const double around = std::min(along, total - along);
      if (!(around > 0.0)) continue;
      const Point3D c = at(j) - at(i);
      // Most pairs are far longer than the best chord so far: squared lengths tell first.
      const double bound = best.share * around;
      const double length2 = norm2(c);
      if (length2 >= bound * bound) {
        // Moving the end j along the loop by an arc of t shortens the chord by t at most and
        // lengthens the shorter way round by t at most, so the ends within (length - bound) /
        // (1 + share) along are as far too long. Past half the loop the shorter way round
        // shrinks by t instead, and the ends within (length - bound) / (1 - share) are. A tenth
        // of either reach held back (the margin is at least 1e-9 of the length) leaves rounding
        // no say.
        const double length = std::sqrt(length2), margin = length - bound;
        if (margin > 1e-9 * length) {
          const double reach =
              arc[std::size_t(j)] +
              kReach * (around < along ? margin / (1.0 - best.share) : margin / (1.0 + best.share));
          // The arc never falls: where the corner kStride on is passed, so are those between.
          while (arc[std::size_t(j) + kStride] < reach) j += int(kStride);
          while (arc[std::size_t(j) + 1] < reach) ++j;
        }
        continue;
      }
      const double d = std::sqrt(length2);
      const double share = d / around;
      if (share >= best.share) continue;
      const int pieces = pieces_if_fit(i, j, c, d);
      if (pieces > 0) best = {i, j, pieces, share};
    }
  return best;
}

}  // namespace

LoopSplit split_loop(const std::vector<Point3D>& p, const std::vector<Point3D>& normals,
                     double spacing, int max_corners,
                     const std::function<bool(int, int)>& allowed) {
  LoopSplit s;
  s.points = p;
  s.normals = normals;
  const int corners = int(p.size());
  std::vector<std::vector<int>> open(1);
  for (int i = 0; i < corners; ++i) open[0].push_back(i);
  while (!open.empty()) {
    std::vector<int> part = std::move(open.back());
    open.pop_back();
    const Chord c = int(part.size()) > max_corners && spacing > 0.0
                        ? best_chord(s, part, spacing, corners, allowed)
                        : Chord();
    if (c.pieces == 0) {
      s.parts.push_back(std::move(part));
      continue;
    }
    const int a = part[std::size_t(c.from)], b = part[std::size_t(c.to)];
    // The chord's inner points, from a towards b; normals blended between the ends.
    std::vector<int> path;
    for (int k = 1; k < c.pieces; ++k) {
      const double t = double(k) / double(c.pieces);
      const std::size_t ua = std::size_t(a), ub = std::size_t(b);
      s.points.push_back(s.points[ua] * (1.0 - t) + s.points[ub] * t);
      const Point3D nm = s.normals[ua] * (1.0 - t) + s.normals[ub] * t;
      const double len = norm(nm);
      s.normals.push_back(len > 0.0 ? nm / len : s.normals[ua]);
      s.parents.push_back({a, b});
      path.push_back(int(s.points.size()) - 1);
    }
    // One part runs a ... b along the loop and back along the chord, the other b ... a along
    // the loop and on along the chord to b: both keep the inside on their left.
    std::vector<int> first(part.begin() + c.from, part.begin() + c.to + 1);
    first.insert(first.end(), path.rbegin(), path.rend());
    std::vector<int> second(part.begin() + c.to, part.end());
    second.insert(second.end(), part.begin(), part.begin() + c.from + 1);
    second.insert(second.end(), path.begin(), path.end());
    open.push_back(std::move(first));
    open.push_back(std::move(second));
  }
  return s;
}

}  // namespace tervik
