// Re-triangulating small discs around faces against their corners' point normals and folds of
// the patches.
#include "weaver/closing/region_retriangulation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <optional>
#include <utility>
#include <unordered_map>

#include "weaver/closing/loop_triangulation.h"

namespace tervik {
namespace {

// The most faces a disc may have. On clouds from other rigs than the ones this stage was
// tuned on, 50 left 1 to 5 faces against the point normals on three of eight clouds (patches
// folded right over their neighbours, 15 sampling distances across); 100 left them on one,
// turned fewer faces against the true surface on most clouds, and cost no measurable time.
constexpr std::size_t kMaxRegionFaces = 100;
// Faces put back in the queue, at most, while a disc grows without pinching its rim.
constexpr std::size_t kMaxWaits = 100;
// A new face may not fold back onto a face beside it: their normals at most this far apart
// (degrees). Sharp creases are allowed: on the generated figure at 20,000 points a bound of 150
// left 72 faces against the normals, 175 left 60, and neither turned more faces against the
// true surface.
constexpr double kMaxFold = 175.0;
// A fan around a new vertex (the last resort of a star whose rim no triangulation of its own
// corners mends) may lean its faces at most this far from their corners' normals (degrees), and
// its vertex lies within this share of the rim's radius from the rim's centroid.
constexpr double kMaxFanLean = 80.0;
constexpr double kFanReach = 0.7;
// ... and at most this many of the rim's mean edge lengths off the rim along its mean normal.
constexpr double kFanHeight = 1.0;
// Steps of the search for the fan's vertex.
constexpr int kFanSteps = 1000;

using Face = Coord3D<long long>;

class Regions {
 public:
  Regions(std::vector<Point3D>& positions, std::vector<Point3D>& normals,
          std::vector<char>& is_point, std::vector<char>& droppable,
          std::vector<char>& complete, std::vector<Face>& faces, bool crumples,
          const std::vector<int>* pieces, std::vector<long>* left,
          const std::vector<std::vector<long long>>* joined_outside)
      : crumples_(crumples), joined_outside_(joined_outside), pos_(positions), nrm_(normals), is_point_(is_point), droppable_(droppable), complete_(complete),
        pieces_(pieces), left_(left),
        faces_(faces), alive_(faces.size(), 1), in_(faces.size(), 0), at_(positions.size()),
        stamp_of_(positions.size(), 0), next_(positions.size(), -1), slot_(positions.size(), 0),
        uses_(positions.size(), 0) {
    for (std::size_t f = 0; f < faces_.size(); ++f) link(f);
  }

  // The sum of the point corners' normals of (a, b, c); zero where none is a point.
  Point3D point_sum(long long a, long long b, long long c) const {
    Point3D s;
    for (long long v : {a, b, c})
      if (is_point_[std::size_t(v)]) s += nrm_[std::size_t(v)];
    return s;
  }
  Point3D normal(long long a, long long b, long long c) const {
    const Point3D& pa = pos_[std::size_t(a)];
    return cross(pos_[std::size_t(b)] - pa, pos_[std::size_t(c)] - pa);
  }
  bool against(long long a, long long b, long long c) const {
    return faces_against(pos_[std::size_t(a)], pos_[std::size_t(b)], pos_[std::size_t(c)], point_sum(a, b, c));
  }
  bool against(std::size_t f) const { return against(faces_[f].x, faces_[f].y, faces_[f].z); }
  // A face of added vertices only (inside a patch) against their normals, which the closing
  // step spread from the points around them: a fold of the patch.
  bool spread_against(long long a, long long b, long long c) const {
    if (point_sum(a, b, c) != Point3D()) return false;
    return dot(normal(a, b, c), nrm_[std::size_t(a)] + nrm_[std::size_t(b)] + nrm_[std::size_t(c)]) < 0.0;
  }
  bool spread_against(std::size_t f) const { return spread_against(faces_[f].x, faces_[f].y, faces_[f].z); }
  // A patch face (an added vertex for a corner) whose normal turns away from the faces around
  // its corners: a crumple of the patch.
  bool crumpled(std::size_t f) const {
    const Face& g = faces_[f];
    if (is_point_[std::size_t(g.x)] && is_point_[std::size_t(g.y)] && is_point_[std::size_t(g.z)]) return false;
    Point3D around;
    for (int k = 0; k < 3; ++k)
      for (std::size_t h : at_[std::size_t(g[k])]) around += normal(faces_[h].x, faces_[h].y, faces_[h].z);
    return dot(normal(g.x, g.y, g.z), around) < 0.0;
  }
  bool bad(std::size_t f) const { return crumples_ ? crumpled(f) : against(f) || spread_against(f); }
  bool alive(std::size_t f) const { return alive_[f] != 0; }

  // Drops the replaced faces from the list, keeping the others' order.
  void compact() {
    std::size_t kept = 0;
    for (std::size_t f = 0; f < faces_.size(); ++f)
      if (alive_[f]) faces_[kept++] = faces_[f];
    faces_.resize(kept);
  }

  // Tries the discs made of the faces at one, two or all three corners of face f, and those
  // grown by the faces at their vertices, smallest first: such a disc leaves those corners
  // inside, which the discs grown across edges may never do where a fan of slivers from one
  // point folds. True where one was replaced.
  bool mend_stars(std::size_t f, RegionRetriangulation& report) {
    const Face g = faces_[f];
    std::vector<std::vector<std::size_t>> stars;
    for (int corners = 1; corners < 8; ++corners) {
      std::vector<std::size_t> region;
      for (int k = 0; k < 3; ++k)
        if (corners >> k & 1)
          for (std::size_t h : at_[std::size_t(g[k])])
            if (!in_[h]) in_[h] = 1, region.push_back(h);
      // The same grown by the faces at its vertices: the point beyond its neighbours may fold
      // the faces of the next ring too.
      std::vector<std::size_t> grown = region;
      for (std::size_t h : region)
        for (int k = 0; k < 3; ++k)
          for (std::size_t o : at_[std::size_t(faces_[h][k])])
            if (!in_[o]) in_[o] = 1, grown.push_back(o);
      for (std::size_t h : grown) in_[h] = 0;
      if (region.size() <= kMaxRegionFaces) stars.push_back(std::move(region));
      if (grown.size() <= kMaxRegionFaces) stars.push_back(std::move(grown));
    }
    std::stable_sort(stars.begin(), stars.end(), [](const auto& a, const auto& b) { return a.size() < b.size(); });
    const auto attempt = [&](const std::vector<std::size_t>& region, bool fan) {
      for (std::size_t h : region) {
        in_[h] = 1;
        for (int k = 0; k < 3; ++k) ++uses_[std::size_t(faces_[h][k])];
      }
      const bool replaced = replace(region, report, fan);
      for (std::size_t h : region) {
        in_[h] = 0;
        for (int k = 0; k < 3; ++k) --uses_[std::size_t(faces_[h][k])];
      }
      return replaced;
    };
    for (const auto& region : stars)
      if (attempt(region, false)) return true;
    if (!fans) return false;
    // No triangulation of a rim's own corners mends the face: a fan around one new vertex may,
    // where the rim winds about a place from which every fan face faces along its normals.
    for (const auto& region : stars)
      if (attempt(region, true)) return true;
    return false;
  }

  bool fans = false;  // mend_stars may end in a fan around a new vertex

  // Tries discs of growing size around face f, nearest faces across edges first (when
  // `unpinched`, putting off faces that would pinch its rim); true where one was replaced.
  bool mend(std::size_t f, bool unpinched, RegionRetriangulation& report) {
    std::vector<std::size_t> region;
    std::vector<std::size_t> queue;  // faces across the edges of the region's faces, in turn
    std::size_t head = 0, next_try = 2;
    const auto across = [&](std::size_t g) {
      for (int k = 0; k < 3; ++k) {
        const auto o = face_of(faces_[g][(k + 1) % 3], faces_[g][k]);
        if (o >= 0 && !in_[std::size_t(o)]) queue.push_back(std::size_t(o));
      }
    };
    const auto enter = [&](std::size_t g) {
      in_[g] = 1;
      region.push_back(g);
      for (int k = 0; k < 3; ++k) ++uses_[std::size_t(faces_[g][k])];
      across(g);
    };
    enter(f);
    std::size_t waits = 0;
    bool replaced = false;
    while (!replaced && region.size() < kMaxRegionFaces && head < queue.size()) {
      const std::size_t o = queue[head++];
      if (in_[o]) continue;
      if (unpinched && waits < kMaxWaits && pinches(o)) {
        // It meets the disc along one edge with its third corner on the disc already: it waits
        // for a face that joins it to the disc along a second edge.
        ++waits;
        queue.push_back(o);
        continue;
      }
      enter(o);
      // Tried at sizes growing by about a fifth: the disc's rim changes a little with each face.
      if (region.size() >= next_try) {
        next_try = region.size() + 1 + region.size() / 5;
        replaced = replace(region, report, false);
      }
    }
    for (std::size_t g : region) {
      in_[g] = 0;
      for (int k = 0; k < 3; ++k) --uses_[std::size_t(faces_[g][k])];
    }
    return replaced;
  }

 private:
  // Whether face o meets the disc along one edge only while its third corner is on the disc:
  // adding it would pinch the disc's rim at that corner.
  bool pinches(std::size_t o) const {
    int shared = 0;
    long long third = -1;  // the corner off the shared edge
    for (int k = 0; k < 3; ++k) {
      const auto g = face_of(faces_[o][(k + 1) % 3], faces_[o][k]);
      if (g >= 0 && in_[std::size_t(g)]) ++shared, third = faces_[o][(k + 2) % 3];
    }
    return shared == 1 && uses_[std::size_t(third)] > 0;
  }

  static long long key(long long a, long long b) { return (a << 32) ^ b; }
  long long face_of(long long a, long long b) const {
    const auto it = edge_.find(key(a, b));
    return it == edge_.end() ? -1 : it->second;
  }
  void link(std::size_t f) {
    const Face& g = faces_[f];
    for (int k = 0; k < 3; ++k) {
      edge_[key(g[k], g[(k + 1) % 3])] = (long long)f;
      at_[std::size_t(g[k])].push_back(f);
    }
  }
  void unlink(std::size_t f) {
    const Face& g = faces_[f];
    alive_[f] = 0;
    for (int k = 0; k < 3; ++k) {
      edge_.erase(key(g[k], g[(k + 1) % 3]));
      auto& list = at_[std::size_t(g[k])];
      list.erase(std::find(list.begin(), list.end(), f));
    }
  }

  // Replaces the disc `region` (its faces, marked in in_) where it qualifies and its new
  // triangulation is better.
  bool replace(const std::vector<std::size_t>& region, RegionRetriangulation& report, bool fan) {
    // The rim: half-edges of the region's faces with no region face across them. Its corners
    // are stamped, each with the next corner and later its place on the loop.
    const int rim_stamp = ++stamp_;
    std::size_t rim = 0;
    long long first = -1;
    for (std::size_t f : region)
      for (int k = 0; k < 3; ++k) {
        const Face& g = faces_[f];
        const long long a = g[k], b = g[(k + 1) % 3];
        const auto o = face_of(b, a);
        if (o >= 0 && in_[std::size_t(o)]) continue;
        if (stamp_of_[std::size_t(a)] == rim_stamp) return false;  // a corner twice on the rim
        stamp_of_[std::size_t(a)] = rim_stamp;
        next_[std::size_t(a)] = b;
        first = a;
        ++rim;
      }
    if (rim < 3) return false;
    std::vector<long long> loop;
    loop.reserve(rim);
    const int loop_stamp = ++stamp_;
    for (long long v = first; loop.size() < rim; v = next_[std::size_t(v)]) {
      // Off the rim, or back at a corner before the rim is walked: not one simple loop.
      if (stamp_of_[std::size_t(v)] != rim_stamp) return false;
      stamp_of_[std::size_t(v)] = loop_stamp;
      slot_[std::size_t(v)] = int(loop.size());
      loop.push_back(v);
    }
    if (next_[std::size_t(loop.back())] != first) return false;
    // Inside vertices: droppable ones, with all their faces known, and every face in the region.
    const int inside_stamp = ++stamp_;
    std::size_t inside = 0, points_inside = 0;
    taken_.clear();
    for (std::size_t f : region)
      for (int k = 0; k < 3; ++k) {
        const long long u = faces_[f][k];
        const int st = stamp_of_[std::size_t(u)];
        if (st == loop_stamp || st == inside_stamp) continue;
        if (st == rim_stamp) return false;  // on the rim, off the loop's one walk
        stamp_of_[std::size_t(u)] = inside_stamp;
        ++inside;
        if (!complete_[std::size_t(u)] || !droppable_[std::size_t(u)]) return false;
        if (is_point_[std::size_t(u)]) {
          ++points_inside;
          if (pieces_ && (*pieces_)[std::size_t(u)] >= 0) taken_.push_back((*pieces_)[std::size_t(u)]);
        }
        for (std::size_t g : at_[std::size_t(u)])
          if (!in_[g]) return false;
      }
    // At most half the points of a detached piece that still have faces.
    std::sort(taken_.begin(), taken_.end());
    for (std::size_t i = 0, j = 0; i < taken_.size(); i = j) {
      while (j < taken_.size() && taken_[j] == taken_[i]) ++j;
      if (2 * long(j - i) > (*left_)[std::size_t(taken_[i])]) return false;
    }
    // A disc: V - E + F = 1, with E = (3F + rim) / 2.
    const long long nf = (long long)region.size();
    const long long edges2 = 3 * nf + (long long)rim;
    if (edges2 % 2 != 0 || (long long)(rim + inside) - edges2 / 2 + nf != 1) return false;
    // Crumples are judged against the disc's vector area, which every triangulation of its rim
    // shares: the faces turned away from it.
    Point3D area;
    for (std::size_t f : region) area += normal(faces_[f].x, faces_[f].y, faces_[f].z);
    long before = 0, spread_before = 0, turned_before = 0;
    for (std::size_t f : region) {
      before += against(f), spread_before += spread_against(f);
      turned_before += dot(normal(faces_[f].x, faces_[f].y, faces_[f].z), area) < 0.0;
    }
    if (crumples_ ? turned_before == 0 : before + spread_before == 0) return false;

    // Chords that would repeat an edge of a face outside the region may not be taken.
    const int n = int(loop.size());
    std::vector<std::size_t> joined_start{0};
    std::vector<int> joined;
    for (int i = 0; i < n; ++i) {
      for (std::size_t g : at_[std::size_t(loop[std::size_t(i)])]) {
        if (in_[g]) continue;
        for (int k = 0; k < 3; ++k) {
          const auto u = std::size_t(faces_[g][k]);
          if (stamp_of_[u] == loop_stamp && slot_[u] != i) joined.push_back(slot_[u]);
        }
      }
      // (A fan's vertex, added here, has no edges outside.)
      if (joined_outside_ && std::size_t(loop[std::size_t(i)]) < joined_outside_->size())
        for (const long long u : (*joined_outside_)[std::size_t(loop[std::size_t(i)])])
          if (stamp_of_[std::size_t(u)] == loop_stamp && slot_[std::size_t(u)] != i) joined.push_back(slot_[std::size_t(u)]);
      joined_start.push_back(joined.size());
    }
    std::vector<Point3D> p, steer;
    for (long long u : loop) {
      p.push_back(pos_[std::size_t(u)]);
      steer.push_back(is_point_[std::size_t(u)] ? nrm_[std::size_t(u)] : Point3D());
    }
    std::vector<std::array<int, 3>> tris;
    long long centre = -1;  // the fan's vertex, added for the trial
    if (fan) {
      const auto place = fan_centre(loop);
      if (!place) return false;
      centre = add_vertex(place->first, place->second);
      for (int i = 0; i < n; ++i) tris.push_back({i, (i + 1) % n, n});
    } else {
      tris = min_area_triangulation(p, joined_start, joined, steer);
      if (tris.empty()) return false;
    }
    // The trial vertex goes again unless the fan is taken.
    struct Drop {
      Regions* r;
      long long v;
      ~Drop() {
        if (v >= 0) r->remove_last_vertex();
      }
    } drop{this, centre};
    const auto corner = [&](int i) { return i == n ? centre : loop[std::size_t(i)]; };
    std::vector<Face> made;
    long after = 0, spread_after = 0, turned_after = 0;
    const double fold = std::cos(kMaxFold * M_PI / 180.0);
    for (const auto& t : tris) {
      const Face g(corner(t[0]), corner(t[1]), corner(t[2]));
      const Point3D nn = normal(g.x, g.y, g.z);
      const double len = norm(nn);
      if (!(len > 0.0)) return false;
      after += against(g.x, g.y, g.z);
      spread_after += spread_against(g.x, g.y, g.z);
      turned_after += dot(nn, area) < 0.0;
      made.push_back(g);
    }
    // Better: fewer faces against the point normals or folded, none more against the normals
    // (for crumples: fewer turned away, none more against the normals or folded).
    if (after > before) return false;
    if (crumples_ ? spread_after > spread_before || turned_after >= turned_before
                  : after + spread_after >= before + spread_before)
      return false;
    // No new face folds onto its neighbours: the other new faces and the faces outside
    // across the rim.
    std::unordered_map<long long, const Face*> made_edge;
    for (const Face& g : made)
      for (int k = 0; k < 3; ++k) made_edge[key(g[k], g[(k + 1) % 3])] = &g;
    for (const Face& g : made) {
      const Point3D nn = normal(g.x, g.y, g.z);
      for (int k = 0; k < 3; ++k) {
        const long long a = g[k], b = g[(k + 1) % 3];
        Point3D other;
        if (const auto it = made_edge.find(key(b, a)); it != made_edge.end()) {
          other = normal(it->second->x, it->second->y, it->second->z);
        } else {
          const auto o = face_of(b, a);
          if (o < 0) continue;
          other = normal(faces_[std::size_t(o)].x, faces_[std::size_t(o)].y, faces_[std::size_t(o)].z);
        }
        if (dot(nn, other) < fold * norm(nn) * norm(other)) return false;
      }
    }
    drop.v = -1;
    for (std::size_t f : region) unlink(f);
    for (const Face& g : made) {
      faces_.push_back(g);
      alive_.push_back(1);
      in_.push_back(0);
      link(faces_.size() - 1);
    }
    ++report.regions;
    report.fans += fan;
    report.faces_removed += nf;
    report.faces_added += long(made.size());
    report.vertices_dropped += long(inside - points_inside);
    report.points_dropped += long(points_inside);
    for (int k : taken_) --(*left_)[std::size_t(k)];
    return true;
  }

  long long add_vertex(const Point3D& at, const Point3D& n) {
    pos_.push_back(at);
    nrm_.push_back(n);
    is_point_.push_back(0);
    droppable_.push_back(1);
    complete_.push_back(1);
    at_.emplace_back();
    stamp_of_.push_back(0);
    next_.push_back(-1);
    slot_.push_back(0);
    uses_.push_back(0);
    return (long long)pos_.size() - 1;
  }
  void remove_last_vertex() {
    for (auto* v : {&is_point_, &droppable_, &complete_}) v->pop_back();
    pos_.pop_back();
    nrm_.pop_back();
    at_.pop_back();
    stamp_of_.pop_back();
    next_.pop_back();
    slot_.pop_back();
    uses_.pop_back();
  }

  // A place for the vertex of a fan over `loop` (each rim edge (a, b) then makes the face
  // (a, b, c)) from which every fan face faces along the normals of its corners (the points'
  // own; an edge of two added vertices by their spread normals) and leans at most kMaxFanLean
  // from them, within kFanReach of the rim's radius from its centroid and kFanHeight mean rim
  // edges off it along its mean normal; and the vertex's normal, that mean. Each edge asks c to
  // lie on one side of the plane through it that holds those normals' sum: the search climbs
  // the worst of those margins (c's distances from the planes), the steps shrinking.
  std::optional<std::pair<Point3D, Point3D>> fan_centre(const std::vector<long long>& loop) const {
    const std::size_t n = loop.size();
    Point3D mid, spread;
    for (long long u : loop) mid += pos_[std::size_t(u)], spread += nrm_[std::size_t(u)];
    mid = mid / double(n);
    double radius = 0.0;
    for (long long u : loop) radius = std::max(radius, norm(pos_[std::size_t(u)] - mid));
    if (!(radius > 0.0) || norm(spread) == 0.0) return std::nullopt;
    // How far c may stand off the rim along the rim's normal: a fan is a low tent, not a spike.
    const Point3D up = spread / norm(spread);
    double rim_edge = 0.0;
    for (std::size_t i = 0; i < n; ++i) rim_edge += norm(pos_[std::size_t(loop[(i + 1) % n])] - pos_[std::size_t(loop[i])]);
    const double height = kFanHeight * rim_edge / double(n);
    std::vector<Point3D> sum(n), side(n);
    for (std::size_t i = 0; i < n; ++i) {
      const long long a = loop[i], b = loop[(i + 1) % n];
      Point3D s = point_sum(a, b, a);
      if (s == Point3D()) s = nrm_[std::size_t(a)] + nrm_[std::size_t(b)];
      const Point3D h = cross(s, pos_[std::size_t(b)] - pos_[std::size_t(a)]);
      if (norm(h) == 0.0) return std::nullopt;
      sum[i] = s;
      side[i] = h / norm(h);
    }
    const auto worst = [&](const Point3D& c, std::size_t& which) {
      double least = std::numeric_limits<double>::infinity();
      for (std::size_t i = 0; i < n; ++i) {
        const double m = dot(c - pos_[std::size_t(loop[i])], side[i]);
        if (m < least) least = m, which = i;
      }
      return least;
    };
    Point3D c = mid, best = mid;
    std::size_t which = 0;
    double best_margin = worst(c, which);
    double step = 0.05 * radius;
    for (int k = 0; k < kFanSteps; ++k, step *= 0.995) {
      c += step * side[which];
      if (const double d = norm(c - mid); d > kFanReach * radius) c = mid + (c - mid) * (kFanReach * radius / d);
      if (const double h = dot(c - mid, up); std::abs(h) > height) c -= (h - std::copysign(height, h)) * up;
      const double m = worst(c, which);
      if (m > best_margin) best_margin = m, best = c;
    }
    if (!(best_margin > 0.0)) return std::nullopt;
    const double lean = std::cos(kMaxFanLean * M_PI / 180.0);
    for (std::size_t i = 0; i < n; ++i) {
      const Point3D& a = pos_[std::size_t(loop[i])];
      const Point3D f = cross(pos_[std::size_t(loop[(i + 1) % n])] - a, best - a);
      if (dot(f, sum[i]) < lean * norm(f) * norm(sum[i])) return std::nullopt;
    }
    return std::make_pair(best, up);
  }

  const bool crumples_;  // mending crumples instead of faces against the normals and folds
  // Per vertex: the vertices it shares an edge with in faces that `faces` does not hold.
  const std::vector<std::vector<long long>>* joined_outside_;
  std::vector<Point3D>& pos_;
  std::vector<Point3D>& nrm_;
  std::vector<char>& is_point_;
  std::vector<char>& droppable_;
  std::vector<char>& complete_;
  const std::vector<int>* pieces_;  // per vertex: its detached piece, or -1
  std::vector<long>* left_;         // per piece: its points that have faces
  std::vector<int> taken_;          // scratch: the pieces of the points inside a disc
  std::vector<Face>& faces_;
  std::vector<char> alive_;
  std::vector<char> in_;  // the faces of the disc being grown
  std::vector<std::vector<std::size_t>> at_;  // the faces at each vertex
  std::unordered_map<long long, long long> edge_;  // half-edge (a, b) -> its face
  // Per vertex: a stamp of the pass that saw it last (rim, loop, inside), the next rim corner,
  // its place on the loop.
  int stamp_ = 0;
  std::vector<int> stamp_of_;
  std::vector<long long> next_;
  std::vector<int> slot_;
  std::vector<int> uses_;          // the disc's faces at each vertex
};

}  // namespace

RegionRetriangulation retriangulate_against(const std::vector<Point3D>& positions,
                                            const std::vector<Point3D>& normals,
                                            const std::vector<char>& is_point,
                                            const std::vector<char>& droppable,
                                            const std::vector<char>& complete,
                                            std::vector<Face>& faces, bool crumples,
                                            const std::vector<int>* pieces, std::vector<long>* left,
                                            const std::vector<std::vector<long long>>* joined_outside,
                                            std::vector<std::pair<Point3D, Point3D>>* centres) {
  RegionRetriangulation report;
  if (pieces && !left) pieces = nullptr;
  // Working copies, which the fans' new vertices extend.
  std::vector<Point3D> pos = positions, nrm = normals;
  std::vector<char> point = is_point, drop = droppable, whole = complete;
  Regions regions(pos, nrm, point, drop, whole, faces, crumples, pieces, left, joined_outside);
  regions.fans = centres != nullptr && !crumples;
  // Faces made by a replacement are looked at too: the loop runs to the end of the growing list.
  // The plain growth first; the growth without pinches mends more of what it left, but alone it
  // turned more faces against the true surface on the sparse sphere.
  // Around faces against the normals and folds, every replacement lowers their count, so the
  // loop ends. Crumples are judged by each disc's own vector area, which no count over the whole
  // mesh follows: there, at most as many discs are replaced as there were faces.
  const long most = crumples ? long(faces.size()) : std::numeric_limits<long>::max();
  for (bool unpinched : {false, true})
    for (std::size_t f = 0; f < faces.size() && report.regions < most; ++f)
      if (regions.alive(f) && regions.bad(f)) regions.mend(f, unpinched, report);
  // Faces still against the normals: the stars of their corners.
  if (!crumples)
    for (std::size_t f = 0; f < faces.size(); ++f)
      if (regions.alive(f) && regions.against(f)) regions.mend_stars(f, report);
  regions.compact();
  if (centres)
    for (std::size_t v = positions.size(); v < pos.size(); ++v) centres->emplace_back(pos[v], nrm[v]);
  return report;
}

}  // namespace tervik
