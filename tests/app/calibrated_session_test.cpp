// Loading a run's inputs through a calibration file, and back through a camera file.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fake_ui.h"
#include "files/calibration_file.h"
#include "files/lens_model.h"
#include "orientation_shims.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::FakeUi;
using testing::ScratchFolder;

// Two COLMAP cameras; camera 3 has one radial coefficient.
const char kColmap[] =
    "# Camera list with one line of data per camera:\n"
    "#   CAMERA_ID, MODEL, WIDTH, HEIGHT, PARAMS[]\n"
    "# Number of cameras: 2\n"
    "7 OPENCV 1600 1200 1500 1530 810.5 590.25 -0.2 0.05 0.001 -0.0005\n"
    "3 SIMPLE_RADIAL 800 600 700 400 300 -0.1\n";

TEST(CalibrationSessionTest, LoadInputsTakesTheGeometryFromTheCalibrationAndBackFromACamFile) {
  ScratchFolder folder;
  OrientationRun state;
  state.CameraFileName = folder.Write("cameras.txt", kColmap);
  state.CameraId = 3;
  state.ImageFileName = folder.Write("image.crd", "400 ; 300\r\n1100 ; 300\r\n");
  state.SceneFileName = folder.Write("scene.crd", "0 ; 0\r\n1 ; 0\r\n");
  state.Geometry.CorrectionTable = {"1"};
  FakeUi ui;
  ASSERT_TRUE(LoadInputs(state, ui));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(state.Geometry.ImageCentreX, 400.0);
  EXPECT_EQ(state.Geometry.ImageCentreY, 300.0);
  EXPECT_EQ(state.Geometry.FocalLength, 700.0);
  EXPECT_EQ(state.Geometry.ImageWidth, 800.0);
  EXPECT_EQ(state.Geometry.ImageHeight, 600.0);
  EXPECT_TRUE(state.Geometry.CorrectionTable.empty());
  ASSERT_TRUE(state.Geometry.Lens.has_value());
  EXPECT_EQ(state.Geometry.Lens->cameraId, 3);
  ASSERT_EQ(state.ImagePoints.Count(), 2);
  // The principal point is the origin; a barrel lens pulled the point one focal length to the
  // right inwards, so its ideal place lies further out: x = F·x' with x'(1 - 0.1 x'²) = 1.
  EXPECT_EQ(state.ImagePoints.Get(0)->x, 0.0);
  EXPECT_EQ(state.ImagePoints.Get(0)->y, 0.0);
  const double ideal = state.ImagePoints.Get(1)->x / 700;
  EXPECT_GT(ideal, 1.1);
  EXPECT_NEAR(ideal * (1 - 0.1 * ideal * ideal), 1.0, 1e-12);
  EXPECT_EQ(state.ImagePoints.Get(1)->y, 0.0);

  state.CameraFileName = std::string(ZELV_TEST_DATA_DIR) + "/golden/square/camera.cam";
  ASSERT_TRUE(LoadInputs(state, ui));
  EXPECT_FALSE(state.Geometry.Lens.has_value());
  EXPECT_EQ(state.Geometry.FocalLength, 1000.0);
}

TEST(CalibrationSessionTest, AColmapCameraAndTheEquivalentOpenCvFileGiveTheSamePose) {
  // COLMAP's principal point is half a pixel more than OpenCV's for the same camera: the centre
  // of the top-left pixel is (0.5, 0.5) there and (0, 0) here.
  ScratchFolder folder;
  const std::string yaml = folder.Write(
      "c.yml",
      "%YAML:1.0\n---\nimage_width: 640\nimage_height: 480\ncamera_matrix: !!opencv-matrix\n"
      "   rows: 3\n   cols: 3\n   dt: d\n   data: [ 800., 0., 318.25, 0., 805., 241.75, 0., 0., 1. "
      "]\n"
      "distortion_coefficients: !!opencv-matrix\n   rows: 1\n   cols: 4\n   dt: d\n"
      "   data: [ -0.1, 0.02, 0.001, -0.002 ]\n");
  const std::string colmap = folder.Write(
      "cameras.txt", "1 OPENCV 640 480 800 805 318.75 242.25 -0.1 0.02 0.001 -0.002\n");
  const LensCalibration a = LoadCalibrationFile(yaml, 0);
  const LensCalibration b = LoadCalibrationFile(colmap, 0);
  EXPECT_EQ(a.cx, b.cx);
  EXPECT_EQ(a.cy, b.cy);

  // A 5 × 5 target 2000 units in front of the camera, imaged through the lens to raw pixels.
  std::vector<PixelPoint> corrected;
  std::string scene;
  for (int i = 0; i < 5; ++i)
    for (int j = 0; j < 5; ++j) {
      const double X = -400 + 200.0 * i;
      const double Y = -300 + 150.0 * j;
      const double depth = 2000 - 0.2 * X + 0.1 * Y;
      corrected.push_back({800 * X / depth, 800 * Y / depth});
      scene += std::to_string(X) + " ; " + std::to_string(Y) + "\r\n";
    }
  std::string image;
  char line[96];
  for (const PixelPoint& p : CorrectedToRaw(a, corrected)) {
    std::snprintf(line, sizeof line, "%.6f ; %.6f\r\n", p.x, p.y);
    image += line;
  }
  const std::string imageFile = folder.Write("image.crd", image);
  const std::string sceneFile = folder.Write("scene.crd", scene);
  for (const int level : {0, 1}) {
    SCOPED_TRACE(level);
    OrientationRun fromYaml, fromColmap;
    for (OrientationRun* state : {&fromYaml, &fromColmap}) {
      state->CameraFileName = state == &fromYaml ? yaml : colmap;
      state->ImageFileName = imageFile;
      state->SceneFileName = sceneFile;
      state->Settings.EstimateLevel = level;
      FakeUi ui;
      ASSERT_TRUE(RunOrientation(*state, ui));
    }
    for (int i = 0; i < kResultCount; ++i)
      EXPECT_EQ(fromYaml.Values.values[i], fromColmap.Values.values[i]) << i;
  }
}

}  // namespace
}  // namespace zelv
