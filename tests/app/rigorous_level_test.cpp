// The rigorous level in the orientation command, and the checks every level makes: a missing focal
// length estimated with a warning, a mirrored scene frame warned about (refused at the rigorous
// level), image points no correction band covers named; zelv-cli's options and JSON for them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>

#include "app/orientation_residuals.h"
#include "app/orientation_session.h"
#include "app/orientation_steps.h"
#include "cli_runner.h"
#include "fake_ui.h"
#include "files/coordinate_file.h"
#include "orientation_shims.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::FakeUi;
using testing::Quote;
using testing::RunOrient;
using testing::ScratchFolder;

std::string Photograph(int k) {
  return std::string(ZELV_TEST_DATA_DIR) + "/realdata/zhang/image" + std::to_string(k) + "/";
}

// The published projection centre of photograph k (scene frame, inches).
std::array<double, 3> TrueCentre(int k) {
  std::ifstream in(Photograph(k) + "truth.json");
  std::stringstream text;
  text << in.rdbuf();
  const std::string json = text.str();
  std::array<double, 3> c{};
  std::sscanf(json.c_str() + json.find('[') + 1, "%lf , %lf , %lf", &c[0], &c[1], &c[2]);
  return c;
}

double CentreError(const OrientationRun& state, int k) {
  const auto truth = TrueCentre(k);
  double sum = 0;
  for (int i = 0; i < 3; ++i) {
    const double d = state.Values.values[kCentreX + i] - truth[i];
    sum += d * d;
  }
  return std::sqrt(sum);
}

// A copy of photograph k's files in `folder`.
void CopyPhotograph(const ScratchFolder& folder, int k) {
  for (const char* name : {"camera.cam", "image.crd", "scene.crd", "table.txt"})
    folder.Write(name, ScratchFolder::Read(Photograph(k) + name));
}

std::vector<std::string> Lines(const std::string& bytes) {
  std::vector<std::string> lines;
  std::stringstream in(bytes);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
}

void UseFolder(OrientationRun& state, const ScratchFolder& folder, int level) {
  state.CameraFileName = folder.Path("camera.cam");
  state.ImageFileName = folder.Path("image.crd");
  state.SceneFileName = folder.Path("scene.crd");
  state.StartDirectory = folder.Folder().string();
  state.DecimalSeparator = '.';
  state.Settings.EstimateLevel = level;
}

TEST(RigorousLevel, PhotographsGiveThePublishedCentreWithStandardDeviations) {
  // The published centres agree with OpenCV's planar solver refined by its Levenberg–Marquardt
  // to 0.0084–0.0128 inch; the rigorous estimate must do no worse.
  const double reference[5] = {0.0084, 0.0092, 0.0110, 0.0101, 0.0128};
  for (int k = 1; k <= 5; ++k) {
    ScratchFolder folder;
    CopyPhotograph(folder, k);
    OrientationRun state;
    UseFolder(state, folder, kRigorousLevel);
    FakeUi ui;
    ASSERT_TRUE(RunOrientation(state, ui)) << k;
    EXPECT_TRUE(ui.messages.empty()) << k;
    EXPECT_TRUE(state.Warnings.empty()) << k;
    ASSERT_TRUE(state.Precision.known) << k;
    EXPECT_TRUE(state.Precision.outliers.empty()) << k;
    EXPECT_LE(CentreError(state, k), reference[k - 1] + 0.00005) << k;
    EXPECT_GT(state.Precision.sigma0, 0.1) << k;
    EXPECT_LT(state.Precision.sigma0, 0.5) << k;
    EXPECT_EQ(state.Precision.redundancy, 2 * 256 - 6) << k;
    for (int i = 0; i < kResultCount; ++i) EXPECT_FALSE(state.Results[i].empty()) << k;
    // The residuals belong to the rigorous pose: the scene points moved to its sighting point.
    const Residuals residuals = ResidualsOf(state);
    EXPECT_NEAR(residuals.summary.cost, state.Values.cost, 1e-9 * state.Values.cost) << k;
    EXPECT_NEAR(residuals.summary.sigma * std::sqrt(512.0 / 506.0), state.Precision.sigma0, 1e-9)
        << k;
  }
}

TEST(RigorousLevel, ClearingTheResultForgetsItsPrecision) {
  ScratchFolder folder;
  CopyPhotograph(folder, 1);
  OrientationRun state;
  UseFolder(state, folder, kRigorousLevel);
  FakeUi ui;
  ASSERT_TRUE(RunOrientation(state, ui));
  EXPECT_FALSE(PrecisionLines(OrientationOf(state)).empty());
  ClearResults(state);
  EXPECT_FALSE(state.Precision.known);
  EXPECT_TRUE(PrecisionLines(OrientationOf(state)).empty());
}

TEST(RigorousLevel, MissingFocalLengthIsEstimatedWithAWarningAtEveryLevel) {
  for (int level : {0, 1, kRigorousLevel}) {
    ScratchFolder folder;
    CopyPhotograph(folder, 3);
    std::vector<std::string> camera = Lines(ScratchFolder::Read(folder.Path("camera.cam")));
    camera[3] = camera[3].substr(camera[3].find(';'));  // line 4 without its value
    folder.Write("camera.cam", Join(camera));
    OrientationRun state;
    UseFolder(state, folder, level);
    FakeUi ui;
    ASSERT_TRUE(RunOrientation(state, ui)) << level;
    ASSERT_EQ(state.Warnings.size(), 1u) << level;
    EXPECT_EQ(state.Warnings[0].text.rfind(
                  "Фокусное расстояние не задано в cam-файле; оно оценено по реперным точкам: F = "
                  "830.",
                  0),
              0u)
        << state.Warnings[0].text;
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].caption, "Предупреждение!");
    EXPECT_TRUE(state.FocalLength.estimated);
    EXPECT_NEAR(state.FocalLength.value, 832.5, 5.0);
    EXPECT_GT(state.FocalLength.sigma, 0.5);
    // No longer a negative distance and a camera below the plane.
    EXPECT_GT(state.Values.values[kDistance], 0) << level;
    EXPECT_GT(state.Values.values[kCentreZ], 0) << level;
    EXPECT_LT(CentreError(state, 3), level == 0 ? 0.1 : 0.06) << level;
  }
}

TEST(RigorousLevel, MirroredSceneIsWarnedAboutAndRefusedAtTheRigorousLevel) {
  const std::string warning =
      "Центр проекции оказался с отрицательной стороны оси Z сцены: система координат сцены, "
      "по-видимому, зеркальная (одна из осей в файле сцены направлена в обратную сторону). "
      "Результат недостоверен. Проверьте файл сцены.";
  const std::string refusal =
      "Строгая оценка: камера оказалась за плоскостью сцены (с отрицательной стороны оси Z). "
      "Вероятно, одна из осей в файле сцены направлена в обратную сторону. Проверьте файл сцены.";
  for (int level : {0, kRigorousLevel}) {
    ScratchFolder folder;
    CopyPhotograph(folder, 2);
    // The target's published frame: Y not negated.
    std::vector<std::string> scene = Lines(ScratchFolder::Read(folder.Path("scene.crd")));
    for (std::string& line : scene) {
      const std::size_t at = line.find(';');
      const double y = std::stod(line.substr(at + 1));
      std::ostringstream out;
      out.precision(17);
      out << line.substr(0, at) << "; " << -y;
      line = out.str();
    }
    folder.Write("scene.crd", Join(scene));
    OrientationRun state;
    UseFolder(state, folder, level);
    FakeUi ui;
    if (level == 0) {
      ASSERT_TRUE(RunOrientation(state, ui));
      ASSERT_EQ(ui.messages.size(), 1u);
      EXPECT_EQ(ui.messages[0].text, warning);
      EXPECT_EQ(ui.messages[0].caption, "Предупреждение!");
      EXPECT_EQ(WarningTexts(state.Warnings), std::vector<std::string>{warning});
    } else {
      EXPECT_FALSE(RunOrientation(state, ui));
      ASSERT_EQ(ui.messages.size(), 1u);
      EXPECT_EQ(ui.messages[0].text, refusal);
      EXPECT_EQ(ui.messages[0].caption, "Отказ");
      EXPECT_FALSE(state.Values.complete);
      EXPECT_FALSE(state.Values.complete);
      for (const std::string& text : state.Results) EXPECT_EQ(text, "");
    }
  }
}

TEST(RigorousLevel, ImagePointsNoBandCoversAreNamed) {
  ScratchFolder folder;
  CopyPhotograph(folder, 1);
  // A band for raw x up to 450 only: the points right of it keep -1 as before, with a warning.
  folder.Write("table.txt", "1\r\n0 0 450 1000 X 0 1 - Y 0 1 - ; \r\n");
  std::vector<int> expected;
  const std::vector<std::string> image = Lines(ScratchFolder::Read(folder.Path("image.crd")));
  for (std::size_t i = 0; i < image.size(); ++i)
    if (std::stod(image[i]) > 450) expected.push_back(static_cast<int>(i) + 1);
  ASSERT_FALSE(expected.empty());

  OrientationRun state;
  UseFolder(state, folder, 0);
  FakeUi ui;
  RunOrientation(state, ui);
  EXPECT_EQ(state.UncoveredPoints, expected);
  const std::string warning = UncoveredPointsWarning(expected);
  const std::vector<std::string> texts = WarningTexts(state.Warnings);
  EXPECT_NE(std::find(texts.begin(), texts.end(), warning), texts.end());
  EXPECT_EQ(warning.rfind("Координаты изображения точек " + std::to_string(expected[0]) + ", " +
                              std::to_string(expected[1]),
                          0),
            0u);
  EXPECT_EQ(state.ImagePoints.Get(expected[0] - 1)->x, -1);
  EXPECT_EQ(UncoveredPointsWarning({7}).rfind("Координаты изображения точки 7 не попадают", 0), 0u);
  EXPECT_EQ(UncoveredPointsWarning({}), "");
}

TEST(RigorousLevel, CommandLineTakesTheLevelAndWritesItsFigures) {
  const std::string files = Quote(Photograph(1) + "camera.cam") + " " +
                            Quote(Photograph(1) + "image.crd") + " " +
                            Quote(Photograph(1) + "scene.crd");
  for (const char* level : {"rigorous", "4"}) {
    const testing::CliRun run = RunOrient(files + " --level " + level + " --json");
    ASSERT_EQ(run.exitCode, 0) << run.err;
    for (const char* key : {"\"level\": \"rigorous\"", "\"warnings\": []", "\"sigma\": {",
                            "\"sigma0_px\": 0.25", "\"outliers\": []",
                            "\"focal_length\": {\"value\": 832.5, \"sigma\": 0, \"estimated\": "
                            "false}",
                            "    \"projection_centre\": [0.00", "    \"direction_cosines\": ["})
      EXPECT_NE(run.out.find(key), std::string::npos) << key << "\n" << run.out;
  }
  const testing::CliRun text = RunOrient(files + " --level rigorous --decimal-separator ,");
  ASSERT_EQ(text.exitCode, 0);
  EXPECT_NE(text.out.find("Строгая оценка: σ0 = 0,25 пикс."), std::string::npos) << text.out;
  EXPECT_NE(text.out.find("σ центра проекции: X=0,0062 Y=0,0064 Z=0,0018"), std::string::npos)
      << text.out;
  const testing::CliRun fast = RunOrient(files + " --json");
  EXPECT_NE(fast.out.find("\"level\": \"fast\""), std::string::npos);
  EXPECT_EQ(fast.out.find("\"sigma\": {"), std::string::npos);
  EXPECT_EQ(RunOrient(files + " --level 5").exitCode, 2);
}

}  // namespace
}  // namespace zelv
