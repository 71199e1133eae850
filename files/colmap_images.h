#pragma once
// COLMAP's image list ("images.txt"): the poses of several photographs, each on two lines
// (IMAGE_ID QW QX QY QZ TX TY TZ CAMERA_ID NAME, then its 2-D points, none here). The rotation
// and translation take a scene point to the camera frame as COLMAP keeps them (x right, y down,
// z forward; solver/pose_conventions.h).

#include <string>
#include <vector>

#include "base/failure.h"

namespace zelv {

struct ColmapImage {
  long long imageId = 0;
  double qw = 1, qx = 0, qy = 0, qz = 0;  // unit quaternion, qw ≥ 0
  double tx = 0, ty = 0, tz = 0;          // scene units
  long long cameraId = 1;
  std::string name;
};

// The file's text: the usual comment heading with the image count, then each image's two lines;
// numbers with 17 significant digits, so each reads back as the same double.
std::string ColmapImagesText(const std::vector<ColmapImage>& images);

// Writes the list to `path`, replacing an existing file atomically (a second link to the old
// file keeps the old text). The failure names the file.
Expected<void> WriteColmapImages(const std::string& path, const std::vector<ColmapImage>& images);

}  // namespace zelv
