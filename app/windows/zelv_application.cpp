#include "app/windows/zelv_application.h"

#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <exception>

namespace zelv {

ZelvApplication::ZelvApplication(int& argc, char** argv) : QApplication(argc, argv) {
  // Editors may outlive the main window; once it has gone, the last of them ends the program.
  connect(this, &QGuiApplication::lastWindowClosed, this, [this] {
    if (mainWindowClosed_) quit();
  });
}

bool ZelvApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowError(QString::fromUtf8(error.what()));
  } catch (...) {
    ShowError(QStringLiteral("Неизвестная ошибка"));
  }
  return false;
}

void ZelvApplication::ShowError(const QString& text) {
  QMessageBox box(QMessageBox::Critical, QStringLiteral("ZELV"), text, QMessageBox::Ok);
  box.exec();
}

bool ZelvApplication::LoadQtTranslation(const QLocale& locale) {
  auto* translator = new QTranslator(this);
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  installTranslator(translator);
  return true;
}

void ZelvApplication::EndWhenLastWindowCloses() {
  mainWindowClosed_ = true;
  // Closes every window left; one that refuses keeps the program running until it is closed.
  quit();
}

}  // namespace zelv
