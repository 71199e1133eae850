// The PDF report: a real file that a PDF reader opens, holding the values, written atomically.
#include "app/report_pdf/report_pdf.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::ScratchFolder;

// The orientation of the real photograph at the rigorous level.
Orientation Zhang() {
  const std::string folder = std::string(ZELV_EXAMPLES_DIR) + "/zhang/";
  OrientationRequest request;
  request.cameraFile = folder + "calibration.yml";
  request.imageFile = folder + "image-raw.crd";
  request.sceneFile = folder + "scene.crd";
  request.settings.EstimateLevel = kRigorousLevel;
  request.decimalSeparator = '.';
  request.threads = 1;
  OrientationOutcome outcome = Orient(request);
  if (!outcome) throw std::runtime_error(outcome.error().text);
  return std::move(*outcome);
}

TEST(ReportPdfTest, ThePdfOpensAndHoldsTheValuesAndAFailedWriteKeepsTheOldFile) {
  ScratchFolder folder;
  const Orientation orientation = Zhang();
  ReportContext context;
  context.inputs = {{"Камера", "calibration.yml", FileIdentity{418, std::string(64, 'a')}}};
  context.version = "9.9.9";
  context.time = "2026-01-02 03:04:05";
  const std::string pdf = folder.Path("zhang.pdf");
  ASSERT_TRUE(WriteReport(pdf, orientation, context));
  const std::string text = folder.Path("zhang.txt");
  ASSERT_EQ(std::system(("pdftotext -enc UTF-8 '" + pdf + "' '" + text + "'").c_str()), 0);
  const std::string shown = ScratchFolder::Read(text);
  for (const std::string& value : orientation.texts)
    EXPECT_NE(shown.find(value), std::string::npos) << value;
  for (const char* expected :
       {"Отчёт об ориентации камеры", "ZELV 9.9.9", "2026-01-02 03:04:05", "calibration.yml",
        "Наибольшие невязки: 12 из 256", "Заключение: результат согласуется с заданной точностью."})
    EXPECT_NE(shown.find(expected), std::string::npos) << expected;

  // A folder in the way: the failure names the report, and the old PDF beside it is untouched.
  std::filesystem::create_directory(folder.Path("taken.pdf"));
  const Expected<void> failed = WriteReport(folder.Path("taken.pdf"), orientation, context);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error().text.rfind("Ошибка записи отчёта!\n", 0), 0u);
  EXPECT_EQ(failed.error().caption, "Ошибка!");
  const std::string before = ScratchFolder::Read(pdf);
  ASSERT_TRUE(WriteReport(folder.Path("zhang.html"), orientation, context));
  EXPECT_EQ(ScratchFolder::Read(pdf), before);
  EXPECT_EQ(ScratchFolder::Read(folder.Path("zhang.html")).rfind("<!DOCTYPE html>", 0), 0u);
}

}  // namespace
}  // namespace zelv
