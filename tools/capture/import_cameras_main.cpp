// import_cameras: converts camera calibrations written by other tools (projection matrices,
// Middlebury K R t lists, COLMAP text models, OpenCV FileStorage files, hand-written K,
// distortion and [R|t] lists) into the camera files that sculptor reads.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include <boost/program_options.hpp>

#include "common/camera_ids.h"
#include "sculptor/options.h"
#include "tools/common/tool_options.h"
#include "tools/capture/import/camera_import.h"

namespace po = boost::program_options;
using namespace tervik;
using namespace tervik::calibration;

namespace {

// "WIDTHxHEIGHT" into two positive numbers; throws naming the text otherwise.
void parse_size(const std::string& text, long& width, long& height) {
  char x = 0;
  char rest = 0;
  if (std::sscanf(text.c_str(), "%ld%c%ld%c", &width, &x, &height, &rest) != 3 || x != 'x' ||
      width < 1 || height < 1)
    throw std::runtime_error("--image-size takes WIDTHxHEIGHT, e.g. 1024x768, not '" + text + "'");
}

}  // namespace

int main(int argc, char** argv) {
  std::string format, output, size, centres, camera_ids_text;
  std::vector<int> camera_ids;
  std::vector<std::string> inputs;
  ImportOptions options;
  po::options_description desc(
      "Usage: import_cameras --format FORMAT [options] INPUT...\n"
      "Writes one camera file per camera (cam0.txt, cam1.txt, ... by default) from the\n"
      "calibration of another tool. FORMAT and its INPUT:\n"
      "  projections  files of 3 x 4 projection matrices, 12 numbers per line (one camera per\n"
      "               line) or per file (one camera per file); needs --image-size\n"
      "  middlebury   one list: the count, then 'name k11..k33 r11..r33 t1 t2 t3' per camera;\n"
      "               the image size comes from the named images or --image-size\n"
      "  colmap       a folder holding a COLMAP text model (cameras.txt, images.txt); one\n"
      "               camera per image, by image id\n"
      "  opencv       OpenCV FileStorage files (.yml, .yaml, .xml), one camera per file\n"
      "  krt          files of K (3 x 3), 0, 2, 4 or 5 distortion terms (k1 k2 p1 p2 k3) and\n"
      "               [R|t] (3 x 4) or R and t per camera, each camera optionally after an\n"
      "               index line; labels and brackets are skipped; needs --image-size\n"
      "Pixel centres: a camera file centres pixel i at i + 0.5, as COLMAP and the projection\n"
      "lists do by default; OpenCV and Middlebury centre it at i, so their principal point\n"
      "moves by half a pixel, and so does krt's K (--pixel-centers overrides the format's\n"
      "convention). Inputs and outputs must be different files.\n\nOptions");
  desc.add_options()
      ("help,h", "show this help")
      ("version", "print the version and exit")
      ("format,f", po::value(&format), "projections, middlebury, colmap, opencv or krt")
      ("output,o", po::value(&output)->default_value("cam%d.txt"),
       "camera file template, receiving the camera number from 0 (or from --camera-ids)")
      ("image-size", po::value(&size), "WIDTHxHEIGHT of the images, where the input lacks it")
      ("pixel-centers", po::value(&centres),
       "half (pixel i centred at i + 0.5) or integer (at i), instead of the format's own")
      ("ignore-extra-distortion", po::bool_switch(&options.ignore_extra_distortion),
       "drop OpenCV distortion terms beyond k1 k2 p1 p2 and print the error this makes at the "
       "image corners, instead of refusing the file")
      ("camera-ids", po::value(&camera_ids_text),
       "LIST of camera numbers for the output template, in the order of the imported cameras "
       "(e.g. 1-16 or 0-4,6-19); its length must equal the number of cameras")
      ("input", po::value(&inputs), "input files or folder");
  tervik::tools::add_quiet_option(desc);
  bool quiet = false;
  po::positional_options_description positional;
  positional.add("input", -1);
  NameTemplate name;
  if (const auto status = tervik::tools::parse_tool_options(
          "import_cameras", argc, argv, {.options = &desc, .positional = &positional},
          [&](const po::variables_map& vm) {
            quiet = vm.count("quiet") > 0;
            if (format.empty()) throw std::runtime_error("no --format given");
            if (inputs.empty()) throw std::runtime_error("no input given");
            if (!size.empty()) parse_size(size, options.width, options.height);
            if (!camera_ids_text.empty()) camera_ids = parse_camera_ids(camera_ids_text);
            if (!centres.empty()) options.centres = parse_pixel_centres(centres);
            name = NameTemplate(output, 1, "output template");
            if (name.conversions() != 1)
              throw std::runtime_error("the output template '" + output +
                                       "' needs one conversion such as %d for the camera number");
            if ((format == "colmap" || format == "middlebury") && inputs.size() != 1)
              throw std::runtime_error("the " + format + " format takes one input, not " +
                                       std::to_string(inputs.size()));
            if (format != "projections" && format != "middlebury" && format != "colmap" &&
                format != "opencv" && format != "krt")
              throw std::runtime_error(
                  "unknown format '" + format +
                  "' (expected projections, middlebury, colmap, opencv or krt)");
          }))
    return *status;
  try {
    ImportResult result;
    if (format == "projections") result = import_projections(inputs, options);
    if (format == "middlebury") result = import_middlebury(inputs[0], options);
    if (format == "colmap") result = import_colmap(inputs[0], options);
    if (format == "opencv") result = import_opencv(inputs, options);
    if (format == "krt") result = import_krt(inputs, options);
    for (const std::string& w : result.warnings) std::cout << "WARNING: " << w << std::endl;
    // Every output is named and checked against the inputs before the first is written.
    std::vector<std::string> files, read = inputs;
    if (format == "colmap") {
      read = {(std::filesystem::path(inputs[0]) / "cameras.txt").string(),
              (std::filesystem::path(inputs[0]) / "images.txt").string()};
    }
    if (!camera_ids.empty() && camera_ids.size() != result.cameras.size())
      throw std::runtime_error("the calibration holds " + std::to_string(result.cameras.size()) +
                               " cameras but --camera-ids lists " +
                               std::to_string(camera_ids.size()));
    for (std::size_t i = 0; i < result.cameras.size(); ++i)
      files.push_back(name.format(camera_ids.empty() ? static_cast<std::int64_t>(i)
                                                     : camera_ids[i]));
    check_outputs(read, files);
    for (std::size_t i = 0; i < result.cameras.size(); ++i) {
      const std::string& file = files[i];
      const std::filesystem::path folder = std::filesystem::path(file).parent_path();
      if (!folder.empty()) std::filesystem::create_directories(folder);
      const Camera& c = result.cameras[i].camera;
      c.write_parameters(file);
      tervik::tools::progress_output(quiet) << file << ": " << c.im_width() << "x"
                                            << c.im_height() << " from "
                                            << result.cameras[i].source << std::endl;
    }
    std::cout << "Wrote " << result.cameras.size() << " camera files" << std::endl;
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
