// The checks of a capture folder.
#include "tools/capture/check_capture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

#include "tervik/multiview.h"
#include "tervik/readimage.h"
#include "tervik/exceptions.h"
#include "tools/capture/find_box.h"
#include "tools/capture/make_masks.h"
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

HullCoverage hull_coverage(const std::vector<Camera>& cameras,
                           const std::vector<ImageGray<unsigned char>>& silhouettes,
                           const Point3D& lo, const Point3D& hi, int cells, int min_cameras) {
  std::vector<ForegroundCounts> counts;
  for (const auto& s : silhouettes) counts.emplace_back(s);
  const Point3D extent = hi - lo;
  const double longest = std::max({extent.x, extent.y, extent.z});
  long n[3];
  Point3D step;
  double size = 0.0;
  for (int k = 0; k < 3; ++k) {
    n[k] = std::max(1L, std::lround(extent[k] / longest * cells));
    step[k] = extent[k] / double(n[k]);
    size = std::max(size, step[k]);
  }
  // Per voxel: 0 carved or unseen, 1 hull seen by enough cameras, 2 hull seen by too few.
  std::vector<unsigned char> state(std::size_t(n[0] * n[1] * n[2]), 0);
  std::vector<int> seen_by(state.size(), 0);
  HullCoverage out;
  out.fewest = int(cameras.size()) + 1;
  long i[3];
  for (i[2] = 0; i[2] < n[2]; ++i[2])
    for (i[1] = 0; i[1] < n[1]; ++i[1])
      for (i[0] = 0; i[0] < n[0]; ++i[0]) {
        const Point3D centre = lo + Point3D((double(i[0]) + 0.5) * step.x,
                                            (double(i[1]) + 0.5) * step.y,
                                            (double(i[2]) + 0.5) * step.z);
        const VoxelView v = view_voxel(cameras, counts, centre, size);
        if (v.carved || v.seen == 0) continue;
        const long index = (i[2] * n[1] + i[1]) * n[0] + i[0];
        state[index] = v.seen >= min_cameras ? 1 : 2;
        seen_by[index] = v.seen;
        ++out.voxels;
        if (v.seen < min_cameras) ++out.under_seen;
        // Only a voxel whose centre lies on foreground in every camera counts as reaching a
        // face: the other voxels of the boundary layer are kept because they overlap the hull.
        if (v.seen < min_cameras || v.centre_foreground < v.seen) continue;
        for (int k = 0; k < 3; ++k) {
          if (i[k] == 0) out.faces[k] = true;
          if (i[k] == n[k] - 1) out.faces[k + 3] = true;
        }
      }
  // Voxels that too few cameras see matter where they touch the well-seen hull: there the
  // object may go on where sculptor cannot sample it. Apart from it they are the cones of single
  // cameras' silhouettes in a box larger than needed.
  for (i[2] = 0; i[2] < n[2]; ++i[2])
    for (i[1] = 0; i[1] < n[1]; ++i[1])
      for (i[0] = 0; i[0] < n[0]; ++i[0]) {
        const long index = (i[2] * n[1] + i[1]) * n[0] + i[0];
        if (state[index] != 2) continue;
        bool touches = false;
        for (int k = 0; k < 3 && !touches; ++k)
          for (long d : {-1L, 1L}) {
            long j[3] = {i[0], i[1], i[2]};
            j[k] += d;
            if (j[k] < 0 || j[k] >= n[k]) continue;
            touches = touches || state[std::size_t((j[2] * n[1] + j[1]) * n[0] + j[0])] == 1;
          }
        if (!touches) continue;
        ++out.under_seen_at_hull;
        if (seen_by[index] < out.fewest)
          out.fewest = seen_by[index],
          out.fewest_at = lo + Point3D((double(i[0]) + 0.5) * step.x, (double(i[1]) + 0.5) * step.y,
                                       (double(i[2]) + 0.5) * step.z);
      }
  if (out.under_seen_at_hull == 0) {  // the fewest cameras that see the well-seen hull
    out.fewest = int(cameras.size()) + 1;
    for (std::size_t k = 0; k < state.size(); ++k)
      if (state[k] == 1) out.fewest = std::min(out.fewest, seen_by[k]);
  }
  if (out.voxels == out.under_seen) out.fewest = 0;
  return out;
}

Specks count_specks(const ImageGray<unsigned char>& silhouette, long max_area) {
  Specks out;
  for (long a : hole_areas(silhouette))
    if (a >= 0 && a <= max_area) ++out.holes;
  const std::vector<long> blobs = blob_areas(silhouette);
  const auto largest = std::max_element(blobs.begin(), blobs.end());
  for (auto it = blobs.begin(); it != blobs.end(); ++it)
    if (it != largest && *it <= max_area) ++out.blobs;
  return out;
}

namespace {

// The frames whose hull is checked: all of a short range, else kHullFrames spread evenly.
std::vector<long> hull_frames(long first, long last) {
  std::vector<long> out;
  const long count = last - first + 1;
  if (count <= kHullFrames) {
    for (long f = first; f <= last; ++f) out.push_back(f);
    return out;
  }
  for (long k = 0; k < kHullFrames; ++k) out.push_back(first + k * (count - 1) / (kHullFrames - 1));
  return out;
}

std::string point_text(const Point3D& p) {
  return "(" + number(p.x) + ", " + number(p.y) + ", " + number(p.z) + ")";
}

// The hull rows of one frame, or the reason why its hull cannot be carved.
void check_hull(const CaptureLayout& layout, const std::vector<std::optional<Camera>>& cams,
                long frame, std::vector<CheckRow>& rows) {
  const std::string who = "frame " + std::to_string(frame);
  std::vector<Camera> cameras;
  std::vector<ImageGray<unsigned char>> sils;
  for (int i = 0; i < layout.cameras; ++i) {
    if (!cams[i]) {
      rows.push_back({"hull", who, Status::fault,
                      "not carved: the calibration of camera " + std::to_string(layout.number(i)) + " does not read"});
      return;
    }
    try {
      sils.push_back(read_gray(layout.silhouettes.format(layout.number(i), frame), *cams[i],
                               "camera " + std::to_string(layout.number(i))));
    } catch (const std::exception& e) {
      rows.push_back({"hull", who, Status::fault, std::string("not carved: ") + e.what()});
      return;
    }
    cameras.push_back(*cams[i]);
  }
  const HullCoverage hull = hull_coverage(cameras, sils, layout.box_min, layout.box_max,
                                          kHullCells, layout.min_cameras);
  if (hull.voxels == 0) {
    rows.push_back({"hull", who, Status::fault,
                    "no voxel of the box is foreground in every camera that sees it: the object "
                    "is not in the box, or the silhouettes or calibrations are wrong"});
    return;
  }
  const long well_seen = hull.voxels - hull.under_seen;
  if (well_seen == 0)
    rows.push_back({"hull", who, Status::fault,
                    "no voxel of the hull is seen by " + std::to_string(layout.min_cameras) +
                        " cameras: sculptor samples no point in this box"});
  else if (hull.under_seen_at_hull > 0)
    rows.push_back({"hull", who, Status::fault,
                    std::to_string(hull.under_seen_at_hull) + " voxels next to the hull's " +
                        std::to_string(well_seen) + " are foreground but seen by fewer than " +
                        std::to_string(layout.min_cameras) + " cameras (" +
                        std::to_string(hull.fewest) + " at " + point_text(hull.fewest_at) +
                        "): the object may go on where sculptor samples no point"});
  else
    rows.push_back({"hull", who, Status::ok,
                    std::to_string(well_seen) + " voxels, each seen by " +
                        std::to_string(hull.fewest) + " cameras or more" +
                        (hull.under_seen > 0 ? " (apart from them " + std::to_string(hull.under_seen) +
                                                   " that few cameras see: the box is larger than needed)"
                                             : std::string())});
  static const char* face_names[6] = {"xmin", "ymin", "zmin", "xmax", "ymax", "zmax"};
  std::string faces;
  for (int k = 0; k < 6; ++k)
    if (hull.faces[k]) faces += (faces.empty() ? "" : ", ") + std::string(face_names[k]);
  if (!faces.empty())
    rows.push_back({"hull", who, Status::warning,
                    "the hull reaches the box at " + faces +
                        ": the object may be cut there (find_box gives a box around the hull)"});
}

}  // namespace

std::vector<CheckRow> check_capture(const CaptureLayout& layout) {
  std::vector<CheckRow> calib, distortion, images, silhouettes, specks, box, corners, hull;
  std::vector<std::optional<Camera>> cams(std::size_t(layout.cameras));
  const std::string frames = frames_text(layout.first_frame, layout.last_frame);
  const auto missing_text = [&](long f, const std::string& what) {
    return what + (f < layout.last_frame
                       ? "; frames " + std::to_string(f) + "-" + std::to_string(layout.last_frame) +
                             " are not checked"
                       : std::string());
  };
  for (int i = 0; i < layout.cameras; ++i) {
    const std::string who = "camera " + std::to_string(layout.number(i));
    const std::string file = layout.calibration.format(layout.number(i));
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
        const std::string name = layout.images.format(layout.number(i), f);
        try {
          const auto dims = io::get_image_dimensions(name, io::get_image_format(name));
          if (dims[0] != std::as_const(c).im_width() || dims[1] != std::as_const(c).im_height())
            problems.add(name + " is " + size_text(dims[0], dims[1]) + ", the camera " +
                         size_text(c.im_width(), c.im_height()));
        } catch (const TervikFileNotFound& e) {
          // The first missing frame ends the camera's frames: a mistyped last frame must not
          // make the check try every number up to it.
          problems.add(missing_text(f, e.what()));
          break;
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
      FrameProblems problems, ambiguous, speckled;
      double lo = 1.0, hi = 0.0;
      for (long f = layout.first_frame; f <= layout.last_frame; ++f) {
        const std::string name = layout.silhouettes.format(layout.number(i), f);
        try {
          const ImageGray<unsigned char> sil = read_gray(name, c, who);
          const unsigned char* p = sil.channel(0).data();
          const std::size_t n = sil.width() * sil.height();
          const std::size_t fg = std::size_t(std::count_if(p, p + n, [](unsigned char v) {
            return v >= kForeground;
          }));
          const std::size_t seed_fg = std::size_t(std::count_if(p, p + n, [](unsigned char v) {
            return v >= kSeedForeground;
          }));
          const double share = double(fg) / double(n);
          lo = std::min(lo, share), hi = std::max(hi, share);
          if (share == 0.0) problems.add(name + " is empty (no pixel of 128 or more)");
          if (share == 1.0) problems.add(name + " is full (no background pixel)");
          if (fg > 0 && seed_fg == 0)
            problems.add(name + ": its foreground is 128, which sculptor's seeding reads as "
                         "background (no seed can be found): write foreground as 255");
          else if (fg > seed_fg)
            ambiguous.add("frame " + std::to_string(f) + ": " + std::to_string(fg - seed_fg) +
                          " pixels of " + name + " are 128, foreground to sculptor's projection "
                          "test but background to its seeding: write foreground as 255");
          const Specks sp = count_specks(sil, layout.speck_area);
          if (sp.holes + sp.blobs > 0)
            speckled.add("frame " + std::to_string(f) + ": " + name + " has " +
                         std::to_string(sp.holes) + (sp.holes == 1 ? " small hole and " : " small holes and ") +
                         std::to_string(sp.blobs) + (sp.blobs == 1 ? " stray blob" : " stray blobs") +
                         " of at most " + std::to_string(layout.speck_area) +
                         " pixels (make_masks --max-hole-area " +
                         std::to_string(layout.speck_area) + " --min-blob-area " +
                         std::to_string(layout.speck_area + 1) + " removes them)");
        } catch (const TervikFileNotFound& e) {
          problems.add(missing_text(f, e.what()));
          break;
        } catch (const std::exception& e) {
          problems.add(e.what());
        }
      }
      if (problems.count > 0)
        silhouettes.push_back({"silhouettes", who, Status::fault,
                               problems.first + " (" + std::to_string(problems.count) +
                                   " of the frames)"});
      if (ambiguous.count > 0)
        silhouettes.push_back({"silhouettes", who, Status::warning,
                               ambiguous.first + " (" + std::to_string(ambiguous.count) +
                                   " of the frames)"});
      if (problems.count == 0 && ambiguous.count == 0)
        silhouettes.push_back({"silhouettes", who, Status::ok,
                               frames + ": foreground " + number(100.0 * lo, "%.1f") + "% to " +
                                   number(100.0 * hi, "%.1f") + "% of the image"});
      if (speckled.count > 0)
        specks.push_back({"specks", who, Status::warning,
                          speckled.first + " (" + std::to_string(speckled.count) +
                              " of the frames)"});
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
      const std::string who = "camera " + std::to_string(layout.number(i));
      if (behind > 0)
        box.push_back({"box", who, Status::warning,
                       std::to_string(behind) + " of the 8 box corners lie behind the camera"});
      else if (outside > 0)
        box.push_back({"box", who, Status::warning,
                       std::to_string(outside) + " of the 8 box corners project outside the image"});
      else
        box.push_back({"box", who, Status::ok, "the box projects inside the image"});
    }
    // A corner of the box is empty space as a rule: one that few cameras see only warns. What
    // sculptor needs, every voxel of the hull seen by enough cameras, is the hull check.
    for (int k = 0; k < 8; ++k) {
      const Point3D p = box_corner(layout.box_min, layout.box_max, k);
      const std::string where = "(" + shortest(p.x) + ", " + shortest(p.y) + ", " + shortest(p.z) + ")";
      const std::string text = where + " is seen by " + std::to_string(seen[k]) + " camera" +
                               (seen[k] == 1 ? "" : "s");
      if (seen[k] < layout.min_cameras)
        corners.push_back({"box corner", "corner " + std::to_string(k), Status::warning,
                           text + ", fewer than " + std::to_string(layout.min_cameras)});
      else
        corners.push_back({"box corner", "corner " + std::to_string(k), Status::ok, text});
    }
    if (!layout.silhouettes.text().empty())
      for (long f : hull_frames(layout.first_frame, layout.last_frame))
        check_hull(layout, cams, f, hull);
  }
  std::vector<CheckRow> rows;
  for (auto* part : {&calib, &distortion, &images, &silhouettes, &specks, &box, &corners, &hull})
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
