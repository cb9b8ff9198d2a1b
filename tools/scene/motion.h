#pragma once
// The objects of the synthetic scenes and how they move over the frames of a sequence.
//
// World frame: z points up; the objects stand around the origin, about 1.3 units tall (figure)
// or 1 unit across (sphere). Frame numbers are absolute: the pose of frame f does not depend
// on where a sequence starts.
#include <string>

#include "tools/scene/geometry.h"

namespace tervik::scene {

enum class ObjectKind {
  figure,  // ellipsoid body, spherical head and two capsule arms that swing; the body sways
  sphere,  // one static sphere of radius 0.5 centred at the origin
};

// "figure" or "sphere".
std::string object_name(ObjectKind kind);
// The kind named by `name` ("figure" or "sphere"); throws TervikError naming the text otherwise.
ObjectKind parse_object_kind(const std::string& name);

// The object of frame `frame`: a union of primitives whose positions change smoothly with the
// frame number (less than 0.065 units per frame at the hands, 0.03 for the body).
Solid object_at_frame(ObjectKind kind, long frame);

}  // namespace tervik::scene
