#pragma once
// Silhouette distances for scoring: exact Euclidean distance transforms of silhouettes and the
// silhouette residual of a point against a set of cameras.
#include <vector>

#include "tervik/imagegray.h"
#include "tools/scene/cameras.h"
#include "tools/scene/geometry.h"

namespace tervik::scene {

// Squared Euclidean distance in pixels (between pixel centres) from every pixel of a w x h
// image, in memory order, to the nearest pixel where target is non-zero; values of 1e20 or more
// mean that there is no such pixel.
std::vector<double> squared_distance_transform(const std::vector<unsigned char>& target, long w,
                                               long h);

// The intersection over union of the silhouette's foreground (128 or more) and the pixels whose
// centre (x + 0.5, y + 0.5) a face of the mesh covers in the camera (ideal pinhole projection;
// faces with a corner behind the camera are left out). 1 when both are empty.
double silhouette_iou(const ImageGray<unsigned char>& silhouette, const ViewCamera& cam,
                      const std::vector<Point3D>& vertices,
                      const std::vector<Coord3D<long long>>& faces);

// The silhouettes of one frame prepared for residual queries.
class SilhouetteSet {
 public:
  // Renders the object's silhouette in every camera and its distance transforms.
  SilhouetteSet(const Solid& object, const std::vector<ViewCamera>& cameras);
  // Silhouette residual of x in pixels (see PointScore); false when no camera sees x.
  bool residual(const Point3D& x, double& value) const;

 private:
  struct View {
    const ViewCamera* camera = nullptr;
    std::vector<unsigned char> foreground;  // 1 where the silhouette is foreground
    std::vector<double> to_foreground;      // squared distance to the nearest foreground pixel
    std::vector<double> to_background;      // squared distance to the nearest background pixel
  };
  std::vector<View> views_;
};

}  // namespace tervik::scene
