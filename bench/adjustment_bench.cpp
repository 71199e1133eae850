// Timing of the single-photo adjustment at 256 points: a plain planar scene (the rigorous estimate
// with its covariance, to compare with BM_RigorousFocalLength256 and the levels of
// rigorous_bench.cpp), and a scene in space spread in depth by 30 % of the distance, the focal
// length given and estimated. The camera of focal length 1500 pixels, the points at random pixels
// of a 1920 × 1080 image with 0.5 pixels of noise.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "solver/adjustment.h"
#include "solver/rigorous_model.h"

namespace zelv {
namespace {

constexpr double kFocalLength = 1500;

// `count` points of a tilted view 10 units away, along their rays at 1 ± spread/2 of the
// distance (spread 0: on the plane Z = 0).
std::vector<AdjustmentPoint> Scene(int count, double spread) {
  const rigorous::Model m =
      rigorous::ModelOf(StandPose{0.35, -0.2, 0.6, 10, 0.3, -0.2}, kFocalLength);
  std::mt19937 random(256);
  std::uniform_real_distribution<double> ux(-864, 864), uy(-486, 486), unit(-0.5, 0.5);
  std::normal_distribution<double> noise(0, 0.5);
  std::vector<AdjustmentPoint> points;
  while (static_cast<int>(points.size()) < count) {
    const double u = ux(random), v = uy(random);
    const Eigen::Vector3d ray = m.R.transpose() * Eigen::Vector3d(u, v, kFocalLength);
    if (!(ray(2) < 0)) continue;
    const double toPlane = -m.C(2) / ray(2);
    const double t = spread > 0 ? 10 * (1 + spread * unit(random)) / kFocalLength : toPlane;
    const Eigen::Vector3d P = m.C + t * ray;
    AdjustmentPoint p;
    p.X = P(0);
    p.Y = P(1);
    p.Z = spread > 0 ? P(2) : 0;
    p.x = u + noise(random);
    p.y = -v + noise(random);
    points.push_back(p);
  }
  return points;
}

void BM_AdjustmentPlanar256(benchmark::State& s) {
  const std::vector<AdjustmentPoint> points = Scene(256, 0);
  for (auto _ : s) benchmark::DoNotOptimize(Adjust(points, -1));
}
BENCHMARK(BM_AdjustmentPlanar256)->Unit(benchmark::kMicrosecond);

void BM_AdjustmentInSpace256(benchmark::State& s) {
  const std::vector<AdjustmentPoint> points = Scene(256, 0.3);
  for (auto _ : s) benchmark::DoNotOptimize(Adjust(points, kFocalLength));
}
BENCHMARK(BM_AdjustmentInSpace256)->Unit(benchmark::kMicrosecond);

void BM_AdjustmentInSpaceFocalLength256(benchmark::State& s) {
  const std::vector<AdjustmentPoint> points = Scene(256, 0.3);
  for (auto _ : s) benchmark::DoNotOptimize(Adjust(points, -1));
}
BENCHMARK(BM_AdjustmentInSpaceFocalLength256)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zelv
