// Generation of synthetic scenes on disk.
#include <cstdio>
#include <exception>
#include <filesystem>
#include <thread>

#include "tervik/exceptions.h"
#include "tervik/writeimage.h"
#include "tools/scene/scene.h"

namespace tervik::scene {
namespace {

std::string format_name(const std::string& pattern, long a, long b, int args) {
  char buf[4096];
  const int n = args == 1 ? std::snprintf(buf, sizeof buf, pattern.c_str(), a)
                          : std::snprintf(buf, sizeof buf, pattern.c_str(), a, b);
  TERVIK_CHECK(n >= 0 && n < int(sizeof buf), "file name too long for template " << pattern);
  return buf;
}

// Renders and writes the silhouette and colour images of the jobs assigned to one thread.
void render_jobs(const GeneratedScene& scene, int thread, int threads,
                 std::exception_ptr& error) {
  try {
    const GroundTruth& truth = scene.truth;
    const long nframes = truth.last_frame - truth.first_frame + 1;
    const long jobs = nframes * long(truth.cameras.size());
    for (long job = thread; job < jobs; job += threads) {
      const long frame = truth.first_frame + job / long(truth.cameras.size());
      const long cam = job % long(truth.cameras.size());
      ImageGray<unsigned char> sil;
      ImageRGB<unsigned char> rgb;
      render_view(truth.solid(frame), truth.cameras[cam], truth.pattern, sil, rgb);
      io::write_png(format_name(scene.silhouette_template, cam, frame, 2), sil);
      io::write_png(format_name(scene.image_template, cam, frame, 2), rgb);
    }
  } catch (...) {
    error = std::current_exception();
  }
}

}  // namespace

GeneratedScene generate_scene(const std::string& folder, const SceneOptions& options) {
  if (folder.find('%') != std::string::npos)
    throw TervikError("scene folder '" + folder +
                      "' must not contain '%' (it becomes part of printf templates)");
  GeneratedScene scene;
  scene.truth = build_scene(options);
  const std::string dir = folder.empty() ? std::string(".") : folder;
  std::filesystem::create_directories(dir);
  scene.folder = dir;
  scene.camera_template = dir + "/cam%ld.txt";
  scene.image_template = dir + "/img%ld_%04ld.png";
  scene.silhouette_template = dir + "/sil%ld_%04ld.png";
  scene.output_template = dir + "/points_%04ld.ply";
  scene.ground_truth_file = dir + "/ground_truth.txt";
  scene.cameras = options.cameras;
  scene.first_frame = scene.truth.first_frame;
  scene.last_frame = scene.truth.last_frame;
  scene.box_min = scene.truth.box_min;
  scene.box_max = scene.truth.box_max;
  scene.points = options.points;

  for (std::size_t i = 0; i < scene.truth.cameras.size(); ++i)
    to_camera(scene.truth.cameras[i])
        .write_parameters(format_name(scene.camera_template, long(i), 0, 1));
  write_ground_truth(scene.ground_truth_file, scene.truth);

  // Every job writes its own two files from its own inputs, so the bytes do not depend on
  // the number of threads.
  const int threads = options.threads;
  std::vector<std::exception_ptr> errors(threads);
  std::vector<std::thread> pool;
  for (int t = 1; t < threads; ++t)
    pool.emplace_back(render_jobs, std::cref(scene), t, threads, std::ref(errors[t]));
  render_jobs(scene, 0, threads, errors[0]);
  for (auto& th : pool) th.join();
  for (auto& e : errors)
    if (e) std::rethrow_exception(e);
  return scene;
}

}  // namespace tervik::scene
