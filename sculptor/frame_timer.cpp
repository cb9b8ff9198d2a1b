#include "sculptor/frame_timer.h"

#include <ostream>

namespace tervik {

FrameTimer::FrameTimer(bool wall)
    : wall_(wall), cpu_start_(std::clock()), wall_start_(std::chrono::steady_clock::now()) {}

double FrameTimer::seconds() const {
  if (wall_) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start_).count();
  }
  return static_cast<double>(std::clock() - cpu_start_) / 1000000.0;
}

void FrameTimer::print(std::ostream& out, const char* label) const { print(out, label, seconds()); }

void FrameTimer::print(std::ostream& out, const char* label, double t) {
  out << label << 1.0 / t << " fps or " << t << " s/frame" << std::endl;
}

}  // namespace tervik
