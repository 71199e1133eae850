// zelv-cli orient: the orientation command without a window. Reads the three files, computes the
// exterior orientation at the chosen estimate level and prints the 21 values; optionally writes
// the ".ort" file and the refinement log.
#include <cmath>
#include <filesystem>
#include <optional>
#include <string>

#include "app/orientation_residuals.h"
#include "app/orientation_session.h"
#include "app/result_file.h"
#include "base/number_text.h"
#include "cli/commands.h"
#include "cli/console_ui.h"
#include "cli/orientation_options.h"
#include "cli/report_option.h"
#include "cli/standard_output.h"
#include "cli/target_command.h"

namespace zelv::cli {

const char kPoseConventionsHelp[] =
    "The pose in other programs' conventions (\"pose\" in the JSON of a complete result):\n"
    "  R, t    world to camera, X_cam = R * X + t, for a scene point X = (X, Y, 0) in the scene\n"
    "          file's coordinates and OpenCV's camera frame (x right, y down, z forward);\n"
    "          R row-major. The pixel is K * X_cam with fx = fy = F (the focal length) and cx,\n"
    "          cy the image centre (a calibration file: its principal point, with its lens\n"
    "          distortion on top as OpenCV applies it).\n"
    "  rvec    R as a Rodrigues vector (cv::Rodrigues), radians\n"
    "  colmap  R as the unit quaternion qw qx qy qz (qw >= 0) and t as tx ty tz, as COLMAP's\n"
    "          images.txt holds them\n"
    "  omega_phi_kappa_deg\n"
    "          degrees; the camera-to-scene rotation of the camera frame x right, y up, z back\n"
    "          is Rx(omega) * Ry(phi) * Rz(kappa) (it equals the direction cosines' matrix)\n";

namespace {

const char kOrientUsageHead[] =
    "Usage: zelv-cli orient CAMERA IMAGE SCENE [options]\n"
    "       zelv-cli orient --photo PHOTO --target TARGET.yml CAMERA [options]\n"
    "\n"
    "Computes the exterior orientation of the camera from the camera file, the image coordinate\n"
    "file and the scene coordinate file, and prints the 21 result values. CAMERA may also be an\n"
    "OpenCV calibration file (YAML, XML or JSON) or a COLMAP cameras.txt; its lens model then\n"
    "corrects the image points, which are raw pixels as measured on the photograph.\n"
    "With --photo and --target the image and scene points are the corners of the coded target\n"
    "found on the photograph (see 'zelv-cli detect --help'), paired by their identifiers.\n"
    "\n";

const char kOrientUsageTail[] =
    "  --out FILE.ort            also write the result file\n"
    "  --log FILE                keep the refinement log and write it to FILE (levels 1 and 3)\n"
    "  --threads N               threads for the precise estimate (default: one per core);\n"
    "                            the result does not depend on it\n"
    "  --json                    print the values with full precision as JSON; a failed run\n"
    "                            prints {\"error\": ..., \"caption\": ...} (the message also goes\n"
    "                            to standard error)\n"
    "  --version                 print the version\n"
    "  --help                    show this text\n"
    "\n"
    "Numbers in the lists use '.' as the decimal separator. An output that is one of the input\n"
    "files, or both outputs one file, is refused before anything is computed.\n"
    "\n";

const char kOrientUsageEnd[] =
    "\n"
    "Exit status: 0 a result was computed, 1 it was not (after the message) or the output could\n"
    "not be written, 2 usage error.\n";

const std::string& OrientUsage() {
  static const std::string usage = std::string(kOrientUsageHead) + kEstimateOptionsHelp +
                                   kReportOptionHelp + kOrientUsageTail + kPoseConventionsHelp +
                                   kOrientUsageEnd;
  return usage;
}

// The run's failure on standard output, for a script (the message went to standard error).
void PrintFailure(const Failure& failure) {
  Print(JsonText(ErrorJson(failure.text, failure.caption)) + "\n");
}

std::string TextOutput(const Orientation& orientation, bool residualsWanted) {
  std::string out;
  for (int i = 0; i < kResultCount; ++i)
    out += std::string(kResults[i].cliLabel) + ": " + orientation.texts[i] + "\n";
  if (orientation.precision.known) {
    out += "\n";
    for (const std::string& line : PrecisionLines(orientation)) out += line + "\n";
  }
  if (residualsWanted) {
    out += "\n";
    if (const std::optional<Residuals>& residuals = orientation.residuals) {
      for (const std::string& line : ResidualTableLines(*residuals, orientation.decimalSeparator))
        out += line + "\n";
    } else {
      out += "Residuals: not available, a control point projects to infinity\n";
    }
  }
  return out;
}

}  // namespace

int RunOrientCommand(int argc, char** argv) {
  const char* usage = OrientUsage().c_str();
  CLI::App app;
  std::vector<std::string> files;
  EstimateOptions estimate;
  std::string outPath;
  std::string logPath;
  std::string reportPath;
  std::string threadsText;
  bool json = false;
  std::string photoPath;
  std::string targetPath;
  AddCommonOptions(app, files);
  app.add_option("--photo", photoPath);
  app.add_option("--target", targetPath);
  AddEstimateOptions(app, estimate);
  app.add_option("--out", outPath);
  app.add_option("--log", logPath);
  app.add_option("--report", reportPath);
  app.add_option("--threads", threadsText);
  app.add_flag("--json", json);
  if (const std::optional<int> done = ParseCommandLine(app, argc, argv, "orient", usage))
    return *done;

  OrientationRequest request;
  if (const std::optional<std::string> wrong = ApplyEstimateOptions(app, estimate, request))
    return UsageError("orient", *wrong, usage);
  int threads = 0;  // 0: one per core
  if (app.count("--threads") > 0) {
    const std::optional<double> n = ParseNumber(threadsText);
    if (!n || !(*n >= 1 && *n <= 256) || *n != std::floor(*n))
      return UsageError("orient", "--threads needs a whole number from 1 to 256", usage);
    threads = static_cast<int>(*n);
  }
  if (app.count("--out") > 0 && outPath.empty())
    return UsageError("orient", "--out needs a file name", usage);
  if (app.count("--log") > 0 && logPath.empty())
    return UsageError("orient", "--log needs a file name", usage);
  if (app.count("--report") > 0)
    if (const std::optional<std::string> wrong = ReportPathProblem(reportPath))
      return UsageError("orient", *wrong, usage);
  // The one step from a photograph: the target's corners as two tables in a folder of their own,
  // read as any point tables are.
  const bool fromPhoto = app.count("--photo") > 0 || app.count("--target") > 0;
  TemporaryFolder tables;
  if (fromPhoto) {
    if (photoPath.empty() || targetPath.empty())
      return UsageError("orient", "--photo and --target go together", usage);
    if (files.size() != 1)
      return UsageError("orient", "with --photo only the camera file is named", usage);
    if (!tables.ok()) return UsageError("orient", "no temporary folder for the tables", usage);
    const Expected<TargetDetection> detected =
        DetectToTables(photoPath, targetPath, tables.Path("image.csv"), tables.Path("scene.csv"));
    if (!detected) {
      ConsoleUi ui;
      ui.ShowFailure(detected.error());
      if (json) PrintFailure(detected.error());
      return 1;
    }
    files.push_back(tables.Path("image.csv"));
    files.push_back(tables.Path("scene.csv"));
  }
  if (files.size() < 3) return UsageError("orient", "three file names are needed", usage);
  if (files.size() > 3) return UsageError("orient", "too many file names", usage);
  if (const std::optional<std::string> wrong = CameraIdWithoutList(request.cameraId, {files[0]}))
    return UsageError("orient", *wrong, usage);
  if (const std::optional<std::string> clash = OutputOverwritingInput(
          {outPath, logPath, reportPath}, InputsWithTables(files, {files[0]})))
    return UsageError("orient", *clash, usage);

  request.cameraFile = files[0];
  request.imageFile = files[1];
  request.sceneFile = files[2];
  std::error_code ignored;
  request.startDirectory = std::filesystem::current_path(ignored).string();
  request.settings.KeepLog = !logPath.empty();
  request.logPath = logPath;
  request.threads = threads;
  if (const std::optional<std::string> wrong = request.Check())
    return UsageError("orient", *wrong, usage);

  ConsoleUi ui;
  const OrientationOutcome outcome = RunOrientation(request, ui);
  if (!outcome) {
    if (json) PrintFailure(outcome.error());
    return 1;
  }
  const Orientation& orientation = *outcome;
  Expected<void> written = Success();
  if (!outPath.empty()) {
    written = WriteResultFile(outPath, orientation);
    if (!written) ui.ShowFailure(written.error());
  }
  if (written && !reportPath.empty()) {
    written = WriteReportFile(reportPath, orientation, request);
    if (!written) ui.ShowFailure(written.error());
  }
  if (!json)
    Print(TextOutput(orientation, estimate.residuals));
  else if (written)
    Print(JsonText(ResultJson(orientation, estimate.residuals)) + "\n");
  else
    PrintFailure(written.error());
  return written ? 0 : 1;
}

}  // namespace zelv::cli
