#pragma once
// The ground truth of a synthetic scene: the cameras, the bounding box, the surface pattern and
// the primitives of every frame, and the small text file that holds them.
//
// File format (text, one record per line, reals written with 17 significant digits so that
// they read back bit-identical):
//   tervik_scene 1
//   object figure|sphere
//   frames FIRST LAST
//   box XMIN YMIN ZMIN XMAX YMAX ZMAX
//   pattern checker CELL LX LY LZ AMBIENT DIFFUSE
//   cameras N
//   camera WIDTH HEIGHT K00 K01 K02 K10 K11 K12 K20 K21 K22 R00 .. R22 T0 T1 T2   (N lines)
//   frame F COUNT                                                 (for F = FIRST .. LAST)
//   sphere CX CY CZ R | ellipsoid CX CY CZ EX EY EZ | capsule AX AY AZ BX BY BZ R  (COUNT lines)
#include <string>
#include <vector>

#include "tools/scene/cameras.h"
#include "tools/scene/geometry.h"
#include "tools/scene/motion.h"
#include "tools/scene/render.h"

namespace tervik::scene {

struct GroundTruth {
  ObjectKind object = ObjectKind::figure;
  long first_frame = 0, last_frame = 0;
  Point3D box_min, box_max;  // axis-aligned box that holds the object in every frame
  ColorPattern pattern;
  std::vector<ViewCamera> cameras;
  std::vector<Solid> solids;  // solids[f - first_frame] is the object of frame f

  // The object of frame f; throws TervikError when f is outside [first_frame, last_frame].
  const Solid& solid(long frame) const;
  // Sampling length L of the box: 0.005 times its diagonal (world units).
  double sampling_length() const;
  // Shaded pattern colour at the surface point q with outward normal n.
  Coord3D<unsigned char> color_at(const Point3D& q, const Point3D& n) const {
    return surface_color(pattern, q, n);
  }
};

// Writes the ground truth file; throws TervikFileNotFound when it cannot be created.
void write_ground_truth(const std::string& file, const GroundTruth& truth);
// Reads a ground truth file. Throws TervikFileNotFound when it cannot be opened and
// TervikFileError naming the line and what was expected on anything malformed.
GroundTruth read_ground_truth(const std::string& file);

}  // namespace tervik::scene
