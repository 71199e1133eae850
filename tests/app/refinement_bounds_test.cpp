// What keeps the refinement finite and visible: the walk check and the move bound (the runaway
// fuzz input, a walk of more than a million moves that converges, the moves of the worked cases),
// final offsets refused only for searches that would run, a failing outer iteration on a worker
// thread, and progress reported on the calling thread.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <numbers>
#include <thread>

#include "app/orientation_session.h"
#include "base/zelv_error.h"
#include "fake_ui.h"
#include "oracle/refinement_oracle.h"
#include "orientation_shims.h"
#include "scratch_folder.h"
#include "solver/pose.h"

namespace zelv {
namespace {

namespace fs = std::filesystem;

class FunctionCost : public RefinementCostModel {
 public:
  explicit FunctionCost(std::function<double(const PoseParameters&)> f) : f_(std::move(f)) {}
  double Cost(const PoseParameters& p) const override { return f_(p); }

 private:
  std::function<double(const PoseParameters&)> f_;
};

struct Fixture {
  RefinementSettings settings;
  RefinementContext context;
  explicit Fixture(const RefinementCostModel& cost, int level) {
    settings.EstimateLevel = level;
    context.cost = &cost;
    context.settings = &settings;
  }
};

TEST(MoveBoundTest, TheRunawayDistanceInputEndsWithTheGuardMessageInSeconds) {
  // The fuzz input: control byte, then camera, table, image and scene separated by "\n====\n".
  std::ifstream in(
      fs::path(ZELV_TEST_DATA_DIR) / "../fuzz/regressions/orientation/runaway-distance",
      std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_GT(bytes.size(), 1u);
  std::vector<std::string> parts;
  std::size_t from = 1;
  for (std::size_t at; (at = bytes.find("\n====\n", from)) != std::string::npos; from = at + 6)
    parts.push_back(bytes.substr(from, at - from));
  parts.push_back(bytes.substr(from));
  ASSERT_EQ(parts.size(), 4u);
  testing::ScratchFolder folder;
  for (bool oracle : {false, true}) {
    OrientationRun state;
    state.CameraFileName = folder.Write("camera.cam", parts[0]);
    folder.Write("table.txt", parts[1]);
    state.ImageFileName = folder.Write("image.crd", parts[2]);
    state.SceneFileName = folder.Write("scene.crd", parts[3]);
    state.StartDirectory = folder.Folder().string();
    state.DecimalSeparator = '.';
    state.Settings.EstimateLevel = 1;
    testing::FakeUi ui;
    ASSERT_TRUE(LoadInputs(state, ui));
    PoseOptions options;
    if (oracle)
      options.refine = [](double& a, double& b, double& c, double& d, RefinementContext& context) {
        oracle::Refine(a, b, c, d, context);
      };
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(ComputePose(state, ui, options));
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
              10.0);
    ASSERT_EQ(ui.messages.size(), 1u);
    EXPECT_EQ(ui.messages[0].text, "Внутренняя ошибка! Проверьте входные данные.");
    EXPECT_EQ(ui.messages[0].caption, "Отказ");
  }
}

TEST(MoveBoundTest, WorkedCasesNeedFewerThanFiftyThousandMoves) {
  const fs::path root = fs::path(ZELV_TEST_DATA_DIR) / "golden";
  for (const char* name : {"square", "synthetic1", "synthetic2", "synthetic3", "synthetic4"}) {
    OrientationRun state;
    state.CameraFileName = (root / name / "camera.cam").string();
    state.ImageFileName = (root / name / "image.crd").string();
    state.SceneFileName = (root / name / "scene.crd").string();
    state.Settings.EstimateLevel = 1;
    testing::FakeUi ui;
    ASSERT_TRUE(LoadInputs(state, ui));
    long moves = 0;
    PoseOptions options;
    options.refine = [&moves](double& a, double& b, double& c, double& d,
                              RefinementContext& context) {
      oracle::Refine(a, b, c, d, context, &moves);
    };
    ASSERT_TRUE(ComputePose(state, ui, options)) << name;
    EXPECT_GT(moves, 1000) << name;
    EXPECT_LT(moves, 50000) << name;
  }
}

TEST(MoveBoundTest, AWalkOfMoreThanAMillionMovesFromADistanceOfAHundredthConverges) {
  // Only the distance is searched, from 0.01 at a step of 15 % of it: 0.0015 a move, about
  // 1.3 million moves up to the true 2000.
  const fs::path root = fs::path(ZELV_TEST_DATA_DIR) / "golden" / "square";
  double expectedDistance = 0, expectedCost = 0;
  std::vector<std::string> expectedResults;
  for (bool oracle : {true, false}) {
    OrientationRun state;
    state.CameraFileName = (root / "camera.cam").string();
    state.ImageFileName = (root / "image.crd").string();
    state.SceneFileName = (root / "scene.crd").string();
    state.Settings.EstimateLevel = 1;
    state.Settings.UseFirstValues = true;
    state.Settings.LFirstValue = 0.01;
    state.Settings.AlStart = state.Settings.BetStart = state.Settings.HiStart = 0;
    testing::FakeUi ui;
    ASSERT_TRUE(LoadInputs(state, ui));
    long moves = 0;
    PoseOptions options;
    if (oracle)
      options.refine = [&moves](double& a, double& b, double& c, double& d,
                                RefinementContext& context) {
        oracle::Refine(a, b, c, d, context, &moves);
      };
    ASSERT_TRUE(ComputePose(state, ui, options)) << oracle;
    EXPECT_NEAR(state.Distance, 2000, 1e-6);
    EXPECT_EQ(state.Values.Al, 0);
    EXPECT_EQ(state.Values.Bet, 0);
    EXPECT_EQ(state.Values.Hi, 0);
    EXPECT_LT(state.Values.cost, 1e-6);
    if (oracle) {
      EXPECT_GT(moves, 1300000);
      expectedDistance = state.Distance;
      expectedCost = state.Values.cost;
      expectedResults = {state.Results.begin(), state.Results.end()};
    } else {
      EXPECT_EQ(state.Distance, expectedDistance);
      EXPECT_EQ(state.Values.cost, expectedCost);
      EXPECT_EQ(std::vector<std::string>(state.Results.begin(), state.Results.end()),
                expectedResults);
    }
  }
}

TEST(MoveBoundTest, AWalkWhoseCostFallsTooSlowlyIsRefusedAfterTenThousandMoves) {
  // At a step of 15 (15 % of 100) falling by 1.5e-11 of the cost a move, the walk would go on
  // for billions of moves.
  long evaluations = 0;
  const FunctionCost slow([&evaluations](const PoseParameters& p) {
    ++evaluations;
    return 1000 - 1e-9 * p.L;
  });
  for (bool oracle : {true, false}) {
    Fixture f(slow, 1);
    f.settings.AlStart = f.settings.BetStart = f.settings.HiStart = 0;
    double Al = 0, Bet = 0, Hi = 0, L = 100;
    evaluations = 0;
    if (oracle)
      EXPECT_THROW(oracle::Refine(Al, Bet, Hi, L, f.context), ZelvError);
    else
      EXPECT_THROW(Refine(Al, Bet, Hi, L, f.context), ZelvError);
    EXPECT_EQ(L, 100);
    EXPECT_GT(evaluations, kWalkWindow);
    EXPECT_LT(evaluations, 4 * kWalkWindow);
  }
  // Ten times faster it is a walk that converges: from 0 up to the minimum at 30 000.
  const FunctionCost fast(
      [](const PoseParameters& p) { return 1000 - 1e-6 * p.L + std::fabs(p.L - 30000); });
  PoseParameters p{0, 0, 0, 0};
  SearchParameter(p, &PoseParameters::L, MoveDistance, 1, 0.5, 70, fast);
  EXPECT_NEAR(p.L, 30000, 1);
}

TEST(FinalOffsetTest, RefusedOnlyWhenItsSearchWouldRun) {
  const FunctionCost cost([](const PoseParameters& p) {
    return std::fabs(p.Al - 0.1) + std::fabs(p.Bet) + std::fabs(p.Hi) + 1;
  });
  // A negative distance: its final offset is negative, but so is its start step, below it.
  Fixture negative(cost, 1);
  double Al = 0, Bet = 0.2, Hi = 0.3, L = -100;
  EXPECT_NO_THROW(Refine(Al, Bet, Hi, L, negative.context));
  EXPECT_EQ(L, -100);
  EXPECT_NEAR(Al, 0.1, 1e-5);
  // An angle whose start steps (×1, ×0.3, ×0.09) are not above its (negative) final offset
  // never moves ...
  Fixture still(cost, 1);
  still.settings.HiMin = -1;
  still.settings.HiStart = -20;
  Hi = 0.3;
  EXPECT_NO_THROW(Refine(Al, Bet, Hi, L, still.context));
  EXPECT_EQ(Hi, 0.3);
  // ... but one whose third pass would search (−10 × 0.09 > −1) is refused, before anything runs.
  Fixture third(cost, 1);
  third.settings.HiMin = -1;
  third.settings.HiStart = -10;
  EXPECT_THROW(Refine(Al, Bet, Hi, L, third.context), ZelvError);
  // At level 3 the start steps are positive, so the same final offset is refused.
  Fixture precise(cost, 3);
  precise.settings.HiMin = -1;
  EXPECT_THROW(Refine(Al, Bet, Hi, L, precise.context), ZelvError);
}

TEST(ParallelRefineTest, AFailingIterationLeavesWhatTheSequentialRunLeaves) {
  // Iteration j probes the distance at ±j percent of 100 around where it settles, near 101:
  // iteration 12 is the first to reach the fault at 112.5.
  const FunctionCost cost([](const PoseParameters& p) {
    if (p.L > 112.5) throw ZelvError("fault");
    return std::fabs(p.Bet - 0.01) + std::fabs(p.L - 101) + 1;
  });
  for (int threads : {1, 2, 3, 8}) {
    Fixture f(cost, 3);
    f.context.threads = threads;
    double Al = 0, Bet = 0, Hi = 0, L = 100;
    EXPECT_THROW(Refine(Al, Bet, Hi, L, f.context), ZelvError) << threads;
    EXPECT_EQ(f.settings.LStart, 12) << threads;
    EXPECT_EQ(f.settings.AlStart, 12 * std::numbers::pi * 0.005555555555555556) << threads;
    EXPECT_EQ(L, 100);
  }
}

TEST(ParallelRefineTest, ProgressIsReportedOnTheCallingThreadAtLeastOnceASecond) {
  // A cost slow enough for the run to take a while.
  const FunctionCost cost([](const PoseParameters& p) {
    double v = 0;
    for (int i = 0; i < 40; ++i) v = v + std::sin(p.Al + i);
    return std::fabs(p.Al - 0.1) + std::fabs(p.Bet) + std::fabs(p.Hi) + std::fabs(p.L - 90) + 1 +
           1e-30 * v;
  });
  Fixture f(cost, 3);
  f.context.threads = 2;
  const std::thread::id caller = std::this_thread::get_id();
  std::vector<std::chrono::steady_clock::time_point> calls;
  bool elsewhere = false;
  f.context.progress = [&] {
    elsewhere = elsewhere || std::this_thread::get_id() != caller;
    calls.push_back(std::chrono::steady_clock::now());
  };
  double Al = 0, Bet = 0, Hi = 0, L = 100;
  const auto start = std::chrono::steady_clock::now();
  Refine(Al, Bet, Hi, L, f.context);
  const auto end = std::chrono::steady_clock::now();
  EXPECT_FALSE(elsewhere);
  ASSERT_FALSE(calls.empty());
  calls.insert(calls.begin(), start);
  calls.push_back(end);
  for (std::size_t i = 1; i < calls.size(); ++i)
    EXPECT_LT(std::chrono::duration<double>(calls[i] - calls[i - 1]).count(), 1.0) << i;
  EXPECT_NEAR(Al, 0.1, 1e-5);
}

}  // namespace
}  // namespace zelv
