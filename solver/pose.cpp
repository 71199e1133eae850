#include "solver/pose.h"

#include <algorithm>
#include <cmath>
#include <exception>

#include "base/angles.h"
#include "base/zelv_error.h"
#include "solver/refinement_cost_kernel.h"

namespace zelv {
namespace {

// Division that raises instead of producing an infinity or an invalid value.
double Divide(double numerator, double denominator) {
  if (denominator == 0) throw ZelvError("division by zero");
  return Finite(numerator / denominator, "overflow in a division");
}

// asin that raises for arguments beyond ±1.
double CheckedAsin(double v) {
  if (!(v >= -1 && v <= 1)) throw ZelvError("asin of a value beyond 1");
  return std::asin(v);
}

// Records one of the 21 values; a value that is not finite is an arithmetic fault.
void Keep(PoseResult& result, ResultIndex index, double value) {
  result.values[index] = Finite(value);
  result.known[index] = true;
}

// The forward transformation (image pixels -> scene units) of the point (x, y).
void TransformToScene(const TransformCoefficients& a, double x, double y, double& X, double& Y) {
  const double w = a.a31 * x + a.a32 * y + 1;
  X = Divide(a.a11 * x + a.a12 * y + a.a13, w);
  Y = Divide(a.a21 * x + a.a22 * y + a.a23, w);
}

}  // namespace

Rotation AnglesToRotation(double Al, double Bet, double Hi) {
  const double sa = std::sin(Al), ca = std::cos(Al);
  const double sb = std::sin(Bet), cb = std::cos(Bet);
  const double sc = std::sin(Hi), cc = std::cos(Hi);
  Rotation r;
  r.xX = ca * cc;
  r.xY = ca * sc;
  r.xZ = -sa;
  r.yX = sa * sb * cc - cb * sc;
  r.yY = sa * sb * sc + cb * cc;
  r.yZ = ca * sb;
  r.zX = sa * cb * cc + sb * sc;
  r.zY = sa * cb * sc - sb * cc;
  r.zZ = ca * cb;
  return r;
}

TPoint3 ProjectionCentreFromRotation(const Rotation& r, double sightingX, double sightingY,
                                     double distance) {
  return TPoint3(Finite(sightingX + r.xZ * distance), Finite(sightingY + r.yZ * distance),
                 Finite(r.zZ * distance));
}

void DeriveResultValues(double Al, double Bet, double Hi, double L, double Sx, double Sy,
                        ValueGuard guard, const std::function<void(ResultIndex, double)>& keep,
                        Rotation* rotation, TPoint3* centre) {
  const bool raise = guard == ValueGuard::kRaise;
  const auto arcsine = [raise](double v) {
    return raise ? CheckedAsin(v) : std::asin(std::clamp(v, -1.0, 1.0));
  };
  const auto quotient = [raise](double n, double d) { return raise ? Divide(n, d) : n / d; };
  keep(kDistance, L);
  keep(kStandAl, ToDegrees(Al));
  keep(kStandBet, ToDegrees(Bet));
  keep(kStandHi, ToDegrees(Hi));

  const Rotation r = AnglesToRotation(Al, Bet, Hi);
  if (rotation != nullptr) *rotation = r;
  const TPoint3 c = raise ? ProjectionCentreFromRotation(r, Sx, Sy, L)
                          : TPoint3(Sx + r.xZ * L, Sy + r.yZ * L, r.zZ * L);
  if (centre != nullptr) *centre = c;
  keep(kCentreX, c.x);
  keep(kCentreY, c.y);
  keep(kCentreZ, c.z);
  const double cosines[9] = {r.xX, r.xY, r.xZ, r.yX, r.yY, r.yZ, r.zX, r.zY, r.zZ};
  for (int i = 0; i < 9; ++i) keep(static_cast<ResultIndex>(kCosXX + i), cosines[i]);

  // Photogrammetric angles (radians).
  const double omega = arcsine(-r.yZ);
  const double alpha = arcsine(quotient(-r.xZ, std::cos(omega)));
  const double kappa = std::atan(quotient(r.yX, r.yY));
  keep(kPhotoAlpha, ToDegrees(alpha));
  keep(kPhotoOmega, ToDegrees(omega));
  keep(kPhotoKappa, ToDegrees(kappa));
}

void PoseFromCoefficients(const TransformCoefficients& a, const VT_Points& imagePoints,
                          const VT_Points& scenePoints, double F, double sightingX,
                          double sightingY, double distance, RefinementSettings& settings,
                          const PoseSolveOptions& options, PoseResult& result) {
  result.coefficients = a;
  result.sightingX = sightingX;
  result.sightingY = sightingY;
  result.distance = distance;
  double L = distance;

  // The reverse transformation divided through by L gives the first two rows of the rotation;
  // the third is their cross product. The rows are not normalised.
  Rotation m;
  m.xX = Divide(a.a11 * L, F);
  m.xY = Divide(a.a21 * L, F);
  m.xZ = Finite(-a.a31 * L);
  m.yX = Divide(a.a12 * L, F);
  m.yY = Divide(a.a22 * L, F);
  m.yZ = Finite(-a.a32 * L);
  m.zX = Finite(m.xY * m.yZ - m.xZ * m.yY);
  m.zY = Finite(m.xZ * m.yX - m.xX * m.yZ);
  m.zZ = Finite(m.xX * m.yY - m.xY * m.yX);

  // First stand angles (radians); asin is clamped for |xZ| beyond 1.
  double Al;
  if (m.xZ < -1)
    Al = std::asin(1.0);
  else if (m.xZ > 1)
    Al = std::asin(-1.0);
  else
    Al = std::asin(-m.xZ);
  double Bet = std::atan(Divide(m.yZ, m.zZ));
  double Hi = std::atan(Divide(m.xY, m.xX));

  if (settings.EstimateLevel == 1 || settings.EstimateLevel == 3) {
    if (settings.UseFirstValues) {
      Al = settings.AlFirstValue;
      Bet = settings.BetFirstValue;
      if (settings.VaryHi) Hi = settings.HiFirstValue;
      L = settings.LFirstValue;
      result.distance = L;
    }
    // The lists are copied into arrays once; the search then evaluates them millions of times.
    const PointArrayCost arrayCost(imagePoints, scenePoints, F);
    RefinementContext context;
    context.cost = options.cost != nullptr ? options.cost : &arrayCost;
    context.settings = &settings;
    context.writeLog = options.writeLog;
    context.decimalSeparator = options.decimalSeparator;
    context.startTime = options.startTime;
    context.progress = options.progress;
    context.threads = options.threads;
    if (options.refine)
      options.refine(Al, Bet, Hi, L, context);
    else
      Refine(Al, Bet, Hi, L, context);
  }
  result.distance = L;
  result.Al = Al;
  result.Bet = Bet;
  result.Hi = Hi;

  // From here on the rotation is the orthonormal one of the final angles.
  DeriveResultValues(
      Al, Bet, Hi, L, result.sightingX, result.sightingY, ValueGuard::kRaise,
      [&result](ResultIndex index, double value) { Keep(result, index, value); }, &result.rotation,
      &result.centre);

  // The cost is reported beside the result; at level 0 nothing else needs it, so a point that
  // projects to infinity there must not cost the user the result.
  try {
    result.cost = RefinementCost(imagePoints, scenePoints, Al, Bet, Hi, F, L);
    result.costKnown = true;
  } catch (const ZelvError&) {
    result.cost = 0;
    result.costKnown = false;
  }
  result.complete = true;
}

PoseResult SolvePose(const VT_Points& imagePoints, VT_Points& scenePoints, double F,
                     RefinementSettings& settings, const PoseSolveOptions& options) {
  PoseResult result;
  try {
    TransformCoefficients a = result.coefficients;
    if (!FitImageToScene(imagePoints, scenePoints, a))
      throw ZelvError("the image to scene fit failed");
    result.coefficients = a;

    // The sighting point is the image of the image origin (scene units).
    result.sightingX = Divide(a.a11 * 0 + a.a12 * 0 + a.a13, a.a31 * 0 + a.a32 * 0 + 1);
    result.sightingY = Divide(a.a21 * 0 + a.a22 * 0 + a.a23, a.a31 * 0 + a.a32 * 0 + 1);

    // Two probes 50 pixels either side of the origin on the image x axis give the tilt along
    // that axis and the first distance.
    const double e = 50;
    double plusX, plusY, minusX, minusY;
    TransformToScene(a, 50, 0, plusX, plusY);
    TransformToScene(a, -50, 0, minusX, minusY);
    const double dxPlus = plusX - result.sightingX, dyPlus = plusY - result.sightingY;
    const double dxMinus = minusX - result.sightingX, dyMinus = minusY - result.sightingY;
    const double dPlus = Finite(std::sqrt(dxPlus * dxPlus + dyPlus * dyPlus));
    const double dMinus = Finite(std::sqrt(dxMinus * dxMinus + dyMinus * dyMinus));
    const double theta =
        std::atan(Divide(Finite(F * dPlus / e - F * dMinus / e), Finite(dPlus + dMinus)));
    result.distance = Finite(F * dPlus * std::cos(theta) / e - dPlus * std::sin(theta));

    Keep(result, kSightingX, result.sightingX);
    Keep(result, kSightingY, result.sightingY);

    for (std::int32_t i = 0; i < scenePoints.Count(); ++i) {
      VT_Point* p = scenePoints.Get(i);
      p->x = p->x - result.sightingX;
      p->y = p->y - result.sightingY;
    }

    if (!FitSceneToImage(scenePoints, imagePoints, a))
      throw ZelvError("the scene to image fit failed");
    PoseFromCoefficients(a, imagePoints, scenePoints, F, result.sightingX, result.sightingY,
                         result.distance, settings, options, result);
  } catch (const std::exception&) {
    result.complete = false;
  }
  return result;
}

}  // namespace zelv
