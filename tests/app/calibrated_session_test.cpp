// Loading a run's inputs through a calibration file, and back through a camera file.
#include <gtest/gtest.h>

#include <string>

#include "fake_ui.h"
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

}  // namespace
}  // namespace zelv
