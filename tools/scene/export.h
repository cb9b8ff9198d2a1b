#pragma once
// Export of a generated scene's cameras in the calibration layouts of other tools, so that the
// import of real captures can be tried, and tested, on a scene with known geometry.
//
// Pixel conventions: the scene's own camera files put the centre of pixel i at i + 0.5, as the
// COLMAP model and the projection-matrix list do; the OpenCV files and the Middlebury list put
// pixel centres at integers, so their principal point is half a pixel smaller.
#include <string>
#include <vector>

#include "tools/scene/scene.h"

namespace tervik::scene {

enum class ExportFormat {
  colmap,       // <folder>/colmap/cameras.txt, images.txt, points3D.txt (text model)
  opencv_yaml,  // <folder>/opencv/cam<i>.yml, OpenCV FileStorage YAML
  opencv_xml,   // <folder>/opencv/cam<i>.xml, OpenCV FileStorage XML
  middlebury,   // <folder>/scene_par.txt: count, then name K R t per camera
  projections,  // <folder>/projections.txt: one 3 x 4 projection matrix per line
};

// "colmap", "opencv-yaml", "opencv-xml", "middlebury" or "projections".
std::string export_format_name(ExportFormat format);
// The format named by `name`; throws TervikError naming the text and the accepted names.
ExportFormat parse_export_format(const std::string& name);

// Writes the cameras of the scene in `format` inside scene.folder and returns the files written.
// Images are named by the scene's first frame (as in the image template). The Middlebury and
// projection layouts hold no lens distortion: exporting a distorted scene to them throws
// TervikError. Throws TervikFileNotFound when a file cannot be created.
std::vector<std::string> export_cameras(const GeneratedScene& scene, ExportFormat format);

}  // namespace tervik::scene
