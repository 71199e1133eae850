#pragma once
// Drawings of a described target, for printing and for rendering test photographs: the black
// shapes of the board in its own frame (scene units), as a grey picture or as SVG.

#include <string>
#include <vector>

#include "base/failure.h"
#include "targets/target_description.h"
#include "targets/target_detection.h"

namespace zelv {

// A black shape of the board in the board frame (u, v), scene units: a polygon, or a circle
// (centre and radius in `points[0]` and `radius`).
struct TargetShape {
  std::vector<std::array<double, 2>> points;
  double radius = 0;  // > 0: a circle
};

struct TargetPicture {
  GreyImage image;  // white paper, black shapes, a margin around the board
  // Board frame to picture pixels (pixel centres at whole numbers):
  // x = (u - uMin) * scale - 0.5, y = vUp ? (vMax - v) * scale - 0.5 : (v - vMin) * scale - 0.5.
  double uMin = 0, vMin = 0, uMax = 0, vMax = 0;
  double scale = 1;  // pixels per scene unit
  bool vUp = false;
};

// The shapes of the board (the kind markers has none: its markers lie anywhere in the scene).
std::vector<TargetShape> TargetShapes(const TargetDescription& target);

// True when the board frame's v runs up the printed board (AprilGrid, squares).
bool BoardVUp(TargetKind kind);

// The board drawn at `scale` pixels per scene unit with a margin of `margin` scene units. A
// picture of more than 400 megapixels, or a target of kind markers, is a failure.
Expected<TargetPicture> DrawTarget(const TargetDescription& target, double scale, double margin);

// The board as an SVG document, its units millimetres when `unitMillimetres` is the size of a
// scene unit in millimetres (1 for a target described in millimetres).
Expected<std::string> TargetSvg(const TargetDescription& target, double unitMillimetres);

// Writes the picture as PNG (by the name's extension: .png, .bmp, .tif), replacing the file
// atomically; the failure names the file.
Expected<void> WritePicture(const GreyImage& image, const std::string& path);

}  // namespace zelv
