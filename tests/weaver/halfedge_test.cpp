#include "weaver/halfedge.h"

#include <map>
#include <random>
#include <set>
#include <utility>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"

namespace tervik {
namespace {

TEST(HalfEdgeMatrix, EmptyTableHasNoEdgesAndEveryVertexIsValid) {
  const HalfEdgeMatrix m;
  for (unsigned int a = 0; a < 5; ++a) {
    EXPECT_TRUE(m.valid_vertex(a));
    EXPECT_FALSE(m.on_surface(a));
    for (unsigned int b = 0; b < 5; ++b) EXPECT_FALSE(m.exists(a, b));
  }
}

TEST(HalfEdgeMatrix, OneFaceOwnsItsThreeDirectedEdges) {
  HalfEdgeMatrix m;
  m.add_face(3, 7, 5, 0);
  EXPECT_TRUE(m.exists(3, 7));
  EXPECT_TRUE(m.exists(7, 5));
  EXPECT_TRUE(m.exists(5, 3));
  EXPECT_FALSE(m.exists(7, 3));
  EXPECT_FALSE(m.exists(3, 5));
  for (unsigned int v : {3u, 5u, 7u}) {
    EXPECT_TRUE(m.valid_vertex(v)) << v;
    EXPECT_TRUE(m.on_surface(v)) << v;
  }
  EXPECT_EQ(m.face(7, 5), 0u);
  EXPECT_EQ(m.count, 3u);
}

TEST(HalfEdgeMatrix, SharedEdgeKeepsBorderVerticesValidAndClosedFanCentreIsNot) {
  HalfEdgeMatrix m;
  m.add_face(0, 1, 2, 0);  // a = 0, b = 1, c = 2
  m.add_face(1, 0, 3, 1);  // shares a-b, d = 3
  EXPECT_TRUE(m.exists(0, 1));
  EXPECT_TRUE(m.exists(1, 0));
  EXPECT_TRUE(m.valid_vertex(0));  // 0->3 has no twin
  EXPECT_TRUE(m.valid_vertex(1));  // 1->2 has no twin

  // A closed fan of six faces around vertex 10 with the ring 11..16.
  HalfEdgeMatrix fan;
  for (unsigned int i = 0; i < 6; ++i) fan.add_face(10, 11 + i, 11 + (i + 1) % 6, i);
  EXPECT_FALSE(fan.valid_vertex(10));
  for (unsigned int v = 11; v <= 16; ++v) EXPECT_TRUE(fan.valid_vertex(v)) << v;
  // Opening the fan makes its centre a border vertex again.
  fan.remove_face(10, 11, 12);
  EXPECT_TRUE(fan.valid_vertex(10));
}

TEST(HalfEdgeMatrix, RemovingTheOnlyFaceOfAVertexErasesItsRow) {
  HalfEdgeMatrix m;
  m.add_face(0, 1, 2, 0);
  m.add_face(2, 1, 4, 1);
  m.remove_face(0, 1, 2);
  EXPECT_FALSE(m.on_surface(0));
  EXPECT_TRUE(m.valid_vertex(0));
  EXPECT_FALSE(m.exists(0, 1));
  EXPECT_FALSE(m.exists(2, 0));
  EXPECT_TRUE(m.on_surface(1));  // still used by face 1
  EXPECT_EQ(m.edges.count(0), 0u);
  EXPECT_EQ(m.count, 3u);
  // Removing an edge that is not there leaves the table as it was.
  m.remove(7, 8);
  EXPECT_EQ(m.edges.size(), 3u);
}

TEST(HalfEdgeMatrix, AddReplacesTheFaceOfAnExistingEdge) {
  HalfEdgeMatrix m;
  m.add(4, 9, 2);
  m.add(4, 9, 5);
  EXPECT_EQ(m.face(4, 9), 5u);
  EXPECT_EQ(m.edges.at(4).size(), 1u);
  EXPECT_EQ(m.count, 2u);
}

TEST(HalfEdgeMatrix, RowWithoutEntriesIsInvalid) {
  HalfEdgeMatrix m;
  m.edges[6];  // cannot arise through add/remove, which erase empty rows
  EXPECT_FALSE(m.valid_vertex(6));
}

TEST(HalfEdgeMatrix, FaceOfMissingEdgeNamesTheEdge) {
  HalfEdgeMatrix m;
  m.add_face(0, 1, 2, 0);
  try {
    m.face(1, 0);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("no edge 1->0"), std::string::npos) << e.what();
  }
}

// Random adds and removes against a plain set of directed edges.
TEST(HalfEdgeMatrix, AgreesWithBruteForceOverRandomEdits) {
  std::mt19937 rng(17);
  HalfEdgeMatrix m;
  std::map<std::pair<unsigned int, unsigned int>, unsigned int> model;
  const unsigned int nv = 12;
  for (int step = 0; step < 3000; ++step) {
    const unsigned int a = rng() % nv, b = rng() % nv, f = rng() % 100;
    if (rng() % 3 == 0) {
      m.remove(a, b);
      model.erase({a, b});
    } else {
      m.add(a, b, f);
      model[{a, b}] = f;
    }
    if (step % 50 != 0) continue;
    for (unsigned int u = 0; u < nv; ++u) {
      bool has_row = false, border = false;
      for (unsigned int w = 0; w < nv; ++w) {
        const bool e = model.count({u, w}) != 0;
        ASSERT_EQ(m.exists(u, w), e);
        if (e) {
          ASSERT_EQ(m.face(u, w), model.at({u, w}));
          has_row = true;
          if (model.count({w, u}) == 0) border = true;
        }
      }
      ASSERT_EQ(m.on_surface(u), has_row);
      ASSERT_EQ(m.valid_vertex(u), !has_row || border);
    }
  }
}

TEST(HalfEdge, QueueIsFirstInFirstOutAndRecordsStartUnflagged) {
  HalfEdgeQueue q;
  q.push(HalfEdge(1, 2, 3, Point3D(0, 0, 1)));
  q.push(HalfEdge(2, 3, 1, Point3D(0, 1, 0)));
  EXPECT_FALSE(q.front().flag);
  EXPECT_EQ(q.front().from, 1u);
  EXPECT_EQ(q.front().opposite, 3u);
  q.pop();
  EXPECT_EQ(q.front().from, 2u);
  EXPECT_EQ(q.front().normal, Point3D(0, 1, 0));
}

}  // namespace
}  // namespace tervik
