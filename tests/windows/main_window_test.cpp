// The main window driven as a user would: the input edits and pickers, Enter and Ctrl+J, the
// estimate level, the start-up picture, a full orientation, the save flows and the close question.
#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTextBrowser>
#include <QTimer>
#include <QTreeWidget>
#include <QtTest>
#include <functional>
#include <memory>
#include <stdexcept>

#include "app/orientation_session.h"
#include "app/windows/Edit.h"
#include "app/windows/Orient_form.h"
#include "app/windows/Orientparamform.h"
#include "app/windows/help_window.h"
#include "app/windows/qt_user_interface.h"
#include "app/windows/zelv_application.h"
#include "fake_ui.h"
#include "windows/when_modal_opens.h"

using zelv::TOrientation_Form;
using zelv::testing::FakeUi;

namespace {

const std::string kSquare = std::string(ZELV_TEST_DATA_DIR) + "/golden/square";
const char* const kSpreadWarning =
    "Реперные точки расположены слишком кучно. Достоверность результата низкая.";

QString Q(const std::string& text) { return QString::fromStdString(text); }

// A window on the fake user interface, past its start-up picture, with '.' as the separator.
struct Harness {
  FakeUi ui;
  std::unique_ptr<TOrientation_Form> window;

  Harness() : window(std::make_unique<TOrientation_Form>(&ui)) {
    window->State().DecimalSeparator = '.';
  }
  void ShowPanel() {
    window->show();
    window->Image1Click();
  }
  // Names the three files of a worked case as the members and the edits.
  void UseCase(const std::string& folder) {
    window->State().CameraFileName = folder + "/camera.cam";
    window->State().ImageFileName = folder + "/image.crd";
    window->State().SceneFileName = folder + "/scene.crd";
    window->Edit1->setText("camera.cam");
    window->Edit6->setText("image.crd");
    window->Edit4->setText("scene.crd");
  }
  QString Field(const char* name) const {
    return window->findChild<QLineEdit*>(QString::fromLatin1(name))->text();
  }
};

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  return file.readAll();
}

void WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly));
  file.write(bytes);
}

// Types a name into a file dialog's name field and confirms, as a user does.
void TypeFileName(QFileDialog* dialog, const QString& name) {
  auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
  QVERIFY(field != nullptr);
  field->setText(name);
  static_cast<QDialog*>(dialog)->accept();
}

class ThrowingObject : public QObject {
 protected:
  bool event(QEvent* event) override {
    if (event->type() == QEvent::User) throw std::runtime_error("Сбой обработчика");
    return QObject::event(event);
  }
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { startFolder_ = QDir::currentPath(); }
  void cleanup() { QDir::setCurrent(startFolder_); }

  void layoutNamesAndStartUpState() {
    Harness h;
    TOrientation_Form& w = *h.window;
    QCOMPARE(w.windowTitle(), QStringLiteral("Вычисление параметров внешней ориентации съемки"));
    QCOMPARE(w.minimumSize(), QSize(720, 545));
    QCOMPARE(w.size(), QSize(720, 545));
    for (const char* name :
         {"Edit1", "Edit6", "Edit4", "Button5", "Button3", "Button4", "Button2", "Button1",
          "GroupBox3", "StatusBar1", "Image1", "Panel1", "ListBox1", "ListBox4"})
      QVERIFY2(w.findChild<QWidget*>(QString::fromLatin1(name)) != nullptr, name);
    for (const zelv::ResultDescription& result : zelv::kResults) {
      const char* name = result.fieldName;
      auto* field = w.findChild<QLineEdit*>(QString::fromLatin1(name));
      // Read-only, yet enabled so that the value can be selected and copied.
      QVERIFY2(field != nullptr && field->isEnabled() && field->isReadOnly(), name);
    }
    QCOMPARE(w.Button2->text(), QStringLiteral("Счет"));
    QCOMPARE(w.Button2->toolTip(), QStringLiteral("Расчет параметров ориентации"));
    QCOMPARE(w.Button1->text(), QStringLiteral("Сохранить"));
    QVERIFY(!w.Button1->isEnabled());
    QVERIFY(!w.N16->isEnabled());
    QVERIFY(!w.N10->isEnabled());
    QVERIFY(!w.Button2->isEnabled());
    QVERIFY(w.N4->isChecked() && !w.N6->isChecked() && !w.N7->isChecked());
    QCOMPARE(w.State().StartDirectory, QDir::currentPath().toStdString());
    QVERIFY(!w.Image1->pixmap().isNull());  // the start-up picture was decoded
    QVERIFY(w.GroupBox3->isHidden());

    // The working panel fits the minimum size without squeezing its controls.
    h.ShowPanel();
    QVERIFY(w.centralWidget()->minimumSizeHint().height() + w.menuBar()->sizeHint().height() <=
            545);
    QCOMPARE(w.size(), QSize(720, 545));
  }

  void commandIsEnabledOnlyWhenAllThreeEditsHoldText() {
    Harness h;
    TOrientation_Form& w = *h.window;
    w.Edit1->setText("a.cam");
    w.Edit6->setText("a.crd");
    QVERIFY(!w.N10->isEnabled());
    QVERIFY(!w.Button2->isEnabled());
    w.Edit4->setText("b.crd");
    QVERIFY(w.N10->isEnabled());
    QVERIFY(w.Button2->isEnabled());
    w.Edit6->clear();
    QVERIFY(!w.N10->isEnabled());
    QVERIFY(!w.Button2->isEnabled());
  }

  void enterRunsTheCommandFromAnyControlOnlyWhenEnabled() {
    Harness h;
    h.ShowPanel();
    TOrientation_Form& w = *h.window;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.Edit1->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.Edit1));

    QTest::keyClick(w.Edit1, Qt::Key_Return);
    QVERIFY(h.ui.busyCalls.empty());
    QVERIFY(h.ui.messages.empty());

    // A camera file that does not exist: the reader's message, and nothing after it.
    w.Edit1->setText("missing.cam");
    w.Edit6->setText("image.crd");
    w.Edit4->setText("scene.crd");
    w.State().CameraFileName = kSquare + "/missing.cam";
    w.Edit1->setFocus();
    QTest::keyClick(w.Edit1, Qt::Key_Return);
    QCOMPARE(h.ui.messages.size(), std::size_t{1});
    QCOMPARE(h.ui.messages[0].text,
             "Файл " + kSquare + "/missing.cam не найден!\nИскали в папке " + kSquare);
    QCOMPARE(h.ui.messages[0].caption, std::string("Ошибка!"));
    QCOMPARE(h.ui.busyDepth, 0);

    // Any modifiers, the keypad key, and from another control.
    QTest::keyClick(w.Edit1, Qt::Key_Return, Qt::ShiftModifier | Qt::ControlModifier);
    w.Edit4->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.Edit4));
    QTest::keyClick(w.Edit4, Qt::Key_Enter, Qt::KeypadModifier);
    QCOMPARE(h.ui.messages.size(), std::size_t{3});
    // The key still reaches the focused control.
    QTest::keyClick(w.Edit4, Qt::Key_X);
    QCOMPARE(w.Edit4->text(), QStringLiteral("scene.crdx"));
  }

  void ctrlJOpensTheFilledSettingsDialogModallyAt400By300() {
    Harness h;
    h.ShowPanel();
    TOrientation_Form& w = *h.window;
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    w.Edit6->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w.Edit6));
    w.State().SigmaCount = 2.5;

    int opened = 0;
    QRect frame;
    QString sigma;
    auto closeWhenShown = [&] {
      WhenModalOpens([&](QWidget* modal) {
        if (auto* dialog = qobject_cast<zelv::TOrientNForm*>(modal)) {
          ++opened;
          frame = dialog->frameGeometry();
          sigma = dialog->Edit1->text();
        }
        static_cast<QDialog*>(modal)->reject();
      });
    };
    closeWhenShown();
    QTest::keyClick(w.Edit6, Qt::Key_J, Qt::ControlModifier);
    QCOMPARE(opened, 1);
    // At (400, 300), moved left as far as the dialog would otherwise run past the screen.
    const QRect area = w.screen()->availableGeometry();
    QCOMPARE(frame.top(), 300);
    QCOMPARE(frame.left(), std::min(400, area.right() + 1 - frame.width()));
    QCOMPARE(sigma, QStringLiteral("2.5"));

    // Shift and Alt are not looked at; J alone does nothing.
    closeWhenShown();
    QTest::keyClick(w.Edit6, Qt::Key_J, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(opened, 2);
    QTest::keyClick(w.Edit6, Qt::Key_J);
    QCOMPARE(opened, 2);
    QCOMPARE(w.Edit6->text(), QStringLiteral("j"));
  }

  void estimateLevelItemsKeepExactlyOneCheckMark() {
    Harness h;
    TOrientation_Form& w = *h.window;
    w.N7->trigger();
    QVERIFY(!w.N4->isChecked() && !w.N6->isChecked() && w.N7->isChecked() && !w.N8->isChecked());
    QCOMPARE(w.State().Settings.EstimateLevel, 3);
    w.N6->trigger();
    QVERIFY(!w.N4->isChecked() && w.N6->isChecked() && !w.N7->isChecked());
    QCOMPARE(w.State().Settings.EstimateLevel, 1);
    w.N6->trigger();  // choosing the checked item again keeps its mark
    QVERIFY(w.N6->isChecked());
    w.N4->trigger();
    QVERIFY(w.N4->isChecked() && !w.N6->isChecked() && !w.N7->isChecked());
    QCOMPARE(w.State().Settings.EstimateLevel, 0);
  }

  void theRigorousLevelShowsItsPrecisionBesideTheResult() {
    Harness h;
    TOrientation_Form& w = *h.window;
    h.ShowPanel();
    auto* settings = w.menuBar()->findChild<QMenu*>(QStringLiteral("SettingsMenu"));
    QVERIFY(settings != nullptr);
    const QList<QAction*> items = settings->actions();
    // The four levels as radio items, then the settings dialog's item.
    QCOMPARE(items.size(), 6);
    QCOMPARE(items[2], w.N7);
    QCOMPARE(items[3], w.N8);
    QVERIFY(w.N8->actionGroup() != nullptr && w.N8->actionGroup()->isExclusive());
    QCOMPARE(items[5]->objectName(), QStringLiteral("SettingsDialogAction"));
    QCOMPARE(w.N8->text(), QStringLiteral("Строгая оценка"));
    // The level is shown under the command's button too; with no file named yet the status bar
    // says how to begin.
    auto* level = w.findChild<QLabel*>(QStringLiteral("LevelLabel"));
    QVERIFY(level != nullptr);
    QCOMPARE(level->text(), QStringLiteral("Быстрая оценка"));
    QCOMPARE(w.StatusText(), QStringLiteral("Откройте снимок или выберите три файла"));
    w.N8->trigger();
    QVERIFY(!w.N4->isChecked() && !w.N6->isChecked() && !w.N7->isChecked() && w.N8->isChecked());
    QCOMPARE(w.State().Settings.EstimateLevel, 4);
    QCOMPARE(level->text(), QStringLiteral("Строгая оценка"));

    h.UseCase(std::string(ZELV_TEST_DATA_DIR) + "/realdata/zhang/image1");
    QCOMPARE(w.StatusText(), QString());
    QVERIFY(w.PrecisionGroup->isHidden());
    w.Button2Click();
    QVERIFY(h.ui.messages.empty());
    QVERIFY(w.PrecisionGroup->isVisible());
    QCOMPARE(w.PrecisionGroup->title(), QStringLiteral("Точность (строгая оценка)"));
    const QString text = w.PrecisionLabel->text();
    QVERIFY2(text.startsWith(QStringLiteral("Строгая оценка: σ0 = 0.25 пикс.")), qPrintable(text));
    QVERIFY(text.contains(QStringLiteral("Исключённых точек нет")));
    QVERIFY(text.contains(QStringLiteral("σ центра проекции: X=0.0062 Y=0.0064 Z=0.0018")));
    QCOMPARE(w.ResultEdits[zelv::kCentreX]->toolTip(), QStringLiteral("σ = 0.0062"));
    QCOMPARE(h.Field("Edit36"), QStringLiteral("5.2840"));

    // Another level's result has no standard deviations to show.
    w.N4->trigger();
    w.Button2Click();
    QVERIFY(w.State().Shown.has_value());
    QVERIFY(w.PrecisionGroup->isHidden());
    QVERIFY(w.ResultEdits[zelv::kCentreX]->toolTip().isEmpty());
  }

  void aClickOnThePictureShowsThePanelAtOnce() {
    Harness h;
    TOrientation_Form& w = *h.window;
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QVERIFY(w.Image1->isVisible());
    QVERIFY(!w.Panel1->isVisible());
    QTest::mouseClick(w.Image1, Qt::LeftButton);
    QVERIFY(!w.Image1->isVisible());
    QVERIFY(w.Panel1->isVisible());
    QVERIFY(!w.Timer1->isActive());
    w.Timer1Timer();  // the later timer has no further effect
    QVERIFY(w.Panel1->isVisible());
  }

  void thePanelAppearsFourSecondsAfterStart() {
    QElapsedTimer clock;
    clock.start();
    Harness h;
    TOrientation_Form& w = *h.window;
    w.show();
    QCOMPARE(w.Timer1->interval(), 4000);
    QCOMPARE(w.Timer1->timerType(), Qt::PreciseTimer);  // a coarse one may fire 5 % early
    QVERIFY(w.Timer1->isActive());
    QTest::qWait(1000);
    QVERIFY(!w.Panel1->isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(w.Panel1->isVisible(), 8000);
    QVERIFY(clock.elapsed() >= 3900);
    QVERIFY(!w.Image1->isVisible());
    QVERIFY(!w.Timer1->isActive());
  }

  void aCalibrationFileStandsInForTheCameraFile() {
    const std::string photo = std::string(ZELV_TEST_DATA_DIR) + "/realdata/zhang/image1";
    Harness h;
    h.ShowPanel();
    TOrientation_Form& w = *h.window;
    h.ui.files.push_back(photo + "/calibration.yml");
    w.Button5Click();
    QCOMPARE(w.Edit1->text(), QStringLiteral("calibration.yml"));
    w.State().ImageFileName = photo + "/image-raw.crd";
    w.State().SceneFileName = photo + "/scene.crd";
    w.Edit6->setText("image-raw.crd");
    w.Edit4->setText("scene.crd");
    w.N10Click();
    QVERIFY(h.ui.messages.empty());
    QVERIFY(w.State().Shown->camera.Lens.has_value());

    // The fields show what the session computes from the same three files.
    zelv::OrientationRequest request;
    request.cameraFile = photo + "/calibration.yml";
    request.imageFile = photo + "/image-raw.crd";
    request.sceneFile = photo + "/scene.crd";
    request.decimalSeparator = '.';
    request.settings.EstimateLevel = w.State().Settings.EstimateLevel;
    const zelv::OrientationOutcome outcome = zelv::Orient(request);
    QVERIFY(outcome.has_value());
    for (std::size_t i = 0; i < zelv::kResultCount; ++i)
      QCOMPARE(h.Field(zelv::kResults[i].fieldName), Q(outcome->texts[i]));

    // The data editor, made for camera files, is not opened on it: saving from it would replace
    // the calibration.
    const int windows = QApplication::topLevelWidgets().size();
    w.Edit1DblClick();
    QCOMPARE(QApplication::topLevelWidgets().size(), windows);
    QCOMPARE(h.ui.messages.size(), std::size_t{1});
    QCOMPARE(h.ui.messages[0].caption, std::string("Предупреждение!"));
    QCOMPARE(h.ui.messages[0].text,
             std::string("Файл калибровки камеры не открывается в редакторе данных. Изменяйте его "
                         "в программе, которая его создала."));

    // Nor on a point table: saving from the grid would write a ".crd" file over it.
    w.State().SceneFileName = photo + "/scene.csv";
    w.Edit4DblClick();
    QCOMPARE(QApplication::topLevelWidgets().size(), windows);
    QCOMPARE(h.ui.messages.size(), std::size_t{2});
    QCOMPARE(h.ui.messages[1].text, std::string(zelv::kPointTableNotEdited));
  }

  void anOrientationOfTheSquareFillsTheTwentyOneFields() {
    Harness h;
    h.ShowPanel();
    h.UseCase(kSquare);
    TOrientation_Form& w = *h.window;
    QVERIFY(w.N10->isEnabled());
    w.N10Click();

    QCOMPARE(h.Field("Edit38"), QStringLiteral("2000.0000"));
    QCOMPARE(h.Field("Edit31"), QStringLiteral("2000.0000"));
    // Every field as in the worked case's result file, in file order.
    const QList<QByteArray> lines = ReadBytes(Q(kSquare + "/expected-level0.ort")).split('\n');
    for (std::size_t i = 0; i < zelv::kResultCount; ++i) {
      const QString expected =
          QString::fromLatin1(lines[static_cast<qsizetype>(i)].split(';')[0]).trimmed();
      QCOMPARE(h.Field(zelv::kResults[i].fieldName), expected);
    }
    QVERIFY(w.Button1->isEnabled());
    QVERIFY(w.N16->isEnabled());
    QVERIFY(!w.State().ResultSaved);
    QCOMPARE(h.ui.messages.size(), std::size_t{1});
    QCOMPARE(h.ui.messages[0].text, std::string(kSpreadWarning));
    QCOMPARE(h.ui.messages[0].caption, std::string("Предупреждение!"));
    QVERIFY(!h.ui.statusTexts.empty());
    QCOMPARE(h.ui.statusTexts.front(), std::string("Подождите. Идёт счёт..."));
    QCOMPARE(h.ui.busyDepth, 0);
    QVERIFY(!h.ui.busyCalls.empty());

    // A picker clears the shown result, and with it goes the result to save.
    h.ui.files.push_back(kSquare + "/image.crd");
    w.Button3Click();
    QCOMPARE(h.Field("Edit38"), QString());
    QCOMPARE(h.Field("Edit24"), QString());
    QVERIFY(!w.Button1->isEnabled());
  }

  void everyWorkedCaseShowsWhatOrientReturnsAtEveryLevel() {
    const QStringList cases = QDir(Q(std::string(ZELV_TEST_DATA_DIR) + "/golden"))
                                  .entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    QVERIFY(cases.size() >= 5);
    for (const QString& name : cases) {
      const std::string folder = std::string(ZELV_TEST_DATA_DIR) + "/golden/" + name.toStdString();
      for (int level : {0, 1, 3, zelv::kRigorousLevel}) {
        Harness h;
        h.ShowPanel();
        h.UseCase(folder);
        h.window->State().Settings.EstimateLevel = level;
        zelv::OrientationRequest request = zelv::RequestOf(h.window->State());
        const zelv::OrientationOutcome outcome = zelv::Orient(request);
        h.window->N10Click();
        // A computation that failed shows what it computed before the failure.
        const zelv::ResultTexts expected =
            outcome ? outcome->texts : outcome.error().shown.value_or(zelv::ResultTexts{});
        for (std::size_t i = 0; i < zelv::kResultCount; ++i)
          QCOMPARE(h.Field(zelv::kResults[i].fieldName), Q(expected[i]));
        QCOMPARE(h.window->Button1->isEnabled(), outcome.has_value());
      }
    }
  }

  void thePickersSetTheMemberTheEditAndTheStartFolder() {
    Harness h;
    TOrientation_Form& w = *h.window;
    h.ui.files.push_back(std::string("/data/points/a.crd"));
    w.Button3Click();
    QCOMPARE(w.State().ImageFileName, std::string("/data/points/a.crd"));
    QCOMPARE(w.Edit6->text(), QStringLiteral("a.crd"));
    QCOMPARE(h.ui.openRequests.size(), std::size_t{1});
    const zelv::FileDialogRequest& crd = h.ui.openRequests[0];
    QCOMPARE(crd.defaultSuffix, std::string("crd"));
    QCOMPARE(crd.startFolder, w.State().StartDirectory);
    QCOMPARE(crd.filters.size(), std::size_t{3});
    QCOMPARE(crd.filters[0].description, std::string("Coordinate Files (*.crd)"));
    QCOMPARE(crd.filters[0].pattern, std::string("*.crd"));
    QCOMPARE(crd.filters[1].pattern, std::string("*.csv *.txt *.tsv"));
    QCOMPARE(crd.filters[2].description, std::string("All Files (*)"));
    QCOMPARE(crd.owner.window, static_cast<void*>(static_cast<QWidget*>(&w)));

    // After a confirmed pick the dialogs open in the current directory.
    h.ui.files.push_back(std::string("/data/cam/Kalibr.cam"));
    w.Button5Click();
    const zelv::FileDialogRequest& cam = h.ui.openRequests[1];
    QCOMPARE(cam.startFolder, std::string());
    QCOMPARE(cam.proposedName, std::string("Kalibr"));
    QCOMPARE(cam.defaultSuffix, std::string("cam"));
    // The camera file and the calibration files that may stand in for it, together and apart.
    QCOMPARE(cam.filters.size(), std::size_t{4});
    QCOMPARE(cam.filters[0].pattern, std::string("*.cam *.yml *.yaml *.xml *.json *.txt"));
    QCOMPARE(cam.filters[1].pattern, std::string("*.cam"));
    QCOMPARE(cam.filters[2].pattern, std::string("*.yml *.yaml *.xml *.json *.txt"));
    QCOMPARE(cam.filters[3].description, std::string("All Files (*)"));
    QCOMPARE(w.State().CameraFileName, std::string("/data/cam/Kalibr.cam"));
    QCOMPARE(w.Edit1->text(), QStringLiteral("Kalibr.cam"));

    // Cancelling changes nothing.
    w.Button4Click();
    QCOMPARE(w.State().SceneFileName, std::string());
    QCOMPARE(w.Edit4->text(), QString());
    QVERIFY(!w.N10->isEnabled());
  }

  void aTypedNameReplacesTheFileNameWithinThePreviousFolder() {
    Harness h;
    h.ShowPanel();
    TOrientation_Form& w = *h.window;
    // With no file before it, a typed name is taken in the current directory at once.
    QTest::keyClicks(w.Edit4, "b.crd");
    QCOMPARE(w.State().SceneFileName, QDir::current().filePath("b.crd").toStdString());

    h.ui.files.push_back(std::string("/data/a.crd"));
    w.Button3Click();
    w.Edit6->clear();
    QTest::keyClicks(w.Edit6, "b.crd");
    QCOMPARE(w.State().ImageFileName, std::string("/data/b.crd"));

    // Deleting all text leaves the member and disables the command.
    w.Edit6->selectAll();
    QTest::keyClick(w.Edit6, Qt::Key_Delete);
    QCOMPARE(w.Edit6->text(), QString());
    QCOMPARE(w.State().ImageFileName, std::string("/data/b.crd"));
    QVERIFY(!w.N10->isEnabled());
  }

  void theSavedFileIsByteForByteWhatTheCommandLineWrites() {
    const std::string example = std::string(ZELV_SOURCE_DIR) + "/examples/survey";
    QTemporaryDir folder;
    Harness h;
    h.ShowPanel();
    h.UseCase(example);
    h.window->N6Click();  // the normal estimate
    h.window->N10Click();
    for (const auto& field : h.window->ResultEdits) QVERIFY(!field->text().isEmpty());
    const QString fromWindow = folder.filePath("window.ort");
    h.ui.files.push_back(fromWindow.toStdString());
    h.window->Button1Click();

    const QString fromCli = folder.filePath("cli.ort");
    QProcess cli;
    cli.start(
        QStringLiteral(ZELV_CLI_PATH),
        {"orient", Q(example + "/camera.cam"), Q(example + "/image.crd"), Q(example + "/scene.crd"),
         "--level", "1", "--decimal-separator", ".", "--out", fromCli});
    QVERIFY(cli.waitForFinished(60000));
    QCOMPARE(cli.exitCode(), 0);
    QCOMPARE(ReadBytes(fromWindow), ReadBytes(fromCli));
  }

  void savingANewFileMarksTheResultSaved() {
    QTemporaryDir folder;
    Harness h;
    OrientSquare(h);
    TOrientation_Form& w = *h.window;
    const QString path = folder.filePath("result.ort");
    h.ui.files.push_back(path.toStdString());
    w.Button1Click();

    QCOMPARE(h.ui.saveRequests.size(), std::size_t{1});
    QCOMPARE(h.ui.saveRequests[0].proposedName, std::string("image.ort"));
    QCOMPARE(h.ui.saveRequests[0].defaultSuffix, std::string("ort"));
    const QByteArray bytes = ReadBytes(path);
    QCOMPARE(bytes.count("\r\n"), 21);
    QVERIFY(bytes.endsWith("\r\n"));
    QCOMPARE(bytes, ReadBytes(Q(kSquare + "/expected-level0.ort")));
    QVERIFY(w.State().ResultSaved);
    QVERIFY(!w.Button1->isEnabled());
    QVERIFY(!w.N16->isEnabled());
    QVERIFY(h.ui.messages.empty());
  }

  void theStatusBarNamesTheFileOnlyOnceItIsWritten() {
    QTemporaryDir folder;
    Harness h;
    OrientSquare(h);
    TOrientation_Form& w = *h.window;
    const QString before = w.StatusText();
    w.Button1Click();  // the dialog cancelled
    QCOMPARE(w.StatusText(), before);

    const QString directory = folder.filePath("taken.ort");
    QVERIFY(QDir().mkdir(directory));
    h.ui.files.push_back(directory.toStdString());
    w.Button1Click();  // the write fails (a folder is not asked about)
    QCOMPARE(w.StatusText(), before);

    const QString path = folder.filePath("result.ort");
    WriteBytes(path, "old\r\n");
    h.ui.files.push_back(path.toStdString());
    h.ui.answers.push_back(false);
    w.Button1Click();  // replacing declined
    QCOMPARE(w.StatusText(), before);

    h.ui.files.push_back(path.toStdString());
    h.ui.answers.push_back(true);
    w.N16->trigger();
    QCOMPARE(w.StatusText(), QStringLiteral("Сохранено в ") + path);
    // The next orientation's progress replaces it.
    w.N10Click();
    QVERIFY(!w.StatusText().startsWith(QStringLiteral("Сохранено")));
  }

  void overwritingAskFirstAndNoKeepsTheOldFile() {
    QTemporaryDir folder;
    Harness h;
    OrientSquare(h);
    TOrientation_Form& w = *h.window;
    const QString path = folder.filePath("result.ort");
    WriteBytes(path, "old\r\n");

    h.ui.files.push_back(path.toStdString());
    h.ui.answers.push_back(false);
    w.N16->trigger();
    QCOMPARE(h.ui.questions.size(), std::size_t{1});
    QCOMPARE(h.ui.questions[0].text, std::string("Файл result.ort уже существует. Перезаписать?"));
    QCOMPARE(h.ui.questions[0].caption, std::string("Предупреждение"));
    QCOMPARE(h.ui.questions[0].owner, static_cast<void*>(static_cast<QWidget*>(&w)));
    QCOMPARE(ReadBytes(path), QByteArray("old\r\n"));
    // Nothing was written, so the result is still unsaved and can be saved again.
    QVERIFY(!w.State().ResultSaved);
    QVERIFY(w.Button1->isEnabled());

    h.ui.files.push_back(path.toStdString());
    h.ui.answers.push_back(true);
    w.Button1Click();
    QCOMPARE(ReadBytes(path), ReadBytes(Q(kSquare + "/expected-level0.ort")));
    QVERIFY(w.State().ResultSaved);
    QVERIFY(!w.Button1->isEnabled());
    QVERIFY(!w.N16->isEnabled());
  }

  void aFailedWriteIsReportedAndKeepsTheResultUnsaved() {
    QTemporaryDir folder;
    Harness h;
    OrientSquare(h);
    TOrientation_Form& w = *h.window;
    const QString directory = folder.filePath("taken.ort");
    QVERIFY(QDir().mkdir(directory));
    h.ui.files.push_back(directory.toStdString());
    h.ui.answers.push_back(true);
    w.Button1Click();
    QVERIFY(!h.ui.messages.empty());
    QCOMPARE(h.ui.messages.back().text, std::string("Ошибка записи ort-файла!"));
    QCOMPARE(h.ui.messages.back().caption, std::string("Ошибка!"));
    QCOMPARE(h.ui.messages.back().owner, static_cast<void*>(static_cast<QWidget*>(&w)));
    QVERIFY(!w.State().ResultSaved);
    QVERIFY(w.Button1->isEnabled());
    QVERIFY(w.N16->isEnabled());
  }

  void cancellingTheSaveDialogChangesNothing() {
    Harness h;
    OrientSquare(h);
    TOrientation_Form& w = *h.window;
    w.Button1Click();
    QCOMPARE(h.ui.saveRequests.size(), std::size_t{1});
    QVERIFY(h.ui.messages.empty());
    QVERIFY(!w.State().ResultSaved);
    QVERIFY(w.Button1->isEnabled());
  }

  void closingBeforeAnyOrientationAsksNothing() {
    Harness h;
    h.ShowPanel();
    QSignalSpy closed(h.window.get(), &TOrientation_Form::Closed);
    QVERIFY(h.window->close());
    QVERIFY(h.ui.questions.empty());
    QCOMPARE(closed.count(), 1);
  }

  void closingWithAnUnsavedResultAsksAndNoCloses() {
    Harness h;
    OrientSquare(h);
    QSignalSpy closed(h.window.get(), &TOrientation_Form::Closed);
    h.ui.answers.push_back(false);
    QVERIFY(h.window->close());
    QCOMPARE(h.ui.questions.size(), std::size_t{1});
    QCOMPARE(h.ui.questions[0].text, std::string("Сохранить результат?"));
    QCOMPARE(h.ui.questions[0].caption, std::string("Сохранение"));
    QCOMPARE(h.ui.questions[0].owner, static_cast<void*>(static_cast<QWidget*>(h.window.get())));
    QVERIFY(h.ui.saveRequests.empty());
    QCOMPARE(closed.count(), 1);
  }

  void closingWithYesAndACancelledSaveCloses() {
    Harness h;
    OrientSquare(h);
    h.ui.answers.push_back(true);
    QVERIFY(h.window->close());
    QCOMPARE(h.ui.saveRequests.size(), std::size_t{1});
  }

  void closingWithYesSavesAndCloses() {
    QTemporaryDir folder;
    Harness h;
    OrientSquare(h);
    const QString path = folder.filePath("kept.ort");
    h.ui.answers.push_back(true);
    h.ui.files.push_back(path.toStdString());
    QVERIFY(h.window->close());
    QCOMPARE(ReadBytes(path).count("\r\n"), 21);
  }

  void closingWithYesAndAFailedWriteStaysOpen() {
    QTemporaryDir folder;
    Harness h;
    OrientSquare(h);
    QSignalSpy closed(h.window.get(), &TOrientation_Form::Closed);
    const QString directory = folder.filePath("taken.ort");
    QVERIFY(QDir().mkdir(directory));
    h.ui.answers = {true, true, true};
    h.ui.files.push_back(directory.toStdString());
    QVERIFY(!h.window->close());
    QVERIFY(h.window->isVisible());
    QCOMPARE(h.ui.messages.back().text, std::string("Ошибка записи ort-файла!"));
    QCOMPARE(closed.count(), 0);

    // The next close asks again; answering No now closes.
    h.ui.answers = {false};
    const std::size_t asked = h.ui.questions.size();
    QVERIFY(h.window->close());
    QCOMPARE(h.ui.questions.size(), asked + 1);
    QCOMPARE(h.ui.questions.back().text, std::string("Сохранить результат?"));
    QCOMPARE(closed.count(), 1);
  }

  void exitClosesTheWindowTheSameWay() {
    Harness h;
    OrientSquare(h);
    h.ui.answers.push_back(false);
    h.window->N5->trigger();
    QVERIFY(!h.window->isVisible());
    QCOMPARE(h.ui.questions.size(), std::size_t{1});
  }

  void helpLooksInTheCurrentDirectoryFirstAndListsContentsAndIndex() {
    Harness h;
    TOrientation_Form& w = *h.window;
    QTemporaryDir empty;
    QDir::setCurrent(empty.path());
    w.N12Click();
    QVERIFY(w.Help() != nullptr);
    QVERIFY(w.Help()->isVisible());
    QVERIFY(w.Help()->ShownFile().endsWith("ZELVHelp/ZELV_01.html"));
    QVERIFY(QFile::exists(w.Help()->ShownFile()));
    QVERIFY(w.Help()->Contents->topLevelItemCount() >= 1);
    QVERIFY(w.Help()->Browser->toPlainText().contains(QStringLiteral("ZELV")));
    QVERIFY(w.Help()->Index->count() > 10);

    QTemporaryDir own;
    QVERIFY(QDir(own.path()).mkpath("ZELVHelp"));
    WriteBytes(own.filePath("ZELVHelp/ZELV_01.html"),
               "<html><head><title>Своя справка</title></head><body>x</body></html>");
    QDir::setCurrent(own.path());
    w.N12Click();
    QCOMPARE(w.Help()->ShownFile(), QDir(own.path()).absoluteFilePath("ZELVHelp/ZELV_01.html"));
    QCOMPARE(w.Help()->Contents->topLevelItem(0)->text(0), QStringLiteral("Своя справка"));
  }

  void anErrorEscapingAHandlerIsShownAndTheLoopGoesOn() {
    ThrowingObject target;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    WhenModalOpens([&](QWidget* modal) {
      if (auto* box = qobject_cast<QMessageBox*>(modal)) {
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
      }
      static_cast<QDialog*>(modal)->accept();
    });
    QEvent event(QEvent::User);
    QVERIFY(!QApplication::sendEvent(&target, &event));
    QCOMPARE(title, QStringLiteral("ZELV"));
    QCOMPARE(text, QStringLiteral("Сбой обработчика"));
    QCOMPARE(icon, QMessageBox::Critical);
  }

  void theQtInterfaceShowsMessageBoxesAsAsked() {
    zelv::QtUserInterface ui;
    QWidget owner;
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget* parent = nullptr;
    auto record = [&](QMessageBox::StandardButton answer) {
      WhenModalOpens([&, answer](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (box == nullptr) return static_cast<QDialog*>(modal)->reject();
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        parent = box->parentWidget();
        box->button(answer)->click();
      });
    };
    record(QMessageBox::Ok);
    ui.ShowMessage("Файл x не найден!", "Ошибка!", zelv::MessageIcon::Stop, zelv::Owner{&owner});
    QCOMPARE(title, QStringLiteral("Ошибка!"));
    QCOMPARE(text, QStringLiteral("Файл x не найден!"));
    QCOMPARE(icon, QMessageBox::Critical);
    QCOMPARE(parent, &owner);

    record(QMessageBox::Ok);
    ui.ShowMessage("Внимание", "Предупреждение!", zelv::MessageIcon::Exclamation, zelv::Owner{});
    QCOMPARE(icon, QMessageBox::Warning);
    QCOMPARE(parent, nullptr);

    record(QMessageBox::Yes);
    QVERIFY(ui.AskYesNo("Сохранить результат?", "Сохранение", zelv::Owner{&owner}));
    QCOMPARE(text, QStringLiteral("Сохранить результат?"));
    record(QMessageBox::No);
    QVERIFY(!ui.AskYesNo("Сохранить результат?", "Сохранение", zelv::Owner{&owner}));
  }

  void confirmingTheOpenDialogMakesTheFilesFolderCurrent() {
    QTemporaryDir folder;
    QVERIFY(QDir(folder.path()).mkdir("points"));
    const QString chosen = folder.filePath("points/a.crd");
    WriteBytes(chosen, "1 ; 2\r\n");
    zelv::QtUserInterface ui;
    zelv::FileDialogRequest request;
    request.filters = {{"Coordinate Files (*.crd)", "*.crd"}, {"All Files (*)", "*"}};
    request.defaultSuffix = "crd";
    request.startFolder = folder.filePath("points").toStdString();
    QStringList filters;
    QString startFolder;
    WhenModalOpens([&](QWidget* modal) {
      auto* dialog = qobject_cast<QFileDialog*>(modal);
      if (dialog == nullptr) return static_cast<QDialog*>(modal)->reject();
      filters = dialog->nameFilters();
      startFolder = dialog->directory().absolutePath();
      TypeFileName(dialog, "a.crd");
    });
    const std::optional<std::string> result = ui.ChooseOpenFile(request);
    QVERIFY(result.has_value());
    QCOMPARE(Q(*result), chosen);
    QCOMPARE(filters, QStringList({"Coordinate Files (*.crd)", "All Files (*)"}));
    QCOMPARE(startFolder, QDir(folder.filePath("points")).absolutePath());
    QCOMPARE(QDir::currentPath(), QDir(folder.filePath("points")).absolutePath());

    // Cancelling returns nothing and leaves the current directory.
    QDir::setCurrent(folder.path());
    WhenModalOpens([](QWidget* modal) { static_cast<QDialog*>(modal)->reject(); });
    QVERIFY(!ui.ChooseOpenFile(request).has_value());
    QCOMPARE(QDir::currentPath(), QDir(folder.path()).absolutePath());
  }

  void theSaveDialogAddsTheSuffixAndLeavesTheOverwriteQuestionToTheCommand() {
    QTemporaryDir folder;
    WriteBytes(folder.filePath("old.ort"), "old\r\n");
    zelv::QtUserInterface ui;
    zelv::FileDialogRequest request;
    request.filters = {{"Orientation Files (*.ort)", "*.ort"}};
    request.defaultSuffix = "ort";
    request.proposedName = "image.ort";
    request.startFolder = folder.path().toStdString();
    QString proposed;
    auto choose = [&](const QString& typed) {
      WhenModalOpens([typed, &proposed](QWidget* modal) {
        auto* dialog = qobject_cast<QFileDialog*>(modal);
        if (dialog == nullptr) return static_cast<QDialog*>(modal)->reject();
        proposed = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"))->text();
        TypeFileName(dialog, typed);
      });
      return ui.ChooseSaveFile(request);
    };
    const std::optional<std::string> typed = choose("new");
    QVERIFY(typed.has_value());
    QCOMPARE(Q(*typed), folder.filePath("new.ort"));
    QCOMPARE(proposed, QStringLiteral("image.ort"));
    const std::optional<std::string> existing = choose("old.ort");
    QVERIFY(existing.has_value());
    QCOMPARE(Q(*existing), folder.filePath("old.ort"));
  }

  void theBusyCursorIsSetAndRestored() {
    zelv::QtUserInterface ui;
    {
      zelv::TWaitCursor wait(ui);
      QVERIFY(QApplication::overrideCursor() != nullptr);
      QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    }
    QCOMPARE(QApplication::overrideCursor(), nullptr);
    ui.SetBusy(false);  // an unmatched restore must not take another program cursor away
    QCOMPARE(QApplication::overrideCursor(), nullptr);
  }

 private:
  static void OrientSquare(Harness& h) {
    h.ShowPanel();
    h.UseCase(kSquare);
    h.window->N10Click();
    h.ui.messages.clear();
    QVERIFY(h.window->Button1->isEnabled());
  }

  QString startFolder_;
};

int main(int argc, char** argv) {
  zelv::ZelvApplication app(argc, argv);
  MainWindowTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_test.moc"
