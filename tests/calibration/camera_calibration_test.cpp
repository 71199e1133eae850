// The camera's calibration from views of a planar board: a rendered set gives back the camera it
// was rendered with, within its own σ; a shifted corner and a wild view are left out and listed;
// the σ agree with OpenCV's; the real photographs give the published camera.
#include "calibration/camera_calibration.h"

#include <gtest/gtest.h>

#include <fstream>
#include <opencv2/calib3d.hpp>
#include <sstream>

#include "calibration/synthetic_boards.h"

namespace zelv {
namespace {

using testing::OptionsFor;
using testing::ReadPairs;
using testing::RenderViews;
using testing::SyntheticCamera;
using testing::ViewsOf;

// fx, fy, cx, cy and the coefficients of the calibration against the camera's, each within
// `within` of its σ.
void ExpectCameraWithinSigmas(const CalibrationResult& result, const SyntheticCamera& camera,
                              double within) {
  const std::vector<double> truth = [&] {
    std::vector<double> t = {camera.fx, camera.fy, camera.cx, camera.cy};
    for (std::size_t i = 0; i < result.camera.coefficients.size(); ++i)
      t.push_back(i < camera.coefficients.size() ? camera.coefficients[i] : 0.0);
    return t;
  }();
  const std::vector<double> found = [&] {
    std::vector<double> f = {result.camera.fx, result.camera.fy, result.camera.cx,
                             result.camera.cy};
    f.insert(f.end(), result.camera.coefficients.begin(), result.camera.coefficients.end());
    return f;
  }();
  ASSERT_EQ(result.sigmas.size(), found.size());
  for (std::size_t i = 0; i < found.size(); ++i) {
    EXPECT_GT(result.sigmas[i], 0) << result.parameterNames[i];
    EXPECT_NEAR(found[i], truth[i], within * result.sigmas[i]) << result.parameterNames[i];
  }
}

TEST(CameraCalibration, ARenderedBoardSetGivesBackItsCameraWithinItsSigma) {
  std::mt19937_64 random(11);
  const SyntheticCamera camera;
  const std::vector<CalibrationView> views = ViewsOf(RenderViews(camera, 15, 0.3, random));
  const Expected<CalibrationResult> result =
      CalibrateCamera(views, OptionsFor(camera, CalibrationModel::kPinhole5));
  ASSERT_TRUE(result) << result.error().text;
  ExpectCameraWithinSigmas(*result, camera, 4);
  EXPECT_EQ(result->parameterNames,
            (std::vector<std::string>{"fx", "fy", "cx", "cy", "k1", "k2", "p1", "p2", "k3"}));
  EXPECT_EQ(result->camera.intrinsicsCovariance.size(), 81u);
  EXPECT_EQ(result->camera.skew, 0);
  EXPECT_EQ(result->camera.kind, LensModelKind::OpenCv);
  // 0.3 px in x and in y: an RMS of the corner's distance near 0.42 px, σ0 near 0.3 px.
  EXPECT_NEAR(result->rms, 0.3 * std::sqrt(2.0), 0.03);
  EXPECT_NEAR(result->sigma0, 0.3, 0.02);
  EXPECT_TRUE(result->rejectedViews.empty());
  EXPECT_LE(result->rejectedCorners.size(), 2u);
  EXPECT_EQ(result->cornersUsed + static_cast<int>(result->rejectedCorners.size()), 15 * 70);
  ASSERT_EQ(result->views.size(), 15u);
  for (const ViewResult& view : result->views) {
    EXPECT_TRUE(view.used);
    EXPECT_EQ(view.residuals.size(), 70u);
    EXPECT_NEAR(view.rms, 0.42, 0.15);
  }
}

TEST(CameraCalibration, EveryModelFitsItsOwnRendering) {
  struct Case {
    CalibrationModel model;
    bool fisheye;
    std::vector<double> coefficients;
  };
  const std::vector<Case> cases = {
      {CalibrationModel::kPinhole4, false, {-0.2, 0.05, 0.001, -0.0005}},
      {CalibrationModel::kRational8, false, {-0.2, 0.05, 0, 0, 0, 0.01, 0, 0}},
      {CalibrationModel::kFisheye, true, {0.05, -0.01, 0.002, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(CalibrationModelName(c.model));
    std::mt19937_64 random(5);
    SyntheticCamera camera;
    camera.fisheye = c.fisheye;
    camera.coefficients = c.coefficients;
    const std::vector<CalibrationView> views = ViewsOf(RenderViews(camera, 20, 0.2, random));
    const Expected<CalibrationResult> result = CalibrateCamera(views, OptionsFor(camera, c.model));
    ASSERT_TRUE(result) << result.error().text;
    EXPECT_EQ(result->camera.coefficients.size(), c.coefficients.size());
    EXPECT_EQ(result->camera.kind, c.fisheye ? LensModelKind::Fisheye : LensModelKind::OpenCv);
    EXPECT_NEAR(result->camera.fx, camera.fx, 4 * result->sigmas[0]);
    EXPECT_NEAR(result->camera.cx, camera.cx, 4 * result->sigmas[2]);
    EXPECT_NEAR(result->camera.cy, camera.cy, 4 * result->sigmas[3]);
    EXPECT_NEAR(result->sigma0, 0.2, 0.02);
  }
}

TEST(CameraCalibration, AShiftedCornerIsRejectedListedAndLeavesTheCameraAsWithoutIt) {
  std::mt19937_64 random(12);
  const SyntheticCamera camera;
  std::vector<CalibrationView> views = ViewsOf(RenderViews(camera, 12, 0.3, random));
  const CalibrationOptions options = OptionsFor(camera, CalibrationModel::kPinhole5);
  const Expected<CalibrationResult> clean = CalibrateCamera(views, options);
  ASSERT_TRUE(clean) << clean.error().text;
  views[4].image[23].x += 6;
  views[4].image[23].y -= 3;
  const Expected<CalibrationResult> result = CalibrateCamera(views, options);
  ASSERT_TRUE(result) << result.error().text;
  const auto listed = std::find_if(
      result->rejectedCorners.begin(), result->rejectedCorners.end(),
      [](const RejectedCorner& corner) { return corner.view == 4 && corner.id == 23; });
  ASSERT_NE(listed, result->rejectedCorners.end());
  EXPECT_NEAR(listed->residual, std::hypot(6, 3), 1.5);
  EXPECT_TRUE(result->views[4].used);
  EXPECT_NEAR(result->views[4].residuals[23].x, 6, 1.5);
  EXPECT_NEAR(result->camera.fx, clean->camera.fx, 0.2 * clean->sigmas[0]);
  EXPECT_NEAR(result->camera.cx, clean->camera.cx, 0.2 * clean->sigmas[2]);
}

TEST(CameraCalibration, AWildViewIsLeftOutWithItsReasonAndTheCameraStands) {
  std::mt19937_64 random(13);
  const SyntheticCamera camera;
  std::vector<CalibrationView> views = ViewsOf(RenderViews(camera, 12, 0.3, random));
  // A view whose corners were found on a blurred photograph: 4 px off, every one.
  std::normal_distribution<double> blur(0, 4);
  for (PixelPoint& p : views[7].image) {
    p.x = std::clamp(p.x + blur(random), 0.0, camera.width - 1.0);
    p.y = std::clamp(p.y + blur(random), 0.0, camera.height - 1.0);
  }
  const Expected<CalibrationResult> result =
      CalibrateCamera(views, OptionsFor(camera, CalibrationModel::kPinhole5));
  ASSERT_TRUE(result) << result.error().text;
  ASSERT_EQ(result->rejectedViews.size(), 1u);
  EXPECT_EQ(result->rejectedViews[0].view, 7);
  EXPECT_GT(result->rejectedViews[0].rms, 3);
  EXPECT_NE(result->rejectedViews[0].reason.find("RMS"), std::string::npos);
  EXPECT_FALSE(result->views[7].used);
  EXPECT_TRUE(result->rejectedCorners.size() <= 2u);
  ExpectCameraWithinSigmas(*result, camera, 4);
}

TEST(CameraCalibration, TooFewViewsABadInputOrAStopFailWithWhatToDo) {
  std::mt19937_64 random(14);
  const SyntheticCamera camera;
  std::vector<CalibrationView> views = ViewsOf(RenderViews(camera, 4, 0.3, random));
  const CalibrationOptions options = OptionsFor(camera, CalibrationModel::kPinhole5);

  std::vector<CalibrationView> two(views.begin(), views.begin() + 2);
  views[3].image.resize(5);  // too few corners: left out, which leaves three
  views[3].board.resize(5);
  views[3].ids.resize(5);
  const Expected<CalibrationResult> three = CalibrateCamera(views, options);
  ASSERT_TRUE(three) << three.error().text;
  ASSERT_EQ(three->rejectedViews.size(), 1u);
  EXPECT_EQ(three->rejectedViews[0].reason, "найдено углов: 5, нужно не менее 8");

  const Expected<CalibrationResult> fails = CalibrateCamera(two, options);
  ASSERT_FALSE(fails);
  EXPECT_EQ(fails.error().text.rfind("Для калибровки нужно не менее трёх", 0), 0u);

  std::vector<CalibrationView> nan = views;
  nan[1].image[3].x = std::nan("");
  ASSERT_FALSE(CalibrateCamera(nan, options));
  std::vector<CalibrationView> outside = views;
  outside[1].image[3].x = 1400;
  const Expected<CalibrationResult> off = CalibrateCamera(outside, options);
  ASSERT_FALSE(off);
  EXPECT_NE(off.error().text.find("за краем снимка"), std::string::npos);

  int steps = 0;
  const Expected<CalibrationResult> stopped =
      CalibrateCamera(views, options, [&](const std::string&, double) { return ++steps < 2; });
  ASSERT_FALSE(stopped);
  EXPECT_EQ(stopped.error().text, "Калибровка камеры остановлена.");
}

TEST(CameraCalibration, TheSigmasAgreeWithOpenCvsOwn) {
  std::mt19937_64 random(15);
  const SyntheticCamera camera;
  const std::vector<testing::SyntheticView> rendered = RenderViews(camera, 15, 0.3, random);
  const Expected<CalibrationResult> result =
      CalibrateCamera(ViewsOf(rendered), OptionsFor(camera, CalibrationModel::kPinhole5));
  ASSERT_TRUE(result) << result.error().text;
  ASSERT_TRUE(result->rejectedCorners.empty());

  std::vector<std::vector<cv::Point3f>> board;
  std::vector<std::vector<cv::Point2f>> image;
  for (const testing::SyntheticView& view : rendered) {
    board.emplace_back();
    image.emplace_back();
    for (std::size_t i = 0; i < view.view.image.size(); ++i) {
      board.back().emplace_back(view.view.board[i][0], view.view.board[i][1], 0);
      image.back().emplace_back(view.view.image[i].x, view.view.image[i].y);
    }
  }
  cv::Mat K, distortion, deviations;
  std::vector<cv::Mat> rotations, translations;
  const double rms =
      cv::calibrateCamera(board, image, cv::Size(camera.width, camera.height), K, distortion,
                          rotations, translations, deviations, cv::noArray(), cv::noArray());
  EXPECT_NEAR(result->rms, rms, 0.01 * rms);
  EXPECT_NEAR(result->camera.fx, K.at<double>(0, 0), 1e-3);
  // OpenCV divides the residuals' sum of squares by the corners less the parameters where the
  // redundancy is the coordinates (twice the corners) less the parameters: its σ are larger by
  // the root of the ratio; the normal matrices behind the two must be the same.
  const double corners = 15 * 70, parameters = 9 + 15 * 6;
  const double redundancies = std::sqrt((2 * corners - parameters) / (corners - parameters));
  for (int i = 0; i < 9; ++i) {
    EXPECT_NEAR(result->sigmas[i] * redundancies, deviations.at<double>(i),
                0.01 * deviations.at<double>(i))
        << result->parameterNames[i];
  }
}

TEST(CameraCalibration, TheRealPhotographsGiveThePublishedCameraAndOpenCvsRms) {
  std::vector<CalibrationView> views;
  for (int k = 1; k <= 5; ++k) {
    const std::string folder =
        std::string(ZELV_TEST_DATA_DIR) + "/realdata/zhang/image" + std::to_string(k);
    const auto image = ReadPairs(folder + "/image-raw.crd");
    const auto board = ReadPairs(folder + "/scene.crd");
    ASSERT_EQ(image.size(), 256u);
    ASSERT_EQ(board.size(), 256u);
    CalibrationView view;
    view.name = "image" + std::to_string(k);
    for (std::size_t i = 0; i < image.size(); ++i) {
      view.ids.push_back(static_cast<int>(i));
      view.image.push_back({image[i][0], image[i][1]});
      view.board.push_back(board[i]);
    }
    views.push_back(std::move(view));
  }
  CalibrationOptions options;
  options.imageWidth = 640;
  options.imageHeight = 480;
  const Expected<CalibrationResult> result = CalibrateCamera(views, options);
  ASSERT_TRUE(result) << result.error().text;
  EXPECT_TRUE(result->rejectedViews.empty());
  EXPECT_NEAR(result->camera.fx, 832.5, 2);
  EXPECT_NEAR(result->camera.fy, 832.53, 2);
  EXPECT_NEAR(result->camera.cx, 303.96, 2);
  EXPECT_NEAR(result->camera.cy, 206.59, 3);
  EXPECT_NEAR(result->camera.coefficients[0], -0.2286, 0.01);
  // A few corners of the third photograph lie 4–5 robust σ off (about 1 px): left out.
  EXPECT_LE(result->rejectedCorners.size(), 4u);
  for (const RejectedCorner& corner : result->rejectedCorners) {
    EXPECT_EQ(corner.view, 2);
    EXPECT_GT(corner.residual, 0.9);
  }

  std::vector<std::vector<cv::Point3f>> board;
  std::vector<std::vector<cv::Point2f>> image;
  for (const CalibrationView& view : views) {
    board.emplace_back();
    image.emplace_back();
    for (std::size_t i = 0; i < view.image.size(); ++i) {
      board.back().emplace_back(view.board[i][0], view.board[i][1], 0);
      image.back().emplace_back(view.image[i].x, view.image[i].y);
    }
  }
  cv::Mat K, distortion;
  std::vector<cv::Mat> rotations, translations;
  const double rms =
      cv::calibrateCamera(board, image, cv::Size(640, 480), K, distortion, rotations, translations);
  // Every corner kept, the same corners as OpenCV's: the same RMS and camera.
  options.cornerRejection = 1e6;
  const Expected<CalibrationResult> all = CalibrateCamera(views, options);
  ASSERT_TRUE(all) << all.error().text;
  EXPECT_TRUE(all->rejectedCorners.empty());
  EXPECT_NEAR(all->rms, rms, 1e-4 * rms);
  EXPECT_NEAR(all->camera.fx, K.at<double>(0, 0), 1e-3);
  EXPECT_NEAR(result->rms, rms, 0.02 * rms);
}

}  // namespace
}  // namespace zelv
