// The refinement: its cost, the moves, the line search, the passes and rounds, the choice of the
// outer iteration and the log.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <numbers>

#include "base/zelv_error.h"
#include "files/text_file.h"
#include "scratch_folder.h"
#include "solver/refinement.h"
#include "solver_test_points.h"

namespace zelv {
namespace {

using testing::MakePoints;
using testing::ScratchFolder;

// A cost given by a function of the four parameters, counting its evaluations (the precise
// estimate evaluates on several threads at once).
class FunctionCost : public RefinementCostModel {
 public:
  explicit FunctionCost(std::function<double(const PoseParameters&)> f) : f_(std::move(f)) {}
  double Cost(const PoseParameters& p) const override {
    evaluations.fetch_add(1, std::memory_order_relaxed);
    return f_(p);
  }
  mutable std::atomic<long> evaluations{0};

 private:
  std::function<double(const PoseParameters&)> f_;
};

TEST(RefinementCostTest, SumsAbsoluteErrorsOfTheProjectionAndIsZeroAtTheTruePose) {
  auto image = MakePoints({{-100, -100}, {100, -100}, {100, 100}, {-100, 100}});
  auto scene = MakePoints({{-200, -200}, {200, -200}, {200, 200}, {-200, 200}});
  EXPECT_EQ(RefinementCost(*image, *scene, 0, 0, 0, 1000, 2000), 0);
  // At L = 4000 every projection is half as far out: 4 points × (50 + 50) pixels.
  EXPECT_EQ(RefinementCost(*image, *scene, 0, 0, 0, 1000, 4000), 400);
}

TEST(RefinementCostTest, ZeroDenominatorAndShorterSceneListRaise) {
  auto image = MakePoints({{1, 1}, {2, 2}});
  auto scene = MakePoints({{0, 5}, {3, 3}});
  // D = sin a·X + L − cos a·sin b·Y is 0 for the first point at a = b = 0, L = 0.
  EXPECT_THROW(RefinementCost(*image, *scene, 0, 0, 0, 1000, 0), ZelvError);
  auto shortScene = MakePoints({{0, 5}});
  EXPECT_THROW(RefinementCost(*image, *shortScene, 0, 0, 0, 1000, 10), ZelvError);
  auto far = MakePoints({{1e300, 1e300}, {1, 1}});
  EXPECT_THROW(RefinementCost(*image, *far, 0.1, 0.1, 0, 1e300, 10), ZelvError);
}

TEST(MoveTest, TiltIsReflectedAtTheBoundAndTurnShiftedByPi) {
  const double H = kTiltBound;
  EXPECT_EQ(WrapTilt(1.5, -0.2), 1.5 - 0.2);
  EXPECT_EQ(WrapTilt(1.3, 0.4), 2 * H - (1.3 + 0.4));
  EXPECT_NEAR(WrapTilt(1.3, 0.4), 1.4416, 0.0001);
  EXPECT_EQ(WrapTilt(-1.5, -0.2), -2 * H - (-1.5 - 0.2));
  EXPECT_EQ(WrapTilt(H, 0), H);  // the bound itself stays
  EXPECT_NEAR(WrapTurn(3.1, -0.2), 2.9, 1e-15);
  EXPECT_EQ(WrapTurn(2.9, 0.4), (2.9 + 0.4) - std::numbers::pi);
  EXPECT_NEAR(WrapTurn(2.9, 0.4), 0.1584, 0.0001);
  EXPECT_EQ(WrapTurn(-3.1, -0.2), (-3.1 - 0.2) + std::numbers::pi);
  EXPECT_EQ(MoveDistance(1e9, 5e9), 6e9);
}

TEST(SearchParameterTest, ConvergesOnTheMinimumOfOneParameter) {
  FunctionCost cost([](const PoseParameters& p) { return std::fabs(p.L - 1234.5); });
  PoseParameters p{0, 0, 0, 1000};
  SearchParameter(p, &PoseParameters::L, MoveDistance, 150, 0.0001, 70, cost);
  EXPECT_NEAR(p.L, 1234.5, 0.001);
  EXPECT_EQ(p.Al, 0);
}

TEST(SearchParameterTest, StartStepNotAboveTheFinalOffsetNeitherMovesNorEvaluates) {
  FunctionCost cost([](const PoseParameters& p) { return std::fabs(p.Al - 1); });
  PoseParameters p{0.5, 0, 0, 1000};
  SearchParameter(p, &PoseParameters::Al, WrapTilt, 0.001, 0.001, 70, cost);
  EXPECT_EQ(p.Al, 0.5);
  EXPECT_EQ(cost.evaluations, 0);
}

TEST(SearchParameterTest, OfEqualProbesBelowTheCentreTheUpperIsKept) {
  // Centre 0 costs 2, both probes ±1 cost 1; then everything costs at least 1 around 1.
  FunctionCost cost([](const PoseParameters& p) { return p.L == 0 ? 2.0 : 1.0; });
  PoseParameters p{0, 0, 0, 0};
  SearchParameter(p, &PoseParameters::L, MoveDistance, 1, 0.5, 40, cost);
  EXPECT_EQ(p.L, 1);
}

TEST(SearchParameterTest, UpperProbeEqualToTheCentreWithALowerBelowKeepsTheUpper) {
  // c+ = c0 and c− < c0: the search stays at the upper probe with the same step.
  FunctionCost cost([](const PoseParameters& p) {
    if (p.L == 0 || p.L == 1) return 5.0;
    if (p.L == -1) return 1.0;
    return 9.0;
  });
  PoseParameters p{0, 0, 0, 0};
  SearchParameter(p, &PoseParameters::L, MoveDistance, 1, 0.5, 40, cost);
  // From 1 the probes 0 (5) and 2 (9) are not below 5: the step shrinks to 0.4 and ends there.
  EXPECT_EQ(p.L, 1);
}

TEST(SearchParameterTest, ACostThatFallsForEverIsStoppedInsteadOfHanging) {
  FunctionCost cost([](const PoseParameters& p) { return 1 / p.L; });
  PoseParameters p{0, 0, 0, 1};
  EXPECT_THROW(SearchParameter(p, &PoseParameters::L, MoveDistance, 1, 0.5, 70, cost), ZelvError);
}

TEST(ChooseResultTest, LowestCostWinsAndOfEqualCostsTheEarliest) {
  const std::vector<TResStruct> results = {
      {1, 0, 0, 0, 2.0}, {2, 0, 0, 0, 1.0}, {3, 0, 0, 0, 1.0}, {4, 0, 0, 0, 3.0}};
  EXPECT_EQ(ChooseResult(results).Al, 2);
  // Costs so large that adding 1 changes nothing still give the earliest lowest.
  const std::vector<TResStruct> huge = {{1, 0, 0, 0, 1e17}, {2, 0, 0, 0, 1e17}};
  EXPECT_EQ(ChooseResult(huge).Al, 1);
}

// A context over a function cost, logging into `logPath` when set.
struct Fixture {
  RefinementSettings settings;
  RefinementContext context;
  int progressCalls = 0;
  std::string logPath;
  explicit Fixture(const RefinementCostModel& cost) {
    context.writeLog = [this](const std::vector<std::string>& lines) {
      if (!logPath.empty()) SaveTextLines(logPath, lines);
    };
    context.cost = &cost;
    context.settings = &settings;
    context.decimalSeparator = '.';
    context.startTime = std::chrono::system_clock::now();
    context.progress = [this] { ++progressCalls; };
  }
};

TEST(RefineTest, LevelOneReachesTheMinimumAndLogsEveryRound) {
  FunctionCost cost([](const PoseParameters& p) {
    return std::fabs(p.Al - 0.1) * 1000 + std::fabs(p.Bet + 0.05) * 1000 +
           std::fabs(p.Hi - 0.2) * 1000 + std::fabs(p.L - 2100) * 0.01 + 0.5;
  });
  ScratchFolder folder;
  Fixture f(cost);
  f.settings.EstimateLevel = 1;
  f.settings.KeepLog = true;
  f.logPath = folder.Path("ZELV1.log");
  double Al = 0, Bet = 0, Hi = 0, L = 2000;
  Refine(Al, Bet, Hi, L, f.context);
  EXPECT_NEAR(Al, 0.1, 1e-5);
  EXPECT_NEAR(Bet, -0.05, 1e-5);
  EXPECT_NEAR(Hi, 0.2, 1e-5);
  EXPECT_NEAR(L, 2100, 0.01);

  const auto log = LoadTextLines(f.logPath);
  ASSERT_GE(log.size(), 2u);
  EXPECT_EQ(log[0], "Начальное приближение:");
  EXPECT_EQ(log[1], "0.0000  ;  0.0000  ;  0.0000  ;  2000.0000  ;  351.5000");
  std::vector<std::string> passes;
  int rounds = 0;
  for (const std::string& line : log) {
    if (line.find("-й проход. ") != std::string::npos) passes.push_back(line);
    if (line.rfind("Номер итерации - ", 0) == 0) ++rounds;
  }
  EXPECT_EQ(passes,
            (std::vector<std::string>{"1-й проход. 70%.", "2-й проход. 85%.", "3-й проход. 99%."}));
  EXPECT_GE(rounds, 15);  // each pass has at least five rounds
  EXPECT_EQ(rounds, f.progressCalls);
  const std::vector<std::string> tail(log.end() - 15, log.end() - 1);
  EXPECT_EQ(tail[0], "Параметры счета:");
  EXPECT_EQ(tail[1], "Поворот вокруг поперечной оси:");
  EXPECT_EQ(tail[2], "  Начальное смещение:15.0000");
  EXPECT_EQ(tail[3], "  Конечное смещение:0.0001");
  EXPECT_EQ(tail[10], "Расстояние:");
  EXPECT_EQ(tail[11], "  Начальное смещение:15.0000");
  EXPECT_EQ(tail[12], "  Конечное смещение:0.0001");
  EXPECT_EQ(tail[13], "Количество итераций:30");
  EXPECT_EQ(log.back().rfind("Время счета: ", 0), 0u);
}

TEST(RefineTest, PassEndsAfterTheRoundThatReachesCostZero) {
  FunctionCost cost([](const PoseParameters&) { return 0.0; });
  ScratchFolder folder;
  Fixture f(cost);
  f.settings.EstimateLevel = 1;
  f.settings.KeepLog = true;
  f.logPath = folder.Path("log.txt");
  double Al = 0.1, Bet = 0.2, Hi = 0.3, L = 100;
  Refine(Al, Bet, Hi, L, f.context);
  EXPECT_EQ(f.progressCalls, 3);  // one round in each pass
  EXPECT_NEAR(Al, 0.1, 1e-12);    // every probe came back to the centre
  EXPECT_NEAR(L, 100, 1e-9);
}

TEST(RefineTest, StartOffsetNotAboveItsFinalOffsetLeavesTheParameterButStillLogsIt) {
  FunctionCost cost([](const PoseParameters& p) { return std::fabs(p.Al - 0.3) + 1; });
  ScratchFolder folder;
  Fixture f(cost);
  f.settings.EstimateLevel = 1;
  f.settings.KeepLog = true;
  f.settings.AlStart = f.settings.AlMin;
  f.logPath = folder.Path("log.txt");
  double Al = 0, Bet = 0, Hi = 0, L = 100;
  Refine(Al, Bet, Hi, L, f.context);
  EXPECT_EQ(Al, 0);
  const auto log = LoadTextLines(f.logPath);
  EXPECT_EQ(std::count(log.begin(), log.end(),
                       "Уточнение решения по углу поворота сцены вокруг поперечной оси"),
            f.progressCalls);
}

TEST(RefineTest, LevelThreeRunsThirtyStartStepsAndLeavesThemInTheSettings) {
  FunctionCost cost([](const PoseParameters& p) { return std::fabs(p.Bet - 0.02) + 1; });
  ScratchFolder folder;
  Fixture f(cost);
  f.settings.EstimateLevel = 3;
  f.settings.KeepLog = true;
  f.logPath = folder.Path("log.txt");
  double Al = 0, Bet = 0, Hi = 0, L = 100;
  Refine(Al, Bet, Hi, L, f.context);
  EXPECT_EQ(f.settings.LStart, 30);
  EXPECT_EQ(f.settings.AlStart, 30 * std::numbers::pi * 0.005555555555555556);
  EXPECT_EQ(f.settings.HiStart, f.settings.AlStart);
  const auto log = LoadTextLines(f.logPath);
  int iterationLines = 0;
  for (std::size_t i = 0; i < log.size(); ++i) {
    EXPECT_EQ(log[i].find("проход"), std::string::npos);
    EXPECT_NE(log[i].rfind("Номер итерации - ", 0), 0u);
    if (log[i].rfind("Номер итерации по начальным шагам - ", 0) == 0) {
      ++iterationLines;
      EXPECT_EQ(log[i], "Номер итерации по начальным шагам - " + std::to_string(iterationLines));
      ASSERT_LT(i + 1, log.size());
      EXPECT_NE(log[i + 1].find("  ;  "), std::string::npos);
    }
  }
  EXPECT_EQ(iterationLines, 30);
  EXPECT_NE(std::find(log.begin(), log.end(), "  Начальное смещение:30.0000"), log.end());
}

TEST(RefineTest, FinalOffsetNotAboveZeroIsRefusedAndChangesNothing) {
  FunctionCost cost([](const PoseParameters& p) { return std::fabs(p.L - 5); });
  for (int which = 0; which < 3; ++which) {
    Fixture f(cost);
    f.settings.EstimateLevel = 1;
    double Al = 0.1, Bet = 0.2, Hi = 0.3, L = 100;
    if (which == 0) f.settings.AlMin = 0;
    if (which == 1) f.settings.BetMin = -1e-6;
    if (which == 2) f.settings.LMin = 0;
    const double L0 = L;
    EXPECT_THROW(Refine(Al, Bet, Hi, L, f.context), ZelvError) << which;
    EXPECT_EQ(Al, 0.1);
    EXPECT_EQ(L, L0);
    EXPECT_EQ(cost.evaluations, 0);
  }
}

TEST(RefineTest, WithoutKeepLogNoFileIsWritten) {
  FunctionCost cost([](const PoseParameters& p) { return std::fabs(p.Hi) + 1; });
  ScratchFolder folder;
  Fixture f(cost);
  f.settings.EstimateLevel = 1;
  f.logPath = folder.Path("ZELV1.log");
  double Al = 0, Bet = 0, Hi = 0.2, L = 100;
  Refine(Al, Bet, Hi, L, f.context);
  EXPECT_FALSE(FileExists(f.logPath));
  EXPECT_NEAR(Hi, 0, 1e-5);
}

TEST(RefineTest, LogThatCannotBeWrittenRaisesAndKeepsTheParameters) {
  FunctionCost cost([](const PoseParameters& p) { return std::fabs(p.Hi) + 1; });
  ScratchFolder folder;
  const std::string notAFolder = folder.Write("file", "x");
  for (const std::string& path : {notAFolder + "/ZELV1.log", std::string("/dev/full")}) {
    Fixture f(cost);
    f.settings.EstimateLevel = 1;
    f.settings.KeepLog = true;
    f.logPath = path;
    double Al = 0, Bet = 0, Hi = 0.2, L = 100;
    EXPECT_THROW(Refine(Al, Bet, Hi, L, f.context), ZelvError) << path;
    EXPECT_EQ(Hi, 0.2);
  }
}

TEST(ComputationTimeLineTest, ElapsedTimeIsWrittenAsATimeOfDay) {
  EXPECT_EQ(ComputationTimeLine(std::chrono::seconds(3600 + 2 * 60 + 5)), "Время счета: 01:02:05");
  EXPECT_EQ(ComputationTimeLine(std::chrono::seconds(-5)), "Время счета: 00:00:00");
}

}  // namespace
}  // namespace zelv
