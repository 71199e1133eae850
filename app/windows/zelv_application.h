#pragma once
// The application object with the program's general error display: an error that escapes an
// event handler is shown in a box titled "ZELV" with a stop icon, and the event loop goes on.

#include <QApplication>

namespace zelv {

class ZelvApplication : public QApplication {
 public:
  ZelvApplication(int& argc, char** argv);

  // Dispatches the event; an exception from the handler is shown by ShowError and the event
  // counts as not handled.
  bool notify(QObject* receiver, QEvent* event) override;

  // The general error display: a modal box without owner, the title "ZELV", a stop icon.
  static void ShowError(const QString& text);
};

}  // namespace zelv
