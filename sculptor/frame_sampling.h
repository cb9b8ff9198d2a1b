#pragma once
// The sampling stage of a frame: seeds grown into a surface sampling in the first frame of the
// range, the previous frame's surface tracked in every later frame.
#include <iosfwd>
#include <vector>

#include "common/patch.h"
#include "sculptor/frame_timer.h"
#include "sculptor/loading.h"
#include "sculptor/stage_parameters.h"
#include "tervik/points.h"

namespace tervik {

struct SamplingBuffers;  // sculptor/expansion.h

// Samples the frame whose views are loaded into `out` (a vector other than `previous`, replaced):
// when `first` is true, lowres_seeds on the coarse silhouettes (into `seeds`) and
// high_res_from_seeds; otherwise dynamic_surface from `previous` (the previous frame's final
// points, of which only the positions are read, so another thread may write their colours
// meanwhile). Writes the stages' progress lines to `progress`, then "Only points: <1/t> fps or
// <t> s/frame" to `timing`, t = timer.seconds(), the time since the frame's start. `buffers`,
// kept by the caller from frame to frame, lends the samplers their working storage.
void sample_frame(const ViewSets& views, const StageParameters& params, bool first,
                  const std::vector<Patch>& previous, std::vector<Patch>& out,
                  std::vector<Point3D>& seeds, const FrameTimer& timer, std::ostream& progress,
                  std::ostream& timing, SamplingBuffers* buffers = nullptr);

}  // namespace tervik
