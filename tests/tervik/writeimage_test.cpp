#include "tervik/writeimage.h"

#include <gtest/gtest.h>
#include <png.h>

#include <random>

#include "tervik/readimage.h"
#include "test_util.h"

namespace tervik::io {
namespace {

using tervik::testing::TempDir;

// Decodes a PNG file with libpng's own simplified reader (independent of Boost.GIL) into
// interleaved samples of the given format.
std::vector<unsigned char> libpng_decode(const std::string& name, png_uint_32 format,
                                         png_uint_32& width, png_uint_32& height) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, name.c_str())) return {};
  image.format = format;
  std::vector<unsigned char> out(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, out.data(), 0, nullptr)) return {};
  width = image.width;
  height = image.height;
  return out;
}

TEST(WritePng, GreyImagesRoundTripExactly) {
  TempDir tmp;
  std::mt19937 rng(21);
  for (auto [w, h] : {std::pair<int, int>{1, 1}, {7, 3}, {64, 1}, {1, 50}, {33, 29}}) {
    ImageGray<unsigned char> img(w, h);
    for (int i = 0; i < w * h; ++i) img.channel(0).data()[i] = rng() & 255;
    const std::string name = tmp.file("g" + std::to_string(w) + "x" + std::to_string(h) + ".png");
    write_png(name, img);
    ImageGray<unsigned char> back;
    ReadImage(name).read(back);
    ASSERT_EQ(back.width(), std::size_t(w));
    ASSERT_EQ(back.height(), std::size_t(h));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(back[x][y], img[x][y]) << x << "," << y;
    png_uint_32 fw = 0, fh = 0;
    const auto raw = libpng_decode(name, PNG_FORMAT_GRAY, fw, fh);
    ASSERT_EQ(fw, png_uint_32(w));
    ASSERT_EQ(fh, png_uint_32(h));
    // The file holds row 0 first, each row from column 0.
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) ASSERT_EQ(raw[y * w + x], img[x][y]);
  }
}

TEST(WritePng, ColourImagesRoundTripExactly) {
  TempDir tmp;
  std::mt19937 rng(22);
  for (auto [w, h] : {std::pair<int, int>{1, 1}, {5, 9}, {40, 30}}) {
    ImageRGB<unsigned char> img(w, h);
    for (int c = 0; c < 3; ++c)
      for (int i = 0; i < w * h; ++i) img.channel(c).data()[i] = rng() & 255;
    const std::string name = tmp.file("c" + std::to_string(w) + ".png");
    write_png(name, img);
    ImageRGB<unsigned char> back(2, 2);
    ReadImage(name).read(back);
    ASSERT_EQ(back.width(), std::size_t(w));
    ASSERT_EQ(back.height(), std::size_t(h));
    png_uint_32 fw = 0, fh = 0;
    const auto raw = libpng_decode(name, PNG_FORMAT_RGB, fw, fh);
    ASSERT_EQ(raw.size(), std::size_t(w * h * 3));
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c) {
          ASSERT_EQ(back.channel(c)[x][y], img.channel(c)[x][y]);
          ASSERT_EQ(raw[(y * w + x) * 3 + c], img.channel(c)[x][y]) << "channel " << c;
        }
  }
}

TEST(WritePng, FailuresNameTheFile) {
  TempDir tmp;
  const std::string nowhere = tmp.file("missing/dir/out.png");
  try {
    write_png(nowhere, ImageGray<unsigned char>(2, 2));
    FAIL() << "no exception";
  } catch (const TervikFileError& e) {
    EXPECT_STREQ(e.what(),
                 ("Error in file '" + nowhere + "': cannot open the file for writing: the folder '" +
                  tmp.file("missing/dir") + "' does not exist").c_str());
  }
  const std::string empty = tmp.file("empty.png");
  try {
    write_png(empty, ImageRGB<unsigned char>());
    FAIL() << "no exception";
  } catch (const TervikFileError& e) {
    EXPECT_STREQ(e.what(),
                 ("Error in file '" + empty + "': cannot write a 0 x 0 image as PNG").c_str());
  }
  EXPECT_FALSE(std::filesystem::exists(empty));

  // A disk that fills up while the image is written leaves the file that was there (and no
  // temporary file) behind.
  const std::string kept = tmp.file("kept.png");
  write_png(kept, ImageGray<unsigned char>(4, 4));
  const std::string before = tervik::testing::read_file(kept);
  ImageRGB<unsigned char> noisy(300, 300);
  for (int c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < 300 * 300; ++i)
      noisy.channel(c).data()[i] = static_cast<unsigned char>((i * 2654435761u >> (8 * c)) & 255);
  {
    tervik::testing::FileSizeLimit limit(4096);
    EXPECT_THROW(write_png(kept, noisy), TervikFileError);
  }
  EXPECT_EQ(tervik::testing::read_file(kept), before);
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(tmp.path()),
                          std::filesystem::directory_iterator()),
            1);
}

}  // namespace
}  // namespace tervik::io
