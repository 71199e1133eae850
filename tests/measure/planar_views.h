#pragma once
// What the measuring programs share: a random camera pose looking at the plane Z = 0, the
// projection centre of an OpenCV pose, and the median of their figures.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <opencv2/calib3d.hpp>
#include <random>
#include <vector>

// A computer-vision camera (q = R (P - C), x right, y down, z forward).
struct PlaneView {
  Eigen::Matrix3d R;
  Eigen::Vector3d C;
};

// A camera 10 units from the plane's origin region, tilted up to 50 degrees about a random axis,
// any roll. Draws five uniform numbers from `random`.
inline PlaneView RandomPlaneView(std::mt19937_64& random) {
  std::uniform_real_distribution<double> uniform(0, 1);
  const double tilt = 50 * uniform(random) * M_PI / 180, azimuth = 2 * M_PI * uniform(random);
  const double roll = 2 * M_PI * uniform(random);
  // Looking straight down: camera axes right = X, down = -Y, forward = -Z.
  Eigen::Matrix3d down;
  down << 1, 0, 0, 0, -1, 0, 0, 0, -1;
  const Eigen::Matrix3d tiltR =
      Eigen::AngleAxisd(tilt, Eigen::Vector3d(std::cos(azimuth), std::sin(azimuth), 0))
          .toRotationMatrix();
  const Eigen::Matrix3d rollR =
      Eigen::AngleAxisd(roll, Eigen::Vector3d::UnitZ()).toRotationMatrix();
  PlaneView view;
  view.R = rollR * down * tiltR.transpose();
  const Eigen::Vector3d axis = view.R.row(2).transpose();  // forward in the scene
  view.C = Eigen::Vector3d(2 * uniform(random) - 1, 2 * uniform(random) - 1, 0) - 10 * axis;
  return view;
}

// The projection centre of an OpenCV pose (rvec, tvec world to camera): C = -Rᵀ t.
inline Eigen::Vector3d CentreOfOpenCvPose(const cv::Mat& rvec, const cv::Mat& tvec) {
  cv::Mat Rm;
  cv::Rodrigues(rvec, Rm);
  Eigen::Matrix3d R;
  Eigen::Vector3d t;
  for (int i = 0; i < 3; ++i) {
    for (int j = 0; j < 3; ++j) R(i, j) = Rm.at<double>(i, j);
    t(i) = tvec.at<double>(i);
  }
  return -R.transpose() * t;
}

// The median of the values; NaN when there are none.
inline double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}
