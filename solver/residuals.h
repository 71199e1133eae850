#pragma once
// Per-point reprojection errors of an orientation: which control point is off.
//
// With the final angles Al, Bet, Hi (radians), the distance L (scene units) and the scene points
// measured from the sighting point, each pair's residual (ex, ey) is the corrected image point
// minus its projection, in pixels of the corrected image frame (origin at the image centre, y up),
// computed exactly as the refinement's cost computes it, so that the sum of |ex| + |ey| in list
// order equals that cost to the last bit.

#include <string>
#include <vector>

#include "points/Data_structures.h"

namespace zelv {

// Residuals up to this size (pixels) are rounding noise of an exact fit: they never flag a point,
// however small sigma is.
inline constexpr double kNegligibleResidual = 1e-6;

struct PointResidual {
  int number = 0;         // line number in the coordinate files, from 1
  std::string id;         // the point's identifier where the files have them; empty otherwise
  double x = 0, y = 0;    // corrected image point, pixels
  double X = 0, Y = 0;    // scene point as read (scene units), not moved to the sighting point
  double ex = 0, ey = 0;  // residual, pixels
  double length = 0;      // sqrt(ex^2 + ey^2), pixels
  bool flagged = false;   // |ex| or |ey| beyond SigmaCount * sigma
};

struct ResidualSummary {
  double cost = 0;        // sum of |ex| + |ey| in list order, from 0 (pixels)
  double sigma = 0;       // sqrt(sum(ex^2 + ey^2) / (2n)), pixels
  double largest = 0;     // the largest |e|, pixels
  int largestNumber = 0;  // its point number (0 when there are no points)
  int flaggedCount = 0;
  double sigmaCount = 0;  // the SigmaCount the points were flagged with
};

struct Residuals {
  std::vector<PointResidual> points;
  ResidualSummary summary;
};

// Computes the residuals of every pair. `scenePoints` are measured from the sighting point
// (sightingX, sightingY), which is added back for the reported scene coordinates. A point is
// flagged when |ex| or |ey| exceeds sigmaCount * sigma and kNegligibleResidual. Raises ZelvError
// on an arithmetic fault (a zero denominator, an overflow), as the cost does; lists of different
// lengths pair up to the shorter.
Residuals ComputeResiduals(const VT_Points& imagePoints, const VT_Points& scenePoints, double Al,
                           double Bet, double Hi, double F, double L, double sightingX,
                           double sightingY, double sigmaCount);

}  // namespace zelv
