// zelv-cli orient: its outputs, the files it writes and its exit codes, run as a real process.
#include <gtest/gtest.h>
#include <locale.h>
#include <sys/wait.h>

#include <algorithm>
#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "base/version.h"
#include "cli_runner.h"
#include "files/text_file.h"
#include "scratch_folder.h"
#include "solver/pose_conventions.h"

namespace zelv {
namespace {

using testing::ScratchFolder;

using testing::CliRun;
using testing::Quote;
using testing::RunCli;
using testing::RunCliWith;
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
  EXPECT_EQ(
      run.out,
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
      "  \"pose\": {\n"
      "    \"R\": [1, -0, 0, -0, -1, -0, 0, 0, -1],\n"
      "    \"t\": [-1000, 500, 2000],\n"
      "    \"rvec\": [3.1415926535897931, -0, 0],\n"
      "    \"colmap\": {\"qw\": 0, \"qx\": 1, \"qy\": -0, \"qz\": 0, \"tx\": -1000, \"ty\": 500, "
      "\"tz\": 2000},\n"
      "    \"omega_phi_kappa_deg\": [0, -0, -0],\n"
      "    \"convention\": \"" +
          std::string(kStandardPoseConvention) +
          "\"\n"
          "  },\n"
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
  EXPECT_EQ(missing.err, "Ошибка! Файл " + folder.Path("none.cam") +
                             " не найден!\nИскали в папке " + folder.Folder().string() + "\n");
  EXPECT_EQ(missing.out, "");
  const CliRun missingJson = RunOrient(Quote(folder.Path("none.cam")) + " a.crd b.crd --json");
  EXPECT_EQ(missingJson.exitCode, 1);
  EXPECT_EQ(missingJson.err, missing.err);
  EXPECT_EQ(missingJson.out, "{\"error\": \"Файл " + folder.Path("none.cam") +
                                 " не найден!\\nИскали в папке " + folder.Folder().string() +
                                 "\", \"caption\": \"Ошибка!\"}\n");

  const std::string three = folder.Write("three.crd", "1 ; 1\r\n300 ; 2\r\n3 ; 400\r\n");
  const CliRun few = RunOrient(Quote(CaseFile("square", "camera.cam")) + " " + Quote(three) + " " +
                               Quote(CaseFile("square", "scene.crd")));
  EXPECT_EQ(few.exitCode, 1);
  EXPECT_EQ(few.err, "Ошибка! Недостаточно точек! Процедура прервана!\n");

  const CliRun unwritable =
      RunOrient(Inputs("square") + " --out " + Quote(folder.Path("no/such/folder.ort")));
  EXPECT_EQ(unwritable.exitCode, 1);
  EXPECT_EQ(unwritable.err, std::string(kSpreadWarning) + "Ошибка! Ошибка записи ort-файла!\n");
  const CliRun unwritableJson =
      RunOrient(Inputs("square") + " --json --out " + Quote(folder.Path("no/such/folder.ort")));
  EXPECT_EQ(unwritableJson.exitCode, 1);
  EXPECT_EQ(unwritableJson.out,
            "{\"error\": \"Ошибка записи ort-файла!\", \"caption\": \"Ошибка!\"}\n");
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

TEST(OrientCommandTest, OutputThatCannotBeWrittenFailsTheRun) {
  for (const char* redirection : {">/dev/full", ">&-"}) {
    const CliRun run = RunCliWith("", "orient --json " + Inputs("square"), redirection);
    EXPECT_EQ(run.exitCode, 1) << redirection;
    EXPECT_NE(run.err.find("zelv-cli: write error: "), std::string::npos) << redirection;
  }
  for (const char* command : {"--version", "orient --help", "inputs --version"})
    EXPECT_EQ(RunCliWith("", command, ">/dev/full").exitCode, 1) << command;
}

TEST(OrientCommandTest, AnOutputThatIsAnInputIsRefusedBeforeAnythingIsWritten) {
  ScratchFolder folder;
  const std::string camera =
      folder.Write("camera.cam", ScratchFolder::Read(CaseFile("square", "camera.cam")));
  folder.Write("table.txt", ScratchFolder::Read(CaseFile("square", "table.txt")));
  const std::string image =
      folder.Write("image.crd", ScratchFolder::Read(CaseFile("square", "image.crd")));
  const std::string inputs = Quote(camera) + " " + Quote(image) + " " +
                             Quote(CaseFile("square", "scene.crd")) + " --level 1";
  const std::string cameraBytes = ScratchFolder::Read(camera);
  const std::string imageBytes = ScratchFolder::Read(image);
  // The same file under another spelling, the output not yet there, and both outputs one file.
  for (const std::string& outputs :
       {" --log " + Quote(camera), " --out " + Quote(folder.Path("sub/../image.crd")),
        " --out " + Quote(folder.Path("r.ort")) + " --log " + Quote(folder.Path("./r.ort"))}) {
    const CliRun run = RunOrient(inputs + outputs);
    EXPECT_EQ(run.exitCode, 2) << outputs;
    EXPECT_EQ(run.out, "") << outputs;
    EXPECT_EQ(run.err.rfind("zelv-cli orient: the output", 0), 0u) << run.err;
  }
  EXPECT_EQ(ScratchFolder::Read(camera), cameraBytes);
  EXPECT_EQ(ScratchFolder::Read(image), imageBytes);
  EXPECT_FALSE(std::filesystem::exists(folder.Path("r.ort")));
}

TEST(OrientCommandTest, VersionOnEveryCommand) {
  for (const char* command :
       {"--version", "orient --version", "inputs --version", "batch --version"}) {
    const CliRun run = RunCli(command);
    EXPECT_EQ(run.exitCode, 0) << command;
    EXPECT_EQ(run.out, std::string("zelv-cli ") + kVersion + "\n") << command;
  }
}

TEST(OrientCommandTest, TheLocalesDecimalCommaReachesTheTextOutput) {
  locale_t russian = newlocale(LC_NUMERIC_MASK, "ru_RU.UTF-8", static_cast<locale_t>(0));
  if (russian == static_cast<locale_t>(0)) GTEST_SKIP() << "the locale ru_RU.UTF-8 is missing";
  freelocale(russian);
  const CliRun run = RunCliWith("LC_ALL=ru_RU.UTF-8 ", "orient " + Inputs("synthetic2"), "");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("Distance L: "), std::string::npos);
  EXPECT_EQ(run.out.find('.'), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Cosine zZ: 0,"), std::string::npos) << run.out;
  // The JSON keeps '.' whatever the locale.
  const CliRun json =
      RunCliWith("LC_ALL=ru_RU.UTF-8 ", "orient --json " + Inputs("synthetic2"), "");
  EXPECT_EQ(nlohmann::json::parse(json.out)["distance"].get<double>(),
            nlohmann::json::parse(RunOrient("--json " + Inputs("synthetic2")).out)["distance"]
                .get<double>());
}

TEST(OrientCommandTest, ResidualsNameThePointsOfTablesWithIdentifiers) {
  ScratchFolder folder;
  // The square's points under names, the scene table in another order.
  const std::string image =
      folder.Write("image.csv", "id,x,y\nA,220,340\nB,420,340\nC,420,140\nD,220,140\n");
  const std::string scene =
      folder.Write("scene.csv", "id,x,y\nC,1200,700\nA,800,300\nD,800,700\nB,1200,300\n");
  const CliRun run = RunOrient("--json --residuals " + Quote(CaseFile("square", "camera.cam")) +
                               " " + Quote(image) + " " + Quote(scene));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.out);
  ASSERT_EQ(json["residuals"].size(), 4u);
  std::string ids;
  for (const nlohmann::json& point : json["residuals"]) ids += point["id"].get<std::string>();
  EXPECT_EQ(ids, "ABCD");
  EXPECT_EQ(json["projection_centre"][2].get<double>(), 2000);
  const CliRun plain = RunOrient("--json --residuals " + Inputs("square"));
  EXPECT_FALSE(nlohmann::json::parse(plain.out)["residuals"][0].contains("id"));
}

TEST(OrientCommandTest, TheRigorousLevelJudgesItsResultAgainstTheImagePrecision) {
  const std::string zhang = std::string(ZELV_EXAMPLES_DIR) + "/zhang/";
  const std::string in = Quote(zhang + "calibration.yml") + " " + Quote(zhang + "image-raw.crd") +
                         " " + Quote(zhang + "scene.crd") + " --level 4 --json";
  const CliRun ok = RunOrient(in);
  ASSERT_EQ(ok.exitCode, 0) << ok.err;
  const nlohmann::json result = nlohmann::json::parse(ok.out);
  EXPECT_EQ(result["quality"], "ok") << ok.out;
  EXPECT_TRUE(result["verdict"]["reasons"].empty());
  EXPECT_TRUE(result.contains("alternative"));
  // 256 corners: Student's t is all but the normal quantile.
  EXPECT_NEAR(result["interval95_t"].get<double>(), 1.97, 0.01);

  // Points measured to a hundredth of a pixel would fit far better: the result is suspect,
  // said in the warnings and on standard error, and still computed.
  const CliRun strict = RunOrient(in + " --image-sigma 0.01");
  ASSERT_EQ(strict.exitCode, 0) << strict.err;
  const nlohmann::json suspect = nlohmann::json::parse(strict.out);
  EXPECT_EQ(suspect["quality"], "suspect");
  EXPECT_EQ(suspect["verdict"]["reasons"], nlohmann::json::array({"sigma0_too_large"}));
  ASSERT_FALSE(suspect["warnings"].empty());
  EXPECT_EQ(suspect["warnings"].back().get<std::string>().rfind("Результат сомнителен: σ0 = ", 0),
            0u);
  EXPECT_NE(strict.err.find("Результат сомнителен"), std::string::npos);

  for (const char* wrong : {"0", "-1", "x", "0,5"})
    EXPECT_EQ(RunOrient(in + " --image-sigma " + Quote(wrong)).exitCode, 2) << wrong;
}

TEST(OrientCommandTest, KnownValuesReadTheirSyntaxAndReachTheRigorousLevel) {
  const std::string zhang = std::string(ZELV_EXAMPLES_DIR) + "/zhang/";
  const std::string in = Quote(zhang + "calibration.yml") + " " + Quote(zhang + "image-raw.crd") +
                         " " + Quote(zhang + "scene.crd") + " --json";
  // Every spelling of a σ reads; a value that does not is a usage error naming the syntax.
  for (const char* known : {"centre=1,2,3", "center=1,2,3:0.01", "z=12.5±0.02", "x=-1e2+-1",
                            "roll=0", "F=3500:5", "y=2:0"}) {
    const CliRun run = RunOrient(in + " --level 4 --known " + Quote(known) + " --known roll=1");
    EXPECT_NE(run.exitCode, 2) << known << run.err;
  }
  for (const char* wrong : {"centre=1,2", "z=", "z=1:", "z=1:-1", "f=0", "f=abc", "speed=3",
                            "z=1,5", "roll=400", "z=nan", "centre"}) {
    const CliRun run = RunOrient(in + " --level 4 --known " + Quote(wrong));
    EXPECT_EQ(run.exitCode, 2) << wrong;
    EXPECT_EQ(run.err.rfind("zelv-cli orient: --known", 0), 0u) << wrong << run.err;
  }
  // Below the rigorous level a known value is refused, in Russian, saying what to choose.
  const CliRun low = RunOrient(in + " --level 1 --known roll=0");
  EXPECT_EQ(low.exitCode, 1);
  EXPECT_NE(low.out.find("выберите строгий уровень оценки (4)"), std::string::npos) << low.out;
  // A fixed focal length replaces the calibration's; the JSON holds no NaN.
  const CliRun fixed = RunOrient(in + " --level 4 --residuals --known f=550");
  ASSERT_EQ(fixed.exitCode, 0) << fixed.err;
  EXPECT_EQ(fixed.out.find("nan"), std::string::npos);
  EXPECT_EQ(fixed.out.find("NaN"), std::string::npos);
  const nlohmann::json result = nlohmann::json::parse(fixed.out);
  EXPECT_EQ(result["focal_length"]["value"].get<double>(), 550);
  EXPECT_FALSE(result["focal_length"]["estimated"].get<bool>());
}

TEST(OrientCommandTest, ScenesInSpaceAndCheckPointsAreRefusedBelowTheRigorousLevel) {
  ScratchFolder folder;
  const std::string image =
      folder.Write("image.csv", "id,x,y\nA,220,340\nB,420,340\nC,420,140\nD,220,140\nE,300,250\n");
  const std::string scene = folder.Write(
      "scene.csv",
      "id;x;y;z;role\nA;800;300;0;\nB;1200;300;0;control\nC;1200;700;0;\nD;800;700;25;\n"
      "E;1000;500;0;check\n");
  const std::string in =
      Quote(CaseFile("square", "camera.cam")) + " " + Quote(image) + " " + Quote(scene);
  const CliRun low = RunOrient(in + " --level 1");
  EXPECT_EQ(low.exitCode, 1);
  EXPECT_NE(low.err.find("Такую сцену решает только строгая оценка"), std::string::npos) << low.err;
  const std::string bad = folder.Write("bad.csv", "id;x;y;role\nA;800;300;опорная\nB;1;2;x\n");
  const CliRun role =
      RunOrient(Quote(CaseFile("square", "camera.cam")) + " " + Quote(image) + " " + Quote(bad));
  EXPECT_EQ(role.exitCode, 1);
  EXPECT_NE(role.err.find("Роль «x» в строке 3 файла bad.csv не известна"), std::string::npos)
      << role.err;
}

}  // namespace
}  // namespace zelv
