#pragma once
// The clock behind a frame's timing lines: processor time when the run uses one thread, wall
// time when it uses more (processor time would add up the threads' times).
#include <chrono>
#include <cstdint>
#include <ctime>
#include <iosfwd>
#include <optional>
#include <string>

namespace tervik {

// A started clock. Lines read "<label><1/t> fps or <t> s/frame", t in seconds since the start;
// a timer of a known frame puts the frame into the label: "Only points: " becomes
// "Only points (frame 7): ".
class FrameTimer {
 public:
  // Starts now; `wall` picks wall time instead of the process's processor time.
  explicit FrameTimer(bool wall = false, std::optional<std::int64_t> frame = std::nullopt);

  // Seconds since the start: clock() ticks divided by 1,000,000, or wall seconds.
  double seconds() const;

  // Writes "<label><1/t> fps or <t> s/frame" and a line end (flushed) to `out`.
  void print(std::ostream& out, const char* label) const;

  // The same line for a time `t` given in seconds, of frame `frame` when one is given.
  static void print(std::ostream& out, const char* label, double t,
                    std::optional<std::int64_t> frame = std::nullopt);

  // `label` ("<text>: ") with the frame put in: "<text> (frame <frame>): ".
  static std::string frame_label(const char* label, std::int64_t frame);

 private:
  bool wall_;
  std::optional<std::int64_t> frame_;
  std::clock_t cpu_start_;
  std::chrono::steady_clock::time_point wall_start_;
};

}  // namespace tervik
