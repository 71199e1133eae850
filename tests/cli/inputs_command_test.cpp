// zelv-cli inputs: what it prints and its exit codes, run as a real process.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

#include "cli_runner.h"
#include "fake_ui.h"
#include "files/camera_file.h"
#include "files/coordinate_file.h"
#include "files/correction_table.h"
#include "orientation_shims.h"
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
  EXPECT_EQ(run.err, "Ошибка! Файл " + missing + " не найден!\nИскали в папке " +
                         folder.Folder().string() + "\n");
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
  EXPECT_EQ(second.err,
            "Ошибка! Ошибка чтения файла координат точек изображения!\nВ строке 2 файла image.crd "
            "нет «;» между x и y: «bad».\n");
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

TEST(InputsCommandTest, ACalibrationFileShowsItsLensModelAndTheCorrectedPoints) {
  const std::string photo = std::string(ZELV_TEST_DATA_DIR) + "/realdata/zhang/image1/";
  const std::string files = Quote(photo + "image-raw.crd") + " " + Quote(photo + "scene.crd");
  const CliRun yaml =
      RunCli("inputs " + Quote(photo + "calibration.yml") + " " + files + " --decimal-separator .");
  EXPECT_EQ(yaml.exitCode, 0) << yaml.err;
  EXPECT_EQ(yaml.out.substr(0, yaml.out.find("Image points")),
            "Image centre: 303.959 ; 206.585\n"
            "Focal length: 832.5\n"
            "Image size: 640 ; 480\n"
            "Lens model: OpenCV (OpenCV calibration file)\n"
            "Camera matrix: fx 832.5 ; fy 832.53 ; cx 303.959 ; cy 206.585 ; skew 0.204494\n"
            "Coefficients: k1 -0.228601 ; k2 0.190353 ; p1 0 ; p2 0 ; k3 0\n");
  EXPECT_NE(yaml.out.find("Image points: 256\nScene points: 256\n1 ; "), std::string::npos);

  ScratchFolder folder;
  const std::string list = folder.Write("cameras.txt",
                                        "1 PINHOLE 640 480 800 800 320 240\n"
                                        "5 SIMPLE_RADIAL 640 480 832.5 303.959 206.585 -0.2\n");
  const CliRun second = RunCli("inputs " + Quote(list) + " " + files + " --camera-id 5");
  EXPECT_EQ(second.exitCode, 0) << second.err;
  EXPECT_NE(second.out.find("Lens model: SIMPLE_RADIAL (COLMAP camera 5)\n"), std::string::npos);
  EXPECT_NE(second.out.find("Coefficients: k1 -0.2 ; k2 0 ; p1 0 ; p2 0\n"), std::string::npos);

  const CliRun missing = RunCli("inputs " + Quote(list) + " " + files + " --camera-id 4");
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(missing.out, "");
  EXPECT_EQ(missing.err,
            "Ошибка! Ошибка чтения файла калибровки камеры: в списке нет камеры с номером 4!\n");
  for (const char* bad : {"0", "-1", "x", "1.5", ""}) {
    const CliRun usage =
        RunCli("inputs " + Quote(list) + " " + files + " --camera-id '" + bad + "'");
    EXPECT_EQ(usage.exitCode, 2) << bad;
    EXPECT_NE(usage.err.find("--camera-id needs a whole number from 1"), std::string::npos) << bad;
  }
  const CliRun orient = RunCli("orient " + Quote(list) + " " + files + " --camera-id 4");
  EXPECT_EQ(orient.exitCode, 1);
  EXPECT_NE(orient.err.find("в списке нет камеры с номером 4!"), std::string::npos);
}

// synthetic1's table divides by s = 0.8 and both its bands share one y polynomial, so the corrected
// y can be computed here in the order the correction is defined: ImageCentreY / s − Py(y) / s,
// Py summed from 0 with pow. The other order, (ImageCentreY − Py(y)) / s, rounds differently.
TEST(InputsCommandTest, JsonHoldsTheCorrectedPointsBitForBit) {
  const std::string folder = std::string(ZELV_TEST_DATA_DIR) + "/golden/synthetic1/";
  const CliRun run = RunCli("inputs --json " + Quote(folder + "camera.cam") + " " +
                            Quote(folder + "image.crd") + " " + Quote(folder + "scene.crd"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json json = nlohmann::json::parse(run.out);
  EXPECT_EQ(json["image_centre"][0].get<double>(), 506.679);
  EXPECT_EQ(json["focal_length"].get<double>(), 1826.48);
  EXPECT_EQ(json["correction_table_lines"].get<int>(), 3);

  testing::FakeUi ui;
  InteriorGeometry geometry;
  ASSERT_TRUE(Shown(ui, ReadCameraFile(folder + "camera.cam", geometry)));
  VT_Points raw{1};
  ASSERT_TRUE(Shown(ui, ReadRawImagePoints(folder + "image.crd", raw)));
  const nlohmann::json& points = json["points"];
  ASSERT_EQ(points.size(), static_cast<std::size_t>(raw.Count()));
  const double s = 0.8, c0 = 1.24230920491902, c1 = 0.997235456718622;
  int otherOrderDiffers = 0;
  for (int i = 0; i < raw.Count(); ++i) {
    const double x = raw.Get(i)->x, y = raw.Get(i)->y;
    double py = 0;
    py = py + c0 * std::pow(y, 0);
    py = py + c1 * std::pow(y, 1);
    const double corrected = geometry.ImageCentreY / s - py / s;
    EXPECT_EQ(points[i]["y"].get<double>(), corrected) << i + 1;
    EXPECT_EQ(points[i]["y"].get<double>(),
              CorrectImageY(y, geometry.CorrectionTable, geometry.ImageCentreY))
        << i + 1;
    EXPECT_EQ(points[i]["x"].get<double>(),
              CorrectImageX(x, geometry.CorrectionTable, geometry.ImageCentreX))
        << i + 1;
    otherOrderDiffers += (geometry.ImageCentreY - py) / s != corrected;
  }
  EXPECT_GT(otherOrderDiffers, 0);
}

TEST(InputsCommandTest, JsonNamesTheLensModelOfACalibrationFile) {
  const std::string photo = std::string(ZELV_TEST_DATA_DIR) + "/realdata/zhang/image1/";
  const CliRun run = RunCli("inputs --json " + Quote(photo + "calibration.yml") + " " +
                            Quote(photo + "image-raw.crd") + " " + Quote(photo + "scene.crd"));
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const nlohmann::json lens = nlohmann::json::parse(run.out)["lens"];
  EXPECT_EQ(lens["model"], "OpenCV");
  EXPECT_EQ(lens["fy"].get<double>(), 832.53);
  EXPECT_EQ(lens["coefficients"].size(), 5u);
  EXPECT_EQ(lens["coefficients"][0].get<double>(), -0.228601);

  const CliRun missing = RunCli("inputs --json " + Quote(photo + "calibration.yml") + " " +
                                Quote(photo + "none.crd") + " " + Quote(photo + "scene.crd"));
  EXPECT_EQ(missing.exitCode, 1);
  EXPECT_EQ(nlohmann::json::parse(missing.out)["caption"], "Ошибка!");
}

TEST(InputsCommandTest, ACameraIdWithACamOrOpenCvFileIsAUsageErrorInEveryCommand) {
  // A camera id chooses a camera of a COLMAP list: with a ".cam" file it used to be ignored, with
  // an OpenCV file refused as a read error; now each command refuses both before reading.
  const std::string survey = std::string(ZELV_EXAMPLES_DIR) + "/survey/";
  const std::string zhang = std::string(ZELV_EXAMPLES_DIR) + "/zhang/";
  const struct {
    std::string camera, image, scene, kind;
  } cameras[] = {
      {survey + "camera.cam", survey + "image.crd", survey + "scene.crd", "a .cam file"},
      {zhang + "calibration.yml", zhang + "image-raw.crd", zhang + "scene.crd",
       "an OpenCV calibration file"},
  };
  for (const auto& c : cameras) {
    const std::string files = Quote(c.camera) + " " + Quote(c.image) + " " + Quote(c.scene);
    for (const std::string& command : {"inputs " + files, "orient " + files,
                                       "batch --camera " + Quote(c.camera) + " --scene " +
                                           Quote(c.scene) + " " + Quote(c.image)}) {
      SCOPED_TRACE(command);
      const CliRun run = RunCli(command + " --camera-id 2");
      EXPECT_EQ(run.exitCode, 2);
      EXPECT_EQ(run.out, "");
      EXPECT_NE(run.err.find(": --camera-id chooses a camera of a COLMAP cameras.txt, and " +
                             c.camera + " is " + c.kind + ": leave --camera-id out\n"),
                std::string::npos)
          << run.err;
    }
  }
}

}  // namespace
}  // namespace zelv
