#include "app/orientation.h"

#include <Eigen/Dense>
#include <algorithm>
#include <charconv>
#include <cmath>
#include <exception>

#include "app/calibration_uncertainty.h"
#include "app/orientation_steps.h"
#include "app/point_pairing.h"
#include "base/number_text.h"
#include "base/zelv_error.h"
#include "files/calibration_file.h"
#include "files/coordinate_file.h"
#include "files/text_file.h"
#include "solver/point_geometry.h"
#include "solver/point_spread.h"
#include "solver/refinement.h"

namespace zelv {

namespace {

const char kWarningCaption[] = "Предупреждение!";
const char kRefusalCaption[] = "Отказ";

const char kFocalLengthUndetermined[] =
    "Фокусное расстояние не задано в cam-файле, а по реперным точкам его определить нельзя: "
    "снимок сделан почти перпендикулярно плоскости сцены, и фокусное расстояние неотличимо от "
    "расстояния до сцены. Укажите фокусное расстояние в четвёртой строке cam-файла.";
const char kMirroredWarning[] =
    "Центр проекции оказался с отрицательной стороны оси Z сцены: система координат сцены, "
    "по-видимому, зеркальная (одна из осей в файле сцены направлена в обратную сторону). "
    "Результат недостоверен. Проверьте файл сцены.";
const char kBehindPlane[] =
    "Строгая оценка: камера оказалась за плоскостью сцены (с отрицательной стороны оси Z). "
    "Вероятно, одна из осей в файле сцены направлена в обратную сторону. Проверьте файл сцены.";
const char kAxisMissesPlane[] =
    "Строгая оценка: оптическая ось камеры не пересекает плоскость сцены перед камерой, "
    "поэтому точку визирования определить нельзя.";
const char kNonPositiveFocalLength[] =
    "Строгая оценка: фокусное расстояние в cam-файле должно быть больше нуля (или не задано — "
    "тогда оно оценивается по реперным точкам).";
const char kNoConsensus[] =
    "Строгая оценка: ни одно положение камеры не согласуется хотя бы с половиной реперных точек. "
    "Проверьте, что точки изображения и сцены перечислены в одном порядке и относятся к одному "
    "снимку, и исправьте или удалите ошибочные точки.";
const char kDegenerate[] =
    "Строгая оценка: положение камеры по реперным точкам не определяется (точки лежат на одной "
    "прямой, совпадают или не согласуются между собой). Проверьте входные данные.";

// A value in fixed notation with `decimals` decimals (a focal length in pixels: one).
std::string FixedText(double value, int decimals, char separator) {
  if (!std::isfinite(value)) return "—";
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
  std::string out(text, end);
  for (char& c : out)
    if (c == '.') c = separator;
  return out;
}

// A standard deviation with two significant digits, in fixed notation.
std::string SigmaText(double sigma, char separator) {
  if (!(sigma > 0) || !std::isfinite(sigma)) return "0";
  const int magnitude = static_cast<int>(std::floor(std::log10(sigma)));
  return FixedText(sigma, std::max(0, 1 - magnitude), separator);
}

std::string PixelsText(double value, char separator) { return FixedText(value, 1, separator); }

bool Suspected(const ResultPrecision& p, RigorousSuspicion reason) {
  return std::find(p.verdict.reasons.begin(), p.verdict.reasons.end(), reason) !=
         p.verdict.reasons.end();
}

// The warnings of a suspect rigorous result, one per reason.
std::vector<std::string> SuspicionTexts(const ResultPrecision& p, int pointCount, char s) {
  std::vector<std::string> texts;
  if (Suspected(p, RigorousSuspicion::kSigma0TooLarge))
    texts.push_back("Результат сомнителен: σ0 = " + SigmaText(p.sigma0, s) +
                    " пикс. значительно больше заданной точности измерения " +
                    SigmaText(p.verdict.imageSigma, s) +
                    " пикс. (χ² = " + FixedText(p.verdict.chiSquare, 1, s) + " при пороге " +
                    FixedText(p.verdict.chiSquareLimit, 1, s) +
                    ", избыточных измерений: " + std::to_string(p.redundancy) +
                    "). Проверьте точки на грубые ошибки, таблицу коррекции и заданную точность "
                    "измерения.");
  if (Suspected(p, RigorousSuspicion::kMirrorPoseFits))
    texts.push_back(
        "Результат сомнителен: зеркальное положение камеры (плоскость сцены наклонена в другую "
        "сторону) согласуется с точками почти так же хорошо (разность χ² = " +
        FixedText(p.alternative.chiSquareDifference, 2, s) + " при пороге " +
        FixedText(3.84, 2, s) +
        "). Добавьте реперные точки, охватывающие больше кадра, или проверьте второе решение.");
  if (Suspected(p, RigorousSuspicion::kNearCollinear))
    texts.push_back("Результат сомнителен: три из " + std::to_string(pointCount) +
                    " реперных точек лежат почти на одной прямой, положение камеры определено "
                    "ненадёжно. Добавьте точку в стороне от этой прямой.");
  return texts;
}

std::vector<ControlPoint> Mirrored(std::vector<ControlPoint> points) {
  for (ControlPoint& p : points) p.Y = -p.Y;
  return points;
}

Failure Refusal(const char* text) {
  return Failure{text, kRefusalCaption, MessageIcon::Exclamation};
}

bool AllFinite(const std::vector<double>& values) {
  return std::all_of(values.begin(), values.end(), [](double v) { return std::isfinite(v); });
}

// The check points of an adjustment, with their identifiers; a miss that is no finite number is
// left unknown.
CheckPoints CheckPointsOf(const AdjustmentResult& adjustment, const std::vector<std::string>& ids) {
  CheckPoints checks;
  double image = 0, scene = 0;
  int sceneCount = 0;
  for (const CheckPointMiss& miss : adjustment.checkPoints) {
    CheckPointResult point;
    point.number = miss.index + 1;
    if (static_cast<std::size_t>(miss.index) < ids.size())
      point.id = ids[static_cast<std::size_t>(miss.index)];
    point.ex = std::isfinite(miss.ex) ? miss.ex : 0;
    point.ey = std::isfinite(miss.ey) ? miss.ey : 0;
    point.sceneKnown = miss.sceneKnown && std::isfinite(miss.dX) && std::isfinite(miss.dY);
    if (point.sceneKnown) {
      point.dX = miss.dX;
      point.dY = miss.dY;
      scene += miss.dX * miss.dX + miss.dY * miss.dY;
      ++sceneCount;
    }
    image += point.ex * point.ex + point.ey * point.ey;
    checks.points.push_back(point);
  }
  if (!checks.points.empty()) {
    checks.imageRmse = std::sqrt(image / static_cast<double>(checks.points.size()));
    if (sceneCount > 0) checks.sceneRmse = std::sqrt(scene / sceneCount);
  }
  if (!std::isfinite(checks.imageRmse)) checks.imageRmse = 0;
  if (!std::isfinite(checks.sceneRmse)) checks.sceneRmse = 0;
  return checks;
}

void TakeAdjustmentFigures(OrientationRun& run, const AdjustmentResult& adjustment) {
  run.Checks = CheckPointsOf(adjustment, run.PointIds);
  // A covariance with a value that is no number is not kept: nothing of it would be trusted.
  const std::size_t n = adjustment.parameters.size();
  std::vector<double> axes(adjustment.centreSemiAxes.begin(), adjustment.centreSemiAxes.end());
  for (const auto& axis : adjustment.centreAxes) axes.insert(axes.end(), axis.begin(), axis.end());
  if (n == 0 || adjustment.covariance.size() != n * n || !AllFinite(adjustment.covariance) ||
      !AllFinite(adjustment.valueCovariance) || !AllFinite(axes))
    return;
  run.Precision.covariance =
      PoseCovariance{adjustment.parameters, adjustment.covariance, adjustment.centreSemiAxes,
                     adjustment.centreAxes, adjustment.valueCovariance};
}

// The 95 % error ellipsoid of the projection centre from the centre's block (rows 3 to 5) of the
// parameters' covariance `C` (n × n), as the adjustment draws it.
void CentreEllipsoid(const std::vector<double>& C, std::size_t n, PoseCovariance& out) {
  constexpr double kChiSquare3At95 = 7.814727903251178;
  Eigen::Matrix3d centre;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) centre(i, j) = C[(3 + i) * n + 3 + j];
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(centre);
  for (int k = 0; k < 3; ++k) {
    const int from = 2 - k;  // the eigenvalues ascend
    out.centreSemiAxes[k] = std::sqrt(std::max(0.0, eigen.eigenvalues()(from)) * kChiSquare3At95);
    for (int j = 0; j < 3; ++j) out.centreAxes[k][j] = eigen.eigenvectors()(j, from);
  }
}

// Where the calibration states the covariance of its intrinsics, its part of every σ, added to
// the measurement's. `F` the focal length the adjustment took (≤ 0: estimated). A calibration
// part that cannot be computed leaves the measurement's σ alone, with a warning.
void AddCalibrationPart(OrientationRun& run, const std::vector<AdjustmentPoint>& points,
                        const AdjustmentResult& adjustment, double F) {
  const std::optional<LensCalibration>& lens = run.Geometry.Lens;
  if (!lens || lens->intrinsicsCovariance.empty()) return;
  // The calibration's fx is the focal length unless a known one replaced it or it was estimated.
  const bool focalFromLens = !run.Known.focalLength && !run.FocalLength.estimated;
  const std::optional<CalibrationUncertainty> part = PropagateCalibration(
      *lens, points, adjustment, F, focalFromLens, run.Known, RigorousOptions{run.ImageSigma});
  if (!part) {
    Warn(run,
         "Погрешность калибровки камеры не учтена в σ: при параметрах камеры, изменённых в "
         "пределах их σ, ориентация не определяется. Проверьте файл калибровки.");
    return;
  }
  ResultPrecision& p = run.Precision;
  ResultPrecision::SigmaParts parts;
  parts.measurement = p.sigma;
  parts.calibration = part->sigma;
  for (std::size_t i = 0; i < kResultCount; ++i)
    p.sigma[i] = std::hypot(parts.measurement[i], parts.calibration[i]);
  p.sigmaParts = parts;
  if (p.covariance) {
    PoseCovariance& c = *p.covariance;
    const std::size_t n = c.parameters.size();
    if (c.matrix.size() == n * n && part->parameterCovariance.size() == n * n) {
      for (std::size_t i = 0; i < n * n; ++i) c.matrix[i] += part->parameterCovariance[i];
      if (n >= 6) CentreEllipsoid(c.matrix, n, c);
      if (run.FocalLength.estimated)
        for (std::size_t i = 0; i < n; ++i)
          if (c.parameters[i] == "f") run.FocalLength.sigma = std::sqrt(c.matrix[i * n + i]);
    }
    if (c.valueCovariance.size() == part->valueCovariance.size())
      for (std::size_t i = 0; i < c.valueCovariance.size(); ++i)
        c.valueCovariance[i] += part->valueCovariance[i];
  }
}

}  // namespace

std::vector<std::string> StrongCorrelations(const PoseCovariance& c, char separator) {
  std::vector<std::string> out;
  const std::size_t n = c.parameters.size();
  if (c.matrix.size() != n * n) return out;
  for (std::size_t i = 0; i < n; ++i)
    for (std::size_t j = i + 1; j < n; ++j) {
      const double d = c.matrix[i * n + i] * c.matrix[j * n + j];
      if (!(d > 0) || !std::isfinite(d)) continue;
      const double r = c.matrix[i * n + j] / std::sqrt(d);
      if (std::isfinite(r) && std::fabs(r) > 0.9)
        out.push_back(c.parameters[i] + "–" + c.parameters[j] + " " + FixedText(r, 2, separator));
    }
  return out;
}

void Warn(OrientationRun& run, const std::string& text, std::vector<int> points) {
  Warning warning{text, kWarningCaption, std::move(points)};
  run.Warnings.push_back(warning);
  if (run.progress.warned) run.progress.warned(warning);
}

std::vector<ControlPoint> ControlPointsOf(const VT_Points& imagePoints,
                                          const VT_Points& scenePoints) {
  std::vector<ControlPoint> points;
  const std::int32_t count = std::min(imagePoints.Count(), scenePoints.Count());
  points.reserve(static_cast<std::size_t>(std::max(count, 0)));
  for (std::int32_t i = 0; i < count; ++i) {
    const VT_Point* a = imagePoints.Get(i);
    const VT_Point* b = scenePoints.Get(i);
    points.push_back({a->x, a->y, b->x, b->y});
  }
  return points;
}

std::string UncoveredPointsWarning(const std::vector<int>& numbers,
                                   const std::vector<std::string>& ids) {
  if (numbers.empty()) return {};
  return (numbers.size() == 1 ? "Координаты изображения точки " + PointNameList(ids, numbers) +
                                    " не попадают ни в один диапазон таблицы коррекции и "
                                    "заменены значением -1."
                              : "Координаты изображения точек " + PointNameList(ids, numbers) +
                                    " не попадают ни в один диапазон таблицы коррекции и "
                                    "заменены значением -1.") +
         " Результат недостоверен. Проверьте таблицу коррекции и файл координат изображения.";
}

Expected<void> ProvideFocalLength(OrientationRun& state) {
  state.FocalLength = FocalLengthUse{};
  // A focal length known beforehand replaces the camera file's: fixed, or weighted and then
  // estimated by the adjustment from it.
  if (const std::optional<KnownValue>& known = state.Known.focalLength) {
    state.Geometry.FocalLength = known->value;
    state.FocalLength = {known->value, known->sigma, known->sigma > 0};
    return Success();
  }
  state.FocalLength.value = state.Geometry.FocalLength;
  if (state.Geometry.FocalLength != -1) return Success();
  // A scene in space: the adjustment estimates the focal length with the pose.
  if (SceneIsSpatial(state)) {
    state.FocalLength.estimated = true;
    return Success();
  }
  std::vector<ControlPoint> points = ControlPointsOf(state.ImagePoints, state.ScenePoints);
  // Check points stay out of every estimate.
  if (!state.SceneExtras.check.empty()) {
    std::vector<ControlPoint> control;
    for (std::size_t i = 0; i < points.size() && i < state.SceneExtras.check.size(); ++i)
      if (state.SceneExtras.check[i] == 0) control.push_back(points[i]);
    points = std::move(control);
  }
  // The focal length does not depend on the scene frame's handedness: a mirrored frame is
  // mirrored back for the estimate, and warned about later.
  if (SceneFrameLooksMirrored(points)) points = Mirrored(std::move(points));
  const RigorousResult estimate =
      RigorousEstimate(points, -1, std::nullopt, RigorousOptions{state.ImageSigma});
  if (estimate.failure != RigorousFailure::kNone) return Refusal(kFocalLengthUndetermined);
  state.Geometry.FocalLength = estimate.focalLength;
  state.FocalLength = {estimate.focalLength, estimate.focalLengthSigma, true};
  Warn(state, "Фокусное расстояние не задано в cam-файле; оно оценено по реперным точкам: F = " +
                  PixelsText(estimate.focalLength, state.DecimalSeparator) + " ± " +
                  SigmaText(estimate.focalLengthSigma, state.DecimalSeparator) + " пикс.");
  return Success();
}

void WarnIfSuspect(OrientationRun& run) {
  const int used = std::min(run.ImagePoints.Count(), run.ScenePoints.Count()) -
                   static_cast<int>(run.Precision.outliers.size());
  for (const std::string& text : SuspicionTexts(run.Precision, used, run.DecimalSeparator))
    Warn(run, text);
}

void WarnIfSceneMirrored(OrientationRun& run) {
  if (SceneFrameLooksMirrored(run.ImagePoints, run.ScenePoints)) Warn(run, kMirroredWarning);
}

Expected<void> RigorousPose(OrientationRun& state, const std::vector<ControlPoint>& points,
                            const PoseResult& fast, PoseResult& result) {
  std::vector<AdjustmentPoint> adjusted;
  adjusted.reserve(points.size());
  for (const ControlPoint& p : points) adjusted.push_back({p.x, p.y, p.X, p.Y, 0, 0, 0, false});
  return RigorousPose(state, adjusted, fast, result);
}

Expected<void> RigorousPose(OrientationRun& state, const std::vector<AdjustmentPoint>& points,
                            const PoseResult& fast, PoseResult& result) {
  std::optional<StandPose> start;
  if (fast.complete)
    start = StandPose{fast.Al, fast.Bet, fast.Hi, fast.distance, fast.sightingX, fast.sightingY};
  // With an estimated focal length the rigorous fit varies it as its seventh parameter.
  const double F = state.FocalLength.estimated ? -1 : state.Geometry.FocalLength;
  if (!state.FocalLength.estimated && !(F > 0)) return Refusal(kNonPositiveFocalLength);
  const bool spatial = SceneIsSpatial(points);
  const AdjustmentResult adjustment =
      Adjust(points, F, state.Known, start, RigorousOptions{state.ImageSigma});
  const RigorousResult& rigorous = adjustment.rigorous;
  switch (rigorous.failure) {
    case RigorousFailure::kNone:
      break;
    case RigorousFailure::kBehindPlane:
      return Refusal(kBehindPlane);
    case RigorousFailure::kAxisMissesPlane:
      return Refusal(kAxisMissesPlane);
    case RigorousFailure::kFocalLengthUndetermined:
      return Refusal(kFocalLengthUndetermined);
    case RigorousFailure::kNoConsensus:
      return Refusal(kNoConsensus);
    case RigorousFailure::kTooFewPoints:
    case RigorousFailure::kDegenerate:
      return Refusal(kDegenerate);
  }
  if (state.FocalLength.estimated) {
    state.FocalLength.value = rigorous.focalLength;
    state.FocalLength.sigma = rigorous.focalLengthSigma;
    state.Geometry.FocalLength = rigorous.focalLength;
    // A scene in space had its focal length estimated here, not beforehand: warned now.
    if (spatial && !state.Known.focalLength)
      Warn(state,
           "Фокусное расстояние не задано в cam-файле; оно оценено по реперным точкам: F = " +
               PixelsText(rigorous.focalLength, state.DecimalSeparator) + " ± " +
               SigmaText(rigorous.focalLengthSigma, state.DecimalSeparator) + " пикс.");
  }

  result = PoseResult{};
  result.coefficients = fast.coefficients;
  result.values = rigorous.values;
  result.known.fill(true);
  result.sightingX = rigorous.pose.Sx;
  result.sightingY = rigorous.pose.Sy;
  result.distance = rigorous.pose.L;
  result.Al = rigorous.pose.Al;
  result.Bet = rigorous.pose.Bet;
  result.Hi = rigorous.pose.Hi;
  result.rotation = AnglesToRotation(result.Al, result.Bet, result.Hi);
  result.centre =
      TPoint3(rigorous.values[kCentreX], rigorous.values[kCentreY], rigorous.values[kCentreZ]);
  // The scene points measured from the rigorous sighting point, as the residuals and the cost
  // expect them.
  for (std::int32_t i = 0; i < state.ScenePoints.Count(); ++i) {
    VT_Point* p = state.ScenePoints.Get(i);
    if (static_cast<std::size_t>(i) < points.size()) {
      p->x = points[i].X - result.sightingX;
      p->y = points[i].Y - result.sightingY;
    }
  }
  // The refinement's cost is that of a plane; a scene in space has none.
  try {
    if (spatial) throw ZelvError("no planar cost");
    result.cost = RefinementCost(state.ImagePoints, state.ScenePoints, result.Al, result.Bet,
                                 result.Hi, state.Geometry.FocalLength, result.distance);
    result.costKnown = true;
  } catch (const ZelvError&) {
    result.cost = 0;
    result.costKnown = false;
  }
  result.complete = true;
  state.Adjusted = points;

  state.Precision.known = true;
  state.Precision.sigma = rigorous.sigma;
  state.Precision.sigma0 = rigorous.sigma0;
  state.Precision.redundancy = rigorous.redundancy;
  state.Precision.outliers.clear();
  for (int index : rigorous.outliers) state.Precision.outliers.push_back(index + 1);
  state.Precision.tQuantile95 = rigorous.tQuantile95;
  state.Precision.verdict = rigorous.verdict;
  state.Precision.alternative = rigorous.alternative;
  state.Precision.geometry = rigorous.geometry;
  TakeAdjustmentFigures(state, adjustment);
  AddCalibrationPart(state, points, adjustment, F);
  WarnIfSuspect(state);
  return Success();
}

std::vector<std::string> PrecisionLines(const Orientation& state) {
  std::vector<std::string> lines;
  if (!state.precision.known) return lines;
  const ResultPrecision& p = state.precision;
  const char s = state.decimalSeparator;
  lines.push_back("Строгая оценка: σ0 = " + SigmaText(p.sigma0, s) +
                  " пикс. (избыточных измерений: " + std::to_string(p.redundancy) + ")");
  lines.push_back(p.outliers.empty() ? "Исключённых точек нет"
                                     : "Исключены как грубые ошибки точки: " +
                                           PointNameList(state.pointIds, p.outliers));
  lines.push_back(
      state.focalLength.estimated
          ? "Фокусное расстояние оценено: F = " + PixelsText(state.focalLength.value, s) + " ± " +
                SigmaText(state.focalLength.sigma, s) + " пикс."
          : "Фокусное расстояние задано: F = " + PixelsText(state.focalLength.value, s) + " пикс.");
  const auto group = [&](const std::string& caption, int first, int count) {
    std::string line = caption + ":";
    for (int i = first; i < first + count; ++i)
      line += std::string(" ") + kResults[static_cast<std::size_t>(i)].label +
              SigmaText(p.sigma[static_cast<std::size_t>(i)], s);
    lines.push_back(line);
  };
  group("σ центра проекции", kCentreX, 3);
  group("σ точки визирования", kSightingX, 2);
  group("σ расстояния", kDistance, 1);
  group("σ фотограмметрических углов, градусы", kPhotoAlpha, 3);
  group("σ стендовых углов, градусы", kStandAl, 3);
  group("σ направляющих косинусов", kCosXX, 9);
  lines.push_back(p.redundancy > 0 && p.tQuantile95 > 0
                      ? "95 % интервалы: ± " + FixedText(p.tQuantile95, 2, s) +
                            "·σ (t Стьюдента для " + std::to_string(p.redundancy) +
                            " избыточных измерений)"
                      : "Избыточных измерений нет: интервалы не определены");
  lines.push_back(p.verdict.suspect ? "Проверка: результат сомнителен (см. предупреждения)"
                                    : "Проверка: σ0 согласуется с заданной точностью " +
                                          SigmaText(p.verdict.imageSigma, s) + " пикс. (χ² = " +
                                          FixedText(p.verdict.chiSquare, 1, s) + " при пороге " +
                                          FixedText(p.verdict.chiSquareLimit, 1, s) + ")");
  if (p.sigmaParts)
    lines.push_back(
        "σ включают погрешность калибровки камеры (по ковариационной матрице её параметров)");
  if (p.covariance) {
    const PoseCovariance& c = *p.covariance;
    lines.push_back("Эллипсоид ошибок центра проекции (95 %): полуоси " +
                    SigmaText(c.centreSemiAxes[0], s) + ", " + SigmaText(c.centreSemiAxes[1], s) +
                    ", " + SigmaText(c.centreSemiAxes[2], s));
    const std::vector<std::string> strong = StrongCorrelations(c, s);
    if (!strong.empty()) {
      std::string line = "Сильные корреляции (|r| > " + FixedText(0.9, 1, s) + "):";
      for (std::size_t i = 0; i < strong.size(); ++i) line += (i > 0 ? ", " : " ") + strong[i];
      lines.push_back(line);
    }
  }
  const CheckPoints& checks = state.checkPoints;
  if (!checks.points.empty())
    lines.push_back("Контрольные точки (" + std::to_string(checks.points.size()) +
                    "): СКП на снимке " + SigmaText(checks.imageRmse, s) + " пикс., в сцене " +
                    SigmaText(checks.sceneRmse, s));
  if (p.alternative.present) {
    const auto& v = p.alternative.values;
    lines.push_back("Второе решение: центр проекции X=" + FixedText(v[kCentreX], 4, s) +
                    " Y=" + FixedText(v[kCentreY], 4, s) + " Z=" + FixedText(v[kCentreZ], 4, s) +
                    ", σ0 = " + SigmaText(p.alternative.sigma0, s) +
                    " пикс., разность χ² = " + FixedText(p.alternative.chiSquareDifference, 2, s) +
                    (p.alternative.distinguishable ? " (различимы на уровне 95 %)"
                                                   : " (неразличимы на уровне 95 %)"));
  }
  return lines;
}

// ---------------------------------------------------------------- reading the inputs

namespace {

template <typename T>
void Reordered(std::vector<T>& list, const std::vector<int>& index) {
  if (list.empty()) return;
  std::vector<T> out;
  out.reserve(index.size());
  for (int i : index) out.push_back(list[static_cast<std::size_t>(i)]);
  list.swap(out);
}

// A file's extras put in the paired order.
void ReorderExtras(PointExtras& extras, const std::vector<int>& index) {
  Reordered(extras.z, index);
  Reordered(extras.sigma, index);
  Reordered(extras.check, index);
}

// Pairs the points just read (app/point_pairing.h): by identifier where both files have them,
// with a warning for each file that has points the other lacks. The numbers of the uncovered
// image points follow the pairing.
void PairInputs(OrientationRun& run, const std::vector<std::string>& imageIds,
                const std::vector<std::string>& sceneIds) {
  PointPairing pairing = PairPoints(run.ImagePoints, imageIds, run.ScenePoints, sceneIds);
  run.PointIds = std::move(pairing.ids);  // not copied: millions of identifiers are no small copy
  if (!pairing.byIdentifier) return;
  ReorderExtras(run.ImageExtras, pairing.imageIndex);
  ReorderExtras(run.SceneExtras, pairing.sceneIndex);
  std::vector<int> uncovered;
  // The reader lists the uncovered points in file order, ascending: a search, not a scan per
  // point, so millions of points with identifiers are not paired in quadratic time.
  for (std::size_t i = 0; i < pairing.imageIndex.size(); ++i)
    if (std::binary_search(run.UncoveredPoints.begin(), run.UncoveredPoints.end(),
                           pairing.imageIndex[i] + 1))
      uncovered.push_back(static_cast<int>(i) + 1);
  run.UncoveredPoints = std::move(uncovered);
  for (const std::string& warning : PairingWarnings(pairing)) Warn(run, warning);
}

// The failure of a reader, naming its input.
Expected<void> Concerning(Expected<void> read, FailedInput input) {
  if (read) return read;
  Failure failure = read.error();
  failure.input = input;
  return failure;
}

}  // namespace

Expected<void> LoadInputs(OrientationRun& run) {
  run.PointIds.clear();
  InteriorGeometry& g = run.Geometry;
  run.UncoveredPoints.clear();  // a lens model covers every point
  std::vector<std::string> imageIds;
  std::vector<std::string> sceneIds;
  run.ImageExtras = PointExtras{};
  run.SceneExtras = PointExtras{};
  // A calibration file gives the interior geometry and a lens model that corrects the points.
  if (DetectCameraFileFormat(run.CameraFileName) != CameraFileFormat::CamFile) {
    if (Expected<void> read = Concerning(ReadCalibrationFile(run.CameraFileName, run.CameraId, g),
                                         FailedInput::kCamera);
        !read)
      return read;
    if (Expected<void> read = Concerning(
            run.GivenImagePoints ? ReadCalibratedImagePoints(*run.GivenImagePoints, run.ImagePoints,
                                                             *g.Lens, &imageIds, &run.ImageExtras)
                                 : ReadCalibratedImagePoints(run.ImageFileName, run.ImagePoints,
                                                             *g.Lens, &imageIds, &run.ImageExtras),
            FailedInput::kImage);
        !read)
      return read;
  } else {
    if (Expected<void> read =
            Concerning(ReadCameraFile(run.CameraFileName, g), FailedInput::kCamera);
        !read)
      return read;
    if (Expected<void> read =
            Concerning(run.GivenImagePoints
                           ? ReadImagePoints(*run.GivenImagePoints, run.ImagePoints,
                                             g.CorrectionTable, g.ImageCentreX, g.ImageCentreY,
                                             &run.UncoveredPoints, &imageIds, &run.ImageExtras)
                           : ReadImagePoints(run.ImageFileName, run.ImagePoints, g.CorrectionTable,
                                             g.ImageCentreX, g.ImageCentreY, &run.UncoveredPoints,
                                             &imageIds, &run.ImageExtras),
                       FailedInput::kImage);
        !read)
      return read;
  }
  if (Expected<void> read = Concerning(
          run.GivenScenePoints
              ? ReadScenePoints(*run.GivenScenePoints, run.ScenePoints, &sceneIds, &run.SceneExtras)
              : ReadScenePoints(run.SceneFileName, run.ScenePoints, &sceneIds, &run.SceneExtras),
          FailedInput::kScene);
      !read)
    return read;
  PairInputs(run, imageIds, sceneIds);
  return Success();
}

bool CheckPointSpread(const VT_Points& points, double imageWidth, double imageHeight) {
  // An image size whose square overflows raises, as every overflow of the computation does.
  const double diagonal = std::sqrt(
      Finite(imageWidth * imageWidth + imageHeight * imageHeight, "the image diagonal overflows"));
  return 0.5 * diagonal <= LargestPointDistance(points);
}

void ClearResults(OrientationRun& run) {
  for (std::string& text : run.Results) text.clear();
  run.Values = OrientationValues{};
  run.Precision = ResultPrecision{};
}

// ---------------------------------------------------------------- computing the pose

namespace {

const char kInternalError[] = "Внутренняя ошибка! Проверьте входные данные.";

PoseSolveOptions SolveOptionsFor(OrientationRun& run, const PoseOptions& options) {
  PoseSolveOptions solve = options;
  solve.decimalSeparator = run.DecimalSeparator;
  solve.startTime = run.StartTime;
  const std::string logPath = options.logPath.empty()
                                  ? run.StartDirectory + "/" + run.Settings.Log1FileName
                                  : options.logPath;
  solve.writeLog = [logPath, &run](const std::vector<std::string>& lines) {
    SaveTextLines(logPath, lines);
    run.LogLines = lines;
  };
  return solve;
}

void SetStatus(const OrientationRun& run, const std::string& text) {
  if (run.progress.status) run.progress.status(text);
}

}  // namespace

void ShowPose(OrientationRun& run, const PoseResult& result) {
  if (result.known[kSightingX]) {
    run.Coefficients = result.coefficients;
    run.SightingPointX = result.sightingX;
    run.SightingPointY = result.sightingY;
    run.Distance = result.distance;
  }
  for (int i = 0; i < kResultCount; ++i) {
    if (!result.known[i]) continue;
    run.Values.values[i] = result.values[i];
    run.Results[i] = FormatFixed4(result.values[i], run.DecimalSeparator);
  }
  if (result.known[kStandHi]) {
    run.Values.Al = result.Al;
    run.Values.Bet = result.Bet;
    run.Values.Hi = result.Hi;
  }
  if (result.known[kCentreZ]) run.ProjectionCentre = result.centre;
  if (!result.complete) return;
  run.Values.cost = result.cost;
  run.Values.costKnown = result.costKnown;
  run.Values.complete = true;
  SetStatus(run, "");
}

void OrientFromCoefficients(OrientationRun& run, const PoseOptions& options) {
  PoseResult result;
  try {
    PoseFromCoefficients(run.Coefficients, run.ImagePoints, run.ScenePoints,
                         run.Geometry.FocalLength, run.SightingPointX, run.SightingPointY,
                         run.Distance, run.Settings, SolveOptionsFor(run, options), result);
  } catch (const ZelvError&) {
    ShowPose(run, result);
    throw;
  }
  ShowPose(run, result);
}

Expected<void> ComputePose(OrientationRun& run, const PoseOptions& options) {
  const bool rigorous = run.Settings.EstimateLevel == kRigorousLevel;
  // The rigorous level starts from the fast pose, and needs the scene points as read.
  const std::vector<AdjustmentPoint> points =
      rigorous ? AdjustmentPointsOf(run) : std::vector<AdjustmentPoint>{};
  // The settings are the run's own: the precise estimate may overwrite its start offsets. A scene
  // in space has no plane for the fast estimate: the adjustment finds its own start.
  PoseResult result = rigorous && SceneIsSpatial(points)
                          ? PoseResult{}
                          : SolvePose(run.ImagePoints, run.ScenePoints, run.Geometry.FocalLength,
                                      run.Settings, SolveOptionsFor(run, options));
  if (rigorous) {
    const PoseResult fast = result;
    if (Expected<void> refined = RigorousPose(run, points, fast, result); !refined) return refined;
  }
  ShowPose(run, result);
  if (!result.complete) return Failure{kInternalError, kRefusalCaption, MessageIcon::Exclamation};
  return Success();
}

bool SceneIsSpatial(const OrientationRun& run) {
  return std::any_of(run.SceneExtras.z.begin(), run.SceneExtras.z.end(),
                     [](double z) { return z != 0; });
}

std::vector<AdjustmentPoint> AdjustmentPointsOf(const OrientationRun& run) {
  const std::int32_t count = std::min(run.ImagePoints.Count(), run.ScenePoints.Count());
  std::vector<AdjustmentPoint> points;
  points.reserve(static_cast<std::size_t>(std::max(count, 0)));
  const auto at = [](const auto& list, std::size_t i, auto none) {
    return i < list.size() ? list[i] : none;
  };
  for (std::int32_t i = 0; i < count; ++i) {
    const std::size_t k = static_cast<std::size_t>(i);
    const VT_Point* a = run.ImagePoints.Get(i);
    const VT_Point* b = run.ScenePoints.Get(i);
    points.push_back({a->x, a->y, b->x, b->y, at(run.SceneExtras.z, k, 0.0),
                      at(run.ImageExtras.sigma, k, 0.0), at(run.SceneExtras.sigma, k, 0.0),
                      at(run.SceneExtras.check, k, char{0}) != 0});
  }
  return points;
}

Expected<void> CheckAdjustmentInputs(OrientationRun& run) {
  const bool checks = std::any_of(run.SceneExtras.check.begin(), run.SceneExtras.check.end(),
                                  [](char c) { return c != 0; });
  if (run.Settings.EstimateLevel == kRigorousLevel) {
    const int count = std::min(run.ImagePoints.Count(), run.ScenePoints.Count());
    const auto control = static_cast<int>(
        count - std::count(run.SceneExtras.check.begin(), run.SceneExtras.check.end(), char{1}));
    if (checks && control < 4)
      return Failure{"Опорных точек осталось " + std::to_string(control) +
                         ", а нужно не меньше четырёх: контрольные точки в вычислении не "
                         "участвуют. Отметьте больше точек как опорные (control).",
                     "Ошибка!", MessageIcon::None, FailedInput::kScene};
    return Success();
  }
  if (SceneIsSpatial(run))
    return Failure{
        "Точки сцены лежат не в одной плоскости (у части точек Z не равно нулю). Такую "
        "сцену решает только строгая оценка: выберите строгий уровень оценки (4).",
        kRefusalCaption, MessageIcon::Exclamation, FailedInput::kScene};
  if (checks)
    return Failure{
        "Контрольные точки проверяет только строгая оценка: выберите строгий уровень "
        "оценки (4) или отметьте все точки как опорные (control).",
        kRefusalCaption, MessageIcon::Exclamation, FailedInput::kScene};
  if (run.Known.Any())
    return Failure{
        "Известные значения (центр проекции, поворот, фокусное расстояние) учитывает "
        "только строгая оценка: выберите строгий уровень оценки (4) или уберите "
        "известные значения.",
        kRefusalCaption, MessageIcon::Exclamation};
  if (!run.ImageExtras.sigma.empty() || !run.SceneExtras.sigma.empty())
    Warn(run,
         "σ точек из таблиц учитывает только строгая оценка; на этом уровне все точки "
         "считаются равноточными.");
  return Success();
}

namespace {

// The residuals of a scene in space, projected as solver/conventions.h states it.
Residuals SpatialResiduals(const OrientationRun& run) {
  const auto& v = run.Values.values;
  const double F = run.Geometry.FocalLength;
  Residuals out;
  double squares = 0;
  for (std::size_t i = 0; i < run.Adjusted.size(); ++i) {
    const AdjustmentPoint& p = run.Adjusted[i];
    const double dx = p.X - v[kCentreX], dy = p.Y - v[kCentreY], dz = p.Z - v[kCentreZ];
    // Camera x, y and z are the columns of the direction cosines (solver/conventions.h).
    const double cx = v[kCosXX] * dx + v[kCosYX] * dy + v[kCosZX] * dz;
    const double cy = v[kCosXY] * dx + v[kCosYY] * dy + v[kCosZY] * dz;
    const double depth = -(v[kCosXZ] * dx + v[kCosYZ] * dy + v[kCosZZ] * dz);
    if (!(depth != 0)) throw ZelvError("a point projects to infinity");
    PointResidual r;
    r.number = static_cast<int>(i) + 1;
    if (i < run.PointIds.size()) r.id = run.PointIds[i];
    r.x = p.x;
    r.y = p.y;
    r.X = p.X;
    r.Y = p.Y;
    r.ex = Finite(p.x - F * cx / depth, "overflow in the projection");
    r.ey = Finite(p.y - F * cy / depth, "overflow in the projection");
    r.length = std::sqrt(r.ex * r.ex + r.ey * r.ey);
    out.summary.cost += std::fabs(r.ex) + std::fabs(r.ey);
    squares += r.ex * r.ex + r.ey * r.ey;
    out.points.push_back(r);
  }
  const double n = static_cast<double>(out.points.size());
  out.summary.sigma = n > 0 ? std::sqrt(squares / (2 * n)) : 0;
  out.summary.sigmaCount = run.SigmaCount;
  for (const PointResidual& r : out.points)
    if (r.length > out.summary.largest) {
      out.summary.largest = r.length;
      out.summary.largestNumber = r.number;
    }
  const double limit = run.SigmaCount * out.summary.sigma;
  for (PointResidual& r : out.points) {
    r.flagged = std::max(std::fabs(r.ex), std::fabs(r.ey)) > std::max(limit, kNegligibleResidual);
    if (r.flagged) ++out.summary.flaggedCount;
  }
  if (!std::isfinite(out.summary.cost) || !std::isfinite(out.summary.sigma))
    throw ZelvError("overflow in the residuals");
  return out;
}

}  // namespace

const char* LevelName(int level) {
  switch (level) {
    case 1:
      return "normal";
    case 3:
      return "precise";
    case kRigorousLevel:
      return "rigorous";
    default:
      return "fast";
  }
}

std::string ElapsedTimeText(std::chrono::system_clock::duration elapsed) {
  long long seconds = std::chrono::duration_cast<std::chrono::seconds>(elapsed).count();
  if (seconds < 0) seconds = 0;
  return "Подождите. Идёт счёт...   " + std::to_string(seconds / 3600) + " : " +
         std::to_string(seconds / 60 % 60) + " : " + std::to_string(seconds % 60);
}

Expected<void> CheckLayout(const OrientationRun& run) {
  const int count = std::min(run.ImagePoints.Count(), run.ScenePoints.Count());
  const bool rigorous = run.Settings.EstimateLevel == kRigorousLevel;
  for (const bool image : {true, false}) {
    // Scene points in space may lie on one line seen from above: the adjustment judges them.
    if (!image && rigorous && SceneIsSpatial(run)) continue;
    const VT_Points& list = image ? run.ImagePoints : run.ScenePoints;
    std::vector<double> x(static_cast<std::size_t>(count)), y(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
      x[static_cast<std::size_t>(i)] = list.Get(i)->x;
      y[static_cast<std::size_t>(i)] = list.Get(i)->y;
    }
    const PointGeometry geometry = CheckPointGeometry(x, y, image ? "изображения" : "сцены");
    // The projective transformation of levels 0, 1 and 3 needs four points in general position;
    // the rigorous level still fixes the pose from a line and one point off it, and judges that
    // layout itself.
    const bool refused = geometry.problem != PointGeometryProblem::kNone &&
                         !(rigorous && geometry.problem == PointGeometryProblem::kAllButOneOnLine);
    if (refused)
      return Failure{geometry.reason, "Ошибка!", MessageIcon::None,
                     image ? FailedInput::kImage : FailedInput::kScene};
  }
  return Success();
}

Expected<void> CheckPointCounts(const OrientationRun& run) {
  const int image = run.ImagePoints.Count();
  const int scene = run.ScenePoints.Count();
  if (image == scene) return Success();
  const bool imageMore = image > scene;
  return Failure{std::string(kInternalError) + "\nТочек в файле изображения " +
                     FileNameOf(run.ImageFileName) + ": " + std::to_string(image) +
                     ", в файле сцены " + FileNameOf(run.SceneFileName) + ": " +
                     std::to_string(scene) + "; в файле " + (imageMore ? "изображения" : "сцены") +
                     " на " + std::to_string(imageMore ? image - scene : scene - image) +
                     " больше. Точки составляют пары по номерам строк: в обоих файлах их должно "
                     "быть поровну.",
                 kRefusalCaption, MessageIcon::Exclamation};
}

Expected<void> RunSteps(OrientationRun& run, const std::string& logPath, int threads) {
  run.StartTime = std::chrono::system_clock::now();
  run.Warnings.clear();
  if (Expected<void> read = LoadInputs(run); !read) return read;
  if (run.ImagePoints.Count() < 4 || run.ScenePoints.Count() < 4)
    return Failure{"Недостаточно точек! Процедура прервана!"};
  if (Expected<void> paired = CheckPointCounts(run); !paired) return paired;
  if (Expected<void> adjustment = CheckAdjustmentInputs(run); !adjustment) return adjustment;
  if (Expected<void> layout = CheckLayout(run); !layout) return layout;
  bool spread = false;
  try {
    spread = CheckPointSpread(run.ImagePoints, run.Geometry.ImageWidth, run.Geometry.ImageHeight);
  } catch (const ZelvError&) {
    return Failure{kInternalError, kRefusalCaption, MessageIcon::Exclamation};
  }
  if (!spread)
    Warn(run, "Реперные точки расположены слишком кучно. Достоверность результата низкая.");
  if (!run.UncoveredPoints.empty())
    Warn(run, UncoveredPointsWarning(run.UncoveredPoints, run.PointIds), run.UncoveredPoints);
  if (Expected<void> focal = ProvideFocalLength(run); !focal) return focal;
  // The rigorous level refuses a camera behind the plane; the others warn.
  if (run.Settings.EstimateLevel != kRigorousLevel) WarnIfSceneMirrored(run);
  ClearResults(run);
  run.Computing = true;
  if (run.progress.computing) run.progress.computing();
  SetStatus(run, "Подождите. Идёт счёт...");
  PoseOptions options;
  options.logPath = logPath;
  options.threads = threads;
  options.progress = [&run] {
    SetStatus(run, ElapsedTimeText(std::chrono::system_clock::now() - run.StartTime));
  };
  return ComputePose(run, options);
}

// ---------------------------------------------------------------- the result as a value

Residuals ResidualsOf(const OrientationRun& run) {
  if (!run.Values.complete) throw ZelvError("no orientation result");
  if (SceneIsSpatial(run)) return SpatialResiduals(run);
  Residuals residuals =
      ComputeResiduals(run.ImagePoints, run.ScenePoints, run.Values.Al, run.Values.Bet,
                       run.Values.Hi, run.Geometry.FocalLength, run.Distance, run.SightingPointX,
                       run.SightingPointY, run.SigmaCount);
  if (run.PointIds.size() >= residuals.points.size())
    for (std::size_t i = 0; i < residuals.points.size(); ++i)
      residuals.points[i].id = run.PointIds[i];
  return residuals;
}

Orientation OrientationOf(const OrientationRun& run) {
  Orientation out;
  out.level = run.Settings.EstimateLevel;
  out.decimalSeparator = run.DecimalSeparator;
  out.texts = run.Results;
  out.values = run.Values;
  out.centre = run.ProjectionCentre;
  out.precision = run.Precision;
  out.focalLength = run.FocalLength;
  out.warnings = run.Warnings;
  const auto& v = run.Values.values;
  const Rotation M{v[kCosXX], v[kCosXY], v[kCosXZ], v[kCosYX], v[kCosYY],
                   v[kCosYZ], v[kCosZX], v[kCosZY], v[kCosZZ]};
  if (run.Values.complete)
    out.pose = StandardPoseOf(M, TPoint3(v[kCentreX], v[kCentreY], v[kCentreZ]));
  try {
    out.residuals = ResidualsOf(run);
  } catch (const ZelvError&) {
    out.residuals.reset();
  }
  out.pointIds = run.PointIds;
  out.checkPoints = run.Checks;
  out.spatial = SceneIsSpatial(run);
  out.camera = run.Geometry;
  out.log = run.LogLines;
  out.settings = run.Settings;
  return out;
}

void TakeRequest(OrientationRun& run, const OrientationRequest& request,
                 const OrientationProgress& progress) {
  run.CameraFileName = request.cameraFile;
  run.ImageFileName = request.imageFile;
  run.SceneFileName = request.sceneFile;
  run.GivenImagePoints = request.imagePoints ? &*request.imagePoints : nullptr;
  run.GivenScenePoints = request.scenePoints ? &*request.scenePoints : nullptr;
  run.CameraId = request.cameraId;
  run.StartDirectory = request.startDirectory;
  run.Settings = request.settings;
  run.SigmaCount = request.sigmaCount;
  run.ImageSigma = request.imageSigma;
  run.Known = request.known;
  run.DecimalSeparator = request.decimalSeparator;
  run.progress = progress;
}

std::vector<std::string> WarningTexts(const std::vector<Warning>& warnings) {
  std::vector<std::string> texts;
  for (const Warning& warning : warnings) texts.push_back(warning.text);
  return texts;
}

std::optional<std::string> OrientationRequest::Check() const {
  const int level = settings.EstimateLevel;
  if (level != 0 && level != 1 && level != 3 && level != kRigorousLevel)
    return "the estimate level must be 0, 1, 3 or 4";
  if (cameraId < 0) return "the camera id must be 0 or more";
  if (!(sigmaCount >= 0) || !std::isfinite(sigmaCount)) return "the sigma count must be 0 or more";
  if (!(imageSigma > 0) || !std::isfinite(imageSigma))
    return "the image sigma must be a number above 0";
  if (decimalSeparator != '.' && decimalSeparator != ',')
    return "the decimal separator must be '.' or ','";
  for (double value :
       {settings.AlMin, settings.BetMin, settings.HiMin, settings.LMin, settings.AlStart,
        settings.BetStart, settings.HiStart, settings.LStart, settings.AlFirstValue,
        settings.BetFirstValue, settings.HiFirstValue, settings.LFirstValue})
    if (!std::isfinite(value)) return "the refinement's settings must be finite numbers";
  if (threads < 0 || threads > 256) return "the thread count must be 0 to 256";
  const auto wrong = [](const std::optional<KnownValue>& known) {
    return known &&
           (!std::isfinite(known->value) || !std::isfinite(known->sigma) || known->sigma < 0);
  };
  if (wrong(known.centreX) || wrong(known.centreY) || wrong(known.centreZ) || wrong(known.roll) ||
      wrong(known.focalLength))
    return "a known value and its sigma must be finite numbers, the sigma 0 or more";
  if (known.focalLength && !(known.focalLength->value > 0))
    return "a known focal length must be above 0";
  if (known.roll && std::fabs(known.roll->value) > 360)
    return "a known roll must be -360 to 360 degrees";
  return std::nullopt;
}

OrientationOutcome Orient(const OrientationRequest& request, const OrientationProgress& progress) {
  if (const std::optional<std::string> wrong = request.Check()) {
    OrientationFailure failure(Failure{*wrong, "Ошибка!"});
    failure.settings = request.settings;
    return failure;
  }
  OrientationRun run;
  TakeRequest(run, request, progress);
  Expected<void> done = Failure{};
  try {
    done = RunSteps(run, request.logPath, request.threads);
  } catch (const std::exception&) {
    // Every computation catches its own faults; this keeps a caller's thread alive should one
    // escape (a failed allocation).
    done = Failure{kInternalError, kRefusalCaption, MessageIcon::Exclamation};
  }
  if (done) return OrientationOf(run);
  OrientationFailure failure(done.error());
  failure.warnings = run.Warnings;
  if (run.Computing) failure.shown = run.Results;
  failure.settings = run.Settings;
  return failure;
}

}  // namespace zelv
