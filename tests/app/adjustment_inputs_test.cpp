// What the orientation makes of scene points in space, check points, per-point σ and known
// values: which levels refuse them and with what message, and that they reach the rigorous level.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "app/orientation.h"
#include "app/orientation_steps.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::ScratchFolder;

std::string Photograph(const std::string& name) {
  return std::string(ZELV_TEST_DATA_DIR) + "/realdata/zhang/image1/" + name;
}

// The scene of photograph 1 as a table with a heading; `extra` names a further column and
// `value(i)` gives its field for the point on line i (from 0).
template <typename Value>
std::string SceneTable(const std::string& extra, Value value) {
  const std::string crd = ScratchFolder::Read(Photograph("scene.crd"));
  std::string out = "x;y;" + extra + "\n";
  std::size_t at = 0;
  for (int i = 0; at < crd.size(); ++i) {
    std::size_t end = crd.find('\n', at);
    if (end == std::string::npos) end = crd.size();
    std::string line = crd.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) out += line + ";" + value(i) + "\n";
    at = end + 1;
  }
  return out;
}

OrientationRequest RequestFor(const ScratchFolder& folder, const std::string& scene, int level) {
  OrientationRequest request;
  request.cameraFile = Photograph("camera.cam");
  request.imageFile = Photograph("image.crd");
  request.sceneFile = folder.Write("scene.csv", scene);
  request.settings.EstimateLevel = level;
  request.decimalSeparator = '.';
  request.startDirectory = folder.Folder().string();
  return request;
}

TEST(AdjustmentInputs, OnlyTheRigorousLevelTakesSpaceChecksAndKnownValues) {
  ScratchFolder folder;
  const std::string spatial =
      SceneTable("z", [](int i) { return i % 7 == 0 ? std::string("0.25") : std::string("0"); });
  const std::string checked =
      SceneTable("role", [](int i) { return std::string(i % 10 == 3 ? "Контрольная" : ""); });
  for (int level : {0, 1, 3}) {
    OrientationOutcome space = Orient(RequestFor(folder, spatial, level));
    ASSERT_FALSE(space) << level;
    EXPECT_NE(space.error().text.find("Такую сцену решает только строгая оценка: выберите "
                                      "строгий уровень оценки (4)."),
              std::string::npos);
    EXPECT_EQ(space.error().input, FailedInput::kScene);
    OrientationOutcome checks = Orient(RequestFor(folder, checked, level));
    ASSERT_FALSE(checks) << level;
    EXPECT_NE(checks.error().text.find("Контрольные точки проверяет только строгая оценка"),
              std::string::npos);
    OrientationRequest known = RequestFor(folder, SceneTable("z", [](int) { return "0"; }), level);
    known.known.roll = KnownValue{0, 0};
    OrientationOutcome refused = Orient(known);
    ASSERT_FALSE(refused) << level;
    EXPECT_NE(refused.error().text.find("Известные значения"), std::string::npos);
  }
  // A Z column of zeros is a plane: every level reads it as the ".crd" file.
  OrientationOutcome flat = Orient(RequestFor(folder, SceneTable("z", [](int) { return "0"; }), 1));
  ASSERT_TRUE(flat);
  EXPECT_FALSE(flat->spatial);

  // The rigorous level takes them; the scene in space is solved from the points themselves.
  OrientationOutcome space = Orient(RequestFor(folder, spatial, kRigorousLevel));
  ASSERT_TRUE(space) << space.error().text;
  EXPECT_TRUE(space->spatial);
  EXPECT_TRUE(space->residuals.has_value());
  EXPECT_TRUE(Orient(RequestFor(folder, checked, kRigorousLevel)));
  // Fewer than four control points left beside the check points is refused by name.
  OrientationOutcome few = Orient(RequestFor(
      folder, SceneTable("role", [](int i) { return std::string(i < 3 ? "control" : "check"); }),
      kRigorousLevel));
  ASSERT_FALSE(few);
  EXPECT_NE(few.error().text.find("Опорных точек осталось 3"), std::string::npos);
}

TEST(AdjustmentInputs, KnownValuesAreCheckedAndAKnownFocalLengthReplacesTheCameraFiles) {
  OrientationRequest request;
  request.settings.EstimateLevel = kRigorousLevel;
  EXPECT_FALSE(request.Check());
  request.known.centreZ = KnownValue{12.5, -0.1};
  EXPECT_TRUE(request.Check());
  request.known.centreZ = KnownValue{std::numeric_limits<double>::infinity(), 0};
  EXPECT_TRUE(request.Check());
  request.known.centreZ.reset();
  request.known.focalLength = KnownValue{0, 0};
  EXPECT_TRUE(request.Check());
  request.known.focalLength = KnownValue{3500, 5};
  EXPECT_FALSE(request.Check());

  ScratchFolder folder;
  OrientationRequest fixed =
      RequestFor(folder, SceneTable("z", [](int) { return "0"; }), kRigorousLevel);
  fixed.known.focalLength = KnownValue{800, 0};
  OrientationOutcome result = Orient(fixed);
  ASSERT_TRUE(result) << result.error().text;
  EXPECT_EQ(result->focalLength.value, 800);
  EXPECT_FALSE(result->focalLength.estimated);
  EXPECT_EQ(result->camera.FocalLength, 800);
}

TEST(AdjustmentInputs, PrecisionLinesShowTheEllipsoidStrongCorrelationsAndCheckPoints) {
  Orientation o;
  o.decimalSeparator = ',';
  o.precision.known = true;
  PoseCovariance c;
  c.parameters = {"omega", "phi", "X0"};
  // omega and X0 correlated at r = 0.95, phi free of both; a fixed parameter would be all zeros.
  c.matrix = {1e-6, 0, 0.95e-3, 0, 4e-6, 0, 0.95e-3, 0, 1};
  c.centreSemiAxes = {0.5, 0.25, 0.125};
  o.precision.covariance = c;
  o.checkPoints.points.push_back({3, "P3", 0.3, -0.4, true, 0.002, 0.001});
  o.checkPoints.imageRmse = 0.5;
  o.checkPoints.sceneRmse = 0.0022;
  EXPECT_EQ(StrongCorrelations(c, ','), std::vector<std::string>{"omega–X0 0,95"});
  const std::vector<std::string> lines = PrecisionLines(o);
  const auto has = [&](const std::string& text) {
    for (const std::string& line : lines)
      if (line == text) return true;
    return false;
  };
  EXPECT_TRUE(has("Эллипсоид ошибок центра проекции (95 %): полуоси 0,50, 0,25, 0,12"));
  EXPECT_TRUE(has("Сильные корреляции (|r| > 0,9): omega–X0 0,95"));
  EXPECT_TRUE(has("Контрольные точки (1): СКП на снимке 0,50 пикс., в сцене 0,0022"));
  // Without a covariance or check points nothing of them is said.
  o.precision.covariance.reset();
  o.checkPoints = {};
  for (const std::string& line : PrecisionLines(o)) {
    EXPECT_EQ(line.find("Эллипсоид"), std::string::npos);
    EXPECT_EQ(line.find("Контрольные"), std::string::npos);
  }
}

}  // namespace
}  // namespace zelv
