#pragma once
// Calibrating a camera from photographs of a planar target: the intrinsics and lens model by
// OpenCV's calibration, robust to a bad view or a bad corner, with the standard deviation of
// every intrinsic and their full covariance.
//
// Image coordinates are raw pixels as measured on the photograph: x right, y down, the centre of
// the top-left pixel at (0, 0) (files/lens_model.h). Board coordinates are the target's scene
// frame (targets/target_description.h), the board plane being Z = 0, in scene units.

#include <array>
#include <functional>
#include <string>
#include <vector>

#include "base/failure.h"
#include "files/lens_model.h"
#include "points/pixel_point.h"

namespace zelv {

// One photograph's corners of the target.
struct CalibrationView {
  std::string name;                          // the photograph, for lists and messages
  std::vector<int> ids;                      // the corners' identifiers on the target
  std::vector<PixelPoint> image;             // raw pixels, as `ids`
  std::vector<std::array<double, 2>> board;  // the board plane, scene units, as `ids`
};

// The lens models a calibration can fit, those of the calibration files ZELV reads.
enum class CalibrationModel {
  kPinhole4,     // OpenCV: k1 k2 p1 p2
  kPinhole5,     // OpenCV: k1 k2 p1 p2 k3 (the default)
  kRational8,    // OpenCV: k1 k2 p1 p2 k3 k4 k5 k6
  kThinPrism12,  // OpenCV: ... s1 s2 s3 s4
  kTilted14,     // OpenCV: ... tx ty
  kFisheye,      // OpenCV's fisheye: k1 k2 k3 k4
};

// The model's name on the command line and in lists ("pinhole4", "pinhole5", "rational8",
// "thinprism12", "tilted14", "fisheye"), and back (false for a name it does not know).
const char* CalibrationModelName(CalibrationModel model);
bool ParseCalibrationModel(const std::string& name, CalibrationModel& model);

struct CalibrationOptions {
  CalibrationModel model = CalibrationModel::kPinhole5;
  int imageWidth = 0;  // pixels; every view is of this size
  int imageHeight = 0;
  // A corner is rejected when its residual exceeds this many times the robust σ of the residuals
  // (the median absolute deviation's), and the calibration is run again without it.
  double cornerRejection = 4.0;
  // A view is rejected when its RMS exceeds this many times the median of the views' RMS.
  double viewRejection = 3.0;
  // Views with fewer corners than this are left out (listed as rejected).
  int minimumCorners = 8;
};

struct RejectedCorner {
  int view = 0;         // index into the views given
  int id = 0;           // the corner's identifier
  double residual = 0;  // px, against the final calibration
};

struct RejectedView {
  int view = 0;
  double rms = 0;      // px, against the final calibration (0 when too few corners to say)
  std::string reason;  // Russian, for the list: why it was left out
};

struct ViewResult {
  bool used = true;
  double rms = 0;  // px, of the view's kept corners against the final calibration
  // The board's pose in the camera: OpenCV's rvec (Rodrigues) and tvec, scene units.
  std::array<double, 3> rotation{};
  std::array<double, 3> translation{};
  std::vector<PixelPoint> residuals;  // per corner of the view (measured − projected), px
};

struct CalibrationResult {
  // The camera: kind, fx, fy, cx, cy (skew 0), coefficients, image size, and
  // `intrinsicsCovariance` in the order of IntrinsicNames.
  LensCalibration camera;
  std::vector<std::string> parameterNames;  // IntrinsicNames(camera)
  std::vector<double> sigmas;               // σ of each intrinsic, as parameterNames
  double rms = 0;     // reprojection RMS of the kept corners, px (OpenCV's figure)
  double sigma0 = 0;  // a-posteriori σ of a corner coordinate, px (redundancy taken into account)
  int cornersUsed = 0;
  std::vector<ViewResult> views;  // as the views given
  std::vector<RejectedView> rejectedViews;
  std::vector<RejectedCorner> rejectedCorners;
};

// Reports a step of the work ("Калибровка: вид 3 из 20", fraction 0..1); returns false to stop,
// which ends the calibration with a failure saying it was stopped.
using CalibrationProgress = std::function<bool(const std::string& step, double fraction)>;

// Calibrates the camera from the views. Fails (Russian, naming what to do) on fewer than three
// usable views, a view whose corners are not on the image, a calibration OpenCV cannot bring to
// an end, or a non-finite result.
Expected<CalibrationResult> CalibrateCamera(const std::vector<CalibrationView>& views,
                                            const CalibrationOptions& options,
                                            const CalibrationProgress& progress = {});

}  // namespace zelv
