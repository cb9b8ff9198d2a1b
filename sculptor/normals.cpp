#include "sculptor/normals.h"

#include <algorithm>
#include <array>
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
    double a[9];
    scatter(n, position, a);
    std::copy_n(a, 9, m.data());
    eig.calculate(m);
    return eig.eigenvector_matrix();
  }

  // The scatter matrix that axes() decomposes, row after row.
  template <typename PositionOf>
  static void scatter(std::size_t n, PositionOf position, double (&a)[9]) {
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
    a[0] = xx;
    a[1] = xy;
    a[2] = xz;
    a[3] = xy;
    a[4] = yy;
    a[5] = yz;
    a[6] = xz;
    a[7] = yz;
    a[8] = zz;
  }
};

// Whether a equals its transpose exactly (false where it holds NaN): the decomposition then
// takes the symmetric path.
bool exactly_symmetric(const double (&a)[9]) {
  return a[1] == a[3] && a[2] == a[6] && a[5] == a[7] && a[0] == a[0] && a[4] == a[4] &&
         a[8] == a[8];
}

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

namespace {

// The normals of the patches i of `in` for which want(i) holds, written to out[i] (sized for
// all of them); the others are left alone. Returns their tally.
template <typename Want>
NormalsTally estimate_normals(std::vector<Patch>& out, const std::vector<Patch>& in,
                              const Neighbourhoods& near, unsigned threads, Want want) {
  const std::size_t n = in.size();
  const std::size_t nblocks = (n + Neighbourhoods::kBlock - 1) / Neighbourhoods::kBlock;
  const unsigned workers = worker_count(nblocks, threads);
  std::vector<PlaneFit> fits(workers);
  std::vector<std::array<std::vector<std::uint32_t>, 2>> scratch(workers);
  // Per block: the summed neighbourhood sizes and the patches left unchanged (integers, so the
  // totals do not depend on the order of addition).
  std::vector<long long> sizes(nblocks, 0), kept(nblocks, 0);
  parallel_for(nblocks, threads, [&](std::size_t b, unsigned w) {
    PlaneFit& fit = fits[w];
    const std::size_t begin = b * Neighbourhoods::kBlock;
    const std::size_t end = std::min(n, begin + Neighbourhoods::kBlock);
    // A patch whose neighbours give its normal: the eigenvector of the smallest eigenvalue of
    // their scatter matrix, turned to agree with their normals.
    struct Fit {
      std::uint32_t i;
      std::span<const std::uint32_t> list;
      double scatter[9];
    };
    // `vectors` as eigenvector_matrix() holds them: component j of eigenvector 0 at 3 j.
    const auto finish = [&](const Fit& f, const double* vectors) {
      Point3D normal(vectors[0], vectors[3], vectors[6]);
      double agreement = 0.0;
      for (std::uint32_t k : f.list) agreement += dot(normal, in[k].normal);
      if (agreement < 0) normal = -normal;
      Patch copy = in[f.i];
      copy.normal = normal;
      out[f.i] = copy;
    };
    const auto finish_alone = [&](const Fit& f) {
      std::copy_n(f.scatter, 9, fit.m.data());
      fit.eig.calculate(fit.m);
      finish(f, fit.eig.eigenvector_matrix().data());
    };
    // The symmetric decompositions go two at a time (symmetric3_eigen_pair overlaps their
    // iterations); each patch's arithmetic is the same as alone.
    Fit held[2];
    int count = 0;
    // Counted here and stored once: neighbouring blocks' counts share a cache line, and other
    // threads work on those blocks.
    long long block_sizes = 0, block_kept = 0;
    for (std::size_t k = begin; k < end; ++k) {
      const std::uint32_t i = near.patch(k);
      if (!want(i)) continue;
      const std::span<const std::uint32_t> list = near.of(i, in, scratch[w][count]);
      block_sizes += static_cast<long long>(list.size());
      if (list.size() < 3) {
        out[i] = in[i];
        ++block_kept;
        continue;
      }
      Fit& f = held[count];
      f.i = i;
      f.list = list;
      PlaneFit::scatter(list.size(), [&](std::size_t j) -> const Point3D& { return in[list[j]].pos; },
                        f.scatter);
      if (!exactly_symmetric(f.scatter)) {
        finish_alone(f);  // NaN: the general path
      } else if (++count == 2) {
        math::numeric::Symmetric3Eigen x, y;
        math::numeric::symmetric3_eigen_pair(held[0].scatter, held[1].scatter, x, y);
        finish(held[0], x.vectors);
        finish(held[1], y.vectors);
        count = 0;
      }
    }
    if (count == 1) finish_alone(held[0]);
    sizes[b] = block_sizes;
    kept[b] = block_kept;
  });
  NormalsTally tally;
  for (std::size_t b = 0; b < nblocks; ++b) {
    tally.neighbours += sizes[b];
    tally.unchanged += kept[b];
  }
  return tally;
}

void check_normals_arguments(const std::vector<Patch>& out, const std::vector<Patch>& in,
                             const Neighbourhoods& near) {
  TERVIK_CHECK(&out != &in, "normals: the output vector must not be the input vector");
  TERVIK_CHECK(near.size() == in.size(), "normals: neighbourhoods of " << near.size()
                                             << " patches given for " << in.size());
}

}  // namespace

void normals(std::vector<Patch>& out, const std::vector<Patch>& in, const Neighbourhoods& near,
             const StageParameters& params, std::ostream& progress) {
  check_normals_arguments(out, in, near);
  out.resize(in.size());
  const NormalsTally tally =
      estimate_normals(out, in, near, params.threads, [](std::uint32_t) { return true; });
  report_normals(in.size(), tally, progress);
}

NormalsTally normals_where(std::vector<Patch>& out, const std::vector<Patch>& in,
                           const Neighbourhoods& near, std::span<const std::uint8_t> chosen,
                           std::uint8_t value, unsigned threads) {
  check_normals_arguments(out, in, near);
  TERVIK_CHECK(chosen.size() == in.size() && out.size() == in.size(),
               "normals_where: " << chosen.size() << " choices and " << out.size()
                                 << " output patches given for " << in.size());
  return estimate_normals(out, in, near, threads,
                          [&](std::uint32_t i) { return chosen[i] == value; });
}

void report_normals(std::size_t n, const NormalsTally& tally, std::ostream& progress) {
  const double average = static_cast<double>(tally.neighbours) / static_cast<double>(n) - 1;
  if (average < 50) progress << "Neighbors per patch: " << average << std::endl;
  if (tally.unchanged > 0) progress << tally.unchanged << " patches left unchanged" << std::endl;
}

}  // namespace tervik
