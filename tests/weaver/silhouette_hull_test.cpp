// The silhouette test of weaver --silhouettes, on one camera looking down the z axis at an
// L-shaped silhouette (so that a swap of rows and columns shows): pixels of the foreground and
// those next to it hold a point, others two pixels off do not, and a camera behind which a
// point lies, or outside whose image it falls, says nothing; a camera with lens distortion
// projects through it. Read from files, the silhouettes must have their cameras' size.
#include "weaver/silhouette_hull.h"

#include <gtest/gtest.h>

#include "test_util.h"
#include "tervik/exceptions.h"
#include "tervik/imagegray.h"
#include "tervik/writeimage.h"

namespace tervik {
namespace {

constexpr long kWidth = 40, kHeight = 30;

// A camera at the origin looking along +z: pixel (x, y) = (100 X / Z + 20, 100 Y / Z + 15).
Camera down_z() {
  Camera c;
  c.im_width() = kWidth;
  c.im_height() = kHeight;
  const double p[12] = {100, 0, 20, 0, 0, 100, 15, 0, 0, 0, 1, 0};
  for (int k = 0; k < 12; ++k) c.p().data()[k] = p[k];
  const double k[9] = {100, 0, 20, 0, 100, 15, 0, 0, 1};
  for (int i = 0; i < 9; ++i) c.k().data()[i] = k[i];
  return c;
}

// The point at depth 1 whose projection is the middle of pixel (x, y).
Point3D middle_of_pixel(double x, double y) { return {(x + 0.5 - 20) / 100, (y + 0.5 - 15) / 100, 1.0}; }

// Foreground: columns 5 to 9 of rows 5 to 24, and rows 20 to 24 of columns 5 to 34 (an L).
std::vector<unsigned char> l_mask() {
  std::vector<unsigned char> mask(std::size_t(kWidth * kHeight), 0);
  for (long y = 0; y < kHeight; ++y)
    for (long x = 0; x < kWidth; ++x)
      if ((x >= 5 && x <= 9 && y >= 5 && y <= 24) || (y >= 20 && y <= 24 && x >= 5 && x <= 34))
        mask[std::size_t(y * kWidth + x)] = 255;
  return mask;
}

TEST(SilhouetteHull, ForegroundWidenedByAPixelHoldsAPointAndOtherCamerasSayNothing) {
  SilhouetteHull hull;
  hull.add(down_z(), l_mask(), "mask");
  EXPECT_TRUE(hull.inside(middle_of_pixel(7, 10)));   // the L's upright
  EXPECT_TRUE(hull.inside(middle_of_pixel(30, 22)));  // its foot
  EXPECT_TRUE(hull.inside(middle_of_pixel(10, 10)));  // next to the upright
  EXPECT_FALSE(hull.inside(middle_of_pixel(11, 10)));
  EXPECT_FALSE(hull.inside(middle_of_pixel(22, 7)));  // the foot's place with rows and columns swapped
  EXPECT_FALSE(hull.inside(middle_of_pixel(30, 12)));
  EXPECT_TRUE(hull.inside({0.0, 0.0, -1.0}));  // behind the camera
  EXPECT_TRUE(hull.inside(middle_of_pixel(45, 10)));  // beyond the image's right edge
  EXPECT_TRUE(hull.inside(middle_of_pixel(-3, 10)));

  // Strong barrel-out distortion carries the foot's tip out past the silhouette.
  Camera lens = down_z();
  lens.distortion().data()[0] = 20.0;
  SilhouetteHull distorted;
  distorted.add(lens, l_mask(), "mask");
  EXPECT_TRUE(hull.inside(middle_of_pixel(33, 22)));
  EXPECT_FALSE(distorted.inside(middle_of_pixel(33, 22)));
  EXPECT_TRUE(distorted.inside(middle_of_pixel(22, 21)));  // near the principal point it barely moves
}

TEST(SilhouetteHull, ReadFromFilesTheSilhouetteMustHaveItsCamerasSize) {
  testing::TempDir dir;
  down_z().write_parameters(dir.file("cam3.txt"));
  ImageGray<unsigned char> image(kWidth, kHeight);
  const std::vector<unsigned char> mask = l_mask();
  std::copy(mask.begin(), mask.end(), image.channel(0).data());
  io::write_png(dir.file("sil3_0007.png"), image);
  const SilhouetteHull hull = read_silhouette_hull(dir.file("cam%ld.txt"), dir.file("sil%ld_%04ld.png"),
                                                   1, {3}, 7);
  EXPECT_TRUE(hull.inside(middle_of_pixel(30, 22)));
  EXPECT_FALSE(hull.inside(middle_of_pixel(30, 12)));
  io::write_png(dir.file("sil3_0008.png"), ImageGray<unsigned char>(kWidth, kHeight + 1));
  try {
    read_silhouette_hull(dir.file("cam%ld.txt"), dir.file("sil%ld_%04ld.png"), 1, {3}, 8);
    ADD_FAILURE() << "a silhouette of the wrong size was read";
  } catch (const TervikError& e) {
    EXPECT_NE(std::string(e.what()).find(dir.file("sil3_0008.png") + " is 40 x 31 pixels"), std::string::npos)
        << e.what();
  }
}

}  // namespace
}  // namespace tervik
