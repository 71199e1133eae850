// One question about unsaved data in every window, on the real message boxes: "Сохранить",
// "Не сохранять", "Отмена", the file named, and Esc withdrawing it with the data kept.

#include <QAbstractButton>
#include <QFile>
#include <QImage>
#include <QLineEdit>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>
#include <string>

#include "app/photo_points.h"
#include "app/windows/Edit.h"
#include "app/windows/Orient_form.h"
#include "app/windows/photo_window.h"
#include "app/windows/qt_user_interface.h"
#include "windows/when_modal_opens.h"

using zelv::PhotoWindow;
using zelv::PixelPoint;
using zelv::QtUserInterface;
using zelv::TOrientation_Form;
using zelv::TRedForm;

namespace {

const QString kSurvey = QStringLiteral(ZELV_SOURCE_DIR "/examples/survey");

// What the next question box showed before Esc was pressed on it.
struct SeenQuestion {
  QString text;
  QString file;
  QStringList buttons;
  bool seen = false;
};

void EscOnNextQuestion(SeenQuestion& seen) {
  WhenModalOpens([&seen](QWidget* modal) {
    auto* box = qobject_cast<QMessageBox*>(modal);
    if (box == nullptr) return;
    seen.seen = true;
    seen.text = box->text();
    seen.file = box->informativeText();
    for (QAbstractButton* button : box->buttons()) seen.buttons << button->text();
    QTest::keyClick(box, Qt::Key_Escape);
  });
}

const QStringList kButtons{QStringLiteral("Сохранить"), QStringLiteral("Не сохранять"),
                           QStringLiteral("Отмена")};

QStringList Sorted(QStringList list) {
  list.sort();
  return list;
}

// A workspace on a grey photograph with two points in image.crd, one point added since.
struct EditedWorkspace {
  QTemporaryDir folder;
  QtUserInterface ui;
  PhotoWindow window{ui};
  std::string Path(const char* name) const { return folder.filePath(name).toStdString(); }
  EditedWorkspace() {
    QImage photo(320, 240, QImage::Format_RGB32);
    photo.fill(Qt::gray);
    photo.save(QString::fromStdString(Path("photo.png")));
    zelv::SavePointFile(Path("image.crd"), {{10, 20}, {100, 200}}, '.');
    window.show();
    window.OpenPhoto(Path("photo.png"), Path("image.crd"));
    window.AddPoint(PixelPoint{50, 60}, false);
  }
};

}  // namespace

class SaveQuestionTest : public QObject {
  Q_OBJECT

 private slots:
  // Closing, opening another photograph and computing from edited points all ask the one
  // question; Esc keeps the workspace and its points as they were, and computes nothing.
  void escInTheWorkspaceKeepsTheEditedPoints() {
    EditedWorkspace w;
    QVERIFY(w.window.Modified());

    SeenQuestion closing;
    EscOnNextQuestion(closing);
    QVERIFY(!w.window.close());
    QVERIFY(closing.seen);
    QCOMPARE(closing.text, QStringLiteral("Данные не сохранены. Сохранить?"));
    QCOMPARE(Sorted(closing.buttons), Sorted(kButtons));
    QCOMPARE(closing.file, QStringLiteral("Файл: ") + QString::fromStdString(w.Path("image.crd")));
    QVERIFY(w.window.isVisible());
    QCOMPARE(w.window.Points().size(), 3u);

    SeenQuestion opening;
    EscOnNextQuestion(opening);
    QVERIFY(!w.window.OpenPhoto(w.Path("photo.png"), ""));
    QVERIFY(opening.seen);
    QCOMPARE(w.window.Points().size(), 3u);
    QVERIFY(w.window.Modified());

    SeenQuestion orienting;
    QSignalSpy requested(&w.window, &PhotoWindow::OrientationRequested);
    EscOnNextQuestion(orienting);
    w.window.OrientClick();
    QVERIFY(orienting.seen);
    QCOMPARE(orienting.text, QStringLiteral("Точки снимка изменены. Сохранить их перед счётом?"));
    QCOMPARE(Sorted(orienting.buttons), Sorted(kButtons));
    QCOMPARE(requested.size(), 0);
    QCOMPARE(zelv::ReadPointFile(w.Path("image.crd")).size(), 2u);

    // "Не сохранять" computes from the file as it is.
    WhenModalOpens([](QWidget* modal) {
      if (auto* box = qobject_cast<QMessageBox*>(modal)) box->button(QMessageBox::No)->click();
    });
    w.window.OrientClick();
    QCOMPARE(requested.size(), 1);
    QCOMPARE(zelv::ReadPointFile(w.Path("image.crd")).size(), 2u);
  }

  // The data editor's close question names its file; Esc keeps the window with the change.
  void escInTheEditorKeepsTheChangedData() {
    QTemporaryDir folder;
    const QString path = folder.filePath("p.crd");
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("1;2\r\n3;4\r\n");
    file.close();
    QtUserInterface ui;
    TRedForm form(ui);
    QCOMPARE(form.OpenDataFile(path.toStdString(), zelv::kPointFileType), 1);
    form.show();
    form.Modified = true;
    SeenQuestion seen;
    EscOnNextQuestion(seen);
    QVERIFY(!form.close());
    QVERIFY(seen.seen);
    QCOMPARE(Sorted(seen.buttons), Sorted(kButtons));
    QCOMPARE(seen.file, QStringLiteral("Файл: ") + path);
    QVERIFY(form.isVisible());
    QVERIFY(form.Modified);
    form.Modified = false;
  }

  // The main window's question about an unsaved result: Esc keeps the window and the result.
  void escInTheMainWindowKeepsTheResult() {
    QtUserInterface ui;
    TOrientation_Form w(&ui);
    w.State().CameraFileName = (kSurvey + "/camera.cam").toStdString();
    w.State().ImageFileName = (kSurvey + "/image.crd").toStdString();
    w.State().SceneFileName = (kSurvey + "/scene.crd").toStdString();
    w.Edit1->setText("camera.cam");
    w.Edit6->setText("image.crd");
    w.Edit4->setText("scene.crd");
    w.show();
    w.Image1Click();
    w.N10Click();
    auto* x = w.findChild<QLineEdit*>(QStringLiteral("Edit36"));
    QVERIFY(!x->text().isEmpty());
    SeenQuestion seen;
    EscOnNextQuestion(seen);
    QVERIFY(!w.close());
    QVERIFY(seen.seen);
    QCOMPARE(seen.text, QStringLiteral("Сохранить результат?"));
    QCOMPARE(Sorted(seen.buttons), Sorted(kButtons));
    QVERIFY(w.isVisible());
    QVERIFY(!x->text().isEmpty());
    // Closed without saving at the end of the test.
    WhenModalOpens([](QWidget* modal) {
      if (auto* box = qobject_cast<QMessageBox*>(modal)) box->button(QMessageBox::No)->click();
    });
    QVERIFY(w.close());
  }
};

QTEST_MAIN(SaveQuestionTest)
#include "save_question_test.moc"
