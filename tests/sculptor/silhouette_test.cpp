#include "sculptor/silhouette.h"

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "sculptor/projection_result.h"
#include "tervik/camera.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

// A camera that maps (X, Y, Z) to the image position (X, Y): P rows (1 0 0 0), (0 1 0 0),
// (0 0 0 1). Pixel tests then place points on chosen pixels directly.
Camera flat_camera(std::int64_t width, std::int64_t height) {
  Camera c;
  double* p = c.p().data();
  p[0] = 1.0;
  p[5] = 1.0;
  p[11] = 1.0;
  c.im_width() = width;
  c.im_height() = height;
  return c;
}

// A pinhole camera at distance `dist` from the origin, at angle `a` around the y axis and at
// height `h`, looking at the origin; focal length f pixels, principal point at the image centre.
Camera ring_camera(double a, double h, double dist, double f, std::int64_t w, std::int64_t ht) {
  const Point3D c{dist * std::cos(a), h, dist * std::sin(a)};
  const Point3D zc = -c / norm(c);
  Point3D xc = cross(Point3D{0, 1, 0}, zc);
  xc = xc / norm(xc);
  const Point3D yc = cross(zc, xc);
  const Point3D rows[3] = {xc, yc, zc};
  const double k[3][3] = {{f, 0, w / 2.0}, {0, f, ht / 2.0}, {0, 0, 1}};
  Camera cam;
  double* p = cam.p().data();
  for (int r = 0; r < 3; ++r) {
    for (int col = 0; col < 3; ++col) {
      double s = 0;
      for (int m = 0; m < 3; ++m) s += k[r][m] * rows[m][col];
      p[4 * r + col] = s;
    }
    double t = 0;
    for (int m = 0; m < 3; ++m) t += k[r][m] * -dot(rows[m], c);
    p[4 * r + 3] = t;
  }
  cam.im_width() = w;
  cam.im_height() = ht;
  return cam;
}

// The silhouette of the sphere of radius `radius` around the origin seen by `cam` (built by
// ring_camera with the same parameters), sampled at pixel centres.
ImageGray<unsigned char> sphere_silhouette(double a, double h, double dist, double f,
                                           std::int64_t w, std::int64_t ht, double radius) {
  const Point3D c{dist * std::cos(a), h, dist * std::sin(a)};
  const Point3D zc = -c / norm(c);
  Point3D xc = cross(Point3D{0, 1, 0}, zc);
  xc = xc / norm(xc);
  const Point3D yc = cross(zc, xc);
  ImageGray<unsigned char> img(w, ht);
  for (std::int64_t y = 0; y < ht; ++y) {
    for (std::int64_t x = 0; x < w; ++x) {
      Point3D d = xc * ((x + 0.5 - w / 2.0) / f) + yc * ((y + 0.5 - ht / 2.0) / f) + zc;
      d = d / norm(d);
      const double along = dot(c, d);
      img[x][y] = norm2(c) - along * along <= radius * radius ? 255 : 0;
    }
  }
  return img;
}

TEST(DownscaleSilhouette, SizesAreIntegerQuotients) {
  EXPECT_EQ(downscale_silhouette(ImageGray<unsigned char>(640, 480), 8).width(), 80u);
  EXPECT_EQ(downscale_silhouette(ImageGray<unsigned char>(640, 480), 8).height(), 60u);
  const auto odd = downscale_silhouette(ImageGray<unsigned char>(645, 483), 8);
  EXPECT_EQ(odd.width(), 80u);
  EXPECT_EQ(odd.height(), 60u);
  const auto tiny = downscale_silhouette(ImageGray<unsigned char>(7, 20), 8);
  EXPECT_EQ(tiny.width(), 0u);
  EXPECT_EQ(tiny.height(), 2u);
}

TEST(DownscaleSilhouette, ThresholdIsAbove128AndTrailingPixelsAreIgnored) {
  ImageGray<unsigned char> img(17, 9);
  img[3][2] = 128;    // block (0, 0): only a 128, stays background
  img[15][7] = 129;   // block (1, 0): one 129 makes it foreground
  img[16][3] = 255;   // column 16 lies beyond the last whole block
  img[2][8] = 255;    // row 8 likewise
  const auto out = downscale_silhouette(img, 8);
  ASSERT_EQ(out.width(), 2u);
  ASSERT_EQ(out.height(), 1u);
  EXPECT_EQ(out[0][0], 0);
  EXPECT_EQ(out[1][0], 255);
}

TEST(DownscaleSilhouette, MatchesBlockMaximumOnRandomImages) {
  std::mt19937 rng(7);
  for (short factor : {1, 2, 3, 8}) {
    ImageGray<unsigned char> img(53, 41);
    for (std::size_t y = 0; y < 41; ++y)
      for (std::size_t x = 0; x < 53; ++x) img[x][y] = rng() % 100 == 0 ? 120 + rng() % 20 : 0;
    const auto out = downscale_silhouette(img, factor);
    ASSERT_EQ(out.width(), 53u / factor);
    ASSERT_EQ(out.height(), 41u / factor);
    for (std::size_t j = 0; j < out.height(); ++j) {
      for (std::size_t i = 0; i < out.width(); ++i) {
        int best = 0;
        for (std::size_t y = j * factor; y < (j + 1) * factor; ++y)
          for (std::size_t x = i * factor; x < (i + 1) * factor; ++x) best = std::max<int>(best, img[x][y]);
        EXPECT_EQ(out[i][j], best > 128 ? 255 : 0) << "factor " << factor << " block " << i << "," << j;
      }
    }
  }
  try {
    downscale_silhouette(ImageGray<unsigned char>(8, 8), 0);
    FAIL() << "factor 0 accepted";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("factor must be at least 1"), std::string::npos);
  }
}

// Five flat cameras over the same 6 x 4 silhouette: foreground everywhere but pixel (3, 1).
SilhouetteViews flat_views(int cameras) {
  SilhouetteViews views(cameras);
  for (auto& v : views) {
    v.get<0>() = flat_camera(6, 4);
    ImageGray<unsigned char> img(6, 4);
    img = 200;
    img[3][1] = 127;
    v.get<1>() = img;
  }
  return views;
}

using testing::ProjectionResult;
using testing::plain_projection;

ProjectionResult fast(const SilhouetteClasses& classes, const Point3D& p, short tolerance) {
  ProjectionResult r;
  r.outline = classes.test(p, r.inside, r.outside, tolerance);
  return r;
}

TEST(ProjectionTest, PixelRulesInBothForms) {
  SilhouetteViews views = flat_views(5);
  for (bool classified : {false, true}) {
    SCOPED_TRACE(classified ? "classified" : "plain");
    std::optional<SilhouetteClasses> classes;
    if (classified) classes.emplace(views);
    auto run = [&](const Point3D& p, short tol) {
      return classified ? fast(*classes, p, tol) : plain_projection(views, p, tol);
    };
    // (-0.5, 0.5) truncates to pixel (0, 0): inside the image, foreground, no background neighbour.
    ProjectionResult r = run({-0.5, 0.5, 0}, 0);
    EXPECT_EQ(r.inside, 5);
    EXPECT_EQ(r.outside, 0);
    EXPECT_FALSE(r.outline);
    // x = -1 truncates to -1: outside every image.
    r = run({-1.0, 0.5, 0}, 0);
    EXPECT_EQ(r.inside, 0);
    EXPECT_FALSE(r.outline);
    // x = 6 is one past the last column.
    r = run({6.0, 0.5, 0}, 0);
    EXPECT_EQ(r.inside, 0);
    // Pixel (2, 1) has the background neighbour (3, 1): outline in every camera.
    r = run({2.5, 1.5, 0}, 0);
    EXPECT_EQ(r.inside, 5);
    EXPECT_EQ(r.outside, 0);
    EXPECT_TRUE(r.outline);
    // Pixel (3, 1) is background: with tolerance 0 the first camera stops the test.
    r = run({3.2, 1.9, 0}, 0);
    EXPECT_EQ(r.inside, 1);
    EXPECT_EQ(r.outside, 1);
    // With tolerance 5 every camera is counted and nothing is an outline.
    r = run({3.2, 1.9, 0}, 5);
    EXPECT_EQ(r.inside, 5);
    EXPECT_EQ(r.outside, 5);
    EXPECT_FALSE(r.outline);
  }
}

TEST(ProjectionTest, ImageBorderDoesNotMakeAnOutline) {
  SilhouetteViews views(5);
  for (auto& v : views) {
    v.get<0>() = flat_camera(4, 4);
    ImageGray<unsigned char> img(4, 4);
    img = 128;  // the lowest foreground value
    v.get<1>() = img;
  }
  for (const Point3D& p : {Point3D{0.1, 0.1, 0}, Point3D{3.9, 3.9, 0}, Point3D{0.1, 3.5, 0}}) {
    EXPECT_FALSE(plain_projection(views, p, 0).outline);
    SilhouetteClasses classes(views);
    const ProjectionResult r = fast(classes, p, 0);
    EXPECT_EQ(r.inside, 5);
    EXPECT_FALSE(r.outline);
  }
}

TEST(ProjectionTest, EmptyViewSetReturnsFalseAndLeavesCounters) {
  SilhouetteViews views;
  short inside = 3, outside = 2;
  EXPECT_FALSE(projection_test(views, {0, 0, 0}, inside, outside, 0));
  SilhouetteClasses classes(views);
  EXPECT_FALSE(classes.test({0, 0, 0}, inside, outside, 0));
  EXPECT_EQ(inside, 3);
  EXPECT_EQ(outside, 2);
}

TEST(ProjectionTest, SilhouetteSmallerThanItsCameraIsRejected) {
  SilhouetteViews views = flat_views(5);
  views[2].get<1>() = ImageGray<unsigned char>(6, 3);
  try {
    plain_projection(views, {1.5, 3.5, 0}, 0);
    FAIL() << "read outside the silhouette";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("silhouette of camera 2 is 6 x 3 but its camera is 6 x 4"),
              std::string::npos)
        << e.what();
  }
  try {
    SilhouetteClasses classes(views);
    FAIL() << "classified a silhouette smaller than its camera";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("silhouette of camera 2 is 6 x 3 but its camera is 6 x 4"),
              std::string::npos)
        << e.what();
  }
}

TEST(ProjectionTest, ClassesServeTheirOwnViewSetAndNoticeAChangedCount) {
  SilhouetteViews views = flat_views(5);
  SilhouetteClasses classes(views);
  EXPECT_TRUE(fast(classes, {2.5, 1.5, 0}, 0).outline);
  // The plain test of another view set is not affected by the classes of this one.
  SilhouetteViews other = views;
  other[4].get<1>() = ImageGray<unsigned char>(6, 4);  // all background
  const ProjectionResult r = plain_projection(other, {2.5, 1.5, 0}, 0);
  EXPECT_EQ(r.inside, 5);
  EXPECT_EQ(r.outside, 1);
  views.push_back(views[0]);
  try {
    fast(classes, {2.5, 1.5, 0}, 0);
    FAIL() << "a view set that grew was not noticed";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("changed size from 5 to 6"), std::string::npos)
        << e.what();
  }
}

// Eight cameras around a unit sphere, with a few holes and grey values near the threshold.
SilhouetteViews sphere_views() {
  const int n = 8;
  SilhouetteViews views(n);
  std::mt19937 rng(11);
  for (int i = 0; i < n; ++i) {
    const double a = 2.0 * M_PI * i / n, h = (i % 2 ? 0.8 : -0.6);
    views[i].get<0>() = ring_camera(a, h, 4.0, 150.0, 160, 120);
    ImageGray<unsigned char> img = sphere_silhouette(a, h, 4.0, 150.0, 160, 120, 1.0);
    for (int k = 0; k < 60; ++k) img[rng() % 160][rng() % 120] = static_cast<unsigned char>(126 + rng() % 4);
    views[i].get<1>() = img;
  }
  return views;
}

// The classified test, with its reordering of cameras, agrees with the plain one wherever a
// caller acts on the result: for admissible points, and for points that no camera puts on
// background beyond the tolerance (what the orientation probes count as inside). Every other
// point exceeds the tolerance in both.
TEST(ProjectionTest, ClassifiedTestAgreesWithPlainOrderOnRandomPoints) {
  const SilhouetteViews views = sphere_views();
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_real_distribution<double> shell(0.9, 1.1);
  for (short tolerance : {0, 1}) {
    SilhouetteClasses classes(views);
    int admissible = 0, rejected = 0;
    for (int k = 0; k < 200000; ++k) {
      Point3D p{unit(rng), unit(rng), unit(rng)};
      if (k % 2 == 0) p = p * (shell(rng) / norm(p));  // half of them near the surface
      else p = p * 1.5;
      const ProjectionResult a = plain_projection(views, p, tolerance);
      const ProjectionResult b = fast(classes, p, tolerance);
      ASSERT_EQ(a.outside > tolerance, b.outside > tolerance) << "point " << k;
      if (a.outside <= tolerance) {
        ASSERT_EQ(a.inside, b.inside) << "point " << k;
        ASSERT_EQ(a.outside, b.outside) << "point " << k;
        ASSERT_EQ(a.outline, b.outline) << "point " << k;
        if (a.inside >= 5 && a.outside == tolerance && a.outline) ++admissible;
      } else {
        ++rejected;
      }
    }
    EXPECT_GT(admissible, 1000) << "tolerance " << tolerance;
    EXPECT_GT(rejected, 50000) << "tolerance " << tolerance;
  }
}

}  // namespace
}  // namespace tervik
