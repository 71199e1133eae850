#include "app/windows/photo_view.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QWheelEvent>
#include <algorithm>
#include <cmath>

#include "app/windows/photo_items.h"

namespace zelv {
namespace {

constexpr double kKeyZoom = 1.25;  // one + or - press

}  // namespace

PhotoView::PhotoView(QWidget* parent) : QGraphicsView(parent) {
  setObjectName(QStringLiteral("PhotoView"));
  setDragMode(QGraphicsView::ScrollHandDrag);
  setTransformationAnchor(QGraphicsView::NoAnchor);
  setResizeAnchor(QGraphicsView::AnchorViewCenter);
  // The photograph item draws its own exposed part; a full repaint would redraw it all per move.
  setViewportUpdateMode(QGraphicsView::SmartViewportUpdate);
  setOptimizationFlags(QGraphicsView::DontSavePainterState);
  setBackgroundBrush(QColor(48, 48, 48));
  setMouseTracking(true);
  setFocusPolicy(Qt::StrongFocus);
}

double PhotoView::Scale() const { return transform().m11(); }

void PhotoView::ZoomBy(double factor, QPointF anchor) {
  const double current = Scale();
  const double wanted = std::clamp(current * factor, kMinimumScale, kMaximumScale);
  if (!(current > 0) || wanted == current) return;
  const QPointF fixed = mapToScene(anchor.toPoint());
  fitted_ = false;
  setTransform(QTransform::fromScale(wanted, wanted));
  // Keep the photograph pixel under the anchor where it was on the screen.
  const QPointF moved = mapFromScene(fixed);
  horizontalScrollBar()->setValue(horizontalScrollBar()->value() +
                                  static_cast<int>(std::lround(moved.x() - anchor.x())));
  verticalScrollBar()->setValue(verticalScrollBar()->value() +
                                static_cast<int>(std::lround(moved.y() - anchor.y())));
  emit ScaleChanged(Scale());
}

void PhotoView::ZoomIn() { ZoomBy(kKeyZoom, viewport()->rect().center()); }
void PhotoView::ZoomOut() { ZoomBy(1 / kKeyZoom, viewport()->rect().center()); }

void PhotoView::FitToWindow() {
  if (scene() == nullptr) return;
  QRectF photo;
  for (QGraphicsItem* item : scene()->items())
    if (dynamic_cast<PhotoImageItem*>(item) != nullptr) photo = item->sceneBoundingRect();
  if (photo.isEmpty()) return;
  const QRect room = viewport()->rect().adjusted(4, 4, -4, -4);
  const double scale =
      std::clamp(std::min(room.width() / photo.width(), room.height() / photo.height()),
                 kMinimumScale, kMaximumScale);
  setTransform(QTransform::fromScale(scale, scale));
  centerOn(photo.center());
  fitted_ = true;
  emit ScaleChanged(Scale());
}

void PhotoView::resizeEvent(QResizeEvent* event) {
  QGraphicsView::resizeEvent(event);
  if (fitted_) FitToWindow();
}

void PhotoView::ActualSize() {
  const QPointF centre = mapToScene(viewport()->rect().center());
  fitted_ = false;
  setTransform(QTransform());
  centerOn(centre);
  emit ScaleChanged(Scale());
}

void PhotoView::wheelEvent(QWheelEvent* event) {
  // One notch (120) zooms by 2^(1/4): four notches double the scale; touchpads send less.
  const double notches = event->angleDelta().y() / 120.0;
  if (notches != 0) ZoomBy(std::pow(2.0, notches / 4), event->position());
  event->accept();
}

void PhotoView::mousePressEvent(QMouseEvent* event) {
  // The middle button, or the left one with Space held, pans in every mode, also over a point
  // and while clicks add points.
  if (event->button() == Qt::MiddleButton || (event->button() == Qt::LeftButton && spaceHeld_)) {
    panning_ = true;
    panFrom_ = event->position().toPoint();
    viewport()->setCursor(Qt::ClosedHandCursor);
    event->accept();
    return;
  }
  const bool ctrl = event->modifiers().testFlag(Qt::ControlModifier);
  if (event->button() == Qt::LeftButton && (ctrl || adding_)) {
    emit AddRequested(viewportTransform().inverted().map(event->position()),
                      event->modifiers().testFlag(Qt::ShiftModifier));
    addPress_ = true;
    event->accept();
    return;
  }
  QGraphicsItem* hit = itemAt(event->position().toPoint());
  draggingPoint_ =
      event->button() == Qt::LeftButton && hit != nullptr && hit->type() == PhotoPointItem::Type;
  // On a point the scene takes the press (select, then drag it); elsewhere the view pans.
  setDragMode(draggingPoint_ ? QGraphicsView::NoDrag : QGraphicsView::ScrollHandDrag);
  QGraphicsView::mousePressEvent(event);
}

void PhotoView::mouseMoveEvent(QMouseEvent* event) {
  emit CursorMoved(viewportTransform().inverted().map(event->position()));
  if (panning_) {
    const QPoint at = event->position().toPoint();
    horizontalScrollBar()->setValue(horizontalScrollBar()->value() - (at.x() - panFrom_.x()));
    verticalScrollBar()->setValue(verticalScrollBar()->value() - (at.y() - panFrom_.y()));
    panFrom_ = at;
    event->accept();
    return;
  }
  QGraphicsView::mouseMoveEvent(event);
}

void PhotoView::mouseReleaseEvent(QMouseEvent* event) {
  if (panning_ && (event->button() == Qt::MiddleButton || event->button() == Qt::LeftButton)) {
    panning_ = false;
    if (spaceHeld_)
      viewport()->setCursor(Qt::OpenHandCursor);
    else
      viewport()->unsetCursor();
    event->accept();
    return;
  }
  if (addPress_ && event->button() == Qt::LeftButton) {
    addPress_ = false;
    event->accept();
    return;
  }
  QGraphicsView::mouseReleaseEvent(event);
  if (draggingPoint_ && event->button() == Qt::LeftButton) {
    draggingPoint_ = false;
    setDragMode(QGraphicsView::ScrollHandDrag);
    emit PointsDragged();
  }
}

void PhotoView::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Space:
      if (!event->isAutoRepeat()) {
        spaceHeld_ = true;
        if (!panning_) viewport()->setCursor(Qt::OpenHandCursor);
      }
      event->accept();
      return;
    case Qt::Key_Plus:
    case Qt::Key_Equal:
      ZoomIn();
      return;
    case Qt::Key_Minus:
      ZoomOut();
      return;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
      if (scene() != nullptr && !scene()->selectedItems().isEmpty()) {
        // A tenth of a pixel a press, a whole pixel with Shift.
        const double step = event->modifiers().testFlag(Qt::ShiftModifier) ? 1.0 : 0.1;
        const int key = event->key();
        emit NudgeRequested(key == Qt::Key_Left    ? -step
                            : key == Qt::Key_Right ? step
                                                   : 0,
                            key == Qt::Key_Up     ? -step
                            : key == Qt::Key_Down ? step
                                                  : 0);
        return;
      }
      QGraphicsView::keyPressEvent(event);
      return;
    default:
      QGraphicsView::keyPressEvent(event);
  }
}

void PhotoView::focusOutEvent(QFocusEvent* event) {
  spaceHeld_ = false;
  if (!panning_) viewport()->unsetCursor();
  QGraphicsView::focusOutEvent(event);
}

void PhotoView::keyReleaseEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Space && !event->isAutoRepeat()) {
    spaceHeld_ = false;
    if (!panning_) viewport()->unsetCursor();
    event->accept();
    return;
  }
  QGraphicsView::keyReleaseEvent(event);
}

}  // namespace zelv
