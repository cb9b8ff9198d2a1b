#include "sculptor/normals.h"

#include <algorithm>
#include <cstdint>
#include <ostream>
#include <span>

#include "sculptor/parallel.h"
#include "tervik/eigenvalues.h"
#include "tervik/exceptions.h"
#include "tervik/multiarray.h"

namespace tervik {

namespace {

// The scatter matrix of a point set and its decomposition, kept from call to call so that a fit
// allocates nothing. Aligned to a cache line, so that the fits of different threads, which sit
// side by side, share none.
struct alignas(64) PlaneFit {
  MultiArray<double, 2> m{MultiArray<double, 2>(3, 3)};
  math::numeric::Eigenvalues<double> eig{MultiArray<double, 2>(3, 3)};

  // Decomposes the scatter matrix about the centroid (not divided by n) of the n >= 1 points
  // position(0), ..., position(n - 1), summed in that order; returns the eigenvectors, ascending
  // by eigenvalue, one per first index.
  template <typename PositionOf>
  const MultiArray<double, 2>& axes(std::size_t n, PositionOf position) {
    Point3D c;
    for (std::size_t i = 0; i < n; ++i) c += position(i);
    c = c * (1.0 / static_cast<double>(n));
    double xx = 0.0, xy = 0.0, yy = 0.0, xz = 0.0, yz = 0.0, zz = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
      const Point3D d = position(i) - c;
      xx += d.x * d.x;
      xy += d.x * d.y;
      yy += d.y * d.y;
      xz += d.x * d.z;
      yz += d.y * d.z;
      zz += d.z * d.z;
    }
    m[0][0] = xx;
    m[0][1] = xy;
    m[1][1] = yy;
    m[0][2] = xz;
    m[1][2] = yz;
    m[2][2] = zz;
    m[1][0] = xy;
    m[2][0] = xz;
    m[2][1] = yz;
    eig.calculate(m);
    return eig.eigenvector_matrix();
  }
};

// Component j of eigenvector k of the decomposition (the first index selects the vector).
Point3D eigenvector(const MultiArray<double, 2>& V, int k) { return {V[k][0], V[k][1], V[k][2]}; }

// The plane fit of the calling thread, for the fits of single point sets.
PlaneFit& thread_fit() {
  thread_local PlaneFit fit;
  return fit;
}

// The eigenvectors of the scatter matrix of `points` (see PlaneFit::axes).
const MultiArray<double, 2>& principal_axes(const std::vector<Point3D>& points) {
  TERVIK_CHECK(!points.empty(), "compute_normal: no points to fit a plane to");
  return thread_fit().axes(points.size(), [&points](std::size_t i) -> const Point3D& {
    return points[i];
  });
}

// Whether a probe point counts as inside the visual hull (the outline flag is not used), by the
// silhouette test `test` (projection_test or a HullGrid's).
template <typename Test>
bool probe_inside(Test& test, const Point3D& q, short min_cameras, short tolerance) {
  short inside = 0, outside = 0;
  test.test(q, inside, outside, tolerance);
  return inside >= min_cameras && outside <= tolerance;
}

bool probe_inside(HullGrid& grid, const Point3D& q, short min_cameras, short tolerance) {
  return grid.admits(q, min_cameras, tolerance, false);
}

// projection_test over a view set, in the form of HullGrid::test.
struct PlainTest {
  const SilhouetteViews& views;
  bool test(const Point3D& q, short& inside, short& outside, short tolerance) const {
    return projection_test(views, q, inside, outside, tolerance);
  }
};

}  // namespace

Point3D compute_normal(const std::vector<Point3D>& points) {
  return eigenvector(principal_axes(points), 0);
}

Point3D compute_normal(const std::vector<Point3D>& points, Point3D& first_tangent,
                       Point3D& second_tangent) {
  const MultiArray<double, 2>& V = principal_axes(points);
  first_tangent = eigenvector(V, 1);
  second_tangent = eigenvector(V, 2);
  return eigenvector(V, 0);
}

namespace {

// local_normal with the silhouette test `test`.
template <typename Test>
bool orient_normal(Point3D& normal, MyDirector& frame, const std::vector<Point3D>& points,
                   const Point3D& p, Test& test, short min_cameras, short tolerance, double L) {
  normal = compute_normal(points, frame.u, frame.v);
  double s = 2.0;
  for (int probe = 0; probe < 4; ++probe) {
    const Point3D offset = normal * (s * L);
    const bool plus = probe_inside(test, p + offset, min_cameras, tolerance);
    const bool minus = probe_inside(test, p - offset, min_cameras, tolerance);
    if (minus && !plus) return true;
    if (plus && !minus) {
      normal = -normal;
      return true;
    }
    s *= 0.5;
  }
  return false;
}

}  // namespace

bool local_normal(Point3D& normal, MyDirector& frame, const std::vector<Point3D>& points,
                  const Point3D& p, const SilhouetteViews& silhouettes, short min_cameras,
                  short tolerance, double L) {
  PlainTest test{silhouettes};
  return orient_normal(normal, frame, points, p, test, min_cameras, tolerance, L);
}

bool local_normal(Point3D& normal, MyDirector& frame, const std::vector<Point3D>& points,
                  const Point3D& p, HullGrid& grid, short min_cameras, short tolerance,
                  double L) {
  return orient_normal(normal, frame, points, p, grid, min_cameras, tolerance, L);
}

void normals(std::vector<Patch>& out, const std::vector<Patch>& in, const StageParameters& params,
             std::ostream& progress) {
  TERVIK_CHECK(&out != &in, "normals: the output vector must not be the input vector");
  Neighbourhoods near;
  near.build(in, params.step * params.step, params.threads);
  normals(out, in, near, params, progress);
}

void normals(std::vector<Patch>& out, const std::vector<Patch>& in, const Neighbourhoods& near,
             const StageParameters& params, std::ostream& progress) {
  TERVIK_CHECK(&out != &in, "normals: the output vector must not be the input vector");
  TERVIK_CHECK(near.size() == in.size(), "normals: neighbourhoods of " << near.size()
                                             << " patches given for " << in.size());
  const std::size_t n = in.size();
  out.resize(n);
  const std::size_t nblocks = (n + Neighbourhoods::kBlock - 1) / Neighbourhoods::kBlock;
  const unsigned workers = worker_count(nblocks, params.threads);
  std::vector<PlaneFit> fits(workers);
  std::vector<std::vector<std::uint32_t>> scratch(workers);
  // Per block: the summed neighbourhood sizes and the patches left unchanged (integers, so the
  // totals do not depend on the order of addition).
  std::vector<long long> sizes(nblocks, 0), kept(nblocks, 0);
  parallel_for(nblocks, params.threads, [&](std::size_t b, unsigned w) {
    PlaneFit& fit = fits[w];
    const std::size_t begin = b * Neighbourhoods::kBlock;
    const std::size_t end = std::min(n, begin + Neighbourhoods::kBlock);
    // Counted here and stored once: neighbouring blocks' counts share a cache line, and other
    // threads work on those blocks.
    long long block_sizes = 0, block_kept = 0;
    for (std::size_t k = begin; k < end; ++k) {
      const std::uint32_t i = near.patch(k);
      const std::span<const std::uint32_t> list = near.of(i, in, scratch[w]);
      Patch copy = in[i];
      if (list.size() >= 3) {
        const MultiArray<double, 2>& V = fit.axes(
            list.size(), [&](std::size_t j) -> const Point3D& { return in[list[j]].pos; });
        Point3D normal = eigenvector(V, 0);
        double agreement = 0.0;
        for (std::uint32_t k : list) agreement += dot(normal, in[k].normal);
        if (agreement < 0) normal = -normal;
        copy.normal = normal;
      } else {
        ++block_kept;
      }
      out[i] = copy;
      block_sizes += static_cast<long long>(list.size());
    }
    sizes[b] = block_sizes;
    kept[b] = block_kept;
  });
  long long total = 0, unchanged = 0;
  for (std::size_t b = 0; b < nblocks; ++b) {
    total += sizes[b];
    unchanged += kept[b];
  }
  const double average = static_cast<double>(total) / static_cast<double>(n) - 1;
  if (average < 50) progress << "Neighbors per patch: " << average << std::endl;
  if (unchanged > 0) progress << unchanged << " patches left unchanged" << std::endl;
}

}  // namespace tervik
