#pragma once
// The studio's cameras as the browser player draws them and looks through them.
//
// Every tool projects with the calibration's P alone, so the player's cameras come from P too:
// P = s K [R | t] with s > 0, K upper triangular with a positive diagonal and K(2,2) = 1, and R
// a rotation (world to camera; camera coordinates have x to the right, y down, z forward).
// Image positions are pixels with (0, 0) the top-left corner of the image.
#include <array>
#include <string>
#include <vector>

#include "tervik/camera.h"

namespace tervik::player {

struct PlayerCamera {
  int index = 0;                // camera number in the calibration template
  long width = 0, height = 0;   // image size, pixels
  std::array<double, 9> k{};    // intrinsic matrix, row after row
  std::array<double, 9> r{};    // rotation world -> camera, row after row
  std::array<double, 3> t{};    // translation: camera coordinates are R X + t
};

// K, R and t recovered from `camera`'s P (an RQ decomposition of its left 3 x 3 block). Throws
// TervikError naming the camera when that block is singular (no pinhole camera).
PlayerCamera player_camera(int index, const Camera& camera);

// The cameras as the player's JSON file: {"cameras": [{"index", "width", "height", "K", "R",
// "t"}, ...]} with the matrices as arrays of nine numbers, row after row.
std::string cameras_json(const std::vector<PlayerCamera>& cameras);

}  // namespace tervik::player
