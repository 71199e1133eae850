// zelv-cli inputs: reads the three input files of an orientation exactly as the orientation does
// and prints what it read, so that a file can be checked without computing anything.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "app/orientation_session.h"
#include "base/number_text.h"
#include "cli/camera_id.h"
#include "cli/commands.h"
#include "cli/console_ui.h"
#include "files/calibration_file.h"

namespace zelv::cli {
namespace {

const char kInputsUsage[] =
    "Usage: zelv-cli inputs CAMERA IMAGE SCENE [--camera-id N] [--decimal-separator . | ,]\n"
    "\n"
    "Reads the camera file (with its correction table), the image coordinate file and the scene\n"
    "coordinate file as the orientation does, stopping at the first file that fails, and prints\n"
    "the interior geometry and one line per point pair: number, corrected x, corrected y (pixels,\n"
    "origin at the image centre, y up), scene X, scene Y. CAMERA may also be an OpenCV\n"
    "calibration file or a COLMAP cameras.txt: then the lens model and its coefficients are\n"
    "printed, and the image points are corrected by the model (origin at the principal point,\n"
    "pixels of the focal length fx).\n"
    "\n"
    "  --camera-id N           the camera of a COLMAP cameras.txt (default: the first one)\n"
    "  --decimal-separator C   the separator written in the numbers ('.' or ','); the default is\n"
    "                          that of the LC_NUMERIC locale. Both are accepted when reading.\n"
    "\n"
    "Exit status: 0 all three files read, 1 a file failed (after its message), 2 usage error.\n";

int UsageError(const char* what) {
  std::fprintf(stderr, "zelv-cli inputs: %s\n%s", what, kInputsUsage);
  return 2;
}

}  // namespace

int RunInputsCommand(int argc, char** argv) {
  std::string files[3];
  int fileCount = 0;
  char separator = RegionalDecimalSeparator();
  int cameraId = 0;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
      std::fputs(kInputsUsage, stdout);
      return 0;
    }
    if (std::strcmp(arg, "--camera-id") == 0) {
      const std::optional<long long> id =
          i + 1 < argc ? ParseCameraId(argv[++i]) : std::optional<long long>();
      if (!id) return UsageError("--camera-id needs a whole number from 1");
      cameraId = static_cast<int>(*id);
      continue;
    }
    if (std::strcmp(arg, "--decimal-separator") == 0) {
      if (i + 1 >= argc) return UsageError("--decimal-separator needs '.' or ','");
      const char* value = argv[++i];
      if (std::strcmp(value, ".") != 0 && std::strcmp(value, ",") != 0)
        return UsageError("--decimal-separator needs '.' or ','");
      separator = value[0];
      continue;
    }
    if (arg[0] == '-' && arg[1] == '-') return UsageError("unknown option");
    if (fileCount == 3) return UsageError("too many file names");
    files[fileCount++] = arg;
  }
  if (fileCount != 3) return UsageError("three file names are needed");

  ConsoleUi ui;
  OrientationState state;
  state.CameraFileName = files[0];
  state.ImageFileName = files[1];
  state.SceneFileName = files[2];
  state.CameraId = cameraId;
  if (!LoadInputs(state, ui)) return 1;
  const InteriorGeometry& geometry = state.Geometry;
  const VT_Points& imagePoints = state.ImagePoints;
  const VT_Points& scenePoints = state.ScenePoints;

  auto number = [separator](double v) { return FormatGeneral(v, separator); };
  std::printf("Image centre: %s ; %s\n", number(geometry.ImageCentreX).c_str(),
              number(geometry.ImageCentreY).c_str());
  std::printf("Focal length: %s\n", number(geometry.FocalLength).c_str());
  std::printf("Image size: %s ; %s\n", number(geometry.ImageWidth).c_str(),
              number(geometry.ImageHeight).c_str());
  if (geometry.Lens) {
    for (const std::string& line : DescribeCalibration(*geometry.Lens, separator))
      std::printf("%s\n", line.c_str());
  } else {
    std::printf("Correction table lines: %zu\n", geometry.CorrectionTable.size());
  }
  std::printf("Image points: %d\nScene points: %d\n", imagePoints.Count(), scenePoints.Count());
  const int pairs =
      imagePoints.Count() < scenePoints.Count() ? imagePoints.Count() : scenePoints.Count();
  for (int i = 0; i < pairs; ++i) {
    const VT_Point& image = *imagePoints.Get(i);
    const VT_Point& scene = *scenePoints.Get(i);
    std::printf("%d ; %s ; %s ; %s ; %s\n", i + 1, number(image.x).c_str(), number(image.y).c_str(),
                number(scene.x).c_str(), number(scene.y).c_str());
  }
  return 0;
}

}  // namespace zelv::cli
