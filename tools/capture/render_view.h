#pragma once
// render_view: draws a point cloud or a triangle mesh over a camera's image, the quickest look
// at a calibration and at a result, and puts several cameras' views side by side.
//
// Positions project through the camera's P, with its lens distortion applied when the
// calibration has any, so the drawing lands where the object appears in the image as read.
// A pixel (x, y) covers [x, x + 1) x [y, y + 1): a triangle covers the pixel when it covers the
// pixel's centre (x + 0.5, y + 0.5); a point marks the pixel its position truncates to.
#include <vector>

#include "tervik/camera.h"
#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tervik/ply.h"

namespace tervik::capture {

using Rgb = Coord3D<unsigned char>;

struct RenderStyle {
  Rgb mesh_color{200, 200, 200};   // mesh without vertex colours
  Rgb point_color{255, 0, 255};    // points without colours
  int point_radius = 1;            // a point is a square of 2 r + 1 pixels on a side
  Rgb outline_color{255, 255, 0};  // silhouette outline
};

// The image positions (x = column, y = row, pixels) and depths of the model's vertices in the
// camera; depth <= 0 marks a vertex behind the camera.
void project_vertices(const Camera& camera, const std::vector<Point3D>& positions,
                      std::vector<Point2D>& pixels, std::vector<double>& depths);

// 255 where a face of the model covers the pixel centre, 0 elsewhere; camera-sized. Faces with
// a vertex behind the camera are skipped.
ImageGray<unsigned char> mesh_coverage(const Camera& camera, const io::PlyModel& model);

// Draws the model over `canvas` (the camera's size) with a depth buffer: faces flat-shaded by
// the angle between their normal and the line of sight, in their vertices' mean colour; points
// (a model without faces) as small squares in their colour.
void draw_model(const Camera& camera, const io::PlyModel& model, const RenderStyle& style,
                ImageRGB<unsigned char>& canvas);

// Paints the silhouette's outline (foreground pixels, 128 or more, with a background
// 4-neighbour) over `canvas`, which must have the silhouette's size.
void draw_outline(const ImageGray<unsigned char>& silhouette, const Rgb& color,
                  ImageRGB<unsigned char>& canvas);

// Multiplies every sample by `factor` (0 to 1): a darker image makes the drawing stand out.
void dim(ImageRGB<unsigned char>& image, double factor);

// The image resampled to width x height by taking, for every output pixel, the input pixel
// under its centre.
ImageRGB<unsigned char> resize_nearest(const ImageRGB<unsigned char>& image, long width, long height);
ImageGray<unsigned char> resize_nearest(const ImageGray<unsigned char>& image, long width, long height);

// The tiles in rows of `columns`, left to right, each in a cell as large as the largest tile,
// separated by `gap` dark grey pixels.
ImageRGB<unsigned char> contact_sheet(const std::vector<ImageRGB<unsigned char>>& tiles,
                                      int columns, int gap = 4);

}  // namespace tervik::capture
