#include "tervik/imagegray.h"

#include <gtest/gtest.h>

namespace tervik {
namespace {

TEST(MultiArray, StorageIsFirstIndexFastestAndZeroed) {
  MultiArray<double, 2> m(4, 3);
  ASSERT_EQ(m.shape()[0], 4u);
  ASSERT_EQ(m.shape()[1], 3u);
  for (std::size_t i = 0; i < m.num_elements(); ++i) EXPECT_EQ(m.data()[i], 0.0);
  m[1][2] = 7.0;  // column 1, row 2
  EXPECT_EQ(m.data()[2 * 4 + 1], 7.0);
  MultiArray<int, 1> v(5);
  EXPECT_EQ(v.num_elements(), 5u);
  MultiArray<int, 2> empty;
  EXPECT_EQ(empty.num_elements(), 0u);
}

TEST(MultiArray, AssignmentResizesAndSelfAssignmentThrows) {
  MultiArray<double, 2> a(2, 2), b(5, 1);
  b[4][0] = 3.5;
  a = b;
  EXPECT_EQ(a.shape()[0], 5u);
  EXPECT_EQ(a.shape()[1], 1u);
  EXPECT_EQ(a[4][0], 3.5);
  // The resized array keeps the first-index-fastest order.
  EXPECT_EQ(a.data()[4], 3.5);
  MultiArray<double, 2> c(a);
  EXPECT_EQ(c[4][0], 3.5);
  try {
    MultiArray<double, 2>& alias = a;
    a = alias;
    FAIL() << "self-assignment did not throw";
  } catch (const TervikError& e) {
    EXPECT_STREQ(e.what(), "MultiArray<T,D>::operator=: Self Assignment");
  }
}

TEST(ImageGray, LayoutIsRowAfterRow) {
  ImageGray<unsigned char> img(4, 3);
  EXPECT_EQ(img.width(), 4u);
  EXPECT_EQ(img.height(), 3u);
  EXPECT_EQ(img.channel(0).num_elements(), 12u);
  img[3][2] = 9;
  img[1][0] = 5;
  EXPECT_EQ(img.channel(0).data()[11], 9);
  EXPECT_EQ(img.channel(0).data()[1], 5);
  unsigned char buf[12] = {};
  img.export_to(buf, 4, 3);
  EXPECT_EQ(buf[11], 9);
  ImageGray<unsigned char> back(4, 3);
  back.import_from(buf, 4, 3);
  EXPECT_EQ(back[3][2], 9);
}

TEST(ImageGray, AssignmentTakesSourceSizeAndFillSetsAll) {
  ImageGray<unsigned char> src(640, 480);
  src = static_cast<unsigned char>(17);
  src[639][479] = 200;
  ImageGray<unsigned char> dst;
  dst = src;
  EXPECT_EQ(dst.width(), 640u);
  EXPECT_EQ(dst.height(), 480u);
  EXPECT_EQ(dst[0][0], 17);
  EXPECT_EQ(dst[639][479], 200);
  dst = dst;  // harmless for images
  EXPECT_EQ(dst[639][479], 200);
  auto dims = dst.dims();
  ASSERT_EQ(dims.size(), 1u);
  EXPECT_EQ(dims[0], (std::vector<unsigned long long>{640, 480}));
}

}  // namespace
}  // namespace tervik
