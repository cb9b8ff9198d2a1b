#include "sculptor/sequence.h"

#include <exception>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "common/patch.h"
#include "sculptor/expansion.h"
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

namespace {

// Writes the points of frame `frame` to `file` on up to `threads` threads, with the messages of
// the frame loop.
void write_frame_points(const std::string& file, std::int64_t frame,
                        const std::vector<Patch>& points, io::PlyFormat format,
                        unsigned threads) {
  try {
    run_stage("writing the points of frame " + std::to_string(frame),
              [&] { write_file_normal_color(file, points, format, threads); });
  } catch (const BacktracedTervikException& e) {
    throw TervikError("cannot write the points of frame " + std::to_string(frame) + " to '" +
                      file + "': " + e.what());
  }
}

// A frame's point file written on a thread of its own, from a copy of the points, while the
// frame loop goes on.
class PendingWrite {
 public:
  PendingWrite() = default;
  PendingWrite(const PendingWrite&) = delete;
  PendingWrite& operator=(const PendingWrite&) = delete;
  ~PendingWrite() {
    if (thread_.joinable()) thread_.join();
  }

  // Starts writing `points` as frame `frame`'s file `file` (after the write under way, if any,
  // has been finished).
  void start(const std::string& file, std::int64_t frame, const std::vector<Patch>& points,
             io::PlyFormat format) {
    finish();
    points_ = points;
    try {
      thread_ = std::thread([this, file, frame, format] {
        try {
          write_frame_points(file, frame, points_, format, 1);
        } catch (...) {
          error_ = std::current_exception();
        }
      });
    } catch (const std::system_error&) {
      write_frame_points(file, frame, points_, format, 1);  // no thread to spare
    }
  }

  // Waits for the write under way, if any, and throws its error.
  void finish() {
    if (thread_.joinable()) thread_.join();
    if (std::exception_ptr error = std::exchange(error_, nullptr)) std::rethrow_exception(error);
  }

 private:
  std::vector<Patch> points_;
  std::thread thread_;
  std::exception_ptr error_;
};

}  // namespace

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
  const io::PlyFormat format =
      options.binary_output ? io::PlyFormat::binary_little_endian : io::PlyFormat::ascii;

  // With more than one thread, while a frame's silhouettes are read and sampled, the previous
  // frame's points are written and this frame's colour images (which only the colouring reads)
  // are read, each on a thread of its own. The frame's lines are held back until both are done,
  // so that the lines, warnings and errors come out as when everything runs in turn: an error
  // of the write before any line of the frame, then "Frame <f>" and the reading's warnings (up
  // to its error), then the sampling's lines.
  const bool behind = params.threads > 1;
  PendingWrite pending;
  std::vector<Patch> surface;  // the current frame's points; the previous surface of the next
  std::vector<Point3D> seeds;
  PostprocessWork work;
  // The point buffers and the samplers' storage keep their capacity from frame to frame, so that
  // a tracked frame writes into pages the previous frame touched. The surface gets its room from
  // the first sampling; the scratch buffer, which becomes the next frame's output, gets the same.
  SamplingBuffers sampling;
  work.scratch.reserve(sampling_capacity(options.npoints));
  for (std::int64_t f = options.first_frame; f <= options.last_frame; ++f) {
    const std::string of_frame = " of frame " + std::to_string(f);
    const bool first = f == options.first_frame;
    std::ostringstream head, held_progress, held_timing;
    std::ostream& head_out = behind ? head : progress;
    head_out << "Frame " << f << std::endl;
    std::optional<FrameReading> reading;
    std::optional<FrameTimer> timer;
    bool loaded = false;
    std::exception_ptr error;
    try {
      run_stage("loading the images" + of_frame, [&] {
        reading.emplace(views, options.fgtemplate, options.imtemplate, f, params.threads, behind);
        if (!behind || !reading->silhouettes_read()) reading->finish(head_out);
      });
      loaded = true;
      timer.emplace(params.threads > 1);
      run_stage("sampling the surface" + of_frame, [&] {
        sample_frame(views, params, first, surface, work.scratch, seeds, *timer,
                     behind ? held_progress : progress, behind ? held_timing : timing, &sampling);
      });
    } catch (...) {
      if (!behind) throw;
      error = std::current_exception();
    }
    if (behind) {
      pending.finish();
      if (loaded) {
        try {
          run_stage("loading the images" + of_frame, [&] { reading->finish(head); });
        } catch (...) {
          progress << head.str() << std::flush;
          throw;
        }
      }
      progress << head.str() << held_progress.str() << std::flush;
      timing << held_timing.str() << std::flush;
      if (error) std::rethrow_exception(error);
    }
    reading.reset();
    if (surface.empty()) throw TervikError(no_points_message(options, f, first));

    // ---- Post-processing of the frame ----
    run_stage("post-processing and colouring" + of_frame, [&] {
      postprocess_frame(views.colour, params, *timer, surface, work, progress, timing);
    });

    const std::string out_file = options.outtemplate.format(f);
    if (behind && f < options.last_frame) {
      pending.start(out_file, f, surface, format);
    } else {
      write_frame_points(out_file, f, surface, format, params.threads);
    }
  }
}

}  // namespace tervik
