// The residuals of an orientation: exact fits, a misplaced control point, the cost they add up
// to, their summary and flags, their texts, and zelv-cli orient --residuals as a process.
#include "solver/residuals.h"

#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "app/orientation_residuals.h"
#include "app/orientation_session.h"
#include "base/zelv_error.h"
#include "cli_runner.h"
#include "fake_ui.h"
#include "files/text_file.h"
#include "orientation_shims.h"
#include "scratch_folder.h"
#include "solver/refinement.h"
#include "solver_test_points.h"

namespace zelv {
namespace {

namespace fs = std::filesystem;
using testing::ScratchFolder;

std::string CaseFolder(const std::string& name) {
  return std::string(ZELV_TEST_DATA_DIR) + "/golden/" + name;
}

// Runs the orientation of the three files in `folder` at `level` on `state`; the result must be
// shown.
void Orient(OrientationRun& state, const std::string& folder, int level, double sigmaCount = 3.0) {
  state.CameraFileName = folder + "/camera.cam";
  state.ImageFileName = folder + "/image.crd";
  state.SceneFileName = folder + "/scene.crd";
  state.DecimalSeparator = '.';
  state.SigmaCount = sigmaCount;
  state.Settings.EstimateLevel = level;
  testing::FakeUi ui;
  EXPECT_TRUE(RunOrientation(state, ui)) << folder << " level " << level;
}

// The residuals of that orientation.
Residuals OrientedResiduals(const std::string& folder, int level, double sigmaCount = 3.0) {
  OrientationRun state;
  Orient(state, folder, level, sigmaCount);
  return ResidualsOf(state);
}

// A copy of a worked case whose image point on line `number` is moved `dx` raw pixels right.
std::string CopyWithMovedPoint(const ScratchFolder& scratch, const std::string& caseName,
                               int number, double dx) {
  const fs::path to = scratch.Folder() / caseName;
  fs::copy(CaseFolder(caseName), to);
  std::vector<std::string> lines = LoadTextLines((to / "image.crd").string());
  std::string& line = lines.at(static_cast<std::size_t>(number - 1));
  const std::size_t semicolon = line.find(';');
  line =
      std::to_string(std::stod(line.substr(0, semicolon)) + dx) + " ;" + line.substr(semicolon + 1);
  SaveTextLines((to / "image.crd").string(), lines);
  return to.string();
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

TEST(ResidualsTest, TheSquareIsFittedExactlyAtEveryLevelAndNothingIsFlagged) {
  for (int level : {0, 1, 3}) {
    const Residuals r = OrientedResiduals(CaseFolder("square"), level);
    ASSERT_EQ(r.points.size(), 4u);
    for (const PointResidual& p : r.points) {
      if (level == 0) {
        EXPECT_EQ(p.ex, 0.0);
        EXPECT_EQ(p.ey, 0.0);
      }
      // The refinement stops a hair from the exact pose: only rounding noise is left.
      EXPECT_LT(p.length, 1e-9) << "level " << level << " point " << p.number;
      EXPECT_FALSE(p.flagged);
    }
    EXPECT_EQ(r.summary.flaggedCount, 0);
    EXPECT_EQ(r.points[0].number, 1);
    EXPECT_EQ(r.points[3].number, 4);
    // Scene points are reported as read, not moved to the sighting point.
    EXPECT_DOUBLE_EQ(r.points[2].X, 1200);
    EXPECT_DOUBLE_EQ(r.points[2].Y, 700);
    EXPECT_DOUBLE_EQ(r.points[2].x, 100);
    EXPECT_DOUBLE_EQ(r.points[2].y, 100);
  }
}

// The refinement minimises absolute errors and so leaves a misplaced point standing out; the
// least-squares pose of the fast estimate spreads its error over its neighbours, which with only
// eight points keeps it within 3σ (synthetic1), with nine not (synthetic3).
TEST(ResidualsTest, AnImagePointMovedBy40PixelsIsTheOnlyOneFlagged) {
  ScratchFolder scratch;
  struct Case {
    const char* name;
    std::vector<int> levels;
  };
  for (const Case& c : {Case{"synthetic1", {1, 3}}, Case{"synthetic3", {0, 1, 3}}}) {
    const std::string folder = CopyWithMovedPoint(scratch, c.name, 4, 40);
    for (int level : c.levels) {
      const Residuals r = OrientedResiduals(folder, level);
      ASSERT_GE(r.points.size(), 8u);
      for (const PointResidual& p : r.points)
        EXPECT_EQ(p.flagged, p.number == 4)
            << c.name << " level " << level << " point " << p.number;
      EXPECT_EQ(r.summary.flaggedCount, 1);
      EXPECT_EQ(r.summary.largestNumber, 4);
      EXPECT_GT(r.summary.largest, 20.0);
    }
    // The unmoved case flags nothing: its residuals are measuring noise.
    EXPECT_EQ(OrientedResiduals(CaseFolder(c.name), 1).summary.flaggedCount, 0) << c.name;
    // A large SigmaCount lets the moved point pass.
    EXPECT_EQ(OrientedResiduals(folder, 1, 100).summary.flaggedCount, 0) << c.name;
  }
}

TEST(ResidualsTest, TheirAbsoluteSumIsTheReportedCostToTheLastBit) {
  ScratchFolder scratch;
  const std::string moved = CopyWithMovedPoint(scratch, "synthetic2", 2, 40);
  for (const std::string& folder : {CaseFolder("synthetic1"), CaseFolder("synthetic3"), moved}) {
    for (int level : {0, 1, 3}) {
      OrientationRun state;
      Orient(state, folder, level);
      ASSERT_TRUE(state.Values.costKnown);
      const Residuals r = ResidualsOf(state);
      EXPECT_TRUE(SameBits(r.summary.cost, state.Values.cost))
          << folder << " level " << level << ": " << r.summary.cost << " vs " << state.Values.cost;
      double sum = 0;
      for (const PointResidual& p : r.points) sum = sum + (std::fabs(p.ex) + std::fabs(p.ey));
      EXPECT_TRUE(SameBits(sum, state.Values.cost));
    }
  }
}

// With all angles 0, F = 1 and L = 1 the projection of (X, Y) is (X, Y), so each residual is
// simply the image point minus the scene point.
TEST(ResidualsTest, SigmaLargestAndFlagsFollowTheirDefinitions) {
  auto image = testing::MakePoints({{1, 0}, {0, -1}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {9, 3}});
  auto scene = testing::MakePoints({{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}});
  const Residuals r = ComputeResiduals(*image, *scene, 0, 0, 0, 1, 1, 10, 20, 2);
  ASSERT_EQ(r.points.size(), 7u);
  EXPECT_EQ(r.points[0].ex, 1);
  EXPECT_EQ(r.points[1].ey, -1);
  EXPECT_EQ(r.points[6].length, std::sqrt(90.0));
  EXPECT_EQ(r.points[6].X, 10);  // the sighting point is added back
  EXPECT_EQ(r.points[6].Y, 20);
  EXPECT_EQ(r.summary.cost, 1 + 1 + 12);
  EXPECT_EQ(r.summary.sigma, std::sqrt((1.0 + 1.0 + 90.0) / 14.0));  // about 2.56
  EXPECT_EQ(r.summary.largest, std::sqrt(90.0));
  EXPECT_EQ(r.summary.largestNumber, 7);
  EXPECT_EQ(r.summary.sigmaCount, 2);
  // 2σ is about 5.13: only |ex| = 9 lies beyond it.
  EXPECT_EQ(r.summary.flaggedCount, 1);
  EXPECT_TRUE(r.points[6].flagged);
  EXPECT_FALSE(r.points[0].flagged);

  // At 0.3σ (about 0.77) the unit residuals are flagged too, the exact zeros never.
  const Residuals tight = ComputeResiduals(*image, *scene, 0, 0, 0, 1, 1, 0, 0, 0.3);
  EXPECT_EQ(tight.summary.flaggedCount, 3);
  EXPECT_FALSE(tight.points[2].flagged);

  // Of equal residuals the first point is the largest; no points give an empty summary.
  auto two = testing::MakePoints({{0, 0}, {0, 0}});
  const Residuals zero = ComputeResiduals(*two, *two, 0, 0, 0, 1, 1, 0, 0, 0);
  EXPECT_EQ(zero.summary.largestNumber, 1);
  EXPECT_EQ(zero.summary.flaggedCount, 0);
  VT_Points none(1);
  const Residuals empty = ComputeResiduals(none, none, 0, 0, 0, 1, 1, 0, 0, 3);
  EXPECT_TRUE(empty.points.empty());
  EXPECT_EQ(empty.summary.sigma, 0);
  EXPECT_EQ(empty.summary.largestNumber, 0);
}

TEST(ResidualsTest, NoResultOrAPointAtInfinityRaisesInsteadOfGivingNumbers) {
  OrientationRun state;
  EXPECT_THROW(ResidualsOf(state), ZelvError);

  // L = 0 and a scene point at the sighting point: the denominator is 0.
  auto image = testing::MakePoints({{1, 1}});
  auto scene = testing::MakePoints({{0, 0}});
  EXPECT_THROW(ComputeResiduals(*image, *scene, 0, 0, 0, 1000, 0, 0, 0, 3), ZelvError);
  auto huge = testing::MakePoints({{1e300, 1e300}});
  EXPECT_THROW(ComputeResiduals(*huge, *scene, 0, 0, 0, 1, 1, 0, 0, 3), ZelvError);

  // A cleared result (a new file chosen) leaves nothing to take residuals of.
  OrientationRun cleared;
  Orient(cleared, CaseFolder("square"), 0);
  EXPECT_NO_THROW(ResidualsOf(cleared));
  ClearResults(cleared);
  EXPECT_THROW(ResidualsOf(cleared), ZelvError);
}

TEST(ResidualsTest, TheResidualsAndTheCostRefuseTheSameOverflowingDenominator) {
  // sa·X + L overflows while every other term stays finite: both must raise, neither may give a
  // number (the residuals once divided by the infinite denominator and reported 0).
  auto image = testing::MakePoints({{1, 1}});
  auto scene = testing::MakePoints({{1e308, 0}});
  const double Al = 1.2, L = 1.5e308;
  EXPECT_THROW(RefinementCost(*image, *scene, Al, 0, 0, 1, L), ZelvError);
  EXPECT_THROW(ComputeResiduals(*image, *scene, Al, 0, 0, 1, L, 0, 0, 3), ZelvError);
}

TEST(ResidualsTest, TableSummaryAndCsvTexts) {
  auto image = testing::MakePoints({{1.5, -2}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {40, 0}});
  auto scene = testing::MakePoints({{0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}, {0, 0}});
  const Residuals r = ComputeResiduals(*image, *scene, 0, 0, 0, 1, 1, 100, -0.25, 2);

  EXPECT_EQ(
      ResidualCsvLines(r, ','),
      (std::vector<std::string>{"N;x;y;X;Y;ex;ey;|e|;flag",
                                "1;1,5000;-2,0000;100,0000;-0,2500;1,5000;-2,0000;2,5000;",
                                "2;0,0000;0,0000;100,0000;-0,2500;0,0000;0,0000;0,0000;",
                                "3;0,0000;0,0000;100,0000;-0,2500;0,0000;0,0000;0,0000;",
                                "4;0,0000;0,0000;100,0000;-0,2500;0,0000;0,0000;0,0000;",
                                "5;0,0000;0,0000;100,0000;-0,2500;0,0000;0,0000;0,0000;",
                                "6;40,0000;0,0000;100,0000;-0,2500;40,0000;0,0000;40,0000;!"}));

  EXPECT_EQ(ResidualSummaryText(r, '.'),
            "Сумма |ex| + |ey|: 43.5000 пикс.   σ: 11.5695 пикс.   Наибольшая |e|: 40.0000 пикс. "
            "(точка 6)   Отмечено точек: 1 (за 2σ)");

  const std::vector<std::string> table = ResidualTableLines(r, '.');
  ASSERT_EQ(table.size(), 1u + 6u + 4u);
  EXPECT_EQ(table[0],
            "    N           x           y             X             Y         ex         ey"
            "        |e| flag");
  EXPECT_EQ(table[1],
            "    1      1.5000     -2.0000      100.0000       -0.2500     1.5000    -2.0000"
            "     2.5000");
  EXPECT_EQ(table[6],
            "    6     40.0000      0.0000      100.0000       -0.2500    40.0000     0.0000"
            "    40.0000    !");
  EXPECT_EQ(table[7], "Residual cost: 43.5000");
  EXPECT_EQ(table[8], "Residual sigma: 11.5695");
  EXPECT_EQ(table[9], "Largest residual: 40.0000 (point 6)");
  EXPECT_EQ(table[10], "Flagged points: 1 (beyond 2 sigma)");
}

// ---------------------------------------------------------------- zelv-cli orient --residuals

using testing::CliRun;
using testing::Quote;
using testing::RunOrient;

std::string Inputs(const std::string& folder) {
  return Quote(folder + "/camera.cam") + " " + Quote(folder + "/image.crd") + " " +
         Quote(folder + "/scene.crd");
}

TEST(OrientResidualsCommandTest, PrintsTheTableAfterTheValues) {
  const CliRun run = RunOrient(Inputs(CaseFolder("square")) + " --residuals --decimal-separator ,");
  EXPECT_EQ(run.exitCode, 0) << run.err;
  const std::size_t table = run.out.find("Cosine zZ: 1,0000\n\n");
  ASSERT_NE(table, std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(table + std::strlen("Cosine zZ: 1,0000\n\n")),
            "    N           x           y             X             Y         ex         ey"
            "        |e| flag\n"
            "    1   -100,0000   -100,0000      800,0000      300,0000     0,0000     0,0000"
            "     0,0000\n"
            "    2    100,0000   -100,0000     1200,0000      300,0000     0,0000     0,0000"
            "     0,0000\n"
            "    3    100,0000    100,0000     1200,0000      700,0000     0,0000     0,0000"
            "     0,0000\n"
            "    4   -100,0000    100,0000      800,0000      700,0000     0,0000     0,0000"
            "     0,0000\n"
            "Residual cost: 0,0000\n"
            "Residual sigma: 0,0000\n"
            "Largest residual: 0,0000 (point 1)\n"
            "Flagged points: 0 (beyond 3 sigma)\n");
  // Without the option the output ends with the 21 values.
  const CliRun plain = RunOrient(Inputs(CaseFolder("square")));
  EXPECT_EQ(plain.out.find("Residual"), std::string::npos);
}

TEST(OrientResidualsCommandTest, JsonHoldsTheResidualsAndTheSummary) {
  const CliRun square = RunOrient("--json --residuals " + Inputs(CaseFolder("square")));
  EXPECT_EQ(square.exitCode, 0);
  const std::string tail =
      "  \"cost\": 0,\n"
      "  \"residuals\": [\n"
      "    {\"number\": 1, \"x\": -100, \"y\": -100, \"X\": 800, \"Y\": 300, \"ex\": 0, \"ey\": "
      "0, \"length\": 0, \"flagged\": false},\n"
      "    {\"number\": 2, \"x\": 100, \"y\": -100, \"X\": 1200, \"Y\": 300, \"ex\": 0, \"ey\": "
      "0, \"length\": 0, \"flagged\": false},\n"
      "    {\"number\": 3, \"x\": 100, \"y\": 100, \"X\": 1200, \"Y\": 700, \"ex\": 0, \"ey\": 0, "
      "\"length\": 0, \"flagged\": false},\n"
      "    {\"number\": 4, \"x\": -100, \"y\": 100, \"X\": 800, \"Y\": 700, \"ex\": 0, \"ey\": 0, "
      "\"length\": 0, \"flagged\": false}\n"
      "  ],\n"
      "  \"residual_summary\": {\"cost\": 0, \"sigma\": 0, \"largest\": 0, \"largest_number\": 1, "
      "\"flagged_count\": 0, \"sigma_count\": 3}\n"
      "}\n";
  ASSERT_GE(square.out.size(), tail.size());
  EXPECT_EQ(square.out.substr(square.out.size() - tail.size()), tail) << square.out;

  ScratchFolder scratch;
  const std::string moved = CopyWithMovedPoint(scratch, "synthetic1", 4, 40);
  const CliRun run = RunOrient("--json --residuals --level 1 --sigma-count 2.5 " + Inputs(moved));
  EXPECT_EQ(run.exitCode, 0) << run.err;
  EXPECT_NE(run.out.find("\"number\": 4, "), std::string::npos);
  EXPECT_NE(run.out.find("\"largest_number\": 4, \"flagged_count\": 1, \"sigma_count\": 2.5}"),
            std::string::npos)
      << run.out;
}

TEST(OrientResidualsCommandTest, ASigmaCountThatIsNoNumberOfZeroOrMoreIsAUsageError) {
  for (const char* bad : {"-1", "x", "1,5", ""}) {
    const CliRun run =
        RunOrient(Inputs(CaseFolder("square")) + " --residuals --sigma-count " + Quote(bad));
    EXPECT_EQ(run.exitCode, 2) << bad;
    EXPECT_EQ(run.err.rfind("zelv-cli orient: --sigma-count needs a number of 0 or more\n", 0), 0u)
        << run.err;
  }
  EXPECT_EQ(RunOrient(Inputs(CaseFolder("square")) + " --sigma-count").exitCode, 2);
}

}  // namespace
}  // namespace zelv
