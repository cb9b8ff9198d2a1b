// Queries on the union of primitives.
#include <algorithm>
#include <cmath>
#include <limits>

#include "tools/scene/geometry.h"

namespace tervik::scene {
namespace {

// A smooth implicit function of the primitive, negative inside, with its gradient: the
// distance to the surface for spheres and capsules, and |y / e| - 1 for ellipsoids.
double implicit(const Primitive& prim, const Point3D& x, Point3D& grad) {
  if (prim.shape == Shape::ellipsoid) {
    const Point3D& e = prim.radii;
    const Point3D y = x - prim.a;
    const Point3D s(y.x / e.x, y.y / e.y, y.z / e.z);
    const double len = norm(s);
    if (len == 0.0) {
      grad = Point3D(0.0, 0.0, 0.0);
      return -1.0;
    }
    grad = Point3D(s.x / (e.x * len), s.y / (e.y * len), s.z / (e.z * len));
    return len - 1.0;
  }
  const SurfacePoint sp = nearest_on_primitive(prim, x);
  grad = sp.normal;
  return sp.signed_distance;
}

// Moves x onto the curve where the surfaces of A and B meet, by minimum-norm Gauss-Newton
// steps on both implicit functions; false when that fails (for instance where they touch).
bool project_to_crease(const Primitive& pa, const Primitive& pb, double tol, Point3D& x) {
  for (int it = 0; it < 50; ++it) {
    Point3D ga, gb;
    const double fa = implicit(pa, x, ga);
    const double fb = implicit(pb, x, gb);
    if (std::fabs(fa) <= tol && std::fabs(fb) <= tol) return true;
    const double aa = dot(ga, ga), ab = dot(ga, gb), bb = dot(gb, gb);
    const double det = aa * bb - ab * ab;
    if (!(det > 1e-12 * aa * bb)) return false;  // surfaces tangent: no transversal crease
    x -= ga * ((fa * bb - fb * ab) / det) + gb * ((fb * aa - fa * ab) / det);
  }
  return false;
}

// Unit tangent of the crease at x (a point on it).
Point3D crease_tangent(const Primitive& pa, const Primitive& pb, const Point3D& x) {
  Point3D ga, gb;
  implicit(pa, x, ga);
  implicit(pb, x, gb);
  const Point3D t = cross(ga, gb);
  const double len = norm(t);
  return len > 0.0 ? t / len : Point3D();
}

// The point nearest to p on the crease of A and B, found from `start` by Newton steps along the
// curve: with r = p - x, tangent T and curvature vector k, the step in arc length is
// r.T / (1 - r.k), where k comes from the curve points at arc lengths +-h. False when the
// iteration does not settle.
bool crease_point(const Primitive& pa, const Primitive& pb, const Point3D& p, Point3D start,
                  double scale, Point3D& out) {
  Point3D x = start;
  const double tol = 1e-13 * scale;
  const double h = 1e-4 * scale;
  if (!project_to_crease(pa, pb, tol, x)) return false;
  for (int it = 0; it < 100; ++it) {
    const Point3D t = crease_tangent(pa, pb, x);
    if (norm2(t) == 0.0) return false;
    Point3D xp = x + t * h, xm = x - t * h;
    const Point3D r = p - x;
    double step = dot(r, t);
    if (project_to_crease(pa, pb, tol, xp) && project_to_crease(pa, pb, tol, xm)) {
      const Point3D kappa = (xp - x * 2.0 + xm) / (h * h);
      const double den = 1.0 - dot(r, kappa);
      if (den > 1e-6) step /= den;  // a minimum of the distance along the curve
      // Never more than a fifth of the radius of curvature at once.
      const double k = norm(kappa);
      if (k > 0.0) step = std::clamp(step, -0.2 / k, 0.2 / k);
    }
    step = std::clamp(step, -0.1 * scale, 0.1 * scale);
    Point3D next = x + t * step;
    if (!project_to_crease(pa, pb, tol, next)) return false;
    x = next;
    if (std::fabs(step) <= 1e-12 * scale) {
      out = x;
      return true;
    }
  }
  return false;
}

}  // namespace

bool Solid::inside(const Point3D& p) const {
  for (const Primitive& prim : primitives_)
    if (contains(prim, p)) return true;
  return false;
}

bool Solid::strictly_inside_other(const Point3D& q, std::size_t skip0, std::size_t skip1) const {
  for (std::size_t j = 0; j < primitives_.size(); ++j) {
    if (j == skip0 || j == skip1) continue;
    const Primitive& prim = primitives_[j];
    const double margin = 1e-9 * std::max({prim.radii.x, prim.radii.y, prim.radii.z});
    if (contains_strictly(prim, q, margin)) return true;
  }
  return false;
}

SurfacePoint Solid::nearest_surface_point(const Point3D& p) const {
  const std::size_t n = primitives_.size();
  std::vector<SurfacePoint> near(n);
  bool in = false;
  for (std::size_t i = 0; i < n; ++i) {
    near[i] = nearest_on_primitive(primitives_[i], p);
    in = in || near[i].signed_distance <= 0.0;
  }
  SurfacePoint best;
  best.signed_distance = std::numeric_limits<double>::infinity();
  if (!in) {
    // Outside the union the nearest point of the nearest primitive lies on its boundary.
    for (const SurfacePoint& sp : near)
      if (sp.signed_distance < best.signed_distance) best = sp;
    return best;
  }
  double best_d = std::numeric_limits<double>::infinity();
  const std::size_t none = n;
  for (std::size_t i = 0; i < n; ++i) {
    const double d = std::fabs(near[i].signed_distance);
    if (d < best_d && !strictly_inside_other(near[i].position, i, none)) {
      best_d = d;
      best = near[i];
    }
  }
  // Creases: where the nearest point of a surface is covered by another primitive, the
  // nearest boundary point may lie on the curve where two surfaces meet.
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t j = i + 1; j < n; ++j) {
      const Primitive& a = primitives_[i];
      const Primitive& b = primitives_[j];
      Point3D lo_a, hi_a, lo_b, hi_b;
      tervik::scene::bounding_box(a, lo_a, hi_a);
      tervik::scene::bounding_box(b, lo_b, hi_b);
      bool overlap = true;
      for (int k = 0; k < 3; ++k) overlap = overlap && lo_a[k] <= hi_b[k] && lo_b[k] <= hi_a[k];
      if (!overlap) continue;
      const double scale = std::max(norm(hi_a - lo_a), norm(hi_b - lo_b));
      const Point3D start = (near[i].position + near[j].position) * 0.5;
      Point3D q;
      if (!crease_point(a, b, p, start, scale, q)) continue;
      const double d = norm(q - p);
      if (d < best_d && !strictly_inside_other(q, i, j)) {
        best_d = d;
        // The normal of a crease is not defined; the two surfaces' normals are averaged.
        const Point3D m = surface_normal(a, q) + surface_normal(b, q);
        const double len = norm(m);
        best.position = q;
        best.normal = len > 0.0 ? m / len : surface_normal(a, q);
      }
    }
  }
  if (!std::isfinite(best_d)) {
    // No candidate was found (the crease search failed everywhere): fall back to the deepest
    // containing primitive, whose depth is a lower bound of the distance to the boundary.
    for (const SurfacePoint& sp : near)
      if (sp.signed_distance <= 0.0 && (!std::isfinite(best_d) || -sp.signed_distance > best_d)) {
        best_d = -sp.signed_distance;
        best = sp;
      }
  }
  best.signed_distance = -best_d;
  return best;
}

bool Solid::cast_ray(const Point3D& origin, const Point3D& dir, double& t, Point3D& normal) const {
  bool hit = false;
  std::size_t which = 0;
  for (std::size_t i = 0; i < primitives_.size(); ++i) {
    double ti = 0.0;
    if (ray_entry(primitives_[i], origin, dir, ti) && (!hit || ti < t)) {
      t = ti;
      which = i;
      hit = true;
    }
  }
  if (hit) normal = surface_normal(primitives_[which], origin + dir * t);
  return hit;
}

bool Solid::ray_hits(const Point3D& origin, const Point3D& dir) const {
  double t = 0.0;
  for (const Primitive& prim : primitives_)
    if (ray_entry(prim, origin, dir, t)) return true;
  return false;
}

std::vector<SurfacePoint> Solid::sample_surface(long n, std::uint64_t seed) const {
  std::vector<double> areas;
  double total = 0.0;
  for (const Primitive& prim : primitives_) {
    areas.push_back(surface_area(prim));
    total += areas.back();
  }
  std::vector<SurfacePoint> out;
  if (n <= 0 || total <= 0.0) return out;
  UniformRandom random(seed);
  const std::size_t none = primitives_.size();
  for (std::size_t i = 0; i < primitives_.size(); ++i) {
    const long count = std::lround(double(n) * areas[i] / total);
    for (long k = 0; k < count; ++k) {
      const SurfacePoint sp = sample_primitive_surface(primitives_[i], random);
      if (!strictly_inside_other(sp.position, i, none)) out.push_back(sp);
    }
  }
  return out;
}

void Solid::bounding_box(Point3D& lo, Point3D& hi) const {
  const double inf = std::numeric_limits<double>::infinity();
  lo = Point3D(inf, inf, inf);
  hi = Point3D(-inf, -inf, -inf);
  for (const Primitive& prim : primitives_) {
    Point3D a, b;
    tervik::scene::bounding_box(prim, a, b);
    for (int k = 0; k < 3; ++k) {
      lo[k] = std::min(lo[k], a[k]);
      hi[k] = std::max(hi[k], b[k]);
    }
  }
}

}  // namespace tervik::scene
