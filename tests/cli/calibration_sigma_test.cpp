// zelv-cli orient --json with a calibration that states the covariance of its intrinsics: the σ
// is the total and its two parts stand beside it; without a covariance nothing new appears.
#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "cli_runner.h"
#include "files/calibration_file.h"
#include "files/calibration_writer.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

namespace fs = std::filesystem;
using testing::Quote;
using testing::RunOrient;

const fs::path kZhang = fs::path(ZELV_EXAMPLES_DIR) / "zhang";

nlohmann::json OrientJson(const std::string& camera) {
  const testing::CliRun run = RunOrient("--level rigorous --json " + Quote(camera) + " " +
                                        Quote((kZhang / "image-raw.crd").string()) + " " +
                                        Quote((kZhang / "scene.crd").string()));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  return nlohmann::json::parse(run.out);
}

TEST(CalibrationSigmaJsonTest, TheTwoPartsAppearOnlyWithACovarianceAndMakeTheTotal) {
  testing::ScratchFolder folder;
  LensCalibration camera = LoadCalibrationFile((kZhang / "calibration.yml").string(), 0);
  const std::size_t n = IntrinsicNames(camera).size();
  camera.intrinsicsCovariance.assign(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i) camera.intrinsicsCovariance[i * n + i] = i < 4 ? 0.25 : 1e-6;
  const std::string path = folder.Path("calibration.yml");
  ASSERT_TRUE(WriteOpenCvCalibration(path, camera));

  const nlohmann::json with = OrientJson(path);
  const nlohmann::json without = OrientJson((kZhang / "calibration.yml").string());
  EXPECT_FALSE(without.contains("sigma_from_measurement"));
  EXPECT_FALSE(without.contains("sigma_from_calibration"));
  ASSERT_TRUE(with.contains("sigma_from_measurement") && with.contains("sigma_from_calibration"));
  // Only those two keys are new.
  for (const auto& [key, value] : with.items()) {
    if (key != "sigma_from_measurement" && key != "sigma_from_calibration") {
      EXPECT_TRUE(without.contains(key)) << key;
    }
  }
  EXPECT_EQ(with["sigma_from_measurement"], without["sigma"]);
  // A group of one value ("distance") is a number, the others arrays.
  const auto list = [](const nlohmann::json& v) {
    return v.is_array() ? v : nlohmann::json::array({v});
  };
  for (const auto& [group, values] : with["sigma"].items()) {
    const nlohmann::json total = list(values), m = list(with["sigma_from_measurement"][group]),
                         c = list(with["sigma_from_calibration"][group]);
    for (std::size_t i = 0; i < total.size(); ++i) {
      const double t = total[i], a = m[i], b = c[i];
      EXPECT_NEAR(t * t, a * a + b * b, 1e-9 * t * t + 1e-300) << group << i;
    }
  }
  EXPECT_GT(with["sigma_from_calibration"]["projection_centre"][2].get<double>(), 0.0);
}

}  // namespace
}  // namespace zelv
