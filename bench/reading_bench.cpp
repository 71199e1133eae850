// Timing of reading at scale: the three input files of a million points (LoadInputs), and the
// whole command at the fast level (reading, the spread check, the fits and the pose). The files
// are generated once, in a temporary folder: a known camera looking at a planar target of a
// thousand by a thousand points. Run alone with --benchmark_filter=reading; each row reports
// wall time, the CPU time of all threads and the process's peak resident memory during the row
// ("peak_MB": the high-water mark is reset before the row, where Linux allows it).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/orientation_session.h"
#include "app/orientation_state.h"
#include "base/user_interface.h"
#include "orientation_shims.h"
#include "silent_ui.h"

namespace zelv::reading_bench {
namespace {

using bench::SilentUi;

void WriteFile(const std::filesystem::path& path, const std::string& text) {
  if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
    std::fwrite(text.data(), 1, text.size(), f);
    std::fclose(f);
  }
}

// A 640 × 480 camera of focal length 1000 pixels, about 2000 units from a target of 1000 × 1000
// units, tilted and turned (a rotation about x, then y, then z); image points with a sixth
// decimal, as a measuring program writes them.
struct Inputs {
  std::filesystem::path folder;
  explicit Inputs(int side) {
    folder = std::filesystem::temp_directory_path() /
             ("zelv-reading-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    WriteFile(folder / "camera.cam",
              "320 ; x\r\n240 ; y\r\ntable.txt ; t\r\n1000 ; f\r\n640 ; w\r\n480 ; h\r\n");
    WriteFile(folder / "table.txt",
              "1\r\n0 0 320 4000 X 0 1 - Y 0 1 - ; \r\n0 0 100000 100000 X 0 1 - Y 0 1 - ; \r\n");
    const double a = 0.2, b = -0.12, c = 0.3;
    const double ca = std::cos(a), sa = std::sin(a), cb = std::cos(b), sb = std::sin(b),
                 cc = std::cos(c), sc = std::sin(c);
    // Rz(c) · Ry(b) · Rx(a), rows are the camera axes in scene coordinates.
    const double r[3][3] = {{cc * cb, cc * sb * sa - sc * ca, cc * sb * ca + sc * sa},
                            {sc * cb, sc * sb * sa + cc * ca, sc * sb * ca - cc * sa},
                            {-sb, cb * sa, cb * ca}};
    std::string image, scene;
    image.reserve(static_cast<std::size_t>(side) * side * 26);
    scene.reserve(static_cast<std::size_t>(side) * side * 26);
    char line[96];
    for (int i = 0; i < side * side; ++i) {
      const double X = -500 + 1000.0 * (i % side) / (side - 1);
      const double Y = -500 + 1000.0 * (i / side) / (side - 1);
      const double D = 2000 - r[2][0] * X - r[2][1] * Y;
      const double x = 1000 * (r[0][0] * X + r[0][1] * Y) / D;
      const double y = 1000 * (r[1][0] * X + r[1][1] * Y) / D;
      std::snprintf(line, sizeof line, "%.6f ; %.6f\r\n", x + 320, 240 - y);
      image += line;
      std::snprintf(line, sizeof line, "%.4f ; %.4f\r\n", X + 150, Y - 80);
      scene += line;
    }
    WriteFile(folder / "image.crd", image);
    WriteFile(folder / "scene.crd", scene);
  }
  ~Inputs() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
  void Name(OrientationRun& state) const {
    state.CameraFileName = (folder / "camera.cam").string();
    state.ImageFileName = (folder / "image.crd").string();
    state.SceneFileName = (folder / "scene.crd").string();
    state.StartDirectory = folder.string();
    state.DecimalSeparator = '.';
    state.Settings.EstimateLevel = 0;
  }
};

// The process's peak resident memory in megabytes (VmHWM), 0 where it cannot be read.
double PeakResidentMegabytes() {
  std::ifstream status("/proc/self/status");
  std::string key;
  while (status >> key) {
    if (key == "VmHWM:") {
      double kilobytes = 0;
      status >> kilobytes;
      return kilobytes / 1024;
    }
    status.ignore(4096, '\n');
  }
  return 0;
}

// Lowers the high-water mark to the memory in use now.
void ResetPeakResidentMemory() { std::ofstream("/proc/self/clear_refs") << "5"; }

const Inputs& MillionPoints() {
  static const Inputs inputs(1000);
  return inputs;
}

void ReadInputs(benchmark::State& bench) {
  const Inputs& inputs = MillionPoints();
  SilentUi ui;
  ResetPeakResidentMemory();
  for (auto _ : bench) {
    OrientationRun state;
    inputs.Name(state);
    if (!LoadInputs(state, ui) || state.ImagePoints.Count() != 1000000) ++ui.failures;
  }
  bench.counters["peak_MB"] = PeakResidentMegabytes();
  if (ui.failures != 0) bench.SkipWithError("the files were not read");
}

void ReadAndFast(benchmark::State& bench) {
  const Inputs& inputs = MillionPoints();
  SilentUi ui;
  ResetPeakResidentMemory();
  for (auto _ : bench) {
    OrientationRun state;
    inputs.Name(state);
    if (!RunOrientation(state, ui)) ++ui.failures;
  }
  bench.counters["peak_MB"] = PeakResidentMegabytes();
  if (ui.failures != 0) bench.SkipWithError("the orientation failed");
}

BENCHMARK(ReadInputs)
    ->Name("reading/LoadInputs, 1000000 points")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1)
    ->Repetitions(5);
BENCHMARK(ReadAndFast)
    ->Name("reading/read + fast, 1000000 points")
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1)
    ->Repetitions(5);

}  // namespace
}  // namespace zelv::reading_bench
