#pragma once
// The frame loop of sculptor: cameras loaded once, then every frame of the range loaded,
// sampled and written as a PLY point file.
#include <cstdint>
#include <string>

#include "sculptor/options.h"

namespace tervik {

// Runs the whole sequence for `options`: prints "Loading camera data", reads the calibrations,
// prints "Processing sequence", then for every frame f from first to last prints "Frame <f>",
// loads its images, samples it (the first frame from seeds, later ones by tracking) and writes
// its points to the output template's file. Progress goes to standard output, timing to standard
// error. Throws the library's errors; the files of frames already written stay as they are.
// Throws TervikError, and writes no file, for a frame that yields no point.
void run_sequence(const Options& options);

// The message for frame `frame` yielding no point, with the likely causes.
std::string no_points_message(const Options& options, std::int64_t frame, bool first);

}  // namespace tervik
