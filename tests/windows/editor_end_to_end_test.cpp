// The data editor and the main window together: files edited and saved in editors opened by a
// double-click on the main window's file fields are what the next orientation reads.

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <string>

#include "app/windows/Edit.h"
#include "app/windows/Orient_form.h"
#include "fake_ui.h"

using zelv::TOrientation_Form;
using zelv::TRedForm;
using zelv::testing::FakeUi;

namespace {

// The visible editor window whose caption begins with `fileName`.
TRedForm* FindEditor(const QString& fileName) {
  for (QWidget* window : QApplication::topLevelWidgets()) {
    auto* editor = qobject_cast<TRedForm*>(window);
    if (editor != nullptr && editor->isVisible() && editor->windowTitle().startsWith(fileName)) {
      return editor;
    }
  }
  return nullptr;
}

// Types `text` into a value cell through the grid's cell editor: F2, select all, keys, Enter.
void TypeIntoCell(TRedForm& form, int row, int col, const QString& text) {
  form.SetCurrentCell(row, col);
  QTest::keyClick(form.StringGrid1, Qt::Key_F2);
  auto* editor = form.StringGrid1->viewport()->findChild<QLineEdit*>();
  QVERIFY(editor != nullptr);
  editor->selectAll();
  QTest::keyClicks(editor, text);
  QTest::keyClick(editor, Qt::Key_Return);
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Only warnings were shown (the square's points are bunched): no reader, check or write error.
// The number of paired points the shown orientation was computed from.
int PointCount(const zelv::OrientationState& state) {
  return state.Shown && state.Shown->residuals
             ? static_cast<int>(state.Shown->residuals->points.size())
             : 0;
}

bool NoErrorShown(const FakeUi& ui) {
  for (const FakeUi::Message& message : ui.messages) {
    if (message.caption == "Ошибка!" || message.caption == "ZELV") return false;
  }
  return true;
}

QStringList ShownResults(const TOrientation_Form& window) {
  QStringList texts;
  for (const QLineEdit* edit : window.ResultEdits) texts << edit->text();
  return texts;
}

}  // namespace

class EditorEndToEndTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanupTestCase() { zelv::ReleaseDataEditors(); }

  void filesSavedInTheEditorsAreReadByTheNextOrientation() {
    const QString golden = QString(ZELV_TEST_DATA_DIR) + "/golden/square/";
    QTemporaryDir dir;
    for (const char* name : {"camera.cam", "image.crd", "scene.crd", "table.txt"}) {
      QVERIFY(QFile::copy(golden + name, dir.filePath(name)));
    }
    FakeUi ui;
    TOrientation_Form window(&ui);
    window.show();
    zelv::OrientationState& state = window.State();
    state.CameraFileName = dir.filePath("camera.cam").toStdString();
    state.ImageFileName = dir.filePath("image.crd").toStdString();
    state.SceneFileName = dir.filePath("scene.crd").toStdString();
    window.Edit1->setText("camera.cam");
    window.Edit6->setText("image.crd");
    window.Edit4->setText("scene.crd");
    window.N10Click();
    QVERIFY(NoErrorShown(ui));
    const QStringList before = ShownResults(window);
    QCOMPARE(PointCount(state), 4);

    // The camera: a new focal length (pixels).
    QTest::mouseDClick(window.Edit1, Qt::LeftButton);
    TRedForm* camera = FindEditor("camera.cam");
    QVERIFY(camera != nullptr);
    QCOMPARE(camera->Cell(3, 1), QString("1000 "));
    TypeIntoCell(*camera, 3, 1, "2000");
    ui.files = {state.CameraFileName};
    QVERIFY(camera->N3Click());
    QVERIFY(camera->close());

    // A fifth point pair: the image centre and the centre of the scene square.
    QTest::mouseDClick(window.Edit6, Qt::LeftButton);
    TRedForm* image = FindEditor("image.crd");
    QVERIFY(image != nullptr);
    image->ToolButton5Click();
    TypeIntoCell(*image, 5, 1, "320");
    TypeIntoCell(*image, 5, 2, "240");
    ui.files = {state.ImageFileName};
    QVERIFY(image->N3Click());
    QVERIFY(image->close());

    QTest::mouseDClick(window.Edit4, Qt::LeftButton);
    TRedForm* scene = FindEditor("scene.crd");
    QVERIFY(scene != nullptr);
    scene->ToolButton5Click();
    TypeIntoCell(*scene, 5, 1, "1000");
    TypeIntoCell(*scene, 5, 2, "500");
    ui.files = {state.SceneFileName};
    QVERIFY(scene->N3Click());
    QVERIFY(scene->close());
    QVERIFY(ui.questions.empty());

    window.N10Click();
    QVERIFY(NoErrorShown(ui));
    QCOMPARE(state.Shown->camera.FocalLength, 2000.0);
    QCOMPARE(PointCount(state), 5);
    // Corrected with the identity table about the image centre (320, 240): the origin.
    QCOMPARE(state.Shown->residuals->points[4].x, 0.0);
    QCOMPARE(state.Shown->residuals->points[4].y, 0.0);
    const QStringList after = ShownResults(window);
    QVERIFY(!after.contains(QString()));
    QVERIFY(after != before);
  }
};

QTEST_MAIN(EditorEndToEndTest)
#include "editor_end_to_end_test.moc"
