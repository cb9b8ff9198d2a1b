// Charts, packing (stb_rect_pack) and filling of the texture atlas.
#include "tools/texture/atlas.h"

#include <algorithm>
#include <cmath>
#include <deque>

#define STB_RECT_PACK_IMPLEMENTATION
#include <stb/stb_rect_pack.h>

#include "tervik/multiview.h"

namespace tervik::texture {

std::vector<Chart> build_charts(const TriMesh& mesh, const std::vector<int>& labels,
                                const std::vector<std::array<long, 3>>& neighbours,
                                const std::vector<Projection>& projections) {
  std::vector<Chart> charts;
  std::vector<char> done(mesh.faces.size(), 0);
  std::deque<std::uint32_t> queue;
  Chart unseen;
  for (std::size_t start = 0; start < mesh.faces.size(); ++start) {
    if (done[start]) continue;
    Chart chart;
    chart.view = labels[start];
    done[start] = 1;
    if (chart.view < 0) {
      unseen.faces.push_back(std::uint32_t(start));
      continue;
    }
    queue.push_back(std::uint32_t(start));
    while (!queue.empty()) {
      const std::uint32_t f = queue.front();
      queue.pop_front();
      chart.faces.push_back(f);
      for (long g : neighbours[f])
        if (g >= 0 && !done[g] && labels[g] == chart.view) done[g] = 1, queue.push_back(std::uint32_t(g));
    }
    std::sort(chart.faces.begin(), chart.faces.end());
    const Projection& proj = projections[chart.view];
    chart.min_x = chart.min_y = 1e300;
    chart.max_x = chart.max_y = -1e300;
    for (std::uint32_t f : chart.faces)
      for (std::uint32_t v : mesh.faces[f]) {
        const Point2D& p = proj.pixels[v];
        chart.min_x = std::min(chart.min_x, p.x), chart.max_x = std::max(chart.max_x, p.x);
        chart.min_y = std::min(chart.min_y, p.y), chart.max_y = std::max(chart.max_y, p.y);
      }
    charts.push_back(std::move(chart));
  }
  if (!unseen.faces.empty()) charts.push_back(std::move(unseen));
  return charts;
}

namespace {

// Tries to pack at `scale`; true when every chart found a place.
bool try_pack(std::vector<Chart>& charts, long size, int padding, double scale) {
  std::vector<stbrp_rect> rects(charts.size());
  for (std::size_t i = 0; i < charts.size(); ++i) {
    const Chart& c = charts[i];
    const double s = c.view < 0 ? 1.0 : scale;
    const long w = long(std::ceil((c.max_x - c.min_x) * s)) + 1 + 2 * padding;
    const long h = long(std::ceil((c.max_y - c.min_y) * s)) + 1 + 2 * padding;
    if (w > size || h > size) return false;
    rects[i].id = int(i);
    rects[i].w = stbrp_coord(w);
    rects[i].h = stbrp_coord(h);
  }
  stbrp_context context;
  std::vector<stbrp_node> nodes(static_cast<std::size_t>(size));
  stbrp_init_target(&context, int(size), int(size), nodes.data(), int(nodes.size()));
  if (!stbrp_pack_rects(&context, rects.data(), int(rects.size()))) return false;
  for (std::size_t i = 0; i < charts.size(); ++i) {
    Chart& c = charts[i];
    c.rect_x = rects[i].x, c.rect_y = rects[i].y, c.rect_w = rects[i].w, c.rect_h = rects[i].h;
    c.origin_x = double(c.rect_x + padding), c.origin_y = double(c.rect_y + padding);
  }
  return true;
}

}  // namespace

double pack_charts(std::vector<Chart>& charts, long atlas_size, int padding) {
  // Start from the scale at which the rectangles would fill 80 % of the atlas, if below 1.
  double area = 0.0, fixed = 0.0;
  for (Chart& c : charts) {
    if (c.view < 0) {
      // A square grid of cells, one face each.
      const long n = long(c.faces.size());
      c.columns = long(std::ceil(std::sqrt(double(n))));
      const long rows = (n + c.columns - 1) / c.columns;
      c.cell = double(c.columns * 4) * double(rows * 4) > double(atlas_size) * double(atlas_size) / 16.0 ? 2 : 4;
      c.max_x = double(c.columns * c.cell) - 1.0;
      c.max_y = double(rows * c.cell) - 1.0;
      fixed += (c.max_x + 1 + 2 * padding) * (c.max_y + 1 + 2 * padding);
    } else {
      area += (c.max_x - c.min_x + 1 + 2 * padding) * (c.max_y - c.min_y + 1 + 2 * padding);
    }
  }
  const double room = 0.8 * double(atlas_size) * double(atlas_size) - fixed;
  TERVIK_CHECK(room > 0.0, "the atlas of " << atlas_size << " x " << atlas_size
                                           << " texels cannot hold the faces no camera sees");
  double scale = area > room ? std::sqrt(room / area) : 1.0;
  for (int attempt = 0; attempt < 60; ++attempt, scale *= 0.9)
    if (try_pack(charts, atlas_size, padding, scale)) return scale;
  throw TervikError("the charts do not fit an atlas of " + std::to_string(atlas_size) + " x " +
                    std::to_string(atlas_size) + " texels");
}

Point2D atlas_position(const Chart& chart, const TriMesh& mesh,
                       const std::vector<Projection>& projections, std::uint32_t face, int corner,
                       double scale) {
  if (chart.view < 0) {
    // Cell k of the grid; the triangle's corners at texel centres, its legs cell - 1 texels.
    const long k = long(std::lower_bound(chart.faces.begin(), chart.faces.end(), face) - chart.faces.begin());
    const double x = chart.origin_x + double((k % chart.columns) * chart.cell) + 0.5;
    const double y = chart.origin_y + double((k / chart.columns) * chart.cell) + 0.5;
    const double leg = double(chart.cell - 1);
    static const double offsets[3][2] = {{0, 0}, {1, 0}, {0, 1}};
    return Point2D(x + offsets[corner][0] * leg, y + offsets[corner][1] * leg);
  }
  const Point2D& p = projections[chart.view].pixels[mesh.faces[face][corner]];
  return Point2D(chart.origin_x + (p.x - chart.min_x) * scale,
                 chart.origin_y + (p.y - chart.min_y) * scale);
}

namespace {

// floor(v) for a finite v of a long's range, by truncation: the library call costs as much as
// the rest of a photo sample.
long floor_long(double v) {
  const long t = long(v);
  return double(t) > v ? t - 1 : t;
}

}  // namespace

std::array<float, 3> sample_photo(const View& view, const Point2D& p) {
  const long w = long(view.image.width()), h = long(view.image.height());
  const double fx = p.x - 0.5, fy = p.y - 0.5;
  const long x0 = floor_long(fx), y0 = floor_long(fy);
  const double tx = fx - double(x0), ty = fy - double(y0);
  long xs[2] = {std::clamp(x0, 0L, w - 1), std::clamp(x0 + 1, 0L, w - 1)};
  long ys[2] = {std::clamp(y0, 0L, h - 1), std::clamp(y0 + 1, 0L, h - 1)};
  double wt[4] = {(1 - tx) * (1 - ty), tx * (1 - ty), (1 - tx) * ty, tx * ty};
  std::size_t at[4];
  for (int k = 0; k < 4; ++k) at[k] = std::size_t(ys[k / 2]) * std::size_t(w) + std::size_t(xs[k % 2]);
  if (view.silhouette.width() > 0) {
    const unsigned char* s = view.silhouette.channel(0).data();
    double masked[4], sum = 0.0;
    for (int k = 0; k < 4; ++k) masked[k] = s[at[k]] >= 128 ? wt[k] : 0.0, sum += masked[k];
    if (sum > 0.0)
      for (int k = 0; k < 4; ++k) wt[k] = masked[k] / sum;
  }
  std::array<float, 3> out{};
  for (int c = 0; c < 3; ++c) {
    const unsigned char* src = view.image.channel(c).data();
    double v = 0.0;
    for (int k = 0; k < 4; ++k) v += wt[k] * double(src[at[k]]);
    out[c] = float(v);
  }
  return out;
}

namespace {

constexpr int kMaxBlend = 8;

// The face's best `blend` views (at most kMaxBlend) by quality, best first (ties: the lower view
// number first), written to best[]; returns how many there are.
int best_views(const std::vector<std::vector<float>>& quality, std::uint32_t face, int blend,
               int best[kMaxBlend]) {
  int n = 0;
  const int want = std::clamp(blend, 1, kMaxBlend);
  for (int v = 0; v < int(quality.size()); ++v) {
    if (!(quality[v][face] > 0.0f)) continue;
    int at = n < want ? n++ : want;
    while (at > 0 && quality[best[at - 1]][face] < quality[v][face]) {
      if (at < want) best[at] = best[at - 1];
      --at;
    }
    if (at < want) best[at] = v;
  }
  return n;
}

// The views a face blends, found once per face: their weights and whether their lenses
// distort.
struct Blend {
  int n = 0;
  int view[kMaxBlend];
  double weight[kMaxBlend];
  bool distorted[kMaxBlend];
};

Blend face_blend(const std::vector<View>& views, const std::vector<std::vector<float>>& quality,
                 std::uint32_t face, int blend) {
  Blend b;
  b.n = best_views(quality, face, blend, b.view);
  for (int i = 0; i < b.n; ++i) {
    b.weight[i] = quality[b.view[i]][face];
    const double* d = views[std::size_t(b.view[i])].camera.distortion().data();
    b.distorted[i] = d[0] != 0.0 || d[1] != 0.0 || d[2] != 0.0 || d[3] != 0.0;
  }
  return b;
}

// The colour of X averaged over the blend's views, as blended_colour() describes. X is
// projected as multiview::fast_world2image does (the lens distortion skipped where it is zero,
// which leaves every finite position as it is).
std::array<float, 3> blend_at(const std::vector<View>& views, const Blend& b, const Point3D& X) {
  double sum[3] = {0, 0, 0}, weights = 0.0;
  for (int i = 0; i < b.n; ++i) {
    const View& view = views[std::size_t(b.view[i])];
    const double* p = view.camera.p().data();
    const double w = p[8] * X.x + p[9] * X.y + p[10] * X.z + p[11];
    Point2D x((p[0] * X.x + p[1] * X.y + p[2] * X.z + p[3]) / w,
              (p[4] * X.x + p[5] * X.y + p[6] * X.z + p[7]) / w);
    if (b.distorted[i]) multiview::ideal_to_distorted(Point2D(x), view.camera, x);
    const auto c = sample_photo(view, x);
    for (int k = 0; k < 3; ++k) sum[k] += b.weight[i] * c[k];
    weights += b.weight[i];
  }
  std::array<float, 3> out{};
  for (int k = 0; k < 3 && weights > 0.0; ++k) out[k] = float(sum[k] / weights);
  return out;
}

}  // namespace

std::array<float, 3> blended_colour(const std::vector<View>& views,
                                    const std::vector<std::vector<float>>& quality,
                                    std::uint32_t face, const Point3D& X, int blend) {
  return blend_at(views, face_blend(views, quality, face, blend), X);
}

namespace {

unsigned char to_byte(double v) {
  return static_cast<unsigned char>(std::clamp(std::lround(v), 0L, 255L));
}

// Calls visit(f, o, b, px, py, at) for the texels of one chart's faces in the order they are
// written: every texel whose centre lies within one texel of face f, unless a face before it
// took the texel from inside (state 2), or this one is outside too (state 1: within a texel of
// a face). o are the face's output vertices, b the centre's barycentric weights (clamped to the
// face and normalised), (px, py) the centre in the atlas, `at` its atlas index. `state` covers
// the chart's rectangle, row after row, all 0 at the start.
template <typename Visit>
void chart_texels(const Chart& chart, const FillInput& in, long size,
                  std::vector<unsigned char>& state, Visit&& visit) {
  const long x_end = chart.rect_x + chart.rect_w, y_end = chart.rect_y + chart.rect_h;
  for (std::uint32_t f : chart.faces) {
    Point2D t[3];
    std::uint32_t o[3];
    for (int k = 0; k < 3; ++k) {
      o[k] = (*in.indices)[3 * f + k];
      t[k] = Point2D(double((*in.texcoords)[2 * o[k]]) * double(size),
                     double((*in.texcoords)[2 * o[k] + 1]) * double(size));
    }
    const double area = (t[1].x - t[0].x) * (t[2].y - t[0].y) - (t[1].y - t[0].y) * (t[2].x - t[0].x);
    if (!(std::abs(area) > 0.0)) continue;
    // Distance of each corner from its opposite edge, in texels.
    double height[3];
    for (int k = 0; k < 3; ++k) {
      const Point2D& p = t[(k + 1) % 3];
      const Point2D& q = t[(k + 2) % 3];
      height[k] = std::abs(area) / std::max(std::hypot(q.x - p.x, q.y - p.y), 1e-12);
    }
    const long x0 = std::max(chart.rect_x, long(std::floor(std::min({t[0].x, t[1].x, t[2].x}))) - 1);
    const long x1 = std::min(x_end, long(std::ceil(std::max({t[0].x, t[1].x, t[2].x}))) + 1);
    const long y0 = std::max(chart.rect_y, long(std::floor(std::min({t[0].y, t[1].y, t[2].y}))) - 1);
    const long y1 = std::min(y_end, long(std::ceil(std::max({t[0].y, t[1].y, t[2].y}))) + 1);
    for (long y = y0; y < y1; ++y)
      for (long x = x0; x < x1; ++x) {
        const double px = double(x) + 0.5, py = double(y) + 0.5;
        double b[3];
        b[0] = ((t[1].x - px) * (t[2].y - py) - (t[1].y - py) * (t[2].x - px)) / area;
        b[1] = ((t[2].x - px) * (t[0].y - py) - (t[2].y - py) * (t[0].x - px)) / area;
        b[2] = 1.0 - b[0] - b[1];
        const bool inside = b[0] >= 0.0 && b[1] >= 0.0 && b[2] >= 0.0;
        if (!inside && (b[0] * height[0] < -1.0 || b[1] * height[1] < -1.0 || b[2] * height[2] < -1.0))
          continue;
        unsigned char& st = state[std::size_t((y - chart.rect_y) * chart.rect_w + (x - chart.rect_x))];
        if (st == 2 || (!inside && st == 1)) continue;
        st = inside ? 2 : 1;
        double sum = 0.0;
        for (double& v : b) v = std::max(v, 0.0), sum += v;
        for (double& v : b) v /= sum;
        visit(f, o, b, px, py, std::size_t(y) * std::size_t(size) + std::size_t(x));
      }
  }
}

// The photo colours of a photo chart's texels, in chart_texels' order.
std::vector<std::array<float, 3>> sample_chart(const Chart& chart, const FillInput& in, long size) {
  const TriMesh& mesh = *in.mesh;
  const View& view = (*in.views)[std::size_t(chart.view)];
  std::vector<unsigned char> state(std::size_t(chart.rect_w * chart.rect_h), 0);
  std::vector<std::array<float, 3>> colours;
  Blend blend;
  std::uint32_t blend_face = std::uint32_t(-1);
  chart_texels(chart, in, size, state,
               [&](std::uint32_t f, const std::uint32_t*, const double* b, double px, double py,
                   std::size_t) {
                 if (in.blend > 1) {
                   if (f != blend_face) blend = face_blend(*in.views, *in.quality, f, in.blend), blend_face = f;
                   Point3D X(0, 0, 0);
                   for (int k = 0; k < 3; ++k) X += mesh.positions[mesh.faces[f][k]] * b[k];
                   colours.push_back(blend_at(*in.views, blend, X));
                 } else {
                   const Point2D image((px - chart.origin_x) / in.scale + chart.min_x,
                                       (py - chart.origin_y) / in.scale + chart.min_y);
                   colours.push_back(sample_photo(view, image));
                 }
               });
  return colours;
}

// Writes a chart's texels: the sampled photo colour (or, for the unseen faces, the vertex
// colours) plus the interpolated correction. `state` as chart_texels.
void write_chart(const Chart& chart, const FillInput& in, const std::vector<std::array<float, 3>>& photo,
                 long size, ImageRGB<unsigned char>& atlas, std::vector<unsigned char>& state) {
  const TriMesh& mesh = *in.mesh;
  unsigned char* out[3] = {atlas.channel(0).data(), atlas.channel(1).data(), atlas.channel(2).data()};
  std::size_t next = 0;
  chart_texels(chart, in, size, state,
               [&](std::uint32_t, const std::uint32_t* o, const double* b, double, double,
                   std::size_t at) {
                 std::array<double, 3> colour{};
                 if (chart.view >= 0) {
                   const std::array<float, 3>& c = photo[next++];
                   for (int k = 0; k < 3; ++k) colour[k] = c[k];
                 } else {
                   for (int k = 0; k < 3; ++k) {
                     const std::uint32_t v = (*in.source)[o[k]];
                     const Rgb rgb = mesh.colors.empty() ? Rgb{160, 160, 160} : mesh.colors[v];
                     for (int c = 0; c < 3; ++c) colour[c] += b[k] * double(rgb[c]);
                   }
                 }
                 for (int k = 0; k < 3; ++k)
                   for (int c = 0; c < 3; ++c) colour[c] += b[k] * double((*in.correction)[o[k]][c]);
                 for (int c = 0; c < 3; ++c) out[c][at] = to_byte(colour[c]);
               });
}

// Grows the filled texels of a chart's rectangle outwards, `rounds` times by one texel: an empty
// texel with filled 8-neighbours takes their mean. After the first round, only the empty
// neighbours of the texels grown in the round before can have filled neighbours.
void dilate_chart(const Chart& chart, long size, int rounds, ImageRGB<unsigned char>& atlas,
                  std::vector<unsigned char>& state) {
  unsigned char* out[3] = {atlas.channel(0).data(), atlas.channel(1).data(), atlas.channel(2).data()};
  const long w = chart.rect_w, h = chart.rect_h;
  struct Grown {
    long x, y;  // in the rectangle
    unsigned char rgb[3];
  };
  const auto atlas_at = [&](long x, long y) {
    return std::size_t(y + chart.rect_y) * std::size_t(size) + std::size_t(x + chart.rect_x);
  };
  // The mean of the filled neighbours of empty texel (x, y), appended to `grown` if any.
  std::vector<Grown> grown, previous;
  const auto try_grow = [&](long x, long y) {
    int n = 0, sum[3] = {0, 0, 0};
    for (long ny = std::max(0L, y - 1); ny <= std::min(h - 1, y + 1); ++ny)
      for (long nx = std::max(0L, x - 1); nx <= std::min(w - 1, x + 1); ++nx) {
        const unsigned char st = state[std::size_t(ny * w + nx)];
        if (st != 1 && st != 2) continue;
        ++n;
        const std::size_t at = atlas_at(nx, ny);
        for (int c = 0; c < 3; ++c) sum[c] += out[c][at];
      }
    if (n == 0) return;
    Grown g{x, y, {}};
    for (int c = 0; c < 3; ++c) g.rgb[c] = static_cast<unsigned char>((sum[c] + n / 2) / n);
    grown.push_back(g);
  };
  // Marks an empty texel already taken in this round (it is filled at the round's end).
  constexpr unsigned char kCandidate = 3;
  for (int round = 0; round < rounds; ++round) {
    grown.clear();
    if (round == 0) {
      for (long y = 0; y < h; ++y)
        for (long x = 0; x < w; ++x)
          if (!state[std::size_t(y * w + x)]) try_grow(x, y);
    } else {
      for (const Grown& g : previous)
        for (long ny = std::max(0L, g.y - 1); ny <= std::min(h - 1, g.y + 1); ++ny)
          for (long nx = std::max(0L, g.x - 1); nx <= std::min(w - 1, g.x + 1); ++nx) {
            unsigned char& st = state[std::size_t(ny * w + nx)];
            if (st) continue;
            st = kCandidate;
            try_grow(nx, ny);  // grows: it neighbours g
          }
    }
    if (grown.empty()) break;
    for (const Grown& g : grown) {
      state[std::size_t(g.y * w + g.x)] = 1;
      const std::size_t at = atlas_at(g.x, g.y);
      for (int c = 0; c < 3; ++c) out[c][at] = g.rgb[c];
    }
    std::swap(grown, previous);
  }
}

}  // namespace

void blank_atlas(long size, const Rgb& background, ImageRGB<unsigned char>& atlas, int threads) {
  parallel_for(3, threads, [&](long c) {
    auto& channel = atlas.channel(std::size_t(c));
    channel.resize(std::array<std::size_t, 2>{std::size_t(size), std::size_t(size)});
    std::fill_n(channel.data(), std::size_t(size) * std::size_t(size), background[std::size_t(c)]);
  });
}

std::vector<std::array<float, 3>> sample_chart_photo(const Chart& chart, const FillInput& in,
                                                     long atlas_size) {
  if (chart.view < 0) return {};
  return sample_chart(chart, in, atlas_size);
}

void fill_atlas(const std::vector<Chart>& charts, const FillInput& in,
                const std::vector<std::vector<std::array<float, 3>>>& photo, int threads,
                ImageRGB<unsigned char>& atlas) {
  const long size = long(atlas.width());
  // Every chart writes inside its own rectangle only, so charts can be filled in any order.
  parallel_for(long(charts.size()), threads, [&](long i) {
    const Chart& chart = charts[std::size_t(i)];
    std::vector<unsigned char> state(std::size_t(chart.rect_w * chart.rect_h), 0);
    write_chart(chart, in, photo[std::size_t(i)], size, atlas, state);
    dilate_chart(chart, size, in.padding + 1, atlas, state);
  });
}

}  // namespace tervik::texture
