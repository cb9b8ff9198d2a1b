#pragma once
// A faster projection_test for the samplers: a coarse 3-d grid over the working box whose cells
// remember, per camera, what every point of the cell sees there, so that a test projects a point
// only into the cameras where the cell's points may differ.
//
// A cell is classified the first time a test lands in it, camera by camera in list order up to
// the camera where that test's tolerance ends every test (cameras after it stay unknown). Per
// camera, the cell's image footprint is bounded from its centre and half-size (interval
// arithmetic on the projection, widened by a rounding margin). The camera's class for the cell
// is then:
//   out of frame  the footprint lies beyond the image on one side: no point of the cell counts;
//   background    the footprint lies in the image and all its pixels are background;
//   interior      the footprint and its 4-neighbour ring lie on foreground: no outline there;
//   unknown       anything else (also a cell that reaches the camera's focal plane): the point
//                 is projected into this camera and its pixel read as projection_test does.
// The cameras are visited in list order with the same counting and early stop as
// projection_test, so the counters and the outline flag are those of projection_test for every
// point, bit for bit.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "sculptor/silhouette.h"
#include "sculptor/silhouette_blocks.h"
#include "tervik/points.h"

namespace tervik {

class HullGrid {
 public:
  // The most cameras the cells can describe (two bits each in a 64-bit word with one flag bit);
  // larger view sets are tested by projection_test alone.
  static constexpr std::size_t kMaxCameras = 31;
  // The most cells laid over the box (8 bytes each); a box needing more gets larger cells.
  static constexpr std::size_t kMaxCells = std::size_t{1} << 20;

  // A grid over [box_min, box_max] with cells of side `cell` (enlarged when the box would need
  // more than kMaxCells), for the silhouettes of `views`. Points outside the box, view sets of
  // more than kMaxCameras cameras and silhouettes smaller than their camera's image size (where
  // projection_test throws) are left to projection_test, as is every point when the box is
  // empty or `cell` is not positive and finite. The views must neither change nor move while
  // the grid lives. The silhouettes' block summaries are built on up to `threads` threads.
  HullGrid(const SilhouetteViews& views, const Point3D& box_min, const Point3D& box_max,
           double cell, unsigned threads = 1);
  HullGrid(const HullGrid&) = delete;
  HullGrid& operator=(const HullGrid&) = delete;

  // projection_test(views, point, inside, outside, tolerance): the same counts and flag.
  bool test(const Point3D& point, short& inside, short& outside, short tolerance);

  // The verdict that projection_test's counts give at `point`: with `outline_needed`, whether
  // it finds an outline, at least `min_cameras` cameras inside and exactly `tolerance` on
  // background (a sampler's admissible point); without, whether at least `min_cameras` are
  // inside and at most `tolerance` on background (a normal's probe). Always the verdict of
  // test(), but the cameras are visited in any order and the visit ends as soon as the verdict
  // is known: the cell's known classes first, then the camera that rejected the last point.
  bool admits(const Point3D& point, short min_cameras, short tolerance, bool outline_needed);

  // Classifies the cell holding `point` (for tests with `tolerance`) unless it is classified
  // already, so that a later test there finds it ready. Safe to call from another thread while
  // test() runs (cells are read and written atomically); counts nothing.
  void prepare(const Point3D& point, short tolerance);

  // The cell side in use, the number of cells classified so far, the calls of test() that used
  // the cells and the projections these made (cameras a cell left undecided).
  double cell_size() const { return cell_; }
  std::size_t classified_cells() const { return classified_; }
  std::size_t tests() const { return tests_; }
  std::size_t projections() const { return projections_; }

  const SilhouetteViews& views() const { return views_; }

 private:
  // What a test reads of one camera: its projection matrix (copied, row after row), image size
  // and silhouette.
  struct View {
    double p[12];
    double abs_row[3];  // sum of |P_r0|, |P_r1|, |P_r2| for the rows r = u, v, w
    double sum_u, sum_v, sum_w;  // the rounding margin's share of each row's magnitudes
    double cam_width;
    double cam_height;
    const unsigned char* pixels;  // row after row, stride `width`
    std::int64_t width;           // silhouette extents
    std::int64_t height;
    const SilhouetteBlocks* blocks;  // the silhouette's block summary
  };

  // The classes of the cell's cameras in list order, up to the camera where a test with
  // `tolerance` must stop (the (tolerance + 1)-th background camera); the rest stay unknown.
  std::uint64_t classify(std::int64_t ix, std::int64_t iy, std::int64_t iz,
                         short tolerance) const;
  unsigned classify_camera(const View& view, const Point3D& centre) const;
  // The cell word of `point`, classified for `tolerance` if it was not yet; false when the
  // point lies outside the grid (or the grid is off) and projection_test must answer.
  bool cell_word(const Point3D& point, short tolerance, std::uint64_t& slot);

  const SilhouetteViews& views_;
  std::vector<View> table_;
  std::vector<SilhouetteBlocks> blocks_;  // per camera
  bool enabled_ = false;
  std::uint64_t camera_bits_ = 0;  // bit 2 i for every camera i
  Point3D origin_;
  double cell_ = 0.0;
  double inv_cell_ = 0.0;
  std::int64_t nx_ = 0, ny_ = 0, nz_ = 0;
  double extent_[3] = {0.0, 0.0, 0.0};  // nx_, ny_, nz_ as reals
  std::vector<std::uint64_t> cells_;  // per cell: kClassified and two bits per camera
  std::size_t classified_ = 0;
  std::size_t tests_ = 0;
  std::size_t projections_ = 0;
  std::uint64_t reject_bit_ = 0;  // admits(): the camera bit that rejected the last point
};

}  // namespace tervik
