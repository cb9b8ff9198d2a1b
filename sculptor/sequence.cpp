#include "sculptor/sequence.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <exception>
#include <functional>
#include <new>
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
#include "sculptor/run_files.h"
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
  params.normal_radius = options.normal_radius;
  params.colour_all = options.colour_all;
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

// With two threads or more, the work that can run beside the sampling of a frame: the rest of
// the previous frame's smoothing and its colouring, then its point file, then the frame's colour
// images (after the colouring, which reads the previous frame's images that the reading
// replaces; last, because the reading is shared out per camera, so that a sampling that ends
// first can help), on a thread of its own. The sampling reads only the positions of the previous
// frame's first points, which are smoothed before it; the rest of the smoothing writes only the
// other points, the colouring only colours.
class FrameBehind {
 public:
  FrameBehind() = default;
  FrameBehind(const FrameBehind&) = delete;
  FrameBehind& operator=(const FrameBehind&) = delete;
  ~FrameBehind() {
    if (thread_.joinable()) thread_.join();
  }

  // Runs colour() (the smoothing's rest and the colouring), write(1),
  // reading->read_colour_images(threads) and then prepare() (the steps that are given) on a
  // thread of its own, or here when no thread can be started. A colouring that fails ends the
  // work: nothing is written, read or prepared after it. write(n) writes on up to n threads.
  void start(std::function<void()> colour, FrameReading* reading,
             std::function<void(unsigned)> write, unsigned threads,
             std::function<void()> prepare = {}) {
    started_ = true;
    threads_ = threads;
    colour_ = std::move(colour);
    reading_ = reading;
    write_ = std::move(write);
    prepare_ = std::move(prepare);
    try {
      thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
      run();  // no thread to spare
    }
  }

  bool started() const { return started_; }

  // Waits for the colouring, writes the file on up to `threads` threads when the thread has not
  // yet begun it (rather than wait for it), reads the colour images not yet taken beside the
  // thread; then waits for the thread.
  void finish(unsigned threads) {
    if (thread_.joinable()) {
      coloured_.wait(false);
      if (!colour_error_) {
        write_once(threads);
        if (reading_ != nullptr) reading_->read_colour_images();
      }
      thread_.join();
    }
  }

  // After finish(): the errors of the colouring and of the write, and the colouring's wall time.
  std::exception_ptr colour_error() const { return colour_error_; }
  std::exception_ptr write_error() const { return write_error_; }
  double colour_seconds() const { return colour_seconds_; }

 private:
  void run() {
    if (colour_) {
      const auto start = std::chrono::steady_clock::now();
      try {
        colour_();
      } catch (...) {
        colour_error_ = std::current_exception();
      }
      colour_seconds_ =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    coloured_ = true;
    coloured_.notify_all();
    if (colour_error_) return;
    write_once(1);
    if (reading_ != nullptr) reading_->read_colour_images(threads_);
    if (prepare_) prepare_();
  }

  // The write, by the first thread that comes to it.
  void write_once(unsigned threads) {
    if (!write_ || write_taken_.exchange(true)) return;
    try {
      write_(threads);
    } catch (...) {
      write_error_ = std::current_exception();
    }
  }

  bool started_ = false;
  unsigned threads_ = 1;  // for reading the colour images
  std::function<void()> colour_;
  std::function<void(unsigned)> write_;
  std::function<void()> prepare_;
  FrameReading* reading_ = nullptr;
  std::thread thread_;
  std::atomic<bool> coloured_{false};
  std::atomic<bool> write_taken_{false};
  std::exception_ptr colour_error_, write_error_;
  double colour_seconds_ = 0;
};

}  // namespace

RunSummary run_sequence(const Options& options, unsigned threads, std::ostream& progress,
                        std::ostream& timing) {
  const StageParameters params = stage_parameters(options, threads);
  check_run_files(options);
  RunSummary summary;
  ViewSets views;
  run_stage("loading the cameras", [&] {
    views = load_cameras(options.numcams, options.camtemplate, progress, options.camera_ids);
  });
  // Refuse a run that cannot fit before any frame is sampled.
  std::vector<std::pair<std::uint64_t, std::uint64_t>> sizes;
  for (const auto& view : views.colour)
    sizes.emplace_back(view.get<0>().im_width(), view.get<0>().im_height());
  check_run_memory(options.npoints, sizes, memory_limit_bytes());
  const io::PlyFormat format =
      options.binary_output ? io::PlyFormat::binary_little_endian : io::PlyFormat::ascii;

  // With more than one thread, while a frame's silhouettes are read and sampled, the previous
  // frame's smoothing is finished, the frame coloured and written and this frame's colour
  // images are read, on a thread of their own (FrameBehind). The frame's lines are held back
  // until that is done, so that the lines, warnings and errors come out as when everything runs
  // in turn: the previous frame's smoothing lines and time, its colouring time (or its error),
  // an error of its write, then "Frame <f>" and the reading's warnings (up to its error), then
  // the sampling's lines. The last frame is filtered, coloured and written in turn, on every
  // thread.
  const bool behind = params.threads > 1;
  const unsigned colour_threads = params.threads > 1 ? params.threads - 1 : 1;
  std::vector<Patch> surface;   // the current frame's points
  std::vector<Patch> previous;  // with threads behind: the previous frame's points, not coloured
                                // and, beyond the first, not yet smoothed
  bool previous_pending = false;  // whether `previous` waits for its colours and file
  std::int64_t previous_frame = 0;
  double previous_filtered = 0;  // the previous frame's time up to filter_first()'s end
  // With threads behind, a frame's smoothing ends beside the next frame's sampling: only the
  // points that the sampling starts from are smoothed before it (filter_first), the others
  // before the colouring (filter_rest).
  FilterParts parts;
  const std::size_t keep = static_cast<std::size_t>(
      std::max<long long>(0, SamplingTargets::from_npoints(options.npoints).starts));
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
    FrameBehind later;
    std::function<void()> colour_previous;
    std::function<void(unsigned)> write_previous;
    // In the first frame the thread behind only reads the colour images, which takes less time
    // than the sampling; it then gives the filtering's two point buffers their pages, which the
    // filtering would otherwise fault in on the sampling's thread. Neither buffer is read or
    // written by the first frame's sampling (it starts from seeds and fills `surface`), and the
    // thread is joined before the filtering. Their contents do not matter: the filtering
    // writes every point of both. A failed allocation leaves them as they were, for the
    // filtering to report.
    std::function<void()> prepare;
    if (behind && first) {
      prepare = [&] {
        const auto points = static_cast<std::size_t>(std::max<long long>(0, options.npoints));
        try {
          work.scratch.resize(points);
          previous.resize(points);
        } catch (const std::bad_alloc&) {
        }
      };
    }
    std::ostringstream filter_lines;  // the previous frame's filtering lines, written behind
    double rest_seconds = 0;          // the wall time of its filtering behind
    bool filtered = false;            // whether that filtering ended
    if (previous_pending) {
      colour_previous = [&] {
        run_stage("post-processing and colouring of frame " + std::to_string(previous_frame),
                  [&] {
                    const auto start = std::chrono::steady_clock::now();
                    filter_rest(colour_threads, previous, work, parts, filter_lines);
                    rest_seconds = std::chrono::duration<double>(
                                       std::chrono::steady_clock::now() - start)
                                       .count();
                    filtered = true;
                    colour_frame(views.colour, params, colour_threads, previous, work);
                  });
      };
      write_previous = [&](unsigned write_threads) {
        write_frame_points(options.outtemplate.format(previous_frame), previous_frame,
                           previous, format, write_threads);
      };
    }
    bool loaded = false;
    std::exception_ptr error;
    try {
      run_stage("loading the images" + of_frame, [&] {
        // The coarse silhouettes serve the first frame's seeds alone.
        reading.emplace(views, options.fgtemplate, options.imtemplate, f, params.threads,
                        behind ? ColourImages::on_request : ColourImages::with_silhouettes,
                        first);
        if (!behind) reading->finish(head_out);
      });
      loaded = true;
      if (behind) later.start(colour_previous, &*reading, write_previous, colour_threads, prepare);
      if (reading->silhouettes_read()) {
        timer.emplace(params.threads > 1, f);
        run_stage("sampling the surface" + of_frame, [&] {
          std::vector<Patch>& out = behind ? surface : work.scratch;
          sample_frame(views, params, first, behind ? previous : surface, out, seeds, *timer,
                       behind ? held_progress : progress, behind ? held_timing : timing,
                       &sampling);
          if (!behind) {
            surface.swap(work.scratch);  // the tracked points replace the previous ones
            work.scratch.clear();
          }
        });
      }
    } catch (...) {
      if (!behind) throw;
      error = std::current_exception();
    }
    if (behind) {
      // The previous frame is coloured and written even when this frame could not be read.
      if (!later.started()) later.start(colour_previous, nullptr, write_previous, colour_threads);
      later.finish(params.threads);
      if (previous_pending) {
        progress << filter_lines.str();
        if (filtered) {
          FrameTimer::print(timing, "Points and post-filtering: ",
                            previous_filtered + rest_seconds, previous_frame);
          progress << "coloring..." << std::endl;
        }
        if (later.colour_error()) std::rethrow_exception(later.colour_error());
        FrameTimer::print(timing, "Points and post-filtering and coloring: ",
                          previous_filtered + later.colour_seconds(), previous_frame);
        if (later.write_error()) std::rethrow_exception(later.write_error());
        previous_pending = false;
      }
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
    ++summary.frames;
    summary.points += static_cast<long long>(surface.size());

    // ---- Post-processing of the frame ----
    const std::string out_file = options.outtemplate.format(f);
    if (behind && f < options.last_frame) {
      // Coloured and written while the next frame is sampled.
      run_stage("post-processing and colouring" + of_frame, [&] {
        filter_first(params, keep, surface, previous, work, parts, progress);
      });
      previous_filtered = timer->seconds();
      previous_pending = true;
      previous_frame = f;
    } else {
      run_stage("post-processing and colouring" + of_frame, [&] {
        postprocess_frame(views.colour, params, *timer, surface, work, progress, timing);
      });
      write_frame_points(out_file, f, surface, format, params.threads);
    }
  }
  return summary;
}

}  // namespace tervik
