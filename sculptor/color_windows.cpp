// Statistics of 3 x 3 colour windows, clamped to the image at its border.
#include <algorithm>
#include <cmath>

#include "sculptor/colors.h"
#include "tervik/exceptions.h"

namespace tervik {

namespace {

// Stands for the division by the nine pixels of a window.
constexpr double kNinth = 0.1111111111111;

// The nine pixel offsets of a window into the image's channel buffers, row after row, with
// rows and columns beyond the border replaced by the nearest ones inside.
struct Window {
  long offset[9];

  Window(const Coord2D<short>& c, const ImageRGB<unsigned char>& image) {
    const long width = static_cast<long>(image.width());
    const long height = static_cast<long>(image.height());
    TERVIK_CHECK(width > 0 && height > 0, "colour window around (" << c.x << ", " << c.y
                                                                   << ") of an empty image");
    int i = 0;
    for (long dy = -1; dy <= 1; ++dy) {
      const long y = std::clamp<long>(c.y + dy, 0, height - 1);
      for (long dx = -1; dx <= 1; ++dx) {
        const long x = std::clamp<long>(c.x + dx, 0, width - 1);
        offset[i++] = x + y * width;
      }
    }
  }
};

Point3D window_mean(const Window& w, const ImageRGB<unsigned char>& image) {
  double sum[3] = {0, 0, 0};
  for (int c = 0; c < 3; ++c) {
    const unsigned char* data = image.channel(c).data();
    for (long off : w.offset) sum[c] += data[off];
  }
  return Point3D(sum[0] * kNinth, sum[1] * kNinth, sum[2] * kNinth);
}

// Squared deviations from `mean`, summed pixel by pixel over the three channels, divided by nine.
double window_variance(const Window& w, const ImageRGB<unsigned char>& image, const Point3D& mean) {
  double sum = 0;
  for (long off : w.offset) {
    for (int c = 0; c < 3; ++c) {
      const double d = image.channel(c).data()[off] - mean[c];
      sum += d * d;
    }
  }
  return sum * kNinth;
}

}  // namespace

Point3D mean_rgb(const Coord2D<short>& c, const ImageRGB<unsigned char>& image) {
  return window_mean(Window(c, image), image);
}

double variance_rgb(const Coord2D<short>& c, const ImageRGB<unsigned char>& image,
                    const Point3D& mean) {
  return window_variance(Window(c, image), image, mean);
}

double ncc_rgb(const Coord2D<short>& a, const ImageRGB<unsigned char>& A, const Coord2D<short>& b,
               const ImageRGB<unsigned char>& B) {
  const Window wa(a, A), wb(b, B);
  const Point3D ma = window_mean(wa, A), mb = window_mean(wb, B);
  const double var_a = window_variance(wa, A, ma), var_b = window_variance(wb, B, mb);
  double cov = 0;
  for (int i = 0; i < 9; ++i) {
    for (int c = 0; c < 3; ++c) {
      cov += (A.channel(c).data()[wa.offset[i]] - ma[c]) * (B.channel(c).data()[wb.offset[i]] - mb[c]);
    }
  }
  cov *= kNinth;
  return cov / std::sqrt(var_a * var_b);
}

}  // namespace tervik
