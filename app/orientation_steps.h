#pragma once
// The steps of one orientation (app/orientation.h), on the working data of one run: reading and
// pairing the inputs, the checks and warnings, the focal length estimated where the camera file
// gives none, the pose at the level asked and the rigorous estimate. Orient runs them in order;
// the tests run them one by one. A step reports a warning through run.progress (and keeps it in
// run.Warnings) and returns its failure; none shows anything.

#include <chrono>
#include <string>
#include <vector>

#include "app/orientation.h"
#include "files/camera_file.h"
#include "files/coordinate_file.h"
#include "points/Data_structures.h"
#include "solver/pose.h"
#include "solver/rigorous_estimate.h"
#include "solver/transformation_fit.h"

namespace zelv {

// The working data of one orientation: what it was asked, what it read and what it found.
struct OrientationRun {
  // The request.
  std::string CameraFileName;
  std::string ImageFileName;
  std::string SceneFileName;
  const GivenPoints* GivenImagePoints = nullptr;  // the request's, in place of the files
  const GivenPoints* GivenScenePoints = nullptr;
  int CameraId = 0;
  std::string StartDirectory;
  RefinementSettings Settings;
  double SigmaCount = 3.0;
  double ImageSigma = 0.5;  // pixels
  KnownValues Known;
  char DecimalSeparator = RegionalDecimalSeparator();
  OrientationProgress progress;

  // What was read: the camera and the paired points (corrected pixels; the scene points as read,
  // moved to the sighting point once the pose is computed).
  InteriorGeometry Geometry;
  VT_Points ImagePoints{1};
  VT_Points ScenePoints{1};
  std::vector<int> UncoveredPoints;   // image points no correction band covers (from 1)
  std::vector<std::string> PointIds;  // parallel to the points when paired by identifier
  PointExtras ImageExtras;            // σ of the image points, parallel to them (when given)
  PointExtras SceneExtras;            // Z, σ and roles of the scene points (when given)
  std::chrono::system_clock::time_point StartTime{};

  // What was found.
  TransformCoefficients Coefficients;
  double SightingPointX = 0;
  double SightingPointY = 0;
  double Distance = 0;
  TPoint3 ProjectionCentre{0, 0, 0};
  ResultTexts Results;  // the 21 values as shown; empty until computed
  OrientationValues Values;
  ResultPrecision Precision;
  FocalLengthUse FocalLength;
  std::vector<Warning> Warnings;
  CheckPoints Checks;
  std::vector<AdjustmentPoint> Adjusted;  // the points of the rigorous level, as given to it
  std::vector<std::string> LogLines;      // the refinement log, when kept
  bool Computing = false;                 // the checks passed and the results were cleared
};

// Takes the request into a run that has read and computed nothing yet.
void TakeRequest(OrientationRun& run, const OrientationRequest& request,
                 const OrientationProgress& progress);

// Reads the camera file, then the image points corrected by its table, then the scene points (a
// calibration file in place of the camera file: its lens model corrects the image points); stops
// at the first reader that fails and returns its failure. Where both point files have
// identifiers the points pair by them (app/point_pairing.h), kept in run.PointIds, and the
// points of one file only are left out with a warning.
Expected<void> LoadInputs(OrientationRun& run);

// True when the largest distance between two of the points (corrected pixels) is at least half
// the diagonal of the image (pixels). Raises ZelvError when the diagonal overflows.
bool CheckPointSpread(const VT_Points& points, double imageWidth, double imageHeight);

// Empties the 21 results (texts, values, precision).
void ClearResults(OrientationRun& run);

// How one pose computation of a run reaches outside it: the progress, cost, threads and
// refinement of the solver's options are passed on; the log's separator, start time and lines
// come from the run.
struct PoseOptions : PoseSolveOptions {
  // The refinement log's file; empty: StartDirectory + "/" + Log1FileName.
  std::string logPath;
};

// Takes what a pose computation found into the run: every value it computed as its text
// (FormatFixed4 with the run's separator), the sighting point, distance, coefficients, stand
// angles and centre; once complete the cost and the empty status text.
void ShowPose(OrientationRun& run, const PoseResult& result);

// The orientation step after the reverse fit, on the run's coefficients, sighting point and
// distance (PoseFromCoefficients), taken with ShowPose. Raises ZelvError on an arithmetic fault,
// after taking the values computed before it.
void OrientFromCoefficients(OrientationRun& run, const PoseOptions& options = {});

// The whole pose computation on the run (SolvePose; the scene points stay moved to the sighting
// point), taken with ShowPose; at the rigorous level the rigorous estimate after the fast one.
// A failure is "Внутренняя ошибка! Проверьте входные данные." / "Отказ" (or the rigorous level's
// refusal); values already taken keep them.
Expected<void> ComputePose(OrientationRun& run, const PoseOptions& options = {});

// The steps in order: StartTime, LoadInputs, fewer than 4 points -> "Недостаточно точек!
// Процедура прервана!" / "Ошибка!", CheckPointCounts, CheckLayout, the spread warning (a spread
// check that overflows ends the run as a failing computation does), the warning about image points
// no correction band covers, the focal length estimated where the camera file gives none (or the
// refusal), the mirrored-scene warning (levels 0, 1, 3), ClearResults and progress.computing, the
// status "Подождите. Идёт счёт...", then ComputePose with the elapsed time as progress. `logPath`
// and `threads` as OrientationRequest's.
Expected<void> RunSteps(OrientationRun& run, const std::string& logPath = "", int threads = 0);

// True when some scene point has Z ≠ 0.
bool SceneIsSpatial(const OrientationRun& run);

// What only the rigorous level handles, refused below it: a scene in space, check points and
// known values (each with a message saying to choose the rigorous level); per-point σ there is
// warned about as unused.
Expected<void> CheckAdjustmentInputs(OrientationRun& run);

// The points of the rigorous level: the image points (corrected pixels) with the scene points as
// read, their Z, σ and roles.
std::vector<AdjustmentPoint> AdjustmentPointsOf(const OrientationRun& run);

// Two lists of different lengths (paired by order) are refused before anything is computed:
// "Внутренняя ошибка! Проверьте входные данные." / "Отказ", as the fit that would index past the
// shorter list ends, with a second line giving both counts, both file names and which holds more
// points (either file may be the wrong one, so the failure names no input).
Expected<void> CheckPointCounts(const OrientationRun& run);

// The layout check at every level: image and scene points (the pairs, up to the shorter list)
// that lie all on one line or hold fewer than four distinct points are refused, naming the
// problem; all but one point on a line is refused too below the rigorous level, whose estimate
// still fixes a pose from it.
Expected<void> CheckLayout(const OrientationRun& run);

// Keeps a warning ("Предупреждение!") in run.Warnings and reports it through run.progress.
void Warn(OrientationRun& run, const std::string& text, std::vector<int> points = {});

// The pairs of the two lists in order, up to the shorter one.
std::vector<ControlPoint> ControlPointsOf(const VT_Points& imagePoints,
                                          const VT_Points& scenePoints);

// The warning about image points that no correction band covers, naming them (by their
// identifiers in `ids` when the points have them, app/point_pairing.h); nothing when there are
// none.
std::string UncoveredPointsWarning(const std::vector<int>& numbers,
                                   const std::vector<std::string>& ids = {});

// Where the camera file gives no focal length (-1), estimates it from the control points, uses
// it for this orientation (run.Geometry.FocalLength) and warns that it did; where the view
// cannot fix it, returns the refusal. Records run.FocalLength either way.
Expected<void> ProvideFocalLength(OrientationRun& run);

// At the rigorous level: warns of each reason the result is suspect (run.Precision.verdict).
void WarnIfSuspect(OrientationRun& run);

// At the fast, normal and precise levels: warns when the camera must stand on the −Z side of the
// scene plane, naming the likely cause (an axis of the scene file reversed).
void WarnIfSceneMirrored(OrientationRun& run);

// The rigorous level after the fast estimate `fast` (its pose is one of the starts): the
// rigorous estimate of `points` (the scene points as read); on success `result` holds its pose in
// the 21 values, the scene points of the run are moved to its sighting point, and run.Precision
// holds its figures. Returns the refusal otherwise.
Expected<void> RigorousPose(OrientationRun& run, const std::vector<ControlPoint>& points,
                            const PoseResult& fast, PoseResult& result);
// The same for the points of the single-photo adjustment (solver/adjustment.h) with the run's
// known values: scene points in space, check points (their misses go to run.Checks) and per-point
// σ; the covariance goes to run.Precision.covariance. A scene in space has no fast pose (`fast`
// incomplete) and no refinement cost.
Expected<void> RigorousPose(OrientationRun& run, const std::vector<AdjustmentPoint>& points,
                            const PoseResult& fast, PoseResult& result);

// The residuals at the run's result: its final stand angles, distance and focal length, its
// corrected image points and its scene points (measured from the sighting point), flagged beyond
// run.SigmaCount · σ, each point with its identifier where the points were paired by them.
// Raises ZelvError when no complete result is held or a point projects to infinity.
Residuals ResidualsOf(const OrientationRun& run);

// The run's complete result as an Orientation (the residuals taken at once).
Orientation OrientationOf(const OrientationRun& run);

}  // namespace zelv
