#pragma once
// Undistortion of a capture: the images and silhouettes of cameras with lens distortion are
// resampled to the ideal pinhole images that sculptor expects (it projects without distortion),
// and distortion-free camera files are written beside them.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "sculptor/options.h"
#include "tervik/camera.h"

namespace tervik::capture {

// What to undistort. Image and silhouette templates receive the camera number and the frame
// number, the camera template the camera number, as sculptor's templates do.
struct UndistortOptions {
  std::int64_t cameras = 0;
  NameTemplate camera_template;
  std::optional<NameTemplate> image_template;       // colour images, resampled bilinearly
  std::optional<NameTemplate> silhouette_template;  // silhouettes, nearest pixel (stay binary)
  std::int64_t first_frame = 0, last_frame = 0;
  std::string output_folder;
};

// The camera with its distortion set to zero: the camera of its undistorted images.
Camera without_distortion(const Camera& c);

// The output name of an input file: its file name (the extension replaced by ".png" for images)
// inside `folder`.
std::string output_name(const std::string& folder, const std::string& input, bool image);

// Reads every camera file, writes its distortion-free file into the output folder, and
// resamples every listed image and silhouette of every frame into PNG files there. Progress
// and a note on each camera's distortion go to `log`. Throws the readers' and writers'
// exceptions, TervikFileError naming an image whose size differs from its camera's, and
// TervikError for an output that would replace its own input.
void undistort_capture(const UndistortOptions& options, std::ostream& log);

}  // namespace tervik::capture
