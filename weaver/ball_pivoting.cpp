#include "weaver/ball_pivoting.h"

#include <OpenMesh/Core/Geometry/VectorT.hh>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <memory>

#include "weaver/edge_table.h"
#include "weaver/halfedge.h"
#include "weaver/lookahead.h"
#include "weaver/point_tree.h"

namespace tervik {

bool normalize(Point3D& p) {
  const double len2 = p.x * p.x + p.y * p.y + p.z * p.z;
  if (!(len2 > 0.0)) return false;
  const double inv = 1.0 / std::sqrt(len2);
  p.x *= inv;
  p.y *= inv;
  p.z *= inv;
  return true;
}

Point3D cross_product(const Point3D& a, const Point3D& b) {
  const OpenMesh::Vec3d u(a.x, a.y, a.z), v(b.x, b.y, b.z);
  const OpenMesh::Vec3d w = u % v;
  return Point3D(w[0], w[1], w[2]);
}

ApexBand::ApexBand(double minangle)
    : cos_min(std::cos(minangle / 180 * 3.14159)),
      cos_max(std::cos((180 - 2 * minangle) / 180 * 3.14159)) {}

bool corner(const Point3D& apex, const Point3D& p, const Point3D& q, Corner& out) {
  out.e1 = p - apex;
  out.e2 = q - apex;
  if (!normalize(out.e1) || !normalize(out.e2)) return false;
  out.c = dot(out.e1, out.e2);
  return true;
}

namespace {

// One call of get_mesh: the working state and the steps of the triangulation.
class Pivoter {
 public:
  Pivoter(const std::vector<Patch>& points, unsigned int nn, double minangle,
          std::vector<bool>& face_flags, unsigned int npoints, unsigned int threads)
      : input_(points), n_(points.size()), nn_(nn), npoints_(npoints), band_(minangle),
        tree_(points, threads), original_(tree_.renumber()), edges_(points.size()),
        free_(points.size(), true), face_flags_(face_flags) {
    // The mesher numbers the points in the tree's depth-first order, so that points near each
    // other in space are near each other in memory; faces and messages give input indices.
    pos_.resize(n_);
    normal_.resize(n_);
    for (std::size_t i = 0; i < n_; ++i) {
      pos_[i] = points[original_[i]].pos;
      normal_[i] = points[original_[i]].normal;
    }
    if (threads > 1) {
      // Helper threads compute the neighbour lists of queued edges ahead.
      const auto clamp = [&](std::uint64_t k) {
        return static_cast<unsigned int>(std::min<std::uint64_t>(k, n_));
      };
      ahead_front_ = std::make_unique<Lookahead>(tree_, pos_, clamp(nn_), 128);
      ahead_deferred_ =
          std::make_unique<Lookahead>(tree_, pos_, clamp(10 * std::uint64_t{nn_}), 64);
      helpers_ = std::make_unique<LookaheadHelpers>(
          std::vector<Lookahead*>{ahead_front_.get(), ahead_deferred_.get()}, threads - 1);
    }
    face_flags_.clear();
    face_flags_.reserve(2 * n_);
    faces_work_.reserve(2 * n_);
    mesh_.vertices.reserve(n_);
    mesh_.colors.reserve(n_);
    mesh_.vertex_faces.reserve(n_);
    for (const Patch& p : points) mesh_.add_vertex(p.pos, Coord3D<unsigned char>(p.r, p.g, p.b));
  }

  FaceVertexMesh run(PivotingTrace* trace) {
    const auto ninety = static_cast<unsigned int>(static_cast<std::int64_t>(0.9 * n_));
    while (used_ < ninety && used_ < npoints_) {
      if (!deferred_.empty()) std::cout << "Generating new seed triangle... " << std::flush;
      if (!seed()) break;
      first_pass();
    }
    second_pass();
    helpers_.reset();
    fill_faces();
    if (trace) {
      trace->free_points.assign(mesh_.vertices.size(), false);
      for (std::size_t i = 0; i < n_; ++i) trace->free_points[original_[i]] = free_[i];
      trace->used = used_;
      if (trace->keep_tree) {
        // The helpers have stopped: nothing searches the tree any more.
        trace->tree = std::make_unique<PointTree>(std::move(tree_));
        trace->point_of = std::move(original_);
      }
    }
    return std::move(mesh_);
  }

 private:
  enum class Walk { kClear, kRejected, kIncoherent };
  enum class Outcome { kGrown, kDeferred, kDropped };

  // A prospective face (x, y, z), its unit normal and, per directed edge s->t, the edge's
  // midpoint and the in-plane direction pointing out of the face across it.
  struct Face {
    unsigned int v[3];
    Point3D m;
    Point3D mid[3], outward[3];
  };

  void make_face(unsigned int x, unsigned int y, unsigned int z, const Point3D& m, Face& f) {
    f.v[0] = x, f.v[1] = y, f.v[2] = z;
    f.m = m;
    for (int i = 0; i < 3; ++i) {
      const Point3D& s = pos_[f.v[i]];
      const Point3D& t = pos_[f.v[(i + 1) % 3]];
      Point3D d = t - s;
      normalize(d);  // the vertices are distinct: their corner was normalised
      f.mid[i] = 0.5 * (s + t);
      f.outward[i] = cross_product(d, m);
    }
  }

  // Whether point p, projected onto the face's plane through its apex, lies inside the face
  // (points on an edge count as inside).
  bool inside(const Face& f, unsigned int p, unsigned int apex) const {
    const Point3D& q = pos_[p];
    const Point3D proj = q + (dot(f.m, pos_[apex]) - dot(f.m, q)) * f.m;
    for (int i = 0; i < 3; ++i) {
      if (!(dot(proj - f.mid[i], f.outward[i]) <= 0)) return false;
    }
    return true;
  }

  // Collects into ball_ the points of the face's ball other than its vertices.
  void ball(const Face& f) {
    const Point3D& a = pos_[f.v[0]];
    const Point3D& b = pos_[f.v[1]];
    const Point3D& c = pos_[f.v[2]];
    // The centroid: any other weighting would pull the ball towards the world origin, and the
    // mesh would change when the cloud is moved.
    const Point3D g = (a + b + c) / 3.0;
    const double r2 = std::max({dist2(g, a), dist2(g, b), dist2(g, c)});
    tree_.within(g, r2, ball_);
    ball_.erase(std::remove_if(ball_.begin(), ball_.end(),
                               [&](unsigned int p) {
                                 return p == f.v[0] || p == f.v[1] || p == f.v[2];
                               }),
                ball_.end());
  }

  void nearest(const Point3D& q, std::uint64_t k, std::vector<unsigned int>& out) {
    // Asking for more than n neighbours returns all n; the clamp keeps the buffers small.
    tree_.nearest(q, static_cast<unsigned int>(std::min<std::uint64_t>(k, n_)), out, scratch_);
  }

  void add_face(unsigned int x, unsigned int y, unsigned int z) {
    faces_work_.push_back({x, y, z});
    face_flags_.push_back(true);
  }

  bool is_free_new(unsigned int v) const { return free_[v] && !edges_.on_surface(v); }

  // Step 3: a seed triangle (D, A, B) from random points; false when the attempts run out.
  bool seed() {
    const auto attempts = static_cast<std::uint64_t>(0.1 * n_);
    Face f;
    for (std::uint64_t attempt = 0; attempt < attempts; ++attempt) {
      const unsigned int s = static_cast<unsigned int>(std::rand()) % n_;
      nearest(input_[s].pos, nn_, near_);
      // A is the nearest point, B the next one at another position: a twin of A would make
      // every corner of the seed degenerate.
      std::size_t j = 1;
      while (j < near_.size() && pos_[near_[j]] == pos_[near_[0]]) ++j;
      if (j >= near_.size()) continue;
      const unsigned int a0 = near_[0], b0 = near_[j];
      if (!is_free_new(a0) || !is_free_new(b0)) continue;
      for (++j; j < near_.size(); ++j) {
        const unsigned int d = near_[j];
        if (!is_free_new(d)) continue;
        unsigned int a = a0, b = b0;
        Corner k;
        if (!corner(pos_[d], pos_[a], pos_[b], k) || !band_.admits(k.c)) continue;
        Point3D m = cross_product(k.e1, k.e2);
        if (!normalize(m)) continue;
        const double sa = dot(m, normal_[a]), sb = dot(m, normal_[b]),
                     sd = dot(m, normal_[d]);
        if (sa < 0 && sb < 0 && sd < 0) {
          m = -m;
          std::swap(a, b);
        } else if (!(sa > 0 && sb > 0 && sd > 0)) {
          continue;
        }
        make_face(d, a, b, m, f);
        if (!seed_ball_clear(f)) continue;
        accept_seed(f);
        return true;
      }
    }
    return false;
  }

  // The ball of a seed face: any point of the surface in it rejects the face; points off the
  // surface whose projection falls inside it are collected as covered.
  bool seed_ball_clear(const Face& f) {
    ball(f);
    covered_.clear();
    for (unsigned int p : ball_) {
      if (edges_.on_surface(p)) return false;
      if (inside(f, p, f.v[0])) covered_.push_back(p);
    }
    return true;
  }

  void accept_seed(const Face& f) {
    for (unsigned int p : covered_) free_[p] = false;
    const unsigned int d = f.v[0], a = f.v[1], b = f.v[2];
    add_face(d, a, b);
    front_.push(HalfEdge(d, a, b, f.m));
    front_.push(HalfEdge(a, b, d, f.m));
    front_.push(HalfEdge(b, d, a, f.m));
    edges_.add_face(d, a, b, faces_);
    if (!deferred_.empty()) std::cout << "and propagating new contour edges" << std::endl;
    used_ += 3;
    ++faces_;
  }

  // Whether both end points of a border edge are still free; reports the first that is not.
  bool ends_free(const HalfEdge& e) const {
    for (unsigned int v : {e.to, e.from}) {
      if (!free_[v]) {
        std::cout << "ERROR: edge vertex is not valid " << original_[v] << std::endl;
        return false;
      }
    }
    return true;
  }

  // Step 4: grows from the front queue while the point budget lasts.
  void first_pass() {
    while (used_ < npoints_) {
      if (front_.empty()) return;
      const HalfEdge e = front_.pop();
      if (!edges_.exists(e.from, e.to) || edges_.exists(e.to, e.from)) continue;
      if (!ends_free(e)) continue;
      if (grow(e, neighbours(front_, e, nn_, ahead_front_.get()), true) == Outcome::kDeferred)
        deferred_.push(e);
    }
  }

  // Step 5: retries the deferred edges with ten times the neighbourhood until none is left.
  void second_pass() {
    const std::uint64_t k = 10 * static_cast<std::uint64_t>(nn_);
    if (ahead_front_) ahead_front_->retire();
    while (!deferred_.empty()) {
      const HalfEdge e = deferred_.pop();
      if (edges_.exists(e.to, e.from)) continue;
      if (!ends_free(e)) continue;
      grow(e, neighbours(deferred_, e, k, ahead_deferred_.get()), false);
    }
  }

  // The k nearest points of the midpoint of edge e, just popped from q: computed ahead when
  // threads help, else here.
  struct Near {
    const unsigned int* begin_;
    unsigned int count;
    const unsigned int* begin() const { return begin_; }
    const unsigned int* end() const { return begin_ + count; }
    bool empty() const { return count == 0; }
  };
  Near neighbours(const EdgeQueue& q, const HalfEdge& e, std::uint64_t k, Lookahead* ahead) {
    if (ahead) {
      Near near{nullptr, 0};
      near.begin_ = ahead->get(q, e, near.count, scratch_, near_);
      // Helpers get only the edges that would be grown if popped now. Retired points stay
      // retired, and a twin once added stays unless a withdrawn face takes it away again, so an
      // edge left out is almost never asked for; when it is, its list is computed here.
      ahead->offer(q, [this](const HalfEdge& x) {
        return free_[x.from] && free_[x.to] && !edges_.exists(x.to, x.from);
      });
      // Sleeping helpers are woken once a batch of edges waits for them, not for every edge.
      if (++since_poke_ == 64) {
        helpers_->poke();
        since_poke_ = 0;
      }
      return near;
    }
    nearest(edge_midpoint(pos_, e), k, near_);
    return Near{near_.data(), static_cast<unsigned int>(near_.size())};
  }

  // Tries to close the border edge a->b with a face (v, b, a) from the nearest points of its
  // midpoint, nearest first.
  Outcome grow(const HalfEdge& e, const Near& near, bool first) {
    const unsigned int a = e.from, b = e.to, o = e.opposite;
    const Point3D& pa = pos_[a];
    const Point3D& pb = pos_[b];
    const Point3D mid = 0.5 * (pa + pb);
    Point3D out = cross_product(pb - pa, e.normal);
    // Without a direction across the edge no point is in front of it: nothing can close it
    // in this pass.
    if (!normalize(out)) return first && !near.empty() ? Outcome::kDeferred : Outcome::kDropped;
    auto in_front = [&](unsigned int p) { return dot(pos_[p] - mid, out) > 0; };
    auto other = [&](unsigned int p) { return p != a && p != b && p != o; };

    // Fold: a free point in front already closes faces with both ends of the edge.
    for (unsigned int w : near) {
      if (free_[w] && other(w) && in_front(w) && edges_.exists(a, w) && edges_.exists(w, b)) {
        if (first) withdraw(edges_.face(a, b));
        return Outcome::kDropped;
      }
    }
    Face f;
    for (unsigned int v : near) {
      if (!free_[v] || !other(v) || !in_front(v) || edges_.exists(a, v) || edges_.exists(v, b))
        continue;
      Corner c;
      if (!corner(pos_[v], pb, pa, c) || !band_.admits(c.c)) continue;
      Point3D m = cross_product(c.e1, c.e2);
      if (!normalize(m)) continue;
      if (!(dot(m, normal_[v]) > 0 && dot(m, normal_[b]) > 0 &&
            dot(m, normal_[a]) > 0))
        continue;
      if (!edges_.valid_vertex(v)) continue;
      make_face(v, b, a, m, f);
      const Walk walk = grow_ball(f, a, b, in_front, first);
      if (walk == Walk::kIncoherent) return first ? Outcome::kDeferred : Outcome::kDropped;
      if (walk == Walk::kRejected) continue;
      accept(f, first);
      return Outcome::kGrown;
    }
    return first && !near.empty() ? Outcome::kDeferred : Outcome::kDropped;
  }

  // The ball of a face (v, b, a) grown from a->b: a point in front of the edge that already
  // closes faces with a and b makes the edge incoherent; a point of the surface inside the face
  // rejects it; other points inside it are collected as covered.
  template <typename InFront>
  Walk grow_ball(const Face& f, unsigned int a, unsigned int b, InFront in_front, bool first) {
    ball(f);
    covered_.clear();
    for (unsigned int p : ball_) {
      if (in_front(p) && edges_.exists(a, p) && edges_.exists(p, b)) {
        if (first)
          std::cout << "ERROR: in ball, incoherent verts " << original_[b] << " " << original_[a] << " "
                    << original_[p] << std::endl;
        return Walk::kIncoherent;
      }
      if (inside(f, p, f.v[0])) {
        if (edges_.on_surface(p)) return Walk::kRejected;
        covered_.push_back(p);
      }
    }
    return Walk::kClear;
  }

  void accept(const Face& f, bool first) {
    const unsigned int v = f.v[0], b = f.v[1], a = f.v[2];
    for (unsigned int p : covered_) free_[p] = false;
    const bool was_on_surface = edges_.on_surface(v);
    add_face(v, b, a);
    if (first && !was_on_surface) ++used_;
    edges_.add_face(v, b, a, faces_);
    ++faces_;
    EdgeQueue& queue = first ? front_ : deferred_;
    if (!edges_.exists(b, v)) queue.push(HalfEdge(v, b, a, f.m));
    if (!edges_.exists(v, a)) queue.push(HalfEdge(a, v, b, f.m));
  }

  // Hands the faces, in order of acceptance, to the mesh: the same face list and per-vertex
  // face lists as adding them one by one, with every list allocated once at its final size.
  void fill_faces() {
    std::vector<std::uint32_t> uses(n_, 0);
    for (const auto& t : faces_work_) {
      for (unsigned int v : t) ++uses[original_[v]];
    }
    for (std::size_t v = 0; v < n_; ++v) mesh_.vertex_faces[v].reserve(uses[v]);
    mesh_.faces.reserve(faces_work_.size());
    for (const auto& t : faces_work_) {
      const Coord3D<long long> f(original_[t[0]], original_[t[1]], original_[t[2]]);
      const auto k = static_cast<long long>(mesh_.faces.size());
      mesh_.faces.push_back(f);
      mesh_.vertex_faces[f.x].push_back(k);
      mesh_.vertex_faces[f.y].push_back(k);
      mesh_.vertex_faces[f.z].push_back(k);
    }
  }

  // Takes face f out of the surface; it stays in the mesh with its flag cleared.
  void withdraw(unsigned int f) {
    const auto& t = faces_work_[f];
    edges_.remove_face(t[0], t[1], t[2]);
    face_flags_[f] = false;
  }

  const std::vector<Patch>& input_;
  const std::size_t n_;
  const unsigned int nn_;
  const unsigned int npoints_;
  const ApexBand band_;
  PointTree tree_;
  std::vector<std::uint32_t> original_;  // input index of each working number (handed over last)
  std::vector<Point3D> pos_, normal_;          // by working number
  EdgeTable edges_;
  std::vector<bool> free_;
  std::vector<bool>& face_flags_;
  FaceVertexMesh mesh_;
  std::vector<std::array<unsigned int, 3>> faces_work_;  // faces in working indices
  EdgeQueue front_, deferred_;
  unsigned int used_ = 0;
  unsigned int faces_ = 0;
  // Scratch buffers reused by every query.
  std::vector<unsigned int> near_, ball_, covered_;
  PointTree::Scratch scratch_;
  // With more than one thread: the neighbour lists computed ahead, and the helpers (declared
  // last, so that they stop before the lists go).
  std::unique_ptr<Lookahead> ahead_front_, ahead_deferred_;
  std::unique_ptr<LookaheadHelpers> helpers_;
  unsigned int since_poke_ = 0;
};

}  // namespace

FaceVertexMesh get_mesh(const std::vector<Patch>& points, unsigned int nn, double minangle,
                        std::vector<bool>& face_flags, unsigned int npoints,
                        PivotingTrace* trace, unsigned int threads) {
  Pivoter pivoter(points, nn, minangle, face_flags, npoints, std::max(threads, 1u));
  return pivoter.run(trace);
}

}  // namespace tervik
