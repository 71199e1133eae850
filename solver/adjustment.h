#pragma once
// The single-photo adjustment: the rigorous estimate (solver/rigorous_estimate.h) for control
// points in space, with check points, per-point precision and camera values known beforehand.
//
// A planar scene (every Z = 0) with no check points, no per-point σ and no known values is the
// rigorous estimate itself, bit for bit. Otherwise the initial pose comes from a proven minimal /
// linear solver and the same robust Levenberg–Marquardt refines it; check points stay out of the
// fit and are measured against its result.
//
// A scene in space: the focal length, where not given, from direct linear transformations of six
// points (a random search against blunders); the pose from OpenCV's RANSAC over SQPnP (the
// consensus truncation as the rigorous estimate's), then the refinement on the agreeing points,
// a reweighted refinement over all proposing the blunders, and the test of every point by its
// studentised residual. A planar scene with check points, σ or known values starts from the
// rigorous estimate of its control points and keeps its blunder list.
//
// Weights: a point's image σ weighs its image coordinates; its scene σ is carried into the image
// through the projection (σ_eff² = σ_img²·I + σ_P²·J_P·J_Pᵀ, recomputed with the pose), which
// matches the errors-in-variables solution (scene points as unknowns observed with their σ) to a
// few thousandths of the centre's σ. Known values: a fixed centre coordinate or focal length is no
// parameter (σ 0, one unknown less); a fixed roll is an observation of σ 1e-8 rad (σ shown 0 to
// far below the shown digits); a value with σ is one more observation. σ0 and the redundancy count
// them all; the covariance is σ0² times the inverse of the normal matrix.
//
// Frames and units as the rigorous estimate: image points corrected pixels, origin at the image
// centre, y up; scene points in scene units, the camera on the +Z side of Z = 0 for a plane.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "solver/rigorous_estimate.h"

namespace zelv {

// One point of the adjustment.
struct AdjustmentPoint {
  double x = 0, y = 0;         // corrected image point, pixels, y up
  double X = 0, Y = 0, Z = 0;  // scene point, scene units
  double imageSigma = 0;       // σ of each image coordinate, pixels; 0: the a-priori σ
  double sceneSigma = 0;       // σ of each scene coordinate, scene units; 0: exact
  bool check = false;          // a check point: out of the fit, its misses reported
};

// A camera value known beforehand: held fixed (sigma 0) or observed with its σ (> 0).
struct KnownValue {
  double value = 0;
  double sigma = 0;
};

// The camera values known beforehand; each absent one is free.
struct KnownValues {
  std::optional<KnownValue> centreX, centreY, centreZ;  // the projection centre, scene units
  std::optional<KnownValue> roll;         // the image rotation c (kPhotoKappa), degrees
  std::optional<KnownValue> focalLength;  // pixels; replaces the camera file's where given
  bool Any() const { return centreX || centreY || centreZ || roll || focalLength; }
};

// What a check point misses by at the adjustment's result.
struct CheckPointMiss {
  int index = 0;            // into the points given, from 0
  double ex = 0, ey = 0;    // image residual (measured − projected), pixels
  bool imageKnown = false;  // false (ex, ey 0) when the point is behind the camera
  // The scene miss: the point's image ray met at the point's own Z, minus the point, scene units
  // (dZ 0); NaN-free: a ray parallel to that plane leaves `sceneKnown` false.
  double dX = 0, dY = 0;
  bool sceneKnown = false;
};

struct AdjustmentResult {
  RigorousResult rigorous;  // pose, 21 values and σ, σ0, outliers (indices into the points
                            // given), verdict — as the rigorous estimate reports them
  // The covariance of the parameters in the order "omega", "phi", "kappa" (radians, the omega-
  // phi-kappa rotation of StandardPose), "X0", "Y0", "Z0" (scene units), then "f" (pixels) where
  // the focal length was estimated; fixed parameters have zero rows and columns.
  std::vector<std::string> parameters;
  std::vector<double> covariance;  // parameters.size()², row by row
  // The covariance of the 21 values by propagation, kResultCount² row by row, their units.
  std::vector<double> valueCovariance;
  // The 95 % error ellipsoid of the projection centre: semi-axes (scene units, largest first) and
  // their unit directions.
  std::array<double, 3> centreSemiAxes{};
  std::array<std::array<double, 3>, 3> centreAxes{};
  std::vector<CheckPointMiss> checkPoints;  // in the order given
  double checkImageRmse = 0;  // sqrt(Σ(ex² + ey²)/n) over those imageKnown, pixels; 0 without
  double checkSceneRmse = 0;  // sqrt(Σ(dX² + dY²)/n) over those sceneKnown, scene units
};

// True when some scene point has Z ≠ 0.
bool SceneIsSpatial(const std::vector<AdjustmentPoint>& points);

// The adjustment of the points. `focalLength` in pixels; 0 or below: estimate it (unless
// `known.focalLength` gives it). `start`: a further start pose (the fast estimate's, planar scenes
// only).
AdjustmentResult Adjust(const std::vector<AdjustmentPoint>& points, double focalLength,
                        const KnownValues& known = {},
                        const std::optional<StandPose>& start = std::nullopt,
                        const RigorousOptions& options = {});

}  // namespace zelv
