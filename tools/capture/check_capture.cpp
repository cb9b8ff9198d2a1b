// The checks of a capture folder.
#include "tools/capture/check_capture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "tervik/multiview.h"
#include "tervik/readimage.h"
#include "tools/common/capture_files.h"

namespace tervik::capture {

namespace {

std::string number(double v, const char* format = "%.3g") {
  char buf[64];
  std::snprintf(buf, sizeof buf, format, v);
  return buf;
}

std::string size_text(unsigned long long w, unsigned long long h) {
  return std::to_string(w) + " x " + std::to_string(h);
}

// Frames first..last as "frame 3" or "frames 0-2".
std::string frames_text(long first, long last) {
  return first == last ? "frame " + std::to_string(first)
                       : "frames " + std::to_string(first) + "-" + std::to_string(last);
}

// The first problem over a camera's frames, with the number of frames that have one.
struct FrameProblems {
  long count = 0;
  std::string first;
  void add(const std::string& what) {
    if (count++ == 0) first = what;
  }
};

}  // namespace

double projection_mismatch(const Camera& c) {
  // M = K [R | t], element (column, row) as P.
  double m[3][4];
  for (int r = 0; r < 3; ++r)
    for (int col = 0; col < 4; ++col) {
      double s = 0.0;
      for (int i = 0; i < 3; ++i) s += c.k()[i][r] * (col < 3 ? c.rot()[col][i] : c.trans()[i]);
      m[r][col] = s;
    }
  double pm = 0.0, mm = 0.0, pp = 0.0;
  for (int r = 0; r < 3; ++r)
    for (int col = 0; col < 4; ++col) {
      const double p = c.p()[col][r];
      pm += p * m[r][col], mm += m[r][col] * m[r][col], pp += p * p;
    }
  if (!(mm > 0.0)) return 1.0;
  if (!(pp > 0.0)) return 1.0;
  const double s = pm / mm;
  double diff = 0.0;
  for (int r = 0; r < 3; ++r)
    for (int col = 0; col < 4; ++col) {
      const double d = c.p()[col][r] - s * m[r][col];
      diff += d * d;
    }
  return std::sqrt(diff / pp);
}

double corner_distortion_shift(const Camera& camera) {
  const Point2D corner(0.0, 0.0);
  Point2D moved;
  multiview::ideal_to_distorted(corner, camera, moved);
  return std::hypot(moved.x - corner.x, moved.y - corner.y);
}

std::vector<CheckRow> check_capture(const CaptureLayout& layout) {
  std::vector<CheckRow> calib, distortion, images, silhouettes, box, corners;
  std::vector<std::optional<Camera>> cams(std::size_t(layout.cameras));
  const std::string frames = frames_text(layout.first_frame, layout.last_frame);
  for (int i = 0; i < layout.cameras; ++i) {
    const std::string who = "camera " + std::to_string(i);
    const std::string file = layout.calibration.format(i);
    Camera c;
    try {
      c = read_camera_file(file);
    } catch (const std::exception& e) {
      calib.push_back({"calibration", who, Status::fault, e.what()});
      continue;
    }
    cams[i] = c;
    const double mismatch = capture::projection_mismatch(c);
    if (mismatch > kProjectionTolerance)
      calib.push_back({"calibration", who, Status::fault,
                       file + ": P differs from K [R | t] by " + number(mismatch) +
                           " (relative); one of them is wrong"});
    else
      calib.push_back({"calibration", who, Status::ok,
                       size_text(c.im_width(), c.im_height()) + ", P = K [R | t]"});
    const double shift = corner_distortion_shift(c);
    if (multiview::significant_distortion(c))
      distortion.push_back({"distortion", who, Status::warning,
                            "lens distortion moves the image corner by " + number(shift, "%.1f") +
                                " pixels; sculptor uses images as read: undistort them first "
                                "(undistort_images)"});
    else
      distortion.push_back({"distortion", who, Status::ok,
                            "corner moved by " + number(shift, "%.2f") + " pixels"});

    if (!layout.images.text().empty()) {
      FrameProblems problems;
      for (long f = layout.first_frame; f <= layout.last_frame; ++f) {
        const std::string name = layout.images.format(i, f);
        try {
          const auto dims = io::get_image_dimensions(name, io::get_image_format(name));
          if (dims[0] != std::as_const(c).im_width() || dims[1] != std::as_const(c).im_height())
            problems.add(name + " is " + size_text(dims[0], dims[1]) + ", the camera " +
                         size_text(c.im_width(), c.im_height()));
        } catch (const std::exception& e) {
          problems.add(e.what());
        }
      }
      images.push_back(problems.count == 0
                           ? CheckRow{"images", who, Status::ok,
                                      frames + ": " + size_text(c.im_width(), c.im_height())}
                           : CheckRow{"images", who, Status::fault,
                                      problems.first + " (" + std::to_string(problems.count) +
                                          " of the frames)"});
    }
    if (!layout.silhouettes.text().empty()) {
      FrameProblems problems;
      double lo = 1.0, hi = 0.0;
      for (long f = layout.first_frame; f <= layout.last_frame; ++f) {
        const std::string name = layout.silhouettes.format(i, f);
        try {
          const ImageGray<unsigned char> sil = read_gray(name);
          check_image_size(name, sil.width(), sil.height(), c);
          const unsigned char* p = sil.channel(0).data();
          const std::size_t n = sil.width() * sil.height();
          const double share = double(std::count_if(p, p + n, [](unsigned char v) {
                                 return v >= kForeground;
                               })) / double(n);
          lo = std::min(lo, share), hi = std::max(hi, share);
          if (share == 0.0) problems.add(name + " is empty (no pixel of 128 or more)");
          if (share == 1.0) problems.add(name + " is full (no background pixel)");
        } catch (const std::exception& e) {
          problems.add(e.what());
        }
      }
      silhouettes.push_back(
          problems.count == 0
              ? CheckRow{"silhouettes", who, Status::ok,
                         frames + ": foreground " + number(100.0 * lo, "%.1f") + "% to " +
                             number(100.0 * hi, "%.1f") + "% of the image"}
              : CheckRow{"silhouettes", who, Status::fault,
                         problems.first + " (" + std::to_string(problems.count) + " of the frames)"});
    }
  }
  if (layout.has_box) {
    std::vector<int> seen(8, 0);
    for (int i = 0; i < layout.cameras; ++i) {
      if (!cams[i]) continue;
      const Camera& c = *cams[i];
      int outside = 0, behind = 0;
      for (int k = 0; k < 8; ++k) {
        const Point3D corner = box_corner(layout.box_min, layout.box_max, k);
        if (!(multiview::point_depth(corner, c) > 0.0)) {
          ++behind;
          continue;
        }
        Point2D uv;
        multiview::world_to_image_undistorted(corner, c, uv);
        // The pixel rule of sculptor's projection test: truncation toward zero.
        const double x = std::trunc(uv.x), y = std::trunc(uv.y);
        if (x >= 0.0 && y >= 0.0 && x < double(c.im_width()) && y < double(c.im_height()))
          ++seen[k];
        else
          ++outside;
      }
      const std::string who = "camera " + std::to_string(i);
      if (behind > 0)
        box.push_back({"box", who, Status::warning,
                       std::to_string(behind) + " of the 8 box corners lie behind the camera"});
      else if (outside > 0)
        box.push_back({"box", who, Status::warning,
                       std::to_string(outside) + " of the 8 box corners project outside the image"});
      else
        box.push_back({"box", who, Status::ok, "the box projects inside the image"});
    }
    for (int k = 0; k < 8; ++k) {
      const Point3D p = box_corner(layout.box_min, layout.box_max, k);
      const std::string where = "(" + shortest(p.x) + ", " + shortest(p.y) + ", " + shortest(p.z) + ")";
      const std::string text = where + " is seen by " + std::to_string(seen[k]) + " camera" +
                               (seen[k] == 1 ? "" : "s");
      if (seen[k] < layout.min_cameras)
        corners.push_back({"box corner", "corner " + std::to_string(k), Status::fault,
                           text + ", fewer than " + std::to_string(layout.min_cameras)});
      else
        corners.push_back({"box corner", "corner " + std::to_string(k), Status::ok, text});
    }
  }
  std::vector<CheckRow> rows;
  for (auto* part : {&calib, &distortion, &images, &silhouettes, &box, &corners})
    rows.insert(rows.end(), part->begin(), part->end());
  return rows;
}

std::string status_name(Status status) {
  return status == Status::ok ? "ok" : status == Status::warning ? "WARNING" : "FAULT";
}

long count_status(const std::vector<CheckRow>& rows, Status status) {
  return long(std::count_if(rows.begin(), rows.end(),
                            [&](const CheckRow& r) { return r.status == status; }));
}

std::string format_table(const std::vector<CheckRow>& rows) {
  std::size_t w0 = 5, w1 = 7, w2 = 6;
  for (const CheckRow& r : rows)
    w0 = std::max(w0, r.check.size()), w1 = std::max(w1, r.subject.size()),
    w2 = std::max(w2, status_name(r.status).size());
  const auto line = [&](const std::string& a, const std::string& b, const std::string& c,
                        const std::string& d) {
    return a + std::string(w0 - a.size() + 2, ' ') + b + std::string(w1 - b.size() + 2, ' ') + c +
           std::string(w2 - c.size() + 2, ' ') + d + "\n";
  };
  std::string out = line("check", "subject", "result", "detail");
  for (const CheckRow& r : rows) out += line(r.check, r.subject, status_name(r.status), r.detail);
  return out;
}

}  // namespace tervik::capture
