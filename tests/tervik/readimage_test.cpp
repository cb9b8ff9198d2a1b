#include "tervik/readimage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>

#include "tervik/writeimage.h"
#include "test_util.h"
#include "tervik/image_files.h"

namespace tervik::io {
namespace {

using tervik::testing::read_file;
using tervik::testing::same_pixels;
using tervik::testing::TempDir;
using tervik::testing::write_file;

// The message of the exception that `f` throws as E, or a failure if it throws nothing.
template <typename E, typename F>
std::string message_of(F f) {
  try {
    f();
  } catch (const E& e) {
    return e.what();
  }
  ADD_FAILURE() << "nothing thrown";
  return "";
}

ImageRGB<unsigned char> random_rgb(std::size_t w, std::size_t h, unsigned seed) {
  std::mt19937 rng(seed);
  ImageRGB<unsigned char> img(w, h);
  for (std::size_t c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < w * h; ++i) img.channel(c).data()[i] = rng() & 255;
  return img;
}

TEST(ImageFormat, ChosenByExactExtension) {
  EXPECT_EQ(get_image_format("a/b.jpg"), 0);
  EXPECT_EQ(get_image_format("b.jpeg"), 0);
  EXPECT_EQ(get_image_format("b.png"), 1);
  EXPECT_EQ(get_image_format("x.y/b.tiff"), 2);
  EXPECT_EQ(get_image_format("b.tif"), 2);
  EXPECT_EQ(get_image_format("b.mult"), 5);
  EXPECT_EQ(get_image_format("b.prl"), 5);
  EXPECT_EQ(get_image_format("b.JPG"), 6);
  EXPECT_EQ(get_image_format("b.Png"), 6);
  EXPECT_EQ(get_image_format("b"), 6);
  EXPECT_EQ(get_image_format("dir.png/b"), 6);  // only the last component counts
  EXPECT_EQ(get_image_format("b.png.gz"), 6);
  EXPECT_EQ(file_extension("a.b/c"), "");
  EXPECT_EQ(file_extension("c.tar.JPG"), ".JPG");
}

TEST(ReadImageOpen, RejectsMissingDirectoriesAndUnknownExtensions) {
  TempDir tmp;
  const std::string missing = tmp.file("none.png");
  EXPECT_EQ(message_of<TervikFileNotFound>([&] { ReadImage r(missing); }),
            "File " + missing + " not found");
  // Existence is tested before the extension.
  const std::string missing_ext = tmp.file("none.xyz");
  EXPECT_EQ(message_of<TervikFileNotFound>([&] { ReadImage().open(missing_ext); }),
            "File " + missing_ext + " not found");

  const std::string dir = tmp.file("frames.png");
  std::filesystem::create_directory(dir);
  EXPECT_EQ(message_of<TervikFileError>([&] { ReadImage r(dir); }),
            "Error in file '" + dir + "':  Not a valid file, is a directory.");

  const std::string upper = tmp.file("cam0.JPG");
  write_file(upper, "x");
  EXPECT_EQ(message_of<TervikFileError>([&] { ReadImage r(upper); }),
            "Error in file '" + upper + "': Image format not supported (.JPG)");
  const std::string bare = tmp.file("cam0");
  write_file(bare, "x");
  EXPECT_EQ(message_of<TervikFileError>([&] { ReadImage r(bare); }),
            "Error in file '" + bare + "': Image format not supported ()");

  ReadImage unopened;
  ImageGray<unsigned char> g;
  EXPECT_EQ(message_of<TervikError>([&] { unopened.read(g); }),
            "ReadImage: call 'open' before reading an image");
}

TEST(ReadImageOpen, NamesThatExistButCannotBeReadGiveTheRealReason) {
  TempDir tmp;
  const std::string fifo = tmp.file("pipe.png");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(message_of<TervikFileError>([&] { ReadImage r(fifo); }),
            "Error in file '" + fifo + "': cannot read the file: it is a FIFO, not a regular file");
  const std::string long_name = tmp.file(std::string(300, 'a') + ".png");
  EXPECT_EQ(message_of<TervikFileError>([&] { ReadImage r(long_name); }),
            "Error in file '" + long_name + "': cannot read the file: File name too long");
}

TEST(ReadImagePng, ColourFileReadAsGreyIsGilLuminance) {
  // Every (R, G) pair with a varying B: 65536 colours checked against the integer formula.
  TempDir tmp;
  ImageRGB<unsigned char> rgb(256, 256);
  for (std::size_t y = 0; y < 256; ++y)
    for (std::size_t x = 0; x < 256; ++x) {
      rgb.channel(0)[x][y] = x;
      rgb.channel(1)[x][y] = y;
      rgb.channel(2)[x][y] = (x * 7 + y * 13 + (x * y >> 3)) & 255;
    }
  const std::string name = tmp.file("colour.png");
  write_png(name, rgb);
  ImageGray<unsigned char> grey(3, 3);
  ReadImage(name).read(grey);
  ASSERT_EQ(grey.width(), 256u);
  ASSERT_EQ(grey.height(), 256u);
  int mismatches = 0;
  for (std::size_t y = 0; y < 256; ++y)
    for (std::size_t x = 0; x < 256; ++x) {
      const unsigned r = rgb.channel(0)[x][y], g = rgb.channel(1)[x][y], b = rgb.channel(2)[x][y];
      const unsigned expected = (4915 * r + 9667 * g + 1802 * b + 8192) / 16384;
      mismatches += grey[x][y] != expected;
    }
  EXPECT_EQ(mismatches, 0);
}

TEST(ReadImagePng, GreyFileReadAsColourHasThreeEqualChannels) {
  TempDir tmp;
  ImageGray<unsigned char> grey(37, 21);
  std::mt19937 rng(7);
  for (std::size_t i = 0; i < 37 * 21; ++i) grey.channel(0).data()[i] = rng() & 255;
  const std::string name = tmp.file("grey.png");
  write_png(name, grey);
  ImageRGB<unsigned char> rgb;
  ReadImage(name).read(rgb);
  ASSERT_EQ(rgb.width(), 37u);
  ASSERT_EQ(rgb.height(), 21u);
  for (std::size_t c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < 37 * 21; ++i)
      ASSERT_EQ(rgb.channel(c).data()[i], grey.channel(0).data()[i]) << "channel " << c;
  // 8-bit samples become 16-bit ones by GIL's channel conversion: v -> 257 v.
  ImageGray<unsigned short> wide;
  ReadImage(name).read(wide);
  for (std::size_t i = 0; i < 37 * 21; ++i)
    ASSERT_EQ(wide.channel(0).data()[i], 257 * grey.channel(0).data()[i]);
}

TEST(ReadImagePng, LargeFileReplacesSmallDestination) {
  TempDir tmp;
  ImageRGB<unsigned char> src = random_rgb(640, 480, 11);
  src.channel(0)[639][479] = 201;
  src.channel(1)[639][479] = 7;
  src.channel(2)[639][479] = 99;
  const std::string name = tmp.file("big.png");
  write_png(name, src);
  ImageRGB<unsigned char> dst(1, 1);
  ReadImage(name)._read(dst);
  ASSERT_EQ(dst.width(), 640u);
  ASSERT_EQ(dst.height(), 480u);
  EXPECT_EQ(dst.channel(0)[639][479], 201);
  EXPECT_EQ(dst.channel(1)[639][479], 7);
  EXPECT_EQ(dst.channel(2)[639][479], 99);
  for (std::size_t c = 0; c < 3; ++c)
    EXPECT_TRUE(std::equal(src.channel(c).data(), src.channel(c).data() + 640 * 480,
                           dst.channel(c).data()));
  EXPECT_EQ(get_image_dimensions(name, FORMAT_PNG), (std::vector<unsigned long long>{640, 480}));
}

// A destination that already has the file's size is overwritten; one with the same number of
// pixels in another shape takes the file's shape; a failed read leaves either as it was.
TEST(ReadImagePng, SameSizeDestinationTakesEveryPixelAndSurvivesAFailedRead) {
  TempDir tmp;
  const ImageRGB<unsigned char> first = random_rgb(23, 17, 1), second = random_rgb(23, 17, 2),
                                turned = random_rgb(17, 23, 3);
  write_png(tmp.file("first.png"), first);
  write_png(tmp.file("second.png"), second);
  write_png(tmp.file("turned.png"), turned);
  std::string bytes = read_file(tmp.file("second.png"));
  bytes[bytes.size() / 2] ^= 0x5a;  // inside the pixel data: found while decoding
  write_file(tmp.file("damaged.png"), bytes);

  ImageRGB<unsigned char> dst;
  ReadImage(tmp.file("first.png")).read(dst);
  EXPECT_TRUE(same_pixels(dst, first));
  ReadImage(tmp.file("second.png")).read(dst);
  EXPECT_TRUE(same_pixels(dst, second));
  EXPECT_THROW(ReadImage(tmp.file("damaged.png")).read(dst), TervikFileError);
  EXPECT_TRUE(same_pixels(dst, second));
  ReadImage(tmp.file("turned.png")).read(dst);
  EXPECT_TRUE(same_pixels(dst, turned));

  ImageGray<unsigned char> grey(23, 17);
  grey = 5;
  ReadImage(tmp.file("second.png")).read(grey);
  ImageGray<unsigned char> want;
  ReadImage(tmp.file("second.png")).read(want);  // into an empty image
  ASSERT_EQ(grey.width(), 23u);
  EXPECT_TRUE(std::equal(grey.channel(0).data(), grey.channel(0).data() + 23 * 17,
                         want.channel(0).data()));
}

TEST(ReadImageJpeg, DecodesLibjpegFilesInRasterOrder) {
  TempDir tmp;
  // A smooth gradient survives JPEG compression within a few grey levels.
  const int w = 48, h = 32;
  std::vector<unsigned char> rgb(w * h * 3), grey(w * h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      rgb[(y * w + x) * 3 + 0] = 4 * x;
      rgb[(y * w + x) * 3 + 1] = 6 * y;
      rgb[(y * w + x) * 3 + 2] = 128;
      grey[y * w + x] = 2 * x + 3 * y;
    }
  for (const char* ext : {".jpg", ".jpeg"}) {
    const std::string colour = tmp.file(std::string("colour") + ext);
    tervik::testing::write_jpeg(colour, w, h, 3, rgb);
    ImageRGB<unsigned char> img;
    ReadImage(colour).read(img);
    ASSERT_EQ(img.width(), std::size_t(w));
    ASSERT_EQ(img.height(), std::size_t(h));
    int worst = 0;
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x)
        for (int c = 0; c < 3; ++c)
          worst = std::max(worst, std::abs(int(img.channel(c)[x][y]) - rgb[(y * w + x) * 3 + c]));
    EXPECT_LE(worst, 8) << ext;
    EXPECT_EQ(get_image_dimensions(colour, FORMAT_JPEG),
              (std::vector<unsigned long long>{unsigned(w), unsigned(h)}));
  }
  const std::string mono = tmp.file("grey.jpg");
  tervik::testing::write_jpeg(mono, w, h, 1, grey);
  ImageRGB<unsigned char> as_rgb;
  ReadImage(mono).read(as_rgb);
  ImageGray<unsigned char> as_grey;
  ReadImage(mono).read(as_grey);
  for (std::size_t i = 0; i < std::size_t(w * h); ++i) {
    ASSERT_EQ(as_rgb.channel(0).data()[i], as_grey.channel(0).data()[i]);
    ASSERT_EQ(as_rgb.channel(1).data()[i], as_grey.channel(0).data()[i]);
    ASSERT_EQ(as_rgb.channel(2).data()[i], as_grey.channel(0).data()[i]);
    ASSERT_LE(std::abs(int(as_grey.channel(0).data()[i]) - grey[i]), 4);
  }
}

TEST(ReadImageTiff, EightAndSixteenBitFilesRoundTrip) {
  TempDir tmp;
  const int w = 19, h = 13;
  std::mt19937 rng(3);
  std::vector<unsigned short> wide(w * h * 3);
  for (auto& v : wide) v = 257 * (rng() & 255);  // exactly representable in 8 bits too
  std::vector<unsigned char> narrow(w * h);
  for (auto& v : narrow) v = rng() & 255;
  const std::string wide_name = tmp.file("wide.tif");
  const std::string narrow_name = tmp.file("narrow.tiff");
  tervik::testing::write_tiff(wide_name, w, h, 3, wide);
  tervik::testing::write_tiff(narrow_name, w, h, 1, narrow);

  ImageRGB<unsigned short> rgb16;
  ReadImage(wide_name).read(rgb16);
  ImageRGB<unsigned char> rgb8;
  ReadImage(wide_name).read(rgb8);
  ASSERT_EQ(rgb16.width(), std::size_t(w));
  ASSERT_EQ(rgb16.height(), std::size_t(h));
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(rgb16.channel(c)[x][y], wide[(y * w + x) * 3 + c]);
        ASSERT_EQ(rgb8.channel(c)[x][y], wide[(y * w + x) * 3 + c] / 257);
      }
  ImageGray<unsigned char> grey;
  ReadImage(narrow_name).read(grey);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(grey[x][y], narrow[y * w + x]);
  EXPECT_EQ(get_image_dimensions(narrow_name, FORMAT_TIFF),
            (std::vector<unsigned long long>{unsigned(w), unsigned(h)}));
}

TEST(ReadImage, MultiarrayFileIsNotAPixelImage) {
  TempDir tmp;
  const std::string name = tmp.file("labels.mult");
  write_file(name, "x");
  ImageGray<unsigned char> grey;
  EXPECT_EQ(message_of<TervikError>([&] { ReadImage(name).read(grey); }),
            "Reading unsupported image type (unknown extension)");
}

}  // namespace
}  // namespace tervik::io
