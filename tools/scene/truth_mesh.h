#pragma once
// The true surface of a synthetic scene's object as a triangle mesh, for comparisons with
// reconstructions (texturing the true surface tells texturing error from hull error).
#include <string>

#include "tervik/ply.h"
#include "tools/scene/geometry.h"
#include "tools/scene/render.h"

namespace tervik::scene {

// Every primitive of the solid tessellated by rings of latitude (a capsule's cylinder by rings
// along its axis), with about `around` vertices per ring, triangles wound counter-clockwise
// seen from outside; faces whose centroid lies inside another primitive are dropped, so the
// union's inner surfaces are gone (small gaps remain where surfaces cross). Vertices carry the
// scene's shaded pattern colour, as the colour images show it.
io::PlyModel truth_mesh(const Solid& solid, const ColorPattern& pattern, int around = 96);

// Writes the model as an ASCII PLY mesh with vertex colours through the atomic writer; throws
// TervikFileError naming the file when it cannot be written.
void write_mesh_ply(const std::string& file, const io::PlyModel& model);

}  // namespace tervik::scene
