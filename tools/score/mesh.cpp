// Scoring of triangle meshes against the ground truth.
#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include "tervik/exceptions.h"
#include "tools/scene/render.h"
#include "tools/score/score.h"
#include "tools/score/silhouette.h"

namespace tervik::scene {
namespace {

// The point of triangle abc nearest to p (by Voronoi regions of its corners and edges).
Point3D closest_on_triangle(const Point3D& p, const Point3D& a, const Point3D& b,
                            const Point3D& c) {
  const Point3D ab = b - a, ac = c - a, ap = p - a;
  const double d1 = dot(ab, ap), d2 = dot(ac, ap);
  if (d1 <= 0.0 && d2 <= 0.0) return a;
  const Point3D bp = p - b;
  const double d3 = dot(ab, bp), d4 = dot(ac, bp);
  if (d3 >= 0.0 && d4 <= d3) return b;
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) return a + ab * (d1 / (d1 - d3));
  const Point3D cp = p - c;
  const double d5 = dot(ab, cp), d6 = dot(ac, cp);
  if (d6 >= 0.0 && d5 <= d6) return c;
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) return a + ac * (d2 / (d2 - d6));
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0.0 && (d4 - d3) >= 0.0 && (d5 - d6) >= 0.0)
    return b + (c - b) * ((d4 - d3) / ((d4 - d3) + (d5 - d6)));
  const double sum = va + vb + vc;
  if (!(sum > 0.0)) {
    // Degenerate triangle: the nearest of its corners.
    const double da = dist2(p, a), db = dist2(p, b), dc = dist2(p, c);
    return da <= db && da <= dc ? a : (db <= dc ? b : c);
  }
  return a + ab * (vb / sum) + ac * (vc / sum);
}

// Uniform grid over the mesh in which every cell lists the faces within `reach` of it, so that
// one cell answers "is a face within reach of this point".
class FaceGrid {
 public:
  FaceGrid(const std::vector<Point3D>& v, const std::vector<Coord3D<long long>>& f, double reach)
      : v_(v), f_(f), reach_(reach) {
    lo_ = hi_ = v.empty() ? Point3D() : v[f.empty() ? 0 : f[0][0]];
    for (const auto& face : f)
      for (int k = 0; k < 3; ++k)
        for (int a = 0; a < 3; ++a) {
          lo_[a] = std::min(lo_[a], v[face[k]][a]);
          hi_[a] = std::max(hi_[a], v[face[k]][a]);
        }
    lo_ -= Point3D(reach, reach, reach);
    hi_ += Point3D(reach, reach, reach);
    cell_ = reach;
    // At most about 4 million cells.
    for (;;) {
      long total = 1;
      for (int a = 0; a < 3; ++a) {
        n_[a] = std::max(1L, long(std::ceil((hi_[a] - lo_[a]) / cell_)));
        total *= n_[a];
      }
      if (total <= (1L << 22)) break;
      cell_ *= 1.5;
    }
    start_.assign(std::size_t(n_[0] * n_[1] * n_[2] + 1), 0);
    for (int pass = 0; pass < 2; ++pass) {
      std::vector<long> fill;
      if (pass == 1) {
        for (std::size_t i = 1; i < start_.size(); ++i) start_[i] += start_[i - 1];
        items_.resize(std::size_t(start_.back()));
        fill.assign(start_.begin(), start_.end() - 1);
      }
      for (std::size_t i = 0; i < f.size(); ++i) {
        long c0[3], c1[3];
        for (int a = 0; a < 3; ++a) {
          double mn = v[f[i][0]][a], mx = mn;
          for (int k = 1; k < 3; ++k) {
            mn = std::min(mn, v[f[i][k]][a]);
            mx = std::max(mx, v[f[i][k]][a]);
          }
          c0[a] = cell_index(mn - reach, a);
          c1[a] = cell_index(mx + reach, a);
        }
        for (long z = c0[2]; z <= c1[2]; ++z)
          for (long y = c0[1]; y <= c1[1]; ++y)
            for (long x = c0[0]; x <= c1[0]; ++x) {
              const std::size_t cell = std::size_t(x + n_[0] * (y + n_[1] * z));
              if (pass == 0) ++start_[cell + 1];
              else items_[std::size_t(fill[cell]++)] = long(i);
            }
      }
    }
  }

  // True when some face lies within reach of p.
  bool near(const Point3D& p) const {
    long c[3];
    for (int a = 0; a < 3; ++a) {
      if (p[a] < lo_[a] || p[a] > hi_[a]) return false;
      c[a] = cell_index(p[a], a);
    }
    const std::size_t cell = std::size_t(c[0] + n_[0] * (c[1] + n_[1] * c[2]));
    for (long j = start_[cell]; j < start_[cell + 1]; ++j) {
      const auto& face = f_[std::size_t(items_[std::size_t(j)])];
      const Point3D q = closest_on_triangle(p, v_[face[0]], v_[face[1]], v_[face[2]]);
      if (dist2(p, q) <= reach_ * reach_) return true;
    }
    return false;
  }

 private:
  long cell_index(double x, int a) const {
    return std::clamp(long(std::floor((x - lo_[a]) / cell_)), 0L, n_[a] - 1);
  }

  const std::vector<Point3D>& v_;
  const std::vector<Coord3D<long long>>& f_;
  double reach_, cell_ = 1.0;
  Point3D lo_, hi_;
  long n_[3] = {1, 1, 1};
  std::vector<long> start_, items_;
};

// Pieces of faces connected through shared vertices (union-find over the vertices).
long count_components(std::size_t vertex_count, const std::vector<Coord3D<long long>>& faces) {
  std::vector<std::size_t> parent(vertex_count);
  for (std::size_t i = 0; i < vertex_count; ++i) parent[i] = i;
  auto root = [&](std::size_t i) {
    while (parent[i] != i) i = parent[i] = parent[parent[i]];
    return i;
  };
  for (const auto& f : faces)
    for (int k = 1; k < 3; ++k) parent[root(std::size_t(f[k]))] = root(std::size_t(f[0]));
  std::vector<char> counted(vertex_count, 0);
  long pieces = 0;
  for (const auto& f : faces) {
    const std::size_t r = root(std::size_t(f[0]));
    if (!counted[r]) counted[r] = 1, ++pieces;
  }
  return pieces;
}

}  // namespace

MeshScore score_mesh(const GroundTruth& truth, long frame, const std::vector<Point3D>& vertices,
                     const std::vector<Coord3D<long long>>& faces, long samples,
                     double coverage_distance) {
  const long long nv = static_cast<long long>(vertices.size());
  for (std::size_t i = 0; i < faces.size(); ++i)
    for (int k = 0; k < 3; ++k)
      TERVIK_CHECK(faces[i][k] >= 0 && faces[i][k] < nv,
                   "score_mesh: face " << i << " uses vertex " << faces[i][k] << " of " << nv);
  const Solid& solid = truth.solid(frame);
  const double l = truth.sampling_length();
  MeshScore score;
  score.vertices = long(vertices.size());
  score.faces = long(faces.size());
  std::vector<char> used(vertices.size(), 0);
  // Undirected edge (smaller index first) -> faces using it, and how many of them traverse it
  // from the smaller to the larger index.
  std::map<std::pair<long long, long long>, std::pair<int, int>> edges;
  std::vector<double> centroid_distances;
  for (const auto& face : faces) {
    for (int k = 0; k < 3; ++k) {
      used[std::size_t(face[k])] = 1;
      const long long a = face[k], b = face[(k + 1) % 3];
      if (a == b) continue;
      auto& e = edges[{std::min(a, b), std::max(a, b)}];
      ++e.first;
      if (a < b) ++e.second;
    }
    const Point3D& p0 = vertices[std::size_t(face[0])];
    const Point3D& p1 = vertices[std::size_t(face[1])];
    const Point3D& p2 = vertices[std::size_t(face[2])];
    const Point3D n = cross(p1 - p0, p2 - p0);
    const Point3D centroid = (p0 + p1 + p2) / 3.0;
    const SurfacePoint sp = solid.nearest_surface_point(centroid);
    centroid_distances.push_back(std::fabs(sp.signed_distance) / l);
    if (face[0] == face[1] || face[1] == face[2] || face[0] == face[2] || norm2(n) == 0.0)
      ++score.degenerate_faces;
    else if (dot(n, sp.normal) < 0.0) {
      ++score.flipped_faces;
      if (std::fabs(sp.signed_distance) <= coverage_distance * l) ++score.flipped_near;
    }
  }
  for (char u : used) score.used_vertices += u;
  score.euler_characteristic = score.used_vertices - long(edges.size()) + score.faces;
  score.components = count_components(vertices.size(), faces);
  if (score.used_vertices > 0)
    score.faces_per_used_vertex = double(score.faces) / double(score.used_vertices);
  for (const auto& [key, e] : edges) {
    if (e.first == 1) ++score.boundary_edges;
    else if (e.first > 2) ++score.nonmanifold_edges;
    else if (e.second != 1) ++score.inconsistent_edges;
  }
  score.centroid_distance = summarize(centroid_distances);
  score.coverage_distance = coverage_distance;
  const std::vector<SurfacePoint> surface = solid.sample_surface(samples, 20240601);
  score.coverage_samples = long(surface.size());
  if (!surface.empty() && !faces.empty()) {
    const FaceGrid grid(vertices, faces, coverage_distance * l);
    long covered = 0;
    for (const SurfacePoint& sp : surface)
      if (grid.near(sp.position)) ++covered;
    score.coverage = double(covered) / double(surface.size());
  }
  for (const ViewCamera& cam : truth.cameras) {
    const double iou = silhouette_iou(render_silhouette(solid, cam), cam, vertices, faces);
    score.silhouette_iou.push_back(iou);
    score.min_silhouette_iou = score.silhouette_iou.size() == 1 ? iou : std::min(score.min_silhouette_iou, iou);
  }
  return score;
}

long faces_against_point_normals(const std::vector<Point3D>& vertices,
                                 const std::vector<Coord3D<long long>>& faces,
                                 const std::vector<Point3D>& normals) {
  long against = 0;
  for (const auto& f : faces) {
    Point3D sum;
    bool any = false;
    for (int k = 0; k < 3; ++k)
      if (std::size_t(f[k]) < normals.size()) sum += normals[std::size_t(f[k])], any = true;
    const Point3D& a = vertices[std::size_t(f[0])];
    const Point3D n = cross(vertices[std::size_t(f[1])] - a, vertices[std::size_t(f[2])] - a);
    against += any && dot(n, sum) < 0.0;
  }
  return against;
}

}  // namespace tervik::scene
