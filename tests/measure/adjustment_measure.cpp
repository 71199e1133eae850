// The single-photo adjustment measured on random scenes in space: the centre error against the
// maximum-likelihood limit and OpenCV's SQPnP + Levenberg–Marquardt, with blunders against
// OpenCV's RANSAC, the coverage of the ±1.96 σ intervals, the check points' RMSE against the true
// error of points measured on the photograph, a known centre with σ against the covariance of
// the combined adjustment computed here, a fixed focal length against the camera file's, and the
// scene points' σ carried by propagation against the exact errors-in-variables solution.
// A program to run by hand (target zelv_adjustment_measure); ZELV_MEASURE_SEED draws fresh scenes.
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <opencv2/calib3d.hpp>
#include <random>
#include <vector>

#include "solver/adjustment.h"
#include "solver/rigorous_model.h"

namespace {

using namespace zelv;
using rigorous::Model;

std::uint64_t SeedOffset() {
  const char* text = std::getenv("ZELV_MEASURE_SEED");
  return text == nullptr ? 0 : std::strtoull(text, nullptr, 10);
}

struct Scene {
  Model truth;
  std::vector<AdjustmentPoint> points;  // noisy image points, exact scene points
  std::vector<Eigen::Vector2d> exact;   // the exact image points
};

// A camera looking down at Z = 0 from 1000–3000 units, tilted up to 60°, any roll; `count` points
// at random pixels of a 1920 × 1080 frame, their depth along the axis spread by `spread` of the
// distance around it; image noise `sigma`.
Scene MakeScene(std::mt19937_64& random, int count, double spread, double sigma) {
  std::uniform_real_distribution<double> uniform(0, 1);
  std::normal_distribution<double> normal(0, 1);
  Scene s;
  const double F = 1200 + 1300 * uniform(random);
  const double D = 1000 + 2000 * uniform(random);
  const double tilt = std::acos(1 - (1 - std::cos(M_PI / 3)) * uniform(random));
  const double azimuth = 2 * M_PI * uniform(random), roll = 2 * M_PI * uniform(random);
  // The viewing direction (forward, camera z) points down at the origin.
  const Eigen::Vector3d forward(std::sin(tilt) * std::cos(azimuth),
                                std::sin(tilt) * std::sin(azimuth), -std::cos(tilt));
  Eigen::Vector3d right = forward.cross(Eigen::Vector3d::UnitZ());
  if (right.norm() < 1e-9) right = Eigen::Vector3d::UnitX();
  right.normalize();
  const Eigen::Vector3d down = forward.cross(right);
  Eigen::Matrix3d R;
  R.row(0) = right.transpose();
  R.row(1) = down.transpose();
  R.row(2) = forward.transpose();
  R = Eigen::AngleAxisd(roll, Eigen::Vector3d::UnitZ()).toRotationMatrix() * R;
  s.truth.R = R;
  s.truth.C = -D * forward;
  s.truth.F = F;
  for (int i = 0; i < count; ++i) {
    const double u = 1920 * (uniform(random) - 0.5), v = 1080 * (uniform(random) - 0.5);
    const double depth = D * (1 + spread * (uniform(random) - 0.5));
    const Eigen::Vector3d P = s.truth.C + R.transpose() * Eigen::Vector3d(u, v, F) * (depth / F);
    AdjustmentPoint p;
    p.X = P(0);
    p.Y = P(1);
    p.Z = P(2);
    p.x = u + sigma * normal(random);
    p.y = -(v + sigma * normal(random));
    s.points.push_back(p);
    s.exact.emplace_back(u, v);
  }
  return s;
}

double Median(std::vector<double> v) {
  if (v.empty()) return 0;
  std::nth_element(v.begin(), v.begin() + v.size() / 2, v.end());
  return v[v.size() / 2];
}

Eigen::Vector3d CentreOf(const RigorousResult& r) {
  return Eigen::Vector3d(r.values[kCentreX], r.values[kCentreY], r.values[kCentreZ]);
}

// Gauss–Newton on the points `use` from the camera `m` (F free where `varyF`): the maximum-
// likelihood pose when started at the truth.
Model Refined(Model m, const std::vector<AdjustmentPoint>& points, const std::vector<int>& use,
              bool varyF) {
  const int n = varyF ? 7 : 6;
  for (int iteration = 0; iteration < 30; ++iteration) {
    rigorous::Matrix7 N = rigorous::Matrix7::Zero();
    rigorous::Vector7 g = rigorous::Vector7::Zero();
    const Eigen::Vector3d RC = m.R * m.C;
    for (int i : use) {
      const rigorous::SpatialCorrespondence c{points[i].x, -points[i].y, points[i].X, points[i].Y,
                                              points[i].Z};
      double eu, ev, ju[7], jv[7];
      Eigen::Vector3d q;
      if (!rigorous::PointError(m, RC, c, eu, ev, q)) continue;
      rigorous::PointDerivatives(m, q, ju, jv);
      for (int a = 0; a < 7; ++a) {
        g(a) += ju[a] * eu + jv[a] * ev;
        for (int b = 0; b < 7; ++b) N(a, b) += ju[a] * ju[b] + jv[a] * jv[b];
      }
    }
    rigorous::Vector7 d = rigorous::Vector7::Zero();
    d.head(n) = N.topLeftCorner(n, n).ldlt().solve(g.head(n));
    m = rigorous::Apply(m, d);
    if (d.head(3).norm() < 1e-13 && d.segment<3>(3).norm() < 1e-10 * m.C.norm()) break;
  }
  return m;
}

// OpenCV: SQPnP and its Levenberg–Marquardt refinement, or RANSAC first; the centre.
bool OpenCvCentre(const Scene& s, bool ransac, Eigen::Vector3d& centre) {
  std::vector<cv::Point3d> scene;
  std::vector<cv::Point2d> image;
  for (const AdjustmentPoint& p : s.points) {
    scene.emplace_back(p.X, p.Y, p.Z);
    image.emplace_back(p.x, -p.y);
  }
  const cv::Matx33d K(s.truth.F, 0, 0, 0, s.truth.F, 0, 0, 0, 1);
  cv::Mat rvec, tvec;
  if (ransac) {
    std::vector<int> inliers;
    if (!cv::solvePnPRansac(scene, image, K, cv::noArray(), rvec, tvec, false, 1000, 3.0f, 0.999,
                            inliers, cv::SOLVEPNP_SQPNP))
      return false;
    std::vector<cv::Point3d> sceneIn;
    std::vector<cv::Point2d> imageIn;
    for (int k : inliers) {
      sceneIn.push_back(scene[k]);
      imageIn.push_back(image[k]);
    }
    cv::solvePnPRefineLM(sceneIn, imageIn, K, cv::noArray(), rvec, tvec);
  } else {
    if (!cv::solvePnP(scene, image, K, cv::noArray(), rvec, tvec, false, cv::SOLVEPNP_SQPNP))
      return false;
    cv::solvePnPRefineLM(scene, image, K, cv::noArray(), rvec, tvec);
  }
  cv::Matx33d R;
  cv::Rodrigues(rvec, R);
  const cv::Vec3d t(tvec.at<double>(0), tvec.at<double>(1), tvec.at<double>(2));
  const cv::Vec3d C = -(R.t() * t);
  centre = Eigen::Vector3d(C[0], C[1], C[2]);
  return true;
}

// omega, phi, kappa (radians) of a camera, as the adjustment reports them.
Eigen::Vector3d OmegaPhiKappa(const Model& m) {
  // M = Rᵀ·diag(1, −1, −1): camera (x right, y up, z back) to scene.
  const Eigen::Matrix3d M = m.R.transpose() * Eigen::Vector3d(1, -1, -1).asDiagonal();
  // M = Rx(ω)·Ry(φ)·Rz(κ): M(0, 2) = sin φ, M(1, 2) = −sin ω cos φ, M(2, 2) = cos ω cos φ,
  // M(0, 1) = −cos φ sin κ, M(0, 0) = cos φ cos κ.
  return Eigen::Vector3d(std::atan2(-M(1, 2), M(2, 2)), std::asin(std::clamp(M(0, 2), -1.0, 1.0)),
                         std::atan2(-M(0, 1), M(0, 0)));
}

// The camera of omega, phi, kappa and the centre.
Model CameraOf(const Eigen::Matrix<double, 6, 1>& x, double F) {
  const Eigen::Matrix3d M = (Eigen::AngleAxisd(x(0), Eigen::Vector3d::UnitX()) *
                             Eigen::AngleAxisd(x(1), Eigen::Vector3d::UnitY()) *
                             Eigen::AngleAxisd(x(2), Eigen::Vector3d::UnitZ()))
                                .toRotationMatrix();
  Model m;
  m.R = (M * Eigen::Vector3d(1, -1, -1).asDiagonal()).transpose();
  m.C = x.tail<3>();
  m.F = F;
  return m;
}

// The covariance of omega, phi, kappa, X0, Y0, Z0 of the combined adjustment (image points of σ,
// the centre observed with σC), from central differences of the projection in those parameters.
Eigen::Matrix<double, 6, 6> CombinedCovariance(const Model& m, const Scene& s, double sigma,
                                               double sigmaC) {
  Eigen::Matrix<double, 6, 1> x;
  x.head<3>() = OmegaPhiKappa(m);
  x.tail<3>() = m.C;
  Eigen::MatrixXd J(2 * s.points.size(), 6);
  for (int k = 0; k < 6; ++k) {
    const double h = k < 3 ? 1e-7 : 1e-5;
    Eigen::Matrix<double, 6, 1> plus = x, minus = x;
    plus(k) += h;
    minus(k) -= h;
    const Model a = CameraOf(plus, m.F), b = CameraOf(minus, m.F);
    for (std::size_t i = 0; i < s.points.size(); ++i) {
      const Eigen::Vector3d P(s.points[i].X, s.points[i].Y, s.points[i].Z);
      const Eigen::Vector3d qa = a.R * (P - a.C), qb = b.R * (P - b.C);
      J(2 * i, k) = m.F * (qa(0) / qa(2) - qb(0) / qb(2)) / (2 * h);
      J(2 * i + 1, k) = m.F * (qa(1) / qa(2) - qb(1) / qb(2)) / (2 * h);
    }
  }
  Eigen::Matrix<double, 6, 6> N = J.transpose() * J / (sigma * sigma);
  for (int k = 3; k < 6; ++k) N(k, k) += 1 / (sigmaC * sigmaC);
  return N.inverse();
}

// The exact errors-in-variables solution: the pose and every scene point as unknowns, the image
// points (σ) and the scene points (σP) as observations; Gauss–Newton from `m`. The centre.
Eigen::Vector3d ErrorsInVariables(Model m, const std::vector<AdjustmentPoint>& observed,
                                  double sigma, double sigmaP) {
  const int n = static_cast<int>(observed.size());
  std::vector<Eigen::Vector3d> P(n);
  for (int i = 0; i < n; ++i) P[i] = Eigen::Vector3d(observed[i].X, observed[i].Y, observed[i].Z);
  const int u = 6 + 3 * n;
  for (int iteration = 0; iteration < 20; ++iteration) {
    Eigen::MatrixXd N = Eigen::MatrixXd::Zero(u, u);
    Eigen::VectorXd g = Eigen::VectorXd::Zero(u);
    const Eigen::Vector3d RC = m.R * m.C;
    for (int i = 0; i < n; ++i) {
      const rigorous::SpatialCorrespondence c{observed[i].x, -observed[i].y, P[i](0), P[i](1),
                                              P[i](2)};
      double eu, ev, ju[7], jv[7];
      Eigen::Vector3d q;
      if (!rigorous::PointError(m, RC, c, eu, ev, q)) continue;
      rigorous::PointDerivatives(m, q, ju, jv);
      Eigen::MatrixXd J = Eigen::MatrixXd::Zero(2, u);
      for (int k = 0; k < 6; ++k) {
        J(0, k) = ju[k];
        J(1, k) = jv[k];
      }
      J.block<2, 3>(0, 6 + 3 * i) = rigorous::SceneDerivatives(m, q);
      N += J.transpose() * J / (sigma * sigma);
      g += J.transpose() * Eigen::Vector2d(eu, ev) / (sigma * sigma);
      const Eigen::Vector3d e = Eigen::Vector3d(observed[i].X, observed[i].Y, observed[i].Z) - P[i];
      N.block<3, 3>(6 + 3 * i, 6 + 3 * i) += Eigen::Matrix3d::Identity() / (sigmaP * sigmaP);
      g.segment<3>(6 + 3 * i) += e / (sigmaP * sigmaP);
    }
    const Eigen::VectorXd d = N.ldlt().solve(g);
    rigorous::Vector7 pose = rigorous::Vector7::Zero();
    pose.head(6) = d.head(6);
    m = rigorous::Apply(m, pose);
    for (int i = 0; i < n; ++i) P[i] += d.segment<3>(6 + 3 * i);
    if (d.head(6).norm() < 1e-12 * (1 + m.C.norm())) break;
  }
  return m.C;
}

}  // namespace

int main() {
  const std::uint64_t offset = SeedOffset();
  const double sigma = 0.5;
  std::printf("Adjustment of scenes in space (ZELV_MEASURE_SEED %llu), image σ %.1f px\n",
              static_cast<unsigned long long>(offset), sigma);

  // Centre error against the ML limit and OpenCV, coverage of ±1.96 σ.
  for (bool varyF : {false, true}) {
    std::mt19937_64 random(1 + offset);
    std::vector<double> ours, limit, opencv, ratio;
    int covered = 0, intervals = 0, failures = 0;
    const int scenes = 400;
    for (int k = 0; k < scenes; ++k) {
      const int count = 6 + static_cast<int>(random() % 59);
      const double spread = 0.05 + 0.45 * std::uniform_real_distribution<double>(0, 1)(random);
      Scene s = MakeScene(random, count, spread, sigma);
      const AdjustmentResult a = Adjust(s.points, varyF ? 0 : s.truth.F);
      if (a.rigorous.failure != RigorousFailure::kNone) {
        ++failures;
        continue;
      }
      std::vector<int> all(s.points.size());
      for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int>(i);
      const Model ml = Refined(s.truth, s.points, all, varyF);
      ours.push_back((CentreOf(a.rigorous) - s.truth.C).norm());
      limit.push_back((ml.C - s.truth.C).norm());
      ratio.push_back(ours.back() / std::max(limit.back(), 1e-12));
      Eigen::Vector3d c;
      if (!varyF && OpenCvCentre(s, false, c)) opencv.push_back((c - s.truth.C).norm());
      const Eigen::Vector3d opk = OmegaPhiKappa(s.truth);
      const std::size_t n = a.parameters.size();
      const Model fitted = rigorous::ModelOf(a.rigorous.pose, a.rigorous.focalLength);
      const Eigen::Vector3d opkFit = OmegaPhiKappa(fitted);
      for (int j = 0; j < 3; ++j) {
        const double angle = std::remainder(opkFit(j) - opk(j), 2 * M_PI);
        covered += std::fabs(angle) <= 1.96 * std::sqrt(a.covariance[j * n + j]) ? 1 : 0;
        covered += std::fabs(CentreOf(a.rigorous)(j) - s.truth.C(j)) <=
                           1.96 * a.rigorous.sigma[kCentreX + j]
                       ? 1
                       : 0;
        intervals += 2;
      }
    }
    std::printf(
        "%s: %d scenes, %d failed; median centre error ours %.4g, ML limit %.4g (ratio of medians "
        "%.4f, median ratio %.4f)",
        varyF ? "F estimated" : "F given", scenes, failures, Median(ours), Median(limit),
        Median(ours) / Median(limit), Median(ratio));
    if (!varyF)
      std::printf(", OpenCV SQPnP+LM %.4g (%.4f of the limit)", Median(opencv),
                  Median(opencv) / Median(limit));
    std::printf("; coverage ±1.96σ %.1f %%\n", 100.0 * covered / intervals);
  }

  // Two blunders among sixteen.
  for (bool varyF : {false, true}) {
    std::mt19937_64 random(2 + offset);
    std::vector<double> ours, limit, opencv;
    int found = 0;
    const int scenes = 300;
    for (int k = 0; k < scenes; ++k) {
      const double spread = 0.05 + 0.45 * std::uniform_real_distribution<double>(0, 1)(random);
      Scene s = MakeScene(random, 16, spread, sigma);
      for (int b = 0; b < 2; ++b) {
        const double length = 20 + 80 * std::uniform_real_distribution<double>(0, 1)(random);
        const double angle = 2 * M_PI * std::uniform_real_distribution<double>(0, 1)(random);
        s.points[b].x += length * std::cos(angle);
        s.points[b].y += length * std::sin(angle);
      }
      const AdjustmentResult a = Adjust(s.points, varyF ? 0 : s.truth.F);
      if (a.rigorous.failure != RigorousFailure::kNone) continue;
      found += a.rigorous.outliers == std::vector<int>{0, 1} ? 1 : 0;
      std::vector<int> clean;
      for (int i = 2; i < 16; ++i) clean.push_back(i);
      limit.push_back((Refined(s.truth, s.points, clean, varyF).C - s.truth.C).norm());
      ours.push_back((CentreOf(a.rigorous) - s.truth.C).norm());
      Eigen::Vector3d c;
      if (OpenCvCentre(s, true, c)) opencv.push_back((c - s.truth.C).norm());
    }
    std::printf(
        "2 blunders of 20-100 px among 16, %s: both found exactly in %d of %d; median centre "
        "error ours %.4g, ML limit (clean points) %.4g (%.4f), OpenCV RANSAC+LM (F given) %.4g "
        "(%.4f)\n",
        varyF ? "F estimated" : "F given", found, scenes, Median(ours), Median(limit),
        Median(ours) / Median(limit), Median(opencv), Median(opencv) / Median(limit));
  }

  // Check points against the true error of points measured on the photograph.
  {
    std::mt19937_64 random(3 + offset);
    double reported = 0, truth = 0, reportedRms = 0, truthRms = 0;
    int scenes = 0;
    std::normal_distribution<double> normal(0, 1);
    for (int k = 0; k < 200; ++k) {
      const double spread = 0.05 + 0.45 * std::uniform_real_distribution<double>(0, 1)(random);
      Scene s = MakeScene(random, 18, spread, sigma);
      for (int i = 12; i < 18; ++i) s.points[i].check = true;
      const AdjustmentResult a = Adjust(s.points, s.truth.F);
      if (a.rigorous.failure != RigorousFailure::kNone) continue;
      // The true error of the check points: the mean square of their miss over fresh
      // measurements of their exact image points, the fit held.
      const Model m = rigorous::ModelOf(a.rigorous.pose, a.rigorous.focalLength);
      double sum = 0;
      for (int i = 12; i < 18; ++i) {
        const Eigen::Vector3d P(s.points[i].X, s.points[i].Y, s.points[i].Z);
        for (int draw = 0; draw < 100; ++draw) {
          const double um = s.exact[i](0) + sigma * normal(random);
          const double vm = s.exact[i](1) + sigma * normal(random);
          const Eigen::Vector3d ray = m.R.transpose() * Eigen::Vector3d(um / m.F, vm / m.F, 1);
          const Eigen::Vector3d hit = m.C + (P(2) - m.C(2)) / ray(2) * ray;
          sum += (hit - P).head<2>().squaredNorm();
        }
      }
      const double trueRmse = std::sqrt(sum / 600);
      reported += a.checkSceneRmse;
      truth += trueRmse;
      reportedRms += a.checkSceneRmse * a.checkSceneRmse;
      truthRms += trueRmse * trueRmse;
      ++scenes;
    }
    std::printf(
        "check points (12 control, 6 check, %d scenes): mean check RMSE %.4g, mean true RMSE of "
        "the check points %.4g (ratio %.4f; of the mean squares %.4f)\n",
        scenes, reported / scenes, truth / scenes, reported / truth,
        std::sqrt(reportedRms / truthRms));
  }

  // A known centre with σ: the angles' σ against the combined adjustment computed here.
  {
    std::mt19937_64 random(4 + offset);
    std::vector<double> ratio, tightening, theory;
    for (int k = 0; k < 100; ++k) {
      Scene s = MakeScene(random, 10, 0.3, sigma);
      const double sigmaC = 0.002 * s.truth.C.norm();
      KnownValues known;
      known.centreX = KnownValue{s.truth.C(0), sigmaC};
      known.centreY = KnownValue{s.truth.C(1), sigmaC};
      known.centreZ = KnownValue{s.truth.C(2), sigmaC};
      const AdjustmentResult with = Adjust(s.points, s.truth.F, known);
      const AdjustmentResult without = Adjust(s.points, s.truth.F);
      if (with.rigorous.failure != RigorousFailure::kNone ||
          without.rigorous.failure != RigorousFailure::kNone)
        continue;
      const Model m = rigorous::ModelOf(with.rigorous.pose, with.rigorous.focalLength);
      // The adjustment scales by its σ0; the theory's covariance by the a-priori σ: compare at σ0.
      const double s0 = with.rigorous.sigma0;
      const Eigen::Matrix<double, 6, 6> C = CombinedCovariance(m, s, s0, sigmaC * s0 / sigma);
      const Eigen::Matrix<double, 6, 6> C0 = CombinedCovariance(m, s, sigma, 1e9);
      const Eigen::Matrix<double, 6, 6> C1 = CombinedCovariance(m, s, sigma, sigmaC);
      for (int j = 0; j < 3; ++j) {
        ratio.push_back(std::sqrt(with.covariance[j * 6 + j] / C(j, j)));
        tightening.push_back(std::sqrt(with.covariance[j * 6 + j] / without.covariance[j * 6 + j]));
        theory.push_back(std::sqrt(C1(j, j) / C0(j, j)));
      }
    }
    std::sort(ratio.begin(), ratio.end());
    std::printf(
        "known centre σ 0.2 %% of the distance: angles' σ over the combined adjustment's: median "
        "%.5f, range %.5f–%.5f; tightening median %.3f (theory %.3f)\n",
        Median(ratio), ratio.front(), ratio.back(), Median(tightening), Median(theory));
  }

  // A fixed focal length against the camera file's.
  {
    std::mt19937_64 random(5 + offset);
    int same = 0, scenes = 0;
    for (int k = 0; k < 100; ++k) {
      Scene s = MakeScene(random, 12, 0.3, sigma);
      KnownValues known;
      known.focalLength = KnownValue{s.truth.F, 0};
      const AdjustmentResult a = Adjust(s.points, 0, known), b = Adjust(s.points, s.truth.F);
      ++scenes;
      same += std::memcmp(a.rigorous.values.data(), b.rigorous.values.data(),
                          sizeof a.rigorous.values) == 0 &&
                      a.rigorous.sigma0 == b.rigorous.sigma0
                  ? 1
                  : 0;
    }
    std::printf("fixed F against the camera file's F: identical bits in %d of %d scenes\n", same,
                scenes);
  }

  // Scene σ by propagation against the exact errors-in-variables solution.
  {
    std::mt19937_64 random(6 + offset);
    std::normal_distribution<double> normal(0, 1);
    std::vector<double> difference, ours, eiv, ignored;
    for (int k = 0; k < 200; ++k) {
      const int count = 6 + static_cast<int>(random() % 27);
      Scene s = MakeScene(random, count, 0.3, sigma);
      const double sigmaP = 0.0005 * s.truth.C.norm();
      for (AdjustmentPoint& p : s.points) {
        p.X += sigmaP * normal(random);
        p.Y += sigmaP * normal(random);
        p.Z += sigmaP * normal(random);
        p.sceneSigma = sigmaP;
      }
      const AdjustmentResult a = Adjust(s.points, s.truth.F);
      std::vector<AdjustmentPoint> plain = s.points;
      for (AdjustmentPoint& p : plain) p.sceneSigma = 0;
      const AdjustmentResult b = Adjust(plain, s.truth.F);
      if (a.rigorous.failure != RigorousFailure::kNone ||
          b.rigorous.failure != RigorousFailure::kNone)
        continue;
      const Model m = rigorous::ModelOf(a.rigorous.pose, a.rigorous.focalLength);
      const Eigen::Vector3d exact = ErrorsInVariables(m, s.points, sigma, sigmaP);
      const double sC = std::sqrt(a.rigorous.sigma[kCentreX] * a.rigorous.sigma[kCentreX] +
                                  a.rigorous.sigma[kCentreY] * a.rigorous.sigma[kCentreY] +
                                  a.rigorous.sigma[kCentreZ] * a.rigorous.sigma[kCentreZ]);
      difference.push_back((CentreOf(a.rigorous) - exact).norm() / sC);
      ours.push_back((CentreOf(a.rigorous) - s.truth.C).norm());
      eiv.push_back((exact - s.truth.C).norm());
      ignored.push_back((CentreOf(b.rigorous) - s.truth.C).norm());
    }
    std::sort(difference.begin(), difference.end());
    std::printf(
        "scene σ 0.05 %% of the distance, %zu scenes: |propagation − errors-in-variables| centre "
        "over its σ: median %.4f, 95th percentile %.4f; median centre error propagation %.4g, "
        "errors-in-variables %.4g, scene σ ignored %.4g\n",
        difference.size(), Median(difference), difference[difference.size() * 95 / 100],
        Median(ours), Median(eiv), Median(ignored));
  }
  return 0;
}
