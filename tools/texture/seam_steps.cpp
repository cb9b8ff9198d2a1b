// Colour steps across seams, measured in the atlas.
#include "tools/texture/seam_steps.h"

#include <algorithm>
#include <cmath>

#include "tools/texture/view_selection.h"

namespace tervik::texture {

namespace {

void sample(const ImageRGB<unsigned char>& atlas, double u, double v, double rgb[3]) {
  const long w = long(atlas.width()), h = long(atlas.height());
  const double fx = u * double(w) - 0.5, fy = v * double(h) - 0.5;
  const long x0 = long(std::floor(fx)), y0 = long(std::floor(fy));
  const double tx = fx - double(x0), ty = fy - double(y0);
  const long xa = std::clamp(x0, 0L, w - 1), xb = std::clamp(x0 + 1, 0L, w - 1);
  const long ya = std::clamp(y0, 0L, h - 1), yb = std::clamp(y0 + 1, 0L, h - 1);
  for (int c = 0; c < 3; ++c) {
    const unsigned char* p = atlas.channel(c).data();
    rgb[c] = (1 - ty) * ((1 - tx) * p[ya * w + xa] + tx * p[ya * w + xb]) +
             ty * ((1 - tx) * p[yb * w + xa] + tx * p[yb * w + xb]);
  }
}

// The atlas colour inside face f near its edge `corner` (corners corner and corner + 1).
void inside(const TexturedMesh& t, std::size_t f, int corner, double rgb[3]) {
  double uv[3][2];
  for (int k = 0; k < 3; ++k) {
    const std::uint32_t o = t.indices[3 * f + std::size_t((corner + k) % 3)];
    uv[k][0] = t.texcoords[2 * o], uv[k][1] = t.texcoords[2 * o + 1];
  }
  const double mu = 0.5 * (uv[0][0] + uv[1][0]), mv = 0.5 * (uv[0][1] + uv[1][1]);
  sample(t.atlas, mu + 0.1 * (uv[2][0] - mu), mv + 0.1 * (uv[2][1] - mv), rgb);
}

}  // namespace

SeamSteps measure_seam_steps(const TriMesh& mesh, const TexturedMesh& textured) {
  const auto neighbours = face_neighbours(mesh);
  SeamSteps s;
  for (std::size_t f = 0; f < mesh.faces.size(); ++f)
    for (int k = 0; k < 3; ++k) {
      const long g = neighbours[f][k];
      if (g <= long(f) || textured.face_view[f] < 0 || textured.face_view[g] < 0) continue;
      int kg = 0;  // the same edge in g
      while (kg < 3 && neighbours[g][kg] != long(f)) ++kg;
      if (kg == 3) continue;
      double a[3], b[3];
      inside(textured, f, k, a);
      inside(textured, std::size_t(g), kg, b);
      const double step = (std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2])) / 3.0;
      if (textured.face_view[f] != textured.face_view[g])
        s.seam += step, ++s.seam_edges;
      else
        s.interior += step, ++s.interior_edges;
    }
  if (s.seam_edges > 0) s.seam /= double(s.seam_edges);
  if (s.interior_edges > 0) s.interior /= double(s.interior_edges);
  return s;
}

}  // namespace tervik::texture
