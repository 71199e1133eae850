// The projection's Jacobian, in the order of the intrinsics' covariance and then the pose,
// against central differences for every lens model the calibration fits.
#include "calibration/lens_projection.h"

#include <gtest/gtest.h>

namespace zelv {
namespace {

using lens_projection::Lens;
using lens_projection::Project;

TEST(LensProjection, TheJacobianMatchesCentralDifferencesForEveryModel) {
  const std::vector<std::pair<bool, std::vector<double>>> models = {
      {false, {-0.2, 0.05, 0.001, -0.002}},
      {false, {-0.2, 0.05, 0.001, -0.002, 0.01}},
      {false, {-0.2, 0.05, 0.001, -0.002, 0.01, 0.02, -0.01, 0.005}},
      {false, {-0.2, 0.05, 0.001, -0.002, 0.01, 0.02, -0.01, 0.005, 1e-3, -2e-3, 3e-3, 1e-3}},
      {false,
       {-0.2, 0.05, 0.001, -0.002, 0.01, 0.02, -0.01, 0.005, 1e-3, -2e-3, 3e-3, 1e-3, 0.01, -0.02}},
      {true, {0.05, -0.01, 0.002, -0.001}},
  };
  const std::vector<cv::Point3d> points = {{-100, 50, 0}, {120, -80, 0}, {30, 140, 0}};
  for (const auto& [fisheye, coefficients] : models) {
    SCOPED_TRACE(coefficients.size());
    Lens lens;
    lens.fisheye = fisheye;
    lens.K = cv::Matx33d(1000, 0, 640, 0, 990, 480, 0, 0, 1);
    lens.coefficients = coefficients;
    const cv::Vec3d rotation(0.2, -0.3, 0.1), translation(-20, 10, 600);
    Eigen::MatrixXd jacobian;
    Project(lens, points, rotation, translation, &jacobian);
    const int n = static_cast<int>(coefficients.size());
    ASSERT_EQ(jacobian.cols(), 4 + n + 6);
    // Perturbs one parameter, in the Jacobian's order, by `step`.
    auto moved = [&](int column, double step) {
      Lens l = lens;
      cv::Vec3d r = rotation, t = translation;
      const int k[4][2] = {{0, 0}, {1, 1}, {0, 2}, {1, 2}};
      if (column < 4)
        l.K(k[column][0], k[column][1]) += step;
      else if (column < 4 + n)
        l.coefficients[column - 4] += step;
      else if (column < 4 + n + 3)
        r[column - 4 - n] += step;
      else
        t[column - 7 - n] += step;
      return Project(l, points, r, t);
    };
    for (int column = 0; column < jacobian.cols(); ++column) {
      const double step = column < 4 ? 1e-3 : column < 4 + n ? 1e-6 : column < 7 + n ? 1e-6 : 1e-3;
      const std::vector<cv::Point2d> plus = moved(column, step), minus = moved(column, -step);
      for (std::size_t i = 0; i < points.size(); ++i) {
        const double dx = (plus[i].x - minus[i].x) / (2 * step);
        const double dy = (plus[i].y - minus[i].y) / (2 * step);
        const double scale = 1e-5 * (1 + std::abs(dx) + std::abs(dy));
        EXPECT_NEAR(jacobian(2 * i, column), dx, scale) << "column " << column;
        EXPECT_NEAR(jacobian(2 * i + 1, column), dy, scale) << "column " << column;
      }
    }
  }
}

}  // namespace
}  // namespace zelv
