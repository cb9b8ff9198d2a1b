#include "tervik/camera.h"

#include <cinttypes>
#include <cstdio>
#include <limits>
#include <memory>

#include "tervik/exceptions.h"

namespace tervik {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void inconsistent(const char* field) {
  throw TervikError(std::string("ERROR(Camera::read_parameters) : Data read (") + field +
                    ") is not consistent");
}

// Skips the rest of the current line, reading at most 79 characters of it (every marker of the
// file is shorter). At the end of the file it does nothing.
void skip_line(std::FILE* f) {
  char buffer[80];
  if (std::fgets(buffer, sizeof buffer, f) == nullptr) buffer[0] = '\0';
}

// Reads an image size: a decimal integer after optional white space, then skips the rest of
// its line. Sizes that are negative or do not fit 32 bits are rejected as inconsistent.
std::int64_t read_size(std::FILE* f, const char* field) {
  std::int64_t value = 0;
  if (std::fscanf(f, "%" SCNd64, &value) != 1) inconsistent(field);
  if (value < 0 || value > std::numeric_limits<std::uint32_t>::max()) inconsistent(field);
  skip_line(f);
  return value;
}

// Reads `rows` rows of three reals into out (row after row). Every row read ends in a
// white-space directive, so the numbers may be spread over lines and blank lines may follow.
void read_rows3(std::FILE* f, double* out, int rows, const char* field) {
  for (int r = 0; r < rows; ++r, out += 3) {
    if (std::fscanf(f, "%le %le %le ", out, out + 1, out + 2) != 3) inconsistent(field);
  }
}

void read_rows4(std::FILE* f, double* out, int rows, const char* field) {
  for (int r = 0; r < rows; ++r, out += 4) {
    if (std::fscanf(f, "%le %le %le %le ", out, out + 1, out + 2, out + 3) != 4) {
      inconsistent(field);
    }
  }
}

}  // namespace

Camera::Camera()
    : rot_(3, 3), trans_(3), k_(3, 3), p_(4, 3), distortion_(4) {}

Camera& Camera::operator=(const Camera& other) {
  if (this == &other) return *this;
  im_width_ = other.im_width_;
  im_height_ = other.im_height_;
  rot_ = other.rot_;
  trans_ = other.trans_;
  k_ = other.k_;
  p_ = other.p_;
  distortion_ = other.distortion_;
  return *this;
}

void Camera::read_parameters(const std::string& filename) {
  FilePtr file(std::fopen(filename.c_str(), "r"));
  if (!file) throw TervikError("ERROR(Camera.read_parameters) : Cannot open  " + filename);
  std::FILE* f = file.get();

  skip_line(f);  // "[Image size:]"
  im_width_ = read_size(f, "width");
  im_height_ = read_size(f, "height");
  // The empty line and "[Rotation matrix:]" (the height line's rest was skipped above).
  skip_line(f);
  skip_line(f);
  read_rows3(f, rot_.data(), 3, "rot");
  skip_line(f);  // "[Translation vector:]"
  read_rows3(f, trans_.data(), 1, "trans");
  skip_line(f);  // "[Calibration matrix:]"
  read_rows3(f, k_.data(), 3, "calibration");
  skip_line(f);  // "[Projection matrix:]"
  read_rows4(f, p_.data(), 3, "projection");
  skip_line(f);  // "[Distortion parameters:]"
  // One coefficient per line, followed by its comment. A missing or unreadable coefficient
  // is left unchanged; the rest of its line is skipped either way.
  double* dist = distortion_.data();
  for (int i = 0; i < 4; ++i) {
    double value = 0.0;
    if (std::fscanf(f, "%le", &value) == 1) dist[i] = value;
    skip_line(f);
  }
}

void Camera::write_parameters(const std::string& filename) const {
  FilePtr file(std::fopen(filename.c_str(), "w"));
  if (!file) throw TervikFileNotFound(filename);
  std::FILE* f = file.get();

  bool ok = true;
  auto put = [&](int printed) { ok = ok && printed >= 0; };
  auto put_rows = [&](const double* m, int rows, int cols) {
    for (int r = 0; r < rows; ++r) {
      for (int c = 0; c < cols; ++c) put(std::fprintf(f, "%23.16e   ", m[r * cols + c]));
      put(std::fputs("\n", f));
    }
  };

  put(std::fprintf(f, "[Image size:]\n%" PRId64 "\n%" PRId64 "\n\n", im_width_, im_height_));
  put(std::fputs("[Rotation matrix:]\n", f));
  put_rows(rot_.data(), 3, 3);
  put(std::fputs("\n[Translation vector:]\n", f));
  put_rows(trans_.data(), 1, 3);
  put(std::fputs("\n[Calibration matrix:]\n", f));
  put_rows(k_.data(), 3, 3);
  put(std::fputs("\n[Projection matrix:]\n", f));
  put_rows(p_.data(), 3, 4);
  put(std::fputs("\n[Distortion parameters:]\n", f));
  const double* dist = distortion_.data();
  put(std::fprintf(f, "%23.16e   //Kappa1\n", dist[0]));
  put(std::fprintf(f, "%23.16e   //Kappa2\n", dist[1]));
  put(std::fprintf(f, "%23.16e   //Tau1\n", dist[2]));
  put(std::fprintf(f, "%23.16e   //Tau2\n", dist[3]));

  // A write error (a full disk) shows at the latest when the buffer is flushed on closing.
  const bool closed = std::fclose(file.release()) == 0;
  if (!ok || !closed) throw TervikFileError(filename, "writing the calibration failed");
}

}  // namespace tervik
