#include "files/lens_model.h"

#include <cmath>
#include <opencv2/calib3d.hpp>
#include <opencv2/core.hpp>

#include "base/zelv_error.h"

namespace zelv {
namespace {

const cv::Matx33d kIdentity = cv::Matx33d::eye();

// The normalised, still distorted point of a raw pixel: the inverse of the whole camera matrix.
cv::Point2d Normalise(const LensCalibration& c, const PixelPoint& raw) {
  const double y = (raw.y - c.cy) / c.fy;
  const double x = (raw.x - c.cx - c.skew * y) / c.fx;
  return {x, y};
}

// The forward lens model on normalised points: ideal to distorted.
std::vector<cv::Point2d> Distort(const LensCalibration& c, const std::vector<cv::Point2d>& ideal) {
  if (c.kind == LensModelKind::Pinhole || ideal.empty()) return ideal;
  std::vector<cv::Point2d> distorted;
  if (c.kind == LensModelKind::Fisheye) {
    cv::fisheye::distortPoints(ideal, distorted, kIdentity, c.coefficients);
  } else {
    std::vector<cv::Point3d> rays;
    rays.reserve(ideal.size());
    for (const cv::Point2d& p : ideal) rays.emplace_back(p.x, p.y, 1.0);
    cv::projectPoints(rays, cv::Vec3d(0, 0, 0), cv::Vec3d(0, 0, 0), kIdentity, c.coefficients,
                      distorted);
  }
  return distorted;
}

std::vector<cv::Point2d> Undistort(const LensCalibration& c,
                                   const std::vector<cv::Point2d>& distorted) {
  if (c.kind == LensModelKind::Pinhole || distorted.empty()) return distorted;
  // The iteration stops when the point it has found distorts to within 1e-12 of the focal length
  // of the measured one (a nanopixel for a focal length of a thousand pixels).
  const cv::TermCriteria criteria(cv::TermCriteria::COUNT + cv::TermCriteria::EPS, 1000, 1e-12);
  std::vector<cv::Point2d> ideal;
  if (c.kind == LensModelKind::Fisheye)
    cv::fisheye::undistortPoints(distorted, ideal, kIdentity, c.coefficients, cv::noArray(),
                                 cv::noArray(), criteria);
  else
    cv::undistortPoints(distorted, ideal, kIdentity, c.coefficients, cv::noArray(), cv::noArray(),
                        criteria);
  return ideal;
}

// The largest distance, in pixels of fx, at which an undistorted point may distort back from the
// measured one.
constexpr double kInverseTolerancePixels = 1e-6;

}  // namespace

std::vector<std::string> IntrinsicNames(const LensCalibration& calibration) {
  std::vector<std::string> names = {"fx", "fy", "cx", "cy"};
  static const char* const kOpenCv[] = {"k1", "k2", "p1", "p2", "k3", "k4", "k5",
                                        "k6", "s1", "s2", "s3", "s4", "tx", "ty"};
  static const char* const kFisheye[] = {"k1", "k2", "k3", "k4"};
  const std::size_t count = calibration.coefficients.size();
  for (std::size_t i = 0; i < count; ++i) {
    const bool fisheye = calibration.kind == LensModelKind::Fisheye;
    if (i < (fisheye ? 4u : 14u)) {
      names.emplace_back(fisheye ? kFisheye[i] : kOpenCv[i]);
    } else {
      std::string name = "c";  // no model has more coefficients; named by position all the same
      name += std::to_string(i + 1);
      names.push_back(std::move(name));
    }
  }
  return names;
}

std::vector<PixelPoint> RawToCorrected(const LensCalibration& c,
                                       const std::vector<PixelPoint>& raw) {
  std::vector<cv::Point2d> distorted;
  distorted.reserve(raw.size());
  for (const PixelPoint& p : raw) distorted.push_back(Normalise(c, p));
  std::vector<cv::Point2d> ideal;
  std::vector<cv::Point2d> back;
  try {
    ideal = Undistort(c, distorted);
    back = Distort(c, ideal);
  } catch (const std::exception&) {  // cv::Exception or an allocation failure
    throw ZelvError("Модель объектива не применяется к точкам изображения!");
  }
  std::vector<PixelPoint> corrected(raw.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const double miss = std::hypot(back[i].x - distorted[i].x, back[i].y - distorted[i].y) * c.fx;
    const double x = c.fx * ideal[i].x;
    const double y = -(c.fx * ideal[i].y);
    if (!(miss <= kInverseTolerancePixels) || !std::isfinite(x) || !std::isfinite(y))
      throw ZelvError("Точка " + std::to_string(i + 1) +
                      " изображения лежит вне области, где обратима модель объектива!");
    corrected[i] = {x, y};
  }
  return corrected;
}

std::vector<PixelPoint> CorrectedToRaw(const LensCalibration& c,
                                       const std::vector<PixelPoint>& corrected) {
  std::vector<cv::Point2d> ideal;
  ideal.reserve(corrected.size());
  for (const PixelPoint& p : corrected) ideal.emplace_back(p.x / c.fx, -p.y / c.fx);
  std::vector<cv::Point2d> distorted;
  try {
    distorted = Distort(c, ideal);
  } catch (const std::exception&) {  // cv::Exception or an allocation failure
    throw ZelvError("Модель объектива не применяется к точкам изображения!");
  }
  std::vector<PixelPoint> raw(corrected.size());
  for (std::size_t i = 0; i < raw.size(); ++i) {
    const double u = c.fx * distorted[i].x + c.skew * distorted[i].y + c.cx;
    const double v = c.fy * distorted[i].y + c.cy;
    raw[i] = {Finite(u), Finite(v)};
  }
  return raw;
}

}  // namespace zelv
