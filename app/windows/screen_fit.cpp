#include "app/windows/screen_fit.h"

#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace zelv {

void FitToScreen(QWidget* window) {
  const QScreen* screen = window->screen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  const QRect inner = window->geometry();
  QRect outer = window->frameGeometry();
  QMargins frame(inner.left() - outer.left(), inner.top() - outer.top(),
                 outer.right() - inner.right(), outer.bottom() - inner.bottom());
  // Not framed yet (the first show): a title bar will come, unless the window has none.
  if (frame.isNull() && !window->windowFlags().testFlag(Qt::FramelessWindowHint) &&
      window->isWindow() && window->windowType() != Qt::Popup &&
      window->windowType() != Qt::ToolTip)
    frame.setTop(window->style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, window));
  const QSize room = area.size().shrunkBy(frame).expandedTo(QSize(1, 1));
  window->setMinimumSize(window->minimumSize().boundedTo(room));
  // The size the window is growing to: on some platforms a resize is carried out later.
  const QSize size = window->size().expandedTo(window->minimumSize()).boundedTo(room);
  if (size != window->size()) window->resize(size);

  outer = QRect(outer.topLeft(), size.grownBy(frame));
  QPoint topLeft = outer.topLeft();
  // A layout that cannot shrink so far keeps the window larger: then its top left (the title bar
  // and the menu) stays on the screen.
  topLeft.setX(std::max(area.left(), std::min(topLeft.x(), area.right() - outer.width() + 1)));
  topLeft.setY(std::max(area.top(), std::min(topLeft.y(), area.bottom() - outer.height() + 1)));
  if (topLeft != outer.topLeft()) window->move(topLeft);
}

}  // namespace zelv
