// The calibration's uncertainty carried into the rigorous orientation, measured: how often the
// ±1.96 σ interval of each projection centre coordinate holds the true centre when the camera
// that took the photograph differs from its calibration as the calibration's own covariance says
// it may. Each trial draws a true camera ~ N(calibrated, Σ_I), projects a scene with it, adds
// image noise, and orients with the calibrated camera: once with its covariance (σ with the
// calibration's part) and once without (σ of the measurement alone).
//
// Σ_I is that of a calibration by OpenCV from 15 synthetic views of a 9 × 7 board with 0.3 px
// noise, taken as the sample covariance of many such calibrations (so it has the correlations of
// a real one). A program to run by hand (target zelv_calibration_sigma_measure);
// ZELV_MEASURE_SEED draws fresh scenes, ZELV_MEASURE_TRIALS sets the trials per setting.
#include <Eigen/Dense>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <opencv2/calib3d.hpp>
#include <random>
#include <string>
#include <vector>

#include "app/orientation.h"
#include "files/calibration_writer.h"

namespace {

using namespace zelv;

constexpr double kWidth = 1280, kHeight = 960;

std::uint64_t Env(const char* name, std::uint64_t fallback) {
  const char* text = std::getenv(name);
  return text == nullptr ? fallback : std::strtoull(text, nullptr, 10);
}

struct Intrinsics {
  Eigen::VectorXd v;  // fx fy cx cy k1 k2 p1 p2 k3
  cv::Mat K() const { return (cv::Mat_<double>(3, 3) << v[0], 0, v[2], 0, v[1], v[3], 0, 0, 1); }
  cv::Mat D() const { return (cv::Mat_<double>(1, 5) << v[4], v[5], v[6], v[7], v[8]); }
};

Intrinsics Nominal() {
  Intrinsics c;
  c.v.resize(9);
  c.v << 1100, 1100.5, 645.3, 478.2, -0.18, 0.11, 0.0004, -0.0003, -0.02;
  return c;
}

// World to OpenCV camera of a camera at `centre` looking at `target`, rolled by `roll` radians.
void LookAt(const Eigen::Vector3d& centre, const Eigen::Vector3d& target, double roll,
            cv::Mat& rvec, cv::Mat& tvec) {
  const Eigen::Vector3d z = (target - centre).normalized();
  Eigen::Vector3d x = z.cross(Eigen::Vector3d(0, 1, 0));
  if (x.norm() < 1e-6) x = Eigen::Vector3d(1, 0, 0);
  x.normalize();
  Eigen::Vector3d y = z.cross(x);
  const Eigen::Vector3d xr = std::cos(roll) * x + std::sin(roll) * y;
  const Eigen::Vector3d yr = z.cross(xr);
  Eigen::Matrix3d R;
  R.row(0) = xr.transpose();
  R.row(1) = yr.transpose();
  R.row(2) = z.transpose();
  cv::Mat Rm(3, 3, CV_64F);
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) Rm.at<double>(i, j) = R(i, j);
  cv::Rodrigues(Rm, rvec);
  const Eigen::Vector3d t = -R * centre;
  tvec = (cv::Mat_<double>(3, 1) << t[0], t[1], t[2]);
}

bool Inside(const std::vector<cv::Point2d>& image) {
  for (const cv::Point2d& p : image)
    if (!(p.x > 5 && p.y > 5 && p.x < kWidth - 6 && p.y < kHeight - 6)) return false;
  return true;
}

// The covariance of OpenCV's calibration from 15 views of a 9 × 7 board (30 mm) with `noise` px,
// as the sample covariance of `runs` calibrations.
Eigen::MatrixXd CalibrationCovariance(const Intrinsics& truth, double noise, int runs,
                                      std::mt19937_64& random) {
  std::vector<cv::Point3f> board;
  for (int j = 0; j < 7; ++j)
    for (int i = 0; i < 9; ++i) board.emplace_back(30.0f * i, 30.0f * j, 0.0f);
  std::uniform_real_distribution<double> u(-1, 1);
  std::normal_distribution<double> n(0, noise);
  std::vector<Eigen::VectorXd> samples;
  for (int run = 0; run < runs; ++run) {
    std::vector<std::vector<cv::Point3f>> objects;
    std::vector<std::vector<cv::Point2f>> images;
    while (objects.size() < 15) {
      const Eigen::Vector3d target(120 + 60 * u(random), 90 + 40 * u(random), 0);
      const double distance = 450 + 200 * u(random);
      const double tilt = 0.7 * std::fabs(u(random)), azimuth = 3.14159 * u(random);
      const Eigen::Vector3d centre =
          target + distance * Eigen::Vector3d(std::sin(tilt) * std::cos(azimuth),
                                              std::sin(tilt) * std::sin(azimuth), -std::cos(tilt));
      cv::Mat rvec, tvec;
      LookAt(centre, target, 0.3 * u(random), rvec, tvec);
      std::vector<cv::Point3d> board3(board.begin(), board.end());
      std::vector<cv::Point2d> image;
      cv::projectPoints(board3, rvec, tvec, truth.K(), truth.D(), image);
      if (!Inside(image)) continue;
      std::vector<cv::Point2f> noisy;
      for (const cv::Point2d& p : image)
        noisy.emplace_back(static_cast<float>(p.x + n(random)),
                           static_cast<float>(p.y + n(random)));
      objects.push_back(board);
      images.push_back(noisy);
    }
    cv::Mat K = truth.K().clone(), D;
    std::vector<cv::Mat> rvecs, tvecs;
    cv::calibrateCamera(
        objects, images, cv::Size(int(kWidth), int(kHeight)), K, D, rvecs, tvecs,
        cv::CALIB_USE_INTRINSIC_GUESS,
        cv::TermCriteria(cv::TermCriteria::COUNT | cv::TermCriteria::EPS, 100, 1e-12));
    Eigen::VectorXd s(9);
    s << K.at<double>(0, 0), K.at<double>(1, 1), K.at<double>(0, 2), K.at<double>(1, 2),
        D.at<double>(0), D.at<double>(1), D.at<double>(2), D.at<double>(3), D.at<double>(4);
    samples.push_back(s);
  }
  Eigen::VectorXd mean = Eigen::VectorXd::Zero(9);
  for (const auto& s : samples) mean += s / samples.size();
  Eigen::MatrixXd C = Eigen::MatrixXd::Zero(9, 9);
  for (const auto& s : samples) C += (s - mean) * (s - mean).transpose() / (samples.size() - 1);
  return C;
}

std::string WriteCamera(const std::string& path, const Intrinsics& c, const Eigen::MatrixXd* cov) {
  LensCalibration lens;
  lens.kind = LensModelKind::OpenCv;
  lens.fx = c.v[0];
  lens.fy = c.v[1];
  lens.cx = c.v[2];
  lens.cy = c.v[3];
  lens.coefficients = {c.v[4], c.v[5], c.v[6], c.v[7], c.v[8]};
  lens.imageWidth = kWidth;
  lens.imageHeight = kHeight;
  if (cov != nullptr)
    for (int i = 0; i < 9; ++i)
      for (int j = 0; j < 9; ++j) lens.intrinsicsCovariance.push_back((*cov)(i, j));
  if (!WriteOpenCvCalibration(path, lens)) std::abort();
  return path;
}

struct Coverage {
  int trials = 0, failed = 0;
  int with = 0, without = 0;    // coordinates inside ±1.96 σ, of 3 per trial
  double calibrationShare = 0;  // mean σ_cal / σ_total of the centre coordinates
};

// One setting: a planar board (or a scene in space) seen by a true camera drawn from the
// calibration's covariance.
Coverage Measure(bool spatial, const Intrinsics& calibrated, const Eigen::MatrixXd& cov,
                 double noise, int trials, const std::string& withCov,
                 const std::string& withoutCov, std::mt19937_64& random) {
  const Eigen::MatrixXd L = cov.llt().matrixL();
  std::normal_distribution<double> gauss(0, 1), pixel(0, noise);
  std::uniform_real_distribution<double> u(-1, 1);
  Coverage out;
  while (out.trials < trials) {
    Eigen::VectorXd z(9);
    for (int i = 0; i < 9; ++i) z[i] = gauss(random);
    Intrinsics truth{calibrated.v + L * z};
    // Scene: a 10 × 8 grid of 40 units on Z = 0, or 60 points in a box 400 × 300 × 200 above it.
    std::vector<cv::Point3d> scene;
    if (spatial) {
      for (int i = 0; i < 60; ++i)
        scene.emplace_back(200 + 200 * u(random), 150 + 150 * u(random), 100 + 100 * u(random));
    } else {
      for (int j = 0; j < 8; ++j)
        for (int i = 0; i < 10; ++i) scene.emplace_back(40.0 * i, 40.0 * j, 0.0);
    }
    const Eigen::Vector3d target(180 + 40 * u(random), 140 + 30 * u(random), 0);
    const double distance = 900 + 300 * u(random), tilt = 0.6 * std::fabs(u(random));
    const double azimuth = 3.14159 * u(random);
    // The camera on the +Z side, looking down: ZELV's scene frame.
    const Eigen::Vector3d centre =
        target + distance * Eigen::Vector3d(std::sin(tilt) * std::cos(azimuth),
                                            std::sin(tilt) * std::sin(azimuth), std::cos(tilt));
    cv::Mat rvec, tvec;
    LookAt(centre, target, 3.14159 * u(random), rvec, tvec);
    std::vector<cv::Point2d> image;
    cv::projectPoints(scene, rvec, tvec, truth.K(), truth.D(), image);
    if (!Inside(image)) continue;
    GivenPoints imagePoints, scenePoints;
    for (std::size_t i = 0; i < scene.size(); ++i) {
      imagePoints.values.push_back({image[i].x + pixel(random), image[i].y + pixel(random)});
      scenePoints.values.push_back({scene[i].x, scene[i].y});
      if (spatial) scenePoints.extras.z.push_back(scene[i].z);
    }
    OrientationRequest request;
    request.imagePoints = imagePoints;
    request.scenePoints = scenePoints;
    request.settings.EstimateLevel = kRigorousLevel;
    request.imageSigma = noise;
    request.cameraFile = withCov;
    const OrientationOutcome a = Orient(request);
    request.cameraFile = withoutCov;
    const OrientationOutcome b = Orient(request);
    ++out.trials;
    if (!a || !b || !a->precision.known || !b->precision.known) {
      ++out.failed;
      continue;
    }
    for (int k = 0; k < 3; ++k) {
      const double error = a->values.values[kCentreX + k] - centre[k];
      const double errorB = b->values.values[kCentreX + k] - centre[k];
      if (std::fabs(error) <= 1.96 * a->precision.sigma[kCentreX + k]) ++out.with;
      if (std::fabs(errorB) <= 1.96 * b->precision.sigma[kCentreX + k]) ++out.without;
      if (a->precision.sigmaParts)
        out.calibrationShare += a->precision.sigmaParts->calibration[kCentreX + k] /
                                a->precision.sigma[kCentreX + k] / 3.0;
    }
  }
  return out;
}

}  // namespace

int main() {
  std::mt19937_64 random(20261209 + Env("ZELV_MEASURE_SEED", 0));
  const int trials = static_cast<int>(Env("ZELV_MEASURE_TRIALS", 400));
  const Intrinsics calibrated = Nominal();
  const Eigen::MatrixXd cov = CalibrationCovariance(calibrated, 0.3, 300, random);
  std::printf(
      "Calibration (15 views, 0.3 px): sigma fx %.3f fy %.3f cx %.3f cy %.3f k1 %.5f "
      "k2 %.5f k3 %.5f; corr(fx, fy) %.2f\n",
      std::sqrt(cov(0, 0)), std::sqrt(cov(1, 1)), std::sqrt(cov(2, 2)), std::sqrt(cov(3, 3)),
      std::sqrt(cov(4, 4)), std::sqrt(cov(5, 5)), std::sqrt(cov(8, 8)),
      cov(0, 1) / std::sqrt(cov(0, 0) * cov(1, 1)));
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / "zelv_calibration_sigma_measure";
  std::filesystem::create_directories(folder);
  std::printf("%-34s %7s %14s %14s %12s\n", "setting", "trials", "with cal. part", "without",
              "cal. share");
  struct Setting {
    const char* name;
    bool spatial;
    double scale;  // of the calibration's covariance
    double noise;  // px
  };
  const Setting settings[] = {
      {"plane 10x8, 0.3 px", false, 1, 0.3},
      {"plane 10x8, 0.5 px", false, 1, 0.5},
      {"space 60 points, 0.3 px", true, 1, 0.3},
      {"space 60 points, 0.5 px", true, 1, 0.5},
      {"plane, weaker calibration (x4 var)", false, 4, 0.4},
      {"space, weaker calibration (x4 var)", true, 4, 0.4},
  };
  for (const Setting& s : settings) {
    const Eigen::MatrixXd c = cov * s.scale;
    const std::string withCov = WriteCamera((folder / "with.yml").string(), calibrated, &c);
    const std::string withoutCov =
        WriteCamera((folder / "without.yml").string(), calibrated, nullptr);
    const Coverage r =
        Measure(s.spatial, calibrated, c, s.noise, trials, withCov, withoutCov, random);
    const double n = 3.0 * (r.trials - r.failed);
    std::printf("%-34s %7d %13.1f%% %13.1f%% %12.2f%s\n", s.name, r.trials, 100 * r.with / n,
                100 * r.without / n, r.calibrationShare / (r.trials - r.failed),
                r.failed ? " (some failed)" : "");
    std::fflush(stdout);
  }
  std::filesystem::remove_all(folder);
  return 0;
}
