// The statements of solver/conventions.h, checked against what the program computes: the matrix
// of the printed cosines as products of elementary rotations of the printed angles, its columns
// as the camera axes, the projection centre and the projection of a scene point.

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "base/angles.h"
#include "solver/pose.h"
#include "solver/projection.h"

namespace zelv {
namespace {

using Matrix = std::array<std::array<double, 3>, 3>;

Matrix Multiply(const Matrix& a, const Matrix& b) {
  Matrix m{};
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j)
      for (int k = 0; k < 3; ++k) m[i][j] += a[i][k] * b[k][j];
  return m;
}

Matrix Rx(double t) {
  return {{{1, 0, 0}, {0, std::cos(t), -std::sin(t)}, {0, std::sin(t), std::cos(t)}}};
}
Matrix Ry(double t) {
  return {{{std::cos(t), 0, std::sin(t)}, {0, 1, 0}, {-std::sin(t), 0, std::cos(t)}}};
}
Matrix Rz(double t) {
  return {{{std::cos(t), -std::sin(t), 0}, {std::sin(t), std::cos(t), 0}, {0, 0, 1}}};
}

// The printed cosines as the matrix M of the conventions (rows xX xY xZ / yX yY yZ / zX zY zZ).
Matrix PrintedMatrix(const PoseResult& r) {
  Matrix m{};
  for (int i = 0; i < 9; ++i) m[i / 3][i % 3] = r.values[kCosXX + i];
  return m;
}

void ExpectNear(const Matrix& a, const Matrix& b, double tolerance) {
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) EXPECT_NEAR(a[i][j], b[i][j], tolerance) << i << "," << j;
}

// An exact view of a planar grid from a tilted, turned camera, through the projection the
// conventions state (scene points relative to the sighting point).
struct ExactView {
  VT_Points image{1};
  VT_Points scene{1};
  double F = 1500;
};

void MakeView(ExactView& view, double Al, double Bet, double Hi, double L, double Sx, double Sy) {
  const ProjectionTerms t = MakeProjectionTerms(Al, Bet, Hi, view.F, L);
  for (int i = -2; i <= 2; ++i) {
    for (int j = -2; j <= 2; ++j) {
      const double X = 60.0 * i + 7.0 * j, Y = 50.0 * j - 5.0 * i;
      double ex, ey;
      ReprojectionError(t, X, Y, 0, 0, ex, ey);
      view.image.Add(new VT_Point(-ex, -ey));
      view.scene.Add(new VT_Point(X + Sx, Y + Sy));
    }
  }
}

TEST(ConventionsTest, PrintedCosinesAreTheElementaryRotationsOfThePrintedAngles) {
  for (const auto& [Al, Bet, Hi] :
       {std::array<double, 3>{0.3, -0.2, 0.7}, std::array<double, 3>{-0.6, 0.4, -2.5},
        std::array<double, 3>{0.05, 0.9, 1.2}}) {
    ExactView view;
    MakeView(view, Al, Bet, Hi, 2500, 120, -40);
    RefinementSettings settings;
    settings.EstimateLevel = 0;
    const PoseResult r = SolvePose(view.image, view.scene, view.F, settings);
    ASSERT_TRUE(r.complete);
    const Matrix m = PrintedMatrix(r);
    const double a0 = ToRadians(r.values[kStandAl]), l = ToRadians(r.values[kStandBet]),
                 n = ToRadians(r.values[kStandHi]);
    const double a = ToRadians(r.values[kPhotoAlpha]), w = ToRadians(r.values[kPhotoOmega]),
                 c = ToRadians(r.values[kPhotoKappa]);
    ExpectNear(m, Multiply(Multiply(Rx(-l), Ry(-a0)), Rz(-n)), 1e-12);
    ExpectNear(m, Multiply(Multiply(Ry(-a), Rx(w)), Rz(c)), 1e-12);
    // An exact view gives back the angles it was made with (Hi modulo 180°).
    EXPECT_NEAR(a0, Al, 1e-9);
    EXPECT_NEAR(l, Bet, 1e-9);
    EXPECT_NEAR(std::remainder(n - Hi, kPi), 0, 1e-9);
    const double det = m[0][0] * (m[1][1] * m[2][2] - m[1][2] * m[2][1]) -
                       m[0][1] * (m[1][0] * m[2][2] - m[1][2] * m[2][0]) +
                       m[0][2] * (m[1][0] * m[2][1] - m[1][1] * m[2][0]);
    EXPECT_NEAR(det, 1, 1e-12);
  }
}

TEST(ConventionsTest, ColumnsAreTheCameraAxesAndTheCentreIsOnThePlusZSide) {
  ExactView view;
  MakeView(view, 0.35, -0.25, 0.4, 3000, -75, 210);
  VT_Points sceneGiven{1};
  for (int i = 0; i < view.scene.Count(); ++i)
    sceneGiven.Add(new VT_Point(view.scene.Get(i)->x, view.scene.Get(i)->y));
  RefinementSettings settings;
  settings.EstimateLevel = 0;
  const PoseResult r = SolvePose(view.image, view.scene, view.F, settings);
  ASSERT_TRUE(r.complete);
  const Matrix m = PrintedMatrix(r);
  const double C[3] = {r.values[kCentreX], r.values[kCentreY], r.values[kCentreZ]};
  EXPECT_GT(C[2], 0);
  // C = S + L · camera z.
  EXPECT_NEAR(C[0], r.values[kSightingX] + r.values[kDistance] * m[0][2], 1e-9);
  EXPECT_NEAR(C[1], r.values[kSightingY] + r.values[kDistance] * m[1][2], 1e-9);
  EXPECT_NEAR(C[2], r.values[kDistance] * m[2][2], 1e-9);
  // Each scene point images at x = F·(P − C)·camera x / (C − P)·camera z, likewise y.
  for (int i = 0; i < sceneGiven.Count(); ++i) {
    const double d[3] = {sceneGiven.Get(i)->x - C[0], sceneGiven.Get(i)->y - C[1], -C[2]};
    const double cx = d[0] * m[0][0] + d[1] * m[1][0] + d[2] * m[2][0];
    const double cy = d[0] * m[0][1] + d[1] * m[1][1] + d[2] * m[2][1];
    const double cz = d[0] * m[0][2] + d[1] * m[1][2] + d[2] * m[2][2];
    ASSERT_LT(cz, 0);  // in front of the camera, which looks along −z
    EXPECT_NEAR(view.F * cx / -cz, view.image.Get(i)->x, 1e-6) << i;
    EXPECT_NEAR(view.F * cy / -cz, view.image.Get(i)->y, 1e-6) << i;
  }
}

}  // namespace
}  // namespace zelv
