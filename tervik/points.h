#pragma once
// Shared point types of the library.
//
// Image-space convention, used everywhere in tervik: x is the column and y the row, in pixels,
// with the origin at the first pixel. A projected real position becomes a pixel by truncating
// each coordinate toward zero.
#include <cmath>

namespace tervik {

// A point or vector in 3-d (world or camera coordinates, depending on the caller).
struct Point3D {
  double x = 0.0, y = 0.0, z = 0.0;

  constexpr Point3D() = default;
  constexpr Point3D(double x_, double y_, double z_) : x(x_), y(y_), z(z_) {}

  double& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
  double operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }

  Point3D& operator+=(const Point3D& o) { x += o.x; y += o.y; z += o.z; return *this; }
  Point3D& operator-=(const Point3D& o) { x -= o.x; y -= o.y; z -= o.z; return *this; }
  Point3D& operator*=(double s) { x *= s; y *= s; z *= s; return *this; }
  Point3D& operator/=(double s) { x /= s; y /= s; z /= s; return *this; }
  bool operator==(const Point3D&) const = default;
};

inline Point3D operator+(Point3D a, const Point3D& b) { return a += b; }
inline Point3D operator-(Point3D a, const Point3D& b) { return a -= b; }
inline Point3D operator-(const Point3D& a) { return {-a.x, -a.y, -a.z}; }
inline Point3D operator*(Point3D a, double s) { return a *= s; }
inline Point3D operator*(double s, Point3D a) { return a *= s; }
inline Point3D operator/(Point3D a, double s) { return a /= s; }
// Dot product.
inline double dot(const Point3D& a, const Point3D& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }
inline Point3D cross(const Point3D& a, const Point3D& b) {
  return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
// Squared Euclidean length and distance.
inline double norm2(const Point3D& a) { return dot(a, a); }
inline double norm(const Point3D& a) { return std::sqrt(dot(a, a)); }
inline double dist2(const Point3D& a, const Point3D& b) { return norm2(a - b); }

// A real position in an image (x = column, y = row, pixels) or any 2-vector.
struct Point2D {
  double x = 0.0, y = 0.0;

  constexpr Point2D() = default;
  constexpr Point2D(double x_, double y_) : x(x_), y(y_) {}

  Point2D& operator+=(const Point2D& o) { x += o.x; y += o.y; return *this; }
  Point2D& operator-=(const Point2D& o) { x -= o.x; y -= o.y; return *this; }
  Point2D& operator*=(double s) { x *= s; y *= s; return *this; }
  bool operator==(const Point2D&) const = default;
};

inline Point2D operator+(Point2D a, const Point2D& b) { return a += b; }
inline Point2D operator-(Point2D a, const Point2D& b) { return a -= b; }
inline Point2D operator*(Point2D a, double s) { return a *= s; }
inline Point2D operator*(double s, Point2D a) { return a *= s; }

// An integer pixel position (x = column, y = row).
template <typename T>
struct Coord2D {
  T x{}, y{};

  constexpr Coord2D() = default;
  constexpr Coord2D(T x_, T y_) : x(x_), y(y_) {}
  bool operator==(const Coord2D&) const = default;
};

// A triple of T: a face's three vertex indices in face order, or a colour (red, green, blue).
template <typename T>
struct Coord3D {
  T x{}, y{}, z{};

  constexpr Coord3D() = default;
  constexpr Coord3D(T x_, T y_, T z_) : x(x_), y(y_), z(z_) {}
  T& operator[](int i) { return i == 0 ? x : (i == 1 ? y : z); }
  const T& operator[](int i) const { return i == 0 ? x : (i == 1 ? y : z); }
  bool operator==(const Coord3D&) const = default;
};

}  // namespace tervik
