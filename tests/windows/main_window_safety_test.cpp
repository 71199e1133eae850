// The main window met as a user meets it where a result or a typed name could be lost or shown
// wrongly: a cleared result is no result to save, Esc at the close question keeps the window,
// a typed path is taken as typed, a failed run leaves no progress text, the results can be
// copied, the taller debug window stays on the screen, and boxes without owner open over the
// window.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QGroupBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/result_file.h"
#include "app/windows/Orient_form.h"
#include "app/windows/zelv_application.h"
#include "fake_ui.h"

using zelv::TOrientation_Form;
using zelv::testing::FakeUi;

namespace {

const std::string kSquare = std::string(ZELV_TEST_DATA_DIR) + "/golden/square";
const std::string kSurvey = std::string(ZELV_SOURCE_DIR) + "/examples/survey";

// Runs `handle` on the next message box as soon as it is open; a box left open is rejected
// ten seconds later, so that a test fails instead of hanging.
void WhenBoxOpens(std::function<void(QMessageBox*)> handle) {
  auto* timer = new QTimer;
  auto tries = std::make_shared<int>(0);
  timer->setInterval(20);
  QObject::connect(timer, &QTimer::timeout, [timer, tries, handle] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr && ++*tries < 3000) return;
    timer->stop();
    timer->deleteLater();
    if (box == nullptr) return;
    QPointer<QMessageBox> handled(box);
    handle(box);
    QTimer::singleShot(10000, [handled] {
      if (handled && handled->isVisible()) handled->done(QMessageBox::No);
    });
  });
  timer->start();
}

// The buttons of a box that the user can see.
QStringList VisibleButtons(QMessageBox* box) {
  QStringList texts;
  for (QAbstractButton* button : box->buttons())
    if (button->isVisible()) texts << button->text();
  return texts;
}

void UseFiles(TOrientation_Form& w, const std::string& folder) {
  w.State().CameraFileName = folder + "/camera.cam";
  w.State().ImageFileName = folder + "/image.crd";
  w.State().SceneFileName = folder + "/scene.crd";
  w.Edit1->setText("camera.cam");
  w.Edit6->setText("image.crd");
  w.Edit4->setText("scene.crd");
}

bool AllFieldsEmpty(const TOrientation_Form& w) {
  for (const QLineEdit* field : w.ResultEdits)
    if (!field->text().isEmpty()) return false;
  return true;
}

}  // namespace

class MainWindowSafetyTest : public QObject {
  Q_OBJECT

 private slots:
  void init() { startFolder_ = QDir::currentPath(); }
  void cleanup() { QDir::setCurrent(startFolder_); }

  // After a result, "..." clears the fields: saving is disabled and closing asks nothing, so no
  // file with the old centre and empty values can be written.
  void aPickedFileClearsTheResultAndNothingIsLeftToSave() {
    FakeUi ui;
    TOrientation_Form w(&ui);
    w.State().DecimalSeparator = '.';
    w.show();
    w.Image1Click();
    UseFiles(w, kSquare);
    w.N10Click();
    QVERIFY(w.Button1->isEnabled() && w.N16->isEnabled());

    ui.files.push_back(kSquare + "/image.crd");
    w.Button3Click();
    QVERIFY(AllFieldsEmpty(w));
    QVERIFY(!w.Button1->isEnabled());
    QVERIFY(!w.N16->isEnabled());
    w.N16->trigger();
    QVERIFY(ui.saveRequests.empty());
    QSignalSpy closed(&w, &TOrientation_Form::Closed);
    QVERIFY(w.close());
    QVERIFY(ui.questions.empty());
    QCOMPARE(closed.count(), 1);
  }

  // A later run that fails inside the computation clears the result the same way.
  void aLaterFailedRunLeavesNothingToSave() {
    QTemporaryDir folder;
    QFile plain(folder.filePath("not-a-folder"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    FakeUi ui;
    TOrientation_Form w(&ui);
    w.State().DecimalSeparator = '.';
    w.show();
    w.Image1Click();
    UseFiles(w, kSurvey);
    w.N10Click();
    QVERIFY(w.Button1->isEnabled());

    // The log cannot be written: the refinement fails after the fields were cleared.
    w.State().StartDirectory = plain.fileName().toStdString();
    w.State().Settings.KeepLog = true;
    w.N6Click();
    w.N10Click();
    QCOMPARE(ui.messages.back().caption, std::string("Отказ"));
    QCOMPARE(w.ResultEdits[zelv::kCentreX]->text(), QString());
    QVERIFY(!w.Button1->isEnabled());
    QVERIFY(!w.N16->isEnabled());
    QVERIFY(w.close());
    QVERIFY(ui.questions.empty());
  }

  // Esc and the box's close button at "Сохранить результат?" keep the window and its result;
  // Yes and No are the only buttons, and No still closes.
  void escAtTheCloseQuestionKeepsTheWindowAndItsResult() {
    TOrientation_Form w;  // its own Qt user interface: real boxes
    w.State().DecimalSeparator = '.';
    w.show();
    w.Image1Click();
    UseFiles(w, kSurvey);
    w.N10Click();
    QVERIFY(w.Button1->isEnabled());
    const QString centre = w.ResultEdits[zelv::kCentreX]->text();
    QVERIFY(!centre.isEmpty());
    QSignalSpy closed(&w, &TOrientation_Form::Closed);

    QStringList buttons;
    QString question;
    WhenBoxOpens([&](QMessageBox* box) {
      question = box->text();
      buttons = VisibleButtons(box);
      QTest::keyClick(box, Qt::Key_Escape);
    });
    QVERIFY(!w.close());
    QCOMPARE(question, QStringLiteral("Сохранить результат?"));
    QCOMPARE(buttons.size(), 3);  // "Сохранить", "Не сохранять", "Отмена"
    QVERIFY(w.isVisible());
    QCOMPARE(w.ResultEdits[zelv::kCentreX]->text(), centre);
    QVERIFY(w.Button1->isEnabled());

    WhenBoxOpens([](QMessageBox* box) { box->close(); });  // the box's close button
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    QCOMPARE(closed.count(), 0);

    WhenBoxOpens([](QMessageBox* box) { box->button(QMessageBox::No)->click(); });
    QVERIFY(w.close());
    QCOMPARE(closed.count(), 1);
  }

  // Typing a name with a folder takes it as typed; it is not put after the previous folder at
  // every key.
  void aTypedNameWithAFolderIsTakenAsTyped() {
    FakeUi ui;
    TOrientation_Form w(&ui);
    w.show();
    w.Image1Click();
    ui.files.push_back(std::string("/data/points/a.crd"));
    w.Button4Click();
    w.Edit4->clear();
    QTest::keyClicks(w.Edit4, "../names/scene.crd");
    const QString names = QDir::cleanPath(QDir::current().absoluteFilePath("../names"));
    QCOMPARE(w.State().SceneFileName, (names + "/scene.crd").toStdString());
    // A bare name typed afterwards goes into that folder.
    w.Edit4->clear();
    QTest::keyClicks(w.Edit4, "b.crd");
    QCOMPARE(w.State().SceneFileName, (names + "/b.crd").toStdString());
    w.Edit4->clear();
    QTest::keyClicks(w.Edit4, "/tmp/c.crd");
    QCOMPARE(w.State().SceneFileName, std::string("/tmp/c.crd"));
  }

  // A run that fails after the progress text was shown leaves the status bar empty.
  void aFailedRunLeavesNoProgressText() {
    QTemporaryDir folder;
    QFile plain(folder.filePath("not-a-folder"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
    plain.close();
    TOrientation_Form w;
    w.show();
    w.Image1Click();
    UseFiles(w, kSurvey);
    w.State().StartDirectory = plain.fileName().toStdString();
    w.State().Settings.KeepLog = true;
    w.N6Click();
    QString statusDuringMessage;
    QString message;
    WhenBoxOpens([&](QMessageBox* box) {
      message = box->text();
      statusDuringMessage = w.StatusText();
      box->accept();
    });
    w.N10Click();
    QCOMPARE(message, QStringLiteral("Внутренняя ошибка! Проверьте входные данные."));
    QVERIFY(statusDuringMessage.startsWith(QStringLiteral("Подождите. Идёт счёт...")));
    QCOMPARE(w.StatusText(), QString());
  }

  // The values can be selected and copied; Ctrl+Shift+C copies all 21 as a table of names and
  // values.
  void theResultsCanBeCopiedAsATable() {
    FakeUi ui;
    TOrientation_Form w(&ui);
    w.State().DecimalSeparator = '.';
    w.show();
    w.Image1Click();
    QVERIFY(!w.CopyResultsAction->isEnabled());
    UseFiles(w, kSurvey);
    w.N10Click();

    QLineEdit* centreX = w.ResultEdits[zelv::kCentreX];
    QVERIFY(centreX->isEnabled() && centreX->isReadOnly());
    centreX->selectAll();
    QCOMPARE(centreX->selectedText(), centreX->text());
    QTest::keyClicks(centreX, "9");  // read-only: typing changes nothing
    QVERIFY(centreX->text() != QStringLiteral("9"));

    QGuiApplication::clipboard()->clear();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    centreX->setFocus();
    QTest::keyClick(centreX, Qt::Key_C, Qt::ControlModifier | Qt::ShiftModifier);
    const QStringList rows = QGuiApplication::clipboard()->text().split('\n', Qt::SkipEmptyParts);
    QCOMPARE(rows.size(), 21);
    for (int i = 0; i < zelv::kResultCount; ++i) {
      const QStringList cells = rows[i].split('\t');
      QCOMPARE(cells.size(), 2);
      QCOMPARE(" ; " + cells[0], QString::fromUtf8(zelv::kResults[i].fileComment));
      QCOMPARE(cells[1], w.ResultEdits[static_cast<std::size_t>(i)]->text());
    }
    QCOMPARE(w.ResultsTable(), QGuiApplication::clipboard()->text());
  }

  // Switching on the debug group makes the window taller; where it would leave the screen at the
  // bottom it moves up, never above the screen's top.
  void theTallerDebugWindowStaysOnTheScreen() {
    FakeUi ui;
    TOrientation_Form w(&ui);
    w.show();
    w.Image1Click();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect area = w.screen()->availableGeometry();
    w.move(area.left() + 10, area.bottom() - w.frameGeometry().height() - 2);
    QTRY_COMPARE(w.frameGeometry().top(), area.bottom() - w.frameGeometry().height() - 2);
    w.ShowDebugGroup(true);
    // As tall as the debug group needs, or as the screen allows (then the panel scrolls).
    QTRY_VERIFY(w.height() > 545 && w.height() >= w.minimumHeight());
    const QRect frame = w.frameGeometry();
    QVERIFY2(frame.top() >= area.top(), qPrintable(QString::number(frame.top())));
    if (frame.height() <= area.height())
      QVERIFY2(frame.bottom() <= area.bottom(), qPrintable(QString::number(frame.bottom())));
    else
      QCOMPARE(frame.top(), area.top());
  }

  // A box without owner (the point count refusal) stays without parent, yet opens over the main
  // window rather than wherever the platform puts it.
  void aBoxWithoutOwnerOpensOverTheMainWindow() {
    QTemporaryDir folder;
    QFile three(folder.filePath("three.crd"));
    QVERIFY(three.open(QIODevice::WriteOnly));
    three.write("1 ; 1\r\n300 ; 2\r\n3 ; 400\r\n");
    three.close();
    TOrientation_Form w;
    w.show();
    w.Image1Click();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.move(w.screen()->availableGeometry().topLeft() + QPoint(5, 5));
    UseFiles(w, kSurvey);
    w.State().ImageFileName = three.fileName().toStdString();
    QWidget* parent = &w;
    QPoint boxCentre;
    QString text;
    WhenBoxOpens([&](QMessageBox* box) {
      parent = box->parentWidget();
      boxCentre = box->frameGeometry().center();
      text = box->text();
      box->accept();
    });
    w.N10Click();
    QCOMPARE(text, QStringLiteral("Недостаточно точек! Процедура прервана!"));
    QCOMPARE(parent, nullptr);
    QVERIFY2(w.frameGeometry().contains(boxCentre),
             qPrintable(QStringLiteral("%1,%2").arg(boxCentre.x()).arg(boxCentre.y())));
  }

 private:
  QString startFolder_;
};

int main(int argc, char** argv) {
  zelv::ZelvApplication app(argc, argv);
  MainWindowSafetyTest test;
  return QTest::qExec(&test, argc, argv);
}

#include "main_window_safety_test.moc"
