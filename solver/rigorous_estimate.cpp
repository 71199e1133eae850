#include "solver/rigorous_estimate.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "solver/planar_pose.h"
#include "solver/pose.h"
#include "solver/refinement.h"

namespace zelv {
namespace {

using Vector7 = Eigen::Matrix<double, 7, 1>;
using Matrix7 = Eigen::Matrix<double, 7, 7>;

// √(χ²₂ at 0.999): a point whose residual length exceeds this many σ is a blunder, where σ is
// known (the search); BlunderSigmas widens it for a σ estimated with few degrees of freedom.
constexpr double kBlunderSigmas = 3.7169;
// The chance that a scene without blunders loses a good point to the blunder test.
constexpr double kFalseBlunderProbability = 0.001;
// The Cauchy constant of the reweighted refinement, in σ of one coordinate (95 % efficiency).
constexpr double kCauchySigmas = 2.3849;
// The median residual length of an isotropic normal error of σ 1 per coordinate: √(2 ln 2).
constexpr double kMedianLength = 1.1774100225154747;
// Residual lengths up to this (pixels) are the rounding of an exact fit.
constexpr double kNegligibleLength = 1e-6;
// The random search: the seed, the fewest and the most four-point samples, its confidence.
constexpr std::uint32_t kSearchSeed = 20260412u;
constexpr int kMinSamples = 24;
constexpr int kMaxSamples = 500;
constexpr double kSearchConfidence = 0.999;

// The pose being fitted, with the focal length (pixels).
struct Model {
  Eigen::Matrix3d R = Eigen::Matrix3d::Identity();
  Eigen::Vector3d C = Eigen::Vector3d::Zero();
  double F = 0;
};

// The reprojection error (measured − projected) of one pair; false when the point is not in
// front of the camera.
inline bool PointError(const Model& m, const Eigen::Vector3d& RC, const PlanarCorrespondence& p,
                       double& eu, double& ev, Eigen::Vector3d& q) {
  q = p.X * m.R.col(0) + p.Y * m.R.col(1) - RC;
  if (!(q(2) > 0)) return false;
  eu = p.u - m.F * q(0) / q(2);
  ev = p.v - m.F * q(1) / q(2);
  return true;
}

// Σ w·(eu² + ev²) over the pairs of weight above 0; infinity when one of them is not in front.
double WeightedCost(const Model& m, const std::vector<PlanarCorrespondence>& points,
                    const std::vector<double>& weight) {
  const Eigen::Vector3d RC = m.R * m.C;
  double cost = 0;
  Eigen::Vector3d q;
  for (std::size_t i = 0; i < points.size(); ++i) {
    if (weight[i] <= 0) continue;
    double eu, ev;
    if (!PointError(m, RC, points[i], eu, ev, q)) return std::numeric_limits<double>::infinity();
    cost += weight[i] * (eu * eu + ev * ev);
  }
  return std::isfinite(cost) ? cost : std::numeric_limits<double>::infinity();
}

// The residual lengths of every pair (infinity for a point not in front).
std::vector<double> ResidualLengths(const Model& m,
                                    const std::vector<PlanarCorrespondence>& points) {
  const Eigen::Vector3d RC = m.R * m.C;
  std::vector<double> lengths(points.size());
  Eigen::Vector3d q;
  for (std::size_t i = 0; i < points.size(); ++i) {
    double eu, ev;
    lengths[i] = PointError(m, RC, points[i], eu, ev, q) ? std::sqrt(eu * eu + ev * ev)
                                                         : std::numeric_limits<double>::infinity();
  }
  return lengths;
}

// The normal equations N·d = g of the weighted least squares in the parameters (three small
// rotation angles about the camera axes, the centre, and F when `varyF`), and the cost.
bool NormalEquations(const Model& m, const std::vector<PlanarCorrespondence>& points,
                     const std::vector<double>& weight, bool varyF, Matrix7& N, Vector7& g,
                     double& cost) {
  // Upper triangles of N and g in plain arrays: the compiler unrolls the fixed loops.
  double n[7][7] = {};
  double gv[7] = {};
  cost = 0;
  const int count = varyF ? 7 : 6;
  const Eigen::Vector3d RC = m.R * m.C;
  const Eigen::Matrix3d& R = m.R;
  Eigen::Vector3d q;
  double ju[7], jv[7];
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double w = weight[i];
    if (w <= 0) continue;
    double eu, ev;
    if (!PointError(m, RC, points[i], eu, ev, q)) return false;
    const double iz = 1 / q(2);
    const double fu = m.F * iz, pu = q(0) * iz, pv = q(1) * iz;
    // d(projection)/dq = fu·(1, 0, −pu) and fu·(0, 1, −pv); dq/dδ = −[q]× (R ← exp(δ)·R) and
    // dq/dC = −R.
    ju[0] = fu * (-pu * q(1));
    ju[1] = fu * (q(2) + pu * q(0));
    ju[2] = fu * (-q(1));
    jv[0] = fu * (-q(2) - pv * q(1));
    jv[1] = fu * (pv * q(0));
    jv[2] = fu * q(0);
    for (int k = 0; k < 3; ++k) {
      ju[3 + k] = -fu * (R(0, k) - pu * R(2, k));
      jv[3 + k] = -fu * (R(1, k) - pv * R(2, k));
    }
    ju[6] = pu;
    jv[6] = pv;
    const double weu = w * eu, wev = w * ev;
    for (int a = 0; a < 7; ++a) {
      const double wa = w * ju[a], wb = w * jv[a];
      for (int b = a; b < 7; ++b) n[a][b] += wa * ju[b] + wb * jv[b];
      gv[a] += weu * ju[a] + wev * jv[a];
    }
    cost += w * (eu * eu + ev * ev);
  }
  N.setZero();
  g.setZero();
  for (int a = 0; a < count; ++a) {
    g(a) = gv[a];
    for (int b = a; b < count; ++b) N(a, b) = N(b, a) = n[a][b];
  }
  return std::isfinite(cost) && N.allFinite() && g.allFinite();
}

Model Apply(const Model& m, const Vector7& d) {
  Model next = m;
  const Eigen::Vector3d delta = d.head<3>();
  const double angle = delta.norm();
  if (angle > 0) next.R = Eigen::AngleAxisd(angle, delta / angle).toRotationMatrix() * m.R;
  next.C = m.C + d.segment<3>(3);
  next.F = m.F + d(6);
  return next;
}

// Levenberg–Marquardt on the weighted cost from `m`, at most `maxIterations` accepted steps.
// With `reweight`, the weights are recomputed from the residuals before every step (iteratively
// reweighted least squares). Returns the final weighted cost.
template <typename Reweight>
double Refine(Model& m, const std::vector<PlanarCorrespondence>& points,
              std::vector<double>& weight, bool varyF, int maxIterations, Reweight reweight,
              double tolerance = 1e-10) {
  const int n = varyF ? 7 : 6;
  double lambda = 1e-3;
  Matrix7 N;
  Vector7 g;
  double cost = 0;
  for (int iteration = 0; iteration < maxIterations; ++iteration) {
    reweight(m, weight);
    if (!NormalEquations(m, points, weight, varyF, N, g, cost)) break;
    if (cost == 0) break;
    bool accepted = false;
    double newCost = cost;
    Model next;
    while (lambda < 1e12) {
      Matrix7 A = N;
      for (int k = 0; k < n; ++k) A(k, k) += lambda * std::max(N(k, k), 1e-300);
      Vector7 d = Vector7::Zero();
      d.head(n) = A.topLeftCorner(n, n).ldlt().solve(g.head(n));
      if (!d.allFinite()) {
        lambda *= 10;
        continue;
      }
      next = Apply(m, d);
      newCost =
          next.F > 0 ? WeightedCost(next, points, weight) : std::numeric_limits<double>::infinity();
      if (newCost <= cost) {
        accepted = true;
        lambda = std::max(lambda * 0.1, 1e-12);
        break;
      }
      lambda *= 10;
    }
    if (!accepted) break;
    const double decrease = cost - newCost;
    m = next;
    cost = newCost;
    // Relative changes below 1e-10 of the cost move the pose by far less than its σ.
    if (decrease <= tolerance * cost || cost == 0) break;
  }
  return WeightedCost(m, points, weight);
}

void NoReweight(const Model&, std::vector<double>&) {}

double Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const std::size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  return values[mid];
}

// The residual length, in estimated σ, beyond which one of `points` points is a blunder, when σ²
// is estimated with `dof` degrees of freedom: each point is tested at kFalseBlunderProbability /
// points (Bonferroni); the length² over 2σ̂² of a good point follows Fisher's F(2, dof), whose
// upper p-quantile is dof/2·(p^(−2/dof) − 1).
double BlunderSigmas(int dof, int points) {
  if (dof < 1) return std::numeric_limits<double>::infinity();
  const double v = static_cast<double>(dof);
  const double p = kFalseBlunderProbability / points;
  return std::sqrt(v * (std::pow(p, -2 / v) - 1));
}

// A robust σ of one image coordinate from the residual lengths of a fit of `parameters`: their
// median over that of a normal error, with the fit's loss of degrees of freedom.
double RobustSigma(const std::vector<double>& lengths, int parameters) {
  const double n = static_cast<double>(lengths.size());
  const double dof = 2 * n > parameters ? std::sqrt(2 * n / (2 * n - parameters)) : 2.0;
  return dof * Median(lengths) / kMedianLength;
}

// σ of one image coordinate from the median of squared residual lengths of a normal error
// (2 ln 2 σ²), with the small-sample factor of the least-median estimators for `others` points.
double SigmaOfMedianSquare(double medianSquare, int others) {
  return (1 + 5.0 / std::max(others, 1)) * std::sqrt(medianSquare / (2 * std::log(2.0)));
}

// The random four-point search: the indices of the pairs that agree with the best homography.
// Each sample's homography is scored by the median squared transfer error of the other points,
// which it does not fit by construction (least median of squares); the best one's median gives
// the scale, and the points within kBlunderSigmas of it agree.
std::vector<int> ConsensusSet(const std::vector<PlanarCorrespondence>& points) {
  const int n = static_cast<int>(points.size());
  std::mt19937 random(kSearchSeed);
  double bestMedian = std::numeric_limits<double>::infinity();
  Eigen::Matrix3d bestH;
  std::vector<double> squared(n), others;
  others.reserve(n);
  int needed = kMaxSamples;
  int samples = 0;
  for (int attempt = 0;
       samples < std::max(kMinSamples, std::min(needed, kMaxSamples)) && attempt < 10 * kMaxSamples;
       ++attempt) {
    int pick[4];
    for (int k = 0; k < 4; ++k) {
      bool fresh;
      do {
        pick[k] = static_cast<int>(random() % static_cast<std::uint32_t>(n));
        fresh = true;
        for (int j = 0; j < k; ++j) fresh = fresh && pick[j] != pick[k];
      } while (!fresh);
    }
    const std::optional<Eigen::Matrix3d> H = HomographyOfFour(points, pick);
    if (!H) continue;
    ++samples;
    others.clear();
    for (int i = 0; i < n; ++i) {
      double u, v;
      squared[i] =
          TransferPoint(*H, points[i].X, points[i].Y, u, v)
              ? (u - points[i].u) * (u - points[i].u) + (v - points[i].v) * (v - points[i].v)
              : std::numeric_limits<double>::infinity();
      if (i != pick[0] && i != pick[1] && i != pick[2] && i != pick[3])
        others.push_back(squared[i]);
    }
    const double median = Median(others);
    if (median < bestMedian) {
      bestMedian = median;
      bestH = *H;
      const double threshold =
          std::max(kBlunderSigmas * SigmaOfMedianSquare(median, n - 4), kNegligibleLength);
      int agreeing = 0;
      for (double s : squared) agreeing += s <= threshold * threshold ? 1 : 0;
      const double w4 = std::pow(static_cast<double>(agreeing) / n, 4);
      needed = w4 >= 1 ? 0
                       : static_cast<int>(std::ceil(std::log(1 - kSearchConfidence) /
                                                    std::log(1 - std::max(w4, 1e-9))));
    }
  }
  std::vector<int> all(n);
  for (int i = 0; i < n; ++i) all[i] = i;
  if (!std::isfinite(bestMedian)) return all;
  const double threshold =
      std::max(kBlunderSigmas * SigmaOfMedianSquare(bestMedian, n - 4), kNegligibleLength);
  std::vector<int> agree;
  for (int i = 0; i < n; ++i) {
    double u, v;
    if (TransferPoint(bestH, points[i].X, points[i].Y, u, v) &&
        std::hypot(u - points[i].u, v - points[i].v) <= threshold)
      agree.push_back(i);
  }
  return agree.size() >= 4 ? agree : all;
}

// The stand pose of a camera; false when the camera is behind the plane or its axis misses it.
RigorousFailure StandPoseOf(const Model& m, StandPose& pose) {
  // The camera axes in the scene: right, up, and backwards along the line of sight.
  const Eigen::Vector3d eX = m.R.row(0).transpose();
  const Eigen::Vector3d eY = -m.R.row(1).transpose();
  const Eigen::Vector3d eZ = -m.R.row(2).transpose();
  if (!(m.C(2) > 0)) return RigorousFailure::kBehindPlane;
  if (!(eZ(2) > 0)) return RigorousFailure::kAxisMissesPlane;
  pose.Al = std::asin(std::clamp(-eZ(0), -1.0, 1.0));
  pose.Bet = std::atan2(eZ(1), eZ(2));
  pose.Hi = std::atan2(eY(0), eX(0));
  pose.L = m.C(2) / eZ(2);
  pose.Sx = m.C(0) - eZ(0) * pose.L;
  pose.Sy = m.C(1) - eZ(1) * pose.L;
  return RigorousFailure::kNone;
}

Model ModelOf(const StandPose& pose, double F) {
  const Rotation r = AnglesToRotation(pose.Al, pose.Bet, pose.Hi);
  Model m;
  m.R << r.xX, r.yX, r.zX, -r.xY, -r.yY, -r.zY, -r.xZ, -r.yZ, -r.zZ;
  m.C = Eigen::Vector3d(pose.Sx + r.xZ * pose.L, pose.Sy + r.yZ * pose.L, r.zZ * pose.L);
  m.F = F;
  return m;
}

bool AllFinite(const std::array<double, kResultCount>& values) {
  for (double v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

}  // namespace

std::array<double, kResultCount> StandPoseValues(const StandPose& pose) {
  std::array<double, kResultCount> v{};
  const Rotation r = AnglesToRotation(pose.Al, pose.Bet, pose.Hi);
  v[kDistance] = pose.L;
  v[kStandAl] = ToDegrees(pose.Al);
  v[kStandBet] = ToDegrees(pose.Bet);
  v[kStandHi] = ToDegrees(pose.Hi);
  v[kSightingX] = pose.Sx;
  v[kSightingY] = pose.Sy;
  v[kCentreX] = pose.Sx + r.xZ * pose.L;
  v[kCentreY] = pose.Sy + r.yZ * pose.L;
  v[kCentreZ] = r.zZ * pose.L;
  v[kCosXX] = r.xX;
  v[kCosXY] = r.xY;
  v[kCosXZ] = r.xZ;
  v[kCosYX] = r.yX;
  v[kCosYY] = r.yY;
  v[kCosYZ] = r.yZ;
  v[kCosZX] = r.zX;
  v[kCosZY] = r.zY;
  v[kCosZZ] = r.zZ;
  const double omega = std::asin(std::clamp(-r.yZ, -1.0, 1.0));
  const double alpha = std::asin(std::clamp(-r.xZ / std::cos(omega), -1.0, 1.0));
  const double kappa = std::atan(r.yX / r.yY);
  v[kPhotoAlpha] = ToDegrees(alpha);
  v[kPhotoOmega] = ToDegrees(omega);
  v[kPhotoKappa] = ToDegrees(kappa);
  return v;
}

RigorousResult RigorousEstimate(const std::vector<ControlPoint>& input, double focalLength,
                                const std::optional<StandPose>& start) {
  RigorousResult result;
  const int n = static_cast<int>(input.size());
  if (n < 4) {
    result.failure = RigorousFailure::kTooFewPoints;
    return result;
  }
  std::vector<PlanarCorrespondence> points(n);
  for (int i = 0; i < n; ++i) points[i] = {input[i].x, -input[i].y, input[i].X, input[i].Y};
  const bool varyF = !(focalLength > 0);
  const int parameters = varyF ? 7 : 6;

  // The points that agree, and the homography of those.
  std::vector<int> all(n);
  for (int i = 0; i < n; ++i) all[i] = i;
  const std::vector<int> agree = n >= 6 ? ConsensusSet(points) : all;
  const std::optional<Eigen::Matrix3d> H = FitHomography(points, agree);
  if (!H) {
    result.failure = RigorousFailure::kDegenerate;
    return result;
  }
  double F = focalLength;
  if (varyF) {
    const std::optional<double> estimate = FocalLengthFromHomography(*H);
    if (!estimate) {
      result.failure = RigorousFailure::kFocalLengthUndetermined;
      return result;
    }
    F = *estimate;
  }

  // Every start refined on the agreeing points; the lowest cost wins.
  std::vector<Model> starts;
  for (const CameraPose& pose : PlanarPoses(*H, F, points, agree))
    starts.push_back({pose.R, pose.C, F});
  if (start) starts.push_back(ModelOf(*start, F));
  if (starts.empty()) {
    result.failure = RigorousFailure::kDegenerate;
    return result;
  }
  std::vector<double> weight(n, 0.0);
  for (int i : agree) weight[i] = 1;
  Model best;
  double bestCost = std::numeric_limits<double>::infinity();
  // Every start refined to the end; beyond 64 points a few steps tell the minima apart, and the
  // best is then refined to the end.
  const int selectionSteps = n <= 64 ? 100 : 4;
  for (Model m : starts) {
    if (!std::isfinite(WeightedCost(m, points, weight))) continue;
    const double cost = Refine(m, points, weight, varyF, selectionSteps, NoReweight);
    if (cost < bestCost) {
      bestCost = cost;
      best = m;
    }
  }
  if (std::isfinite(bestCost)) bestCost = Refine(best, points, weight, varyF, 100, NoReweight);
  if (!std::isfinite(bestCost)) {
    result.failure = RigorousFailure::kDegenerate;
    return result;
  }

  // The reweighted refinement over all points decides which are blunders.
  std::vector<bool> used(n, true);
  if (n >= 6) {
    const auto cauchy = [&points, parameters](const Model& m, std::vector<double>& w) {
      const std::vector<double> lengths = ResidualLengths(m, points);
      const double sigma = std::max(RobustSigma(lengths, parameters), kNegligibleLength);
      const double c = kCauchySigmas * sigma;
      for (std::size_t i = 0; i < lengths.size(); ++i)
        w[i] = !std::isfinite(lengths[i]) ? 0.0 : 1 / (1 + (lengths[i] / c) * (lengths[i] / c));
    };
    Model robust = best;
    std::vector<double> w(n, 1.0);
    Refine(robust, points, w, varyF, 30, cauchy, 1e-6);
    const std::vector<double> lengths = ResidualLengths(robust, points);
    const double threshold = std::max(
        BlunderSigmas(2 * n - parameters, n) * RobustSigma(lengths, parameters), kNegligibleLength);
    int count = 0;
    for (int i = 0; i < n; ++i) {
      used[i] = lengths[i] <= threshold;
      count += used[i] ? 1 : 0;
    }
    std::vector<bool> agreeing(n, false);
    for (int i : agree) agreeing[i] = true;
    if (count < std::max(4, (n + 1) / 2)) std::fill(used.begin(), used.end(), true);
    // Kept points other than the agreeing ones: the reweighted pose is the nearer start.
    if (used != agreeing) best = robust;
  }

  // The final unweighted fit on the points kept; the points are judged again against its σ0
  // until the set stands.
  Matrix7 N;
  Vector7 g;
  double cost = 0;
  int usedCount = 0;
  for (int round = 0; round < 5; ++round) {
    for (int i = 0; i < n; ++i) weight[i] = used[i] ? 1.0 : 0.0;
    Model m = best;
    Refine(m, points, weight, varyF, 100, NoReweight);
    usedCount = static_cast<int>(std::count(used.begin(), used.end(), true));
    if (!NormalEquations(m, points, weight, varyF, N, g, cost)) break;
    best = m;
    if (n < 6) break;
    const int dof = 2 * usedCount - parameters;
    const double sigma0 = std::sqrt(cost / dof);
    const double threshold = std::max(BlunderSigmas(dof, n) * sigma0, kNegligibleLength);
    const std::vector<double> lengths = ResidualLengths(best, points);
    std::vector<bool> next(n);
    int count = 0;
    for (int i = 0; i < n; ++i) {
      next[i] = lengths[i] <= threshold;
      count += next[i] ? 1 : 0;
    }
    if (next == used || count < std::max(4, (n + 1) / 2)) break;
    used = next;
  }
  for (int i = 0; i < n; ++i) weight[i] = used[i] ? 1.0 : 0.0;
  if (!NormalEquations(best, points, weight, varyF, N, g, cost)) {
    result.failure = RigorousFailure::kDegenerate;
    return result;
  }
  usedCount = static_cast<int>(std::count(used.begin(), used.end(), true));
  for (int i = 0; i < n; ++i)
    if (!used[i]) result.outliers.push_back(i);

  const RigorousFailure where = StandPoseOf(best, result.pose);
  if (where != RigorousFailure::kNone) {
    result.failure = where;
    return result;
  }

  // The covariance of the parameters: σ0²·N⁻¹, N scaled to a unit diagonal first so that its
  // conditioning shows whether the points fix every parameter.
  const Eigen::MatrixXd Nn = N.topLeftCorner(parameters, parameters);
  Eigen::VectorXd scale(parameters);
  for (int k = 0; k < parameters; ++k) scale(k) = Nn(k, k) > 0 ? 1 / std::sqrt(Nn(k, k)) : 0;
  const Eigen::MatrixXd unit = scale.asDiagonal() * Nn * scale.asDiagonal();
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(unit);
  const double smallest = eigen.eigenvalues()(0);
  if (!(smallest > 1e-12)) {
    result.failure =
        varyF ? RigorousFailure::kFocalLengthUndetermined : RigorousFailure::kDegenerate;
    return result;
  }
  result.redundancy = 2 * usedCount - parameters;
  result.sigma0 = std::sqrt(cost / result.redundancy);
  const Eigen::MatrixXd covariance =
      scale.asDiagonal() * eigen.eigenvectors() * eigen.eigenvalues().cwiseInverse().asDiagonal() *
      eigen.eigenvectors().transpose() * scale.asDiagonal() * (result.sigma0 * result.sigma0);
  result.focalLength = best.F;
  result.focalLengthEstimated = varyF;
  result.focalLengthSigma = varyF ? std::sqrt(std::max(0.0, covariance(6, 6))) : 0.0;
  // A focal length known to no better than a quarter of itself is not determined by the view.
  if (varyF && !(result.focalLengthSigma <= 0.25 * result.focalLength)) {
    result.failure = RigorousFailure::kFocalLengthUndetermined;
    return result;
  }
  result.rmsResidual = std::sqrt(cost / usedCount);
  result.values = StandPoseValues(result.pose);

  // The values' covariance: G·Σ·Gᵀ with G the central differences of the 21 values in the six
  // pose parameters.
  Eigen::Matrix<double, kResultCount, 6> G;
  const double step[6] = {
      1e-6, 1e-6, 1e-6, 1e-6 * result.pose.L, 1e-6 * result.pose.L, 1e-6 * result.pose.L};
  for (int k = 0; k < 6; ++k) {
    Vector7 d = Vector7::Zero();
    d(k) = step[k];
    StandPose plus, minus;
    if (StandPoseOf(Apply(best, d), plus) != RigorousFailure::kNone ||
        StandPoseOf(Apply(best, -d), minus) != RigorousFailure::kNone) {
      result.failure = RigorousFailure::kDegenerate;
      return result;
    }
    const std::array<double, kResultCount> vp = StandPoseValues(plus), vm = StandPoseValues(minus);
    for (int j = 0; j < kResultCount; ++j) G(j, k) = (vp[j] - vm[j]) / (2 * step[k]);
  }
  const Eigen::Matrix<double, kResultCount, kResultCount> valueCovariance =
      G * covariance.topLeftCorner(6, 6) * G.transpose();
  for (int j = 0; j < kResultCount; ++j)
    result.sigma[j] = std::sqrt(std::max(0.0, valueCovariance(j, j)));
  if (!AllFinite(result.values) || !AllFinite(result.sigma) || !std::isfinite(result.sigma0) ||
      !std::isfinite(result.focalLength) || !std::isfinite(result.focalLengthSigma)) {
    result = RigorousResult{};
    result.failure = RigorousFailure::kDegenerate;
  }
  return result;
}

namespace {

// The mirror check over pairs given as the image point (x, y up) and the scene point of index i.
template <typename Pair>
bool LooksMirrored(std::size_t count, Pair pair) {
  std::vector<PlanarCorrespondence> points(count);
  std::vector<int> all(count);
  for (std::size_t i = 0; i < count; ++i) {
    const ControlPoint c = pair(i);
    points[i] = {c.x, -c.y, c.X, c.Y};
    all[i] = static_cast<int>(i);
  }
  const std::optional<Eigen::Matrix3d> H = FitHomography(points, all);
  return H && CameraBehindScenePlane(*H, points, all);
}

}  // namespace

bool SceneFrameLooksMirrored(const std::vector<ControlPoint>& input) {
  return LooksMirrored(input.size(), [&input](std::size_t i) { return input[i]; });
}

bool SceneFrameLooksMirrored(const VT_Points& imagePoints, const VT_Points& scenePoints) {
  const std::int32_t count = std::min(imagePoints.Count(), scenePoints.Count());
  return LooksMirrored(static_cast<std::size_t>(count), [&](std::size_t i) {
    const VT_Point& a = *imagePoints.Get(static_cast<std::int32_t>(i));
    const VT_Point& b = *scenePoints.Get(static_cast<std::int32_t>(i));
    return ControlPoint{a.x, a.y, b.x, b.y};
  });
}

}  // namespace zelv
