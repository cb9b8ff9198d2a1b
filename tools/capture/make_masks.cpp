// Silhouette masks from alpha, thresholds and background plates, and their clean-up.
#include "tools/capture/make_masks.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tervik/exceptions.h"
#include "tools/common/capture_files.h"

namespace tervik::capture {

RgbaImage read_png_rgba(const std::string& file) {
  std::error_code ec;
  if (!std::filesystem::is_regular_file(file, ec)) throw TervikFileNotFound(file);
  png_image png{};
  png.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&png, file.c_str()))
    throw TervikFileError(file, std::string("cannot read the PNG file: ") + png.message);
  RgbaImage out;
  out.width = long(png.width);
  out.height = long(png.height);
  out.has_alpha = (png.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  png.format = PNG_FORMAT_RGBA;
  out.samples.resize(std::size_t(out.width) * std::size_t(out.height) * 4);
  if (!png_image_finish_read(&png, nullptr, out.samples.data(), 0, nullptr)) {
    const std::string message = png.message;
    png_image_free(&png);
    throw TervikFileError(file, "cannot decode the PNG file: " + message);
  }
  return out;
}

namespace {

ImageGray<unsigned char> mask_where(long w, long h, auto&& foreground) {
  ImageGray<unsigned char> mask(w, h);
  unsigned char* p = mask.channel(0).data();
  for (long i = 0; i < w * h; ++i) p[i] = foreground(i) ? 255 : 0;
  return mask;
}

}  // namespace

ImageGray<unsigned char> mask_from_alpha(const RgbaImage& image, int threshold) {
  if (!image.has_alpha) throw TervikError("the image has no alpha channel");
  return mask_where(image.width, image.height,
                    [&](long i) { return image.samples[std::size_t(i) * 4 + 3] >= threshold; });
}

ImageGray<unsigned char> mask_from_gray(const ImageGray<unsigned char>& image, int threshold,
                                        bool invert) {
  const unsigned char* p = image.channel(0).data();
  return mask_where(long(image.width()), long(image.height()),
                    [&](long i) { return (p[i] >= threshold) != invert; });
}

ImageGray<unsigned char> mask_from_key(const ImageRGB<unsigned char>& image,
                                       const Coord3D<unsigned char>& key, double tolerance) {
  const unsigned char* c[3] = {image.channel(0).data(), image.channel(1).data(),
                               image.channel(2).data()};
  const double t2 = tolerance * tolerance;
  return mask_where(long(image.width()), long(image.height()), [&](long i) {
    double d2 = 0.0;
    for (int k = 0; k < 3; ++k) d2 += (double(c[k][i]) - key[k]) * (double(c[k][i]) - key[k]);
    return d2 > t2;
  });
}

ImageGray<unsigned char> mask_from_difference(const ImageRGB<unsigned char>& image,
                                              const ImageRGB<unsigned char>& plate, int threshold) {
  if (image.width() != plate.width() || image.height() != plate.height())
    throw TervikError("the image is " + std::to_string(image.width()) + " x " +
                      std::to_string(image.height()) + " but the background plate is " +
                      std::to_string(plate.width()) + " x " + std::to_string(plate.height()));
  return mask_where(long(image.width()), long(image.height()), [&](long i) {
    for (int k = 0; k < 3; ++k)
      if (std::abs(int(image.channel(k).data()[i]) - int(plate.channel(k).data()[i])) >= threshold)
        return true;
    return false;
  });
}

namespace {

// One pass of a binary dilation along rows (step 1) or columns (step w): a pixel becomes
// foreground when a foreground pixel lies within r along the line. Outside counts as background.
void dilate_lines(const unsigned char* in, unsigned char* out, long lines, long length,
                  long line_step, long step, int r) {
  std::vector<long> prefix(std::size_t(length) + 1);
  for (long l = 0; l < lines; ++l) {
    const unsigned char* a = in + l * line_step;
    for (long i = 0; i < length; ++i) prefix[i + 1] = prefix[i] + (a[i * step] >= 128 ? 1 : 0);
    for (long i = 0; i < length; ++i) {
      const long lo = std::max(0L, i - r), hi = std::min(length, i + r + 1);
      out[l * line_step + i * step] = prefix[hi] - prefix[lo] > 0 ? 255 : 0;
    }
  }
}

ImageGray<unsigned char> invert(const ImageGray<unsigned char>& mask) {
  const unsigned char* p = mask.channel(0).data();
  return mask_where(long(mask.width()), long(mask.height()), [&](long i) { return p[i] < 128; });
}

}  // namespace

ImageGray<unsigned char> dilate(const ImageGray<unsigned char>& mask, int r) {
  const long w = long(mask.width()), h = long(mask.height());
  if (r <= 0) return mask_where(w, h, [&](long i) { return mask.channel(0).data()[i] >= 128; });
  ImageGray<unsigned char> rows(w, h), out(w, h);
  dilate_lines(mask.channel(0).data(), rows.channel(0).data(), h, w, w, 1, r);
  dilate_lines(rows.channel(0).data(), out.channel(0).data(), w, h, 1, w, r);
  return out;
}

ImageGray<unsigned char> erode(const ImageGray<unsigned char>& mask, int r) {
  return invert(dilate(invert(mask), r));
}

ImageGray<unsigned char> open_mask(const ImageGray<unsigned char>& mask, int r) {
  return dilate(erode(mask, r), r);
}

ImageGray<unsigned char> close_mask(const ImageGray<unsigned char>& mask, int r) {
  if (r <= 0) return dilate(mask, 0);
  // On a copy padded by r background pixels, so that the dilation spills into the padding and
  // the erosion takes it back: a closing never grows an object towards the border.
  const long w = long(mask.width()), h = long(mask.height());
  ImageGray<unsigned char> padded(w + 2 * r, h + 2 * r);
  for (long y = 0; y < h; ++y)
    std::copy_n(mask.channel(0).data() + y * w, w,
                padded.channel(0).data() + (y + r) * (w + 2 * r) + r);
  const ImageGray<unsigned char> closed = erode(dilate(padded, r), r);
  ImageGray<unsigned char> out(w, h);
  for (long y = 0; y < h; ++y)
    std::copy_n(closed.channel(0).data() + (y + r) * (w + 2 * r) + r, w,
                out.channel(0).data() + y * w);
  return out;
}

ImageGray<unsigned char> fill_holes(const ImageGray<unsigned char>& mask) {
  const long w = long(mask.width()), h = long(mask.height());
  const unsigned char* p = mask.channel(0).data();
  // Flood the background from every border pixel; what the flood misses is foreground.
  std::vector<unsigned char> reached(std::size_t(w * h), 0);
  std::vector<long> stack;
  const auto push = [&](long x, long y) {
    const long i = y * w + x;
    if (x < 0 || y < 0 || x >= w || y >= h || reached[i] || p[i] >= 128) return;
    reached[i] = 1;
    stack.push_back(i);
  };
  for (long x = 0; x < w; ++x) push(x, 0), push(x, h - 1);
  for (long y = 0; y < h; ++y) push(0, y), push(w - 1, y);
  while (!stack.empty()) {
    const long i = stack.back();
    stack.pop_back();
    const long x = i % w, y = i / w;
    push(x - 1, y), push(x + 1, y), push(x, y - 1), push(x, y + 1);
  }
  return mask_where(w, h, [&](long i) { return !reached[i]; });
}

ImageGray<unsigned char> clean(const ImageGray<unsigned char>& mask, const Cleanup& cleanup) {
  ImageGray<unsigned char> out = mask;
  if (cleanup.open > 0) out = open_mask(out, cleanup.open);
  if (cleanup.close > 0) out = close_mask(out, cleanup.close);
  if (cleanup.fill) out = fill_holes(out);
  return out;
}

double foreground_share(const ImageGray<unsigned char>& mask) {
  const std::size_t n = mask.width() * mask.height();
  if (n == 0) return 0.0;
  const unsigned char* p = mask.channel(0).data();
  return double(std::count_if(p, p + n, [](unsigned char v) { return v >= kForeground; })) / double(n);
}

}  // namespace tervik::capture
