// The cost of zelv-cli batch beside the orientations it runs: 100 copies of the photograph example
// (examples/zhang, 256 points through its calibration file) at the fast level. Measured:
//   in-process  the orientations one after the other in this process, CPU time summed;
//   batch       one `zelv-cli batch` process over the 100 images: its CPU time (user + system,
//               from wait4) and its wall time;
//   start-up    `zelv-cli --version`: what any one process costs before it computes anything;
//   batch of 1  the same batch over one image: start-up and what the first orientation of a
//               process pays once (loading OpenCV's parts, first touches of memory).
// The marginal ratio (batch − batch of 1) / (99/100 · in-process) is the batch's cost per
// orientation beyond the orientation itself.
// Each is run ROUNDS times (default 9); the medians, the ratio batch CPU / in-process CPU (the
// batch's own cost, start-up included) and batch CPU / wall (the cores it kept busy) are printed.
// Usage: zelv_batch_measure ZELV_CLI EXAMPLES_DIR [ROUNDS]
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "../silent_ui.h"
#include "app/orientation_session.h"
#include "orientation_shims.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

double CpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return t.tv_sec + t.tv_nsec * 1e-9;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

struct Run {
  double cpu = 0;   // user + system, seconds
  double wall = 0;  // seconds
};

// Runs the program with its standard output on /dev/null; nothing when it fails.
std::optional<Run> Spawn(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& a : arguments) argv.push_back(a.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  const auto start = std::chrono::steady_clock::now();
  pid_t pid = 0;
  const int started = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (started != 0) return std::nullopt;
  int status = 0;
  rusage usage{};
  if (wait4(pid, &status, 0, &usage) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return std::nullopt;
  Run run;
  run.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.cpu = usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
            usage.ru_stime.tv_usec * 1e-6;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "Usage: %s ZELV_CLI EXAMPLES_DIR [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string cli = argv[1];
  const fs::path zhang = fs::path(argv[2]) / "zhang";
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 9;
  const int count = 100;

  const fs::path folder =
      fs::temp_directory_path() / ("zelv-batch-measure-" + std::to_string(getpid()));
  fs::create_directories(folder);
  std::vector<std::string> images;
  for (int i = 0; i < count; ++i) {
    const fs::path image = folder / ("photo" + std::to_string(i) + ".crd");
    fs::copy_file(zhang / "image-raw.crd", image, fs::copy_options::overwrite_existing);
    images.push_back(image.string());
  }
  const std::string camera = (zhang / "calibration.yml").string();
  const std::string scene = (zhang / "scene.crd").string();
  std::vector<std::string> batchArguments = {cli,        "batch", "--level", "0",
                                             "--camera", camera,  "--scene", scene};
  std::vector<std::string> singleArguments = batchArguments;
  singleArguments.push_back(images[0]);
  batchArguments.insert(batchArguments.end(), images.begin(), images.end());

  std::vector<double> inProcess, batchCpu, batchWall, startUpCpu, singleCpu;
  for (int round = 0; round < rounds; ++round) {
    const double start = CpuSeconds();
    for (const std::string& image : images) {
      zelv::OrientationRun state;
      state.CameraFileName = camera;
      state.ImageFileName = image;
      state.SceneFileName = scene;
      zelv::bench::SilentUi ui;
      if (!zelv::RunOrientation(state, ui, "", 1) || ui.failures != 0) {
        std::fprintf(stderr, "an orientation failed\n");
        return 1;
      }
    }
    inProcess.push_back(CpuSeconds() - start);
    const std::optional<Run> batch = Spawn(batchArguments);
    const std::optional<Run> startUp = Spawn({cli, "--version"});
    const std::optional<Run> single = Spawn(singleArguments);
    if (!batch || !startUp || !single) {
      std::fprintf(stderr, "zelv-cli failed\n");
      return 1;
    }
    batchCpu.push_back(batch->cpu);
    batchWall.push_back(batch->wall);
    startUpCpu.push_back(startUp->cpu);
    singleCpu.push_back(single->cpu);
  }
  fs::remove_all(folder);

  const double a = Median(inProcess), b = Median(batchCpu), w = Median(batchWall);
  std::printf("%d orientations at the fast level, medians of %d rounds:\n", count, rounds);
  std::printf("  in-process CPU      %8.4f s\n", a);
  std::printf("  batch CPU           %8.4f s   (%.3f x in-process)\n", b, b / a);
  std::printf("  zelv-cli start-up   %8.4f s   (--version)\n", Median(startUpCpu));
  const double one = Median(singleCpu);
  std::printf("  batch of 1 CPU      %8.4f s   (marginal ratio %.3f)\n", one,
              (b - one) / (a * (count - 1) / count));
  std::printf("  batch wall          %8.4f s   (CPU / wall %.2f cores)\n", w, b / w);
  return 0;
}
