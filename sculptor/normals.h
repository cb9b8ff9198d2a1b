#pragma once
// Normal estimation of the sampler: the principal-axes plane fit of a small point set, the
// oriented normal of a freshly sampled point (probing the silhouettes on both sides), and the
// per-frame re-estimation of every patch's normal from its neighbourhood.
//
// Normals are unit vectors (eigenvectors of the scatter matrix) in world coordinates; lengths and
// radii are in world units, L being the sampling length of the run.
#include <cstdint>
#include <iosfwd>
#include <span>
#include <vector>

#include "common/patch.h"
#include "sculptor/hull_grid.h"
#include "sculptor/neighbourhoods.h"
#include "sculptor/silhouette.h"
#include "sculptor/stage_parameters.h"
#include "tervik/points.h"

namespace tervik {

// The tangent frame of a sampled point: first tangent direction u (middle principal axis of its
// neighbourhood), second tangent direction v (largest principal axis). Default: all zero.
struct MyDirector {
  Point3D u;
  Point3D v;
  bool operator==(const MyDirector&) const = default;
};

// The direction of least spread of `points` (n >= 1): the eigenvector of the smallest eigenvalue
// of their scatter matrix about the centroid. Its sign is the one the decomposition yields.
Point3D compute_normal(const std::vector<Point3D>& points);

// The same, also writing the first tangent (eigenvector of the middle eigenvalue) and the second
// tangent (largest eigenvalue). Throws TervikError when `points` is empty.
Point3D compute_normal(const std::vector<Point3D>& points, Point3D& first_tangent,
                       Point3D& second_tangent);

// The outward normal at the sampled point p: fits the plane of `points` (p and its companions),
// then probes p +- s L normal for s = 2, 1, 0.5, 0.25; a probe is inside when projection_test
// finds it in at least `min_cameras` images and on background in at most `tolerance`. Returns
// true as soon as exactly one probe is inside (the normal then points to the other one); false
// after four undecided probes. `normal` and `frame` (u, v) are written in both cases.
bool local_normal(Point3D& normal, MyDirector& frame, const std::vector<Point3D>& points,
                  const Point3D& p, const SilhouetteViews& silhouettes, short min_cameras,
                  short tolerance, double L);

// The same with the probes tested through `grid` (same results as projection_test on its views).
bool local_normal(Point3D& normal, MyDirector& frame, const std::vector<Point3D>& points,
                  const Point3D& p, HullGrid& grid, short min_cameras, short tolerance, double L);

// Re-estimates every normal of `in` from the positions of the patches within L of it (itself
// included), flipped to agree on the whole with their old normals; patches with fewer than 3
// patches in that radius keep theirs. `out` receives one patch per patch of `in`, same order,
// positions and colours. Reads L (`step`) and `threads` of `params`. Writes "Neighbors per patch:
// <mean>" to `progress` when the mean number of other patches within L is below 50 and "<n>
// patches left unchanged" when n > 0. Throws TervikError when `out` and `in` are the same vector.
void normals(std::vector<Patch>& out, const std::vector<Patch>& in, const StageParameters& params,
             std::ostream& progress);

// The same with the neighbourhoods of `in` for radius L given (`near`, as built from in's
// positions with squared radius L * L); they serve the smoothing that follows as well.
void normals(std::vector<Patch>& out, const std::vector<Patch>& in, const Neighbourhoods& near,
             const StageParameters& params, std::ostream& progress);

// What normals() counts for its lines: the neighbourhood sizes summed over the patches (each
// counting itself) and the patches left unchanged.
struct NormalsTally {
  long long neighbours = 0;
  long long unchanged = 0;
};

// The normals of the patches i with chosen[i] == value alone, written to out[i] as normals()
// writes them; `out` must already hold one patch per patch of `in`, and the others are left
// alone. Runs on up to `threads` threads and writes no line: passes over complementary choices
// give normals()'s patches, and their tallies add up to its tally. Throws TervikError on
// mismatched sizes.
NormalsTally normals_where(std::vector<Patch>& out, const std::vector<Patch>& in,
                           const Neighbourhoods& near, std::span<const std::uint8_t> chosen,
                           std::uint8_t value, unsigned threads);

// The lines of normals() for `n` patches and the tally of their normals.
void report_normals(std::size_t n, const NormalsTally& tally, std::ostream& progress);

}  // namespace tervik
