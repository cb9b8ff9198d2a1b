#include "tervik/camera.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>

#include "tervik/atomic_file.h"
#include "tervik/exceptions.h"

namespace tervik {
namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

std::string describe_file_type(std::filesystem::file_type type) {
  switch (type) {
    case std::filesystem::file_type::directory: return "a folder";
    case std::filesystem::file_type::fifo: return "a FIFO";
    case std::filesystem::file_type::character: return "a character device";
    case std::filesystem::file_type::block: return "a block device";
    case std::filesystem::file_type::socket: return "a socket";
    default: return "a special file";
  }
}

// A calibration file held in memory, read through a cursor that counts lines. It mirrors
// fscanf's reading: numbers skip any white space before them (newlines included), and a line
// skip consumes the rest of the current line, however long it is.
class CalibrationText {
 public:
  CalibrationText(std::string text, const std::string& file) : text_(std::move(text)), file_(file) {}

  // Consumes the rest of the current line and its newline; nothing at the end of the text.
  void skip_line() {
    const std::size_t end = text_.find('\n', pos_);
    if (end == std::string::npos) {
      pos_ = text_.size();
    } else {
      pos_ = end + 1;
      ++line_;
    }
  }

  // Skips white space, newlines included.
  void skip_space() {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) {
      if (text_[pos_] == '\n') ++line_;
      ++pos_;
    }
  }

  // Reads an image size: a decimal integer after white space, alone on its line; skips the
  // line. A number with a fraction or other text after it, a negative size or one beyond
  // 32 bits is refused.
  std::int64_t read_size(const char* field) {
    skip_space();
    const std::size_t end = std::min(text_.find('\n', pos_), text_.size());
    std::string token = text_.substr(pos_, end - pos_);
    while (!token.empty() && std::isspace(static_cast<unsigned char>(token.back()))) token.pop_back();
    if (token.empty()) fail(field, "expected the image " + std::string(field) + ", found nothing");
    errno = 0;
    char* stop = nullptr;
    const long long value = std::strtoll(token.c_str(), &stop, 10);
    if (stop != token.c_str() + token.size() || errno == ERANGE)
      fail(field, "the image " + std::string(field) + " '" + token + "' is not a whole number");
    if (value < 0 || value > std::numeric_limits<std::uint32_t>::max())
      fail(field, "the image " + std::string(field) + " " + token + " is out of range");
    skip_line();
    return value;
  }

  // Reads `count` reals as fscanf's "%le" would, each after optional white space; false at the
  // first one that does not convert.
  bool read_reals(double* out, int count) {
    for (int i = 0; i < count; ++i) {
      skip_space();
      const char* begin = text_.c_str() + pos_;
      char* stop = nullptr;
      out[i] = std::strtod(begin, &stop);
      if (stop == begin) return false;
      pos_ += static_cast<std::size_t>(stop - begin);
    }
    return true;
  }

  // Reads `rows` rows of `cols` reals into out (row after row), then skips the white space
  // after them; any row that does not convert fails with `field`'s message. The numbers must
  // be finite.
  // Returns the line on which the section starts.
  std::size_t read_rows(double* out, int rows, int cols, const char* field, const char* what) {
    skip_space();
    const std::size_t start = line_;
    for (int r = 0; r < rows; ++r, out += cols) {
      skip_space();
      const std::size_t row_line = line_;
      if (!read_reals(out, cols))
        fail(field, std::string("expected ") + std::to_string(cols) + " numbers in row " +
                        std::to_string(r + 1) + " of the " + what, row_line);
      for (int c = 0; c < cols; ++c)
        if (!std::isfinite(out[c]))
          fail(field, std::string("the ") + what + " holds a value that is not finite", row_line);
      skip_space();
    }
    return start;
  }

  // Reads one real, failing silently (the distortion coefficients are optional).
  bool try_real(double& value) {
    skip_space();
    const char* begin = text_.c_str() + pos_;
    char* stop = nullptr;
    const double v = std::strtod(begin, &stop);
    if (stop == begin) return false;
    pos_ += static_cast<std::size_t>(stop - begin);
    value = v;
    return true;
  }

  // Throws the (field) message naming the file and line `at` (0: the cursor's line).
  [[noreturn]] void fail(const char* field, const std::string& why, std::size_t at = 0) const {
    std::size_t line = at != 0 ? at : line_;
    // At the end of a file that ends in a newline, the last line is meant.
    if (pos_ >= text_.size() && line == line_ && line > 1 && !text_.empty() &&
        text_.back() == '\n')
      --line;
    throw TervikError(std::string("ERROR(Camera::read_parameters) : Data read (") + field +
                      ") is not consistent: '" + file_ + "' line " + std::to_string(line) +
                      ": " + why);
  }

 private:
  std::string text_;
  const std::string& file_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
};

// Calibration files are a few kilobytes; anything much larger is not one.
constexpr std::uintmax_t kMaxCalibrationBytes = 1 << 20;

// The whole calibration file, or TervikError "Cannot open" with the reason.
std::string read_calibration_text(const std::string& filename) {
  const std::string prefix = "ERROR(Camera.read_parameters) : Cannot open  " + filename;
  std::error_code ec;
  const auto status = std::filesystem::status(filename, ec);
  if (ec && status.type() != std::filesystem::file_type::not_found)
    throw TervikError(prefix + ": " + ec.message());
  if (status.type() == std::filesystem::file_type::not_found) throw TervikError(prefix);
  // A FIFO or device would block or never end: only regular files are calibration files.
  if (status.type() != std::filesystem::file_type::regular)
    throw TervikError(prefix + ": " + describe_file_type(status.type()) +
                      ", not a regular file");
  FilePtr file(std::fopen(filename.c_str(), "r"));
  if (!file) throw TervikError(prefix + ": " + std::strerror(errno));
  std::string text;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file.get())) > 0) {
    text.append(buffer, n);
    if (text.size() > kMaxCalibrationBytes)
      throw TervikError(prefix + ": larger than " + std::to_string(kMaxCalibrationBytes) +
                        " bytes, not a calibration file");
  }
  if (std::ferror(file.get())) throw TervikError(prefix + ": " + std::strerror(errno));
  return text;
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
  CalibrationText in(read_calibration_text(filename), filename);

  in.skip_line();  // "[Image size:]"
  im_width_ = in.read_size("width");
  im_height_ = in.read_size("height");
  // The empty line and "[Rotation matrix:]" (the height line's rest was skipped above).
  in.skip_line();
  in.skip_line();
  in.read_rows(rot_.data(), 3, 3, "rot", "rotation matrix");
  in.skip_line();  // "[Translation vector:]"
  in.read_rows(trans_.data(), 1, 3, "trans", "translation vector");
  in.skip_line();  // "[Calibration matrix:]"
  in.read_rows(k_.data(), 3, 3, "calibration", "calibration matrix");
  in.skip_line();  // "[Projection matrix:]"
  const std::size_t p_line = in.read_rows(p_.data(), 3, 4, "projection", "projection matrix");
  const double* p = p_.data();
  if (std::all_of(p, p + 12, [](double v) { return v == 0.0; }))
    in.fail("projection", "the projection matrix is all zero", p_line);
  in.skip_line();  // "[Distortion parameters:]"
  // One coefficient per line, followed by its comment. A missing or unreadable coefficient
  // is left unchanged; the rest of its line is skipped either way.
  double* dist = distortion_.data();
  for (int i = 0; i < 4; ++i) {
    in.try_real(dist[i]);
    in.skip_line();
  }
}

double projection_mismatch(const Camera& camera) {
  // M = K [R | t], 3 x 4, row after row.
  const double* k = camera.k().data();
  const double* r = camera.rot().data();
  const double* t = camera.trans().data();
  double m[12];
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 4; ++col) {
      double sum = 0.0;
      for (int j = 0; j < 3; ++j) sum += k[row * 3 + j] * (col < 3 ? r[j * 3 + col] : t[j]);
      m[row * 4 + col] = sum;
    }
  const double* p = camera.p().data();
  double pm = 0.0, mm = 0.0, pp = 0.0;
  for (int i = 0; i < 12; ++i) {
    pm += p[i] * m[i];
    mm += m[i] * m[i];
    pp += p[i] * p[i];
  }
  if (!(pp > 0.0)) return mm > 0.0 ? 1.0 : 0.0;
  // The scale s that brings s M closest to P; the residual relative to P.
  const double s = mm > 0.0 ? pm / mm : 0.0;
  double rr = 0.0;
  for (int i = 0; i < 12; ++i) rr += (p[i] - s * m[i]) * (p[i] - s * m[i]);
  return std::sqrt(rr / pp);
}

void Camera::write_parameters(const std::string& filename) const {
  // Through a temporary file renamed into place: a failed write (a full disk) leaves the
  // previous file, or none, under the name, never a truncated one.
  io::AtomicFile file;
  if (!file.open(filename)) throw TervikFileNotFound(filename);
  std::FILE* f = file.stream();

  int write_errno = 0;  // the first failed write's errno
  auto put = [&](int printed) {
    if (printed < 0 && write_errno == 0) write_errno = errno != 0 ? errno : EIO;
  };
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

  // A write error (a full disk) shows at the latest when the buffer is flushed on committing.
  if (write_errno != 0) {
    throw TervikFileError(filename, std::string("writing the calibration failed: ") +
                                        std::strerror(write_errno));
  }
  if (!file.commit()) {
    throw TervikFileError(filename, "writing the calibration failed: " + file.error());
  }
}

}  // namespace tervik
