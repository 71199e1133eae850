// Start-up of the desktop application: the main window, then the settings dialog and the about
// box (both hidden), and the event loop until the main window closes.
#include <QIcon>
#include <QMessageBox>
#include <exception>

#include "app/windows/OrientAboutBox.h"
#include "app/windows/Orient_form.h"
#include "app/windows/Orientparamform.h"
#include "app/windows/zelv_application.h"
#include "base/version.h"

int main(int argc, char** argv) {
  zelv::ZelvApplication app(argc, argv);
  try {
    // The application's title. Not set as the display name too: the platform would then append
    // it to every window's own caption.
    QApplication::setApplicationName(QStringLiteral("ZELV"));
    QApplication::setApplicationVersion(QString::fromLatin1(zelv::kVersion));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/zelv/zelv.png")));
    // Data editor windows may stay open; closing the main window still ends the program.
    QApplication::setQuitOnLastWindowClosed(false);

    zelv::TOrientation_Form mainWindow;
    auto* settings = new zelv::TOrientNForm(mainWindow);
    auto* about = new zelv::TOrientAboutBox(&mainWindow);
    mainWindow.SetDialogs(settings, about);
    QObject::connect(&mainWindow, &zelv::TOrientation_Form::Closed, &app, &QApplication::quit,
                     Qt::QueuedConnection);
    mainWindow.show();
    return app.exec();
  } catch (const std::exception& error) {
    zelv::ZelvApplication::ShowError(QString::fromUtf8(error.what()));
  } catch (...) {
    zelv::ZelvApplication::ShowError(QStringLiteral("Неизвестная ошибка"));
  }
  return 1;
}
