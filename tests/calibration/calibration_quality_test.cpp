// The judgement of a calibration over the image: the projection's uncertainty is finite, grows
// where the corners never reached and predicts the true error; the coverage counts the corners
// kept; the cross-validation agrees with the uncertainty when the model fits the lens and not
// when it does not.
#include "calibration/calibration_quality.h"

#include <gtest/gtest.h>

#include <numeric>

#include "calibration/synthetic_boards.h"

namespace zelv {
namespace {

using testing::OptionsFor;
using testing::RenderViews;
using testing::SyntheticCamera;
using testing::ViewsOf;

LensCalibration CameraOf(const SyntheticCamera& synthetic) {
  LensCalibration camera;
  camera.kind = synthetic.fisheye ? LensModelKind::Fisheye : LensModelKind::OpenCv;
  camera.fx = synthetic.fx;
  camera.fy = synthetic.fy;
  camera.cx = synthetic.cx;
  camera.cy = synthetic.cy;
  camera.coefficients = synthetic.coefficients;
  camera.imageWidth = synthetic.width;
  camera.imageHeight = synthetic.height;
  return camera;
}

TEST(CalibrationQuality, TheUncertaintyIsFiniteAndGrowsTowardsTheCornersNeverReached) {
  std::mt19937_64 random(21);
  const SyntheticCamera camera;
  // Boards only in the middle half of the frame: its corners are never reached.
  const std::vector<CalibrationView> views = ViewsOf(RenderViews(camera, 15, 0.3, random, 0.3));
  const Expected<CalibrationResult> result =
      CalibrateCamera(views, OptionsFor(camera, CalibrationModel::kPinhole5));
  ASSERT_TRUE(result) << result.error().text;
  const ImageGridMap map = ProjectionUncertainty(*result, 16, 12);
  ASSERT_EQ(map.columns, 16);
  ASSERT_EQ(map.rows, 12);
  ASSERT_EQ(map.values.size(), 16u * 12u);
  for (double v : map.values) {
    EXPECT_TRUE(std::isfinite(v));
    EXPECT_GT(v, 0);
  }
  const double middle = std::min({map.At(7, 5), map.At(8, 5), map.At(7, 6), map.At(8, 6)});
  for (const auto& [c, r] : {std::pair{0, 0}, {15, 0}, {0, 11}, {15, 11}})
    EXPECT_GT(map.At(c, r), 5 * middle) << c << ", " << r;
  EXPECT_LT(middle, 0.2);

  const ImageGridMap coverage = CornerCoverage(views, *result, 16, 12);
  EXPECT_EQ(std::accumulate(coverage.values.begin(), coverage.values.end(), 0.0),
            result->cornersUsed);
  EXPECT_EQ(coverage.At(0, 0), 0);
  EXPECT_GT(coverage.At(8, 6), 0);
  EXPECT_GT(UncoveredShare(coverage), 0.3);
  EXPECT_LT(UncoveredShare(coverage), 1);

  CalibrationResult withoutCovariance = *result;
  withoutCovariance.camera.intrinsicsCovariance.clear();
  EXPECT_TRUE(ProjectionUncertainty(withoutCovariance).values.empty());
}

TEST(CalibrationQuality, TheUncertaintyPredictsTheTrueErrorOfTheProjection) {
  // Over repeated noisy sets the true error after the best rotation, divided by the predicted
  // σ (the 1σ ellipse's major axis), has an RMS of 1 for a flat ellipse to √2 for a circle; 12
  // sets of 48 cells give it within 0.6 to 1.6 for an honest σ.
  const SyntheticCamera camera;
  const LensCalibration truth = CameraOf(camera);
  std::vector<double> squares;
  for (int trial = 0; trial < 12; ++trial) {
    std::mt19937_64 random(100 + trial);
    const Expected<CalibrationResult> result =
        CalibrateCamera(ViewsOf(RenderViews(camera, 12, 0.3, random)),
                        OptionsFor(camera, CalibrationModel::kPinhole5));
    ASSERT_TRUE(result) << result.error().text;
    const ImageGridMap predicted = ProjectionUncertainty(*result, 8, 6);
    const ImageGridMap error = ProjectionDifference(result->camera, truth, 8, 6);
    for (std::size_t i = 0; i < error.values.size(); ++i)
      squares.push_back(std::pow(error.values[i] / predicted.values[i], 2));
  }
  const double rms = std::sqrt(std::accumulate(squares.begin(), squares.end(), 0.0) /
                               static_cast<double>(squares.size()));
  EXPECT_GT(rms, 0.6);
  EXPECT_LT(rms, 1.6);
}

TEST(CalibrationQuality, CrossValidationAgreesWithTheUncertaintyOnlyWhenTheModelFitsTheLens) {
  // A wide lens of the fisheye kind (76° from the axis to the frame's corner).
  std::mt19937_64 random(23);
  SyntheticCamera camera;
  camera.fisheye = true;
  camera.fx = camera.fy = 600;
  camera.coefficients = {0.05, -0.01, 0.002, 0};
  const std::vector<CalibrationView> views = ViewsOf(RenderViews(camera, 16, 0.3, random));
  const Expected<CrossValidation> fits =
      CrossValidate(views, OptionsFor(camera, CalibrationModel::kFisheye), 8, 6);
  ASSERT_TRUE(fits) << fits.error().text;
  EXPECT_EQ(fits->difference.values.size(), 48u);
  EXPECT_EQ(fits->predicted.values.size(), 48u);
  EXPECT_GT(fits->medianRatio, 0.3);
  EXPECT_LT(fits->medianRatio, 1.5);
  // The pinhole model with two radial terms cannot follow it to the frame's edges: the halves,
  // whose corners lie in different places, are bent differently and differ beyond their σ.
  const Expected<CrossValidation> misfit =
      CrossValidate(views, OptionsFor(camera, CalibrationModel::kPinhole4), 8, 6);
  ASSERT_TRUE(misfit) << misfit.error().text;
  EXPECT_GT(misfit->medianRatio, 2);
  EXPECT_GT(misfit->medianRatio, 2 * fits->medianRatio);

  const std::vector<CalibrationView> five(views.begin(), views.begin() + 5);
  const Expected<CrossValidation> few =
      CrossValidate(five, OptionsFor(camera, CalibrationModel::kFisheye));
  ASSERT_FALSE(few);
  EXPECT_EQ(few.error().text.rfind("Для перекрёстной проверки нужно не менее шести", 0), 0u);
}

}  // namespace
}  // namespace zelv
