// Exactness of the analytic solids: nearest points, inside tests, ray casting and sampling,
// checked against brute force over dense surface samples.
#include <cmath>
#include <numbers>

#include <gtest/gtest.h>

#include "tervik/exceptions.h"
#include "tools/scene/geometry.h"
#include "tools/scene/motion.h"

namespace tervik::scene {
namespace {

std::vector<Primitive> test_primitives() {
  return {Primitive::sphere(Point3D(0.1, -0.2, 0.3), 0.7),
          Primitive::ellipsoid(Point3D(-0.1, 0.2, 0.05), Point3D(0.3, 0.8, 0.5)),
          Primitive::ellipsoid(Point3D(0.0, 0.0, 0.0), Point3D(0.6, 0.6, 0.2)),
          Primitive::capsule(Point3D(-0.4, 0.0, 0.1), Point3D(0.5, 0.3, -0.2), 0.25)};
}

Point3D random_point(UniformRandom& r, double half) {
  return Point3D((2 * r() - 1) * half, (2 * r() - 1) * half, (2 * r() - 1) * half);
}

TEST(ScenePrimitive, NearestPointIsOnSurfaceAndNoFartherThanAnySample) {
  UniformRandom random(7);
  for (const Primitive& prim : test_primitives()) {
    std::vector<Point3D> samples;
    for (int i = 0; i < 40000; ++i) samples.push_back(sample_primitive_surface(prim, random).position);
    for (int i = 0; i < 200; ++i) {
      const Point3D p = random_point(random, 1.2);
      const SurfacePoint sp = nearest_on_primitive(prim, p);
      // On the surface: its own nearest point is itself.
      EXPECT_NEAR(nearest_on_primitive(prim, sp.position).signed_distance, 0.0, 1e-12);
      EXPECT_NEAR(norm(sp.normal), 1.0, 1e-12);
      EXPECT_EQ(sp.signed_distance < 0.0, contains(prim, p) && sp.signed_distance != 0.0);
      EXPECT_NEAR(std::fabs(sp.signed_distance), norm(p - sp.position), 1e-12);
      double brute = 1e300;
      for (const Point3D& s : samples) brute = std::min(brute, norm(p - s));
      EXPECT_LE(std::fabs(sp.signed_distance), brute + 1e-12);
      EXPECT_LT(brute - std::fabs(sp.signed_distance), 0.03) << "shape " << int(prim.shape);
      // The offset from the surface point runs along the normal.
      if (std::fabs(sp.signed_distance) > 1e-6) {
        EXPECT_NEAR(norm(cross(p - sp.position, sp.normal)) / std::fabs(sp.signed_distance), 0.0,
                    1e-6);
      }
    }
  }
}

TEST(ScenePrimitive, EllipsoidDegenerateQueries) {
  const Primitive e = Primitive::ellipsoid(Point3D(1, 2, 3), Point3D(0.5, 0.3, 0.9));
  // The centre: nearest along the shortest axis.
  SurfacePoint sp = nearest_on_primitive(e, Point3D(1, 2, 3));
  EXPECT_DOUBLE_EQ(sp.signed_distance, -0.3);
  EXPECT_NEAR(std::fabs(sp.normal.y), 1.0, 1e-15);
  // Deep inside on the plane of the two longer axes: the nearest point leaves that plane.
  sp = nearest_on_primitive(e, Point3D(1.1, 2, 3.1));
  EXPECT_GT(std::fabs(sp.position.y - 2), 0.25);
  EXPECT_LT(sp.signed_distance, -0.25);
  // On the plane, near the surface: the nearest point stays in the plane.
  sp = nearest_on_primitive(e, Point3D(1.49, 2, 3));
  EXPECT_NEAR(sp.signed_distance, -0.01, 1e-12);
  EXPECT_EQ(sp.position.y, 2.0);
  // A point exactly on a pole.
  sp = nearest_on_primitive(e, Point3D(1, 2, 3.9));
  EXPECT_NEAR(sp.signed_distance, 0.0, 1e-15);
}

TEST(ScenePrimitive, AreasMatchClosedForms) {
  const double pi = std::numbers::pi;
  EXPECT_DOUBLE_EQ(surface_area(Primitive::sphere(Point3D(), 2.0)), 16.0 * pi);
  EXPECT_DOUBLE_EQ(surface_area(Primitive::capsule(Point3D(), Point3D(0, 0, 3), 1.0)),
                   4.0 * pi + 6.0 * pi);
  // Prolate spheroid a = b = 1, c = 2: 2 pi a^2 (1 + c / (a e) asin e), e^2 = 1 - a^2 / c^2.
  const double ecc = std::sqrt(1.0 - 0.25);
  const double prolate = 2.0 * pi * (1.0 + 2.0 / ecc * std::asin(ecc));
  EXPECT_NEAR(surface_area(Primitive::ellipsoid(Point3D(), Point3D(1, 1, 2))), prolate,
              1e-5 * prolate);
}

TEST(ScenePrimitive, RayEntryAgreesWithMarching) {
  UniformRandom random(11);
  int hits = 0;
  for (const Primitive& prim : test_primitives()) {
    for (int i = 0; i < 300; ++i) {
      const Point3D origin = random_point(random, 1.0) * 0.5 + Point3D(3, 0.5, -0.5);
      const Point3D target = random_point(random, 0.9);
      const Point3D dir = (target - origin) * 0.37;  // not unit length on purpose
      double t = 0.0;
      const bool hit = ray_entry(prim, origin, dir, t);
      // March in small steps to the first inside sample.
      double first = -1.0;
      for (int k = 1; k <= 20000 && first < 0.0; ++k)
        if (contains(prim, origin + dir * (k * 3e-4))) first = k * 3e-4;
      EXPECT_EQ(hit, first > 0.0);
      if (hit && first > 0.0) {
        ++hits;
        EXPECT_LE(t, first + 1e-12);
        EXPECT_GT(t, first - 3e-4 - 1e-12);
        EXPECT_NEAR(nearest_on_primitive(prim, origin + dir * t).signed_distance, 0.0, 1e-9);
      }
    }
  }
  EXPECT_GT(hits, 200);
}

TEST(SceneSolid, UnionNearestPointAgreesWithBruteForce) {
  for (const Solid& solid : {Solid(test_primitives()), object_at_frame(ObjectKind::figure, 4)}) {
    const std::vector<SurfacePoint> samples = solid.sample_surface(300000, 5);
    UniformRandom random(3);
    int inside = 0;
    for (int i = 0; i < 300; ++i) {
      // Points near the boundary, on both sides.
      const SurfacePoint s = samples[std::size_t(random() * double(samples.size()))];
      const Point3D p = s.position + random_point(random, 0.05);
      const SurfacePoint sp = solid.nearest_surface_point(p);
      inside += solid.inside(p);
      EXPECT_EQ(sp.signed_distance <= 0.0, solid.inside(p));
      EXPECT_NEAR(std::fabs(sp.signed_distance), norm(p - sp.position), 1e-12);
      // The result is a boundary point: on the closed union, strictly inside no primitive.
      EXPECT_TRUE(solid.inside(sp.position - sp.normal * 1e-7));
      EXPECT_FALSE(solid.inside(sp.position + sp.normal * 1e-7));
      for (const Primitive& prim : solid.primitives())
        EXPECT_FALSE(contains_strictly(prim, sp.position, 1e-7));
      EXPECT_NEAR(norm(sp.normal), 1.0, 1e-9);
      // Against the nearest of the dense samples, for every third point (the scan is long).
      if (i % 3 != 0) continue;
      double brute = 1e300;
      for (const SurfacePoint& q : samples) brute = std::min(brute, dist2(p, q.position));
      brute = std::sqrt(brute);
      EXPECT_LE(std::fabs(sp.signed_distance), brute + 1e-9);
      EXPECT_LT(brute - std::fabs(sp.signed_distance), 0.01);
    }
    EXPECT_GT(inside, 50);
    EXPECT_LT(inside, 250);
  }
}

TEST(SceneSolid, SurfaceSamplesAreUniformOnTheBoundary) {
  const Solid sphere({Primitive::sphere(Point3D(0, 0, 0), 1.0)});
  const auto s = sphere.sample_surface(20000, 1);
  ASSERT_EQ(s.size(), 20000u);
  int upper = 0, octant = 0;
  for (const SurfacePoint& p : s) {
    EXPECT_NEAR(norm(p.position), 1.0, 1e-12);
    upper += p.position.z > 0.0;
    octant += p.position.x > 0 && p.position.y > 0 && p.position.z > 0;
  }
  EXPECT_NEAR(upper / 20000.0, 0.5, 0.02);
  EXPECT_NEAR(octant / 20000.0, 0.125, 0.01);
  // Two overlapping unit spheres: no sample lies strictly inside the other sphere.
  const Solid two({Primitive::sphere(Point3D(0, 0, 0), 1.0), Primitive::sphere(Point3D(1, 0, 0), 1.0)});
  const auto t = two.sample_surface(20000, 2);
  // The union keeps 2 caps of 2/3 of each sphere's area (cut at x = 0.5 / 1 - 0.5).
  EXPECT_NEAR(double(t.size()) / 20000.0, 0.75, 0.02);
  for (const SurfacePoint& p : t) EXPECT_NEAR(two.signed_distance(p.position), 0.0, 1e-9);
}

TEST(SceneSolid, CastRayReturnsFirstHitAndOutwardNormal) {
  const Solid solid(test_primitives());
  double t = 0.0;
  Point3D n;
  ASSERT_TRUE(solid.cast_ray(Point3D(5, -0.2, 0.3), Point3D(-1, 0, 0), t, n));
  // The sphere of radius 0.7 at x = 0.1 is the outermost along this line.
  EXPECT_NEAR(t, 5.0 - 0.8, 1e-12);
  EXPECT_NEAR(n.x, 1.0, 1e-12);
  EXPECT_FALSE(solid.cast_ray(Point3D(5, 5, 5), Point3D(1, 0, 0), t, n));
  EXPECT_FALSE(solid.ray_hits(Point3D(5, 5, 5), Point3D(1, 0, 0)));
}

TEST(SceneMotion, FigureMovesSmoothlyAndStaysConnected) {
  for (long f = 0; f < 40; ++f) {
    const Solid a = object_at_frame(ObjectKind::figure, f);
    const Solid b = object_at_frame(ObjectKind::figure, f + 1);
    ASSERT_EQ(a.primitives().size(), 4u);
    double most = 0.0;
    for (std::size_t i = 0; i < 4; ++i) {
      most = std::max(most, norm(a.primitives()[i].a - b.primitives()[i].a));
      most = std::max(most, norm(a.primitives()[i].b - b.primitives()[i].b));
    }
    EXPECT_LT(most, 0.065);
    // Head and arms touch the body: the shoulder and the head's lowest point are inside it.
    const Primitive& body = a.primitives()[0];
    EXPECT_TRUE(contains(body, a.primitives()[1].a - Point3D(0, 0, 0.17)));
    EXPECT_TRUE(contains(body, a.primitives()[2].a));
    EXPECT_TRUE(contains(body, a.primitives()[3].a));
  }
  EXPECT_NE(object_at_frame(ObjectKind::figure, 0).primitives(),
            object_at_frame(ObjectKind::figure, 1).primitives());
  EXPECT_EQ(object_at_frame(ObjectKind::sphere, 0).primitives(),
            object_at_frame(ObjectKind::sphere, 9).primitives());
  std::string message;
  try {
    parse_object_kind("cube");
  } catch (const TervikError& e) {
    message = e.what();
  }
  EXPECT_EQ(message, "unknown object 'cube' (expected 'figure' or 'sphere')");
}

}  // namespace
}  // namespace tervik::scene
