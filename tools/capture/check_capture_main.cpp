// check_capture: validates a capture folder before a long run; prints a table and exits
// non-zero when any check finds a fault.
#include <cmath>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "tervik/exceptions.h"
#include "tools/common/tool_options.h"
#include "tools/capture/check_capture.h"
#include "tools/common/capture_files.h"

namespace po = boost::program_options;
using namespace tervik;
using namespace tervik::capture;

int main(int argc, char** argv) {
  CaptureLayout layout;
  std::string cam_text, img_text, sil_text, ids_text;
  std::vector<double> box;
  po::options_description desc(
      "Usage: check_capture --cameras N|--camera-ids LIST --calibration TEMPLATE [options]\n"
      "Checks a capture before a long run: every calibration reads and its P agrees with\n"
      "K [R | t]; lens distortion is small enough to use the images as read; images and\n"
      "silhouettes have their camera's size; silhouettes are neither empty nor full and use\n"
      "255, not 128, for foreground; small holes and stray blobs in them are counted; with\n"
      "--box and --silhouettes, every voxel of the hull carved from the silhouettes inside the\n"
      "box is seen by --min-cameras cameras (up to 10 frames of the range are carved). Box\n"
      "corners outside the views only warn. The first missing frame of a camera ends its checks.\n"
      "Prints a table; exits with 1 when a check finds a FAULT (WARNINGs do not fail).\n\nOptions");
  desc.add_options()
      ("help", "show this help")
      ("version", "print the version and exit")
      ("cameras", po::value(&layout.cameras), "number of cameras (template numbers 0 to N-1)")
      ("camera-ids", po::value(&ids_text),
       "the cameras' numbers in the templates, in order, e.g. 1-16 or 0-4,6-19")
      ("calibration", po::value(&cam_text)->required(),
       "calibration file template, receives the camera number (e.g. cam%ld.txt)")
      ("images", po::value(&img_text), "colour image template (camera, frame)")
      ("silhouettes", po::value(&sil_text), "silhouette template (camera, frame)")
      ("first-frame", po::value(&layout.first_frame)->default_value(0), "first frame")
      ("last-frame", po::value(&layout.last_frame)->default_value(-1, "first frame"), "last frame")
      ("box", po::value(&box)->multitoken(), "xmin ymin zmin xmax ymax zmax, as given to sculptor")
      ("min-cameras", po::value(&layout.min_cameras)->default_value(layout.min_cameras),
       "cameras that must see every voxel of the hull (sculptor's minimum is 5)")
      ("speck-area", po::value(&layout.speck_area)->default_value(layout.speck_area),
       "silhouette holes and stray foreground blobs of at most this many pixels are counted");
  tervik::tools::add_quiet_option(desc);
  bool quiet = false;
  // No short options, so that the negative numbers of --box are not taken for options.
  if (const auto status = tervik::tools::parse_tool_options(
          "check_capture", argc, argv, {.options = &desc, .allow_short = false},
          [&](const po::variables_map& vm) {
            quiet = vm.count("quiet") > 0;
            if (layout.last_frame < 0) layout.last_frame = layout.first_frame;
            const CameraSelection sel = select_cameras(
                vm.count("cameras") ? (layout.cameras < 1 ? -1 : layout.cameras) : 0, ids_text);
            layout.cameras = sel.count;
            layout.ids = sel.ids;
            if (layout.first_frame < 0 || layout.last_frame < layout.first_frame)
              throw TervikError("the frame range must satisfy 0 <= first <= last");
            if (layout.last_frame - layout.first_frame >= kMaxFrames)
              throw TervikError("the frame range " + std::to_string(layout.first_frame) + " to " +
                                std::to_string(layout.last_frame) + " is longer than " +
                                std::to_string(kMaxFrames) + " frames");
            if (layout.min_cameras < 1) throw TervikError("--min-cameras must be at least 1");
            if (layout.speck_area < 0) throw TervikError("--speck-area must not be negative");
            if (vm.count("box")) {
              if (box.size() != 6) throw TervikError("--box needs 6 numbers: xmin ymin zmin xmax ymax zmax");
              layout.has_box = true;
              layout.box_min = Point3D(box[0], box[1], box[2]);
              layout.box_max = Point3D(box[3], box[4], box[5]);
              for (double v : box)
                if (!std::isfinite(v)) throw TervikError("--box: every number must be finite");
              if (!(layout.box_min.x < layout.box_max.x && layout.box_min.y < layout.box_max.y &&
                    layout.box_min.z < layout.box_max.z))
                throw TervikError("--box: every minimum must be below its maximum (an inverted "
                                  "or empty box)");
            }
            layout.calibration = NameTemplate(cam_text, 1, "calibration template");
            if (!img_text.empty()) layout.images = NameTemplate(img_text, 2, "image template");
            if (!sil_text.empty()) layout.silhouettes = NameTemplate(sil_text, 2, "silhouette template");
          }))
    return *status;
  try {
    const std::vector<CheckRow> rows = check_capture(layout);
    // --quiet leaves out the checks that passed.
    std::vector<CheckRow> shown;
    for (const CheckRow& r : rows)
      if (!quiet || r.status != Status::ok) shown.push_back(r);
    if (!shown.empty()) std::cout << format_table(shown);
    const long faults = count_status(rows, Status::fault);
    const long warnings = count_status(rows, Status::warning);
    std::cout << faults << (faults == 1 ? " fault, " : " faults, ") << warnings
              << (warnings == 1 ? " warning" : " warnings") << std::endl;
    return faults > 0 ? 1 : 0;
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
}
