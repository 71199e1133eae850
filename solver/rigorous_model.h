#pragma once
// The model the rigorous estimate fits (solver/rigorous_estimate.h): the camera pose and focal
// length, the reprojection error of one pair and its derivatives by the seven parameters. Exposed
// so that the derivatives can be checked against finite differences.
//
// Frames: scene points (X, Y, 0) in scene units; q = R·(P − C) in the camera frame; image points
// (u, v) corrected pixels, origin at the image centre, y up; the projection is F·(q₀, q₁)/q₂.

#include <Eigen/Dense>

#include "solver/planar_pose.h"

namespace zelv::rigorous {

using Vector7 = Eigen::Matrix<double, 7, 1>;
using Matrix7 = Eigen::Matrix<double, 7, 7>;

// The pose being fitted, with the focal length (pixels).
struct Model {
  Eigen::Matrix3d R = Eigen::Matrix3d::Identity();
  Eigen::Vector3d C = Eigen::Vector3d::Zero();
  double F = 0;
};

// The reprojection error (measured − projected) of one pair; false when the point is not in
// front of the camera.
inline bool PointError(const Model& m, const Eigen::Vector3d& RC, const PlanarCorrespondence& p,
                       double& eu, double& ev, Eigen::Vector3d& q) {
  q = p.X * m.R.col(0) + p.Y * m.R.col(1) - RC;
  if (!(q(2) > 0)) return false;
  eu = p.u - m.F * q(0) / q(2);
  ev = p.v - m.F * q(1) / q(2);
  return true;
}

// The derivatives of the projection (u, v) of a point at q = R·(P − C) in the camera frame by
// the parameters: three small rotation angles about the camera axes, the centre, and F.
inline void PointDerivatives(const Model& m, const Eigen::Vector3d& q, double ju[7], double jv[7]) {
  const Eigen::Matrix3d& R = m.R;
  const double iz = 1 / q(2);
  const double fu = m.F * iz, pu = q(0) * iz, pv = q(1) * iz;
  // d(projection)/dq = fu·(1, 0, −pu) and fu·(0, 1, −pv); dq/dδ = −[q]× (R ← exp(δ)·R) and
  // dq/dC = −R.
  ju[0] = fu * (-pu * q(1));
  ju[1] = fu * (q(2) + pu * q(0));
  ju[2] = fu * (-q(1));
  jv[0] = fu * (-q(2) - pv * q(1));
  jv[1] = fu * (pv * q(0));
  jv[2] = fu * q(0);
  for (int k = 0; k < 3; ++k) {
    ju[3 + k] = -fu * (R(0, k) - pu * R(2, k));
    jv[3 + k] = -fu * (R(1, k) - pv * R(2, k));
  }
  ju[6] = pu;
  jv[6] = pv;
}

// The model moved by the parameter step `d`: R ← exp([δ]×)·R for the three small angles δ,
// C ← C + dC (scene units), F ← F + dF (pixels).
inline Model Apply(const Model& m, const Vector7& d) {
  Model next = m;
  const Eigen::Vector3d delta = d.head<3>();
  const double angle = delta.norm();
  if (angle > 0) next.R = Eigen::AngleAxisd(angle, delta / angle).toRotationMatrix() * m.R;
  next.C = m.C + d.segment<3>(3);
  next.F = m.F + d(6);
  return next;
}

}  // namespace zelv::rigorous
