#pragma once
// The projection centre of an OpenCV pose (rvec, tvec world to camera): C = -Rᵀ t.
#include <Eigen/Dense>
#include <opencv2/calib3d.hpp>

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
