#pragma once
// One frame's silhouettes, as a test of where the object may lie (weaver --silhouettes).
#include <cstdint>
#include <string>
#include <vector>

#include "tervik/camera.h"
#include "tervik/points.h"

namespace tervik {

// The cameras of a frame and their silhouettes. A point may lie inside the object unless a
// camera sees it over the background. A silhouette pixel is foreground from 128 up; the
// foreground is widened by one pixel, so that a surface the points sampled on the silhouette's
// edge is never found outside by rounding. A camera that the point lies behind, or outside whose
// image it projects, says nothing about it. A camera with lens distortion projects through it,
// as the silhouette's pixels were taken (undistorted captures carry zero coefficients).
class SilhouetteHull {
 public:
  // Adds a camera and its silhouette (`mask`, one byte per pixel, row after row; `name` for the
  // message). Throws TervikError when the silhouette's size is not the camera's image size.
  void add(const Camera& camera, const std::vector<unsigned char>& mask, const std::string& name);

  bool inside(const Point3D& p) const;
  std::size_t cameras() const { return views_.size(); }

 private:
  struct View {
    double p[12];  // the projection matrix, row after row
    long width = 0, height = 0;
    bool distorted = false;  // some lens distortion coefficient is not zero
    Camera camera;
    std::vector<unsigned char> foreground;  // 1 where the widened foreground covers the pixel
  };
  std::vector<View> views_;
};

// Reads frame `frame` of the cameras numbered by `ids` (or 0 .. count-1 when `ids` is empty):
// their calibration files from `calibration`, a printf-style template that receives the camera
// number, and their silhouettes from `silhouettes`, which receives the camera number and the
// frame. Throws the readers' errors, naming the file, and TervikError for a template with the
// wrong conversions or a silhouette of the wrong size.
SilhouetteHull read_silhouette_hull(const std::string& calibration, const std::string& silhouettes,
                                    int count, const std::vector<int>& ids, std::int64_t frame);

}  // namespace tervik
