#pragma once
// Scripting the dialogs a window test meets: run a handler on the next modal window (or popup)
// as soon as it is open.

#include <QApplication>
#include <QPointer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

// Polls for up to a minute (a loaded machine may be slow to open the dialog) for the active modal
// window, or with `popupsToo` also an open popup menu, and runs `handle` on it. One the handler
// leaves open is closed (a dialog rejected) ten seconds later, so a test fails instead of hanging.
inline void WhenModalOpens(std::function<void(QWidget*)> handle, bool popupsToo = false) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, handle, popupsToo] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr && popupsToo) modal = QApplication::activePopupWidget();
    if (modal == nullptr && ++*tries < 3000) return;
    timer->stop();
    timer->deleteLater();
    if (modal == nullptr) return;
    QPointer<QWidget> handled(modal);
    handle(modal);
    QTimer::singleShot(10000, [handled] {
      if (handled && handled->isVisible()) handled->close();
    });
  });
  timer->start();
}
