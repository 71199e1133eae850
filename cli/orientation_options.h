#pragma once
// What the orientation commands (orient, batch) share: the registration and checking of the
// estimate options, the refusal of an output that is one of the inputs, the parsing of a command
// line with its help, version and usage errors, and a result as JSON.

#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/orientation.h"
#include "cli/json_text.h"
#include "solver/residuals.h"

namespace zelv::cli {

// The estimate options as typed; checked by ApplyEstimateOptions.
struct EstimateOptions {
  std::string level;
  std::string firstValues;
  bool varyHi = false;
  std::string initialOffsets;
  std::string finalOffsets;
  std::string decimalSeparator;
  std::string cameraId;
  std::string sigmaCount;
  std::string imageSigma;
  std::vector<std::string> known;  // each --known as typed
  bool residuals = false;
};

// The help lines of the options AddEstimateOptions registers (each ends with a newline).
extern const char kEstimateOptionsHelp[];

// Registers --camera-id, --level, --first-values, --vary-hi, --initial-offsets, --final-offsets,
// --residuals, --sigma-count, --image-sigma, --known (any number of times) and
// --decimal-separator.
void AddEstimateOptions(CLI::App& app, EstimateOptions& options);

// Checks the options given and puts them into the request's settings, camera id, sigma count and
// decimal separator. The usage error's text when one is wrong.
std::optional<std::string> ApplyEstimateOptions(const CLI::App& app, const EstimateOptions& options,
                                                OrientationRequest& request);

// Takes one --known value into `known`: NAME=VALUE with an optional σ after ':', '±' or "+-";
// NAME is centre (or center; three values X,Y,Z, one σ for all), x, y or z (one coordinate of the
// centre), roll (degrees) or f (pixels); numbers with '.' as their decimal separator. A σ of 0 or
// none holds the value fixed. The usage error's text when it does not read.
std::optional<std::string> ParseKnownValue(const std::string& text, KnownValues& known);

// Registers -h/--help and --version in place of CLI11's own, and the file names as positional
// arguments; an option given twice takes its last value. Call before registering the others.
void AddCommonOptions(CLI::App& app, std::vector<std::string>& files);

// Parses the command line of `command` ("orient", ...). Returns the exit code when the command is
// over: 0 after the usage text `usage` (--help) or the version (--version) on standard output,
// 2 after "zelv-cli COMMAND: <what>" and the usage on standard error; nothing when it goes on.
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv, const char* command,
                                    const char* usage);

// "zelv-cli COMMAND: <what>" and the usage text on standard error; returns 2.
int UsageError(const char* command, const std::string& what, const char* usage);

// The usage error's text when an output file (nonempty names in `outputs`) is one of the
// `inputs` or another output: the same file when both exist, the same weakly canonical path
// otherwise. An output that is a symbolic link counts as the file it leads to, also when that
// file does not exist yet.
std::optional<std::string> OutputOverwritingInput(const std::vector<std::string>& outputs,
                                                  const std::vector<std::string>& inputs);

// `inputs` and the correction table each of the camera files names (files/camera_file.h), each
// camera file looked at once: the table is an input no output may replace.
std::vector<std::string> InputsWithTables(std::vector<std::string> inputs,
                                          const std::vector<std::string>& cameraFiles);

// The usage error's text when --camera-id was given (`cameraId` above 0) with a camera file that
// is no COLMAP camera list (a ".cam" file or an OpenCV calibration): a camera id chooses a camera
// of a list only. Each existing camera file is looked at once.
std::optional<std::string> CameraIdWithoutList(int cameraId,
                                               const std::vector<std::string>& cameraFiles);

// The result of an orientation as orient --json prints it: the level, the 21 values, the
// warnings, the focal length, the rigorous estimate's figures when known, the pose in the
// standard conventions, the cost, and when `residuals` the residuals and their summary (null
// when a point projects to infinity).
Json ResultJson(const Orientation& orientation, bool residuals);
// The same members added to `out`.
void AddResultMembers(Json& out, const Orientation& orientation, bool residuals);

// The warnings' texts, in order.
Json WarningsJson(const std::vector<Warning>& warnings);

// {"error": text, "caption": caption}.
Json ErrorJson(const std::string& text, const std::string& caption);

}  // namespace zelv::cli
