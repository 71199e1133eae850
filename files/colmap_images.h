#pragma once
// COLMAP's image list ("images.txt"): the poses of several photographs, each on two lines
// (IMAGE_ID QW QX QY QZ TX TY TZ CAMERA_ID NAME, then its 2-D points, none here). The rotation
// and translation take a scene point to the camera frame as COLMAP keeps them (x right, y down,
// z forward; solver/pose_conventions.h).

#include <optional>
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

// Why COLMAP could not read `name` back as an image's NAME, or nothing when it can: its reader
// splits a record at blanks and ends it at a line break, so an empty name, a blank and a control
// character (a tab, a line break) are refused. The text names the image (cut when long).
std::optional<std::string> ColmapNameProblem(const std::string& name);

// The file's text: the usual comment heading with the image count, then each image's two lines;
// numbers with 17 significant digits, so each reads back as the same double.
std::string ColmapImagesText(const std::vector<ColmapImage>& images);

// Writes the list to `path`, replacing an existing file atomically (a second link to the old
// file keeps the old text). The failure names the file; an image whose name ColmapNameProblem
// refuses fails the write before anything is written.
Expected<void> WriteColmapImages(const std::string& path, const std::vector<ColmapImage>& images);

}  // namespace zelv
