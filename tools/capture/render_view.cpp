// Drawing of points and meshes over camera images.
#include "tools/capture/render_view.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "tervik/exceptions.h"
#include "tervik/multiview.h"
#include "tervik/multiview_auxiliar.h"

namespace tervik::capture {

namespace {

bool has_distortion(const Camera& c) {
  for (int i = 0; i < 4; ++i)
    if (c.distortion()[i] != 0.0) return true;
  return false;
}

// Calls visit(x, y, b0, b1, b2) for every pixel whose centre lies in the triangle (a, b, c),
// with the barycentric weights of the centre. Either orientation; edges included.
template <typename Visit>
void rasterize(const Point2D& a, const Point2D& b, const Point2D& c, long width, long height,
               Visit&& visit) {
  const double area = (b.x - a.x) * (c.y - a.y) - (b.y - a.y) * (c.x - a.x);
  if (!(std::abs(area) > 0.0)) return;  // degenerate or not finite
  // Clamped as doubles: a vertex next to the camera's plane projects far beyond what a long
  // holds.
  const auto lo = [](double v, long lim) { return long(std::clamp(std::floor(v - 0.5), 0.0, double(lim))); };
  const auto hi = [](double v, long lim) { return long(std::clamp(std::ceil(v - 0.5) + 1.0, 0.0, double(lim))); };
  const long x0 = lo(std::min({a.x, b.x, c.x}), width), x1 = hi(std::max({a.x, b.x, c.x}), width);
  const long y0 = lo(std::min({a.y, b.y, c.y}), height), y1 = hi(std::max({a.y, b.y, c.y}), height);
  for (long y = y0; y < y1; ++y)
    for (long x = x0; x < x1; ++x) {
      const double px = double(x) + 0.5, py = double(y) + 0.5;
      const double w0 = ((b.x - px) * (c.y - py) - (b.y - py) * (c.x - px)) / area;
      const double w1 = ((c.x - px) * (a.y - py) - (c.y - py) * (a.x - px)) / area;
      const double w2 = 1.0 - w0 - w1;
      if (w0 >= 0.0 && w1 >= 0.0 && w2 >= 0.0) visit(x, y, w0, w1, w2);
    }
}

unsigned char scaled(unsigned char v, double f) {
  return static_cast<unsigned char>(std::clamp(std::lround(double(v) * f), 0L, 255L));
}

void put(ImageRGB<unsigned char>& img, long at, const Rgb& c) {
  for (int k = 0; k < 3; ++k) img.channel(k).data()[at] = c[k];
}

}  // namespace

void project_vertices(const Camera& camera, const std::vector<Point3D>& positions,
                      std::vector<Point2D>& pixels, std::vector<double>& depths) {
  const bool distorted = has_distortion(camera);
  pixels.resize(positions.size());
  depths.resize(positions.size());
  for (std::size_t i = 0; i < positions.size(); ++i) {
    depths[i] = multiview::point_depth(positions[i], camera);
    if (distorted)
      multiview::fast_world2image(positions[i], camera, pixels[i]);
    else
      multiview::world_to_image_undistorted(positions[i], camera, pixels[i]);
  }
}

ImageGray<unsigned char> mesh_coverage(const Camera& camera, const io::PlyModel& model) {
  const long w = camera.im_width(), h = camera.im_height();
  ImageGray<unsigned char> out(w, h);
  unsigned char* p = out.channel(0).data();
  std::vector<Point2D> px;
  std::vector<double> depth;
  project_vertices(camera, model.positions, px, depth);
  for (const auto& f : model.faces) {
    if (!(depth[f.x] > 0.0 && depth[f.y] > 0.0 && depth[f.z] > 0.0)) continue;
    rasterize(px[f.x], px[f.y], px[f.z], w, h,
              [&](long x, long y, double, double, double) { p[y * w + x] = 255; });
  }
  return out;
}

void draw_model(const Camera& camera, const io::PlyModel& model, const RenderStyle& style,
                ImageRGB<unsigned char>& canvas) {
  const long w = camera.im_width(), h = camera.im_height();
  TERVIK_CHECK(long(canvas.width()) == w && long(canvas.height()) == h,
               "draw_model: the canvas is " << canvas.width() << " x " << canvas.height()
                                            << " but the camera " << w << " x " << h);
  std::vector<Point2D> px;
  std::vector<double> depth;
  project_vertices(camera, model.positions, px, depth);
  // Nearer is larger: the depth buffer holds 1 / depth, which is linear across a face's image.
  std::vector<double> nearness(std::size_t(w * h), 0.0);
  const Point3D eye = multiview::camera_position(camera);
  if (model.has_faces) {
    for (const auto& f : model.faces) {
      const long long v[3] = {f.x, f.y, f.z};
      if (!(depth[v[0]] > 0.0 && depth[v[1]] > 0.0 && depth[v[2]] > 0.0)) continue;
      const Point3D& a = model.positions[v[0]];
      const Point3D n = cross(model.positions[v[1]] - a, model.positions[v[2]] - a);
      const Point3D sight = (a + model.positions[v[1]] + model.positions[v[2]]) / 3.0 - eye;
      const double cosine = std::abs(dot(n, sight)) / std::max(norm(n) * norm(sight), 1e-300);
      const double shade = 0.35 + 0.65 * cosine;
      Rgb color = style.mesh_color;
      if (model.has_colors) {
        for (int k = 0; k < 3; ++k)
          color[k] = static_cast<unsigned char>(
              (int(model.colors[v[0]][k]) + model.colors[v[1]][k] + model.colors[v[2]][k]) / 3);
      }
      for (int k = 0; k < 3; ++k) color[k] = scaled(color[k], shade);
      const double n0 = 1.0 / depth[v[0]], n1 = 1.0 / depth[v[1]], n2 = 1.0 / depth[v[2]];
      rasterize(px[v[0]], px[v[1]], px[v[2]], w, h,
                [&](long x, long y, double b0, double b1, double b2) {
                  const double near = b0 * n0 + b1 * n1 + b2 * n2;
                  double& slot = nearness[std::size_t(y * w + x)];
                  if (near > slot) slot = near, put(canvas, y * w + x, color);
                });
    }
    return;
  }
  const long r = std::max(0, style.point_radius);
  for (std::size_t i = 0; i < model.positions.size(); ++i) {
    if (!(depth[i] > 0.0) || !(px[i].x > -1.0 && px[i].y > -1.0 && px[i].x < double(w) &&
                               px[i].y < double(h)))
      continue;
    const long cx = long(px[i].x), cy = long(px[i].y);  // truncation toward zero
    const double near = 1.0 / depth[i];
    const Rgb color = model.has_colors ? model.colors[i] : style.point_color;
    for (long y = std::max(0L, cy - r); y <= std::min(h - 1, cy + r); ++y)
      for (long x = std::max(0L, cx - r); x <= std::min(w - 1, cx + r); ++x) {
        double& slot = nearness[std::size_t(y * w + x)];
        if (near > slot) slot = near, put(canvas, y * w + x, color);
      }
  }
}

void draw_outline(const ImageGray<unsigned char>& sil, const Rgb& color,
                  ImageRGB<unsigned char>& canvas) {
  const long w = long(sil.width()), h = long(sil.height());
  TERVIK_CHECK(long(canvas.width()) == w && long(canvas.height()) == h,
               "draw_outline: the canvas is " << canvas.width() << " x " << canvas.height()
                                              << " but the silhouette " << w << " x " << h);
  const unsigned char* p = sil.channel(0).data();
  const auto fg = [&](long x, long y) { return p[y * w + x] >= 128; };
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x) {
      if (!fg(x, y)) continue;
      const bool edge = (x > 0 && !fg(x - 1, y)) || (y > 0 && !fg(x, y - 1)) ||
                        (x + 1 < w && !fg(x + 1, y)) || (y + 1 < h && !fg(x, y + 1));
      if (edge) put(canvas, y * w + x, color);
    }
}

void dim(ImageRGB<unsigned char>& image, double factor) {
  for (int k = 0; k < 3; ++k) {
    unsigned char* p = image.channel(k).data();
    for (std::size_t i = 0, n = image.width() * image.height(); i < n; ++i) p[i] = scaled(p[i], factor);
  }
}

namespace {

template <typename Image>
Image resize_channels(const Image& image, long width, long height, int channels) {
  TERVIK_CHECK(width > 0 && height > 0 && image.width() > 0 && image.height() > 0,
               "resize_nearest: " << image.width() << " x " << image.height() << " to " << width
                                  << " x " << height);
  Image out(width, height);
  const long iw = long(image.width()), ih = long(image.height());
  for (int k = 0; k < channels; ++k) {
    const unsigned char* src = image.channel(k).data();
    unsigned char* dst = out.channel(k).data();
    for (long y = 0; y < height; ++y) {
      const long sy = std::min(ih - 1, long((double(y) + 0.5) * double(ih) / double(height)));
      for (long x = 0; x < width; ++x) {
        const long sx = std::min(iw - 1, long((double(x) + 0.5) * double(iw) / double(width)));
        dst[y * width + x] = src[sy * iw + sx];
      }
    }
  }
  return out;
}

}  // namespace

ImageRGB<unsigned char> resize_nearest(const ImageRGB<unsigned char>& image, long width, long height) {
  return resize_channels(image, width, height, 3);
}

ImageGray<unsigned char> resize_nearest(const ImageGray<unsigned char>& image, long width, long height) {
  return resize_channels(image, width, height, 1);
}

ImageRGB<unsigned char> contact_sheet(const std::vector<ImageRGB<unsigned char>>& tiles,
                                      int columns, int gap) {
  TERVIK_CHECK(!tiles.empty() && columns > 0 && gap >= 0,
               "contact_sheet: " << tiles.size() << " tiles in " << columns << " columns");
  long cw = 0, ch = 0;
  for (const auto& t : tiles) cw = std::max(cw, long(t.width())), ch = std::max(ch, long(t.height()));
  const long cols = std::min<long>(columns, long(tiles.size()));
  const long rows = (long(tiles.size()) + cols - 1) / cols;
  const long w = cols * cw + (cols + 1) * gap, h = rows * ch + (rows + 1) * gap;
  ImageRGB<unsigned char> sheet(w, h);
  sheet = static_cast<unsigned char>(40);
  for (std::size_t i = 0; i < tiles.size(); ++i) {
    const long ox = gap + long(i) % cols * (cw + gap), oy = gap + long(i) / cols * (ch + gap);
    const long tw = long(tiles[i].width());
    for (int k = 0; k < 3; ++k)
      for (long y = 0; y < long(tiles[i].height()); ++y)
        std::copy_n(tiles[i].channel(k).data() + y * tw, tw,
                    sheet.channel(k).data() + (oy + y) * w + ox);
  }
  return sheet;
}

}  // namespace tervik::capture
