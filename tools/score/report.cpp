// Text and JSON reports of scores.
#include <cstdio>
#include <string>

#include "tools/score/score.h"

namespace tervik::scene {
namespace {

std::string num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.6g", v);
  return buf;
}

std::string percent(double share) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.2f%%", 100.0 * share);
  return buf;
}

// Four significant digits for the readable report.
std::string short_num(double v) {
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.4g", v);
  return buf;
}

std::string text_line(const std::string& label, const Distribution& d) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%-30s median %-9s p90 %-9s p99 %-9s max %-9s mean %s\n",
                label.c_str(), short_num(d.median).c_str(), short_num(d.p90).c_str(),
                short_num(d.p99).c_str(), short_num(d.max).c_str(), short_num(d.mean).c_str());
  return buf;
}

std::string item(const std::string& label, const std::string& value) {
  char buf[256];
  std::snprintf(buf, sizeof buf, "%-30s %s\n", label.c_str(), value.c_str());
  return buf;
}

std::string json(const std::string& key, const std::string& value) {
  return "\"" + key + "\": " + value;
}

std::string json(const std::string& key, const Distribution& d) {
  return json(key, "{" + json("count", std::to_string(d.count)) + ", " +
                       json("mean", num(d.mean)) + ", " + json("median", num(d.median)) + ", " +
                       json("p90", num(d.p90)) + ", " + json("p99", num(d.p99)) + ", " +
                       json("max", num(d.max)) + "}");
}

}  // namespace

std::string format_text(const PointScore& s) {
  std::string out;
  out += item("points", std::to_string(s.points));
  out += item("sampling length L", num(s.sampling_length) + " (world units)");
  out += text_line("silhouette residual (pixels)", s.silhouette_residual);
  out += item("  on the visual hull", percent(s.share_on_hull) + " of " +
                                          std::to_string(s.silhouette_residual.count) +
                                          " seen points (" + std::to_string(s.unseen) +
                                          " unseen)");
  out += text_line("distance to surface (L)", s.distance);
  out += item("  farther than 2 L", percent(s.share_beyond_2l));
  out += item("  mean signed (L, + outside)", num(s.mean_signed_distance));
  if (s.has_normals) {
    out += text_line("normal angle (degrees)", s.normal_angle);
    out += item("  over 30 degrees", percent(s.share_over_30));
    out += item("  pointing inward", percent(s.share_inward));
    out += item("  zero normals", std::to_string(s.zero_normals));
  } else {
    out += item("normal angle (degrees)", "no normals in the file");
  }
  if (s.has_colors) {
    out += text_line("colour error (RGB units)", s.color_error);
    out += text_line("per-channel colour error", s.channel_error);
    out += item("  default colour (64, 64, 64)", percent(s.share_default_colored) + " (" +
                                                    std::to_string(s.default_colored) +
                                                    " points)");
    if (s.has_baseline) {
      out += text_line("  coloured in the baseline", s.channel_error_baseline_colored);
      out += text_line("  newly coloured", s.channel_error_newly_colored);
      out += item("  newly coloured points", std::to_string(s.channel_error_newly_colored.count));
    }
  } else
    out += item("colour error (RGB units)", "no colours in the file");
  return out;
}

std::string format_text(const MeshScore& s) {
  std::string out;
  out += item("vertices", std::to_string(s.vertices) + " (" + std::to_string(s.used_vertices) +
                              " used by faces)");
  out += item("faces", std::to_string(s.faces));
  out += item("faces per used vertex", num(s.faces_per_used_vertex));
  out += item("boundary edges", std::to_string(s.boundary_edges));
  out += item("non-manifold edges", std::to_string(s.nonmanifold_edges));
  out += item("inconsistently oriented edges", std::to_string(s.inconsistent_edges));
  out += item("Euler characteristic", std::to_string(s.euler_characteristic));
  out += item("connected components", std::to_string(s.components));
  out += item("degenerate faces", std::to_string(s.degenerate_faces));
  out += item("faces facing inward", std::to_string(s.flipped_faces) + " (" +
                                        std::to_string(s.flipped_near) + " within " +
                                        num(s.coverage_distance) + " L of the surface)");
  out += text_line("face centroid distance (L)", s.centroid_distance);
  out += item("surface covered", percent(s.coverage) + " within " + num(s.coverage_distance) +
                                     " L (" + std::to_string(s.coverage_samples) + " samples)");
  out += item("silhouette IoU", "smallest " + num(s.min_silhouette_iou) + " of " +
                                    std::to_string(s.silhouette_iou.size()) + " cameras");
  if (s.against_point_normals >= 0)
    out += item("faces against point normals", std::to_string(s.against_point_normals));
  return out;
}

std::string json_members(const PointScore& s) {
  std::string out;
  out += json("points", std::to_string(s.points)) + ", ";
  out += json("sampling_length", num(s.sampling_length)) + ", ";
  out += json("silhouette_residual_px", s.silhouette_residual) + ", ";
  out += json("share_on_hull", num(s.share_on_hull)) + ", ";
  out += json("unseen", std::to_string(s.unseen)) + ", ";
  out += json("distance_l", s.distance) + ", ";
  out += json("share_beyond_2l", num(s.share_beyond_2l)) + ", ";
  out += json("mean_signed_distance_l", num(s.mean_signed_distance));
  if (s.has_normals) {
    out += ", " + json("normal_angle_deg", s.normal_angle);
    out += ", " + json("share_over_30_deg", num(s.share_over_30));
    out += ", " + json("share_inward", num(s.share_inward));
    out += ", " + json("zero_normals", std::to_string(s.zero_normals));
  }
  if (s.has_colors) {
    out += ", " + json("color_error", s.color_error);
    out += ", " + json("channel_error", s.channel_error);
    out += ", " + json("default_colored", std::to_string(s.default_colored));
    out += ", " + json("share_default_colored", num(s.share_default_colored));
  }
  if (s.has_baseline) {
    out += ", " + json("channel_error_baseline_colored", s.channel_error_baseline_colored);
    out += ", " + json("channel_error_newly_colored", s.channel_error_newly_colored);
  }
  return out;
}

std::string json_members(const MeshScore& s) {
  std::string out;
  out += json("vertices", std::to_string(s.vertices)) + ", ";
  out += json("used_vertices", std::to_string(s.used_vertices)) + ", ";
  out += json("faces", std::to_string(s.faces)) + ", ";
  out += json("faces_per_used_vertex", num(s.faces_per_used_vertex)) + ", ";
  out += json("boundary_edges", std::to_string(s.boundary_edges)) + ", ";
  out += json("nonmanifold_edges", std::to_string(s.nonmanifold_edges)) + ", ";
  out += json("inconsistent_edges", std::to_string(s.inconsistent_edges)) + ", ";
  out += json("euler_characteristic", std::to_string(s.euler_characteristic)) + ", ";
  out += json("components", std::to_string(s.components)) + ", ";
  out += json("degenerate_faces", std::to_string(s.degenerate_faces)) + ", ";
  out += json("flipped_faces", std::to_string(s.flipped_faces)) + ", ";
  out += json("flipped_near", std::to_string(s.flipped_near)) + ", ";
  out += json("centroid_distance_l", s.centroid_distance) + ", ";
  out += json("coverage_distance_l", num(s.coverage_distance)) + ", ";
  out += json("coverage_samples", std::to_string(s.coverage_samples)) + ", ";
  out += json("coverage", num(s.coverage)) + ", ";
  std::string ious;
  for (double v : s.silhouette_iou) ious += (ious.empty() ? "" : ", ") + num(v);
  out += json("silhouette_iou", "[" + ious + "]") + ", ";
  out += json("min_silhouette_iou", num(s.min_silhouette_iou)) + ", ";
  out += json("against_point_normals", std::to_string(s.against_point_normals));
  return out;
}

}  // namespace tervik::scene
