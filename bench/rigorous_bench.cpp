// Timing of the rigorous estimate at 256 control points, in process, beside the fast estimate's
// path on the same points: the fast estimate alone, the rigorous estimate given the fast pose as
// its start, and the whole rigorous level (the fast pose, then the rigorous estimate). The scene:
// a camera of focal length 1500 pixels about 10 units from a plane, tilted and turned, the points
// at random pixels of a 1920 × 1080 image with 0.5 pixels of noise.
#include <benchmark/benchmark.h>

#include <cmath>
#include <random>
#include <vector>

#include "solver/pose.h"
#include "solver/rigorous_estimate.h"

namespace zelv {
namespace {

constexpr double kFocalLength = 1500;

// `count` pairs of a tilted view (stand angles 0.35, −0.2, 0.6 rad, distance 10, sighting point
// (0.3, −0.2)); image points are random pixels of the frame, scene points their rays on the plane.
std::vector<ControlPoint> Scene(int count) {
  const StandPose pose{0.35, -0.2, 0.6, 10, 0.3, -0.2};
  const Rotation r = AnglesToRotation(pose.Al, pose.Bet, pose.Hi);
  std::mt19937 random(256);
  std::uniform_real_distribution<double> ux(-864, 864), uy(-486, 486);
  std::normal_distribution<double> noise(0, 0.5);
  std::vector<ControlPoint> points;
  while (static_cast<int>(points.size()) < count) {
    const double x = ux(random), y = uy(random);
    // The ray (x, y, −F) in camera axes, in the scene: x·eX + y·eY − F·eZ from the centre.
    const double dx = x * r.xX + y * r.xY - kFocalLength * r.xZ;
    const double dy = x * r.yX + y * r.yY - kFocalLength * r.yZ;
    const double dz = x * r.zX + y * r.zY - kFocalLength * r.zZ;
    const double cx = pose.Sx + r.xZ * pose.L, cy = pose.Sy + r.yZ * pose.L, cz = r.zZ * pose.L;
    if (!(dz < 0)) continue;
    const double t = -cz / dz;
    points.push_back({x + noise(random), y + noise(random), cx + t * dx, cy + t * dy});
  }
  return points;
}

// The fast estimate's pose of the pairs, from the point lists as the level computes it.
StandPose FastPose(const std::vector<ControlPoint>& points) {
  VT_Points image(1), scene(1);
  for (const ControlPoint& p : points) {
    image.Add(new VT_Point(p.x, p.y));
    scene.Add(new VT_Point(p.X, p.Y));
  }
  RefinementSettings settings;
  settings.EstimateLevel = 0;
  const PoseResult r = SolvePose(image, scene, kFocalLength, settings);
  return {r.Al, r.Bet, r.Hi, r.distance, r.sightingX, r.sightingY};
}

void BM_FastEstimate256(benchmark::State& s) {
  const std::vector<ControlPoint> points = Scene(256);
  for (auto _ : s) benchmark::DoNotOptimize(FastPose(points));
}
BENCHMARK(BM_FastEstimate256)->Unit(benchmark::kMicrosecond);

void BM_RigorousGivenStart256(benchmark::State& s) {
  const std::vector<ControlPoint> points = Scene(256);
  const StandPose start = FastPose(points);
  for (auto _ : s) benchmark::DoNotOptimize(RigorousEstimate(points, kFocalLength, start));
}
BENCHMARK(BM_RigorousGivenStart256)->Unit(benchmark::kMicrosecond);

void BM_RigorousLevel256(benchmark::State& s) {
  const std::vector<ControlPoint> points = Scene(256);
  for (auto _ : s)
    benchmark::DoNotOptimize(RigorousEstimate(points, kFocalLength, FastPose(points)));
}
BENCHMARK(BM_RigorousLevel256)->Unit(benchmark::kMicrosecond);

void BM_RigorousFocalLength256(benchmark::State& s) {
  const std::vector<ControlPoint> points = Scene(256);
  for (auto _ : s) benchmark::DoNotOptimize(RigorousEstimate(points, -1));
}
BENCHMARK(BM_RigorousFocalLength256)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace zelv
