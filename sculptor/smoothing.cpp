#include "sculptor/smoothing.h"

#include <iostream>

#include "common/kdtree.h"

namespace tervik {

void smooth_surface(std::vector<Patch>& patches, double L) {
  const double r2 = L * L;
  std::vector<Patch> smoothed;
  smoothed.reserve(patches.size());
  double total = 0.0;
  {
    KDTree<Patch> tree(patches);
    std::vector<unsigned int> neighbourhood;
    for (std::size_t j = 0; j < patches.size(); ++j) {
      const Patch& p = patches[j];
      const Point3D& x = p.pos;
      const Point3D& n = p.normal;
      tree.neighbors(x, patches, r2, neighbourhood);
      // Sum the positions of the neighbours that face the same way, in query order.
      Point3D sum;
      long m = 0;
      for (unsigned int k : neighbourhood) {
        if (k == j || !(dot(n, patches[k].normal) > -0.3)) continue;
        sum += patches[k].pos;
        ++m;
      }
      Patch moved = p;
      if (m > 0) {
        const Point3D mean = sum * (1.0 / static_cast<double>(m));
        const double t = dot(mean - x, n);
        moved.pos = x + n * t;
      }
      smoothed.push_back(moved);
      total += static_cast<double>(m);
    }
  }
  patches.swap(smoothed);
  std::cout << total / static_cast<double>(patches.size()) << " neighs per patch" << std::endl;
}

}  // namespace tervik
