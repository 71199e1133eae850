#include "app/calibration_uncertainty.h"

#include <cmath>
#include <exception>

#include "solver/pose.h"
#include "solver/pose_conventions.h"

namespace zelv {
namespace {

bool IsDegrees(int index) {
  return (index >= kPhotoAlpha && index <= kPhotoKappa) || (index >= kStandAl && index <= kStandHi);
}

// The difference of two angles brought into (−half, half]: the central difference of an angle
// that wraps between its two solves.
double Wrapped(double difference, double half) {
  const double full = 2 * half;
  difference = std::fmod(difference, full);
  if (difference > half) difference -= full;
  if (difference <= -half) difference += full;
  return difference;
}

// The adjustment's parameters from its values, in the order of `names`.
std::vector<double> ParametersOf(const RigorousResult& r, const std::vector<std::string>& names) {
  const auto& v = r.values;
  const Rotation M{v[kCosXX], v[kCosXY], v[kCosXZ], v[kCosYX], v[kCosYY],
                   v[kCosYZ], v[kCosZX], v[kCosZY], v[kCosZZ]};
  const StandardPose pose = StandardPoseOf(M, TPoint3(v[kCentreX], v[kCentreY], v[kCentreZ]));
  std::vector<double> out;
  for (const std::string& name : names) {
    if (name == "omega")
      out.push_back(pose.omegaPhiKappaDeg[0] * kPi / 180);
    else if (name == "phi")
      out.push_back(pose.omegaPhiKappaDeg[1] * kPi / 180);
    else if (name == "kappa")
      out.push_back(pose.omegaPhiKappaDeg[2] * kPi / 180);
    else if (name == "X0")
      out.push_back(v[kCentreX]);
    else if (name == "Y0")
      out.push_back(v[kCentreY]);
    else if (name == "Z0")
      out.push_back(v[kCentreZ]);
    else
      out.push_back(r.focalLength);
  }
  return out;
}

// The lens with intrinsic `index` (the order of IntrinsicNames) moved by `step`.
LensCalibration Moved(LensCalibration lens, std::size_t index, double step) {
  switch (index) {
    case 0:
      lens.fx += step;
      break;
    case 1:
      lens.fy += step;
      break;
    case 2:
      lens.cx += step;
      break;
    case 3:
      lens.cy += step;
      break;
    default:
      lens.coefficients[index - 4] += step;
  }
  return lens;
}

// D Σ Dᵀ for D of `rows` rows and n columns (row-major) and Σ n × n.
std::vector<double> Sandwich(const std::vector<double>& D, std::size_t rows,
                             const std::vector<double>& sigma, std::size_t n) {
  std::vector<double> DS(rows * n, 0.0), out(rows * rows, 0.0);
  for (std::size_t i = 0; i < rows; ++i)
    for (std::size_t k = 0; k < n; ++k)
      for (std::size_t j = 0; j < n; ++j) DS[i * n + j] += D[i * n + k] * sigma[k * n + j];
  for (std::size_t i = 0; i < rows; ++i)
    for (std::size_t j = 0; j < rows; ++j)
      for (std::size_t k = 0; k < n; ++k) out[i * rows + j] += DS[i * n + k] * D[j * n + k];
  return out;
}

}  // namespace

std::optional<CalibrationUncertainty> PropagateCalibration(
    const LensCalibration& lens, const std::vector<AdjustmentPoint>& points,
    const AdjustmentResult& adjusted, double focalLength, bool focalFromLens,
    const KnownValues& known, const RigorousOptions& options) {
  const std::size_t n = IntrinsicNames(lens).size();
  if (n == 0 || lens.intrinsicsCovariance.size() != n * n) return std::nullopt;
  const RigorousResult& result = adjusted.rigorous;
  // The points of the result, less its blunders, back on the photograph.
  std::vector<AdjustmentPoint> used;
  std::vector<bool> out(points.size(), false);
  for (int index : result.outliers)
    if (index >= 0 && static_cast<std::size_t>(index) < points.size()) out[index] = true;
  std::vector<PixelPoint> corrected;
  for (std::size_t i = 0; i < points.size(); ++i)
    if (!out[i]) {
      used.push_back(points[i]);
      corrected.push_back({points[i].x, points[i].y});
    }
  const std::vector<std::string>& names = adjusted.parameters;
  const std::size_t values = kResultCount, parameters = names.size();
  std::vector<double> Dv(values * n, 0.0), Dp(parameters * n, 0.0);
  try {
    const std::vector<PixelPoint> raw = CorrectedToRaw(lens, corrected);
    for (std::size_t i = 0; i < n; ++i) {
      const double step = std::sqrt(lens.intrinsicsCovariance[i * n + i]);
      if (!(step > 0)) continue;  // an intrinsic known exactly moves nothing
      std::array<RigorousResult, 2> solved;
      for (int side = 0; side < 2; ++side) {
        const LensCalibration moved = Moved(lens, i, side == 0 ? step : -step);
        const std::vector<PixelPoint> moving = RawToCorrected(moved, raw);
        std::vector<AdjustmentPoint> again = used;
        for (std::size_t k = 0; k < again.size(); ++k) {
          again[k].x = moving[k].x;
          again[k].y = moving[k].y;
        }
        const double F = focalFromLens ? moved.fx : focalLength;
        const AdjustmentResult a = Adjust(again, F, known, result.pose, options);
        if (a.rigorous.failure != RigorousFailure::kNone) return std::nullopt;
        solved[side] = a.rigorous;
      }
      for (std::size_t r = 0; r < values; ++r) {
        const int index = static_cast<int>(r);
        double d = solved[0].values[r] - solved[1].values[r];
        if (IsDegrees(index)) d = Wrapped(d, 180);
        Dv[r * n + i] = d / (2 * step);
      }
      const std::vector<double> plus = ParametersOf(solved[0], names);
      const std::vector<double> minus = ParametersOf(solved[1], names);
      for (std::size_t r = 0; r < parameters; ++r) {
        double d = plus[r] - minus[r];
        if (names[r] == "omega" || names[r] == "phi" || names[r] == "kappa") d = Wrapped(d, kPi);
        Dp[r * n + i] = d / (2 * step);
      }
    }
  } catch (const std::exception&) {
    return std::nullopt;
  }
  CalibrationUncertainty u;
  u.valueCovariance = Sandwich(Dv, values, lens.intrinsicsCovariance, n);
  u.parameterCovariance = Sandwich(Dp, parameters, lens.intrinsicsCovariance, n);
  for (std::size_t r = 0; r < values; ++r)
    u.sigma[r] = std::sqrt(std::max(0.0, u.valueCovariance[r * values + r]));
  for (double v : u.valueCovariance)
    if (!std::isfinite(v)) return std::nullopt;
  for (double v : u.parameterCovariance)
    if (!std::isfinite(v)) return std::nullopt;
  return u;
}

}  // namespace zelv
