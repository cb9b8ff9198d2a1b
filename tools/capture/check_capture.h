#pragma once
// check_capture: validates a capture folder before a long run and reports one table row per
// check and camera: calibrations (readable, P agreeing with K [R | t]), lens distortion, image
// and silhouette sizes, silhouettes neither empty nor full nor drawn in sculptor's ambiguous
// value 128, specks in the silhouettes, and the box: what sculptor needs is that every voxel of
// the hull carved from the silhouettes inside the box is seen by enough cameras; corners of the
// box outside the views only warn.
#include <string>
#include <vector>

#include "sculptor/options.h"
#include "tervik/camera.h"
#include "tervik/imagegray.h"
#include "tervik/points.h"

namespace tervik::capture {

enum class Status { ok, warning, fault };

// One line of the report: the check, what it looked at ("camera 3", "corner 5"), the verdict
// and the reason.
struct CheckRow {
  std::string check;
  std::string subject;
  Status status = Status::ok;
  std::string detail;
};

// What to check. Templates left empty (text() == "") skip their checks; so does has_box false.
struct CaptureLayout {
  int cameras = 0;
  std::vector<int> ids;  // the cameras' numbers in the templates; empty: 0 .. cameras-1
  int number(int index) const { return ids.empty() ? index : ids[std::size_t(index)]; }
  NameTemplate calibration;  // camera number
  NameTemplate images;       // camera and frame numbers
  NameTemplate silhouettes;  // camera and frame numbers
  long first_frame = 0, last_frame = 0;
  bool has_box = false;
  Point3D box_min, box_max;
  int min_cameras = 5;  // cameras that must see every voxel of the hull
  long speck_area = 50;  // holes and stray blobs of at most this many pixels are counted
};

// The hull of at most this many frames of the range (spread evenly, first and last included) is
// carved on a grid of kHullCells voxels along the box's longest axis.
constexpr long kHullFrames = 10;
constexpr int kHullCells = 64;

// The carved hull of one frame inside a box: voxels on which no camera that sees them shows
// only background, and that at least one camera sees.
struct HullCoverage {
  long voxels = 0;       // voxels of the hull
  long under_seen = 0;   // of them, seen by fewer than min_cameras cameras
  long under_seen_at_hull = 0;  // of those, next to (6-neighbour of) a voxel seen by enough
  // The fewest cameras that see a voxel counted in under_seen_at_hull, and its centre; when
  // there is none, the fewest that see a voxel seen by enough (0 when there is none either).
  int fewest = 0;
  Point3D fewest_at;
  bool faces[6] = {};    // the hull reaches the box's xmin, ymin, zmin, xmax, ymax, zmax face
};
// Carves a grid of `cells` voxels along the longest axis of [lo, hi]; silhouettes[i] belongs
// to cameras[i] and has its size.
HullCoverage hull_coverage(const std::vector<Camera>& cameras,
                           const std::vector<ImageGray<unsigned char>>& silhouettes,
                           const Point3D& lo, const Point3D& hi, int cells, int min_cameras);

// Specks in a silhouette: enclosed background holes and foreground pieces other than the
// largest, of at most `max_area` pixels each.
struct Specks {
  long holes = 0, blobs = 0;
};
Specks count_specks(const ImageGray<unsigned char>& silhouette, long max_area);

// P agrees with K [R | t] when their relative difference, after the best scale, is at most this.
constexpr double kProjectionTolerance = 1e-6;
// || P - s K [R | t] || / || P || (Frobenius norms) for the scale s that minimises it; 1 when
// K [R | t] is zero.
double projection_mismatch(const Camera& camera);

// How far, in pixels, the camera's lens distortion moves the ideal image position (0, 0);
// the library's significant_distortion flags more than 3 pixels.
double corner_distortion_shift(const Camera& camera);

// Runs every check; rows come grouped by check, cameras in order.
std::vector<CheckRow> check_capture(const CaptureLayout& layout);

// The rows as an aligned text table with a header line.
std::string format_table(const std::vector<CheckRow>& rows);

// "ok", "WARNING" or "FAULT".
std::string status_name(Status status);

// Number of rows with the given status.
long count_status(const std::vector<CheckRow>& rows, Status status);

}  // namespace tervik::capture
