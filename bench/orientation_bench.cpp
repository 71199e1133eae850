// Timing of the whole pose computation (fits, pose, refinement) at the three estimate levels on
// generated planar scenes: a known camera, control points on a grid, image noise of up to
// ±0.3 pixels. Reports the number of refinement cost evaluations per run.
#include <benchmark/benchmark.h>

#include <atomic>
#include <cmath>
#include <random>
#include <vector>

#include "app/orientation_state.h"
#include "solver/pose.h"
#include "solver/refinement.h"

namespace zelv {
namespace {

// Counts the evaluations of the straightforward cost.
class CountingCost : public RefinementCostModel {
 public:
  explicit CountingCost(const RefinementCostModel& inner) : inner_(inner) {}
  double Cost(const PoseParameters& p) const override {
    evaluations.fetch_add(1, std::memory_order_relaxed);
    return inner_.Cost(p);
  }
  mutable std::atomic<long> evaluations{0};

 private:
  const RefinementCostModel& inner_;
};

// A user interface that shows nothing.
class SilentUi : public UserInterface {
 public:
  void ShowMessage(const std::string&, const std::string&, MessageIcon, Owner) override {
    ++messages;
  }
  bool AskYesNo(const std::string&, const std::string&, Owner) override { return false; }
  std::optional<std::string> ChooseOpenFile(const FileDialogRequest&) override { return {}; }
  std::optional<std::string> ChooseSaveFile(const FileDialogRequest&) override { return {}; }
  void SetStatusText(const std::string&) override {}
  void SetBusy(bool) override {}
  int messages = 0;
};

struct Pair {
  double x, y, X, Y;  // corrected image pixels; scene units
};

// `count` control points of a planar target of about 1000 × 1000 scene units seen from about
// 2000 units by a camera of focal length 1000 pixels, tilted and turned.
std::vector<Pair> GenerateScene(int count) {
  const double F = 1000, L = 2000, Al = 0.2, Bet = -0.12, Hi = 0.3;
  const double sightingX = 150, sightingY = -80;  // where the optical axis meets the plane
  const Rotation r = AnglesToRotation(Al, Bet, Hi);
  std::mt19937 random(12345);
  std::uniform_real_distribution<double> noise(-0.3, 0.3);
  const int side = static_cast<int>(std::ceil(std::sqrt(count)));
  std::vector<Pair> pairs;
  for (int i = 0; static_cast<int>(pairs.size()) < count; ++i) {
    const double X = -500 + 1000.0 * (i % side) / (side - 1);
    const double Y = -500 + 1000.0 * (i / side) / (side - 1);
    const double D = L - r.xZ * X - r.yZ * Y;
    const double x = F * (r.xX * X + r.yX * Y) / D + noise(random);
    const double y = F * (r.xY * X + r.yY * Y) / D + noise(random);
    pairs.push_back({x, y, X + sightingX, Y + sightingY});
  }
  return pairs;
}

void FillState(OrientationState& state, const std::vector<Pair>& pairs, int level) {
  state.ImagePoints.Clear();
  state.ScenePoints.Clear();
  for (const Pair& p : pairs) {
    state.ImagePoints.Add(new VT_Point(p.x, p.y));
    state.ScenePoints.Add(new VT_Point(p.X, p.Y));
  }
  state.Geometry.FocalLength = 1000;
  state.Geometry.ImageWidth = 1280;
  state.Geometry.ImageHeight = 960;
  state.DecimalSeparator = '.';
  state.Settings = RefinementSettings{};
  state.Settings.EstimateLevel = level;
}

void BM_ComputePose(benchmark::State& bench) {
  const int level = static_cast<int>(bench.range(0));
  const std::vector<Pair> pairs = GenerateScene(static_cast<int>(bench.range(1)));
  OrientationState state;
  SilentUi ui;
  long evaluations = 0;
  for (auto _ : bench) {
    bench.PauseTiming();
    FillState(state, pairs, level);
    PointListCost plain(state.ImagePoints, state.ScenePoints, state.Geometry.FocalLength);
    CountingCost counting(plain);
    PoseOptions options;
    options.cost = &counting;
    bench.ResumeTiming();
    const bool shown = ComputePose(state, ui, options);
    benchmark::DoNotOptimize(shown);
    evaluations += counting.evaluations.load();
  }
  if (ui.messages != 0) bench.SkipWithError("the pose computation failed");
  bench.counters["cost_evaluations"] =
      benchmark::Counter(static_cast<double>(evaluations), benchmark::Counter::kAvgIterations);
}

BENCHMARK(BM_ComputePose)
    ->ArgNames({"level", "points"})
    ->ArgsProduct({{0, 1}, {8, 256, 1000}})
    ->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComputePose)
    ->ArgNames({"level", "points"})
    ->ArgsProduct({{3}, {8, 256, 1000}})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace
}  // namespace zelv

BENCHMARK_MAIN();
