// The rigorous estimate measured on random planar scenes: the median projection-centre error (in %
// of the distance) of the maximum-likelihood pose started at the truth, of OpenCV's planar
// solver refined by its Levenberg–Marquardt (with its RANSAC homography for the blunder rows),
// of ZELV's fast estimate and of the rigorous estimate; the coverage of its ±1.96 σ; the blunders
// it lists; and the five photographs of tests/data/realdata. Not a test: a measuring program,
//   zelv_rigorous_measure [trials] [data folder]
#include <Eigen/Dense>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <opencv2/calib3d.hpp>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "app/orientation_session.h"
#include "app/orientation_state.h"
#include "fake_ui.h"
#include "measure/planar_views.h"
#include "orientation_shims.h"
#include "solver/pose.h"
#include "solver/rigorous_estimate.h"

namespace {

using zelv::ControlPoint;

struct Scene {
  std::vector<ControlPoint> clean;  // exact image points
  std::vector<ControlPoint> noisy;
  std::vector<int> blunders;
  Eigen::Matrix3d R;  // computer-vision camera: q = R (P - C), v = -y
  Eigen::Vector3d C;
  double F = 0;
  double distance = 0;  // |C - centroid|
};

// A random view of a plane: camera 10 units from the plane's origin region, tilted up to 50
// degrees about a random axis, any roll; the points are random pixels of a 1920 x 1080 image
// back-projected onto the plane.
Scene MakeScene(std::mt19937_64& random, int count, double noise, int blunders) {
  std::uniform_real_distribution<double> uniform(0, 1);
  std::normal_distribution<double> normal(0, 1);
  Scene s;
  s.F = 1200 + 1300 * uniform(random);
  const PlaneView view = RandomPlaneView(random);
  s.R = view.R;
  s.C = view.C;
  Eigen::Vector3d centroid = Eigen::Vector3d::Zero();
  while (static_cast<int>(s.clean.size()) < count) {
    const double u = (uniform(random) - 0.5) * 1920 * 0.9, v = (uniform(random) - 0.5) * 1080 * 0.9;
    const Eigen::Vector3d ray = s.R.transpose() * Eigen::Vector3d(u / s.F, v / s.F, 1);
    if (!(ray(2) < -1e-3)) continue;
    const double t = -s.C(2) / ray(2);
    const Eigen::Vector3d P = s.C + t * ray;
    s.clean.push_back({u, -v, P(0), P(1)});
    centroid += P;
  }
  centroid /= count;
  s.distance = (s.C - centroid).norm();
  s.noisy = s.clean;
  for (ControlPoint& p : s.noisy) {
    p.x += noise * normal(random);
    p.y += noise * normal(random);
  }
  std::vector<int> order(count);
  for (int i = 0; i < count; ++i) order[i] = i;
  std::shuffle(order.begin(), order.end(), random);
  for (int b = 0; b < blunders; ++b) {
    const double size = 20 + 40 * uniform(random), angle = 2 * M_PI * uniform(random);
    s.noisy[order[b]].x += size * std::cos(angle);
    s.noisy[order[b]].y += size * std::sin(angle);
    s.blunders.push_back(order[b]);
  }
  std::sort(s.blunders.begin(), s.blunders.end());
  return s;
}

Eigen::Vector3d CentreOf(const zelv::RigorousResult& r) {
  return {r.values[zelv::kCentreX], r.values[zelv::kCentreY], r.values[zelv::kCentreZ]};
}

// OpenCV: IPPE then its LM on all points, or (ransac) its RANSAC homography's inliers first.
bool OpenCvCentre(const Scene& s, const std::vector<ControlPoint>& pts, bool ransac,
                  Eigen::Vector3d& centre, bool fromTruth = false) {
  std::vector<cv::Point3d> object;
  std::vector<cv::Point2d> image;
  for (const ControlPoint& p : pts) {
    object.emplace_back(p.X, p.Y, 0);
    image.emplace_back(p.x, -p.y);
  }
  if (ransac && pts.size() >= 4) {
    std::vector<cv::Point2d> plane;
    for (const ControlPoint& p : pts) plane.emplace_back(p.X, p.Y);
    std::vector<unsigned char> mask;
    cv::findHomography(plane, image, cv::RANSAC, 3.0, mask);
    std::vector<cv::Point3d> o2;
    std::vector<cv::Point2d> i2;
    for (std::size_t i = 0; i < mask.size(); ++i)
      if (mask[i]) {
        o2.push_back(object[i]);
        i2.push_back(image[i]);
      }
    if (o2.size() >= 4) {
      object = o2;
      image = i2;
    }
  }
  const cv::Matx33d K(s.F, 0, 0, 0, s.F, 0, 0, 0, 1);
  cv::Mat rvec, tvec;
  try {
    if (fromTruth) {
      cv::Mat Rm(3, 3, CV_64F);
      for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 3; ++j) Rm.at<double>(i, j) = s.R(i, j);
      cv::Rodrigues(Rm, rvec);
      const Eigen::Vector3d t = -s.R * s.C;
      tvec = (cv::Mat_<double>(3, 1) << t(0), t(1), t(2));
    } else if (!cv::solvePnP(object, image, K, cv::noArray(), rvec, tvec, false,
                             cv::SOLVEPNP_IPPE)) {
      return false;
    }
    // The limit converges fully; the library's call keeps its own default criteria.
    if (fromTruth)
      cv::solvePnPRefineLM(
          object, image, K, cv::noArray(), rvec, tvec,
          cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 200, 1e-14));
    else
      cv::solvePnPRefineLM(object, image, K, cv::noArray(), rvec, tvec);
  } catch (const cv::Exception&) {
    return false;
  }
  centre = CentreOfOpenCvPose(rvec, tvec);
  return true;
}

// ZELV's fast estimate of the points.
bool FastEstimate(const std::vector<ControlPoint>& pts, double F, zelv::StandPose& pose,
                  Eigen::Vector3d& centre) {
  zelv::VT_Points image(1), scene(1);
  for (const ControlPoint& p : pts) {
    image.Add(new zelv::VT_Point(p.x, p.y));
    scene.Add(new zelv::VT_Point(p.X, p.Y));
  }
  zelv::RefinementSettings settings;
  settings.EstimateLevel = 0;
  const zelv::PoseResult r = zelv::SolvePose(image, scene, F, settings);
  if (!r.complete) return false;
  pose = {r.Al, r.Bet, r.Hi, r.distance, r.sightingX, r.sightingY};
  centre = Eigen::Vector3d(r.centre.x, r.centre.y, r.centre.z);
  return true;
}

void MonteCarlo(int trials) {
  std::printf(
      "points blunders | ML limit | OpenCV | ZELV fast | rigorous | rig/ML | rig/cv | "
      "coverage | blunders listed | false outliers | F estimate err %%\n");
  const int counts[] = {4, 6, 9, 16, 64};
  for (int blunders : {0, 2}) {
    for (int count : counts) {
      if (blunders > 0 && count < 9) continue;
      std::mt19937_64 random(1000 * count + blunders);
      std::vector<double> ml, cv, fast, rig, ferr;
      int covered = 0, axes = 0, listed = 0, falseOut = 0;
      for (int t = 0; t < trials; ++t) {
        const Scene s = MakeScene(random, count, 0.5, blunders);
        Eigen::Vector3d c;
        std::vector<ControlPoint> inl;
        for (int i = 0; i < count; ++i)
          if (!std::binary_search(s.blunders.begin(), s.blunders.end(), i))
            inl.push_back(s.noisy[i]);
        if (OpenCvCentre(s, inl, false, c, true)) ml.push_back(100 * (c - s.C).norm() / s.distance);
        if (OpenCvCentre(s, s.noisy, blunders > 0, c))
          cv.push_back(100 * (c - s.C).norm() / s.distance);
        zelv::StandPose start;
        const bool haveStart = FastEstimate(s.noisy, s.F, start, c);
        if (haveStart) fast.push_back(100 * (c - s.C).norm() / s.distance);
        const zelv::RigorousResult r =
            zelv::RigorousEstimate(s.noisy, s.F, haveStart ? std::optional(start) : std::nullopt);
        if (r.failure != zelv::RigorousFailure::kNone) {
          rig.push_back(1e9);
          continue;
        }
        const Eigen::Vector3d e = CentreOf(r) - s.C;
        rig.push_back(100 * e.norm() / s.distance);
        for (int k = 0; k < 3; ++k) {
          ++axes;
          covered += std::fabs(e(k)) <= 1.96 * r.sigma[k] ? 1 : 0;
        }
        for (int b : s.blunders)
          listed += std::binary_search(r.outliers.begin(), r.outliers.end(), b) ? 1 : 0;
        for (int o : r.outliers)
          falseOut += std::binary_search(s.blunders.begin(), s.blunders.end(), o) ? 0 : 1;
        if (blunders == 0 && count >= 9) {
          const zelv::RigorousResult rf = zelv::RigorousEstimate(s.noisy, -1);
          if (rf.failure == zelv::RigorousFailure::kNone)
            ferr.push_back(100 * std::fabs(rf.focalLength - s.F) / s.F);
        }
      }
      const double mml = Median(ml), mcv = Median(cv), mrig = Median(rig);
      std::printf(
          "%6d %8d | %8.3f | %6.3f | %9.3f | %8.3f | %6.3f | %6.3f | %7.1f%% | %d/%d | %d | %.2f\n",
          count, blunders, mml, mcv, Median(fast), mrig, mrig / mml, mrig / mcv,
          axes ? 100.0 * covered / axes : 0.0, listed, blunders * trials, falseOut, Median(ferr));
    }
  }
}

// The five photographs: the rigorous centre against the published one.
void Photographs(const std::string& folder) {
  for (int k = 1; k <= 5; ++k) {
    const std::string dir = folder + "/realdata/zhang/image" + std::to_string(k);
    zelv::OrientationRun state;
    state.CameraFileName = dir + "/camera.cam";
    state.ImageFileName = dir + "/image.crd";
    state.SceneFileName = dir + "/scene.crd";
    zelv::testing::FakeUi ui;
    if (!zelv::LoadInputs(state, ui)) {
      std::printf("image%d: not read\n", k);
      continue;
    }
    std::vector<ControlPoint> pts;
    for (int i = 0; i < state.ImagePoints.Count(); ++i)
      pts.push_back({state.ImagePoints.Get(i)->x, state.ImagePoints.Get(i)->y,
                     state.ScenePoints.Get(i)->x, state.ScenePoints.Get(i)->y});
    std::ifstream truthFile(dir + "/truth.json");
    std::stringstream text;
    text << truthFile.rdbuf();
    std::string t = text.str();
    const std::size_t at = t.find('[');
    double truth[3];
    std::sscanf(t.c_str() + at + 1, "%lf , %lf , %lf", &truth[0], &truth[1], &truth[2]);
    const Eigen::Vector3d T(truth[0], truth[1], truth[2]);
    zelv::StandPose start;
    Eigen::Vector3d fastCentre;
    const bool haveStart = FastEstimate(pts, state.Geometry.FocalLength, start, fastCentre);
    const auto t0 = std::chrono::steady_clock::now();
    const zelv::RigorousResult r = zelv::RigorousEstimate(
        pts, state.Geometry.FocalLength, haveStart ? std::optional(start) : std::nullopt);
    const auto t1 = std::chrono::steady_clock::now();
    Scene s;
    s.F = state.Geometry.FocalLength;
    Eigen::Vector3d cvCentre;
    const std::clock_t c0 = std::clock();
    for (int rep = 0; rep < 50; ++rep) OpenCvCentre(s, pts, false, cvCentre);
    const std::clock_t c1 = std::clock();
    for (int rep = 0; rep < 50; ++rep)
      zelv::RigorousEstimate(pts, state.Geometry.FocalLength,
                             haveStart ? std::optional(start) : std::nullopt);
    const std::clock_t c2 = std::clock();
    zelv::StandPose ignored;
    Eigen::Vector3d ignoredCentre;
    for (int rep = 0; rep < 50; ++rep)
      FastEstimate(pts, state.Geometry.FocalLength, ignored, ignoredCentre);
    const std::clock_t c3 = std::clock();
    const auto ms = [](std::clock_t a, std::clock_t b) {
      return 1000.0 * static_cast<double>(b - a) / CLOCKS_PER_SEC / 50;
    };
    std::printf(
        "image%d CPU time (mean of 50): OpenCV IPPE+LM %.3f ms, rigorous given the fast pose %.3f "
        "ms, fast %.3f ms\n",
        k, ms(c0, c1), ms(c1, c2), ms(c2, c3));
    const zelv::RigorousResult rf = zelv::RigorousEstimate(pts, -1);
    std::printf(
        "image%d: rigorous %.4f in (sigma0 %.3f px, sigma centre %.4f %.4f %.4f, outliers %zu, "
        "%.3f ms), OpenCV %.4f, fast %.4f; F free: %.1f +- %.1f px, centre %.4f\n",
        k, (CentreOf(r) - T).norm(), r.sigma0, r.sigma[0], r.sigma[1], r.sigma[2],
        r.outliers.size(), std::chrono::duration<double, std::milli>(t1 - t0).count(),
        (cvCentre - T).norm(), (fastCentre - T).norm(), rf.focalLength, rf.focalLengthSigma,
        rf.failure == zelv::RigorousFailure::kNone ? (CentreOf(rf) - T).norm() : -1.0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const int trials = argc > 1 ? std::atoi(argv[1]) : 40;
  const std::string folder = argc > 2 ? argv[2] : "tests/data";
  MonteCarlo(trials);
  Photographs(folder);
  return 0;
}
