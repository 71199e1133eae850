#include "app/orientation_session.h"

#include <cmath>

#include "files/coordinate_file.h"
#include "solver/point_spread.h"
#include "solver/pose.h"

namespace zelv {

bool LoadInputs(OrientationState& state, UserInterface& ui) {
  InteriorGeometry& g = state.Geometry;
  if (!ReadCameraFile(state.CameraFileName, g, ui)) return false;
  if (!ReadImagePoints(state.ImageFileName, state.ImagePoints, g.CorrectionTable, g.ImageCentreX,
                       g.ImageCentreY, ui))
    return false;
  return ReadScenePoints(state.SceneFileName, state.ScenePoints, ui);
}

bool CheckPointSpread(const VT_Points& points, double imageWidth, double imageHeight) {
  const double diagonal = std::sqrt(imageWidth * imageWidth + imageHeight * imageHeight);
  return 0.5 * diagonal <= LargestPointDistance(points);
}

void ClearResults(OrientationState& state) {
  for (std::string& text : state.Results) text.clear();
  state.Values = OrientationValues{};
  // Emptied fields hold no result: nothing to save, nothing to ask about at closing.
  state.ResultSaved = true;
  state.SaveEnabled = false;
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
  if (!LoadInputs(state, ui)) return false;
  if (state.ImagePoints.Count() < 4 || state.ScenePoints.Count() < 4) {
    ui.ShowMessage("Недостаточно точек! Процедура прервана!", "Ошибка!", MessageIcon::None,
                   Owner{});
    return false;
  }
  if (!CheckPointSpread(state.ImagePoints, state.Geometry.ImageWidth, state.Geometry.ImageHeight))
    ui.ShowMessage("Реперные точки расположены слишком кучно. Достоверность результата низкая.",
                   "Предупреждение!", MessageIcon::None, Owner{});
  ClearResults(state);
  ui.SetStatusText("Подождите. Идёт счёт...");
  PoseOptions options;
  options.logPath = logPath;
  options.threads = threads;
  options.progress = [&state, &ui] { ShowElapsedTime(state, ui); };
  return ComputePose(state, ui, options);
}

}  // namespace zelv
