#pragma once
// The oriented, coloured surface sample passed between all stages, and its ASCII PLY point file.
//
// Point file layout (every line ends with a single line feed):
//   ply / format ascii 1.0 / element vertex <count> / the property lines / end_header
//   then one line per patch in vector order: x y z nx ny nz [r g b], coordinates in "%e".
// The binary variant (tervik/ply.h) has the same properties with double coordinates.
#include <string>
#include <vector>

#include "tervik/ply.h"
#include "tervik/points.h"

namespace tervik {

// A surface sample: position and normal in world coordinates, colour as 8-bit red, green,
// blue. A new patch is grey (128, 128, 128) until it is coloured from the images.
struct Patch {
  Point3D pos;
  Point3D normal;
  unsigned char r = 128;
  unsigned char g = 128;
  unsigned char b = 128;

  bool operator==(const Patch&) const = default;
};

// Writes `patches` as a PLY point file with normals and colours to `name`, replacing an
// existing file. The file appears under its name only once it is complete. Throws
// TervikFileNotFound(name) if the file cannot be created and TervikFileError(name, ...) if
// writing fails; in both cases nothing is left under `name` (an older file stays as it was).
// `format` chooses ASCII (the default) or binary little-endian. The records are formatted on
// `threads` threads (0 or 1: one); the bytes are the same for every thread count.
void write_file_normal_color(const std::string& name, const std::vector<Patch>& patches,
                             io::PlyFormat format = io::PlyFormat::ascii, unsigned threads = 1);

// The same file without the colour columns and their property lines.
void write_file_normal(const std::string& name, const std::vector<Patch>& patches,
                       io::PlyFormat format = io::PlyFormat::ascii, unsigned threads = 1);

}  // namespace tervik
