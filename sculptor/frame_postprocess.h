#pragma once
// The post-processing half of a frame's stage sequence: the sampled points are re-oriented,
// smoothed and coloured, with progress and timing lines written to the streams given.
#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <vector>

#include "common/patch.h"
#include "sculptor/depth_maps.h"
#include "sculptor/frame_timer.h"
#include "sculptor/neighbourhoods.h"
#include "sculptor/normals.h"
#include "sculptor/stage_parameters.h"
#include "tervik/imagergb.h"
#include "tervik/multiview.h"

namespace tervik {

// Storage of the post-processing kept from frame to frame, so that a frame allocates little.
struct PostprocessWork {
  std::vector<Patch> scratch;                     // a second point buffer, swapped with the points
  Neighbourhoods near;                            // the neighbourhoods within L of the points
  Neighbourhoods near_normals;                    // within normal_radius L, when that is not 1
  std::vector<DepthMap> depth_maps;               // the colouring's maps, one per thread
  std::vector<std::uint8_t> coloured;             // with colour_all: how each point was coloured
};

// Runs, on the frame's sampled points in `surface` (replaced by its final, coloured points):
//   "normals..."            normals(), which replaces `surface`; "<n> points"
//   "smoothing surface..."  smooth_surface() on the same neighbourhoods; "<n> points"
//   timing "Points and post-filtering: <1/t> fps or <t> s/frame"
//   "coloring..."           colour_frame()
//   timing "Points and post-filtering and coloring: ..."
// Progress lines go to `progress`, timing lines to `timing`; t is timer.seconds(), the time since
// the frame's start. `colour_views` holds the full-resolution cameras with the frame's colour
// images. Reads L (`step`) and `threads` of `params`. `work` may be new or the previous call's.
void postprocess_frame(const multiview::MultiView<ImageRGB<unsigned char>>& colour_views,
                       const StageParameters& params, const FrameTimer& timer,
                       std::vector<Patch>& surface, PostprocessWork& work,
                       std::ostream& progress, std::ostream& timing);

// The first half of postprocess_frame: its lines up to and including the timing line
// "Points and post-filtering: ...". Leaves the points uncoloured.
void filter_frame(const StageParameters& params, const FrameTimer& timer,
                  std::vector<Patch>& surface, PostprocessWork& work, std::ostream& progress,
                  std::ostream& timing);

// The filtering split in two, for a frame loop that samples the next frame while this one is
// finished: the next frame's sampling reads only the positions of the first points (its start
// positions). filter_first() smooths the first `keep` points, estimating the normals that
// their smoothing reads; filter_rest() estimates the other normals and smooths the other points.
// Together they write the same points and progress lines as filter_frame() (without its timing
// line).
struct FilterParts {
  std::vector<Patch> sampled;                // the points as sampled: the normals' input
  std::vector<std::uint8_t> first_normals;   // per point: 1 when filter_first() estimated its normal
  std::size_t keep = 0;                      // the points that filter_first() smoothed
  NormalsTally normals;                      // the tally of the normals estimated so far
  long long smoothing_used = 0;              // the neighbours the smoothing used so far
  double normal_radius = 1.0;                // the normals' radius (in L) of filter_first()
};

// Writes "normals...", moves the sampled points of `surface` into parts.sampled (`surface` gets
// storage to reuse, its content unspecified) and sizes `filtered` for them, of which the first
// min(keep, points) are final on return. Runs on params.threads threads.
void filter_first(const StageParameters& params, std::size_t keep, std::vector<Patch>& surface,
                  std::vector<Patch>& filtered, PostprocessWork& work, FilterParts& parts,
                  std::ostream& progress);

// Finishes `filtered` after filter_first() on up to `threads` threads, with the rest of
// filter_frame()'s progress lines. Writes only the points beyond the first `keep`, so that
// another thread may read the first ones meanwhile. `work` must be as filter_first() left it.
void filter_rest(unsigned threads, std::vector<Patch>& filtered, PostprocessWork& work,
                 FilterParts& parts, std::ostream& progress);

// The colouring of postprocess_frame, without its lines: colour_points() with depth tolerance
// L (params.step) and the maps work.depth_maps (kept from call to call), on up to `threads`
// threads. With params.colour_all, every point is coloured: those the blend leaves grey from the
// cameras that see them (colour_points' `coloured`), the rest by fill_unseen_colours(). Reads
// only the positions and normals of `surface` and writes only their colours, so another thread
// may read the positions and normals meanwhile.
void colour_frame(const multiview::MultiView<ImageRGB<unsigned char>>& colour_views,
                  const StageParameters& params, unsigned threads, std::vector<Patch>& surface,
                  PostprocessWork& work);

}  // namespace tervik
