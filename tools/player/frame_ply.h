#pragma once
// The PLY files of a take as glTF meshes, read quickly: most of make_player's time on a long
// take is reading ASCII PLY text.
//
// ASCII files in the layout the project's programs write (a vertex element of x, y, z, and
// optionally nx, ny, nz and red, green, blue; then optionally a face element with only its
// list of vertex indices) are read by a parser made for that layout: one pass over the file's
// bytes, numbers read without a copy. Anything else (binary files, other elements or
// properties, blank lines, numbers in unusual forms, and every kind of damage) is read by
// io::read_ply. Both give the same mesh, and damaged files the reader's messages.
#include <string>
#include <string_view>

#include "tools/common/gltf.h"

namespace tervik::player {

// The frame file `path` as a glTF mesh, as gltf_from_ply(io::read_ply(path)) gives it. Throws
// as io::read_ply does.
tools::GltfMesh read_frame_ply(const std::string& path);

// The fast parser alone: reads `bytes` (the contents of a PLY file) into `mesh` and returns
// true, or returns false (`mesh` then unspecified) for a file it leaves to io::parse_ply.
// Never throws for damaged data.
bool parse_frame_ply_fast(std::string_view bytes, tools::GltfMesh& mesh);

// Reads all of `token`, [-]digits[.digits][(e|E)[+|-]digits] with at least one digit before the
// exponent, as the correctly rounded double (the one std::from_chars and strtod give); false
// for any other text and for values out of range. Up to 19 significant digits and a power of
// ten from -22 to 22, where the digits as an integer w are at most 2^53, w is multiplied or
// divided by an exact power of ten; other values are read by std::from_chars.
bool parse_decimal(std::string_view token, double& v);

}  // namespace tervik::player
