// The photograph workspace's core: the point edits, the raw image coordinate file, the files found
// beside a photograph, the way back from corrected to raw pixels, the overlay of an orientation's
// residuals and the scene points of a chessboard target.
#include "app/photo_points.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "app/orientation_residuals.h"
#include "app/photo_overlay.h"
#include "base/zelv_error.h"
#include "files/correction_table.h"
#include "files/lens_model.h"
#include "files/text_file.h"
#include "scratch_folder.h"

namespace zelv {
namespace {

using testing::ScratchFolder;

const RawPoints kFour = {{1, 2}, {3, 4}, {5, 6}, {7, 8}};

std::string ErrorOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const ZelvError& error) {
    return error.what();
  }
  return "";
}

TEST(PhotoPointEditTest, EachEditReturnsTheEditedListAndKeepsTheNumbersInOrder) {
  EXPECT_EQ(WithPointAdded(kFour, {9, 10}), (RawPoints{{1, 2}, {3, 4}, {5, 6}, {7, 8}, {9, 10}}));
  EXPECT_EQ(WithPointMoved(kFour, 2, {0.5, -0.25}),
            (RawPoints{{1, 2}, {3, 4}, {0.5, -0.25}, {7, 8}}));
  EXPECT_EQ(WithPointShifted(kFour, 0, 0.1, -0.1)[0], (PixelPoint{1 + 0.1, 2 - 0.1}));
  // Indexes in any order, repeated: each point goes once.
  EXPECT_EQ(WithPointsRemoved(kFour, {3, 0, 3}), (RawPoints{{3, 4}, {5, 6}}));
  EXPECT_EQ(WithPointsRemoved(kFour, {}), kFour);
  // Point 4 becomes point 2 (the ones between move down), and back.
  EXPECT_EQ(WithPointRenumbered(kFour, 3, 1), (RawPoints{{1, 2}, {7, 8}, {3, 4}, {5, 6}}));
  EXPECT_EQ(WithPointRenumbered(kFour, 1, 3), (RawPoints{{1, 2}, {5, 6}, {7, 8}, {3, 4}}));
  EXPECT_EQ(WithPointRenumbered(kFour, 2, 2), kFour);
  EXPECT_EQ(kFour.size(), 4u);  // the argument is never changed
}

TEST(PhotoPointEditTest, AMissingPointOrANonFiniteCoordinateIsRefused) {
  EXPECT_EQ(ErrorOf([] { WithPointMoved(kFour, 4, {0, 0}); }), "Нет точки с номером 5");
  EXPECT_EQ(ErrorOf([] { WithPointsRemoved(kFour, {1, 7}); }), "Нет точки с номером 8");
  EXPECT_EQ(ErrorOf([] { WithPointRenumbered(kFour, 0, 4); }), "Нет точки с номером 5");
  EXPECT_EQ(ErrorOf([] { WithPointRenumbered(RawPoints{}, 0, 0); }), "Нет точки с номером 1");
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_FALSE(ErrorOf([&] { WithPointAdded(kFour, {inf, 0}); }).empty());
  EXPECT_FALSE(ErrorOf([&] { WithPointMoved(kFour, 0, {0, std::nan("")}); }).empty());
  // A shift that overflows is refused as well, and leaves nothing half done.
  EXPECT_FALSE(ErrorOf([] { WithPointShifted({{1e308, 0}}, 0, 1e308, 0); }).empty());
}

TEST(RawImagePointFileTest, SavedPointsReadBackAndTheFileIsWindowsText) {
  ScratchFolder folder;
  const std::string name = folder.Path("image.crd");
  const RawPoints points = {{63.43921, 405.576798}, {0, -0.5}, {1.0 / 3, 1e-5}};
  SavePointFile(name, points, ',');
  EXPECT_EQ(LoadTextLines(name), (std::vector<std::string>{"63,43921 ; 405,576798", "0 ; -0,5",
                                                           "0,333333333333333 ; 1E-5"}));
  const RawPoints read = ReadPointFile(name);
  ASSERT_EQ(read.size(), 3u);
  EXPECT_EQ(read[0], points[0]);
  EXPECT_EQ(read[1], points[1]);
  EXPECT_NEAR(read[2].x, 1.0 / 3, 1e-15);
  // The image reader of the orientation reads the same file.
  EXPECT_EQ(PointLines({{12.5, 7}}, '.'), std::vector<std::string>{"12.5 ; 7"});
}

TEST(RawImagePointFileTest, AMissingOrBrokenFileIsReportedWithTheReadersMessages) {
  ScratchFolder folder;
  const std::string missing = folder.Path("none.crd");
  EXPECT_EQ(ErrorOf([&] { ReadPointFile(missing); }), "Файл " + missing + " не найден!");
  const std::string broken = folder.Write("broken.crd", "1 ; 2\r\n\r\n3 ; 4\r\n");
  EXPECT_EQ(ErrorOf([&] { ReadPointFile(broken); }),
            "Ошибка чтения файла координат точек изображения!");
  EXPECT_TRUE(ReadPointFile(folder.Write("empty.crd", "")).empty());
  // A failed save leaves the old file whole.
  const std::string kept = folder.Write("kept.crd", "1 ; 2\r\n");
  EXPECT_FALSE(ErrorOf([&] { SavePointFile(kept, {{std::nan(""), 0}}); }).empty());
  EXPECT_EQ(ReadPointFile(kept), (RawPoints{{1, 2}}));
}

TEST(PhotoCompanionsTest, TheFilesOfThePhotographsNameComeFirstThenTheCommonNames) {
  ScratchFolder folder;
  const std::string photo = folder.Write("shot.png", "");
  folder.Write("camera.cam", "");
  folder.Write("image.crd", "");
  folder.Write("scene.crd", "");
  PhotoCompanions found = FindPhotoCompanions(photo);
  EXPECT_EQ(found.camera, folder.Path("camera.cam"));
  EXPECT_EQ(found.image, folder.Path("image.crd"));
  EXPECT_EQ(found.scene, folder.Path("scene.crd"));
  folder.Write("shot.cam", "");
  folder.Write("shot.crd", "");
  folder.Write("shot-scene.crd", "");
  found = FindPhotoCompanions(photo);
  EXPECT_EQ(found.camera, folder.Path("shot.cam"));
  EXPECT_EQ(found.image, folder.Path("shot.crd"));
  EXPECT_EQ(found.scene, folder.Path("shot-scene.crd"));

  // Without those names the folder's only camera file; of two, neither.
  ScratchFolder other;
  const std::string alone = other.Write("a.jpg", "");
  other.Write("lens.cam", "");
  EXPECT_EQ(FindPhotoCompanions(alone).camera, other.Path("lens.cam"));
  other.Write("second.cam", "");
  EXPECT_EQ(FindPhotoCompanions(alone).camera, "");
  EXPECT_EQ(FindPhotoCompanions(alone).image, "");

  // A calibration file goes with the raw corners, a camera file with the corrected ones.
  ScratchFolder calibrated;
  const std::string photo2 = calibrated.Write("photo.png", "");
  calibrated.Write("calibration.yml", "");
  calibrated.Write("image.crd", "");
  calibrated.Write("image-raw.crd", "");
  EXPECT_EQ(FindPhotoCompanions(photo2).camera, calibrated.Path("calibration.yml"));
  EXPECT_EQ(FindPhotoCompanions(photo2).image, calibrated.Path("image-raw.crd"));
  calibrated.Write("camera.cam", "");
  EXPECT_EQ(FindPhotoCompanions(photo2).camera, calibrated.Path("camera.cam"));
  EXPECT_EQ(FindPhotoCompanions(photo2).image, calibrated.Path("image.crd"));
}

InteriorGeometry Camera(std::vector<std::string> table) {
  InteriorGeometry g;
  g.ImageCentreX = 320;
  g.ImageCentreY = 240;
  g.ImageWidth = 640;
  g.ImageHeight = 480;
  g.CorrectionTable = std::move(table);
  return g;
}

TEST(RawFromCorrectedTest, ACalibrationFileMapsBackThroughItsLensModel) {
  InteriorGeometry geometry;
  LensCalibration lens;
  lens.kind = LensModelKind::OpenCv;
  lens.fx = 832.5;
  lens.fy = 830;
  lens.cx = 303.9;
  lens.cy = 206.6;
  lens.skew = 0.2;
  lens.coefficients = {-0.228, 0.19, 0.001, -0.0005, 0};
  lens.imageWidth = 640;
  lens.imageHeight = 480;
  geometry.Lens = lens;
  // The table the camera file would give is not looked at: a lens and no table still maps.
  for (const PixelPoint raw : {PixelPoint{40, 30}, PixelPoint{320, 240}, PixelPoint{610, 455}}) {
    const PixelPoint corrected = RawToCorrected(lens, {raw}).front();
    const PixelPoint back = RawFromCorrected(geometry, corrected.x, corrected.y);
    EXPECT_NEAR(back.x, raw.x, 1e-6);
    EXPECT_NEAR(back.y, raw.y, 1e-6);
  }
}

TEST(RawFromCorrectedTest, InvertsTheCorrectionOfTheImageReader) {
  // The identity table: raw x = cx + x, raw y = cy - y.
  const InteriorGeometry identity = Camera({"1", "0 0 4000 4000 X 0 1 - Y 0 1 - ; "});
  EXPECT_EQ(RawFromCorrected(identity, -220, 190), (PixelPoint{100, 50}));
  // A divisor, a quadratic term and a negative power in two bands (rising over their joint, so
  // each corrected value has one raw one): every raw point comes back.
  const InteriorGeometry bent =
      Camera({"2", "0 0 300 4000 X 1 1.01 0.0001 - 2 Y -3 0.98 0.00005 - ; ",
              "300 0 4000 4000 X 10 1.03 - Y -3 0.98 0.00005 - ; "});
  for (const PixelPoint raw :
       {PixelPoint{12.5, 7.25}, PixelPoint{299.9, 479}, PixelPoint{600, 0.5}}) {
    const double x = CorrectImageX(raw.x, bent.CorrectionTable, bent.ImageCentreX);
    const double y = CorrectImageY(raw.y, bent.CorrectionTable, bent.ImageCentreY);
    const PixelPoint back = RawFromCorrected(bent, x, y);
    EXPECT_NEAR(back.x, raw.x, 1e-7);
    EXPECT_NEAR(back.y, raw.y, 1e-7);
  }
  // No band reaches that far, and a table that does not read: both refused, never a guess.
  const InteriorGeometry narrow = Camera({"1", "0 0 100 100 X 0 1 - Y 0 1 - ; "});
  EXPECT_FALSE(ErrorOf([&] { RawFromCorrected(narrow, 200, 0); }).empty());
  EXPECT_FALSE(ErrorOf([&] { RawFromCorrected(Camera({}), 0, 0); }).empty());
}

TEST(PhotoOverlayTest, ProjectionsGoToRawPixelsWithTheArrowMagnification) {
  Residuals residuals;
  PointResidual a;
  a.number = 1;
  a.x = -220;
  a.y = 190;
  a.ex = 0.5;
  a.ey = -0.25;
  PointResidual b;
  b.number = 2;
  b.x = 5000;  // beyond the table: left out
  PointResidual c;
  c.number = 3;
  c.x = 10;
  c.y = -10;
  c.ex = -0.1;
  c.flagged = true;
  residuals.points = {a, b, c};
  const InteriorGeometry identity = Camera({"1", "0 0 4000 4000 X 0 1 - Y 0 1 - ; "});
  const std::optional<PhotoOverlay> overlay = PhotoOverlayOf(residuals, identity, {3, 9});
  ASSERT_TRUE(overlay);
  ASSERT_EQ(overlay->points.size(), 2u);
  EXPECT_EQ(overlay->points[0].number, 1);
  EXPECT_EQ(overlay->points[0].measured, (PixelPoint{100, 50}));
  // Corrected projection (-220.5, 190.25): raw y runs down.
  EXPECT_EQ(overlay->points[0].projected, (PixelPoint{99.5, 49.75}));
  EXPECT_EQ(overlay->points[1].number, 3);
  EXPECT_TRUE(overlay->points[1].flagged);
  EXPECT_FALSE(overlay->points[0].flagged);
  EXPECT_TRUE(overlay->points[1].outlier);
  EXPECT_FALSE(overlay->points[0].outlier);
  EXPECT_DOUBLE_EQ(overlay->largest, std::sqrt(0.5 * 0.5 + 0.25 * 0.25));
  EXPECT_EQ(overlay->magnification, ArrowMagnification(overlay->largest, 640));
  EXPECT_EQ(overlay->magnification, 100);

  // Nothing to draw: no overlay.
  Residuals outside;
  outside.points = {b};
  EXPECT_FALSE(PhotoOverlayOf(outside, identity));
  EXPECT_FALSE(PhotoOverlayOf(Residuals{}, identity));
}

TEST(ChessboardScenePointsTest, TheSceneKeepsTheHandednessOfTheCorrectedImage) {
  // Corners found left to right, rows going down the photograph: Y must run up the board.
  const RawPoints down = {{100, 100}, {110, 100}, {120, 100}, {100, 110}, {110, 110}, {120, 110}};
  const RawPoints scene = ChessboardScenePoints(3, 2, 2.5, down);
  EXPECT_EQ(scene, (RawPoints{{0, 0}, {2.5, 0}, {5, 0}, {0, -2.5}, {2.5, -2.5}, {5, -2.5}}));
  EXPECT_EQ(PointLines(scene, '.')[0], "0 ; 0");  // no "-0"
  // The same board found with the rows going up: Y runs along the rows.
  const RawPoints up = {{100, 110}, {110, 110}, {120, 110}, {100, 100}, {110, 100}, {120, 100}};
  EXPECT_EQ(ChessboardScenePoints(3, 2, 2.5, up)[4], (PixelPoint{2.5, 2.5}));
  EXPECT_FALSE(ErrorOf([&] { ChessboardScenePoints(3, 3, 1, down); }).empty());
  EXPECT_FALSE(ErrorOf([&] { ChessboardScenePoints(3, 2, 0, down); }).empty());
  EXPECT_FALSE(ErrorOf([&] { ChessboardScenePoints(1, 6, 1, down); }).empty());
}

}  // namespace
}  // namespace zelv
