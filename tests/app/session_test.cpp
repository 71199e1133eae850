// The orientation command's steps without a window: loading, the point-count refusal, the spread
// warning, clearing the result, the progress text and the whole run.
#include <gtest/gtest.h>

#include <filesystem>
#include <limits>

#include "app/orientation_session.h"
#include "base/zelv_error.h"
#include "fake_ui.h"
#include "orientation_shims.h"
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
void UseFiles(OrientationRun& state, const std::string& image, const std::string& scene,
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
  OrientationRun state;
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

TEST(ClearResultsTest, EmptiesTheFieldsLeavingNoResultAndKeepsTheCentre) {
  OrientationRun state;
  for (auto& text : state.Results) text = "1.0000";
  state.Values.complete = true;
  state.ProjectionCentre = TPoint3(1, 2, 3);
  ClearResults(state);
  for (const auto& text : state.Results) EXPECT_EQ(text, "");
  EXPECT_FALSE(state.Values.complete);
  EXPECT_EQ(state.ProjectionCentre.z, 3);
}

TEST(RunOrientationTest, SquareCaseRunsWithTheSpreadWarningAndRestoresTheCursor) {
  ScratchFolder folder;
  OrientationRun state;
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
    OrientationRun state;
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
  OrientationRun state;
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
  OrientationRun state;
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
  EXPECT_EQ(ui.busyDepth, 0);
}

TEST(RunOrientationTest, LogIsWrittenToTheGivenPathOrBesideTheStartDirectory) {
  ScratchFolder folder;
  {
    OrientationRun state;
    UseFiles(state, kSquare + "image.crd", kSquare + "scene.crd", folder.Folder().string());
    state.Settings.EstimateLevel = 1;
    state.Settings.KeepLog = true;
    FakeUi ui;
    ASSERT_TRUE(RunOrientation(state, ui));
    EXPECT_TRUE(std::filesystem::exists(folder.Path("ZELV1.log")));
  }
  {
    OrientationRun state;
    UseFiles(state, kSquare + "image.crd", kSquare + "scene.crd", folder.Folder().string());
    state.Settings.EstimateLevel = 1;
    state.Settings.KeepLog = true;
    FakeUi ui;
    ASSERT_TRUE(RunOrientation(state, ui, folder.Path("elsewhere.log")));
    EXPECT_TRUE(std::filesystem::exists(folder.Path("elsewhere.log")));
  }
}

// ---------------------------------------------------------------- Orient, the run as a value

OrientationRequest SquareRequest(const std::string& startDirectory) {
  OrientationRequest request;
  request.cameraFile = kSquare + "camera.cam";
  request.imageFile = kSquare + "image.crd";
  request.sceneFile = kSquare + "scene.crd";
  request.startDirectory = startDirectory;
  request.decimalSeparator = '.';
  return request;
}

TEST(OrientTest, AReadersFailureCarriesTheWindowsMessageAndNamesItsInputWithNothingShown) {
  ScratchFolder folder;
  OrientationRequest request = SquareRequest(folder.Folder().string());
  request.sceneFile = folder.Path("missing.crd");
  const OrientationOutcome outcome = Orient(request);
  ASSERT_FALSE(outcome.has_value());
  EXPECT_EQ(outcome.error().text, "Файл " + folder.Path("missing.crd") +
                                      " не найден!\nИскали в папке " + folder.Folder().string());
  EXPECT_EQ(outcome.error().caption, "Ошибка!");
  EXPECT_EQ(outcome.error().input, FailedInput::kScene);
  // Nothing was computed: the window keeps the fields it showed.
  EXPECT_FALSE(outcome.error().shown.has_value());

  // The desktop's command shows the same message, once.
  FakeUi ui;
  EXPECT_FALSE(RunOrientation(request, ui).has_value());
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, outcome.error().text);
  EXPECT_EQ(ui.messages[0].caption, "Ошибка!");
  EXPECT_EQ(ui.busyDepth, 0);
}

TEST(OrientTest, ListsOfDifferentLengthsAreRefusedBeforeComputingNamingBothCountsAtEveryLevel) {
  ScratchFolder folder;
  const auto grid = [&folder](const std::string& name, int count, double step) {
    std::string text;
    for (int i = 0; i < count; ++i)
      text += std::to_string(10 + step * (i % 16)) + " ; " + std::to_string(10 + step * (i / 16)) +
              "\r\n";
    return folder.Write(name, text);
  };
  const std::string many = grid("many.crd", 256, 30);
  const std::string fewer = grid("fewer.crd", 200, 1.5);
  const std::string more =
      "\nТочек в файле изображения many.crd: 256, в файле сцены fewer.crd: 200; в файле "
      "изображения на 56 больше. Точки составляют пары по номерам строк: в обоих файлах их должно "
      "быть поровну.";
  const std::string less =
      "\nТочек в файле изображения fewer.crd: 200, в файле сцены many.crd: 256; в файле сцены на "
      "56 больше. Точки составляют пары по номерам строк: в обоих файлах их должно быть поровну.";
  for (const int level : {0, 1, 3, 4})
    for (const bool imageMore : {true, false}) {
      SCOPED_TRACE(std::to_string(level) + (imageMore ? " image" : " scene"));
      OrientationRequest request = SquareRequest(folder.Folder().string());
      request.settings.EstimateLevel = level;
      request.imageFile = imageMore ? many : fewer;
      request.sceneFile = imageMore ? fewer : many;
      std::vector<std::string> events;
      OrientationProgress progress;
      progress.warned = [&events](const Warning& w) { events.push_back(w.text); };
      progress.computing = [&events] { events.push_back("computing"); };
      const OrientationOutcome outcome = Orient(request, progress);
      ASSERT_FALSE(outcome.has_value());
      const OrientationFailure& failure = outcome.error();
      EXPECT_EQ(failure.text,
                "Внутренняя ошибка! Проверьте входные данные." + (imageMore ? more : less));
      EXPECT_EQ(failure.caption, "Отказ");
      EXPECT_EQ(failure.icon, MessageIcon::Exclamation);
      // Refused before anything ran: no warning, nothing cleared, nothing shown.
      EXPECT_TRUE(events.empty());
      EXPECT_FALSE(failure.shown.has_value());
    }
  // Fewer than four points in one list stays the refusal it has always been.
  OrientationRequest request = SquareRequest(folder.Folder().string());
  request.sceneFile = grid("three.crd", 3, 10);
  const OrientationOutcome outcome = Orient(request);
  ASSERT_FALSE(outcome.has_value());
  EXPECT_EQ(outcome.error().text, "Недостаточно точек! Процедура прервана!");
}

TEST(OrientTest, AFailedComputationCarriesItsWarningsAndTheValuesShownBeforeIt) {
  ScratchFolder folder;
  OrientationRequest request = SquareRequest(folder.Write("plain-file", "x"));
  request.settings.EstimateLevel = 1;
  request.settings.KeepLog = true;  // the log cannot be written: the run fails after the fit
  std::vector<std::string> events;
  OrientationProgress progress;
  progress.warned = [&events](const Warning& w) { events.push_back("warning " + w.text); };
  progress.computing = [&events] { events.push_back("computing"); };
  const OrientationOutcome outcome = Orient(request, progress);
  ASSERT_FALSE(outcome.has_value());
  const OrientationFailure& failure = outcome.error();
  EXPECT_EQ(failure.text, "Внутренняя ошибка! Проверьте входные данные.");
  EXPECT_EQ(failure.caption, "Отказ");
  ASSERT_EQ(failure.warnings.size(), 1u);
  EXPECT_EQ(events, (std::vector<std::string>{"warning " + failure.warnings[0].text, "computing"}));
  ASSERT_TRUE(failure.shown.has_value());
  EXPECT_EQ((*failure.shown)[kSightingX], "1000.0000");
  EXPECT_EQ((*failure.shown)[kCentreX], "");
}

TEST(OrientTest, ChangesNoneOfItsInputsSoTheSameRequestGivesTheSameBits) {
  ScratchFolder folder;
  OrientationRequest request = SquareRequest(folder.Folder().string());
  request.settings.EstimateLevel = 3;
  const OrientationRequest before = request;
  const OrientationOutcome first = Orient(request);
  const OrientationOutcome second = Orient(request);
  ASSERT_TRUE(first.has_value());
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(first->texts, second->texts);
  EXPECT_EQ(first->values.values, second->values.values);
  EXPECT_EQ(request.settings.AlStart, before.settings.AlStart);
  // The precise estimate's start offsets come back as data, for the desktop to keep.
  EXPECT_NE(first->settings.AlStart, before.settings.AlStart);
  // The residuals, the pose and the camera travel with the result.
  ASSERT_TRUE(first->residuals.has_value());
  EXPECT_EQ(first->residuals->points.size(), 4u);
  EXPECT_EQ(first->camera.FocalLength, 1000.0);
  const StandardPose& pose = first->pose;
  EXPECT_NEAR(pose.qw * pose.qw + pose.qx * pose.qx + pose.qy * pose.qy + pose.qz * pose.qz, 1,
              1e-12);
}

TEST(OrientationRequestTest, CheckNamesTheFirstWrongOption) {
  OrientationRequest request;
  EXPECT_FALSE(request.Check().has_value());
  request.settings.EstimateLevel = 2;
  EXPECT_EQ(request.Check(), "the estimate level must be 0, 1, 3 or 4");
  request.settings.EstimateLevel = 1;
  request.sigmaCount = -1;
  EXPECT_EQ(request.Check(), "the sigma count must be 0 or more");
  request.sigmaCount = 3;
  request.settings.LMin = std::numeric_limits<double>::infinity();
  EXPECT_EQ(request.Check(), "the refinement's settings must be finite numbers");
  // Orient refuses it before reading anything.
  const OrientationOutcome outcome = Orient(request);
  ASSERT_FALSE(outcome.has_value());
  EXPECT_EQ(outcome.error().text, "the refinement's settings must be finite numbers");
}

}  // namespace
}  // namespace zelv
