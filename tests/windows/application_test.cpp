// The application as a whole: it ends when its last window closes after the main window, Qt's
// own texts come in Russian for a Russian locale, and a file dialog shown /proc does not freeze.
#include <QApplication>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/windows/Edit.h"
#include "app/windows/Orient_form.h"
#include "app/windows/qt_user_interface.h"
#include "app/windows/zelv_application.h"
#include "fake_ui.h"
#include "windows/when_modal_opens.h"

using zelv::TOrientation_Form;
using zelv::TRedForm;
using zelv::testing::FakeUi;

namespace {

zelv::ZelvApplication* App() { return static_cast<zelv::ZelvApplication*>(qApp); }

}  // namespace

class ApplicationTest : public QObject {
  Q_OBJECT

 private slots:
  // Close the main window while an editor holds unsaved data, answer Yes and cancel the save
  // dialog: the editor stays. Closing it then with No ends the program.
  void theProgramEndsWhenTheLastWindowClosesAfterTheMainWindow() {
    QApplication::setQuitOnLastWindowClosed(false);
    FakeUi ui;
    auto* w = new TOrientation_Form(&ui);
    w->show();
    w->Image1Click();
    QObject::connect(w, &TOrientation_Form::Closed, App(),
                     &zelv::ZelvApplication::EndWhenLastWindowCloses, Qt::QueuedConnection);
    QPointer<TRedForm> editor =
        qobject_cast<TRedForm*>(zelv::OpenDataEditor("", zelv::kPointFileType, ui));
    QVERIFY(editor);
    editor->SetCell(1, 1, "1");
    editor->SetCell(1, 2, "2");
    editor->Modified = true;

    bool editorStayed = false;
    bool timedOut = false;
    QTimer::singleShot(0, [&] {
      ui.answers = {true};  // "Данные не сохранены. Сохранить?" Yes, then the dialog cancelled
      w->close();
    });
    QTimer::singleShot(800, [&] {
      editorStayed = editor && editor->isVisible() && !w->isVisible();
      ui.answers = {false};
      if (editor) editor->close();
    });
    QTimer::singleShot(30000, [&] {
      timedOut = true;
      QApplication::exit(2);
    });
    const int code = QApplication::exec();
    QVERIFY(!timedOut);
    QCOMPARE(code, 0);
    QVERIFY(editorStayed);
    QCOMPARE(ui.saveRequests.size(), std::size_t{1});
    QCOMPARE(ui.questions.size(), std::size_t{2});
    QCOMPARE(ui.questions[0].text, std::string("Данные не сохранены. Сохранить?"));
    delete w;
  }

  // Qt's own texts of the boxes and file dialogs in Russian when the locale is Russian.
  void qtTextsAreRussianForARussianLocale() {
    QVERIFY(App()->LoadQtTranslation(QLocale(QLocale::Russian, QLocale::Russia)));
    zelv::QtUserInterface ui;
    QStringList buttons;
    WhenModalOpens([&](QWidget* modal) {
      auto* box = qobject_cast<QMessageBox*>(modal);
      if (box == nullptr) return static_cast<QDialog*>(modal)->reject();
      for (QAbstractButton* button : box->buttons()) buttons << button->text().remove('&');
      box->button(QMessageBox::No)->click();
    });
    QCOMPARE(ui.AskYesNoOrCancel("Сохранить результат?", "Сохранение", zelv::Owner{}),
             zelv::Answer::No);
    buttons.sort();
    QCOMPARE(buttons, (QStringList{"Да", "Нет"}));

    QTemporaryDir folder;
    zelv::FileDialogRequest request;
    request.filters = {{"Coordinate Files (*.crd)", "*.crd"}, {"All Files (*)", "*"}};
    request.startFolder = folder.path().toStdString();
    QStringList texts;
    WhenModalOpens([&](QWidget* modal) {
      for (QPushButton* button : modal->findChildren<QPushButton*>())
        texts << button->text().remove('&');
      static_cast<QDialog*>(modal)->reject();
    });
    QVERIFY(!ui.ChooseOpenFile(request).has_value());
    QVERIFY2(texts.contains(QStringLiteral("Отмена")), qPrintable(texts.join('|')));
    QVERIFY2(texts.contains(QStringLiteral("Открыть")), qPrintable(texts.join('|')));
  }

  // Typing /proc/ into a file dialog lists it without reading any file there: the dialog's
  // icons and types come from the names alone (a read of /proc/kmsg would never return).
  void aFileDialogShowingProcDoesNotReadTheFiles() {
    QTemporaryDir folder;
    // A picture under a name that says nothing: only its contents tell that it is a PNG image.
    QFile disguised(folder.filePath("picture.xyz"));
    QVERIFY(disguised.open(QIODevice::WriteOnly));
    disguised.write(QByteArray::fromHex("89504e470d0a1a0a0000000d49484452"));
    disguised.close();
    zelv::QtUserInterface ui;
    zelv::FileDialogRequest request;
    request.filters = {{"All Files (*)", "*"}};
    request.startFolder = folder.path().toStdString();
    QString typeText;
    bool nameOnly = false;
    bool listed = false;
    WhenModalOpens([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      if (dialog == nullptr) return static_cast<QDialog*>(modal)->reject();
      const auto* icons = dynamic_cast<const zelv::NameOnlyIconProvider*>(dialog->iconProvider());
      nameOnly = icons != nullptr;
      if (icons != nullptr) typeText = icons->type(QFileInfo(disguised.fileName()));
      auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
      if (field != nullptr) QTest::keyClicks(field, "/proc/");
      dialog->setDirectory(QStringLiteral("/proc"));
      QTest::qWait(1500);  // the dialog lists /proc and completes the typed name meanwhile
      listed = dialog->directory().absolutePath() == QStringLiteral("/proc");
      dialog->reject();
    });
    QVERIFY(!ui.ChooseOpenFile(request).has_value());
    QVERIFY(nameOnly);
    QVERIFY(listed);
    QVERIFY2(typeText.contains(QStringLiteral("xyz")), qPrintable(typeText));
    QVERIFY2(!typeText.contains(QStringLiteral("PNG")), qPrintable(typeText));
  }

  // With ZELV_SCREENSHOT_DIR naming a folder, pictures of the Russian boxes and dialogs to look
  // at (run under xvfb-run with LANG=ru_RU.UTF-8); skipped otherwise.
  void screenshotsOfTheRussianDialogs() {
    const QString folder = qEnvironmentVariable("ZELV_SCREENSHOT_DIR");
    if (folder.isEmpty()) QSKIP("ZELV_SCREENSHOT_DIR is not set");
    App()->LoadQtTranslation();
    FakeUi fake;
    TOrientation_Form w;
    w.show();
    w.Image1Click();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const std::string survey = std::string(ZELV_SOURCE_DIR) + "/examples/survey";
    w.State().CameraFileName = survey + "/camera.cam";
    w.State().ImageFileName = survey + "/image.crd";
    w.State().SceneFileName = survey + "/scene.crd";
    w.Edit1->setText("camera.cam");
    w.Edit6->setText("image.crd");
    w.Edit4->setText("scene.crd");
    w.N10Click();
    QTest::qWait(300);
    w.grab().save(folder + "/main-window.png");

    auto shoot = [&](const QString& name) {
      WhenModalOpens([name, folder](QWidget* modal) {
        QTest::qWait(600);
        modal->grab().save(folder + "/" + name);
        if (auto* box = qobject_cast<QMessageBox*>(modal))
          QTest::keyClick(box, Qt::Key_Escape);
        else
          static_cast<QDialog*>(modal)->reject();
      });
    };
    shoot("close-question.png");
    QVERIFY(!w.close());
    shoot("open-dialog.png");
    w.Button3Click();
    shoot("save-dialog.png");
    w.Button1Click();
    QTemporaryDir temp;
    QFile crd(temp.filePath("scene.crd"));
    QVERIFY(crd.open(QIODevice::WriteOnly));
    crd.write("1.5 ; 2\r\n3 ; 4\r\n");
    crd.close();
    auto* editor = qobject_cast<TRedForm*>(
        zelv::OpenDataEditor(crd.fileName().toStdString(), zelv::kPointFileType, fake));
    QVERIFY(editor != nullptr);
    QTest::qWait(300);
    editor->grab().save(folder + "/editor.png");
    auto* camera = qobject_cast<TRedForm*>(
        zelv::OpenDataEditor(survey + "/camera.cam", zelv::kCameraFileType, fake));
    QVERIFY(camera != nullptr);
    QTest::qWait(300);
    camera->grab().save(folder + "/camera-editor.png");
    QTest::qWait(100);
  }
};

int main(int argc, char** argv) {
  zelv::ZelvApplication app(argc, argv);
  ApplicationTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "application_test.moc"
