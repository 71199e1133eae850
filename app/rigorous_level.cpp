#include "app/rigorous_level.h"

#include <charconv>
#include <cmath>

#include "app/point_pairing.h"
#include "base/number_text.h"
#include "base/zelv_error.h"
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

// A standard deviation with two significant digits, in fixed notation.
std::string SigmaText(double sigma, char separator) {
  if (!(sigma > 0) || !std::isfinite(sigma)) return "0";
  const int magnitude = static_cast<int>(std::floor(std::log10(sigma)));
  const int decimals = std::max(0, 1 - magnitude);
  char text[64];
  const auto end =
      std::to_chars(text, text + sizeof text, sigma, std::chars_format::fixed, decimals).ptr;
  std::string out(text, end);
  for (char& c : out)
    if (c == '.') c = separator;
  return out;
}

// A focal length (pixels) with one decimal.
std::string PixelsText(double value, char separator) {
  char text[64];
  const auto end = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 1).ptr;
  std::string out(text, end);
  for (char& c : out)
    if (c == '.') c = separator;
  return out;
}

std::vector<ControlPoint> Mirrored(std::vector<ControlPoint> points) {
  for (ControlPoint& p : points) p.Y = -p.Y;
  return points;
}

}  // namespace

void Warn(OrientationState& state, UserInterface& ui, const std::string& text) {
  state.Warnings.push_back(text);
  ui.ShowMessage(text, kWarningCaption, MessageIcon::None, Owner{});
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

bool ProvideFocalLength(OrientationState& state, UserInterface& ui) {
  state.FocalLength = FocalLengthUse{};
  state.FocalLength.value = state.Geometry.FocalLength;
  if (state.Geometry.FocalLength != -1) return true;
  std::vector<ControlPoint> points = ControlPointsOf(state.ImagePoints, state.ScenePoints);
  // The focal length does not depend on the scene frame's handedness: a mirrored frame is
  // mirrored back for the estimate, and warned about later.
  if (SceneFrameLooksMirrored(points)) points = Mirrored(std::move(points));
  const RigorousResult estimate = RigorousEstimate(points, -1);
  if (estimate.failure != RigorousFailure::kNone) {
    ui.ShowMessage(kFocalLengthUndetermined, kRefusalCaption, MessageIcon::Exclamation, Owner{});
    return false;
  }
  state.Geometry.FocalLength = estimate.focalLength;
  state.FocalLength = {estimate.focalLength, estimate.focalLengthSigma, true};
  Warn(state, ui,
       "Фокусное расстояние не задано в cam-файле; оно оценено по реперным точкам: F = " +
           PixelsText(estimate.focalLength, state.DecimalSeparator) + " ± " +
           SigmaText(estimate.focalLengthSigma, state.DecimalSeparator) + " пикс.");
  return true;
}

void WarnIfSceneMirrored(OrientationState& state, UserInterface& ui) {
  if (SceneFrameLooksMirrored(state.ImagePoints, state.ScenePoints))
    Warn(state, ui, kMirroredWarning);
}

bool RigorousPose(OrientationState& state, UserInterface& ui,
                  const std::vector<ControlPoint>& points, const PoseResult& fast,
                  PoseResult& result) {
  std::optional<StandPose> start;
  if (fast.complete)
    start = StandPose{fast.Al, fast.Bet, fast.Hi, fast.distance, fast.sightingX, fast.sightingY};
  // With an estimated focal length the rigorous fit varies it as its seventh parameter.
  const double F = state.FocalLength.estimated ? -1 : state.Geometry.FocalLength;
  if (!state.FocalLength.estimated && !(F > 0)) {
    ui.ShowMessage(kNonPositiveFocalLength, kRefusalCaption, MessageIcon::Exclamation, Owner{});
    return false;
  }
  const RigorousResult rigorous = RigorousEstimate(points, F, start);
  switch (rigorous.failure) {
    case RigorousFailure::kNone:
      break;
    case RigorousFailure::kBehindPlane:
      ui.ShowMessage(kBehindPlane, kRefusalCaption, MessageIcon::Exclamation, Owner{});
      return false;
    case RigorousFailure::kAxisMissesPlane:
      ui.ShowMessage(kAxisMissesPlane, kRefusalCaption, MessageIcon::Exclamation, Owner{});
      return false;
    case RigorousFailure::kFocalLengthUndetermined:
      ui.ShowMessage(kFocalLengthUndetermined, kRefusalCaption, MessageIcon::Exclamation, Owner{});
      return false;
    case RigorousFailure::kNoConsensus:
      ui.ShowMessage(kNoConsensus, kRefusalCaption, MessageIcon::Exclamation, Owner{});
      return false;
    case RigorousFailure::kTooFewPoints:
    case RigorousFailure::kDegenerate:
      ui.ShowMessage(kDegenerate, kRefusalCaption, MessageIcon::Exclamation, Owner{});
      return false;
  }
  if (state.FocalLength.estimated) {
    state.FocalLength.value = rigorous.focalLength;
    state.FocalLength.sigma = rigorous.focalLengthSigma;
    state.Geometry.FocalLength = rigorous.focalLength;
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
  try {
    result.cost = RefinementCost(state.ImagePoints, state.ScenePoints, result.Al, result.Bet,
                                 result.Hi, state.Geometry.FocalLength, result.distance);
    result.costKnown = true;
  } catch (const ZelvError&) {
    result.cost = 0;
    result.costKnown = false;
  }
  result.complete = true;

  state.Precision.known = true;
  state.Precision.sigma = rigorous.sigma;
  state.Precision.sigma0 = rigorous.sigma0;
  state.Precision.redundancy = rigorous.redundancy;
  state.Precision.outliers.clear();
  for (int index : rigorous.outliers) state.Precision.outliers.push_back(index + 1);
  return true;
}

std::vector<std::string> PrecisionLines(const OrientationState& state) {
  std::vector<std::string> lines;
  if (!state.Precision.known) return lines;
  const ResultPrecision& p = state.Precision;
  const char s = state.DecimalSeparator;
  lines.push_back("Строгая оценка: σ0 = " + SigmaText(p.sigma0, s) +
                  " пикс. (избыточных измерений: " + std::to_string(p.redundancy) + ")");
  lines.push_back(p.outliers.empty() ? "Исключённых точек нет"
                                     : "Исключены как грубые ошибки точки: " +
                                           PointNameList(state.PointIds, p.outliers));
  lines.push_back(
      state.FocalLength.estimated
          ? "Фокусное расстояние оценено: F = " + PixelsText(state.FocalLength.value, s) + " ± " +
                SigmaText(state.FocalLength.sigma, s) + " пикс."
          : "Фокусное расстояние задано: F = " + PixelsText(state.FocalLength.value, s) + " пикс.");
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
  return lines;
}

}  // namespace zelv
