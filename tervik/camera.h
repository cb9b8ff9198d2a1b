#pragma once
// The calibrated pinhole camera and its calibration text file.
//
// Matrix convention: every matrix is a MultiArray<double,2> indexed (column, row), so memory
// holds it row after row. rot() and k() are 3 x 3, p() has extents 4 (columns) x 3 (rows);
// p().data()[4 * r + c] is P's row r, column c. A world point X has camera coordinates
// R * X + t, and P * (X, Y, Z, 1) is its homogeneous image position (pixels, x = column).
#include <cstdint>
#include <string>

#include "tervik/multiarray.h"

namespace tervik {

// A pinhole camera: image size, rotation R (world to camera), translation t, intrinsic matrix K,
// projection matrix P (3 x 4, stored, never derived from K, R and t) and the distortion
// coefficients (k1, k2, p1, p2). All projection uses P alone.
class Camera {
 public:
  // All matrices and vectors at their sizes with every element 0.0, image size 0 x 0.
  Camera();
  Camera(const Camera&) = default;
  // Member-by-member copy; assigning a camera to itself leaves it unchanged.
  Camera& operator=(const Camera& other);
  ~Camera() = default;

  // Rotation R from world to camera coordinates, 3 x 3, (column, row).
  const MultiArray<double, 2>& rot() const { return rot_; }
  MultiArray<double, 2>& rot() { return rot_; }
  // Translation t, 3 elements.
  const MultiArray<double, 1>& trans() const { return trans_; }
  MultiArray<double, 1>& trans() { return trans_; }
  // Intrinsic matrix K, 3 x 3, (column, row): row 0 (fx, skew, cx), row 1 (0, fy, cy), row 2
  // (0, 0, 1).
  const MultiArray<double, 2>& k() const { return k_; }
  MultiArray<double, 2>& k() { return k_; }
  // Projection matrix P, extents 4 (columns) x 3 (rows).
  const MultiArray<double, 2>& p() const { return p_; }
  MultiArray<double, 2>& p() { return p_; }
  // Lens distortion (k1, k2, p1, p2); the model is ideal_to_distorted in multiview.h.
  const MultiArray<double, 1>& distortion() const { return distortion_; }
  MultiArray<double, 1>& distortion() { return distortion_; }

  // Image size in pixels, converted to unsigned 32-bit.
  std::uint32_t im_width() const { return static_cast<std::uint32_t>(im_width_); }
  std::uint32_t im_height() const { return static_cast<std::uint32_t>(im_height_); }
  // The stored image size, writable.
  std::int64_t& im_width() { return im_width_; }
  std::int64_t& im_height() { return im_height_; }

  // Fills the camera from a calibration text file. Throws TervikError with
  // "ERROR(Camera.read_parameters) : Cannot open  <file>" (followed by ": <reason>" when the
  // file exists but cannot be read, or is not a regular file) or
  // "ERROR(Camera::read_parameters) : Data read (<field>) is not consistent: '<file>' line <n>:
  // <what is wrong>" for field width, height, rot, trans, calibration or projection: a size
  // that is not a whole number alone on its line, a matrix row that is short, a non-finite
  // number in R, t, K or P, or an all-zero P. Fields read before a failure keep their new
  // values. A missing or short distortion section is not an error.
  void read_parameters(const std::string& filename);

  // Writes the camera as a 27-line calibration text file, through a temporary file renamed
  // over `filename` (tervik/atomic_file.h), so that a failed write leaves the earlier file or
  // none. Throws TervikFileNotFound(filename) when the file cannot be created, writing nothing,
  // and TervikFileError when writing it fails afterwards (a full disk, for example).
  void write_parameters(const std::string& filename) const;

 private:
  std::int64_t im_width_ = 0;
  std::int64_t im_height_ = 0;
  MultiArray<double, 2> rot_;
  MultiArray<double, 1> trans_;
  MultiArray<double, 2> k_;
  MultiArray<double, 2> p_;
  MultiArray<double, 1> distortion_;
};

// How far the projection matrix P is from K [R | t] up to scale: the norm of P - s K[R|t]
// relative to the norm of P, for the scale s that makes it smallest. About 1e-16 for a
// consistent camera; 1 when K [R | t] is zero and P is not.
double projection_mismatch(const Camera& camera);

}  // namespace tervik
