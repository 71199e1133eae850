// Timing of coded-target detection on a 12-megapixel photograph (4000 x 3000): each kind of
// board rendered once with a known pose (tests/targets/target_render.h), then found again and
// again. The aim is under a second per photograph.
#include <benchmark/benchmark.h>

#include <map>

#include "targets/target_render.h"

namespace {

using namespace zelv;

TargetDescription BenchBoard(TargetKind kind) {
  TargetDescription t;
  t.kind = kind;
  t.rows = 7;
  t.columns = 10;
  t.squareSize = 30;
  t.markerSize = 21;
  t.spacing = 7;
  t.dictionary = kind == TargetKind::kAprilTagGrid ? "tag36h11" : "DICT_5X5_100";
  if (kind == TargetKind::kAprilTagGrid) t.rows = 5, t.columns = 7, t.markerSize = 25;
  if (kind == TargetKind::kSquares) t.squareSize = 20, t.spacing = 15;
  return t;
}

const GreyImage& Photograph(TargetKind kind) {
  static std::map<TargetKind, GreyImage> photographs;
  auto found = photographs.find(kind);
  if (found == photographs.end()) {
    test::RenderOptions o;
    o.width = 4000;
    o.height = 3000;
    o.supersampling = 2;
    found = photographs.emplace(kind, test::RenderTarget(BenchBoard(kind), o, 8).image).first;
  }
  return found->second;
}

void TargetDetection12Mp(benchmark::State& state) {
  const TargetKind kind = static_cast<TargetKind>(state.range(0));
  const TargetDescription target = BenchBoard(kind);
  const GreyImage& image = Photograph(kind);
  std::size_t corners = 0;
  for (auto _ : state) {
    const Expected<TargetDetection> detection = DetectTarget(image, target);
    corners = detection ? detection->corners.size() : 0;
    benchmark::DoNotOptimize(corners);
  }
  state.SetLabel(std::string(TargetKindName(kind)) + ", " + std::to_string(corners) + " corners");
}
BENCHMARK(TargetDetection12Mp)
    ->Arg(static_cast<int>(TargetKind::kChessboard))
    ->Arg(static_cast<int>(TargetKind::kCharuco))
    ->Arg(static_cast<int>(TargetKind::kAprilTagGrid))
    ->Arg(static_cast<int>(TargetKind::kSquares))
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3);

}  // namespace
