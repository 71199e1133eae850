#pragma once
// The report of zelv-cli calibrate --report FILE.html: one self-contained HTML page with the
// intrinsics and their σ, the views' table, what was left out and why, and the projection
// uncertainty, the coverage and the cross-validation as heat maps over the image (SVG).

#include <string>
#include <vector>

#include "calibration/calibration_run.h"
#include "calibration/calibration_views.h"

namespace zelv::cli {

// The page (UTF-8). `warnings` are the run's warnings as printed; every number written is finite.
std::string CalibrationReportHtml(const CalibrationRun& run, const PhotographViews& photographs,
                                  CalibrationModel model, const std::vector<std::string>& warnings);

}  // namespace zelv::cli
