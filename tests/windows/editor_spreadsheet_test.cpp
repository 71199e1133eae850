// The data editor used as a spreadsheet: blocks of cells copied and pasted as tab-separated
// text, Delete and undo, Enter moving down, Ctrl+S, the context menu, columns dragged wider in
// both modes, Esc at the close question, and a file changed on disk since it was opened.
#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFile>
#include <QHeaderView>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QUndoStack>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/windows/Edit.h"
#include "app/windows/qt_user_interface.h"
#include "fake_ui.h"
#include "files/text_file.h"
#include "windows/when_modal_opens.h"

using zelv::TRedForm;
using zelv::testing::FakeUi;

namespace {

const char* const kThreePoints = "1.50;2\r\n 3 ; -4.25 \r\n0.00001;100\r\n";

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile file(path);
  file.open(QIODevice::WriteOnly);
  file.write(bytes);
  return path;
}

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
  return file.readAll();
}

// "n:x|y" for each data row of a point grid.
QStringList PointRows(const TRedForm& form) {
  QStringList rows;
  for (int row = 1; row < form.RowCount(); ++row)
    rows << form.Cell(row, 0) + ":" + form.Cell(row, 1) + "|" + form.Cell(row, 2);
  return rows;
}

// Selects the block of value cells from (top, left) to (bottom, right), addressed as the
// editor's cells are, the way a mouse drag or Shift+arrows would.
void SelectBlock(TRedForm& form, int top, int left, int bottom, int right) {
  const int fixed = form.DataFileType == zelv::kPointFileType ? 1 : 0;
  form.SetCurrentCell(top, left);
  form.StringGrid1->clearSelection();
  form.StringGrid1->setRangeSelected(
      QTableWidgetSelectionRange(top - fixed, left - 1, bottom - fixed, right - 1), true);
}

// An editor shown and focused on its grid, over `ui`.
struct Shown {
  explicit Shown(zelv::UserInterface& ui) : form(ui) {}
  bool Open(const std::string& path, int type) {
    if (form.OpenDataFile(path, type) != 1) return false;
    form.show();
    form.activateWindow();
    if (!QTest::qWaitForWindowActive(&form)) return false;
    form.StringGrid1->setFocus();
    return true;
  }
  TRedForm form;
};

}  // namespace

class EditorSpreadsheetTest : public QObject {
  Q_OBJECT

 private slots:
  void cleanupTestCase() { zelv::ReleaseDataEditors(); }

  // Three rows of two values copied from a spreadsheet fill the grid from the current cell,
  // adding the rows needed; undo takes the whole paste back.
  void aPastedThreeByTwoBlockFillsCellsAndAddsRows() {
    FakeUi ui;
    Shown shown(ui);
    QVERIFY(shown.Open("", zelv::kPointFileType));
    TRedForm& form = shown.form;
    form.SetCurrentCell(1, 1);
    QGuiApplication::clipboard()->setText("1,5\t2\n3\t-4\n5\t6\n");  // as a spreadsheet copies
    QTest::keyClick(form.StringGrid1, Qt::Key_V, Qt::ControlModifier);
    QCOMPARE(PointRows(form), (QStringList{"1:1,5|2", "2:3|-4", "3:5|6"}));
    QVERIFY(form.Modified);

    QTest::keyClick(form.StringGrid1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(PointRows(form), QStringList{"1:|"});
    QTest::keyClick(form.StringGrid1, Qt::Key_Y, Qt::ControlModifier);
    QCOMPARE(PointRows(form), (QStringList{"1:1,5|2", "2:3|-4", "3:5|6"}));

    // Saved, the pasted values are checked and written as any typed ones.
    QTemporaryDir dir;
    ui.files = {dir.filePath("pasted.crd").toStdString()};
    QVERIFY(form.N3Click());
    QCOMPARE(ReadBytes(dir.filePath("pasted.crd")), QByteArray("1.5 ; 2\r\n3 ; -4\r\n5 ; 6\r\n"));

    // Pasted at row 2, column 2, a block keeps to the grid's columns: the second one is left out.
    form.SetCurrentCell(2, 2);
    form.PasteText("7\t8\r\n9\t10\r\n");  // Excel's line ends
    QCOMPARE(PointRows(form), (QStringList{"1:1,5|2", "2:3|7", "3:5|9"}));
  }

  // In the camera mode a paste keeps to the eight rows and the one value column.
  void aPasteIntoTheCameraGridKeepsToItsEightRows() {
    FakeUi ui;
    Shown shown(ui);
    QVERIFY(shown.Open("", zelv::kCameraFileType));
    TRedForm& form = shown.form;
    form.SetCurrentCell(6, 1);
    form.PasteText("320\tx\n240\n\"t.txt\"\n");
    QCOMPARE(form.RowCount(), 8);
    QCOMPARE(form.Cell(6, 1), QStringLiteral("320"));
    QCOMPARE(form.Cell(7, 1), QStringLiteral("240"));
  }

  // Delete empties the selected block; undo brings it back, redo empties it again, and a row
  // command is undone the same way.
  void undoAfterDeleteBringsTheCellsBack() {
    QTemporaryDir dir;
    FakeUi ui;
    Shown shown(ui);
    QVERIFY(shown.Open(WriteFile(dir, "p.crd", kThreePoints).toStdString(), zelv::kPointFileType));
    TRedForm& form = shown.form;
    QVERIFY(!form.UndoAction->isEnabled());
    SelectBlock(form, 1, 1, 2, 2);
    QTest::keyClick(form.StringGrid1, Qt::Key_Delete);
    QCOMPARE(PointRows(form), (QStringList{"1:|", "2:|", "3:1E-5|100"}));
    QVERIFY(form.Modified);
    QVERIFY(form.UndoAction->isEnabled());

    QTest::keyClick(form.StringGrid1, Qt::Key_Z, Qt::ControlModifier);
    QCOMPARE(PointRows(form), (QStringList{"1:1.5|2", "2:3|-4.25", "3:1E-5|100"}));
    QVERIFY(form.RedoAction->isEnabled());
    QTest::keyClick(form.StringGrid1, Qt::Key_Z, Qt::ControlModifier | Qt::ShiftModifier);
    QCOMPARE(PointRows(form), (QStringList{"1:|", "2:|", "3:1E-5|100"}));
    form.Undo();

    form.SetCurrentCell(2, 1);
    form.ToolButton1Click();  // "Удалить": the row goes
    QCOMPARE(PointRows(form), (QStringList{"1:1.5|2", "2:1E-5|100"}));
    form.UndoAction->trigger();
    QCOMPARE(PointRows(form), (QStringList{"1:1.5|2", "2:3|-4.25", "3:1E-5|100"}));
  }

  // A typed value is undone like any other change.
  void aTypedValueIsUndone() {
    FakeUi ui;
    Shown shown(ui);
    QVERIFY(shown.Open("", zelv::kPointFileType));
    TRedForm& form = shown.form;
    form.SetCurrentCell(1, 1);
    QTest::keyClick(form.StringGrid1, Qt::Key_4);  // typing starts the cell editor
    auto* editor = form.StringGrid1->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    QTest::keyClick(editor, Qt::Key_2);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(form.Cell(1, 1), QStringLiteral("42"));
    form.Undo();
    QCOMPARE(form.Cell(1, 1), QString());
  }

  // A selected block goes to the clipboard as tab-separated rows, as a spreadsheet takes it.
  void aCopiedBlockIsTabSeparated() {
    QTemporaryDir dir;
    FakeUi ui;
    Shown shown(ui);
    QVERIFY(shown.Open(WriteFile(dir, "p.crd", kThreePoints).toStdString(), zelv::kPointFileType));
    TRedForm& form = shown.form;
    SelectBlock(form, 1, 1, 3, 2);
    QTest::keyClick(form.StringGrid1, Qt::Key_C, Qt::ControlModifier);
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1.5\t2\n3\t-4.25\n1E-5\t100\n"));

    SelectBlock(form, 2, 2, 2, 2);
    form.CopyCells();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("-4.25"));

    // Cut empties what it copied.
    SelectBlock(form, 1, 1, 1, 2);
    form.CutAction->trigger();
    QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("1.5\t2\n"));
    QCOMPARE(PointRows(form).first(), QStringLiteral("1:|"));

    // Quoted cells round-trip.
    const QList<QStringList> rows{{"a\tb", "say \"x\""}, {"", "plain"}};
    QCOMPARE(zelv::ParseTabSeparated(zelv::TabSeparated(rows)), rows);
  }

  // Enter moves to the cell below, whether a value was being typed or not; Ctrl+S saves.
  void enterMovesDownAndCtrlSSaves() {
    QTemporaryDir dir;
    FakeUi ui;
    Shown shown(ui);
    QVERIFY(shown.Open(WriteFile(dir, "p.crd", kThreePoints).toStdString(), zelv::kPointFileType));
    TRedForm& form = shown.form;
    form.SetCurrentCell(1, 2);
    QTest::keyClick(form.StringGrid1, Qt::Key_Return);
    QCOMPARE(form.Row(), 2);
    QTest::keyClicks(form.StringGrid1, "8");
    auto* editor = form.StringGrid1->viewport()->findChild<QLineEdit*>();
    QVERIFY(editor != nullptr);
    QTest::keyClick(editor, Qt::Key_Return);
    QCoreApplication::processEvents();
    QCOMPARE(form.Cell(2, 2), QStringLiteral("8"));
    QCOMPARE(form.Row(), 3);
    QCOMPARE(form.StringGrid1->currentColumn(), 1);
    QTest::keyClick(form.StringGrid1, Qt::Key_Return);  // the last row: it stays
    QCOMPARE(form.Row(), 3);

    ui.files = {std::nullopt};
    QTest::keyClick(form.StringGrid1, Qt::Key_S, Qt::ControlModifier);
    QCOMPARE(ui.saveRequests.size(), std::size_t{1});
    QCOMPARE(form.menuBar()->actions().first()->text(), QStringLiteral("&Файл"));
  }

  // In a freshly opened five-row file every Enter that ends a typed value moves exactly one row
  // down, the first one included, whether typing or F2 opened the cell editor.
  void enterAfterAnEditMovesOneRowInAFiveRowFile() {
    QTemporaryDir dir;
    FakeUi ui;
    Shown shown(ui);
    const QByteArray five = "1;1\r\n2;2\r\n3;3\r\n4;4\r\n5;5\r\n";
    QVERIFY(shown.Open(WriteFile(dir, "five.crd", five).toStdString(), zelv::kPointFileType));
    TRedForm& form = shown.form;
    form.SetCurrentCell(1, 1);
    const auto typeAndEnter = [&](const char* text, bool withF2) {
      if (withF2)
        QTest::keyClick(form.StringGrid1, Qt::Key_F2);
      else
        QTest::keyClicks(form.StringGrid1, QString::fromLatin1(text).left(1));
      auto* editor = form.StringGrid1->viewport()->findChild<QLineEdit*>();
      QVERIFY(editor != nullptr);
      if (withF2) {
        editor->selectAll();
        QTest::keyClicks(editor, text);
      } else {
        QTest::keyClicks(editor, QString::fromLatin1(text).mid(1));
      }
      QTest::keyClick(editor, Qt::Key_Return);
      QCoreApplication::processEvents();
      QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    };
    typeAndEnter("70", false);
    QCOMPARE(form.Cell(1, 1), QStringLiteral("70"));
    QCOMPARE(form.Row(), 2);
    typeAndEnter("80", false);
    QCOMPARE(form.Cell(2, 1), QStringLiteral("80"));
    QCOMPARE(form.Row(), 3);
    typeAndEnter("90", true);
    QCOMPARE(form.Cell(3, 1), QStringLiteral("90"));
    QCOMPARE(form.Row(), 4);
    QCOMPARE(PointRows(form), (QStringList{"1:70|1", "2:80|2", "3:90|3", "4:4|4", "5:5|5"}));
  }

  // The right mouse button offers the cell commands and, in the point mode, the row commands.
  void theContextMenuOffersTheRowCommands() {
    FakeUi ui;
    Shown shown(ui);
    QVERIFY(shown.Open("", zelv::kPointFileType));
    TRedForm& form = shown.form;
    QStringList texts;
    WhenModalOpens(
        [&](QWidget* popup) {
          if (auto* menu = qobject_cast<QMenu*>(popup))
            for (QAction* action : menu->actions())
              if (!action->isSeparator()) texts << action->text();
          popup->close();
        },
        true);
    const QPoint at = form.StringGrid1->visualItemRect(form.StringGrid1->item(0, 0)).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, at,
                            form.StringGrid1->viewport()->mapToGlobal(at));
    QApplication::sendEvent(form.StringGrid1->viewport(), &event);
    QCOMPARE(texts, (QStringList{"Отменить", "Повторить", "Вырезать", "Копировать", "Вставить",
                                 "Очистить ячейки", "Добавить", "Добавить в конец", "Удалить",
                                 "Очистить"}));
  }

  // Both modes let the user drag the column lines: the label column and the value column of the
  // camera grid, which has no heading row to drag in, and the number column of the point grid.
  void theColumnsCanBeDraggedWiderInBothModes() {
    FakeUi ui;
    Shown camera(ui);
    QVERIFY(camera.Open("", zelv::kCameraFileType));
    QTableWidget* grid = camera.form.StringGrid1;
    QCOMPARE(grid->columnWidth(0), 200);
    const int y = grid->rowViewportPosition(2) + 5;
    const int line = grid->columnViewportPosition(0) + grid->columnWidth(0);
    QTest::mousePress(grid->viewport(), Qt::LeftButton, {}, QPoint(line, y));
    QTest::mouseMove(grid->viewport(), QPoint(line + 60, y));
    QTest::mouseRelease(grid->viewport(), Qt::LeftButton, {}, QPoint(line + 60, y));
    QCOMPARE(grid->columnWidth(0), 260);

    QWidget* labels = grid->verticalHeader()->viewport();
    QCOMPARE(grid->verticalHeader()->width(), 290);
    const QPoint edge(labels->width() - 1, 30);
    QTest::mousePress(labels, Qt::LeftButton, {}, edge);
    QTest::mouseMove(labels, edge + QPoint(-90, 0));
    QTest::mouseRelease(labels, Qt::LeftButton, {}, edge + QPoint(-90, 0));
    QCOMPARE(grid->verticalHeader()->width(), 200);
    QVERIFY(!camera.form.Modified);

    Shown points(ui);
    QVERIFY(points.Open("", zelv::kPointFileType));
    QWidget* numbers = points.form.StringGrid1->verticalHeader()->viewport();
    const QPoint numberEdge(numbers->width() - 1, 5);
    QTest::mousePress(numbers, Qt::LeftButton, {}, numberEdge);
    QTest::mouseMove(numbers, numberEdge + QPoint(30, 0));
    QTest::mouseRelease(numbers, Qt::LeftButton, {}, numberEdge + QPoint(30, 0));
    QCOMPARE(points.form.StringGrid1->verticalHeader()->width(), 80);
    QCOMPARE(points.form.StringGrid1->horizontalHeader()->sectionResizeMode(0),
             QHeaderView::Interactive);
  }

  // At "Данные не сохранены. Сохранить?" Esc and the box's close button keep the window with its
  // data; only No discards them.
  void escAtTheEditorsCloseQuestionKeepsTheData() {
    zelv::QtUserInterface ui;
    Shown shown(ui);
    QVERIFY(shown.Open("", zelv::kPointFileType));
    TRedForm& form = shown.form;
    form.PasteText("1\t2\n");
    QVERIFY(form.Modified);

    int buttons = 0;
    WhenModalOpens(
        [&](QWidget* modal) {
          auto* box = qobject_cast<QMessageBox*>(modal);
          if (box == nullptr) {
            modal->close();
            return;
          }
          buttons = static_cast<int>(box->buttons().size());
          QTest::keyClick(box, Qt::Key_Escape);
        },
        true);
    QVERIFY(!form.close());
    QVERIFY(form.isVisible());
    QCOMPARE(buttons, 3);  // "Сохранить", "Не сохранять", "Отмена"
    QCOMPARE(PointRows(form), QStringList{"1:1|2"});
    QVERIFY(form.Modified);

    WhenModalOpens([](QWidget* modal) { modal->close(); }, true);
    QVERIFY(!form.close());
    QVERIFY(form.isVisible());

    WhenModalOpens(
        [](QWidget* modal) {
          if (auto* box = qobject_cast<QMessageBox*>(modal)) box->button(QMessageBox::No)->click();
        },
        true);
    QVERIFY(form.close());
  }

  // Saving over the opened file after another program changed it asks first; No keeps that
  // program's version. A file the editor itself wrote last is replaced without a question.
  void savingAFileChangedOnDiskAsksFirst() {
    QTemporaryDir dir;
    const QString path = WriteFile(dir, "p.crd", kThreePoints);
    FakeUi ui;
    Shown shown(ui);
    QVERIFY(shown.Open(path.toStdString(), zelv::kPointFileType));
    TRedForm& form = shown.form;
    WriteFile(dir, "p.crd", "9 ; 9\r\n");  // another program

    ui.files = {path.toStdString()};
    ui.answers = {false};
    QVERIFY(!form.N3Click());
    QCOMPARE(ui.questions.size(), std::size_t{1});
    QCOMPARE(ui.questions[0].text,
             std::string("Файл p.crd изменён другой программой после открытия. Перезаписать?"));
    QCOMPARE(ui.questions[0].caption, std::string("Предупреждение"));
    QCOMPARE(ReadBytes(path), QByteArray("9 ; 9\r\n"));

    ui.files = {path.toStdString()};
    ui.answers = {true};
    QVERIFY(form.N3Click());
    QCOMPARE(ReadBytes(path), QByteArray("1.5 ; 2\r\n3 ; -4.25\r\n1E-5 ; 100\r\n"));

    ui.files = {path.toStdString()};
    QVERIFY(form.N3Click());
    QCOMPARE(ui.questions.size(), std::size_t{2});

    // Another file, existing or not, is written as before.
    const QString other = WriteFile(dir, "other.crd", "old\r\n");
    ui.files = {other.toStdString()};
    QVERIFY(form.N3Click());
    QCOMPARE(ui.questions.size(), std::size_t{2});
  }
};

QTEST_MAIN(EditorSpreadsheetTest)
#include "editor_spreadsheet_test.moc"
