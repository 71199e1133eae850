// Timing of the orientation through both refinement paths: the straightforward reference (the
// tests' oracle: every cost computed afresh from the point lists, one iteration after the other,
// the quadratic spread scan) and the shipped one. Each row runs the same work through both, and
// the end of the output lists the medians and their ratio. Scenes are generated: a known camera,
// control points on a grid of a planar target, image noise of up to ±0.3 pixels.
#include <benchmark/benchmark.h>
#include <time.h>
#include <unistd.h>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/orientation_session.h"
#include "app/orientation_state.h"
#include "files/text_file.h"
#include "oracle/refinement_oracle.h"
#include "orientation_shims.h"
#include "silent_ui.h"
#include "solver/pose.h"
#include "solver/refinement.h"
#include "solver/refinement_cost_kernel.h"

namespace zelv {
namespace {

// Counts the evaluations of a cost model (three at most per batch).
class CountingCost : public RefinementCostModel {
 public:
  explicit CountingCost(const RefinementCostModel& inner) : inner_(inner) {}
  double Cost(const PoseParameters& p) const override {
    evaluations.fetch_add(1, std::memory_order_relaxed);
    return inner_.Cost(p);
  }
  void Costs(const PoseParameters* p, int count, double* costs) const override {
    evaluations.fetch_add(count, std::memory_order_relaxed);
    inner_.Costs(p, count, costs);
  }
  void Evaluate(const CostQuery* queries, int count, double* costs) const override {
    evaluations.fetch_add(count, std::memory_order_relaxed);
    batches.fetch_add(1, std::memory_order_relaxed);
    inner_.Evaluate(queries, count, costs);
  }
  mutable std::atomic<long> batches{0};
  mutable std::atomic<long> evaluations{0};

 private:
  const RefinementCostModel& inner_;
};

// CPU time of the whole process, all threads (seconds): with other work on the machine the wall
// time of a threaded row says little on its own.
double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// CPU time of the calling thread (seconds).
double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

using bench::SilentUi;

struct Pair {
  double x, y, X, Y;  // corrected image pixels (origin at the image centre, y up); scene units
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

void FillState(OrientationRun& state, const std::vector<Pair>& pairs, int level) {
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

// The pose computation (fits, pose, refinement) at `level` on `points` generated points.
void PoseRow(benchmark::State& bench, bool oracle, int level, int points) {
  const std::vector<Pair> pairs = GenerateScene(points);
  OrientationRun state;
  SilentUi ui;
  long evaluations = 0, batches = 0;
  double cpu = 0;
  for (auto _ : bench) {
    bench.PauseTiming();
    FillState(state, pairs, level);
    const oracle::PlainCost plain(state.ImagePoints, state.ScenePoints, 1000);
    CountingCost counting(plain);
    PoseOptions options;
    // The shipped path counts around the cost it is given (the point arrays of the pose step).
    std::unique_ptr<CountingCost> shippedCounting;
    if (oracle) {
      options.cost = &counting;
      options.refine = [](double& a, double& b, double& c, double& d, RefinementContext& context) {
        oracle::Refine(a, b, c, d, context);
      };
    } else {
      options.refine = [&](double& a, double& b, double& c, double& d, RefinementContext& context) {
        shippedCounting = std::make_unique<CountingCost>(*context.cost);
        RefinementContext counted = context;
        counted.cost = shippedCounting.get();
        Refine(a, b, c, d, counted);
      };
    }
    bench.ResumeTiming();
    const double cpuStart = ProcessCpuSeconds();
    const bool shown = ComputePose(state, ui, options);
    cpu += ProcessCpuSeconds() - cpuStart;
    benchmark::DoNotOptimize(shown);
    evaluations += counting.evaluations.load();
    if (shippedCounting) {
      evaluations += shippedCounting->evaluations.load();
      batches += shippedCounting->batches.load();
    }
  }
  if (ui.failures != 0) bench.SkipWithError("the pose computation failed");
  bench.counters["all_threads_cpu_ms"] =
      benchmark::Counter(1000 * cpu, benchmark::Counter::kAvgIterations);
  // Evaluations of the cost, each over every point, and (shipped) the calls that asked for them
  // together.
  bench.counters["cost_evaluations"] =
      benchmark::Counter(static_cast<double>(evaluations), benchmark::Counter::kAvgIterations);
  bench.counters["point_evaluations"] = benchmark::Counter(
      static_cast<double>(evaluations) * points, benchmark::Counter::kAvgIterations);
  if (!oracle)
    bench.counters["evaluation_calls"] =
        benchmark::Counter(static_cast<double>(batches), benchmark::Counter::kAvgIterations);
}

// Camera file, a correction table of two bands and the two coordinate files of `points`
// generated points, in a temporary folder.
struct InputFiles {
  std::filesystem::path folder;
  explicit InputFiles(int points) {
    folder = std::filesystem::temp_directory_path() /
             ("zelv-bench-" + std::to_string(points) + "-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    const double cx = 320, cy = 240;  // a 640 × 480 image: the generated points spread enough
    SaveTextLines((folder / "camera.cam").string(),
                  {"320 ; image centre x", "240 ; image centre y", "table.txt ; correction table",
                   "1000 ; focal length", "640 ; image width", "480 ; image height",
                   "320 ; principal point x", "240 ; principal point y"});
    SaveTextLines((folder / "table.txt").string(),
                  {"1", "0 0 320 4000 X 0 1 - Y 0 1 - ; ", "0 0 100000 100000 X 0 1 - Y 0 1 - ; "});
    std::vector<std::string> image, scene;
    char line[128];
    for (const Pair& p : GenerateScene(points)) {
      std::snprintf(line, sizeof line, "%.6f ; %.6f", p.x + cx, cy - p.y);
      image.push_back(line);
      std::snprintf(line, sizeof line, "%.6f ; %.6f", p.X, p.Y);
      scene.push_back(line);
    }
    SaveTextLines((folder / "image.crd").string(), image);
    SaveTextLines((folder / "scene.crd").string(), scene);
  }
  ~InputFiles() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
};

// Reading the three files, the spread check and the fast estimate (level 0).
void ReadAndFastRow(benchmark::State& bench, bool oracle, int points) {
  const InputFiles files(points);
  SilentUi ui;
  for (auto _ : bench) {
    OrientationRun state;
    state.CameraFileName = (files.folder / "camera.cam").string();
    state.ImageFileName = (files.folder / "image.crd").string();
    state.SceneFileName = (files.folder / "scene.crd").string();
    state.StartDirectory = files.folder.string();
    state.DecimalSeparator = '.';
    state.Settings.EstimateLevel = 0;
    bool shown;
    if (oracle) {
      // The command's steps with the quadratic spread scan.
      shown = LoadInputs(state, ui);
      if (shown && !oracle::CheckPointSpread(state.ImagePoints, state.Geometry.ImageWidth,
                                             state.Geometry.ImageHeight))
        ++ui.failures;
      shown = shown && ComputePose(state, ui);
    } else {
      shown = RunOrientation(state, ui);
    }
    if (!shown) ++ui.failures;
  }
  if (ui.failures != 0) bench.SkipWithError("the orientation failed or warned");
}

// Keeps the medians (or the single run's time) of every benchmark, by name.
class MedianReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.error_occurred) continue;
      const bool aggregate = run.run_type == Run::RT_Aggregate;
      if (aggregate && run.aggregate_name != "median") continue;
      if (!aggregate && run.repetitions > 1) continue;
      medians[run.run_name.function_name] = run.GetAdjustedRealTime();
      const auto cpu = run.counters.find("all_threads_cpu_ms");
      const auto evaluations = run.counters.find("point_evaluations");
      if (cpu != run.counters.end()) cpuMedians[run.run_name.function_name] = cpu->second;
      if (evaluations != run.counters.end())
        pointEvaluations[run.run_name.function_name] = evaluations->second;
    }
    ConsoleReporter::ReportRuns(runs);
  }
  std::map<std::string, double> medians;     // wall, milliseconds
  std::map<std::string, double> cpuMedians;  // all threads' CPU, milliseconds
  std::map<std::string, double> pointEvaluations;
};

// Seconds this processor's divider needs for one IEEE double division, at the widest vector
// width the cost kernels use, with enough independent divisions to keep it busy: every
// point-evaluation needs two of them, which bounds what any exact evaluation can reach.
#if defined(__x86_64__) && !defined(ZELV_NO_VECTOR_KERNELS)
__attribute__((target("avx512f"))) double Divide512(long rounds) {
  __m512d a[8];
  const __m512d d = _mm512_set1_pd(1.0000001);
  for (int i = 0; i < 8; ++i) a[i] = _mm512_set1_pd(1e300 + i);
  for (long k = 0; k < rounds; ++k)
    for (int i = 0; i < 8; ++i) a[i] = _mm512_div_pd(a[i], d);
  double sum = 0;
  alignas(64) double lanes[8];
  for (int i = 0; i < 8; ++i) {
    _mm512_store_pd(lanes, a[i]);
    sum += lanes[0];
  }
  return sum;
}
__attribute__((target("avx2"))) double Divide256(long rounds) {
  __m256d a[8];
  const __m256d d = _mm256_set1_pd(1.0000001);
  for (int i = 0; i < 8; ++i) a[i] = _mm256_set1_pd(1e300 + i);
  for (long k = 0; k < rounds; ++k)
    for (int i = 0; i < 8; ++i) a[i] = _mm256_div_pd(a[i], d);
  double sum = 0;
  alignas(32) double lanes[4];
  for (int i = 0; i < 8; ++i) {
    _mm256_store_pd(lanes, a[i]);
    sum += lanes[0];
  }
  return sum;
}
#endif
double DivisionSeconds() {
  const long rounds = 4000000;
  double sink = 0;
  const double start = ThreadCpuSeconds();
  long divisions = 0;
#if defined(__x86_64__) && !defined(ZELV_NO_VECTOR_KERNELS)
  if (__builtin_cpu_supports("avx512f")) {
    sink = Divide512(rounds);
    divisions = rounds * 64;
  } else if (__builtin_cpu_supports("avx2")) {
    sink = Divide256(rounds);
    divisions = rounds * 32;
  }
#endif
  if (divisions == 0) {
    volatile double d = 1.0000001;
    double a[8];
    for (int i = 0; i < 8; ++i) a[i] = 1e300 + i;
    for (long k = 0; k < rounds; ++k)
      for (int i = 0; i < 8; ++i) a[i] = a[i] / d;
    for (double v : a) sink += v;
    divisions = rounds * 8;
  }
  benchmark::DoNotOptimize(sink);
  return (ThreadCpuSeconds() - start) / static_cast<double>(divisions);
}

// Seconds the FMA units need for the division work of one point-evaluation in the AVX-512
// kernel's FMA division (solver/fma_division.h): one reciprocal of D (vrcp14pd and three Newton
// steps, 7 operations) and the two quotients nx/D and ny/D (3 each), for one lane, measured like
// the divider: eight independent chains of whole vectors. 0 where there is no AVX-512.
double FmaPointEvaluationSeconds() {
  if (!Supports(CostInstructions::kAvx512)) return 0;
  const long rounds = 2000000;
  const double start = ThreadCpuSeconds();
  const double sink = RunDivisionWork(true, rounds);
  benchmark::DoNotOptimize(sink);
  return (ThreadCpuSeconds() - start) / static_cast<double>(rounds * 64);
}

struct Row {
  std::string name;
  int level;  // -1: read and fast estimate
  int points;
  int oracleRepetitions;  // 0: as the command line asks
};

}  // namespace
}  // namespace zelv

int main(int argc, char** argv) {
  using namespace zelv;
  const std::vector<Row> rows = {
      {"precise, 1000 points", 3, 1000, 3}, {"precise, 256 points", 3, 256, 0},
      {"precise, 8 points", 3, 8, 0},       {"normal, 1000 points", 1, 1000, 0},
      {"normal, 256 points", 1, 256, 0},    {"normal, 8 points", 1, 8, 0},
      {"fast, 1000 points", 0, 1000, 0},    {"read + fast, 100000 points", -1, 100000, 3},
  };
  for (const Row& row : rows) {
    for (const bool oracle : {true, false}) {
      const std::string name = std::string(oracle ? "oracle" : "shipped") + "/" + row.name;
      benchmark::internal::Benchmark* b =
          row.level < 0
              ? benchmark::RegisterBenchmark(name.c_str(), ReadAndFastRow, oracle, row.points)
              : benchmark::RegisterBenchmark(name.c_str(), PoseRow, oracle, row.level, row.points);
      b->Unit(benchmark::kMillisecond)->UseRealTime();
      if (row.level == 3 || row.level < 0) b->Iterations(1);
      if (oracle && row.oracleRepetitions > 0) b->Repetitions(row.oracleRepetitions);
    }
  }
  benchmark::Initialize(&argc, argv);
  MedianReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();

  // The floors: two divisions for every point-evaluation the shipped path makes, at the
  // divider's rate, and (with AVX-512) the FMA division's work for each, at the FMA units' rate;
  // on one core (CPU) and spread over every core (wall; the precise estimate's thirty iterations
  // can use up to thirty).
  const double division = DivisionSeconds();
  const double fmaEvaluation = FmaPointEvaluationSeconds();
  const double cores = std::max(1u, std::thread::hardware_concurrency());
  std::printf("\none division: %.4f ns CPU; divider floor = point-evaluations x 2 divisions\n",
              1e9 * division);
  if (fmaEvaluation > 0)
    std::printf(
        "FMA division of one point-evaluation (1 reciprocal + 2 quotients): %.4f ns CPU;"
        " FMA floor = point-evaluations x that\n",
        1e9 * fmaEvaluation);
  const CostInstructions kernel = BestCostInstructions();
  std::printf("the shipped kernel divides with %s\n",
              kernel == CostInstructions::kAvx512Fma ? "the FMA units (AVX-512)"
              : kernel == CostInstructions::kAvx512  ? "vdivpd (AVX-512)"
              : kernel == CostInstructions::kAvx2    ? "vdivpd (AVX2)"
                                                     : "scalar divisions");
  std::printf("%-28s %10s %10s %9s %10s %9s %10s %9s\n", "shipped", "CPU ms", "floor CPU",
              "CPU/floor", "FMA floor", "CPU/FMA", "wall ms", "wall/floor");
  for (const Row& row : rows) {
    const std::string name = "shipped/" + row.name;
    const auto cpu = reporter.cpuMedians.find(name);
    const auto evaluations = reporter.pointEvaluations.find(name);
    const auto wall = reporter.medians.find(name);
    if (cpu == reporter.cpuMedians.end() || evaluations == reporter.pointEvaluations.end() ||
        wall == reporter.medians.end())
      continue;
    const double floor = 1000 * evaluations->second * 2 * division;
    const double fmaFloor = 1000 * evaluations->second * fmaEvaluation;
    // The fast level makes no cost evaluations: it has no floor to compare with.
    if (!(floor > 0)) {
      std::printf("%-28s %10.2f %10s %9s %10s %9s %10.2f %9s\n", row.name.c_str(), cpu->second, "-",
                  "-", "-", "-", wall->second, "-");
      continue;
    }
    char fma[2][16] = {"-", "-"};
    if (fmaFloor > 0) {
      std::snprintf(fma[0], sizeof fma[0], "%.2f", fmaFloor);
      std::snprintf(fma[1], sizeof fma[1], "%.2f", cpu->second / fmaFloor);
    }
    std::printf("%-28s %10.2f %10.2f %9.2f %10s %9s %10.2f %9.2f\n", row.name.c_str(), cpu->second,
                floor, cpu->second / floor, fma[0], fma[1], wall->second,
                wall->second / (floor / std::min(cores, row.level == 3 ? 30.0 : 1.0)));
  }

  std::printf("\n%-28s %14s %14s %8s\n", "median wall time", "oracle ms", "shipped ms", "ratio");
  for (const Row& row : rows) {
    const auto o = reporter.medians.find("oracle/" + row.name);
    const auto s = reporter.medians.find("shipped/" + row.name);
    if (o == reporter.medians.end() || s == reporter.medians.end()) continue;
    std::printf("%-28s %14.2f %14.2f %8.2f\n", row.name.c_str(), o->second, s->second,
                s->second > 0 ? o->second / s->second : 0.0);
  }
  return 0;
}
