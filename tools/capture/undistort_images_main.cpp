// undistort_images: resamples the colour images (bilinear) and silhouettes (nearest pixel, so
// they stay binary) of cameras with lens distortion to ideal pinhole images, and writes the
// matching distortion-free camera files, for sculptor, which projects without distortion.
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>

#include <boost/program_options.hpp>

#include "tools/common/tool_options.h"
#include "common/camera_ids.h"
#include "tools/capture/undistortion.h"
#include "tools/common/capture_files.h"

namespace po = boost::program_options;
using namespace tervik;
using namespace tervik::capture;

int main(int argc, char** argv) {
  std::int64_t cameras = 0;
  std::string camera_template, images, silhouettes, camera_ids;
  UndistortOptions o;
  po::options_description desc(
      "Usage: undistort_images [options] CAMERAS CAMERA_TEMPLATE OUTPUT_FOLDER\n"
      "Reads the camera files CAMERA_TEMPLATE (printf template receiving the camera number\n"
      "0 .. CAMERAS-1), resamples the images and silhouettes of every frame to the ideal\n"
      "pinhole images and writes them as PNG files, with distortion-free camera files of the\n"
      "same names, into OUTPUT_FOLDER. Image templates receive the camera and frame numbers.\n"
      "Outputs keep the inputs' file names (from the first folder holding a number, for\n"
      "per-camera folders); images and silhouettes of the same names go to the sub-folders\n"
      "images/ and silhouettes/. Outputs that would be one file are refused.\n"
      "\nOptions");
  desc.add_options()
      ("help,h", "show this help")
      ("version", "print the version and exit")
      ("images", po::value(&images), "colour image template (resampled bilinearly)")
      ("silhouettes", po::value(&silhouettes),
       "silhouette template (nearest pixel, so that they stay binary)")
      ("camera-ids", po::value(&camera_ids),
       "LIST of the cameras' numbers in the templates, in order (e.g. 1-16 or 0-4,6-19); "
       "CAMERAS must equal its length")
      ("first-frame", po::value(&o.first_frame)->default_value(0), "first frame number")
      ("last-frame", po::value(&o.last_frame)->default_value(0), "last frame number");
  tervik::tools::add_quiet_option(desc);
  bool quiet = false;
  po::options_description hidden;
  hidden.add_options()
      ("cameras", po::value(&cameras))
      ("camera-template", po::value(&camera_template))
      ("output-folder", po::value(&o.output_folder));
  po::options_description all;
  all.add(desc).add(hidden);
  po::positional_options_description positional;
  positional.add("cameras", 1).add("camera-template", 1).add("output-folder", 1);
  if (const auto status = tervik::tools::parse_tool_options(
          "undistort_images", argc, argv, {.options = &all, .shown = &desc, .positional = &positional},
          [&](const po::variables_map& vm) {
            quiet = vm.count("quiet") > 0;
            if (!vm.count("output-folder"))
              throw std::runtime_error("expected CAMERAS CAMERA_TEMPLATE OUTPUT_FOLDER");
            if (cameras < 1 || cameras > 32767)
              throw std::runtime_error("CAMERAS must be 1 to 32767, not " + std::to_string(cameras));
            if (o.last_frame < o.first_frame || o.first_frame < 0)
              throw std::runtime_error("the frames " + std::to_string(o.first_frame) + " to " +
                                       std::to_string(o.last_frame) + " are not a range from 0 up");
            o.cameras = cameras;
            if (!camera_ids.empty()) {
              o.camera_ids = parse_camera_ids(camera_ids);
              if (o.camera_ids.size() != static_cast<std::size_t>(cameras))
                throw std::runtime_error("CAMERAS is " + std::to_string(cameras) +
                                         " but --camera-ids lists " +
                                         std::to_string(o.camera_ids.size()) + " cameras");
            }
            o.camera_template = NameTemplate(camera_template, 1, "camera template");
            if (!images.empty()) o.image_template = NameTemplate(images, 2, "image template");
            if (!silhouettes.empty())
              o.silhouette_template = NameTemplate(silhouettes, 2, "silhouette template");
          }))
    return *status;
  try {
    undistort_capture(o, tervik::tools::progress_output(quiet));
    const UndistortOutputs names = output_templates(o);
    std::cout << "Undistorted " << cameras << " cameras into " << o.output_folder
              << "; sculptor templates:\n  " << shell_quote(names.camera_template);
    if (o.image_template) std::cout << " " << shell_quote(names.image_template);
    if (o.silhouette_template) std::cout << " " << shell_quote(names.silhouette_template);
    std::cout << std::endl;
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
