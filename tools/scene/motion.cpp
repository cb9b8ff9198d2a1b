// Poses of the synthetic objects.
#include <cmath>
#include <numbers>

#include "tervik/exceptions.h"
#include "tools/scene/motion.h"

namespace tervik::scene {

std::string object_name(ObjectKind kind) {
  return kind == ObjectKind::figure ? "figure" : "sphere";
}

ObjectKind parse_object_kind(const std::string& name) {
  if (name == "figure") return ObjectKind::figure;
  if (name == "sphere") return ObjectKind::sphere;
  throw TervikError("unknown object '" + name + "' (expected 'figure' or 'sphere')");
}

Solid object_at_frame(ObjectKind kind, long frame) {
  if (kind == ObjectKind::sphere) return Solid({Primitive::sphere(Point3D(0.0, 0.0, 0.0), 0.5)});
  const double f = static_cast<double>(frame);
  const double deg = std::numbers::pi / 180.0;
  // The body sways sideways and forwards and breathes a little.
  const Point3D body(0.15 * std::sin(0.15 * f), 0.05 * std::sin(0.11 * f + 1.0), 0.0);
  const double breath = 1.0 + 0.03 * std::sin(0.4 * f);
  const Primitive torso =
      Primitive::ellipsoid(body, Point3D(0.22 * breath, 0.16 * breath, 0.42));
  const Primitive head = Primitive::sphere(body + Point3D(0.0, 0.0, 0.56), 0.17);
  // Each arm hangs from its shoulder, spread sideways by `spread` and swung forwards or
  // backwards by `swing`, the two arms in opposite phase.
  auto arm = [&](double side, double phase) {
    const double spread = (25.0 + 8.0 * std::sin(0.3 * f + phase)) * deg;
    const double swing = 20.0 * deg * std::sin(0.25 * f + phase);
    const Point3D dir(side * std::sin(spread), std::cos(spread) * std::sin(swing),
                      -std::cos(spread) * std::cos(swing));
    const Point3D shoulder = body + Point3D(side * 0.17, 0.0, 0.25);
    return Primitive::capsule(shoulder, shoulder + dir * 0.5, 0.06);
  };
  return Solid({torso, head, arm(1.0, 0.0), arm(-1.0, std::numbers::pi)});
}

}  // namespace tervik::scene
