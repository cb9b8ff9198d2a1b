#include "sculptor/velocity_field.h"

#include <algorithm>
#include <cmath>
#include <ostream>

#include "common/kdtree.h"
#include "tervik/exceptions.h"

namespace tervik {

namespace {

constexpr unsigned int kNeighbours = 20;

// One colour byte from a vector component: 127 at zero, 0 and 255 at the ends; NaN gives 0.
unsigned char code_component(double f, double c) {
  const double value = f * c + 127;
  if (value >= 255) return 255;
  if (!(value > 0)) return 0;
  return static_cast<unsigned char>(value);
}

}  // namespace

void velocity_field(const std::vector<Patch>& first, const std::vector<Patch>& second,
                    std::vector<Point3D>& out, long long npoints, std::ostream& progress) {
  out.clear();
  out.reserve(second.size());
  const long long o = static_cast<long long>(static_cast<double>(npoints) * 0.75);
  long long wanted = npoints - o;
  // The centre count can never exceed the patches there are.
  const std::size_t m = static_cast<std::size_t>(
      std::clamp<long long>(wanted, 0, static_cast<long long>(second.size())));

  // 1. Raw vectors: each centre of the second surface to its nearest agreeing patch of the first.
  std::vector<Point3D> raw(m);
  std::vector<unsigned int> near;
  unsigned long not_found = 0;
  {
    KDTree<Patch> tree(first);
    for (std::size_t g = 0; g < m; ++g) {
      const Patch& b = second[g];
      tree.nearest_neighbors(b.pos, first, near, kNeighbours);
      bool found = false;
      for (unsigned int i : near) {
        const Patch& a = first[i];
        if (dot(a.normal, b.normal) > 0.5) {
          raw[g] = b.pos - a.pos;
          found = true;
          break;
        }
      }
      if (!found) ++not_found;
    }
  }
  progress << not_found << " non-found motion vectors out of " << m << std::endl;

  // 2. Smoothing over the centres alone: only they have raw vectors.
  const std::vector<Patch> centres(second.begin(), second.begin() + static_cast<long>(m));
  KDTree<Patch> tree(centres);
  for (std::size_t j = 0; j < m; ++j) {
    tree.nearest_neighbors(centres[j].pos, centres, near, kNeighbours);
    Point3D sum;
    for (unsigned int i : near) sum += raw[i];
    out.push_back(sum * (1.0 / static_cast<double>(near.size())));
  }
}

void vel_color_code(std::vector<Patch>& patches, const std::vector<Point3D>& vectors,
                    double scale) {
  if (vectors.size() < patches.size()) {
    throw TervikError("vel_color_code: " + std::to_string(vectors.size()) +
                      " motion vectors for " + std::to_string(patches.size()) +
                      " patches; one vector per patch is needed");
  }
  // A negative scale inverts the coding (a component of -scale gives 254); only a scale
  // that gives no finite factor is refused.
  TERVIK_CHECK(scale != 0 && std::isfinite(scale),
               "vel_color_code: the scale must be a non-zero finite length, got " << scale);
  const double f = 127 / scale;
  for (std::size_t i = 0; i < patches.size(); ++i) {
    patches[i].r = code_component(f, vectors[i].x);
    patches[i].g = code_component(f, vectors[i].y);
    patches[i].b = code_component(f, vectors[i].z);
  }
}

}  // namespace tervik
