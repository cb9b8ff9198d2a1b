// Textured and vertex-coloured drawing with a depth buffer, and the photo comparison.
#include "tools/texture/render_textured.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

#include "tervik/exceptions.h"
#include "tervik/multiview_auxiliar.h"
#include "tools/texture/visibility.h"

namespace tervik::texture {

DrawableMesh drawable_from_gltf(const tools::GltfMesh& mesh, ImageRGB<unsigned char> texture) {
  DrawableMesh out;
  const std::size_t n = mesh.positions.size() / 3;
  out.positions.resize(n);
  for (std::size_t i = 0; i < n; ++i)
    out.positions[i] = Point3D(mesh.positions[3 * i], mesh.positions[3 * i + 1], mesh.positions[3 * i + 2]);
  for (std::size_t f = 0; f + 2 < mesh.indices.size(); f += 3)
    out.faces.push_back({mesh.indices[f], mesh.indices[f + 1], mesh.indices[f + 2]});
  if (mesh.colours.size() == 3 * n)
    for (std::size_t i = 0; i < n; ++i)
      out.colors.push_back({mesh.colours[3 * i], mesh.colours[3 * i + 1], mesh.colours[3 * i + 2]});
  if (mesh.texcoords.size() == 2 * n && texture.width() > 0) {
    for (std::size_t i = 0; i < n; ++i)
      out.texcoords.emplace_back(mesh.texcoords[2 * i], mesh.texcoords[2 * i + 1]);
    out.texture = std::move(texture);
  }
  return out;
}

namespace {

// Bilinear texture lookup at (u, v), clamped at the borders.
void sample_texture(const ImageRGB<unsigned char>& tex, double u, double v, double rgb[3]) {
  const long w = long(tex.width()), h = long(tex.height());
  const double fx = u * double(w) - 0.5, fy = v * double(h) - 0.5;
  const double cx = std::clamp(fx, -1.0, double(w)), cy = std::clamp(fy, -1.0, double(h));
  const long x0 = long(std::floor(cx)), y0 = long(std::floor(cy));
  const double tx = cx - double(x0), ty = cy - double(y0);
  const long xa = std::clamp(x0, 0L, w - 1), xb = std::clamp(x0 + 1, 0L, w - 1);
  const long ya = std::clamp(y0, 0L, h - 1), yb = std::clamp(y0 + 1, 0L, h - 1);
  for (int c = 0; c < 3; ++c) {
    const unsigned char* p = tex.channel(c).data();
    const double top = (1 - tx) * p[ya * w + xa] + tx * p[ya * w + xb];
    const double bottom = (1 - tx) * p[yb * w + xa] + tx * p[yb * w + xb];
    rgb[c] = (1 - ty) * top + ty * bottom;
  }
}

}  // namespace

void draw_mesh(const Camera& camera, const DrawableMesh& mesh, bool unlit,
               ImageRGB<unsigned char>& canvas, std::vector<unsigned char>* covered) {
  const long w = camera.im_width(), h = camera.im_height();
  TERVIK_CHECK(long(canvas.width()) == w && long(canvas.height()) == h,
               "draw_mesh: the canvas is " << canvas.width() << " x " << canvas.height()
                                           << " but the camera " << w << " x " << h);
  if (covered) covered->assign(std::size_t(w * h), 0);
  const Projection proj = project_mesh(camera, mesh.positions);
  std::vector<double> nearness(std::size_t(w * h), 0.0);
  const Point3D eye = multiview::camera_position(camera);
  const bool textured = !mesh.texcoords.empty() && mesh.texture.width() > 0;
  const bool coloured = !textured && mesh.colors.size() == mesh.positions.size();
  unsigned char* out[3] = {canvas.channel(0).data(), canvas.channel(1).data(), canvas.channel(2).data()};
  for (const auto& f : mesh.faces) {
    if (f[0] >= mesh.positions.size() || f[1] >= mesh.positions.size() || f[2] >= mesh.positions.size())
      continue;
    const double d[3] = {proj.depths[f[0]], proj.depths[f[1]], proj.depths[f[2]]};
    if (!(d[0] > 0.0 && d[1] > 0.0 && d[2] > 0.0)) continue;
    double shade = 1.0;
    if (!unlit) {
      const Point3D& a = mesh.positions[f[0]];
      const Point3D n = cross(mesh.positions[f[1]] - a, mesh.positions[f[2]] - a);
      const Point3D sight = (a + mesh.positions[f[1]] + mesh.positions[f[2]]) / 3.0 - eye;
      shade = 0.35 + 0.65 * std::abs(dot(n, sight)) / std::max(norm(n) * norm(sight), 1e-300);
    }
    const double inv[3] = {1.0 / d[0], 1.0 / d[1], 1.0 / d[2]};
    rasterize(proj.pixels[f[0]], proj.pixels[f[1]], proj.pixels[f[2]], w, h,
              [&](long x, long y, double b0, double b1, double b2) {
                const double near = b0 * inv[0] + b1 * inv[1] + b2 * inv[2];
                const std::size_t at = std::size_t(y * w + x);
                if (!(near > nearness[at])) return;
                nearness[at] = near;
                // Perspective-correct weights of the corners.
                const double p[3] = {b0 * inv[0] / near, b1 * inv[1] / near, b2 * inv[2] / near};
                double rgb[3] = {200, 200, 200};
                if (textured) {
                  double u = 0, v = 0;
                  for (int k = 0; k < 3; ++k)
                    u += p[k] * mesh.texcoords[f[k]].x, v += p[k] * mesh.texcoords[f[k]].y;
                  sample_texture(mesh.texture, u, v, rgb);
                } else if (coloured) {
                  for (int c = 0; c < 3; ++c)
                    rgb[c] = p[0] * mesh.colors[f[0]][c] + p[1] * mesh.colors[f[1]][c] +
                             p[2] * mesh.colors[f[2]][c];
                }
                for (int c = 0; c < 3; ++c)
                  out[c][at] = static_cast<unsigned char>(std::clamp(std::lround(rgb[c] * shade), 0L, 255L));
                if (covered) (*covered)[at] = 1;
              });
  }
}

namespace {

// Mean SSIM of the luma of a and b over the pixels where mask is 1 (see compare_with_photo).
double masked_ssim(const ImageRGB<unsigned char>& a, const ImageRGB<unsigned char>& b,
                   const std::vector<unsigned char>& mask) {
  const long w = long(a.width()), h = long(a.height());
  constexpr int kRadius = 5;
  double kernel[2 * kRadius + 1];
  for (int k = -kRadius; k <= kRadius; ++k) kernel[k + kRadius] = std::exp(-0.5 * k * k / (1.5 * 1.5));
  // Only the box around the masked pixels, widened by the window's radius.
  long x0 = w, x1 = -1, y0 = h, y1 = -1;
  for (long y = 0; y < h; ++y)
    for (long x = 0; x < w; ++x)
      if (mask[std::size_t(y * w + x)])
        x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
  if (x1 < 0) return 0.0;
  x0 = std::max(0L, x0 - kRadius), x1 = std::min(w - 1, x1 + kRadius);
  y0 = std::max(0L, y0 - kRadius), y1 = std::min(h - 1, y1 + kRadius);
  const long bw = x1 - x0 + 1, bh = y1 - y0 + 1;
  const std::size_t n = std::size_t(bw * bh);
  // Masked moments: m, m x, m y, m x^2, m y^2, m x y, blurred by rows then by columns.
  std::vector<std::array<double, 6>> moments(n), rows(n);
  for (long y = 0; y < bh; ++y)
    for (long x = 0; x < bw; ++x) {
      const std::size_t i = std::size_t((y + y0) * w + (x + x0));
      std::array<double, 6>& m = moments[std::size_t(y * bw + x)];
      if (!mask[i]) {
        m = {};
        continue;
      }
      const auto luma = [&](const ImageRGB<unsigned char>& img) {
        return 0.299 * img.channel(0).data()[i] + 0.587 * img.channel(1).data()[i] +
               0.114 * img.channel(2).data()[i];
      };
      const double p = luma(a), q = luma(b);
      m = {1.0, p, q, p * p, q * q, p * q};
    }
  for (long y = 0; y < bh; ++y)
    for (long x = 0; x < bw; ++x) {
      std::array<double, 6> s{};
      for (long k = std::max(0L, x - kRadius); k <= std::min(bw - 1, x + kRadius); ++k)
        for (int j = 0; j < 6; ++j) s[j] += kernel[k - x + kRadius] * moments[std::size_t(y * bw + k)][j];
      rows[std::size_t(y * bw + x)] = s;
    }
  constexpr double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);
  double sum = 0.0;
  long count = 0;
  for (long y = 0; y < bh; ++y)
    for (long x = 0; x < bw; ++x) {
      if (!mask[std::size_t((y + y0) * w + (x + x0))]) continue;
      std::array<double, 6> s{};
      for (long k = std::max(0L, y - kRadius); k <= std::min(bh - 1, y + kRadius); ++k)
        for (int j = 0; j < 6; ++j) s[j] += kernel[k - y + kRadius] * rows[std::size_t(k * bw + x)][j];
      const double mx = s[1] / s[0], my = s[2] / s[0];
      const double vx = std::max(0.0, s[3] / s[0] - mx * mx), vy = std::max(0.0, s[4] / s[0] - my * my);
      const double cov = s[5] / s[0] - mx * my;
      sum += ((2 * mx * my + c1) * (2 * cov + c2)) / ((mx * mx + my * my + c1) * (vx + vy + c2));
      ++count;
    }
  return sum / double(count);
}

}  // namespace

PhotoComparison compare_with_photo(const ImageRGB<unsigned char>& drawing,
                                   const std::vector<unsigned char>& covered,
                                   const ImageRGB<unsigned char>& photo,
                                   const ImageGray<unsigned char>& silhouette) {
  const std::size_t n = drawing.width() * drawing.height();
  TERVIK_CHECK(photo.width() == drawing.width() && photo.height() == drawing.height() &&
                   covered.size() == n &&
                   (silhouette.width() == 0 || silhouette.width() * silhouette.height() == n),
               "compare_with_photo: the images differ in size");
  PhotoComparison r;
  const unsigned char* sil = silhouette.width() > 0 ? silhouette.channel(0).data() : nullptr;
  double sum = 0.0;
  for (std::size_t i = 0; i < n; ++i) {
    if (sil && sil[i] < 128) continue;
    ++r.silhouette;
    if (!covered[i]) continue;
    ++r.pixels;
    for (int c = 0; c < 3; ++c) {
      const double e = double(drawing.channel(c).data()[i]) - double(photo.channel(c).data()[i]);
      sum += e * e;
    }
  }
  r.mse = r.pixels > 0 ? sum / (3.0 * double(r.pixels)) : 0.0;
  r.psnr = r.mse > 0.0 ? 10.0 * std::log10(255.0 * 255.0 / r.mse)
                       : std::numeric_limits<double>::infinity();
  if (r.pixels > 0) {
    std::vector<unsigned char> compared(n, 0);
    for (std::size_t i = 0; i < n; ++i) compared[i] = covered[i] && !(sil && sil[i] < 128);
    r.ssim = masked_ssim(drawing, photo, compared);
  }
  return r;
}

}  // namespace tervik::texture
