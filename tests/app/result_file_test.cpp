// The orientation result file: its 21 lines, the proposed name and the save command's flows.
#include "app/result_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "base/zelv_error.h"
#include "fake_ui.h"
#include "files/text_file.h"
#include "orientation_shims.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::FakeUi;
using testing::ScratchFolder;

// Stands for the main window; the core only passes it on.
void* const kMainWindow = reinterpret_cast<void*>(0x1234);

// A shown, unsaved result: centre (1234.5, -2, 3), every field "0.0000" but xX at -0.5.
const char kImageFile[] = "/data/survey/scene1.crd";

void FillResult(Orientation& state, char separator) {
  state.decimalSeparator = separator;
  state.centre = TPoint3(1234.5, -2, 3);
  for (int i = 0; i < kResultCount; ++i) state.texts[i] = FormatFixed4(0, separator);
  state.texts[kCosXX] = FormatFixed4(-0.5, separator);
}

TEST(DefaultOrtNameTest, FileNameWithoutFolderCutAtItsFirstDot) {
  EXPECT_EQ(DefaultOrtName("/data/scene1.crd"), "scene1.ort");
  EXPECT_EQ(DefaultOrtName("C:\\data\\scene1.crd"), "scene1.ort");
  EXPECT_EQ(DefaultOrtName("/data\\sub/img.old.crd"), "img.ort");
  EXPECT_EQ(DefaultOrtName("points"), ".ort");
  EXPECT_EQ(DefaultOrtName(""), ".ort");
  EXPECT_EQ(DefaultOrtName("/data.d/points"), ".ort");
}

TEST(ResultFileLinesTest, TwentyOneValuesEachFollowedByItsComment) {
  Orientation state;
  FillResult(state, ',');
  const auto lines = ResultFileLines(state);
  ASSERT_EQ(lines.size(), 21u);
  EXPECT_EQ(lines[0], "1234,5000 ; Координата X центра проекции в системе координат сцены");
  EXPECT_EQ(lines[1], "-2,0000 ; Координата Y центра проекции в системе координат сцены");
  EXPECT_EQ(lines[5], "0,0000 ; Расстояние от центра проекции до точки визирования");
  EXPECT_EQ(lines[9], "0,0000 ; Угол поворота сцены вокруг поперечной оси (градусы, стенд.)");
  EXPECT_EQ(lines[12], "-0,5000 ; Косинус угла xx");
  EXPECT_EQ(lines[20], "0,0000 ; Косинус угла zz");
}

TEST(SaveResultFileTest, NewFileIsWrittenAndTheResultBecomesSaved) {
  ScratchFolder folder;
  Orientation state;
  FillResult(state, '.');
  FakeUi ui;
  ui.files.push_back(folder.Path("scene1.ort"));
  EXPECT_EQ(SaveResultFile(state, kImageFile, ui, Owner{kMainWindow}), SaveOutcome::Written);
  ASSERT_EQ(ui.saveRequests.size(), 1u);
  const FileDialogRequest& request = ui.saveRequests[0];
  ASSERT_EQ(request.filters.size(), 1u);
  EXPECT_EQ(request.filters[0].description, "Orientation Files (*.ort)");
  EXPECT_EQ(request.filters[0].pattern, "*.ort");
  EXPECT_EQ(request.defaultSuffix, "ort");
  EXPECT_EQ(request.proposedName, "scene1.ort");
  EXPECT_EQ(request.owner.window, kMainWindow);
  EXPECT_TRUE(ui.questions.empty());
  EXPECT_TRUE(ui.messages.empty());

  const std::string bytes = ScratchFolder::Read(folder.Path("scene1.ort"));
  EXPECT_EQ(bytes.rfind("1234.5000 ; \xCA\xEE\xEE\xF0\xE4\xE8\xED\xE0\xF2\xE0 X", 0), 0u);
  EXPECT_EQ(bytes.substr(bytes.size() - 2), "\r\n");
  EXPECT_EQ(std::count(bytes.begin(), bytes.end(), '\n'), 21);
  EXPECT_EQ(LoadTextLines(folder.Path("scene1.ort")), ResultFileLines(state));
}

TEST(SaveResultFileTest, OverwriteAskedAndAnsweredYesReplacesTheFile) {
  ScratchFolder folder;
  const std::string path = folder.Write("old.ort", "old\r\n");
  Orientation state;
  FillResult(state, '.');
  FakeUi ui;
  ui.files.push_back(path);
  ui.answers.push_back(true);
  EXPECT_EQ(SaveResultFile(state, kImageFile, ui, Owner{kMainWindow}), SaveOutcome::Written);
  ASSERT_EQ(ui.questions.size(), 1u);
  EXPECT_EQ(ui.questions[0].text, "Файл old.ort уже существует. Перезаписать?");
  EXPECT_EQ(ui.questions[0].caption, "Предупреждение");
  EXPECT_EQ(ui.questions[0].owner, kMainWindow);
  EXPECT_EQ(LoadTextLines(path).size(), 21u);
}

TEST(SaveResultFileTest, OverwriteDeclinedKeepsTheOldFileAndTheResultUnsaved) {
  ScratchFolder folder;
  const std::string path = folder.Write("old.ort", "old\r\n");
  Orientation state;
  FillResult(state, '.');
  FakeUi ui;
  ui.files.push_back(path);
  ui.answers.push_back(false);
  EXPECT_EQ(SaveResultFile(state, kImageFile, ui, Owner{kMainWindow}), SaveOutcome::Declined);
  EXPECT_EQ(ScratchFolder::Read(path), "old\r\n");
  EXPECT_TRUE(ui.messages.empty());
}

TEST(SaveResultFileTest, WriteErrorIsReportedAndTheResultStaysUnsaved) {
  ScratchFolder folder;
  Orientation state;
  FillResult(state, '.');
  FakeUi ui;
  ui.files.push_back(folder.Path("no-such-folder/result.ort"));
  EXPECT_EQ(SaveResultFile(state, kImageFile, ui, Owner{kMainWindow}), SaveOutcome::Failed);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, "Ошибка записи ort-файла!");
  EXPECT_EQ(ui.messages[0].caption, "Ошибка!");
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::None);
  EXPECT_EQ(ui.messages[0].owner, kMainWindow);
}

TEST(SaveResultFileTest, CancelledDialogChangesNothing) {
  Orientation state;
  FillResult(state, '.');
  FakeUi ui;
  EXPECT_EQ(SaveResultFile(state, kImageFile, ui, Owner{kMainWindow}), SaveOutcome::Cancelled);
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_TRUE(ui.questions.empty());
}

TEST(WriteResultFileTest, AFolderOfThatNameIsNotReplaced) {
  ScratchFolder folder;
  std::filesystem::create_directory(folder.Path("taken.ort"));
  Orientation state;
  FillResult(state, '.');
  EXPECT_FALSE(WriteResultFile(folder.Path("taken.ort"), state));
  EXPECT_TRUE(std::filesystem::is_directory(folder.Path("taken.ort")));
}

}  // namespace
}  // namespace zelv
