#pragma once
// The sampling stage of a frame: seeds grown into a surface sampling in the first frame of the
// range, the previous frame's surface tracked in every later frame.
#include <ctime>
#include <vector>

#include "common/patch.h"
#include "sculptor/loading.h"
#include "sculptor/options.h"
#include "tervik/points.h"

namespace tervik {

// Least number of cameras that must see a sampled point, and the number of cameras in which it
// must lie on background, in every stage call of the frame loop.
constexpr short kMinCameras = 5;
constexpr short kTolerance = 0;

// Samples the frame whose views are loaded: when `first` is true, lowres_seeds on the coarse
// silhouettes (into `seeds`) and high_res_from_seeds into `surface`; otherwise dynamic_surface
// from `surface` (the previous frame's final points) into `scratch`, which then replaces
// `surface` and is emptied. Writes the stages' progress lines to standard output, then
// "Only points: <1/t> fps or <t> s/frame" to standard error, t the processor time in seconds
// since the start. Returns the start time (a clock() value), from which later timing lines of
// the frame are measured.
std::clock_t sample_frame(const ViewSets& views, const Options& options, bool first,
                          std::vector<Patch>& surface, std::vector<Patch>& scratch,
                          std::vector<Point3D>& seeds);

// Processor seconds since `start` (clock() ticks divided by 1,000,000).
double seconds_since(std::clock_t start);

// Writes "<label><1/t> fps or <t> s/frame" to `out` for t = seconds_since(start).
void print_timing(std::ostream& out, const char* label, std::clock_t start);

}  // namespace tervik
