#pragma once
// Drawing textured and vertex-coloured meshes into a camera, and comparing the drawing with the
// camera's photo: render_view's textured .glb files, its --unlit drawing and its leave-one-out
// photo check (--psnr).
//
// Pixel convention as in render_view.h: a face covers a pixel when it covers its centre.
// Texture coordinates follow glTF (v downwards); a texel (x, y) covers [x, x + 1) x [y, y + 1)
// of the texture scaled to its size, and is sampled bilinearly, clamped at the borders.
#include <array>
#include <cstdint>
#include <vector>

#include "tervik/camera.h"
#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tervik/points.h"
#include "tools/common/gltf.h"

namespace tervik::texture {

// A mesh to draw: positions, triangles, and either texture coordinates with a texture or
// per-vertex colours (or neither: grey).
struct DrawableMesh {
  std::vector<Point3D> positions;
  std::vector<std::array<std::uint32_t, 3>> faces;
  std::vector<Coord3D<unsigned char>> colors;  // per vertex, or empty
  std::vector<Point2D> texcoords;              // per vertex (u, v), or empty
  ImageRGB<unsigned char> texture;             // used with texcoords
};

// The mesh of a .glb file as read by tools/common/gltf_read.h, its texture decoded.
DrawableMesh drawable_from_gltf(const tools::GltfMesh& mesh, ImageRGB<unsigned char> texture);

// Draws the mesh over `canvas` (the camera's size) with a depth buffer: every pixel takes the
// texture (perspective-correct) or the vertex colours interpolated across the face; unless
// `unlit`, multiplied by 0.35 + 0.65 |cos| of the angle between the face and the line of sight,
// as render_view shades meshes. Sets covered[pixel] = 1 where a face was drawn (camera-sized,
// row after row) when `covered` is not null.
void draw_mesh(const Camera& camera, const DrawableMesh& mesh, bool unlit,
               ImageRGB<unsigned char>& canvas, std::vector<unsigned char>* covered);

// The comparison of a drawing with a photo over a set of pixels.
struct PhotoComparison {
  long pixels = 0;        // pixels compared
  long silhouette = 0;    // foreground pixels of the silhouette (all pixels without one)
  double mse = 0.0;       // mean squared difference per channel, in 8-bit units squared
  double psnr = 0.0;      // 10 log10(255^2 / mse), dB; infinite for identical images
  double ssim = 0.0;      // mean structural similarity of the luma, 1 for identical images
};

// Compares `drawing` with `photo` at the pixels that the drawing covers and the silhouette
// holds as foreground (every covered pixel when `silhouette` is empty). The SSIM is computed on
// the luma (0.299 R + 0.587 G + 0.114 B) with a Gaussian window of 11 x 11 pixels (sigma 1.5)
// and the usual constants (0.01 * 255)^2 and (0.03 * 255)^2, averaged over the compared pixels;
// each window takes only compared pixels, its weights renormalised, so that neither the
// background around the silhouette nor the pixels the drawing leaves empty enter it.
PhotoComparison compare_with_photo(const ImageRGB<unsigned char>& drawing,
                                   const std::vector<unsigned char>& covered,
                                   const ImageRGB<unsigned char>& photo,
                                   const ImageGray<unsigned char>& silhouette);

}  // namespace tervik::texture
