// Start-up of the desktop application: the main window, then the settings dialog and the about
// box (both hidden), and the event loop until the main window closes.
#include <QCommandLineParser>
#include <QIcon>
#include <QLocale>
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
    // The installed .desktop entry's name, so that the desktop shows the windows under it.
    QGuiApplication::setDesktopFileName(QStringLiteral("ru.zelv.zelv"));
    // Data editor windows may stay open; closing the main window still ends the program.
    QApplication::setQuitOnLastWindowClosed(false);
    // Qt's own texts (Yes and No, the file dialogs) in the language of the rest of the program,
    // whatever the locale.
    app.LoadQtTranslation(QLocale(QLocale::Russian, QLocale::Russia));

    // "zelv PHOTO" or "zelv --photo PHOTO" opens the photograph in the workspace; --help and
    // --version answer before any window opens.
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Вычисление параметров внешней ориентации"));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption photo(QStringLiteral("photo"),
                                   QStringLiteral("Открыть снимок в окне «Снимок»."),
                                   QStringLiteral("FILE"));
    parser.addOption(photo);
    parser.addPositionalArgument(QStringLiteral("PHOTO"), QStringLiteral("Снимок."));
    parser.process(app);
    QString photoFile = parser.value(photo);
    if (photoFile.isEmpty() && !parser.positionalArguments().isEmpty())
      photoFile = parser.positionalArguments().front();

    zelv::TOrientation_Form mainWindow;
    auto* settings = new zelv::TOrientNForm(mainWindow);
    auto* about = new zelv::TOrientAboutBox(&mainWindow);
    mainWindow.SetDialogs(settings, about);
    QObject::connect(&mainWindow, &zelv::TOrientation_Form::Closed, &app,
                     &zelv::ZelvApplication::EndWhenLastWindowCloses, Qt::QueuedConnection);
    mainWindow.show();

    if (!photoFile.isEmpty()) mainWindow.OpenPhoto(photoFile.toStdString());
    return app.exec();
  } catch (const std::exception& error) {
    zelv::ZelvApplication::ShowError(QString::fromUtf8(error.what()));
  } catch (...) {
    zelv::ZelvApplication::ShowError(QStringLiteral("Неизвестная ошибка"));
  }
  return 1;
}
