#pragma once
// Stage 1 of texturing: which faces a camera sees, and how well.
#include <vector>

#include "tools/texture/texture_mesh.h"

namespace tervik::texture {

// The mesh's vertices in one camera: image positions (pixels, lens distortion applied when the
// camera has any) and depths (<= 0 behind the camera).
struct Projection {
  std::vector<Point2D> pixels;
  std::vector<double> depths;
};

Projection project_mesh(const Camera& camera, const std::vector<Point3D>& positions);

// For every face, how well the view sees it: 0 when it does not, else the face's projected
// area in square pixels times the cosine between its normal and the line of sight. A face is
// seen when it faces the camera (cosine >= min_cosine, by its winding), its vertices project
// inside the image, and four points on it (the centroid and one towards each corner) lie
// inside the silhouette and pass a depth test against the mesh's own z-buffer in that camera:
// no farther than `tolerance` (world units) behind the nearest surface at their pixels.
// With `front_only` the z-buffer draws only the faces turned towards the camera: the same
// z-buffer for a closed mesh seen from outside, in half the time. `zbuffer` is scratch space for
// the z-buffer, resized as needed: passing the same one for every view saves allocating and
// first touching megabytes per view.
std::vector<float> face_quality(const TriMesh& mesh, const View& view, const Projection& proj,
                                double tolerance, double min_cosine, bool front_only,
                                std::vector<float>& zbuffer);

// Calls visit(x, y, b0, b1, b2) for every pixel of a width x height grid whose centre lies in
// the triangle (a, b, c) (either orientation, edges included), with its barycentric weights.
template <typename Visit>
void rasterize(const Point2D& a, const Point2D& b, const Point2D& c, long width, long height,
               Visit&& visit);

}  // namespace tervik::texture

#include "tools/texture/rasterize_impl.h"
