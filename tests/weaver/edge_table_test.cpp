#include "weaver/edge_table.h"

#include <random>
#include <string>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"
#include "weaver/halfedge.h"

namespace tervik {
namespace {

// Every question the mesher asks, for every vertex pair, agrees with the map-based table.
void expect_same(const EdgeTable& t, const HalfEdgeMatrix& m, unsigned nv, const std::string& what) {
  std::size_t edges = 0;
  for (unsigned a = 0; a < nv; ++a) {
    ASSERT_EQ(t.on_surface(a), m.on_surface(a)) << what << " vertex " << a;
    ASSERT_EQ(t.valid_vertex(a), m.valid_vertex(a)) << what << " vertex " << a;
    for (unsigned b = 0; b < nv; ++b) {
      ASSERT_EQ(t.exists(a, b), m.exists(a, b)) << what << " edge " << a << "->" << b;
      if (m.exists(a, b)) {
        ASSERT_EQ(t.face(a, b), m.face(a, b)) << what;
        ++edges;
      }
    }
  }
  EXPECT_EQ(t.size(), edges) << what;
}

// Random adds (also of existing edges) and removes (also of missing ones); few vertices, so
// that rows grow far beyond one block and shrink back, reusing pooled blocks.
TEST(EdgeTable, AgreesWithHalfEdgeMatrixOverRandomEdits) {
  for (unsigned nv : {3u, 12u, 40u}) {
    std::mt19937 rng(7 + nv);
    EdgeTable t(nv / 2);  // rows beyond the initial ones are added on demand
    HalfEdgeMatrix m;
    for (int step = 0; step < 6000; ++step) {
      const unsigned a = rng() % nv, b = rng() % nv, f = rng() % 1000;
      // Phases that mostly add, then mostly remove.
      const bool removing = (step / 1500) % 2 == 1 ? rng() % 4 != 0 : rng() % 4 == 0;
      if (removing) {
        t.remove(a, b);
        m.remove(a, b);
      } else {
        t.add(a, b, f);
        m.add(a, b, f);
      }
      if (step % 100 == 0) expect_same(t, m, nv, "nv " + std::to_string(nv) + " step " + std::to_string(step));
    }
    expect_same(t, m, nv, "end");
  }
}

TEST(EdgeTable, FacesOfAFanAndAMissingEdge) {
  // A closed fan of eight faces around vertex 0: it is surrounded; its rim vertices are not.
  EdgeTable t;
  for (unsigned i = 0; i < 8; ++i) t.add_face(0, 1 + i, 1 + (i + 1) % 8, i);
  EXPECT_FALSE(t.valid_vertex(0));
  EXPECT_TRUE(t.valid_vertex(1));
  EXPECT_EQ(t.face(0, 8), 7u);
  EXPECT_EQ(t.face(5, 6), 4u);
  t.remove_face(0, 4, 5);
  EXPECT_TRUE(t.valid_vertex(0));
  EXPECT_FALSE(t.exists(4, 5));
  EXPECT_EQ(t.size(), 21u);
  try {
    t.face(4, 5);
    FAIL() << "no exception";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("no edge 4->5"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace tervik
