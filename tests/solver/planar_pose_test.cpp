// The homography's normal matrix, summed over the non-zero products only, is the full sum of the
// rows' outer products bit for bit.
#include "solver/planar_pose.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <bit>
#include <cstdint>
#include <random>
#include <vector>

namespace zelv {
namespace {

// The normal matrix as the design matrix defines it: both rows of every point, all 81 products.
Eigen::Matrix<double, 9, 9> FullNormalMatrix(const std::vector<PlanarCorrespondence>& points,
                                             const std::vector<int>& use, const Eigen::Matrix3d& Ts,
                                             const Eigen::Matrix3d& Ti) {
  Eigen::Matrix<double, 9, 9> N = Eigen::Matrix<double, 9, 9>::Zero();
  for (const int k : use) {
    const PlanarCorrespondence& p = points[k];
    const double sx = Ts(0, 0) * p.X + Ts(0, 2), sy = Ts(1, 1) * p.Y + Ts(1, 2);
    const double ix = Ti(0, 0) * p.u + Ti(0, 2), iy = Ti(1, 1) * p.v + Ti(1, 2);
    Eigen::Matrix<double, 9, 1> r1, r2;
    r1 << -sx, -sy, -1, 0, 0, 0, ix * sx, ix * sy, ix;
    r2 << 0, 0, 0, -sx, -sy, -1, iy * sx, iy * sy, iy;
    for (int i = 0; i < 9; ++i)
      for (int j = 0; j < 9; ++j) N(i, j) = N(i, j) + r1(i) * r1(j);
    for (int i = 0; i < 9; ++i)
      for (int j = 0; j < 9; ++j) N(i, j) = N(i, j) + r2(i) * r2(j);
  }
  return N;
}

TEST(PlanarPose, NormalMatrixEqualsTheFullOuterProductSumBitForBit) {
  std::mt19937 random(7);
  std::uniform_real_distribution<double> coordinate(-1000, 1000), scale(0.001, 2);
  for (int scene = 0; scene < 40; ++scene) {
    std::vector<PlanarCorrespondence> points;
    const int count = 4 + scene * 7;
    for (int i = 0; i < count; ++i)
      points.push_back(
          {coordinate(random), coordinate(random), coordinate(random), coordinate(random)});
    // Some points on the normalised origin and on the axes, where products are exactly zero
    // (their signs included).
    points[0] = {0, 0, 0, 0};
    points[1] = {0, 5, -3, 0};
    std::vector<int> use;
    for (int i = count - 1; i >= 0; i -= 1 + scene % 2) use.push_back(i);
    Eigen::Matrix3d Ts, Ti;
    const double s = scale(random), t = scale(random);
    Ts << s, 0, scene % 3 == 0 ? 0 : coordinate(random), 0, s, coordinate(random), 0, 0, 1;
    Ti << t, 0, coordinate(random), 0, t, scene % 4 == 0 ? 0 : coordinate(random), 0, 0, 1;
    const Eigen::Matrix<double, 9, 9> expected = FullNormalMatrix(points, use, Ts, Ti);
    const Eigen::Matrix<double, 9, 9> actual = HomographyNormalMatrix(points, use, Ts, Ti);
    for (int i = 0; i < 9; ++i)
      for (int j = 0; j < 9; ++j)
        ASSERT_EQ(std::bit_cast<std::uint64_t>(actual(i, j)),
                  std::bit_cast<std::uint64_t>(expected(i, j)))
            << "scene " << scene << ", entry " << i << ", " << j;
  }
}

}  // namespace
}  // namespace zelv
