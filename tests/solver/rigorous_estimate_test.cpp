// The rigorous estimate: exact scenes give the exact pose in the 21 values of the other levels,
// blunders are found and listed, the standard deviations cover the truth as often as they should,
// the focal length is found on a tilted view and refused on a frontal one, and a mirrored scene
// frame is recognised.
#include "solver/rigorous_estimate.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "solver/pose.h"

namespace zelv {
namespace {

constexpr double kF = 1400;

struct View {
  StandPose pose;
  std::vector<ControlPoint> points;  // exact
};

// The pair of the image point (x, y) seen from the stand pose with focal length F: the scene point
// where its ray meets the plane; false when the ray misses it.
bool PairOf(const StandPose& pose, double x, double y, double F, ControlPoint& pair) {
  const Rotation r = AnglesToRotation(pose.Al, pose.Bet, pose.Hi);
  const double cx = pose.Sx + r.xZ * pose.L, cy = pose.Sy + r.yZ * pose.L, cz = r.zZ * pose.L;
  const double dx = x * r.xX + y * r.xY - F * r.xZ;
  const double dy = x * r.yX + y * r.yY - F * r.yZ;
  const double dz = x * r.zX + y * r.zY - F * r.zZ;
  if (!(dz < 0)) return false;
  const double t = -cz / dz;
  pair = {x, y, cx + t * dx, cy + t * dy};
  return true;
}

// `count` pairs seen from the stand pose with focal length F: image points at random pixels of a
// `width` × `height` patch of the frame centre (seeded; the whole 1600 × 1200 frame but a tenth).
View MakeView(const StandPose& pose, int count, unsigned seed, double F = kF, double width = 1440,
              double height = 1080) {
  std::mt19937 random(seed);
  std::uniform_real_distribution<double> ux(-width / 2, width / 2), uy(-height / 2, height / 2);
  View view{pose, {}};
  while (static_cast<int>(view.points.size()) < count) {
    const double x = ux(random), y = uy(random);
    ControlPoint pair;
    if (PairOf(pose, x, y, F, pair)) view.points.push_back(pair);
  }
  return view;
}

const StandPose kTilted{0.35, -0.25, 0.4, 2000, 120, -80};

void AddNoise(std::vector<ControlPoint>& points, std::mt19937& random, double sigma) {
  std::normal_distribution<double> noise(0, sigma);
  for (ControlPoint& p : points) {
    p.x += noise(random);
    p.y += noise(random);
  }
}

TEST(RigorousEstimate, ExactSceneGivesTheExactPoseInTheValuesOfTheOtherLevels) {
  const View view = MakeView(kTilted, 12, 1);
  const RigorousResult r = RigorousEstimate(view.points, kF);
  ASSERT_EQ(r.failure, RigorousFailure::kNone);
  EXPECT_NEAR(r.pose.Al, kTilted.Al, 1e-9);
  EXPECT_NEAR(r.pose.Bet, kTilted.Bet, 1e-9);
  EXPECT_NEAR(r.pose.Hi, kTilted.Hi, 1e-9);
  EXPECT_NEAR(r.pose.L, kTilted.L, 1e-6);
  EXPECT_NEAR(r.pose.Sx, kTilted.Sx, 1e-6);
  EXPECT_NEAR(r.pose.Sy, kTilted.Sy, 1e-6);
  EXPECT_LT(r.sigma0, 1e-6);
  EXPECT_TRUE(r.outliers.empty());
  EXPECT_EQ(r.redundancy, 2 * 12 - 6);
  for (double s : r.sigma) EXPECT_LT(s, 1e-5);

  // The fast estimate is exact on exact points too: both must give the same 21 values.
  VT_Points image(1), scene(1);
  for (const ControlPoint& p : view.points) {
    image.Add(new VT_Point(p.x, p.y));
    scene.Add(new VT_Point(p.X, p.Y));
  }
  RefinementSettings settings;
  const PoseResult fast = SolvePose(image, scene, kF, settings);
  ASSERT_TRUE(fast.complete);
  for (int i = 0; i < kResultCount; ++i)
    EXPECT_NEAR(r.values[i], fast.values[i], 1e-6 * std::max(1.0, std::fabs(fast.values[i])))
        << kResults[i].cliLabel;
  // And the values are those of the stand pose.
  const auto expected = StandPoseValues(kTilted);
  for (int i = 0; i < kResultCount; ++i)
    EXPECT_NEAR(r.values[i], expected[i], 1e-6 * std::max(1.0, std::fabs(expected[i])))
        << kResults[i].cliLabel;
}

TEST(RigorousEstimate, ImageTurnedMoreThanAQuarterTurnKeepsItsRotation) {
  StandPose turned = kTilted;
  turned.Hi = 2.5;  // about 143 degrees
  const RigorousResult r = RigorousEstimate(MakeView(turned, 8, 2).points, kF);
  ASSERT_EQ(r.failure, RigorousFailure::kNone);
  EXPECT_NEAR(r.pose.Hi, 2.5, 1e-9);
}

TEST(RigorousEstimate, BlundersAreFoundListedAndLeftOut) {
  for (int count : {9, 16, 64}) {
    View view = MakeView(kTilted, count, 10 + count);
    std::mt19937 random(count);
    AddNoise(view.points, random, 0.5);
    const std::vector<ControlPoint> clean = view.points;
    view.points[2].x += 35;
    view.points[count - 1].y -= 24;
    const RigorousResult r = RigorousEstimate(view.points, kF);
    ASSERT_EQ(r.failure, RigorousFailure::kNone) << count;
    EXPECT_EQ(r.outliers, (std::vector<int>{2, count - 1})) << count;
    // The result is that of the clean points without the two.
    std::vector<ControlPoint> kept;
    for (int i = 0; i < count; ++i)
      if (i != 2 && i != count - 1) kept.push_back(clean[i]);
    const RigorousResult reference = RigorousEstimate(kept, kF);
    for (int i : {kCentreX, kCentreY, kCentreZ})
      EXPECT_NEAR(r.values[i], reference.values[i], 1e-6 * kTilted.L) << count;
    EXPECT_LT(r.sigma0, 0.8) << count;
  }
}

TEST(RigorousEstimate, FewerThanSixPointsUseEveryPoint) {
  View view = MakeView(kTilted, 5, 3);
  view.points[1].x += 30;
  const RigorousResult r = RigorousEstimate(view.points, kF);
  ASSERT_EQ(r.failure, RigorousFailure::kNone);
  EXPECT_TRUE(r.outliers.empty());
  EXPECT_GT(r.sigma0, 1.0);  // the blunder shows in σ0 instead
}

// A small fixed Monte Carlo: the true centre within ±1.96 σ about 95 % of the time per axis.
TEST(RigorousEstimate, StandardDeviationsCoverTheTruth) {
  std::mt19937 random(2024);
  std::uniform_real_distribution<double> angle(-0.5, 0.5);
  int inside = 0, trials = 0;
  double sigma0 = 0;
  for (int trial = 0; trial < 80; ++trial) {
    const StandPose pose{angle(random), angle(random), 3 * angle(random), 1500, 0, 0};
    View view = MakeView(pose, 12, 100 + trial);
    AddNoise(view.points, random, 0.5);
    const RigorousResult r = RigorousEstimate(view.points, kF);
    ASSERT_EQ(r.failure, RigorousFailure::kNone);
    const auto truth = StandPoseValues(pose);
    for (int i : {kCentreX, kCentreY, kCentreZ}) {
      ++trials;
      inside += std::fabs(r.values[i] - truth[i]) <= 1.96 * r.sigma[i] ? 1 : 0;
    }
    sigma0 += r.sigma0 / 80;
  }
  const double coverage = static_cast<double>(inside) / trials;
  EXPECT_GT(coverage, 0.88);
  EXPECT_LT(coverage, 0.99);
  EXPECT_NEAR(sigma0, 0.5, 0.08);
}

TEST(RigorousEstimate, FocalLengthIsEstimatedOnATiltedViewAndRefusedOnAFrontalOne) {
  const View exact = MakeView(kTilted, 16, 4);
  RigorousResult r = RigorousEstimate(exact.points, -1);
  ASSERT_EQ(r.failure, RigorousFailure::kNone);
  EXPECT_TRUE(r.focalLengthEstimated);
  EXPECT_NEAR(r.focalLength, kF, 1e-6 * kF);
  EXPECT_NEAR(r.pose.L, kTilted.L, 1e-6 * kTilted.L);
  EXPECT_EQ(r.redundancy, 2 * 16 - 7);

  View noisy = MakeView(kTilted, 16, 5);
  std::mt19937 random(5);
  AddNoise(noisy.points, random, 0.5);
  r = RigorousEstimate(noisy.points, -1);
  ASSERT_EQ(r.failure, RigorousFailure::kNone);
  EXPECT_GT(r.focalLengthSigma, 0);
  EXPECT_LT(std::fabs(r.focalLength - kF), 4 * r.focalLengthSigma);

  // Square to the plane, the focal length and the distance cannot be told apart.
  const View frontal = MakeView({0, 0, 0.3, 2000, 0, 0}, 16, 6);
  EXPECT_EQ(RigorousEstimate(frontal.points, -1).failure,
            RigorousFailure::kFocalLengthUndetermined);
  EXPECT_EQ(RigorousEstimate(frontal.points, kF).failure, RigorousFailure::kNone);
}

TEST(RigorousEstimate, MirroredSceneFrameIsRecognisedAndItsPoseRefused) {
  const View view = MakeView(kTilted, 10, 7);
  EXPECT_FALSE(SceneFrameLooksMirrored(view.points));
  std::vector<ControlPoint> mirrored = view.points;
  for (ControlPoint& p : mirrored) p.Y = -p.Y;
  EXPECT_TRUE(SceneFrameLooksMirrored(mirrored));
  EXPECT_EQ(RigorousEstimate(mirrored, kF).failure, RigorousFailure::kBehindPlane);
}

TEST(RigorousEstimate, DegeneratePointsFailWithoutInvalidNumbers) {
  std::vector<ControlPoint> line;
  for (int i = 0; i < 8; ++i) line.push_back({10.0 * i, 5.0 * i, 1.0 * i, 2.0 * i});
  const RigorousResult r = RigorousEstimate(line, kF);
  EXPECT_EQ(r.failure, RigorousFailure::kDegenerate);
  for (double v : r.values) EXPECT_TRUE(std::isfinite(v));
  EXPECT_EQ(RigorousEstimate(std::vector<ControlPoint>(3), kF).failure,
            RigorousFailure::kTooFewPoints);
  std::vector<ControlPoint> same(6, ControlPoint{1, 2, 3, 4});
  EXPECT_NE(RigorousEstimate(same, kF).failure, RigorousFailure::kNone);
  EXPECT_NE(RigorousEstimate(same, -1).failure, RigorousFailure::kNone);
}

TEST(RigorousEstimate, ResultDoesNotDependOnTheStartGiven) {
  View view = MakeView(kTilted, 20, 8);
  std::mt19937 random(8);
  AddNoise(view.points, random, 0.5);
  const RigorousResult plain = RigorousEstimate(view.points, kF);
  StandPose start = kTilted;
  start.Al += 0.02;
  start.L *= 1.01;
  const RigorousResult started = RigorousEstimate(view.points, kF, start);
  for (int i = 0; i < kResultCount; ++i)
    EXPECT_NEAR(plain.values[i], started.values[i],
                1e-6 * std::max(1.0, std::fabs(plain.values[i])));
  // Repeated, bit for bit.
  EXPECT_EQ(RigorousEstimate(view.points, kF).values, plain.values);
}

TEST(RigorousEstimate, FortyPercentBlundersAreFoundListedAndTheVerdictStaysOk) {
  View view = MakeView(kTilted, 20, 40);
  std::mt19937 random(40);
  AddNoise(view.points, random, 0.5);
  const std::vector<ControlPoint> clean = view.points;
  // Eight blunders of 20 to 60 pixels: beyond what the median of the points outside a sample
  // could hold.
  const std::vector<int> blunders{1, 4, 6, 9, 12, 15, 17, 19};
  std::uniform_real_distribution<double> size(20, 60), angle(0, 2 * M_PI);
  for (int i : blunders) {
    const double s = size(random), a = angle(random);
    view.points[i].x += s * std::cos(a);
    view.points[i].y += s * std::sin(a);
  }
  const RigorousResult r = RigorousEstimate(view.points, kF);
  ASSERT_EQ(r.failure, RigorousFailure::kNone);
  EXPECT_EQ(r.outliers, blunders);
  EXPECT_FALSE(r.verdict.suspect);
  std::vector<ControlPoint> kept;
  for (int i = 0; i < 20; ++i)
    if (!std::binary_search(blunders.begin(), blunders.end(), i)) kept.push_back(clean[i]);
  const RigorousResult reference = RigorousEstimate(kept, kF);
  for (int i : {kCentreX, kCentreY, kCentreZ})
    EXPECT_NEAR(r.values[i], reference.values[i], 1e-6 * kTilted.L);
  // The 95 % intervals take Student's t with the redundancy: 2·12 − 6 = 18.
  EXPECT_EQ(r.redundancy, 18);
  EXPECT_NEAR(r.tQuantile95, 2.1009, 1e-4);
}

TEST(RigorousEstimate, NoPoseAgreeingWithHalfThePointsIsARefusal) {
  // Image points of one view paired with scene points in another order: nothing agrees.
  View view = MakeView(kTilted, 12, 41);
  std::vector<ControlPoint> shuffled = view.points;
  for (int i = 0; i < 12; ++i) {
    shuffled[i].X = view.points[(i * 5) % 12].X;
    shuffled[i].Y = view.points[(i * 5) % 12].Y;
  }
  const RigorousResult r = RigorousEstimate(shuffled, kF);
  EXPECT_EQ(r.failure, RigorousFailure::kNoConsensus);
  for (double v : r.values) EXPECT_TRUE(std::isfinite(v));
}

TEST(RigorousEstimate, Sigma0FarAboveTheImagePrecisionIsSuspect) {
  View view = MakeView(kTilted, 12, 42);
  std::mt19937 random(42);
  AddNoise(view.points, random, 3);
  RigorousResult r = RigorousEstimate(view.points, kF);
  ASSERT_EQ(r.failure, RigorousFailure::kNone);
  EXPECT_TRUE(r.verdict.suspect);
  EXPECT_EQ(r.verdict.reasons, std::vector<RigorousSuspicion>{RigorousSuspicion::kSigma0TooLarge});
  EXPECT_EQ(r.verdict.imageSigma, 0.5);
  EXPECT_NEAR(r.verdict.chiSquare, r.redundancy * r.sigma0 * r.sigma0 / 0.25, 1e-9);
  EXPECT_GT(r.verdict.chiSquare, r.verdict.chiSquareLimit);
  EXPECT_LT(r.verdict.pValue, kVerdictSignificance);
  // Measured with 3 pixels, the same points are as precise as said.
  RigorousOptions options;
  options.imageSigma = 3;
  r = RigorousEstimate(view.points, kF, std::nullopt, options);
  ASSERT_EQ(r.failure, RigorousFailure::kNone);
  EXPECT_FALSE(r.verdict.suspect);
  EXPECT_GT(r.verdict.pValue, kVerdictSignificance);
}

TEST(RigorousEstimate, AlmostPerpendicularViewWithUnknownFocalLengthIsRefused) {
  // A tilt of about 0.13°: the perspective is there, the focal length is not separable from the
  // distance.
  for (unsigned seed : {43u, 44u, 45u}) {
    View view = MakeView({0.002, -0.001, 0.7, 2000, 30, 40}, 16, seed);
    std::mt19937 random(seed);
    AddNoise(view.points, random, 0.5);
    EXPECT_EQ(RigorousEstimate(view.points, -1).failure, RigorousFailure::kFocalLengthUndetermined)
        << seed;
    EXPECT_EQ(RigorousEstimate(view.points, kF).failure, RigorousFailure::kNone) << seed;
  }
}

TEST(RigorousEstimate, MirrorPoseThatFitsAsWellIsReportedBesideTheResult) {
  // Eight points in an 80-pixel patch: the plane's two poses fit almost equally well.
  View patch = MakeView(kTilted, 8, 3, kF, 80, 80);
  std::mt19937 random(3);
  AddNoise(patch.points, random, 0.5);
  const std::vector<ControlPoint>& points = patch.points;
  const RigorousResult result = RigorousEstimate(points, kF);
  ASSERT_EQ(result.failure, RigorousFailure::kNone);
  ASSERT_TRUE(result.alternative.present);
  EXPECT_FALSE(result.alternative.distinguishable);
  EXPECT_LT(result.alternative.chiSquareDifference, 3.84);
  EXPECT_TRUE(result.verdict.suspect);
  EXPECT_EQ(result.verdict.reasons,
            std::vector<RigorousSuspicion>{RigorousSuspicion::kMirrorPoseFits});
  // The two poses are the plane tilted either way about the line of sight.
  EXPECT_NEAR(result.pose.Al, kTilted.Al, 0.05);
  EXPECT_NEAR(result.alternative.pose.Al, -kTilted.Al, 0.05);
  EXPECT_NEAR(result.alternative.values[kDistance], kTilted.L, 0.05 * kTilted.L);

  // Spread over the frame, the same view tells the mirror apart.
  View spread = MakeView(kTilted, 8, 46);
  std::mt19937 random2(46);
  AddNoise(spread.points, random2, 0.5);
  const RigorousResult told = RigorousEstimate(spread.points, kF);
  ASSERT_EQ(told.failure, RigorousFailure::kNone);
  EXPECT_FALSE(told.verdict.suspect);
  EXPECT_TRUE(!told.alternative.present || told.alternative.distinguishable);
}

TEST(RigorousEstimate, FourPointsThreeOnALineAreSolvedFromTheStartAndFlaggedWeak) {
  // Three of four points on one line fix no homography, but eight coordinates still fix the six
  // pose parameters: the given start reaches the pose, and the layout is flagged.
  View view = MakeView(kTilted, 4, 47);
  ASSERT_TRUE(PairOf(kTilted, 0.5 * (view.points[0].x + view.points[1].x),
                     0.5 * (view.points[0].y + view.points[1].y), kF, view.points[2]));
  StandPose start = kTilted;
  start.Al += 0.03;
  start.L *= 1.02;
  const RigorousResult r = RigorousEstimate(view.points, kF, start);
  ASSERT_EQ(r.failure, RigorousFailure::kNone);
  EXPECT_NEAR(r.pose.L, kTilted.L, 1e-6 * kTilted.L);
  EXPECT_TRUE(r.geometry.nearCollinear);
  EXPECT_LT(r.geometry.weakestTriangle, 1e-9);
  EXPECT_TRUE(r.verdict.suspect);
  // Without a start nothing reaches it.
  EXPECT_EQ(RigorousEstimate(view.points, kF).failure, RigorousFailure::kDegenerate);
}

}  // namespace
}  // namespace zelv
