#pragma once
// The shared machinery of the surface samplers: the admissible-point test, the building of a
// centre patch with its three companions and tangent frame, the refinement of start positions
// into first centres, and the expansion passes that grow the sampling over the visual hull.
//
// A sampling call makes one SurfaceSampler over its output vector, fills first centres (from
// seeds, previous patches or uniform draws), calls expand() and then finish(). While sampling,
// the output holds the centres only, in order of acceptance; finish() appends the companions.
// All random numbers come from sym_rand() / sampler_rand() (sculptor/random.h), in a fixed order.
#include <atomic>
#include <cstddef>
#include <iosfwd>
#include <stop_token>
#include <vector>

#include "common/patch.h"
#include "sculptor/normals.h"
#include "sculptor/silhouette.h"
#include "sculptor/stage_parameters.h"
#include "tervik/points.h"

namespace tervik {

// True when `p` is admissible: projection_test finds it inside the image of at least
// `min_cameras` cameras, on background in exactly `tolerance` of them and on a silhouette
// outline in at least one.
bool is_admissible(const SilhouetteViews& views, const Point3D& p, short min_cameras,
                   short tolerance);

// The counts a sampling call aims at, derived from the requested number of points.
struct SamplingTargets {
  long long companions = 0;  // o = trunc(0.75 npoints), three per centre
  long long centres = 0;     // M = npoints - o
  long long starts = 0;      // S = M / 10, the most first centres made from start positions

  static SamplingTargets from_npoints(long long npoints);
};

// The patches a sampling call reserves room for in its output: trunc(1.1 npoints).
std::size_t sampling_capacity(long long npoints);

// Bounds that keep a sampling call finite on input that admits no (or too few) points.
struct SamplingLimits {
  // Draws allowed for the three companions of one centre; when they run out the centre is
  // dropped as if its normal could not be oriented.
  long long companion_draws = 100000;
};

// Storage handed from one sampling call to the next (frame after frame), so that a tracked
// frame writes its centres' frames and companions into memory the previous frame already used
// instead of fresh pages. Holds no data between calls, only capacity.
struct SamplingBuffers {
  std::vector<MyDirector> frames;
  std::vector<Patch> companions;
};

// Working state of one sampling call over `out` (cleared on construction, then holding the
// centres in order of acceptance). Keeps references to the silhouettes, the output and the
// progress stream, which receives every progress and "WARNING: " line. Candidates and normal
// probes are tested through a HullGrid over the box with cells of 2 L (same answers as
// projection_test).
class SurfaceSampler {
 public:
  // Reserves out for 1.1 npoints patches, the frames for 1.1 M and the companions for 1.1 o.
  // Reads npoints, min_cameras, tolerance, the sampling length `step`, the box and `threads` of
  // `params`. With `buffers`, the frames and companions are kept in its vectors (taken on
  // construction, given back emptied on destruction).
  SurfaceSampler(const SilhouetteViews& silhouettes, std::vector<Patch>& out,
                 const StageParameters& params, std::ostream& progress,
                 SamplingLimits limits = {}, SamplingBuffers* buffers = nullptr);
  SurfaceSampler(const SurfaceSampler&) = delete;
  SurfaceSampler& operator=(const SurfaceSampler&) = delete;
  ~SurfaceSampler();

  // One attempt at `p`: when it is admissible, builds a centre there. Counts one try for the
  // attempt itself (companion draws are counted inside). True when a centre was added.
  bool attempt(const Point3D& p);

  // Builds a centre at the admissible point `p`: draws three admissible companions in the cube of
  // half-size L/2 around it (one try per draw), orients the normal with local_normal and, on
  // success, stores the centre, its tangent frame and its companions. False when nothing was
  // stored (normal not oriented, or the companion draws ran out).
  bool build_centre(const Point3D& p);

  // First centres from start positions: around start i (position(i), i < count) points are drawn
  // in the cube of half-size `radius`; a start is left after one centre, or given up after 1001
  // failed attempts (1000 after a success) and, once one was given up, after every further
  // failure until an attempt succeeds. At most S centres; runs only when S >= 1 and count > 0.
  // Writes the progress line afterwards in every case.
  template <typename PositionOf>
  void refine_starts(std::size_t count, PositionOf position, double radius);

  // The expansion passes: grows up to M centres from the centres held so far, each pass
  // expanding the centres that the previous pass added, with a shrinking in-plane step. Ends
  // with a "WARNING: " line when there is no centre to expand or a pass adds none. With
  // threads >= 3 a third thread classifies the grid cells around the centres ahead of the
  // current one (HullGrid::prepare); the draws and results are those of one thread.
  void expand();

  // Writes the warnings about centres without expansion and dropped centres, then appends the
  // companions to out (centres first, then the companions of every centre in the same order).
  void finish();

  // Writes "<P> points after <tries> tries (<P / tries>)", P = centres + companions.
  void print_progress() const;

  const SamplingTargets& targets() const { return targets_; }
  std::size_t centre_count() const { return out_.size(); }
  bool target_reached() const { return static_cast<long long>(out_.size()) >= targets_.centres; }
  long long tries() const { return tries_; }
  // Counts one try made outside attempt() (none of the operations here needs it).
  void count_try() { ++tries_; }
  // Centres left in the expansion passes after 1000 failed attempts.
  long long fails() const { return fails_; }
  // Centres dropped because their companion draws ran out.
  long long dropped_centres() const { return dropped_; }
  const std::vector<MyDirector>& frames() const { return frames_; }
  const std::vector<Patch>& companions() const { return sides_; }

 private:
  bool admissible(const Point3D& p);

  // A centre of an expansion pass as the cell preparation reads it.
  struct Centre {
    Point3D pos, normal;
    MyDirector frame;
  };
  // Classifies the grid cells where the candidates of the centres pass[j] will fall, for the
  // centres ahead of the one the sampler is at (`current`, an index from `begin`), until the
  // pass's end or `stop`. Runs on a second thread; it changes no result, only the time.
  void prepare_cells(const std::vector<Centre>& pass, std::size_t begin, double R, double T,
                     const std::atomic<std::size_t>& current, const std::stop_token& stop);

  const SilhouetteViews& silhouettes_;
  HullGrid grid_;  // the silhouette test of every candidate and probe
  std::vector<Patch>& out_;
  std::ostream& progress_;
  unsigned threads_;
  short min_cameras_;
  short tolerance_;
  double step_;
  SamplingLimits limits_;
  SamplingBuffers* buffers_;
  SamplingTargets targets_;
  std::vector<MyDirector> frames_;
  std::vector<Patch> sides_;
  std::vector<Point3D> points_;  // the centre and its three companions, reused
  long long tries_ = 0;
  long long fails_ = 0;
  long long dropped_ = 0;
  bool finished_ = false;
};

// A random vector of sym_rand() values, drawn z first, then y, then x.
Point3D random_vector();

template <typename PositionOf>
void SurfaceSampler::refine_starts(std::size_t count, PositionOf position, double radius) {
  if (targets_.starts >= 1 && count > 0) {
    const std::size_t wanted = static_cast<std::size_t>(targets_.starts);
    std::size_t i = 0;
    long long f = 0;
    for (;;) {
      const Point3D p = position(i) + random_vector() * radius;
      if (attempt(p)) {
        ++i;
        f = 1;
      } else {
        ++f;
      }
      if (i >= wanted || i >= count) break;
      if (f >= 1001) {
        ++i;  // give this start up; f stays, so the next failure moves on again
        if (i == count) break;
      }
    }
  }
  print_progress();
}

}  // namespace tervik
