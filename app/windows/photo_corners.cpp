#include "app/windows/photo_corners.h"

#include <algorithm>
#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <vector>

namespace zelv {
namespace {

// A view of a grey QImage as an OpenCV matrix; no copy, valid while the image lives.
cv::Mat MatOf(const QImage& grey) {
  return cv::Mat(grey.height(), grey.width(), CV_8UC1, const_cast<uchar*>(grey.constBits()),
                 static_cast<std::size_t>(grey.bytesPerLine()));
}

constexpr int kSearchSide = 2400;  // pixels: larger photographs are searched at a reduced size

}  // namespace

QImage GreyOf(const QImage& photo) { return photo.convertToFormat(QImage::Format_Grayscale8); }

std::optional<PixelPoint> RefineCorner(const QImage& grey, PixelPoint guess, int radius) {
  if (grey.isNull() || grey.format() != QImage::Format_Grayscale8 || radius < 2)
    return std::nullopt;
  if (!std::isfinite(guess.x) || !std::isfinite(guess.y)) return std::nullopt;
  // The neighbourhood the search may use, with a margin of the window and its border.
  const int margin = 2 * radius + 2;
  const int left = static_cast<int>(std::floor(guess.x)) - margin;
  const int top = static_cast<int>(std::floor(guess.y)) - margin;
  const int side = 2 * margin + 1;
  if (left < 0 || top < 0 || left + side > grey.width() || top + side > grey.height())
    return std::nullopt;
  const cv::Mat patch = MatOf(grey)(cv::Rect(left, top, side, side));
  std::vector<cv::Point2f> corner = {
      cv::Point2f(static_cast<float>(guess.x - left), static_cast<float>(guess.y - top))};
  cv::cornerSubPix(patch, corner, cv::Size(radius, radius), cv::Size(-1, -1),
                   cv::TermCriteria(cv::TermCriteria::EPS + cv::TermCriteria::COUNT, 60, 1e-4));
  const PixelPoint found{left + static_cast<double>(corner[0].x),
                         top + static_cast<double>(corner[0].y)};
  const double dx = found.x - guess.x, dy = found.y - guess.y;
  if (!std::isfinite(found.x) || !std::isfinite(found.y) || std::sqrt(dx * dx + dy * dy) > radius)
    return std::nullopt;
  // cornerSubPix answers even where there is no corner: on a flat part or along a straight edge
  // the gradients' structure tensor over the window has a vanishing smaller eigenvalue.
  cv::Mat gx, gy;
  cv::Sobel(patch, gx, CV_32F, 1, 0, 3);
  cv::Sobel(patch, gy, CV_32F, 0, 1, 3);
  const int px = static_cast<int>(std::lround(found.x - left));
  const int py = static_cast<int>(std::lround(found.y - top));
  double sxx = 0, syy = 0, sxy = 0;
  int count = 0;
  for (int y = std::max(1, py - radius); y <= std::min(side - 2, py + radius); ++y)
    for (int x = std::max(1, px - radius); x <= std::min(side - 2, px + radius); ++x) {
      const double u = gx.at<float>(y, x), v = gy.at<float>(y, x);
      sxx += u * u;
      syy += v * v;
      sxy += u * v;
      ++count;
    }
  const double half = (sxx + syy) / 2;
  const double spread = std::sqrt(std::max(0.0, half * half - (sxx * syy - sxy * sxy)));
  const double larger = half + spread, smaller = half - spread;
  constexpr double kFlat = 100;       // mean squared Sobel gradient of a flat, noisy part
  constexpr double kStraight = 0.05;  // smaller / larger eigenvalue of a straight edge
  if (count == 0 || !(larger > kFlat * count) || !(smaller > kStraight * larger))
    return std::nullopt;
  return found;
}

std::optional<RawPoints> FindChessboard(const QImage& grey, int columns, int rows) {
  if (grey.isNull() || grey.format() != QImage::Format_Grayscale8 || columns < 2 || rows < 2)
    return std::nullopt;
  const cv::Mat full = MatOf(grey);
  const int longSide = std::max(grey.width(), grey.height());
  const double scale = longSide > kSearchSide ? static_cast<double>(kSearchSide) / longSide : 1.0;
  cv::Mat searched = full;
  if (scale < 1) cv::resize(full, searched, cv::Size(), scale, scale, cv::INTER_AREA);
  std::vector<cv::Point2f> corners;
  bool found = false;
  try {
    found = cv::findChessboardCornersSB(
        searched, cv::Size(columns, rows), corners,
        cv::CALIB_CB_NORMALIZE_IMAGE | cv::CALIB_CB_EXHAUSTIVE | cv::CALIB_CB_ACCURACY);
  } catch (const cv::Exception&) {
    return std::nullopt;
  }
  if (!found || corners.size() != static_cast<std::size_t>(columns * rows)) return std::nullopt;
  RawPoints points;
  points.reserve(corners.size());
  for (const cv::Point2f& c : corners) {
    // INTER_AREA maps pixel centres as (x + 0.5) / scale - 0.5.
    PixelPoint p{(c.x + 0.5) / scale - 0.5, (c.y + 0.5) / scale - 0.5};
    if (scale < 1) {
      const int radius = std::max(3, static_cast<int>(std::lround(2 / scale)));
      if (const std::optional<PixelPoint> refined = RefineCorner(grey, p, radius)) p = *refined;
    }
    points.push_back(p);
  }
  return points;
}

}  // namespace zelv
