#pragma once
// The candidates of a sampling call, drawn and tested in order, with their tests shared out to a
// second thread ahead of need.
//
// Every candidate point of the samplers is made from three consecutive draws of the sampler's
// sequence by a rule fixed for a run of candidates (a start position's cube, a centre's ring, a
// new centre's companion cube). Within a run, candidate k comes from draws 3k, 3k + 1 and 3k + 2
// after the run's start, whatever the earlier candidates gave; only the caller decides where a
// run ends (and a new one begins). A helper thread, given the run's rule and the sequence's state
// at its start, tests the candidates of every other block of kBlock ahead of the caller, from
// the same draws by the same arithmetic. The caller still draws every number itself and decides
// everything itself; it takes a helper's answer only for the very candidate it was computed for
// (same run, same index), and tests any candidate that has none itself. So the draws, the points
// and the answers are those of one thread; only the time differs.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <thread>

#include "sculptor/hull_grid.h"
#include "sculptor/random.h"
#include "tervik/points.h"

namespace tervik {

// How a run makes a candidate point from three draws d0, d1, d2 (each d * symsc - 1.0 = s0, s1,
// s2 in [-1, 1]).
struct CandidateRule {
  enum Kind : std::uint64_t {
    kCube = 0,  // centre + (s2, s1, s0) * scale: a random vector drawn z first
    kRing = 1,  // ((centre + normal * (depth * s2)) + u * ring(s0)) + v * ring(s1),
                // ring(s) = R s pushed away from 0 by R / 2
  };
  Kind kind = kCube;
  Point3D centre;
  double scale = 0.0;  // cube: half-size; ring: R
  double depth = 0.0;  // ring: T
  Point3D normal, u, v;

  static CandidateRule cube(const Point3D& centre, double half) {
    CandidateRule r;
    r.centre = centre;
    r.scale = half;
    return r;
  }
  static CandidateRule ring(const Point3D& centre, const Point3D& normal, const Point3D& u,
                            const Point3D& v, double R, double T) {
    CandidateRule r;
    r.kind = kRing;
    r.centre = centre;
    r.normal = normal;
    r.u = u;
    r.v = v;
    r.scale = R;
    r.depth = T;
    return r;
  }

  Point3D point(int d0, int d1, int d2) const;
};

// The admissible-point test of the samplers on a HullGrid: inside at least `min_cameras` images,
// on background in exactly `tolerance` and on an outline in at least one.
struct AdmissibleTest {
  short min_cameras = 0;
  short tolerance = 0;
  bool operator()(HullGrid& grid, const Point3D& p) const {
    short inside = 0, outside = 0;
    const bool outline = grid.test(p, inside, outside, tolerance);
    return outline && inside >= min_cameras && outside == tolerance;
  }
  // The same through HullGrid::test_beside (for the helper thread).
  bool beside(HullGrid& grid, const Point3D& p) const {
    short inside = 0, outside = 0;
    const bool outline = grid.test_beside(p, inside, outside, tolerance);
    return outline && inside >= min_cameras && outside == tolerance;
  }
};

class CandidateStream {
 public:
  // Candidates tested on `grid` with `test`; with `helper`, a second thread tests ahead. The
  // caller waits for the helper's answers only briefly, and only while it is at work on them,
  // unless `patient` (for tests: every candidate of an odd block is then answered ahead).
  CandidateStream(HullGrid& grid, AdmissibleTest test, bool helper, bool patient = false);
  CandidateStream(const CandidateStream&) = delete;
  CandidateStream& operator=(const CandidateStream&) = delete;
  // Stops the helper.
  ~CandidateStream();

  // Starts a run of candidates made by `rule` from the sampler's sequence as it stands now.
  void begin(const CandidateRule& rule);

  // The run's next candidate: draws its three numbers from the sampler's sequence, writes its
  // point to `q` and returns whether it is admissible.
  bool next(Point3D& q);

  // Candidates whose answer came from the helper (for tests and measurements).
  std::size_t answered_ahead() const { return ahead_; }

  // Candidates per block; the helper takes the odd blocks of a run.
  static constexpr std::size_t kBlock = 8;

 private:
  // The context a run gives the helper, as words written and read atomically.
  static constexpr std::size_t kRuleWords = 15;
  static constexpr std::size_t kSequenceWords = (sizeof(RandomSequence) + 7) / 8;
  static constexpr std::size_t kSlots = 64;
  struct Slot {
    std::atomic<std::uint64_t> tag{0};  // run and block of the answers held
    std::atomic<std::uint64_t> answers{0};  // bit j: candidate j of the block is admissible
  };

  void help();
  // Waits for the helper's answers to block `block` of the current run when it is at work on
  // them (for a bounded time); true, with the answers, when they came.
  bool answers_of(std::size_t block, std::uint64_t& answers);
  static std::uint64_t tag(std::uint64_t run, std::uint64_t block) { return (run << 24) | block; }

  HullGrid& grid_;
  AdmissibleTest test_;
  bool patient_;
  CandidateRule rule_;
  std::uint64_t run_ = 0;   // runs begun
  std::size_t index_ = 0;   // the next candidate's index in the run
  bool have_answers_ = false;
  std::uint64_t answers_ = 0;
  std::size_t ahead_ = 0;

  // Shared with the helper.
  std::atomic<std::uint64_t> published_{0};  // 2 x the run published; odd while writing
  std::atomic<std::uint64_t> context_[kRuleWords + kSequenceWords];
  std::atomic<std::uint64_t> caller_at_{0};  // tag of the block the caller is in
  std::atomic<std::uint64_t> working_{0};    // tag of the block the helper is testing
  std::atomic<bool> sleeping_{false};
  std::atomic<bool> stop_{false};
  Slot slots_[kSlots];
  std::thread helper_;
};

}  // namespace tervik
