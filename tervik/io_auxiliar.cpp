// Image formats by extension and the JPEG/PNG/TIFF codecs, through Boost.GIL's I/O extension.
//
// Boost.GIL's JPEG and PNG readers answer a fatal libjpeg/libpng error with longjmp to a
// setjmp point; some of those points belong to functions that have already returned when the
// error is raised (libpng's png_read_end, libjpeg's jpeg_finish_decompress), and a jump there
// is undefined behaviour. The readers below therefore replace the libraries' error callbacks,
// once GIL has set them up, by callbacks that throw: the error then unwinds through the decoder
// like any C++ exception (the Debian libraries carry unwind tables). libjpeg's warnings
// (truncated or corrupt data, filled in with grey by the decoder) are errors here too.
//
// This file is compiled as C++17: the GIL I/O headers of Boost 1.74 do not parse as C++20.
#include "tervik/io_auxiliar.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <cstdio>
#include <fstream>
#include <ios>
#include <iterator>
#include <limits>
#include <memory>
#include <sstream>
#include <stdexcept>

#include <boost/filesystem.hpp>
#include <boost/gil.hpp>
#include <boost/gil/extension/io/jpeg.hpp>
#include <boost/gil/extension/io/png.hpp>
#include <jerror.h>

#include "tervik/atomic_file.h"
#include "tervik/exceptions.h"
#include "tervik/input_file.h"
#include "tervik/tiff_decode.h"

namespace tervik::io {

namespace gil = boost::gil;

std::string file_extension(const std::string& filename) {
  return boost::filesystem::path(filename).extension().string();
}

ImageFormat get_image_format(const std::string& filename) {
  const std::string ext = file_extension(filename);
  if (ext == ".jpg" || ext == ".jpeg") return FORMAT_JPEG;
  if (ext == ".png") return FORMAT_PNG;
  if (ext == ".tiff" || ext == ".tif") return FORMAT_TIFF;
  if (ext == ".mult" || ext == ".prl") return FORMAT_MULTIARRAY;
  return FORMAT_UNKNOWN;
}

namespace {

using ConvertPolicy = gil::detail::read_and_convert<gil::default_color_converter>;
template <typename Tag>
using GilReader = typename gil::get_reader<std::string, Tag, ConvertPolicy>::type;
template <typename Tag>
using FileDevice = gil::detail::file_stream_device<Tag>;

const char* format_name(ImageFormat format) {
  switch (format) {
    case FORMAT_JPEG: return "JPEG";
    case FORMAT_PNG: return "PNG";
    case FORMAT_TIFF: return "TIFF";
    default: return "unsupported";
  }
}

// The text of an exception, less the ": iostream error" that std::ios_base::failure (GIL's
// error type) appends to every message.
std::string gil_text(const std::exception& e) {
  std::string text = e.what();
  const std::string suffix = ": iostream error";
  if (dynamic_cast<const std::ios_base::failure*>(&e) && text.size() > suffix.size() &&
      text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0)
    text.resize(text.size() - suffix.size());
  return text;
}

// Throws unless the header's size is non-empty and within max_image_pixels.
void check_declared_size(unsigned long long width, unsigned long long height) {
  if (width == 0 || height == 0)
    throw std::runtime_error("the header declares an empty image (" + std::to_string(width) +
                             " x " + std::to_string(height) + ")");
  if (width > max_image_pixels / height)
    throw std::runtime_error("the header declares " + std::to_string(width) + " x " +
                             std::to_string(height) + " pixels, more than the " +
                             std::to_string(max_image_pixels) + " this reader accepts");
}

// libjpeg callbacks: a fatal error or a warning throws with libjpeg's own text.
[[noreturn]] void jpeg_throw(j_common_ptr cinfo) {
  char text[JMSG_LENGTH_MAX] = {};
  (*cinfo->err->format_message)(cinfo, text);
  throw std::runtime_error(std::string("libjpeg: ") + text);
}
// libjpeg warnings that mean the decoder filled in missing or damaged image data: the file
// ends early or its entropy-coded data is corrupt. Other warnings (extraneous bytes before a
// marker, an unknown JFIF revision, a bad ICC marker) leave the image intact and are dropped,
// as are trace messages.
void jpeg_emit(j_common_ptr cinfo, int msg_level) {
  if (msg_level >= 0) return;
  switch (cinfo->err->msg_code) {
    case JWRN_JPEG_EOF:
    case JWRN_HIT_MARKER:
    case JWRN_HUFF_BAD_CODE:
    case JWRN_MUST_RESYNC:
    case JWRN_NOT_SEQUENTIAL:
    case JWRN_BOGUS_PROGRESSION: jpeg_throw(cinfo);
    default: return;
  }
}

// A GIL JPEG reader whose libjpeg errors and warnings throw once the header is read.
class StrictJpegReader : public GilReader<gil::jpeg_tag> {
 public:
  using Base = GilReader<gil::jpeg_tag>;
  explicit StrictJpegReader(const std::string& name)
      : Base(FileDevice<gil::jpeg_tag>(name, FileDevice<gil::jpeg_tag>::read_tag()),
             ConvertPolicy::color_converter_type(), gil::image_read_settings<gil::jpeg_tag>()) {
    this->_jerr.error_exit = &jpeg_throw;
    this->_jerr.emit_message = &jpeg_emit;
  }
  unsigned long long width() const { return this->_info._width; }
  unsigned long long height() const { return this->_info._height; }
};

// libpng callbacks: errors throw with libpng's text; warnings are not failures and are dropped.
[[noreturn]] void png_throw(png_structp, png_const_charp text) {
  throw std::runtime_error(std::string("libpng: ") + text);
}
void png_quiet(png_structp, png_const_charp) {}

// A GIL PNG reader over the file's bytes in memory whose libpng errors throw once the header is
// read. GIL reads the header with libpng's default callbacks, which print every warning to
// standard error; the bytes it is given therefore hold no iCCP chunk (see png_bytes), whose
// "known incorrect sRGB profile" warning real captures would otherwise print for every image.
using PngMemoryReader =
    gil::reader<gil::detail::istream_device<gil::png_tag>, gil::png_tag, ConvertPolicy>;
class StrictPngReader : public PngMemoryReader {
 public:
  using Base = PngMemoryReader;
  explicit StrictPngReader(std::istream& in)
      : Base(gil::detail::istream_device<gil::png_tag>(in), ConvertPolicy::color_converter_type(),
             gil::image_read_settings<gil::png_tag>()) {
    png_set_error_fn(this->get_struct(), nullptr, &png_throw, &png_quiet);
    // Grey with alpha (or grey with a transparent colour, which GIL expands to alpha) is read as
    // plain grey: the alpha channel is dropped, and GIL's converter sees a grey file.
    if ((this->_info._color_type & ~PNG_COLOR_MASK_ALPHA) == PNG_COLOR_TYPE_GRAY)
      png_set_strip_alpha(this->get_struct());
    // Grey of 1, 2 or 4 bits is widened to 8 bits by libpng (by repeating the bits, which gives
    // the values GIL's own converter would: 17 v for 4 bits). GIL's packed-pixel path reads up
    // to a byte past the end of each row where the row ends inside a byte.
    if (this->_info._color_type == PNG_COLOR_TYPE_GRAY && this->_info._bit_depth < 8)
      png_set_expand_gray_1_2_4_to_8(this->get_struct());
  }
  unsigned long long width() const { return this->_info._width; }
  unsigned long long height() const { return this->_info._height; }
};

// Reads a JPEG file through the strict reader, checking the declared size first.
template <typename Reader, typename GilImage>
void read_strict(const std::string& name, GilImage& img) {
  Reader reader(name);
  check_declared_size(reader.width(), reader.height());
  reader.init_image(img, reader._settings);
  reader.apply(gil::view(img));
}

// The bytes of a PNG file whose chunk structure check_png_file has accepted, less its iCCP
// chunks: an embedded colour profile, which no reader here applies, and whose checks make
// libpng print warnings (see StrictPngReader).
std::string png_bytes(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (!in.eof() && !in) throw TervikFileError(name, "cannot read the file");
  std::string out = file.substr(0, 8);
  out.reserve(file.size());
  for (std::size_t pos = 8; pos + 12 <= file.size();) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned long long>(
                                               static_cast<unsigned char>(file[pos + i])); };
    const unsigned long long length = byte(0) << 24 | byte(1) << 16 | byte(2) << 8 | byte(3);
    const std::size_t chunk = std::min<std::size_t>(length + 12, file.size() - pos);
    if (file.compare(pos + 4, 4, "iCCP") != 0) out.append(file, pos, chunk);
    if (file.compare(pos + 4, 4, "IEND") == 0) break;
    pos += chunk;
  }
  return out;
}

// Reads a PNG file (structure already checked) through the strict reader, checking the
// declared size before any pixel buffer is made.
template <typename GilImage>
void read_png_strict(const std::string& name, GilImage& img) {
  std::istringstream in(png_bytes(name));
  StrictPngReader reader(in);
  check_declared_size(reader.width(), reader.height());
  reader.init_image(img, reader._settings);
  reader.apply(gil::view(img));
}

// (width, height) from the IHDR chunk of a PNG file that check_png_file has accepted.
std::vector<unsigned long long> png_header_size(const std::string& name) {
  std::ifstream in(name, std::ios::binary);
  unsigned char ihdr[24] = {};
  if (!in.read(reinterpret_cast<char*>(ihdr), 24))
    throw TervikFileError(name, "truncated PNG file: no complete IHDR chunk");
  const auto be32 = [&](int at) {
    return static_cast<unsigned long long>(ihdr[at]) << 24 | ihdr[at + 1] << 16 |
           ihdr[at + 2] << 8 | ihdr[at + 3];
  };
  return {be32(16), be32(20)};
}

// Copies decoded TIFF samples into a GIL image of their own pixel type, then converts that into
// `img` with GIL's default colour converter, as GIL's own read-and-convert does pixel by pixel.
template <typename SrcImage, typename GilImage>
void convert_tiff(const TiffPixels& px, GilImage& img) {
  using Channel = typename gil::channel_type<SrcImage>::type;
  SrcImage src(static_cast<std::ptrdiff_t>(px.width), static_cast<std::ptrdiff_t>(px.height));
  const auto v = gil::view(src);
  const std::uint16_t* s = px.samples.data();
  for (std::ptrdiff_t y = 0; y < v.height(); ++y) {
    auto row = v.row_begin(y);
    for (std::ptrdiff_t x = 0; x < v.width(); ++x)
      for (int c = 0; c < px.channels; ++c) row[x][c] = static_cast<Channel>(*s++);
  }
  img.recreate(v.dimensions());
  gil::copy_and_convert_pixels(gil::const_view(src), gil::view(img));
}

template <typename GilImage>
void read_tiff(const std::string& name, GilImage& img) {
  TiffPixels px;
  decode_tiff(name, max_image_pixels, px);
  const bool wide = px.bits == 16;
  switch (px.channels) {
    case 1: return wide ? convert_tiff<gil::gray16_image_t>(px, img)
                        : convert_tiff<gil::gray8_image_t>(px, img);
    case 3: return wide ? convert_tiff<gil::rgb16_image_t>(px, img)
                        : convert_tiff<gil::rgb8_image_t>(px, img);
    default: return wide ? convert_tiff<gil::rgba16_image_t>(px, img)
                         : convert_tiff<gil::rgba8_image_t>(px, img);
  }
}

}  // namespace

void check_png_file(const std::string& filename) {
  std::ifstream in(filename, std::ios::binary);
  if (!in) throw TervikFileNotFound(filename);
  in.seekg(0, std::ios::end);
  const unsigned long long size = static_cast<unsigned long long>(in.tellg());
  in.seekg(0);
  static const unsigned char signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
  unsigned char head[8];
  if (!in.read(reinterpret_cast<char*>(head), 8) || !std::equal(head, head + 8, signature))
    throw TervikFileError(filename, "not a PNG file (no PNG signature)");
  unsigned long long pos = 8;
  for (int index = 0;; ++index) {
    if (size - pos < 12)
      throw TervikFileError(filename, "truncated PNG file: it ends at byte " +
                                          std::to_string(size) + " without an IEND chunk");
    in.seekg(static_cast<std::streamoff>(pos));
    in.read(reinterpret_cast<char*>(head), 8);
    const unsigned long long length = (static_cast<unsigned long long>(head[0]) << 24) |
                                      (head[1] << 16) | (head[2] << 8) | head[3];
    const std::string type(reinterpret_cast<const char*>(head) + 4, 4);
    const bool letters = std::all_of(type.begin(), type.end(), [](char c) {
      return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    });
    if (!in || length > 0x7fffffffull || !letters)
      throw TervikFileError(filename, "corrupt PNG file: bad chunk header at byte " +
                                          std::to_string(pos));
    if (index == 0 && type != "IHDR")
      throw TervikFileError(filename, "corrupt PNG file: the first chunk is not IHDR");
    if (length + 12 > size - pos)
      throw TervikFileError(filename, "truncated PNG file: chunk '" + type + "' at byte " +
                                          std::to_string(pos) + " ends past the end of the file");
    pos += length + 12;
    if (type == "IEND") return;
  }
}

void check_jpeg_file(const std::string& filename) {
  std::ifstream in(filename, std::ios::binary);
  if (!in) throw TervikFileNotFound(filename);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(bytes[i]); };
  if (bytes.size() < 2 || byte(0) != 0xFF || byte(1) != 0xD8)
    throw TervikFileError(filename, "not a JPEG file (no start-of-image marker)");
  // Walk the marker segments up to the start of the first scan.
  std::size_t pos = 2;
  while (true) {
    if (pos + 2 > bytes.size())
      throw TervikFileError(filename, "truncated JPEG file: it ends at byte " +
                                          std::to_string(bytes.size()) + " before any image data");
    if (byte(pos) != 0xFF) {  // extraneous bytes before a marker: libjpeg skips them too
      ++pos;
      continue;
    }
    const unsigned marker = byte(pos + 1);
    if (marker == 0xFF) {  // fill byte
      ++pos;
      continue;
    }
    if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {  // markers without a segment
      pos += 2;
      continue;
    }
    if (marker == 0xD9)
      throw TervikFileError(filename, "corrupt JPEG file: end-of-image marker before any image data");
    const std::size_t length = pos + 4 <= bytes.size() ? (byte(pos + 2) << 8 | byte(pos + 3)) : 0;
    if (length < 2 || pos + 2 + length > bytes.size()) {
      char name[8];
      std::snprintf(name, sizeof name, "0x%02X", marker);
      throw TervikFileError(filename, std::string("truncated JPEG file: segment ") + name +
                                          " at byte " + std::to_string(pos) +
                                          " ends past the end of the file");
    }
    pos += 2 + length;
    if (marker == 0xDA) return;  // start of scan: the entropy-coded data follows
  }
}

namespace {

// Throws TervikFileNotFound if the file is missing, TervikFileError with the reason if it cannot
// be read or is empty.
void check_readable(const std::string& name) {
  const std::string problem = input_file_problem(name);
  if (problem == "not found") throw TervikFileNotFound(name);
  if (!problem.empty()) throw TervikFileError(name, "cannot read the file: " + problem);
  std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(name.c_str(), "rb"), &std::fclose);
  if (!f) throw TervikFileError(name, std::string("cannot read the file: ") + std::strerror(errno));
  if (std::fgetc(f.get()) == EOF) throw TervikFileError(name, "the file is empty");
}

template <typename GilImage, typename E>
void decode_as(const std::string& name, ImageFormat format, DecodedImage<E>& out) {
  check_readable(name);
  GilImage img;
  try {
    switch (format) {
      case FORMAT_JPEG:
        check_jpeg_file(name);
        read_strict<StrictJpegReader>(name, img);
        break;
      case FORMAT_PNG:
        check_png_file(name);
        read_png_strict(name, img);
        break;
      case FORMAT_TIFF: read_tiff(name, img); break;
      default: throw std::runtime_error("no image decoder for this format");
    }
  } catch (const BacktracedTervikException&) {
    throw;
  } catch (const std::exception& e) {
    throw TervikFileError(name, std::string("cannot decode ") + format_name(format) +
                                    " image: " + gil_text(e));
  }
  // Copy row after row, through the view's own row stride.
  const auto v = gil::const_view(img);
  const std::size_t channels = gil::num_channels<GilImage>::value;
  DecodedImage<E> result;
  result.width = v.width();
  result.height = v.height();
  result.channels = channels;
  result.samples.resize(result.width * result.height * channels);
  E* dst = result.samples.data();
  for (std::ptrdiff_t y = 0; y < v.height(); ++y) {
    auto row = v.row_begin(y);
    for (std::ptrdiff_t x = 0; x < v.width(); ++x)
      for (std::size_t c = 0; c < channels; ++c) *dst++ = row[x][c];
  }
  out = std::move(result);
}

}  // namespace

void decode_image_file(const std::string& filename, ImageFormat format, std::size_t channels,
                       DecodedImage<unsigned char>& out) {
  if (channels == 1) return decode_as<gil::gray8_image_t>(filename, format, out);
  if (channels == 3) return decode_as<gil::rgb8_image_t>(filename, format, out);
  throw TervikError("decode_image_file: channels must be 1 or 3, not " + std::to_string(channels));
}

void decode_image_file(const std::string& filename, ImageFormat format, std::size_t channels,
                       DecodedImage<unsigned short>& out) {
  if (channels == 1) return decode_as<gil::gray16_image_t>(filename, format, out);
  if (channels == 3) return decode_as<gil::rgb16_image_t>(filename, format, out);
  throw TervikError("decode_image_file: channels must be 1 or 3, not " + std::to_string(channels));
}

void decode_png_rgba(const std::string& filename, DecodedImage<unsigned char>& out,
                     bool& has_alpha) {
  check_readable(filename);
  check_png_file(filename);
  const std::string bytes = png_bytes(filename);
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  // The simplified interface keeps libpng's warnings in png.message instead of printing them.
  if (!png_image_begin_read_from_memory(&png, bytes.data(), bytes.size()))
    throw TervikFileError(filename, std::string("cannot decode PNG image: ") + png.message);
  try {
    check_declared_size(png.width, png.height);
  } catch (const std::exception& e) {
    png_image_free(&png);
    throw TervikFileError(filename, std::string("cannot decode PNG image: ") + e.what());
  }
  DecodedImage<unsigned char> result;
  result.width = png.width;
  result.height = png.height;
  result.channels = 4;
  const bool alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  png.format = PNG_FORMAT_RGBA;
  result.samples.resize(result.width * result.height * 4);
  if (!png_image_finish_read(&png, nullptr, result.samples.data(), 0, nullptr)) {
    const std::string message = png.message;
    png_image_free(&png);
    throw TervikFileError(filename, "cannot decode PNG image: " + message);
  }
  out = std::move(result);
  has_alpha = alpha;
}

std::vector<unsigned long long> read_image_file_dimensions(const std::string& filename,
                                                           ImageFormat format) {
  check_readable(filename);
  try {
    switch (format) {
      case FORMAT_JPEG: {
        check_jpeg_file(filename);
        StrictJpegReader reader(filename);
        return {reader.width(), reader.height()};
      }
      case FORMAT_PNG: {
        check_png_file(filename);
        return png_header_size(filename);
      }
      case FORMAT_TIFF: return read_tiff_dimensions(filename);
      default: throw TervikError("Image type not supported");
    }
  } catch (const BacktracedTervikException&) {
    throw;
  } catch (const std::exception& e) {
    throw TervikFileError(filename, std::string("cannot read the ") + format_name(format) +
                                        " header: " + gil_text(e));
  }
}

namespace {

using PngStreamWriter = gil::writer<gil::detail::ostream_device<gil::png_tag>, gil::png_tag>;

// A GIL PNG writer whose libpng errors throw.
class StrictPngWriter : public PngStreamWriter {
 public:
  explicit StrictPngWriter(std::ostream& out)
      : PngStreamWriter(gil::detail::ostream_device<gil::png_tag>(out),
                        gil::image_write_info<gil::png_tag>()) {
    png_set_error_fn(this->get_struct(), nullptr, &png_throw, &png_quiet);
  }
};

}  // namespace

void encode_png_file(const std::string& filename, std::size_t width, std::size_t height,
                     std::size_t channels, const unsigned char* samples) {
  constexpr std::size_t png_max_extent = 0x7fffffff;
  if (width == 0 || height == 0 || width > png_max_extent || height > png_max_extent)
    throw TervikFileError(filename, "cannot write a " + std::to_string(width) + " x " +
                                        std::to_string(height) + " image as PNG");
  std::ostringstream encoded;
  try {
    StrictPngWriter writer(encoded);
    const auto w = static_cast<std::ptrdiff_t>(width);
    const auto h = static_cast<std::ptrdiff_t>(height);
    if (channels == 1) {
      writer.apply(gil::interleaved_view(
          w, h, reinterpret_cast<const gil::gray8_pixel_t*>(samples), width));
    } else if (channels == 3) {
      writer.apply(gil::interleaved_view(
          w, h, reinterpret_cast<const gil::rgb8_pixel_t*>(samples), width * 3));
    } else {
      throw std::runtime_error("channels must be 1 or 3, not " + std::to_string(channels));
    }
  } catch (const std::exception& e) {
    throw TervikFileError(filename, std::string("cannot encode PNG image: ") + gil_text(e));
  }
  // Through a temporary sibling renamed into place: a full disk or a failed write never leaves
  // a truncated or empty file under the final name.
  const std::string bytes = encoded.str();
  AtomicFile out;
  if (!out.open(filename))
    throw TervikFileError(filename, "cannot open the file for writing: " + out.error());
  std::fwrite(bytes.data(), 1, bytes.size(), out.stream());
  if (!out.commit()) throw TervikFileError(filename, "write failed: " + out.error());
}

}  // namespace tervik::io
