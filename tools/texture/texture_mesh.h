#pragma once
// Texturing of a reconstructed mesh from the calibrated cameras that filmed it: one texture
// atlas per frame, taken from the photos, with texture coordinates for every triangle.
//
// The stages, in order, each in its own file:
//   1. visibility.h      per camera: z-buffer of the mesh, the faces the camera sees (depth test
//                        with a tolerance, inside the silhouette, facing the camera) and how well
//                        (projected area times the cosine of the viewing angle);
//   2. view_selection.h  one camera per face: best quality, with a Potts smoothness term between
//                        neighbouring faces, minimised by iterated conditional modes;
//   3. atlas.h           charts (connected faces with one camera, texture coordinates = their
//                        projections into it), packed into the atlas with stb_rect_pack,
//                        scaled down together until they fit;
//   4. seam_levelling.h  a per-vertex colour correction for every chart that levels the colour
//                        steps along seams (global least squares, sparse Cholesky);
//   5. atlas.h           the atlas filled from the photos plus the correction (each texel from
//                        the chart's camera, or blended from the face's best cameras), faces no
//                        camera sees from the mesh's vertex colours, then dilated into the padding.
// The work in stages 1 and 5 is spread over threads by camera and by chart, and the photos are
// sampled for stage 5 while stage 4 runs; every result depends on its own inputs alone, so the
// output is the same for every thread count.
//
// Conventions: positions in world units of the calibration; image positions in pixels, x the
// column and y the row, a pixel (x, y) covering [x, x + 1) x [y, y + 1); atlas texels likewise,
// and texture coordinates u = x / size, v = y / size (origin at the atlas's top-left corner).
#include <array>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "tervik/camera.h"
#include "tervik/exceptions.h"
#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tervik/points.h"

namespace tervik::texture {

using Rgb = Coord3D<unsigned char>;
using Face = std::array<std::uint32_t, 3>;

// The triangle mesh to texture.
struct TriMesh {
  std::vector<Point3D> positions;
  std::vector<Face> faces;
  std::vector<Rgb> colors;  // per vertex; empty: grey where a colour is needed
};

// One camera with its photo and, optionally, its silhouette (empty: everything is foreground).
struct View {
  Camera camera;
  ImageRGB<unsigned char> image;
  ImageGray<unsigned char> silhouette;
};

struct TextureOptions {
  long atlas_size = 4096;    // texels on a side, a power of two
  int threads = 1;           // 1 or more
  int padding = 4;           // texels around every chart, filled by dilation
  double smoothness = 0.3;   // Potts weight of a camera change between neighbouring faces
  bool level_seams = true;   // stage 4
  double min_cosine = 0.05;  // faces seen more obliquely than this take no texture from a view
  int blend = 3;             // a photo texel averages the face's best `blend` views (1 to 8)
};

// The textured mesh: vertices are split where charts meet (a mesh vertex gets one copy per
// chart it belongs to), faces keep the input's order.
struct TexturedMesh {
  std::vector<float> positions;         // x y z per vertex
  std::vector<float> normals;           // unit normal per vertex (area-weighted mean of faces)
  std::vector<float> texcoords;         // u v per vertex
  std::vector<std::uint32_t> indices;   // three per face
  std::vector<std::uint32_t> source;    // the input vertex of every output vertex
  std::vector<int> face_view;           // the view (index into the views) of every face, -1: none
  ImageRGB<unsigned char> atlas;
  // What was done, for the report.
  long charts = 0;          // charts taken from the photos
  long seen_faces = 0;      // faces textured from a photo
  long unseen_faces = 0;    // faces coloured from the vertex colours
  long seam_edges = 0;      // edges between faces of different cameras
  double scale = 1.0;       // atlas texels per image pixel
};

// Thrown when no face of the mesh is visible in any camera (inside the silhouettes).
class NoVisibleFace : public TervikError {
 public:
  NoVisibleFace() : TervikError("no face of the mesh is visible in any camera") {}
};

// Textures the mesh from the views. Throws TervikError for a mesh without faces, a face index
// out of range, an image or silhouette whose size is not its camera's, bad options, and
// NoVisibleFace when no camera sees any face.
TexturedMesh texture_mesh(const TriMesh& mesh, const std::vector<View>& views,
                          const TextureOptions& options);
// The same, releasing the views' photos and silhouettes (their cameras stay) as soon as the
// atlas's texels are sampled, so that the atlas can take their memory: the peak is then about
// the larger of the two rather than both.
TexturedMesh texture_mesh(const TriMesh& mesh, std::vector<View>&& views,
                          const TextureOptions& options);

// Runs body(i) for i = 0 .. count-1 on `threads` threads, each taking the next index not yet
// taken (ascending). When calls throw, the exception of the lowest failing index is rethrown,
// as on one thread.
void parallel_for(long count, int threads, const std::function<void(long)>& body);
// The same with body(i, t), t the thread's number (0 .. threads-1), for scratch buffers kept
// per thread.
void parallel_for(long count, int threads, const std::function<void(long, int)>& body);

}  // namespace tervik::texture
