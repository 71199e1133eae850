#pragma once
// The photograph workspace's view: smooth zoom (wheel about the cursor, + and -, fit, 1:1), pan
// (drag on the picture, the middle button or Space + drag in every mode, the scroll bars, arrow
// keys while no point is selected), and the mouse
// gestures of measuring: Ctrl+click adds a point there, Ctrl+Shift+click adds it at the refined
// corner, a click in the adding mode does the same as Ctrl+click.

#include <QGraphicsView>

namespace zelv {

class PhotoView : public QGraphicsView {
  Q_OBJECT

 public:
  explicit PhotoView(QWidget* parent = nullptr);

  // Screen pixels per photograph pixel.
  double Scale() const;
  // Zooms by `factor` about the view's point `anchor` (viewport coordinates), which stays put.
  void ZoomBy(double factor, QPointF anchor);
  void ZoomIn();
  void ZoomOut();
  // The whole photograph in the view / one photograph pixel on one screen pixel.
  void FitToWindow();
  void ActualSize();
  // Clicks add points without Ctrl.
  void SetAddingMode(bool adding) { adding_ = adding; }
  bool AddingMode() const { return adding_; }

  static constexpr double kMinimumScale = 1.0 / 256;
  static constexpr double kMaximumScale = 64;

 signals:
  // A point was asked for at `scenePos` (raw pixels); `refine`: at the refined corner near it.
  void AddRequested(QPointF scenePos, bool refine);
  // The arrow keys while points are selected: move them by (dx, dy) photograph pixels.
  void NudgeRequested(double dx, double dy);
  // Point items were dragged and let go.
  void PointsDragged();
  // The photograph pixel under the cursor, for the status bar.
  void CursorMoved(QPointF scenePos);
  void ScaleChanged(double scale);

 protected:
  void wheelEvent(QWheelEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void keyReleaseEvent(QKeyEvent* event) override;
  // Space let go in another window must not leave clicks panning here.
  void focusOutEvent(QFocusEvent* event) override;
  // A fitted photograph stays fitted as the window changes size.
  void resizeEvent(QResizeEvent* event) override;

 private:
  bool adding_ = false;
  bool fitted_ = false;  // the last zoom was "fit to window"
  bool draggingPoint_ = false;
  bool addPress_ = false;   // the press added a point: its release must not clear the selection
  bool spaceHeld_ = false;  // Space is down: a left drag pans, whatever the mode
  bool panning_ = false;    // a pan by the middle button or Space + left button is under way
  QPoint panFrom_;          // viewport pixels, where the pan's last move ended
};

}  // namespace zelv
