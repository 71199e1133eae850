#pragma once
// The orientation command's steps that need no window: loading the three files, the point-count
// refusal, the spread warning, clearing the result, the progress text and the pose computation.
// The window runs RunOrientation inside its command; zelv-cli runs it directly.

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "app/orientation_state.h"
#include "base/user_interface.h"
#include "solver/pose.h"
#include "solver/pose_conventions.h"

namespace zelv {

// Reads the camera file, then the image points corrected by its table, then the scene points (a
// calibration file in place of the camera file: its lens model corrects the image points);
// stops at the first reader that fails (the reader has shown its message). True when all read.
// Where both point files have identifiers the points pair by them (app/point_pairing.h), kept in
// state.PointIds, and the points of one file only are left out with a warning (state.Warnings).
bool LoadInputs(OrientationState& state, UserInterface& ui);

// True when the largest distance between two of the points (corrected pixels) is at least half
// the diagonal of the image (pixels). Raises ZelvError when the diagonal overflows.
bool CheckPointSpread(const VT_Points& points, double imageWidth, double imageHeight);

// Empties the 21 result fields; with no result shown there is nothing to save (ResultSaved true,
// the save command disabled). ProjectionCentre is left alone.
void ClearResults(OrientationState& state);

// "Подождите. Идёт счёт...   " followed by hours " : " minutes " : " seconds of the elapsed time
// (whole seconds; a negative duration counts as 0).
std::string ElapsedTimeText(std::chrono::system_clock::duration elapsed);

// Writes ElapsedTimeText(now - StartTime) as the status text.
void ShowElapsedTime(const OrientationState& state, UserInterface& ui);

// How one pose computation of the session reaches outside the state.
// The progress, cost, threads and refinement of the solver's options are passed on; the log's
// separator, start time and writer come from the state.
struct PoseOptions : PoseSolveOptions {
  // The refinement log; empty: StartDirectory + "/" + Log1FileName.
  std::string logPath;
};

// Shows what a pose computation found: every value it computed in its field (FormatFixed4 with
// the state's separator), the sighting point, distance, coefficients, stand angles and centre in
// the state; once complete the cost, ResultSaved false, the save command enabled and the status
// text emptied.
void ShowPose(OrientationState& state, UserInterface& ui, const PoseResult& result);

// The orientation step after the reverse fit, on the state's coefficients, sighting point and
// distance (PoseFromCoefficients), shown with ShowPose. Raises ZelvError on an arithmetic fault,
// after showing the values computed before it.
void OrientFromCoefficients(OrientationState& state, UserInterface& ui,
                            const PoseOptions& options = {});

// The whole pose computation on the state (SolvePose; the scene points stay moved to the
// sighting point), shown with ShowPose. A failure is reported as "Внутренняя ошибка! Проверьте
// входные данные." / "Отказ"; fields already shown keep their values. True when the result was
// shown.
bool ComputePose(OrientationState& state, UserInterface& ui, const PoseOptions& options = {});

// The whole orientation command: busy cursor, StartTime, LoadInputs, fewer than 4 points ->
// "Недостаточно точек! Процедура прервана!" / "Ошибка!", the spread warning (a spread check that
// overflows ends the run as a failing computation does), the warning about image points no
// correction band covers, the focal length estimated where the camera file gives none (or the
// refusal), the mirrored-scene warning (levels 0, 1, 3), ClearResults, the status "Подождите.
// Идёт счёт...", then ComputePose (which at the rigorous level runs the rigorous estimate after
// the fast one, app/rigorous_level.h). Every warning shown is kept in state.Warnings. Returns true
// when a result was shown.
// `logPath` is where the refinement log goes when it is kept; empty: StartDirectory + "/" +
// Log1FileName. `threads` run the precise estimate's outer iterations (0: one per core); the
// result does not depend on it.
bool RunOrientation(OrientationState& state, UserInterface& ui, const std::string& logPath = "",
                    int threads = 0);

// The shown result's pose (its direction cosines and projection centre, full precision) in
// OpenCV's, COLMAP's and the omega-phi-kappa conventions (solver/pose_conventions.h); nothing
// while no complete result is held.
std::optional<StandardPose> StandardPoseOfResult(const OrientationState& state);

}  // namespace zelv
