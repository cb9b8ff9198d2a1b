// Silhouette masks from alpha, thresholds and background plates, and their clean-up.
#include "tools/capture/make_masks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>

#include "tervik/exceptions.h"
#include "tervik/io_auxiliar.h"
#include "tools/common/capture_files.h"

namespace tervik::capture {

RgbaImage read_png_rgba(const std::string& file) {
  // Through the library's checked decoder: the declared size is tested before any pixel
  // buffer is made, as for every other image the tools read.
  io::DecodedImage<unsigned char> decoded;
  RgbaImage out;
  io::decode_png_rgba(file, decoded, out.has_alpha);
  out.width = long(decoded.width);
  out.height = long(decoded.height);
  out.samples = std::move(decoded.samples);
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

namespace {

// Labels the connected pieces of the pixels where `inside(i)` holds (4- or 8-connected); the
// pieces that touch the border are skipped when `skip_border`. Returns the pieces' areas.
template <typename Inside>
std::vector<long> label_pieces(long w, long h, Inside&& inside, bool eight, bool skip_border,
                               std::vector<long>* labels_out) {
  std::vector<long> labels(std::size_t(w * h), 0), areas, stack;
  for (long start = 0; start < w * h; ++start) {
    if (labels[start] != 0 || !inside(start)) continue;
    const long id = long(areas.size()) + 1;
    long area = 0;
    bool border = false;
    labels[start] = id;
    stack.push_back(start);
    while (!stack.empty()) {
      const long i = stack.back();
      stack.pop_back();
      ++area;
      const long x = i % w, y = i / w;
      border = border || x == 0 || y == 0 || x == w - 1 || y == h - 1;
      for (long dy = -1; dy <= 1; ++dy)
        for (long dx = -1; dx <= 1; ++dx) {
          if ((dx == 0 && dy == 0) || (!eight && dx != 0 && dy != 0)) continue;
          const long nx = x + dx, ny = y + dy, j = ny * w + nx;
          if (nx < 0 || ny < 0 || nx >= w || ny >= h || labels[j] != 0 || !inside(j)) continue;
          labels[j] = id;
          stack.push_back(j);
        }
    }
    // A skipped piece keeps its label (so it is not visited again) but gets area -1.
    areas.push_back(skip_border && border ? -1 : area);
  }
  if (labels_out) *labels_out = std::move(labels);
  return areas;
}

}  // namespace

std::vector<long> hole_areas(const ImageGray<unsigned char>& mask, std::vector<long>* labels) {
  const unsigned char* p = mask.channel(0).data();
  std::vector<long> areas = label_pieces(
      long(mask.width()), long(mask.height()), [&](long i) { return p[i] < kForeground; }, false,
      true, labels);
  // Border-reaching background is not a hole: its label stays, marked by area -1.
  return areas;
}

std::vector<long> blob_areas(const ImageGray<unsigned char>& mask, std::vector<long>* labels) {
  const unsigned char* p = mask.channel(0).data();
  return label_pieces(long(mask.width()), long(mask.height()),
                      [&](long i) { return p[i] >= kForeground; }, true, false, labels);
}

ImageGray<unsigned char> fill_small_holes(const ImageGray<unsigned char>& mask, long max_area) {
  std::vector<long> labels;
  const std::vector<long> areas = hole_areas(mask, &labels);
  const unsigned char* p = mask.channel(0).data();
  return mask_where(long(mask.width()), long(mask.height()), [&](long i) {
    if (p[i] >= kForeground) return true;
    const long a = areas[std::size_t(labels[i] - 1)];
    return a >= 0 && a <= max_area;
  });
}

ImageGray<unsigned char> drop_small_blobs(const ImageGray<unsigned char>& mask, long min_area) {
  std::vector<long> labels;
  const std::vector<long> areas = blob_areas(mask, &labels);
  return mask_where(long(mask.width()), long(mask.height()), [&](long i) {
    return labels[i] != 0 && areas[std::size_t(labels[i] - 1)] >= min_area;
  });
}

ImageGray<unsigned char> keep_largest(const ImageGray<unsigned char>& mask, long count) {
  std::vector<long> labels;
  const std::vector<long> areas = blob_areas(mask, &labels);
  std::vector<std::size_t> order(areas.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return areas[a] > areas[b]; });
  std::vector<char> kept(areas.size(), 0);
  for (std::size_t k = 0; k < order.size() && long(k) < count; ++k) kept[order[k]] = 1;
  return mask_where(long(mask.width()), long(mask.height()),
                    [&](long i) { return labels[i] != 0 && kept[std::size_t(labels[i] - 1)]; });
}

ImageGray<unsigned char> clean(const ImageGray<unsigned char>& mask, const Cleanup& cleanup) {
  ImageGray<unsigned char> out = mask;
  if (cleanup.open > 0) out = open_mask(out, cleanup.open);
  if (cleanup.close > 0) out = close_mask(out, cleanup.close);
  if (cleanup.max_hole_area > 0) out = fill_small_holes(out, cleanup.max_hole_area);
  if (cleanup.fill) out = fill_holes(out);
  if (cleanup.min_blob_area > 0) out = drop_small_blobs(out, cleanup.min_blob_area);
  if (cleanup.keep_largest > 0) out = keep_largest(out, cleanup.keep_largest);
  return out;
}

double foreground_share(const ImageGray<unsigned char>& mask) {
  const std::size_t n = mask.width() * mask.height();
  if (n == 0) return 0.0;
  const unsigned char* p = mask.channel(0).data();
  return double(std::count_if(p, p + n, [](unsigned char v) { return v >= kForeground; })) / double(n);
}

}  // namespace tervik::capture
