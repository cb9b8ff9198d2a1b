#pragma once
// Hand-built meshes and topology checks shared by the tests of the mesh repairs.
#include <algorithm>
#include <cmath>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "weaver/closing/manifold_repair.h"

namespace tervik::testing {

// An octahedron subdivided `levels` times and pushed onto the unit sphere: closed, outward
// oriented, 8 * 4^levels faces. Normals are the positions, colours grey (100, 150, 200).
inline RepairMesh unit_sphere(int levels) {
  RepairMesh m;
  m.vertices = {{1, 0, 0}, {-1, 0, 0}, {0, 1, 0}, {0, -1, 0}, {0, 0, 1}, {0, 0, -1}};
  m.faces = {{0, 2, 4}, {2, 1, 4}, {1, 3, 4}, {3, 0, 4}, {2, 0, 5}, {1, 2, 5}, {3, 1, 5}, {0, 3, 5}};
  for (int l = 0; l < levels; ++l) {
    std::map<std::pair<long long, long long>, long long> mid;
    auto middle = [&](long long a, long long b) {
      const auto key = std::make_pair(std::min(a, b), std::max(a, b));
      auto it = mid.find(key);
      if (it != mid.end()) return it->second;
      const Point3D p = (m.vertices[std::size_t(a)] + m.vertices[std::size_t(b)]) * 0.5;
      m.vertices.push_back(p / norm(p));
      return mid[key] = static_cast<long long>(m.vertices.size() - 1);
    };
    std::vector<Coord3D<long long>> next;
    for (const auto& t : m.faces) {
      const long long ab = middle(t.x, t.y), bc = middle(t.y, t.z), ca = middle(t.z, t.x);
      next.insert(next.end(), {{t.x, ab, ca}, {ab, t.y, bc}, {ca, bc, t.z}, {ab, bc, ca}});
    }
    m.faces = next;
  }
  m.normals = m.vertices;
  m.colors.assign(m.vertices.size(), Coord3D<unsigned char>(100, 150, 200));
  return m;
}

// Removes the faces with a vertex above height z (a cap of the unit sphere).
inline void cut_cap(RepairMesh& m, double z) {
  std::vector<Coord3D<long long>> kept;
  for (const auto& f : m.faces)
    if (m.vertices[std::size_t(f.x)].z <= z && m.vertices[std::size_t(f.y)].z <= z &&
        m.vertices[std::size_t(f.z)].z <= z)
      kept.push_back(f);
  m.faces = kept;
}

// Appends the vertices (moved by `offset`, with their normals and colours) and the faces of
// `other` to m: a second piece.
inline void append_piece(RepairMesh& m, const RepairMesh& other, const Point3D& offset) {
  const auto first = static_cast<long long>(m.vertices.size());
  for (std::size_t i = 0; i < other.vertices.size(); ++i) {
    m.vertices.push_back(other.vertices[i] + offset);
    m.normals.push_back(other.normals[i]);
    m.colors.push_back(other.colors[i]);
  }
  for (const auto& f : other.faces) m.faces.emplace_back(f.x + first, f.y + first, f.z + first);
}

// Edge counts of a face list and its Euler characteristic over the vertices that faces use.
struct Topology {
  long boundary = 0, nonmanifold = 0, inconsistent = 0;
  long euler = 0;
};

inline Topology topology(const std::vector<Coord3D<long long>>& faces) {
  std::map<std::pair<long long, long long>, std::pair<int, int>> edges;  // uses, forward uses
  std::set<long long> used;
  for (const auto& f : faces)
    for (int k = 0; k < 3; ++k) {
      const long long a = f[k], b = f[(k + 1) % 3];
      used.insert(a);
      auto& e = edges[{std::min(a, b), std::max(a, b)}];
      ++e.first;
      e.second += a < b;
    }
  Topology t;
  for (const auto& [key, e] : edges) {
    if (e.first == 1) ++t.boundary;
    else if (e.first > 2) ++t.nonmanifold;
    else if (e.second != 1) ++t.inconsistent;
  }
  t.euler = long(used.size()) - long(edges.size()) + long(faces.size());
  return t;
}

// Expects the faces to make a closed (no boundary edge), manifold, consistently oriented surface
// of Euler characteristic 2.
inline void expect_closed_genus_zero(const std::vector<Coord3D<long long>>& faces) {
  const Topology t = topology(faces);
  EXPECT_EQ(t.boundary, 0);
  EXPECT_EQ(t.nonmanifold, 0);
  EXPECT_EQ(t.inconsistent, 0);
  EXPECT_EQ(t.euler, 2);
}

}  // namespace tervik::testing
