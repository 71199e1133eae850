#pragma once
// The pose of an orientation in the terms other programs use. ZELV's own frames are stated in
// solver/conventions.h: there M (the direction cosines) maps the camera frame (x right, y up,
// z back) to the scene frame, and C is the projection centre in the scene file's coordinates.
//
// OpenCV and COLMAP
//   The camera frame is x right, y down, z forward (the viewing direction): ZELV's camera frame
//   turned by 180° about x. The world is the scene frame, a scene point being X = (X, Y, 0) in
//   the scene file's own coordinates. World to camera:
//     X_cam = R · X + t,   R = diag(1, −1, −1) · Mᵀ,   t = −R · C
//   and the pixel on the photograph is K · X_cam / z_cam with K = |F 0 cx; 0 F cy; 0 0 1|, cx, cy
//   the image centre (the principal point of a calibration file; its lens distortion comes on
//   top, as OpenCV applies it). For a camera file with an identity correction table that pixel
//   is (cx + x, cy − y) for the corrected image point (x, y).
//   rvec is R as a Rodrigues vector (axis times angle, radians, angle in [0, π]), as
//   cv::Rodrigues gives it; the quaternion (qw, qx, qy, qz) is R as a unit Hamilton quaternion
//   with qw ≥ 0, which with t is what COLMAP's images.txt holds for an image.
//
// Omega, phi, kappa
//   The usual photogrammetric angles, in degrees: the camera-to-scene rotation of the camera frame
//   x right, y up, z back (ZELV's camera frame, so the rotation is M itself) as
//     M = Rx(ω) · Ry(φ) · Rz(κ)
//   with the elementary rotations of solver/conventions.h: φ = asin(xZ) in [−90°, 90°],
//   ω = atan2(−yZ, zZ), κ = atan2(−xY, xX) in (−180°, 180°].

#include <array>

#include "points/Data_structures.h"
#include "solver/pose.h"

namespace zelv {

struct StandardPose {
  std::array<double, 9> R{};  // world to camera (OpenCV frame), row-major
  std::array<double, 3> t{};  // scene units, OpenCV camera frame
  std::array<double, 3> rvec{};
  double qw = 1, qx = 0, qy = 0, qz = 0;  // R as a quaternion, qw ≥ 0
  std::array<double, 3> omegaPhiKappaDeg{};
};

// The pose of direction cosines `M` (orthonormal, det +1) and projection centre `centre` (scene
// units, the scene file's coordinates) in the conventions above.
StandardPose StandardPoseOf(const Rotation& M, const TPoint3& centre);

// One line naming the conventions of StandardPose, for the JSON output.
inline constexpr const char* kStandardPoseConvention =
    "R, t: world (scene X, Y, Z = 0) to camera, X_cam = R*X + t, camera x right, y down, "
    "z forward (OpenCV, COLMAP), pixel = K*X_cam with fx = fy = F and cx, cy the image centre; "
    "rvec: Rodrigues vector of R; colmap: R as the quaternion qw qx qy qz (qw >= 0) and t, as in "
    "images.txt; omega_phi_kappa_deg: camera (x right, y up, z back) to scene rotation "
    "Rx(omega)*Ry(phi)*Rz(kappa)";

}  // namespace zelv
