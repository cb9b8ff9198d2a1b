// make_masks: writes one silhouette PNG per camera and frame, from the images' alpha channel,
// a grey or colour threshold, or the difference to a per-camera background plate.
#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include <boost/program_options.hpp>

#include "tervik/exceptions.h"
#include "tervik/readimage.h"
#include "tervik/writeimage.h"
#include "tools/common/tool_options.h"
#include "tools/common/capture_files.h"
#include "tools/capture/make_masks.h"

namespace po = boost::program_options;
using namespace tervik;
using namespace tervik::capture;

namespace {

// "R,G,B" with each value 0 to 255.
Coord3D<unsigned char> parse_color(const std::string& text) {
  int c[3];
  char end;
  if (std::sscanf(text.c_str(), "%d,%d,%d%c", &c[0], &c[1], &c[2], &end) != 3 || c[0] < 0 ||
      c[0] > 255 || c[1] < 0 || c[1] > 255 || c[2] < 0 || c[2] > 255)
    throw TervikError("--key '" + text + "' is not a colour R,G,B with values 0 to 255");
  return {static_cast<unsigned char>(c[0]), static_cast<unsigned char>(c[1]),
          static_cast<unsigned char>(c[2])};
}

}  // namespace

int main(int argc, char** argv) {
  int cameras = 0, threshold = -1;
  std::string ids_text;
  CameraSelection sel;
  long first = 0, last = -1;
  std::string in_text, out_text, source = "grey", key_text, plate_text;
  double tolerance = 60.0;
  bool invert = false;
  Cleanup cleanup;
  po::options_description desc(
      "Usage: make_masks --cameras N|--camera-ids LIST --input TEMPLATE --output TEMPLATE [options]\n"
      "Writes one silhouette PNG (255 foreground, 0 background) per camera and frame. The\n"
      "templates receive the camera and the frame number (e.g. img%ld_%04ld.png).\n\n"
      "Sources (--from):\n"
      "  alpha       foreground where the PNG's alpha (RGBA or grey+alpha) is at least the threshold\n"
      "  grey        foreground where the grey value is at least the threshold (--invert: below)\n"
      "  colour      foreground where the colour is farther than --tolerance from --key\n"
      "  background  foreground where a channel differs from the camera's background plate\n"
      "              (--background TEMPLATE, receives the camera number) by at least the threshold\n"
      "Clean-up, in this order: --open R, --close R (squares of 2 R + 1 pixels),\n"
      "--max-hole-area N, --fill-holes, --min-blob-area N, --keep-largest K.\n"
      "No output may name an input: the run is refused before anything is written.\n\n"
      "Options");
  desc.add_options()
      ("help,h", "show this help")
      ("version", "print the version and exit")
      ("cameras", po::value(&cameras), "number of cameras (template numbers 0 to N-1)")
      ("camera-ids", po::value(&ids_text),
       "the cameras' numbers in the templates, in order, e.g. 1-16 or 0-4,6-19")
      ("input", po::value(&in_text)->required(), "image template (camera, frame)")
      ("output", po::value(&out_text)->required(), "silhouette PNG template (camera, frame)")
      ("first-frame", po::value(&first)->default_value(0), "first frame")
      ("last-frame", po::value(&last)->default_value(-1, "first frame"), "last frame")
      ("from", po::value(&source)->default_value(source), "alpha, grey, colour or background")
      ("threshold", po::value(&threshold)->default_value(-1, "128; background: 30"),
       "level 0 to 255 (alpha, grey, background difference)")
      ("invert", po::bool_switch(&invert), "grey: foreground below the threshold")
      ("key", po::value(&key_text), "colour: the background colour R,G,B")
      ("tolerance", po::value(&tolerance)->default_value(tolerance),
       "colour: distance in 8-bit RGB within which a pixel is background")
      ("background", po::value(&plate_text), "background: plate template (camera number)")
      ("open", po::value(&cleanup.open)->default_value(0), "opening radius in pixels")
      ("close", po::value(&cleanup.close)->default_value(0), "closing radius in pixels")
      ("fill-holes", po::bool_switch(&cleanup.fill), "fill background regions enclosed by foreground")
      ("max-hole-area", po::value(&cleanup.max_hole_area)->default_value(0),
       "fill enclosed background holes of at most N pixels; larger holes stay")
      ("min-blob-area", po::value(&cleanup.min_blob_area)->default_value(0),
       "drop foreground pieces of fewer than N pixels")
      ("keep-largest", po::value(&cleanup.keep_largest)->default_value(0),
       "keep only the K largest foreground pieces");
  tervik::tools::add_quiet_option(desc);
  bool quiet = false;
  NameTemplate intemplate, outtemplate, platetemplate;
  Coord3D<unsigned char> key;
  if (const auto status = tervik::tools::parse_tool_options(
          "make_masks", argc, argv, {.options = &desc},
          [&](const po::variables_map& vm) {
            quiet = vm.count("quiet") > 0;
            if (!vm["threshold"].defaulted() && (threshold < 0 || threshold > 255))
              throw TervikError("--threshold must be 0 to 255, not " + std::to_string(threshold));
            if (!(tolerance >= 0.0 && tolerance <= 1000.0))
              throw TervikError("--tolerance must be a distance of 0 to 1000, not " +
                                shortest(tolerance));
            if (cleanup.max_hole_area < 0 || cleanup.min_blob_area < 0 || cleanup.keep_largest < 0)
              throw TervikError("--max-hole-area, --min-blob-area and --keep-largest must not be negative");
            if (last < 0) last = first;
            sel = select_cameras(vm.count("cameras") ? (cameras < 1 ? -1 : cameras) : 0, ids_text);
            cameras = sel.count;
            if (first < 0 || last < first) throw TervikError("the frame range must satisfy 0 <= first <= last");
            if (last - first >= kMaxFrames)
              throw TervikError("the frame range " + std::to_string(first) + " to " +
                                std::to_string(last) + " is longer than " +
                                std::to_string(kMaxFrames) + " frames");
            if (source == "color") source = "colour";
            if (source == "gray") source = "grey";
            if (source != "alpha" && source != "grey" && source != "colour" && source != "background")
              throw TervikError("--from '" + source + "' is not alpha, grey, colour or background");
            if (threshold < 0) threshold = source == "background" ? 30 : 128;
            if (threshold > 255) throw TervikError("--threshold must be 0 to 255");
            if (source == "colour") {
              if (key_text.empty()) throw TervikError("--from colour needs --key R,G,B");
              key = parse_color(key_text);
            }
            if (source == "background" && plate_text.empty())
              throw TervikError("--from background needs --background TEMPLATE");
            if (cleanup.open < 0 || cleanup.close < 0 || cleanup.open > 1000 || cleanup.close > 1000)
              throw TervikError("--open and --close must be 0 to 1000");
            intemplate = NameTemplate(in_text, 2, "input template");
            outtemplate = NameTemplate(out_text, 2, "output template");
            if (!plate_text.empty()) platetemplate = NameTemplate(plate_text, 2, "background template");
            // An output name that does not change from camera to camera, or from frame to frame
            // over several frames, would write every mask over the one before.
            if (cameras > 1 && outtemplate.conversions() < 1)
              throw TervikError("the output template '" + out_text +
                                "' has no conversion for the camera number, but " +
                                std::to_string(cameras) +
                                " cameras are processed: every mask would overwrite the one before");
            if (last > first && outtemplate.conversions() < 2)
              throw TervikError("the output template '" + out_text +
                                "' has no conversion for the frame number (the second value), but "
                                "frames " + std::to_string(first) + " to " + std::to_string(last) +
                                " are processed: every frame would overwrite the masks of the one before");
          }))
    return *status;
  try {
    // Every input is known before anything is written, so that no output replaces one (and a
    // missing input stops the run before it has written anything).
    InputFiles inputs;
    if (source == "background")
      for (int i = 0; i < cameras; ++i) inputs.add(platetemplate.format(sel.number(i)));
    for (long f = first; f <= last; ++f)
      for (int i = 0; i < cameras; ++i) {
        const std::string in = intemplate.format(sel.number(i), f);
        try {
          io::ReadImage check(in);  // throws, naming the file, when it is missing or unreadable
        } catch (const TervikFileNotFound& e) {
          if (sel.ids.empty()) throw;
          throw TervikError(std::string(e.what()) + " (" + sel.label(i) + ", frame " +
                            std::to_string(f) + ")");
        }
        inputs.add(in);
      }
    for (long f = first; f <= last; ++f)
      for (int i = 0; i < cameras; ++i) inputs.check_output(outtemplate.format(sel.number(i), f));
    std::vector<ImageRGB<unsigned char>> plates;
    if (source == "background")
      for (int i = 0; i < cameras; ++i) plates.push_back(read_rgb(platetemplate.format(sel.number(i))));
    double lowest = 1.0, highest = 0.0;
    for (long f = first; f <= last; ++f) {
      double lo = 1.0, hi = 0.0;
      for (int i = 0; i < cameras; ++i) {
        const std::string in = intemplate.format(sel.number(i), f),
                          out = outtemplate.format(sel.number(i), f);
        ImageGray<unsigned char> mask;
        try {
          if (source == "alpha")
            mask = mask_from_alpha(read_png_rgba(in), threshold);
          else if (source == "grey")
            mask = mask_from_gray(read_gray(in), threshold, invert);
          else if (source == "colour")
            mask = mask_from_key(read_rgb(in), key, tolerance);
          else
            mask = mask_from_difference(read_rgb(in), plates[i], threshold);
        } catch (const TervikError& e) {  // the mask functions do not know the file
          throw TervikFileError(in, e.what());
        }
        mask = clean(mask, cleanup);
        io::write_png(out, mask);
        const double share = foreground_share(mask);
        lo = std::min(lo, share), hi = std::max(hi, share);
        if (share == 0.0 || share == 1.0)
          std::cout << "WARNING: " << sel.label(i) << ", frame " << f << ": the mask " << out << " is "
                    << (share == 0.0 ? "empty" : "full") << std::endl;
      }
      char line[128];
      std::snprintf(line, sizeof line, ": %d masks, foreground %.1f%% to %.1f%% of the image",
                    cameras, 100.0 * lo, 100.0 * hi);
      tervik::tools::progress_output(quiet) << "Frame " << f << line << std::endl;
      lowest = std::min(lowest, lo), highest = std::max(highest, hi);
    }
    char line[160];
    std::snprintf(line, sizeof line, "Wrote %ld masks, frames %ld to %ld: foreground %.1f%% to %.1f%% of the image",
                  long(cameras) * (last - first + 1), first, last, 100.0 * lowest, 100.0 * highest);
    std::cout << line << std::endl;
  } catch (const std::exception& e) {
    std::cout << "ERROR: " << e.what() << std::endl;
    return 1;
  }
  return 0;
}
