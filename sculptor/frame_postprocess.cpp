#include "sculptor/frame_postprocess.h"

#include <algorithm>
#include <cstdint>
#include <ostream>

#include "sculptor/colors.h"
#include "sculptor/colour_fill.h"
#include "sculptor/depth_maps.h"
#include "sculptor/normals.h"
#include "sculptor/smoothing.h"

namespace tervik {

namespace {

// The neighbourhoods the normals are estimated from: those of the smoothing (radius L) or, with
// another normal radius, their own, built here over `points`.
const Neighbourhoods& normal_neighbourhoods(const StageParameters& params,
                                            const std::vector<Patch>& points,
                                            PostprocessWork& work) {
  if (params.normal_radius == 1.0) return work.near;
  const double r = params.normal_radius * params.step;
  work.near_normals.build(points, r * r, params.threads);
  return work.near_normals;
}

}  // namespace

void filter_frame(const StageParameters& params, const FrameTimer& timer,
                  std::vector<Patch>& surface, PostprocessWork& work, std::ostream& progress,
                  std::ostream& timing) {
  // 1. Normals re-estimated from the neighbourhoods; the swap keeps both buffers' storage. The
  //    new normals leave the positions as they were, so the smoothing uses the same lists.
  progress << "normals..." << std::endl;
  work.near.build(surface, params.step * params.step, params.threads);
  normals(work.scratch, surface, normal_neighbourhoods(params, surface, work), params, progress);
  surface.swap(work.scratch);
  progress << surface.size() << " points" << std::endl;

  // 2. Smoothing along the normals.
  progress << "smoothing surface..." << std::endl;
  smooth_surface(surface, work.near, params, progress, work.scratch);
  progress << surface.size() << " points" << std::endl;
  timer.print(timing, "Points and post-filtering: ");
}

void filter_first(const StageParameters& params, std::size_t keep, std::vector<Patch>& surface,
                  std::vector<Patch>& filtered, PostprocessWork& work, FilterParts& parts,
                  std::ostream& progress) {
  progress << "normals..." << std::endl;
  parts.sampled.swap(surface);
  const std::vector<Patch>& sampled = parts.sampled;
  const std::size_t n = sampled.size();
  parts.keep = std::min(keep, n);
  parts.normal_radius = params.normal_radius;
  work.near.build(sampled, params.step * params.step, params.threads);
  // The kept points' smoothing reads the new normals of their neighbourhoods: those are
  // estimated first, the others with the rest of the smoothing.
  parts.first_normals.assign(n, 0);
  std::vector<std::uint32_t> scratch;
  for (std::size_t j = 0; j < parts.keep; ++j)
    for (const std::uint32_t k : work.near.of(j, sampled, scratch)) parts.first_normals[k] = 1;
  work.scratch.resize(n);
  parts.normals = normals_where(work.scratch, sampled, normal_neighbourhoods(params, sampled, work),
                                parts.first_normals, 1, params.threads);
  filtered.resize(n);
  parts.smoothing_used =
      smooth_range(work.scratch, work.near, 0, parts.keep, params.threads, filtered);
}

void filter_rest(unsigned threads, std::vector<Patch>& filtered, PostprocessWork& work,
                 FilterParts& parts, std::ostream& progress) {
  const std::size_t n = parts.sampled.size();
  // The normals' own neighbourhoods, when they have them, were built by filter_first().
  const Neighbourhoods& near = work.near_normals.size() == n && parts.normal_radius != 1.0
                                   ? work.near_normals
                                   : work.near;
  const NormalsTally rest =
      normals_where(work.scratch, parts.sampled, near, parts.first_normals, 0, threads);
  parts.normals.neighbours += rest.neighbours;
  parts.normals.unchanged += rest.unchanged;
  report_normals(n, parts.normals, progress);
  progress << n << " points" << std::endl;
  progress << "smoothing surface..." << std::endl;
  parts.smoothing_used += smooth_range(work.scratch, work.near, parts.keep, n, threads, filtered);
  report_smoothing(n, parts.smoothing_used, progress);
  progress << n << " points" << std::endl;
}

void colour_frame(const multiview::MultiView<ImageRGB<unsigned char>>& colour_views,
                  const StageParameters& params, unsigned threads, std::vector<Patch>& surface,
                  PostprocessWork& work) {
  if (!params.colour_all) {
    colour_points(surface, work.depth_maps, colour_views, params.step, threads);
    return;
  }
  colour_points(surface, work.depth_maps, colour_views, params.step, threads, &work.coloured);
  // The neighbourhoods of the smoothing, found before it moved the points by a fraction of L,
  // serve as the surface's connections.
  fill_unseen_colours(surface, work.coloured, work.near, threads);
}

void postprocess_frame(const multiview::MultiView<ImageRGB<unsigned char>>& colour_views,
                       const StageParameters& params, const FrameTimer& timer,
                       std::vector<Patch>& surface, PostprocessWork& work,
                       std::ostream& progress, std::ostream& timing) {
  filter_frame(params, timer, surface, work, progress, timing);
  // 3. Visibility and colour.
  progress << "coloring..." << std::endl;
  colour_frame(colour_views, params, params.threads, surface, work);
  timer.print(timing, "Points and post-filtering and coloring: ");
}

}  // namespace tervik
