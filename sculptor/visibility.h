#pragma once
// Visibility of a point in a camera from the frame's depth maps, shared by the colouring and the
// photo-consistency filter.
#include <string>
#include <vector>

#include "sculptor/depth_maps.h"
#include "tervik/camera.h"
#include "tervik/imagergb.h"
#include "tervik/multiview.h"
#include "tervik/points.h"

namespace tervik {

// Unit vector from the scene toward each camera of `views` along its viewing axis: the negated
// third row of its rotation (world to camera), in camera order.
std::vector<Point3D> facing_vectors(const multiview::MultiView<ImageRGB<unsigned char>>& views);

// Throws TervikError, naming `caller` and the camera, unless every colour image of `views` is at
// least its camera's size.
void check_colour_images(const std::string& caller,
                         const multiview::MultiView<ImageRGB<unsigned char>>& views);

// Throws TervikError, naming `caller` and the camera, unless there is one depth map per view
// with its camera's extents and every colour image is at least its camera's size.
void check_visibility_inputs(const std::string& caller,
                             const std::vector<DepthMap>& maps,
                             const multiview::MultiView<ImageRGB<unsigned char>>& views);

// True when camera `cam` sees world point X: X projects to pixel (x, y) of its image (written),
// lies in front of the camera, and its depth exceeds the map's value there by at most `tol`.
bool sees(const Camera& cam, const DepthMap& map, const Point3D& X, double tol, long& x,
          long& y);

}  // namespace tervik
