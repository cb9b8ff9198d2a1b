// Exact geometry of the three primitive shapes.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "tools/scene/geometry.h"

namespace tervik::scene {
namespace {

Point3D unit(const Point3D& v) {
  const double n = norm(v);
  return n > 0.0 ? v / n : Point3D(0.0, 0.0, 1.0);
}

// The point of segment a-b nearest to p.
Point3D segment_point(const Point3D& a, const Point3D& b, const Point3D& p) {
  const Point3D ab = b - a;
  const double len2 = norm2(ab);
  if (len2 == 0.0) return a;
  const double s = std::clamp(dot(p - a, ab) / len2, 0.0, 1.0);
  return a + ab * s;
}

SurfacePoint nearest_on_sphere(const Point3D& c, double r, const Point3D& p) {
  const Point3D d = p - c;
  const double len = norm(d);
  const Point3D n = len > 0.0 ? d / len : Point3D(0.0, 0.0, 1.0);
  return {c + n * r, n, len - r};
}

// Root of sum_i (e_i z_i / (t + e_i^2))^2 = 1 for t in (lo, hi), by bisection to the last bit.
double ellipsoid_root(const double e[3], const double z[3], double lo, double hi) {
  for (int it = 0; it < 2000; ++it) {
    const double mid = 0.5 * (lo + hi);
    if (mid <= lo || mid >= hi) break;
    double f = -1.0;
    for (int i = 0; i < 3; ++i) {
      const double r = e[i] * z[i] / (mid + e[i] * e[i]);
      f += r * r;
    }
    if (f > 0.0) lo = mid; else hi = mid;
  }
  return 0.5 * (lo + hi);
}

// Nearest point of the ellipsoid x^2/e0^2 + y^2/e1^2 + z^2/e2^2 = 1 to z (all z_i >= 0).
void nearest_on_ellipsoid_octant(const double e[3], const double z[3], double x[3]) {
  int k = 0;  // the axis with the smallest semi-axis
  for (int i = 1; i < 3; ++i)
    if (e[i] < e[k]) k = i;
  const double ek2 = e[k] * e[k];
  if (z[k] == 0.0) {
    // Without a pole at -e_k^2 the root may lie below it: then the nearest point leaves the
    // plane z_k = 0 (a point deep inside, near the plane of the two longer axes).
    double f = -1.0, sum = 0.0;
    bool pole = false;
    for (int i = 0; i < 3; ++i) {
      if (i == k || z[i] == 0.0) continue;
      const double den = e[i] * e[i] - ek2;
      if (den <= 0.0) { pole = true; break; }
      x[i] = e[i] * e[i] * z[i] / den;
      f += (e[i] * z[i] / den) * (e[i] * z[i] / den);
      sum += (x[i] / e[i]) * (x[i] / e[i]);
    }
    if (!pole && f <= 0.0) {
      for (int i = 0; i < 3; ++i)
        if (i != k && z[i] == 0.0) x[i] = 0.0;
      x[k] = e[k] * std::sqrt(std::max(0.0, 1.0 - sum));
      return;
    }
  }
  double zmax = 0.0, emax = 0.0;
  for (int i = 0; i < 3; ++i) {
    zmax = std::max(zmax, z[i]);
    emax = std::max(emax, e[i]);
  }
  const double lo = z[k] > 0.0 ? -ek2 + e[k] * z[k] : -ek2;
  const double hi = std::sqrt(3.0) * zmax * emax;
  const double t = ellipsoid_root(e, z, lo, std::max(hi, lo));
  for (int i = 0; i < 3; ++i) x[i] = e[i] * e[i] * z[i] / (t + e[i] * e[i]);
}

SurfacePoint nearest_on_ellipsoid(const Primitive& prim, const Point3D& p) {
  const double e[3] = {prim.radii.x, prim.radii.y, prim.radii.z};
  const Point3D y = p - prim.a;
  const double z[3] = {std::fabs(y.x), std::fabs(y.y), std::fabs(y.z)};
  double x[3] = {0.0, 0.0, 0.0};
  nearest_on_ellipsoid_octant(e, z, x);
  const Point3D q(std::copysign(x[0], y.x), std::copysign(x[1], y.y), std::copysign(x[2], y.z));
  const Point3D n = unit(Point3D(q.x / (e[0] * e[0]), q.y / (e[1] * e[1]), q.z / (e[2] * e[2])));
  const double d = norm(y - q);
  const bool in = contains(prim, p);
  return {prim.a + q, n, in ? -d : d};
}

// Smallest t > 0 with |o + t d|^2 = r^2 entering the ball; false when missed.
bool ray_ball(const Point3D& o, const Point3D& d, double r, double& t) {
  const double a = norm2(d);
  const double b = dot(o, d);
  const double c = norm2(o) - r * r;
  const double disc = b * b - a * c;
  if (a == 0.0 || disc < 0.0) return false;
  const double t0 = (-b - std::sqrt(disc)) / a;
  if (t0 <= 0.0) return false;
  t = t0;
  return true;
}

// Entry of the ray into the finite cylinder of radius r around segment a-b (caps excluded).
bool ray_cylinder(const Primitive& prim, const Point3D& o, const Point3D& d, double& t) {
  const Point3D axis = prim.b - prim.a;
  const double len2 = norm2(axis);
  if (len2 == 0.0) return false;
  const Point3D w = o - prim.a;
  // Components perpendicular to the axis.
  const Point3D dp = d - axis * (dot(d, axis) / len2);
  const Point3D wp = w - axis * (dot(w, axis) / len2);
  const double r = prim.radii.x;
  const double a = norm2(dp);
  const double b = dot(wp, dp);
  const double c = norm2(wp) - r * r;
  const double disc = b * b - a * c;
  if (a == 0.0 || disc < 0.0) return false;
  const double t0 = (-b - std::sqrt(disc)) / a;
  if (t0 <= 0.0) return false;
  const double s = dot(w + d * t0, axis) / len2;
  if (s < 0.0 || s > 1.0) return false;
  t = t0;
  return true;
}

}  // namespace

Primitive Primitive::sphere(const Point3D& centre, double radius) {
  return {Shape::sphere, centre, centre, Point3D(radius, radius, radius)};
}
Primitive Primitive::ellipsoid(const Point3D& centre, const Point3D& semi_axes) {
  return {Shape::ellipsoid, centre, centre, semi_axes};
}
Primitive Primitive::capsule(const Point3D& end0, const Point3D& end1, double radius) {
  return {Shape::capsule, end0, end1, Point3D(radius, radius, radius)};
}

bool contains(const Primitive& prim, const Point3D& p) {
  switch (prim.shape) {
    case Shape::sphere: return dist2(p, prim.a) <= prim.radii.x * prim.radii.x;
    case Shape::capsule:
      return dist2(p, segment_point(prim.a, prim.b, p)) <= prim.radii.x * prim.radii.x;
    case Shape::ellipsoid: {
      const Point3D y = p - prim.a;
      const double s = (y.x / prim.radii.x) * (y.x / prim.radii.x) +
                       (y.y / prim.radii.y) * (y.y / prim.radii.y) +
                       (y.z / prim.radii.z) * (y.z / prim.radii.z);
      return s <= 1.0;
    }
  }
  return false;
}

bool contains_strictly(const Primitive& prim, const Point3D& p, double margin) {
  switch (prim.shape) {
    case Shape::sphere:
    case Shape::capsule: {
      const double r = prim.radii.x - margin;
      if (r <= 0.0) return false;
      const Point3D s = prim.shape == Shape::sphere ? prim.a : segment_point(prim.a, prim.b, p);
      return dist2(p, s) < r * r;
    }
    case Shape::ellipsoid: {
      const double emin = std::min({prim.radii.x, prim.radii.y, prim.radii.z});
      const double f = 1.0 - margin / emin;
      if (f <= 0.0) return false;
      const Point3D y = p - prim.a;
      const double s = (y.x / prim.radii.x) * (y.x / prim.radii.x) +
                       (y.y / prim.radii.y) * (y.y / prim.radii.y) +
                       (y.z / prim.radii.z) * (y.z / prim.radii.z);
      return s < f * f;
    }
  }
  return false;
}

SurfacePoint nearest_on_primitive(const Primitive& prim, const Point3D& p) {
  switch (prim.shape) {
    case Shape::sphere: return nearest_on_sphere(prim.a, prim.radii.x, p);
    case Shape::capsule:
      return nearest_on_sphere(segment_point(prim.a, prim.b, p), prim.radii.x, p);
    case Shape::ellipsoid: return nearest_on_ellipsoid(prim, p);
  }
  return {};
}

Point3D surface_normal(const Primitive& prim, const Point3D& q) {
  switch (prim.shape) {
    case Shape::sphere: return unit(q - prim.a);
    case Shape::capsule: return unit(q - segment_point(prim.a, prim.b, q));
    case Shape::ellipsoid: {
      const Point3D y = q - prim.a;
      return unit(Point3D(y.x / (prim.radii.x * prim.radii.x), y.y / (prim.radii.y * prim.radii.y),
                          y.z / (prim.radii.z * prim.radii.z)));
    }
  }
  return {};
}

bool ray_entry(const Primitive& prim, const Point3D& origin, const Point3D& dir, double& t) {
  switch (prim.shape) {
    case Shape::sphere: return ray_ball(origin - prim.a, dir, prim.radii.x, t);
    case Shape::ellipsoid: {
      const Point3D& e = prim.radii;
      const Point3D o = origin - prim.a;
      return ray_ball(Point3D(o.x / e.x, o.y / e.y, o.z / e.z),
                      Point3D(dir.x / e.x, dir.y / e.y, dir.z / e.z), 1.0, t);
    }
    case Shape::capsule: {
      bool hit = false;
      double best = 0.0, ti = 0.0;
      if (ray_ball(origin - prim.a, dir, prim.radii.x, ti)) { best = ti; hit = true; }
      if (ray_ball(origin - prim.b, dir, prim.radii.x, ti) && (!hit || ti < best)) {
        best = ti;
        hit = true;
      }
      if (ray_cylinder(prim, origin, dir, ti) && (!hit || ti < best)) {
        best = ti;
        hit = true;
      }
      if (hit) t = best;
      return hit;
    }
  }
  return false;
}

double surface_area(const Primitive& prim) {
  const double pi = std::numbers::pi;
  const double r = prim.radii.x;
  switch (prim.shape) {
    case Shape::sphere: return 4.0 * pi * r * r;
    case Shape::capsule: return 4.0 * pi * r * r + 2.0 * pi * r * norm(prim.b - prim.a);
    case Shape::ellipsoid: {
      // Midpoint rule over the unit sphere in (z, phi), where the area element is uniform,
      // of the Jacobian of the map u -> (e0 u0, e1 u1, e2 u2).
      const Point3D& e = prim.radii;
      const int nz = 400, nphi = 800;
      double sum = 0.0;
      for (int i = 0; i < nz; ++i) {
        const double z = -1.0 + (i + 0.5) * (2.0 / nz);
        const double s = std::sqrt(1.0 - z * z);
        for (int j = 0; j < nphi; ++j) {
          const double phi = (j + 0.5) * (2.0 * pi / nphi);
          const Point3D u(s * std::cos(phi), s * std::sin(phi), z);
          sum += norm(Point3D(e.y * e.z * u.x, e.x * e.z * u.y, e.x * e.y * u.z));
        }
      }
      return sum * (4.0 * pi / (double(nz) * nphi));
    }
  }
  return 0.0;
}

void bounding_box(const Primitive& prim, Point3D& lo, Point3D& hi) {
  if (prim.shape == Shape::capsule) {
    const double r = prim.radii.x;
    for (int i = 0; i < 3; ++i) {
      lo[i] = std::min(prim.a[i], prim.b[i]) - r;
      hi[i] = std::max(prim.a[i], prim.b[i]) + r;
    }
    return;
  }
  lo = prim.a - prim.radii;
  hi = prim.a + prim.radii;
}

SurfacePoint sample_primitive_surface(const Primitive& prim, UniformRandom& random) {
  const double pi = std::numbers::pi;
  auto sphere_dir = [&]() {
    const double z = 2.0 * random() - 1.0;
    const double phi = 2.0 * pi * random();
    const double s = std::sqrt(std::max(0.0, 1.0 - z * z));
    return Point3D(s * std::cos(phi), s * std::sin(phi), z);
  };
  const double r = prim.radii.x;
  switch (prim.shape) {
    case Shape::sphere: {
      const Point3D u = sphere_dir();
      return {prim.a + u * r, u, 0.0};
    }
    case Shape::capsule: {
      const Point3D axis = prim.b - prim.a;
      const double len = norm(axis);
      const double caps = 4.0 * pi * r * r;
      if (random() * (caps + 2.0 * pi * r * len) < caps) {
        // The two half-sphere caps together form one sphere's area.
        const Point3D u = sphere_dir();
        const Point3D c = dot(u, axis) < 0.0 ? prim.a : prim.b;
        return {c + u * r, u, 0.0};
      }
      const Point3D w = axis / len;
      const Point3D helper = std::fabs(w.x) < 0.9 ? Point3D(1, 0, 0) : Point3D(0, 1, 0);
      const Point3D e1 = unit(cross(w, helper));
      const Point3D e2 = cross(w, e1);
      const double s = random();
      const double phi = 2.0 * pi * random();
      const Point3D n = e1 * std::cos(phi) + e2 * std::sin(phi);
      return {prim.a + axis * s + n * r, n, 0.0};
    }
    case Shape::ellipsoid: {
      // Rejection: a uniform sphere point is kept with probability proportional to the area
      // element of the map onto the ellipsoid.
      const Point3D& e = prim.radii;
      const double gmax = std::max({e.y * e.z, e.x * e.z, e.x * e.y});
      for (;;) {
        const Point3D u = sphere_dir();
        const double g = norm(Point3D(e.y * e.z * u.x, e.x * e.z * u.y, e.x * e.y * u.z));
        if (random() * gmax <= g) {
          const Point3D q = prim.a + Point3D(e.x * u.x, e.y * u.y, e.z * u.z);
          return {q, surface_normal(prim, q), 0.0};
        }
      }
    }
  }
  return {};
}

}  // namespace tervik::scene
