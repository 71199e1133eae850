#include "solver/pose.h"

#include <cmath>
#include <exception>

#include "base/zelv_error.h"
#include "files/text_file.h"
#include "solver/refinement.h"
#include "solver/refinement_cost_kernel.h"
#include "solver/transformation_fit.h"

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

// Shows one result value: its full-precision number and its four-decimal text.
void ShowResult(OrientationState& state, ResultIndex index, double value) {
  state.Values.values[index] = Finite(value);
  state.Results[index] = FormatFixed4(value, state.DecimalSeparator);
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

void OrientFromCoefficients(OrientationState& state, UserInterface& ui,
                            const PoseOptions& options) {
  const TransformCoefficients& a = state.Coefficients;
  const double F = state.Geometry.FocalLength;
  const double L = state.Distance;

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

  const RefinementSettings& settings = state.Settings;
  if (settings.EstimateLevel == 1 || settings.EstimateLevel == 3) {
    if (settings.UseFirstValues) {
      Al = settings.AlFirstValue;
      Bet = settings.BetFirstValue;
      if (settings.VaryHi) Hi = settings.HiFirstValue;
      state.Distance = settings.LFirstValue;
    }
    // The lists are copied into arrays once; the search then evaluates them millions of times.
    const PointArrayCost arrayCost(state.ImagePoints, state.ScenePoints, F);
    RefinementContext context;
    context.cost = options.cost != nullptr ? options.cost : &arrayCost;
    context.settings = &state.Settings;
    const std::string logPath = options.logPath.empty()
                                    ? state.StartDirectory + "/" + state.Settings.Log1FileName
                                    : options.logPath;
    context.writeLog = [logPath](const std::vector<std::string>& lines) {
      SaveTextLines(logPath, lines);
    };
    context.decimalSeparator = state.DecimalSeparator;
    context.startTime = state.StartTime;
    context.progress = options.progress;
    context.threads = options.threads;
    if (options.refine)
      options.refine(Al, Bet, Hi, state.Distance, context);
    else
      Refine(Al, Bet, Hi, state.Distance, context);
  }
  const double distance = state.Distance;

  ShowResult(state, kDistance, distance);
  ShowResult(state, kStandAl, ToDegrees(Al));
  ShowResult(state, kStandBet, ToDegrees(Bet));
  ShowResult(state, kStandHi, ToDegrees(Hi));
  state.Values.Al = Al;
  state.Values.Bet = Bet;
  state.Values.Hi = Hi;

  // From here on the rotation is the orthonormal one of the final angles.
  const Rotation r = AnglesToRotation(Al, Bet, Hi);
  const TPoint3 centre =
      ProjectionCentreFromRotation(r, state.SightingPointX, state.SightingPointY, distance);
  state.ProjectionCentre = centre;
  ShowResult(state, kCentreX, centre.x);
  ShowResult(state, kCentreY, centre.y);
  ShowResult(state, kCentreZ, centre.z);
  ShowResult(state, kCosXX, r.xX);
  ShowResult(state, kCosXY, r.xY);
  ShowResult(state, kCosXZ, r.xZ);
  ShowResult(state, kCosYX, r.yX);
  ShowResult(state, kCosYY, r.yY);
  ShowResult(state, kCosYZ, r.yZ);
  ShowResult(state, kCosZX, r.zX);
  ShowResult(state, kCosZY, r.zY);
  ShowResult(state, kCosZZ, r.zZ);

  // Photogrammetric angles (radians).
  const double omega = CheckedAsin(-r.yZ);
  const double alpha = CheckedAsin(Divide(-r.xZ, std::cos(omega)));
  const double kappa = std::atan(Divide(r.yX, r.yY));
  ShowResult(state, kPhotoAlpha, ToDegrees(alpha));
  ShowResult(state, kPhotoOmega, ToDegrees(omega));
  ShowResult(state, kPhotoKappa, ToDegrees(kappa));

  // The cost is reported beside the result; at level 0 nothing else needs it, so a point that
  // projects to infinity there must not cost the user the result.
  try {
    state.Values.cost =
        RefinementCost(state.ImagePoints, state.ScenePoints, Al, Bet, Hi, F, distance);
    state.Values.costKnown = true;
  } catch (const ZelvError&) {
    state.Values.cost = 0;
    state.Values.costKnown = false;
  }
  state.Values.complete = true;
  state.ResultSaved = false;
  state.SaveEnabled = true;
  ui.SetStatusText("");
}

bool ComputePose(OrientationState& state, UserInterface& ui, const PoseOptions& options) {
  try {
    TransformCoefficients& a = state.Coefficients;
    if (!FitImageToScene(state.ImagePoints, state.ScenePoints, a))
      throw ZelvError("the image to scene fit failed");
    const double F = state.Geometry.FocalLength;

    // The sighting point is the image of the image origin (scene units).
    state.SightingPointX = Divide(a.a11 * 0 + a.a12 * 0 + a.a13, a.a31 * 0 + a.a32 * 0 + 1);
    state.SightingPointY = Divide(a.a21 * 0 + a.a22 * 0 + a.a23, a.a31 * 0 + a.a32 * 0 + 1);

    // Two probes 50 pixels either side of the origin on the image x axis give the tilt along
    // that axis and the first distance.
    const double e = 50;
    double plusX, plusY, minusX, minusY;
    TransformToScene(a, 50, 0, plusX, plusY);
    TransformToScene(a, -50, 0, minusX, minusY);
    const double dxPlus = plusX - state.SightingPointX, dyPlus = plusY - state.SightingPointY;
    const double dxMinus = minusX - state.SightingPointX, dyMinus = minusY - state.SightingPointY;
    const double dPlus = Finite(std::sqrt(dxPlus * dxPlus + dyPlus * dyPlus));
    const double dMinus = Finite(std::sqrt(dxMinus * dxMinus + dyMinus * dyMinus));
    const double theta =
        std::atan(Divide(Finite(F * dPlus / e - F * dMinus / e), Finite(dPlus + dMinus)));
    state.Distance = Finite(F * dPlus * std::cos(theta) / e - dPlus * std::sin(theta));

    ShowResult(state, kSightingX, state.SightingPointX);
    ShowResult(state, kSightingY, state.SightingPointY);

    for (std::int32_t i = 0; i < state.ScenePoints.Count(); ++i) {
      VT_Point* p = state.ScenePoints.Get(i);
      p->x = p->x - state.SightingPointX;
      p->y = p->y - state.SightingPointY;
    }

    if (!FitSceneToImage(state.ScenePoints, state.ImagePoints, a))
      throw ZelvError("the scene to image fit failed");
    OrientFromCoefficients(state, ui, options);
    return true;
  } catch (const std::exception&) {
    ui.ShowMessage("Внутренняя ошибка! Проверьте входные данные.", "Отказ",
                   MessageIcon::Exclamation, Owner{});
    return false;
  }
}

}  // namespace zelv
