#include "app/windows/zelv_application.h"

#include <QMessageBox>
#include <exception>

namespace zelv {

ZelvApplication::ZelvApplication(int& argc, char** argv) : QApplication(argc, argv) {}

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

}  // namespace zelv
