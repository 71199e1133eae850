#include "solver/residuals.h"

#include <algorithm>
#include <cmath>

#include "base/zelv_error.h"

namespace zelv {

Residuals ComputeResiduals(const VT_Points& imagePoints, const VT_Points& scenePoints, double Al,
                           double Bet, double Hi, double F, double L, double sightingX,
                           double sightingY, double sigmaCount) {
  const double sa = std::sin(Al), ca = std::cos(Al);
  const double sb = std::sin(Bet), cb = std::cos(Bet);
  const double sc = std::sin(Hi), cc = std::cos(Hi);

  Residuals result;
  const int n = std::min(imagePoints.Count(), scenePoints.Count());
  result.points.reserve(static_cast<std::size_t>(n));
  double squares = 0;
  for (int i = 0; i < n; ++i) {
    const VT_Point& image = *imagePoints.Get(i);
    const VT_Point& scene = *scenePoints.Get(i);
    const double X = scene.x, Y = scene.y;
    // The projection model in the order the refinement's cost writes it.
    const double D = sa * X + L - ca * sb * Y;
    if (D == 0) throw ZelvError("division by zero");
    PointResidual r;
    r.number = i + 1;
    r.x = image.x;
    r.y = image.y;
    r.X = Finite(X + sightingX);
    r.Y = Finite(Y + sightingY);
    r.ex = Finite(image.x - F * (ca * cc * X + (sa * sb * cc - cb * sc) * Y) / D);
    r.ey = Finite(image.y - F * (ca * sc * X + (cb * cc + sa * sb * sc) * Y) / D);
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
