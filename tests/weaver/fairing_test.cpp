// Fairing moves only the free vertices, towards the mean of their neighbours.
#include "weaver/fairing.h"

#include <gtest/gtest.h>

namespace tervik {
namespace {

TEST(Fairing, FreeVertexOfAFanGoesToTheMeanOfItsRimWhichStaysFixed) {
  HoleMesh hm;
  std::vector<HoleMesh::VertexHandle> rim;
  for (int i = 0; i < 6; ++i) {
    const double a = 2.0 * M_PI * i / 6.0;
    rim.push_back(hm.add_vertex({std::cos(a), std::sin(a), i % 2 ? 0.2 : -0.2}));
  }
  const auto centre = hm.add_vertex({0.3, -0.2, 5.0});
  for (int i = 0; i < 6; ++i) hm.add_face(rim[std::size_t(i)], rim[std::size_t((i + 1) % 6)], centre);
  EXPECT_GT(umbrella(hm, centre).norm(), 4.9);
  fair_vertices(hm, {centre}, 1);
  EXPECT_LT(hm.point(centre).norm(), 1e-12);  // the rim's mean is the origin
  EXPECT_LT(umbrella(hm, centre).norm(), 1e-12);
  EXPECT_EQ(hm.point(rim[1]), OpenMesh::Vec3d(std::cos(M_PI / 3), std::sin(M_PI / 3), 0.2));
}

}  // namespace
}  // namespace tervik
