// zelv-cli inputs: reads the three input files of an orientation exactly as the orientation does
// and prints what it read, so that a file can be checked without computing anything.
#include <optional>
#include <string>

#include "app/orientation_steps.h"
#include "base/number_text.h"
#include "cli/commands.h"
#include "cli/console_ui.h"
#include "cli/orientation_options.h"
#include "cli/standard_output.h"
#include "files/calibration_file.h"

namespace zelv::cli {
namespace {

const char kInputsUsage[] =
    "Usage: zelv-cli inputs CAMERA IMAGE SCENE [--camera-id N] [--decimal-separator . | ,]\n"
    "                       [--json]\n"
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
    "  --json                  print the same with full precision as JSON (\"points\": number,\n"
    "                          id where the files have them, x, y, X, Y); a failed read\n"
    "                          prints {\"error\": ..., \"caption\": ...}\n"
    "  --version               print the version\n"
    "\n"
    "Exit status: 0 all three files read, 1 a file failed (after its message) or the output\n"
    "could not be written, 2 usage error.\n";

Json LensJson(const LensCalibration& lens) {
  Json out = Json::object();
  out["model"] = lens.modelName;
  out["format"] = lens.format == CameraFileFormat::ColmapCameras ? "COLMAP" : "OpenCV";
  if (lens.format == CameraFileFormat::ColmapCameras) out["camera_id"] = lens.cameraId;
  out["fx"] = JsonNumber(lens.fx);
  out["fy"] = JsonNumber(lens.fy);
  out["cx"] = JsonNumber(lens.cx);
  out["cy"] = JsonNumber(lens.cy);
  out["skew"] = JsonNumber(lens.skew);
  out["coefficients"] = Json::array();
  for (double c : lens.coefficients) out["coefficients"].push_back(JsonNumber(c));
  return out;
}

Json InputsJson(const OrientationRun& state) {
  const InteriorGeometry& geometry = state.Geometry;
  Json out = Json::object();
  out["image_centre"] = {JsonNumber(geometry.ImageCentreX), JsonNumber(geometry.ImageCentreY)};
  out["focal_length"] = JsonNumber(geometry.FocalLength);
  out["image_size"] = {JsonNumber(geometry.ImageWidth), JsonNumber(geometry.ImageHeight)};
  if (geometry.Lens)
    out["lens"] = LensJson(*geometry.Lens);
  else
    out["correction_table_lines"] = geometry.CorrectionTable.size();
  out["image_point_count"] = state.ImagePoints.Count();
  out["scene_point_count"] = state.ScenePoints.Count();
  Json points = Json::array();
  const int pairs = std::min(state.ImagePoints.Count(), state.ScenePoints.Count());
  for (int i = 0; i < pairs; ++i) {
    const VT_Point& image = *state.ImagePoints.Get(i);
    const VT_Point& scene = *state.ScenePoints.Get(i);
    Json point = {{"number", i + 1}};
    if (static_cast<std::size_t>(i) < state.PointIds.size() && !state.PointIds[i].empty())
      point["id"] = state.PointIds[i];
    point["x"] = JsonNumber(image.x);
    point["y"] = JsonNumber(image.y);
    point["X"] = JsonNumber(scene.x);
    point["Y"] = JsonNumber(scene.y);
    points.push_back(point);
  }
  out["points"] = points;
  return out;
}

std::string InputsText(const OrientationRun& state, char separator) {
  const InteriorGeometry& geometry = state.Geometry;
  auto number = [separator](double v) { return FormatGeneral(v, separator); };
  std::string out = "Image centre: " + number(geometry.ImageCentreX) + " ; " +
                    number(geometry.ImageCentreY) + "\n";
  out += "Focal length: " + number(geometry.FocalLength) + "\n";
  out += "Image size: " + number(geometry.ImageWidth) + " ; " + number(geometry.ImageHeight) + "\n";
  if (geometry.Lens) {
    for (const std::string& line : DescribeCalibration(*geometry.Lens, separator))
      out += line + "\n";
  } else {
    out += "Correction table lines: " + std::to_string(geometry.CorrectionTable.size()) + "\n";
  }
  out += "Image points: " + std::to_string(state.ImagePoints.Count()) +
         "\nScene points: " + std::to_string(state.ScenePoints.Count()) + "\n";
  const int pairs = std::min(state.ImagePoints.Count(), state.ScenePoints.Count());
  for (int i = 0; i < pairs; ++i) {
    const VT_Point& image = *state.ImagePoints.Get(i);
    const VT_Point& scene = *state.ScenePoints.Get(i);
    out += std::to_string(i + 1) + " ; " + number(image.x) + " ; " + number(image.y) + " ; " +
           number(scene.x) + " ; " + number(scene.y) + "\n";
  }
  return out;
}

}  // namespace

int RunInputsCommand(int argc, char** argv) {
  CLI::App app;
  std::vector<std::string> files;
  std::string cameraId;
  std::string separatorText;
  bool json = false;
  AddCommonOptions(app, files);
  app.add_option("--camera-id", cameraId);
  app.add_option("--decimal-separator", separatorText);
  app.add_flag("--json", json);
  if (const std::optional<int> done = ParseCommandLine(app, argc, argv, "inputs", kInputsUsage))
    return *done;

  // The estimate options' own checks, for the two that apply to reading.
  EstimateOptions options;
  options.cameraId = cameraId;
  options.decimalSeparator = separatorText;
  OrientationRequest request;
  if (const std::optional<std::string> wrong = ApplyEstimateOptions(app, options, request))
    return UsageError("inputs", *wrong, kInputsUsage);
  if (files.size() < 3) return UsageError("inputs", "three file names are needed", kInputsUsage);
  if (files.size() > 3) return UsageError("inputs", "too many file names", kInputsUsage);
  if (const std::optional<std::string> wrong = CameraIdWithoutList(request.cameraId, {files[0]}))
    return UsageError("inputs", *wrong, kInputsUsage);

  ConsoleUi ui;
  request.cameraFile = files[0];
  request.imageFile = files[1];
  request.sceneFile = files[2];
  OrientationProgress progress;
  progress.warned = [&ui](const Warning& warning) {
    ui.ShowMessage(warning.text, warning.caption, MessageIcon::None, Owner{});
  };
  OrientationRun state;
  TakeRequest(state, request, progress);
  if (const Expected<void> read = LoadInputs(state); !read) {
    ui.ShowFailure(read.error());
    if (json) Print(JsonText(ErrorJson(read.error().text, read.error().caption)) + "\n");
    return 1;
  }
  Print(json ? JsonText(InputsJson(state)) + "\n" : InputsText(state, state.DecimalSeparator));
  return 0;
}

}  // namespace zelv::cli
