// The pose from the fitted transformation: sighting point, distance, angles, rotation, projection
// centre, the result fields and the single guard around the computation.
#include <gtest/gtest.h>

#include <cmath>

#include "app/orientation_session.h"
#include "base/zelv_error.h"
#include "fake_ui.h"
#include "orientation_shims.h"
#include "solver/pose.h"
#include "solver_test_points.h"

namespace zelv {
namespace {

using testing::AddPoints;
using testing::FakeUi;

const char kInternalError[] = "Внутренняя ошибка! Проверьте входные данные.";

// The square of side 200 pixels, its scene twice as large and moved by (dx, dy).
void FillSquare(OrientationRun& state, double dx, double dy) {
  AddPoints(state.ImagePoints, {{-100, -100}, {100, -100}, {100, 100}, {-100, 100}});
  AddPoints(
      state.ScenePoints,
      {{-200 + dx, -200 + dy}, {200 + dx, -200 + dy}, {200 + dx, 200 + dy}, {-200 + dx, 200 + dy}});
  state.Geometry.FocalLength = 1000;
  state.DecimalSeparator = '.';
}

void ExpectOnlyInternalError(const FakeUi& ui) {
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].text, kInternalError);
  EXPECT_EQ(ui.messages[0].caption, "Отказ");
  EXPECT_EQ(ui.messages[0].icon, MessageIcon::Exclamation);
  EXPECT_EQ(ui.messages[0].owner, nullptr);
}

TEST(ComputePoseTest, SquareAtTwiceTheSizeLooksStraightDownFromDistance2000) {
  OrientationRun state;
  FillSquare(state, 0, 0);
  FakeUi ui;
  ASSERT_TRUE(ComputePose(state, ui));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(state.Results[kDistance], "2000.0000");
  EXPECT_EQ(state.Results[kSightingX], "0.0000");
  EXPECT_EQ(state.Results[kCentreZ], "2000.0000");
  for (int i : {kPhotoAlpha, kPhotoOmega, kPhotoKappa, kStandAl, kStandBet, kStandHi})
    EXPECT_EQ(std::fabs(state.Values.values[i]) < 1e-9, true) << i;
  EXPECT_EQ(state.Results[kCosXX], "1.0000");
  EXPECT_EQ(state.Results[kCosYY], "1.0000");
  EXPECT_EQ(state.Results[kCosZZ], "1.0000");
  EXPECT_NEAR(state.ProjectionCentre.x, 0, 1e-9);
  EXPECT_NEAR(state.ProjectionCentre.y, 0, 1e-9);
  EXPECT_NEAR(state.ProjectionCentre.z, 2000, 1e-9);
  EXPECT_NEAR(state.Coefficients.a11, 0.5, 1e-12);  // the reverse fit
  EXPECT_NEAR(state.Coefficients.a22, 0.5, 1e-12);
  EXPECT_TRUE(state.Values.complete);
  EXPECT_TRUE(state.Values.complete);
  ASSERT_FALSE(ui.statusTexts.empty());
  EXPECT_EQ(ui.statusTexts.back(), "");
}

TEST(ComputePoseTest, MovedSceneGivesTheMovedCentreAndKeepsThePointsMovedBack) {
  OrientationRun state;
  FillSquare(state, 1000, 500);
  state.DecimalSeparator = ',';
  FakeUi ui;
  ASSERT_TRUE(ComputePose(state, ui));
  EXPECT_EQ(state.Results[kSightingX], "1000,0000");
  EXPECT_EQ(state.Results[kSightingY], "500,0000");
  EXPECT_EQ(state.Results[kCentreX], "1000,0000");
  EXPECT_EQ(state.Results[kCentreY], "500,0000");
  EXPECT_EQ(state.Results[kCentreZ], "2000,0000");
  EXPECT_NEAR(state.ScenePoints.Get(0)->x, -200, 1e-9);
  EXPECT_NEAR(state.ScenePoints.Get(0)->y, -200, 1e-9);
  EXPECT_NEAR(state.ScenePoints.Get(2)->x, 200, 1e-9);
}

TEST(ComputePoseTest, ListsOfDifferentLengthsEndInTheInternalError) {
  for (bool moreScene : {true, false}) {
    OrientationRun state;
    FillSquare(state, 0, 0);
    AddPoints(state.ImagePoints, {{30, 40}});
    AddPoints(state.ScenePoints, {{60, 80}});
    if (moreScene)
      AddPoints(state.ScenePoints, {{10, 10}});
    else
      AddPoints(state.ImagePoints, {{5, 5}});
    FakeUi ui;
    EXPECT_FALSE(ComputePose(state, ui));
    ExpectOnlyInternalError(ui);
    EXPECT_FALSE(state.Values.complete);
    EXPECT_FALSE(state.Values.complete);
    EXPECT_EQ(state.Results[kDistance], "");
  }
}

TEST(ComputePoseTest, ImagePointsOnTheXAxisEndInTheInternalError) {
  OrientationRun state;
  AddPoints(state.ImagePoints, {{-20, 0}, {-10, 0}, {10, 0}, {20, 0}});
  AddPoints(state.ScenePoints, {{-40, 0}, {-20, 3}, {20, 1}, {40, 0}});
  state.Geometry.FocalLength = 1000;
  FakeUi ui;
  EXPECT_FALSE(ComputePose(state, ui));
  ExpectOnlyInternalError(ui);
  EXPECT_EQ(state.Results[kSightingX], "");
}

TEST(ComputePoseTest, ZeroFocalLengthFailsAfterTheSightingPointIsShown) {
  OrientationRun state;
  FillSquare(state, 1000, 500);
  state.Geometry.FocalLength = 0;
  FakeUi ui;
  EXPECT_FALSE(ComputePose(state, ui));
  ExpectOnlyInternalError(ui);
  EXPECT_EQ(state.Results[kSightingX], "1000.0000");
  EXPECT_EQ(state.Results[kSightingY], "500.0000");
  for (int i = kDistance; i < kResultCount; ++i) EXPECT_EQ(state.Results[i], "") << i;
  EXPECT_EQ(state.Results[kCentreX], "");
}

TEST(ComputePoseTest, FocalLengthMinusOneIsNotRefused) {
  OrientationRun state;
  FillSquare(state, 0, 0);
  state.Geometry.FocalLength = -1;
  FakeUi ui;
  EXPECT_TRUE(ComputePose(state, ui));
  EXPECT_TRUE(ui.messages.empty());
  EXPECT_EQ(state.Results[kDistance], "-2.0000");
}

TEST(ComputePoseTest, FirstValuesAreIgnoredAtLevelZero) {
  OrientationRun state;
  FillSquare(state, 0, 0);
  state.Settings.UseFirstValues = true;
  state.Settings.VaryHi = true;
  state.Settings.AlFirstValue = 0.3;
  state.Settings.LFirstValue = 5;
  FakeUi ui;
  ASSERT_TRUE(ComputePose(state, ui));
  EXPECT_EQ(state.Results[kDistance], "2000.0000");
  EXPECT_EQ(state.Results[kStandAl], "0.0000");
}

// Coefficients of the reverse fit that give the unnormalised rotation rows (xX, xY, xZ) and
// (yX, yY, yZ) for F = 1000 and L = 2000.
void SetRotationRows(OrientationRun& state, double xX, double xY, double xZ, double yX, double yY,
                     double yZ) {
  state.Geometry.FocalLength = 1000;
  state.Distance = 2000;
  state.DecimalSeparator = '.';
  const double F = 1000, L = 2000;
  state.Coefficients.a11 = xX * F / L;
  state.Coefficients.a21 = xY * F / L;
  state.Coefficients.a31 = -xZ / L;
  state.Coefficients.a12 = yX * F / L;
  state.Coefficients.a22 = yY * F / L;
  state.Coefficients.a32 = -yZ / L;
  AddPoints(state.ImagePoints, {{-100, -100}, {100, -100}, {100, 100}, {-100, 100}});
  AddPoints(state.ScenePoints, {{-200, -200}, {200, -200}, {200, 200}, {-200, 200}});
}

TEST(OrientFromCoefficientsTest, XzJustBeyondOneIsClampedToMinusOrPlusNinetyDegrees) {
  {
    OrientationRun state;
    SetRotationRows(state, 1, 0, 1.0000001, 0, 1, 0);
    FakeUi ui;
    OrientFromCoefficients(state, ui);
    EXPECT_EQ(state.Results[kStandAl], "-90.0000");
  }
  {
    OrientationRun state;
    SetRotationRows(state, 1, 0, -1.0000001, 0, 1, 0);
    FakeUi ui;
    OrientFromCoefficients(state, ui);
    EXPECT_EQ(state.Results[kStandAl], "90.0000");
  }
}

TEST(OrientFromCoefficientsTest, LevelZeroShowsTheOrthonormalRotationOfTheFirstAngles) {
  // Rows of length 1.1: the shown cosines are those of AnglesToRotation, not the raw rows.
  OrientationRun state;
  SetRotationRows(state, 1.1, 0, 0, 0, 1.1, 0);
  FakeUi ui;
  OrientFromCoefficients(state, ui);
  EXPECT_EQ(state.Results[kCosXX], "1.0000");
  EXPECT_EQ(state.Results[kCosYY], "1.0000");
  EXPECT_EQ(state.Results[kStandHi], "0.0000");
}

TEST(OrientFromCoefficientsTest, ZeroZzOrZeroXxRaise) {
  {
    OrientationRun state;
    SetRotationRows(state, 1, 0, 0, 0.5, 0, 0.2);  // zZ = 1·0 − 0·0.5 = 0
    FakeUi ui;
    EXPECT_THROW(OrientFromCoefficients(state, ui), ZelvError);
    EXPECT_EQ(state.Results[kStandAl], "");
  }
  {
    OrientationRun state;
    SetRotationRows(state, 0, 0.5, 0, 0.5, 0, 0);  // xX = 0, zZ = −0.25
    FakeUi ui;
    EXPECT_THROW(OrientFromCoefficients(state, ui), ZelvError);
  }
}

TEST(AnglesToRotationTest, RowsAreOrthonormalAndFollowTheTable) {
  const Rotation r = AnglesToRotation(0.3, -0.2, 1.1);
  EXPECT_DOUBLE_EQ(r.xZ, -std::sin(0.3));
  EXPECT_DOUBLE_EQ(r.yZ, std::cos(0.3) * std::sin(-0.2));
  EXPECT_NEAR(r.xX * r.xX + r.xY * r.xY + r.xZ * r.xZ, 1, 1e-15);
  EXPECT_NEAR(r.xX * r.yX + r.xY * r.yY + r.xZ * r.yZ, 0, 1e-15);
  EXPECT_NEAR(r.zX - (r.xY * r.yZ - r.xZ * r.yY), 0, 1e-15);
}

TEST(ProjectionCentreTest, CentreIsTheSightingPointPlusTheDistanceAlongTheOpticalAxis) {
  const Rotation r = AnglesToRotation(0.2, 0.1, 0.7);
  const TPoint3 c = ProjectionCentreFromRotation(r, 1000, 500, 2000);
  EXPECT_EQ(c.x, 1000 + r.xZ * 2000);
  EXPECT_EQ(c.y, 500 + r.yZ * 2000);
  EXPECT_EQ(c.z, r.zZ * 2000);
  // The distance from the centre to the sighting point is L.
  EXPECT_NEAR(std::hypot(c.x - 1000, c.y - 500, c.z), 2000, 1e-9);
}

}  // namespace
}  // namespace zelv
