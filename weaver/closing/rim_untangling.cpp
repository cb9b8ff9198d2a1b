// Widening holes whose rim overlaps itself, seen along the surface normal.
#include "weaver/closing/rim_untangling.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "weaver/closing/handle_removal.h"

namespace tervik {
namespace {

using VH = HoleMesh::VertexHandle;
using HH = HoleMesh::HalfedgeHandle;
using FH = HoleMesh::FaceHandle;

// A loop is projected only where the sum of its corners' unit normals is at least this share
// of their number: where they turn further apart (a hole around a limb) no plane shows it.
constexpr double kMinAgreement = 0.5;
// Bits cut off from the largest piece with fewer faces than this share of what is left of it go.
constexpr double kCutOffShare = 0.01;
// Tangled loops of up to this many corners are widened wherever the widening passes the rise
// test below (keeps_widening, with kMostShortRise).
constexpr std::size_t kMaxLoop = 24;
// Longer loops, up to this many corners, are widened only where the widening passes the two
// tests below (keeps_widening); loops longer still are left as they are (widening loops of
// up to 256 corners or of any length set right no more faces than up to 128).
constexpr std::size_t kMaxGuardedLoop = 128;
// A longer loop's widening is undone where the corners of the faces it removed rise along their
// mean normal by more than this share of the mesh's size (its bounding box's diagonal). The patch
// over the wider hole is a membrane spanned by the new rim: over a region that deep (a bend of
// the surface, as on sparse clouds) it cuts the bend's chord, away from the points it replaced,
// and costs coverage (up to a point per loop); on dense clouds the widened regions rise less.
// Tried: 0.03 kept too few of the useful widenings, 0.05 let costly ones through.
constexpr double kMostRise = 0.04;
// The same for the shorter loops. Unbounded, their widenings took away 0.8 points of the
// coverage within 1 L and 0.008 of a camera's silhouette IoU on the figure at 20,000 points (the
// patch spans a region cut out of a limb's side); 0.03 kept both within 0.005 of the plain
// mesh's (0.035 did not), at 0.16 points more faces against the true surface there.
constexpr double kMostShortRise = 0.03;
// Both rise bounds are also at most this many mean edge lengths of the mesh: as a share of its
// size, the bound lets a dense cloud's widenings reach many edges deep (on the figure from 16
// dome cameras at 30,000 points it cost 0.56 points of coverage within 1 L). The caps are what
// the shares come to on the figure at 20,000 points, where they were chosen.
constexpr double kMostRiseEdges = 6.4;
constexpr double kMostShortRiseEdges = 4.8;
// It is undone too where it reaches a hole more than this many times as long as its loop: the
// hole's patch would then be made anew over the joined rim (a loop of 34 corners joined to one
// of 665 on a sparse sphere cost 1.7 points of coverage).
constexpr std::size_t kMostHoleRatio = 4;
// A loop's widening may remove at most this many faces per corner, and kMostExtra more; past
// that it is undone (the loop lies in a region too tangled to open).
constexpr std::size_t kMostPerCorner = 8;
constexpr std::size_t kMostExtra = 16;

// A loop seen along its mean normal: corner k at (x[k], y[k]).
struct Flat {
  std::vector<double> x, y;
};

// Twice the signed area of the projected loop (positive: counter-clockwise).
double twice_area(const Flat& f) {
  const std::size_t n = f.x.size();
  double a = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t j = (i + 1) % n;
    a += f.x[i] * f.y[j] - f.x[j] * f.y[i];
  }
  return a;
}

double orient(const Flat& f, std::size_t a, std::size_t b, std::size_t c) {
  return (f.x[b] - f.x[a]) * (f.y[c] - f.y[a]) - (f.y[b] - f.y[a]) * (f.x[c] - f.x[a]);
}

// Whether two edges of the projected loop that share no corner cross.
bool crosses_itself(const Flat& f) {
  const std::size_t n = f.x.size();
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 2; j < n; ++j) {
      if (i == 0 && j == n - 1) continue;
      const std::size_t i2 = i + 1, j2 = (j + 1) % n;
      if (orient(f, i, i2, j) * orient(f, i, i2, j2) < 0.0 && orient(f, j, j2, i) * orient(f, j, j2, i2) < 0.0)
        return true;
    }
  return false;
}

// Appends the corners of hm's tangled loops of at most kMaxGuardedLoop corners to `corners` (one
// list per loop) and returns how many there are: loops that wind clockwise or cross themselves,
// seen along their mean normal.
// Clockwise rims of pieces other than the largest (piece[f] for each face f of hm) are
// detached pieces' rims, not tangles. Looks for loops only from the half-edges listed in
// `look_at` (ascending indices, every boundary half-edge among them), or from all where it is
// null; `boundary`, when given, receives the boundary half-edges looked at.
long tangled_loops(const HoleMesh& hm, const RepairMesh& mesh, const std::vector<int>& piece,
                   int largest, std::vector<std::vector<long long>>& corners,
                   const std::vector<int>* look_at = nullptr, std::vector<int>* boundary = nullptr) {
  long tangled = 0;
  std::vector<char> seen(hm.n_halfedges(), 0);
  std::vector<HH> loop;
  Flat flat;
  const bool deletions = hm.has_halfedge_status();
  const std::size_t count = look_at != nullptr ? look_at->size() : hm.n_halfedges();
  for (std::size_t i = 0; i < count; ++i) {
    const HH h(look_at != nullptr ? (*look_at)[i] : int(i));
    if ((deletions && hm.status(h).deleted()) || !hm.is_boundary(h)) continue;
    if (boundary != nullptr) boundary->push_back(h.idx());
    if (seen[std::size_t(h.idx())]) continue;
    loop.clear();
    for (HH g = h; !seen[std::size_t(g.idx())]; g = hm.next_halfedge_handle(g)) {
      seen[std::size_t(g.idx())] = 1;
      loop.push_back(g);
    }
    if (loop.size() < 3 || loop.size() > kMaxGuardedLoop) continue;
    Point3D sum, centre;
    for (HH g : loop) {
      const VH v = hm.from_vertex_handle(g);
      sum += mesh.normals[std::size_t(v.idx())];
      centre += to_point(hm.point(v)) / double(loop.size());
    }
    const double agreement = norm(sum);
    if (agreement < kMinAgreement * double(loop.size())) continue;
    // Axes across the mean normal n.
    const Point3D n = sum / agreement;
    const Point3D axis = std::fabs(n.x) < 0.6 ? Point3D(1.0, 0.0, 0.0) : Point3D(0.0, 1.0, 0.0);
    const Point3D u = cross(n, axis) / norm(cross(n, axis)), w = cross(n, u);
    flat.x.clear();
    flat.y.clear();
    for (HH g : loop) {
      const Point3D p = to_point(hm.point(hm.from_vertex_handle(g))) - centre;
      flat.x.push_back(dot(p, u));
      flat.y.push_back(dot(p, w));
    }
    const double area = twice_area(flat);
    if (area > 0.0 && !crosses_itself(flat)) continue;
    const FH inside = hm.face_handle(hm.opposite_halfedge_handle(loop[0]));
    if (area < 0.0 && piece[std::size_t(inside.idx())] != largest) continue;
    ++tangled;
    corners.emplace_back();
    for (HH g : loop) corners.back().push_back(hm.from_vertex_handle(g).idx());
  }
  return tangled;
}

// The faces of hm around vertex v (those not deleted), in ascending order, into `faces`.
void faces_at(const HoleMesh& hm, long long v, std::vector<std::size_t>& faces) {
  faces.clear();
  for (const FH f : hm.vf_range(VH(int(v)))) faces.push_back(std::size_t(f.idx()));
  std::sort(faces.begin(), faces.end());
}

// The working lists of smaller_fans, kept by its caller across the vertices it asks about.
struct FanScratch {
  std::vector<std::size_t> around, faces;
  std::vector<std::array<long long, 2>> links;
  std::vector<int> parent, size;
};

// Appends to `out` the faces of every fan at v but the largest (fans: groups of the faces at v
// that are not gone, connected across edges at v).
void smaller_fans(const RepairMesh& mesh, const HoleMesh& hm, const std::vector<char>& gone,
                  long long v, std::vector<std::size_t>& out, FanScratch& scratch) {
  // Each face at v joins its two other corners; the fans are the components of those links.
  std::vector<std::size_t>& around = scratch.around;
  std::vector<std::size_t>& faces = scratch.faces;
  std::vector<std::array<long long, 2>>& links = scratch.links;
  faces.clear();
  links.clear();
  faces_at(hm, v, around);
  for (const std::size_t f : around) {
    if (gone[f]) continue;
    const auto& t = mesh.faces[f];
    const int c = t.x == v ? 0 : t.y == v ? 1 : 2;
    faces.push_back(f);
    links.push_back({t[(c + 1) % 3], t[(c + 2) % 3]});
  }
  std::vector<int>& parent = scratch.parent;
  parent.resize(links.size());
  for (std::size_t i = 0; i < parent.size(); ++i) parent[i] = int(i);
  const auto root = [&](int i) {
    while (parent[std::size_t(i)] != i) i = parent[std::size_t(i)];
    return i;
  };
  int count = int(links.size());
  for (std::size_t i = 0; i < links.size(); ++i)
    for (std::size_t j = i + 1; j < links.size(); ++j)
      if (links[i][0] == links[j][1] || links[i][1] == links[j][0] || links[i][0] == links[j][0] ||
          links[i][1] == links[j][1]) {
        const int a = root(int(i)), b = root(int(j));
        if (a != b) parent[std::size_t(a)] = b, --count;
      }
  if (count < 2) return;
  std::vector<int>& size = scratch.size;
  size.assign(links.size(), 0);
  for (std::size_t i = 0; i < links.size(); ++i) ++size[std::size_t(root(int(i)))];
  const int keep = int(std::max_element(size.begin(), size.end()) - size.begin());
  for (std::size_t i = 0; i < links.size(); ++i)
    if (root(int(i)) != keep) out.push_back(faces[i]);
}

// Whether the widening of a loop (corners: its corners; removed: the faces it removed) is kept:
// the corners of those faces rise along their mean point normal by at most `most_rise`, and,
// where `near_holes` says so (for loops longer than kMaxLoop), none of them lies on another hole
// of more than kMostHoleRatio times as many corners as the loop (hm's holes: those of the
// earlier rounds included).
bool keeps_widening(const RepairMesh& mesh, const HoleMesh& hm, const std::vector<long long>& corners,
                    const std::vector<std::size_t>& removed, double most_rise, bool near_holes) {
  std::vector<long long> around;
  for (const std::size_t f : removed)
    for (int c = 0; c < 3; ++c) around.push_back(mesh.faces[f][c]);
  std::sort(around.begin(), around.end());
  around.erase(std::unique(around.begin(), around.end()), around.end());
  Point3D sum, centre;
  for (const long long v : around) {
    sum += mesh.normals[std::size_t(v)];
    centre += mesh.vertices[std::size_t(v)] / double(around.size());
  }
  if (norm(sum) == 0.0) return false;
  const Point3D n = sum / norm(sum);
  double low = 0.0, high = 0.0;
  for (const long long v : around) {
    const double h = dot(mesh.vertices[std::size_t(v)] - centre, n);
    low = std::min(low, h);
    high = std::max(high, h);
  }
  if (high - low > most_rise) return false;
  if (!near_holes) return true;
  std::vector<long long> own = corners;
  std::sort(own.begin(), own.end());
  const std::size_t longest = kMostHoleRatio * corners.size();
  for (const long long v : around) {
    if (std::binary_search(own.begin(), own.end(), v)) continue;
    for (const HH h : hm.voh_range(VH(int(v)))) {
      if (!hm.is_boundary(h)) continue;
      std::size_t length = 0;
      HH g = h;
      do {
        if (++length > longest) return false;
        g = hm.next_halfedge_handle(g);
      } while (g != h);
    }
  }
  return true;
}

// Removes every face at the given vertices, then, at each vertex this leaves with several fans,
// every fan but the largest, until no vertex has several; or, where that would remove more than
// `most` faces, or where keeps_widening refuses it (`size`: the mesh's bounding-box diagonal;
// `edge`: its mean edge length), nothing. Returns the faces removed.
long widen(const RepairMesh& mesh, const HoleMesh& hm, std::vector<char>& gone,
           const std::vector<long long>& corners, std::size_t most, double size, double edge) {
  std::vector<std::size_t> removed, next;
  for (long long v : corners)
    for (const FH f : hm.vf_range(VH(int(v)))) next.push_back(std::size_t(f.idx()));
  std::vector<long long> touched;
  FanScratch fans;
  while (!next.empty()) {
    touched.clear();
    for (std::size_t f : next) {
      if (gone[f]) continue;
      gone[f] = 1;
      removed.push_back(f);
      for (int c = 0; c < 3; ++c) touched.push_back(mesh.faces[f][c]);
    }
    if (removed.size() > most) {
      for (std::size_t f : removed) gone[f] = 0;
      return 0;
    }
    std::sort(touched.begin(), touched.end());
    touched.erase(std::unique(touched.begin(), touched.end()), touched.end());
    next.clear();
    for (long long v : touched) smaller_fans(mesh, hm, gone, v, next, fans);
  }
  const bool longer = corners.size() > kMaxLoop;
  const double most_rise = longer ? std::min(kMostRise * size, kMostRiseEdges * edge)
                                  : std::min(kMostShortRise * size, kMostShortRiseEdges * edge);
  if (!keeps_widening(mesh, hm, corners, removed, most_rise, longer)) {
    for (std::size_t f : removed) gone[f] = 0;
    return 0;
  }
  return long(removed.size());
}

// Whether the faces `cluster` (gone, connected across edges, all of part `label`) leave the
// faces of that part around them connected: the faces of the part across from the cluster are
// joined by a search that keeps to the faces left sharing a vertex with the cluster. That is
// enough for the part to stay one piece (a path through the cluster goes round it instead);
// false says nothing. `mark` (per vertex) and `seen` (per face) are zero before and after.
bool rim_holds(const RepairMesh& mesh, const std::vector<int>& across, const std::vector<char>& gone,
               const std::vector<int>& part, int label, const std::vector<std::size_t>& cluster,
               std::vector<char>& mark, std::vector<char>& seen) {
  const auto face = [&](std::size_t f) { return mesh.faces[f]; };
  const auto live = [&](int q) { return q >= 0 && !gone[std::size_t(q)] && part[std::size_t(q)] == label; };
  for (std::size_t f : cluster)
    for (int c = 0; c < 3; ++c) mark[std::size_t(face(f)[c])] = 1;
  std::vector<std::size_t> found, stack;
  long rim = 0;  // faces across from the cluster (a face may count more than once)
  int start = -1;
  for (std::size_t f : cluster)
    for (std::size_t k = 3 * f; k < 3 * f + 3; ++k)
      if (live(across[k])) ++rim, start = across[k];
  long reached = 0;
  if (start >= 0) {
    seen[std::size_t(start)] = 1;
    found.push_back(std::size_t(start));
    stack.push_back(std::size_t(start));
    while (!stack.empty()) {
      const std::size_t g = stack.back();
      stack.pop_back();
      for (std::size_t k = 3 * g; k < 3 * g + 3; ++k) {
        const int q = across[k];
        if (!live(q) || seen[std::size_t(q)]) continue;
        const auto& t = face(std::size_t(q));
        if (!mark[std::size_t(t.x)] && !mark[std::size_t(t.y)] && !mark[std::size_t(t.z)]) continue;
        seen[std::size_t(q)] = 1;
        found.push_back(std::size_t(q));
        stack.push_back(std::size_t(q));
      }
    }
    for (std::size_t f : cluster)
      for (std::size_t k = 3 * f; k < 3 * f + 3; ++k)
        if (live(across[k])) reached += seen[std::size_t(across[k])];
  }
  for (std::size_t f : found) seen[f] = 0;
  for (std::size_t f : cluster)
    for (int c = 0; c < 3; ++c) mark[std::size_t(face(f)[c])] = 0;
  return reached == rim;
}

// Takes out of part `label` the pieces of it that the gone faces `cluster` (connected across
// edges) may have cut off: searches go out from each face of the part across from the cluster
// at once, those that meet join, and when at most one group of them is still going, each group
// that has ended is a whole piece of the faces left, which gets a new part number (and its
// size, taken from the part's). `flood` (per face) is -1 before and after.
void split_off(const std::vector<int>& across, const std::vector<char>& gone, std::vector<int>& part,
               std::vector<long>& size, int label, const std::vector<std::size_t>& cluster, std::vector<int>& flood) {
  const auto live = [&](int q) { return q >= 0 && !gone[std::size_t(q)] && part[std::size_t(q)] == label; };
  std::vector<std::vector<std::size_t>> stacks;
  std::vector<int> parent;
  std::vector<std::size_t> visited;
  for (std::size_t f : cluster)
    for (std::size_t k = 3 * f; k < 3 * f + 3; ++k) {
      const int q = across[k];
      if (!live(q) || flood[std::size_t(q)] >= 0) continue;
      flood[std::size_t(q)] = int(stacks.size());
      visited.push_back(std::size_t(q));
      parent.push_back(int(stacks.size()));
      stacks.push_back({std::size_t(q)});
    }
  const auto root = [&](int k) {
    while (parent[std::size_t(k)] != k) k = parent[std::size_t(k)] = parent[std::size_t(parent[std::size_t(k)])];
    return k;
  };
  std::vector<int> going(stacks.size(), -1);  // the pass that last found the group going
  for (int pass = 0;; ++pass) {
    int groups = 0;
    for (std::size_t k = 0; k < stacks.size(); ++k) {
      if (stacks[k].empty()) continue;
      int& at = going[std::size_t(root(int(k)))];
      if (at != pass) at = pass, ++groups;
    }
    if (groups <= 1) break;
    for (std::size_t k = 0; k < stacks.size(); ++k) {
      if (stacks[k].empty()) continue;
      const std::size_t g = stacks[k].back();
      stacks[k].pop_back();
      for (std::size_t i = 3 * g; i < 3 * g + 3; ++i) {
        const int q = across[i];
        if (!live(q)) continue;
        if (flood[std::size_t(q)] < 0) {
          flood[std::size_t(q)] = int(k);
          visited.push_back(std::size_t(q));
          stacks[k].push_back(std::size_t(q));
        } else {
          const int r = root(int(k)), t = root(flood[std::size_t(q)]);
          if (r != t) parent[std::size_t(r)] = t;
        }
      }
    }
  }
  // Groups with no search still going are whole pieces.
  std::vector<char> ended(stacks.size(), 1);
  for (std::size_t k = 0; k < stacks.size(); ++k)
    if (!stacks[k].empty()) ended[std::size_t(root(int(k)))] = 0;
  std::vector<int> number(stacks.size(), -1);
  for (std::size_t q : visited) {
    const int r = root(flood[q]);
    flood[q] = -1;
    if (!ended[std::size_t(r)]) continue;
    if (number[std::size_t(r)] < 0) number[std::size_t(r)] = int(size.size()), size.push_back(0);
    part[q] = number[std::size_t(r)];
    ++size[std::size_t(part[q])];
    --size[std::size_t(label)];
  }
}

// Removes the small bits of the largest piece that the widening cut off from the rest of it
// (slivers between holes, which closed on their own would be flattened spheres). Returns the
// faces removed. part[f] is the part of the largest piece that face f is in (its faces left
// connected across edges; -1 for other faces and those gone), size[p] the faces of part p; both
// are kept up to date from one call to the next: the faces gone since the last call (part >= 0
// and gone) are taken out, and the parts are split only around the clusters of them whose
// surroundings do not hold together. Parts are numbered in no particular order.
long drop_cut_off(const RepairMesh& mesh, const std::vector<int>& across, std::vector<char>& gone,
                  std::vector<int>& part, std::vector<long>& size) {
  const std::size_t n = mesh.faces.size();
  std::vector<std::size_t> went;  // the faces gone since the last call, in the parts
  for (std::size_t f = 0; f < n; ++f)
    if (gone[f] && part[f] >= 0) went.push_back(f);
  if (went.empty()) return 0;
  // The gone faces in clusters connected across edges (each within one part: parts are
  // connected), listed one after the other from cluster_start[c].
  std::vector<char> clustered(n, 0);
  std::vector<std::size_t> clusters, cluster_start;
  std::vector<int> cluster_label;
  for (std::size_t f : went) {
    if (clustered[f]) continue;
    cluster_start.push_back(clusters.size());
    cluster_label.push_back(part[f]);
    clustered[f] = 1;
    clusters.push_back(f);
    for (std::size_t i = cluster_start.back(); i < clusters.size(); ++i) {
      const std::size_t g = clusters[i];
      for (std::size_t k = 3 * g; k < 3 * g + 3; ++k) {
        const int q = across[k];
        if (q < 0 || !gone[std::size_t(q)] || part[std::size_t(q)] < 0 || clustered[std::size_t(q)]) continue;
        clustered[std::size_t(q)] = 1;
        clusters.push_back(std::size_t(q));
      }
    }
  }
  cluster_start.push_back(clusters.size());
  for (std::size_t f : went) --size[std::size_t(part[f])], part[f] = -1;
  std::vector<char> mark(mesh.vertices.size(), 0), seen(n, 0);
  std::vector<int> flood(n, -1);
  std::vector<std::size_t> cluster;
  for (std::size_t c = 0; c + 1 < cluster_start.size(); ++c) {
    cluster.assign(clusters.begin() + long(cluster_start[c]), clusters.begin() + long(cluster_start[c + 1]));
    if (!rim_holds(mesh, across, gone, part, cluster_label[c], cluster, mark, seen))
      split_off(across, gone, part, size, cluster_label[c], cluster, flood);
  }
  const long most = size.empty() ? 0 : *std::max_element(size.begin(), size.end());
  const auto small = [&](long faces) { return faces > 0 && double(faces) < kCutOffShare * double(most); };
  if (std::none_of(size.begin(), size.end(), small)) return 0;
  long removed = 0;
  for (std::size_t f = 0; f < n; ++f)
    if (part[f] >= 0 && small(size[std::size_t(part[f])])) gone[f] = 1, part[f] = -1, ++removed;
  for (long& faces : size)
    if (small(faces)) faces = 0;
  return removed;
}

// The pieces of the faces not gone, as pieces_of(across, gone) finds them up to their numbers:
// the parts of the largest piece (part: as drop_cut_off left it, after the last face went; its
// numbers are below `parts`), the other pieces (`first`) where none of their faces went, and the
// others found again.
FacePieces pieces_left(const std::vector<int>& across, const std::vector<char>& gone, const FacePieces& first,
                       const std::vector<int>& part, int parts) {
  std::vector<char> changed(std::size_t(first.count), 0);
  for (std::size_t f = 0; f < gone.size(); ++f)
    if (gone[f] && first.piece[f] != first.largest) changed[std::size_t(first.piece[f])] = 1;
  FacePieces out;
  out.piece.assign(gone.size(), -1);
  int next = parts + first.count;  // numbers of the pieces found again
  std::vector<std::size_t> stack;
  for (std::size_t f = 0; f < gone.size(); ++f) {
    if (gone[f] || out.piece[f] >= 0) continue;
    const int k = first.piece[f];
    if (k == first.largest) {
      out.piece[f] = part[f];
    } else if (!changed[std::size_t(k)]) {
      out.piece[f] = parts + k;
    } else {
      out.piece[f] = next;
      stack.assign(1, f);
      while (!stack.empty()) {
        const std::size_t g = stack.back();
        stack.pop_back();
        for (std::size_t i = 3 * g; i < 3 * g + 3; ++i) {
          const int q = across[i];
          if (q >= 0 && !gone[std::size_t(q)] && out.piece[std::size_t(q)] < 0)
            out.piece[std::size_t(q)] = next, stack.push_back(std::size_t(q));
        }
      }
      ++next;
    }
  }
  out.count = next;
  return out;
}

}  // namespace

int face_pieces(const HoleMesh& hm, std::vector<int>& piece, int& largest) {
  piece.assign(hm.n_faces(), -1);
  std::vector<long> size;
  std::vector<FH> stack;
  for (auto f : hm.faces()) {
    if (piece[std::size_t(f.idx())] >= 0) continue;
    const int id = int(size.size());
    size.push_back(0);
    piece[std::size_t(f.idx())] = id;
    stack.assign(1, f);
    while (!stack.empty()) {
      const FH g = stack.back();
      stack.pop_back();
      ++size.back();
      for (auto k : hm.ff_range(g))
        if (piece[std::size_t(k.idx())] < 0) piece[std::size_t(k.idx())] = id, stack.push_back(k);
    }
  }
  largest = size.empty() ? -1 : int(std::max_element(size.begin(), size.end()) - size.begin());
  return int(size.size());
}

RimUntangling untangle_rims(RepairMesh& mesh, HoleMesh& hm, int rounds, FacePieces* pieces,
                            std::vector<int> across) {
  RimUntangling out;
  // hm's faces are mesh's (same indices) until the end: the faces across their edges, listed
  // once, serve every search for pieces.
  if (across.empty()) across = faces_across(hm);
  FacePieces first = pieces_of(across, {});
  const std::vector<int>& piece = first.piece;
  const int largest = first.largest;
  std::vector<std::vector<long long>> corners;
  // The half-edges on the boundary, and later those of the faces deleted: every boundary
  // half-edge is among them, so the search for loops still tangled looks at these only.
  std::vector<int> rims;
  out.loops_tangled = out.loops_left = tangled_loops(hm, mesh, piece, largest, corners, nullptr, &rims);
  if (corners.empty() || rounds <= 0) {
    if (pieces != nullptr) *pieces = std::move(first);
    return out;
  }
  std::vector<char> gone(mesh.faces.size(), 0);
  // Faces are deleted from hm as they go (hm's faces keep their indices until the end), which
  // costs far less than building it again; the widening reads the faces around a vertex from
  // hm, where those of earlier rounds are gone and those of this one are marked in `gone`.
  hm.request_face_status();
  hm.request_edge_status();
  hm.request_halfedge_status();
  hm.request_vertex_status();
  // The parts of the largest piece (all of it, one part, to begin with) and their sizes, as the
  // last round left them.
  std::vector<int> part(mesh.faces.size(), -1);
  std::vector<long> part_size(1, 0);
  for (std::size_t f = 0; f < part.size(); ++f)
    if (piece[f] == largest) part[f] = 0, ++part_size[0];
  double size = 0.0;  // the mesh's bounding-box diagonal, which bounds the widenings' rise
  if (!corners.empty()) {
    Point3D low = mesh.vertices.front(), high = low;
    for (const Point3D& p : mesh.vertices) {
      low = Point3D(std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z));
      high = Point3D(std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z));
    }
    size = norm(high - low);
  }
  const double edge = corners.empty() ? 0.0 : mean_edge_length(mesh);
  for (int round = 0; round < rounds && !corners.empty(); ++round) {
    long removed = 0;
    for (const auto& loop : corners)
      removed += widen(mesh, hm, gone, loop, kMostPerCorner * loop.size() + kMostExtra, size, edge);
    if (removed == 0) break;
    out.faces_removed += removed + drop_cut_off(mesh, across, gone, part, part_size);
    const std::size_t listed = rims.size();
    for (std::size_t f = 0; f < gone.size(); ++f)
      if (gone[f] && !hm.status(FH(int(f))).deleted()) {
        for (const HH h : hm.fh_range(FH(int(f)))) rims.push_back(h.idx());
        delete_face(hm, FH(int(f)));
      }
    std::sort(rims.begin() + long(listed), rims.end());
    std::inplace_merge(rims.begin(), rims.begin() + long(listed), rims.end());
    rims.erase(std::unique(rims.begin(), rims.end()), rims.end());
    corners.clear();
    out.loops_left = tangled_loops(hm, mesh, piece, largest, corners, &rims);
  }
  if (out.faces_removed > 0) {
    const std::vector<int> order = collect_garbage(hm);
    // No face has gone since the last round's drop_cut_off, whose parts hold.
    if (pieces != nullptr) *pieces = reorder_pieces(pieces_left(across, gone, first, part, int(part_size.size())), order);
    std::size_t k = 0;
    for (std::size_t f = 0; f < mesh.faces.size(); ++f)
      if (!gone[f]) mesh.faces[k++] = mesh.faces[f];
    mesh.faces.resize(k);
  } else if (pieces != nullptr) {
    *pieces = std::move(first);
  }
  hm.release_vertex_status();
  hm.release_halfedge_status();
  hm.release_edge_status();
  hm.release_face_status();
  return out;
}

}  // namespace tervik
