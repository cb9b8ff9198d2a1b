// TIFF files as common writers make them, and TIFF files whose tags contradict each other.
#include "tervik/tiff_decode.h"

#include <gtest/gtest.h>
#include <tiffio.h>

#include <cstring>
#include <functional>
#include <random>

#include "tervik/exceptions.h"
#include "tervik/readimage.h"
#include "test_util.h"

namespace tervik::io {
namespace {

using tervik::testing::TempDir;

// The tags of a TIFF file to write; `samples` holds width x height x spp interleaved values.
struct TiffSpec {
  int width = 7, height = 5, spp = 3, bps = 8;
  int photometric = PHOTOMETRIC_RGB;
  int planar = PLANARCONFIG_CONTIG;
  int tile = 0;                         // tile side, 0 for strips
  std::function<void(TIFF*)> more_tags;  // extra tags (colour map, extra samples, ...)
};

void write_tiff(const std::string& name, const TiffSpec& s, const std::vector<unsigned>& samples) {
  TIFF* t = TIFFOpen(name.c_str(), "w");
  ASSERT_NE(t, nullptr);
  TIFFSetField(t, TIFFTAG_IMAGEWIDTH, s.width);
  TIFFSetField(t, TIFFTAG_IMAGELENGTH, s.height);
  TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, s.spp);
  TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, s.bps);
  TIFFSetField(t, TIFFTAG_PHOTOMETRIC, s.photometric);
  TIFFSetField(t, TIFFTAG_PLANARCONFIG, s.planar);
  if (s.more_tags) s.more_tags(t);
  // No resolution tags: most writers leave them out.
  const int planes = s.planar == PLANARCONFIG_SEPARATE ? s.spp : 1;
  const int per = s.planar == PLANARCONFIG_SEPARATE ? 1 : s.spp;
  // Packs the samples of pixels [x0, x0 + n) of row y, plane p, as the file stores them.
  auto pack = [&](int y, int x0, int n, int p, std::vector<unsigned char>& out) {
    std::fill(out.begin(), out.end(), 0);
    for (int x = 0; x < n && x0 + x < s.width; ++x)
      for (int c = 0; c < per; ++c) {
        const unsigned v = samples[(std::size_t(y) * s.width + x0 + x) * s.spp + p + c];
        const std::size_t bit = std::size_t(x * per + c) * s.bps;
        if (s.bps == 16) {
          const std::uint16_t w = static_cast<std::uint16_t>(v);
          std::memcpy(&out[bit / 8], &w, 2);
        } else {
          out[bit / 8] |= static_cast<unsigned char>(v << (8 - s.bps - bit % 8));
        }
      }
  };
  if (s.tile == 0) {
    TIFFSetField(t, TIFFTAG_ROWSPERSTRIP, 2);
    std::vector<unsigned char> row(TIFFScanlineSize(t));
    for (int p = 0; p < planes; ++p)
      for (int y = 0; y < s.height; ++y) {
        pack(y, 0, s.width, p, row);
        ASSERT_GE(TIFFWriteScanline(t, row.data(), y, p), 0);
      }
  } else {
    TIFFSetField(t, TIFFTAG_TILEWIDTH, s.tile);
    TIFFSetField(t, TIFFTAG_TILELENGTH, s.tile);
    std::vector<unsigned char> tile(TIFFTileSize(t));
    const std::size_t tile_row = TIFFTileRowSize(t);
    std::vector<unsigned char> row(tile_row);
    for (int p = 0; p < planes; ++p)
      for (int ty = 0; ty < s.height; ty += s.tile)
        for (int tx = 0; tx < s.width; tx += s.tile) {
          std::fill(tile.begin(), tile.end(), 0);
          for (int r = 0; r < s.tile && ty + r < s.height; ++r) {
            pack(ty + r, tx, s.tile, p, row);
            std::memcpy(&tile[r * tile_row], row.data(), tile_row);
          }
          ASSERT_GE(TIFFWriteTile(t, tile.data(), tx, ty, 0, p), 0);
        }
  }
  TIFFClose(t);
}

std::vector<unsigned> random_samples(const TiffSpec& s, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<unsigned> v(std::size_t(s.width) * s.height * s.spp);
  for (auto& x : v) x = rng() & ((1u << s.bps) - 1);
  return v;
}

template <typename ImageType>
std::string read_error(const std::string& name) {
  ImageType img;
  try {
    ReadImage(name).read(img);
  } catch (const TervikFileError& e) {
    return e.what();
  }
  return "";
}

TEST(TiffLayout, GreyPhotometricWithThreeSamplesIsRefusedNotOverrun) {
  // An RGB image whose header says grey: the decoder once wrote three samples per pixel into a
  // one-sample row buffer.
  TempDir tmp;
  TiffSpec s;
  s.photometric = PHOTOMETRIC_MINISBLACK;
  const std::string name = tmp.file("grey3.tif");
  write_tiff(name, s, random_samples(s, 1));
  const std::string expected =
      "Error in file '" + name + "': cannot decode TIFF image: photometric interpretation 1 "
      "(grey) with 3 samples per pixel of 8 bits is not a consistent grey, RGB or palette layout "
      "that this reader decodes; save it as 8- or 16-bit grey or RGB";
  EXPECT_EQ(read_error<ImageGray<unsigned char>>(name), expected);
  EXPECT_EQ(read_error<ImageRGB<unsigned short>>(name), expected);
  // RGB with one sample, a 12-bit RGB and floating-point samples are refused the same way.
  s.photometric = PHOTOMETRIC_RGB;
  s.spp = 1;
  write_tiff(name, s, random_samples(s, 2));
  EXPECT_NE(read_error<ImageRGB<unsigned char>>(name).find("photometric interpretation 2 (RGB) "
                                                           "with 1 samples per pixel of 8 bits"),
            std::string::npos);
  s.spp = 3;
  s.more_tags = [](TIFF* t) { TIFFSetField(t, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_IEEEFP); };
  s.bps = 16;
  write_tiff(name, s, random_samples(s, 3));
  EXPECT_EQ(read_error<ImageRGB<unsigned char>>(name),
            "Error in file '" + name + "': cannot decode TIFF image: samples of format 3 (only "
            "unsigned integer samples are read): save it with 8- or 16-bit unsigned samples");
}

TEST(TiffLayout, FilesWithoutResolutionTagsTilesAndPlanesDecodeAlike) {
  TempDir tmp;
  TiffSpec s;
  s.width = 37;
  s.height = 21;
  const std::vector<unsigned> samples = random_samples(s, 4);
  const std::string strips = tmp.file("strips.tif");
  write_tiff(strips, s, samples);
  ImageRGB<unsigned char> reference;
  ReadImage(strips).read(reference);
  for (int y = 0; y < s.height; ++y)
    for (int x = 0; x < s.width; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(reference.channel(c)[x][y], samples[(y * s.width + x) * 3 + c]);
  ImageGray<unsigned char> grey_reference;
  ReadImage(strips).read(grey_reference);
  const std::pair<int, int> variants[] = {{PLANARCONFIG_SEPARATE, 0},
                                          {PLANARCONFIG_CONTIG, 16},
                                          {PLANARCONFIG_SEPARATE, 16}};
  for (const auto& [planar, tile] : variants) {
    TiffSpec v = s;
    v.planar = planar;
    v.tile = tile;
    const std::string name = tmp.file("v" + std::to_string(planar) + "_" +
                                      std::to_string(tile) + ".tif");
    write_tiff(name, v, samples);
    ImageRGB<unsigned char> rgb;
    ReadImage(name).read(rgb);
    ImageGray<unsigned char> grey;
    ReadImage(name).read(grey);
    for (int c = 0; c < 3; ++c)
      EXPECT_TRUE(std::equal(rgb.channel(c).data(), rgb.channel(c).data() + 37 * 21,
                             reference.channel(c).data()))
          << name;
    EXPECT_TRUE(std::equal(grey.channel(0).data(), grey.channel(0).data() + 37 * 21,
                           grey_reference.channel(0).data()))
        << name;
  }
  EXPECT_EQ(read_tiff_dimensions(strips), (std::vector<unsigned long long>{37, 21}));
}

TEST(TiffLayout, PaletteGreyAlphaAndWhiteIsZeroFilesAreRead) {
  TempDir tmp;
  // A 4-bit palette: entry i is (17 i, 255 - 17 i, 3 i) in 16-bit colour-map units.
  std::vector<std::uint16_t> red(16), green(16), blue(16);
  for (int i = 0; i < 16; ++i) {
    red[i] = 257 * (17 * i);
    green[i] = 257 * (255 - 17 * i);
    blue[i] = 257 * (3 * i);
  }
  TiffSpec pal;
  pal.spp = 1;
  pal.bps = 4;
  pal.photometric = PHOTOMETRIC_PALETTE;
  pal.more_tags = [&](TIFF* t) {
    TIFFSetField(t, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  };
  const std::vector<unsigned> indices = random_samples(pal, 5);
  const std::string palette = tmp.file("palette.tif");
  write_tiff(palette, pal, indices);
  ImageRGB<unsigned char> rgb;
  ReadImage(palette).read(rgb);
  for (int y = 0; y < pal.height; ++y)
    for (int x = 0; x < pal.width; ++x) {
      const unsigned i = indices[y * pal.width + x];
      ASSERT_EQ(rgb.channel(0)[x][y], 17 * i);
      ASSERT_EQ(rgb.channel(1)[x][y], 255 - 17 * i);
      ASSERT_EQ(rgb.channel(2)[x][y], 3 * i);
    }

  // Grey with an alpha sample: the alpha is dropped.
  TiffSpec ga;
  ga.spp = 2;
  ga.photometric = PHOTOMETRIC_MINISBLACK;
  ga.more_tags = [](TIFF* t) {
    const std::uint16_t kind = EXTRASAMPLE_UNASSALPHA;
    TIFFSetField(t, TIFFTAG_EXTRASAMPLES, 1, &kind);
  };
  const std::vector<unsigned> ga_samples = random_samples(ga, 6);
  const std::string grey_alpha = tmp.file("grey_alpha.tif");
  write_tiff(grey_alpha, ga, ga_samples);
  ImageGray<unsigned char> grey;
  ReadImage(grey_alpha).read(grey);
  for (int y = 0; y < ga.height; ++y)
    for (int x = 0; x < ga.width; ++x) ASSERT_EQ(grey[x][y], ga_samples[(y * ga.width + x) * 2]);

  // White is zero, 1 bit per pixel: a 1 sample is black.
  TiffSpec bw;
  bw.spp = 1;
  bw.bps = 1;
  bw.photometric = PHOTOMETRIC_MINISWHITE;
  const std::vector<unsigned> bits = random_samples(bw, 7);
  const std::string white = tmp.file("white_is_zero.tif");
  write_tiff(white, bw, bits);
  ReadImage(white).read(grey);
  for (int y = 0; y < bw.height; ++y)
    for (int x = 0; x < bw.width; ++x) ASSERT_EQ(grey[x][y], bits[y * bw.width + x] ? 0 : 255);
}

TEST(TiffLayout, OtherColourSpacesGoThroughLibtiffRgba) {
  TempDir tmp;
  TiffSpec cmyk;
  cmyk.spp = 4;
  cmyk.photometric = PHOTOMETRIC_SEPARATED;
  std::vector<unsigned> samples(std::size_t(cmyk.width) * cmyk.height * 4, 0);
  for (std::size_t i = 0; i < samples.size(); i += 4) samples[i + 3] = i % 8 == 0 ? 255 : 0;
  const std::string name = tmp.file("cmyk.tif");
  write_tiff(name, cmyk, samples);
  ImageRGB<unsigned char> rgb;
  ReadImage(name).read(rgb);
  for (std::size_t i = 0; i < std::size_t(cmyk.width) * cmyk.height; ++i)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(rgb.channel(c).data()[i], i % 2 == 0 ? 0 : 255) << i;
}

}  // namespace
}  // namespace tervik::io
