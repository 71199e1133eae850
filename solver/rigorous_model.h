#pragma once
// The model the rigorous estimate fits (solver/rigorous_estimate.h): the camera pose and focal
// length, the reprojection error of one pair and its derivatives by the seven parameters. Exposed
// so that the derivatives can be checked against finite differences.
//
// Frames: scene points (X, Y, 0) — or (X, Y, Z) for a scene in space — in scene units; q = R·(P −
// C) in the camera frame; image points (u, v) corrected pixels, origin at the image centre, y up;
// the projection is F·(q₀, q₁)/q₂.

#include <Eigen/Dense>
#include <vector>

#include "solver/planar_pose.h"
#include "solver/rigorous_estimate.h"

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

// A pair of a scene in space: the image point (u, v) as PlanarCorrespondence's, the scene point
// (X, Y, Z).
struct SpatialCorrespondence {
  double u = 0, v = 0;
  double X = 0, Y = 0, Z = 0;
};

// The reprojection error of a pair in space; false when the point is not in front of the camera.
// A separate function so that the plane's arithmetic stays as it is.
inline bool PointError(const Model& m, const Eigen::Vector3d& RC, const SpatialCorrespondence& p,
                       double& eu, double& ev, Eigen::Vector3d& q) {
  q = p.X * m.R.col(0) + p.Y * m.R.col(1) + p.Z * m.R.col(2) - RC;
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

// The derivatives of the projection (u, v) of a point at q in the camera frame by the scene
// point's coordinates (X, Y, Z): d(projection)/dq · R.
inline Eigen::Matrix<double, 2, 3> SceneDerivatives(const Model& m, const Eigen::Vector3d& q) {
  const double iz = 1 / q(2);
  const double fu = m.F * iz, pu = q(0) * iz, pv = q(1) * iz;
  Eigen::Matrix<double, 2, 3> dq;
  dq << fu, 0, -fu * pu, 0, fu, -fu * pv;
  return dq * m.R;
}

// The pieces of the rigorous estimate the single-photo adjustment (solver/adjustment.h) shares.

// The 21 values' covariance, their units.
using ValueMatrix = Eigen::Matrix<double, kResultCount, kResultCount>;

// The result's model and the covariance of its parameters (6 or 7 square, in the order of
// PointDerivatives) and of the 21 values, as the rigorous estimate computed them.
struct Fit {
  Model model;
  Eigen::MatrixXd covariance;
  ValueMatrix valueCovariance = ValueMatrix::Zero();
};

// The rigorous estimate (solver/rigorous_estimate.h), with its fit where `fit` is given.
RigorousResult EstimateWithFit(const std::vector<ControlPoint>& points, double focalLength,
                               const std::optional<StandPose>& start,
                               const RigorousOptions& options, Fit* fit);

// The stand pose of a camera; a failure when the camera is behind the plane Z = 0 or its axis
// misses it.
RigorousFailure StandPoseOf(const Model& m, StandPose& pose);
// The camera of a stand pose and focal length.
Model ModelOf(const StandPose& pose, double F);
// The covariance of the 21 values: G·Σ·Gᵀ with G the central differences of the values in the six
// pose parameters (the top left of `covariance`). False when a difference leaves the valid poses.
bool ValueCovariance(const Model& best, const StandPose& pose, const Eigen::MatrixXd& covariance,
                     ValueMatrix& valueCovariance);
// The median of the values (the upper one of an even count), 0 for none.
double Median(std::vector<double> values);
// The residual length, in estimated σ, beyond which one of `points` points is a blunder, with σ²
// estimated on `dof` degrees of freedom (Bonferroni at the false-blunder probability).
double BlunderSigmas(int dof, int points);
// A robust σ of one image coordinate from residual lengths of a fit of `parameters`.
double RobustSigma(const std::vector<double>& lengths, int parameters);

}  // namespace zelv::rigorous
