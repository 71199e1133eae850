#pragma once
// Finding a described target on a photograph: every visible corner with its identifier, its
// sub-pixel position and a quality figure, and the scene coordinates of the same corner, so that
// the image and scene point tables pair by identifier.
//
// Image coordinates are pixels, x right and y down, the centre of the top-left pixel at (0, 0)
// (OpenCV's convention, that of ZELV's raw image points); lens distortion is not removed.

#include <cstdint>
#include <string>
#include <vector>

#include "base/failure.h"
#include "targets/target_description.h"

namespace zelv {

// An 8-bit grey image, rows top to bottom, `width` bytes a row.
struct GreyImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;
};

struct DetectedCorner {
  int id = 0;
  double x = 0;  // pixels
  double y = 0;
  // The corner's expected standard error in pixels from the image noise and the grey-level
  // gradients around it (Foerstner's estimate): small for a sharp corner with strong contrast,
  // large for a blurred, faint or noisy one.
  double sigma = 0;
  double sceneX = 0;  // scene units (the target's frame, origin and axes applied)
  double sceneY = 0;
};

struct TargetDetection {
  std::vector<DetectedCorner> corners;  // in identifier order, each identifier once
  int totalCorners = 0;                 // the target's corners, seen or not
};

// Finds the target on the image. A target not found at all is a failure ("Мишень не найдена на
// снимке..."); a partly visible ChArUco, ArUco, AprilGrid board, single markers or separate
// squares give the corners seen.
Expected<TargetDetection> DetectTarget(const GreyImage& image, const TargetDescription& target);

// Reads a photograph (PNG, JPEG, TIFF, BMP, ... as OpenCV decodes them) as grey levels. A file
// that cannot be read, is no image or is larger than 400 megapixels is a failure naming it.
Expected<GreyImage> ReadGreyPhotograph(const std::string& path);

// Writes the two point tables of a detection, "id, x, y" each, replacing the files atomically:
// the image points in pixels and the scene points in scene units, with the same identifiers.
// Returns the failure naming the file that could not be written.
Expected<void> WriteDetectionTables(const TargetDetection& detection, const std::string& imagePath,
                                    const std::string& scenePath);

}  // namespace zelv
