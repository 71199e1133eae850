#include "app/orientation_session.h"

#include <algorithm>
#include <cmath>

#include "app/point_pairing.h"
#include "app/rigorous_level.h"
#include "base/zelv_error.h"
#include "files/calibration_file.h"
#include "files/coordinate_file.h"
#include "files/text_file.h"
#include "solver/point_spread.h"

namespace zelv {

namespace {

// Pairs the points just read (app/point_pairing.h): by identifier where both files have them,
// with a warning for each file that has points the other lacks. The numbers of the uncovered
// image points follow the pairing.
void PairInputs(OrientationState& state, UserInterface& ui,
                const std::vector<std::string>& imageIds,
                const std::vector<std::string>& sceneIds) {
  PointPairing pairing = PairPoints(state.ImagePoints, imageIds, state.ScenePoints, sceneIds);
  state.PointIds = std::move(pairing.ids);  // not copied: millions of identifiers are no small copy
  if (!pairing.byIdentifier) return;
  std::vector<int> uncovered;
  // The reader lists the uncovered points in file order, ascending: a search, not a scan per
  // point, so millions of points with identifiers are not paired in quadratic time.
  for (std::size_t i = 0; i < pairing.imageIndex.size(); ++i)
    if (std::binary_search(state.UncoveredPoints.begin(), state.UncoveredPoints.end(),
                           pairing.imageIndex[i] + 1))
      uncovered.push_back(static_cast<int>(i) + 1);
  state.UncoveredPoints = std::move(uncovered);
  for (const std::string& warning : PairingWarnings(pairing)) Warn(state, ui, warning);
}

bool ReadInputs(OrientationState& state, UserInterface& ui) {
  InteriorGeometry& g = state.Geometry;
  state.UncoveredPoints.clear();  // a lens model covers every point
  std::vector<std::string> imageIds;
  std::vector<std::string> sceneIds;
  // A calibration file gives the interior geometry and a lens model that corrects the points.
  if (DetectCameraFileFormat(state.CameraFileName) != CameraFileFormat::CamFile) {
    if (!ReadCalibrationFile(state.CameraFileName, state.CameraId, g, ui)) return false;
    if (!ReadCalibratedImagePoints(state.ImageFileName, state.ImagePoints, *g.Lens, ui, &imageIds))
      return false;
  } else {
    if (!ReadCameraFile(state.CameraFileName, g, ui)) return false;
    if (!ReadImagePoints(state.ImageFileName, state.ImagePoints, g.CorrectionTable, g.ImageCentreX,
                         g.ImageCentreY, ui, &state.UncoveredPoints, &imageIds))
      return false;
  }
  if (!ReadScenePoints(state.SceneFileName, state.ScenePoints, ui, &sceneIds)) return false;
  PairInputs(state, ui, imageIds, sceneIds);
  return true;
}

}  // namespace

bool LoadInputs(OrientationState& state, UserInterface& ui) {
  state.PointIds.clear();
  return ReadInputs(state, ui);
}

bool CheckPointSpread(const VT_Points& points, double imageWidth, double imageHeight) {
  // An image size whose square overflows raises, as every overflow of the computation does.
  const double diagonal = std::sqrt(
      Finite(imageWidth * imageWidth + imageHeight * imageHeight, "the image diagonal overflows"));
  return 0.5 * diagonal <= LargestPointDistance(points);
}

void ClearResults(OrientationState& state) {
  for (std::string& text : state.Results) text.clear();
  state.Values = OrientationValues{};
  // Emptied fields hold no result: nothing to save, nothing to ask about at closing.
  state.ResultSaved = true;
  state.SaveEnabled = false;
  state.Precision = ResultPrecision{};
}

namespace {

PoseSolveOptions SolveOptionsFor(const OrientationState& state, const PoseOptions& options) {
  PoseSolveOptions solve = options;
  solve.decimalSeparator = state.DecimalSeparator;
  solve.startTime = state.StartTime;
  const std::string logPath = options.logPath.empty()
                                  ? state.StartDirectory + "/" + state.Settings.Log1FileName
                                  : options.logPath;
  solve.writeLog = [logPath](const std::vector<std::string>& lines) {
    SaveTextLines(logPath, lines);
  };
  return solve;
}

}  // namespace

void ShowPose(OrientationState& state, UserInterface& ui, const PoseResult& result) {
  if (result.known[kSightingX]) {
    state.Coefficients = result.coefficients;
    state.SightingPointX = result.sightingX;
    state.SightingPointY = result.sightingY;
    state.Distance = result.distance;
  }
  for (int i = 0; i < kResultCount; ++i) {
    if (!result.known[i]) continue;
    state.Values.values[i] = result.values[i];
    state.Results[i] = FormatFixed4(result.values[i], state.DecimalSeparator);
  }
  if (result.known[kStandHi]) {
    state.Values.Al = result.Al;
    state.Values.Bet = result.Bet;
    state.Values.Hi = result.Hi;
  }
  if (result.known[kCentreZ]) state.ProjectionCentre = result.centre;
  if (!result.complete) return;
  state.Values.cost = result.cost;
  state.Values.costKnown = result.costKnown;
  state.Values.complete = true;
  state.ResultSaved = false;
  state.SaveEnabled = true;
  ui.SetStatusText("");
}

void OrientFromCoefficients(OrientationState& state, UserInterface& ui,
                            const PoseOptions& options) {
  PoseResult result;
  try {
    PoseFromCoefficients(state.Coefficients, state.ImagePoints, state.ScenePoints,
                         state.Geometry.FocalLength, state.SightingPointX, state.SightingPointY,
                         state.Distance, state.Settings, SolveOptionsFor(state, options), result);
  } catch (const ZelvError&) {
    ShowPose(state, ui, result);
    throw;
  }
  ShowPose(state, ui, result);
}

bool ComputePose(OrientationState& state, UserInterface& ui, const PoseOptions& options) {
  const bool rigorous = state.Settings.EstimateLevel == kRigorousLevel;
  // The rigorous level starts from the fast pose, and needs the scene points as read.
  const std::vector<ControlPoint> points =
      rigorous ? ControlPointsOf(state.ImagePoints, state.ScenePoints)
               : std::vector<ControlPoint>{};
  PoseResult result = SolvePose(state.ImagePoints, state.ScenePoints, state.Geometry.FocalLength,
                                state.Settings, SolveOptionsFor(state, options));
  if (rigorous) {
    const PoseResult fast = result;
    if (!RigorousPose(state, ui, points, fast, result)) return false;
  }
  ShowPose(state, ui, result);
  if (!result.complete)
    ui.ShowMessage("Внутренняя ошибка! Проверьте входные данные.", "Отказ",
                   MessageIcon::Exclamation, Owner{});
  return result.complete;
}

std::string ElapsedTimeText(std::chrono::system_clock::duration elapsed) {
  long long seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  if (seconds < 0) seconds = 0;
  return "Подождите. Идёт счёт...   " + std::to_string(seconds / 3600) + " : " +
         std::to_string(seconds / 60 % 60) + " : " + std::to_string(seconds % 60);
}

void ShowElapsedTime(const OrientationState& state, UserInterface& ui) {
  ui.SetStatusText(ElapsedTimeText(std::chrono::system_clock::now() - state.StartTime));
}

bool RunOrientation(OrientationState& state, UserInterface& ui, const std::string& logPath,
                    int threads) {
  TWaitCursor waitCursor(ui);
  state.StartTime = std::chrono::system_clock::now();
  state.Warnings.clear();
  if (!LoadInputs(state, ui)) return false;
  if (state.ImagePoints.Count() < 4 || state.ScenePoints.Count() < 4) {
    ui.ShowMessage("Недостаточно точек! Процедура прервана!", "Ошибка!", MessageIcon::None,
                   Owner{});
    return false;
  }
  bool spread = false;
  try {
    spread =
        CheckPointSpread(state.ImagePoints, state.Geometry.ImageWidth, state.Geometry.ImageHeight);
  } catch (const ZelvError&) {
    ui.ShowMessage("Внутренняя ошибка! Проверьте входные данные.", "Отказ",
                   MessageIcon::Exclamation, Owner{});
    return false;
  }
  if (!spread)
    Warn(state, ui, "Реперные точки расположены слишком кучно. Достоверность результата низкая.");
  if (!state.UncoveredPoints.empty())
    Warn(state, ui, UncoveredPointsWarning(state.UncoveredPoints, state.PointIds));
  if (!ProvideFocalLength(state, ui)) return false;
  // The rigorous level refuses a camera behind the plane; the others warn.
  if (state.Settings.EstimateLevel != kRigorousLevel) WarnIfSceneMirrored(state, ui);
  ClearResults(state);
  ui.SetStatusText("Подождите. Идёт счёт...");
  PoseOptions options;
  options.logPath = logPath;
  options.threads = threads;
  options.progress = [&state, &ui] { ShowElapsedTime(state, ui); };
  return ComputePose(state, ui, options);
}

std::optional<StandardPose> StandardPoseOfResult(const OrientationState& state) {
  if (!state.Values.complete) return std::nullopt;
  const auto& v = state.Values.values;
  const Rotation M{v[kCosXX], v[kCosXY], v[kCosXZ], v[kCosYX], v[kCosYY],
                   v[kCosYZ], v[kCosZX], v[kCosZY], v[kCosZZ]};
  return StandardPoseOf(M, TPoint3(v[kCentreX], v[kCentreY], v[kCentreZ]));
}

}  // namespace zelv
