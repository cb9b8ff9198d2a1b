#include "tervik/plain_png.h"

#include <gtest/gtest.h>
#include <png.h>
#include <zlib.h>

#include <cstdio>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "test_util.h"
#include "tervik/image_files.h"
#include "tervik/io_auxiliar.h"
#include "tervik/readimage.h"

namespace tervik::io {
namespace {

using tervik::testing::read_file;
using tervik::testing::TempDir;
using tervik::testing::write_file;

// How a test file is written through libpng.
struct PngWriting {
  int color_type = PNG_COLOR_TYPE_RGB;
  int bit_depth = 8;
  int filters = PNG_ALL_FILTERS;  // the row filters libpng may choose from
  int level = Z_DEFAULT_COMPRESSION;
  int strategy = Z_FILTERED;
  int window_bits = 15;
  std::size_t buffer = 8192;  // the most image data per IDAT chunk
  bool interlaced = false;
  bool text = false;          // a tEXt chunk before the image data
  bool transparent = false;   // a tRNS chunk
};

// Writes `rows` (each row's packed bytes) as a PNG file as `how` says.
void write_png_file(const std::string& name, int width, int height, const PngWriting& how,
                    const std::vector<std::vector<unsigned char>>& rows) {
  std::FILE* f = std::fopen(name.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot create " + name);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_IHDR(png, info, width, height, how.bit_depth, how.color_type,
               how.interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_set_filter(png, PNG_FILTER_TYPE_BASE, how.filters);
  png_set_compression_level(png, how.level);
  png_set_compression_strategy(png, how.strategy);
  png_set_compression_window_bits(png, how.window_bits);
  png_set_compression_buffer_size(png, how.buffer);
  if (how.text) {
    png_text text{};
    text.compression = PNG_TEXT_COMPRESSION_NONE;
    text.key = const_cast<char*>("Comment");
    text.text = const_cast<char*>("test");
    png_set_text(png, info, &text, 1);
  }
  if (how.transparent) {
    png_color_16 colour{};
    png_set_tRNS(png, info, nullptr, 0, &colour);
  }
  png_write_info(png, info);
  const int passes = how.interlaced ? png_set_interlace_handling(png) : 1;
  for (int pass = 0; pass < passes; ++pass)
    for (const auto& row : rows) png_write_row(png, row.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

// Rows of `samples` bytes each: smooth ramps with noise in some places, so that libpng's
// adaptive filtering picks different filters from row to row.
std::vector<std::vector<unsigned char>> test_rows(int height, std::size_t samples, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<std::vector<unsigned char>> rows(height, std::vector<unsigned char>(samples));
  for (int y = 0; y < height; ++y)
    for (std::size_t i = 0; i < samples; ++i)
      rows[y][i] = static_cast<unsigned char>((y % 3 == 0 || i % 7 == 0) ? rng() : 3 * i + 5 * y);
  return rows;
}

// The pixels through PlainPng as planes, interleaved again (empty when it declines the file).
std::vector<unsigned char> plain_samples(const std::string& name, std::size_t channels) {
  PlainPng png;
  if (!png.read(name, channels)) return {};
  const std::size_t n = png.width() * png.height();
  std::vector<std::vector<unsigned char>> planes(channels, std::vector<unsigned char>(n, 7));
  unsigned char* p[3] = {};
  for (std::size_t c = 0; c < channels; ++c) p[c] = planes[c].data();
  png.write_planes(p);
  std::vector<unsigned char> out(n * channels);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t c = 0; c < channels; ++c) out[i * channels + c] = planes[c][i];
  return out;
}

TEST(PlainPng, GivesTheGeneralReadersPixelsForEveryFilterAndCompression) {
  TempDir tmp;
  const std::string name = tmp.file("plain.png");
  const int filters[] = {PNG_FILTER_NONE, PNG_FILTER_SUB,   PNG_FILTER_UP,
                         PNG_FILTER_AVG,  PNG_FILTER_PAETH, PNG_ALL_FILTERS};
  // Widths below, at and between whole blocks of 16 pixels, which RGB rows are split in.
  const int sizes[][2] = {{1, 1}, {2, 3}, {7, 5}, {16, 2}, {33, 17}, {47, 3}, {130, 9}};
  unsigned seed = 1;
  for (const std::size_t channels : {std::size_t{1}, std::size_t{3}}) {
    for (const auto& size : sizes) {
      for (const int filter : filters) {
        PngWriting how;
        how.color_type = channels == 1 ? PNG_COLOR_TYPE_GRAY : PNG_COLOR_TYPE_RGB;
        how.filters = filter;
        const auto rows = test_rows(size[1], size[0] * channels, seed++);
        write_png_file(name, size[0], size[1], how, rows);
        DecodedImage<unsigned char> general;
        decode_image_file(name, FORMAT_PNG, channels, general);
        SCOPED_TRACE(std::to_string(channels) + " channels, " + std::to_string(size[0]) + " x " +
                     std::to_string(size[1]) + ", filters " + std::to_string(filter));
        EXPECT_EQ(plain_samples(name, channels), general.samples);
      }
    }
  }
  // Compressions that change the stream: stored blocks, a small window, run-length matches
  // only, and image data spread over many IDAT chunks.
  std::vector<PngWriting> compressions(4);
  compressions[0].level = 0;
  compressions[1].window_bits = 9;
  compressions[2].strategy = Z_RLE;
  compressions[3].buffer = 64;
  for (const PngWriting& how : compressions) {
    write_png_file(name, 61, 23, how, test_rows(23, 61 * 3, seed++));
    DecodedImage<unsigned char> general;
    decode_image_file(name, FORMAT_PNG, 3, general);
    EXPECT_EQ(plain_samples(name, 3), general.samples)
        << "level " << how.level << ", window " << how.window_bits << ", strategy "
        << how.strategy << ", buffer " << how.buffer;
  }
}

TEST(PlainPng, DeclinesEveryOtherKindOfFileWhichTheReaderStillReads) {
  TempDir tmp;
  const std::string name = tmp.file("other.png");
  struct Case {
    const char* what;
    PngWriting how;
    std::size_t samples_per_pixel;  // in the file
    std::size_t channels;           // asked for
  };
  std::vector<Case> cases;
  const auto add = [&](const char* what, int color_type, int depth, std::size_t spp,
                       std::size_t channels) {
    Case c{what, PngWriting{}, spp, channels};
    c.how.color_type = color_type;
    c.how.bit_depth = depth;
    cases.push_back(c);
  };
  add("16-bit RGB", PNG_COLOR_TYPE_RGB, 16, 6, 3);
  add("RGBA", PNG_COLOR_TYPE_RGBA, 8, 4, 3);
  add("grey with alpha", PNG_COLOR_TYPE_GRAY_ALPHA, 8, 2, 1);
  add("4-bit grey", PNG_COLOR_TYPE_GRAY, 4, 1, 1);
  add("grey read as colour", PNG_COLOR_TYPE_GRAY, 8, 1, 3);
  add("colour read as grey", PNG_COLOR_TYPE_RGB, 8, 3, 1);
  add("interlaced", PNG_COLOR_TYPE_RGB, 8, 3, 3);
  cases.back().how.interlaced = true;
  add("with a text chunk", PNG_COLOR_TYPE_RGB, 8, 3, 3);
  cases.back().how.text = true;
  add("with a transparent colour", PNG_COLOR_TYPE_RGB, 8, 3, 3);
  cases.back().how.transparent = true;
  unsigned seed = 100;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const int w = 9, h = 6;
    const std::size_t row_bytes = (w * c.samples_per_pixel * c.how.bit_depth + 7) / 8;
    write_png_file(name, w, h, c.how, test_rows(h, row_bytes, seed++));
    PlainPng png;
    EXPECT_FALSE(png.read(name, c.channels));
    // The reader falls back on the general decoder for the same pixels.
    DecodedImage<unsigned char> general;
    decode_image_file(name, FORMAT_PNG, c.channels, general);
    if (c.channels == 1) {
      ImageGray<unsigned char> image;
      ReadImage(name).read(image);
      EXPECT_EQ(std::vector<unsigned char>(image.channel(0).data(), image.channel(0).data() + w * h),
                general.samples);
    } else {
      ImageRGB<unsigned char> image;
      ReadImage(name).read(image);
      std::vector<unsigned char> interleaved;
      for (std::size_t i = 0; i < std::size_t(w) * h; ++i)
        for (std::size_t k = 0; k < 3; ++k) interleaved.push_back(image.channel(k).data()[i]);
      EXPECT_EQ(interleaved, general.samples);
    }
  }
}

// Sets the CRC of the chunk whose type starts at `type` in `bytes` to match its contents.
void fix_crc(std::string& bytes, std::size_t type) {
  const std::size_t length = (std::size_t(static_cast<unsigned char>(bytes[type - 4])) << 24) |
                             (std::size_t(static_cast<unsigned char>(bytes[type - 3])) << 16) |
                             (std::size_t(static_cast<unsigned char>(bytes[type - 2])) << 8) |
                             static_cast<unsigned char>(bytes[type - 1]);
  const uLong crc = crc32(0, reinterpret_cast<const Bytef*>(bytes.data() + type), length + 4);
  for (int i = 0; i < 4; ++i)
    bytes[type + 4 + length + i] = static_cast<char>((crc >> (24 - 8 * i)) & 255);
}

TEST(PlainPng, DeclinesDamageOfAnyKindSoThatTheReaderReportsIt) {
  TempDir tmp;
  const std::string full = tmp.file("full.png");
  write_png_file(full, 23, 17, PngWriting{}, test_rows(17, 23 * 3, 7));
  const std::string bytes = read_file(full);
  const std::size_t ihdr = bytes.find("IHDR"), idat = bytes.find("IDAT");
  ASSERT_NE(idat, std::string::npos);
  const std::string name = tmp.file("bad.png");
  PlainPng png;
  ASSERT_TRUE(png.decode(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), 3));
  const auto declined = [&](const std::string& b) {
    return !png.decode(reinterpret_cast<const unsigned char*>(b.data()), b.size(), 3);
  };
  // Every prefix of the file.
  for (std::size_t n = 0; n < bytes.size(); ++n)
    ASSERT_TRUE(declined(bytes.substr(0, n))) << "prefix of " << n << " bytes";
  // A flipped bit anywhere in a chunk's type, data or CRC (the CRC or the inflating sees it).
  for (std::size_t at = ihdr; at < bytes.size(); ++at) {
    std::string bad = bytes;
    bad[at] ^= 0x10;
    ASSERT_TRUE(declined(bad)) << "byte " << at;
  }
  // Changed data with matching CRCs: the zlib checksum, a header value out of range.
  std::string bad = bytes;
  bad[idat + 10] ^= 0x01;
  fix_crc(bad, idat);
  EXPECT_TRUE(declined(bad));
  for (const auto& [offset, value] : {std::pair<std::size_t, char>{8, 16}, {10, 1}, {12, 1}}) {
    bad = bytes;
    bad[ihdr + 4 + offset] = value;  // depth 16, compression 1, interlace 1
    fix_crc(bad, ihdr);
    EXPECT_TRUE(declined(bad)) << "header byte " << offset;
  }
  // Well-formed streams of the wrong content: one byte too few and a row filter type of 5, which
  // the reader reports through the general decoder, and bytes after the stream's end, which the
  // general decoder lets pass.
  const std::size_t length = (static_cast<unsigned char>(bytes[idat - 2]) << 8) |
                             static_cast<unsigned char>(bytes[idat - 1]);
  ASSERT_EQ(bytes.compare(idat + 12 + length, 4, "IEND"), 0);
  std::string rows(17 * (1 + 23 * 3), '\0');
  uLongf size = rows.size();
  ASSERT_EQ(uncompress(reinterpret_cast<Bytef*>(rows.data()), &size,
                       reinterpret_cast<const Bytef*>(bytes.data() + idat + 4), length),
            Z_OK);
  const auto with_stream = [&](const std::string& z) {
    std::string file = bytes.substr(0, idat - 4);
    for (int i = 0; i < 4; ++i) file += static_cast<char>((z.size() >> (24 - 8 * i)) & 255);
    file += "IDAT" + z + "CRC!";
    fix_crc(file, idat);
    return file + bytes.substr(idat + 8 + length);  // the IEND chunk
  };
  const auto deflated = [](const std::string& raw) {
    std::string z(compressBound(raw.size()), '\0');
    uLongf n = z.size();
    compress(reinterpret_cast<Bytef*>(z.data()), &n, reinterpret_cast<const Bytef*>(raw.data()),
             raw.size());
    z.resize(n);
    return z;
  };
  ASSERT_FALSE(declined(with_stream(deflated(rows))));  // the rebuilt file itself is fine
  std::string filter5 = rows;
  filter5[5 * (1 + 23 * 3)] = 5;
  const std::string extra = with_stream(deflated(rows) + std::string(2, '\0'));
  EXPECT_TRUE(declined(extra));
  write_file(name, extra);
  ImageRGB<unsigned char> read, original;
  ReadImage(name).read(read);
  ReadImage(full).read(original);
  EXPECT_TRUE(tervik::testing::same_pixels(read, original));
  for (const std::string& file : {with_stream(deflated(rows.substr(1))),
                                  with_stream(deflated(filter5))}) {
    EXPECT_TRUE(declined(file));
    write_file(name, file);
    ImageRGB<unsigned char> image;
    try {
      ReadImage(name).read(image);
      ADD_FAILURE() << "read";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find("cannot decode PNG image: libpng: "), std::string::npos)
          << e.what();
    }
  }
}

}  // namespace
}  // namespace tervik::io
