#pragma once
// How good a calibration is, over the image: the uncertainty of its projection, the coverage of
// the image by the corners it was fitted to, and the difference between calibrations of two
// halves of the photographs set against the uncertainty predicted for it.

#include <vector>

#include "base/failure.h"
#include "calibration/camera_calibration.h"

namespace zelv {

// Values over a grid of cells laid over the image, row-major from the top-left cell; the cell
// (column c, row r) covers x in [c w, (c + 1) w), y in [r h, (r + 1) h) for w = width / columns,
// h = height / rows, and its value belongs to its centre.
struct ImageGridMap {
  int columns = 0;
  int rows = 0;
  double width = 0;  // pixels: the image's size
  double height = 0;
  std::vector<double> values;  // columns × rows, finite

  double At(int column, int row) const { return values[row * columns + column]; }
};

// The 1σ uncertainty of the projection, px, at each cell's centre: how far the projection of the
// ray through that pixel can move under the intrinsics' covariance (the radius of the 1σ
// ellipse's major axis), after the part a small rotation of the camera would absorb is taken
// out. Needs the calibration's covariance (an empty map without it).
ImageGridMap ProjectionUncertainty(const CalibrationResult& calibration, int columns = 16,
                                   int rows = 12);

// The kept corners of the used views counted per cell.
ImageGridMap CornerCoverage(const std::vector<CalibrationView>& views,
                            const CalibrationResult& calibration, int columns = 16, int rows = 12);

// The cells of a coverage map the corners never reached, as a share of all cells (0..1).
double UncoveredShare(const ImageGridMap& coverage);

// |projection by `second` − by `first`|, px, at each cell's centre: the ray `first` gives the
// centre, turned by the one rotation that best takes `first`'s rays onto `second`'s over the
// grid (fitted again without the cells five times the median difference off), projected by
// `second`. How far two calibrations of one lens disagree where a pose cannot
// make up for it; the cameras must be of the same image size.
ImageGridMap ProjectionDifference(const LensCalibration& first, const LensCalibration& second,
                                  int columns = 16, int rows = 12);

struct CrossValidation {
  // |projection by the first half − by the second half|, px, per cell, after the best common
  // rotation between the two is taken out.
  ImageGridMap difference;
  // The difference the two halves' uncertainties predict: sqrt(σ1² + σ2²) per cell, px.
  ImageGridMap predicted;
  // The median over the cells of difference / predicted: near 1 when the model fits the lens
  // and the uncertainty is honest, well above 1 when the model is too poor for the lens.
  double medianRatio = 0;
};

// Calibrates the views' two halves (alternate views) on their own and compares them. Fails when
// either half cannot be calibrated (fewer than six usable views in all).
Expected<CrossValidation> CrossValidate(const std::vector<CalibrationView>& views,
                                        const CalibrationOptions& options, int columns = 16,
                                        int rows = 12);

}  // namespace zelv
