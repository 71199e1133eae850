#pragma once
// What the photograph workspace draws of an orientation: each control point where it was
// measured and where the result projects its scene point, both in raw pixels of the photograph
// (x right, y down, as app/photo_points.h), and the magnification of the residual arrows.
//
// The residuals (solver/residuals.h) live in the corrected image frame (origin at the image
// centre, y up); the correction table maps raw to corrected one axis at a time, so the way back
// is found per axis by Newton's method on the table as the image reader applies it.

#include <optional>
#include <vector>

#include "app/photo_points.h"
#include "files/camera_file.h"
#include "solver/residuals.h"

namespace zelv {

// The raw pixel position whose correction with the camera's table and image centre (or, for a
// calibration file, its lens model) is the corrected point (x, y) (pixels, origin at the image
// centre, y up). Raises ZelvError when the table does not read or no raw coordinate within a band
// corrects to the point.
PixelPoint RawFromCorrected(const InteriorGeometry& geometry, double x, double y);

struct OverlayPoint {
  int number = 0;        // line number in the coordinate files, from 1
  PixelPoint measured;   // the image point the orientation used, raw pixels
  PixelPoint projected;  // its scene point projected through the result, raw pixels
  bool flagged = false;  // beyond the σ count of the residuals
  bool outlier = false;  // left out as a blunder by the rigorous estimate
};

struct PhotoOverlay {
  std::vector<OverlayPoint> points;
  double largest = 0;        // the longest residual, raw pixels
  double magnification = 1;  // of the arrows; ArrowMagnification of the largest and the frame
};

// The overlay of the residuals of one orientation for the camera that computed them; a point
// whose raw position cannot be found is left out. `outliers` are the numbers (from 1) of the
// points the estimate left out as blunders. Nothing when no point is left.
std::optional<PhotoOverlay> PhotoOverlayOf(const Residuals& residuals,
                                           const InteriorGeometry& geometry,
                                           const std::vector<int>& outliers = {});

// The scene points of a chessboard target whose inner corners were found on the photograph:
// `columns` × `rows` corners (columns along a row of the found order), `squareSize` scene units
// apart, X along a row and Y across, the first corner at (0, 0). The scene frame is turned so
// that it keeps the handedness of the corrected image frame (y up): mirrored points would give no
// camera in front of the plane. `corners` are the found corners in raw pixels, row by row.
RawPoints ChessboardScenePoints(int columns, int rows, double squareSize, const RawPoints& corners);

}  // namespace zelv
