#include "solver/pose_conventions.h"

#include <Eigen/Geometry>
#include <algorithm>
#include <cmath>

#include "base/angles.h"

namespace zelv {

StandardPose StandardPoseOf(const Rotation& M, const TPoint3& centre) {
  // Rows of R: the camera axes x, −y, −z in the scene frame (the columns of M, see
  // solver/conventions.h).
  const double rows[3][3] = {{M.xX, M.yX, M.zX}, {-M.xY, -M.yY, -M.zY}, {-M.xZ, -M.yZ, -M.zZ}};
  StandardPose pose;
  Eigen::Matrix3d R;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) {
      pose.R[3 * i + j] = rows[i][j];
      R(i, j) = rows[i][j];
    }
  const double C[3] = {centre.x, centre.y, centre.z};
  for (int i = 0; i < 3; ++i)
    pose.t[i] = -(rows[i][0] * C[0] + rows[i][1] * C[1] + rows[i][2] * C[2]);

  Eigen::Quaterniond q(R);
  q.normalize();
  if (q.w() < 0) q.coeffs() = -q.coeffs();
  pose.qw = q.w();
  pose.qx = q.x();
  pose.qy = q.y();
  pose.qz = q.z();
  // Angle in [0, π] from qw ≥ 0; near zero the axis is ill defined and the vector is 2·(qx, qy,
  // qz).
  const double s = std::sqrt(q.x() * q.x() + q.y() * q.y() + q.z() * q.z());
  const double scale = s > 1e-12 ? 2 * std::atan2(s, q.w()) / s : 2.0;
  pose.rvec = {q.x() * scale, q.y() * scale, q.z() * scale};

  const double phi = std::asin(std::clamp(M.xZ, -1.0, 1.0));
  const double omega = std::atan2(-M.yZ, M.zZ);
  const double kappa = std::atan2(-M.xY, M.xX);
  pose.omegaPhiKappaDeg = {ToDegrees(omega), ToDegrees(phi), ToDegrees(kappa)};
  return pose;
}

}  // namespace zelv
