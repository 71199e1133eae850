#include "solver/rigorous_estimate.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

#include "solver/distributions.h"
#include "solver/planar_pose.h"
#include "solver/pose.h"
#include "solver/refinement.h"
#include "solver/rigorous_model.h"

namespace zelv {
namespace {

using rigorous::Apply;
using rigorous::Matrix7;
using rigorous::Model;
using rigorous::PointDerivatives;
using rigorous::PointError;
using rigorous::Vector7;

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
// ln(1 − 0.999) / ln(1 − 0.5⁴): a sample of four good points at 99.9 % with half of them blunders.
constexpr int kMinSamples = 108;
constexpr int kMaxSamples = 500;
constexpr double kSearchConfidence = 0.999;
// The consensus truncation is doubled up to this many times less one while fewer than half of the
// points agree: from 6 a-priori σ to 96.
constexpr int kConsensusWidenings = 5;

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
  Eigen::Vector3d q;
  double ju[7], jv[7];
  for (std::size_t i = 0; i < points.size(); ++i) {
    const double w = weight[i];
    if (w <= 0) continue;
    double eu, ev;
    if (!PointError(m, RC, points[i], eu, ev, q)) return false;
    PointDerivatives(m, q, ju, jv);
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

}  // namespace

double rigorous::Median(std::vector<double> values) {
  if (values.empty()) return 0;
  const std::size_t mid = values.size() / 2;
  std::nth_element(values.begin(), values.begin() + mid, values.end());
  return values[mid];
}

// The residual length, in estimated σ, beyond which one of `points` points is a blunder, when σ²
// is estimated with `dof` degrees of freedom: each point is tested at kFalseBlunderProbability /
// points (Bonferroni); the length² over 2σ̂² of a good point follows Fisher's F(2, dof), whose
// upper p-quantile is dof/2·(p^(−2/dof) − 1).
double rigorous::BlunderSigmas(int dof, int points) {
  if (dof < 1) return std::numeric_limits<double>::infinity();
  const double v = static_cast<double>(dof);
  const double p = kFalseBlunderProbability / points;
  return std::sqrt(v * (std::pow(p, -2 / v) - 1));
}

// A robust σ of one image coordinate from the residual lengths of a fit of `parameters`: their
// median over that of a normal error, with the fit's loss of degrees of freedom.
double rigorous::RobustSigma(const std::vector<double>& lengths, int parameters) {
  const double n = static_cast<double>(lengths.size());
  const double dof = 2 * n > parameters ? std::sqrt(2 * n / (2 * n - parameters)) : 2.0;
  return dof * Median(lengths) / kMedianLength;
}

// The random four-point search: the indices of the pairs that agree with the best homography
// (all of them when no sample fixes one), or nothing when no homography agrees with half of the
// pairs or more. Each sample's homography is
// scored over every pair by its squared transfer error truncated at `truncation` (pixels): MSAC,
// whose best sample is the one that most points fit and fit best, up to the breakdown point of
// half the points. The samples are drawn until one without blunders comes at kSearchConfidence
// for the share of agreeing points found so far, and never fewer than kMinSamples, enough for half
// the points being blunders.
namespace {

using rigorous::BlunderSigmas;
using rigorous::Median;
using rigorous::RobustSigma;

std::optional<std::vector<int>> ConsensusSet(const std::vector<PlanarCorrespondence>& points,
                                             double truncation) {
  const int n = static_cast<int>(points.size());
  const double limit = truncation * truncation;
  std::mt19937 random(kSearchSeed);
  double bestScore = std::numeric_limits<double>::infinity();
  Eigen::Matrix3d bestH;
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
    double score = 0;
    int agreeing = 0;
    // A sample that has already lost to the best is not scored to the end.
    for (int i = 0; i < n && score < bestScore; ++i) {
      double u, v;
      const double squared =
          TransferPoint(*H, points[i].X, points[i].Y, u, v)
              ? (u - points[i].u) * (u - points[i].u) + (v - points[i].v) * (v - points[i].v)
              : limit;
      score += std::min(squared, limit);
      agreeing += squared < limit ? 1 : 0;
    }
    if (score < bestScore) {
      bestScore = score;
      bestH = *H;
      const double w4 = std::pow(static_cast<double>(agreeing) / n, 4);
      needed = w4 >= 1 ? 0
                       : static_cast<int>(std::ceil(std::log(1 - kSearchConfidence) /
                                                    std::log(1 - std::max(w4, 1e-9))));
    }
  }
  std::vector<int> agree;
  // No four points fix a homography: the degeneracy is the fit's to report, not a disagreement.
  if (!std::isfinite(bestScore)) {
    for (int i = 0; i < n; ++i) agree.push_back(i);
    return agree;
  }
  for (int i = 0; i < n; ++i) {
    double u, v;
    if (TransferPoint(bestH, points[i].X, points[i].Y, u, v) &&
        (u - points[i].u) * (u - points[i].u) + (v - points[i].v) * (v - points[i].v) < limit)
      agree.push_back(i);
  }
  if (static_cast<int>(agree.size()) < std::max(4, (n + 1) / 2)) return std::nullopt;
  return agree;
}

}  // namespace

RigorousFailure rigorous::StandPoseOf(const Model& m, StandPose& pose) {
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

Model rigorous::ModelOf(const StandPose& pose, double F) {
  const Rotation r = AnglesToRotation(pose.Al, pose.Bet, pose.Hi);
  Model m;
  m.R << r.xX, r.yX, r.zX, -r.xY, -r.yY, -r.zY, -r.xZ, -r.yZ, -r.zZ;
  m.C = Eigen::Vector3d(pose.Sx + r.xZ * pose.L, pose.Sy + r.yZ * pose.L, r.zZ * pose.L);
  m.F = F;
  return m;
}

namespace {

using rigorous::ModelOf;
using rigorous::StandPoseOf;

bool AllFinite(const std::array<double, kResultCount>& values) {
  for (double v : values)
    if (!std::isfinite(v)) return false;
  return true;
}

// The points that pass the test of their studentised residual against the fit `m` on the `used`
// points (normal matrix N of `parameters` unknowns, Σ of squared residuals `cost`): vᵀ·Q⁻¹·v over
// σ̂², with Q the cofactor of the residual — I − J·N⁻¹·Jᵀ for a used point, whose σ̂ then leaves
// it out; I + J·N⁻¹·Jᵀ for a left-out point, the error of its prediction — follows 2·F(2, dof) for
// a good point. Each point is tested at kFalseBlunderProbability over all points; a left-out point
// that passes comes back, and of the used points that fail only the worst leaves. False when the
// fit has too little redundancy to test.
bool SnoopedPoints(const Model& m, const std::vector<PlanarCorrespondence>& points,
                   const std::vector<bool>& used, const Matrix7& N, double cost, int parameters,
                   std::vector<bool>& next) {
  const int n = static_cast<int>(points.size());
  const int dof = 2 * static_cast<int>(std::count(used.begin(), used.end(), true)) - parameters;
  if (dof < 3) return false;
  const Eigen::MatrixXd Ninv = N.topLeftCorner(parameters, parameters)
                                   .ldlt()
                                   .solve(Eigen::MatrixXd::Identity(parameters, parameters));
  if (!Ninv.allFinite()) return false;
  const double usedLimit = std::pow(BlunderSigmas(dof - 2, n), 2);
  const double leftOutLimit = std::pow(BlunderSigmas(dof, n), 2);
  const Eigen::Vector3d RC = m.R * m.C;
  next.assign(n, false);
  int worst = -1;
  double worstExcess = 1;
  for (int i = 0; i < n; ++i) {
    double eu, ev;
    Eigen::Vector3d q;
    if (!PointError(m, RC, points[i], eu, ev, q)) continue;
    double ju[7], jv[7];
    PointDerivatives(m, q, ju, jv);
    const Eigen::Map<const Eigen::VectorXd> a(ju, parameters), b(jv, parameters);
    const Eigen::VectorXd Na = Ninv * a, Nb = Ninv * b;
    const double sign = used[i] ? -1 : 1;
    Eigen::Matrix2d Q;
    Q << 1 + sign * a.dot(Na), sign * a.dot(Nb), sign * b.dot(Na), 1 + sign * b.dot(Nb);
    // A used point that its own fit follows exactly cannot be tested: it stays.
    if (!(Q.determinant() > 1e-9)) {
      next[i] = used[i];
      continue;
    }
    const Eigen::Vector2d v(eu, ev);
    const double quadratic = v.dot(Q.inverse() * v);
    const double s2 = std::max(used[i] ? (cost - quadratic) / (dof - 2) : cost / dof,
                               kNegligibleLength * kNegligibleLength);
    const double excess = quadratic / s2 / (used[i] ? usedLimit : leftOutLimit);
    next[i] = used[i] || excess <= 1;
    if (used[i] && excess > 1 && excess > worstExcess) {
      worstExcess = excess;
      worst = i;
    }
  }
  // One blunder inflates the residuals of the others: only the worst used point goes per round.
  if (worst >= 0) next[worst] = false;
  return true;
}

}  // namespace

bool rigorous::ValueCovariance(const Model& best, const StandPose& pose,
                               const Eigen::MatrixXd& covariance, ValueMatrix& valueCovariance) {
  Eigen::Matrix<double, kResultCount, 6> G;
  const double step[6] = {1e-6, 1e-6, 1e-6, 1e-6 * pose.L, 1e-6 * pose.L, 1e-6 * pose.L};
  for (int k = 0; k < 6; ++k) {
    Vector7 d = Vector7::Zero();
    d(k) = step[k];
    StandPose plus, minus;
    if (StandPoseOf(Apply(best, d), plus) != RigorousFailure::kNone ||
        StandPoseOf(Apply(best, -d), minus) != RigorousFailure::kNone)
      return false;
    const std::array<double, kResultCount> vp = StandPoseValues(plus), vm = StandPoseValues(minus);
    for (int j = 0; j < kResultCount; ++j) G(j, k) = (vp[j] - vm[j]) / (2 * step[k]);
  }
  valueCovariance = G * covariance.topLeftCorner(6, 6) * G.transpose();
  return true;
}

namespace {

// The standard deviations of the 21 values of the pose: the roots of the diagonal of their
// covariance. False when a difference leaves the valid poses.
bool ValueSigmas(const Model& best, const StandPose& pose, const Eigen::MatrixXd& covariance,
                 std::array<double, kResultCount>& sigma, rigorous::ValueMatrix* kept) {
  rigorous::ValueMatrix valueCovariance;
  if (!rigorous::ValueCovariance(best, pose, covariance, valueCovariance)) return false;
  for (int j = 0; j < kResultCount; ++j) sigma[j] = std::sqrt(std::max(0.0, valueCovariance(j, j)));
  if (kept) *kept = valueCovariance;
  return true;
}

// The smallest height of a triangle of the scene points `use`, over its longest side: 0 for three
// on one line, 0.87 for an equilateral triangle. 1 with fewer than three points.
double WeakestTriangle(const std::vector<PlanarCorrespondence>& points,
                       const std::vector<int>& use) {
  double weakest = 1;
  const std::size_t count = use.size();
  for (std::size_t a = 0; a < count; ++a)
    for (std::size_t b = a + 1; b < count; ++b)
      for (std::size_t c = b + 1; c < count; ++c) {
        const PlanarCorrespondence &p = points[use[a]], &q = points[use[b]], &r = points[use[c]];
        const double area2 = std::fabs((q.X - p.X) * (r.Y - p.Y) - (q.Y - p.Y) * (r.X - p.X));
        const double longest2 = std::max({(q.X - p.X) * (q.X - p.X) + (q.Y - p.Y) * (q.Y - p.Y),
                                          (r.X - p.X) * (r.X - p.X) + (r.Y - p.Y) * (r.Y - p.Y),
                                          (r.X - q.X) * (r.X - q.X) + (r.Y - q.Y) * (r.Y - q.Y)});
        weakest = std::min(weakest, longest2 > 0 ? area2 / longest2 : 0.0);
      }
  return weakest;
}

}  // namespace

std::array<double, kResultCount> StandPoseValues(const StandPose& pose) {
  std::array<double, kResultCount> v{};
  v[kSightingX] = pose.Sx;
  v[kSightingY] = pose.Sy;
  DeriveResultValues(pose.Al, pose.Bet, pose.Hi, pose.L, pose.Sx, pose.Sy, ValueGuard::kClamp,
                     [&v](ResultIndex index, double value) { v[index] = value; });
  return v;
}

RigorousResult RigorousEstimate(const std::vector<ControlPoint>& input, double focalLength,
                                const std::optional<StandPose>& start,
                                const RigorousOptions& options) {
  return rigorous::EstimateWithFit(input, focalLength, start, options, nullptr);
}

RigorousResult rigorous::EstimateWithFit(const std::vector<ControlPoint>& input, double focalLength,
                                         const std::optional<StandPose>& start,
                                         const RigorousOptions& options, Fit* fit) {
  RigorousResult result;
  const int n = static_cast<int>(input.size());
  if (n < 4) {
    result.failure = RigorousFailure::kTooFewPoints;
    return result;
  }
  const double imageSigma = options.imageSigma > 0 && std::isfinite(options.imageSigma)
                                ? options.imageSigma
                                : RigorousOptions{}.imageSigma;
  std::vector<PlanarCorrespondence> points(n);
  for (int i = 0; i < n; ++i) points[i] = {input[i].x, -input[i].y, input[i].X, input[i].Y};
  const bool varyF = !(focalLength > 0);
  const int parameters = varyF ? 7 : 6;

  // The points that agree, and the homography of those. A truncation too tight for the points'
  // real precision leaves good points out of every consensus: it is widened until half of them
  // agree, and the verdict then tells of the precision.
  std::vector<int> agree(n);
  for (int i = 0; i < n; ++i) agree[i] = i;
  if (n >= 6) {
    std::optional<std::vector<int>> found;
    for (int widening = 0; widening < kConsensusWidenings && !found; ++widening)
      found = ConsensusSet(points, kConsensusSigmas * imageSigma * std::ldexp(1.0, widening));
    if (!found) {
      result.failure = RigorousFailure::kNoConsensus;
      return result;
    }
    agree = *found;
  }
  const std::optional<Eigen::Matrix3d> H = FitHomography(points, agree);
  double F = focalLength;
  if (varyF) {
    const std::optional<double> estimate =
        H ? FocalLengthFromHomography(*H) : std::optional<double>();
    if (!H) {
      result.failure = RigorousFailure::kDegenerate;
      return result;
    }
    if (!estimate) {
      result.failure = RigorousFailure::kFocalLengthUndetermined;
      return result;
    }
    F = *estimate;
  }

  // Every start refined on the agreeing points; the lowest cost wins. Without a homography (four
  // points, three of them on one line) the given start alone may still reach the pose.
  std::vector<Model> starts;
  if (H)
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
  // The planar poses are the plane's two minima; the given start (the fast estimate's pose) lies
  // in one of their basins and is kept as a candidate minimum only where there are none.
  const std::size_t planarStarts = starts.size() - (start ? 1 : 0);
  std::vector<Model> minima;
  for (std::size_t k = 0; k < starts.size(); ++k) {
    Model m = starts[k];
    if (!std::isfinite(WeightedCost(m, points, weight))) continue;
    const double cost = Refine(m, points, weight, varyF, selectionSteps, NoReweight);
    if (!std::isfinite(cost)) continue;
    if (k < planarStarts || planarStarts == 0) minima.push_back(m);
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

  // The reweighted refinement over all points proposes which are blunders.
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
    // Fewer than half kept: the consensus stands.
    if (count < std::max(4, (n + 1) / 2)) used = agreeing;
    // Kept points other than the agreeing ones: the reweighted pose is the nearer start.
    if (used != agreeing) best = robust;
  }

  // The final unweighted fit on the points kept; every point is then tested against it by its
  // studentised residual until the set stands.
  Matrix7 N;
  Vector7 g;
  double cost = 0;
  for (int round = 0; round < 10; ++round) {
    for (int i = 0; i < n; ++i) weight[i] = used[i] ? 1.0 : 0.0;
    Model m = best;
    Refine(m, points, weight, varyF, 100, NoReweight);
    if (!NormalEquations(m, points, weight, varyF, N, g, cost)) break;
    best = m;
    if (n < 6) break;
    std::vector<bool> next;
    if (!SnoopedPoints(best, points, used, N, cost, parameters, next)) break;
    const int count = static_cast<int>(std::count(next.begin(), next.end(), true));
    if (next == used || count < std::max(4, (n + 1) / 2)) break;
    used = next;
  }
  for (int i = 0; i < n; ++i) weight[i] = used[i] ? 1.0 : 0.0;
  // The other minima refined on the same points: one of them may now fit better. A start that
  // already stands within a milliradian and a thousandth of the distance of the result is its
  // own minimum, not another.
  std::vector<double> minimaCost;
  for (Model& m : minima) {
    const double turn = Eigen::AngleAxisd(best.R.transpose() * m.R).angle();
    const bool same = turn < 1e-3 && (m.C - best.C).norm() < 1e-3 * best.C.norm();
    minimaCost.push_back(!same && std::isfinite(WeightedCost(m, points, weight))
                             ? Refine(m, points, weight, varyF, 100, NoReweight)
                             : std::numeric_limits<double>::infinity());
  }
  double lowest = WeightedCost(best, points, weight) * (1 - 1e-9);
  for (std::size_t k = 0; k < minima.size(); ++k) {
    StandPose pose;
    if (minimaCost[k] < lowest && StandPoseOf(minima[k], pose) == RigorousFailure::kNone) {
      lowest = minimaCost[k];
      best = minima[k];
    }
  }
  if (!NormalEquations(best, points, weight, varyF, N, g, cost)) {
    result.failure = RigorousFailure::kDegenerate;
    return result;
  }
  const int usedCount = static_cast<int>(std::count(used.begin(), used.end(), true));
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

  // The tilt: the plane's normal in the camera frame is n = R·e_Z; its part s across the optical
  // axis has length sin(tilt) and moves by ds = rows 0, 1 of −[n]×·dδ with the rotation.
  const Eigen::Vector3d normal = best.R.col(2);
  const Eigen::Vector2d across(normal(0), normal(1));
  Eigen::Matrix<double, 2, 3> dAcross;
  dAcross << 0, normal(2), -normal(1), -normal(2), 0, normal(0);
  const Eigen::Matrix2d acrossCovariance =
      dAcross * covariance.topLeftCorner(3, 3) * dAcross.transpose();
  const double tilt = std::atan2(across.norm(), std::fabs(normal(2)));
  result.geometry.tiltDegrees = ToDegrees(tilt);
  if (across.norm() > 0) {
    const Eigen::Vector2d direction = across / across.norm();
    result.geometry.tiltSigmaDegrees =
        ToDegrees(std::sqrt(std::max(0.0, direction.dot(acrossCovariance * direction))) /
                  std::max(std::cos(tilt), 1e-12));
  }
  // With the focal length free, it is told from the distance only by the plane's tilt: the tilt
  // must stand out of its own uncertainty (Mahalanobis distance of s from 0), whatever F̂.
  if (varyF) {
    const Eigen::LDLT<Eigen::Matrix2d> ldlt(acrossCovariance);
    const double distance2 = ldlt.info() == Eigen::Success ? across.dot(ldlt.solve(across)) : 0.0;
    if (!(std::isfinite(distance2) && distance2 >= kTiltSigmas * kTiltSigmas)) {
      result = RigorousResult{};
      result.failure = RigorousFailure::kFocalLengthUndetermined;
      return result;
    }
  }
  result.rmsResidual = std::sqrt(cost / usedCount);
  result.values = StandPoseValues(result.pose);
  if (!ValueSigmas(best, result.pose, covariance, result.sigma,
                   fit ? &fit->valueCovariance : nullptr)) {
    result = RigorousResult{};
    result.failure = RigorousFailure::kDegenerate;
    return result;
  }
  result.tQuantile95 = result.redundancy >= 1 ? StudentTQuantile(0.975, result.redundancy) : 0.0;
  if (fit) {
    fit->model = best;
    fit->covariance = covariance;
  }

  // The verdict.
  RigorousVerdict& verdict = result.verdict;
  verdict.imageSigma = imageSigma;
  if (result.redundancy >= 1) {
    verdict.chiSquare =
        result.redundancy * (result.sigma0 / imageSigma) * (result.sigma0 / imageSigma);
    verdict.chiSquareLimit = ChiSquareQuantile(1 - kVerdictSignificance, result.redundancy);
    verdict.pValue = ChiSquareUpperTail(verdict.chiSquare, result.redundancy);
    if (verdict.chiSquare > verdict.chiSquareLimit)
      verdict.reasons.push_back(RigorousSuspicion::kSigma0TooLarge);
  }

  // The mirror pose: the lowest other minimum that differs from the result by more than 3 σ in a
  // coordinate of the centre or a stand angle.
  const double sigma2 = std::max(result.sigma0 * result.sigma0, imageSigma * imageSigma);
  for (std::size_t k = 0; k < minima.size(); ++k) {
    StandPose pose;
    if (!std::isfinite(minimaCost[k]) || StandPoseOf(minima[k], pose) != RigorousFailure::kNone)
      continue;
    const std::array<double, kResultCount> values = StandPoseValues(pose);
    bool distinct = false;
    for (int j : {kCentreX, kCentreY, kCentreZ, kStandAl, kStandBet, kStandHi}) {
      double difference = std::fabs(values[j] - result.values[j]);
      if (j >= kStandAl && j <= kStandHi) difference = std::min(difference, 360 - difference);
      distinct = distinct || difference > 3 * result.sigma[j];
    }
    const double difference = std::max(0.0, (minimaCost[k] - cost) / sigma2);
    if (!distinct || !AllFinite(values) ||
        (result.alternative.present && difference >= result.alternative.chiSquareDifference))
      continue;
    RigorousAlternative& alternative = result.alternative;
    alternative.present = true;
    alternative.pose = pose;
    alternative.values = values;
    alternative.focalLength = minima[k].F;
    alternative.sigma0 = std::sqrt(minimaCost[k] / result.redundancy);
    alternative.chiSquareDifference = difference;
    alternative.distinguishable = difference > ChiSquareQuantile(0.95, 1);
  }
  if (result.alternative.present && !result.alternative.distinguishable)
    verdict.reasons.push_back(RigorousSuspicion::kMirrorPoseFits);

  // Four or five points: a triangle of them nearly on one line leaves the pose weakly fixed.
  if (usedCount <= 5) {
    std::vector<int> kept;
    for (int i = 0; i < n; ++i)
      if (used[i]) kept.push_back(i);
    result.geometry.weakestTriangle = WeakestTriangle(points, kept);
    if (result.geometry.weakestTriangle < kNearCollinearRatio) {
      result.geometry.nearCollinear = true;
      verdict.reasons.push_back(RigorousSuspicion::kNearCollinear);
    }
  }
  verdict.suspect = !verdict.reasons.empty();

  if (!AllFinite(result.values) || !AllFinite(result.sigma) || !std::isfinite(result.sigma0) ||
      !std::isfinite(result.focalLength) || !std::isfinite(result.focalLengthSigma) ||
      !std::isfinite(verdict.chiSquare) || !std::isfinite(result.geometry.tiltSigmaDegrees) ||
      !AllFinite(result.alternative.values) || !std::isfinite(result.alternative.sigma0) ||
      !std::isfinite(result.alternative.chiSquareDifference)) {
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
