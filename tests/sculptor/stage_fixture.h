#pragma once
// Stage parameters for the tests of the sampling and post-processing stages.
#include "sculptor/stage_parameters.h"
#include "tervik/points.h"

namespace tervik::testing {

// The radius of the sphere in the sampler tests' studio (hull_fixture.h), and their sampling
// length.
inline constexpr double kRadius = 0.5;
inline constexpr double kStep = 0.02;

// The parameters of a stage call: npoints, sampling length `step`, the box, the motion radius and
// the thread count; at least 5 cameras, tolerance 0, as in the frame loop.
inline StageParameters stage_params(long long npoints, double step, const Point3D& lo = Point3D(),
                                    const Point3D& hi = Point3D(), double motion_radius = 0.0,
                                    unsigned threads = 1) {
  StageParameters p;
  p.box_min = lo;
  p.box_max = hi;
  p.step = step;
  p.npoints = npoints;
  p.motion_radius = motion_radius;
  p.threads = threads;
  return p;
}

}  // namespace tervik::testing
