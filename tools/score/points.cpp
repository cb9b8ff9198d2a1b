// Scoring of point sets against the ground truth.
#include <algorithm>
#include <cmath>
#include <numbers>

#include "tervik/exceptions.h"
#include "tools/score/score.h"
#include "tools/score/silhouette.h"

namespace tervik::scene {

Distribution summarize(std::vector<double> values) {
  Distribution d;
  if (values.empty()) return d;
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  // Nearest rank: the ceil(q n)-th smallest value.
  auto rank = [&](double q) {
    const auto r = static_cast<std::size_t>(std::ceil(q * double(n)));
    return values[std::clamp<std::size_t>(r, 1, n) - 1];
  };
  double sum = 0.0;
  for (double v : values) sum += v;
  d.count = long(n);
  d.mean = sum / double(n);
  d.median = rank(0.5);
  d.p90 = rank(0.9);
  d.p99 = rank(0.99);
  d.max = values.back();
  return d;
}

PointScore score_points(const GroundTruth& truth, long frame,
                        const std::vector<Point3D>& positions,
                        const std::vector<Point3D>& normals,
                        const std::vector<Coord3D<unsigned char>>& colors,
                        const std::vector<Coord3D<unsigned char>>& baseline) {
  TERVIK_CHECK(normals.empty() || normals.size() == positions.size(),
               "score_points: " << normals.size() << " normals for " << positions.size()
                                << " points");
  TERVIK_CHECK(colors.empty() || colors.size() == positions.size(),
               "score_points: " << colors.size() << " colours for " << positions.size()
                                << " points");
  TERVIK_CHECK(baseline.empty() || baseline.size() == colors.size(),
               "score_points: " << baseline.size() << " baseline colours for " << colors.size()
                                << " colours");
  const Solid& solid = truth.solid(frame);
  const double l = truth.sampling_length();
  PointScore score;
  score.points = long(positions.size());
  score.sampling_length = l;
  score.has_normals = !normals.empty();
  score.has_colors = !colors.empty();
  score.has_baseline = score.has_colors && !baseline.empty();
  const auto is_default = [](const Coord3D<unsigned char>& c) {
    return c[0] == kDefaultGrey && c[1] == kDefaultGrey && c[2] == kDefaultGrey;
  };
  std::vector<double> channel_errors, baseline_colored, newly_colored;
  const SilhouetteSet silhouettes(solid, truth.cameras);
  std::vector<double> residuals, distances, angles, color_errors;
  long on_hull = 0, beyond = 0, over30 = 0, inward = 0;
  double signed_sum = 0.0;
  for (std::size_t i = 0; i < positions.size(); ++i) {
    const Point3D& x = positions[i];
    double r = 0.0;
    if (silhouettes.residual(x, r)) {
      residuals.push_back(r);
      if (r == 0.0) ++on_hull;
    } else {
      ++score.unseen;
    }
    const SurfacePoint sp = solid.nearest_surface_point(x);
    const double d = sp.signed_distance / l;
    distances.push_back(std::fabs(d));
    signed_sum += d;
    if (std::fabs(d) > 2.0) ++beyond;
    if (score.has_normals) {
      const double len = norm(normals[i]);
      if (!(len > 0.0) || !std::isfinite(len)) {
        ++score.zero_normals;
      } else {
        const double c = std::clamp(dot(normals[i], sp.normal) / len, -1.0, 1.0);
        const double angle = std::acos(c) * (180.0 / std::numbers::pi);
        angles.push_back(angle);
        if (angle > 30.0) ++over30;
        if (c < 0.0) ++inward;
      }
    }
    if (score.has_colors) {
      const Coord3D<unsigned char> want = truth.color_at(sp.position, sp.normal);
      double e2 = 0.0;
      for (int k = 0; k < 3; ++k) {
        const double dc = double(colors[i][k]) - double(want[k]);
        e2 += dc * dc;
      }
      color_errors.push_back(std::sqrt(e2));
      double channels = 0.0;
      for (int k = 0; k < 3; ++k) channels += std::fabs(double(colors[i][k]) - double(want[k]));
      channels /= 3.0;
      channel_errors.push_back(channels);
      if (is_default(colors[i])) ++score.default_colored;
      if (score.has_baseline) {
        if (!is_default(baseline[i])) baseline_colored.push_back(channels);
        else if (!is_default(colors[i])) newly_colored.push_back(channels);
      }
    }
  }
  score.silhouette_residual = summarize(residuals);
  score.share_on_hull = residuals.empty() ? 0.0 : double(on_hull) / double(residuals.size());
  score.distance = summarize(distances);
  if (!positions.empty()) {
    score.mean_signed_distance = signed_sum / double(positions.size());
    score.share_beyond_2l = double(beyond) / double(positions.size());
  }
  score.normal_angle = summarize(angles);
  if (!angles.empty()) {
    score.share_over_30 = double(over30) / double(angles.size());
    score.share_inward = double(inward) / double(angles.size());
  }
  score.color_error = summarize(color_errors);
  score.channel_error = summarize(channel_errors);
  if (!colors.empty())
    score.share_default_colored = double(score.default_colored) / double(colors.size());
  score.channel_error_baseline_colored = summarize(baseline_colored);
  score.channel_error_newly_colored = summarize(newly_colored);
  return score;
}

}  // namespace tervik::scene
