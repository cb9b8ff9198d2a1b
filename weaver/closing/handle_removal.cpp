// Handle removal: geodesic regions whose front meets itself, a separation test for the loop the
// front closes, and the cut along it.
#include "weaver/closing/handle_removal.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>
#include <numeric>
#include <queue>
#include <unordered_set>
#include <utility>

#include "weaver/closing/vertex_sort.h"

namespace tervik {
namespace {

// The radius of the one further search made while handles are left, as a multiple of the given
// radius (loops up to about half again as long).
constexpr double kWiderRadius = 1.5;

using VH = HoleMesh::VertexHandle;
using FH = HoleMesh::FaceHandle;
using HH = HoleMesh::HalfedgeHandle;

// State of the search, indexed by vertex, edge or face index. Stamps tell which region or which
// separation test last wrote an entry, so that nothing is cleared between seeds.
struct Search {
  const HoleMesh& hm;
  double radius;
  std::vector<char> blocked_vertex;  // on a loop already found, or on a boundary
  std::vector<char> blocked_edge;    // on a loop already found
  std::vector<char> covered;         // near enough to an earlier seed to need no region
  std::vector<int> region;           // stamp: the vertex was reached (finalised) in that region
  std::vector<int> queued;           // stamp: the vertex has a tentative distance in that region
  std::vector<double> dist;
  std::vector<int> parent;
  std::vector<int> test_edge;        // stamp: the edge is on the loop being tested
  std::vector<int> face_side;        // stamp * 2 + side of the face's last visit
  int stamp = 0;
  int test = 0;
  // Each vertex's neighbours in the order around it, with the edges' lengths, listed on the
  // first visit (regions overlap: later visits read them without circulating the half-edges).
  std::vector<int> first_neighbour;  // -1 until listed
  std::vector<int> degree;
  std::vector<int> neighbour;
  std::vector<double> length;
  // Scratch of grow, kept between regions.
  std::vector<std::pair<double, int>> heap;
  std::vector<int> ring, arc_rep;

  explicit Search(const HoleMesh& m, double r)
      : hm(m), radius(r), blocked_vertex(m.n_vertices(), 0), blocked_edge(m.n_edges(), 0),
        covered(m.n_vertices(), 0), region(m.n_vertices(), -1), queued(m.n_vertices(), -1),
        dist(m.n_vertices(), 0.0), parent(m.n_vertices(), -1), test_edge(m.n_edges(), -1),
        face_side(m.n_faces(), -1), first_neighbour(m.n_vertices(), -1),
        degree(m.n_vertices(), 0) {
    for (auto v : hm.vertices())
      if (hm.is_boundary(v) || hm.is_isolated(v)) blocked_vertex[std::size_t(v.idx())] = 1;
  }

  // Whether the loop does not separate the mesh (with the loops found so far cut): the faces
  // on its two sides are searched alternately, face by face across edges that are not cut,
  // until the searches meet (not separating) or one runs out (separating).
  bool non_separating(const std::vector<VH>& loop) {
    ++test;
    const int n = int(loop.size());
    for (int i = 0; i < n; ++i) {
      const HH h = hm.find_halfedge(loop[std::size_t(i)], loop[std::size_t((i + 1) % n)]);
      if (!h.is_valid()) return false;
      test_edge[std::size_t(hm.edge_handle(h).idx())] = test;
    }
    const HH h0 = hm.find_halfedge(loop[0], loop[1]);
    const FH start[2] = {hm.face_handle(h0), hm.face_handle(hm.opposite_halfedge_handle(h0))};
    if (!start[0].is_valid() || !start[1].is_valid()) return false;
    std::deque<FH> front[2];
    for (int s = 0; s < 2; ++s) {
      front[s].push_back(start[s]);
      face_side[std::size_t(start[s].idx())] = 2 * test + s;
    }
    while (!front[0].empty() && !front[1].empty()) {
      for (int s = 0; s < 2; ++s) {
        const FH f = front[s].front();
        front[s].pop_front();
        for (auto h : hm.fh_range(f)) {
          const auto e = std::size_t(hm.edge_handle(h).idx());
          if (blocked_edge[e] || test_edge[e] == test) continue;
          const FH g = hm.face_handle(hm.opposite_halfedge_handle(h));
          if (!g.is_valid()) continue;
          const int mark = face_side[std::size_t(g.idx())];
          if (mark == 2 * test + (1 - s)) return true;
          if (mark == 2 * test + s) continue;
          face_side[std::size_t(g.idx())] = 2 * test + s;
          front[s].push_back(g);
        }
      }
    }
    return false;
  }

  // The loop through u closed by the tree paths from neighbours a and b back to their common
  // ancestor: u, a, ..., ancestor, ..., b.
  std::vector<VH> loop_through(VH u, int a, int b) const {
    std::vector<int> up_a;
    std::unordered_set<int> on_a;
    for (int x = a; x >= 0; x = parent[std::size_t(x)]) {
      up_a.push_back(x);
      on_a.insert(x);
    }
    std::vector<int> up_b;
    int x = b;
    while (x >= 0 && !on_a.count(x)) {
      up_b.push_back(x);
      x = parent[std::size_t(x)];
    }
    std::vector<VH> loop{u};
    for (int y : up_a) {
      loop.push_back(VH(y));
      if (y == x) break;
    }
    for (auto it = up_b.rbegin(); it != up_b.rend(); ++it) loop.push_back(VH(*it));
    return loop;
  }

  // The neighbours of u (positions first .. first + count in neighbour and length).
  std::pair<std::size_t, std::size_t> neighbours(std::size_t u) {
    if (first_neighbour[u] < 0) {
      first_neighbour[u] = int(neighbour.size());
      for (auto h : hm.voh_range(VH(int(u)))) {
        neighbour.push_back(hm.to_vertex_handle(h).idx());
        length.push_back(std::sqrt(hm.calc_edge_sqr_length(h)));
      }
      degree[u] = int(neighbour.size()) - first_neighbour[u];
    }
    return {std::size_t(first_neighbour[u]), std::size_t(degree[u])};
  }

  // Grows the region of `seed`; returns the first non-separating loop its front closes (empty
  // when none does within the radius).
  std::vector<VH> grow(VH seed) {
    ++stamp;
    // A min-heap of (distance, vertex), as std::priority_queue with std::greater keeps it.
    const auto later = std::greater<std::pair<double, int>>();
    heap.clear();
    const auto s = std::size_t(seed.idx());
    dist[s] = 0.0;
    parent[s] = -1;
    queued[s] = stamp;
    heap.push_back({0.0, seed.idx()});
    while (!heap.empty()) {
      std::pop_heap(heap.begin(), heap.end(), later);
      const auto [d, ui] = heap.back();
      heap.pop_back();
      const auto u = std::size_t(ui);
      if (region[u] == stamp || d > dist[u]) continue;
      region[u] = stamp;
      if (d <= 0.5 * radius) covered[u] = 1;
      // The neighbours already in the region, around u: each run of them is a piece of the
      // front that u joins; two runs or more mean the front meets itself at u.
      const auto [first, count] = neighbours(u);
      ring.assign(neighbour.begin() + long(first), neighbour.begin() + long(first + count));
      const int k = int(ring.size());
      int first_out = -1;
      for (int i = 0; i < k; ++i)
        if (region[std::size_t(ring[std::size_t(i)])] != stamp) { first_out = i; break; }
      arc_rep.clear();
      if (first_out >= 0) {
        for (int j = 1; j <= k; ++j) {
          const int w = ring[std::size_t((first_out + j) % k)];
          const bool in = region[std::size_t(w)] == stamp;
          const int prev = ring[std::size_t((first_out + j - 1) % k)];
          if (in && region[std::size_t(prev)] != stamp) arc_rep.push_back(w);
        }
      }
      for (std::size_t j = 1; j < arc_rep.size(); ++j) {
        std::vector<VH> loop = loop_through(VH(ui), arc_rep[0], arc_rep[j]);
        if (loop.size() >= 3 && non_separating(loop)) return loop;
      }
      for (std::size_t j = first; j < first + count; ++j) {
        const auto wi = std::size_t(neighbour[j]);
        if (blocked_vertex[wi] || region[wi] == stamp) continue;
        const double nd = d + length[j];
        if (nd > radius) continue;
        if (queued[wi] != stamp || nd < dist[wi]) {
          queued[wi] = stamp;
          dist[wi] = nd;
          parent[wi] = ui;
          heap.push_back({nd, int(wi)});
          std::push_heap(heap.begin(), heap.end(), later);
        }
      }
    }
    return {};
  }
};

}  // namespace

std::vector<std::vector<VH>> find_handle_loops(const HoleMesh& hm, double radius,
                                               std::size_t max_loops,
                                               const std::vector<VH>& first_seeds) {
  std::vector<std::vector<VH>> loops;
  Search search(hm, radius);
  // Seeds: the given vertices first, then every vertex in index order.
  const std::size_t seeds = first_seeds.size() + hm.n_vertices();
  for (std::size_t k = 0; k < seeds; ++k) {
    if (loops.size() >= max_loops) break;
    const VH v = k < first_seeds.size() ? first_seeds[k] : VH(int(k - first_seeds.size()));
    const auto i = std::size_t(v.idx());
    if (search.covered[i] || search.blocked_vertex[i]) continue;
    std::vector<VH> loop = search.grow(v);
    if (loop.empty()) continue;
    // Later regions neither cross the loop nor use its vertices: that is the cut.
    const int n = int(loop.size());
    for (int j = 0; j < n; ++j) {
      search.blocked_vertex[std::size_t(loop[std::size_t(j)].idx())] = 1;
      const HH h = hm.find_halfedge(loop[std::size_t(j)], loop[std::size_t((j + 1) % n)]);
      search.blocked_edge[std::size_t(hm.edge_handle(h).idx())] = 1;
    }
    loops.push_back(std::move(loop));
  }
  return loops;
}

void cut_along_loops(RepairMesh& mesh, const HoleMesh& hm, const std::vector<std::vector<VH>>& loops) {
  for (const auto& loop : loops) {
    const std::size_t n = loop.size();
    for (std::size_t i = 0; i < n; ++i) {
      const VH c = loop[i], next = loop[(i + 1) % n], prev = loop[(i + n - 1) % n];
      const auto copy = static_cast<long long>(mesh.vertices.size());
      mesh.vertices.push_back(mesh.vertices[std::size_t(c.idx())]);
      mesh.colors.push_back(mesh.colors[std::size_t(c.idx())]);
      mesh.normals.push_back(mesh.normals[std::size_t(c.idx())]);
      // The faces left of the loop at c: from the one left of c->next around c up to the one
      // left of prev->c.
      const HH stop = hm.find_halfedge(c, prev);
      for (HH o = hm.find_halfedge(c, next); o != stop;
           o = hm.opposite_halfedge_handle(hm.prev_halfedge_handle(o))) {
        auto& f = mesh.faces[std::size_t(hm.face_handle(o).idx())];
        for (int k = 0; k < 3; ++k)
          if (f[k] == c.idx()) f[k] = copy;
      }
    }
  }
}

long euler_characteristic(const RepairMesh& mesh) {
  std::vector<char> used(mesh.vertices.size(), 0);
  std::vector<std::pair<long long, long long>> edges;
  edges.reserve(mesh.faces.size() * 3);
  for (const auto& f : mesh.faces)
    for (int k = 0; k < 3; ++k) {
      used[std::size_t(f[k])] = 1;
      edges.emplace_back(std::min(f[k], f[(k + 1) % 3]), std::max(f[k], f[(k + 1) % 3]));
    }
  sort_by_vertex(edges, mesh.vertices.size(), [](const auto& e) { return e.first; },
                 [](const auto& e) { return e.second; });
  const long e = long(std::unique(edges.begin(), edges.end()) - edges.begin());
  return long(std::count(used.begin(), used.end(), 1)) - e + long(mesh.faces.size());
}

double mean_edge_length(const RepairMesh& mesh) {
  double sum = 0.0;
  long count = 0;
  for (const auto& f : mesh.faces)
    for (int k = 0; k < 3; ++k) {
      const long long a = f[k], b = f[(k + 1) % 3];
      // Each edge inside the mesh is seen from both sides; the side with a < b counts it.
      if (a < b) {
        sum += norm(mesh.vertices[std::size_t(a)] - mesh.vertices[std::size_t(b)]);
        ++count;
      }
    }
  return count > 0 ? sum / double(count) : 0.0;
}

long component_count(const RepairMesh& mesh) {
  std::vector<long long> parent(mesh.vertices.size());
  std::iota(parent.begin(), parent.end(), 0LL);
  const auto root = [&](long long x) {
    while (parent[std::size_t(x)] != x) x = parent[std::size_t(x)] = parent[std::size_t(parent[std::size_t(x)])];
    return x;
  };
  long count = 0;
  std::vector<char> used(mesh.vertices.size(), 0);
  for (const auto& f : mesh.faces)
    for (int k = 0; k < 3; ++k) {
      if (!used[std::size_t(f[k])]) ++count;
      used[std::size_t(f[k])] = 1;
      const long long a = root(f[k]), b = root(f[(k + 1) % 3]);
      if (a != b) {
        parent[std::size_t(a)] = b;
        --count;
      }
    }
  return count;
}

HandleRemoval remove_handles(RepairMesh& mesh, double radius, int rounds, std::optional<long> euler,
                             HoleMesh* closed, const std::vector<VH>& first_seeds,
                             std::optional<long> piece_count) {
  HandleRemoval out;
  out.euler_before = out.euler_after = euler ? *euler : euler_characteristic(mesh);
  // A closed surface of c pieces has Euler characteristic 2c - 2g for g handles; each cut along
  // a non-separating loop removes one, so the search stops when none are left.
  const long pieces = piece_count ? *piece_count : component_count(mesh);
  double mean_edge = 0.0;  // measured once, when the first caps need it
  bool widened = false;    // the one search with the wider radius has been made
  bool given = closed != nullptr;  // *closed still describes mesh
  for (int round = 0;; ++round) {
    const long genus = (2 * pieces - out.euler_after) / 2;
    if (genus <= 0) break;
    // Once the rounds are spent, or a search finds nothing, while handles are left: one more
    // search with a radius half again as large. Flipping edges for smoother patches can
    // lengthen the shortest loop around a small handle past the radius.
    if (round >= rounds) {
      if (widened) break;
      widened = true;
      radius *= kWiderRadius;
    }
    HoleMesh built;
    if (!given) {
      long refused = 0;
      to_hole_mesh(mesh, refused, built);
      if (refused > 0) break;
    }
    const HoleMesh& hm = given ? *closed : built;
    const auto loops =
        find_handle_loops(hm, radius, std::size_t(genus), round == 0 ? first_seeds : std::vector<VH>());
    if (loops.empty()) {
      if (widened) break;
      widened = true;
      radius *= kWiderRadius;
      --round;  // the same round again, wider
      continue;
    }
    const std::size_t faces_before = mesh.faces.size(), vertices_before = mesh.vertices.size();
    cut_along_loops(mesh, hm, loops);
    if (given) closed->clear();
    given = false;
    // Only the cuts are open: each loop vertex and its copy are marked, and only loops of
    // marked vertices are capped.
    std::vector<char> cut(mesh.vertices.size(), 0);
    for (const auto& loop : loops)
      for (const VH v : loop) cut[std::size_t(v.idx())] = 1;
    std::fill(cut.begin() + long(vertices_before), cut.end(), 1);
    if (mean_edge <= 0.0) mean_edge = mean_edge_length(mesh);
    const HoleFilling caps = fill_marked_holes(mesh, cut, mean_edge);
    out.handles += long(loops.size());
    for (const auto& loop : loops) out.longest_cut = std::max(out.longest_cut, long(loop.size()));
    out.faces_added += long(mesh.faces.size() - faces_before);
    out.vertices_added += long(mesh.vertices.size() - vertices_before);
    // A cut along a loop adds as many vertices (the copies) as edges: the caps alone change
    // the Euler characteristic.
    out.euler_after += caps.euler_change;
    if (caps.holes_left > 0 || caps.faces_refused > 0) break;
  }
  return out;
}

}  // namespace tervik
