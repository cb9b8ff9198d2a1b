#pragma once
// Stages 3 and 5 of texturing: charts, their place in the atlas, and the atlas's texels.
#include <array>
#include <vector>

#include "tools/texture/texture_mesh.h"
#include "tools/texture/visibility.h"

namespace tervik::texture {

// Connected faces textured from one view; or (view -1, the last chart) all the faces that no
// view sees, each given a small right triangle in a grid of cells, filled from the vertex
// colours.
struct Chart {
  int view = -1;
  std::vector<std::uint32_t> faces;  // ascending
  // The bounding box of the faces' vertices in the view's image (pixels); for the unseen faces
  // (0, 0) to the grid's size in texels.
  double min_x = 0, min_y = 0, max_x = 0, max_y = 0;
  int cell = 0;       // unseen faces: texels per grid cell on a side
  long columns = 0;   // unseen faces: cells per grid row
  // Its rectangle in the atlas (texels, padding included) and the atlas position of the box's
  // corner (min_x, min_y).
  long rect_x = 0, rect_y = 0, rect_w = 0, rect_h = 0;
  double origin_x = 0, origin_y = 0;
};

// Charts from the faces' views (-1: unseen): faces joined by an edge with the same view form
// one chart, found by breadth-first search from the lowest face index, so the order is fixed;
// the unseen faces, if any, form the last chart.
std::vector<Chart> build_charts(const TriMesh& mesh, const std::vector<int>& labels,
                                const std::vector<std::array<long, 3>>& neighbours,
                                const std::vector<Projection>& projections);

// Packs the charts into an atlas_size square with `padding` texels around each, at one scale
// (texels per image pixel) for all photo charts: 1 when everything fits, otherwise the largest
// scale, in steps of 10 %, at which stb_rect_pack places them all. The unseen faces' grid does
// not scale: its cells are 4 texels (2 when the grid would take more than a sixteenth of the
// atlas). Sets the charts' rectangles and origins; returns the scale. Throws TervikError when
// even the smallest scale fails.
double pack_charts(std::vector<Chart>& charts, long atlas_size, int padding);

// The atlas position (texels) of corner `corner` of face `face` of the chart.
Point2D atlas_position(const Chart& chart, const TriMesh& mesh, const std::vector<Projection>& projections,
                       std::uint32_t face, int corner, double scale);

// What filling a chart needs besides the charts themselves.
struct FillInput {
  const TriMesh* mesh;
  const std::vector<View>* views;
  const std::vector<std::uint32_t>* indices;  // output vertex of every face corner
  const std::vector<float>* texcoords;        // u v per output vertex
  const std::vector<std::array<float, 3>>* correction;  // colour added per output vertex
  const std::vector<std::uint32_t>* source;   // input vertex of every output vertex
  double scale;
  int padding;
  // With blend > 1 a photo texel is blended_colour() of its face's best `blend` views.
  const std::vector<std::vector<float>>* quality = nullptr;  // quality[v][f], as face_quality
  int blend = 1;
};

// Makes `atlas` a square of `size` texels on a side, every texel `background` (the mean photo
// colour, which texels outside all charts keep, so that coarse mip levels stay neutral). In
// place: the atlas is the largest buffer, and a copy of it costs as much as a stage.
// The three channels are laid out on up to `threads` threads.
void blank_atlas(long size, const Rgb& background, ImageRGB<unsigned char>& atlas, int threads = 1);

// The photo colours of a chart's texels, without the correction (empty for the unseen faces'
// chart): every texel whose centre lies within one texel of one of its triangles gets the
// photo's colour there (bilinear, from foreground pixels only when the view has a silhouette),
// or with in.blend > 1 blended_colour() of its 3D point. Does not read in.correction, so it can
// run while the seam levelling computes it. In the order fill_atlas writes the texels.
std::vector<std::array<float, 3>> sample_chart_photo(const Chart& chart, const FillInput& in,
                                                     long atlas_size);

// Fills the charts into `atlas` (from blank_atlas): every texel of sample_chart_photo() (photo[i]
// for chart i) gets that colour plus the interpolated correction; an unseen face gets its vertex
// colours plus the correction. Then every chart's padding is filled by `padding` + 1 rounds of
// dilation. Charts are spread over `threads`; the result does not depend on it.
void fill_atlas(const std::vector<Chart>& charts, const FillInput& in,
                const std::vector<std::vector<std::array<float, 3>>>& photo, int threads,
                ImageRGB<unsigned char>& atlas);

// The colour of the view's photo at image position p (pixels): bilinear over the pixel centres
// around p, from foreground pixels only where the view has a silhouette and any of the four is
// foreground.
std::array<float, 3> sample_photo(const View& view, const Point2D& p);

// The colour of world point X on face `face`, averaged over the `blend` views (at most 8) that
// see the face best, each weighted by quality[v][face] and sampled by sample_photo at X's
// projection into it. With misplaced geometry (a visual hull) the average is what novel views
// see best; on a true surface it also evens out each photo's aliasing.
std::array<float, 3> blended_colour(const std::vector<View>& views,
                                    const std::vector<std::vector<float>>& quality,
                                    std::uint32_t face, const Point3D& X, int blend);

}  // namespace tervik::texture
