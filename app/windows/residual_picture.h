#pragma once
// The picture of the residuals: the image frame in the corrected image frame (origin at the image
// centre, y up), each control point as a dot with its number, and its residual as an arrow
// magnified so that the longest is about a tenth of the frame. Flagged points are red. The
// picture keeps its aspect ratio as the widget is resized.

#include <QPointF>
#include <QRectF>
#include <QSizeF>
#include <QWidget>
#include <optional>
#include <vector>

#include "app/orientation_residuals.h"

namespace zelv {

// Where the point numbers go (screen pixels): label i, of size sizes[i], at one of the four
// corners around dots[i], the first that overlaps no label placed before it; an empty rectangle
// where all four are taken, and that number is left out. Labels with first[i] set are placed
// before the others, so a flagged point's number is the last to be left out.
std::vector<QRectF> PlaceNumberLabels(const std::vector<QPointF>& dots,
                                      const std::vector<QSizeF>& sizes,
                                      const std::vector<bool>& first);

class ResidualPicture : public QWidget {
  Q_OBJECT

 public:
  explicit ResidualPicture(QWidget* parent = nullptr);

  // The residuals to draw, or nullptr for an empty picture. The report is not copied: it must
  // stay as it is until the next call.
  void SetReport(const ResidualsReport* report);
  // The arrows' magnification (1 when there is nothing to draw).
  double Magnification() const { return magnification_; }
  // The magnification as written on the picture, e.g. "×250".
  QString MagnificationText() const;

  QSize sizeHint() const override { return QSize(640, 480); }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  const ResidualsReport* report_ = nullptr;
  double magnification_ = 1;
};

}  // namespace zelv
