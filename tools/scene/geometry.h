#pragma once
// Analytic solids of the synthetic scenes: spheres, axis-aligned ellipsoids and capsules, and
// their union. Every query is exact up to floating-point rounding: inside tests, the nearest
// surface point with its outward unit normal and signed distance, ray casting and uniform
// sampling of the surface by area. World coordinates throughout; lengths in world units.
#include <cstdint>
#include <random>
#include <vector>

#include "tervik/points.h"

namespace tervik::scene {

enum class Shape { sphere, ellipsoid, capsule };

// One convex primitive. sphere: centre a, radius radii.x; ellipsoid: centre a, semi-axes radii
// along the world axes x, y, z; capsule: the points within radii.x of the segment a-b.
struct Primitive {
  Shape shape = Shape::sphere;
  Point3D a;
  Point3D b;
  Point3D radii;

  static Primitive sphere(const Point3D& centre, double radius);
  static Primitive ellipsoid(const Point3D& centre, const Point3D& semi_axes);
  static Primitive capsule(const Point3D& end0, const Point3D& end1, double radius);
  bool operator==(const Primitive&) const = default;
};

// A point on a surface: its position, the outward unit normal there, and the signed distance
// from the query point (negative when the query point lies inside the solid).
struct SurfacePoint {
  Point3D position;
  Point3D normal;
  double signed_distance = 0.0;
};

// True when p lies in the closed primitive.
bool contains(const Primitive& prim, const Point3D& p);
// True when p lies inside the primitive and farther than `margin` (world units, >= 0) from
// its surface for spheres and capsules; for ellipsoids the margin is taken relative to the
// smallest semi-axis.
bool contains_strictly(const Primitive& prim, const Point3D& p, double margin);
// The point of the primitive's surface nearest to p, its outward normal and signed distance.
SurfacePoint nearest_on_primitive(const Primitive& prim, const Point3D& p);
// The smallest t > 0 at which origin + t * dir enters the primitive; false when the ray
// misses it. dir need not be unit length. The origin is assumed to lie outside.
bool ray_entry(const Primitive& prim, const Point3D& origin, const Point3D& dir, double& t);
// Outward unit normal of the primitive's surface at (or nearest to) the surface point q.
Point3D surface_normal(const Primitive& prim, const Point3D& q);
// Surface area of the primitive in square world units.
double surface_area(const Primitive& prim);
// Axis-aligned bounding box of the primitive, written to lo and hi.
void bounding_box(const Primitive& prim, Point3D& lo, Point3D& hi);

// Deterministic uniform random doubles in [0, 1) (53 bits of a 64-bit Mersenne twister).
class UniformRandom {
 public:
  explicit UniformRandom(std::uint64_t seed) : engine_(seed) {}
  double operator()() { return static_cast<double>(engine_() >> 11) * 0x1.0p-53; }

 private:
  std::mt19937_64 engine_;
};

// A point drawn uniformly by area from the primitive's surface, with its outward normal.
SurfacePoint sample_primitive_surface(const Primitive& prim, UniformRandom& random);

// The union of primitives: the object of one frame.
class Solid {
 public:
  Solid() = default;
  explicit Solid(std::vector<Primitive> primitives) : primitives_(std::move(primitives)) {}

  const std::vector<Primitive>& primitives() const { return primitives_; }
  // True when p lies in the closed union.
  bool inside(const Point3D& p) const;
  // The nearest point of the union's boundary, its outward normal and the signed distance of
  // p (negative inside). Exact for points outside; for points inside it considers the nearest
  // point of every primitive's surface and of every crease where two surfaces meet, which is
  // exact within the ellipsoids' evolutes (that is, anywhere near the surface).
  SurfacePoint nearest_surface_point(const Point3D& p) const;
  double signed_distance(const Point3D& p) const { return nearest_surface_point(p).signed_distance; }
  // Outward unit normal at the boundary point nearest to p.
  Point3D outward_normal(const Point3D& p) const { return nearest_surface_point(p).normal; }
  // First hit of the ray origin + t * dir (t > 0) with the union: writes the hit and the
  // outward normal there; false when the ray misses. The origin must lie outside.
  bool cast_ray(const Point3D& origin, const Point3D& dir, double& t, Point3D& normal) const;
  // True when the ray hits the union at some t > 0.
  bool ray_hits(const Point3D& origin, const Point3D& dir) const;
  // Points drawn uniformly by area from the union's boundary: about n samples are proposed
  // over all primitives in proportion to their areas and those inside another primitive are
  // dropped, so the result is uniform with about n / (sum of areas) samples per unit area.
  std::vector<SurfacePoint> sample_surface(long n, std::uint64_t seed) const;
  // Axis-aligned bounding box of the union.
  void bounding_box(Point3D& lo, Point3D& hi) const;

 private:
  bool strictly_inside_other(const Point3D& q, std::size_t skip0, std::size_t skip1) const;
  std::vector<Primitive> primitives_;
};

}  // namespace tervik::scene
