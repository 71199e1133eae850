#pragma once
// The calibration layer's own projection through OpenCV's lens models, with the Jacobian in the
// order of the intrinsics' covariance. Included only by the layer's sources, which link OpenCV;
// no public header includes it.
//
// Frames: board points in the board's frame (scene units), the pose OpenCV's (rvec, tvec: board
// to camera, x right, y down, z forward), pixels raw (the centre of the top-left pixel at 0, 0).

#include <Eigen/Core>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <vector>

#include "files/lens_model.h"

namespace zelv::lens_projection {

// A camera as OpenCV's projection takes it.
struct Lens {
  bool fisheye = false;
  cv::Matx33d K = cv::Matx33d::eye();
  std::vector<double> coefficients;  // as many as the model keeps
};

inline Lens LensOf(const LensCalibration& camera) {
  Lens lens;
  lens.fisheye = camera.kind == LensModelKind::Fisheye;
  lens.K = cv::Matx33d(camera.fx, camera.skew, camera.cx, 0, camera.fy, camera.cy, 0, 0, 1);
  lens.coefficients = camera.coefficients;
  return lens;
}

// The points projected by the lens from the pose (raw pixels). With `jacobian`, also
// d(projection)/d(parameters): 2n rows (x, y of each point), the columns fx, fy, cx, cy, the
// coefficients, then rvec and tvec.
inline std::vector<cv::Point2d> Project(const Lens& lens, const std::vector<cv::Point3d>& points,
                                        const cv::Vec3d& rotation, const cv::Vec3d& translation,
                                        Eigen::MatrixXd* jacobian = nullptr) {
  std::vector<cv::Point2d> projected;
  if (points.empty()) return projected;
  if (jacobian == nullptr) {
    if (lens.fisheye)
      cv::fisheye::projectPoints(points, projected, rotation, translation, lens.K,
                                 lens.coefficients);
    else
      cv::projectPoints(points, rotation, translation, lens.K, lens.coefficients, projected);
    return projected;
  }
  cv::Mat opencvJacobian;
  if (lens.fisheye)
    cv::fisheye::projectPoints(points, projected, rotation, translation, lens.K, lens.coefficients,
                               0, opencvJacobian);
  else
    cv::projectPoints(points, rotation, translation, lens.K, lens.coefficients, projected,
                      opencvJacobian);
  opencvJacobian.convertTo(opencvJacobian, CV_64F);
  const int n = static_cast<int>(lens.coefficients.size());
  const int rows = 2 * static_cast<int>(points.size());
  jacobian->setZero(rows, 4 + n + 6);
  // OpenCV's columns for fx, fy, cx, cy, the first coefficient, rvec then tvec: the fisheye
  // projection puts the pose after the intrinsics, the pinhole one before them.
  const int focal = lens.fisheye ? 0 : 6, centre = lens.fisheye ? 2 : 8;
  const int coefficient = lens.fisheye ? 4 : 10, pose = lens.fisheye ? 8 : 0;
  for (int r = 0; r < rows; ++r) {
    const double* row = opencvJacobian.ptr<double>(r);
    (*jacobian)(r, 0) = row[focal];
    (*jacobian)(r, 1) = row[focal + 1];
    (*jacobian)(r, 2) = row[centre];
    (*jacobian)(r, 3) = row[centre + 1];
    for (int k = 0; k < n; ++k) (*jacobian)(r, 4 + k) = row[coefficient + k];
    for (int k = 0; k < 6; ++k) (*jacobian)(r, 4 + n + k) = row[pose + k];
  }
  return projected;
}

// The rays of raw pixels, as points (x', y', 1) on the normalised plane, through OpenCV's inverse
// lens model iterated to 1e-12.
inline std::vector<cv::Point3d> Unproject(const Lens& lens,
                                          const std::vector<cv::Point2d>& pixels) {
  const cv::TermCriteria criteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 1000, 1e-12);
  std::vector<cv::Point2d> normalised;
  if (pixels.empty()) return {};
  if (lens.fisheye)
    cv::fisheye::undistortPoints(pixels, normalised, lens.K, lens.coefficients, cv::noArray(),
                                 cv::noArray(), criteria);
  else
    cv::undistortPoints(pixels, normalised, lens.K, lens.coefficients, cv::noArray(), cv::noArray(),
                        criteria);
  std::vector<cv::Point3d> rays;
  rays.reserve(normalised.size());
  for (const cv::Point2d& p : normalised) rays.emplace_back(p.x, p.y, 1.0);
  return rays;
}

}  // namespace zelv::lens_projection
