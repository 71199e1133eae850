// The orientation command's steps without a window: loading, the point-count refusal, the spread
// warning, clearing the result, the progress text and the whole run.
#include <gtest/gtest.h>

#include <filesystem>

#include "app/orientation_session.h"
#include "base/zelv_error.h"
#include "fake_ui.h"
#include "scratch_folder.h"
#include "solver_test_points.h"

namespace zelv {
namespace {

using testing::AddPoints;
using testing::FakeUi;
using testing::MakePoints;
using testing::ScratchFolder;

const std::string kSquare = std::string(ZELV_TEST_DATA_DIR) + "/golden/square/";

// A state reading the square case's camera file with the given coordinate files.
void UseFiles(OrientationState& state, const std::string& image, const std::string& scene,
              const std::string& startDirectory) {
  state.CameraFileName = kSquare + "camera.cam";
  state.ImageFileName = image;
  state.SceneFileName = scene;
  state.StartDirectory = startDirectory;
  state.DecimalSeparator = '.';
}

TEST(ElapsedTimeTextTest, HoursMinutesAndSecondsWithoutLeadingZeros) {
  using std::chrono::seconds;
  EXPECT_EQ(ElapsedTimeText(seconds(59 * 60 + 40)), "Подождите. Идёт счёт...   0 : 59 : 40");
  EXPECT_EQ(ElapsedTimeText(seconds(3600 + 2 * 60 + 5)), "Подождите. Идёт счёт...   1 : 2 : 5");
  EXPECT_EQ(ElapsedTimeText(std::chrono::milliseconds(999)), "Подождите. Идёт счёт...   0 : 0 : 0");
  EXPECT_EQ(ElapsedTimeText(seconds(-3)), "Подождите. Идёт счёт...   0 : 0 : 0");
  EXPECT_EQ(ElapsedTimeText(seconds(30 * 3600)), "Подождите. Идёт счёт...   30 : 0 : 0");
}

TEST(CheckPointSpreadTest, LargestDistanceAgainstHalfTheImageDiagonal) {
  // A square of side 100 in a 1000 × 800 image: 141.4 < 640.3.
  auto square = MakePoints({{0, 0}, {100, 0}, {100, 100}, {0, 100}});
  EXPECT_FALSE(CheckPointSpread(*square, 1000, 800));
  // Opposite corners of the image: the whole diagonal.
  auto corners = MakePoints({{-500, -400}, {500, 400}});
  EXPECT_TRUE(CheckPointSpread(*corners, 1000, 800));
  // Exactly half the diagonal (10 / 2 = 5) passes.
  auto half = MakePoints({{0, 0}, {3, 4}});
  EXPECT_TRUE(CheckPointSpread(*half, 6, 8));
  auto single = MakePoints({{7, 7}});
  EXPECT_FALSE(CheckPointSpread(*single, 6, 8));
}

TEST(CheckPointSpreadTest, AnImageSizeWhoseSquareOverflowsRaises) {
  auto corners = MakePoints({{-500, -400}, {500, 400}});
  EXPECT_THROW(CheckPointSpread(*corners, 1e200, 800), ZelvError);
  EXPECT_THROW(CheckPointSpread(*corners, 640, -1e155), ZelvError);
  EXPECT_THROW(CheckPointSpread(*corners, 1e154, 1e154),
               ZelvError);  // each square fits, the sum not
  EXPECT_FALSE(CheckPointSpread(*corners, 1e150, 1e150));
}

TEST(RunOrientationTest, AnImageWidthOf1E200EndsTheRunAsAFailingComputation) {
  ScratchFolder folder;
  std::filesystem::copy_file(kSquare + "table.txt", folder.Path("table.txt"));
  const std::string camera = folder.Write(
      "camera.cam", "320 ; x\r\n240 ; y\r\ntable.txt ; t\r\n1000 ; f\r\n1E200 ; w\r\n480 ; h\r\n");
  OrientationState state;
  UseFiles(state, kSquare + "image.crd", kSquare + "scene.crd", folder.Folder().string());
  state.CameraFileName = camera;
  state.Results[kDistance] = "5.0000";
  FakeUi ui;
  EXPECT_FALSE(RunOrientation(state, ui));
  ASSERT_EQ(ui.messages.size(), 1u);  // no spread warning: the check itself failed
  EXPECT_EQ(ui.messages[0].text, "Внутренняя ошибка! Проверьте входные данные.");
  EXPECT_EQ(ui.messages[0].caption, "Отказ");
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(state.Results[kDistance], "5.0000");
  EXPECT_EQ(ui.busyDepth, 0);
}

TEST(ClearResultsTest, EmptiesTheFieldsAndLeavesTheSaveStateAndTheCentre) {
  OrientationState state;
  for (auto& text : state.Results) text = "1.0000";
  state.Values.complete = true;
  state.ResultSaved = false;
  state.SaveEnabled = true;
  state.ProjectionCentre = TPoint3(1, 2, 3);
  ClearResults(state);
  for (const auto& text : state.Results) EXPECT_EQ(text, "");
  EXPECT_FALSE(state.Values.complete);
  EXPECT_FALSE(state.ResultSaved);
  EXPECT_TRUE(state.SaveEnabled);
  EXPECT_EQ(state.ProjectionCentre.z, 3);
}

TEST(RunOrientationTest, SquareCaseRunsWithTheSpreadWarningAndRestoresTheCursor) {
  ScratchFolder folder;
  OrientationState state;
  UseFiles(state, kSquare + "image.crd", kSquare + "scene.crd", folder.Folder().string());
  state.Settings.EstimateLevel = 1;
  FakeUi ui;
  ASSERT_TRUE(RunOrientation(state, ui));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text,
            "Реперные точки расположены слишком кучно. Достоверность результата низкая.");
  EXPECT_EQ(ui.messages[0].caption, "Предупреждение!");
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::None);
  EXPECT_EQ(state.Results[kCentreX], "1000.0000");
  EXPECT_EQ(state.Results[kCentreZ], "2000.0000");
  EXPECT_EQ(ui.busyDepth, 0);
  EXPECT_EQ(ui.busyCalls, (std::vector<bool>{true, false}));
  // The progress text, one per refinement round, then the empty text at the end.
  ASSERT_GE(ui.statusTexts.size(), 3u);
  EXPECT_EQ(ui.statusTexts.front(), "Подождите. Идёт счёт...");
  EXPECT_EQ(ui.statusTexts[1].rfind("Подождите. Идёт счёт...   0 : 0 : ", 0), 0u);
  EXPECT_EQ(ui.statusTexts.back(), "");
  // The log was not asked for.
  EXPECT_TRUE(std::filesystem::is_empty(folder.Folder()));
}

TEST(RunOrientationTest, FewerThanFourPointsInEitherListIsRefused) {
  ScratchFolder folder;
  const std::string three = folder.Write("three.crd", "1 ; 1\r\n300 ; 2\r\n3 ; 400\r\n");
  std::string ten;
  for (int i = 0; i < 10; ++i)
    ten += std::to_string(i * 37 % 11) + " ; " + std::to_string(i) + "\r\n";
  const std::string tenFile = folder.Write("ten.crd", ten);
  for (bool fewImage : {true, false}) {
    OrientationState state;
    UseFiles(state, fewImage ? three : tenFile, fewImage ? tenFile : three,
             folder.Folder().string());
    state.Results[kDistance] = "5.0000";  // a previous result stays
    FakeUi ui;
    EXPECT_FALSE(RunOrientation(state, ui));
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Недостаточно точек! Процедура прервана!");
    EXPECT_EQ(ui.messages[0].caption, "Ошибка!");
    EXPECT_EQ(ui.messages[0].icon, MessageIcon::None);
    EXPECT_EQ(state.Results[kDistance], "5.0000");
    EXPECT_EQ(ui.busyDepth, 0);
  }
}

TEST(RunOrientationTest, AReaderFailureEndsTheRunWithOnlyTheReadersMessage) {
  ScratchFolder folder;
  OrientationState state;
  UseFiles(state, kSquare + "image.crd", kSquare + "scene.crd", folder.Folder().string());
  state.CameraFileName = folder.Path("missing.cam");
  FakeUi ui;
  EXPECT_FALSE(RunOrientation(state, ui));
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].caption, "Ошибка!");
  EXPECT_NE(ui.messages[0].text.find("missing.cam"), std::string::npos);
  EXPECT_EQ(ui.busyDepth, 0);
}

TEST(RunOrientationTest, ALogThatCannotBeWrittenIsReportedAndLeavesOnlyTheSightingPoint) {
  ScratchFolder folder;
  const std::string notAFolder = folder.Write("plain-file", "x");
  OrientationState state;
  UseFiles(state, kSquare + "image.crd", kSquare + "scene.crd", notAFolder);
  state.Settings.EstimateLevel = 1;
  state.Settings.KeepLog = true;
  FakeUi ui;
  EXPECT_FALSE(RunOrientation(state, ui));
  ASSERT_EQ(ui.messages.size(), 2u);  // the spread warning, then the failure
  EXPECT_EQ(ui.messages[1].text, "Внутренняя ошибка! Проверьте входные данные.");
  EXPECT_EQ(ui.messages[1].caption, "Отказ");
  EXPECT_EQ(ui.messages[1].icon, MessageIcon::Exclamation);
  EXPECT_EQ(state.Results[kSightingX], "1000.0000");
  EXPECT_EQ(state.Results[kDistance], "");
  EXPECT_EQ(state.Results[kCentreX], "");
  EXPECT_TRUE(state.ResultSaved);
  EXPECT_FALSE(state.SaveEnabled);
  EXPECT_EQ(ui.busyDepth, 0);
}

TEST(RunOrientationTest, LogIsWrittenToTheGivenPathOrBesideTheStartDirectory) {
  ScratchFolder folder;
  {
    OrientationState state;
    UseFiles(state, kSquare + "image.crd", kSquare + "scene.crd", folder.Folder().string());
    state.Settings.EstimateLevel = 1;
    state.Settings.KeepLog = true;
    FakeUi ui;
    ASSERT_TRUE(RunOrientation(state, ui));
    EXPECT_TRUE(std::filesystem::exists(folder.Path("ZELV1.log")));
  }
  {
    OrientationState state;
    UseFiles(state, kSquare + "image.crd", kSquare + "scene.crd", folder.Folder().string());
    state.Settings.EstimateLevel = 1;
    state.Settings.KeepLog = true;
    FakeUi ui;
    ASSERT_TRUE(RunOrientation(state, ui, folder.Path("elsewhere.log")));
    EXPECT_TRUE(std::filesystem::exists(folder.Path("elsewhere.log")));
  }
}

}  // namespace
}  // namespace zelv
