#pragma once
// The exterior orientation from the control points: the two fits of the plane-to-plane
// transformation, the sighting point and first distance, the rotation and first stand angles,
// the refinement at estimate level 1 or 3, and every one of the 21 values. Pure computation:
// inputs in, a result out. See solver/conventions.h for the frames, angles and cosines.

#include <array>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "base/orientation_result.h"
#include "points/Data_structures.h"
#include "solver/refinement.h"
#include "solver/transformation_fit.h"

namespace zelv {

// The nine direction cosines between the camera and scene axes (solver/conventions.h).
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

// How DeriveResultValues treats an arcsine beyond ±1 and a value that is not finite: the
// pattern-search levels raise ZelvError (an arithmetic fault of their computation); the rigorous
// level, whose angles come from an orthonormal rotation, clamps the arcsine and leaves the check
// of the values to its caller.
enum class ValueGuard { kRaise, kClamp };

// The one derivation of the 21 values from a pose: the stand angles Al, Bet, Hi (radians), the
// distance L and the sighting point (Sx, Sy) (scene units), which the caller keeps itself. Each
// other value goes to `keep` in the order the desktop computes them: the distance and the stand
// angles (degrees), then — from the rotation of the angles, stored in `*rotation` when given — the
// projection centre (stored in `*centre` when given), the nine direction cosines and the
// photogrammetric angles (degrees). With ValueGuard::kRaise a fault raises after the values
// before it were kept.
void DeriveResultValues(double Al, double Bet, double Hi, double L, double Sx, double Sy,
                        ValueGuard guard, const std::function<void(ResultIndex, double)>& keep,
                        Rotation* rotation = nullptr, TPoint3* centre = nullptr);

// How the pose computation reaches outside its inputs.
struct PoseSolveOptions {
  // Called once at the start of every refinement round (see RefinementContext::progress).
  std::function<void()> progress;
  // The refinement's cost; null: PointArrayCost over the point lists. Any other model must give
  // bit-identical costs (it sees the scene points moved to the sighting point).
  const RefinementCostModel* cost = nullptr;
  // Threads for the precise estimate's outer iterations; 0: one per core.
  int threads = 0;
  // The refinement to run in place of Refine, with the same contract (the tests and the
  // benchmark put the straightforward reference here); empty: Refine.
  std::function<void(double& Al, double& Bet, double& Hi, double& Distance,
                     RefinementContext& context)>
      refine;
  // The refinement log: its decimal separator, the start of the command (for its computation
  // time) and where its lines go when the settings keep it (may raise: the pose then fails).
  char decimalSeparator = '.';
  std::chrono::system_clock::time_point startTime{};
  std::function<void(const std::vector<std::string>&)> writeLog;
};

// What a pose computation found, and how far it got: `known[i]` tells which of the 21 values
// were computed before a failure (the sighting point first, then the distance and the stand
// angles, the centre, the cosines and the photogrammetric angles, in that order). `complete`
// only when all were.
struct PoseResult {
  std::array<double, kResultCount> values{};  // in ResultIndex order, angles in degrees
  std::array<bool, kResultCount> known{};
  bool complete = false;
  TransformCoefficients coefficients;   // the last fit made (the reverse one once it ran)
  double sightingX = 0, sightingY = 0;  // scene units
  double distance = 0;                  // the first distance, the final one when complete
  double Al = 0, Bet = 0, Hi = 0;       // the final stand angles, radians
  Rotation rotation;                    // orthonormal, of the final angles
  TPoint3 centre{0, 0, 0};
  double cost = 0;         // RefinementCost at the final pose, when costKnown
  bool costKnown = false;  // false when a point projects to infinity there
};

// The step after the reverse fit, for the sighting point (scene units) and first distance found
// before it: the rotation and first angles from the coefficients (a13 and a23 unused), the
// refinement at levels 1 and 3 (which may overwrite the start offsets of
// `settings`, and at UseFirstValues replaces the angles and `distance`), then the values.
// Writes into `result` as it goes (see PoseResult) and raises ZelvError on an arithmetic fault.
void PoseFromCoefficients(const TransformCoefficients& coefficients, const VT_Points& imagePoints,
                          const VT_Points& scenePoints, double F, double sightingX,
                          double sightingY, double distance, RefinementSettings& settings,
                          const PoseSolveOptions& options, PoseResult& result);

// The whole pose computation: forward fit, sighting point and first distance, scene points
// moved to the sighting point (in place: they stay moved), reverse fit, PoseFromCoefficients.
// Never raises: a failure leaves the result incomplete, with what was computed before it.
PoseResult SolvePose(const VT_Points& imagePoints, VT_Points& scenePoints, double F,
                     RefinementSettings& settings, const PoseSolveOptions& options = {});

}  // namespace zelv
