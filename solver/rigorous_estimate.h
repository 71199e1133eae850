#pragma once
// The rigorous estimate: the camera pose as six parameters (three rotation angles and the
// projection centre), and the focal length as a seventh where the camera file gives none, fitted
// by Levenberg–Marquardt to the reprojection errors in the corrected image, robust against
// blunders, with the standard deviations of every result value.
//
// Frames (solver/conventions.h): image points are corrected pixels, origin at the image centre,
// y up; scene points are in scene units on the plane Z = 0, the camera on the +Z side. The pose is
// reported in the same 21 values and conventions as the other estimate levels
// (base/orientation_result.h, solver/pose.h).
//
// The steps: with six or more points, random four-point homographies scored by the median of
// their squared transfer errors (a least-median search with RANSAC sampling, from a fixed seed)
// find the points that agree; the homography of those gives the two planar poses, which are
// refined together with the given start (the fast estimate's pose) by Levenberg–Marquardt, and the
// best kept; an iteratively reweighted refinement (Cauchy weights, scale from the median residual)
// over all points then decides which points are blunders; a last unweighted refinement on the
// others gives the result, σ0 and the covariance of its normal equations. With fewer than six
// points every point is used: a blunder cannot be told from the others there.
//
// Everything runs on the calling thread in a fixed order, so the result does not depend on
// threads or timing.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "base/orientation_result.h"
#include "points/Data_structures.h"

namespace zelv {

// One control point pair.
struct ControlPoint {
  double x = 0, y = 0;  // corrected image point, pixels, y up
  double X = 0, Y = 0;  // scene point, scene units
};

// A pose in the stand convention: stand angles Al, Bet, Hi (radians), distance L and the sighting
// point (Sx, Sy) (scene units), as the other estimate levels report it.
struct StandPose {
  double Al = 0, Bet = 0, Hi = 0;
  double L = 0;
  double Sx = 0, Sy = 0;
};

// The 21 result values of a stand pose, computed as every estimate level computes them.
std::array<double, kResultCount> StandPoseValues(const StandPose& pose);

enum class RigorousFailure {
  kNone,
  kTooFewPoints,            // fewer than four pairs
  kDegenerate,              // the points fix no homography or no pose (collinear, coincident)
  kBehindPlane,             // the camera stands on the −Z side of the scene plane
  kAxisMissesPlane,         // the optical axis does not meet the plane in front of the camera
  kFocalLengthUndetermined  // no focal length given, and the view cannot fix one
};

struct RigorousResult {
  RigorousFailure failure = RigorousFailure::kNone;
  StandPose pose;
  std::array<double, kResultCount> values{};  // the 21 values (units as shown)
  std::array<double, kResultCount> sigma{};   // their standard deviations, same units
  double sigma0 = 0;                          // a-posteriori σ of an image coordinate, pixels
  int redundancy = 0;                         // 2·(points used) − parameters
  double focalLength = 0;                     // pixels: the given one, or the estimate
  double focalLengthSigma = 0;                // pixels; 0 when given
  bool focalLengthEstimated = false;
  std::vector<int> outliers;  // indices (from 0) of the pairs left out as blunders, ascending
  double rmsResidual = 0;     // sqrt(Σ(ex² + ey²)/n) over the points used, pixels
};

// The rigorous estimate of the pairs. `focalLength` in pixels; 0 or below: estimate it from the
// points. `start`: a further start pose (the fast estimate's), tried beside the planar poses.
RigorousResult RigorousEstimate(const std::vector<ControlPoint>& points, double focalLength,
                                const std::optional<StandPose>& start = std::nullopt);

// True when a camera that sees the pairs in front of it must stand on the −Z side of the scene
// plane (the homography of all pairs reverses the plane's orientation): the scene frame is most
// likely mirrored. False when the pairs fix no homography.
bool SceneFrameLooksMirrored(const std::vector<ControlPoint>& points);
// The same for the pairs of two point lists (image point i with scene point i), without a copy of
// them as control points.
bool SceneFrameLooksMirrored(const VT_Points& imagePoints, const VT_Points& scenePoints);

}  // namespace zelv
