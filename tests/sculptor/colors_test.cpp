#include "sculptor/colors.h"

#include <cmath>
#include <random>

#include <gtest/gtest.h>

#include "sculptor/colour_fill.h"
#include "sculptor/depth_maps.h"
#include "sculptor/post_scene.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

using multiview::MultiView;
using testing::flat_image;
using testing::look_at_camera;
using testing::make_patch;

using ColourViews = MultiView<ImageRGB<unsigned char>>;

// Adds a 64 x 48 camera at `centre` looking at the origin, with a one-colour image.
void add_view(ColourViews& views, const Point3D& centre, unsigned char r, unsigned char g,
              unsigned char b) {
  const Point3D up = std::abs(centre.y) > 0 ? Point3D(0, 0, 1) : Point3D(0, 1, 0);
  views.emplace_back(look_at_camera(centre, {0, 0, 0}, 60, 64, 48, up),
                     flat_image(64, 48, r, g, b));
}

// Depth maps of `patches` in the cameras of `views`, then add_colors with tolerance L; the
// colours of colour_points, which draws its own maps, must be the same.
void colour(std::vector<Patch>& patches, const ColourViews& views, double L = 0.1) {
  MultiView<> cams;
  for (const auto& v : views) cams.emplace_back(v.get<0>());
  std::vector<DepthMap> maps;
  depth_maps_pixel(maps, patches, cams);
  std::vector<Patch> drawn_here = patches;
  add_colors(patches, maps, views, L);
  std::vector<DepthMap> scratch;
  colour_points(drawn_here, scratch, views, L);
  for (std::size_t i = 0; i < patches.size(); ++i) {
    EXPECT_EQ(drawn_here[i].r, patches[i].r) << "patch " << i;
    EXPECT_EQ(drawn_here[i].g, patches[i].g) << "patch " << i;
    EXPECT_EQ(drawn_here[i].b, patches[i].b) << "patch " << i;
  }
}

struct Rgb {
  int r, g, b;
};
Rgb rgb(const Patch& p) { return {p.r, p.g, p.b}; }
#define EXPECT_RGB(patch, R, G, B)      \
  do {                                  \
    const Rgb c_ = rgb(patch);          \
    EXPECT_EQ(c_.r, R);                 \
    EXPECT_EQ(c_.g, G);                 \
    EXPECT_EQ(c_.b, B);                 \
  } while (false)

// Camera A looks down -z (facing vector +z), camera B down -x (facing +x), C down -y (+y).
TEST(AddColors, TakesTheBestCameraBlendsTwoOrThreeAndGreysTheUnseen) {
  ColourViews views;
  add_view(views, {0, 0, 10}, 100, 0, 10);
  add_view(views, {10, 0, 0}, 200, 50, 20);
  // Scores 0.9 alone: exactly camera A's pixel.
  std::vector<Patch> p = {make_patch({0, 0, 0}, {std::sqrt(1 - 0.81), 0, 0.9})};
  colour(p, views);
  EXPECT_RGB(p[0], 100, 0, 10);
  // Scores 0.9 and 0.5 (normal not unit, to hit 0.5 exactly): 0.5 is not above 0.5.
  p = {make_patch({0, 0, 0}, {0.5, 0, 0.9})};
  colour(p, views);
  EXPECT_RGB(p[0], 100, 0, 10);
  // Scores 0.8 and 0.6: red 100 * 0.8 / 1.4 + 200 * 0.6 / 1.4 = 142.86.
  p = {make_patch({0, 0, 0}, {0.6, 0, 0.8})};
  colour(p, views);
  EXPECT_RGB(p[0], 142, 21, 14);
  // Facing away from both cameras.
  p = {make_patch({0, 0, 0}, {-0.6, 0, -0.8}), make_patch({0, 0, 0}, {0, 1, 0})};
  colour(p, views);
  EXPECT_RGB(p[0], 64, 64, 64);
  EXPECT_RGB(p[1], 64, 64, 64);
  // No cameras at all.
  ColourViews none;
  p = {make_patch({0, 0, 0}, {0, 0, 1})};
  colour(p, none);
  EXPECT_RGB(p[0], 64, 64, 64);
}

TEST(AddColors, BlendsTheThreeBestAndTiesKeepTheEarlierCamera) {
  ColourViews views;
  add_view(views, {0, 0, 10}, 101, 0, 0);   // score 0.8
  add_view(views, {10, 0, 0}, 203, 0, 0);   // score 0.6
  add_view(views, {0, 10, 0}, 57, 0, 0);    // score 0.6, tied with the one before
  add_view(views, {0, 20, 0}, 255, 0, 0);   // score 0.6 again: fourth, dropped
  std::vector<Patch> p = {make_patch({0, 0, 0}, {0.6, 0.6, 0.8})};
  colour(p, views);
  // 0.4 * 101 + 0.3 * 203 + 0.3 * 57 = 118.4; with the last camera instead it would be 177.
  EXPECT_EQ(p[0].r, 118);
}

TEST(AddColors, ReadsThePixelThePatchProjectsTo) {
  ColourViews views;
  add_view(views, {0, 0, 10}, 0, 0, 0);
  ImageRGB<unsigned char>& image = views[0].get<1>();
  for (long y = 0; y < 48; ++y)
    for (long x = 0; x < 64; ++x) {
      image.channel(0)[x][y] = static_cast<unsigned char>(4 * x);
      image.channel(1)[x][y] = static_cast<unsigned char>(5 * y);
      image.channel(2)[x][y] = 7;
    }
  // (u, v) = (60 X / 10 + 32, -60 Y / 10 + 24) = (12.5, 7.5) for X = -3.25, Y = 2.75.
  std::vector<Patch> p = {make_patch({-3.25, 2.75, 0}, {0, 0, 1})};
  const Patch before = p[0];
  colour(p, views);
  EXPECT_RGB(p[0], 48, 35, 7);
  EXPECT_EQ(p[0].pos, before.pos);
  EXPECT_EQ(p[0].normal, before.normal);
}

// The back patch faces camera A squarely, but a disc of patches between them hides it from A,
// while B sees it past the disc's edge: it takes B's colour alone.
TEST(AddColors, HiddenPatchDoesNotTakeTheColourOfTheCameraThatCannotSeeIt) {
  ColourViews views;
  add_view(views, {0, 0, 10}, 250, 0, 0);                   // A: red, score 1 for the back patch
  add_view(views, {7.0710678, 0, 7.0710678}, 0, 0, 250);    // B: blue, score 0.707
  std::vector<Patch> patches;
  for (double x = -0.5; x <= 0.5; x += 0.05)
    for (double y = -0.5; y <= 0.5; y += 0.05)
      if (x * x + y * y <= 0.25) patches.push_back(make_patch({x, y, 1}, {0, 0, 1}));
  const std::size_t back = patches.size();
  patches.push_back(make_patch({0, 0, -1}, {0, 0, 1}));
  // Just behind the disc, within the depth tolerance L = 0.5: still seen by A. (The tolerance
  // must exceed the depth change of the tilted disc over a pixel or two in B, or the disc would
  // hide itself from B.)
  const std::size_t shallow = patches.size();
  patches.push_back(make_patch({0.02, 0.02, 0.96}, {0, 0, 1}));
  colour(patches, views, 0.5);
  EXPECT_RGB(patches[back], 0, 0, 250);
  EXPECT_GT(patches[shallow].r, 0);
  EXPECT_GT(patches[shallow].b, 0);
  // The disc itself is seen by both: a blend.
  EXPECT_GT(patches[0].r, 0);
  EXPECT_GT(patches[0].b, 0);

  // Without the disc the back patch blends both cameras.
  std::vector<Patch> alone = {make_patch({0, 0, -1}, {0, 0, 1})};
  colour(alone, views, 0.5);
  EXPECT_GT(alone[0].r, 0);
  EXPECT_GT(alone[0].b, 0);
}

TEST(AddColors, PatchBehindACameraIsNotColouredByIt) {
  ColourViews views;
  add_view(views, {0, 0, 10}, 250, 0, 0);
  // Projects to the principal point, depth -5, faces the camera's facing vector squarely.
  std::vector<Patch> p = {make_patch({0, 0, 15}, {0, 0, 1})};
  colour(p, views);
  EXPECT_RGB(p[0], 64, 64, 64);
}

TEST(AddColors, RejectsDepthMapsOrImagesThatDoNotFitTheCameras) {
  ColourViews views;
  add_view(views, {0, 0, 10}, 1, 2, 3);
  add_view(views, {10, 0, 0}, 1, 2, 3);
  std::vector<Patch> p = {make_patch({0, 0, 0}, {0, 0, 1})};
  std::vector<DepthMap> maps(1, DepthMap{64, 48, {}, {}});
  try {
    add_colors(p, maps, views, 0.1);
    FAIL() << "no error for one map and two cameras";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("add_colors: 1 depth maps for 2 cameras"),
              std::string::npos)
        << e.what();
  }
  maps.assign(2, DepthMap{64, 48, {}, {}});
  maps[1].width = 32;
  try {
    add_colors(p, maps, views, 0.1);
    FAIL() << "no error for a map narrower than its camera";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("add_colors: depth map 1 is 32 x 48, its camera 64 x 48"),
              std::string::npos)
        << e.what();
  }
  maps[1].width = 64;
  views[1].get<1>() = flat_image(32, 48, 1, 2, 3);
  try {
    add_colors(p, maps, views, 0.1);
    FAIL() << "no error for an image smaller than its camera";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("colour image 1 is 32 x 48"), std::string::npos)
        << e.what();
  }
}

// A cloud seen by cameras all around, with points hidden behind others and points at the image
// borders: colour_points gives add_colors' colours on every thread count, and keeps one map per
// thread.
TEST(ColourPoints, GivesTheColoursOfAddColorsOnEveryThreadCount) {
  ColourViews views;
  std::mt19937 rng(7);
  const Point3D eyes[5] = {{0, 0, 4}, {4, 0, 0}, {0, 4, 0}, {-3, -3, 1}, {2.5, -2.5, -2}};
  for (const Point3D& eye : eyes) {
    const Point3D up = std::abs(eye.y) > 0 ? Point3D(0, 0, 1) : Point3D(0, 1, 0);
    ImageRGB<unsigned char> image(64, 48);
    for (int c = 0; c < 3; ++c)
      for (long y = 0; y < 48; ++y)
        for (long x = 0; x < 64; ++x) image.channel(c)[x][y] = static_cast<unsigned char>(rng());
    views.emplace_back(look_at_camera(eye, {0, 0, 0}, 40, 64, 48, up), image);
  }
  // Two nested shells (the inner one hidden) and a loose cloud reaching past the frames.
  std::normal_distribution<double> g(0, 1);
  std::vector<Patch> cloud;
  for (int i = 0; i < 3000; ++i) {
    Point3D n(g(rng), g(rng), g(rng));
    n = n / norm(n);
    const double r = i % 3 == 0 ? 0.6 : i % 3 == 1 ? 1.0 : 1.0 + 2.0 * std::abs(g(rng));
    cloud.push_back(make_patch(n * r, n));
  }
  MultiView<> cams;
  for (const auto& v : views) cams.emplace_back(v.get<0>());
  std::vector<DepthMap> maps;
  depth_maps_pixel(maps, cloud, cams);
  std::vector<Patch> expected = cloud;
  add_colors(expected, maps, views, 0.05);
  int grey = 0;
  for (const Patch& p : expected) grey += p.r == kUnseenGrey && p.g == kUnseenGrey;
  EXPECT_GT(grey, 0);
  EXPECT_LT(grey, 2900);
  for (unsigned threads : {1u, 2u, 3u, 8u}) {
    std::vector<Patch> got = cloud;
    std::vector<DepthMap> scratch(9);  // more than needed: resized
    colour_points(got, scratch, views, 0.05, threads);
    EXPECT_EQ(scratch.size(), std::min<std::size_t>(threads, views.size()));
    for (std::size_t i = 0; i < got.size(); ++i) {
      ASSERT_EQ(got[i].r, expected[i].r) << threads << " threads, patch " << i;
      ASSERT_EQ(got[i].g, expected[i].g) << threads << " threads, patch " << i;
      ASSERT_EQ(got[i].b, expected[i].b) << threads << " threads, patch " << i;
      ASSERT_EQ(got[i].pos, cloud[i].pos);
    }
  }
  // A colour image smaller than its camera is refused before anything is read.
  views[2].get<1>() = flat_image(32, 48, 1, 2, 3);
  std::vector<DepthMap> scratch;
  EXPECT_THROW(colour_points(cloud, scratch, views, 0.05), TervikError);
}

// A width x height image whose pixel (x, y) has channels (f(x, y), 2 f, 3 f) mod 256.
ImageRGB<unsigned char> pattern_image(long width, long height, int (*f)(long, long)) {
  ImageRGB<unsigned char> image(width, height);
  for (long y = 0; y < height; ++y)
    for (long x = 0; x < width; ++x)
      for (int c = 0; c < 3; ++c)
        image.channel(c)[x][y] = static_cast<unsigned char>(((c + 1) * f(x, y)) % 256);
  return image;
}

TEST(WindowStatistics, MeanVarianceAndCorrelationOfInteriorWindows) {
  const auto image = pattern_image(8, 6, [](long x, long y) { return static_cast<int>(10 * x + 3 * y); });
  const Coord2D<short> c(3, 2);
  // Channel 0 over the window: 10 x + 3 y for x 2..4, y 1..3, mean 10 * 3 + 3 * 2 = 36.
  const Point3D m = mean_rgb(c, image);
  EXPECT_NEAR(m.x, 36, 1e-9);
  EXPECT_NEAR(m.y, 72, 1e-9);
  EXPECT_NEAR(m.z, 108, 1e-9);
  // Deviations of channel 0: 10 dx + 3 dy; sum of squares 6 * 100 + 6 * 9 = 654, times 1 + 4 + 9.
  EXPECT_NEAR(variance_rgb(c, image, m), 654.0 * 14 / 9, 1e-6);
  EXPECT_NEAR(ncc_rgb(c, image, c, image), 1.0, 1e-12);
  // The window shifted by one column has the same deviations.
  EXPECT_NEAR(ncc_rgb(c, image, Coord2D<short>(4, 2), image), 1.0, 1e-12);
  // The negated pattern correlates at -1.
  const auto negated = pattern_image(8, 6, [](long x, long y) { return static_cast<int>(85 - 10 * x - 3 * y); });
  EXPECT_NEAR(ncc_rgb(c, image, c, negated), -1.0, 1e-12);
  // A window without variation: black gives 0 / 0; any other flat colour leaves only the
  // rounding of the factor 1/9 as deviation, which never makes the correlation negative.
  EXPECT_TRUE(std::isnan(ncc_rgb(c, image, c, flat_image(8, 6, 0, 0, 0))));
  const auto flat = flat_image(8, 6, 9, 200, 31);
  EXPECT_FALSE(ncc_rgb(c, image, c, flat) < 0);
  EXPECT_FALSE(ncc_rgb(c, flat, c, negated) < 0);
  EXPECT_NEAR(variance_rgb(c, flat, mean_rgb(c, flat)), 0.0, 1e-18);
}

TEST(WindowStatistics, WindowsAtTheBorderAreClampedToTheImage) {
  ImageRGB<unsigned char> image(2, 2);
  // Channel 0: 0 1 / 2 3 (row 0, row 1); the others 0.
  image.channel(0)[0][0] = 0;
  image.channel(0)[1][0] = 1;
  image.channel(0)[0][1] = 2;
  image.channel(0)[1][1] = 3;
  // Around (0, 0) the clamped window reads rows 0 0 1 and columns 0 0 1:
  // 0 0 1 / 0 0 1 / 2 2 3, sum 9.
  EXPECT_NEAR(mean_rgb(Coord2D<short>(0, 0), image).x, 1.0, 1e-9);
  // Around (1, 1): 0 1 1 / 2 3 3 / 2 3 3, sum 18.
  EXPECT_NEAR(mean_rgb(Coord2D<short>(1, 1), image).x, 2.0, 1e-9);
  // A one-pixel image: every sample is that pixel.
  const auto dot = flat_image(1, 1, 7, 8, 9);
  const Point3D m = mean_rgb(Coord2D<short>(0, 0), dot);
  EXPECT_NEAR(m.x, 7, 1e-9);
  EXPECT_NEAR(m.z, 9, 1e-9);
  EXPECT_NEAR(variance_rgb(Coord2D<short>(0, 0), dot, m), 0.0, 1e-9);
  // Correlation of a border window with itself.
  EXPECT_NEAR(ncc_rgb(Coord2D<short>(1, 0), image, Coord2D<short>(1, 0), image), 1.0, 1e-12);
}

TEST(WindowStatistics, RejectsAnEmptyImage) {
  try {
    mean_rgb(Coord2D<short>(0, 0), ImageRGB<unsigned char>());
    FAIL() << "no error for an empty image";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find("empty image"), std::string::npos) << e.what();
  }
}

}  // namespace
}  // namespace tervik

namespace tervik {
namespace {

// With `coloured`, a patch the blend leaves grey takes the pixel of the best-facing camera that
// sees it with a positive score; a patch that only cameras behind it see stays grey, flagged for
// the fill; the blend's own patches are unchanged.
TEST(ColourPoints, ColoursWhatACameraFacingThePatchSees) {
  ColourViews views;
  add_view(views, {0, 0, 10}, 100, 0, 10);  // A, facing +z
  add_view(views, {10, 0, 0}, 200, 50, 20); // B, facing +x
  const double c = std::cos(70 * M_PI / 180), s = std::sin(70 * M_PI / 180);
  std::vector<Patch> p = {
      make_patch({0, 0, 0}, {0.6, 0, 0.8}),     // blended as always
      make_patch({0, 0, 0}, {0.3, s, c}),       // scores 0.34 (A) and 0.3 (B): A's pixel
      make_patch({0, 0, 0}, {-0.6, 0, -0.8}),   // faces away from both
      make_patch({0, 0, 0}, {0, 1, 0})};        // scores 0: faces neither
  std::vector<Patch> plain = p;
  std::vector<DepthMap> maps;
  colour_points(plain, maps, views, 0.1);
  std::vector<std::uint8_t> coloured;
  for (unsigned threads : {1u, 2u}) {
    std::vector<Patch> q = p;
    colour_points(q, maps, views, 0.1, threads, &coloured);
    ASSERT_EQ(coloured.size(), 4u);
    EXPECT_EQ(coloured[0], kColouredByBlend);
    EXPECT_RGB(q[0], plain[0].r, plain[0].g, plain[0].b);
    EXPECT_EQ(coloured[1], kColouredBySeeingCameras);
    EXPECT_RGB(q[1], 100, 0, 10);
    EXPECT_EQ(coloured[2], kNotColoured);
    EXPECT_EQ(coloured[3], kNotColoured);
    EXPECT_RGB(q[2], 64, 64, 64);
  }
}

// The fill spreads colours along the surface in waves from the nearest coloured point, reaches
// pieces apart from every coloured point through the nearest one, and does not depend on the
// thread count.
TEST(FillUnseenColours, SpreadsFromTheNearestColouredNeighbours) {
  // A row of points 0.1 apart, each next to the one before and after; the ends are coloured.
  std::vector<Patch> row;
  for (int i = 0; i <= 10; ++i) row.push_back(make_patch({0.1 * i, 0, 0}, {0, 0, 1}));
  row[0].r = 10;
  row[10].r = 200;
  row.push_back(make_patch({5, 5, 5}, {0, 0, 1}));  // a piece apart, nearest to row[10]
  std::vector<std::uint8_t> flags(row.size(), 0);
  flags[0] = flags[10] = 1;
  Neighbourhoods near;
  near.build(row, 0.15 * 0.15, 1);
  for (unsigned threads : {1u, 3u}) {
    std::vector<Patch> q = row;
    std::vector<std::uint8_t> f = flags;
    EXPECT_EQ(fill_unseen_colours(q, f, near, threads), row.size() - 2);
    for (int i = 0; i <= 10; ++i) EXPECT_EQ(q[i].r, i < 5 ? 10 : i > 5 ? 200 : q[5].r) << i;
    EXPECT_TRUE(q[5].r == 10 || q[5].r == 200);  // equally far from both sides
    EXPECT_EQ(q[11].r, 200);
    for (std::uint8_t v : f) EXPECT_NE(v, 0);
  }
  // Nothing coloured: nothing to spread.
  std::vector<Patch> q = row;
  std::vector<std::uint8_t> none(row.size(), 0);
  EXPECT_EQ(fill_unseen_colours(q, none, near), 0u);
  EXPECT_EQ(q[3].r, row[3].r);
    std::vector<std::uint8_t> short_flags = {1};
  EXPECT_THROW(fill_unseen_colours(q, short_flags, near), TervikError);
}

}  // namespace
}  // namespace tervik
