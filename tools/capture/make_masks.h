#pragma once
// make_masks: silhouettes (255 foreground, 0 background) from an alpha channel, a grey or
// colour threshold, or the difference to a background plate, with optional opening, closing
// and hole filling.
//
// Images are indexed (x, y), x the column and y the row. Morphology uses a square of
// 2 r + 1 pixels on a side; beyond the image border nothing is foreground for a dilation and
// everything is for an erosion, so an object touching the border is not eaten from there.
#include <string>
#include <vector>

#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tervik/points.h"

namespace tervik::capture {

// The pixels of a PNG file as red, green, blue and alpha samples, row after row.
struct RgbaImage {
  long width = 0, height = 0;
  bool has_alpha = false;             // the file has an alpha channel or a transparent colour
  std::vector<unsigned char> samples;  // 4 per pixel
};

// Reads a PNG file of any colour type as RGBA (grey becomes three equal channels; a file
// without alpha gets 255). Throws TervikFileNotFound or TervikFileError naming the file.
RgbaImage read_png_rgba(const std::string& file);

// Foreground where the alpha is at least `threshold`. Throws TervikError when the image has
// no alpha channel.
ImageGray<unsigned char> mask_from_alpha(const RgbaImage& image, int threshold);
// Foreground where the grey value is at least `threshold` (below it when `invert`).
ImageGray<unsigned char> mask_from_gray(const ImageGray<unsigned char>& image, int threshold,
                                        bool invert);
// Foreground where the colour lies farther than `tolerance` (Euclidean, 8-bit RGB) from `key`.
ImageGray<unsigned char> mask_from_key(const ImageRGB<unsigned char>& image,
                                       const Coord3D<unsigned char>& key, double tolerance);
// Foreground where some channel differs from the background plate's by at least `threshold`.
// Throws TervikError when the sizes differ.
ImageGray<unsigned char> mask_from_difference(const ImageRGB<unsigned char>& image,
                                              const ImageRGB<unsigned char>& plate, int threshold);

// Binary morphology with a square of 2 r + 1 pixels (r = 0 changes nothing).
ImageGray<unsigned char> dilate(const ImageGray<unsigned char>& mask, int r);
ImageGray<unsigned char> erode(const ImageGray<unsigned char>& mask, int r);
// Opening (erode, then dilate) removes specks smaller than the square; closing (dilate, then
// erode) closes gaps narrower than it.
ImageGray<unsigned char> open_mask(const ImageGray<unsigned char>& mask, int r);
ImageGray<unsigned char> close_mask(const ImageGray<unsigned char>& mask, int r);
// Background regions that do not reach the image border (4-connected) become foreground.
ImageGray<unsigned char> fill_holes(const ImageGray<unsigned char>& mask);

// The 4-connected pieces of background that do not reach the image border (holes) and the
// 8-connected pieces of foreground (blobs), each given by its area in pixels; `labels` (if not
// null) receives, per pixel, 1 + the index of its piece in the returned list, 0 elsewhere.
std::vector<long> hole_areas(const ImageGray<unsigned char>& mask, std::vector<long>* labels = nullptr);
std::vector<long> blob_areas(const ImageGray<unsigned char>& mask, std::vector<long>* labels = nullptr);

// Holes of at most `max_area` pixels become foreground; larger holes (the gap between an arm
// and the body) stay.
ImageGray<unsigned char> fill_small_holes(const ImageGray<unsigned char>& mask, long max_area);
// Foreground pieces of fewer than `min_area` pixels become background.
ImageGray<unsigned char> drop_small_blobs(const ImageGray<unsigned char>& mask, long min_area);
// Only the `count` largest foreground pieces stay (ties kept in raster order of their first pixel).
ImageGray<unsigned char> keep_largest(const ImageGray<unsigned char>& mask, long count);

// The clean-up that make_masks applies, in this order: opening, closing, filling of small
// holes, filling of all holes, dropping of small blobs, keeping the largest pieces. A zero
// value leaves its step out.
struct Cleanup {
  int open = 0;
  int close = 0;
  long max_hole_area = 0;
  bool fill = false;
  long min_blob_area = 0;
  long keep_largest = 0;
};
ImageGray<unsigned char> clean(const ImageGray<unsigned char>& mask, const Cleanup& cleanup);

// Share of foreground pixels (value 128 or more), 0 to 1.
double foreground_share(const ImageGray<unsigned char>& mask);

}  // namespace tervik::capture
