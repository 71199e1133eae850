// Renders the example's photographs: a printed chessboard (target.yml) seen by a known camera
// (truth.yml) from fifteen poses, 800 x 600 grey PNG. One view (view15.png) shows a board with a
// misprinted corner, moved 3 mm along the board, which the calibration must leave out.
//
// Built and run once, by hand (it is not part of the build):
//   g++ -std=c++20 -O2 render_views.cpp -o /tmp/render_views -I/usr/include/opencv4
//   -lopencv_calib3d -lopencv_imgcodecs -lopencv_core /tmp/render_views .
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 800, kHeight = 600;
constexpr int kRows = 7, kColumns = 10;  // squares
constexpr double kSquare = 30;           // mm
constexpr int kSamples = 4;              // per pixel and axis, for the grey levels of the edges

// The board's grey level at (u, v), mm, v down the printed board from its top-left square's
// corner. `misprint` moves the inner corner (row 3, column 4) by 3 mm in u.
double Board(double u, double v, bool misprint) {
  if (misprint) {
    const double cu = 5 * kSquare, cv = 4 * kSquare;
    const double r2 = ((u - cu) * (u - cu) + (v - cv) * (v - cv)) / (0.45 * kSquare * kSquare);
    if (r2 < 1) u -= 3.0 * (1 - r2) * (1 - r2);
  }
  const double margin = kSquare;
  if (u < -margin || v < -margin || u > kColumns * kSquare + margin || v > kRows * kSquare + margin)
    return 70;  // the wall behind the board
  if (u < 0 || v < 0 || u >= kColumns * kSquare || v >= kRows * kSquare) return 235;
  const int column = static_cast<int>(std::floor(u / kSquare));
  const int row = static_cast<int>(std::floor(v / kSquare));
  return (row + column) % 2 == 0 ? 25 : 235;
}

struct Pose {
  double ax, ay, az;  // degrees: the board's tilt about x, y and its turn about the view axis
  double distance;    // mm, of the board's centre
  double px, py;      // pixels: where the board's centre is seen
};

}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? argv[1] : ".";
  const cv::Matx33d k(720, 0, 403.5, 0, 718, 297.25, 0, 0, 1);
  const cv::Vec<double, 5> distortion(-0.15, 0.04, 0.0005, -0.0003, 0);
  const std::vector<Pose> poses = {
      {0, 0, 0, 560, 400, 300},      {25, 0, 5, 560, 180, 130},     {-25, 10, -5, 560, 595, 130},
      {20, -20, 8, 560, 190, 470},   {-20, 25, -8, 560, 590, 450},  {0, 35, 3, 600, 130, 300},
      {0, -35, -3, 600, 670, 300},   {35, 0, 10, 600, 400, 135},    {-35, 0, -10, 600, 400, 460},
      {15, 15, 90, 620, 120, 300},   {-15, -15, 90, 620, 680, 300}, {30, -25, 15, 700, 150, 110},
      {-30, 25, -15, 700, 630, 465}, {10, 30, 20, 700, 630, 125},   {10, -10, 5, 560, 400, 300}};
  const cv::Point3d centre(kColumns * kSquare / 2, kRows * kSquare / 2, 0);

  for (size_t i = 0; i < poses.size(); ++i) {
    const Pose& p = poses[i];
    const double d = M_PI / 180;
    const cv::Matx33d rx(1, 0, 0, 0, std::cos(p.ax * d), -std::sin(p.ax * d), 0, std::sin(p.ax * d),
                         std::cos(p.ax * d));
    const cv::Matx33d ry(std::cos(p.ay * d), 0, std::sin(p.ay * d), 0, 1, 0, -std::sin(p.ay * d), 0,
                         std::cos(p.ay * d));
    const cv::Matx33d rz(std::cos(p.az * d), -std::sin(p.az * d), 0, std::sin(p.az * d),
                         std::cos(p.az * d), 0, 0, 0, 1);
    // The board frame (u right, v down the board, w into it) to the camera's (x right, y down,
    // z forward): the board faces the camera, turned by rz and tilted by rx, ry.
    const cv::Matx33d r = rz * rx * ry;
    const cv::Vec3d ray((p.px - k(0, 2)) / k(0, 0), (p.py - k(1, 2)) / k(1, 1), 1);
    const cv::Vec3d t = ray * p.distance - r * cv::Vec3d(centre.x, centre.y, 0);
    // Board point of each sample: undistort the sample to the normalised plane, then intersect
    // the ray with the board plane through the homography [r1 r2 t].
    // The inner corners must all be on the photograph, a few pixels from its edges.
    std::vector<cv::Point3d> inner;
    for (int r = 1; r < kRows; ++r)
      for (int c = 1; c < kColumns; ++c) inner.emplace_back(c * kSquare, r * kSquare, 0);
    cv::Vec3d rvec;
    cv::Rodrigues(cv::Mat(r), rvec);
    std::vector<cv::Point2d> seen;
    cv::projectPoints(inner, rvec, t, k, distortion, seen);
    double left = kWidth, right = 0, top = kHeight, bottom = 0;
    for (const cv::Point2d& q : seen) {
      left = std::min(left, q.x);
      right = std::max(right, q.x);
      top = std::min(top, q.y);
      bottom = std::max(bottom, q.y);
    }
    std::printf("view %02zu: inner corners x %.0f..%.0f, y %.0f..%.0f\n", i + 1, left, right, top,
                bottom);
    if (argc > 2) continue;  // "render_views FOLDER check": the corners only
    std::vector<cv::Point2d> samples;
    samples.reserve(size_t(kWidth) * kHeight * kSamples * kSamples);
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x)
        for (int sy = 0; sy < kSamples; ++sy)
          for (int sx = 0; sx < kSamples; ++sx)
            samples.emplace_back(x - 0.5 + (sx + 0.5) / kSamples, y - 0.5 + (sy + 0.5) / kSamples);
    std::vector<cv::Point2d> normalised;
    cv::undistortPoints(
        samples, normalised, k, distortion, cv::noArray(), cv::noArray(),
        cv::TermCriteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 50, 1e-12));
    const cv::Matx33d h(r(0, 0), r(0, 1), t[0], r(1, 0), r(1, 1), t[1], r(2, 0), r(2, 1), t[2]);
    const cv::Matx33d toBoard = h.inv();
    const bool misprint = i + 1 == poses.size();
    cv::Mat image(kHeight, kWidth, CV_8U);
    size_t n = 0;
    for (int y = 0; y < kHeight; ++y)
      for (int x = 0; x < kWidth; ++x) {
        double sum = 0;
        for (int s = 0; s < kSamples * kSamples; ++s, ++n) {
          const cv::Vec3d b = toBoard * cv::Vec3d(normalised[n].x, normalised[n].y, 1);
          sum += Board(b[0] / b[2], b[1] / b[2], misprint);
        }
        image.at<unsigned char>(y, x) =
            cv::saturate_cast<unsigned char>(sum / (kSamples * kSamples));
      }
    char name[64];
    std::snprintf(name, sizeof name, "/view%02zu.png", i + 1);
    cv::imwrite(folder + name, image, {cv::IMWRITE_PNG_COMPRESSION, 9});
  }

  cv::FileStorage truth(folder + "/truth.yml", cv::FileStorage::WRITE);
  truth << "image_width" << kWidth << "image_height" << kHeight;
  truth << "camera_matrix" << cv::Mat(k);
  truth << "distortion_coefficients" << cv::Mat(distortion);
  return 0;
}
