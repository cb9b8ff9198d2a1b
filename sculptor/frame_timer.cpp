#include "sculptor/frame_timer.h"

#include <ostream>
#include <string>

namespace tervik {

FrameTimer::FrameTimer(bool wall, std::optional<std::int64_t> frame)
    : wall_(wall), frame_(frame), cpu_start_(std::clock()), wall_start_(std::chrono::steady_clock::now()) {}

double FrameTimer::seconds() const {
  if (wall_) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - wall_start_).count();
  }
  return static_cast<double>(std::clock() - cpu_start_) / 1000000.0;
}

void FrameTimer::print(std::ostream& out, const char* label) const {
  print(out, label, seconds(), frame_);
}

void FrameTimer::print(std::ostream& out, const char* label, double t,
                       std::optional<std::int64_t> frame) {
  if (frame) out << frame_label(label, *frame);
  else out << label;
  out << 1.0 / t << " fps or " << t << " s/frame" << std::endl;
}

std::string FrameTimer::frame_label(const char* label, std::int64_t frame) {
  std::string text = label;
  const std::size_t colon = text.rfind(':');
  const std::string where = " (frame " + std::to_string(frame) + ")";
  if (colon == std::string::npos) return text + where + ": ";
  return text.insert(colon, where);
}

}  // namespace tervik
