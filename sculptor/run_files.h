#pragma once
// Checks of a run's files made at start-up, before any frame is computed: every output file's
// folder exists, and no output file is one of the run's inputs.
#include "sculptor/options.h"

namespace tervik {

// The most frames whose file names the start-up checks look at; a longer range is checked over
// its first frames only (the later ones are still refused when they are written).
inline constexpr std::int64_t kMaxCheckedFrames = 100000;

// Throws TervikError, naming the file and the frame, when the folder of a frame's output file
// does not exist or is not a folder, and, naming both files, when an output file that exists is
// (through its path, a symbolic link or a hard link: same device and inode) a calibration file,
// silhouette or colour image that the run reads. Reads nothing but file metadata.
void check_run_files(const Options& options);

}  // namespace tervik
