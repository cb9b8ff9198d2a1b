#pragma once
// The frame loop of sculptor: cameras loaded once, then every frame of the range loaded,
// sampled and written as a PLY point file.
#include <cstdint>
#include <iosfwd>
#include <string>

#include "sculptor/options.h"
#include "sculptor/stage_parameters.h"

namespace tervik {

// Runs the whole sequence for `options`: prints "Loading camera data", reads the calibrations,
// prints "Processing sequence", then for every frame f from first to last prints "Frame <f>",
// loads its images, samples it (the first frame from seeds, later ones by tracking) and writes
// its points to the output template's file. Progress goes to `progress`, timing to `timing`
// (each timing line names its frame: "Only points (frame <f>): ...").
// The stages use up to `threads` threads (at least 1); the files and progress lines do not
// depend on it. Timing lines give processor time with one thread and wall time with more.
// Throws the library's errors; the files of frames already written stay as they are.
// Throws TervikError, and writes no file, for a frame that yields no point. Before the cameras
// are read, check_run_files() refuses missing output folders and outputs that are inputs.
// Returns the frames written and their points.
struct RunSummary {
  long long frames = 0;
  long long points = 0;
};
RunSummary run_sequence(const Options& options, unsigned threads, std::ostream& progress,
                        std::ostream& timing);

// The stage parameters of a run: the box, L, npoints, motion radius and thread count of
// `options`, with the minimum camera count and tolerance of the frame loop.
StageParameters stage_parameters(const Options& options, unsigned threads);

// The message for frame `frame` yielding no point, with the likely causes.
std::string no_points_message(const Options& options, std::int64_t frame, bool first);

}  // namespace tervik
