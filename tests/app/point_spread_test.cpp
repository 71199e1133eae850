// The largest point distance of the spread check, found on the convex hull, against the plain
// quadratic scan: the same double on random, collinear, duplicated and circular point sets.
#include "solver/point_spread.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include "app/orientation_steps.h"
#include "oracle/refinement_oracle.h"
#include "solver_test_points.h"

namespace zelv {
namespace {

void ExpectSameAsScan(const VT_Points& points, const std::string& what) {
  const double scan = oracle::LargestPointDistance(points);
  const double hull = LargestPointDistance(points);
  EXPECT_EQ(std::bit_cast<std::uint64_t>(hull), std::bit_cast<std::uint64_t>(scan))
      << what << ": hull " << hull << ", scan " << scan << ", " << points.Count() << " points";
}

TEST(LargestPointDistanceTest, EmptySingleAndDuplicatedPointsGiveZero) {
  VT_Points none(1);
  EXPECT_EQ(LargestPointDistance(none), 0);
  auto same = testing::MakePoints({{3.5, -2}, {3.5, -2}, {3.5, -2}});
  EXPECT_EQ(LargestPointDistance(*same), 0);
  auto two = testing::MakePoints({{0, 0}, {3, 4}, {0, 0}});
  EXPECT_EQ(LargestPointDistance(*two), 5);
}

TEST(LargestPointDistanceTest, MatchesTheQuadraticScanOnRandomSets) {
  std::mt19937 random(20240611);
  for (int trial = 0; trial < 400; ++trial) {
    const int n = 1 + static_cast<int>(random() % (trial < 300 ? 40 : 700));
    const int kind = trial % 6;
    VT_Points points(1);
    std::uniform_real_distribution<double> real(-2000, 2000);
    std::uniform_int_distribution<int> small(-6, 6);
    const double angle = real(random);
    for (int i = 0; i < n; ++i) {
      double x = 0, y = 0;
      switch (kind) {
        case 0:  // random doubles
          x = real(random);
          y = real(random);
          break;
        case 1:  // a small integer grid: many collinear and duplicate points
          x = small(random);
          y = small(random);
          break;
        case 2: {  // all on one line through integer steps
          const int t = small(random);
          x = 3 * t + 1;
          y = -2 * t + 7;
          break;
        }
        case 3:  // on a circle: every point on the hull
          x = 1000 * std::cos(angle + i * 0.7);
          y = 1000 * std::sin(angle + i * 0.7);
          break;
        case 4:  // a rectangle's edges with points along them
          x = (i % 4 < 2) ? small(random) * 10.0 : ((i % 4 == 2) ? -60.0 : 60.0);
          y = (i % 4 < 2) ? ((i % 4 == 0) ? -30.0 : 30.0) : small(random) * 5.0;
          break;
        default:  // pixel-like values with fractions, copies of earlier points
          if (i > 0 && random() % 3 == 0) {
            const VT_Point& earlier = *points.Get(static_cast<std::int32_t>(random() % i));
            x = earlier.x;
            y = earlier.y;
          } else {
            x = std::round(real(random) * 1000) / 1000;
            y = std::round(real(random) * 1000) / 1000;
          }
      }
      points.Add(new VT_Point(x, y));
    }
    ExpectSameAsScan(points, "trial " + std::to_string(trial) + " kind " + std::to_string(kind));
  }
}

// A coordinate moved by `steps` units in the last place.
double Ulps(double v, int steps) {
  for (; steps > 0; --steps) v = std::nextafter(v, HUGE_VAL);
  for (; steps < 0; ++steps) v = std::nextafter(v, -HUGE_VAL);
  return v;
}

TEST(LargestPointDistanceTest, NearDuplicatesGiveTheLargestComputedDistance) {
  // Points a few units in the last place apart: the farthest pair in exact arithmetic need not be
  // the pair whose computed distance is largest, and the scan takes the computed one.
  std::mt19937 random(16);
  std::uniform_real_distribution<double> real(-2000, 2000);
  std::uniform_int_distribution<int> step(-6, 6);
  std::uniform_real_distribution<double> tiny(-1e-12, 1e-12);
  for (int trial = 0; trial < 3000; ++trial) {
    VT_Points points(1);
    const int bases = 2 + trial % 5;
    for (int b = 0; b < bases; ++b) {
      const double x = trial % 3 == 0 ? std::round(real(random)) : real(random);
      const double y = trial % 3 == 0 ? std::round(real(random)) : real(random);
      points.Add(new VT_Point(x, y));
      const int copies = 1 + static_cast<int>(random() % 12);
      for (int c = 0; c < copies; ++c) {
        if (random() % 2 == 0)
          points.Add(new VT_Point(Ulps(x, step(random)), Ulps(y, step(random))));
        else
          points.Add(new VT_Point(x + x * tiny(random), y + y * tiny(random)));
      }
    }
    ExpectSameAsScan(points, "trial " + std::to_string(trial));
  }
}

TEST(LargestPointDistanceTest, CoordinatesBeyondTheExactRangeStillMatch) {
  auto huge = testing::MakePoints({{1e300, 0}, {-1e300, 5}, {0, 1e-300}, {7, 8}});
  ExpectSameAsScan(*huge, "huge");
  auto tiny = testing::MakePoints({{1e-300, 0}, {0, 1e-300}, {2e-300, 3e-300}});
  ExpectSameAsScan(*tiny, "tiny");
}

TEST(CheckPointSpreadTest, AHundredThousandPointsAreCheckedQuickly) {
  VT_Points points(1);
  std::mt19937 random(7);
  std::uniform_real_distribution<double> real(-300, 300);
  for (int i = 0; i < 100000; ++i) points.Add(new VT_Point(real(random), real(random)));
  const auto start = std::chrono::steady_clock::now();
  EXPECT_TRUE(CheckPointSpread(points, 640, 480));
  EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), 1.0);
}

}  // namespace
}  // namespace zelv
