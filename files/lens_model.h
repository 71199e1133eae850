#pragma once
// The lens model of a calibrated camera and the mapping between the photograph's raw pixels and
// the corrected pixels the solver works in. The calibration files (files/calibration_file.h)
// fill it; the orientation keeps it in InteriorGeometry::Lens; drawing over the photograph maps
// projected points back with CorrectedToRaw.
//
// Frames of the lens model (the orientation's own frames are stated in solver/conventions.h):
//   raw pixels        as measured on the photograph: x right, y down, in ZELV's pixel
//                     convention (solver/conventions.h: the centre of the top-left pixel is
//                     (0, 0)), OpenCV's too. COLMAP puts that centre at (0.5, 0.5): its principal
//                     point is read less kColmapPixelOffset in x and y, so a COLMAP camera and
//                     the equivalent OpenCV calibration take the same raw points to the same
//                     corrected ones.
//   normalised        the lens model's ideal pinhole coordinates, x right, y down, no unit:
//                     OpenCV's (x', y'), where the distorted (x'', y'') give the raw pixel by
//                     u = fx·x'' + skew·y'' + cx, v = fy·y'' + cy.
//   corrected pixels  the corrected image frame of solver/conventions.h, what the solver works
//                     in: origin at the principal point (the image centre), x right, y up, in
//                     pixels of the one focal length F = fx:  x = F·x', y = −F·y'.
// fy ≠ fx and the skew are folded into the corrected frame exactly, by the inverse of the whole
// camera matrix; OpenCV's own undistortion leaves the skew out, so the matrix is applied here and
// OpenCV is given the normalised points with an identity matrix.
//
// The lens models are OpenCV's own (cv::undistortPoints with its iteration criteria,
// cv::projectPoints; cv::fisheye::undistortPoints and cv::fisheye::distortPoints); only this
// layer links OpenCV and no OpenCV type appears in this header.

#include <string>
#include <vector>

#include "points/pixel_point.h"

namespace zelv {

// COLMAP's pixel coordinates less ZELV's (and OpenCV's) for the same point, in x and in y.
inline constexpr double kColmapPixelOffset = 0.5;

enum class CameraFileFormat {
  CamFile,        // ZELV's own ".cam" file (and anything that is neither of the others)
  OpenCvStorage,  // cv::FileStorage YAML, XML or JSON
  ColmapCameras,  // COLMAP cameras.txt
};

enum class LensModelKind {
  Pinhole,  // no distortion
  OpenCv,   // OpenCV's model: k1 k2 p1 p2 [k3 [k4 k5 k6 [s1 s2 s3 s4 [τx τy]]]]
  Fisheye,  // OpenCV's fisheye model: k1 k2 k3 k4
};

// One camera of a calibration file: its interior geometry and lens model.
struct LensCalibration {
  CameraFileFormat format = CameraFileFormat::OpenCvStorage;
  LensModelKind kind = LensModelKind::Pinhole;
  std::string modelName;  // COLMAP's model name ("OPENCV", ...); "OpenCV" or "OpenCV fisheye"
  int cameraId = 0;       // COLMAP's CAMERA_ID; 0 for an OpenCV file
  double fx = 0, fy = 0;  // focal lengths, pixels
  double cx = 0, cy = 0;  // principal point, raw pixels in ZELV's convention (not COLMAP's)
  double skew = 0;        // camera matrix element (0, 1), pixels
  std::vector<double> coefficients;        // in OpenCV's order for the kind (empty: pinhole)
  double imageWidth = 0, imageHeight = 0;  // pixels
  // The covariance of the intrinsics when the calibration states it (OpenCV's key
  // "intrinsics_covariance"), row-major n x n in the order of IntrinsicNames: fx, fy, cx, cy, then
  // the coefficients; pixels and the coefficients' own units. Empty when unknown: the intrinsics
  // are then taken as exact.
  std::vector<double> intrinsicsCovariance;
};

// The names of the calibration's intrinsics in the order of its covariance: "fx", "fy", "cx",
// "cy", then the coefficients' names for its kind ("k1", "k2", "p1", "p2", "k3", "k4", "k5", "k6",
// "s1" .. "s4", "tx", "ty"; fisheye "k1" .. "k4").
std::vector<std::string> IntrinsicNames(const LensCalibration& calibration);

// Raw pixels (x right, y down) to corrected pixels (origin at the principal point, y up, in
// pixels of F = fx), through OpenCV's inverse lens model iterated to 1e-12 of the focal length.
// Each result is checked by the forward model; a point the iteration does not bring back within
// 1e-6 px (a point beyond where the model can be inverted) raises ZelvError naming its number
// (index + 1).
std::vector<PixelPoint> RawToCorrected(const LensCalibration& calibration,
                                       const std::vector<PixelPoint>& raw);

// Corrected pixels back to raw pixels on the photograph (x right, y down), through OpenCV's
// forward lens model: for drawing projected points over the photograph. Raises ZelvError on a
// non-finite result. RawToCorrected and CorrectedToRaw undo each other to within 1e-6 px.
std::vector<PixelPoint> CorrectedToRaw(const LensCalibration& calibration,
                                       const std::vector<PixelPoint>& corrected);

}  // namespace zelv
