#pragma once
// What the photograph workspace's scene holds. Scene coordinates are raw pixels of the photograph
// (x right, y down, the centre of the top-left pixel at (0, 0); see app/photo_points.h).
//
// - PhotoImageItem: the photograph, drawn from levels of detail (each half the size of the one
//   before) so that a 50-megapixel picture zoomed out paints as fast as a small one; only the
//   exposed part of the level closest to the screen's scale is drawn.
// - PhotoPointItem: one control point, a cross with its number, the same size at every zoom.
// - PhotoOverlayItem: the orientation's projected points and magnified residual arrows.

#include <QGraphicsItem>
#include <QImage>
#include <optional>
#include <vector>

#include "app/photo_overlay.h"

namespace zelv {

class PhotoImageItem : public QGraphicsItem {
 public:
  // Builds the levels of detail at once.
  explicit PhotoImageItem(const QImage& photo);

  QRectF boundingRect() const override;
  void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) override;
  int LevelCount() const { return static_cast<int>(levels_.size()); }
  // The level drawn at a scale (screen pixels per photograph pixel).
  int LevelFor(double scale) const;

 private:
  std::vector<QImage> levels_;  // levels_[0] the photograph, each next one half as large
};

class PhotoPointItem : public QGraphicsItem {
 public:
  explicit PhotoPointItem(int number);

  int Number() const { return number_; }
  void SetNumber(int number);
  // Marked as the point of the largest residual or a flagged one.
  void SetFlagged(bool flagged);

  QRectF boundingRect() const override;
  QPainterPath shape() const override;
  void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) override;

  enum { Type = UserType + 1 };
  int type() const override { return Type; }

 private:
  int number_;
  bool flagged_ = false;
};

class PhotoOverlayItem : public QGraphicsItem {
 public:
  PhotoOverlayItem() = default;
  void SetOverlay(const std::optional<PhotoOverlay>& overlay, const QRectF& frame);

  QRectF boundingRect() const override { return bounds_; }
  void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget*) override;

 private:
  std::optional<PhotoOverlay> overlay_;
  QRectF bounds_;
};

}  // namespace zelv
