#include "sculptor/normals.h"

#include <iostream>

#include "common/kdtree.h"
#include "tervik/eigenvalues.h"
#include "tervik/exceptions.h"

namespace tervik {

MultiArray<double, 2> emat(3, 3);

namespace {

// Component j of eigenvector k of the decomposition (the first index selects the vector).
Point3D eigenvector(const MultiArray<double, 2>& V, int k) { return {V[k][0], V[k][1], V[k][2]}; }

// Fills emat with the scatter matrix of `points` about their centroid (not divided by n) and
// returns the eigenvectors, ascending by eigenvalue.
MultiArray<double, 2> principal_axes(const std::vector<Point3D>& points) {
  TERVIK_CHECK(!points.empty(), "compute_normal: no points to fit a plane to");
  Point3D c;
  for (const Point3D& p : points) c += p;
  c = c * (1.0 / static_cast<double>(points.size()));

  auto& m = emat;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) m[i][j] = 0.0;
  for (const Point3D& p : points) {
    const Point3D d = p - c;
    m[0][0] += d.x * d.x;
    m[0][1] += d.x * d.y;
    m[1][1] += d.y * d.y;
    m[0][2] += d.x * d.z;
    m[1][2] += d.y * d.z;
    m[2][2] += d.z * d.z;
  }
  m[1][0] = m[0][1];
  m[2][0] = m[0][2];
  m[2][1] = m[1][2];
  const math::numeric::Eigenvalues<double> eig(m);
  return eig.eigenvectors();
}

// Whether a probe point counts as inside the visual hull (the outline flag is not used).
bool probe_inside(const SilhouetteViews& silhouettes, const Point3D& q, short min_cameras,
                  short tolerance) {
  short inside = 0, outside = 0;
  projection_test(silhouettes, q, inside, outside, tolerance);
  return inside >= min_cameras && outside <= tolerance;
}

}  // namespace

Point3D compute_normal(const std::vector<Point3D>& points) {
  return eigenvector(principal_axes(points), 0);
}

Point3D compute_normal(const std::vector<Point3D>& points, Point3D& first_tangent,
                       Point3D& second_tangent) {
  const MultiArray<double, 2> V = principal_axes(points);
  first_tangent = eigenvector(V, 1);
  second_tangent = eigenvector(V, 2);
  return eigenvector(V, 0);
}

bool local_normal(Point3D& normal, MyDirector& frame, const std::vector<Point3D>& points,
                  const Point3D& p, const SilhouetteViews& silhouettes, short min_cameras,
                  short tolerance, double L) {
  normal = compute_normal(points, frame.u, frame.v);
  double s = 2.0;
  for (int probe = 0; probe < 4; ++probe) {
    const Point3D offset = normal * (s * L);
    const bool plus = probe_inside(silhouettes, p + offset, min_cameras, tolerance);
    const bool minus = probe_inside(silhouettes, p - offset, min_cameras, tolerance);
    if (minus && !plus) return true;
    if (plus && !minus) {
      normal = -normal;
      return true;
    }
    s *= 0.5;
  }
  return false;
}

void normals(std::vector<Patch>& out, const std::vector<Patch>& in, const Point3D& /*box_min*/,
             const Point3D& /*box_max*/, double L) {
  TERVIK_CHECK(&out != &in, "normals: the output vector must not be the input vector");
  out.clear();
  out.reserve(in.size());
  const double r2 = L * L;
  const KDTree<Patch> tree(in);
  std::vector<unsigned int> neighbours;
  std::vector<Point3D> positions;
  positions.reserve(5000);
  double total = 0.0;
  long long unchanged = 0;
  for (const Patch& patch : in) {
    tree.neighbors(patch.pos, in, r2, neighbours);
    Patch copy = patch;
    if (neighbours.size() >= 3) {
      positions.clear();
      for (unsigned int k : neighbours) positions.push_back(in[k].pos);
      Point3D n = compute_normal(positions);
      double agreement = 0.0;
      for (unsigned int k : neighbours) agreement += dot(n, in[k].normal);
      if (agreement < 0) n = -n;
      copy.normal = n;
    } else {
      ++unchanged;
    }
    out.push_back(copy);
    total += static_cast<double>(neighbours.size());
  }
  const double average = total / static_cast<double>(in.size()) - 1;
  if (average < 50) std::cout << "Neighbors per patch: " << average << std::endl;
  if (unchanged > 0) std::cout << unchanged << " patches left unchanged" << std::endl;
}

}  // namespace tervik
