#include "cli/orientation_options.h"

#include <sys/stat.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string_view>

#include "base/angles.h"
#include "base/number_text.h"
#include "base/version.h"
#include "cli/camera_id.h"
#include "cli/standard_output.h"
#include "files/calibration_file.h"
#include "files/camera_file.h"
#include "files/text_file.h"

namespace zelv::cli {
namespace {

namespace fs = std::filesystem;

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

Json Numbers(const double* values, int count) {
  Json list = Json::array();
  for (int i = 0; i < count; ++i) list.push_back(JsonNumber(values[i]));
  return list;
}

// The six groups of the 21 values (or of their σ) as members of `out`.
void AddGroups(Json& out, const std::array<double, kResultCount>& values) {
  for (const ResultGroup& group : kResultGroups)
    out[group.jsonKey] = group.count == 1 ? JsonNumber(values[group.first])
                                          : Numbers(&values[group.first], group.count);
}

const char* SuspicionName(RigorousSuspicion reason) {
  switch (reason) {
    case RigorousSuspicion::kSigma0TooLarge:
      return "sigma0_too_large";
    case RigorousSuspicion::kMirrorPoseFits:
      return "mirror_pose_fits";
    case RigorousSuspicion::kNearCollinear:
      return "near_collinear";
  }
  return "";
}

Json PoseJson(const StandardPose& pose);

// The rigorous level's verdict, intervals and second solution.
void AddVerdictMembers(Json& out, const ResultPrecision& p) {
  out["quality"] = p.verdict.suspect ? "suspect" : "ok";
  Json reasons = Json::array();
  for (RigorousSuspicion reason : p.verdict.reasons) reasons.push_back(SuspicionName(reason));
  out["verdict"] = {{"reasons", reasons},
                    {"image_sigma_px", JsonNumber(p.verdict.imageSigma)},
                    {"chi_square", JsonNumber(p.verdict.chiSquare)},
                    {"chi_square_limit", JsonNumber(p.verdict.chiSquareLimit)},
                    {"p_value", JsonNumber(p.verdict.pValue)},
                    {"redundancy", p.redundancy}};
  out["interval95_t"] = JsonNumber(p.tQuantile95);
  if (p.alternative.present) {
    Json alternative = Json::object();
    AddGroups(alternative, p.alternative.values);
    const std::array<double, kResultCount>& v = p.alternative.values;
    const Rotation M{v[kCosXX], v[kCosXY], v[kCosXZ], v[kCosYX], v[kCosYY],
                     v[kCosYZ], v[kCosZX], v[kCosZY], v[kCosZZ]};
    alternative["pose"] =
        PoseJson(StandardPoseOf(M, TPoint3(v[kCentreX], v[kCentreY], v[kCentreZ])));
    alternative["focal_length"] = JsonNumber(p.alternative.focalLength);
    alternative["sigma0_px"] = JsonNumber(p.alternative.sigma0);
    alternative["chi_square_difference"] = JsonNumber(p.alternative.chiSquareDifference);
    alternative["distinguishable"] = p.alternative.distinguishable;
    out["alternative"] = alternative;
  } else {
    out["alternative"] = nullptr;
  }
}

// A square matrix of n² values, row by row, as rows.
Json Rows(const std::vector<double>& values, std::size_t n) {
  Json rows = Json::array();
  for (std::size_t i = 0; i < n; ++i) rows.push_back(Numbers(&values[i * n], static_cast<int>(n)));
  return rows;
}

// The covariance of the pose parameters, its correlations (0 beside a fixed parameter) and the
// centre's error ellipsoid.
void AddCovarianceMembers(Json& out, const PoseCovariance& c) {
  const std::size_t n = c.parameters.size();
  if (n == 0 || c.matrix.size() != n * n) return;
  std::vector<double> correlation(n * n, 0.0);
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = 0; j < n; ++j) {
      const double d = c.matrix[i * n + i] * c.matrix[j * n + j];
      if (d > 0 && std::isfinite(d)) correlation[i * n + j] = c.matrix[i * n + j] / std::sqrt(d);
    }
  out["covariance"] = {{"parameters", c.parameters},
                       {"units", "omega, phi, kappa: radians; X0, Y0, Z0: scene units; f: pixels"},
                       {"matrix", Rows(c.matrix, n)},
                       {"correlation", Rows(correlation, n)}};
  if (c.valueCovariance.size() == static_cast<std::size_t>(kResultCount * kResultCount))
    out["value_covariance"] = Rows(c.valueCovariance, kResultCount);
  Json axes = Json::array();
  for (const auto& axis : c.centreAxes) axes.push_back(Numbers(axis.data(), 3));
  out["centre_ellipsoid_95"] = {{"semi_axes", Numbers(c.centreSemiAxes.data(), 3)}, {"axes", axes}};
}

// The check points: each one's image residual and scene miss, and both root-mean-square misses.
void AddCheckPointMembers(Json& out, const CheckPoints& checks) {
  if (checks.points.empty()) return;
  Json points = Json::array();
  for (const CheckPointResult& p : checks.points) {
    Json point = {{"number", p.number}};
    if (!p.id.empty()) point["id"] = p.id;
    point["image_residual"] = {JsonNumber(p.ex), JsonNumber(p.ey)};
    if (p.sceneKnown) point["scene_miss"] = {JsonNumber(p.dX), JsonNumber(p.dY)};
    points.push_back(point);
  }
  out["check_points"] = {{"points", points},
                         {"image_rmse", JsonNumber(checks.imageRmse)},
                         {"scene_rmse", JsonNumber(checks.sceneRmse)}};
}

Json PoseJson(const StandardPose& pose) {
  Json out = Json::object();
  out["R"] = Numbers(pose.R.data(), 9);
  out["t"] = Numbers(pose.t.data(), 3);
  out["rvec"] = Numbers(pose.rvec.data(), 3);
  out["colmap"] = {{"qw", JsonNumber(pose.qw)},   {"qx", JsonNumber(pose.qx)},
                   {"qy", JsonNumber(pose.qy)},   {"qz", JsonNumber(pose.qz)},
                   {"tx", JsonNumber(pose.t[0])}, {"ty", JsonNumber(pose.t[1])},
                   {"tz", JsonNumber(pose.t[2])}};
  out["omega_phi_kappa_deg"] = Numbers(pose.omegaPhiKappaDeg.data(), 3);
  out["convention"] = kStandardPoseConvention;
  return out;
}

}  // namespace

const char kEstimateOptionsHelp[] =
    "  --camera-id N             the camera of a COLMAP cameras.txt (default: the first one)\n"
    "  --level L                 estimate level: 0 or fast (default), 1 or normal, 3 or precise,\n"
    "                            4 or rigorous (least squares on all six pose parameters, robust,\n"
    "                            with the standard deviations of the values)\n"
    "  --first-values AL,BET,HI,L\n"
    "                            start the refinement from these stand angles (degrees) and\n"
    "                            this distance (scene units)\n"
    "  --vary-hi                 with --first-values: also start the image rotation from HI\n"
    "  --initial-offsets AL,BET,HI,L\n"
    "                            start offsets of the refinement: degrees, and percent of the\n"
    "                            distance (default 15,15,15,15)\n"
    "  --final-offsets AL,BET,HI,L\n"
    "                            final offsets, each above 0 (default 0.0001 for all four)\n"
    "  --residuals               also print each control point's residual (pixels) and their\n"
    "                            summary; with --json as \"residuals\" and \"residual_summary\"\n"
    "  --sigma-count K           flag a point whose residual exceeds K sigma (default 3)\n"
    "  --image-sigma S           the precision of an image coordinate in pixels (default 0.5);\n"
    "                            the rigorous level tests its sigma0 against it (\"quality\")\n"
    "  --known NAME=VALUE[:SIGMA]\n"
    "                            a camera value known beforehand, for the rigorous level (any\n"
    "                            number of times): centre=X,Y,Z (the projection centre, scene\n"
    "                            units), x=, y=, z= (one of its coordinates), roll= (the image\n"
    "                            rotation c, degrees), f= (focal length, pixels, in place of the\n"
    "                            camera file's); without SIGMA (or with 0) the value is held\n"
    "                            fixed, with it weighted; ':', '±' or '+-' before SIGMA, e.g.\n"
    "                            --known centre=10.5,-3,12:0.01 --known roll=0 --known f=3500:5\n"
    "  --decimal-separator C     '.' or ',' in the printed values and the written files; the\n"
    "                            default is that of the LC_NUMERIC locale\n";

void AddEstimateOptions(CLI::App& app, EstimateOptions& options) {
  app.add_option("--camera-id", options.cameraId);
  app.add_option("--level", options.level);
  app.add_option("--first-values", options.firstValues);
  app.add_flag("--vary-hi", options.varyHi);
  app.add_option("--initial-offsets", options.initialOffsets);
  app.add_option("--final-offsets", options.finalOffsets);
  app.add_flag("--residuals", options.residuals);
  app.add_option("--sigma-count", options.sigmaCount);
  app.add_option("--image-sigma", options.imageSigma);
  app.add_option("--known", options.known)->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
  app.add_option("--decimal-separator", options.decimalSeparator);
}

std::optional<std::string> ParseKnownValue(const std::string& text, KnownValues& known) {
  const std::string usage =
      "--known needs NAME=VALUE[:SIGMA] with NAME centre, x, y, z, roll or f, e.g. "
      "centre=10,20,5:0.01 or f=3500 (not '" +
      text + "')";
  const std::size_t equals = text.find('=');
  if (equals == std::string::npos) return usage;
  std::string name = text.substr(0, equals);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  std::string values = text.substr(equals + 1);
  std::string sigmaText;
  for (const std::string_view mark : {"±", "+-", ":"}) {
    const std::size_t at = values.find(mark);
    if (at == std::string::npos) continue;
    sigmaText = values.substr(at + mark.size());
    values.resize(at);
    if (sigmaText.empty()) return usage;
    break;
  }
  const auto number = [](std::string_view item) -> std::optional<double> {
    if (item.empty() || item.find_first_not_of(" 0123456789.eE+-") != std::string_view::npos)
      return std::nullopt;
    const std::optional<double> v = ParseNumber(item);
    if (!v || !std::isfinite(*v)) return std::nullopt;
    return v;
  };
  double sigma = 0;
  if (!sigmaText.empty()) {
    const std::optional<double> s = number(sigmaText);
    if (!s || *s < 0) return "--known: the sigma after the value must be a number of 0 or more";
    sigma = *s;
  }
  std::vector<double> numbers;
  for (std::string_view rest = values;;) {
    const std::size_t comma = rest.find(',');
    const std::optional<double> v = number(rest.substr(0, comma));
    if (!v) return usage;
    numbers.push_back(*v);
    if (comma == std::string_view::npos) break;
    rest.remove_prefix(comma + 1);
  }
  const bool centre = name == "centre" || name == "center";
  if (numbers.size() != (centre ? 3u : 1u))
    return centre ? "--known centre needs three values X,Y,Z" : usage;
  const auto value = [&](double v) { return KnownValue{v, sigma}; };
  if (centre) {
    known.centreX = value(numbers[0]);
    known.centreY = value(numbers[1]);
    known.centreZ = value(numbers[2]);
  } else if (name == "x") {
    known.centreX = value(numbers[0]);
  } else if (name == "y") {
    known.centreY = value(numbers[0]);
  } else if (name == "z") {
    known.centreZ = value(numbers[0]);
  } else if (name == "roll") {
    if (std::fabs(numbers[0]) > 360) return "--known roll needs -360 to 360 degrees";
    known.roll = value(numbers[0]);
  } else if (name == "f") {
    if (!(numbers[0] > 0)) return "--known f needs a focal length above 0";
    known.focalLength = value(numbers[0]);
  } else {
    return usage;
  }
  return std::nullopt;
}

std::optional<std::string> ApplyEstimateOptions(const CLI::App& app, const EstimateOptions& options,
                                                OrientationRequest& request) {
  RefinementSettings& settings = request.settings;
  // A command registers only the options that apply to it (inputs: two of them).
  const auto given = [&app](const char* name) {
    const CLI::Option* option = app.get_option_no_throw(name);
    return option != nullptr && option->count() > 0;
  };
  if (given("--camera-id")) {
    const std::optional<long long> id = ParseCameraId(options.cameraId);
    if (!id) return "--camera-id needs a whole number from 1";
    request.cameraId = static_cast<int>(*id);
  }
  if (given("--level")) {
    const std::string& v = options.level;
    if (v == "0" || v == "fast")
      settings.EstimateLevel = 0;
    else if (v == "1" || v == "normal")
      settings.EstimateLevel = 1;
    else if (v == "3" || v == "precise")
      settings.EstimateLevel = 3;
    else if (v == "4" || v == "rigorous")
      settings.EstimateLevel = kRigorousLevel;
    else
      return "--level needs 0, 1, 3 or 4";
  }
  if (given("--sigma-count")) {
    const std::string& v = options.sigmaCount;
    std::optional<double> k;
    if (v.find(',') != std::string::npos || !(k = ParseNumber(v)) || !(*k >= 0))
      return "--sigma-count needs a number of 0 or more";
    request.sigmaCount = *k;
  }
  if (given("--image-sigma")) {
    const std::string& v = options.imageSigma;
    std::optional<double> s;
    if (v.find(',') != std::string::npos || !(s = ParseNumber(v)) || !(*s > 0) ||
        !std::isfinite(*s))
      return "--image-sigma needs a number above 0";
    request.imageSigma = *s;
  }
  if (given("--decimal-separator")) {
    if (options.decimalSeparator != "." && options.decimalSeparator != ",")
      return "--decimal-separator needs '.' or ','";
    request.decimalSeparator = options.decimalSeparator[0];
  }
  for (const std::string& text : options.known)
    if (std::optional<std::string> wrong = ParseKnownValue(text, request.known)) return wrong;
  if (options.varyHi) settings.VaryHi = true;
  for (const char* name : {"--first-values", "--initial-offsets", "--final-offsets"}) {
    if (!given(name)) continue;
    const std::string_view which = name;
    const std::string& text = which == "--first-values"      ? options.firstValues
                              : which == "--initial-offsets" ? options.initialOffsets
                                                             : options.finalOffsets;
    const std::optional<std::array<double, 4>> four = ParseFour(text);
    if (!four) return std::string(name) + " needs four numbers separated by ','";
    const auto& n = *four;
    if (which == "--first-values") {
      settings.UseFirstValues = true;
      settings.AlFirstValue = ToRadians(n[0]);
      settings.BetFirstValue = ToRadians(n[1]);
      settings.HiFirstValue = ToRadians(n[2]);
      settings.LFirstValue = n[3];
    } else if (which == "--initial-offsets") {
      settings.AlStart = ToRadians(n[0]);
      settings.BetStart = ToRadians(n[1]);
      settings.HiStart = ToRadians(n[2]);
      settings.LStart = n[3];
    } else {
      for (double offset : n)
        if (!(offset > 0)) return "--final-offsets must all be above 0";
      settings.AlMin = ToRadians(n[0]);
      settings.BetMin = ToRadians(n[1]);
      settings.HiMin = ToRadians(n[2]);
      settings.LMin = n[3];
    }
  }
  return std::nullopt;
}

void AddCommonOptions(CLI::App& app, std::vector<std::string>& files) {
  // An option given twice takes its last value, as the command line always did.
  app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
  app.set_help_flag();
  app.add_flag("-h,--help");
  app.add_flag("--version");
  app.add_option("files", files);
}

int UsageError(const char* command, const std::string& what, const char* usage) {
  std::fprintf(stderr, "zelv-cli %s: %s\n%s", command, what.c_str(), usage);
  return 2;
}

std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, const char* command,
                                    const char* usage) {
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& error) {
    return UsageError(command, error.what(), usage);
  }
  if (app.count("--help") > 0) {
    Print(usage);
    return 0;
  }
  if (app.count("--version") > 0) {
    Print(std::string("zelv-cli ") + kVersion + "\n");
    return 0;
  }
  return std::nullopt;
}

std::vector<std::string> InputsWithTables(std::vector<std::string> inputs,
                                          const std::vector<std::string>& cameraFiles) {
  std::set<std::string> looked;
  for (const std::string& camera : cameraFiles)
    if (looked.insert(camera).second && FileExists(camera) &&
        DetectCameraFileFormat(camera) == CameraFileFormat::CamFile)
      if (std::optional<std::string> table = CorrectionTablePath(camera))
        inputs.push_back(std::move(*table));
  return inputs;
}

std::optional<std::string> CameraIdWithoutList(int cameraId,
                                               const std::vector<std::string>& cameraFiles) {
  if (cameraId <= 0) return std::nullopt;
  std::set<std::string> looked;
  for (const std::string& camera : cameraFiles) {
    if (!looked.insert(camera).second || !FileExists(camera)) continue;
    const CameraFileFormat format = DetectCameraFileFormat(camera);
    if (format == CameraFileFormat::ColmapCameras) continue;
    return "--camera-id chooses a camera of a COLMAP cameras.txt, and " + camera + " is " +
           (format == CameraFileFormat::CamFile ? "a .cam file" : "an OpenCV calibration file") +
           ": leave --camera-id out";
  }
  return std::nullopt;
}

std::optional<std::string> OutputOverwritingInput(const std::vector<std::string>& outputs,
                                                  const std::vector<std::string>& inputs) {
  // Each name once to a key: a file that exists by its device and inode (what
  // std::filesystem::equivalent compares), any other by its weakly canonical path, which for
  // an existing file is its own. A batch of many jobs then costs one look-up per name.
  const auto key = [](const std::string& written, bool output) {
    // An output is the file a save would write: the end of its links, also of a dangling one.
    std::string name = written;
    if (output) {
      try {
        name = WriteTarget(written);
      } catch (const ZelvError&) {
      }
    }
    const auto file = [](const std::string& path) -> std::optional<std::string> {
      struct stat info {};
      if (::stat(path.c_str(), &info) != 0) return std::nullopt;
      return "file " + std::to_string(info.st_dev) + ":" + std::to_string(info.st_ino);
    };
    if (const std::optional<std::string> k = file(name)) return *k;
    // Not there as written ("missing/../image.crd"): the canonical form may still name a file.
    std::error_code error;
    fs::path path = fs::weakly_canonical(name, error);
    if (error) path = fs::absolute(name, error).lexically_normal();
    if (const std::optional<std::string> k = file(path.string())) return *k;
    return "path " + path.string();
  };
  std::map<std::string, std::string> inputKeys;
  for (const std::string& input : inputs)
    if (!input.empty()) inputKeys.emplace(key(input, false), input);
  std::map<std::string, std::string> outputKeys;
  for (const std::string& output : outputs) {
    if (output.empty()) continue;
    const std::string k = key(output, true);
    if (const auto input = inputKeys.find(k); input != inputKeys.end())
      return "the output " + output + " is the input " + input->second;
    if (const auto [other, added] = outputKeys.emplace(k, output); !added)
      return "the outputs " + other->second + " and " + output + " are one file";
  }
  return std::nullopt;
}

Json ResultJson(const Orientation& orientation, bool residuals) {
  Json out = Json::object();
  AddResultMembers(out, orientation, residuals);
  return out;
}

Json WarningsJson(const std::vector<Warning>& warnings) { return WarningTexts(warnings); }

void AddResultMembers(Json& out, const Orientation& orientation, bool residualsWanted) {
  out["level"] = LevelName(orientation.level);
  AddGroups(out, orientation.values.values);
  out["warnings"] = WarningsJson(orientation.warnings);
  out["focal_length"] = {{"value", JsonNumber(orientation.focalLength.value)},
                         {"sigma", JsonNumber(orientation.focalLength.sigma)},
                         {"estimated", orientation.focalLength.estimated}};
  if (orientation.precision.known) {
    Json sigma = Json::object();
    AddGroups(sigma, orientation.precision.sigma);
    out["sigma"] = sigma;
    // The two parts of the σ, only where the calibration's covariance was taken into them.
    if (const auto& parts = orientation.precision.sigmaParts) {
      Json measurement = Json::object(), calibration = Json::object();
      AddGroups(measurement, parts->measurement);
      AddGroups(calibration, parts->calibration);
      out["sigma_from_measurement"] = measurement;
      out["sigma_from_calibration"] = calibration;
    }
    out["sigma0_px"] = JsonNumber(orientation.precision.sigma0);
    out["outliers"] = orientation.precision.outliers;
    AddVerdictMembers(out, orientation.precision);
    if (orientation.precision.covariance)
      AddCovarianceMembers(out, *orientation.precision.covariance);
  }
  AddCheckPointMembers(out, orientation.checkPoints);
  out["pose"] = PoseJson(orientation.pose);
  out["cost"] = orientation.values.costKnown ? JsonNumber(orientation.values.cost) : Json(nullptr);
  const std::optional<Residuals>* residuals = residualsWanted ? &orientation.residuals : nullptr;
  if (residuals != nullptr) {
    if (!*residuals) {
      out["residuals"] = nullptr;
      out["residual_summary"] = nullptr;
    } else {
      std::set<int> checks;
      for (const CheckPointResult& check : orientation.checkPoints.points)
        checks.insert(check.number);
      Json points = Json::array();
      for (const PointResidual& p : (*residuals)->points) {
        Json point = {{"number", p.number}};
        if (!p.id.empty()) point["id"] = p.id;
        point["x"] = JsonNumber(p.x);
        point["y"] = JsonNumber(p.y);
        point["X"] = JsonNumber(p.X);
        point["Y"] = JsonNumber(p.Y);
        point["ex"] = JsonNumber(p.ex);
        point["ey"] = JsonNumber(p.ey);
        point["length"] = JsonNumber(p.length);
        point["flagged"] = p.flagged;
        if (checks.count(p.number) > 0) point["check"] = true;
        points.push_back(point);
      }
      out["residuals"] = points;
      const ResidualSummary& s = (*residuals)->summary;
      out["residual_summary"] = {
          {"cost", JsonNumber(s.cost)},       {"sigma", JsonNumber(s.sigma)},
          {"largest", JsonNumber(s.largest)}, {"largest_number", s.largestNumber},
          {"flagged_count", s.flaggedCount},  {"sigma_count", JsonNumber(s.sigmaCount)}};
    }
  }
}

Json ErrorJson(const std::string& text, const std::string& caption) {
  Json out = Json::object();
  out["error"] = text;
  out["caption"] = caption;
  return out;
}

}  // namespace zelv::cli
