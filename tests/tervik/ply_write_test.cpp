// The ASCII records of point and mesh files: exactly the characters of printf's "%e", "%lf",
// "%d" and "%lld", over every kind of double (random bit patterns, subnormals, huge values,
// rounding ties, infinities, NaN) and integer.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tervik/ply.h"

namespace tervik::io {
namespace {

std::vector<double> awkward_doubles() {
  const double inf = std::numeric_limits<double>::infinity();
  std::vector<double> v = {0.0, -0.0, 1.0, -1.0, 0.5, 1.0 / 128, 3.0 / 128, -5.0 / 128, 2.5,
                           9.9999995, 999999.9999995, 0.0000005, 5e-7, 1.5e-6, 2.5e-6, 1e-6,
                           0.1, 1e22, 1e23, 123456789012345678.0, 1e300, -1.7976931348623157e308,
                           4.9e-324, -2.2250738585072014e-308, inf, -inf,
                           std::numeric_limits<double>::quiet_NaN(),
                           -std::numeric_limits<double>::quiet_NaN()};
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int i = 0; i < 20000; ++i) v.push_back(std::bit_cast<double>(rng()));  // any exponent
  for (int i = 0; i < 20000; ++i) v.push_back(unit(rng) * std::pow(10.0, i % 13 - 6));
  // Values a hair either side of where the sixth decimal rounds.
  for (int i = 0; i < 2000; ++i) {
    const double tie = (std::floor(unit(rng) * 1e6) + 0.5) / 1e6;
    v.insert(v.end(), {tie, std::nextafter(tie, inf), std::nextafter(tie, -inf)});
  }
  return v;
}

TEST(PlyWrite, AsciiRecordsAreThoseOfPrintf) {
  const std::vector<double> v = awkward_doubles();
  char expected[1200];
  for (std::size_t i = 0; i + 6 <= v.size(); i += 3) {
    const Point3D a(v[i], v[i + 1], v[i + 2]), b(v[i + 3], v[i + 4], v[i + 5]);
    const unsigned char rgb[3] = {static_cast<unsigned char>(i), 0, 255};
    std::string out;
    append_point_record(out, a, b, rgb, PlyFormat::ascii);
    std::snprintf(expected, sizeof expected, "%e %e %e %e %e %e %d %d %d\n", a.x, a.y, a.z, b.x,
                  b.y, b.z, rgb[0], rgb[1], rgb[2]);
    ASSERT_EQ(out, expected);
    out.clear();
    append_point_record(out, a, b, nullptr, PlyFormat::ascii);
    std::snprintf(expected, sizeof expected, "%e %e %e %e %e %e\n", a.x, a.y, a.z, b.x, b.y, b.z);
    ASSERT_EQ(out, expected);
    out.clear();
    append_mesh_vertex(out, a, rgb, PlyFormat::ascii);
    std::snprintf(expected, sizeof expected, "%lf %lf %lf %d %d %d\n", a.x, a.y, a.z, rgb[0],
                  rgb[1], rgb[2]);
    ASSERT_EQ(out, expected);
    out.clear();
    append_mesh_vertex(out, a, nullptr, PlyFormat::ascii);
    std::snprintf(expected, sizeof expected, "%lf %lf %lf\n", a.x, a.y, a.z);
    ASSERT_EQ(out, expected);
  }
  std::mt19937_64 rng(7);
  for (int i = 0; i < 3000; ++i) {
    const auto any = static_cast<long long>(rng() >> (i % 64));
    const Coord3D<long long> f(i % 2 ? -any : any, std::numeric_limits<long long>::min() + i,
                               std::numeric_limits<long long>::max() - i);
    std::string out;
    append_mesh_face(out, f, PlyFormat::ascii);
    std::snprintf(expected, sizeof expected, "3 %lld %lld %lld\n", f.x, f.y, f.z);
    ASSERT_EQ(out, expected);
  }
}

}  // namespace
}  // namespace tervik::io
