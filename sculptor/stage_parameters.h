#pragma once
// The values that every sampling and post-processing stage of a frame reads, gathered in one
// parameter value, so that a stage call names what it is given instead of a row of scalars.
#include "tervik/points.h"

namespace tervik {

// Least number of cameras that must see a sampled point, and the number of cameras in which it
// must lie on background, in every stage call of the frame loop.
constexpr short kMinCameras = 5;
constexpr short kTolerance = 0;

// What the stages of a frame read. Lengths are in world units; a stage reads only the members
// its comment names.
struct StageParameters {
  Point3D box_min;                  // the working box, which holds the object in every frame
  Point3D box_max;
  double step = 0.0;                // the sampling length L
  long long npoints = 0;            // points wanted per frame
  short min_cameras = kMinCameras;  // a sampled point is inside the image of at least this many
  short tolerance = kTolerance;     // and on background in exactly this many of them
  double motion_radius = 0.0;       // half-size of the motion search of tracked frames
  unsigned threads = 1;             // threads a stage may use; no result depends on it
  double normal_radius = 1.0;       // the normals' neighbourhood radius, in units of step
  bool colour_all = false;          // colour the points the blend leaves grey as well
};

}  // namespace tervik
