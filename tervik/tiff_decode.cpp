#include "tervik/tiff_decode.h"

#include <tiffio.h>

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <memory>
#include <mutex>

#include "tervik/exceptions.h"

namespace tervik::io {

namespace {

// libtiff reports through process-wide handlers; its last error text is kept per thread so
// that the exception can carry it. Warnings (unknown tags and the like) are not failures and
// are dropped instead of being printed.
thread_local std::string tiff_last_error;

void tiff_error_handler(const char* module, const char* fmt, va_list ap) {
  char text[512];
  std::vsnprintf(text, sizeof text, fmt, ap);
  tiff_last_error = module != nullptr && *module != '\0' ? std::string(module) + ": " + text
                                                         : std::string(text);
}

void install_tiff_handlers() {
  static std::once_flag once;
  std::call_once(once, [] {
    TIFFSetErrorHandler(&tiff_error_handler);
    TIFFSetWarningHandler(nullptr);
  });
}

struct TiffCloser {
  void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffPtr = std::unique_ptr<TIFF, TiffCloser>;

[[noreturn]] void fail(const std::string& file, const std::string& why) {
  throw TervikFileError(file, "cannot decode TIFF image: " + why);
}

// The libtiff error text of the last failed call, for a message.
std::string libtiff_text() {
  return tiff_last_error.empty() ? std::string("libtiff reports an error")
                                 : "libtiff: " + tiff_last_error;
}

TiffPtr open_tiff(const std::string& file) {
  install_tiff_handlers();
  tiff_last_error.clear();
  // "m": read through read(2) rather than a memory map, so a file that shrinks while it is read
  // gives an error instead of SIGBUS.
  TiffPtr tif(TIFFOpen(file.c_str(), "rm"));
  if (!tif) throw TervikFileError(file, "cannot read TIFF file: " + libtiff_text());
  return tif;
}

const char* photometric_name(std::uint16_t photometric) {
  switch (photometric) {
    case PHOTOMETRIC_MINISWHITE: return "0 (grey, white is zero)";
    case PHOTOMETRIC_MINISBLACK: return "1 (grey)";
    case PHOTOMETRIC_RGB: return "2 (RGB)";
    case PHOTOMETRIC_PALETTE: return "3 (palette)";
    default: return nullptr;
  }
}

// The tags that fix how the samples of a pixel are laid out.
struct Layout {
  std::uint32_t width = 0, height = 0;
  std::uint16_t photometric = 0, spp = 1, bps = 1, planar = PLANARCONFIG_CONTIG;
  std::uint16_t sample_format = SAMPLEFORMAT_UINT, extra = 0;
};

Layout read_layout(TIFF* tif, const std::string& file) {
  Layout l;
  if (!TIFFGetField(tif, TIFFTAG_IMAGEWIDTH, &l.width) ||
      !TIFFGetField(tif, TIFFTAG_IMAGELENGTH, &l.height))
    fail(file, "the image width or length tag is missing");
  if (!TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &l.photometric))
    fail(file, "the photometric interpretation tag is missing");
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &l.spp);
  TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &l.bps);
  TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &l.planar);
  TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &l.sample_format);
  std::uint16_t* kinds = nullptr;
  TIFFGetFieldDefaulted(tif, TIFFTAG_EXTRASAMPLES, &l.extra, &kinds);
  return l;
}

// Checks the layout tags of a grey, RGB or palette image against each other.
void check_layout(const Layout& l, const std::string& file) {
  const std::string what = std::string("photometric interpretation ") +
                           photometric_name(l.photometric) + " with " + std::to_string(l.spp) +
                           " samples per pixel of " + std::to_string(l.bps) + " bits";
  if (l.planar != PLANARCONFIG_CONTIG && l.planar != PLANARCONFIG_SEPARATE)
    fail(file, "unknown planar configuration " + std::to_string(l.planar));
  if (l.sample_format != SAMPLEFORMAT_UINT)
    fail(file, "samples of format " + std::to_string(l.sample_format) +
                   " (only unsigned integer samples are read): save it with 8- or 16-bit "
                   "unsigned samples");
  bool ok = false;
  switch (l.photometric) {
    case PHOTOMETRIC_MINISWHITE:
    case PHOTOMETRIC_MINISBLACK:
      // One grey sample, and at most one extra sample (alpha, dropped).
      ok = (l.spp == 1 || (l.spp == 2 && l.extra == 1)) &&
           (l.bps == 1 || l.bps == 2 || l.bps == 4 || l.bps == 8 || l.bps == 16);
      break;
    case PHOTOMETRIC_RGB:
      ok = l.spp >= 3 && l.spp - 3 <= std::max<int>(l.extra, l.spp == 4 ? 1 : 0) &&
           (l.bps == 8 || l.bps == 16);
      break;
    case PHOTOMETRIC_PALETTE:
      ok = l.spp == 1 && (l.bps == 1 || l.bps == 2 || l.bps == 4 || l.bps == 8);
      break;
    default: break;
  }
  if (!ok)
    fail(file, what + " is not a consistent grey, RGB or palette layout that this reader "
                      "decodes; save it as 8- or 16-bit grey or RGB");
}

// Reads every row of every plane into `raw`: planes x height rows of row_bytes bytes, from
// strips or from tiles. `raw` grows with the rows actually decoded, so a short or damaged file
// fails before a buffer of the declared size is allocated.
void read_raw(TIFF* tif, const Layout& l, const std::string& file, std::size_t planes,
              std::size_t row_bytes, std::vector<unsigned char>& raw) {
  const std::size_t h = l.height;
  const std::size_t per_plane = l.planar == PLANARCONFIG_SEPARATE ? 1 : l.spp;
  if (!TIFFIsTiled(tif)) {
    if (static_cast<std::size_t>(TIFFScanlineSize64(tif)) != row_bytes)
      fail(file, "the strip layout does not match the declared samples");
    for (std::size_t p = 0; p < planes; ++p)
      for (std::size_t y = 0; y < h; ++y) {
        raw.resize((p * h + y + 1) * row_bytes);
        if (TIFFReadScanline(tif, raw.data() + (p * h + y) * row_bytes, static_cast<uint32_t>(y),
                             static_cast<uint16_t>(p)) < 0)
          fail(file, libtiff_text());
      }
    return;
  }
  std::uint32_t tw = 0, th = 0;
  TIFFGetField(tif, TIFFTAG_TILEWIDTH, &tw);
  TIFFGetField(tif, TIFFTAG_TILELENGTH, &th);
  const std::size_t tile_row = static_cast<std::size_t>(TIFFTileRowSize64(tif));
  if (tw == 0 || th == 0 || tile_row != (std::size_t(tw) * l.bps * per_plane + 7) / 8 ||
      (std::size_t(tw) * l.bps * per_plane) % 8 != 0)
    fail(file, "the tile layout does not match the declared samples");
  std::vector<unsigned char> tile(static_cast<std::size_t>(TIFFTileSize64(tif)));
  if (tile.size() < tile_row * th) fail(file, "the tile layout does not match the declared samples");
  for (std::size_t p = 0; p < planes; ++p)
    for (std::uint32_t ty = 0; ty < l.height; ty += th) {
      raw.resize((p * h + std::min<std::size_t>(std::size_t(ty) + th, h)) * row_bytes);
      for (std::uint32_t tx = 0; tx < l.width; tx += tw) {
        if (TIFFReadTile(tif, tile.data(), tx, ty, 0, static_cast<uint16_t>(p)) < 0)
          fail(file, libtiff_text());
        const std::size_t x_off = std::size_t(tx) * l.bps * per_plane / 8;
        const std::size_t n = std::min(tile_row, row_bytes - x_off);
        for (std::size_t r = 0; r < th && ty + r < l.height; ++r)
          std::memcpy(raw.data() + (p * h + ty + r) * row_bytes + x_off,
                      tile.data() + r * tile_row, n);
      }
    }
}

// Sample c of pixel (x, y) from the raw rows (native byte order after libtiff).
struct RawSamples {
  const unsigned char* data;
  std::size_t height, row_bytes, per_plane;
  int bps;
  bool separate;

  std::uint16_t at(std::size_t x, std::size_t y, std::size_t c) const {
    const std::size_t plane = separate ? c : 0;
    const std::size_t index = x * per_plane + (separate ? 0 : c);
    const unsigned char* row = data + (plane * height + y) * row_bytes;
    if (bps == 8) return row[index];
    if (bps == 16) {
      std::uint16_t v;
      std::memcpy(&v, row + 2 * index, 2);
      return v;
    }
    const std::size_t bit = index * bps;
    return (row[bit / 8] >> (8 - bps - bit % 8)) & ((1u << bps) - 1);
  }
};

// Decodes through libtiff's RGBA interface (YCbCr, CMYK, ...) into 8-bit RGB.
void decode_rgba(TIFF* tif, const std::string& file, const Layout& l, TiffPixels& out) {
  char emsg[1024] = {};
  if (!TIFFRGBAImageOK(tif, emsg))
    fail(file, std::string("libtiff: ") + emsg + "; save it as 8- or 16-bit grey or RGB");
  const std::size_t n = std::size_t(l.width) * l.height;
  // Left uninitialised: pages that libtiff never writes are never touched.
  std::unique_ptr<std::uint32_t[]> raster(new std::uint32_t[n]);
  if (!TIFFReadRGBAImageOriented(tif, l.width, l.height, raster.get(), ORIENTATION_TOPLEFT, 0))
    fail(file, libtiff_text());
  out.width = l.width;
  out.height = l.height;
  out.channels = 3;
  out.bits = 8;
  out.samples.resize(n * 3);
  for (std::size_t i = 0; i < n; ++i) {
    out.samples[3 * i] = TIFFGetR(raster[i]);
    out.samples[3 * i + 1] = TIFFGetG(raster[i]);
    out.samples[3 * i + 2] = TIFFGetB(raster[i]);
  }
}

}  // namespace

void decode_tiff(const std::string& filename, unsigned long long max_pixels, TiffPixels& out) {
  TiffPtr tif = open_tiff(filename);
  const Layout l = read_layout(tif.get(), filename);
  if (l.width == 0 || l.height == 0)
    fail(filename, "the header declares an empty image (" + std::to_string(l.width) + " x " +
                       std::to_string(l.height) + ")");
  if (l.width > max_pixels / l.height)
    fail(filename, "the header declares " + std::to_string(l.width) + " x " +
                       std::to_string(l.height) + " pixels, more than the " +
                       std::to_string(max_pixels) + " this reader accepts");
  if (photometric_name(l.photometric) == nullptr) return decode_rgba(tif.get(), filename, l, out);
  check_layout(l, filename);

  const bool separate = l.planar == PLANARCONFIG_SEPARATE && l.spp > 1;
  const std::size_t planes = separate ? l.spp : 1;
  const std::size_t per_plane = separate ? 1 : l.spp;
  const std::size_t row_bytes = (std::size_t(l.width) * l.bps * per_plane + 7) / 8;
  std::vector<unsigned char> raw;
  read_raw(tif.get(), l, filename, planes, row_bytes, raw);
  const RawSamples in{raw.data(), l.height, row_bytes, per_plane, l.bps, separate};

  TiffPixels result;
  result.width = l.width;
  result.height = l.height;
  const std::size_t n = std::size_t(l.width) * l.height;
  if (l.photometric == PHOTOMETRIC_PALETTE) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    if (!TIFFGetField(tif.get(), TIFFTAG_COLORMAP, &red, &green, &blue))
      fail(filename, "a palette image without a colour map");
    // libtiff's colour map holds 2^bits entries; every index of that many bits is inside it.
    result.channels = 3;
    result.bits = 16;
    result.samples.resize(n * 3);
    for (std::size_t y = 0, i = 0; y < l.height; ++y)
      for (std::size_t x = 0; x < l.width; ++x, ++i) {
        const std::uint16_t index = in.at(x, y, 0);
        result.samples[3 * i] = red[index];
        result.samples[3 * i + 1] = green[index];
        result.samples[3 * i + 2] = blue[index];
      }
  } else if (l.photometric == PHOTOMETRIC_RGB) {
    result.channels = l.spp == 4 ? 4 : 3;  // a fourth sample is alpha
    result.bits = l.bps;
    result.samples.resize(n * result.channels);
    for (std::size_t y = 0, i = 0; y < l.height; ++y)
      for (std::size_t x = 0; x < l.width; ++x)
        for (int c = 0; c < result.channels; ++c) result.samples[i++] = in.at(x, y, c);
  } else {
    // Grey: samples of fewer than 8 bits are widened to 8 (v * 255 / (2^bits - 1)); a white-is-
    // zero image is inverted so that 0 is black.
    result.channels = 1;
    result.bits = l.bps == 16 ? 16 : 8;
    const unsigned max_in = (1u << l.bps) - 1;
    const unsigned max_out = (1u << result.bits) - 1;
    const bool invert = l.photometric == PHOTOMETRIC_MINISWHITE;
    result.samples.resize(n);
    for (std::size_t y = 0, i = 0; y < l.height; ++y)
      for (std::size_t x = 0; x < l.width; ++x, ++i) {
        unsigned v = in.at(x, y, 0);
        if (invert) v = max_in - v;
        result.samples[i] = static_cast<std::uint16_t>(v * max_out / max_in);
      }
  }
  out = std::move(result);
}

std::vector<unsigned long long> read_tiff_dimensions(const std::string& filename) {
  TiffPtr tif = open_tiff(filename);
  const Layout l = read_layout(tif.get(), filename);
  return {l.width, l.height};
}

}  // namespace tervik::io
