#pragma once
// Small hand-made scenes for the post-processing tests: colour images of one colour and
// patches (the cameras come from hull_fixture.h).
#include <cmath>

#include "common/patch.h"
#include "sculptor/hull_fixture.h"
#include "tervik/camera.h"
#include "tervik/imagergb.h"
#include "tervik/points.h"

namespace tervik::testing {

// A colour image of one colour.
inline ImageRGB<unsigned char> flat_image(long width, long height, unsigned char r,
                                          unsigned char g, unsigned char b) {
  ImageRGB<unsigned char> image(width, height);
  std::fill_n(image.channel(0).data(), image.channel(0).num_elements(), r);
  std::fill_n(image.channel(1).data(), image.channel(1).num_elements(), g);
  std::fill_n(image.channel(2).data(), image.channel(2).num_elements(), b);
  return image;
}

inline Patch make_patch(const Point3D& pos, const Point3D& normal) {
  Patch p;
  p.pos = pos;
  p.normal = normal;
  return p;
}

}  // namespace tervik::testing
