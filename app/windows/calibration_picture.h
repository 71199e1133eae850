#pragma once
// The photograph of a calibration view as the window "Калибровка камеры" shows it: the detected
// corners, their residual vectors magnified (the factor written on the picture), and optionally a
// map over the image (the projection uncertainty or the coverage by the corners) as coloured
// cells. Raw pixels, x right and y down, the top-left pixel's centre at (0, 0).

#include <QImage>
#include <QWidget>
#include <vector>

#include "calibration/calibration_quality.h"
#include "points/pixel_point.h"

namespace zelv {

class CalibrationPicture : public QWidget {
  Q_OBJECT

 public:
  enum class Overlay { kNone, kUncertainty, kCoverage };

  explicit CalibrationPicture(QWidget* parent = nullptr);

  // The photograph (a null image: nothing to show) and its corners; `residuals` (measured −
  // projected, px) as the corners or empty, drawn `magnification` times longer.
  void SetView(const QImage& photograph, const std::vector<PixelPoint>& corners,
               const std::vector<PixelPoint>& residuals, double magnification);
  // The map drawn over the photograph (an empty map: none), and what it is.
  void SetOverlay(const ImageGridMap& map, Overlay kind);

  const QImage& Photograph() const { return photograph_; }
  int CornerCount() const { return static_cast<int>(corners_.size()); }
  double Magnification() const { return magnification_; }
  Overlay OverlayKind() const { return overlayKind_; }
  // The line written under the picture: the magnification and the map's scale.
  QString Legend() const;

  QSize sizeHint() const override { return {640, 480}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage photograph_;
  std::vector<PixelPoint> corners_;
  std::vector<PixelPoint> residuals_;
  double magnification_ = 1;
  ImageGridMap overlay_;
  Overlay overlayKind_ = Overlay::kNone;
};

// A round magnification (1, 2 or 5 times a power of ten) at which the largest of the residuals
// is drawn about `length` pixels of the photograph long; 1 when there is none.
double ResidualMagnification(double largestResidual, double length);

}  // namespace zelv
