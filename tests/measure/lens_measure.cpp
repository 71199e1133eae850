// Orientations through a calibration file measured on random distorted views of a plane: the
// median projection-centre error (in % of the distance) of OpenCV's undistortPoints followed by
// its planar solver and Levenberg–Marquardt refinement, and of ZELV at its fast, precise and
// rigorous levels reading the raw points with the same camera as an OpenCV YAML file and as a
// COLMAP FULL_OPENCV camera. Not a test: a measuring program,
//   zelv_lens_measure [trials] [scratch folder]
#include <Eigen/Dense>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <random>
#include <string>
#include <vector>

#include "app/orientation_session.h"
#include "app/orientation_state.h"
#include "app/orientation_steps.h"
#include "fake_ui.h"
#include "measure/planar_views.h"
#include "orientation_shims.h"

namespace {

constexpr int kWidth = 1920, kHeight = 1080;

struct Camera {
  cv::Matx33d K;
  std::vector<double> D;  // k1 k2 p1 p2 k3
};

struct Scene {
  Camera camera;
  std::vector<cv::Point3d> object;
  std::vector<cv::Point2d> raw;  // noisy raw pixels, y down
  Eigen::Vector3d C;
  double distance = 0;
};

// A random camera with a random lens, 10 units from the plane, tilted up to 50 degrees, any
// roll; the points are random undistorted directions inside the image, projected through the
// lens and kept when they land in the image.
Scene MakeScene(std::mt19937_64& random, int count, double noise) {
  std::uniform_real_distribution<double> uniform(0, 1);
  std::normal_distribution<double> normal(0, 1);
  Scene s;
  const double fx = 1200 + 1300 * uniform(random);
  const double fy = fx * (1 + 0.004 * (uniform(random) - 0.5));
  const double cx = kWidth / 2.0 + 40 * (uniform(random) - 0.5);
  const double cy = kHeight / 2.0 + 40 * (uniform(random) - 0.5);
  s.camera.K = cv::Matx33d(fx, 0, cx, 0, fy, cy, 0, 0, 1);
  s.camera.D = {-0.3 + 0.35 * uniform(random), -0.05 + 0.15 * uniform(random),
                2e-3 * (uniform(random) - 0.5), 2e-3 * (uniform(random) - 0.5),
                0.04 * (uniform(random) - 0.5)};

  const PlaneView view = RandomPlaneView(random);
  const Eigen::Matrix3d& R = view.R;
  s.C = view.C;

  cv::Matx33d Rcv;
  for (int i = 0; i < 3; ++i)
    for (int j = 0; j < 3; ++j) Rcv(i, j) = R(i, j);
  cv::Vec3d rvec;
  cv::Rodrigues(Rcv, rvec);
  const Eigen::Vector3d t = -R * s.C;
  const cv::Vec3d tvec(t(0), t(1), t(2));

  Eigen::Vector3d centroid = Eigen::Vector3d::Zero();
  while (static_cast<int>(s.object.size()) < count) {
    // Directions within 90 % of the image, as an ideal lens would see them.
    const double u = (uniform(random) - 0.5) * kWidth * 0.9 / fx;
    const double v = (uniform(random) - 0.5) * kHeight * 0.9 / fy;
    const Eigen::Vector3d ray = R.transpose() * Eigen::Vector3d(u, v, 1);
    if (!(ray(2) < -1e-3)) continue;
    const Eigen::Vector3d P = s.C + (-s.C(2) / ray(2)) * ray;
    std::vector<cv::Point2d> pixel;
    cv::projectPoints(std::vector<cv::Point3d>{{P(0), P(1), 0}}, rvec, tvec, s.camera.K, s.camera.D,
                      pixel);
    const cv::Point2d q = pixel[0];
    if (!(q.x > 0 && q.x < kWidth && q.y > 0 && q.y < kHeight)) continue;
    s.object.emplace_back(P(0), P(1), 0);
    s.raw.emplace_back(q.x + noise * normal(random), q.y + noise * normal(random));
    centroid += P;
  }
  centroid /= count;
  s.distance = (s.C - centroid).norm();
  return s;
}

// OpenCV: the points undistorted to an ideal camera of the same fx, then IPPE and LM.
bool OpenCvCentre(const Scene& s, Eigen::Vector3d& centre) {
  const double fx = s.camera.K(0, 0);
  const cv::Matx33d ideal(fx, 0, 0, 0, fx, 0, 0, 0, 1);
  std::vector<cv::Point2d> undistorted;
  cv::undistortPoints(s.raw, undistorted, s.camera.K, s.camera.D, cv::noArray(), ideal);
  cv::Mat rvec, tvec;
  try {
    if (!cv::solvePnP(s.object, undistorted, ideal, cv::noArray(), rvec, tvec, false,
                      cv::SOLVEPNP_IPPE))
      return false;
    cv::solvePnPRefineLM(s.object, undistorted, ideal, cv::noArray(), rvec, tvec);
  } catch (const cv::Exception&) {
    return false;
  }
  centre = CentreOfOpenCvPose(rvec, tvec);
  return true;
}

void WriteLines(const std::string& path, const std::vector<std::string>& lines) {
  std::FILE* file = std::fopen(path.c_str(), "wb");
  for (const std::string& line : lines) std::fprintf(file, "%s\r\n", line.c_str());
  std::fclose(file);
}

std::string Number(double v) {
  char text[40];
  std::snprintf(text, sizeof text, "%.17g", v);
  return text;
}

// The scene's files: calibration.yml, cameras.txt, image-raw.crd, scene.crd.
void WriteScene(const Scene& s, const std::string& dir) {
  cv::FileStorage yaml(dir + "/calibration.yml", cv::FileStorage::WRITE);
  yaml << "image_width" << kWidth << "image_height" << kHeight;
  yaml << "camera_matrix" << cv::Mat(s.camera.K);
  yaml << "distortion_coefficients" << cv::Mat(s.camera.D).t();
  yaml.release();
  const cv::Matx33d& K = s.camera.K;
  const std::vector<double>& D = s.camera.D;
  WriteLines(dir + "/cameras.txt",
             {"# CAMERA_ID, MODEL, WIDTH, HEIGHT, PARAMS[]",
              "1 FULL_OPENCV " + std::to_string(kWidth) + " " + std::to_string(kHeight) + " " +
                  Number(K(0, 0)) + " " + Number(K(1, 1)) + " " + Number(K(0, 2)) + " " +
                  Number(K(1, 2)) + " " + Number(D[0]) + " " + Number(D[1]) + " " + Number(D[2]) +
                  " " + Number(D[3]) + " " + Number(D[4]) + " 0 0 0"});
  std::vector<std::string> image, scene;
  for (std::size_t i = 0; i < s.raw.size(); ++i) {
    image.push_back(Number(s.raw[i].x) + " ; " + Number(s.raw[i].y));
    scene.push_back(Number(s.object[i].x) + " ; " + Number(s.object[i].y));
  }
  WriteLines(dir + "/image-raw.crd", image);
  WriteLines(dir + "/scene.crd", scene);
}

// ZELV's centre from the files at `level`; false when the orientation failed.
bool ZelvCentre(const std::string& camera, const std::string& dir, int level,
                Eigen::Vector3d& centre) {
  zelv::OrientationRun state;
  state.CameraFileName = camera;
  state.ImageFileName = dir + "/image-raw.crd";
  state.SceneFileName = dir + "/scene.crd";
  state.Settings.EstimateLevel = level;
  zelv::testing::FakeUi ui;
  if (!zelv::RunOrientation(state, ui, "", 1) || !state.Values.complete) return false;
  const auto& v = state.Values.values;
  centre = Eigen::Vector3d(v[zelv::kCentreX], v[zelv::kCentreY], v[zelv::kCentreZ]);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int trials = argc > 1 ? std::atoi(argv[1]) : 100;
  const std::string dir = argc > 2 ? argv[2] : "/tmp/zelv-lens-measure";
  std::filesystem::create_directories(dir);
  std::printf(
      "points | OpenCV undistort+IPPE+LM | fast | precise | rigorous (YAML) | rigorous "
      "(COLMAP) | rigorous/OpenCV | largest YAML-COLMAP difference | failures\n");
  for (int count : {6, 9, 16, 64}) {
    std::mt19937_64 random(7000 + count);
    std::vector<double> cv, fast, precise, rigYaml, rigColmap;
    double largestDifference = 0;
    int failures = 0;
    for (int t = 0; t < trials; ++t) {
      const Scene s = MakeScene(random, count, 0.5);
      WriteScene(s, dir);
      const auto error = [&](const Eigen::Vector3d& c) {
        return 100 * (c - s.C).norm() / s.distance;
      };
      Eigen::Vector3d c, colmap;
      if (OpenCvCentre(s, c)) cv.push_back(error(c));
      const std::string yaml = dir + "/calibration.yml";
      if (ZelvCentre(yaml, dir, 0, c)) fast.push_back(error(c));
      if (count <= 16 && ZelvCentre(yaml, dir, 3, c)) precise.push_back(error(c));
      const bool haveYaml = ZelvCentre(yaml, dir, zelv::kRigorousLevel, c);
      const bool haveColmap = ZelvCentre(dir + "/cameras.txt", dir, zelv::kRigorousLevel, colmap);
      if (!haveYaml || !haveColmap) ++failures;
      if (haveYaml) rigYaml.push_back(error(c));
      if (haveColmap) rigColmap.push_back(error(colmap));
      if (haveYaml && haveColmap)
        largestDifference = std::max(largestDifference, (c - colmap).norm() / s.distance);
    }
    std::printf("%6d | %24.4f | %.4f | %7.4f | %15.4f | %17.4f | %15.3f | %.3g | %d\n", count,
                Median(cv), Median(fast), Median(precise), Median(rigYaml), Median(rigColmap),
                Median(rigYaml) / Median(cv), largestDifference, failures);
  }
  return 0;
}
