// The data editor window: opening coordinate and camera files, the row commands, the checks and
// the file written by the save command, and the question asked when it is closed.

#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>
#include <string>
#include <vector>

#include "app/windows/Edit.h"
#include "fake_ui.h"
#include "files/camera_file.h"
#include "files/text_file.h"

using zelv::TRedForm;
using zelv::testing::FakeUi;

namespace {

const char* const kInternalError = "Внутренняя ошибка. Обратитесь к разработчику.";

// Raw bytes of a file (Windows-1251 as written).
QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
  return file.readAll();
}

// Writes UTF-8 text as Windows-1251 bytes, line ends as given.
QString WriteFile(const QTemporaryDir& dir, const QString& name, const std::string& utf8) {
  const QString path = dir.filePath(name);
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  const std::string bytes = zelv::Utf8ToCp1251(utf8);
  file.write(bytes.data(), static_cast<qint64>(bytes.size()));
  return path;
}

QByteArray Cp1251(const std::string& utf8) {
  return QByteArray::fromStdString(zelv::Utf8ToCp1251(utf8));
}

// Types `text` into a value cell through the grid's own cell editor, as a user does: F2, select
// all, the characters, Enter.
void TypeIntoCell(TRedForm& form, int row, int col, const QString& text) {
  form.SetCurrentCell(row, col);
  QTest::keyClick(form.StringGrid1, Qt::Key_F2);
  auto* editor = form.StringGrid1->viewport()->findChild<QLineEdit*>();
  QVERIFY(editor != nullptr);
  editor->selectAll();
  if (text.isEmpty()) {
    QTest::keyClick(editor, Qt::Key_Delete);
  } else if (QString::fromLatin1(text.toLatin1()) == text && text.toLatin1() == text.toUtf8()) {
    QTest::keyClicks(editor, text);
  } else {
    editor->insert(text);  // characters no key of the test keyboard gives
  }
  QTest::keyClick(editor, Qt::Key_Return);
  // Enter commits through a queued call, and the closed editor is deleted later.
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// The value cells and numbers of a point grid, one "n:x|y" entry per data row.
QStringList PointRows(const TRedForm& form) {
  QStringList rows;
  for (int row = 1; row < form.RowCount(); ++row) {
    rows << form.Cell(row, 0) + ":" + form.Cell(row, 1) + "|" + form.Cell(row, 2);
  }
  return rows;
}

const char* const kThreePoints = "1.50;2\r\n 3 ; -4.25 \r\n0.00001;100\r\n";

}  // namespace

class EditorTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanupTestCase() { zelv::ReleaseDataEditors(); }

  void beforeOpeningTheWindowIsCaptionedEditorAtItsPlace() {
    FakeUi ui;
    TRedForm form(ui);
    QCOMPARE(form.windowTitle(), QString("Редактор"));
    QCOMPARE(form.pos(), QPoint(195, 244));
    QCOMPARE(form.minimumSize(), QSize(300, 200));
    QCOMPARE(form.RowCount(), 2);
    QVERIFY(!form.Modified);
    QVERIFY(!form.testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(form.ToolButton10->toolTip(), QString("Сохранить"));
    QCOMPARE(form.ToolButton3->toolTip(), QString("Добавить"));
    QCOMPARE(form.ToolButton5->toolTip(), QString("Добавить в конец"));
    QCOMPARE(form.ToolButton1->toolTip(), QString("Удалить"));
    QCOMPARE(form.ToolButton8->toolTip(), QString("Очистить"));
    QCOMPARE(form.N3->text(), QString("Сохранить"));
    QCOMPARE(form.N6->text(), QString("Выход"));
    QVERIFY(form.findChild<QTableWidget*>("StringGrid1") == form.StringGrid1);
    QVERIFY(form.StringGrid1->showGrid());
  }

  void anEmptyPathOpensAnUntitledGridInEachMode() {
    FakeUi ui;
    TRedForm points(ui);
    QCOMPARE(points.OpenDataFile("", zelv::kPointFileType), 1);
    QCOMPARE(points.windowTitle(), QString("Untitled Реперные точки"));
    QCOMPARE(points.size(), QSize(300, 500));
    QCOMPARE(points.RowCount(), 2);
    QCOMPARE(points.ColCount(), 3);
    QCOMPARE(points.Cell(0, 0), QString(""));
    QCOMPARE(points.Cell(0, 1), QString("x"));
    QCOMPARE(points.Cell(0, 2), QString("y"));
    QCOMPARE(PointRows(points), QStringList{"1:|"});
    QCOMPARE(points.StringGrid1->verticalHeader()->width(), 50);
    QCOMPARE(points.StringGrid1->columnWidth(0), 100);
    QCOMPARE(points.StringGrid1->columnWidth(1), 100);
    QCOMPARE(points.StringGrid1->rowHeight(0), 20);
    QVERIFY(points.ToolButton3->isEnabled() && points.ToolButton5->isEnabled() &&
            points.ToolButton1->isEnabled() && points.ToolButton8->isEnabled());
    QCOMPARE(points.DataFileType, zelv::kPointFileType);
    QVERIFY(!points.Modified);

    TRedForm camera(ui);
    QCOMPARE(camera.OpenDataFile("", zelv::kCameraFileType), 1);
    QCOMPARE(camera.windowTitle(), QString("Untitled Внутренняя геометрия"));
    QCOMPARE(camera.size(), QSize(520, 290));
    QCOMPARE(camera.RowCount(), 8);
    QCOMPARE(camera.ColCount(), 2);
    for (int row = 0; row < 8; ++row) {
      QCOMPARE(camera.Cell(row, 0), QString::fromUtf8(zelv::kCameraRowLabels[row]));
      QCOMPARE(camera.Cell(row, 1), QString());
    }
    QCOMPARE(camera.StringGrid1->verticalHeader()->width(), 290);
    QCOMPARE(camera.StringGrid1->columnWidth(0), 200);
    QCOMPARE(camera.StringGrid1->rowHeight(0), 24);
    QVERIFY(camera.StringGrid1->horizontalHeader()->isHidden());
    QVERIFY(camera.ToolButton10->isEnabled());
    QVERIFY(!camera.ToolButton3->isEnabled() && !camera.ToolButton5->isEnabled() &&
            !camera.ToolButton1->isEnabled() && !camera.ToolButton8->isEnabled());
    QVERIFY(ui.messages.empty());
  }

  void aThreeLinePointFileOpensWithNumberedRowsInGeneralNumberText() {
    QTemporaryDir dir;
    const QString path = WriteFile(dir, "scene.crd", kThreePoints);
    FakeUi ui;
    TRedForm form(ui);
    QCOMPARE(form.OpenDataFile(path.toStdString(), zelv::kPointFileType), 1);
    QCOMPARE(form.windowTitle(), QString("scene.crd Реперные точки"));
    QCOMPARE(form.RowCount(), 4);
    QCOMPARE(PointRows(form), (QStringList{"1:1.5|2", "2:3|-4.25", "3:1E-5|100"}));
    QCOMPARE(form.DataFileName, path.toStdString());
    QVERIFY(!form.Modified);
    QVERIFY(ui.messages.empty());
  }

  void anEmptyPointFileOpensWithOneEmptyRow() {
    QTemporaryDir dir;
    const QString path = WriteFile(dir, "empty.crd", "");
    FakeUi ui;
    TRedForm form(ui);
    QCOMPARE(form.OpenDataFile(path.toStdString(), zelv::kPointFileType), 1);
    QCOMPARE(PointRows(form), QStringList{"1:|"});
  }

  void aCameraFileShowsTheTextBeforeEachFirstSemicolonUnchanged() {
    QTemporaryDir dir;
    const QString path = WriteFile(dir, "cam.cam",
                                   " 320 ; Координата X\r\n240;\r\nt.txt ; Таблица\r\n\r\n"
                                   "640 ; a ; b\r\n480\r\n1;\r\n2;\r\nextra line\r\n");
    FakeUi ui;
    TRedForm form(ui);
    QCOMPARE(form.OpenDataFile(path.toStdString(), zelv::kCameraFileType), 1);
    QCOMPARE(form.windowTitle(), QString("cam.cam Внутренняя геометрия"));
    const QStringList expected{" 320 ", "240", "t.txt ", "", "640 ", "", "1", "2"};
    for (int row = 0; row < 8; ++row) QCOMPARE(form.Cell(row, 1), expected[row]);
    QCOMPARE(form.RowCount(), 8);
  }

  void openingFailuresShowTheInternalErrorOwnedByTheEditor_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("content");
    QTest::addColumn<int>("type");
    QTest::newRow("six-line camera file") << "six.cam"
                                          << "1;\r\n2;\r\nt;\r\n4;\r\n5;\r\n6;\r\n"
                                          << zelv::kCameraFileType;
    QTest::newRow("missing point file") << ""
                                        << "" << zelv::kPointFileType;
    QTest::newRow("missing camera file") << ""
                                         << "" << zelv::kCameraFileType;
    QTest::newRow("point line without semicolon") << "bad.crd"
                                                  << "1;2\r\n3 4\r\n"
                                                  << zelv::kPointFileType;
    QTest::newRow("point value that does not convert") << "bad.crd"
                                                       << "1;2\r\n3;4a\r\n"
                                                       << zelv::kPointFileType;
    QTest::newRow("point line with a second semicolon") << "bad.crd"
                                                        << "1;2;3\r\n"
                                                        << zelv::kPointFileType;
    QTest::newRow("blank point line") << "bad.crd"
                                      << "1;2\r\n\r\n3;4\r\n"
                                      << zelv::kPointFileType;
    QTest::newRow("unknown type code") << "ok.crd"
                                       << "1;2\r\n"
                                       << 3;
  }
  void openingFailuresShowTheInternalErrorOwnedByTheEditor() {
    QFETCH(QString, name);
    QFETCH(QString, content);
    QFETCH(int, type);
    QTemporaryDir dir;
    const QString path =
        name.isEmpty() ? dir.filePath("missing.file") : WriteFile(dir, name, content.toStdString());
    FakeUi ui;
    TRedForm form(ui);
    QCOMPARE(form.OpenDataFile(path.toStdString(), type), 0);
    QCOMPARE(ui.messages.size(), std::size_t{1});
    QCOMPARE(ui.messages[0].text, std::string(kInternalError));
    QCOMPARE(ui.messages[0].caption, std::string("Ошибка!"));
    QCOMPARE(ui.messages[0].owner, static_cast<void*>(static_cast<QWidget*>(&form)));

    // Through the application's entry point the window is never shown.
    FakeUi appUi;
    QCOMPARE(zelv::OpenDataEditor(path.toStdString(), type, appUi), nullptr);
    QCOMPARE(appUi.messages.size(), std::size_t{1});
  }

  void openDataEditorShowsAModelessWindowThatLivesOnAfterClosing() {
    QTemporaryDir dir;
    const QString path = WriteFile(dir, "image.crd", kThreePoints);
    FakeUi ui;
    QPointer<QWidget> window = zelv::OpenDataEditor(path.toStdString(), zelv::kPointFileType, ui);
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(!window->isModal());
    QVERIFY(window->parent() == nullptr);
    QCOMPARE(window->windowTitle(), QString("image.crd Реперные точки"));
    QVERIFY(window->close());
    QCoreApplication::processEvents();
    QVERIFY(window);  // hidden, not released
    zelv::ReleaseDataEditors();
    QVERIFY(!window);
  }

  void insertOnRowTwoMovesTheRowsFromThereDown() {
    QTemporaryDir dir;
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile(WriteFile(dir, "p.crd", kThreePoints).toStdString(), zelv::kPointFileType);
    form.SetCurrentCell(2, 1);
    form.ToolButton3Click();
    QCOMPARE(PointRows(form), (QStringList{"1:1.5|2", "2:|", "3:3|-4.25", "4:1E-5|100"}));
    QCOMPARE(form.Row(), 2);
    QVERIFY(form.Modified);

    form.SetCurrentCell(4, 2);
    form.ToolButton3Click();
    QCOMPARE(PointRows(form), (QStringList{"1:1.5|2", "2:|", "3:3|-4.25", "4:|", "5:1E-5|100"}));
  }

  void appendAddsAnEmptyNumberedRowAtTheEnd() {
    QTemporaryDir dir;
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile(WriteFile(dir, "p.crd", kThreePoints).toStdString(), zelv::kPointFileType);
    form.SetCurrentCell(1, 1);
    form.ToolButton5Click();
    QCOMPARE(PointRows(form), (QStringList{"1:1.5|2", "2:3|-4.25", "3:1E-5|100", "4:|"}));
    QVERIFY(form.Modified);
  }

  void deleteMovesTheRowsBelowUpAndKeepsTheNumbers() {
    QTemporaryDir dir;
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile(WriteFile(dir, "p.crd", kThreePoints).toStdString(), zelv::kPointFileType);
    form.SetCurrentCell(2, 2);
    form.ToolButton1Click();
    QCOMPARE(PointRows(form), (QStringList{"1:1.5|2", "2:1E-5|100"}));
    QVERIFY(form.Modified);
    form.SetCurrentCell(2, 1);
    form.ToolButton1Click();  // the last row
    QCOMPARE(PointRows(form), QStringList{"1:1.5|2"});
    form.ToolButton1Click();  // a single row is only emptied
    QCOMPARE(PointRows(form), QStringList{"1:|"});
    QCOMPARE(form.RowCount(), 2);
  }

  void clearLeavesExactlyOneEmptyRowNumberedOne() {
    QTemporaryDir dir;
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile(WriteFile(dir, "p.crd", kThreePoints).toStdString(), zelv::kPointFileType);
    form.SetCurrentCell(3, 1);
    form.ToolButton8Click();
    QCOMPARE(PointRows(form), QStringList{"1:|"});
    QCOMPARE(form.Cell(0, 1), QString("x"));
    QVERIFY(form.Modified);
  }

  void rowCommandsDoNothingInTheCameraMode() {
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile("", zelv::kCameraFileType);
    form.ToolButton3Click();
    form.ToolButton5Click();
    form.ToolButton1Click();
    form.ToolButton8Click();
    QCOMPARE(form.RowCount(), 8);
    QVERIFY(!form.Modified);
  }

  void rowCommandsTakeTheTextOfACellBeingEdited() {
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile("", zelv::kPointFileType);
    form.show();
    form.SetCurrentCell(1, 1);
    QTest::keyClick(form.StringGrid1, Qt::Key_F2);
    auto* editor = form.StringGrid1->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    QTest::keyClicks(editor, "7");
    form.ToolButton3Click();  // the typed 7 moves down with its row
    QCOMPARE(PointRows(form), (QStringList{"1:|", "2:7|"}));
  }

  void everyKeyInTheGridMarksTheDataModified() {
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile("", zelv::kPointFileType);
    form.show();
    form.SetCurrentCell(1, 1);
    QTest::keyClick(form.StringGrid1, Qt::Key_Right);  // navigation keys count too
    QVERIFY(form.Modified);

    form.Modified = false;
    QTest::keyClick(form.StringGrid1, Qt::Key_F2);
    auto* editor = form.StringGrid1->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    form.Modified = false;
    QTest::keyClick(editor, Qt::Key_Escape);  // a key inside the cell editor
    QVERIFY(form.Modified);
  }

  void aCellChangedWithoutAKeyStillAsksAtClosing() {
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile("", zelv::kPointFileType);
    form.show();
    form.StringGrid1->editItem(form.StringGrid1->item(0, 0));
    auto* editor = form.StringGrid1->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    editor->setText("12");  // as pasted with the mouse
    QVERIFY(!form.Modified);
    ui.answers = {false};
    QVERIFY(form.close());
    QCOMPARE(ui.questions.size(), std::size_t{1});
    QCOMPARE(form.Cell(1, 1), QString("12"));
  }

  void savingAPointGridWritesCheckedValuesWithCrLf() {
    QTemporaryDir dir;
    const QString source = WriteFile(dir, "scene.crd", kThreePoints);
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile(source.toStdString(), zelv::kPointFileType);
    form.show();
    TypeIntoCell(form, 2, 1, " 3,75 ");
    QVERIFY(form.Modified);
    const QString target = dir.filePath("edited.crd");
    ui.files = {target.toStdString()};
    QVERIFY(form.N3Click());
    QCOMPARE(ReadBytes(target), QByteArray("1.5 ; 2\r\n3.75 ; -4.25\r\n1E-5 ; 100\r\n"));
    QVERIFY(!form.Modified);
    QCOMPARE(ui.saveRequests.size(), std::size_t{1});
    const zelv::FileDialogRequest& request = ui.saveRequests[0];
    QCOMPARE(request.proposedName, source.toStdString());
    QCOMPARE(request.defaultSuffix, std::string("crd"));
    QCOMPARE(request.filters.size(), std::size_t{2});
    QCOMPARE(request.filters[0].description, std::string("Coordinate Files (*.crd)"));
    QCOMPARE(request.filters[0].pattern, std::string("*.crd"));
    QCOMPARE(request.filters[1].description, std::string("All Files (*)"));
    QCOMPARE(request.filters[1].pattern, std::string("*"));
    QCOMPARE(request.owner.window, static_cast<void*>(static_cast<QWidget*>(&form)));
    QCOMPARE(ReadBytes(source), QByteArray(kThreePoints));  // saved elsewhere: source untouched

    // The name given at opening stays the proposal, even after saving under another name.
    ui.files = {std::nullopt};
    form.ToolButton10Click();
    QCOMPARE(ui.saveRequests.size(), std::size_t{2});
    QCOMPARE(ui.saveRequests[1].proposedName, source.toStdString());
    QCOMPARE(form.DataFileName, source.toStdString());
  }

  void aBadCellInRowTwoIsReportedAndNothingIsWritten() {
    QTemporaryDir dir;
    const QString source = WriteFile(dir, "image.crd", kThreePoints);
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile(source.toStdString(), zelv::kPointFileType);
    form.show();
    TypeIntoCell(form, 2, 2, "");
    ui.files = {source.toStdString()};
    QVERIFY(!form.N3Click());
    QCOMPARE(ui.messages.size(), std::size_t{1});
    QCOMPARE(ui.messages[0].text, std::string("Ошибка в 2-й строке координат изображения!"));
    QCOMPARE(ui.messages[0].caption, std::string("ZELV"));
    QVERIFY(ui.saveRequests.empty());
    QCOMPARE(ReadBytes(source), QByteArray(kThreePoints));
    QVERIFY(form.Modified);
  }

  void aCameraFileSavedAgainKeepsItsCorrectionTableValue() {
    const QString golden = QString(ZELV_TEST_DATA_DIR) + "/golden/square/";
    QTemporaryDir dir;
    QVERIFY(QFile::copy(golden + "camera.cam", dir.filePath("camera.cam")));
    QVERIFY(QFile::copy(golden + "table.txt", dir.filePath("table.txt")));
    FakeUi ui;
    TRedForm form(ui);
    QCOMPARE(form.OpenDataFile(dir.filePath("camera.cam").toStdString(), zelv::kCameraFileType), 1);
    QCOMPARE(form.Cell(2, 1), QString("table.txt "));
    const QString target = dir.filePath("again.cam");
    ui.files = {target.toStdString()};
    QVERIFY(form.N3Click());
    QCOMPARE(ui.saveRequests[0].defaultSuffix, std::string("cam"));
    QCOMPARE(ui.saveRequests[0].filters[0].description, std::string("Cam Files (*.cam)"));
    QCOMPARE(ui.saveRequests[0].filters[1].description, std::string("All Files (*)"));

    const QList<QByteArray> lines = ReadBytes(target).split('\n');
    QCOMPARE(lines.size(), 9);  // eight lines, each ended by CR LF
    QCOMPARE(lines[0], Cp1251("320 ; Координата X центра изображения\r"));
    QCOMPARE(lines[2], Cp1251("table.txt  ; Таблица коррекции\r"));
    QCOMPARE(lines[3], Cp1251("1000 ; Фокусное расстояние\r"));
    QCOMPARE(form.Cell(7, 1), QString("240 "));
    QCOMPARE(lines[7], Cp1251("240 ; Координата Y главной точки\r"));

    zelv::InteriorGeometry original;
    zelv::InteriorGeometry saved;
    QVERIFY(zelv::ReadCameraFile(dir.filePath("camera.cam").toStdString(), original).has_value());
    QVERIFY(zelv::ReadCameraFile(target.toStdString(), saved).has_value());
    QCOMPARE(saved.CorrectionTable, original.CorrectionTable);
    QCOMPARE(saved.ImageCentreX, original.ImageCentreX);
    QCOMPARE(saved.FocalLength, original.FocalLength);
    QCOMPARE(saved.ImageHeight, original.ImageHeight);
  }

  void anEmptyFocalLengthIsSavedAsAnEmptyValueThatReadsAsMinusOne() {
    QTemporaryDir dir;
    WriteFile(dir, "t.txt", "1\r\n0 0 4000 4000 X 0 1 - Y 0 1 - ; \r\n");
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile("", zelv::kCameraFileType);
    form.show();
    const QStringList values{"320", "240,5", "t.txt", "", "640", "480", " ", "1e3"};
    for (int row = 0; row < 8; ++row) form.SetCell(row, 1, values[row]);
    const QString target = dir.filePath("new.cam");
    ui.files = {target.toStdString()};
    QVERIFY(form.N3Click());
    QCOMPARE(ReadBytes(target), Cp1251("320 ; Координата X центра изображения\r\n"
                                       "240.5 ; Координата Y центра изображения\r\n"
                                       "t.txt ; Таблица коррекции\r\n"
                                       " ; Фокусное расстояние\r\n"
                                       "640 ; Размер изображения по горизонтали\r\n"
                                       "480 ; Размер изображения по вертикали\r\n"
                                       " ; Координата X главной точки\r\n"
                                       "1000 ; Координата Y главной точки\r\n"));
    zelv::InteriorGeometry geometry;
    QVERIFY(zelv::ReadCameraFile(target.toStdString(), geometry).has_value());
    QCOMPARE(geometry.FocalLength, -1.0);
    QCOMPARE(geometry.ImageCentreY, 240.5);
    QVERIFY(ui.messages.empty());
  }

  void aCameraValueThatDoesNotConvertFailsTheSave_data() {
    QTest::addColumn<int>("row");
    QTest::addColumn<QString>("value");
    QTest::newRow("two blanks as focal length") << 3 << "  ";
    QTest::newRow("text as image width") << 4 << "wide";
    QTest::newRow("semicolon in the table name") << 2 << "t;x.txt";
  }
  void aCameraValueThatDoesNotConvertFailsTheSave() {
    QFETCH(int, row);
    QFETCH(QString, value);
    QTemporaryDir dir;
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile("", zelv::kCameraFileType);
    form.show();
    const QStringList values{"320", "240", "t.txt", "1000", "640", "480", "320", "240"};
    for (int r = 0; r < 8; ++r) form.SetCell(r, 1, r == row ? value : values[r]);
    form.Modified = true;
    ui.files = {dir.filePath("x.cam").toStdString()};
    QVERIFY(!form.N3Click());
    QCOMPARE(ui.messages.size(), std::size_t{1});
    QCOMPARE(ui.messages[0].text, std::string("Ошибка в калибровочных данных!"));
    QCOMPARE(ui.messages[0].caption, std::string("ZELV"));
    QVERIFY(ui.saveRequests.empty());
    QVERIFY(!QFile::exists(dir.filePath("x.cam")));
    QVERIFY(form.Modified);
  }

  void aFailedWriteKeepsTheEditorModifiedAndTheOldFileIntact_data() {
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("yValue");
    QTest::newRow("device") << "/dev/full"
                            << "2";
    QTest::newRow("folder") << "<dir>"
                            << "2";
    QTest::newRow("missing folder") << "<dir>/no/such/folder/p.crd"
                                    << "2";
  }
  void aFailedWriteKeepsTheEditorModifiedAndTheOldFileIntact() {
    QFETCH(QString, target);
    QFETCH(QString, yValue);
    QTemporaryDir dir;
    const QString old = WriteFile(dir, "old.crd", kThreePoints);
    target.replace("<dir>", dir.path());
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile("", zelv::kPointFileType);
    form.show();
    TypeIntoCell(form, 1, 1, "1");
    TypeIntoCell(form, 1, 2, yValue);
    ui.files = {target.toStdString()};
    QVERIFY(!form.N3Click());
    QCOMPARE(ui.messages.size(), std::size_t{1});
    QCOMPARE(ui.messages[0].text, "Ошибка записи файла " + target.toStdString() + "!");
    QCOMPARE(ui.messages[0].caption, std::string("Ошибка!"));
    QVERIFY(form.Modified);
    QCOMPARE(ReadBytes(old), QByteArray(kThreePoints));
    QCOMPARE(PointRows(form), QStringList{"1:1|2"});
  }

  void aFifoOrADeviceIsRefusedAtOnceInsteadOfFreezingTheWindow() {
    QTemporaryDir dir;
    const QString fifo = dir.filePath("ff.crd");
    QCOMPARE(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    for (const QString& path : {fifo, QString("/dev/zero")}) {
      FakeUi ui;
      TRedForm form(ui);
      QElapsedTimer timer;
      timer.start();
      QCOMPARE(form.OpenDataFile(path.toStdString(), zelv::kPointFileType), 0);
      QVERIFY(timer.elapsed() < 5000);
      QCOMPARE(ui.messages.size(), std::size_t{1});
      QCOMPARE(ui.messages[0].text, std::string(kInternalError));
    }
  }

  void aTableNameWindows1251CannotHoldFailsTheWriteAndKeepsTheOldFile() {
    QTemporaryDir dir;
    const std::string oldText = "1;\r\n2;\r\nt.txt;\r\n4;\r\n5;\r\n6;\r\n7;\r\n8;\r\n";
    const QString path = WriteFile(dir, "camera.cam", oldText);
    FakeUi ui;
    TRedForm form(ui);
    QCOMPARE(form.OpenDataFile(path.toStdString(), zelv::kCameraFileType), 1);
    form.show();
    TypeIntoCell(form, 2, 1, QString::fromUtf8("表.txt"));
    ui.files = {path.toStdString()};
    QVERIFY(!form.N3Click());
    QCOMPARE(ui.messages.size(), std::size_t{1});
    QCOMPARE(ui.messages[0].text,
             "Ошибка записи файла " + path.toStdString() +
                 "!\nСимвол «表» (U+8868) нельзя записать в кодировке Windows-1251");
    QCOMPARE(ReadBytes(path), Cp1251(oldText));
    QVERIFY(form.Modified);
    QCOMPARE(form.Cell(2, 1), QString::fromUtf8("表.txt"));
  }

  void closingAsksOnlyWithUnsavedChanges() {
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile("", zelv::kPointFileType);
    form.show();
    QVERIFY(form.close());
    QVERIFY(ui.questions.empty());

    form.show();
    form.ToolButton5Click();
    ui.answers = {false};
    form.N6Click();  // "Выход": No closes and discards
    QVERIFY(!form.isVisible());
    QCOMPARE(ui.questions.size(), std::size_t{1});
    QCOMPARE(ui.questions[0].text, std::string("Данные не сохранены. Сохранить?"));
    QCOMPARE(ui.questions[0].caption, std::string("Предупреждение"));
    QCOMPARE(ui.questions[0].owner, static_cast<void*>(static_cast<QWidget*>(&form)));
    QVERIFY(ui.saveRequests.empty());
  }

  void answeringYesSavesAndClosesOnlyWhenTheFileWasWritten() {
    QTemporaryDir dir;
    FakeUi ui;
    TRedForm form(ui);
    form.OpenDataFile("", zelv::kPointFileType);
    form.show();
    TypeIntoCell(form, 1, 1, "5");

    // A value fails its check: the window stays with its data.
    ui.answers = {true};
    QVERIFY(!form.close());
    QVERIFY(form.isVisible());
    QCOMPARE(ui.messages.back().text, std::string("Ошибка в 1-й строке координат изображения!"));
    QVERIFY(form.Modified);

    // The dialog is cancelled: the window stays.
    TypeIntoCell(form, 1, 2, "6");
    ui.answers = {true};
    ui.files = {std::nullopt};
    QVERIFY(!form.close());
    QVERIFY(form.isVisible());
    QVERIFY(form.Modified);

    // The file is written: the window closes.
    const QString target = dir.filePath("points.crd");
    ui.answers = {true};
    ui.files = {target.toStdString()};
    QVERIFY(form.close());
    QVERIFY(!form.isVisible());
    QCOMPARE(ReadBytes(target), QByteArray("5 ; 6\r\n"));
    QCOMPARE(ui.questions.size(), std::size_t{3});
  }
};

QTEST_MAIN(EditorTest)
#include "editor_test.moc"
