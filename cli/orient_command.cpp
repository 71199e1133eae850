// zelv-cli orient: the orientation command without a window. Reads the three files, computes the
// exterior orientation at the chosen estimate level and prints the 21 values; optionally writes
// the ".ort" file and the refinement log.
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "app/orientation_residuals.h"
#include "app/orientation_session.h"
#include "app/result_file.h"
#include "app/rigorous_level.h"
#include "base/angles.h"
#include "base/number_text.h"
#include "base/zelv_error.h"
#include "cli/camera_id.h"
#include "cli/commands.h"
#include "cli/console_ui.h"

namespace zelv::cli {
namespace {

const char kOrientUsage[] =
    "Usage: zelv-cli orient CAMERA IMAGE SCENE [options]\n"
    "\n"
    "Computes the exterior orientation of the camera from the camera file, the image coordinate\n"
    "file and the scene coordinate file, and prints the 21 result values. CAMERA may also be an\n"
    "OpenCV calibration file (YAML, XML or JSON) or a COLMAP cameras.txt; its lens model then\n"
    "corrects the image points, which are raw pixels as measured on the photograph.\n"
    "\n"
    "  --camera-id N             the camera of a COLMAP cameras.txt (default: the first one)\n"
    "  --level L                 estimate level: 0 or fast (default), 1 or normal, 3 or precise,\n"
    "                            4 or rigorous (least squares on all six pose parameters, robust,\n"
    "                            with the standard deviations of the values)\n"
    "  --out FILE.ort            also write the result file\n"
    "  --log FILE                keep the refinement log and write it to FILE (levels 1 and 3)\n"
    "  --first-values AL,BET,HI,L\n"
    "                            start the refinement from these stand angles (degrees) and\n"
    "                            this distance (scene units)\n"
    "  --vary-hi                 with --first-values: also start the image rotation from HI\n"
    "  --initial-offsets AL,BET,HI,L\n"
    "                            start offsets of the refinement: degrees, and percent of the\n"
    "                            distance (default 15,15,15,15)\n"
    "  --final-offsets AL,BET,HI,L\n"
    "                            final offsets, each above 0 (default 0.0001 for all four)\n"
    "  --threads N               threads for the precise estimate (default: one per core);\n"
    "                            the result does not depend on it\n"
    "  --json                    print the values with full precision as JSON\n"
    "  --residuals               also print each control point's residual (pixels) and their\n"
    "                            summary; with --json as \"residuals\" and \"residual_summary\"\n"
    "  --sigma-count K           flag a point whose residual exceeds K sigma (default 3)\n"
    "  --decimal-separator C     '.' or ',' in the printed values and the written files; the\n"
    "                            default is that of the LC_NUMERIC locale\n"
    "  --help                    show this text\n"
    "\n"
    "Numbers in the lists use '.' as the decimal separator.\n"
    "Exit status: 0 a result was computed, 1 it was not (after the message), 2 usage error.\n";

int UsageError(const std::string& what) {
  std::fprintf(stderr, "zelv-cli orient: %s\n%s", what.c_str(), kOrientUsage);
  return 2;
}

// Four comma-separated numbers ('.' as their decimal separator).
std::optional<std::array<double, 4>> ParseFour(std::string_view text) {
  std::array<double, 4> values{};
  for (int i = 0; i < 4; ++i) {
    const std::size_t comma = text.find(',');
    if ((comma == std::string_view::npos) != (i == 3)) return std::nullopt;
    const std::string_view item = text.substr(0, comma);
    if (item.find_first_not_of(" 0123456789.eE+-") != std::string_view::npos) return std::nullopt;
    const std::optional<double> v = ParseNumber(item);
    if (!v) return std::nullopt;
    values[i] = *v;
    if (comma != std::string_view::npos) text.remove_prefix(comma + 1);
  }
  return values;
}

// Shortest round-trip text is not wanted here: "%.17g" identifies every double exactly.
std::string JsonNumber(double v) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, v, std::chars_format::general, 17);
  return std::string(text, result.ptr);
}

// The residuals as JSON members (each line ends without a comma); "null" when they could not be
// computed.
std::string ResidualsJson(const std::optional<Residuals>& residuals) {
  if (!residuals) return "  \"residuals\": null,\n  \"residual_summary\": null";
  std::string out = "  \"residuals\": [";
  for (std::size_t i = 0; i < residuals->points.size(); ++i) {
    const PointResidual& p = residuals->points[i];
    out += i == 0 ? "\n" : ",\n";
    out += "    {\"number\": " + std::to_string(p.number) + ", \"x\": " + JsonNumber(p.x) +
           ", \"y\": " + JsonNumber(p.y) + ", \"X\": " + JsonNumber(p.X) +
           ", \"Y\": " + JsonNumber(p.Y) + ", \"ex\": " + JsonNumber(p.ex) +
           ", \"ey\": " + JsonNumber(p.ey) + ", \"length\": " + JsonNumber(p.length) +
           ", \"flagged\": " + (p.flagged ? "true" : "false") + "}";
  }
  out += residuals->points.empty() ? "],\n" : "\n  ],\n";
  const ResidualSummary& s = residuals->summary;
  out += "  \"residual_summary\": {\"cost\": " + JsonNumber(s.cost) +
         ", \"sigma\": " + JsonNumber(s.sigma) + ", \"largest\": " + JsonNumber(s.largest) +
         ", \"largest_number\": " + std::to_string(s.largestNumber) +
         ", \"flagged_count\": " + std::to_string(s.flaggedCount) +
         ", \"sigma_count\": " + JsonNumber(s.sigmaCount) + "}";
  return out;
}

// A JSON string: quotes, backslashes and control characters escaped, UTF-8 as it is.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

// The name of an estimate level, as --level takes it.
const char* LevelName(int level) {
  switch (level) {
    case 1:
      return "normal";
    case 3:
      return "precise";
    case kRigorousLevel:
      return "rigorous";
    default:
      return "fast";
  }
}

// `residuals`: the residual members to add, or nothing.
void PrintJson(const OrientationState& state, const std::string* residuals) {
  const OrientationValues& values = state.Values;
  const auto list = [](const auto& numbers, int first, int count) {
    std::string out = "[";
    for (int i = 0; i < count; ++i) {
      if (i > 0) out += ", ";
      out += JsonNumber(numbers[first + i]);
    }
    return out + "]";
  };
  const auto groups = [&list](const auto& numbers, const char* indent) {
    std::string out;
    for (std::size_t g = 0; g < kResultGroups.size(); ++g) {
      const ResultGroup& group = kResultGroups[g];
      out += std::string(indent) + "\"" + group.jsonKey + "\": " +
             (group.count == 1 ? JsonNumber(numbers[group.first])
                               : list(numbers, group.first, group.count)) +
             (g + 1 < kResultGroups.size() ? ",\n" : "\n");
    }
    return out;
  };
  std::printf("{\n");
  std::printf("  \"level\": \"%s\",\n", LevelName(state.Settings.EstimateLevel));
  std::string body = groups(values.values, "  ");
  body.back() = ',';
  std::printf("%s\n", body.c_str());
  std::string warnings = "[";
  for (std::size_t i = 0; i < state.Warnings.size(); ++i)
    warnings += (i == 0 ? "" : ", ") + JsonString(state.Warnings[i]);
  std::printf("  \"warnings\": %s],\n", warnings.c_str());
  std::printf("  \"focal_length\": {\"value\": %s, \"sigma\": %s, \"estimated\": %s},\n",
              JsonNumber(state.FocalLength.value).c_str(),
              JsonNumber(state.FocalLength.sigma).c_str(),
              state.FocalLength.estimated ? "true" : "false");
  if (state.Precision.known) {
    std::printf("  \"sigma\": {\n%s  },\n", groups(state.Precision.sigma, "    ").c_str());
    std::printf("  \"sigma0_px\": %s,\n", JsonNumber(state.Precision.sigma0).c_str());
    std::string outliers = "[";
    for (std::size_t i = 0; i < state.Precision.outliers.size(); ++i)
      outliers += (i == 0 ? "" : ", ") + std::to_string(state.Precision.outliers[i]);
    std::printf("  \"outliers\": %s],\n", outliers.c_str());
  }
  std::printf("  \"cost\": %s%s\n", values.costKnown ? JsonNumber(values.cost).c_str() : "null",
              residuals != nullptr ? "," : "");
  if (residuals != nullptr) std::printf("%s\n", residuals->c_str());
  std::printf("}\n");
}

}  // namespace

int RunOrientCommand(int argc, char** argv) {
  std::string files[3];
  int fileCount = 0;
  std::string outPath;
  std::string logPath;
  bool json = false;
  bool residualsWanted = false;
  int threads = 0;  // 0: one per core
  OrientationState state;
  RefinementSettings& settings = state.Settings;

  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto value = [&](std::string& out) {
      if (i + 1 >= argc) return false;
      out = argv[++i];
      return true;
    };
    std::string v;
    if (arg == "--help" || arg == "-h") {
      std::fputs(kOrientUsage, stdout);
      return 0;
    } else if (arg == "--json") {
      json = true;
    } else if (arg == "--residuals") {
      residualsWanted = true;
    } else if (arg == "--sigma-count") {
      std::optional<double> k;
      if (!value(v) || v.find(',') != std::string::npos || !(k = ParseNumber(v)) || !(*k >= 0))
        return UsageError("--sigma-count needs a number of 0 or more");
      state.SigmaCount = *k;
    } else if (arg == "--vary-hi") {
      settings.VaryHi = true;
    } else if (arg == "--level") {
      if (!value(v)) return UsageError("--level needs 0, 1, 3 or 4");
      if (v == "0" || v == "fast")
        settings.EstimateLevel = 0;
      else if (v == "1" || v == "normal")
        settings.EstimateLevel = 1;
      else if (v == "3" || v == "precise")
        settings.EstimateLevel = 3;
      else if (v == "4" || v == "rigorous")
        settings.EstimateLevel = kRigorousLevel;
      else
        return UsageError("--level needs 0, 1, 3 or 4");
    } else if (arg == "--threads") {
      const std::optional<double> n = value(v) ? ParseNumber(v) : std::nullopt;
      if (!n || !(*n >= 1 && *n <= 256) || *n != std::floor(*n))
        return UsageError("--threads needs a whole number from 1 to 256");
      threads = static_cast<int>(*n);
    } else if (arg == "--camera-id") {
      const std::optional<long long> id = value(v) ? ParseCameraId(v) : std::nullopt;
      if (!id) return UsageError("--camera-id needs a whole number from 1");
      state.CameraId = static_cast<int>(*id);
    } else if (arg == "--out") {
      if (!value(outPath) || outPath.empty()) return UsageError("--out needs a file name");
    } else if (arg == "--log") {
      if (!value(logPath) || logPath.empty()) return UsageError("--log needs a file name");
    } else if (arg == "--decimal-separator") {
      if (!value(v) || (v != "." && v != ","))
        return UsageError("--decimal-separator needs '.' or ','");
      state.DecimalSeparator = v[0];
    } else if (arg == "--first-values" || arg == "--initial-offsets" || arg == "--final-offsets") {
      std::optional<std::array<double, 4>> four;
      if (!value(v) || !(four = ParseFour(v)))
        return UsageError(arg + " needs four numbers separated by ','");
      const auto& n = *four;
      if (arg == "--first-values") {
        settings.UseFirstValues = true;
        settings.AlFirstValue = ToRadians(n[0]);
        settings.BetFirstValue = ToRadians(n[1]);
        settings.HiFirstValue = ToRadians(n[2]);
        settings.LFirstValue = n[3];
      } else if (arg == "--initial-offsets") {
        settings.AlStart = ToRadians(n[0]);
        settings.BetStart = ToRadians(n[1]);
        settings.HiStart = ToRadians(n[2]);
        settings.LStart = n[3];
      } else {
        for (double offset : n)
          if (!(offset > 0)) return UsageError("--final-offsets must all be above 0");
        settings.AlMin = ToRadians(n[0]);
        settings.BetMin = ToRadians(n[1]);
        settings.HiMin = ToRadians(n[2]);
        settings.LMin = n[3];
      }
    } else if (arg.size() > 1 && arg[0] == '-') {
      return UsageError("unknown option " + arg);
    } else {
      if (fileCount == 3) return UsageError("too many file names");
      files[fileCount++] = arg;
    }
  }
  if (fileCount != 3) return UsageError("three file names are needed");

  state.CameraFileName = files[0];
  state.ImageFileName = files[1];
  state.SceneFileName = files[2];
  std::error_code ignored;
  state.StartDirectory = std::filesystem::current_path(ignored).string();
  settings.KeepLog = !logPath.empty();

  ConsoleUi ui;
  if (!RunOrientation(state, ui, logPath, threads)) return 1;

  // Taken at once: the residuals belong to the pose just computed.
  std::optional<Residuals> residuals;
  if (residualsWanted) {
    try {
      residuals = ResidualsOf(state);
    } catch (const ZelvError&) {
      residuals.reset();
    }
  }
  if (json) {
    const std::string members = residualsWanted ? ResidualsJson(residuals) : std::string();
    PrintJson(state, residualsWanted ? &members : nullptr);
  } else {
    for (int i = 0; i < kResultCount; ++i)
      std::printf("%s: %s\n", kResults[i].cliLabel, state.Results[i].c_str());
    if (state.Precision.known) {
      std::printf("\n");
      for (const std::string& line : PrecisionLines(state)) std::printf("%s\n", line.c_str());
    }
    if (residualsWanted) {
      std::printf("\n");
      if (residuals) {
        for (const std::string& line : ResidualTableLines(*residuals, state.DecimalSeparator))
          std::printf("%s\n", line.c_str());
      } else {
        std::printf("Residuals: not available, a control point projects to infinity\n");
      }
    }
  }
  std::fflush(stdout);

  if (!outPath.empty()) {
    try {
      WriteResultFile(outPath, state);
    } catch (const ZelvError&) {
      ui.ShowMessage("Ошибка записи ort-файла!", "Ошибка!", MessageIcon::None, Owner{});
      return 1;
    }
  }
  return 0;
}

}  // namespace zelv::cli
