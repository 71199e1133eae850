// The single-photo adjustment: an exact scene in space gives the exact pose, check points stay out
// of the fit, known camera values hold, the covariance agrees with the σ reported, and a plain
// planar scene is the rigorous estimate bit for bit.
#include "solver/adjustment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "solver/rigorous_model.h"

namespace zelv {
namespace {

constexpr double kF = 1400;
const StandPose kPose{0.3, -0.2, 0.4, 2000, 120, -80};

// `count` points seen by the camera of kPose: scene points in a box around the sighting point,
// Z from 0 to `depth`, kept where they fall into a 1600 × 1200 frame; image noise of `sigma`.
std::vector<AdjustmentPoint> Scene(int count, double depth, unsigned seed, double sigma = 0) {
  const rigorous::Model m = rigorous::ModelOf(kPose, kF);
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> across(-700, 700), up(0, 1);
  std::normal_distribution<double> noise(0, sigma > 0 ? sigma : 1);
  std::vector<AdjustmentPoint> points;
  while (static_cast<int>(points.size()) < count) {
    AdjustmentPoint p;
    p.X = kPose.Sx + across(random);
    p.Y = kPose.Sy + across(random);
    p.Z = depth * up(random);
    const Eigen::Vector3d q = m.R * (Eigen::Vector3d(p.X, p.Y, p.Z) - m.C);
    if (!(q(2) > 0)) continue;
    p.x = kF * q(0) / q(2);
    p.y = -kF * q(1) / q(2);
    if (std::fabs(p.x) > 800 || std::fabs(p.y) > 600) continue;
    if (sigma > 0) {
      p.x += sigma * noise(random);
      p.y += sigma * noise(random);
    }
    points.push_back(p);
  }
  return points;
}

void ExpectPose(const RigorousResult& r, double angle, double length) {
  ASSERT_EQ(r.failure, RigorousFailure::kNone);
  EXPECT_NEAR(r.pose.Al, kPose.Al, angle);
  EXPECT_NEAR(r.pose.Bet, kPose.Bet, angle);
  EXPECT_NEAR(r.pose.Hi, kPose.Hi, angle);
  EXPECT_NEAR(r.pose.L, kPose.L, length);
  EXPECT_NEAR(r.pose.Sx, kPose.Sx, length);
  EXPECT_NEAR(r.pose.Sy, kPose.Sy, length);
}

TEST(Adjustment, ExactSceneInSpaceGivesTheExactPoseWithOrWithoutTheFocalLength) {
  const std::vector<AdjustmentPoint> points = Scene(12, 600, 1);
  ASSERT_TRUE(SceneIsSpatial(points));
  const AdjustmentResult given = Adjust(points, kF);
  ExpectPose(given.rigorous, 1e-9, 1e-6);
  EXPECT_LT(given.rigorous.sigma0, 1e-6);
  EXPECT_EQ(given.rigorous.redundancy, 2 * 12 - 6);
  const AdjustmentResult estimated = Adjust(points, 0);
  ExpectPose(estimated.rigorous, 1e-8, 1e-5);
  EXPECT_NEAR(estimated.rigorous.focalLength, kF, 1e-5);
  EXPECT_TRUE(estimated.rigorous.focalLengthEstimated);
  EXPECT_EQ(estimated.parameters.size(), 7u);

  // Two blunders among sixteen noisy points are found; the pose stays within its σ.
  std::vector<AdjustmentPoint> noisy = Scene(16, 600, 2, 0.5);
  noisy[3].x += 40;
  noisy[11].y -= 30;
  const AdjustmentResult robust = Adjust(noisy, kF);
  ASSERT_EQ(robust.rigorous.failure, RigorousFailure::kNone);
  EXPECT_EQ(robust.rigorous.outliers, (std::vector<int>{3, 11}));
  ExpectPose(robust.rigorous, 5e-3, 5);

  // Five points are enough with the focal length given; a point not a number is a failure.
  ExpectPose(Adjust(std::vector<AdjustmentPoint>(points.begin(), points.begin() + 5), kF).rigorous,
             1e-8, 1e-5);
  std::vector<AdjustmentPoint> broken = points;
  broken[4].Z = std::nan("");
  EXPECT_EQ(Adjust(broken, kF).rigorous.failure, RigorousFailure::kDegenerate);

  // A camera below the plane Z = 0 is a failure, not a result.
  std::vector<AdjustmentPoint> below = points;
  for (AdjustmentPoint& p : below) {
    p.Z = -p.Z - 4000;
    p.y = -p.y;
  }
  const AdjustmentResult failed = Adjust(below, kF);
  EXPECT_NE(failed.rigorous.failure, RigorousFailure::kNone);
}

TEST(Adjustment, CheckPointsStayOutOfTheFitAndTellTheirMiss) {
  std::vector<AdjustmentPoint> points = Scene(14, 400, 3, 0.5);
  for (int k : {2, 7, 12}) points[k].check = true;
  const AdjustmentResult a = Adjust(points, kF);
  ASSERT_EQ(a.rigorous.failure, RigorousFailure::kNone);
  EXPECT_EQ(a.rigorous.redundancy, 2 * 11 - 6);
  ASSERT_EQ(a.checkPoints.size(), 3u);
  EXPECT_EQ(a.checkPoints[1].index, 7);
  EXPECT_TRUE(a.checkPoints[1].sceneKnown);
  EXPECT_TRUE(a.checkPoints[1].imageKnown);
  EXPECT_GT(a.checkImageRmse, 0);
  EXPECT_LT(a.checkImageRmse, 3);
  EXPECT_GT(a.checkSceneRmse, 0);

  // A check point moved far away changes nothing but its own miss.
  std::vector<AdjustmentPoint> moved = points;
  moved[7].x += 300;
  const AdjustmentResult b = Adjust(moved, kF);
  ASSERT_EQ(b.rigorous.failure, RigorousFailure::kNone);
  EXPECT_EQ(
      0, std::memcmp(a.rigorous.values.data(), b.rigorous.values.data(), sizeof a.rigorous.values));
  EXPECT_EQ(a.rigorous.sigma0, b.rigorous.sigma0);
  EXPECT_TRUE(b.rigorous.outliers.empty());
  EXPECT_EQ(a.checkPoints[0].ex, b.checkPoints[0].ex);
  EXPECT_EQ(a.checkPoints[2].dX, b.checkPoints[2].dX);
  EXPECT_NEAR(b.checkPoints[1].ex, a.checkPoints[1].ex + 300, 1e-9);
  EXPECT_GT(std::fabs(b.checkPoints[1].dX - a.checkPoints[1].dX), 50);
}

TEST(Adjustment, KnownValuesHoldAndCountInTheRedundancy) {
  const std::vector<AdjustmentPoint> points = Scene(10, 500, 4, 0.5);
  const rigorous::Model truth = rigorous::ModelOf(kPose, kF);
  // A fixed centre away from the truth stays where it was put; its σ is 0.
  KnownValues centre;
  centre.centreX = KnownValue{truth.C(0) + 3, 0};
  centre.centreY = KnownValue{truth.C(1) - 2, 0};
  centre.centreZ = KnownValue{truth.C(2) + 1, 0};
  const AdjustmentResult fixed = Adjust(points, kF, centre);
  ASSERT_EQ(fixed.rigorous.failure, RigorousFailure::kNone);
  EXPECT_NEAR(fixed.rigorous.values[kCentreX], truth.C(0) + 3, 1e-9);
  EXPECT_NEAR(fixed.rigorous.values[kCentreY], truth.C(1) - 2, 1e-9);
  EXPECT_NEAR(fixed.rigorous.values[kCentreZ], truth.C(2) + 1, 1e-9);
  for (int k = kCentreX; k <= kCentreZ; ++k) EXPECT_EQ(fixed.rigorous.sigma[k], 0) << k;
  EXPECT_GT(fixed.rigorous.sigma[kPhotoKappa], 0);
  EXPECT_EQ(fixed.rigorous.redundancy, 2 * 10 - 3);
  EXPECT_LT(fixed.centreSemiAxes[0], 1e-9);

  // A centre with σ: one more observation each, and a tighter result than without.
  KnownValues observed;
  observed.centreX = KnownValue{truth.C(0), 0.5};
  observed.centreY = KnownValue{truth.C(1), 0.5};
  observed.centreZ = KnownValue{truth.C(2), 0.5};
  const AdjustmentResult tight = Adjust(points, kF, observed);
  const AdjustmentResult free = Adjust(points, kF);
  ASSERT_EQ(tight.rigorous.failure, RigorousFailure::kNone);
  EXPECT_EQ(tight.rigorous.redundancy, 2 * 10 - 6 + 3);
  EXPECT_LT(tight.rigorous.sigma[kCentreZ], free.rigorous.sigma[kCentreZ]);
  EXPECT_LT(tight.rigorous.sigma[kCentreZ], 0.5);

  // A fixed roll holds; a fixed focal length is the camera file's, bit for bit.
  KnownValues roll;
  roll.roll = KnownValue{free.rigorous.values[kPhotoKappa] + 0.2, 0};
  const AdjustmentResult rolled = Adjust(points, kF, roll);
  ASSERT_EQ(rolled.rigorous.failure, RigorousFailure::kNone);
  EXPECT_NEAR(rolled.rigorous.values[kPhotoKappa], free.rigorous.values[kPhotoKappa] + 0.2, 1e-5);
  EXPECT_EQ(rolled.rigorous.redundancy, 2 * 10 - 6 + 1);
  EXPECT_EQ(rolled.rigorous.sigma[kPhotoKappa], 0);
  KnownValues focal;
  focal.focalLength = KnownValue{kF, 0};
  const AdjustmentResult byFile = Adjust(points, 0, focal);
  EXPECT_EQ(0, std::memcmp(byFile.rigorous.values.data(), free.rigorous.values.data(),
                           sizeof free.rigorous.values));
  EXPECT_EQ(byFile.parameters.size(), 6u);
}

// A point measured poorly and said so weighs little: it is kept, and the pose is nearly that
// without it; an image σ and a scene σ both.
TEST(Adjustment, PointSigmaWeighsThePoint) {
  const std::vector<AdjustmentPoint> points = Scene(12, 400, 9, 0.5);
  const AdjustmentResult without =
      Adjust(std::vector<AdjustmentPoint>(points.begin() + 1, points.end()), kF);
  ASSERT_EQ(without.rigorous.failure, RigorousFailure::kNone);
  std::vector<AdjustmentPoint> image = points, scene = points;
  image[0].x += 20;
  image[0].imageSigma = 200;
  scene[0].X += 15;
  scene[0].Z -= 15;
  scene[0].sceneSigma = 150;
  for (const std::vector<AdjustmentPoint>& weighted : {image, scene}) {
    const AdjustmentResult a = Adjust(weighted, kF);
    ASSERT_EQ(a.rigorous.failure, RigorousFailure::kNone);
    EXPECT_TRUE(a.rigorous.outliers.empty());
    EXPECT_EQ(a.rigorous.redundancy, 2 * 12 - 6);
    for (int j : {kCentreX, kCentreY, kCentreZ, kPhotoAlpha, kPhotoOmega, kPhotoKappa})
      EXPECT_NEAR(a.rigorous.values[j], without.rigorous.values[j], 0.1 * without.rigorous.sigma[j])
          << j;
  }
}

// The covariance of the 21 values has the σ² reported on its diagonal, planar and in space; a
// plain planar scene is the rigorous estimate's result bit for bit.
TEST(Adjustment, CovarianceAgreesWithTheSigmaAndThePlaneIsTheRigorousEstimate) {
  for (unsigned seed = 5; seed < 9; ++seed) {
    const double depth = seed % 2 ? 0 : 500;
    const std::vector<AdjustmentPoint> points = Scene(12, depth, seed, 0.5);
    const AdjustmentResult a = Adjust(points, seed < 7 ? kF : 0);
    ASSERT_EQ(a.rigorous.failure, RigorousFailure::kNone) << seed;
    ASSERT_EQ(a.valueCovariance.size(), std::size_t(kResultCount * kResultCount));
    for (int j = 0; j < kResultCount; ++j)
      EXPECT_NEAR(std::sqrt(a.valueCovariance[j * kResultCount + j]), a.rigorous.sigma[j],
                  1e-12 * (1 + a.rigorous.sigma[j]));
    const std::size_t n = a.parameters.size();
    ASSERT_EQ(a.covariance.size(), n * n);
    for (std::size_t r = 0; r < n; ++r)
      for (std::size_t c = 0; c < n; ++c)
        EXPECT_NEAR(a.covariance[r * n + c], a.covariance[c * n + r], 1e-9);
    // The centre's σ are those of the covariance; the ellipsoid's axes are orthonormal.
    EXPECT_NEAR(std::sqrt(a.covariance[3 * n + 3]), a.rigorous.sigma[kCentreX], 1e-9);
    EXPECT_GE(a.centreSemiAxes[0], a.centreSemiAxes[1]);
    EXPECT_GE(a.centreSemiAxes[1], a.centreSemiAxes[2]);
    for (int k = 0; k < 3; ++k)
      EXPECT_NEAR(std::hypot(a.centreAxes[k][0], a.centreAxes[k][1], a.centreAxes[k][2]), 1, 1e-9);
    if (depth != 0) continue;
    std::vector<ControlPoint> control;
    for (const AdjustmentPoint& p : points) control.push_back({p.x, p.y, p.X, p.Y});
    const RigorousResult r = RigorousEstimate(control, seed < 7 ? kF : 0);
    EXPECT_EQ(0, std::memcmp(r.values.data(), a.rigorous.values.data(), sizeof r.values));
    EXPECT_EQ(0, std::memcmp(r.sigma.data(), a.rigorous.sigma.data(), sizeof r.sigma));
    EXPECT_EQ(r.sigma0, a.rigorous.sigma0);
    EXPECT_EQ(r.focalLength, a.rigorous.focalLength);
  }
}

}  // namespace
}  // namespace zelv
