#pragma once
// Writing a calibrated camera in the forms ZELV and the field read: an OpenCV FileStorage YAML
// file (with the intrinsics' covariance), a COLMAP camera list, and a ZELV camera file whose
// correction table is fitted to the lens model. Every file is replaced atomically; nothing is
// shown here.

#include <string>

#include "base/failure.h"
#include "files/lens_model.h"

namespace zelv {

// OpenCV FileStorage YAML: image_width, image_height, camera_matrix, distortion_coefficients
// (or the fisheye's "distortion_model: fisheye" and its four coefficients), and
// intrinsics_covariance (n x n, the order of IntrinsicNames) when the camera has it. Reads back
// through LoadCalibrationFile to the same camera.
Expected<void> WriteOpenCvCalibration(const std::string& path, const LensCalibration& camera);

// A COLMAP cameras.txt with the one camera (CAMERA_ID 1): PINHOLE, OPENCV, FULL_OPENCV or
// OPENCV_FISHEYE, whichever holds the coefficients, the principal point in COLMAP's pixel
// convention. A model COLMAP cannot hold (thin prism, tilted) is a failure.
Expected<void> WriteColmapCamera(const std::string& path, const LensCalibration& camera);

struct CorrectionTableFit {
  double worstResidual = 0;  // px: the table's largest miss of the lens model over the image
  double rmsResidual = 0;    // px, over the image
};

// A ZELV camera file: image centre = principal point, focal length = fx, the image size, and a
// correction table fitted to the lens model. Refused (nothing written, the failure saying the
// worst residual) when the table cannot follow the model within `bound` px over the image.
Expected<CorrectionTableFit> WriteCameraFileWithTable(const std::string& path,
                                                      const LensCalibration& camera,
                                                      double bound = 0.05);

}  // namespace zelv
