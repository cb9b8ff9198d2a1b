#pragma once
// check_capture: validates a capture folder before a long run and reports one table row per
// check and camera: calibrations (readable, P agreeing with K [R | t]), lens distortion, image
// and silhouette sizes, silhouettes neither empty nor full, and the box (inside the images,
// every corner seen by enough cameras).
#include <string>
#include <vector>

#include "sculptor/options.h"
#include "tervik/camera.h"
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
  NameTemplate calibration;  // camera number
  NameTemplate images;       // camera and frame numbers
  NameTemplate silhouettes;  // camera and frame numbers
  long first_frame = 0, last_frame = 0;
  bool has_box = false;
  Point3D box_min, box_max;
  int min_cameras = 5;  // cameras that must see every box corner
};

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
