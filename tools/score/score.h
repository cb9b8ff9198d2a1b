#pragma once
// Scores reconstructions of a synthetic scene against its ground truth: point files written by
// sculptor and meshes written by weaver.
//
// Units: distances to the true surface are in units of the sampling length L = 0.005 times the
// diagonal of the scene's box; silhouette residuals are in pixels (between pixel centres);
// angles in degrees; colour errors are Euclidean distances in 8-bit RGB (0 to 441).
// Percentiles are nearest-rank: the q-th percentile is the smallest value that at least q% of
// the values do not exceed.
#include <string>
#include <vector>

#include "tools/scene/truth.h"

namespace tervik::scene {

// Summary of a set of values; all zero when count is 0.
struct Distribution {
  long count = 0;
  double mean = 0.0, median = 0.0, p90 = 0.0, p99 = 0.0, max = 0.0;
};

// The distribution of `values` (taken by value: it is sorted).
Distribution summarize(std::vector<double> values);

struct PointScore {
  long points = 0;
  double sampling_length = 0.0;  // L in world units
  // Silhouette residual of every point that some camera sees: 0 on the visual hull's surface
  // (foreground in every camera that sees it, on an outline in at least one); otherwise the
  // largest distance to the nearest foreground pixel over the cameras that put it on
  // background, or the smallest distance to the outline over all cameras when it is inside.
  Distribution silhouette_residual;
  double share_on_hull = 0.0;  // share of seen points with residual 0
  long unseen = 0;             // points that no camera sees (not in the residuals)
  // Unsigned distance to the true surface, in L; signed mean (positive outside).
  Distribution distance;
  double mean_signed_distance = 0.0;
  double share_beyond_2l = 0.0;
  // Angle between each point's normal and the true outward normal at the nearest surface
  // point (points with a zero normal are counted in zero_normals and left out).
  bool has_normals = false;
  Distribution normal_angle;
  double share_over_30 = 0.0;
  double share_inward = 0.0;  // normals with a negative dot product with the true normal
  long zero_normals = 0;
  // Colour error against the shaded pattern at the nearest surface point.
  bool has_colors = false;
  Distribution color_error;
  // Per-channel colour error: per point, the mean over the three channels of the absolute
  // difference from the true colour (0 to 255).
  Distribution channel_error;
  // Points with sculptor's colour for "no camera sees it well enough", (64, 64, 64).
  long default_colored = 0;
  double share_default_colored = 0.0;
  // With a baseline (the same points coloured by another run, e.g. without --colour-all): the
  // per-channel error of the points the baseline coloured, and of those it left default-coloured
  // that this file colours (newly coloured).
  bool has_baseline = false;
  Distribution channel_error_baseline_colored;
  Distribution channel_error_newly_colored;
};

// The colour sculptor gives a point that no camera sees well enough.
inline constexpr unsigned char kDefaultGrey = 64;

// Scores a set of points of frame `frame`. normals and colors may be empty (not scored);
// otherwise they must be as long as positions. `baseline`, when given and non-empty, holds the
// colours of the same points from another run (same order) and must be as long as colors.
PointScore score_points(const GroundTruth& truth, long frame,
                        const std::vector<Point3D>& positions,
                        const std::vector<Point3D>& normals,
                        const std::vector<Coord3D<unsigned char>>& colors,
                        const std::vector<Coord3D<unsigned char>>& baseline = {});

struct MeshScore {
  long vertices = 0, faces = 0, used_vertices = 0;
  double faces_per_used_vertex = 0.0;  // about 2 for a closed triangle mesh
  long boundary_edges = 0;     // edges of exactly one face
  long nonmanifold_edges = 0;  // edges of three or more faces
  long inconsistent_edges = 0; // edges of two faces that traverse it in the same direction
  // Over the vertices that faces use: V - E + F (2 for a closed surface of genus 0), and the
  // pieces of faces connected through shared vertices.
  long euler_characteristic = 0;
  long components = 0;
  long degenerate_faces = 0;   // a repeated vertex or zero area
  long flipped_faces = 0;      // face normal against the true outward normal at the centroid
  // Of those, the faces whose centroid lies within coverage_distance L of the true surface. A
  // face farther away (a visual hull bridging a concavity, say) is compared with the normal of a
  // surface it does not stand for, which may point anywhere.
  long flipped_near = 0;
  Distribution centroid_distance;  // face centroids to the true surface, in L
  double coverage_distance = 0.0;  // in L: a surface sample this close to the mesh is covered
  long coverage_samples = 0;
  double coverage = 0.0;  // share of the true surface area within coverage_distance of the mesh
  // Per camera, the intersection over union of the pixels whose centre the mesh's faces cover
  // and the object's silhouette (ideal pinhole projection); and the smallest of them.
  std::vector<double> silhouette_iou;
  double min_silhouette_iou = 0.0;
  // Faces against the point normals of their own corners (score_reconstruction with both a
  // point file and a mesh; -1 otherwise): see faces_against_point_normals.
  long against_point_normals = -1;
};

// The faces whose normal (right-hand rule) has a negative dot product with the sum of the
// normals of those of their corners that are points: vertex i < normals.size() is point i, as
// in weaver's meshes; vertices added by the mesher have no normal and are left out of the sum,
// and faces with no such corner are not counted.
long faces_against_point_normals(const std::vector<Point3D>& vertices,
                                 const std::vector<Coord3D<long long>>& faces,
                                 const std::vector<Point3D>& normals);

// Scores a triangle mesh of frame `frame` (indices must be valid vertex indices). The true
// surface is sampled uniformly by area with about `samples` points (fixed seed) to measure its
// coverage within `coverage_distance` sampling lengths.
MeshScore score_mesh(const GroundTruth& truth, long frame, const std::vector<Point3D>& vertices,
                     const std::vector<Coord3D<long long>>& faces, long samples = 20000,
                     double coverage_distance = 2.0);

// Reads a PLY point file (tervik/ply.h) and scores its vertices, with their normals and
// colours where the file has them.
PointScore score_point_file(const GroundTruth& truth, long frame, const std::string& file);
// The same with the colours of `baseline_file` as baseline: a point file of the same points (same
// count and positions, in the same order). Throws TervikFileError when they differ.
PointScore score_point_file(const GroundTruth& truth, long frame, const std::string& file,
                            const std::string& baseline_file);
// Reads a PLY mesh and scores it; throws TervikFileError when the file has no face element.
MeshScore score_mesh_file(const GroundTruth& truth, long frame, const std::string& file,
                          long samples = 20000, double coverage_distance = 2.0);

// Readable multi-line reports.
std::string format_text(const PointScore& score);
std::string format_text(const MeshScore& score);
// The members of each score as the members of a JSON object (without the braces), so that
// callers can combine several into one object.
std::string json_members(const PointScore& score);
std::string json_members(const MeshScore& score);

}  // namespace tervik::scene
