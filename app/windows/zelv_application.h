#pragma once
// The application object with the program's general error display: an error that escapes an
// event handler is shown in a box titled "ZELV" with a stop icon, and the event loop goes on.

#include <QApplication>
#include <QLocale>

namespace zelv {

class ZelvApplication : public QApplication {
  Q_OBJECT

 public:
  ZelvApplication(int& argc, char** argv);

  // Dispatches the event; an exception from the handler is shown by ShowError and the event
  // counts as not handled.
  bool notify(QObject* receiver, QEvent* event) override;

  // The general error display: a modal box without owner, the title "ZELV", a stop icon.
  static void ShowError(const QString& text);

  // Qt's own texts (dialog buttons, the file dialogs) in the language of `locale`, from the
  // translations the system holds. False when it holds none for that language.
  bool LoadQtTranslation(const QLocale& locale = QLocale::system());

 public slots:
  // The main window has closed: the program ends now, or, when a window refuses to close (an
  // editor whose save was cancelled), as soon as the last window left is closed.
  void EndWhenLastWindowCloses();

 private:
  bool mainWindowClosed_ = false;
};

}  // namespace zelv
