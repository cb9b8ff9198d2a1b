// find_box: the box that holds the object, from the cameras and silhouettes of a frame range;
// prints the box and the sculptor command line that uses it.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

#include <boost/program_options.hpp>

#include "tools/common/tool_options.h"
#include "tools/common/capture_files.h"
#include "tools/capture/find_box.h"

namespace po = boost::program_options;
using namespace tervik;
using namespace tervik::capture;

namespace {

// The box corner values, each in the shortest form that reads back exactly (padded_box gives
// values that are short decimals).
std::string box_text(const Point3D& lo, const Point3D& hi) {
  std::string out;
  for (double v : {lo.x, lo.y, lo.z, hi.x, hi.y, hi.z}) {
    if (!out.empty()) out += ' ';
    out += shortest(v == 0.0 ? 0.0 : v);  // no "-0"
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int cameras = 0;
  std::string ids_text;
  CameraSelection sel;
  long first = 0, last = -1, points = 10000;
  std::string cam_text, sil_text, img_text, out_text;
  FindBoxOptions o;
  po::options_description desc(
      "Usage: find_box --cameras N|--camera-ids LIST --calibration TEMPLATE --silhouettes TEMPLATE [options]\n"
      "Carves a coarse voxel hull of the silhouettes of a frame range over the region that the\n"
      "cameras see, pads it, and prints the box and a sculptor command line. Warns, naming the\n"
      "camera, when a silhouette touches the image border: the hull is cut there.\n\nOptions");
  desc.add_options()
      ("help,h", "show this help")
      ("version", "print the version and exit")
      ("cameras", po::value(&cameras), "number of cameras (template numbers 0 to N-1)")
      ("camera-ids", po::value(&ids_text),
       "the cameras' numbers in the templates, in order, e.g. 1-16 or 0-4,6-19")
      ("calibration", po::value(&cam_text)->required(),
       "calibration file template, receives the camera number (e.g. cam%ld.txt)")
      ("silhouettes", po::value(&sil_text)->required(),
       "silhouette template, receives the camera and frame numbers (e.g. sil%ld_%04ld.png)")
      ("first-frame", po::value(&first)->default_value(0), "first frame")
      ("last-frame", po::value(&last)->default_value(-1, "first frame"), "last frame")
      ("images", po::value(&img_text),
       "colour image template for the printed sculptor command (without it the command shows "
       "the placeholder <IMAGE-TEMPLATE>)")
      ("output", po::value(&out_text)->default_value("points_%04ld.ply"),
       "point file template for the printed sculptor command")
      ("points", po::value(&points)->default_value(points), "points per frame for sculptor")
      ("min-cameras", po::value(&o.min_cameras)->default_value(o.min_cameras, "5, or all if fewer"),
       "cameras that must see a voxel for it to count")
      ("resolution", po::value(&o.resolution)->default_value(o.resolution),
       "voxels along the longest axis of the fine grid, 8 to 1024")
      ("pad", po::value(&o.pad)->default_value(o.pad),
       "padding on each side, as a share of the hull's extent on that axis");
  tervik::tools::add_quiet_option(desc);
  bool quiet = false;
  NameTemplate camtemplate, siltemplate;
  if (const auto status = tervik::tools::parse_tool_options(
          "find_box", argc, argv, {.options = &desc},
          [&](const po::variables_map& vm) {
            if (last < 0) last = first;
            sel = select_cameras(vm.count("cameras") ? (cameras < 1 ? -1 : cameras) : 0, ids_text);
            cameras = sel.count;
            if (vm["min-cameras"].defaulted()) o.min_cameras = std::min(o.min_cameras, cameras);
            if (first < 0 || last < first) throw TervikError("the frame range must satisfy 0 <= first <= last");
            if (last - first >= kMaxFrames)
              throw TervikError("the frame range " + std::to_string(first) + " to " +
                                std::to_string(last) + " is longer than " +
                                std::to_string(kMaxFrames) + " frames");
            if (o.min_cameras < 1 || o.min_cameras > cameras)
              throw TervikError("--min-cameras must be 1 to the number of cameras (" +
                                std::to_string(cameras) + ")");
            if (o.resolution < 8 || o.resolution > 1024) throw TervikError("--resolution must be 8 to 1024");
            if (!(o.pad >= 0.0 && o.pad <= 1.0)) throw TervikError("--pad must be 0 to 1");
            camtemplate = NameTemplate(cam_text, 1, "calibration template");
            siltemplate = NameTemplate(sil_text, 2, "silhouette template");
            quiet = vm.count("quiet") > 0;
          }))
    return *status;
  try {
    std::ostream& progress = tervik::tools::progress_output(quiet);
    const std::vector<Camera> cams = read_cameras(camtemplate, sel);
    HullBounds all;
    long touches = 0;
    for (long f = first; f <= last; ++f) {
      std::vector<ImageGray<unsigned char>> sils;
      for (int i = 0; i < cameras; ++i) {
        const std::string file = siltemplate.format(sel.number(i), f);
        sils.push_back(read_gray(file, cams[i], sel.label(i)));
        const std::string sides = touched_borders(sils.back());
        if (!sides.empty()) {
          ++touches;
          std::cout << "WARNING: " << sel.label(i) << ", frame " << f
                    << ": the silhouette touches the image border (" << sides << ") in " << file
                    << "; the hull is cut there" << std::endl;
        }
      }
      const HullBounds hull = frame_hull(cams, sils, o);
      if (hull.empty)
        throw TervikError("frame " + std::to_string(f) + ": no voxel is foreground in every camera "
                          "that sees it (with at least " + std::to_string(o.min_cameras) +
                          " cameras seeing it); check the silhouettes and calibrations");
      progress << "Frame " << f << ": hull from (" << hull.lo.x << ", " << hull.lo.y << ", "
               << hull.lo.z << ") to (" << hull.hi.x << ", " << hull.hi.y << ", " << hull.hi.z
               << "), voxels of " << hull.voxel_size << std::endl;
      all = merge(all, hull);
    }
    Point3D lo, hi;
    padded_box(all, o.pad, lo, hi);
    const std::string box = box_text(lo, hi);
    std::cout << "Box (xmin ymin zmin xmax ymax zmax): " << box << std::endl;
    if (touches > 0)
      std::cout << "WARNING: " << touches << " silhouette(s) touch the image border; the box may "
                << "be cut where they do" << std::endl;
    progress << "Reconstruct it with"
             << (img_text.empty() ? " (put your colour image template, --images, in place of "
                                    "<IMAGE-TEMPLATE>):"
                                  : ":")
             << std::endl;
    progress << "sculptor " << (sel.ids.empty() ? "" : "--camera-ids " + shell_quote(ids_text) + " ")
             << cameras << " " << shell_quote(cam_text) << " "
             << (img_text.empty() ? std::string("<IMAGE-TEMPLATE>") : shell_quote(img_text)) << " " << shell_quote(sil_text) << " "
             << shell_quote(out_text) << " " << first << " " << last << " " << box << " "
             << points << std::endl;
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
