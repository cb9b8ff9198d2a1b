#pragma once
// Reading of the ASCII PLY point files that sculptor writes (position, normal and, in the
// coloured variant, an 8-bit colour per point), as input of the mesher.
//
// Accepted header: "ply", "format ascii 1.0", "element vertex <count>" with the properties
// x y z nx ny nz [red green blue] in this order (coordinates float/float32/double/float64,
// colours uchar/uint8); "comment" and "obj_info" lines anywhere in the header; further elements
// after the vertex element, whose data are ignored. Lines may end in "\n" or "\r\n".
// Any other header, a short file or a line that does not parse throws TervikError with a
// message "ERROR( read_points ) : <path> line <n>: <what is wrong>".
#include <string>
#include <vector>

#include "common/patch.h"

namespace tervik {

// Empties `points` and fills it with every step-th point of the coloured PLY point file `path`
// (lines 0, step, 2 step, ... of the vertex data, in file order). step must be at least 1.
// Throws TervikError "ERROR( read_points ) : Unable to read from file <path>" when the file
// cannot be opened, and TervikError naming the file and the line for damaged contents.
void read_points_color(const std::string& path, std::vector<Patch>& points, unsigned int step);

// The same for the point file without colour columns; the colour of every point is left at
// the Patch default (128, 128, 128).
void read_points(const std::string& path, std::vector<Patch>& points, unsigned int step);

}  // namespace tervik
