// The pose in OpenCV's, COLMAP's and the omega-phi-kappa conventions, checked against OpenCV
// itself: its projection of the scene points with rvec, t and K reproduces the measured image
// points to their residuals.
#include "solver/pose_conventions.h"

#include <gtest/gtest.h>

#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <string>
#include <vector>

#include "app/orientation_residuals.h"
#include "app/orientation_session.h"
#include "fake_ui.h"
#include "files/coordinate_file.h"
#include "orientation_shims.h"

namespace zelv {
namespace {

struct Case {
  const char* folder;  // under tests/data
  const char* camera;
  const char* image;
  int level;
};

// Rx(t) · Ry(t) · Rz(t) as in solver/conventions.h, row-major.
cv::Matx33d Rx(double t) {
  return {1, 0, 0, 0, std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t)};
}
cv::Matx33d Ry(double t) {
  return {std::cos(t), 0, std::sin(t), 0, 1, 0, -std::sin(t), 0, std::cos(t)};
}
cv::Matx33d Rz(double t) {
  return {std::cos(t), -std::sin(t), 0, std::sin(t), std::cos(t), 0, 0, 0, 1};
}

class PoseConventionsTest : public ::testing::TestWithParam<Case> {};

TEST_P(PoseConventionsTest, OpenCvsProjectionReproducesTheMeasuredPointsToTheirResiduals) {
  const Case c = GetParam();
  const std::string folder = std::string(ZELV_TEST_DATA_DIR) + "/" + c.folder + "/";
  testing::FakeUi ui;
  OrientationRun state;
  state.CameraFileName = folder + c.camera;
  state.ImageFileName = folder + c.image;
  state.SceneFileName = folder + "scene.crd";
  state.Settings.EstimateLevel = c.level;
  ASSERT_TRUE(RunOrientation(state, ui, "", 1));
  const std::optional<StandardPose> pose = OrientationOf(state).pose;
  ASSERT_TRUE(pose.has_value());
  const Residuals residuals = ResidualsOf(state);

  VT_Points scene{1};
  ASSERT_TRUE(Shown(ui, ReadScenePoints(state.SceneFileName, scene)));
  std::vector<cv::Point3d> object;
  for (int i = 0; i < scene.Count(); ++i) object.emplace_back(scene.Get(i)->x, scene.Get(i)->y, 0);
  const double F = state.Geometry.FocalLength;
  const double cx = state.Geometry.ImageCentreX, cy = state.Geometry.ImageCentreY;
  const cv::Matx33d K(F, 0, cx, 0, F, cy, 0, 0, 1);
  const cv::Vec3d rvec(pose->rvec[0], pose->rvec[1], pose->rvec[2]);
  const cv::Vec3d t(pose->t[0], pose->t[1], pose->t[2]);
  std::vector<cv::Point2d> projected;
  cv::projectPoints(object, rvec, t, K, cv::noArray(), projected);
  ASSERT_EQ(residuals.points.size(), projected.size());
  for (std::size_t i = 0; i < projected.size(); ++i) {
    // The corrected point (origin at the image centre, y up) as an OpenCV pixel (y down).
    const double u = cx + state.ImagePoints.Get(static_cast<int>(i))->x;
    const double v = cy - state.ImagePoints.Get(static_cast<int>(i))->y;
    const double miss = std::hypot(projected[i].x - u, projected[i].y - v);
    EXPECT_NEAR(miss, residuals.points[i].length, 1e-6 * (1 + residuals.points[i].length)) << i;
  }

  // rvec, the quaternion and omega-phi-kappa each give back R (or M = diag(1, −1, −1) · Rᵀ).
  cv::Matx33d fromRvec;
  cv::Rodrigues(rvec, fromRvec);
  const double w = pose->qw, x = pose->qx, y = pose->qy, z = pose->qz;
  EXPECT_GE(w, 0);
  EXPECT_NEAR(w * w + x * x + y * y + z * z, 1, 1e-12);
  const cv::Matx33d fromQuaternion(
      1 - 2 * (y * y + z * z), 2 * (x * y - w * z), 2 * (x * z + w * y),  //
      2 * (x * y + w * z), 1 - 2 * (x * x + z * z), 2 * (y * z - w * x),  //
      2 * (x * z - w * y), 2 * (y * z + w * x), 1 - 2 * (x * x + y * y));
  const double toRadians = 3.141592653589793 / 180;
  const cv::Matx33d opk = Rx(pose->omegaPhiKappaDeg[0] * toRadians) *
                          Ry(pose->omegaPhiKappaDeg[1] * toRadians) *
                          Rz(pose->omegaPhiKappaDeg[2] * toRadians);
  const cv::Matx33d flip(1, 0, 0, 0, -1, 0, 0, 0, -1);
  const cv::Matx33d fromOpk = flip * opk.t();
  for (int i = 0; i < 9; ++i) {
    EXPECT_NEAR(fromRvec.val[i], pose->R[i], 1e-12) << i;
    EXPECT_NEAR(fromQuaternion.val[i], pose->R[i], 1e-12) << i;
    EXPECT_NEAR(fromOpk.val[i], pose->R[i], 1e-12) << i;
  }
}

INSTANTIATE_TEST_SUITE_P(
    GoldenAndRealData, PoseConventionsTest,
    ::testing::Values(Case{"golden/synthetic1", "camera.cam", "image.crd", 1},
                      Case{"golden/synthetic3", "camera.cam", "image.crd", 0},
                      Case{"realdata/zhang/image1", "camera.cam", "image.crd", 1},
                      Case{"realdata/zhang/image2", "calibration.yml", "image-raw.crd", 4}));

}  // namespace
}  // namespace zelv
