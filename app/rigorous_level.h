#pragma once
// The orientation command's steps beyond the specified estimates: the focal length estimated where
// the camera file gives none, the warnings about the inputs (a mirrored scene frame, image points
// no correction band covers), and the rigorous estimate (solver/rigorous_estimate.h) turned into
// the pose the session shows, with its standard deviations.

#include <string>
#include <vector>

#include "app/orientation_state.h"
#include "base/user_interface.h"
#include "solver/pose.h"
#include "solver/rigorous_estimate.h"

namespace zelv {

// Shows a warning ("Предупреждение!") and keeps its text in state.Warnings.
void Warn(OrientationState& state, UserInterface& ui, const std::string& text);

// The pairs of the two lists in order, up to the shorter one.
std::vector<ControlPoint> ControlPointsOf(const VT_Points& imagePoints,
                                          const VT_Points& scenePoints);

// The warning about image points that no correction band covers, naming them (by their
// identifiers in `ids` when the points have them, app/point_pairing.h); nothing when there are
// none.
std::string UncoveredPointsWarning(const std::vector<int>& numbers,
                                   const std::vector<std::string>& ids = {});

// Where the camera file gives no focal length (-1), estimates it from the control points, uses
// it for this orientation (state.Geometry.FocalLength) and warns that it did; where the view
// cannot fix it, shows the refusal and returns false. Records state.FocalLength either way.
bool ProvideFocalLength(OrientationState& state, UserInterface& ui);

// At the fast, normal and precise levels: warns when the camera must stand on the −Z side of the
// scene plane, naming the likely cause (an axis of the scene file reversed).
void WarnIfSceneMirrored(OrientationState& state, UserInterface& ui);

// The rigorous level after the fast estimate `fast` (its pose is one of the starts): the
// rigorous estimate of `points` (the scene points as read); on success `result` holds its pose in
// the 21 values, the scene points of the state are moved to its sighting point, and
// state.Precision holds its figures. On a refusal shows its message and returns false.
bool RigorousPose(OrientationState& state, UserInterface& ui,
                  const std::vector<ControlPoint>& points, const PoseResult& fast,
                  PoseResult& result);

// The rigorous estimate's figures as text lines for the command line and the window: σ0, the
// points left out, the focal length, and the σ of each group of values ('.' or ',' as given).
std::vector<std::string> PrecisionLines(const OrientationState& state);

}  // namespace zelv
