// The half-edge mesh built from a face list: the direct construction and its fallback.
#include "weaver/closing/hole_mesh.h"

#include <gtest/gtest.h>

#include <iostream>
#include <random>
#include <sstream>

#include "weaver/closing/rim_untangling.h"

#include "weaver/mesh_fixtures.h"

namespace tervik {
namespace {

// Face i of hm has the vertices of mesh face i, in the same cyclic order.
void expect_same_faces(const HoleMesh& hm, const RepairMesh& m) {
  ASSERT_EQ(hm.n_faces(), m.faces.size());
  for (auto f : hm.faces()) {
    std::vector<long long> got;
    for (auto v : hm.fv_range(f)) got.push_back(v.idx());
    const auto& want = m.faces[std::size_t(f.idx())];
    int k = 0;
    while (k < 3 && want[k] != got[0]) ++k;
    ASSERT_LT(k, 3);
    EXPECT_EQ(got[1], want[(k + 1) % 3]);
    EXPECT_EQ(got[2], want[(k + 2) % 3]);
  }
}

TEST(HoleMesh, OpenSphereKeepsFaceOrderAndBoundary) {
  RepairMesh m = testing::unit_sphere(3);
  testing::cut_cap(m, 0.5);
  long refused = -1;
  const HoleMesh hm = to_hole_mesh(m, refused);
  EXPECT_EQ(refused, 0);
  expect_same_faces(hm, m);
  long boundary = 0, loops = 0;
  for (auto h : hm.halfedges()) {
    if (!hm.is_boundary(h)) continue;
    ++boundary;
    // The boundary continues at the next vertex, and that vertex knows it is on the boundary.
    EXPECT_EQ(hm.from_vertex_handle(hm.next_halfedge_handle(h)), hm.to_vertex_handle(h));
    EXPECT_TRUE(hm.is_boundary(hm.halfedge_handle(hm.to_vertex_handle(h))));
  }
  std::vector<char> seen(hm.n_halfedges(), 0);
  for (auto h : hm.halfedges()) {
    if (!hm.is_boundary(h) || seen[std::size_t(h.idx())]) continue;
    ++loops;
    for (auto g = h; !seen[std::size_t(g.idx())]; g = hm.next_halfedge_handle(g)) seen[std::size_t(g.idx())] = 1;
  }
  EXPECT_EQ(boundary, testing::topology(m.faces).boundary);
  EXPECT_EQ(loops, 1);
  for (auto v : hm.vertices()) EXPECT_TRUE(hm.is_manifold(v));
}

TEST(HoleMesh, FacesBreakingTheStructureAreRefused) {
  RepairMesh m = testing::unit_sphere(1);
  const std::size_t faces = m.faces.size();
  // A face repeating one of the sphere's (same direction): its edges already have a face on
  // that side, so the direct construction gives way to face-by-face insertion, which drops it.
  m.faces.push_back(m.faces[3]);
  long refused = 0;
  const HoleMesh hm = to_hole_mesh(m, refused);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(hm.n_faces(), faces);

  // Two octahedra that share a vertex: every edge is fine, but the shared vertex has two fans;
  // the second one's faces there cannot join.
  RepairMesh two = testing::unit_sphere(0);
  const RepairMesh other = testing::unit_sphere(0);
  const long long offset = static_cast<long long>(two.vertices.size()) - 1;
  for (std::size_t i = 1; i < other.vertices.size(); ++i) two.vertices.push_back(other.vertices[i] + Point3D(2, 0, 0));
  const auto shifted = [&](long long v) { return v == 0 ? 0 : v + offset; };
  for (const auto& f : other.faces) two.faces.emplace_back(shifted(f.x), shifted(f.y), shifted(f.z));
  const HoleMesh joined = to_hole_mesh(two, refused);
  EXPECT_EQ(refused, 4);
  for (auto v : joined.vertices()) EXPECT_TRUE(joined.is_manifold(v));
}

// Every handle, link and status of a and b is the same.
void expect_same_structure(const HoleMesh& a, const HoleMesh& b) {
  ASSERT_EQ(a.n_vertices(), b.n_vertices());
  ASSERT_EQ(a.n_edges(), b.n_edges());
  ASSERT_EQ(a.n_faces(), b.n_faces());
  int differ = 0;
  for (auto v : b.all_vertices())
    differ += a.halfedge_handle(v) != b.halfedge_handle(v) || a.status(v).bits() != b.status(v).bits() ||
              a.point(v) != b.point(v);
  for (auto h : b.all_halfedges())
    differ += a.to_vertex_handle(h) != b.to_vertex_handle(h) || a.next_halfedge_handle(h) != b.next_halfedge_handle(h) ||
              a.prev_halfedge_handle(h) != b.prev_halfedge_handle(h) || a.face_handle(h) != b.face_handle(h) ||
              a.status(h).bits() != b.status(h).bits();
  for (auto e : b.all_edges()) differ += a.status(e).bits() != b.status(e).bits();
  for (auto f : b.all_faces())
    differ += a.halfedge_handle(f) != b.halfedge_handle(f) || a.status(f).bits() != b.status(f).bits();
  EXPECT_EQ(differ, 0);
}

// Two spheres, each with a random share of its faces missing: many pieces, and edges whose
// faces are partly gone.
RepairMesh torn_spheres(std::mt19937& rng, double missing) {
  RepairMesh m = testing::unit_sphere(3);
  const RepairMesh other = m;
  const auto offset = static_cast<long long>(m.vertices.size());
  for (const Point3D& p : other.vertices) m.vertices.push_back(p + Point3D(3, 0, 0));
  for (const auto& f : other.faces) m.faces.emplace_back(f.x + offset, f.y + offset, f.z + offset);
  std::bernoulli_distribution drop(missing);
  std::vector<Coord3D<long long>> kept;
  for (const auto& f : m.faces)
    if (!drop(rng)) kept.push_back(f);
  m.faces = kept;
  return m;
}

// Whether the faces at every vertex of m are connected across edges at the vertex (brute force).
bool one_fan_everywhere(const RepairMesh& m) {
  std::vector<std::vector<std::size_t>> at(m.vertices.size());
  for (std::size_t f = 0; f < m.faces.size(); ++f)
    for (int k = 0; k < 3; ++k) at[std::size_t(m.faces[f][k])].push_back(f);
  for (const auto& faces : at) {
    std::vector<char> in(faces.size(), 0);
    if (!faces.empty()) in[0] = 1;
    for (bool grew = true; grew;) {
      grew = false;
      for (std::size_t i = 0; i < faces.size(); ++i)
        for (std::size_t j = 0; j < faces.size() && !in[i]; ++j) {
          int shared = 0;
          for (int a = 0; a < 3; ++a)
            for (int b = 0; b < 3; ++b) shared += m.faces[faces[i]][a] == m.faces[faces[j]][b];
          if (in[j] && shared >= 2) in[i] = 1, grew = true;
        }
    }
    if (std::count(in.begin(), in.end(), 0) > 0) return false;
  }
  return true;
}

TEST(HoleMesh, BuiltDirectlyExactlyWhereEveryVertexHasOneFan) {
  // The direct construction makes the edges in the order of their vertex pairs; face by face
  // insertion, its fallback, makes them in the order of the faces.
  const auto built_directly = [](const HoleMesh& hm) {
    std::vector<std::pair<int, int>> pairs;
    for (auto e : hm.edges()) {
      const int a = hm.to_vertex_handle(hm.halfedge_handle(e, 0)).idx(), b = hm.to_vertex_handle(hm.halfedge_handle(e, 1)).idx();
      pairs.emplace_back(std::min(a, b), std::max(a, b));
    }
    return std::is_sorted(pairs.begin(), pairs.end());
  };
  std::mt19937 rng(3);
  int pinched = 0, sound = 0;
  for (int trial = 0; trial < 40; ++trial) {
    // Faces missing at random leave some vertices with several fans, open or closed.
    const RepairMesh m = torn_spheres(rng, 0.02 * double(trial % 10));
    long refused = 0;
    const HoleMesh hm = to_hole_mesh(m, refused);
    const bool one_fan = one_fan_everywhere(m);
    EXPECT_EQ(built_directly(hm), one_fan) << "trial " << trial;
    (one_fan ? sound : pinched) += 1;
  }
  EXPECT_GT(pinched, 3);
  EXPECT_GT(sound, 3);
  // A closed fan and an open one at a shared vertex: an octahedron and a square at its top.
  RepairMesh m = testing::unit_sphere(0);
  const auto top = static_cast<long long>(4), a = static_cast<long long>(m.vertices.size());
  for (const Point3D& p : {Point3D(0, 0, 3), Point3D(1, 0, 2), Point3D(0, 1, 2)}) m.vertices.push_back(p);
  m.faces.emplace_back(top, a + 1, a);
  m.faces.emplace_back(top, a, a + 2);
  long refused = 0;
  EXPECT_FALSE(built_directly(to_hole_mesh(m, refused)));
  m.faces.resize(m.faces.size() - 2);
  EXPECT_TRUE(built_directly(to_hole_mesh(m, refused)));
}

TEST(HoleMesh, DirectConstructionLinksLikeFaceInsertionAndListsFacesAcross) {
  std::mt19937 rng(11);
  int direct = 0, fallback = 0;
  for (int trial = 0; trial < 24; ++trial) {
    const RepairMesh m = torn_spheres(rng, 0.01 * double(trial % 8));
    long refused = 0;
    HoleMesh hm;
    std::vector<int> across;
    to_hole_mesh(m, refused, hm, &across);
    // Whichever way it was built, `across` is what faces_across reads off the mesh.
    EXPECT_EQ(across, faces_across(hm)) << "trial " << trial;
    if (refused > 0 || !one_fan_everywhere(m)) {
      ++fallback;
      continue;
    }
    ++direct;
    // The same faces inserted one by one: every half-edge (by its two vertices) has the same
    // face, next and previous half-edges, and every vertex the same boundary.
    HoleMesh inserted;
    for (const Point3D& p : m.vertices) inserted.add_vertex(to_vec(p));
    for (const auto& f : m.faces)
      inserted.add_face(HoleMesh::VertexHandle(int(f.x)), HoleMesh::VertexHandle(int(f.y)), HoleMesh::VertexHandle(int(f.z)));
    ASSERT_EQ(hm.n_halfedges(), inserted.n_halfedges());
    const auto same = [&](HoleMesh::HalfedgeHandle h) {
      return inserted.find_halfedge(hm.from_vertex_handle(h), hm.to_vertex_handle(h));
    };
    int differ = 0;
    for (auto h : hm.halfedges()) {
      const auto g = same(h);
      differ += !g.is_valid() || inserted.face_handle(g) != hm.face_handle(h) ||
                same(hm.next_halfedge_handle(h)) != inserted.next_halfedge_handle(g) ||
                same(hm.prev_halfedge_handle(h)) != inserted.prev_halfedge_handle(g);
    }
    for (auto v : hm.vertices())
      differ += hm.is_boundary(v) != inserted.is_boundary(v) ||
                (hm.is_boundary(v) && !hm.is_boundary(hm.halfedge_handle(v)));
    // The first half-edge of each edge runs the way the first face over the edge does.
    for (auto e : hm.edges()) {
      const auto f0 = hm.face_handle(hm.halfedge_handle(e, 0)), f1 = hm.face_handle(hm.halfedge_handle(e, 1));
      differ += !f0.is_valid() || (f1.is_valid() && f1.idx() < f0.idx());
    }
    EXPECT_EQ(differ, 0) << "trial " << trial;
  }
  EXPECT_GT(direct, 3);
  EXPECT_GT(fallback, 3);
}

TEST(HoleMesh, PiecesAndCollectionFollowDeletedFaces) {
  std::mt19937 rng(7);
  int most_pieces = 0;
  for (int trial = 0; trial < 12; ++trial) {
    const RepairMesh m = torn_spheres(rng, 0.1 * double(trial % 6));
    long refused = 0;
    HoleMesh hm = to_hole_mesh(m, refused);
    // Each face lists the faces across its edges, each of which lists it back.
    const std::vector<int> across = faces_across(hm);
    ASSERT_EQ(across.size(), 3 * hm.n_faces());
    for (std::size_t f = 0; f < hm.n_faces(); ++f) {
      auto h = hm.halfedge_handle(HoleMesh::FaceHandle(int(f)));
      for (std::size_t k = 0; k < 3; ++k, h = hm.next_halfedge_handle(h)) {
        const int q = across[3 * f + k];
        EXPECT_EQ(q < 0, hm.is_boundary(hm.opposite_halfedge_handle(h)));
        if (q >= 0) EXPECT_EQ(std::count(&across[3 * std::size_t(q)], &across[3 * std::size_t(q) + 3], int(f)), 1);
      }
    }
    FacePieces fresh;
    fresh.count = face_pieces(hm, fresh.piece, fresh.largest);
    const FacePieces all = pieces_of(across, {});
    EXPECT_EQ(all.piece, fresh.piece);
    EXPECT_EQ(all.largest, fresh.largest);
    EXPECT_EQ(all.count, fresh.count);
    most_pieces = std::max(most_pieces, all.count);

    // Faces deleted at random, then collected: faces_after_collection says where each face
    // went, and the pieces of what is left, renumbered in that order, are the collected mesh's.
    std::bernoulli_distribution drop(0.2);
    std::vector<char> gone(hm.n_faces(), 0);
    std::vector<std::array<int, 3>> corners;
    hm.request_face_status();
    hm.request_edge_status();
    hm.request_halfedge_status();
    hm.request_vertex_status();
    for (auto f : hm.faces()) {
      auto it = hm.cfv_iter(f);
      corners.push_back({it->idx(), (++it)->idx(), (++it)->idx()});
      if (drop(rng)) gone[std::size_t(f.idx())] = 1, hm.delete_face(f, false);
    }
    const FacePieces left = pieces_of(across, gone);
    for (std::size_t f = 0; f < gone.size(); ++f) EXPECT_EQ(left.piece[f] < 0, gone[f] != 0);
    const std::vector<int> order = faces_after_collection(hm);
    HoleMesh moved_only = hm;
    // With a vertex deleted too, collect_garbage leaves the work to garbage_collection.
    HoleMesh with_vertex = hm;
    with_vertex.delete_vertex(HoleMesh::VertexHandle(int(trial)), false);
    HoleMesh with_vertex_collected = with_vertex;
    hm.garbage_collection();
    EXPECT_EQ(collect_garbage(moved_only), order);
    expect_same_structure(moved_only, hm);
    collect_garbage(with_vertex);
    with_vertex_collected.garbage_collection();
    expect_same_structure(with_vertex, with_vertex_collected);
    ASSERT_EQ(order.size(), hm.n_faces());
    for (auto f : hm.faces()) {
      const int old = order[std::size_t(f.idx())];
      EXPECT_FALSE(gone[std::size_t(old)]);
      auto it = hm.cfv_iter(f);
      EXPECT_EQ(it->idx(), corners[std::size_t(old)][0]);
      EXPECT_EQ((++it)->idx(), corners[std::size_t(old)][1]);
      EXPECT_EQ((++it)->idx(), corners[std::size_t(old)][2]);
    }
    fresh.count = face_pieces(hm, fresh.piece, fresh.largest);
    const FacePieces moved = reorder_pieces(left, order);
    EXPECT_EQ(moved.piece, fresh.piece);
    EXPECT_EQ(moved.largest, fresh.largest);
    EXPECT_EQ(moved.count, fresh.count);
  }
  EXPECT_GT(most_pieces, 10);  // the searches met real splits
}

TEST(HoleMesh, FlipLinksLikeTheLibrary) {
  // Edges flipped at random on torn spheres (boundary edges, edges whose opposite corners are
  // joined already and edges at boundary vertices among those met), by flip_edge on one copy
  // and by the library on the other: every link and handle agrees after each flip.
  std::mt19937 rng(11);
  int flipped = 0, at_boundary = 0;
  for (int trial = 0; trial < 6; ++trial) {
    const RepairMesh m = torn_spheres(rng, 0.05 * double(trial));
    long refused = 0;
    HoleMesh ours = to_hole_mesh(m, refused);
    ours.request_face_status();  // which expect_same_structure compares too
    ours.request_edge_status();
    ours.request_halfedge_status();
    ours.request_vertex_status();
    HoleMesh theirs = ours;
    std::uniform_int_distribution<int> pick(0, int(ours.n_edges()) - 1);
    for (int k = 0; k < 300; ++k) {
      const HoleMesh::EdgeHandle e(pick(rng));
      if (!theirs.is_flip_ok(e)) continue;
      const auto h = ours.halfedge_handle(e, 0);
      at_boundary += ours.is_boundary(ours.to_vertex_handle(h)) || ours.is_boundary(ours.from_vertex_handle(h));
      flip_edge(ours, e);
      theirs.flip(e);
      ++flipped;
      expect_same_structure(ours, theirs);
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_GT(flipped, 500);
  EXPECT_GT(at_boundary, 20);  // the outgoing half-edges of boundary vertices were at stake
}

TEST(HoleMesh, SplitLinksAndCopiesLikeTheLibrary) {
  // Interior edges split at random on torn spheres, by split_edge on one copy and by the
  // library's split_copy on the other: every link, handle and status agrees after each split,
  // and so do an edge and a face property that the new elements inherit.
  std::mt19937 rng(13);
  int split = 0;
  for (int trial = 0; trial < 6; ++trial) {
    const RepairMesh m = torn_spheres(rng, 0.05 * double(trial));
    long refused = 0;
    HoleMesh ours = to_hole_mesh(m, refused);
    ours.request_face_status();
    ours.request_edge_status();
    ours.request_halfedge_status();
    ours.request_vertex_status();
    OpenMesh::EPropHandleT<int> edge_tag;
    OpenMesh::FPropHandleT<int> face_tag;
    ours.add_property(edge_tag);
    ours.add_property(face_tag);
    for (auto e : ours.edges()) ours.property(edge_tag, e) = e.idx();
    for (auto f : ours.faces()) ours.property(face_tag, f) = 1000000 + f.idx();
    HoleMesh theirs = ours;
    for (int k = 0; k < 200; ++k) {
      std::uniform_int_distribution<int> pick(0, int(ours.n_edges()) - 1);
      const HoleMesh::EdgeHandle e(pick(rng));
      if (ours.is_boundary(e)) continue;
      // Marked so that the copy of the status shows.
      ours.status(e).set_tagged(k % 2 == 0);
      theirs.status(e).set_tagged(k % 2 == 0);
      const auto mid = (ours.point(ours.to_vertex_handle(ours.halfedge_handle(e, 0))) +
                        ours.point(ours.from_vertex_handle(ours.halfedge_handle(e, 0)))) * 0.5;
      split_edge(ours, e, ours.add_vertex(mid));
      theirs.split_copy(e, theirs.add_vertex(mid));
      ++split;
      expect_same_structure(ours, theirs);
      for (auto g : theirs.all_edges()) EXPECT_EQ(ours.property(edge_tag, g), theirs.property(edge_tag, g));
      for (auto f : theirs.all_faces()) EXPECT_EQ(ours.property(face_tag, f), theirs.property(face_tag, f));
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_GT(split, 600);
}

// A torn sphere with status on every element, as the closing step has it when it deletes.
HoleMesh torn_with_status(std::mt19937& rng, double missing) {
  long refused = 0;
  HoleMesh hm = to_hole_mesh(torn_spheres(rng, missing), refused);
  hm.request_face_status();
  hm.request_edge_status();
  hm.request_halfedge_status();
  hm.request_vertex_status();
  return hm;
}

// How many boundary half-edges leave v (several: the faces at v form several fans).
int gaps_at(const HoleMesh& hm, HoleMesh::VertexHandle v) {
  int gaps = 0;
  for (auto h : hm.voh_range(v)) gaps += hm.is_boundary(h);
  return gaps;
}

TEST(HoleMesh, DeleteLinksAndMarksLikeTheLibrary) {
  // Faces deleted at random on torn spheres until most are gone, by delete_face on one copy and
  // by the library on the other: every link, outgoing half-edge and deletion mark agrees after
  // each deletion (faces with one, two or three edges on the boundary, corners left with
  // several gaps or with no edge at all among those met), and so does the collected mesh.
  std::mt19937 rng(17);
  int deleted = 0, edges_gone = 0, isolated = 0, several_gaps = 0;
  for (int trial = 0; trial < 6; ++trial) {
    HoleMesh ours = torn_with_status(rng, 0.05 * double(trial));
    HoleMesh theirs = ours;
    std::vector<int> faces(ours.n_faces());
    for (std::size_t f = 0; f < faces.size(); ++f) faces[f] = int(f);
    std::shuffle(faces.begin(), faces.end(), rng);
    faces.resize(faces.size() * 3 / 4);
    for (const int i : faces) {
      const HoleMesh::FaceHandle f(i);
      std::vector<HoleMesh::VertexHandle> corners;
      for (auto v : ours.fv_range(f)) corners.push_back(v);
      for (auto h : ours.fh_range(f)) edges_gone += ours.is_boundary(ours.opposite_halfedge_handle(h));
      delete_face(ours, f);
      theirs.delete_face(f, false);
      ++deleted;
      for (auto v : corners) isolated += ours.is_isolated(v), several_gaps += gaps_at(ours, v) > 1;
      expect_same_structure(ours, theirs);
      if (::testing::Test::HasFailure()) return;
    }
    collect_garbage(ours);
    theirs.garbage_collection();
    expect_same_structure(ours, theirs);
  }
  EXPECT_GT(deleted, 3000);
  EXPECT_GT(edges_gone, 3000);
  EXPECT_GT(isolated, 300);
  EXPECT_GT(several_gaps, 1000);
}

TEST(HoleMesh, AddLinksLikeTheLibrary) {
  // Faces taken out of torn spheres at random and put back in another random order, with some
  // faces between boundary corners picked at random, by add_face on one copy and by the library
  // on the other: the same faces are refused, and every link, outgoing half-edge and handle
  // agrees after each one. Putting faces back in any order meets faces whose old half-edges do
  // not follow each other round a corner (the faces between them move to another gap), new
  // edges at a corner with no edge or with several gaps, and faces the library refuses.
  using VH = HoleMesh::VertexHandle;
  std::mt19937 rng(19);
  int added = 0, refused = 0, relinked = 0, isolated = 0, several_gaps = 0;
  for (int trial = 0; trial < 8; ++trial) {
    HoleMesh ours = torn_with_status(rng, 0.04 * double(trial));
    std::vector<std::array<VH, 3>> faces;
    std::bernoulli_distribution take(0.3 + 0.05 * double(trial));
    for (auto f : ours.faces())
      if (take(rng)) {
        auto it = ours.cfv_iter(f);
        const VH a = *it, b = *++it, c = *++it;
        faces.push_back({a, b, c});
        ours.delete_face(f, false);
      }
    ours.garbage_collection();
    std::vector<VH> rim;
    for (auto v : ours.vertices())
      if (ours.is_boundary(v) && !ours.is_isolated(v)) rim.push_back(v);
    std::uniform_int_distribution<std::size_t> pick(0, rim.size() - 1);
    for (int k = 0; k < 60; ++k) {
      const VH a = rim[pick(rng)], b = rim[pick(rng)], c = rim[pick(rng)];
      if (a != b && b != c && c != a) faces.push_back({a, b, c});
    }
    std::shuffle(faces.begin(), faces.end(), rng);
    HoleMesh theirs = ours;
    for (const auto& [a, b, c] : faces) {
      const std::array<VH, 3> v = {a, b, c};
      for (std::size_t i = 0; i < 3; ++i) {
        isolated += ours.is_isolated(v[i]);
        several_gaps += !ours.is_isolated(v[i]) && gaps_at(ours, v[i]) > 1;
        const auto in = ours.find_halfedge(v[i], v[(i + 1) % 3]), out = ours.find_halfedge(v[(i + 1) % 3], v[(i + 2) % 3]);
        relinked += in.is_valid() && out.is_valid() && ours.is_boundary(in) && ours.is_boundary(out) &&
                    ours.next_halfedge_handle(in) != out;
      }
      std::ostringstream quiet;  // the library's message for a face it refuses
      std::streambuf* const was = std::cerr.rdbuf(quiet.rdbuf());
      const auto mine = add_face(ours, a, b, c);
      const auto library = theirs.add_face(a, b, c);
      std::cerr.rdbuf(was);
      EXPECT_EQ(mine, HoleMesh::FaceHandle(library));
      (mine.is_valid() ? added : refused) += 1;
      expect_same_structure(ours, theirs);
      if (::testing::Test::HasFailure()) return;
    }
  }
  EXPECT_GT(added, 2500);
  EXPECT_GT(refused, 200);
  EXPECT_GT(relinked, 200);
  EXPECT_GT(isolated, 100);
  EXPECT_GT(several_gaps, 2000);
}

}  // namespace
}  // namespace tervik
