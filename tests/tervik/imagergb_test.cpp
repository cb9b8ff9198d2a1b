#include "tervik/imagergb.h"

#include <functional>

#include <gtest/gtest.h>

namespace tervik {
namespace {

std::string message_of(const std::function<void()>& f) {
  try {
    f();
  } catch (const TervikError& e) {
    return e.what();
  }
  return "";
}

TEST(ImageRGB, ChannelSizeChecksOnConstructionAndAssignment) {
  Image<unsigned char, 3> bad(4, 3);
  bad.channel(2) = MultiArray<unsigned char, 2>(3, 3);
  EXPECT_EQ(message_of([&] { ImageRGB<unsigned char> c(bad); }),
            "All channel widths must be equal for RGB");
  Image<unsigned char, 3> short_rows(4, 3);
  short_rows.channel(1) = MultiArray<unsigned char, 2>(4, 2);
  EXPECT_EQ(message_of([&] { ImageRGB<unsigned char> c(short_rows); }),
            "All channel heights must be equal for RGB");
  ImageRGB<unsigned char> dst(2, 2);
  dst = static_cast<unsigned char>(7);
  EXPECT_EQ(message_of([&] { dst = bad; }), "All channel widths must be equal for RGB");
  // The failed assignment copied nothing.
  EXPECT_EQ(dst.width(), 2u);
  EXPECT_EQ(dst.channel(2)[1][1], 7);
}

TEST(ImageRGB, FillSetsAllChannelsAndBuffersInterleave) {
  ImageRGB<unsigned char> img(2, 1);
  img = static_cast<unsigned char>(3);
  for (int c = 0; c < 3; ++c) EXPECT_EQ(img.channel(c)[1][0], 3);
  img.channel(0)[1][0] = 10;
  img.channel(1)[1][0] = 20;
  img.channel(2)[1][0] = 30;
  unsigned char bgr[6];
  img.export_to(bgr, 2, 1, 1);
  EXPECT_EQ(bgr[3], 30);
  EXPECT_EQ(bgr[4], 20);
  EXPECT_EQ(bgr[5], 10);
  unsigned char rgba[8];
  img.export_to(rgba, 2, 1, 2);
  EXPECT_EQ(rgba[4], 10);
  EXPECT_EQ(rgba[7], 1);
  ImageRGB<unsigned char> back(2, 1);
  back.import_from(rgba, 2, 1, 2);
  EXPECT_EQ(back.channel(2)[1][0], 30);
  EXPECT_EQ(message_of([&] { img.export_to(rgba, 2, 1, 7); }), " Buffer Color Mode not implemented");
  EXPECT_EQ(message_of([&] { back.import_buffer(rgba, 3, 1, 0); }),
            " Buffer size does not match image size");
  auto arr = img.export_buffer(0);
  EXPECT_EQ(arr[2][1][0], 30);
}

}  // namespace
}  // namespace tervik
