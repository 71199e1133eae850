// zelv-cli inputs: what it prints and its exit codes, run as a real process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "cli_runner.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::ScratchFolder;

using testing::CliRun;
using testing::Quote;
using testing::RunCli;

std::string Case(const std::string& file) {
  return Quote(std::string(ZELV_TEST_DATA_DIR) + "/golden/square/" + file);
}

TEST(InputsCommandTest, PrintsTheGeometryAndEveryCorrectedPair) {
  const CliRun run = RunCli("inputs " + Case("camera.cam") + " " + Case("image.crd") + " " +
                            Case("scene.crd") + " --decimal-separator .");
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(run.out,
            "Image centre: 320 ; 240\n"
            "Focal length: 1000\n"
            "Image size: 640 ; 480\n"
            "Correction table lines: 2\n"
            "Image points: 4\n"
            "Scene points: 4\n"
            "1 ; -100 ; -100 ; 800 ; 300\n"
            "2 ; 100 ; -100 ; 1200 ; 300\n"
            "3 ; 100 ; 100 ; 1200 ; 700\n"
            "4 ; -100 ; 100 ; 800 ; 700\n");
}

TEST(InputsCommandTest, WritesTheChosenDecimalSeparator) {
  const std::string folder = std::string(ZELV_TEST_DATA_DIR) + "/golden/synthetic1/";
  const CliRun run = RunCli("inputs --decimal-separator , " + Quote(folder + "camera.cam") + " " +
                            Quote(folder + "image.crd") + " " + Quote(folder + "scene.crd"));
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("Image centre: 506,679 ; 512,363\n"), std::string::npos) << run.out;
}

TEST(InputsCommandTest, AMissingSceneFileIsReportedAndExitsOne) {
  ScratchFolder folder;
  const std::string missing = folder.Path("none.crd");
  const CliRun run =
      RunCli("inputs " + Case("camera.cam") + " " + Case("image.crd") + " " + Quote(missing));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Ошибка! Файл " + missing + " не найден!\n");
  EXPECT_EQ(run.out, "");
}

TEST(InputsCommandTest, TheFirstFailingReaderStopsTheChain) {
  ScratchFolder folder;
  const std::string camera = folder.Write("camera.cam", "320 ; a\r\n240 ; b\r\n");
  const CliRun run = RunCli("inputs " + Quote(camera) + " " + Quote(folder.Path("no-image.crd")) +
                            " " + Quote(folder.Path("no-scene.crd")));
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_EQ(run.err, "Ошибка! Ошибка чтения cam-файла!\n");

  const std::string image = folder.Write("image.crd", "1 ; 2\r\nbad\r\n");
  const CliRun second = RunCli("inputs " + Case("camera.cam") + " " + Quote(image) + " " +
                               Quote(folder.Path("no-scene.crd")));
  EXPECT_EQ(second.exitCode, 1);
  EXPECT_EQ(second.err, "Ошибка! Ошибка чтения файла координат точек изображения!\n");
}

TEST(InputsCommandTest, UsageErrorsExitTwoAndHelpExitsZero) {
  EXPECT_EQ(RunCli("inputs").exitCode, 2);
  EXPECT_EQ(RunCli("inputs a b").exitCode, 2);
  EXPECT_EQ(RunCli("inputs a b c d").exitCode, 2);
  EXPECT_EQ(RunCli("inputs a b c --decimal-separator").exitCode, 2);
  EXPECT_EQ(RunCli("inputs a b c --decimal-separator ';'").exitCode, 2);
  EXPECT_EQ(RunCli("inputs a b c --verbose").exitCode, 2);
  const CliRun help = RunCli("inputs --help");
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_EQ(help.out.rfind("Usage: zelv-cli inputs CAMERA IMAGE SCENE", 0), 0u);
}

}  // namespace
}  // namespace zelv
