// Bad image files: every failure is an exception that names the file, and the destination
// image keeps its contents.
#include "tervik/io_auxiliar.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <random>

#include "tervik/image_files.h"
#include "tervik/readimage.h"
#include "tervik/writeimage.h"
#include "test_util.h"

namespace tervik::io {
namespace {

using tervik::testing::read_file;
using tervik::testing::same_pixels;
using tervik::testing::TempDir;
using tervik::testing::write_file;

// A 3 x 2 sentinel image that a failed read must leave as it is.
ImageRGB<unsigned char> sentinel() {
  ImageRGB<unsigned char> img(3, 2);
  img = static_cast<unsigned char>(42);
  return img;
}

bool is_sentinel(const ImageRGB<unsigned char>& img) {
  if (img.width() != 3 || img.height() != 2) return false;
  for (std::size_t c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < 6; ++i)
      if (img.channel(c).data()[i] != 42) return false;
  return true;
}

// Reads `name` into a sentinel image and returns the error message ("" if it succeeded);
// checks that a failure is a TervikFileError naming the file and keeps the destination.
std::string failed_read(const std::string& name, ImageRGB<unsigned char>* decoded = nullptr) {
  ImageRGB<unsigned char> img = sentinel();
  try {
    ReadImage(name).read(img);
  } catch (const TervikFileError& e) {
    const std::string what = e.what();
    EXPECT_EQ(what.rfind("Error in file '" + name + "': ", 0), 0u) << what;
    EXPECT_TRUE(is_sentinel(img)) << "destination changed by a failed read of " << name;
    return what;
  }
  if (decoded) *decoded = img;
  return "";
}

ImageRGB<unsigned char> noisy_rgb(std::size_t w, std::size_t h) {
  std::mt19937 rng(5);
  ImageRGB<unsigned char> img(w, h);
  for (std::size_t c = 0; c < 3; ++c)
    for (std::size_t i = 0; i < w * h; ++i) img.channel(c).data()[i] = (i * 3 + c * 50 + rng() % 9);
  return img;
}

TEST(BadImageFiles, EmptyAndGarbageFilesOfEveryFormat) {
  TempDir tmp;
  for (const char* ext : {".png", ".jpg", ".jpeg", ".tif", ".tiff"}) {
    const std::string empty = tmp.file(std::string("empty") + ext);
    write_file(empty, "");
    EXPECT_EQ(failed_read(empty), "Error in file '" + empty + "': the file is empty");
    const std::string garbage = tmp.file(std::string("garbage") + ext);
    write_file(garbage, "this is not an image file at all, only some text\n");
    EXPECT_NE(failed_read(garbage), "") << ext;
  }
  const std::string png = tmp.file("garbage.png");
  EXPECT_EQ(failed_read(png), "Error in file '" + png + "': not a PNG file (no PNG signature)");
  const std::string jpg = tmp.file("garbage.jpg");
  EXPECT_EQ(failed_read(jpg),
            "Error in file '" + jpg + "': not a JPEG file (no start-of-image marker)");
  // A valid start marker followed by nothing that libjpeg accepts.
  write_file(jpg, std::string("\xFF\xD8\xFF\xE0\x00\x02\xFF\xDA\x00\x02\x00", 11));
  EXPECT_EQ(failed_read(jpg), "Error in file '" + jpg + "': cannot decode JPEG image: jpeg is invalid.");
}

TEST(BadImageFiles, EveryTruncatedPngFails) {
  TempDir tmp;
  const std::string full = tmp.file("full.png");
  write_png(full, noisy_rgb(7, 5));
  const std::string bytes = read_file(full);
  for (std::size_t n = 1; n < bytes.size(); ++n) {
    // A fresh name per try: rewriting one file makes ext4 flush it each time.
    const std::string cut = tmp.file("cut" + std::to_string(n) + ".png");
    write_file(cut, bytes.substr(0, n));
    ASSERT_NE(failed_read(cut), "") << "prefix of " << n << " bytes was accepted";
  }
  const std::string cut = tmp.file("cut.png");
  write_file(cut, bytes.substr(0, bytes.size() - 12));  // without IEND
  EXPECT_EQ(failed_read(cut), "Error in file '" + cut + "': truncated PNG file: it ends at byte " +
                                  std::to_string(bytes.size() - 12) + " without an IEND chunk");
}

TEST(BadImageFiles, CorruptPngDataFails) {
  TempDir tmp;
  const std::string full = tmp.file("full.png");
  write_png(full, noisy_rgb(23, 17));
  const std::string bytes = read_file(full);
  const std::size_t idat = bytes.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  // A changed byte in the compressed data: zlib finds the damage before the CRC check.
  std::string bad = bytes;
  bad[idat + 10] ^= 0x5a;
  const std::string name = tmp.file("bad.png");
  write_file(name, bad);
  EXPECT_NE(failed_read(name).find("cannot decode PNG image: libpng: IDAT: "), std::string::npos)
      << failed_read(name);
  // A changed CRC alone.
  const std::size_t idat_length = (static_cast<unsigned char>(bytes[idat - 2]) << 8) |
                                  static_cast<unsigned char>(bytes[idat - 1]);
  bad = bytes;
  bad[idat + 4 + idat_length] ^= 1;
  write_file(name, bad);
  EXPECT_EQ(failed_read(name),
            "Error in file '" + name + "': cannot decode PNG image: libpng: IDAT: CRC error");
}

TEST(BadImageFiles, PngWithHugeDeclaredSizeIsRejectedBeforeAllocation) {
  TempDir tmp;
  const std::string full = tmp.file("full.png");
  write_png(full, noisy_rgb(4, 4));
  std::string bytes = read_file(full);
  // IHDR data starts at byte 16: width and height, big-endian; then fix the chunk's CRC.
  const unsigned char dims[8] = {0, 1, 0, 0, 0, 1, 0, 0};  // 65536 x 65536
  for (int i = 0; i < 8; ++i) bytes[16 + i] = static_cast<char>(dims[i]);
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + 12), 17);
  for (int i = 0; i < 4; ++i) bytes[29 + i] = static_cast<char>((crc >> (24 - 8 * i)) & 255);
  const std::string name = tmp.file("huge.png");
  write_file(name, bytes);
  EXPECT_EQ(failed_read(name), "Error in file '" + name +
                                   "': cannot decode PNG image: the header declares 65536 x "
                                   "65536 pixels, more than the 268435456 this reader accepts");
  EXPECT_EQ(get_image_dimensions(name, FORMAT_PNG),
            (std::vector<unsigned long long>{65536, 65536}));
}

// The RGBA decoder (make_masks --from alpha) goes through the same checks: a 74-byte file that
// declares 10^6 x 10^6 pixels is refused from its header.
TEST(BadImageFiles, RgbaDecoderRefusesHugeDeclaredSizeFromTheHeader) {
  TempDir tmp;
  const std::string full = tmp.file("full.png");
  write_png(full, noisy_rgb(4, 4));
  std::string bytes = read_file(full);
  const unsigned char dims[8] = {0, 0x0f, 0x42, 0x40, 0, 0x0f, 0x42, 0x40};  // 10^6 x 10^6
  for (int i = 0; i < 8; ++i) bytes[16 + i] = static_cast<char>(dims[i]);
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + 12), 17);
  for (int i = 0; i < 4; ++i) bytes[29 + i] = static_cast<char>((crc >> (24 - 8 * i)) & 255);
  const std::string name = tmp.file("bomb.png");
  write_file(name, bytes);
  DecodedImage<unsigned char> out;
  bool alpha = true;
  try {
    decode_png_rgba(name, out, alpha);
    FAIL() << "no exception";
  } catch (const TervikFileError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Error in file '" + name + "': cannot decode PNG image: the header declares 1000000 x "
              "1000000 pixels, more than the 268435456 this reader accepts");
  }
  EXPECT_TRUE(out.samples.empty());
  // A sound file: RGBA samples, alpha 255 where the file has none.
  decode_png_rgba(full, out, alpha);
  EXPECT_FALSE(alpha);
  ASSERT_EQ(out.samples.size(), 4u * 4u * 4u);
  EXPECT_EQ(out.samples[3], 255);
}

// An embedded colour profile that libpng rejects (here: an unknown compression method) makes
// libpng warn on standard error; the readers decode such files silently, with the same pixels.
TEST(CommonImageFiles, PngWithBadColourProfileDecodesSilently) {
  TempDir tmp;
  const std::string plain = tmp.file("plain.png");
  const ImageRGB<unsigned char> image = noisy_rgb(9, 7);
  write_png(plain, image);
  std::string bytes = read_file(plain);
  const std::string data = std::string("icc\0\x07", 5) + "profile";
  std::string chunk = "iCCP" + data;
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(chunk.data()), uInt(chunk.size()));
  std::string framed;
  for (int i = 0; i < 4; ++i) framed += static_cast<char>((data.size() >> (24 - 8 * i)) & 255);
  framed += chunk;
  for (int i = 0; i < 4; ++i) framed += static_cast<char>((crc >> (24 - 8 * i)) & 255);
  bytes.insert(33, framed);  // after the signature and IHDR
  const std::string name = tmp.file("icc.png");
  write_file(name, bytes);
  ::testing::internal::CaptureStderr();
  ImageRGB<unsigned char> rgb;
  ReadImage(name).read(rgb);
  ImageGray<unsigned char> grey;
  ReadImage(name).read(grey);
  DecodedImage<unsigned char> rgba;
  bool alpha = false;
  decode_png_rgba(name, rgba, alpha);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_TRUE(same_pixels(rgb, image));
  EXPECT_EQ(get_image_dimensions(name, FORMAT_PNG), (std::vector<unsigned long long>{9, 7}));
}

TEST(CommonImageFiles, GreyAlphaPngIsReadAsGreyWithAlphaDropped) {
  TempDir tmp;
  // 4 x 3 pixels of (grey, alpha): grey 10 * (x + 4 y), alpha 0 on the left half, 255 right.
  std::vector<std::vector<unsigned char>> rows(3, std::vector<unsigned char>(8));
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      rows[y][2 * x] = static_cast<unsigned char>(10 * (x + 4 * y));
      rows[y][2 * x + 1] = x < 2 ? 0 : 255;
    }
  const std::string name = tmp.file("ga.png");
  tervik::testing::write_png_raw(name, 4, 3, PNG_COLOR_TYPE_GRAY_ALPHA, 8, rows);
  ImageGray<unsigned char> grey;
  ReadImage(name).read(grey);
  ImageRGB<unsigned char> rgb;
  ReadImage(name).read(rgb);
  ASSERT_EQ(grey.width(), 4u);
  ASSERT_EQ(rgb.height(), 3u);
  for (int y = 0; y < 3; ++y)
    for (int x = 0; x < 4; ++x) {
      EXPECT_EQ(grey[x][y], 10 * (x + 4 * y));
      for (int c = 0; c < 3; ++c) EXPECT_EQ(rgb.channel(c)[x][y], 10 * (x + 4 * y));
    }
  // 16-bit grey with alpha: big-endian 200*256+200 = 51400, 8-bit 200.
  std::vector<std::vector<unsigned char>> wide_rows(3, std::vector<unsigned char>(16, 200));
  const std::string wide_name = tmp.file("ga16.png");
  tervik::testing::write_png_raw(wide_name, 4, 3, PNG_COLOR_TYPE_GRAY_ALPHA, 16, wide_rows);
  ImageGray<unsigned short> wide;
  ReadImage(wide_name).read(wide);
  ImageGray<unsigned char> narrow;
  ReadImage(wide_name).read(narrow);
  EXPECT_EQ(wide[3][2], 51400);
  EXPECT_EQ(narrow[3][2], 200);
}

TEST(CommonImageFiles, PackedGreyPngIsWidenedToFullRange) {
  // 1, 2 and 4-bit grey at widths whose rows end inside a byte: sample v of b bits reads as
  // v * 255 / (2^b - 1), and nothing is read past a row (the sanitizer build checks that).
  TempDir tmp;
  for (const int bits : {1, 2, 4})
    for (const int width : {1, 3, 9, 13}) {
      SCOPED_TRACE("bits " + std::to_string(bits) + ", width " + std::to_string(width));
      const int height = 3, top = (1 << bits) - 1;
      const auto sample = [&](int x, int y) { return (x * 7 + y * 3 + 1) % (top + 1); };
      std::vector<std::vector<unsigned char>> rows(
          height, std::vector<unsigned char>(std::size_t((width * bits + 7) / 8), 0));
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
          const int shift = 8 - bits - (x * bits) % 8;  // the first pixel in the high bits
          rows[y][std::size_t(x * bits / 8)] |= static_cast<unsigned char>(sample(x, y) << shift);
        }
      const std::string name = tmp.file("packed.png");
      tervik::testing::write_png_raw(name, width, height, PNG_COLOR_TYPE_GRAY, bits, rows);
      ImageGray<unsigned char> grey;
      ReadImage(name).read(grey);
      ASSERT_EQ(grey.width(), std::size_t(width));
      ASSERT_EQ(grey.height(), std::size_t(height));
      for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) EXPECT_EQ(grey[x][y], sample(x, y) * 255 / top);
    }
}

// A baseline JPEG of 16 x 8 noisy pixels, its bytes and its decoded reference.
struct JpegSample {
  std::string bytes;
  ImageRGB<unsigned char> decoded;
};

JpegSample jpeg_sample(const TempDir& tmp) {
  const std::string name = tmp.file("sample.jpg");
  ImageRGB<unsigned char> src = noisy_rgb(16, 8);
  std::vector<unsigned char> samples(16 * 8 * 3);
  for (std::size_t i = 0; i < 16 * 8; ++i)
    for (std::size_t c = 0; c < 3; ++c) samples[i * 3 + c] = src.channel(c).data()[i];
  tervik::testing::write_jpeg(name, 16, 8, 3, samples);
  JpegSample s;
  s.bytes = read_file(name);
  ReadImage(name).read(s.decoded);
  return s;
}

TEST(CommonImageFiles, JpegWithHarmlessWarningsIsRead) {
  TempDir tmp;
  const JpegSample s = jpeg_sample(tmp);
  // Extraneous bytes before the first marker after the start-of-image marker.
  const std::string extra = tmp.file("extra.jpg");
  std::string extra_bytes = s.bytes;
  extra_bytes.insert(2, std::string("\x00\x11\x22", 3));
  write_file(extra, extra_bytes);
  ImageRGB<unsigned char> img;
  EXPECT_EQ(failed_read(extra, &img), "");
  EXPECT_TRUE(same_pixels(img, s.decoded));
  // An unknown JFIF major revision (the APP0 segment's version byte).
  const std::size_t jfif = s.bytes.find("JFIF");
  ASSERT_NE(jfif, std::string::npos);
  std::string revised = s.bytes;
  revised[jfif + 5] = 7;
  const std::string rev = tmp.file("revision.jpg");
  write_file(rev, revised);
  EXPECT_EQ(failed_read(rev, &img), "");
  EXPECT_TRUE(same_pixels(img, s.decoded));
}

TEST(BadImageFiles, TruncatedJpegFailsInsteadOfExiting) {
  // libjpeg's own error handler would end the process; a truncated file must throw, or (when
  // only the end marker is missing) decode to exactly the full image.
  TempDir tmp;
  const std::string full = tmp.file("full.jpg");
  ImageRGB<unsigned char> src = noisy_rgb(16, 8);
  std::vector<unsigned char> samples(16 * 8 * 3);
  for (std::size_t i = 0; i < 16 * 8; ++i)
    for (std::size_t c = 0; c < 3; ++c) samples[i * 3 + c] = src.channel(c).data()[i];
  tervik::testing::write_jpeg(full, 16, 8, 3, samples);
  ImageRGB<unsigned char> reference;
  ReadImage(full).read(reference);
  const std::string bytes = read_file(full);
  std::size_t accepted = 0;
  for (std::size_t n = 1; n < bytes.size(); ++n) {
    // A fresh name per try: rewriting one file makes ext4 flush it each time.
    const std::string cut = tmp.file("cut" + std::to_string(n) + ".jpg");
    write_file(cut, bytes.substr(0, n));
    ImageRGB<unsigned char> img;
    if (failed_read(cut, &img).empty()) {
      ++accepted;
      for (std::size_t c = 0; c < 3; ++c)
        ASSERT_TRUE(std::equal(img.channel(c).data(), img.channel(c).data() + 16 * 8,
                               reference.channel(c).data()))
            << "prefix of " << n << " bytes decoded to a different image";
    }
  }
  EXPECT_LE(accepted, 2u);  // at most the prefixes that lack only the end marker
  const std::string cut = tmp.file("cut.jpg");
  write_file(cut, bytes.substr(0, bytes.size() - 20));
  EXPECT_EQ(failed_read(cut), "Error in file '" + cut +
                                  "': cannot decode JPEG image: libjpeg: Corrupt JPEG data: "
                                  "premature end of data segment");
  write_file(cut, bytes.substr(0, 100));
  EXPECT_EQ(failed_read(cut), "Error in file '" + cut +
                                  "': truncated JPEG file: segment 0xDB at byte 89 ends past "
                                  "the end of the file");
  // An end marker in the middle of the scan data.
  std::string bad = bytes;
  bad[bytes.size() - 30] = '\xFF';
  bad[bytes.size() - 29] = '\xD9';
  write_file(cut, bad);
  EXPECT_NE(failed_read(cut).find("cannot decode JPEG image: libjpeg: Corrupt JPEG data"),
            std::string::npos)
      << failed_read(cut);
}

TEST(BadImageFiles, TruncatedTiffFailsOrDecodesExactly) {
  TempDir tmp;
  const int w = 5, h = 4;
  std::vector<unsigned char> samples(w * h * 3);
  for (std::size_t i = 0; i < samples.size(); ++i) samples[i] = (i * 37) & 255;
  const std::string full = tmp.file("full.tif");
  tervik::testing::write_tiff(full, w, h, 3, samples);
  const std::string bytes = read_file(full);
  for (std::size_t n = 1; n < bytes.size(); ++n) {
    // A fresh name per try: rewriting one file makes ext4 flush it each time.
    const std::string cut = tmp.file("cut" + std::to_string(n) + ".tif");
    write_file(cut, bytes.substr(0, n));
    ImageRGB<unsigned char> img;
    if (failed_read(cut, &img).empty()) {
      ASSERT_EQ(img.width(), std::size_t(w)) << n;
      for (int i = 0; i < w * h; ++i)
        for (int c = 0; c < 3; ++c)
          ASSERT_EQ(img.channel(c).data()[i], samples[i * 3 + c]) << "prefix of " << n << " bytes";
    }
  }
}

}  // namespace
}  // namespace tervik::io
