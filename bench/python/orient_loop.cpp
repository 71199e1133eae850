// The core's side of the Python module's benchmark (bench/python/orient_bench.py): N orientations
// of the same points given in memory, as zelv.orient gives arrays to Orient, timed in one C++
// loop. Usage: zelv_orient_loop CAMERA IMAGE SCENE COUNT LEVEL; prints the microseconds of CPU
// and of wall-clock time per call.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>

#include "app/orientation.h"
#include "files/coordinate_file.h"

namespace {

zelv::GivenPoints Given(const zelv::VT_Points& points, std::vector<std::string> ids) {
  zelv::GivenPoints given;
  for (int i = 0; i < points.Count(); ++i)
    given.values.push_back({points.Get(i)->x, points.Get(i)->y});
  given.ids = std::move(ids);
  return given;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6) {
    std::fprintf(stderr, "usage: zelv_orient_loop CAMERA IMAGE SCENE COUNT LEVEL\n");
    return 2;
  }
  zelv::VT_Points image(1);
  zelv::VT_Points scene(1);
  std::vector<std::string> imageIds;
  std::vector<std::string> sceneIds;
  if (!zelv::ReadRawImagePoints(argv[2], image, &imageIds) ||
      !zelv::ReadScenePoints(argv[3], scene, &sceneIds)) {
    std::fprintf(stderr, "zelv_orient_loop: the points do not read\n");
    return 1;
  }
  zelv::OrientationRequest request;
  request.cameraFile = argv[1];
  request.imagePoints = Given(image, imageIds);
  request.scenePoints = Given(scene, sceneIds);
  request.settings.EstimateLevel = std::atoi(argv[5]);
  request.threads = 1;
  const int count = std::atoi(argv[4]);
  double sum = 0;
  const std::clock_t cpu = std::clock();
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < count; ++i) {
    const zelv::OrientationOutcome outcome = zelv::Orient(request);
    if (!outcome) {
      std::fprintf(stderr, "zelv_orient_loop: %s\n", outcome.error().text.c_str());
      return 1;
    }
    sum += outcome->values.values[0];
  }
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  const double cpuSeconds = static_cast<double>(std::clock() - cpu) / CLOCKS_PER_SEC;
  std::printf("%.3f %.3f %.17g\n", cpuSeconds / count * 1e6, seconds / count * 1e6, sum / count);
  return 0;
}
