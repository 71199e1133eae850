// The least-squares fits of the projective transformation and their shared elimination.
#include <gtest/gtest.h>

#include <cmath>

#include "solver/transformation_fit.h"
#include "solver_test_points.h"

namespace zelv {
namespace {

using testing::MakePoints;

TransformCoefficients Marked() { return {11, 12, 13, 21, 22, 23, 31, 32}; }

void ExpectUnchanged(const TransformCoefficients& a) {
  const TransformCoefficients m = Marked();
  EXPECT_EQ(a.a11, m.a11);
  EXPECT_EQ(a.a12, m.a12);
  EXPECT_EQ(a.a13, m.a13);
  EXPECT_EQ(a.a21, m.a21);
  EXPECT_EQ(a.a22, m.a22);
  EXPECT_EQ(a.a23, m.a23);
  EXPECT_EQ(a.a31, m.a31);
  EXPECT_EQ(a.a32, m.a32);
}

TEST(FitImageToSceneTest, SquareScaledByTwoGivesTwoOnTheDiagonalAndZeroElsewhere) {
  auto image = MakePoints({{-100, -100}, {100, -100}, {100, 100}, {-100, 100}});
  auto scene = MakePoints({{-200, -200}, {200, -200}, {200, 200}, {-200, 200}});
  TransformCoefficients a = Marked();
  ASSERT_TRUE(FitImageToScene(*image, *scene, a));
  EXPECT_NEAR(a.a11, 2, 1e-12);
  EXPECT_NEAR(a.a22, 2, 1e-12);
  for (double v : {a.a12, a.a13, a.a21, a.a23, a.a31, a.a32}) EXPECT_NEAR(v, 0, 1e-12);

  // The reverse fit of the same pairs writes six coefficients and keeps a13 and a23.
  a.a13 = 7;
  a.a23 = 8;
  ASSERT_TRUE(FitSceneToImage(*scene, *image, a));
  EXPECT_NEAR(a.a11, 0.5, 1e-12);
  EXPECT_NEAR(a.a22, 0.5, 1e-12);
  for (double v : {a.a12, a.a21, a.a31, a.a32}) EXPECT_NEAR(v, 0, 1e-12);
  EXPECT_EQ(a.a13, 7);
  EXPECT_EQ(a.a23, 8);
}

TEST(FitImageToSceneTest, FourPairsInGeneralPositionAreReproducedExactly) {
  auto image = MakePoints({{-120, -80}, {150, -95}, {130, 110}, {-90, 70}});
  auto scene = MakePoints({{3.5, 1.25}, {410, -20}, {380, 333}, {-15, 260}});
  TransformCoefficients a;
  ASSERT_TRUE(FitImageToScene(*image, *scene, a));
  for (int i = 0; i < 4; ++i) {
    const double x = image->Get(i)->x, y = image->Get(i)->y;
    const double w = a.a31 * x + a.a32 * y + 1;
    EXPECT_NEAR((a.a11 * x + a.a12 * y + a.a13) / w, scene->Get(i)->x, 1e-6) << i;
    EXPECT_NEAR((a.a21 * x + a.a22 * y + a.a23) / w, scene->Get(i)->y, 1e-6) << i;
  }
}

TEST(FitImageToSceneTest, SingularInputsFailAndWriteNothing) {
  auto scene = MakePoints({{0, 0}, {10, 0}, {10, 10}, {0, 10}, {5, 5}});
  TransformCoefficients a = Marked();
  // Collinear image points.
  auto collinear = MakePoints({{0, 0}, {10, 10}, {20, 20}, {30, 30}, {40, 40}});
  EXPECT_FALSE(FitImageToScene(*collinear, *scene, a));
  ExpectUnchanged(a);
  // All y = 0: the column of a12 is zero in every row; the partner search must give up.
  auto onAxis = MakePoints({{-20, 0}, {-10, 0}, {0, 0}, {10, 0}, {20, 0}});
  EXPECT_FALSE(FitImageToScene(*onAxis, *scene, a));
  ExpectUnchanged(a);
  // Overflowing sums are an arithmetic fault, not an infinite coefficient.
  auto huge = MakePoints({{1e200, 1}, {-1e200, 2}, {1e200, 3}, {5, -1e200}, {1, 1}});
  EXPECT_FALSE(FitImageToScene(*huge, *scene, a));
  ExpectUnchanged(a);
}

TEST(FitImageToSceneTest, ListsOfDifferentLengthsFailInTheFitOverTheLongerList) {
  auto five = MakePoints({{-100, -100}, {100, -100}, {100, 100}, {-100, 100}, {30, 40}});
  auto six = MakePoints({{-200, -200}, {200, -200}, {200, 200}, {-200, 200}, {60, 80}, {1, 2}});
  TransformCoefficients a = Marked();
  // 5 image points, 6 scene points: the forward fit pairs over the five.
  EXPECT_TRUE(FitImageToScene(*five, *six, a));
  TransformCoefficients b = Marked();
  EXPECT_FALSE(FitSceneToImage(*six, *five, b));
  ExpectUnchanged(b);
  // 6 image points, 5 scene points: the forward fit asks for a sixth scene point.
  auto sixImage =
      MakePoints({{-100, -100}, {100, -100}, {100, 100}, {-100, 100}, {30, 40}, {5, 6}});
  auto fiveScene = MakePoints({{-200, -200}, {200, -200}, {200, 200}, {-200, 200}, {60, 80}});
  TransformCoefficients c = Marked();
  EXPECT_FALSE(FitImageToScene(*sixImage, *fiveScene, c));
  ExpectUnchanged(c);
}

TEST(SolveNormalEquationsTest, ZeroDiagonalIsMendedByARowSwap) {
  // x + y = 3, 2x = 2 -> x = 1, y = 2; row 0 has a zero on the diagonal.
  std::vector<std::vector<double>> M = {{0, 2, 4}, {1, 1, 3}};
  std::vector<double> u;
  ASSERT_TRUE(SolveNormalEquations(M, 2, u));
  EXPECT_DOUBLE_EQ(u[0], 1);
  EXPECT_DOUBLE_EQ(u[1], 2);
}

TEST(SolveNormalEquationsTest, ColumnZeroInEveryRowFailsAtOnce) {
  std::vector<std::vector<double>> M = {{0, 1, 0, 1}, {0, 2, 1, 2}, {0, 3, 5, 3}};
  std::vector<double> u;
  EXPECT_FALSE(SolveNormalEquations(M, 3, u));
}

TEST(SolveNormalEquationsTest, DeterminantBelowTheAbsoluteBoundFails) {
  std::vector<std::vector<double>> tiny = {{0.001, 0, 1}, {0, 0.009, 1}};  // det 9e-6
  std::vector<double> u;
  EXPECT_FALSE(SolveNormalEquations(tiny, 2, u));
  std::vector<std::vector<double>> enough = {{0.002, 0, 1}, {0, 0.01, 1}};  // det 2e-5
  EXPECT_TRUE(SolveNormalEquations(enough, 2, u));
  EXPECT_DOUBLE_EQ(u[0], 500);
  EXPECT_DOUBLE_EQ(u[1], 100);
}

TEST(SolveNormalEquationsTest, EliminationFollowsTheWrittenOrder) {
  // f·M[k][j] is divided by M[k][k] after the product: (3·0.7)/7 is not 3·(0.7/7).
  std::vector<std::vector<double>> M = {{7, 0.7, 0}, {3, 1, 1}};
  std::vector<double> u;
  ASSERT_TRUE(SolveNormalEquations(M, 2, u));
  const double m11 = 1 - 3 * 0.7 / 7;
  ASSERT_NE(m11, 1 - 3 * (0.7 / 7));  // the two orders differ for these numbers
  EXPECT_EQ(M[1][1], m11);
  EXPECT_EQ(u[1], 1 / m11);
  EXPECT_EQ(u[0], (0 - 0.7 * u[1]) / 7);
}

TEST(SolveNormalEquationsTest, OverflowDuringEliminationFails) {
  std::vector<std::vector<double>> M = {{1e-300, 1e300, 1}, {1e300, 1, 1}};
  std::vector<double> u;
  EXPECT_FALSE(SolveNormalEquations(M, 2, u));
}

}  // namespace
}  // namespace zelv
