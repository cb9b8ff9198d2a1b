#pragma once
// The clock behind a frame's timing lines: processor time when the run uses one thread, wall
// time when it uses more (processor time would add up the threads' times).
#include <chrono>
#include <ctime>
#include <iosfwd>

namespace tervik {

// A started clock. Lines read "<label><1/t> fps or <t> s/frame", t in seconds since the start.
class FrameTimer {
 public:
  // Starts now; `wall` picks wall time instead of the process's processor time.
  explicit FrameTimer(bool wall = false);

  // Seconds since the start: clock() ticks divided by 1,000,000, or wall seconds.
  double seconds() const;

  // Writes "<label><1/t> fps or <t> s/frame" and a line end (flushed) to `out`.
  void print(std::ostream& out, const char* label) const;

  // The same line for a time `t` given in seconds.
  static void print(std::ostream& out, const char* label, double t);

 private:
  bool wall_;
  std::clock_t cpu_start_;
  std::chrono::steady_clock::time_point wall_start_;
};

}  // namespace tervik
