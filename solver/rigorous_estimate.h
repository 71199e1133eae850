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
// The steps: with six or more points, random four-point homographies scored over every point by
// the truncated square of their transfer errors (MSAC, the truncation at kConsensusSigmas a-priori
// σ), enough samples for half the points being blunders, from a fixed seed, find the points that
// agree; the homography of those gives the two planar poses, which are refined together with the
// given start (the fast estimate's pose) by Levenberg–Marquardt, and the best kept; an iteratively
// reweighted refinement (Cauchy weights, scale from the median residual) over all points then
// proposes which points are blunders; a last unweighted refinement on the others gives the result,
// σ0 and the covariance of its normal equations, and every point is tested again against it by
// its studentised residual (data snooping) until the set stands. With fewer than six points every
// point is used: a blunder cannot be told from the others there, and shows in the verdict instead.
//
// The verdict: σ0 is tested against the a-priori σ of an image coordinate (χ² with the
// redundancy); the other local minimum of the plane's pose (the mirror pose) is reported beside
// the result with the test between the two; weak layouts of four or five points are flagged.
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
  kTooFewPoints,             // fewer than four pairs
  kDegenerate,               // the points fix no homography or no pose (collinear, coincident)
  kBehindPlane,              // the camera stands on the −Z side of the scene plane
  kAxisMissesPlane,          // the optical axis does not meet the plane in front of the camera
  kFocalLengthUndetermined,  // no focal length given, and the view cannot fix one
  kNoConsensus               // no pose agrees with half of the points or more
};

// The consensus search keeps a transfer error up to this many a-priori σ of its full square.
inline constexpr double kConsensusSigmas = 6;
// The verdict's χ² test of σ0 rejects at this significance.
inline constexpr double kVerdictSignificance = 0.01;
// A triangle of points whose height is below this share of its longest side is nearly a line.
inline constexpr double kNearCollinearRatio = 0.1;
// An estimated focal length needs a tilt of at least this many of its σ.
inline constexpr double kTiltSigmas = 8;

// Settings of the rigorous estimate.
struct RigorousOptions {
  // The a-priori standard deviation of one image coordinate, pixels (> 0): the precision the
  // points are measured with. It sets the consensus search's truncation and is what σ0 is tested
  // against.
  double imageSigma = 0.5;
};

// Why a result is suspect; a result may have several reasons.
enum class RigorousSuspicion {
  kSigma0TooLarge,  // σ0 significantly above the a-priori σ (the χ² test failed)
  kMirrorPoseFits,  // the mirror pose cannot be told from the result at 95 %
  kNearCollinear    // four or five points, three of them nearly on one line
};

// The test of σ0 against the a-priori σ: redundancy·σ0²/σ² follows χ² with the redundancy when
// the points are as precise as assumed and free of blunders.
struct RigorousVerdict {
  bool suspect = false;                    // some reason below
  std::vector<RigorousSuspicion> reasons;  // in the order of the enum
  double imageSigma = 0;                   // the a-priori σ, pixels
  double chiSquare = 0;                    // redundancy·σ0²/imageSigma², dimensionless
  double chiSquareLimit = 0;               // its upper kVerdictSignificance quantile
  double pValue = 1;                       // P(χ² ≥ chiSquare), 1 without redundancy
};

// The second local minimum of the plane's pose (the mirror pose: the plane's normal reflected
// about the line of sight), refined on the same points and with the same focal length setting.
struct RigorousAlternative {
  bool present = false;  // the refinement from the mirror start ended in a distinct minimum
  StandPose pose;
  std::array<double, kResultCount> values{};  // its 21 values (units as shown)
  double focalLength = 0;                     // pixels
  double sigma0 = 0;  // a-posteriori σ of an image coordinate of its fit, pixels
  // (Σ its squared residuals − Σ the result's) / σ², σ = max(σ0, a-priori σ): the likelihood
  // ratio between the two, dimensionless, ≥ 0.
  double chiSquareDifference = 0;
  // chiSquareDifference above χ²₁ at 95 % (3.84): the result is the better fit at 95 %.
  bool distinguishable = false;
};

// How well the layout fixes the pose.
struct RigorousGeometry {
  // Four or five points used and three of them nearly on one line: the smallest height of a
  // triangle of used scene points below kNearCollinearRatio of its longest side.
  bool nearCollinear = false;
  double weakestTriangle = 0;  // that smallest height over the longest side, dimensionless
  // The angle between the optical axis and the plane's normal, degrees, and its σ, degrees. With
  // an estimated focal length the tilt must exceed kTiltSigmas of its σ.
  double tiltDegrees = 0;
  double tiltSigmaDegrees = 0;
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
  // Student's t quantile at 0.975 with the redundancy, dimensionless: the 95 % interval of a value
  // is ± tQuantile95·σ. 0 when no redundancy is left.
  double tQuantile95 = 0;
  RigorousVerdict verdict;
  RigorousAlternative alternative;
  RigorousGeometry geometry;
};

// The rigorous estimate of the pairs. `focalLength` in pixels; 0 or below: estimate it from the
// points. `start`: a further start pose (the fast estimate's), tried beside the planar poses.
// `options`: the a-priori precision.
RigorousResult RigorousEstimate(const std::vector<ControlPoint>& points, double focalLength,
                                const std::optional<StandPose>& start = std::nullopt,
                                const RigorousOptions& options = {});

// True when a camera that sees the pairs in front of it must stand on the −Z side of the scene
// plane (the homography of all pairs reverses the plane's orientation): the scene frame is most
// likely mirrored. False when the pairs fix no homography.
bool SceneFrameLooksMirrored(const std::vector<ControlPoint>& points);
// The same for the pairs of two point lists (image point i with scene point i), without a copy of
// them as control points.
bool SceneFrameLooksMirrored(const VT_Points& imagePoints, const VT_Points& scenePoints);

}  // namespace zelv
