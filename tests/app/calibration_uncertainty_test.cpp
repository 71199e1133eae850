// The calibration's uncertainty carried into the rigorous orientation: the real photograph with
// its published calibration, once with a covariance of its intrinsics and once without.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include "app/orientation.h"
#include "files/calibration_file.h"
#include "files/calibration_writer.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

namespace fs = std::filesystem;

const fs::path kZhang = fs::path(ZELV_EXAMPLES_DIR) / "zhang";

// The published camera with a covariance of the size a calibration from a few photographs has:
// σ of half a pixel in the focal lengths and the principal point, correlated.
std::string CameraWithCovariance(const testing::ScratchFolder& folder) {
  LensCalibration camera = LoadCalibrationFile((kZhang / "calibration.yml").string(), 0);
  const std::vector<double> sigma = {0.5, 0.5, 0.4, 0.4, 0.002, 0.01, 0.0003, 0.0003, 0.02};
  const std::size_t n = sigma.size();
  camera.intrinsicsCovariance.assign(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j)
      camera.intrinsicsCovariance[i * n + j] = sigma[i] * sigma[j] * (i == j ? 1.0 : 0.2);
  const std::string path = folder.Path("calibration.yml");
  EXPECT_TRUE(WriteOpenCvCalibration(path, camera));
  return path;
}

Orientation OrientZhang(const std::string& camera, int level) {
  OrientationRequest request;
  request.cameraFile = camera;
  request.imageFile = (kZhang / "image-raw.crd").string();
  request.sceneFile = (kZhang / "scene.crd").string();
  request.settings.EstimateLevel = level;
  request.decimalSeparator = '.';
  const OrientationOutcome outcome = Orient(request);
  EXPECT_TRUE(outcome) << (outcome ? "" : outcome.error().text);
  return outcome ? *outcome : Orientation{};
}

TEST(CalibrationUncertaintyTest, TheCalibrationsPartAddsToEverySigmaAndLeavesThePoseAlone) {
  testing::ScratchFolder folder;
  const std::string withCovariance = CameraWithCovariance(folder);
  const Orientation with = OrientZhang(withCovariance, kRigorousLevel);
  const Orientation without = OrientZhang((kZhang / "calibration.yml").string(), kRigorousLevel);
  ASSERT_TRUE(with.precision.known && without.precision.known);
  ASSERT_TRUE(with.precision.sigmaParts);
  EXPECT_FALSE(without.precision.sigmaParts);
  const auto& parts = *with.precision.sigmaParts;
  for (std::size_t i = 0; i < kResultCount; ++i) {
    SCOPED_TRACE(kResults[i].label);
    // The pose is the same; only its σ grows.
    EXPECT_EQ(with.values.values[i], without.values.values[i]);
    EXPECT_EQ(parts.measurement[i], without.precision.sigma[i]);
    EXPECT_GE(with.precision.sigma[i], without.precision.sigma[i]);
    const double total = with.precision.sigma[i];
    EXPECT_NEAR(
        total * total,
        parts.measurement[i] * parts.measurement[i] + parts.calibration[i] * parts.calibration[i],
        1e-12 * total * total + 1e-300);
  }
  // Half a pixel of principal point at 830 px moves the centre of a camera 20 inches away by
  // far more than its measurement's σ: the calibration's part dominates there.
  for (int i : {kCentreX, kCentreY, kCentreZ}) EXPECT_GT(parts.calibration[i], 0.0);
  EXPECT_GT(parts.calibration[kCentreX], parts.measurement[kCentreX]);
  // The pose covariance holds the sum: its centre's variances are the total σ².
  ASSERT_TRUE(with.precision.covariance && without.precision.covariance);
  const PoseCovariance& c = *with.precision.covariance;
  const std::size_t n = c.parameters.size();
  ASSERT_EQ(c.parameters[3], "X0");
  EXPECT_NEAR(std::sqrt(c.matrix[3 * n + 3]), with.precision.sigma[kCentreX],
              1e-6 * with.precision.sigma[kCentreX]);
  EXPECT_NEAR(std::sqrt(c.valueCovariance[kCentreZ * kResultCount + kCentreZ]),
              with.precision.sigma[kCentreZ], 1e-9 * with.precision.sigma[kCentreZ]);
  EXPECT_GT(c.centreSemiAxes[0], without.precision.covariance->centreSemiAxes[0]);
  const std::vector<std::string> lines = PrecisionLines(with);
  EXPECT_NE(std::find(lines.begin(), lines.end(),
                      "σ включают погрешность калибровки камеры (по ковариационной матрице её "
                      "параметров)"),
            lines.end());
}

TEST(CalibrationUncertaintyTest, TheLevelsBelowTheRigorousOneIgnoreTheCovariance) {
  testing::ScratchFolder folder;
  const std::string withCovariance = CameraWithCovariance(folder);
  for (int level : {0, 1, 3}) {
    const Orientation with = OrientZhang(withCovariance, level);
    const Orientation without = OrientZhang((kZhang / "calibration.yml").string(), level);
    EXPECT_EQ(with.texts, without.texts) << level;
    EXPECT_EQ(with.values.values, without.values.values) << level;
    EXPECT_FALSE(with.precision.sigmaParts);
  }
}

}  // namespace
}  // namespace zelv
