// The shipped refinement against the straightforward reference: on random planar scenes of 4 to
// 2000 points, at every estimate level and with several thread counts, every output bit is the
// same — the result values, the refined angles and distance, the cost, the shown texts, the
// settings the run leaves and the log lines. And the vectorised cost against the plain one for
// every instruction set this processor runs.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>

#include "app/orientation_session.h"
#include "app/orientation_state.h"
#include "base/zelv_error.h"
#include "fake_ui.h"
#include "files/text_file.h"
#include "oracle/refinement_oracle.h"
#include "orientation_shims.h"
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
  OrientationRun state;
  std::vector<std::string> log;
  std::vector<std::string> messages;
};

void RunPose(const std::vector<Pair>& pairs, int level, bool oracle, int threads, Outcome& out,
             const RefinementSettings& settings = {}) {
  testing::ScratchFolder folder;
  OrientationRun& state = out.state;
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
  EXPECT_EQ(Bits(sa.BetStart), Bits(se.BetStart)) << what;
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

TEST(RefinementEquivalenceTest, NonDefaultSettingsAtLevelsOneAndThree) {
  // First values with and without VaryHi, start offsets not above the final ones (those
  // searches never run), other start and final offsets, coarse final offsets.
  const double degree = std::numbers::pi / 180;
  std::vector<std::pair<std::string, RefinementSettings>> variants;
  RefinementSettings first;
  first.UseFirstValues = true;
  first.AlFirstValue = 0.1;
  first.BetFirstValue = -0.2;
  first.HiFirstValue = 0.4;
  first.LFirstValue = 1500;
  variants.push_back({"first values", first});
  RefinementSettings varyHi = first;
  varyHi.VaryHi = true;
  variants.push_back({"first values, VaryHi", varyHi});
  RefinementSettings still;
  still.AlStart = still.AlMin;
  still.HiStart = still.HiMin / 2;
  still.LStart = 0.00005;
  variants.push_back({"start offsets not above the final ones", still});
  RefinementSettings other;
  other.BetStart = 5 * degree;
  other.BetMin = 0.001 * degree;
  other.HiMin = 1e-4;
  other.LStart = 40;
  other.LMin = 0.01;
  variants.push_back({"other offsets", other});
  RefinementSettings coarse;
  coarse.AlMin = coarse.BetMin = coarse.HiMin = 0.01;
  coarse.LMin = 1;
  coarse.UseFirstValues = true;
  coarse.VaryHi = true;
  coarse.LFirstValue = 4000;
  variants.push_back({"coarse final offsets", coarse});

  std::mt19937 random(606);
  int shown = 0;
  for (const auto& [name, settings] : variants) {
    const auto pairs = RandomScene(random, 5 + static_cast<int>(random() % 8), false);
    for (int level : {1, 3}) {
      Outcome expected;
      RunPose(pairs, level, true, 1, expected, settings);
      shown += expected.shown;
      for (int threads : level == 1 ? std::vector<int>{0} : std::vector<int>{1, 3}) {
        Outcome actual;
        RunPose(pairs, level, false, threads, actual, settings);
        ExpectSame(expected, actual,
                   name + ", level " + std::to_string(level) + ", " + std::to_string(threads) +
                       " threads");
      }
    }
  }
  EXPECT_GE(shown, 8);  // most runs have a result to compare
  // And a large scene at level 1 from first values.
  const auto pairs = RandomScene(random, 300);
  Outcome expected, actual;
  RunPose(pairs, 1, true, 1, expected, varyHi);
  RunPose(pairs, 1, false, 0, actual, varyHi);
  ExpectSame(expected, actual, "300 points from first values");
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
      // A few evaluations over the points in the lanes, many each in its own lane (whole
      // vectors, pairs of vectors, part-filled ones, more than one batch of terms).
      std::vector<PoseParameters> p(70);
      for (auto& q : p)
        q = {unit(random) - 0.5, unit(random) - 0.5, 6 * unit(random) - 3,
             1000 + 3000 * unit(random)};
      // The probes of one step of the distance search share the angles, those of the Hi search
      // the denominator.
      for (int count : {2, 3}) {
        std::vector<PoseParameters> step(count, p[0]), turn(count, p[1]);
        for (int e = 1; e < count; ++e) {
          step[e].L = step[0].L + 17 * e;
          turn[e].Hi = turn[0].Hi - 0.01 * e;
        }
        for (const auto* set : {&step, &turn}) {
          std::vector<double> costs(count);
          cost.Costs(set->data(), count, costs.data());
          for (int e = 0; e < count; ++e) {
            const PoseParameters& q = (*set)[e];
            EXPECT_EQ(Bits(costs[e]),
                      Bits(oracle::RefinementCost(image, scene, q.Al, q.Bet, q.Hi, 1234.5, q.L)))
                << n << " points, instructions " << static_cast<int>(isa) << ", one step";
          }
        }
      }
      for (int count : {1, 2, 3, 4, 5, 8, 9, 16, 17, 23, 70}) {
        std::vector<double> costs(count);
        cost.Costs(p.data(), count, costs.data());
        for (int e = 0; e < count; ++e)
          EXPECT_EQ(Bits(costs[e]), Bits(oracle::RefinementCost(image, scene, p[e].Al, p[e].Bet,
                                                                p[e].Hi, 1234.5, p[e].L)))
              << n << " points, instructions " << static_cast<int>(isa) << ", " << count
              << " at once";
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
      // So do the probes of one step that share the angles or the denominator.
      const PoseParameters distances[2] = {{0, 0, 0, 5}, {0, 0, 0, 0}};
      const PoseParameters turns[2] = {{0, 0, 0.1, 0}, {0, 0, 0.2, 0}};
      double two[2];
      EXPECT_THROW(cost.Costs(distances, 2, two), ZelvError);
      EXPECT_THROW(cost.Costs(turns, 2, two), ZelvError);
      // Among many evaluations in the lanes, one that divides by zero raises.
      for (int count : {4, 9, 20}) {
        std::vector<PoseParameters> many(count, PoseParameters{0.1, 0.1, 0.2, 3000});
        many[count / 2] = {0, 0, 0, 0};
        std::vector<double> costs(count);
        EXPECT_THROW(cost.Costs(many.data(), count, costs.data()), ZelvError) << count;
        many[count / 2] = {1.5, 0.1, 0, 1e308};
        scene.Get(at)->x = 1e308;
        const PointArrayCost huge(*image, scene, 1000, isa);
        EXPECT_THROW(huge.Costs(many.data(), count, costs.data()), ZelvError) << count;
        scene.Get(at)->x = 0;
      }
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
