#pragma once
// The orientation's steps (app/orientation_steps.h) as the tests drive them against a scripted
// user interface: each warning and status text goes to it as it arises, a failure is shown on it
// at the end, and the step answers whether it succeeded — what the desktop's command shows.

#include "app/orientation_steps.h"
#include "base/user_interface.h"
#include "fake_ui.h"

namespace zelv {

// Warnings and status texts of a run reach `ui`.
inline OrientationProgress Reporting(UserInterface& ui) {
  OrientationProgress progress;
  progress.warned = [&ui](const Warning& warning) {
    ui.ShowMessage(warning.text, warning.caption, MessageIcon::None, Owner{});
  };
  progress.status = [&ui](const std::string& text) { ui.SetStatusText(text); };
  return progress;
}

inline bool LoadInputs(OrientationRun& run, UserInterface& ui) {
  run.progress = Reporting(ui);
  return Shown(ui, LoadInputs(run));
}

inline bool ComputePose(OrientationRun& run, UserInterface& ui, const PoseOptions& options = {}) {
  run.progress = Reporting(ui);
  return Shown(ui, ComputePose(run, options));
}

inline void OrientFromCoefficients(OrientationRun& run, UserInterface& ui,
                                   const PoseOptions& options = {}) {
  run.progress = Reporting(ui);
  OrientFromCoefficients(run, options);
}

inline void ShowPose(OrientationRun& run, UserInterface& ui, const PoseResult& result) {
  run.progress = Reporting(ui);
  ShowPose(run, result);
}

inline bool ProvideFocalLength(OrientationRun& run, UserInterface& ui) {
  run.progress = Reporting(ui);
  return Shown(ui, ProvideFocalLength(run));
}

inline void WarnIfSceneMirrored(OrientationRun& run, UserInterface& ui) {
  run.progress = Reporting(ui);
  WarnIfSceneMirrored(run);
}

inline bool RigorousPose(OrientationRun& run, UserInterface& ui,
                         const std::vector<ControlPoint>& points, const PoseResult& fast,
                         PoseResult& result) {
  run.progress = Reporting(ui);
  return Shown(ui, RigorousPose(run, points, fast, result));
}

// The whole run as the desktop's command runs it: busy cursor, then the steps.
inline bool RunOrientation(OrientationRun& run, UserInterface& ui, const std::string& logPath = "",
                           int threads = 0) {
  TWaitCursor waitCursor(ui);
  run.progress = Reporting(ui);
  return Shown(ui, RunSteps(run, logPath, threads));
}

}  // namespace zelv
