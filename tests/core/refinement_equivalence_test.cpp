// The shipped refinement against the straightforward reference: on random planar scenes of 4 to
// 2000 points, at every estimate level and with several thread counts, every output bit is the
// same — the result values, the refined angles and distance, the cost, the shown texts, the
// settings the run leaves and the log lines. And the vectorised cost against the plain one for
// every instruction set this processor runs.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <random>

#include "app/orientation_session.h"
#include "app/orientation_state.h"
#include "base/zelv_error.h"
#include "fake_ui.h"
#include "files/text_file.h"
#include "oracle/refinement_oracle.h"
#include "scratch_folder.h"
#include "solver/pose.h"
#include "solver/refinement_cost_kernel.h"
#include "solver_test_points.h"

namespace zelv {
namespace {

std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }

struct Pair {
  double x, y, X, Y;  // corrected pixels; scene units
};

// `n` control points of a random planar target seen by a random camera, with image noise and,
// when `grossErrors`, the odd gross error, so the search has something to do. (A few points with
// gross errors sometimes drive both tilts to their bound and the distance off for ever: such a
// run ends at the move bound, in both refinements alike.)
std::vector<Pair> RandomScene(std::mt19937& random, int n, bool grossErrors = true) {
  std::uniform_real_distribution<double> unit(0, 1);
  const double F = 500 + 2500 * unit(random);
  const double L = 500 + 4500 * unit(random);
  const Rotation r = AnglesToRotation(unit(random) - 0.5, unit(random) - 0.5, 6 * unit(random) - 3);
  const double size = 0.2 * L + 0.3 * L * unit(random);
  std::vector<Pair> pairs;
  while (static_cast<int>(pairs.size()) < n) {
    const double X = size * (unit(random) - 0.5), Y = size * (unit(random) - 0.5);
    const double D = L - r.xZ * X - r.yZ * Y;
    double x = F * (r.xX * X + r.yX * Y) / D + (unit(random) - 0.5);
    const double y = F * (r.xY * X + r.yY * Y) / D + (unit(random) - 0.5);
    if (grossErrors && random() % 10 == 0) x += 40 * (unit(random) - 0.5);
    pairs.push_back({x, y, X + 300, Y - 200});
  }
  return pairs;
}

// Everything one pose computation leaves behind.
struct Outcome {
  bool shown = false;
  OrientationState state;
  std::vector<std::string> log;
  std::vector<std::string> messages;
};

void RunPose(const std::vector<Pair>& pairs, int level, bool oracle, int threads, Outcome& out,
             const RefinementSettings& settings = {}) {
  testing::ScratchFolder folder;
  OrientationState& state = out.state;
  for (const Pair& p : pairs) {
    state.ImagePoints.Add(new VT_Point(p.x, p.y));
    state.ScenePoints.Add(new VT_Point(p.X, p.Y));
  }
  state.Geometry.FocalLength = 1000;
  state.DecimalSeparator = '.';
  state.Settings = settings;
  state.Settings.EstimateLevel = level;
  state.Settings.KeepLog = level != 0;
  state.StartTime = std::chrono::system_clock::now();
  const oracle::PlainCost plain(state.ImagePoints, state.ScenePoints, 1000);
  PoseOptions options;
  options.logPath = folder.Path("ZELV1.log");
  options.threads = threads;
  if (oracle) {
    options.cost = &plain;
    options.refine = [](double& a, double& b, double& c, double& d, RefinementContext& context) {
      oracle::Refine(a, b, c, d, context);
    };
  }
  testing::FakeUi ui;
  out.shown = ComputePose(state, ui, options);
  for (const auto& m : ui.messages) out.messages.push_back(m.caption + ": " + m.text);
  if (FileExists(options.logPath)) out.log = LoadTextLines(options.logPath);
}

void ExpectSame(const Outcome& expected, const Outcome& actual, const std::string& what) {
  ASSERT_EQ(actual.shown, expected.shown) << what;
  EXPECT_EQ(actual.messages, expected.messages) << what;
  const OrientationValues& e = expected.state.Values;
  const OrientationValues& a = actual.state.Values;
  for (std::size_t i = 0; i < e.values.size(); ++i)
    EXPECT_EQ(Bits(a.values[i]), Bits(e.values[i])) << what << ", value " << i;
  EXPECT_EQ(Bits(a.Al), Bits(e.Al)) << what;
  EXPECT_EQ(Bits(a.Bet), Bits(e.Bet)) << what;
  EXPECT_EQ(Bits(a.Hi), Bits(e.Hi)) << what;
  EXPECT_EQ(Bits(actual.state.Distance), Bits(expected.state.Distance)) << what;
  EXPECT_EQ(Bits(a.cost), Bits(e.cost)) << what;
  EXPECT_EQ(actual.state.Results, expected.state.Results) << what;
  const RefinementSettings& se = expected.state.Settings;
  const RefinementSettings& sa = actual.state.Settings;
  EXPECT_EQ(Bits(sa.AlStart), Bits(se.AlStart)) << what;
  EXPECT_EQ(Bits(sa.HiStart), Bits(se.HiStart)) << what;
  EXPECT_EQ(Bits(sa.LStart), Bits(se.LStart)) << what;
  // The log, but for the computation time of its last line.
  ASSERT_EQ(actual.log.size(), expected.log.size()) << what;
  for (std::size_t i = 0; i + 1 < expected.log.size(); ++i)
    ASSERT_EQ(actual.log[i], expected.log[i]) << what << ", log line " << i + 1;
  if (!expected.log.empty()) {
    EXPECT_EQ(actual.log.back().rfind("Время счета: ", 0), 0u) << what;
  }
}

TEST(RefinementEquivalenceTest, ManySmallScenesAtLevelOne) {
  std::mt19937 random(101);
  int shown = 0;
  for (int trial = 0; trial < 24; ++trial) {
    const int n = 4 + static_cast<int>(random() % 17);
    const auto pairs = RandomScene(random, n, trial % 3 == 0);
    Outcome expected, actual;
    RunPose(pairs, 1, true, 1, expected);
    RunPose(pairs, 1, false, 0, actual);
    ExpectSame(expected, actual, "trial " + std::to_string(trial) + ", " + std::to_string(n));
    shown += expected.shown;
  }
  EXPECT_GE(shown, 16);  // most scenes have a result to compare
}

TEST(RefinementEquivalenceTest, LargeScenesAtLevelsZeroAndOne) {
  std::mt19937 random(202);
  for (int n : {257, 2000}) {
    const auto pairs = RandomScene(random, n);
    for (int level : {0, 1}) {
      Outcome expected, actual;
      RunPose(pairs, level, true, 1, expected);
      RunPose(pairs, level, false, 0, actual);
      ExpectSame(expected, actual, std::to_string(n) + " points, level " + std::to_string(level));
    }
  }
}

TEST(RefinementEquivalenceTest, PreciseLevelWithOneTwoThreeAndEightThreads) {
  std::mt19937 random(303);
  for (int n : {4, 7}) {
    const auto pairs = RandomScene(random, n, false);
    Outcome expected;
    RunPose(pairs, 3, true, 1, expected);
    ASSERT_TRUE(expected.shown) << (expected.messages.empty() ? "" : expected.messages[0]);
    for (int threads : {1, 2, 3, 8}) {
      Outcome actual;
      RunPose(pairs, 3, false, threads, actual);
      ExpectSame(expected, actual,
                 std::to_string(n) + " points, " + std::to_string(threads) + " threads");
    }
  }
}

TEST(RefinementEquivalenceTest, DegenerateScenesFailOrSucceedAlike) {
  // Collinear scene points, duplicated pairs, a far-off point and a negative distance's start.
  std::mt19937 random(404);
  std::vector<std::vector<Pair>> scenes;
  scenes.push_back({{0, 0, 0, 0}, {10, 0, 100, 0}, {20, 0, 200, 0}, {30, 0, 300, 0}});
  auto dup = RandomScene(random, 5);
  dup.push_back(dup[0]);
  dup.push_back(dup[1]);
  scenes.push_back(dup);
  auto far = RandomScene(random, 6);
  far.push_back({1e6, -1e6, 1e9, 1e9});
  scenes.push_back(far);
  for (std::size_t i = 0; i < scenes.size(); ++i)
    for (int level : {1, 3}) {
      Outcome expected, actual;
      RunPose(scenes[i], level, true, 1, expected);
      RunPose(scenes[i], level, false, 3, actual);
      ExpectSame(expected, actual,
                 "scene " + std::to_string(i) + ", level " + std::to_string(level));
    }
}

TEST(PointArrayCostTest, EveryInstructionSetGivesThePlainCostBitForBit) {
  std::mt19937 random(505);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int n = 0; n <= 37; ++n) {
    const auto pairs = RandomScene(random, n);
    VT_Points image(1), scene(1);
    for (const Pair& p : pairs) {
      image.Add(new VT_Point(p.x, p.y));
      scene.Add(new VT_Point(p.X - 300, p.Y + 200));
    }
    for (CostInstructions isa :
         {CostInstructions::kScalar, CostInstructions::kAvx2, CostInstructions::kAvx512}) {
      if (!Supports(isa)) continue;
      const PointArrayCost cost(image, scene, 1234.5, isa);
      PoseParameters p[3];
      for (auto& q : p)
        q = {unit(random) - 0.5, unit(random) - 0.5, 6 * unit(random) - 3,
             1000 + 3000 * unit(random)};
      for (int count = 1; count <= 3; ++count) {
        double costs[3];
        cost.Costs(p, count, costs);
        for (int e = 0; e < count; ++e)
          EXPECT_EQ(Bits(costs[e]), Bits(oracle::RefinementCost(image, scene, p[e].Al, p[e].Bet,
                                                                p[e].Hi, 1234.5, p[e].L)))
              << n << " points, instructions " << static_cast<int>(isa);
      }
    }
  }
}

TEST(PointArrayCostTest, RaisesWhereThePlainCostRaises) {
  auto image =
      testing::MakePoints({{1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}, {6, 6}, {7, 7}, {8, 8}, {9, 9}});
  for (CostInstructions isa :
       {CostInstructions::kScalar, CostInstructions::kAvx2, CostInstructions::kAvx512}) {
    if (!Supports(isa)) continue;
    for (int at : {0, 5, 8}) {  // in a vector and in the tail
      VT_Points scene(1);
      for (int i = 0; i < 9; ++i) scene.Add(new VT_Point(i == at ? 0 : 10, 10));
      // D = sin a·X + L − cos a·sin b·Y is 0 for the point at X = 0 with a = b = 0, L = 0 ...
      const PointArrayCost cost(*image, scene, 1000, isa);
      EXPECT_THROW(cost.Cost({0, 0, 0, 0}), ZelvError);
      EXPECT_THROW(oracle::RefinementCost(*image, scene, 0, 0, 0, 1000, 0), ZelvError);
      // ... and not finite for a huge one.
      scene.Get(at)->x = 1e308;
      const PointArrayCost huge(*image, scene, 1000, isa);
      EXPECT_THROW(huge.Cost({1.5, 0.1, 0, 1e308}), ZelvError);
    }
    auto shortScene = testing::MakePoints({{0, 5}});
    const PointArrayCost mismatched(*image, *shortScene, 1000, isa);
    EXPECT_THROW(mismatched.Cost({0, 0, 0, 10}), ZelvError);
    auto far = testing::MakePoints({{1e300, 1e300}, {1, 1}});
    auto two = testing::MakePoints({{1, 1}, {2, 2}});
    const PointArrayCost overflow(*two, *far, 1e300, isa);
    EXPECT_THROW(overflow.Cost({0.1, 0.1, 0, 10}), ZelvError);
  }
}

}  // namespace
}  // namespace zelv
