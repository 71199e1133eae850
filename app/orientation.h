#pragma once
// One orientation as a value. Orient reads the three inputs, checks them, computes the pose at
// the level asked and returns everything a front end shows or writes — the 21 values, the
// precision, the pose in the standard conventions, the residuals, the warnings and the log — or
// the failure that ended the run. It changes none of its inputs and shows nothing: the session
// (app/orientation_session.h) shows its warnings and failure, the window its fields, zelv-cli its
// text or JSON. Frames and units: solver/conventions.h.

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "base/number_text.h"
#include "base/orientation_result.h"
#include "files/camera_file.h"
#include "files/coordinate_file.h"
#include "points/Data_structures.h"
#include "solver/adjustment.h"
#include "solver/pose_conventions.h"
#include "solver/refinement_settings.h"
#include "solver/residuals.h"
#include "solver/rigorous_estimate.h"

namespace zelv {

// What one orientation starts from.
struct OrientationRequest {
  std::string cameraFile;  // a camera file (".cam"), or an OpenCV / COLMAP calibration
  std::string imageFile;   // the image points (raw pixels, x right, y down)
  std::string sceneFile;   // the scene points (scene units)
  int cameraId = 0;        // the camera of a COLMAP camera list; 0: the first one listed
  // Points given in memory in place of the image or the scene file (a script's arrays), read as
  // that file would be; the file's name is then not read.
  std::optional<GivenPoints> imagePoints;
  std::optional<GivenPoints> scenePoints;
  // The estimate level (settings.EstimateLevel: 0, 1, 3 or kRigorousLevel) and the refinement's
  // settings; KeepLog writes the refinement log to `logPath`.
  RefinementSettings settings;
  double sigmaCount = 3.0;  // residuals beyond sigmaCount · σ are flagged
  // The a-priori σ of one image coordinate, pixels: the rigorous level tests σ0 against it.
  double imageSigma = 0.5;
  char decimalSeparator = RegionalDecimalSeparator();  // of the texts, the log and the files
  // Where the refinement log goes when it is kept; empty: startDirectory + "/" + Log1FileName.
  std::string logPath;
  std::string startDirectory;  // the process's current directory at start-up
  int threads = 0;             // threads of the precise estimate (0: one per core); no effect
                               // on the result
  // Camera values known beforehand (the rigorous level only): the projection centre (scene
  // units), the roll (the image rotation c, degrees) and the focal length (pixels, in place of
  // the camera file's); each fixed (σ 0), weighted (σ > 0) or absent (free).
  KnownValues known;

  // The first thing wrong with the request (in English, as the command line reports it);
  // nothing when it can run.
  std::optional<std::string> Check() const;
};

// A warning about the inputs or the result: its text, caption and the points it names (numbers
// from 1, in the order of the paired points).
struct Warning {
  std::string text;
  std::string caption = "Предупреждение!";
  std::vector<int> points;
};

// The texts of the warnings, in order.
std::vector<std::string> WarningTexts(const std::vector<Warning>& warnings);

// How a running orientation reaches its caller before it returns (each may be empty). They are
// called on the caller's thread, in the order the desktop has always shown them.
struct OrientationProgress {
  std::function<void(const Warning&)> warned;      // a warning, as it arises
  std::function<void()> computing;                 // the inputs passed their checks
  std::function<void(const std::string&)> status;  // the progress text
};

// The covariance of the pose parameters the rigorous level fitted, and the centre's error
// ellipsoid that follows from it. Parameters in the order of `matrix`: "omega", "phi", "kappa"
// (the omega-phi-kappa rotation of StandardPose, radians), "X0", "Y0", "Z0" (the projection centre,
// scene units) and, where the focal length was estimated, "f" (pixels). A parameter held fixed has
// zero rows and columns.
struct PoseCovariance {
  std::vector<std::string> parameters;
  std::vector<double> matrix;  // parameters.size()² values, row by row, in the units above
  // The 95 % error ellipsoid of the projection centre: its semi-axes (scene units, largest first)
  // and their unit directions in the scene frame, one per semi-axis.
  std::array<double, 3> centreSemiAxes{};
  std::array<std::array<double, 3>, 3> centreAxes{};
  // The covariance of the 21 values by propagation, kResultCount² values row by row (their
  // units); empty when not computed.
  std::vector<double> valueCovariance;
};

// A check point at the result: out of the fit, its image residual and its miss in the scene.
struct CheckPointResult {
  int number = 0;         // from 1, in the order of the paired points
  std::string id;         // its identifier where the files have them
  double ex = 0, ey = 0;  // image residual (measured − projected), pixels
  // The point's image ray met at the point's own Z, minus the point (scene units); absent when
  // the ray runs parallel to that plane.
  bool sceneKnown = false;
  double dX = 0, dY = 0;
};

// The check points of a rigorous result and their root-mean-square misses.
struct CheckPoints {
  std::vector<CheckPointResult> points;
  double imageRmse = 0;  // pixels
  double sceneRmse = 0;  // scene units, over the points whose miss is known
};

// The rigorous estimate's figures of a result: the standard deviations of the 21 values (their
// units), σ0 (pixels, a posteriori) with its redundancy, the points it left out as blunders
// (numbers from 1), Student's t for the 95 % intervals (± t·σ; 0 without redundancy), the
// verdict on σ0 and the layout, and the mirror pose where it is a distinct minimum (its
// `values` in the result's units). Valid when `known`.
struct ResultPrecision {
  bool known = false;
  std::array<double, kResultCount> sigma{};
  double sigma0 = 0;
  int redundancy = 0;
  std::vector<int> outliers;
  double tQuantile95 = 0;
  RigorousVerdict verdict;
  RigorousAlternative alternative;
  RigorousGeometry geometry;
  std::optional<PoseCovariance> covariance;  // where the rigorous level computed it
  // Where the camera's calibration states the covariance of its intrinsics, the two parts of
  // `sigma`: the measurement's (the intrinsics taken as exact) and the calibration's
  // (app/calibration_uncertainty.h); `sigma` is then sqrt(measurement² + calibration²), and
  // `covariance` and the focal length's σ hold the sum of both parts. Absent otherwise.
  struct SigmaParts {
    std::array<double, kResultCount> measurement{};
    std::array<double, kResultCount> calibration{};
  };
  std::optional<SigmaParts> sigmaParts;
};

// The focal length the orientation used (pixels): the camera file's, or where it gives none the
// estimate from the control points, with its σ (0 when given).
struct FocalLengthUse {
  double value = 0;
  double sigma = 0;
  bool estimated = false;
};

// Everything a front end shows or writes of one orientation.
struct Orientation {
  int level = 0;                // the estimate level computed
  char decimalSeparator = '.';  // of `texts`
  ResultTexts texts;            // the 21 values as the fields show them (FormatFixed4)
  OrientationValues values;     // the numbers behind them (complete)
  TPoint3 centre{0, 0, 0};      // the projection centre, scene units
  ResultPrecision precision;    // the rigorous level's figures
  FocalLengthUse focalLength;
  std::vector<Warning> warnings;  // every warning of the run, in order
  StandardPose pose;              // OpenCV's, COLMAP's and the omega-phi-kappa conventions
  // The residuals at the result's pose, flagged beyond sigmaCount · σ; nothing when a point
  // projects to infinity there.
  std::optional<Residuals> residuals;
  std::vector<std::string> pointIds;  // identifiers of the paired points; empty: paired by order
  CheckPoints checkPoints;            // the rigorous level's check points (none below it)
  bool spatial = false;               // some scene point has Z ≠ 0
  // The camera as read (a calibration file: its lens model); FocalLength the one used.
  InteriorGeometry camera;
  std::vector<std::string> log;  // the refinement log's lines, when kept
  // The refinement's settings as the run left them: the precise estimate sets its start offsets
  // (the desktop keeps them for its next run).
  RefinementSettings settings;
};

// Why an orientation ended without a result: the message, the warnings before it, and — when the
// run had begun computing (the fields are cleared then) — the values it showed before it failed
// (empty texts for the others).
struct OrientationFailure : Failure {
  OrientationFailure() = default;
  OrientationFailure(Failure failure) : Failure(std::move(failure)) {}  // NOLINT
  std::vector<Warning> warnings;
  std::optional<ResultTexts> shown;
  RefinementSettings settings;  // as Orientation::settings
};

using OrientationOutcome = Expected<Orientation, OrientationFailure>;

// The orientation of `request`: reads the camera (or calibration) file, the image points
// corrected by it and the scene points, pairs them (by identifier where both files have them),
// refuses fewer than 4 points, warns about bunched points, uncovered points, an estimated focal
// length and a mirrored scene frame, then computes the pose at the level asked (the rigorous
// level after the fast one). Failures carry the exact messages of the desktop.
OrientationOutcome Orient(const OrientationRequest& request,
                          const OrientationProgress& progress = {});

// The name of an estimate level as the command line and the Python module take it: "fast",
// "normal", "precise" or "rigorous".
const char* LevelName(int level);

// "Подождите. Идёт счёт...   " followed by hours " : " minutes " : " seconds of the elapsed time
// (whole seconds; a negative duration counts as 0).
std::string ElapsedTimeText(std::chrono::system_clock::duration elapsed);

// The rigorous estimate's figures as text lines for the command line and the window: σ0, the
// points left out, the focal length, and the σ of each group of values; nothing when the result
// has none.
// With the covariance: the centre's error ellipsoid and the strong correlations; with check
// points: their root-mean-square misses.
std::vector<std::string> PrecisionLines(const Orientation& orientation);

// The pairs of pose parameters correlated beyond |r| > 0.9, as "omega–phi 0.95" (r with two
// decimals and that separator), in the order of the matrix.
std::vector<std::string> StrongCorrelations(const PoseCovariance& covariance, char separator);

}  // namespace zelv
