// Membrane fairing by Gauss-Seidel sweeps over the umbrella operator, and fairing to least
// bending by sparse Cholesky.
#include "weaver/closing/fairing.h"

#include <algorithm>
#include <cstddef>

#include <Eigen/SparseCholesky>
#include <Eigen/SparseCore>

namespace tervik {

OpenMesh::Vec3d umbrella(const HoleMesh& hm, HoleMesh::VertexHandle v) {
  OpenMesh::Vec3d sum(0.0, 0.0, 0.0);
  int count = 0;
  for (auto w : hm.vv_range(v)) {
    sum += hm.point(w);
    ++count;
  }
  if (count == 0) return sum;
  return sum / double(count) - hm.point(v);
}

namespace {

// Two doubles worked on together, and a count in each of their lanes.
typedef double Lanes __attribute__((vector_size(16)));
typedef long long LaneCounts __attribute__((vector_size(16)));

// Where one Gauss-Seidel step moves a vertex at q whose neighbours are p[around[b .. e - 1]]:
// the mean of the neighbours (written as q plus the umbrella, the same rounding as always).
// Inlined: the sweeps take it about 90,000 times on a sparse sphere.
[[gnu::always_inline]] inline OpenMesh::Vec3d umbrella_step(const OpenMesh::Vec3d* p,
                                                            const std::vector<int>& around, std::size_t b,
                                                            std::size_t e, const OpenMesh::Vec3d& q) {
  OpenMesh::Vec3d sum(0.0, 0.0, 0.0);
  for (std::size_t k = b; k < e; ++k) sum += p[around[k]];
  return q + (sum / double(e - b) - q);
}

}  // namespace

void fair_vertices(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& free, int iterations) {
  if (iterations <= 0 || free.empty()) return;
  // The neighbours of each free vertex, listed once (in the order the umbrella sums them), so
  // that the sweeps run over flat arrays instead of circulating the half-edges every time.
  std::vector<std::size_t> start{0};
  std::vector<int> around;
  start.reserve(free.size() + 1);
  for (const auto v : free) {
    for (auto w : hm.vv_range(v)) around.push_back(w.idx());
    start.push_back(around.size());
  }
  const OpenMesh::Vec3d* p = hm.points();
  for (int it = 0; it < iterations; ++it)
    for (std::size_t i = 0; i < free.size(); ++i) {
      const std::size_t b = start[i], e = start[i + 1];
      if (b == e) continue;
      OpenMesh::Vec3d& q = hm.point(free[i]);
      q = umbrella_step(p, around, b, e, q);
    }
}

void fair_vertices_unfolded(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& free,
                            int iterations, const std::vector<Point3D>& normals, double settled) {
  if (iterations <= 0 || free.empty()) return;
  // Per free vertex: its neighbours, and its faces as the pairs (a, b) that make (v, a, b) with
  // the sum of their three corners' normals.
  struct Wedge {
    int a, b;
    OpenMesh::Vec3d normal;
  };
  std::vector<std::size_t> start{0}, wedge_start{0};
  std::vector<int> around;
  std::vector<Wedge> wedges;
  // Sized for six neighbours a vertex (the patches' usual number) instead of grown by doubling.
  start.reserve(free.size() + 1);
  wedge_start.reserve(free.size() + 1);
  around.reserve(6 * free.size());
  wedges.reserve(6 * free.size());
  for (const auto v : free) {
    for (auto w : hm.vv_range(v)) around.push_back(w.idx());
    start.push_back(around.size());
    for (auto h : hm.voh_range(v)) {
      if (hm.is_boundary(h)) continue;
      const auto a = hm.to_vertex_handle(h), b = hm.to_vertex_handle(hm.next_halfedge_handle(h));
      wedges.push_back({a.idx(), b.idx(),
                        to_vec(normals[std::size_t(v.idx())] + normals[std::size_t(a.idx())] +
                               normals[std::size_t(b.idx())])});
    }
    wedge_start.push_back(wedges.size());
  }
  const OpenMesh::Vec3d* p = hm.points();
  // How many of the faces of free vertex i, placed at x, face against their normal sums: the
  // sign of ((p[a] - x) % (p[b] - x)) | normal. Two faces are worked out at a time, one in each
  // lane of a pair of doubles, each lane by the same operations in the same order as one face
  // alone (lane by lane, the arithmetic rounds as it does on single doubles).
  const auto against = [&](std::size_t i, const OpenMesh::Vec3d& x) {
    const Lanes x0 = {x[0], x[0]}, x1 = {x[1], x[1]}, x2 = {x[2], x[2]}, zero = {0.0, 0.0};
    LaneCounts lanes = {0, 0};
    std::size_t w = wedge_start[i];
    const std::size_t end = wedge_start[i + 1];
    for (; w + 1 < end; w += 2) {
      const Wedge &f = wedges[w], &g = wedges[w + 1];
      const OpenMesh::Vec3d &fa = p[f.a], &fb = p[f.b], &ga = p[g.a], &gb = p[g.b];
      const Lanes u0 = Lanes{fa[0], ga[0]} - x0, u1 = Lanes{fa[1], ga[1]} - x1, u2 = Lanes{fa[2], ga[2]} - x2;
      const Lanes v0 = Lanes{fb[0], gb[0]} - x0, v1 = Lanes{fb[1], gb[1]} - x1, v2 = Lanes{fb[2], gb[2]} - x2;
      const Lanes c0 = u1 * v2 - u2 * v1, c1 = u2 * v0 - u0 * v2, c2 = u0 * v1 - u1 * v0;
      const Lanes d = (c0 * Lanes{f.normal[0], g.normal[0]} + c1 * Lanes{f.normal[1], g.normal[1]}) +
                      c2 * Lanes{f.normal[2], g.normal[2]};
      lanes -= d < zero;  // -1 in each lane where it holds
    }
    int k = int(lanes[0] + lanes[1]);
    for (; w < end; ++w) k += (((p[wedges[w].a] - x) % (p[wedges[w].b] - x)) | wedges[w].normal) < 0.0;
    return k;
  };
  const double settled2 = settled * settled;
  for (int it = 0; it < iterations; ++it) {
    double largest2 = 0.0;  // the largest squared move of the sweep
    for (std::size_t i = 0; i < free.size(); ++i) {
      const std::size_t b = start[i], e = start[i + 1];
      if (b == e) continue;
      OpenMesh::Vec3d& q = hm.point(free[i]);
      const OpenMesh::Vec3d moved = umbrella_step(p, around, b, e, q);
      // (The count before the move is needed only where some face would be against them.)
      const int after = against(i, moved);
      if (after == 0 || after <= against(i, q)) {
        largest2 = std::max(largest2, (moved - q).sqrnorm());
        q = moved;
      }
    }
    if (largest2 < settled2) break;
  }
}

namespace {

using Vec = OpenMesh::Vec3d;

// Moves the patch's vertices to least bending. The energy is the sum over the rows r (the
// patch's vertices and the fixed vertices next to them) of |mean(x over r's neighbours) - x_r|^2:
// with the patch's positions x, each row's umbrella is (L x)_r + c_r, where c_r holds the fixed
// vertices' part. Its least is where L^T L x = -L^T c, solved by sparse Cholesky (the matrix is
// positive definite wherever a fixed vertex is next to the patch). False, with nothing moved,
// where the factorisation fails.
bool bend(HoleMesh& hm, const std::vector<HoleMesh::VertexHandle>& patch, std::vector<int>& slot) {
  const auto n = Eigen::Index(patch.size());
  for (std::size_t i = 0; i < patch.size(); ++i) slot[std::size_t(patch[i].idx())] = int(i);
  std::vector<Eigen::Triplet<double>> entries;
  std::vector<Vec> fixed;  // c_r
  std::vector<int> seen;   // fixed rows, marked -2 in slot while the rows are gathered
  const auto row = [&](HoleMesh::VertexHandle v) {
    const auto r = Eigen::Index(fixed.size());
    Vec c(0.0, 0.0, 0.0);
    const double share = 1.0 / double(hm.valence(v));
    for (auto w : hm.vv_range(v)) {
      if (const int s = slot[std::size_t(w.idx())]; s >= 0) entries.emplace_back(r, s, share);
      else c += share * hm.point(w);
    }
    if (const int s = slot[std::size_t(v.idx())]; s >= 0) entries.emplace_back(r, s, -1.0);
    else c -= hm.point(v);
    fixed.push_back(c);
  };
  for (const auto v : patch) {
    row(v);
    for (auto w : hm.vv_range(v))
      if (int& s = slot[std::size_t(w.idx())]; s == -1) s = -2, seen.push_back(w.idx()), row(w);
  }
  for (int v : seen) slot[std::size_t(v)] = -1;
  for (const auto v : patch) slot[std::size_t(v.idx())] = -1;

  Eigen::SparseMatrix<double> L(Eigen::Index(fixed.size()), n);
  L.setFromTriplets(entries.begin(), entries.end());
  Eigen::MatrixXd c(Eigen::Index(fixed.size()), 3);
  for (std::size_t r = 0; r < fixed.size(); ++r)
    for (int k = 0; k < 3; ++k) c(Eigen::Index(r), k) = fixed[r][k];
  const Eigen::SparseMatrix<double> Lt = L.transpose();
  const Eigen::SparseMatrix<double> A = Lt * L;
  const Eigen::SimplicialLDLT<Eigen::SparseMatrix<double>> solver(A);
  if (solver.info() != Eigen::Success) return false;
  const Eigen::MatrixXd x = solver.solve(-(Lt * c));
  if (solver.info() != Eigen::Success || !x.allFinite()) return false;
  for (std::size_t i = 0; i < patch.size(); ++i)
    hm.point(patch[i]) = Vec(x(Eigen::Index(i), 0), x(Eigen::Index(i), 1), x(Eigen::Index(i), 2));
  return true;
}

}  // namespace

long fair_bending(HoleMesh& hm, std::size_t first_new, std::size_t min_vertices) {
  const std::size_t nv = hm.n_vertices();
  if (first_new >= nv) return 0;
  std::vector<char> taken(nv - first_new, 0);
  std::vector<int> slot(nv, -1);
  long patches = 0;
  std::vector<HoleMesh::VertexHandle> patch;
  for (std::size_t v = first_new; v < nv; ++v) {
    if (taken[v - first_new]) continue;
    taken[v - first_new] = 1;
    patch.assign(1, HoleMesh::VertexHandle(int(v)));
    for (std::size_t i = 0; i < patch.size(); ++i)
      for (auto w : hm.vv_range(patch[i])) {
        const auto u = std::size_t(w.idx());
        if (u >= first_new && !taken[u - first_new]) taken[u - first_new] = 1, patch.push_back(w);
      }
    if (patch.size() >= min_vertices && bend(hm, patch, slot)) ++patches;
  }
  return patches;
}

}  // namespace tervik
