// Degenerate control points at every estimate level: each case ends either in a result whose 21
// values are all finite, or in the one guarded message, and never hangs.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "app/orientation_session.h"
#include "fake_ui.h"
#include "orientation_shims.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

const char kGuardMessage[] = "Внутренняя ошибка! Проверьте входные данные.";
const char kNoFocalLength[] =
    "Фокусное расстояние не задано в cam-файле, а по реперным точкам его определить нельзя: "
    "снимок сделан почти перпендикулярно плоскости сцены, и фокусное расстояние неотличимо от "
    "расстояния до сцены. Укажите фокусное расстояние в четвёртой строке cam-файла.";
// The rigorous level refuses degenerate points with its own messages, all beginning so.
const char kRigorousRefusal[] = "Строгая оценка: ";
// Points on one line, or fewer than four distinct ones, are refused at every level before any
// estimate, with a message naming the list and ending so.
const char kLayoutRefusal[] = "положение камеры по ним не определяется";

struct Pair {
  double x, y;  // raw image pixels
  double X, Y;  // scene units
};

std::string CameraFile(const std::string& focal) {
  return "320 ;\r\n240 ;\r\ntable.txt ;\r\n" + focal + " ;\r\n640 ;\r\n480 ;\r\n320 ;\r\n240 ;\r\n";
}

std::string Number(double v) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.17g", v);
  return buffer;
}

// A camera 2000 units above the scene looking straight down: image = scene / 2 around the centre.
std::vector<Pair> Frontal(const std::vector<std::pair<double, double>>& scene) {
  std::vector<Pair> pairs;
  for (auto [X, Y] : scene) pairs.push_back({320 + X / 2, 240 - Y / 2, X, Y});
  return pairs;
}

struct Outcome {
  bool shown = false;
  std::vector<std::string> messages;
};

Outcome Orient(const std::vector<Pair>& pairs, int level, const std::string& focal = "1000") {
  testing::ScratchFolder folder;
  std::string image, scene;
  for (const Pair& p : pairs) {
    image += Number(p.x) + " ; " + Number(p.y) + "\r\n";
    scene += Number(p.X) + " ; " + Number(p.Y) + "\r\n";
  }
  OrientationRun state;
  state.CameraFileName = folder.Write("camera.cam", CameraFile(focal));
  folder.Write("table.txt", "1\r\n-1e300 -1e300 1e300 1e300 X 0 1 - Y 0 1 - ; \r\n");
  state.ImageFileName = folder.Write("image.crd", image);
  state.SceneFileName = folder.Write("scene.crd", scene);
  state.StartDirectory = folder.Folder().string();
  state.DecimalSeparator = '.';
  state.Settings.EstimateLevel = level;
  state.Settings.KeepLog = true;
  testing::FakeUi ui;
  Outcome outcome;
  outcome.shown = RunOrientation(state, ui);
  for (const auto& m : ui.messages) outcome.messages.push_back(m.text);
  if (outcome.shown) {
    for (double v : state.Values.values) EXPECT_TRUE(std::isfinite(v));
    for (const std::string& text : state.Results) {
      EXPECT_FALSE(text.empty());
      EXPECT_EQ(text.find_first_of("naif"), std::string::npos) << text;
    }
  }
  return outcome;
}

// Every case: a finite result, or the guard's message as the last word.
void ExpectResultOrGuard(const Outcome& outcome, const std::string& what) {
  if (std::getenv("ZELV_TRACE")) {
    std::printf("%s: %s", what.c_str(), outcome.shown ? "result" : "no result");
    for (const auto& m : outcome.messages) std::printf(" | %s", m.c_str());
    std::printf("\n");
  }
  if (outcome.shown) return;
  ASSERT_FALSE(outcome.messages.empty()) << what << ": failed without a message";
  if (outcome.messages.back().rfind(kRigorousRefusal, 0) == 0) return;
  if (outcome.messages.back().find(kLayoutRefusal) != std::string::npos) return;
  EXPECT_EQ(outcome.messages.back(), kGuardMessage) << what;
}

class DegenerateGeometry : public ::testing::TestWithParam<int> {};

TEST_P(DegenerateGeometry, CollinearAndDuplicatePointsEndInTheGuardedMessage) {
  const int level = GetParam();
  const Outcome collinear =
      Orient(Frontal({{-400, 0}, {-100, 0}, {200, 0}, {500, 0}, {800, 0}}), level);
  EXPECT_FALSE(collinear.shown);
  ExpectResultOrGuard(collinear, "collinear");

  const Outcome duplicates =
      Orient(Frontal({{100, 100}, {100, 100}, {100, 100}, {100, 100}, {100, 100}}), level);
  EXPECT_FALSE(duplicates.shown);
  ExpectResultOrGuard(duplicates, "duplicates");
}

TEST_P(DegenerateGeometry, ClustersFarPointsAndEdgeOnScenesNeverReachAField) {
  const int level = GetParam();
  ExpectResultOrGuard(
      Orient(Frontal({{0, 0}, {0.001, 0}, {0.001, 0.001}, {0, 0.001}, {0.0005, 0.0002}}), level),
      "tiny cluster");
  ExpectResultOrGuard(
      Orient(Frontal({{-1e15, -1e15}, {1e15, -1e15}, {1e15, 1e15}, {-1e15, 1e15}}), level),
      "points at 1e15");
  // Edge-on: the scene plane contains the line of sight, every scene point maps onto one image row.
  std::vector<Pair> edgeOn;
  for (int i = 0; i < 6; ++i) edgeOn.push_back({100.0 + 80 * i, 240, 50.0 * i, 300.0 * (i % 3)});
  ExpectResultOrGuard(Orient(edgeOn, level), "edge-on");
}

TEST_P(DegenerateGeometry, AZeroOrMissingFocalLength) {
  const int level = GetParam();
  const auto square = Frontal({{-200, -200}, {200, -200}, {200, 200}, {-200, 200}, {0, 50}});
  const Outcome zero = Orient(square, level, "0");
  EXPECT_FALSE(zero.shown);
  ExpectResultOrGuard(zero, "focal length 0");
  // No focal length: a frontal view cannot give one, and the command says so instead of orienting
  // with F = -1.
  for (const char* focal : {"", "-1"}) {
    const Outcome missing = Orient(square, level, focal);
    EXPECT_FALSE(missing.shown) << focal;
    ASSERT_FALSE(missing.messages.empty()) << focal;
    EXPECT_EQ(missing.messages.back(), kNoFocalLength) << focal;
  }
}

INSTANTIATE_TEST_SUITE_P(EveryLevel, DegenerateGeometry, ::testing::Values(0, 1, 3, 4),
                         [](const ::testing::TestParamInfo<int>& info) {
                           return "level" + std::to_string(info.param);
                         });

}  // namespace
}  // namespace zelv
