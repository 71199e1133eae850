// zelv-cli calibrate: the camera's intrinsics and lens model from photographs of a target, judged
// over the image, written as an OpenCV calibration (with the intrinsics' covariance), optionally a
// COLMAP camera list and a ZELV camera file with its correction table.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "base/number_text.h"
#include "calibration/calibration_run.h"
#include "calibration/calibration_views.h"
#include "cli/calibration_report.h"
#include "cli/commands.h"
#include "cli/console_ui.h"
#include "cli/orientation_options.h"
#include "cli/standard_output.h"
#include "files/calibration_writer.h"
#include "files/text_file.h"

namespace zelv::cli {

namespace {

const char kCalibrateUsage[] =
    "Usage: zelv-cli calibrate PHOTO... --target TARGET.yml --out CAMERA.yml [options]\n"
    "\n"
    "Calibrates the camera from photographs of the target described in TARGET.yml: finds the\n"
    "target on each photograph, fits the intrinsics and the lens model by OpenCV's calibration\n"
    "(views and corners that do not fit are left out and listed), and prints each view's\n"
    "corners and RMS, the intrinsics with their standard deviations, the RMS and sigma0, the\n"
    "share of the image the corners never reached and the projection uncertainty over the\n"
    "image. Writes CAMERA.yml, an OpenCV calibration with the intrinsics' covariance under\n"
    "intrinsics_covariance, which 'zelv-cli orient' and the window read as a camera file.\n"
    "Take 15 to 40 photographs, the board tilted, reaching every part of the image.\n"
    "\n"
    "  --model M          the lens model: pinhole4 (k1 k2 p1 p2), pinhole5 (with k3; default),\n"
    "                     rational8, thinprism12, tilted14 or fisheye\n"
    "  --out CAMERA.yml   the OpenCV calibration to write\n"
    "  --colmap FILE.txt  also write a COLMAP cameras.txt\n"
    "  --cam FILE.cam     also write a ZELV camera file with a correction table fitted to the\n"
    "                     lens model; where the table cannot follow the model within 0.05 px it "
    "is\n"
    "                     not written (a warning names the worst residual) and the rest is\n"
    "  --cross-validate   also calibrate the two halves of the views (alternate views) and\n"
    "                     compare their projections with the difference their uncertainty\n"
    "                     predicts (a median ratio near 1: the model fits the lens)\n"
    "  --report FILE.html also write a report: the intrinsics, the views, what was left out,\n"
    "                     and the uncertainty, coverage and cross-validation maps\n"
    "  --threads N        threads for finding the target (default: one per core); the result\n"
    "                     does not depend on it\n"
    "  --json             print everything as JSON; a failed run prints\n"
    "                     {\"error\": ..., \"caption\": ...} (the message also goes to standard\n"
    "                     error)\n"
    "  --version          print the version\n"
    "  --help             show this text\n"
    "\n"
    "Exit status: 0 the camera was calibrated and its files written, 1 it was not (after the\n"
    "message) or a file could not be written, 2 usage error.\n";

std::string Number(double value) { return FormatGeneral(value, '.'); }

// A figure rounded for people: `digits` decimals.
std::string Fixed(double value, int digits) {
  if (!std::isfinite(value)) return "-";
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", digits, value);
  return text;
}

std::string Padded(std::string text, size_t width) {
  // The names are file names, possibly UTF-8: pad by bytes, which keeps ASCII columns straight.
  if (text.size() < width) text.append(width - text.size(), ' ');
  return text + " ";
}

Json MapJson(const ImageGridMap& map) {
  Json values = Json::array();
  for (double v : map.values) values.push_back(JsonNumber(v));
  return Json{{"columns", map.columns},
              {"rows", map.rows},
              {"width", JsonNumber(map.width)},
              {"height", JsonNumber(map.height)},
              {"values", values}};
}

struct WrittenFiles {
  std::vector<std::string> written;
  std::vector<std::string> warnings;
  std::optional<CorrectionTableFit> tableFit;
  std::optional<Failure> failure;  // a file that had to be written and was not
};

WrittenFiles WriteOutputs(const LensCalibration& camera, const std::string& out,
                          const std::string& colmap, const std::string& cam) {
  WrittenFiles files;
  if (const Expected<void> written = WriteOpenCvCalibration(out, camera); !written) {
    files.failure = written.error();
    return files;
  }
  files.written.push_back(out);
  if (!colmap.empty()) {
    if (const Expected<void> written = WriteColmapCamera(colmap, camera); !written) {
      files.failure = written.error();
      return files;
    }
    files.written.push_back(colmap);
  }
  if (!cam.empty()) {
    const Expected<CorrectionTableFit> fit = WriteCameraFileWithTable(cam, camera);
    if (fit) {
      files.tableFit = *fit;
      files.written.push_back(cam);
    } else if (fit.error().input == FailedInput::kOutput) {
      files.failure = fit.error();
    } else {
      // The table cannot follow the lens model: the camera file is not written, the rest is.
      files.warnings.push_back(fit.error().text);
    }
  }
  return files;
}

}  // namespace

int RunCalibrateCommand(int argc, char** argv) {
  CLI::App app;
  std::vector<std::string> photos;
  std::string targetPath, modelName = "pinhole5", outPath, colmapPath, camPath, reportPath,
                          threadsText = "0";
  bool json = false, crossValidate = false;
  AddCommonOptions(app, photos);
  app.add_option("--target", targetPath);
  app.add_option("--model", modelName);
  app.add_option("--out", outPath);
  app.add_option("--colmap", colmapPath);
  app.add_option("--cam", camPath);
  app.add_option("--report", reportPath);
  app.add_option("--threads", threadsText);
  app.add_flag("--json", json);
  app.add_flag("--cross-validate", crossValidate);
  if (const std::optional<int> done =
          ParseCommandLine(app, argc, argv, "calibrate", kCalibrateUsage))
    return *done;
  if (photos.empty()) return UsageError("calibrate", "photographs are needed", kCalibrateUsage);
  if (targetPath.empty()) return UsageError("calibrate", "--target is needed", kCalibrateUsage);
  if (outPath.empty()) return UsageError("calibrate", "--out is needed", kCalibrateUsage);
  CalibrationOptions options;
  if (!ParseCalibrationModel(modelName, options.model))
    return UsageError("calibrate",
                      "--model needs pinhole4, pinhole5, rational8, thinprism12, tilted14 or "
                      "fisheye",
                      kCalibrateUsage);
  const std::optional<double> threads = ParseNumber(threadsText);
  if (!threads || !(*threads >= 0 && *threads <= 256) || *threads != std::floor(*threads))
    return UsageError("calibrate", "--threads needs a whole number from 0 to 256", kCalibrateUsage);
  if (!reportPath.empty()) {
    std::string extension = std::filesystem::path(reportPath).extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (extension != ".html" && extension != ".htm")
      return UsageError("calibrate", "--report needs a name ending in .html", kCalibrateUsage);
  }
  std::vector<std::string> inputs = photos;
  inputs.push_back(targetPath);
  if (const std::optional<std::string> clash =
          OutputOverwritingInput({outPath, colmapPath, camPath, reportPath}, inputs))
    return UsageError("calibrate", *clash, kCalibrateUsage);

  ConsoleUi ui;
  auto fail = [&](const Failure& failure) {
    ui.ShowFailure(failure);
    if (json) Print(JsonText(ErrorJson(failure.text, failure.caption)) + "\n");
    return 1;
  };
  const Expected<TargetDescription> target = ReadTargetDescription(targetPath);
  if (!target) return fail(target.error());
  const Expected<PhotographViews> found =
      ViewsFromPhotographs(photos, *target, {}, static_cast<int>(*threads));
  if (!found) return fail(found.error());
  for (const SkippedPhotograph& skipped : found->skipped)
    ui.ShowMessage("Снимок " + skipped.path + " пропущен: " + skipped.reason, "Внимание!",
                   MessageIcon::Exclamation, Owner{});
  if (found->views.empty())
    return fail(Failure{"Мишень не найдена ни на одном снимке: проверьте файл мишени и снимки.",
                        "Калибровка камеры"});
  options.imageWidth = found->imageWidth;
  options.imageHeight = found->imageHeight;
  const Expected<CalibrationRun> run = RunCalibration(found->views, options, crossValidate);
  if (!run) return fail(run.error());
  const CalibrationResult& result = run->calibration;

  WrittenFiles files = WriteOutputs(result.camera, outPath, colmapPath, camPath);
  if (files.failure) return fail(*files.failure);
  std::vector<std::string> warnings = files.warnings;
  if (const std::optional<std::string> coverage = CoverageWarning(*run))
    warnings.push_back(*coverage);
  if (crossValidate && !run->crossValidation)
    warnings.push_back("Перекрёстная проверка не выполнена: " + run->crossValidationFailure);
  if (!reportPath.empty()) {
    try {
      ReplaceFile(reportPath, CalibrationReportHtml(*run, *found, options.model, warnings));
    } catch (const ZelvError&) {
      return fail(Failure{"Не удается записать файл " + reportPath + "!", "Ошибка!",
                          MessageIcon::Stop, FailedInput::kOutput});
    }
    files.written.push_back(reportPath);
  }
  for (const std::string& warning : warnings)
    ui.ShowMessage(warning, "Внимание!", MessageIcon::Exclamation, Owner{});

  const std::vector<CalibrationView>& views = found->views;
  auto viewName = [&](int index) {
    return index >= 0 && index < static_cast<int>(views.size()) ? views[index].name
                                                                : std::to_string(index);
  };
  if (json) {
    Json out;
    out["model"] = CalibrationModelName(options.model);
    out["image_width"] = found->imageWidth;
    out["image_height"] = found->imageHeight;
    Json skipped = Json::array();
    for (const SkippedPhotograph& s : found->skipped)
      skipped.push_back({{"photograph", s.path}, {"reason", s.reason}});
    out["skipped_photographs"] = skipped;
    Json viewList = Json::array();
    for (size_t i = 0; i < views.size(); ++i) {
      const bool known = i < result.views.size();
      viewList.push_back({{"photograph", found->paths[i]},
                          {"corners", views[i].ids.size()},
                          {"used", known && result.views[i].used},
                          {"rms", JsonNumber(known ? result.views[i].rms : 0)}});
    }
    out["views"] = viewList;
    Json rejectedViews = Json::array();
    for (const RejectedView& r : result.rejectedViews)
      rejectedViews.push_back(
          {{"photograph", viewName(r.view)}, {"rms", JsonNumber(r.rms)}, {"reason", r.reason}});
    out["rejected_views"] = rejectedViews;
    Json rejectedCorners = Json::array();
    for (const RejectedCorner& r : result.rejectedCorners)
      rejectedCorners.push_back(
          {{"photograph", viewName(r.view)}, {"id", r.id}, {"residual", JsonNumber(r.residual)}});
    out["rejected_corners"] = rejectedCorners;
    Json intrinsics = Json::array();
    for (size_t i = 0; i < result.parameterNames.size(); ++i)
      intrinsics.push_back(
          {{"name", result.parameterNames[i]},
           {"value", JsonNumber(i < run->values.size() ? run->values[i] : 0)},
           {"sigma", JsonNumber(i < result.sigmas.size() ? result.sigmas[i] : 0)}});
    out["intrinsics"] = intrinsics;
    out["rms"] = JsonNumber(result.rms);
    out["sigma0"] = JsonNumber(result.sigma0);
    out["corners_used"] = result.cornersUsed;
    out["uncovered_share"] = JsonNumber(run->uncoveredShare);
    out["coverage"] = MapJson(run->coverage);
    out["projection_uncertainty"] = {{"median", JsonNumber(run->uncertaintyMedian)},
                                     {"worst", JsonNumber(run->uncertaintyWorst)},
                                     {"map", MapJson(run->uncertainty)}};
    if (run->crossValidation)
      out["cross_validation"] = {{"median_ratio", JsonNumber(run->crossValidation->medianRatio)},
                                 {"difference", MapJson(run->crossValidation->difference)},
                                 {"predicted", MapJson(run->crossValidation->predicted)}};
    if (files.tableFit)
      out["correction_table"] = {{"worst_residual", JsonNumber(files.tableFit->worstResidual)},
                                 {"rms_residual", JsonNumber(files.tableFit->rmsResidual)}};
    out["written"] = files.written;
    out["warnings"] = warnings;
    Print(JsonText(out) + "\n");
    return 0;
  }

  std::string text;
  text += "Photographs: " + std::to_string(photos.size()) + ", target found on " +
          std::to_string(views.size()) + ", image " + std::to_string(found->imageWidth) + " x " +
          std::to_string(found->imageHeight) + " px\n";
  for (const SkippedPhotograph& s : found->skipped)
    text += "Skipped: " + s.path + ": " + s.reason + "\n";
  size_t nameWidth = 4;
  for (const CalibrationView& v : views) nameWidth = std::max(nameWidth, v.name.size());
  text += "\n" + Padded("View", nameWidth) + "Corners  RMS, px\n";
  for (size_t i = 0; i < views.size(); ++i) {
    const bool used = i < result.views.size() && result.views[i].used;
    std::string corners = std::to_string(views[i].ids.size());
    text += Padded(views[i].name, nameWidth) + Padded(corners, 8) +
            (i < result.views.size() ? Fixed(result.views[i].rms, 3) : "-") +
            (used ? "" : "  (left out)") + "\n";
  }
  for (const RejectedView& r : result.rejectedViews)
    text += "Rejected view " + viewName(r.view) + " (RMS " + Fixed(r.rms, 3) + " px): " + r.reason +
            "\n";
  for (const RejectedCorner& r : result.rejectedCorners)
    text += "Rejected corner " + std::to_string(r.id) + " of " + viewName(r.view) + ": residual " +
            Fixed(r.residual, 3) + " px\n";
  text += "\nModel: " + std::string(CalibrationModelName(options.model)) + "\n";
  for (size_t i = 0; i < result.parameterNames.size(); ++i)
    text += "  " + Padded(result.parameterNames[i], 3) +
            Number(i < run->values.size() ? run->values[i] : 0) + " +- " +
            Number(i < result.sigmas.size() ? result.sigmas[i] : 0) + "\n";
  text += "RMS, px: " + Fixed(result.rms, 4) + "\n";
  text += "sigma0, px: " + Fixed(result.sigma0, 4) + "\n";
  text += "Corners used: " + std::to_string(result.cornersUsed) + "\n";
  text += "Image the corners never reached: " + Fixed(run->uncoveredShare * 100, 1) + " %\n";
  if (!run->uncertainty.values.empty())
    text += "Projection uncertainty (1 sigma), px: median " + Fixed(run->uncertaintyMedian, 4) +
            ", worst " + Fixed(run->uncertaintyWorst, 4) + "\n";
  if (run->crossValidation)
    text += "Cross-validation: median difference / predicted " +
            Fixed(run->crossValidation->medianRatio, 2) + "\n";
  if (files.tableFit)
    text += "Correction table: worst residual " + Fixed(files.tableFit->worstResidual, 4) +
            " px, RMS " + Fixed(files.tableFit->rmsResidual, 4) + " px\n";
  for (const std::string& path : files.written) text += "Written: " + path + "\n";
  Print(text);
  return 0;
}

}  // namespace zelv::cli
