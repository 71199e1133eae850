#include "solver/residuals.h"

#include <algorithm>
#include <cmath>

#include "base/zelv_error.h"
#include "solver/projection.h"

namespace zelv {

Residuals ComputeResiduals(const VT_Points& imagePoints, const VT_Points& scenePoints, double Al,
                           double Bet, double Hi, double F, double L, double sightingX,
                           double sightingY, double sigmaCount) {
  const ProjectionTerms t = MakeProjectionTerms(Al, Bet, Hi, F, L);

  Residuals result;
  const int n = std::min(imagePoints.Count(), scenePoints.Count());
  result.points.reserve(static_cast<std::size_t>(n));
  double squares = 0;
  for (int i = 0; i < n; ++i) {
    const VT_Point& image = *imagePoints.Get(i);
    const VT_Point& scene = *scenePoints.Get(i);
    const double X = scene.x, Y = scene.y;
    PointResidual r;
    r.number = i + 1;
    r.x = image.x;
    r.y = image.y;
    r.X = Finite(X + sightingX);
    r.Y = Finite(Y + sightingY);
    ReprojectionError(t, X, Y, image.x, image.y, r.ex, r.ey);
    Finite(r.ex);
    Finite(r.ey);
    r.length = Finite(std::sqrt(r.ex * r.ex + r.ey * r.ey));
    result.summary.cost = Finite(result.summary.cost + (std::fabs(r.ex) + std::fabs(r.ey)));
    squares = Finite(squares + (r.ex * r.ex + r.ey * r.ey));
    if (r.length > result.summary.largest || result.summary.largestNumber == 0) {
      result.summary.largest = r.length;
      result.summary.largestNumber = r.number;
    }
    result.points.push_back(r);
  }
  if (n > 0) result.summary.sigma = std::sqrt(squares / (2.0 * n));
  result.summary.sigmaCount = sigmaCount;
  // An exact fit leaves only rounding noise, which must not single out a point.
  const double limit = std::max(sigmaCount * result.summary.sigma, kNegligibleResidual);
  for (PointResidual& r : result.points) {
    r.flagged = std::fabs(r.ex) > limit || std::fabs(r.ey) > limit;
    if (r.flagged) ++result.summary.flaggedCount;
  }
  return result;
}

}  // namespace zelv
