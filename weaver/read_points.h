#pragma once
// Reading of PLY point files (tervik/ply.h) as input of the mesher: the ASCII files that sculptor
// writes, their binary little-endian variant, and point files of other tools.
//
// The vertex element needs the properties x y z nx ny nz, in any order and of any numeric type;
// red green blue (integers 0 to 255) are read when all three are present, otherwise every point
// is grey (128, 128, 128); other properties are skipped. Elements after the vertex element are
// not read. A damaged header or record throws TervikError with a message
// "ERROR( read_points ) : <path> <where>: <what is wrong>", <where> being "line <n>" or, in
// binary data, "byte <offset> (vertex <i>)".
#include <string>
#include <vector>

#include "common/patch.h"

namespace tervik {

// Empties `points` and fills it with every step-th point of the PLY point file `path`
// (records 0, step, 2 step, ... of the vertex data, in file order). step must be at least 1.
// Throws TervikError "ERROR( read_points ) : Unable to read from file <path>" when the file
// cannot be opened, and TervikError naming the file and the line for damaged contents. ASCII
// data is parsed on `threads` threads, with the same points and messages for every count.
void read_points_color(const std::string& path, std::vector<Patch>& points, unsigned int step,
                       unsigned threads = 1);

// The same, but the colour of every point is left at the Patch default (128, 128, 128)
// (the reader of the point files without colour columns).
void read_points(const std::string& path, std::vector<Patch>& points, unsigned int step,
                 unsigned threads = 1);

}  // namespace tervik
