// zelv-cli detect: the corners of a coded target on a photograph as two point tables paired by
// identifier; zelv-cli target draw: the board for printing.
#include "cli/target_command.h"

#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <vector>

#include "base/number_text.h"
#include "cli/commands.h"
#include "cli/console_ui.h"
#include "cli/json_text.h"
#include "cli/orientation_options.h"
#include "cli/standard_output.h"
#include "files/text_file.h"
#include "targets/target_drawing.h"

namespace zelv::cli {

Expected<TargetDetection> DetectToTables(const std::string& photo, const std::string& targetPath,
                                         const std::string& imageTable,
                                         const std::string& sceneTable) {
  const Expected<TargetDescription> target = ReadTargetDescription(targetPath);
  if (!target) return target.error();
  const Expected<GreyImage> image = ReadGreyPhotograph(photo);
  if (!image) return image.error();
  Expected<TargetDetection> detection = DetectTarget(*image, *target);
  if (!detection) return detection;
  if (const Expected<void> written = WriteDetectionTables(*detection, imageTable, sceneTable);
      !written)
    return written.error();
  return detection;
}

TemporaryFolder::TemporaryFolder() {
  std::error_code error;
  std::string pattern =
      (std::filesystem::temp_directory_path(error) / "zelv-target-XXXXXX").string();
  if (error) pattern = "/tmp/zelv-target-XXXXXX";
  if (mkdtemp(pattern.data())) path_ = pattern;
}

TemporaryFolder::~TemporaryFolder() {
  std::error_code ignored;
  if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
}

namespace {

const char kDetectUsage[] =
    "Usage: zelv-cli detect PHOTO --target TARGET.yml --out-image IMAGE.csv --out-scene SCENE.csv"
    " [--json]\n"
    "\n"
    "Finds the target described in TARGET.yml on the photograph and writes every corner found as\n"
    "two point tables with the same identifiers: IMAGE.csv (id, x, y in pixels of the photograph,\n"
    "x right, y down, the top-left pixel's centre at 0, 0; lens distortion not removed) and\n"
    "SCENE.csv (id, X, Y in the target's scene units and frame). Each file is replaced\n"
    "atomically. Then: zelv-cli orient CAMERA IMAGE.csv SCENE.csv.\n"
    "\n"
    "  --json        print a summary as JSON: the corners found and the target's total, and each\n"
    "                corner's expected error \"sigma\" in pixels (a failed run prints\n"
    "                {\"error\": ..., \"caption\": ...})\n"
    "  --help        show this text\n"
    "\n"
    "Exit status: 0 the target was found and the tables written, 1 it was not (after the\n"
    "message), 2 usage error.\n";

const char kTargetUsage[] =
    "Usage: zelv-cli target draw TARGET.yml --out BOARD.png|BOARD.svg [--dpi N] [--unit-mm U]\n"
    "\n"
    "Draws the board described in TARGET.yml for printing: a PNG picture (also .bmp, .tif) at N\n"
    "dots per inch (default 300), or an SVG drawing to scale. U is the length of one scene unit\n"
    "in millimetres (default 1: the target described in millimetres).\n";

}  // namespace

int RunDetectCommand(int argc, char** argv) {
  CLI::App app;
  std::vector<std::string> files;
  std::string targetPath, imagePath, scenePath;
  bool json = false;
  AddCommonOptions(app, files);
  app.add_option("--target", targetPath);
  app.add_option("--out-image", imagePath);
  app.add_option("--out-scene", scenePath);
  app.add_flag("--json", json);
  if (const std::optional<int> done = ParseCommandLine(app, argc, argv, "detect", kDetectUsage))
    return *done;
  if (files.size() != 1) return UsageError("detect", "one photograph is needed", kDetectUsage);
  if (targetPath.empty()) return UsageError("detect", "--target is needed", kDetectUsage);
  if (imagePath.empty() || scenePath.empty())
    return UsageError("detect", "--out-image and --out-scene are needed", kDetectUsage);
  if (const std::optional<std::string> clash =
          OutputOverwritingInput({imagePath, scenePath}, {files[0], targetPath}))
    return UsageError("detect", *clash, kDetectUsage);

  ConsoleUi ui;
  const Expected<TargetDetection> detection =
      DetectToTables(files[0], targetPath, imagePath, scenePath);
  if (!detection) {
    ui.ShowFailure(detection.error());
    if (json) Print(JsonText(ErrorJson(detection.error().text, detection.error().caption)) + "\n");
    return 1;
  }
  std::vector<double> sigmas;
  for (const DetectedCorner& c : detection->corners) sigmas.push_back(c.sigma);
  std::sort(sigmas.begin(), sigmas.end());
  const double median = sigmas[sigmas.size() / 2];
  if (json) {
    Json out;
    out["found"] = detection->corners.size();
    out["total"] = detection->totalCorners;
    out["sigma_median"] = JsonNumber(median);
    out["sigma_largest"] = JsonNumber(sigmas.back());
    out["image"] = imagePath;
    out["scene"] = scenePath;
    Json corners = Json::array();
    for (const DetectedCorner& c : detection->corners)
      corners.push_back({{"id", c.id},
                         {"x", JsonNumber(c.x)},
                         {"y", JsonNumber(c.y)},
                         {"sigma", JsonNumber(c.sigma)}});
    out["corners"] = corners;
    Print(JsonText(out) + "\n");
  } else {
    Print("Corners found: " + std::to_string(detection->corners.size()) + " of " +
          std::to_string(detection->totalCorners) + "\n");
    Print("Expected error, px: median " + FormatGeneral(median, '.') + ", largest " +
          FormatGeneral(sigmas.back(), '.') + "\n");
  }
  return 0;
}

int RunTargetCommand(int argc, char** argv) {
  if (argc < 2 || std::strcmp(argv[1], "draw") != 0) {
    if (argc >= 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
      Print(kTargetUsage);
      return 0;
    }
    return UsageError("target", "the only subcommand is 'draw'", kTargetUsage);
  }
  CLI::App app;
  std::vector<std::string> files;
  std::string outPath, dpiText = "300", unitText = "1";
  AddCommonOptions(app, files);
  app.add_option("--out", outPath);
  app.add_option("--dpi", dpiText);
  app.add_option("--unit-mm", unitText);
  if (const std::optional<int> done =
          ParseCommandLine(app, argc - 1, argv + 1, "target draw", kTargetUsage))
    return *done;
  if (files.size() != 1) return UsageError("target", "one target file is needed", kTargetUsage);
  if (outPath.empty()) return UsageError("target", "--out is needed", kTargetUsage);
  const std::optional<double> dpi = ParseNumber(dpiText);
  const std::optional<double> unit = ParseNumber(unitText);
  if (!dpi || !(*dpi >= 10 && *dpi <= 4800))
    return UsageError("target", "--dpi needs a number from 10 to 4800", kTargetUsage);
  if (!unit || !(*unit > 0 && *unit <= 1e6))
    return UsageError("target", "--unit-mm needs a number above 0", kTargetUsage);
  if (const std::optional<std::string> clash = OutputOverwritingInput({outPath}, {files[0]}))
    return UsageError("target", *clash, kTargetUsage);

  ConsoleUi ui;
  const Expected<TargetDescription> target = ReadTargetDescription(files[0]);
  if (!target) {
    ui.ShowFailure(target.error());
    return 1;
  }
  std::string extension = std::filesystem::path(outPath).extension().string();
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  Expected<void> written = Success();
  if (extension == ".svg") {
    const Expected<std::string> svg = TargetSvg(*target, *unit);
    if (!svg) {
      written = svg.error();
    } else {
      try {
        ReplaceFile(outPath, *svg);
      } catch (const ZelvError&) {
        written = Failure{"Не удается записать файл " + outPath + "!", "Ошибка!", MessageIcon::Stop,
                          FailedInput::kOutput};
      }
    }
  } else {
    const double margin = std::max({target->squareSize, target->markerSize, target->spacing});
    const Expected<TargetPicture> picture = DrawTarget(*target, *dpi / 25.4 * *unit, margin);
    written = picture ? WritePicture(picture->image, outPath) : Expected<void>(picture.error());
  }
  if (!written) {
    ui.ShowFailure(written.error());
    return 1;
  }
  return 0;
}

}  // namespace zelv::cli
