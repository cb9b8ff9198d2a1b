#pragma once
// The frames of a player folder: one .glb per frame under frames/, from the best file the run
// has for it (a textured .glb as it is, else the mesh PLY with its vertex colours, else the
// point PLY), and the sequence file that lists them for the player.
#include <cstdint>
#include <string>
#include <vector>

#include "sculptor/options.h"
#include "tervik/ply.h"
#include "tools/common/gltf.h"

namespace tervik::player {

// Where a run's files are, by frame number; an empty template is not used.
struct FrameSources {
  std::string textured;  // .glb files of the texturing step
  std::string mesh;      // mesh PLY files
  std::string points;    // point PLY files
};

struct FrameResult {
  long frame = 0;
  std::string kind;    // "textured", "mesh", "points", or "" when the frame has no file
  std::string source;  // the input file used
  std::string file;    // the .glb, relative to the player folder ("frames/frame_000012.glb")
  std::uintmax_t bytes = 0;
  std::string error;   // why the frame could not be written; empty on success
};

// The mesh or points of a PLY model as a glTF mesh: positions, normals and colours as they are
// (points without colours stay without), faces as triangles.
tools::GltfMesh gltf_from_ply(const io::PlyModel& model);

// The .glb file name of a frame, relative to the player folder.
std::string frame_file(long frame);

// Writes frames first..last into `folder`/frames on `threads` threads (0: twice the cores, at
// least 8, since much of a frame's time is waiting for its file to reach the disk). A frame
// whose input is damaged, or that has none, gets its error in the result and no file; the
// others are written all the same. Throws TervikError when an output would replace an input.
std::vector<FrameResult> write_frames(const std::string& folder, const FrameSources& sources,
                                      long first, long last, const tools::GltfOptions& options,
                                      unsigned threads);

// The sequence file: {"title", "fps", "frames": [{"frame", "file", "kind", "bytes"} or
// {"frame", "error"}, ...]}.
std::string sequence_json(const std::string& title, double fps,
                          const std::vector<FrameResult>& frames);

}  // namespace tervik::player
