// The texturing pipeline: the stages of texture_mesh.h in order, and the assembly of the
// output vertices.
#include "tools/texture/texture_mesh.h"

#include <atomic>
#include <cmath>
#include <thread>

#include "tervik/multiview_auxiliar.h"
#include "tools/texture/atlas.h"
#include "tools/texture/seam_levelling.h"
#include "tools/texture/view_selection.h"
#include "tools/texture/visibility.h"

namespace tervik::texture {

void parallel_for(long count, int threads, const std::function<void(long)>& body) {
  parallel_for(count, threads, [&](long i, int) { body(i); });
}

void parallel_for(long count, int threads, const std::function<void(long, int)>& body) {
  const long workers = std::clamp<long>(threads, 1, std::max<long>(1, count));
  if (workers <= 1) {
    for (long i = 0; i < count; ++i) body(i, 0);
    return;
  }
  // Each thread takes the next index not yet taken, so the indices a thread takes ascend, and
  // stops at its first failure, its lowest failing index; every index below the lowest of those
  // was taken, so it is rethrown: the error one thread would have met first.
  std::vector<std::thread> pool;
  std::vector<std::exception_ptr> errors(static_cast<std::size_t>(workers));
  std::vector<long> failed_at(static_cast<std::size_t>(workers), count);
  std::atomic<long> next{0};
  for (long t = 0; t < workers; ++t)
    pool.emplace_back([&, t] {
      for (long i = next++; i < count; i = next++) {
        try {
          body(i, int(t));
        } catch (...) {
          errors[std::size_t(t)] = std::current_exception();
          failed_at[std::size_t(t)] = i;
          return;
        }
      }
    });
  for (auto& th : pool) th.join();
  const auto first = std::min_element(failed_at.begin(), failed_at.end()) - failed_at.begin();
  if (errors[std::size_t(first)]) std::rethrow_exception(errors[std::size_t(first)]);
}

namespace {

void check_inputs(const TriMesh& mesh, const std::vector<View>& views, const TextureOptions& o) {
  if (mesh.faces.empty()) throw TervikError("the mesh has no faces");
  for (const Face& f : mesh.faces)
    for (std::uint32_t v : f)
      TERVIK_CHECK(v < mesh.positions.size(), "a face names vertex " << v << " of "
                                                                     << mesh.positions.size());
  TERVIK_CHECK(mesh.colors.empty() || mesh.colors.size() == mesh.positions.size(),
               "the mesh has " << mesh.colors.size() << " colours for " << mesh.positions.size()
                               << " vertices");
  TERVIK_CHECK(o.atlas_size >= 64 && o.atlas_size <= 16384 && (o.atlas_size & (o.atlas_size - 1)) == 0,
               "the atlas size must be a power of two from 64 to 16384, not " << o.atlas_size);
  TERVIK_CHECK(o.threads >= 1 && o.padding >= 1 && o.padding <= 64 && o.smoothness >= 0.0 &&
                   o.blend >= 1 && o.blend <= 8,
               "bad texturing options");
  for (std::size_t v = 0; v < views.size(); ++v) {
    const View& view = views[v];
    const std::size_t w = view.camera.im_width(), h = view.camera.im_height();
    TERVIK_CHECK(view.image.width() == w && view.image.height() == h,
                 "view " << v << ": the image is " << view.image.width() << " x "
                         << view.image.height() << ", the camera " << w << " x " << h);
    TERVIK_CHECK(view.silhouette.width() == 0 ||
                     (view.silhouette.width() == w && view.silhouette.height() == h),
                 "view " << v << ": the silhouette is " << view.silhouette.width() << " x "
                         << view.silhouette.height() << ", the camera " << w << " x " << h);
  }
}

double mean_edge_length(const TriMesh& mesh) {
  double sum = 0.0;
  for (const Face& f : mesh.faces)
    for (int k = 0; k < 3; ++k) sum += norm(mesh.positions[f[k]] - mesh.positions[f[(k + 1) % 3]]);
  return sum / double(3 * mesh.faces.size());
}

std::vector<Point3D> vertex_normals(const TriMesh& mesh) {
  std::vector<Point3D> n(mesh.positions.size(), Point3D(0, 0, 0));
  for (const Face& f : mesh.faces) {
    const Point3D& a = mesh.positions[f[0]];
    const Point3D fn = cross(mesh.positions[f[1]] - a, mesh.positions[f[2]] - a);
    for (std::uint32_t v : f) n[v] += fn;
  }
  for (Point3D& p : n) {
    const double l = norm(p);
    p = l > 0.0 ? p / l : Point3D(0, 0, 1);
  }
  return n;
}

}  // namespace

namespace {

// texture_mesh(), releasing the photos of *release (the views themselves) once sampled.
TexturedMesh texture(const TriMesh& mesh, const std::vector<View>& views,
                     const TextureOptions& options, std::vector<View>* release) {
  check_inputs(mesh, views, options);
  const long size = options.atlas_size;
  // 1. Visibility, one view per task. On a closed mesh (every edge between two faces) the nearest
  // surface along any line of sight from outside is a face turned towards the camera, so the
  // z-buffer of a camera outside the mesh's bounding box needs only those.
  const auto neighbours = face_neighbours(mesh);
  const bool closed = std::all_of(neighbours.begin(), neighbours.end(), [](const auto& n) {
    return n[0] >= 0 && n[1] >= 0 && n[2] >= 0;
  });
  Point3D low = mesh.positions[0], high = mesh.positions[0];
  for (const Point3D& p : mesh.positions)
    low = Point3D(std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)),
    high = Point3D(std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z));
  const auto outside = [&](const Point3D& e) {
    return e.x < low.x || e.y < low.y || e.z < low.z || e.x > high.x || e.y > high.y || e.z > high.z;
  };
  const double tolerance = mean_edge_length(mesh);
  std::vector<Projection> projections(views.size());
  std::vector<std::vector<float>> quality(views.size());
  std::vector<std::vector<float>> zbuffers(std::size_t(std::max(1, options.threads)));
  parallel_for(long(views.size()), options.threads, [&](long v, int t) {
    projections[v] = project_mesh(views[v].camera, mesh.positions);
    const bool front_only = closed && outside(multiview::camera_position(views[v].camera));
    quality[v] = face_quality(mesh, views[v], projections[v], tolerance, options.min_cosine,
                              front_only, zbuffers[std::size_t(t)]);
  });
  zbuffers = {};
  // 2. View selection.
  const std::vector<int> labels = select_views(quality, neighbours, options.smoothness);
  TexturedMesh out;
  for (std::size_t f = 0; f < labels.size(); ++f) {
    (labels[f] >= 0 ? out.seen_faces : out.unseen_faces) += 1;
    for (long g : neighbours[f])
      if (g > long(f) && labels[g] != labels[f]) ++out.seam_edges;
  }
  if (out.seen_faces == 0) throw NoVisibleFace();
  out.face_view = labels;
  // 3. Charts and their places in the atlas.
  std::vector<Chart> charts = build_charts(mesh, labels, neighbours, projections);
  for (const Chart& c : charts) out.charts += c.view >= 0;
  out.scale = pack_charts(charts, size, options.padding);
  // The output vertices: one per mesh vertex and chart, in the order the charts' faces name them.
  const std::vector<Point3D> normals = vertex_normals(mesh);
  out.indices.assign(mesh.faces.size() * 3, 0);
  std::vector<long> stamp(mesh.positions.size(), -1);
  std::vector<std::uint32_t> slot(mesh.positions.size(), 0);
  std::vector<char> photo;                     // 1 for the output vertices of photo charts
  std::vector<std::array<std::uint32_t, 2>> at;  // the chart and a face of every output vertex
  for (std::size_t ci = 0; ci < charts.size(); ++ci) {
    const Chart& chart = charts[ci];
    for (std::uint32_t f : chart.faces)
      for (int k = 0; k < 3; ++k) {
        const std::uint32_t v = mesh.faces[f][k];
        // An unseen face's corners are its own (its triangle in the atlas is fixed).
        if (stamp[v] != long(ci) || chart.view < 0) {
          stamp[v] = long(ci);
          slot[v] = std::uint32_t(out.source.size());
          out.source.push_back(v);
          const Point3D& p = mesh.positions[v];
          out.positions.insert(out.positions.end(), {float(p.x), float(p.y), float(p.z)});
          out.normals.insert(out.normals.end(),
                             {float(normals[v].x), float(normals[v].y), float(normals[v].z)});
          const Point2D t = atlas_position(chart, mesh, projections, f, k, out.scale);
          out.texcoords.insert(out.texcoords.end(),
                               {float(t.x / double(size)), float(t.y / double(size))});
          photo.push_back(chart.view >= 0);
          at.push_back({std::uint32_t(ci), f});
        }
        out.indices[3 * f + k] = slot[v];
      }
  }
  // The chart's colour at each output vertex, on the threads in blocks of vertices.
  std::vector<std::array<float, 3>> colour(out.source.size());
  constexpr long kBlock = 4096;
  parallel_for((long(colour.size()) + kBlock - 1) / kBlock, options.threads, [&](long b) {
    for (std::size_t i = std::size_t(b * kBlock); i < std::min(colour.size(), std::size_t((b + 1) * kBlock)); ++i) {
      const int view = charts[at[i][0]].view;
      const std::uint32_t f = at[i][1], v = out.source[i];
      if (view >= 0 && options.blend > 1) {
        colour[i] = blended_colour(views, quality, f, mesh.positions[v], options.blend);
      } else if (view >= 0) {
        // The photo's colour around the vertex: its pixel and four at one pixel's distance.
        const Point2D& c = projections[std::size_t(view)].pixels[v];
        std::array<float, 3> sum{};
        const double d[5][2] = {{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}};
        for (const auto& o : d) {
          const auto s = sample_photo(views[std::size_t(view)], Point2D(c.x + o[0], c.y + o[1]));
          for (int q = 0; q < 3; ++q) sum[q] += s[q] / 5.0f;
        }
        colour[i] = sum;
      } else {
        const Rgb rgb = mesh.colors.empty() ? Rgb{160, 160, 160} : mesh.colors[v];
        colour[i] = {float(rgb[0]), float(rgb[1]), float(rgb[2])};
      }
    }
  });
  at = {};
  // 4. Seam levelling, while the other threads lay out the blank atlas in the mean photo colour
  // and sample the photos for the charts' texels (5, which do not need the corrections).
  double sum[3] = {0, 0, 0};
  long count = 0;
  for (std::size_t i = 0; i < colour.size(); ++i)
    if (photo[i]) {
      ++count;
      for (int c = 0; c < 3; ++c) sum[c] += double(colour[i][c]);
    }
  Rgb mean{128, 128, 128};
  for (int c = 0; count > 0 && c < 3; ++c)
    mean[c] = static_cast<unsigned char>(std::lround(sum[c] / double(count)));
  std::vector<std::array<float, 3>> correction(out.source.size(), {0.0f, 0.0f, 0.0f});
  const FillInput in{&mesh, &views, &out.indices, &out.texcoords, &correction, &out.source,
                     out.scale, options.padding, &quality, options.blend};
  std::vector<std::vector<std::array<float, 3>>> samples(charts.size());
  parallel_for(long(charts.size()) + 2, options.threads, [&](long task) {
    if (task == 0 && options.level_seams)
      correction = level_seams(colour, out.source, out.indices, photo);
    else if (task == 1 && !release)
      blank_atlas(size, mean, out.atlas);
    else if (task >= 2)
      samples[std::size_t(task - 2)] = sample_chart_photo(charts[std::size_t(task - 2)], in, size);
  });
  if (release) {
    const std::array<std::size_t, 2> none{0, 0};
    for (View& view : *release) {
      for (int c = 0; c < 3; ++c) view.image.channel(c).resize(none);
      view.silhouette.channel(0).resize(none);
    }
    blank_atlas(size, mean, out.atlas, options.threads);
  }
  // 5. The atlas: the samples plus the corrections, and the padding.
  fill_atlas(charts, in, samples, options.threads, out.atlas);
  return out;
}

}  // namespace

TexturedMesh texture_mesh(const TriMesh& mesh, const std::vector<View>& views,
                          const TextureOptions& options) {
  return texture(mesh, views, options, nullptr);
}

TexturedMesh texture_mesh(const TriMesh& mesh, std::vector<View>&& views,
                          const TextureOptions& options) {
  return texture(mesh, views, options, &views);
}

}  // namespace tervik::texture
