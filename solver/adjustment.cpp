#include "solver/adjustment.h"

#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <random>

#include "solver/distributions.h"
#include "solver/pose_conventions.h"
#include "solver/rigorous_model.h"

namespace zelv {
namespace {

using rigorous::Apply;
using rigorous::Matrix7;
using rigorous::Model;
using rigorous::PointDerivatives;
using rigorous::PointError;
using rigorous::SpatialCorrespondence;
using rigorous::Vector7;
using Matrix27 = Eigen::Matrix<double, 2, 7>;

// χ² with three degrees of freedom at 95 %: the error ellipsoid of the centre.
constexpr double kChiSquare3At95 = 7.814727903251178;
// A fixed roll is an observation of this σ (radians): far below any roll a photograph shows.
constexpr double kFixedRollSigma = 1e-8;
// The Cauchy constant of the reweighted refinement, in σ of one coordinate (95 % efficiency).
constexpr double kCauchySigmas = 2.3849;
// Residual lengths up to this (pixels) are the rounding of an exact fit.
constexpr double kNegligibleLength = 1e-6;
// The six-point search of a focal length: its seed and number of samples.
constexpr std::uint32_t kSearchSeed = 20260412u;
// The fewest and the most samples, and the confidence that one sample is free of blunders.
constexpr int kMinDltSamples = 50;
constexpr int kMaxDltSamples = 300;
constexpr double kDltConfidence = 0.999;
// The consensus is widened this many times less one while fewer than half of the points agree.
constexpr int kConsensusWidenings = 5;

// A camera value observed beforehand: kind 0–2 a coordinate of the centre, 3 the focal length,
// 4 the roll (radians); its weight relative to an image coordinate of the a-priori σ.
struct Pseudo {
  int kind = 0;
  double value = 0;
  double weight = 0;
};

struct Problem {
  std::vector<SpatialCorrespondence> points;  // every point given, v down (the model's frame)
  std::vector<double> imageSigma;             // σ of an image coordinate of each, pixels
  std::vector<double> sceneSigma;             // σ of a scene coordinate of each, scene units
  std::vector<bool> control;
  double sigmaA = 0.5;  // the a-priori σ, pixels
  bool free[7] = {true, true, true, true, true, true, true};
  std::vector<Pseudo> pseudo;
  bool anySceneSigma = false;

  int FreeCount() const { return static_cast<int>(std::count(free, free + 7, true)); }
};

// The roll c (kPhotoKappa) of a camera, radians in (−π/2, π/2]: atan(yX / yY) of its direction
// cosines.
double RollOf(const Model& m) {
  const double yX = m.R(0, 1), yY = -m.R(1, 1);
  return yY != 0 ? std::atan(yX / yY) : M_PI / 2;
}

// An angle difference folded into (−π/2, π/2], as the roll is.
double FoldRoll(double d) {
  while (d > M_PI / 2) d -= M_PI;
  while (d <= -M_PI / 2) d += M_PI;
  return d;
}

// The weight matrices of the points at the camera `m`: σa²·(σi²·I + σP²·J_P·J_Pᵀ)⁻¹, the scene
// point's σ carried into its image through the projection.
std::vector<Eigen::Matrix2d> Weights(const Problem& p, const Model& m) {
  std::vector<Eigen::Matrix2d> W(p.points.size());
  const Eigen::Vector3d RC = m.R * m.C;
  const double a2 = p.sigmaA * p.sigmaA;
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    Eigen::Matrix2d S = p.imageSigma[i] * p.imageSigma[i] * Eigen::Matrix2d::Identity();
    Eigen::Vector3d q;
    double eu, ev;
    if (p.sceneSigma[i] > 0 && PointError(m, RC, p.points[i], eu, ev, q)) {
      const Eigen::Matrix<double, 2, 3> J = rigorous::SceneDerivatives(m, q);
      S += p.sceneSigma[i] * p.sceneSigma[i] * J * J.transpose();
    }
    W[i] = a2 * S.inverse();
  }
  return W;
}

// The derivatives of the roll by the three small rotation angles.
Eigen::Vector3d RollDerivatives(const Model& m) {
  Eigen::Vector3d d;
  for (int k = 0; k < 3; ++k) {
    Vector7 step = Vector7::Zero();
    step(k) = 1e-7;
    d(k) = FoldRoll(RollOf(Apply(m, step)) - RollOf(Apply(m, -step))) / 2e-7;
  }
  return d;
}

// The normal equations of the weighted fit (per-point weight matrices W scaled by `factor`, 0
// leaves a point out) with the observed camera values, and the cost. Parameters held fixed have
// zero rows and columns.
bool NormalEquations(const Problem& p, const Model& m, const std::vector<Eigen::Matrix2d>& W,
                     const std::vector<double>& factor, Matrix7& N, Vector7& g, double& cost) {
  N.setZero();
  g.setZero();
  cost = 0;
  const Eigen::Vector3d RC = m.R * m.C;
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    if (!(factor[i] > 0)) continue;
    double eu, ev;
    Eigen::Vector3d q;
    if (!PointError(m, RC, p.points[i], eu, ev, q)) return false;
    double ju[7], jv[7];
    PointDerivatives(m, q, ju, jv);
    Matrix27 J;
    for (int k = 0; k < 7; ++k) {
      J(0, k) = ju[k];
      J(1, k) = jv[k];
    }
    const Eigen::Vector2d e(eu, ev);
    const Eigen::Matrix2d w = factor[i] * W[i];
    N += J.transpose() * w * J;
    g += J.transpose() * (w * e);
    cost += e.dot(w * e);
  }
  for (const Pseudo& o : p.pseudo) {
    Vector7 j = Vector7::Zero();
    double e = 0;
    if (o.kind < 3) {
      j(3 + o.kind) = 1;
      e = o.value - m.C(o.kind);
    } else if (o.kind == 3) {
      j(6) = 1;
      e = o.value - m.F;
    } else {
      j.head<3>() = RollDerivatives(m);
      e = FoldRoll(o.value - RollOf(m));
    }
    N += o.weight * j * j.transpose();
    g += o.weight * e * j;
    cost += o.weight * e * e;
  }
  for (int k = 0; k < 7; ++k)
    if (!p.free[k]) {
      N.row(k).setZero();
      N.col(k).setZero();
      g(k) = 0;
    }
  return std::isfinite(cost) && N.allFinite() && g.allFinite();
}

double Cost(const Problem& p, const Model& m, const std::vector<Eigen::Matrix2d>& W,
            const std::vector<double>& factor) {
  Matrix7 N;
  Vector7 g;
  double cost = 0;
  return NormalEquations(p, m, W, factor, N, g, cost) ? cost
                                                      : std::numeric_limits<double>::infinity();
}

// The step of the free parameters: (N + λ·diag N)⁻¹·g over them.
Vector7 Step(const Problem& p, const Matrix7& N, const Vector7& g, double lambda) {
  std::vector<int> index;
  for (int k = 0; k < 7; ++k)
    if (p.free[k]) index.push_back(k);
  const int n = static_cast<int>(index.size());
  Eigen::MatrixXd A(n, n);
  Eigen::VectorXd b(n);
  for (int a = 0; a < n; ++a) {
    b(a) = g(index[a]);
    for (int c = 0; c < n; ++c) A(a, c) = N(index[a], index[c]);
    A(a, a) += lambda * std::max(N(index[a], index[a]), 1e-300);
  }
  const Eigen::VectorXd x = A.ldlt().solve(b);
  Vector7 d = Vector7::Zero();
  for (int a = 0; a < n; ++a) d(index[a]) = x(a);
  return d;
}

// Levenberg–Marquardt from `m`; `reweight` recomputes the factors before every step. With scene
// σ the weight matrices follow the pose between rounds.
template <typename Reweight>
double Refine(const Problem& p, Model& m, std::vector<double>& factor, int maxIterations,
              Reweight reweight, double tolerance = 1e-10) {
  const int rounds = p.anySceneSigma ? 4 : 1;
  std::vector<Eigen::Matrix2d> W;
  for (int round = 0; round < rounds; ++round) {
    W = Weights(p, m);
    double lambda = 1e-3;
    for (int iteration = 0; iteration < maxIterations; ++iteration) {
      reweight(m, factor);
      Matrix7 N;
      Vector7 g;
      double cost = 0;
      if (!NormalEquations(p, m, W, factor, N, g, cost) || cost == 0) break;
      bool accepted = false;
      double newCost = cost;
      Model next;
      while (lambda < 1e12) {
        const Vector7 d = Step(p, N, g, lambda);
        if (!d.allFinite()) {
          lambda *= 10;
          continue;
        }
        next = Apply(m, d);
        newCost = next.F > 0 ? Cost(p, next, W, factor) : std::numeric_limits<double>::infinity();
        if (newCost <= cost) {
          accepted = true;
          lambda = std::max(lambda * 0.1, 1e-12);
          break;
        }
        lambda *= 10;
      }
      if (!accepted) break;
      m = next;
      if (cost - newCost <= tolerance * newCost || newCost == 0) break;
    }
  }
  return Cost(p, m, Weights(p, m), factor);
}

void NoReweight(const Model&, std::vector<double>&) {}

// The weighted residual lengths sqrt(eᵀ·W·e) of every point, in a-priori pixels (infinity for a
// point not in front).
std::vector<double> Lengths(const Problem& p, const Model& m) {
  const std::vector<Eigen::Matrix2d> W = Weights(p, m);
  const Eigen::Vector3d RC = m.R * m.C;
  std::vector<double> lengths(p.points.size());
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    double eu, ev;
    Eigen::Vector3d q;
    if (!PointError(m, RC, p.points[i], eu, ev, q)) {
      lengths[i] = std::numeric_limits<double>::infinity();
      continue;
    }
    const Eigen::Vector2d e(eu, ev);
    lengths[i] = std::sqrt(e.dot(W[i] * e));
  }
  return lengths;
}

// The direct linear transformation of the points `use` (six or more, not on one plane): the
// focal length it implies with zero skew, square pixels and any principal point; nothing when the
// points fix none.
std::optional<double> DltFocalLength(const Problem& p, const std::vector<int>& use) {
  const int n = static_cast<int>(use.size());
  if (n < 6) return std::nullopt;
  Eigen::Vector3d centroid = Eigen::Vector3d::Zero();
  double imageScale = 0;
  for (int i : use) {
    centroid += Eigen::Vector3d(p.points[i].X, p.points[i].Y, p.points[i].Z);
    imageScale += std::hypot(p.points[i].u, p.points[i].v);
  }
  centroid /= n;
  double sceneScale = 0;
  for (int i : use)
    sceneScale += (Eigen::Vector3d(p.points[i].X, p.points[i].Y, p.points[i].Z) - centroid).norm();
  sceneScale = sceneScale > 0 ? n / sceneScale : 0;
  imageScale = imageScale > 0 ? n / imageScale : 1;
  if (!(sceneScale > 0)) return std::nullopt;
  Eigen::MatrixXd A = Eigen::MatrixXd::Zero(2 * n, 12);
  for (int r = 0; r < n; ++r) {
    const SpatialCorrespondence& c = p.points[use[r]];
    const Eigen::Vector3d s = (Eigen::Vector3d(c.X, c.Y, c.Z) - centroid) * sceneScale;
    const Eigen::Vector4d P(s(0), s(1), s(2), 1);
    const double u = c.u * imageScale, v = c.v * imageScale;
    A.block<1, 4>(2 * r, 0) = P.transpose();
    A.block<1, 4>(2 * r, 8) = -u * P.transpose();
    A.block<1, 4>(2 * r + 1, 4) = P.transpose();
    A.block<1, 4>(2 * r + 1, 8) = -v * P.transpose();
  }
  const Eigen::JacobiSVD<Eigen::MatrixXd> svd(A, Eigen::ComputeFullV);
  const Eigen::VectorXd h = svd.matrixV().col(11);
  Eigen::Matrix3d M;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) M(r, c) = h(4 * r + c);
  M.row(0) /= imageScale;
  M.row(1) /= imageScale;
  Eigen::Matrix3d KK = M * M.transpose();
  if (!(KK(2, 2) > 0)) return std::nullopt;
  KK /= KK(2, 2);
  const double f2 = (KK(0, 0) - KK(0, 2) * KK(0, 2) + KK(1, 1) - KK(1, 2) * KK(1, 2)) / 2;
  if (!(f2 > 0) || !std::isfinite(f2)) return std::nullopt;
  return std::sqrt(f2);
}

// The camera of focal length F by OpenCV's SQPnP on the points `use`.
std::optional<Model> SqpnpPose(const Problem& p, const std::vector<int>& use, double F) {
  std::vector<cv::Point3d> scene;
  std::vector<cv::Point2d> image;
  for (int i : use) {
    scene.emplace_back(p.points[i].X, p.points[i].Y, p.points[i].Z);
    image.emplace_back(p.points[i].u, p.points[i].v);
  }
  const cv::Matx33d K(F, 0, 0, 0, F, 0, 0, 0, 1);
  cv::Mat rvec, tvec;
  try {
    if (!cv::solvePnP(scene, image, K, cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_SQPNP))
      return std::nullopt;
  } catch (const cv::Exception&) {
    return std::nullopt;
  }
  cv::Matx33d R;
  cv::Rodrigues(rvec, R);
  Model m;
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) m.R(r, c) = R(r, c);
  const Eigen::Vector3d t(tvec.at<double>(0), tvec.at<double>(1), tvec.at<double>(2));
  m.C = -m.R.transpose() * t;
  m.F = F;
  if (!m.R.allFinite() || !m.C.allFinite()) return std::nullopt;
  return m;
}

// The points that agree with the camera `m` within `limit` (weighted pixels).
std::vector<int> Agreeing(const Problem& p, const Model& m, const std::vector<int>& control,
                          double limit) {
  const std::vector<double> lengths = Lengths(p, m);
  std::vector<int> agree;
  for (int i : control)
    if (lengths[i] < limit) agree.push_back(i);
  return agree;
}

// The random six-point search of the focal length (MSAC over direct linear transformations,
// truncated at `truncation` pixels), drawn until a sample without blunders comes at
// kDltConfidence for the share agreeing so far: the focal length of the points that agree with
// the best.
std::optional<double> ConsensusFocalLength(const Problem& p, const std::vector<int>& control,
                                           double truncation) {
  const int n = static_cast<int>(control.size());
  if (n <= 6) return DltFocalLength(p, control);
  std::mt19937 random(kSearchSeed);
  double best = std::numeric_limits<double>::infinity();
  std::optional<double> bestF;
  std::vector<int> bestAgree;
  int needed = kMaxDltSamples;
  for (int sample = 0; sample < std::clamp(needed, kMinDltSamples, kMaxDltSamples); ++sample) {
    std::vector<int> pick;
    while (pick.size() < 6) {
      const int k = control[random() % static_cast<std::uint32_t>(n)];
      if (std::find(pick.begin(), pick.end(), k) == pick.end()) pick.push_back(k);
    }
    const std::optional<double> F = DltFocalLength(p, pick);
    if (!F) continue;
    const std::optional<Model> m = SqpnpPose(p, pick, *F);
    if (!m) continue;
    const std::vector<double> lengths = Lengths(p, *m);
    double score = 0;
    for (int i : control) score += std::min(lengths[i] * lengths[i], truncation * truncation);
    if (score < best) {
      best = score;
      bestF = F;
      bestAgree = Agreeing(p, *m, control, truncation);
      const double w6 = std::pow(static_cast<double>(bestAgree.size()) / n, 6);
      needed = w6 >= 1 ? 0
                       : static_cast<int>(std::ceil(std::log(1 - kDltConfidence) /
                                                    std::log(1 - std::max(w6, 1e-9))));
    }
  }
  if (bestAgree.size() >= 6) {
    const std::optional<double> F = DltFocalLength(p, bestAgree);
    if (F) return F;
  }
  return bestF;
}

// The consensus camera of the scene in space: OpenCV's RANSAC over SQPnP with focal length F, the
// points that agree with it, nothing when fewer than half agree at any width.
std::optional<Model> ConsensusPose(const Problem& p, const std::vector<int>& control, double F,
                                   std::vector<int>& agree) {
  const int n = static_cast<int>(control.size());
  if (n < 6) {
    agree = control;
    return SqpnpPose(p, control, F);
  }
  std::vector<cv::Point3d> scene;
  std::vector<cv::Point2d> image;
  for (int i : control) {
    scene.emplace_back(p.points[i].X, p.points[i].Y, p.points[i].Z);
    image.emplace_back(p.points[i].u, p.points[i].v);
  }
  const cv::Matx33d K(F, 0, 0, 0, F, 0, 0, 0, 1);
  for (int widening = 0; widening < kConsensusWidenings; ++widening) {
    const double truncation = kConsensusSigmas * p.sigmaA * std::ldexp(1.0, widening);
    cv::Mat rvec, tvec;
    std::vector<int> inliers;
    try {
      if (!cv::solvePnPRansac(scene, image, K, cv::noArray(), rvec, tvec, false, 500,
                              static_cast<float>(truncation), 0.999, inliers, cv::SOLVEPNP_SQPNP))
        continue;
    } catch (const cv::Exception&) {
      continue;
    }
    if (static_cast<int>(inliers.size()) < std::max(4, (n + 1) / 2)) continue;
    std::vector<int> use;
    for (int k : inliers) use.push_back(control[k]);
    const std::optional<Model> m = SqpnpPose(p, use, F);
    if (!m) continue;
    agree = use;
    return m;
  }
  return std::nullopt;
}

// Rotation (direction cosines) of a camera.
Rotation RotationOf(const Model& m) {
  Rotation r;
  r.xX = m.R(0, 0);
  r.yX = m.R(0, 1);
  r.zX = m.R(0, 2);
  r.xY = -m.R(1, 0);
  r.yY = -m.R(1, 1);
  r.zY = -m.R(1, 2);
  r.xZ = -m.R(2, 0);
  r.yZ = -m.R(2, 1);
  r.zZ = -m.R(2, 2);
  return r;
}

// The omega, phi, kappa of a camera, radians.
Eigen::Vector3d OmegaPhiKappa(const Model& m) {
  const StandardPose pose = StandardPoseOf(RotationOf(m), TPoint3{0, 0, 0});
  return Eigen::Vector3d(pose.omegaPhiKappaDeg[0], pose.omegaPhiKappaDeg[1],
                         pose.omegaPhiKappaDeg[2]) *
         (M_PI / 180);
}

double AngleDifference(double a, double b) { return std::remainder(a - b, 2 * M_PI); }

// The parameters' covariance in the reported order from that of the model's parameters (7 × 7
// or 6 × 6), the centre's ellipsoid, and the 21 values'.
void FillCovariance(const Model& m, const Eigen::MatrixXd& covariance, bool withF,
                    const rigorous::ValueMatrix& valueCovariance, AdjustmentResult& out) {
  const int n = withF ? 7 : 6;
  Eigen::MatrixXd G = Eigen::MatrixXd::Identity(n, n);
  for (int k = 0; k < 3; ++k) {
    Vector7 d = Vector7::Zero();
    d(k) = 1e-7;
    const Eigen::Vector3d plus = OmegaPhiKappa(Apply(m, d)), minus = OmegaPhiKappa(Apply(m, -d));
    for (int j = 0; j < 3; ++j) G(j, k) = AngleDifference(plus(j), minus(j)) / 2e-7;
  }
  const Eigen::MatrixXd C = G * covariance.topLeftCorner(n, n) * G.transpose();
  out.parameters = {"omega", "phi", "kappa", "X0", "Y0", "Z0"};
  if (withF) out.parameters.push_back("f");
  out.covariance.resize(n * n);
  for (int r = 0; r < n; ++r)
    for (int c = 0; c < n; ++c) out.covariance[r * n + c] = C(r, c);
  out.valueCovariance.resize(kResultCount * kResultCount);
  for (int r = 0; r < kResultCount; ++r)
    for (int c = 0; c < kResultCount; ++c)
      out.valueCovariance[r * kResultCount + c] = valueCovariance(r, c);
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(C.block<3, 3>(3, 3));
  for (int k = 0; k < 3; ++k) {
    const int from = 2 - k;  // the eigenvalues ascend
    out.centreSemiAxes[k] = std::sqrt(std::max(0.0, eigen.eigenvalues()(from)) * kChiSquare3At95);
    for (int j = 0; j < 3; ++j) out.centreAxes[k][j] = eigen.eigenvectors()(j, from);
  }
}

// The check points' misses at the camera `m`.
void MeasureChecks(const Problem& p, const Model& m, AdjustmentResult& out) {
  const Eigen::Vector3d RC = m.R * m.C;
  double image = 0, scene = 0;
  int imageCount = 0, sceneCount = 0;
  for (std::size_t i = 0; i < p.points.size(); ++i) {
    if (p.control[i]) continue;
    const SpatialCorrespondence& c = p.points[i];
    CheckPointMiss miss;
    miss.index = static_cast<int>(i);
    const Eigen::Vector3d q = c.X * m.R.col(0) + c.Y * m.R.col(1) + c.Z * m.R.col(2) - RC;
    if (q(2) > 0) {
      miss.ex = c.u - m.F * q(0) / q(2);
      miss.ey = -(c.v - m.F * q(1) / q(2));
      miss.imageKnown = std::isfinite(miss.ex) && std::isfinite(miss.ey);
    }
    // The ray of the image point in the scene, met at the point's Z.
    const Eigen::Vector3d ray = m.R.transpose() * Eigen::Vector3d(c.u / m.F, c.v / m.F, 1);
    if (std::fabs(ray(2)) > 1e-12) {
      const double t = (c.Z - m.C(2)) / ray(2);
      if (t > 0 && std::isfinite(t)) {
        miss.dX = m.C(0) + t * ray(0) - c.X;
        miss.dY = m.C(1) + t * ray(1) - c.Y;
        miss.sceneKnown = std::isfinite(miss.dX) && std::isfinite(miss.dY);
        if (!miss.sceneKnown) miss.dX = miss.dY = 0;
      }
    }
    if (!miss.imageKnown) {
      miss.ex = miss.ey = 0;
    } else {
      image += miss.ex * miss.ex + miss.ey * miss.ey;
      ++imageCount;
    }
    if (miss.sceneKnown) {
      scene += miss.dX * miss.dX + miss.dY * miss.dY;
      ++sceneCount;
    }
    out.checkPoints.push_back(miss);
  }
  if (imageCount > 0) out.checkImageRmse = std::sqrt(image / imageCount);
  if (sceneCount > 0) out.checkSceneRmse = std::sqrt(scene / sceneCount);
}

AdjustmentResult Failed(RigorousFailure failure) {
  AdjustmentResult out;
  out.rigorous.failure = failure;
  return out;
}

// The studentised residual test of every control point against the fit `m` on the `used`
// points, as the rigorous estimate tests them: a left-out point that passes comes back, the worst
// used one that fails leaves. False when there is too little redundancy to test.
bool Snooped(const Problem& p, const Model& m, const std::vector<bool>& used, int redundancyOther,
             std::vector<bool>& next) {
  const int n = static_cast<int>(p.points.size());
  const int controls = static_cast<int>(std::count(p.control.begin(), p.control.end(), true));
  std::vector<double> factor(n);
  for (int i = 0; i < n; ++i) factor[i] = used[i] ? 1.0 : 0.0;
  const std::vector<Eigen::Matrix2d> W = Weights(p, m);
  Matrix7 N;
  Vector7 g;
  double cost = 0;
  if (!NormalEquations(p, m, W, factor, N, g, cost)) return false;
  const int dof =
      2 * static_cast<int>(std::count(used.begin(), used.end(), true)) + redundancyOther;
  if (dof < 3) return false;
  Matrix7 Nf = N;
  for (int k = 0; k < 7; ++k)
    if (!p.free[k]) Nf(k, k) = 1;
  const Matrix7 Ninv = Nf.ldlt().solve(Matrix7::Identity());
  if (!Ninv.allFinite()) return false;
  const double usedLimit = std::pow(rigorous::BlunderSigmas(dof - 2, controls), 2);
  const double leftOutLimit = std::pow(rigorous::BlunderSigmas(dof, controls), 2);
  const Eigen::Vector3d RC = m.R * m.C;
  next.assign(n, false);
  int worst = -1;
  double worstExcess = 1;
  for (int i = 0; i < n; ++i) {
    if (!p.control[i]) continue;
    double eu, ev;
    Eigen::Vector3d q;
    if (!PointError(m, RC, p.points[i], eu, ev, q)) continue;
    double ju[7], jv[7];
    PointDerivatives(m, q, ju, jv);
    Matrix27 J;
    for (int k = 0; k < 7; ++k) {
      J(0, k) = p.free[k] ? ju[k] : 0;
      J(1, k) = p.free[k] ? jv[k] : 0;
    }
    const double sign = used[i] ? -1 : 1;
    const Eigen::Matrix2d Q = W[i].inverse() + sign * J * Ninv * J.transpose();
    if (!(Q.determinant() > 1e-9 * W[i].inverse().determinant())) {
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
  if (worst >= 0) next[worst] = false;
  return true;
}

}  // namespace

bool SceneIsSpatial(const std::vector<AdjustmentPoint>& points) {
  return std::any_of(points.begin(), points.end(),
                     [](const AdjustmentPoint& p) { return p.Z != 0; });
}

AdjustmentResult Adjust(const std::vector<AdjustmentPoint>& points, double focalLength,
                        const KnownValues& known, const std::optional<StandPose>& start,
                        const RigorousOptions& options) {
  const double sigmaA = options.imageSigma > 0 && std::isfinite(options.imageSigma)
                            ? options.imageSigma
                            : RigorousOptions{}.imageSigma;
  for (const AdjustmentPoint& p : points)
    if (!std::isfinite(p.x) || !std::isfinite(p.y) || !std::isfinite(p.X) || !std::isfinite(p.Y) ||
        !std::isfinite(p.Z) || !std::isfinite(p.imageSigma) || !std::isfinite(p.sceneSigma))
      return Failed(RigorousFailure::kDegenerate);
  const auto valid = [](const std::optional<KnownValue>& v) {
    return !v || (std::isfinite(v->value) && std::isfinite(v->sigma) && v->sigma >= 0);
  };
  if (!valid(known.centreX) || !valid(known.centreY) || !valid(known.centreZ) ||
      !valid(known.roll) || !valid(known.focalLength))
    return Failed(RigorousFailure::kDegenerate);

  // The focal length: a known one held or observed, else the camera file's, else estimated.
  const bool fixedF = known.focalLength ? known.focalLength->sigma == 0 : focalLength > 0;
  const double givenF = known.focalLength ? known.focalLength->value : focalLength;
  if (known.focalLength && !(givenF > 0)) return Failed(RigorousFailure::kDegenerate);
  const bool spatial = SceneIsSpatial(points);
  const bool plain = !spatial && !known.centreX && !known.centreY && !known.centreZ &&
                     !known.roll && (!known.focalLength || fixedF) &&
                     std::none_of(points.begin(), points.end(), [](const AdjustmentPoint& p) {
                       return p.check || p.imageSigma > 0 || p.sceneSigma > 0;
                     });

  std::vector<ControlPoint> control;
  std::vector<int> controlIndex;
  for (std::size_t i = 0; i < points.size(); ++i)
    if (!points[i].check) {
      control.push_back({points[i].x, points[i].y, points[i].X, points[i].Y});
      controlIndex.push_back(static_cast<int>(i));
    }

  AdjustmentResult out;
  if (plain) {
    // The plane alone: the rigorous estimate itself.
    rigorous::Fit fit;
    out.rigorous = rigorous::EstimateWithFit(control, fixedF ? givenF : 0, start, options, &fit);
    if (out.rigorous.failure == RigorousFailure::kNone)
      FillCovariance(fit.model, fit.covariance, !fixedF, fit.valueCovariance, out);
    return out;
  }

  Problem p;
  p.sigmaA = sigmaA;
  const int n = static_cast<int>(points.size());
  for (const AdjustmentPoint& a : points) {
    p.points.push_back({a.x, -a.y, a.X, a.Y, a.Z});
    p.imageSigma.push_back(a.imageSigma > 0 ? a.imageSigma : sigmaA);
    p.sceneSigma.push_back(std::max(0.0, a.sceneSigma));
    p.control.push_back(!a.check);
    p.anySceneSigma = p.anySceneSigma || (a.sceneSigma > 0 && !a.check);
  }
  const double a2 = sigmaA * sigmaA;
  const std::optional<KnownValue>* centre[3] = {&known.centreX, &known.centreY, &known.centreZ};
  for (int k = 0; k < 3; ++k)
    if (*centre[k]) {
      if ((*centre[k])->sigma == 0)
        p.free[3 + k] = false;
      else
        p.pseudo.push_back(
            {k, (*centre[k])->value, a2 / ((*centre[k])->sigma * (*centre[k])->sigma)});
    }
  p.free[6] = !fixedF;
  if (known.focalLength && !fixedF)
    p.pseudo.push_back({3, givenF, a2 / (known.focalLength->sigma * known.focalLength->sigma)});
  if (known.roll) {
    const double s = known.roll->sigma > 0 ? known.roll->sigma * M_PI / 180 : kFixedRollSigma;
    p.pseudo.push_back({4, FoldRoll(known.roll->value * M_PI / 180), a2 / (s * s)});
  }

  // The start and the points that agree with it.
  const int controls = static_cast<int>(controlIndex.size());
  std::vector<bool> used(n, false);
  Model best;
  if (!spatial) {
    if (controls < 4) return Failed(RigorousFailure::kTooFewPoints);
    rigorous::Fit fit;
    const RigorousResult planar = rigorous::EstimateWithFit(
        control, known.focalLength || fixedF ? givenF : 0, start, options, &fit);
    if (planar.failure != RigorousFailure::kNone) return Failed(planar.failure);
    best = fit.model;
    for (int i : controlIndex) used[i] = true;
    for (int k : planar.outliers) used[controlIndex[k]] = false;
  } else {
    if (controls < (p.free[6] && !known.focalLength ? 6 : 4))
      return Failed(RigorousFailure::kTooFewPoints);
    double F = givenF;
    if (!fixedF && !known.focalLength) {
      std::optional<double> estimate;
      for (int widening = 0; widening < kConsensusWidenings && !estimate; ++widening)
        estimate = ConsensusFocalLength(p, controlIndex,
                                        kConsensusSigmas * sigmaA * std::ldexp(1.0, widening));
      if (!estimate) return Failed(RigorousFailure::kFocalLengthUndetermined);
      F = *estimate;
    }
    std::vector<int> agree;
    const std::optional<Model> found = ConsensusPose(p, controlIndex, F, agree);
    if (!found)
      return Failed(controls < 6 ? RigorousFailure::kDegenerate : RigorousFailure::kNoConsensus);
    best = *found;
    for (int i : agree) used[i] = true;
  }
  for (int k = 0; k < 3; ++k)
    if (!p.free[3 + k]) best.C(k) = (*centre[k])->value;
  if (fixedF) best.F = givenF;

  // The fit on the agreeing points, the reweighted fit over all control points proposing the
  // blunders, then the test of each point by its studentised residual.
  const int pseudoCount = static_cast<int>(p.pseudo.size());
  const int parameters = p.FreeCount();
  std::vector<double> factor(n);
  for (int i = 0; i < n; ++i) factor[i] = used[i] ? 1.0 : 0.0;
  if (!std::isfinite(Refine(p, best, factor, 100, NoReweight)))
    return Failed(RigorousFailure::kDegenerate);
  if (spatial && controls >= 6) {
    const auto cauchy = [&p, parameters](const Model& m, std::vector<double>& w) {
      const std::vector<double> lengths = Lengths(p, m);
      std::vector<double> controlLengths;
      for (std::size_t i = 0; i < lengths.size(); ++i)
        if (p.control[i]) controlLengths.push_back(lengths[i]);
      const double sigma =
          std::max(rigorous::RobustSigma(controlLengths, parameters), kNegligibleLength);
      const double c = kCauchySigmas * sigma;
      for (std::size_t i = 0; i < lengths.size(); ++i)
        w[i] = !p.control[i] || !std::isfinite(lengths[i])
                   ? 0.0
                   : 1 / (1 + (lengths[i] / c) * (lengths[i] / c));
    };
    Model robust = best;
    std::vector<double> w(n, 1.0);
    Refine(p, robust, w, 30, cauchy, 1e-6);
    const std::vector<double> lengths = Lengths(p, robust);
    std::vector<double> controlLengths;
    for (int i : controlIndex) controlLengths.push_back(lengths[i]);
    const double threshold = std::max(rigorous::BlunderSigmas(2 * controls - parameters, controls) *
                                          rigorous::RobustSigma(controlLengths, parameters),
                                      kNegligibleLength);
    std::vector<bool> kept(n, false);
    int count = 0;
    for (int i : controlIndex) {
      kept[i] = lengths[i] <= threshold;
      count += kept[i] ? 1 : 0;
    }
    if (count >= std::max(4, (controls + 1) / 2) && kept != used) {
      used = kept;
      best = robust;
    }
    for (int round = 0; round < 10; ++round) {
      for (int i = 0; i < n; ++i) factor[i] = used[i] ? 1.0 : 0.0;
      Model m = best;
      if (!std::isfinite(Refine(p, m, factor, 100, NoReweight))) break;
      best = m;
      std::vector<bool> next;
      if (!Snooped(p, best, used, pseudoCount - parameters, next)) break;
      const int nextCount = static_cast<int>(std::count(next.begin(), next.end(), true));
      if (next == used || nextCount < std::max(4, (controls + 1) / 2)) break;
      used = next;
    }
  }
  for (int i = 0; i < n; ++i) factor[i] = used[i] ? 1.0 : 0.0;
  Refine(p, best, factor, 100, NoReweight);

  RigorousResult& result = out.rigorous;
  const std::vector<Eigen::Matrix2d> W = Weights(p, best);
  Matrix7 N;
  Vector7 g;
  double cost = 0;
  if (!NormalEquations(p, best, W, factor, N, g, cost)) return Failed(RigorousFailure::kDegenerate);
  const int usedCount = static_cast<int>(std::count(used.begin(), used.end(), true));
  for (int i = 0; i < n; ++i)
    if (p.control[i] && !used[i]) result.outliers.push_back(i);
  const RigorousFailure where = rigorous::StandPoseOf(best, result.pose);
  if (where != RigorousFailure::kNone) return Failed(where);
  result.redundancy = 2 * usedCount + pseudoCount - parameters;
  if (result.redundancy < 1) return Failed(RigorousFailure::kTooFewPoints);
  result.sigma0 = std::sqrt(cost / result.redundancy);

  // The covariance σ0²·N⁻¹ over the free parameters, N scaled to a unit diagonal first so that
  // its conditioning shows whether the points fix every parameter.
  std::vector<int> index;
  for (int k = 0; k < 7; ++k)
    if (p.free[k]) index.push_back(k);
  Eigen::MatrixXd Nn(parameters, parameters);
  for (int a = 0; a < parameters; ++a)
    for (int c = 0; c < parameters; ++c) Nn(a, c) = N(index[a], index[c]);
  Eigen::VectorXd scale(parameters);
  for (int k = 0; k < parameters; ++k) scale(k) = Nn(k, k) > 0 ? 1 / std::sqrt(Nn(k, k)) : 0;
  const Eigen::MatrixXd unit = scale.asDiagonal() * Nn * scale.asDiagonal();
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(unit);
  if (!(eigen.eigenvalues()(0) > 1e-12))
    return Failed(p.free[6] ? RigorousFailure::kFocalLengthUndetermined
                            : RigorousFailure::kDegenerate);
  const Eigen::MatrixXd freeCovariance =
      scale.asDiagonal() * eigen.eigenvectors() * eigen.eigenvalues().cwiseInverse().asDiagonal() *
      eigen.eigenvectors().transpose() * scale.asDiagonal() * (result.sigma0 * result.sigma0);
  Eigen::MatrixXd covariance = Eigen::MatrixXd::Zero(7, 7);
  for (int a = 0; a < parameters; ++a)
    for (int c = 0; c < parameters; ++c) covariance(index[a], index[c]) = freeCovariance(a, c);

  result.focalLength = best.F;
  result.focalLengthEstimated = p.free[6];
  result.focalLengthSigma = std::sqrt(std::max(0.0, covariance(6, 6)));
  double squares = 0;
  const Eigen::Vector3d RC = best.R * best.C;
  for (int i = 0; i < n; ++i) {
    double eu, ev;
    Eigen::Vector3d q;
    if (used[i] && PointError(best, RC, p.points[i], eu, ev, q)) squares += eu * eu + ev * ev;
  }
  result.rmsResidual = std::sqrt(squares / usedCount);
  result.values = StandPoseValues(result.pose);
  rigorous::ValueMatrix valueCovariance;
  if (!rigorous::ValueCovariance(best, result.pose, covariance, valueCovariance))
    return Failed(RigorousFailure::kDegenerate);
  // A fixed centre coordinate or roll is the value itself: exactly no spread, whatever the
  // propagation's round-off or the roll's stiff observation leaves.
  const auto fix = [&valueCovariance](int value) {
    valueCovariance.row(value).setZero();
    valueCovariance.col(value).setZero();
  };
  for (int k = 0; k < 3; ++k)
    if (!p.free[3 + k]) fix(kCentreX + k);
  if (known.roll && !(known.roll->sigma > 0)) fix(kPhotoKappa);
  for (int j = 0; j < kResultCount; ++j)
    result.sigma[j] = std::sqrt(std::max(0.0, valueCovariance(j, j)));
  result.tQuantile95 = StudentTQuantile(0.975, result.redundancy);
  // The tilt of the optical axis from the normal of Z = 0, and its σ, as the rigorous estimate
  // reports them.
  const Eigen::Vector3d normal = best.R.col(2);
  const Eigen::Vector2d acrossAxis(normal(0), normal(1));
  Eigen::Matrix<double, 2, 3> dAcross;
  dAcross << 0, normal(2), -normal(1), -normal(2), 0, normal(0);
  const Eigen::Matrix2d acrossCovariance =
      dAcross * covariance.topLeftCorner(3, 3) * dAcross.transpose();
  const double tilt = std::atan2(acrossAxis.norm(), std::fabs(normal(2)));
  result.geometry.tiltDegrees = tilt * 180 / M_PI;
  if (acrossAxis.norm() > 0) {
    const Eigen::Vector2d direction = acrossAxis / acrossAxis.norm();
    result.geometry.tiltSigmaDegrees =
        std::sqrt(std::max(0.0, direction.dot(acrossCovariance * direction))) /
        std::max(std::cos(tilt), 1e-12) * 180 / M_PI;
  }

  RigorousVerdict& verdict = result.verdict;
  verdict.imageSigma = sigmaA;
  verdict.chiSquare = result.redundancy * (result.sigma0 / sigmaA) * (result.sigma0 / sigmaA);
  verdict.chiSquareLimit = ChiSquareQuantile(1 - kVerdictSignificance, result.redundancy);
  verdict.pValue = ChiSquareUpperTail(verdict.chiSquare, result.redundancy);
  if (verdict.chiSquare > verdict.chiSquareLimit)
    verdict.reasons.push_back(RigorousSuspicion::kSigma0TooLarge);
  verdict.suspect = !verdict.reasons.empty();

  FillCovariance(best, covariance, p.free[6], valueCovariance, out);
  MeasureChecks(p, best, out);

  bool finite = std::isfinite(result.sigma0) && std::isfinite(result.focalLength) &&
                std::isfinite(result.geometry.tiltSigmaDegrees) &&
                std::isfinite(result.focalLengthSigma) && std::isfinite(verdict.chiSquare) &&
                std::isfinite(out.checkImageRmse) && std::isfinite(out.checkSceneRmse);
  for (int j = 0; j < kResultCount; ++j)
    finite = finite && std::isfinite(result.values[j]) && std::isfinite(result.sigma[j]);
  for (double v : out.covariance) finite = finite && std::isfinite(v);
  for (double v : out.valueCovariance) finite = finite && std::isfinite(v);
  for (double v : out.centreSemiAxes) finite = finite && std::isfinite(v);
  if (!finite) return Failed(RigorousFailure::kDegenerate);
  return out;
}

}  // namespace zelv
