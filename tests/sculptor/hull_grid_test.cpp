#include "sculptor/hull_grid.h"

#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "sculptor/hull_fixture.h"
#include "sculptor/projection_result.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

using testing::ProjectionResult;
using testing::plain_projection;

ProjectionResult gridded(HullGrid& grid, const Point3D& p, short tolerance) {
  ProjectionResult r;
  r.outline = grid.test(p, r.inside, r.outside, tolerance);
  return r;
}

// A studio with every case the cells meet: 12 cameras around a sphere with grey values near the
// threshold sprinkled over the silhouettes, one close camera whose image cuts the sphere at its
// border, and one camera inside the box, so that cells reach its focal plane or lie behind it.
SilhouetteViews studio() {
  std::vector<Camera> cams = testing::sphere_cameras(12, 160, 120, 300);
  cams.push_back(testing::look_at_camera({1.9, 0.3, 0.2}, {0, 0, 0}, 300, 160, 120));
  cams.push_back(testing::look_at_camera({0.2, 1.2, 0.1}, {0, 0, 0}, 200, 160, 120));
  SilhouetteViews views = testing::sphere_views(cams, {0.05, -0.03, 0.02}, 1.0);
  std::mt19937 rng(17);
  for (auto& v : views) {
    ImageGray<unsigned char>& img = v.get<1>();
    for (int k = 0; k < 150; ++k)
      img[rng() % img.width()][rng() % img.height()] = static_cast<unsigned char>(126 + rng() % 4);
  }
  return views;
}

// Points of every kind: uniform over and beyond the box, near the sphere's surface, and with
// coordinates on cell borders (exactly, and one step of the doubles either side).
std::vector<Point3D> test_points(const Point3D& lo, const Point3D& hi, double cell, int n) {
  std::mt19937 rng(29);
  std::uniform_real_distribution<double> unit(0.0, 1.0), sym(-1.0, 1.0), shell(0.97, 1.03);
  std::vector<Point3D> points;
  for (int k = 0; k < n; ++k) {
    Point3D p;
    switch (k % 4) {
      case 0:  // the box and a margin around it
        for (int a = 0; a < 3; ++a) p[a] = lo[a] - 0.2 + unit(rng) * (hi[a] - lo[a] + 0.4);
        break;
      case 1:
      case 2:  // near the surface
        p = Point3D(sym(rng), sym(rng), sym(rng));
        p = p * (shell(rng) / norm(p)) + Point3D(0.05, -0.03, 0.02);
        break;
      default: {  // near the surface, snapped onto cell borders
        p = Point3D(sym(rng), sym(rng), sym(rng));
        p = p * (shell(rng) / norm(p));
        for (int a = 0; a < 3; ++a) {
          if (rng() % 2) continue;
          p[a] = lo[a] + std::round((p[a] - lo[a]) / cell) * cell;
          if (rng() % 3 == 1) p[a] = std::nextafter(p[a], 10.0);
          if (rng() % 3 == 2) p[a] = std::nextafter(p[a], -10.0);
        }
      }
    }
    points.push_back(p);
  }
  return points;
}

// The grid gives projection_test's counters and flag for every point, for cells from far
// smaller to far larger than a pixel's footprint, and every tolerance.
TEST(HullGrid, AgreesWithProjectionTestOnRandomPoints) {
  const SilhouetteViews views = studio();
  const Point3D lo(-1.2, -1.1, -1.15), hi(1.25, 1.2, 1.1);
  for (double cell : {0.004, 0.02, 0.06, 0.3}) {
    const std::vector<Point3D> points = test_points(lo, hi, cell, 40000);
    for (short tolerance : {0, 1, 3}) {
      SCOPED_TRACE("cell " + std::to_string(cell) + " tolerance " + std::to_string(tolerance));
      HullGrid grid(views, lo, hi, cell);
      int admissible = 0;
      for (std::size_t k = 0; k < points.size(); ++k) {
        const ProjectionResult a = plain_projection(views, points[k], tolerance);
        const ProjectionResult b = gridded(grid, points[k], tolerance);
        ASSERT_EQ(a.inside, b.inside) << "point " << k;
        ASSERT_EQ(a.outside, b.outside) << "point " << k;
        ASSERT_EQ(a.outline, b.outline) << "point " << k;
        admissible += a.outline && a.inside >= 5 && a.outside == tolerance;
      }
      EXPECT_GT(admissible, 500);
      EXPECT_GT(grid.classified_cells(), 100u);
    }
  }
  // The cells spare most projections (else the agreement above says little).
  const std::vector<Point3D> points = test_points(lo, hi, 0.02, 20000);
  HullGrid grid(views, lo, hi, 0.02);
  for (const Point3D& p : points) gridded(grid, p, 0);
  EXPECT_LT(grid.projections(), grid.tests() * views.size() / 4);
}

// admits() gives the verdicts of projection_test's counts (a sampler's admissible point, a
// normal's probe) for every point, minimum and tolerance, whichever camera rejected the point
// before (the points alternate between kinds, so the rejecting camera keeps changing), and
// spares projections that test() makes.
TEST(HullGrid, AdmitsGivesTheVerdictsOfTheCounts) {
  const SilhouetteViews views = studio();
  const Point3D lo(-1.2, -1.1, -1.15), hi(1.25, 1.2, 1.1);
  for (double cell : {0.004, 0.06}) {
    const std::vector<Point3D> points = test_points(lo, hi, cell, 30000);
    for (short tolerance : {0, 1}) {
      for (short min_cameras : {1, 5, 12}) {
        SCOPED_TRACE("cell " + std::to_string(cell) + " tolerance " + std::to_string(tolerance) +
                     " min " + std::to_string(min_cameras));
        HullGrid grid(views, lo, hi, cell), probes(views, lo, hi, cell),
            counting(views, lo, hi, cell);
        int admitted[2] = {0, 0}, rejected[2] = {0, 0};
        for (std::size_t k = 0; k < points.size(); ++k) {
          const ProjectionResult a = plain_projection(views, points[k], tolerance);
          const bool admissible =
              a.outline && a.inside >= min_cameras && a.outside == tolerance;
          const bool probe = a.inside >= min_cameras && a.outside <= tolerance;
          ASSERT_EQ(grid.admits(points[k], min_cameras, tolerance, true), admissible)
              << "point " << k;
          ASSERT_EQ(probes.admits(points[k], min_cameras, tolerance, false), probe)
              << "point " << k;
          gridded(counting, points[k], tolerance);
          ++(admissible ? admitted : rejected)[0];
          ++(probe ? admitted : rejected)[1];
        }
        // Both verdicts occur often enough for the agreement to say something.
        if (min_cameras < 12) EXPECT_GT(admitted[0], 200);
        EXPECT_GT(admitted[1], 1000);
        EXPECT_GT(rejected[0], 1000);
        EXPECT_GT(rejected[1], 1000);
        EXPECT_LT(grid.projections(), counting.projections());
        EXPECT_LT(probes.projections(), counting.projections());
      }
    }
  }
}

// Cells classified ahead by prepare() on another thread, while tests run on this one, with
// the same or another tolerance (cells prepared for tolerance 0 stop early; a test with
// tolerance 3 then projects the cameras left unknown): still projection_test's answers.
TEST(HullGrid, CellsPreparedOnAnotherThreadGiveTheSameAnswers) {
  const SilhouetteViews views = studio();
  const Point3D lo(-1.2, -1.1, -1.15), hi(1.25, 1.2, 1.1);
  const std::vector<Point3D> points = test_points(lo, hi, 0.02, 30000);
  for (short tolerance : {0, 3}) {
    SCOPED_TRACE(tolerance);
    HullGrid grid(views, lo, hi, 0.02, 2);
    std::thread ahead([&] {
      for (std::size_t k = points.size(); k-- > 0;) grid.prepare(points[k], 0);
    });
    for (std::size_t k = 0; k < points.size(); ++k) {
      const ProjectionResult a = plain_projection(views, points[k], tolerance);
      const ProjectionResult b = gridded(grid, points[k], tolerance);
      ASSERT_EQ(a.inside, b.inside) << "point " << k;
      ASSERT_EQ(a.outside, b.outside) << "point " << k;
      ASSERT_EQ(a.outline, b.outline) << "point " << k;
    }
    ahead.join();
  }
}

// Cameras that map (X, Y, Z) to the image position (X, Y), so that points fall exactly on pixel
// borders, on the image border and on cell borders at once (cells of 1 and 1/4 from -2).
TEST(HullGrid, AgreesOnPixelAndImageBorders) {
  SilhouetteViews views(6);
  for (int i = 0; i < 6; ++i) {
    Camera c;
    double* p = c.p().data();
    p[0] = 1.0;
    p[5] = 1.0;
    p[11] = 1.0;
    c.im_width() = 6;
    c.im_height() = 4;
    ImageGray<unsigned char> img(6 + i % 2, 4);  // some silhouettes wider than their camera
    img = 200;
    img[3][1] = 127;
    img[(i + 1) % 6][(i + 2) % 4] = 128;
    img[0][3] = i < 3 ? 255 : 0;
    if (i == 5) img[5][0] = 0;
    views[i].get<0>() = c;
    views[i].get<1>() = img;
  }
  const Point3D lo(-2, -2, -1), hi(8, 6, 1);
  for (double cell : {1.0, 0.25}) {
    for (short tolerance : {0, 2}) {
      HullGrid grid(views, lo, hi, cell);
      for (double x = -1.5; x <= 7.0; x += 0.125)
        for (double y = -1.5; y <= 5.0; y += 0.125) {
          const Point3D p(x, y, 0.0);
          const ProjectionResult a = plain_projection(views, p, tolerance);
          const ProjectionResult b = gridded(grid, p, tolerance);
          ASSERT_EQ(a.inside, b.inside) << x << " " << y;
          ASSERT_EQ(a.outside, b.outside) << x << " " << y;
          ASSERT_EQ(a.outline, b.outline) << x << " " << y;
        }
      EXPECT_LT(grid.projections(), grid.tests() * views.size());
    }
  }
}

// View sets the cells cannot describe are tested by projection_test alone, errors included.
TEST(HullGrid, LeavesWhatItCannotDescribeToProjectionTest) {
  std::vector<Camera> cams = testing::sphere_cameras(32, 40, 30, 75);
  SilhouetteViews many = testing::sphere_views(cams, {0, 0, 0}, 1.0);
  const Point3D lo(-1.5, -1.5, -1.5), hi(1.5, 1.5, 1.5);
  HullGrid grid(many, lo, hi, 0.05);
  for (const Point3D& p : test_points(lo, hi, 0.05, 2000)) {
    const ProjectionResult a = plain_projection(many, p, 0), b = gridded(grid, p, 0);
    ASSERT_EQ(a.inside, b.inside);
    ASSERT_EQ(a.outside, b.outside);
    ASSERT_EQ(a.outline, b.outline);
  }
  EXPECT_EQ(grid.classified_cells(), 0u);

  SilhouetteViews small = testing::sphere_views(testing::sphere_cameras(6), {0, 0, 0}, 1.0);
  small[3].get<1>() = ImageGray<unsigned char>(320, 200);
  HullGrid broken(small, lo, hi, 0.05);
  try {
    short inside = 0, outside = 0;
    for (const Point3D& p : test_points(lo, hi, 0.05, 2000)) broken.test(p, inside, outside, 6);
    FAIL() << "read outside a silhouette smaller than its camera";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("silhouette of camera 3 is 320 x 200 but its camera is "
                                         "320 x 240"),
              std::string::npos)
        << e.what();
  }
  // An empty box or a cell side that is not positive leaves every point to the plain test.
  const SilhouetteViews six = testing::sphere_views(testing::sphere_cameras(6), {0, 0, 0}, 1.0);
  for (double cell : {0.0, -1.0, std::nan("")}) {
    HullGrid none(six, lo, hi, cell);
    const ProjectionResult a = plain_projection(six, {0.9, 0.1, 0.3}, 0);
    const ProjectionResult b = gridded(none, {0.9, 0.1, 0.3}, 0);
    EXPECT_EQ(a.inside, b.inside);
    EXPECT_EQ(none.classified_cells(), 0u);
  }
  HullGrid flat(six, lo, Point3D(1.5, -1.5, 1.5), 0.05);
  gridded(flat, {0.9, -1.5, 0.3}, 0);
  EXPECT_EQ(flat.classified_cells(), 0u);
}

}  // namespace
}  // namespace tervik
