#pragma once
// The exterior orientation from the fitted transformation: the sighting point, the distance, the
// stand angles, the rotation, the projection centre and the photogrammetric angles.
//
// Frames: image points are corrected pixels with the origin at the image centre and y up; scene
// points and the projection centre are in scene units (Z towards the camera). The rotation links
// a scene point (X, Y) measured from the sighting point to the image by
//   x = F·(xX·X + yX·Y) / (L − xZ·X − yZ·Y),  y = F·(xY·X + yY·Y) / (L − xZ·X − yZ·Y).

#include <functional>
#include <string>

#include "app/orientation_state.h"
#include "base/user_interface.h"
#include "solver/refinement.h"

namespace zelv {

// The nine direction cosines between the camera and scene axes.
struct Rotation {
  double xX = 0, xY = 0, xZ = 0;
  double yX = 0, yY = 0, yZ = 0;
  double zX = 0, zY = 0, zZ = 0;
};

// The rotation of the stand angles Al, Bet, Hi (radians).
Rotation AnglesToRotation(double Al, double Bet, double Hi);

// The projection centre (scene units): the sighting point plus the distance along the optical
// axis, (Sx + xZ·L, Sy + yZ·L, zZ·L). It does not depend on where the scene origin lies.
TPoint3 ProjectionCentreFromRotation(const Rotation& r, double sightingX, double sightingY,
                                     double distance);

// How one pose computation reaches outside the state.
struct PoseOptions {
  // The refinement log; empty: StartDirectory + "/" + Log1FileName.
  std::string logPath;
  // Called once at the start of every refinement round.
  std::function<void()> progress;
  // The refinement's cost; null: PointArrayCost over copies of the state's lists. Any
  // other model must give bit-identical costs (it sees the scene points moved to the sighting
  // point, in place).
  const RefinementCostModel* cost = nullptr;
  // Threads for the precise estimate's outer iterations; 0: one per core.
  int threads = 0;
  // The refinement to run in place of Refine, with the same contract (the tests and the
  // benchmark put the straightforward reference here); empty: Refine.
  std::function<void(double& Al, double& Bet, double& Hi, double& Distance,
                     RefinementContext& context)>
      refine;
};

// The orientation step after the reverse fit: the rotation and first angles from the
// coefficients, the refinement at estimate level 1 or 3, then every result field, the projection
// centre, ResultSaved false, the save command enabled and the status text emptied. Raises
// ZelvError on an arithmetic fault; ComputePose is its guard.
void OrientFromCoefficients(OrientationState& state, UserInterface& ui,
                            const PoseOptions& options = {});

// The whole pose computation on the state: forward fit, sighting point and first distance,
// scene points moved to the sighting point (they stay moved), reverse fit, OrientFromCoefficients.
// Any error is reported as "Внутренняя ошибка! Проверьте входные данные." / "Отказ"; fields
// already shown keep their values. Returns true when the result was shown.
bool ComputePose(OrientationState& state, UserInterface& ui, const PoseOptions& options = {});

}  // namespace zelv
