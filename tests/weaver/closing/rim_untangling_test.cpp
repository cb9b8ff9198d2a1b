// Widening holes whose rim overlaps itself: a fold beside a hole in a flat grid.
#include "weaver/closing/rim_untangling.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "weaver/closing/hole_filling.h"
#include "weaver/mesh_fixtures.h"

namespace tervik {
namespace {

// The test grids are this many cells across: their outer rim (132 corners, running clockwise
// seen from above, the outside being its hole) is longer than any loop that is judged.
constexpr int kGrid = 33;

// Cells [x0, x0 + w) x [y0, y0 + h) of a grid: a hole whose loop has 2 (w + h) corners.
struct Cells {
  int x0, y0, w, h;
  bool contain(int x, int y) const { return x >= x0 && x < x0 + w && y >= y0 && y < y0 + h; }
};

// A flat n x n grid of unit cells in the plane z = 0, facing up (normals +z), with the given
// cells left out.
RepairMesh grid_with_holes(int n, const std::vector<Cells>& holes) {
  RepairMesh m;
  const auto at = [n](int x, int y) { return (long long)(y) * (n + 1) + x; };
  for (int y = 0; y <= n; ++y)
    for (int x = 0; x <= n; ++x) m.vertices.emplace_back(x, y, 0.0);
  for (int y = 0; y < n; ++y)
    for (int x = 0; x < n; ++x) {
      if (std::any_of(holes.begin(), holes.end(), [&](const Cells& c) { return c.contain(x, y); })) continue;
      m.faces.emplace_back(at(x, y), at(x + 1, y), at(x + 1, y + 1));
      m.faces.emplace_back(at(x, y), at(x + 1, y + 1), at(x, y + 1));
    }
  m.normals.assign(m.vertices.size(), Point3D(0.0, 0.0, 1.0));
  m.colors.assign(m.vertices.size(), Coord3D<unsigned char>(100, 150, 200));
  return m;
}

RepairMesh grid_with_hole(int n, int x0, int y0, int w, int h) { return grid_with_holes(n, {{x0, y0, w, h}}); }

// Faces whose normal does not point up.
long faces_down(const RepairMesh& m) {
  long down = 0;
  for (const auto& f : m.faces) {
    const Point3D a = m.vertices[std::size_t(f.x)], b = m.vertices[std::size_t(f.y)], c = m.vertices[std::size_t(f.z)];
    down += cross(b - a, c - a).z <= 0.0;
  }
  return down;
}

// The middle corner on the right side of a hole of w x 2 cells at (4, 5) moved left past the
// hole's left side: the faces right of it stretch over the hole (still facing up) and the loop
// of 2 (w + 2) corners crosses itself seen from above. `more`: other holes of the n x n grid.
RepairMesh folded(int w, int n = kGrid, const std::vector<Cells>& more = {}) {
  std::vector<Cells> holes = more;
  holes.push_back({4, 5, w, 2});
  RepairMesh m = grid_with_holes(n, holes);
  m.vertices[std::size_t(6 * (n + 1) + 4 + w)].x = 3.5;
  return m;
}

// The grid bent into a valley along x, z = k (x - 10)^2, with the normals of that surface.
void bend(RepairMesh& m, double k) {
  for (std::size_t v = 0; v < m.vertices.size(); ++v) {
    Point3D& p = m.vertices[v];
    p.z = k * (p.x - 10.0) * (p.x - 10.0);
    const Point3D n(-2.0 * k * (p.x - 10.0), 0.0, 1.0);
    m.normals[v] = n / norm(n);
  }
}

// `pieces` equal what face_pieces finds in hm.
void expect_pieces_of(const HoleMesh& hm, const FacePieces& pieces) {
  FacePieces fresh;
  fresh.count = face_pieces(hm, fresh.piece, fresh.largest);
  EXPECT_EQ(pieces.count, fresh.count);
  EXPECT_EQ(pieces.largest, fresh.largest);
  EXPECT_EQ(pieces.piece, fresh.piece);
}

// Closes the holes away from the grid's outer rim (which runs clockwise, the outside being
// its hole) and returns the faces that then point down.
long close_inner_and_count_down(RepairMesh& m, int n) {
  std::vector<char> inner(m.vertices.size(), 1);
  for (std::size_t v = 0; v < std::size_t((n + 1) * (n + 1)); ++v) {
    const Point3D& p = m.vertices[v];
    if (p.y == 0.0 || p.y == double(n) || p.x == 0.0 || p.x == double(n)) inner[v] = 0;
  }
  const HoleFilling closed = fill_marked_holes(m, inner, 1.0);
  EXPECT_EQ(closed.holes_closed, 1);
  EXPECT_EQ(closed.holes_left, 0);
  return faces_down(m);
}

// Untangles the rims of m in `rounds` rounds, leaving hm as untangle_rims leaves it, and
// returns what it did, after checking that the pieces handed on are those of hm as it is left
// (its faces reordered) and that every vertex stays a manifold one.
RimUntangling untangle(RepairMesh& m, HoleMesh& hm, int rounds = 3) {
  long refused = 0;
  hm = to_hole_mesh(m, refused);
  EXPECT_EQ(refused, 0);
  FacePieces pieces;
  const RimUntangling r = untangle_rims(m, hm, rounds, &pieces);
  expect_pieces_of(hm, pieces);
  EXPECT_EQ(testing::topology(m.faces).nonmanifold, 0);
  return r;
}

RimUntangling untangle(RepairMesh& m, int rounds = 3) {
  HoleMesh hm;
  return untangle(m, hm, rounds);
}

TEST(RimUntangling, FoldedHoleIsWidenedUntilItsPatchFacesUp) {
  RepairMesh plain = folded(2);  // 8 corners
  ASSERT_EQ(faces_down(plain), 0);
  // Closed as it is, the crossed loop gets a patch with a face turned down.
  RepairMesh m = plain;
  ASSERT_GT(close_inner_and_count_down(m, kGrid), 0);
  m = plain;
  HoleMesh hm;
  const RimUntangling r = untangle(m, hm);
  EXPECT_EQ(r.loops_tangled, 1);  // the outer rim is too long to judge
  EXPECT_EQ(r.loops_left, 0);
  EXPECT_GT(r.faces_removed, 0);
  EXPECT_LE(r.faces_removed, 8 * 8 + 16);
  EXPECT_EQ(long(plain.faces.size() - m.faces.size()), r.faces_removed);
  // Every vertex stays a manifold one and the hole stays one hole: hm holds the same faces,
  // with two boundary loops (the hole and the outer rim).
  EXPECT_EQ(hm.n_faces(), m.faces.size());
  std::vector<char> seen(hm.n_halfedges(), 0);
  int loops = 0;
  for (auto h : hm.halfedges()) {
    if (!hm.is_boundary(h) || seen[std::size_t(h.idx())]) continue;
    ++loops;
    for (auto g = h; !seen[std::size_t(g.idx())]; g = hm.next_halfedge_handle(g)) seen[std::size_t(g.idx())] = 1;
  }
  EXPECT_EQ(loops, 2);
  EXPECT_EQ(testing::topology(m.faces).euler, 0);
  // Its patch now faces up.
  EXPECT_EQ(close_inner_and_count_down(m, kGrid), 0);
  EXPECT_EQ(testing::topology(m.faces).euler, 1);
}

TEST(RimUntangling, DeepFoldIsWidenedRoundByRound) {
  // Three corners of the row above a hole of 2 x 2 cells moved left, each a cell further, past
  // the hole's left side: each widening leaves a loop that still crosses itself, until the
  // third reaches past the fold. Each round looks again at the loops the last one made.
  RepairMesh plain = grid_with_hole(kGrid, 4, 5, 2, 2);
  for (int d = 0; d < 3; ++d) plain.vertices[std::size_t(6 * (kGrid + 1) + 6 + d)].x = 3.5 - double(d);
  long last_removed = 0;
  for (int rounds = 1; rounds <= 3; ++rounds) {
    SCOPED_TRACE(rounds);
    RepairMesh m = plain;
    const RimUntangling r = untangle(m, rounds);
    EXPECT_EQ(r.loops_tangled, 1);
    EXPECT_EQ(r.loops_left, rounds < 3 ? 1 : 0);
    EXPECT_GT(r.faces_removed, last_removed);
    last_removed = r.faces_removed;
    EXPECT_EQ(testing::topology(m.faces).nonmanifold, 0);
  }
}

TEST(RimUntangling, PiecesHandedOnFollowASmallerPieceSplitByItsWidening) {
  // Beside the folded grid, a smaller grid with a folded hole one cell from its corner: the
  // widening of that hole cuts the corner off, so the pieces handed on are three.
  RepairMesh m = folded(2);
  RepairMesh small = grid_with_hole(7, 4, 1, 2, 2);
  small.vertices[std::size_t(2 * 8 + 6)].x = 3.5;
  testing::append_piece(m, small, Point3D(30, 0, 0));
  long refused = 0;
  HoleMesh hm = to_hole_mesh(m, refused);
  FacePieces pieces;
  const RimUntangling r = untangle_rims(m, hm, 3, &pieces);
  EXPECT_EQ(r.loops_tangled, 2);
  EXPECT_EQ(r.loops_left, 0);
  EXPECT_EQ(pieces.count, 3);
  expect_pieces_of(hm, pieces);
}

TEST(RimUntangling, BitsCutOffTheLargestPieceGoAndThePiecesHandedOnFollow) {
  // Folded holes one cell from two corners of the grid (the fold of the test above, and one
  // folded the other way): each widening cuts a corner off the largest piece, a bit too small
  // to keep, and the pieces handed on are those of what is left: one.
  const int n = kGrid;
  RepairMesh m = grid_with_holes(n, {{n - 3, 1, 2, 2}, {1, n - 3, 2, 2}});
  m.vertices[std::size_t(2 * (n + 1) + n - 1)].x = double(n - 3) - 0.5;
  m.vertices[std::size_t((n - 1) * (n + 1) + 1)].x = 3.5;
  const std::size_t faces_before = m.faces.size();
  HoleMesh hm;
  const RimUntangling r = untangle(m, hm);
  EXPECT_EQ(r.loops_tangled, 2);
  EXPECT_EQ(r.loops_left, 0);
  EXPECT_EQ(long(faces_before - m.faces.size()), r.faces_removed);
  FacePieces pieces;
  pieces.count = face_pieces(hm, pieces.piece, pieces.largest);
  EXPECT_EQ(pieces.count, 1);
}

TEST(RimUntangling, FillingWidensFoldedHoles) {
  RepairMesh m = folded(2);
  EXPECT_GT(fill_holes(m).faces_opened, 0);
  const testing::Topology t = testing::topology(m.faces);
  EXPECT_EQ(t.boundary, 0);
  EXPECT_EQ(t.nonmanifold, 0);
  EXPECT_EQ(t.inconsistent, 0);
}

TEST(RimUntangling, LeavesPlainHolesDetachedPiecesAndLongLoopsAlone) {
  const auto expect_untouched = [](RepairMesh m) {
    const auto faces = m.faces;
    long refused = 0;
    HoleMesh hm = to_hole_mesh(m, refused);
    FacePieces pieces;
    const RimUntangling r = untangle_rims(m, hm, 3, &pieces);
    expect_pieces_of(hm, pieces);
    EXPECT_EQ(r.loops_tangled, 0);
    EXPECT_EQ(r.faces_removed, 0);
    EXPECT_EQ(m.faces, faces);
  };
  // A plain hole, and a detached square inside it whose rim runs clockwise round it.
  RepairMesh m = grid_with_hole(kGrid, 3, 3, 5, 5);
  const long long a = (long long)(m.vertices.size());
  for (const Point3D& p : {Point3D(5.0, 5.0, 0.0), Point3D(6.0, 5.0, 0.0), Point3D(6.0, 6.0, 0.0), Point3D(5.0, 6.0, 0.0)}) {
    m.vertices.push_back(p);
    m.normals.emplace_back(0.0, 0.0, 1.0);
    m.colors.emplace_back(0, 0, 0);
  }
  m.faces.emplace_back(a, a + 1, a + 2);
  m.faces.emplace_back(a, a + 2, a + 3);
  expect_untouched(m);
  // A fold beside a hole of 136 corners: too long to be judged from one direction.
  expect_untouched(folded(66, 72));
}

TEST(RimUntangling, LongFoldedHoleIsWidenedWhereTheSurfaceIsFlat) {
  // A hole of 28 corners, past the length up to which every tangled loop is widened.
  RepairMesh plain = folded(12);
  RepairMesh m = plain;
  ASSERT_GT(close_inner_and_count_down(m, kGrid), 0);
  m = plain;
  const RimUntangling r = untangle(m);
  EXPECT_EQ(r.loops_tangled, 1);
  EXPECT_EQ(r.loops_left, 0);
  EXPECT_GT(r.faces_removed, 0);
  EXPECT_LE(r.faces_removed, 8 * 28 + 16);
  EXPECT_EQ(close_inner_and_count_down(m, kGrid), 0);
  EXPECT_EQ(testing::topology(m.faces).euler, 1);
}

TEST(RimUntangling, FoldedHoleIsKeptWhereItsWideningWouldBeDeepOrJoinALongHole) {
  {
    // In a valley whose faces around the hole rise by about 5 cells, against 4 % of a mesh
    // about 70 cells across: the long loop keeps its faces, a short one is widened all the same.
    RepairMesh m = folded(12);
    bend(m, 0.1);
    RimUntangling r = untangle(m);
    EXPECT_EQ(r.loops_tangled, 1);
    EXPECT_EQ(r.loops_left, 1);
    EXPECT_EQ(r.faces_removed, 0);
    m = folded(2);
    bend(m, 0.1);
    r = untangle(m);
    EXPECT_EQ(r.loops_tangled, 1);
    EXPECT_EQ(r.loops_left, 0);
    EXPECT_GT(r.faces_removed, 0);
  }
  // A short loop is kept where its widening would cut a ridge out of the surface: the row of
  // corners below the hole raised by 2 cells, against 3 % of a mesh about 47 cells across
  // (1.4 cells); raised by 1 cell, it is widened.
  for (const double ridge : {2.0, 1.0}) {
    SCOPED_TRACE(ridge);
    RepairMesh m = folded(2);
    for (int x = 2; x <= 8; ++x) m.vertices[std::size_t(4 * (kGrid + 1) + x)].z = ridge;
    const RimUntangling r = untangle(m);
    EXPECT_EQ(r.loops_tangled, 1);
    EXPECT_EQ(r.loops_left, ridge > 1.5 ? 1 : 0);
    EXPECT_EQ(r.faces_removed > 0, ridge < 1.5);
  }
  // On a mesh 200 cells across, 3 % of its size is 8.5 cells, but the rise is also held to
  // 4.8 mean edge lengths (5.5 cells): raised by 7 cells the short loop is kept, by 4 widened.
  for (const double ridge : {7.0, 4.0}) {
    SCOPED_TRACE(ridge);
    RepairMesh m = folded(2, 200);
    for (int x = 2; x <= 8; ++x) m.vertices[std::size_t(4 * (200 + 1) + x)].z = ridge;
    const RimUntangling r = untangle(m);
    EXPECT_EQ(r.loops_tangled, 1);
    EXPECT_EQ(r.loops_left, ridge > 5.5 ? 1 : 0);
    EXPECT_EQ(r.faces_removed > 0, ridge < 5.5);
  }
  // A hole just above the folded one, whose rim the widening reaches: with 116 corners (more
  // than 4 times 28) it keeps the folded loop's faces; with 100 it does not.
  for (const int h : {28, 20}) {
    SCOPED_TRACE(h);
    RepairMesh m = folded(12, 40, {{4, 8, 30, h}});
    const RimUntangling r = untangle(m);
    EXPECT_EQ(r.loops_tangled, 1);
    if (h == 28) {
      EXPECT_EQ(r.loops_left, 1);
      EXPECT_EQ(r.faces_removed, 0);
    } else {
      EXPECT_EQ(r.loops_left, 0);
      EXPECT_GT(r.faces_removed, 0);
    }
  }
}

}  // namespace
}  // namespace tervik
