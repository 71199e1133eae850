// The camera calibration measured: (a) the five real photographs of the published calibration
// (raw corners and the board's coordinates given) against that calibration and against plain
// OpenCV; (b) rendered board sets of 15, 25 and 40 views by a known camera with 0.3 px noise:
// the RMS error of fx, cx, cy, the coverage of their ±1.96 σ, and the true error of the
// projection over the image (after the best rotation) against the predicted uncertainty.
// A program to run by hand (target zelv_calibration_measure):
//   zelv_calibration_measure [TESTS_DATA_DIR [CORNERS_DIR]]
// With CORNERS_DIR it also writes each rendered set's corners in the vnlog form other
// calibration tools read (CORNERS_DIR/views<N>/trial<K>/corners.vnl) with this program's
// estimate beside them (zelv.txt), for tests/measure/calibration_vs_mrcal.py.
// ZELV_MEASURE_TRIALS sets the trials per setting (50), ZELV_MEASURE_SEED draws fresh sets.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <opencv2/calib3d.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "calibration/calibration_quality.h"
#include "calibration/camera_calibration.h"
#include "calibration/synthetic_boards.h"

namespace {

using namespace zelv;
using zelv::testing::ReadPairs;

std::uint64_t SeedOffset() {
  const char* text = std::getenv("ZELV_MEASURE_SEED");
  return text == nullptr ? 0 : std::strtoull(text, nullptr, 10);
}

int Trials() {
  const char* text = std::getenv("ZELV_MEASURE_TRIALS");
  return text == nullptr ? 50 : std::max(1, std::atoi(text));
}

double Median(std::vector<double> v) {
  if (v.empty()) return NAN;
  std::sort(v.begin(), v.end());
  const std::size_t n = v.size();
  return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

void MeasureRealPhotographs(const std::string& data) {
  std::vector<CalibrationView> views;
  std::vector<std::vector<cv::Point3f>> board;
  std::vector<std::vector<cv::Point2f>> image;
  for (int k = 1; k <= 5; ++k) {
    const std::string folder = data + "/realdata/zhang/image" + std::to_string(k);
    const auto pixels = ReadPairs(folder + "/image-raw.crd");
    const auto scene = ReadPairs(folder + "/scene.crd");
    CalibrationView view;
    view.name = "image" + std::to_string(k);
    board.emplace_back();
    image.emplace_back();
    for (std::size_t i = 0; i < pixels.size() && i < scene.size(); ++i) {
      view.ids.push_back(static_cast<int>(i));
      view.image.push_back({pixels[i][0], pixels[i][1]});
      view.board.push_back(scene[i]);
      board.back().emplace_back(scene[i][0], scene[i][1], 0);
      image.back().emplace_back(pixels[i][0], pixels[i][1]);
    }
    views.push_back(std::move(view));
  }
  CalibrationOptions options;
  options.imageWidth = 640;
  options.imageHeight = 480;
  const Expected<CalibrationResult> result = CalibrateCamera(views, options);
  if (!result) {
    std::printf("real photographs: %s\n", result.error().text.c_str());
    return;
  }
  cv::Mat K, distortion, deviations;
  std::vector<cv::Mat> rotations, translations;
  const double rms = cv::calibrateCamera(board, image, cv::Size(640, 480), K, distortion, rotations,
                                         translations, deviations, cv::noArray(), cv::noArray());
  const double published[] = {832.5, 832.53, 303.959, 206.585, -0.228601, 0.190353};
  const char* names[] = {"fx", "fy", "cx", "cy", "k1", "k2"};
  const double ours[] = {result->camera.fx,
                         result->camera.fy,
                         result->camera.cx,
                         result->camera.cy,
                         result->camera.coefficients[0],
                         result->camera.coefficients[1]};
  const double opencv[] = {K.at<double>(0, 0), K.at<double>(1, 1),       K.at<double>(0, 2),
                           K.at<double>(1, 2), distortion.at<double>(0), distortion.at<double>(1)};
  std::printf("(a) the five real photographs, 640 x 480, pinhole5\n");
  std::printf("  %-4s %12s %10s %12s %12s %10s\n", "", "ours", "sigma", "OpenCV", "published",
              "|d|/sigma");
  for (int i = 0; i < 6; ++i)
    std::printf("  %-4s %12.5f %10.5f %12.5f %12.5f %10.2f\n", names[i], ours[i], result->sigmas[i],
                opencv[i], published[i], std::abs(ours[i] - published[i]) / result->sigmas[i]);
  std::printf(
      "  RMS ours %.5f px, OpenCV %.5f px (%+.3f %%); sigma0 %.4f px; rejected views %zu, "
      "corners %zu\n",
      result->rms, rms, 100 * (result->rms - rms) / rms, result->sigma0,
      result->rejectedViews.size(), result->rejectedCorners.size());
  for (const RejectedCorner& corner : result->rejectedCorners)
    std::printf("  rejected: image%d corner %d, %.3f px\n", corner.view + 1, corner.id,
                corner.residual);
  // The same corners, none rejected: the figure to set against OpenCV's.
  options.cornerRejection = 1e6;
  const Expected<CalibrationResult> all = CalibrateCamera(views, options);
  if (all)
    std::printf("  every corner kept: RMS ours %.5f px, OpenCV %.5f px (%+.4f %%), fx %.5f\n\n",
                all->rms, rms, 100 * (all->rms - rms) / rms, all->camera.fx);
}

void WriteCorners(const std::string& folder, const std::vector<testing::SyntheticView>& views,
                  const CalibrationResult& result, const testing::SyntheticCamera& camera) {
  std::filesystem::create_directories(folder);
  std::ofstream corners(folder + "/corners.vnl");
  corners << "# filename x y level\n";
  char line[160];
  for (std::size_t v = 0; v < views.size(); ++v)
    for (const PixelPoint& p : views[v].view.image) {
      std::snprintf(line, sizeof line, "view%03zu.png %.6f %.6f 0\n", v, p.x, p.y);
      corners << line;
    }
  std::ofstream ours(folder + "/zelv.txt");
  std::snprintf(line, sizeof line, "%.9f %.9f %.9f %.9f\n%.9f %.9f %.9f %.9f\n", camera.fx,
                camera.fy, camera.cx, camera.cy, result.camera.fx, result.camera.fy,
                result.camera.cx, result.camera.cy);
  ours << line;
}

void MeasureRenderedSets(const std::string& cornersDir) {
  const int trials = Trials();
  testing::SyntheticCamera camera;
  camera.cx = 643;
  camera.cy = 477;
  camera.coefficients = {-0.2, 0.05, 0, 0, 0};
  LensCalibration truth;
  truth.kind = LensModelKind::OpenCv;
  truth.fx = camera.fx;
  truth.fy = camera.fy;
  truth.cx = camera.cx;
  truth.cy = camera.cy;
  truth.coefficients = camera.coefficients;
  truth.imageWidth = camera.width;
  truth.imageHeight = camera.height;
  std::printf(
      "(b) rendered sets: 1280 x 960, f 1000, k1 -0.2 k2 0.05, board 10 x 7 at 30 mm, "
      "noise 0.3 px, %d trials each, pinhole5\n",
      trials);
  std::printf("  %5s | %8s %8s %8s | %8s %8s %8s | %6s %6s %6s | %6s %6s %6s %6s\n", "views",
              "RMS fx", "RMS cx", "RMS cy", "med σfx", "med σcx", "med σcy", "cov fx", "cov cx",
              "cov cy", "ratio", "r min", "r max", "sigma0");
  const int columns = 16, rows = 12;
  for (int count : {15, 25, 40}) {
    double squares[3] = {0, 0, 0};
    int covered[3] = {0, 0, 0};
    std::vector<double> sigmas[3], sigma0;
    std::vector<double> errorSquares(columns * rows, 0), predictedSquares(columns * rows, 0);
    int done = 0;
    for (int trial = 0; trial < trials; ++trial) {
      std::mt19937_64 random(1000 * count + trial + 7919 * SeedOffset());
      const std::vector<testing::SyntheticView> rendered =
          testing::RenderViews(camera, count, 0.3, random);
      CalibrationOptions options;
      options.imageWidth = camera.width;
      options.imageHeight = camera.height;
      const Expected<CalibrationResult> result =
          CalibrateCamera(testing::ViewsOf(rendered), options);
      if (!result) {
        std::printf("  trial %d of %d views: %s\n", trial, count, result.error().text.c_str());
        continue;
      }
      ++done;
      const double errors[3] = {result->camera.fx - camera.fx, result->camera.cx - camera.cx,
                                result->camera.cy - camera.cy};
      const int index[3] = {0, 2, 3};
      for (int k = 0; k < 3; ++k) {
        squares[k] += errors[k] * errors[k];
        const double sigma = result->sigmas[index[k]];
        sigmas[k].push_back(sigma);
        covered[k] += std::abs(errors[k]) <= 1.96 * sigma;
      }
      sigma0.push_back(result->sigma0);
      const ImageGridMap predicted = ProjectionUncertainty(*result, columns, rows);
      const ImageGridMap error = ProjectionDifference(result->camera, truth, columns, rows);
      for (int i = 0; i < columns * rows; ++i) {
        errorSquares[i] += error.values[i] * error.values[i];
        predictedSquares[i] += predicted.values[i] * predicted.values[i];
      }
      if (!cornersDir.empty())
        WriteCorners(
            cornersDir + "/views" + std::to_string(count) + "/trial" + std::to_string(trial),
            rendered, *result, camera);
    }
    // Per cell: the RMS of the true error over the trials against the RMS of the predicted σ
    // (the 1σ ellipse's major axis: a faithful σ gives 1 to 1.41 as the ellipse is flat or round).
    std::vector<double> ratios;
    for (int i = 0; i < columns * rows; ++i)
      ratios.push_back(std::sqrt(errorSquares[i] / predictedSquares[i]));
    std::printf(
        "  %5d | %8.3f %8.3f %8.3f | %8.3f %8.3f %8.3f | %5.1f%% %5.1f%% %5.1f%% | %6.2f %6.2f "
        "%6.2f %6.3f\n",
        count, std::sqrt(squares[0] / done), std::sqrt(squares[1] / done),
        std::sqrt(squares[2] / done), Median(sigmas[0]), Median(sigmas[1]), Median(sigmas[2]),
        100.0 * covered[0] / done, 100.0 * covered[1] / done, 100.0 * covered[2] / done,
        Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
        *std::max_element(ratios.begin(), ratios.end()), Median(sigma0));
    if (std::getenv("ZELV_MEASURE_MAPS") != nullptr) {
      for (int r = 0; r < rows; ++r) {
        std::printf("        ");
        for (int c = 0; c < columns; ++c) std::printf(" %4.2f", ratios[r * columns + c]);
        std::printf("\n");
      }
    }
    std::fflush(stdout);
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string data = argc > 1 ? argv[1] : ZELV_TEST_DATA_DIR;
  const std::string cornersDir = argc > 2 ? argv[2] : "";
  MeasureRealPhotographs(data);
  MeasureRenderedSets(cornersDir);
  return 0;
}
