#pragma once
// Colouring of a frame's points from the colour images, and a photo-consistency filter.
//
// Cameras are compared by their facing score: the dot product of a patch normal with the unit
// vector from the scene toward the camera along its viewing axis (the negated third row of the
// camera's rotation). A camera sees a patch when the patch projects into its image, lies in front
// of it, and is at most the depth tolerance behind the nearest point of that camera's depth map
// at its pixel (depth maps as built by depth_maps_pixel from the same patches).
//
// Colour windows are the 3 x 3 pixels around a centre pixel (x = column, y = row). A window that
// reaches over the image border is clamped to the image: its missing pixels repeat the nearest
// border pixel, so every window has nine samples.
#include <cstdint>
#include <vector>

#include "common/patch.h"
#include "sculptor/depth_maps.h"
#include "tervik/imagergb.h"
#include "tervik/multiview.h"
#include "tervik/points.h"

namespace tervik {

// Colour of a patch that no camera faces with a score above 0.5.
inline constexpr unsigned char kUnseenGrey = 64;

// How colour_points() coloured a patch, where the caller asks (values of `coloured`).
inline constexpr std::uint8_t kNotColoured = 0;              // no camera sees it: grey
inline constexpr std::uint8_t kColouredByBlend = 1;          // the blend of add_colors
inline constexpr std::uint8_t kColouredBySeeingCameras = 2;  // see colour_points()

// Overwrites r, g, b of every patch: among the cameras of `views` that see the patch (depth
// tolerance L, in the units of point_depth), the up to three best-facing ones with a score above
// 0.5 are blended, each weighted by its score; a patch without one becomes (64, 64, 64).
// Positions and normals are not changed. `maps` must hold one map per view, sized as its camera,
// and each colour image must be its camera's size; otherwise throws TervikError. Patches are
// coloured on up to `threads` threads; the colours do not depend on it.
void add_colors(std::vector<Patch>& patches, const std::vector<DepthMap>& maps,
                const multiview::MultiView<ImageRGB<unsigned char>>& views, double L,
                unsigned threads = 1);

// add_colors(patches, maps, views, L, threads) with the depth maps drawn here: each camera's map
// is drawn and at once read by the visibility tests of the points facing that camera, while it
// is still in the cache. The colours are add_colors' to the bit. `maps` is scratch storage, kept
// by the caller from call to call: one map per thread used, not per camera. Throws TervikError
// when a colour image is smaller than its camera.
//
// With `coloured` given (resized to one entry per patch), a patch that the blend leaves grey is
// still coloured when a camera that faces it (score above 0, not 0.5) sees it: it takes the
// pixel of the best-facing such camera (one camera: at such angles a blend of several mixes the
// colours of neighbouring parts of the surface). `coloured` then tells, per patch,
// kColouredByBlend, kColouredBySeeingCameras or kNotColoured (grey: no camera facing it sees
// it).
void colour_points(std::vector<Patch>& patches, std::vector<DepthMap>& maps,
                   const multiview::MultiView<ImageRGB<unsigned char>>& views, double L,
                   unsigned threads = 1, std::vector<std::uint8_t>* coloured = nullptr);

// Moves photo-inconsistent patches by random displacement: a patch is inconsistent when, among
// the cameras that see it (depth tolerance `tol`) with a facing score above 0.9, the best one's
// window correlates negatively (ncc_rgb < 0) with another's. Such a patch is moved to random
// positions within `tol` (per axis) of where it was until it is consistent or its attempts run
// out, when it is put back. Draws from sampler_rand() (sculptor/random.h). Returns the number
// of patches that were displaced.
long photo_consistency(std::vector<Patch>& patches, const std::vector<DepthMap>& maps,
                       const multiview::MultiView<ImageRGB<unsigned char>>& views, double tol);

// Normalised cross-correlation of the colour windows around pixel a of A and pixel b of B, over
// the nine pixels and three channels; NaN when either window has no variation.
double ncc_rgb(const Coord2D<short>& a, const ImageRGB<unsigned char>& A, const Coord2D<short>& b,
               const ImageRGB<unsigned char>& B);

// Mean colour (red, green, blue) of the window around c, each channel in 0 to 255.
Point3D mean_rgb(const Coord2D<short>& c, const ImageRGB<unsigned char>& image);

// Variance of the window around c about `mean`: the squared deviations summed over the nine
// pixels and the three channels, divided by nine.
double variance_rgb(const Coord2D<short>& c, const ImageRGB<unsigned char>& image,
                    const Point3D& mean);

}  // namespace tervik
