#pragma once
// Synthetic multi-camera scenes with ground truth, for tests, demos and scoring.
//
// generate_scene writes, into one folder, everything `sculptor` reads for a sequence (one
// calibration file per camera, one silhouette and one colour PNG per camera and frame) and the
// ground truth file that the scorer reads, and returns the file templates, the box and the
// ready-to-run sculptor arguments. The analytic object of every frame is available from the
// result (GeneratedScene::object) for exact inside tests, distances and normals.
//
// Typical use in a test:
//   tervik::testing::TempDir dir;
//   auto scene = tervik::scene::generate_scene(dir.path().string(), {});
//   run(scene.sculptor_command(TERVIK_BINARY_DIR "/sculptor/sculptor"));
//   const auto& solid = scene.object(scene.first_frame);
//   double d = solid.signed_distance(p);       // < 0 inside, world units
//   Point3D n = solid.outward_normal(p);       // at the surface point nearest to p
//   auto rgb = scene.truth.color_at(q, n);     // pattern colour at surface point q
#include <array>
#include <string>
#include <vector>

#include "tervik/camera.h"
#include "tools/scene/truth.h"

namespace tervik::scene {

// What to generate. The defaults give the standard scene: the moving figure, 8 cameras on a
// ring, 640 x 480 images, frames 0 to 2.
struct SceneOptions {
  ObjectKind object = ObjectKind::figure;
  int cameras = 8;                // 4 to 64
  CameraLayout layout = CameraLayout::ring;
  long width = 640, height = 480;  // image size in pixels, 16 to 8192
  double focal = 0.0;             // focal length in pixels; 0 means 1.25 times the width
  long first_frame = 0;           // >= 0
  long frames = 3;                // number of frames, 1 to 1000
  long points = 10000;            // target number of points on the sculptor command line
  int threads = 1;                // threads that render images; the files do not depend on it
  // Lens distortion k1, k2, p1, p2 of every camera (zero: pinhole). The images are rendered
  // through it and the calibration files carry it; the ground truth file holds the ideal cameras.
  std::array<double, 4> distortion{};
  // Side of the checker pattern's cells in world units; 0: 0.1 (0.125 for the sphere). Small
  // cells (0.02) make a fine texture that per-vertex colours cannot hold.
  double pattern_cell = 0.0;
};

// Checks the options; throws TervikError naming the first bad option and its allowed range.
void validate(const SceneOptions& options);

// The ground truth of a scene, computed in memory without writing anything: the objects of
// all frames, the box that holds them with a margin (rounded outward to multiples of 0.01)
// and cameras that see the whole box, with the options' lens distortion. Throws TervikError
// when that distortion cannot be inverted over the image.
GroundTruth build_scene(const SceneOptions& options);

// A scene written to disk. Templates are printf formats as sculptor takes them: the camera
// template receives the camera index, image and silhouette templates the camera index and the
// frame number, the output template the frame number.
struct GeneratedScene {
  std::string folder;
  std::string camera_template;      // folder + "/cam%ld.txt"
  std::string image_template;       // folder + "/img%ld_%04ld.png"
  std::string silhouette_template;  // folder + "/sil%ld_%04ld.png"
  std::string output_template;      // folder + "/points_%04ld.ply", where sculptor should write
  std::string ground_truth_file;    // folder + "/ground_truth.txt"
  int cameras = 0;
  long first_frame = 0, last_frame = 0;
  Point3D box_min, box_max;
  long points = 0;
  GroundTruth truth;

  // The analytic object of frame f (first_frame <= f <= last_frame).
  const Solid& object(long frame) const { return truth.solid(frame); }
  // The 14 arguments of sculptor, in order: cameras, the four templates, first and last frame,
  // the box minimum and maximum, the number of points.
  std::vector<std::string> sculptor_arguments() const;
  // `program` followed by the arguments, each quoted for a POSIX shell where needed.
  std::string sculptor_command(const std::string& program = "sculptor") const;
};

// Converts a scene camera to the library's calibrated camera, its distortion included.
Camera to_camera(const ViewCamera& cam);

// Generates the scene into `folder` (created if missing; existing files of the same names
// are replaced). Throws TervikError for bad options or a folder name holding '%', and the
// writers' exceptions when a file cannot be written. Same options, same bytes.
GeneratedScene generate_scene(const std::string& folder, const SceneOptions& options);

}  // namespace tervik::scene
