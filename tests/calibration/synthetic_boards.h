#pragma once
// Rendered views of a chessboard for the calibration's tests and measurements: a known camera
// (OpenCV's lens models) looks at a board of 10 × 7 corners 30 mm apart from varied poses, and
// each corner's pixel gets Gaussian noise.
#include <Eigen/Geometry>
#include <array>
#include <cmath>
#include <fstream>
#include <opencv2/calib3d.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "calibration/camera_calibration.h"

namespace zelv::testing {

struct SyntheticCamera {
  bool fisheye = false;
  int width = 1280, height = 960;
  double fx = 1000, fy = 1000, cx = 643, cy = 477;
  std::vector<double> coefficients = {-0.2, 0.05, 0, 0, 0};
};

struct BoardLayout {
  int columns = 10, rows = 7;
  double spacing = 30;  // mm
};

struct SyntheticView {
  CalibrationView view;
  std::vector<PixelPoint> exact;  // the corners' pixels before the noise
  cv::Vec3d rotation, translation;
};

inline std::vector<cv::Point2d> ProjectBoard(const SyntheticCamera& camera,
                                             const std::vector<cv::Point3d>& board,
                                             const cv::Vec3d& rotation,
                                             const cv::Vec3d& translation) {
  const cv::Matx33d K(camera.fx, 0, camera.cx, 0, camera.fy, camera.cy, 0, 0, 1);
  std::vector<cv::Point2d> image;
  if (camera.fisheye)
    cv::fisheye::projectPoints(board, image, rotation, translation, K, camera.coefficients);
  else
    cv::projectPoints(board, rotation, translation, K, camera.coefficients, image);
  return image;
}

// `count` views: the board's centre at a random pixel of a region `reach` of the frame's width
// and height across, its middle at `across` of the width (0.5: the frame's middle), 350–800 mm
// away, tilted up to 45° about a random axis and turned any way about its normal; views whose
// corners would leave the frame are drawn again. Corner noise σ `noise` px in x and in y.
inline std::vector<SyntheticView> RenderViews(const SyntheticCamera& camera, int count,
                                              double noise, std::mt19937_64& random,
                                              double reach = 0.8, double across = 0.5,
                                              const BoardLayout& layout = {}) {
  std::uniform_real_distribution<double> uniform(0, 1);
  std::normal_distribution<double> gauss(0, noise);
  std::vector<cv::Point3d> board;
  for (int r = 0; r < layout.rows; ++r)
    for (int c = 0; c < layout.columns; ++c)
      board.emplace_back(c * layout.spacing, r * layout.spacing, 0);
  const Eigen::Vector3d middle(0.5 * (layout.columns - 1) * layout.spacing,
                               0.5 * (layout.rows - 1) * layout.spacing, 0);
  std::vector<SyntheticView> views;
  while (static_cast<int>(views.size()) < count) {
    const double u = camera.width * (across + reach * (uniform(random) - 0.5));
    const double v = camera.height * (0.5 + reach * (uniform(random) - 0.5));
    const double depth = 350 + 450 * uniform(random);
    const double tilt = 45 * M_PI / 180 * uniform(random), azimuth = 2 * M_PI * uniform(random);
    const double roll = 2 * M_PI * uniform(random);
    const Eigen::Matrix3d R =
        (Eigen::AngleAxisd(tilt, Eigen::Vector3d(std::cos(azimuth), std::sin(azimuth), 0)) *
         Eigen::AngleAxisd(roll, Eigen::Vector3d::UnitZ()))
            .toRotationMatrix();
    // The centre's ray through (u, v), ignoring the lens: near enough to place the board.
    const Eigen::Vector3d centre =
        depth * Eigen::Vector3d((u - camera.cx) / camera.fx, (v - camera.cy) / camera.fy, 1);
    const Eigen::Vector3d t = centre - R * middle;
    const Eigen::AngleAxisd axis(R);
    const Eigen::Vector3d rv = axis.angle() * axis.axis();
    SyntheticView view;
    view.rotation = cv::Vec3d(rv.x(), rv.y(), rv.z());
    view.translation = cv::Vec3d(t.x(), t.y(), t.z());
    const std::vector<cv::Point2d> image =
        ProjectBoard(camera, board, view.rotation, view.translation);
    bool inside = true;
    for (std::size_t i = 0; i < board.size(); ++i) {
      const Eigen::Vector3d p = R * Eigen::Vector3d(board[i].x, board[i].y, 0) + t;
      inside = inside && p.z() > 0 && image[i].x > 2 && image[i].y > 2 &&
               image[i].x < camera.width - 3 && image[i].y < camera.height - 3;
    }
    if (!inside) continue;
    view.view.name = "view" + std::to_string(views.size() + 1);
    for (std::size_t i = 0; i < board.size(); ++i) {
      view.view.ids.push_back(static_cast<int>(i));
      view.view.board.push_back({board[i].x, board[i].y});
      view.exact.push_back({image[i].x, image[i].y});
      view.view.image.push_back({image[i].x + gauss(random), image[i].y + gauss(random)});
    }
    views.push_back(std::move(view));
  }
  return views;
}

inline std::vector<CalibrationView> ViewsOf(const std::vector<SyntheticView>& synthetic) {
  std::vector<CalibrationView> views;
  for (const SyntheticView& s : synthetic) views.push_back(s.view);
  return views;
}

// The options of a calibration of `camera`'s views with `model`.
inline CalibrationOptions OptionsFor(const SyntheticCamera& camera, CalibrationModel model) {
  CalibrationOptions options;
  options.model = model;
  options.imageWidth = camera.width;
  options.imageHeight = camera.height;
  return options;
}

// A coordinate file's two numbers per line, "x ; y" (the real photographs' corner files).
inline std::vector<std::array<double, 2>> ReadPairs(const std::string& name) {
  std::ifstream file(name);
  std::vector<std::array<double, 2>> pairs;
  std::string line;
  while (std::getline(file, line)) {
    std::istringstream text(line);
    std::array<double, 2> pair{};
    char separator = 0;
    if (text >> pair[0] >> separator >> pair[1]) pairs.push_back(pair);
  }
  return pairs;
}

}  // namespace zelv::testing
