#include "app/photo_overlay.h"

#include <algorithm>
#include <cmath>

#include "app/orientation_residuals.h"
#include "base/zelv_error.h"
#include "files/correction_table.h"
#include "files/lens_model.h"

namespace zelv {
namespace {

// The raw coordinate r with correct(r) == target, from the first guess `start`. The correction of
// one axis is a polynomial per band: Newton's method with a central difference converges in a few
// steps inside a band; where it does not (the solution next to a joint of two bands), a bracket
// around the guess is halved. A value the table never reaches ends in a failure, not a guess.
template <typename Correct>
double InvertAxis(Correct correct, double target, double start) {
  const double tolerance = 1e-9 * std::max(1.0, std::fabs(target));  // corrected pixels
  const auto miss = [&](double r) { return correct(r) - target; };
  double r = start;
  for (int step = 0; step < 60; ++step) {
    const double m = miss(r);
    if (std::fabs(m) <= tolerance) return r;
    const double h = 1e-3 * std::max(1.0, std::fabs(r));
    const double slope = (correct(r + h) - correct(r - h)) / (2 * h);
    if (!std::isfinite(slope) || slope == 0) break;
    const double next = r - m / slope;
    if (!std::isfinite(next)) break;
    r = next;
  }
  // Widen a bracket around the guess until the miss changes sign, then halve it.
  const double m0 = miss(start);
  for (double width = 1; width < 1e7; width *= 2)
    for (const double other : {start - width, start + width}) {
      const double m1 = miss(other);
      if (!std::isfinite(m1) || (m0 < 0) == (m1 < 0)) continue;
      double low = std::min(start, other), high = std::max(start, other);
      const bool risingAtLow = miss(low) < 0;
      for (int step = 0; step < 200 && high - low > 1e-12 * std::max(1.0, std::fabs(low)); ++step) {
        const double middle = low + (high - low) / 2;
        ((miss(middle) < 0) == risingAtLow ? low : high) = middle;
      }
      // A jump of the table between two bands also changes the sign: that is no solution.
      if (std::fabs(miss(low)) <= 1e3 * tolerance) return low;
      if (std::fabs(miss(high)) <= 1e3 * tolerance) return high;
      throw ZelvError("no raw pixel corrects to the point");
    }
  throw ZelvError("no raw pixel corrects to the point");
}

}  // namespace

PixelPoint RawFromCorrected(const InteriorGeometry& geometry, double x, double y) {
  // A calibration file's lens model maps back through its own forward model.
  if (geometry.Lens) {
    const PixelPoint raw = CorrectedToRaw(*geometry.Lens, {PixelPoint{x, y}}).front();
    return PixelPoint{raw.x, raw.y};
  }
  CorrectionTableParser table(geometry.CorrectionTable);
  const double cx = geometry.ImageCentreX, cy = geometry.ImageCentreY;
  // First guesses: the identity correction, x = raw - cx and y = cy - raw.
  const double rawX = InvertAxis([&](double r) { return table.CorrectX(r, cx); }, x, cx + x);
  const double rawY = InvertAxis([&](double r) { return table.CorrectY(r, cy); }, y, cy - y);
  return PixelPoint{rawX, rawY};
}

std::optional<PhotoOverlay> PhotoOverlayOf(const Residuals& residuals,
                                           const InteriorGeometry& geometry,
                                           const std::vector<int>& outliers) {
  PhotoOverlay overlay;
  for (const PointResidual& p : residuals.points) {
    try {
      OverlayPoint point;
      point.number = p.number;
      point.flagged = p.flagged;
      point.outlier = std::find(outliers.begin(), outliers.end(), p.number) != outliers.end();
      point.measured = RawFromCorrected(geometry, p.x, p.y);
      // The residual is the measured point minus the projection, in the corrected frame.
      point.projected = RawFromCorrected(geometry, p.x - p.ex, p.y - p.ey);
      const double dx = point.measured.x - point.projected.x;
      const double dy = point.measured.y - point.projected.y;
      overlay.largest = std::max(overlay.largest, std::sqrt(dx * dx + dy * dy));
      overlay.points.push_back(point);
    } catch (const ZelvError&) {
      // Outside the table: nothing to draw for this point.
    }
  }
  if (overlay.points.empty()) return std::nullopt;
  overlay.magnification =
      ArrowMagnification(overlay.largest, std::max(geometry.ImageWidth, geometry.ImageHeight));
  return overlay;
}

RawPoints ChessboardScenePoints(int columns, int rows, double squareSize,
                                const RawPoints& corners) {
  if (columns < 2 || rows < 2 || !(squareSize > 0) || !std::isfinite(squareSize) ||
      corners.size() != static_cast<std::size_t>(columns) * static_cast<std::size_t>(rows))
    throw ZelvError("Неверные размеры мишени");
  const PixelPoint& first = corners[0];
  const PixelPoint& alongRow = corners[1];
  const PixelPoint& acrossRows = corners[static_cast<std::size_t>(columns)];
  const double ux = alongRow.x - first.x, uy = alongRow.y - first.y;
  const double vx = acrossRows.x - first.x, vy = acrossRows.y - first.y;
  // Raw y points down: a positive raw cross product is a negative one in the corrected frame, so
  // Y must run against the rows to keep the handedness.
  const double ySign = ux * vy - uy * vx > 0 ? -1.0 : 1.0;
  RawPoints scene;
  scene.reserve(corners.size());
  for (int r = 0; r < rows; ++r)
    for (int c = 0; c < columns; ++c)
      scene.push_back(PixelPoint{c * squareSize, ySign * (r * squareSize) + 0.0});  // no -0
  return scene;
}

}  // namespace zelv
