// zelv-cli orient: its outputs, the files it writes and its exit codes, run as a real process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "cli_runner.h"
#include "files/text_file.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::ScratchFolder;

using testing::CliRun;
using testing::Quote;
using testing::RunOrient;

std::string CaseFile(const std::string& caseName, const std::string& file) {
  return std::string(ZELV_TEST_DATA_DIR) + "/golden/" + caseName + "/" + file;
}

std::string Inputs(const std::string& caseName) {
  return Quote(CaseFile(caseName, "camera.cam")) + " " + Quote(CaseFile(caseName, "image.crd")) +
         " " + Quote(CaseFile(caseName, "scene.crd"));
}

const char kSpreadWarning[] =
    "Предупреждение! Реперные точки расположены слишком кучно. Достоверность результата "
    "низкая.\n";

TEST(OrientCommandTest, WritesTheResultFileAndTheLogOfTheWorkedCase) {
  ScratchFolder folder;
  const CliRun run =
      RunOrient(Inputs("synthetic2") + " --level normal --decimal-separator . --out " +
                Quote(folder.Path("r.ort")) + " --log " + Quote(folder.Path("r.log")));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(ScratchFolder::Read(folder.Path("r.ort")),
            ScratchFolder::Read(CaseFile("synthetic2", "expected-level1.ort")));
  auto log = LoadTextLines(folder.Path("r.log"));
  auto expected = LoadTextLines(CaseFile("synthetic2", "expected-level1.log"));
  ASSERT_EQ(log.size(), expected.size());
  EXPECT_EQ(log.back().rfind("Время счета: ", 0), 0u);
  log.pop_back();
  expected.pop_back();
  EXPECT_EQ(log, expected);
  EXPECT_NE(run.out.find("Distance L: "), std::string::npos);
}

TEST(OrientCommandTest, PrintsLabelledValuesWithTheChosenSeparatorAndWarnsOnStderr) {
  const CliRun run = RunOrient(Inputs("square") + " --decimal-separator ,");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, kSpreadWarning);
  EXPECT_EQ(run.out.rfind("Projection centre X: 1000,0000\nProjection centre Y: 500,0000\n"
                          "Projection centre Z: 2000,0000\n",
                          0),
            0u);
  EXPECT_NE(run.out.find("Cosine zZ: 1,0000\n"), std::string::npos);
}

TEST(OrientCommandTest, JsonHoldsTheValuesWithFullPrecision) {
  const CliRun run = RunOrient("--json " + Inputs("square"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.out,
            "{\n"
            "  \"level\": \"fast\",\n"
            "  \"projection_centre\": [1000, 500, 2000],\n"
            "  \"sighting_point\": [1000, 500],\n"
            "  \"distance\": 2000,\n"
            "  \"photogrammetric_angles_deg\": [0, 0, -0],\n"
            "  \"stand_angles_deg\": [0, -0, 0],\n"
            "  \"direction_cosines\": [1, 0, -0, -0, 1, -0, 0, 0, 1],\n"
            "  \"warnings\": [\"Реперные точки расположены слишком кучно. Достоверность результата "
            "низкая.\"],\n"
            "  \"focal_length\": {\"value\": 1000, \"sigma\": 0, \"estimated\": false},\n"
            "  \"cost\": 0\n"
            "}\n");
}

TEST(OrientCommandTest, FirstValuesAndOffsetsReachTheRefinement) {
  ScratchFolder folder;
  const CliRun run =
      RunOrient(Inputs("square") + " --level 1 --first-values 1.5,-2,0,2500 --vary-hi" +
                " --initial-offsets 5,5,5,10 --final-offsets 0.001,0.001,0.001,0.001 --log " +
                Quote(folder.Path("log")));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const auto log = LoadTextLines(folder.Path("log"));
  ASSERT_GT(log.size(), 2u);
  EXPECT_EQ(log[1].rfind("1.5000  ;  -2.0000  ;  0.0000  ;  2500.0000  ;  ", 0), 0u) << log[1];
  EXPECT_NE(std::find(log.begin(), log.end(), "  Начальное смещение:5.0000"), log.end());
  EXPECT_NE(std::find(log.begin(), log.end(), "  Конечное смещение:0.001"), log.end());
}

TEST(OrientCommandTest, FailedRunsExitWithOneAfterTheirMessage) {
  ScratchFolder folder;
  const CliRun missing = RunOrient(Quote(folder.Path("none.cam")) + " a.crd b.crd");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.err, "Ошибка! Файл " + folder.Path("none.cam") + " не найден!\n");
  EXPECT_EQ(missing.out, "");

  const std::string three = folder.Write("three.crd", "1 ; 1\r\n300 ; 2\r\n3 ; 400\r\n");
  const CliRun few = RunOrient(Quote(CaseFile("square", "camera.cam")) + " " + Quote(three) + " " +
                               Quote(CaseFile("square", "scene.crd")));
  EXPECT_EQ(few.exitCode, 1);
  EXPECT_EQ(few.err, "Ошибка! Недостаточно точек! Процедура прервана!\n");

  const CliRun unwritable =
      RunOrient(Inputs("square") + " --out " + Quote(folder.Path("no/such/folder.ort")));
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_EQ(unwritable.err, std::string(kSpreadWarning) + "Ошибка! Ошибка записи ort-файла!\n");
}

TEST(OrientCommandTest, UsageErrorsExitWithTwo) {
  const std::string in = Inputs("square");
  for (const std::string& arguments :
       {std::string(""), std::string("a b"), in + " extra", in + " --level 2", in + " --level",
        in + " --final-offsets 0,1,1,1", in + " --final-offsets 1,1,1,-1",
        in + " --first-values 1,2,3", in + " --first-values 1,2,3,x",
        in + " --initial-offsets '1;2;3;4'", in + " --decimal-separator ';'",
        in + " --frobnicate"}) {
    const CliRun run = RunOrient(arguments);
    EXPECT_EQ(run.exitCode, 2) << arguments;
    EXPECT_EQ(run.out, "") << arguments;
    EXPECT_EQ(run.err.rfind("zelv-cli orient: ", 0), 0u) << arguments;
  }
  const CliRun help = RunOrient("--help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: zelv-cli orient CAMERA IMAGE SCENE", 0), 0u);
}

}  // namespace
}  // namespace zelv
