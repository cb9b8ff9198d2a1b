#pragma once
// Undistortion of a capture: the images and silhouettes of cameras with lens distortion are
// resampled to the ideal pinhole images that sculptor expects (it projects without distortion),
// and distortion-free camera files are written beside them.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "sculptor/options.h"
#include "tervik/camera.h"

namespace tervik::capture {

// What to undistort. Image and silhouette templates receive the camera number and the frame
// number, the camera template the camera number, as sculptor's templates do.
struct UndistortOptions {
  std::int64_t cameras = 0;
  // The template numbers of the cameras, in order (--camera-ids); empty: 0 .. cameras-1.
  std::vector<int> camera_ids;
  NameTemplate camera_template;
  std::optional<NameTemplate> image_template;       // colour images, resampled bilinearly
  std::optional<NameTemplate> silhouette_template;  // silhouettes, nearest pixel (stay binary)
  std::int64_t first_frame = 0, last_frame = 0;
  std::string output_folder;
};

// The camera with its distortion set to zero: the camera of its undistorted images.
Camera without_distortion(const Camera& c);

// The output name of an input name or template: inside `folder`, its file name, or, when a
// folder of its path holds a conversion (per-camera folders such as "cam%d/img_%04d.jpg"),
// its path from that folder on; for images the extension becomes ".png".
std::string output_name(const std::string& folder, const std::string& input, bool image);

// The output templates of a run, as sculptor takes them. Images and silhouettes whose output
// names would be equal (images/v%d_%04d.png and masks/v%d_%04d.png) go to the sub-folders
// "images" and "silhouettes" of the output folder.
struct UndistortOutputs {
  std::string camera_template, image_template, silhouette_template;  // "" when not asked for
};
UndistortOutputs output_templates(const UndistortOptions& options);

// Reads every camera file, writes its distortion-free file into the output folder, and
// resamples every listed image and silhouette of every frame into PNG files there, named by
// output_templates. Progress and a note on each camera's distortion go to `log`. Before
// anything is written, throws TervikError naming both when two outputs would be one file;
// throws TervikError for an output that would replace an input, the readers' and writers'
// exceptions, and TervikFileError naming an image whose size differs from its camera's.
void undistort_capture(const UndistortOptions& options, std::ostream& log);

}  // namespace tervik::capture
