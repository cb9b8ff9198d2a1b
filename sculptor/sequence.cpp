#include "sculptor/sequence.h"

#include <exception>
#include <optional>
#include <ostream>
#include <sstream>
#include <vector>

#include "common/patch.h"
#include "sculptor/frame_postprocess.h"
#include "sculptor/frame_sampling.h"
#include "sculptor/loading.h"
#include "sculptor/resources.h"
#include "tervik/exceptions.h"

namespace tervik {

std::string no_points_message(const Options& options, std::int64_t frame, bool first) {
  std::ostringstream os;
  const Point3D& a = options.box_min;
  const Point3D& b = options.box_max;
  os << "frame " << frame << " yields no surface point. Check that the box from (" << a.x << ", "
     << a.y << ", " << a.z << ") to (" << b.x << ", " << b.y << ", " << b.z
     << ") holds the object, that its silhouettes show the object as foreground (values above 128) "
        "in at least "
     << kMinCameras << " cameras, and that the calibration files match the images";
  if (!first)
    os << "; or the object moved more than " << options.motion_radius
       << " (8 sampling lengths) since the previous frame";
  return os.str();
}

StageParameters stage_parameters(const Options& options, unsigned threads) {
  StageParameters params;
  params.box_min = options.box_min;
  params.box_max = options.box_max;
  params.step = options.step;
  params.npoints = options.npoints;
  params.min_cameras = kMinCameras;
  params.tolerance = kTolerance;
  params.motion_radius = options.motion_radius;
  params.threads = threads < 1 ? 1 : threads;
  return params;
}

void run_sequence(const Options& options, unsigned threads, std::ostream& progress,
                  std::ostream& timing) {
  const StageParameters params = stage_parameters(options, threads);
  ViewSets views;
  run_stage("loading the cameras",
            [&] { views = load_cameras(options.numcams, options.camtemplate, progress); });
  // Refuse a run that cannot fit before any frame is sampled.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> sizes;
  for (const auto& view : views.colour)
    sizes.emplace_back(view.get<0>().im_width(), view.get<0>().im_height());
  check_run_memory(options.npoints, sizes, memory_limit_bytes());

  std::vector<Patch> surface;  // the current frame's points; the previous surface of the next
  std::vector<Point3D> seeds;
  PostprocessWork work;
  for (std::int64_t f = options.first_frame; f <= options.last_frame; ++f) {
    progress << "Frame " << f << std::endl;
    const std::string out_file = options.outtemplate.format(f);
    const std::string of_frame = " of frame " + std::to_string(f);
    // With more than one thread the colour images, which only the colouring reads, are read
    // while the silhouettes are sampled. The sampling's lines are then held back until the
    // images are read, so that the warnings and errors of the reading come first, as they do
    // when the images are read before the sampling.
    const bool behind = params.threads > 1;
    std::optional<FrameReading> reading;
    run_stage("loading the images" + of_frame, [&] {
      reading.emplace(views, options.fgtemplate, options.imtemplate, f, params.threads, behind);
      if (!behind || !reading->silhouettes_read()) reading->finish(progress);
    });
    const bool first = f == options.first_frame;
    const FrameTimer timer(params.threads > 1);
    std::ostringstream held_progress, held_timing;
    std::exception_ptr sampling_error;
    try {
      run_stage("sampling the surface" + of_frame, [&] {
        sample_frame(views, params, first, surface, work.scratch, seeds, timer,
                     behind ? held_progress : progress, behind ? held_timing : timing);
      });
    } catch (...) {
      if (!behind) throw;
      sampling_error = std::current_exception();
    }
    if (behind) {
      run_stage("loading the images" + of_frame, [&] { reading->finish(progress); });
      progress << held_progress.str() << std::flush;
      timing << held_timing.str() << std::flush;
      if (sampling_error) std::rethrow_exception(sampling_error);
    }
    reading.reset();
    if (surface.empty()) throw TervikError(no_points_message(options, f, first));

    // ---- Post-processing of the frame ----
    run_stage("post-processing and colouring" + of_frame, [&] {
      postprocess_frame(views.colour, params, timer, surface, work, progress, timing);
    });

    try {
      run_stage("writing the points" + of_frame, [&] {
        write_file_normal_color(out_file, surface,
                                options.binary_output ? io::PlyFormat::binary_little_endian
                                                      : io::PlyFormat::ascii,
                                params.threads);
      });
    } catch (const BacktracedTervikException& e) {
      throw TervikError("cannot write the points of frame " + std::to_string(f) + " to '" +
                        out_file + "': " + e.what());
    }
  }
}

}  // namespace tervik
