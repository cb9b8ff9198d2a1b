// Repairs that make a triangle list manifold, consistently oriented and free of small pieces.
#include "weaver/closing/manifold_repair.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <queue>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "weaver/closing/vertex_sort.h"

namespace tervik {
namespace {

std::uint64_t edge_key(long long a, long long b) {
  const auto lo = std::uint64_t(std::min(a, b)), hi = std::uint64_t(std::max(a, b));
  return (lo << 32) | hi;
}

// Calls visit(first, last) for every run of uses of one edge.
template <typename Visit>
void for_each_edge(const std::vector<EdgeUse>& uses, Visit visit) {
  for (std::size_t i = 0; i < uses.size();) {
    std::size_t j = i + 1;
    while (j < uses.size() && uses[j].key == uses[i].key) ++j;
    visit(i, j);
    i = j;
  }
}

// Whether some face's flag is set.
bool any_removed(const std::vector<char>& removed) {
  return std::any_of(removed.begin(), removed.end(), [](char r) { return r != 0; });
}

// Keeps the faces whose flag is false; returns how many were dropped.
long drop_faces(RepairMesh& mesh, const std::vector<char>& removed) {
  if (!any_removed(removed)) return 0;
  std::size_t kept = 0;
  for (std::size_t f = 0; f < mesh.faces.size(); ++f)
    if (!removed[f]) mesh.faces[kept++] = mesh.faces[f];
  const long dropped = long(mesh.faces.size() - kept);
  mesh.faces.resize(kept);
  return dropped;
}

// The same, and the uses of the dropped faces leave `uses`, the others take their faces' new
// numbers. Renumbering keeps the order of the faces, so the table stays sorted.
long drop_faces(RepairMesh& mesh, const std::vector<char>& removed, std::vector<EdgeUse>& uses) {
  if (!any_removed(removed)) return 0;
  std::vector<long> number(mesh.faces.size());
  long next = 0;
  for (std::size_t f = 0; f < mesh.faces.size(); ++f) number[f] = removed[f] ? -1 : next++;
  std::size_t kept = 0;
  for (const EdgeUse& u : uses)
    if (!removed[std::size_t(u.face)])
      uses[kept++] = {u.key, std::uint32_t(number[std::size_t(u.face)]), u.forward};
  uses.resize(kept);
  return drop_faces(mesh, removed);
}

Point3D face_normal(const RepairMesh& mesh, const Coord3D<long long>& f) {
  const Point3D& a = mesh.vertices[std::size_t(f.x)];
  return cross(mesh.vertices[std::size_t(f.y)] - a, mesh.vertices[std::size_t(f.z)] - a);
}

Point3D normal_sum(const RepairMesh& mesh, const Coord3D<long long>& f) {
  return mesh.normals[std::size_t(f.x)] + mesh.normals[std::size_t(f.y)] +
         mesh.normals[std::size_t(f.z)];
}

// Union-find with path halving.
long find_root(std::vector<long>& parent, long i) {
  while (parent[std::size_t(i)] != i) i = parent[std::size_t(i)] = parent[std::size_t(parent[std::size_t(i)])];
  return i;
}

}  // namespace

std::vector<EdgeUse> edge_uses(const std::vector<Coord3D<long long>>& faces) {
  const auto make = [&](std::size_t i) {
    const std::size_t f = i / 3;
    const int k = int(i % 3);
    const long long a = faces[f][k], b = faces[f][(k + 1) % 3];
    return EdgeUse{edge_key(a, b), std::uint32_t(f), a < b};
  };
  long long top = -1;
  for (const auto& f : faces) top = std::max({top, f.x, f.y, f.z});
  // By key, then face: the uses are made in face order and the sort keeps it.
  return sorted_by_vertex<EdgeUse>(3 * faces.size(), std::size_t(top + 1), make,
                                   [](const EdgeUse& u) { return u.key >> 32; },
                                   [](const EdgeUse& u) { return u.key & 0xffffffffu; });
}

long remove_degenerate_faces(RepairMesh& mesh) {
  std::vector<std::pair<Coord3D<long long>, long>> sorted;
  std::vector<char> removed(mesh.faces.size(), 0);
  for (std::size_t f = 0; f < mesh.faces.size(); ++f) {
    long long v[3] = {mesh.faces[f].x, mesh.faces[f].y, mesh.faces[f].z};
    std::sort(v, v + 3);
    if (v[0] == v[1] || v[1] == v[2]) removed[f] = 1;
    else sorted.push_back({Coord3D<long long>(v[0], v[1], v[2]), long(f)});
  }
  // By the sorted vertices, then face (the faces were listed in order and the sort keeps it).
  sort_by_vertex(sorted, mesh.vertices.size(), [](const auto& a) { return a.first.x; },
                 [](const auto& a) { return (std::uint64_t(a.first.y) << 32) | std::uint64_t(a.first.z); });
  for (std::size_t i = 1; i < sorted.size(); ++i)
    if (sorted[i].first == sorted[i - 1].first) removed[std::size_t(sorted[i].second)] = 1;
  return drop_faces(mesh, removed);
}

long remove_degenerate_faces(RepairMesh& mesh, std::vector<EdgeUse>& uses) {
  const auto& faces = mesh.faces;
  const auto degenerate = [&](long f) {
    const auto& t = faces[std::size_t(f)];
    return t.x == t.y || t.y == t.z || t.z == t.x;
  };
  std::vector<char> removed(faces.size(), 0);
  for (std::size_t f = 0; f < faces.size(); ++f) removed[f] = degenerate(long(f));
  // Faces over the same three vertices share all their edges: within the uses of each edge
  // (in face order), a face whose third vertex is that of an earlier one is a later copy.
  for_each_edge(uses, [&](std::size_t i, std::size_t j) {
    if (j - i < 2) return;
    const long long a = (long long)(uses[i].key >> 32), b = (long long)(uses[i].key & 0xffffffffu);
    const auto third = [&](long f) {
      const auto& t = faces[std::size_t(f)];
      return t.x + t.y + t.z - a - b;
    };
    for (std::size_t p = i; p < j; ++p) {
      const long f = uses[p].face;
      if (degenerate(f)) continue;
      for (std::size_t q = p + 1; q < j; ++q) {
        const long g = uses[q].face;
        if (g != f && !degenerate(g) && third(g) == third(f)) removed[std::size_t(g)] = 1;
      }
    }
  });
  return drop_faces(mesh, removed, uses);
}

long remove_nonmanifold_edges(RepairMesh& mesh) {
  std::vector<EdgeUse> uses = edge_uses(mesh.faces);
  return remove_nonmanifold_edges(mesh, uses);
}

long remove_nonmanifold_edges(RepairMesh& mesh, std::vector<EdgeUse>& uses) {
  long total = 0;
  for (int pass = 0; pass < 10; ++pass) {
    // Nothing to do unless some edge has more than two uses (three adjacent uses of one edge).
    bool crowded = false;
    for (std::size_t i = 2; i < uses.size() && !crowded; ++i) crowded = uses[i].key == uses[i - 2].key;
    if (!crowded) break;
    // support[f]: edges of f shared with at least one other face.
    std::vector<int> support(mesh.faces.size(), 0);
    for_each_edge(uses, [&](std::size_t i, std::size_t j) {
      if (j - i >= 2)
        for (std::size_t k = i; k < j; ++k) ++support[std::size_t(uses[k].face)];
    });
    std::vector<char> removed(mesh.faces.size(), 0);
    bool any = false;
    std::vector<std::size_t> live;
    for_each_edge(uses, [&](std::size_t i, std::size_t j) {
      if (j - i <= 2) return;  // nothing to remove
      live.clear();
      for (std::size_t k = i; k < j; ++k)
        if (!removed[std::size_t(uses[k].face)]) live.push_back(k);
      if (live.size() <= 2) return;
      any = true;
      // The best pair: opposite directions first, then most support, then earliest faces.
      std::size_t best_a = live[0], best_b = live[1];
      long best = -1;
      for (std::size_t p = 0; p < live.size(); ++p)
        for (std::size_t q = p + 1; q < live.size(); ++q) {
          const EdgeUse &a = uses[live[p]], &b = uses[live[q]];
          const long score = (a.forward != b.forward ? 100 : 0) +
                             support[std::size_t(a.face)] + support[std::size_t(b.face)];
          if (score > best) best = score, best_a = live[p], best_b = live[q];
        }
      for (std::size_t k : live)
        if (k != best_a && k != best_b) removed[std::size_t(uses[k].face)] = 1;
    });
    if (!any) break;
    total += drop_faces(mesh, removed, uses);
  }
  return total;
}

long orient_faces(RepairMesh& mesh) {
  std::vector<EdgeUse> uses = edge_uses(mesh.faces);
  return orient_faces(mesh, uses);
}

namespace {

// orient_faces with `uses` = edge_uses(mesh.faces); `kept`, when given, is `uses` itself, kept
// equal to edge_uses(mesh.faces).
long orient(RepairMesh& mesh, const std::vector<EdgeUse>& uses, std::vector<EdgeUse>* kept) {
  const std::size_t n = mesh.faces.size();
  // Neighbours across edges of exactly two faces (at most three per face, in the order of the
  // edges' keys); `same` when both traverse it alike.
  struct Neighbours {
    std::array<std::uint32_t, 3> across;  // face << 1 | same (faces number below 2^31)
    int count = 0;
    void add(std::uint32_t g, bool same) { across[std::size_t(count++)] = g << 1 | (same ? 1 : 0); }
    const std::uint32_t* begin() const { return across.data(); }
    const std::uint32_t* end() const { return across.data() + count; }
  };
  std::vector<Neighbours> next(n);
  for_each_edge(uses, [&](std::size_t i, std::size_t j) {
    if (j - i != 2) return;
    const bool same = uses[i].forward == uses[i + 1].forward;
    next[std::size_t(uses[i].face)].add(uses[i + 1].face, same);
    next[std::size_t(uses[i + 1].face)].add(uses[i].face, same);
  });
  std::vector<signed char> flip(n, -1);  // -1: not reached yet
  std::vector<char> removed(n, 0);
  std::vector<long> piece;
  for (std::size_t seed = 0; seed < n; ++seed) {
    if (flip[seed] >= 0) continue;
    piece.assign(1, long(seed));
    flip[seed] = 0;
    for (std::size_t head = 0; head < piece.size(); ++head) {
      const long f = piece[head];
      if (removed[std::size_t(f)]) continue;
      for (const std::uint32_t across : next[std::size_t(f)]) {
        const long g = long(across >> 1);
        const bool same = across & 1;
        if (removed[std::size_t(g)]) continue;
        const signed char want = static_cast<signed char>(flip[std::size_t(f)] ^ (same ? 1 : 0));
        if (flip[std::size_t(g)] < 0) {
          flip[std::size_t(g)] = want;
          piece.push_back(g);
        } else if (flip[std::size_t(g)] != want) {
          removed[std::size_t(g)] = 1;  // closes a non-orientable cycle
        }
      }
    }
    // Vote of the piece against the point normals.
    double vote = 0.0;
    for (long f : piece) {
      if (removed[std::size_t(f)]) continue;
      const double d = dot(face_normal(mesh, mesh.faces[std::size_t(f)]),
                           normal_sum(mesh, mesh.faces[std::size_t(f)]));
      vote += flip[std::size_t(f)] ? -d : d;
    }
    if (vote < 0.0)
      for (long f : piece) flip[std::size_t(f)] ^= 1;
  }
  for (std::size_t f = 0; f < n; ++f)
    if (flip[f] == 1) std::swap(mesh.faces[f].y, mesh.faces[f].z);
  if (kept == nullptr) return drop_faces(mesh, removed);
  // A turned face traverses each of its edges the other way.
  for (EdgeUse& u : *kept)
    if (flip[std::size_t(u.face)] == 1) u.forward = !u.forward;
  return drop_faces(mesh, removed, *kept);
}

}  // namespace

long orient_faces(RepairMesh& mesh, std::vector<EdgeUse>& uses) { return orient(mesh, uses, &uses); }

long orient_faces(RepairMesh& mesh, const std::vector<EdgeUse>& uses) { return orient(mesh, uses, nullptr); }

long remove_folded_faces(RepairMesh& mesh) {
  std::vector<char> removed(mesh.faces.size(), 0);
  for (std::size_t f = 0; f < mesh.faces.size(); ++f)
    removed[f] = dot(face_normal(mesh, mesh.faces[f]), normal_sum(mesh, mesh.faces[f])) < 0.0;
  return drop_faces(mesh, removed);
}

namespace {

// The faces around every vertex, in face order, each with its two other corners (in the face's
// order after the vertex), so that the first look at every vertex reads one array in order:
// those of vertex v are at[start[v]] .. at[start[v + 1] - 1]. The corners are listed only where
// vertex indices fit in 32 bits (`corners`).
struct FacesAround {
  struct Face {
    long face;
    std::int32_t next, after;  // the corners following the vertex in the face (vertex indices)
  };
  std::vector<std::size_t> start;
  std::vector<Face> at;
  bool corners = false;
};

FacesAround faces_around(const RepairMesh& mesh) {
  FacesAround a;
  a.corners = mesh.vertices.size() <= std::size_t(INT32_MAX);
  a.start.assign(mesh.vertices.size() + 1, 0);
  for (const auto& f : mesh.faces)
    for (int k = 0; k < 3; ++k) ++a.start[std::size_t(f[k]) + 1];
  for (std::size_t v = 0; v < mesh.vertices.size(); ++v) a.start[v + 1] += a.start[v];
  a.at.resize(a.start.back());
  std::vector<std::size_t> next(a.start.begin(), a.start.end() - 1);
  for (std::size_t f = 0; f < mesh.faces.size(); ++f)
    for (int k = 0; k < 3; ++k) {
      const auto& t = mesh.faces[f];
      a.at[next[std::size_t(t[k])]++] = {long(f), a.corners ? std::int32_t(t[(k + 1) % 3]) : 0,
                                         a.corners ? std::int32_t(t[(k + 2) % 3]) : 0};
    }
  return a;
}

// The fans of faces around vertex v (groups of its faces connected across edges at v): face i
// of n is face(i), its corners after v others(i) (a pair). Each fan lists its faces in the
// order i, the fans in the order of their first face. Empty when there is only one: the common
// case returns without building anything.
template <typename Face, typename Others>
std::vector<std::vector<long>> fans_at(long long v, std::size_t n, Face face, Others others) {
  // The common case first: at most vertices the faces follow each other round v, the corner
  // after v of one face being the corner before v of the next. A walk from the first face that
  // way round, then the other way, that meets every face shows that they make one fan without
  // the bookkeeping below (faces joined by the walk share a vertex other than v).
  constexpr std::size_t kWalked = 16;
  if (n > 0 && n <= kWalked) {
    std::array<char, kWalked> met{};
    met[0] = 1;
    std::size_t count = 1;
    const auto [first_p, first_q] = others(0);
    for (int way = 0; way < 2; ++way) {
      long long at = way == 0 ? first_q : first_p;
      while (count < n && at != v) {
        std::size_t j = 0;
        for (; j < n; ++j) {
          if (met[j]) continue;
          const auto [p, q] = others(j);
          if ((way == 0 ? p : q) == at) break;
        }
        if (j == n) break;
        met[j] = 1;
        ++count;
        const auto [p, q] = others(j);
        at = way == 0 ? q : p;
      }
    }
    if (count == n) return {};
  }
  // Faces sharing a vertex other than v share an edge at v (each face has two such vertices).
  thread_local std::vector<long> parent;
  thread_local std::vector<std::pair<long long, long>> seen;  // other vertex, first face there
  parent.resize(n);
  std::iota(parent.begin(), parent.end(), 0L);
  seen.clear();
  long groups = long(n);
  for (std::size_t i = 0; i < n; ++i) {
    const auto [p, q] = others(i);
    for (const long long w : {p, q}) {
      if (w == v) continue;
      auto it = std::find_if(seen.begin(), seen.end(), [&](const auto& s) { return s.first == w; });
      if (it == seen.end()) {
        seen.emplace_back(w, long(i));
        continue;
      }
      const long a = find_root(parent, long(i)), b = find_root(parent, it->second);
      if (a != b) {
        parent[std::size_t(a)] = b;
        --groups;
      }
    }
  }
  if (groups < 2) return {};
  std::vector<std::vector<long>> fans;
  std::vector<long> fan_of(n, -1);
  for (std::size_t i = 0; i < n; ++i) {
    const long r = find_root(parent, long(i));
    if (fan_of[std::size_t(r)] < 0) {
      fan_of[std::size_t(r)] = long(fans.size());
      fans.emplace_back();
    }
    fans[std::size_t(fan_of[std::size_t(r)])].push_back(face(i));
  }
  return fans;
}

// The same for vertex v of mesh and its faces faces[0 .. n - 1].
std::vector<std::vector<long>> fans_at(const RepairMesh& mesh, long long v, const long* faces, std::size_t n) {
  return fans_at(v, n, [&](std::size_t i) { return faces[i]; }, [&](std::size_t i) {
    const auto& f = mesh.faces[std::size_t(faces[i])];
    const int k = f.x == v ? 0 : f.y == v ? 1 : 2;
    return std::make_pair(f[(k + 1) % 3], f[(k + 2) % 3]);
  });
}

}  // namespace

long resolve_nonmanifold_vertices(RepairMesh& mesh, long max_removed, long& split) {
  split = 0;
  long total = 0;
  // The faces around each vertex are listed once; as faces go, `now` follows each listed face
  // to its index in mesh.faces (-1 once removed; empty while none is), and the lists of the
  // few vertices looked at again are read through it.
  const auto around = faces_around(mesh);
  std::vector<long> now, number, list;
  // The fans at v: from the listed faces and their corners while no face is removed (every
  // vertex is looked at then), else from mesh.faces.
  const auto fans_at_vertex = [&](std::size_t v) {
    const FacesAround::Face* first = around.at.data() + around.start[v];
    const std::size_t n = around.start[v + 1] - around.start[v];
    if (now.empty() && around.corners)
      return fans_at((long long)v, n, [&](std::size_t i) { return first[i].face; },
                     [&](std::size_t i) { return std::make_pair((long long)first[i].next, (long long)first[i].after); });
    list.clear();
    for (std::size_t i = 0; i < n; ++i) {
      const long f = first[i].face;
      if (now.empty()) list.push_back(f);
      else if (now[std::size_t(f)] >= 0) list.push_back(now[std::size_t(f)]);
    }
    return fans_at(mesh, (long long)v, list.data(), list.size());
  };
  // Removal of small fans, repeated while it removes something (it can pinch a neighbour).
  // After the first round only the vertices of removed faces can have changed.
  std::vector<char> check(mesh.vertices.size(), 1);
  std::vector<char> several(mesh.vertices.size(), 0);  // seen with several fans in some round
  for (int round = 0; round < 10; ++round) {
    std::vector<char> removed(mesh.faces.size(), 0);
    bool any = false;
    for (std::size_t v = 0; v < mesh.vertices.size(); ++v) {
      if (!check[v]) continue;
      auto fans = fans_at_vertex(v);
      if (fans.size() < 2) continue;
      several[v] = 1;
      std::stable_sort(fans.begin(), fans.end(),
                       [](const auto& a, const auto& b) { return a.size() > b.size(); });
      for (std::size_t i = 1; i < fans.size(); ++i)
        if (long(fans[i].size()) <= max_removed)
          for (long f : fans[i]) removed[std::size_t(f)] = any = true;
    }
    if (!any) break;
    std::fill(check.begin(), check.end(), 0);
    for (std::size_t f = 0; f < mesh.faces.size(); ++f)
      if (removed[f])
        for (int k = 0; k < 3; ++k) check[std::size_t(mesh.faces[f][k])] = 1;
    // Faces keep their order: each kept face moves down by the faces removed before it.
    number.resize(mesh.faces.size());
    long next = 0;
    for (std::size_t f = 0; f < mesh.faces.size(); ++f) number[f] = removed[f] ? -1 : next++;
    if (now.empty()) now = number;
    else
      for (long& f : now)
        if (f >= 0) f = number[std::size_t(f)];
    total += drop_faces(mesh, removed);
  }
  // What is left gets a copy of the vertex per extra fan. Only vertices that had several fans,
  // or whose faces the last round changed, can have them.
  const std::size_t old_vertices = mesh.vertices.size();  // copies are appended as it goes
  for (std::size_t v = 0; v < old_vertices; ++v) {
    if (!several[v] && !check[v]) continue;
    auto fans = fans_at_vertex(v);
    std::stable_sort(fans.begin(), fans.end(),
                     [](const auto& a, const auto& b) { return a.size() > b.size(); });
    for (std::size_t i = 1; i < fans.size(); ++i) {
      const long long copy = (long long)mesh.vertices.size();
      mesh.vertices.push_back(mesh.vertices[v]);
      mesh.colors.push_back(mesh.colors[v]);
      mesh.normals.push_back(mesh.normals[v]);
      for (long f : fans[i])
        for (int k = 0; k < 3; ++k)
          if (mesh.faces[std::size_t(f)][k] == (long long)v) mesh.faces[std::size_t(f)][k] = copy;
      ++split;
    }
  }
  return total;
}

long join_fans(RepairMesh& mesh, double reach, double least_cos) {
  const FacesAround around = faces_around(mesh);
  if (!around.corners) return 0;
  // The undirected edges of the faces added so far, which `around` does not list: no two added
  // faces may share one.
  std::unordered_set<std::uint64_t> claimed;
  const auto key = [](long long a, long long b) {
    if (a > b) std::swap(a, b);
    return std::uint64_t(a) << 32 | std::uint64_t(b);
  };
  struct End {
    long long out = -1, in = -1;  // the open ends' corners: v -> out, in -> v
    double longest = 0.0;         // the longest edge of the fan at v
  };
  std::vector<long long> nexts, afters;
  long added = 0;
  const std::size_t vertices = mesh.vertices.size();
  for (std::size_t v = 0; v < vertices; ++v) {
    const std::size_t first = around.start[v], n = around.start[v + 1] - first;
    if (n < 2) continue;
    const auto fans = fans_at((long long)v, n, [&](std::size_t i) { return around.at[first + i].face; },
                              [&](std::size_t i) {
                                return std::make_pair((long long)around.at[first + i].next,
                                                      (long long)around.at[first + i].after);
                              });
    if (fans.size() != 2) continue;
    // Each fan must be a strip with two open ends: a corner its faces leave v towards and none
    // comes from, and one they come from.
    std::array<End, 2> ends;
    bool strips = true;
    for (std::size_t k = 0; k < 2 && strips; ++k) {
      nexts.clear();
      afters.clear();
      for (long f : fans[k]) {
        const auto& t = mesh.faces[std::size_t(f)];
        const int c = t.x == (long long)v ? 0 : t.y == (long long)v ? 1 : 2;
        nexts.push_back(t[(c + 1) % 3]);
        afters.push_back(t[(c + 2) % 3]);
        for (const long long w : {nexts.back(), afters.back()})
          ends[k].longest = std::max(ends[k].longest, norm(mesh.vertices[std::size_t(w)] - mesh.vertices[v]));
      }
      int outs = 0, ins = 0;
      for (const long long w : nexts)
        if (std::find(afters.begin(), afters.end(), w) == afters.end()) ends[k].out = w, ++outs;
      for (const long long w : afters)
        if (std::find(nexts.begin(), nexts.end(), w) == nexts.end()) ends[k].in = w, ++ins;
      strips = outs == 1 && ins == 1;
    }
    if (!strips) continue;
    const double longest = reach * std::max(ends[0].longest, ends[1].longest);
    // The face (v, x, w) from the end of one fan to the start of the other closes the gap on
    // that side, in the fans' own orientation.
    for (std::size_t k = 0; k < 2; ++k) {
      const long long x = ends[1 - k].in, w = ends[k].out;
      if (x == w) continue;
      const Point3D &pv = mesh.vertices[v], &px = mesh.vertices[std::size_t(x)], &pw = mesh.vertices[std::size_t(w)];
      if (norm(px - pw) > longest) continue;
      const Point3D normal = cross(px - pv, pw - pv);
      const double area = norm(normal);
      if (!(area > 0.0)) continue;
      const auto along = [&](const Point3D& m) { return dot(normal, m) > least_cos * area * norm(m); };
      if (!along(mesh.normals[v]) || !along(mesh.normals[std::size_t(x)]) || !along(mesh.normals[std::size_t(w)]))
        continue;
      // The edge x -> w must be free: no face traverses it that way, and at most one the other.
      int forward = 0, backward = 0;
      for (std::size_t i = around.start[std::size_t(x)]; i < around.start[std::size_t(x) + 1]; ++i) {
        forward += around.at[i].next == w;
        backward += around.at[i].after == w;
      }
      if (forward > 0 || backward > 1) continue;
      if (claimed.count(key(x, w)) || claimed.count(key((long long)v, x)) || claimed.count(key((long long)v, w)))
        continue;
      claimed.insert(key(x, w));
      claimed.insert(key((long long)v, x));
      claimed.insert(key((long long)v, w));
      mesh.faces.push_back({(long long)v, x, w});
      ++added;
    }
  }
  return added;
}

long remove_small_components(RepairMesh& mesh, long min_faces) {
  std::vector<long> parent(mesh.vertices.size());
  std::iota(parent.begin(), parent.end(), 0L);
  for (const auto& f : mesh.faces) {
    const long a = find_root(parent, long(f.x));
    parent[std::size_t(a)] = find_root(parent, long(f.y));
    const long b = find_root(parent, long(f.y));
    parent[std::size_t(b)] = find_root(parent, long(f.z));
  }
  std::vector<long> size(mesh.vertices.size(), 0);
  for (const auto& f : mesh.faces) ++size[std::size_t(find_root(parent, long(f.x)))];
  const long largest = size.empty() ? 0 : *std::max_element(size.begin(), size.end());
  std::vector<char> removed(mesh.faces.size(), 0);
  for (std::size_t f = 0; f < mesh.faces.size(); ++f) {
    const long faces = size[std::size_t(find_root(parent, long(mesh.faces[f].x)))];
    removed[f] = faces < min_faces && faces < largest;
  }
  return drop_faces(mesh, removed);
}

std::vector<char> pieces_lying_on(const std::vector<Point3D>& vertices, const std::vector<int>& label,
                                  std::size_t pieces, int body, double reach) {
  std::vector<char> on(pieces, 0);
  if (!(reach > 0.0)) return on;
  // Cells of side `reach`, keyed by their three coordinates (21 bits each; cells that wrap onto
  // the same key only add candidates, which the distance test sorts out).
  const auto key = [&](const Point3D& p, int dx, int dy, int dz) {
    const auto c = [&](double x, int d) {
      const double f = std::floor(x / reach);
      const std::int64_t i = f > -1e15 && f < 1e15 ? std::int64_t(f) : 0;  // not a number: 0
      return std::uint64_t(i + d) & 0x1fffffu;
    };
    return c(p.x, dx) << 42 | c(p.y, dy) << 21 | c(p.z, dz);
  };
  // The other pieces' vertices, each listed in its own cell and the 26 around it, so that a
  // body vertex finds every one within reach in its own cell.
  std::vector<std::size_t> others;
  std::unordered_map<std::uint64_t, std::vector<std::uint32_t>> around;
  for (std::size_t v = 0; v < vertices.size() && v < label.size(); ++v) {
    if (label[v] < 0 || label[v] == body || std::size_t(label[v]) >= pieces) continue;
    const auto k = std::uint32_t(others.size());
    others.push_back(v);
    for (int dx = -1; dx <= 1; ++dx)
      for (int dy = -1; dy <= 1; ++dy)
        for (int dz = -1; dz <= 1; ++dz) around[key(vertices[v], dx, dy, dz)].push_back(k);
  }
  if (others.empty()) return on;
  std::vector<char> near(others.size(), 0);
  const double reach2 = reach * reach;
  for (std::size_t v = 0; v < vertices.size() && v < label.size(); ++v) {
    if (label[v] != body) continue;
    const auto it = around.find(key(vertices[v], 0, 0, 0));
    if (it == around.end()) continue;
    for (std::uint32_t k : it->second)
      if (!near[k] && norm2(vertices[others[k]] - vertices[v]) <= reach2) near[k] = 1;
  }
  // A piece is on the body when it has a vertex and all of them are near it.
  std::vector<char> far(pieces, 0);
  for (std::size_t k = 0; k < others.size(); ++k) {
    const auto p = std::size_t(label[others[k]]);
    on[p] = 1;
    far[p] |= !near[k];
  }
  for (std::size_t p = 0; p < pieces; ++p) on[p] = on[p] && !far[p];
  return on;
}

}  // namespace tervik
