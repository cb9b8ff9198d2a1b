#pragma once
// Ray-cast images of a synthetic object: the silhouette and the colour image of one camera.
//
// Every pixel (x, y) is decided by the one ray through its centre (x + 0.5, y + 0.5): the
// silhouette is 255 where that ray hits the object and 0 elsewhere; the colour image shows the
// object's surface pattern where it hits and the background colour elsewhere. A camera with lens
// distortion sees through it: the ray of pixel (x, y) is the ideal ray through the position that
// the distortion maps to (x + 0.5, y + 0.5).
#include "tervik/imagegray.h"
#include "tervik/imagergb.h"
#include "tools/scene/cameras.h"
#include "tools/scene/geometry.h"

namespace tervik::scene {

// The surface pattern: a 3-d checker of four saturated colours in world coordinates (cells of
// `cell` world units), shaded by a directional light as ambient + diffuse * max(0, n . light).
struct ColorPattern {
  double cell = 0.1;
  Point3D light = Point3D(0.3, -0.5, 0.8);  // direction towards the light, need not be unit
  double ambient = 0.7;
  double diffuse = 0.3;
};

// Background colour of the colour images (a grey distinct from the four pattern colours).
inline constexpr Coord3D<unsigned char> background_color{90, 90, 90};

// Unshaded pattern colour at world point q (red, green, blue, yellow cells).
Coord3D<unsigned char> checker_color(const ColorPattern& pattern, const Point3D& q);
// Shaded colour of the surface at point q with outward unit normal n, as the colour images
// show it from any camera (the shading does not depend on the view).
Coord3D<unsigned char> surface_color(const ColorPattern& pattern, const Point3D& q,
                                     const Point3D& n);

// Renders the camera's view of `object` into a silhouette and a colour image, both
// cam.width x cam.height. The camera must lie outside the object; its distortion must be
// invertible over the image (see check_distortion).
void render_view(const Solid& object, const ViewCamera& cam, const ColorPattern& pattern,
                 ImageGray<unsigned char>& silhouette, ImageRGB<unsigned char>& color);
// The silhouette alone (255 foreground, 0 background).
ImageGray<unsigned char> render_silhouette(const Solid& object, const ViewCamera& cam);

// Throws TervikError when the camera's distortion cannot be inverted at some position of the
// image border (it folds the image there), naming the coefficients and the image size.
void check_distortion(const ViewCamera& cam);

}  // namespace tervik::scene
