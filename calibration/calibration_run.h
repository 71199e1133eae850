#pragma once
// One calibration as the command line and the window run it: the camera from the views, then its
// judgement over the image (projection uncertainty, coverage, optionally cross-validation), with
// the figures both print.

#include <optional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "calibration/calibration_quality.h"
#include "calibration/camera_calibration.h"

namespace zelv {

struct CalibrationRun {
  CalibrationResult calibration;
  std::vector<double> values;    // the intrinsics, as calibration.parameterNames
  ImageGridMap uncertainty;      // px, 1σ (empty without a covariance)
  ImageGridMap coverage;         // corners per cell
  double uncoveredShare = 0;     // 0..1 of the coverage's cells
  double uncertaintyMedian = 0;  // px, over the cells (0 when the map is empty)
  double uncertaintyWorst = 0;
  std::optional<CrossValidation> crossValidation;  // when asked for and it could be run
  std::string crossValidationFailure;  // why it could not be run (Russian), when asked for
};

// The calibration's intrinsics in the order of IntrinsicNames: fx, fy, cx, cy, the coefficients.
std::vector<double> IntrinsicValues(const LensCalibration& camera);

// Calibrates the camera from the views and judges it. The calibration's failure is the run's;
// a cross-validation that cannot be run is only noted. `progress` as CalibrateCamera's.
Expected<CalibrationRun> RunCalibration(const std::vector<CalibrationView>& views,
                                        const CalibrationOptions& options, bool crossValidate,
                                        const CalibrationProgress& progress = {});

// The warning when the corners never reached part of the image (Russian), or nothing when they
// reached every cell of the coverage map.
std::optional<std::string> CoverageWarning(const CalibrationRun& run);

}  // namespace zelv
