#include "sculptor/expansion.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cmath>
#include <ostream>
#include <thread>

#include "sculptor/random.h"

namespace tervik {

namespace {

// A capacity of trunc(1.1 n), never negative.
std::size_t headroom(long long n) {
  const long long c = static_cast<long long>(1.1 * static_cast<double>(n));
  return c > 0 ? static_cast<std::size_t>(c) : 0;
}

// The side of the silhouette grid's cells, in sampling lengths. Measured with callgrind on 16
// cameras of 1280 x 960 pixels at 40000 points per frame: 1 L classifies too many cells (about
// 5 tests per cell), 3 L leaves more cameras to project per test; 2 L and 3 L cost about the
// same there, and denser samplings favour the smaller cells.
constexpr double kGridCellSteps = 2.0;

// An in-plane offset: R r, pushed away from 0 by R/2, so that R/2 <= |a| <= 3R/2. The sign
// of r is a coin toss, so a branch on it would be mispredicted every other time: R/2 gets the
// sign bit of (a <= 0) instead, and a + (-R/2) is a - R/2 exactly.
double ring_offset(double R) {
  const double a = R * sym_rand();
  const std::uint64_t flip = static_cast<std::uint64_t>(a <= 0) << 63;
  return a + std::bit_cast<double>(std::bit_cast<std::uint64_t>(R / 2) ^ flip);
}

}  // namespace

bool is_admissible(const SilhouetteViews& views, const Point3D& p, short min_cameras,
                   short tolerance) {
  short inside = 0, outside = 0;
  const bool outline = projection_test(views, p, inside, outside, tolerance);
  return outline && inside >= min_cameras && outside == tolerance;
}

SamplingTargets SamplingTargets::from_npoints(long long npoints) {
  SamplingTargets t;
  t.companions = static_cast<long long>(0.75 * static_cast<double>(npoints));
  t.centres = npoints - t.companions;
  t.starts = t.centres / 10;
  return t;
}

std::size_t sampling_capacity(long long npoints) { return headroom(npoints); }

Point3D random_vector() {
  const double z = sym_rand();
  const double y = sym_rand();
  const double x = sym_rand();
  return {x, y, z};
}

SurfaceSampler::SurfaceSampler(const SilhouetteViews& silhouettes, std::vector<Patch>& out,
                               const StageParameters& params, std::ostream& progress,
                               SamplingLimits limits, SamplingBuffers* buffers)
    : silhouettes_(silhouettes),
      grid_(silhouettes, params.box_min, params.box_max, params.step * kGridCellSteps,
            params.threads),
      out_(out),
      progress_(progress),
      threads_(params.threads),
      min_cameras_(params.min_cameras),
      tolerance_(params.tolerance),
      step_(params.step),
      limits_(limits),
      buffers_(buffers),
      targets_(SamplingTargets::from_npoints(params.npoints)) {
  if (buffers_ != nullptr) {
    frames_.swap(buffers_->frames);
    sides_.swap(buffers_->companions);
    frames_.clear();
    sides_.clear();
  }
  out_.clear();
  out_.reserve(headroom(params.npoints));
  frames_.reserve(headroom(targets_.centres));
  sides_.reserve(headroom(targets_.companions));
  points_.reserve(4);
}

SurfaceSampler::~SurfaceSampler() {
  if (buffers_ == nullptr) return;
  frames_.clear();
  sides_.clear();
  frames_.swap(buffers_->frames);
  sides_.swap(buffers_->companions);
}

bool SurfaceSampler::admissible(const Point3D& p) {
  return grid_.admits(p, min_cameras_, tolerance_, true);
}

bool SurfaceSampler::attempt(const Point3D& p) {
  const bool added = admissible(p) && build_centre(p);
  ++tries_;
  return added;
}

bool SurfaceSampler::build_centre(const Point3D& p) {
  points_.clear();
  points_.push_back(p);
  const double half = step_ / 2;
  long long draws = 0;
  while (points_.size() < 4) {
    if (draws == limits_.companion_draws) {
      ++dropped_;
      return false;
    }
    const Point3D q = p + random_vector() * half;
    ++draws;
    ++tries_;
    if (admissible(q)) points_.push_back(q);
  }
  Point3D normal;
  MyDirector frame;
  if (!local_normal(normal, frame, points_, p, grid_, min_cameras_, tolerance_, step_))
    return false;
  out_.push_back(Patch{p, normal, 128, 128, 128});
  frames_.push_back(frame);
  for (std::size_t k = 1; k < 4; ++k) sides_.push_back(Patch{points_[k], normal, 128, 128, 128});
  return true;
}

void SurfaceSampler::print_progress() const {
  const std::size_t points = out_.size() + sides_.size();
  // Without a try the rate is 0, not the 0 / 0 that would print as "-nan".
  const double rate =
      tries_ > 0 ? static_cast<double>(points) / static_cast<double>(tries_) : 0.0;
  progress_ << points << " points after " << tries_ << " tries (" << rate << ")" << std::endl;
}

void SurfaceSampler::expand() {
  fails_ = 0;
  if (target_reached()) return;
  const std::size_t wanted = static_cast<std::size_t>(targets_.centres);
  if (out_.empty()) {
    progress_ << "WARNING: no centre to expand, the surface sampling stays empty (0 of "
              << wanted << " centres; check the box, the silhouettes and the calibration)"
              << std::endl;
    return;
  }
  double R = 4 * step_;  // in-plane step
  double T = step_;      // jitter along the normal
  std::size_t begin = 0, end = out_.size();
  for (;;) {
    // 1. One pass over the centres [begin, end); with a third thread, the grid cells around
    //    the centres ahead of the current one are classified meanwhile. The second thread is
    //    left to the frame loop, which reads the colour images and writes the previous frame's
    //    points while the surface is sampled: on two cores a helper competing with that work
    //    made a 2-thread run slower (200k points: 1.90 s instead of 1.80 s).
    std::atomic<std::size_t> current{begin};
    std::jthread helper;
    if (threads_ >= 3) {
      std::vector<Centre> pass(end - begin);
      for (std::size_t j = begin; j < end; ++j)
        pass[j - begin] = Centre{out_[j].pos, out_[j].normal, frames_[j]};
      helper = std::jthread([this, pass = std::move(pass), begin, R, T, &current](
                                std::stop_token stop) {
        prepare_cells(pass, begin, R, T, current, stop);
      });
    }
    for (std::size_t i = begin; i < end && out_.size() < wanted; ++i) {
      current.store(i, std::memory_order_relaxed);
      // The centre is copied: out_ may grow (and move) while it is expanded.
      const Point3D pos = out_[i].pos, normal = out_[i].normal;
      const MyDirector frame = frames_[i];
      int s = 0;
      long long f = 0;
      for (;;) {
        const double a = ring_offset(R);
        const double b = ring_offset(R);
        const double c = T * sym_rand();
        const Point3D q = ((pos + normal * c) + frame.u * a) + frame.v * b;
        if (attempt(q)) {
          ++s;
          f = 1;
        } else {
          ++f;
        }
        if (s > 3 || out_.size() >= wanted || f > 999) break;
      }
      if (f == 1000) ++fails_;
    }
    if (helper.joinable()) {
      helper.request_stop();
      helper.join();
    }
    print_progress();
    // 2. Done, or stuck: a pass that adds no centre leaves nothing for the next one.
    if (out_.size() >= wanted) return;
    if (out_.size() == end) {
      progress_ << "WARNING: surface expansion stopped early: a pass added no centre ("
                << out_.size() << " of " << wanted << " centres)" << std::endl;
      return;
    }
    // 3. The next pass expands this pass's centres with a smaller step.
    R /= 2;
    T *= 0.75;
    begin = end;
    end = out_.size();
  }
}

void SurfaceSampler::prepare_cells(const std::vector<Centre>& pass, std::size_t begin, double R,
                                   double T, const std::atomic<std::size_t>& current,
                                   const std::stop_token& stop) {
  // Points over the square of in-plane offsets up to 3R/2 (where the candidates lie), at most
  // half a cell apart, on three layers along the normal.
  const double spacing = std::min(grid_.cell_size() / 2, R / 2);
  const int steps = static_cast<int>(std::ceil(1.5 * R / spacing));
  for (std::size_t j = 0; j < pass.size() && !stop.stop_requested(); ++j) {
    // Keep ahead of the sampler: centres it has reached are its own business.
    const std::size_t at = current.load(std::memory_order_relaxed) - begin;
    if (j <= at) j = at + 1;
    if (j >= pass.size()) break;
    const Centre& c = pass[j];
    for (int layer = -1; layer <= 1; ++layer) {
      const Point3D base = c.pos + c.normal * (layer * T);
      for (int ia = -steps; ia <= steps; ++ia) {
        const Point3D row = base + c.frame.u * (ia * spacing);
        for (int ib = -steps; ib <= steps; ++ib)
          grid_.prepare(row + c.frame.v * (ib * spacing), tolerance_);
      }
    }
  }
}

void SurfaceSampler::finish() {
  if (finished_) return;
  finished_ = true;
  if (fails_ > static_cast<long long>(static_cast<double>(targets_.centres) * 0.1))
    progress_ << "WARNING: " << fails_ << " points without expansion" << std::endl;
  if (dropped_ > 0)
    progress_ << "WARNING: " << dropped_ << " centres dropped: no three companions found within "
              << limits_.companion_draws << " draws" << std::endl;
  out_.insert(out_.end(), sides_.begin(), sides_.end());
}

}  // namespace tervik
