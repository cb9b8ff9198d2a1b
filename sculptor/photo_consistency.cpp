// The photo-consistency filter: patches whose best views disagree are moved at random until the
// views agree or the attempts run out.
#include <cstddef>
#include <vector>

#include "sculptor/colors.h"
#include "sculptor/random.h"
#include "sculptor/visibility.h"

namespace tervik {

namespace {

// Displacements tried for one patch before it is put back where it was.
constexpr int kMaxAttempts = 49;

// A camera that sees the patch squarely, with its facing score and pixel.
struct View {
  std::size_t camera;
  double score;
  Coord2D<short> pixel;
};

// True when the patch at `pos` with `normal` is consistent: fewer than two cameras see it with a
// facing score above 0.9, or the best of them correlates with none of the others below zero
// (a correlation that is not a number counts as agreement). `seen` is scratch storage.
bool consistent(const Point3D& pos, const Point3D& normal,
                const std::vector<DepthMap>& maps,
                const multiview::MultiView<ImageRGB<unsigned char>>& views,
                const std::vector<Point3D>& facing, double tol, std::vector<View>& seen) {
  seen.clear();
  std::size_t ref = 0;
  for (std::size_t k = 0; k < views.size(); ++k) {
    long x, y;
    if (!sees(views[k].get<0>(), maps[k], pos, tol, x, y)) continue;
    const double score = dot(facing[k], normal);
    if (!(score > 0.9)) continue;
    seen.push_back(View{k, score, Coord2D<short>(static_cast<short>(x), static_cast<short>(y))});
    if (score > seen[ref].score) ref = seen.size() - 1;
  }
  if (seen.size() < 2) return true;
  const View& r = seen[ref];
  for (std::size_t i = 0; i < seen.size(); ++i) {
    if (i == ref) continue;
    const View& o = seen[i];
    if (ncc_rgb(r.pixel, views[r.camera].get<1>(), o.pixel, views[o.camera].get<1>()) < 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

long photo_consistency(std::vector<Patch>& patches, const std::vector<DepthMap>& maps,
                       const multiview::MultiView<ImageRGB<unsigned char>>& views, double tol) {
  check_visibility_inputs("photo_consistency", maps, views);
  const std::vector<Point3D> facing = facing_vectors(views);
  std::vector<View> seen;
  seen.reserve(views.size());

  long moved = 0;
  // The attempt counter carries over from patch to patch: it starts at 0 for the first patch
  // and is reset to 1 whenever a patch is settled.
  int attempts = 0;
  for (Patch& patch : patches) {
    bool saved = false;
    Point3D start;
    while (!consistent(patch.pos, patch.normal, maps, views, facing, tol, seen)) {
      if (attempts > kMaxAttempts) {
        patch.pos = start;  // no displacement helped: back where it was
        break;
      }
      if (!saved) {
        start = patch.pos;
        saved = true;
        ++moved;
      }
      const double u1 = sym_rand();
      const double u2 = sym_rand();
      const double u3 = sym_rand();
      patch.pos = start + Point3D(u3, u2, u1) * tol;
      ++attempts;
    }
    attempts = 1;
  }
  return moved;
}

}  // namespace tervik
