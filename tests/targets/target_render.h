#pragma once
// Synthetic photographs of a target with a known pose, for the tests and the measuring program:
// the board's drawing is warped by a homography onto a grid `supersampling` times finer than the
// photograph (each fine pixel takes the drawing's nearest pixel), averaged down to the
// photograph's pixels (the box filter of a sensor's pixel), blurred, and given Gaussian noise.
// The true corners are the homography applied to the board frame's corners.

#include <cmath>
#include <map>
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#include <random>

#include "targets/target_drawing.h"

namespace zelv::test {

struct RenderedTarget {
  GreyImage image;
  std::map<int, cv::Point2d> truth;  // identifier -> true image position, pixels
  cv::Matx33d boardToImage;          // board frame (u, v) -> image pixels
};

struct RenderOptions {
  int width = 1920;
  int height = 1080;
  int supersampling = 4;
  double blur = 0.5;  // pixels, Gaussian sigma; 0: none
  double noise = 2;   // grey levels, sigma
  double hidden = 0;  // the fraction of the image's width covered from the right by a grey card
  unsigned seed = 1;
  // The pose: the board's centre at the image's centre, turned by these angles (radians) and
  // seen from `distance` board widths.
  double tiltX = 0.35, tiltY = -0.25, turn = 0.12, distance = 1.6;
};

// The homography that looks at the board (u, v) of extent [uMin, uMax] x [vMin, vMax] with a
// pinhole of focal length equal to the image's width.
inline cv::Matx33d LookAtBoard(const TargetPicture& picture, const RenderOptions& o) {
  const double uc = (picture.uMin + picture.uMax) / 2, vc = (picture.vMin + picture.vMax) / 2;
  const double extent = std::max(picture.uMax - picture.uMin, picture.vMax - picture.vMin);
  cv::Matx33d rx(1, 0, 0, 0, std::cos(o.tiltX), -std::sin(o.tiltX), 0, std::sin(o.tiltX),
                 std::cos(o.tiltX));
  cv::Matx33d ry(std::cos(o.tiltY), 0, std::sin(o.tiltY), 0, 1, 0, -std::sin(o.tiltY), 0,
                 std::cos(o.tiltY));
  cv::Matx33d rz(std::cos(o.turn), -std::sin(o.turn), 0, std::sin(o.turn), std::cos(o.turn), 0, 0,
                 0, 1);
  const cv::Matx33d r = rz * ry * rx;
  const double f = o.width * 0.9;
  const cv::Matx33d k(f, 0, (o.width - 1) / 2.0, 0, f, (o.height - 1) / 2.0, 0, 0, 1);
  // Board point (u, v) -> camera: R (u - uc, s (v - vc), 0) + (0, 0, d), s = -1 when v runs up.
  const double s = picture.vUp ? -1 : 1;
  const double d = o.distance * extent;
  const cv::Matx33d plane(r(0, 0), s * r(0, 1), -r(0, 0) * uc - s * r(0, 1) * vc, r(1, 0),
                          s * r(1, 1), -r(1, 0) * uc - s * r(1, 1) * vc, r(2, 0), s * r(2, 1),
                          d - r(2, 0) * uc - s * r(2, 1) * vc);
  return k * plane;
}

inline RenderedTarget RenderTarget(const TargetDescription& target, const RenderOptions& o,
                                   double boardScale) {
  const double margin = std::max({target.squareSize, target.markerSize, target.spacing});
  TargetPicture picture = *DrawTarget(target, boardScale, margin);
  RenderedTarget out;
  out.boardToImage = LookAtBoard(picture, o);
  // Picture pixel -> board: u = uMin + (x + 0.5) / scale, v = vMin + (y + 0.5) / scale (or
  // vMax - ... when v runs up); image -> fine grid: X = n (x + 0.5) - 0.5.
  const double sv = picture.vUp ? -1 : 1;
  const double v0 = picture.vUp ? picture.vMax : picture.vMin;
  const cv::Matx33d pictureToBoard(1 / boardScale, 0, picture.uMin + 0.5 / boardScale, 0,
                                   sv / boardScale, v0 + sv * 0.5 / boardScale, 0, 0, 1);
  const double n = o.supersampling;
  const cv::Matx33d imageToFine(n, 0, (n - 1) / 2, 0, n, (n - 1) / 2, 0, 0, 1);
  const cv::Matx33d pictureToFine = imageToFine * out.boardToImage * pictureToBoard;
  const cv::Mat board(picture.image.height, picture.image.width, CV_8UC1,
                      picture.image.pixels.data());
  cv::Mat fine;
  cv::warpPerspective(board, fine, cv::Mat(pictureToFine),
                      cv::Size(o.width * o.supersampling, o.height * o.supersampling),
                      cv::INTER_NEAREST, cv::BORDER_CONSTANT, cv::Scalar(160));
  cv::Mat image;
  fine.convertTo(fine, CV_32F, 0.7, 40);  // paper 218, ink 40
  cv::resize(fine, image, cv::Size(o.width, o.height), 0, 0, cv::INTER_AREA);
  if (o.hidden > 0)
    image(cv::Rect(static_cast<int>(o.width * (1 - o.hidden)), 0,
                   o.width - static_cast<int>(o.width * (1 - o.hidden)), o.height)) = 120;
  if (o.blur > 0) cv::GaussianBlur(image, image, cv::Size(0, 0), o.blur);
  std::mt19937 random(o.seed);
  std::normal_distribution<float> noise(0, static_cast<float>(o.noise));
  for (int y = 0; y < image.rows; ++y)
    for (int x = 0; x < image.cols; ++x) image.at<float>(y, x) += noise(random);
  cv::Mat bytes;
  image.convertTo(bytes, CV_8U);
  out.image.width = bytes.cols;
  out.image.height = bytes.rows;
  out.image.pixels.assign(bytes.datastart, bytes.dataend);
  for (const TargetCorner& c : TargetCorners(target)) {
    // TargetCorners applies origin and axes; the tests' targets keep the identity frame.
    const cv::Vec3d p = out.boardToImage * cv::Vec3d(c.x, c.y, 1);
    if (p[2] > 0) out.truth[c.id] = cv::Point2d(p[0] / p[2], p[1] / p[2]);
  }
  return out;
}

}  // namespace zelv::test
