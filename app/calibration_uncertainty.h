#pragma once
// The calibration's part of the uncertainty of an orientation: where the camera's calibration
// states the covariance Σ_I of its intrinsics (files/lens_model.h), the values of the rigorous
// adjustment move with the intrinsics through the corrected image points (RawToCorrected) and,
// where the focal length is the calibration's, through F = fx. Their dependence
// D = ∂(values)/∂(intrinsics) is taken by central differences: the adjustment is solved again
// from its result on its own points, less those it left out, re-corrected with each intrinsic
// moved by ± its σ. The calibration's covariance of the values is then D Σ_I Dᵀ; it adds to the
// measurement's, which takes the intrinsics as exact.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "base/orientation_result.h"
#include "files/lens_model.h"
#include "solver/adjustment.h"

namespace zelv {

struct CalibrationUncertainty {
  // The σ of the 21 values from the calibration alone (their units).
  std::array<double, kResultCount> sigma{};
  // Their covariance from the calibration, kResultCount² row by row.
  std::vector<double> valueCovariance;
  // The covariance of the adjustment's parameters from the calibration, in the order and units
  // of AdjustmentResult::parameters ("omega", "phi", "kappa" radians, "X0", "Y0", "Z0" scene
  // units, "f" pixels).
  std::vector<double> parameterCovariance;
};

// The calibration's part of the uncertainty of `adjusted`, the adjustment of `points` (corrected
// pixels through `lens`). `focalLength` as Adjust took it (pixels; ≤ 0: estimated);
// `focalFromLens`: it is the lens's fx and moves with it. Nothing when the lens states no
// covariance, or when a moved lens or the adjustment of a moved camera fails (the intrinsics
// moved by their σ leave the image or the pose undetermined): the calibration's part is then
// unknown, not zero.
std::optional<CalibrationUncertainty> PropagateCalibration(
    const LensCalibration& lens, const std::vector<AdjustmentPoint>& points,
    const AdjustmentResult& adjusted, double focalLength, bool focalFromLens,
    const KnownValues& known, const RigorousOptions& options);

}  // namespace zelv
