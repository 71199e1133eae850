#pragma once
// The list beside the photograph: one row per control point, its number and raw position (pixels,
// x right, y down) and, after an orientation, the length of its residual (raw pixels), flagged
// points in red.

#include <QAbstractTableModel>
#include <map>

#include "app/photo_overlay.h"
#include "app/photo_points.h"

namespace zelv {

class PhotoPointModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit PhotoPointModel(QObject* parent = nullptr);

  void SetPoints(const RawPoints& points);
  void SetOverlay(const std::optional<PhotoOverlay>& overlay);
  void SetDecimalSeparator(char separator);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

 private:
  RawPoints points_;
  std::map<int, OverlayPoint> residuals_;  // by point number
  char separator_ = '.';
};

}  // namespace zelv
