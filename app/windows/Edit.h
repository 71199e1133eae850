#pragma once
// The data editor window for coordinate and camera files: a grid of the file's values that can be
// edited, extended by rows (coordinate files) and saved back with every value checked.
//
// Cells are addressed as the file's grid shows them: row 0 of a coordinate file is its heading
// ("", "x", "y") and rows 1..n its points; a camera file has no heading and its rows 0..7 are the
// file's lines. Column 0 holds the row numbers or the camera row labels, and the value columns
// follow from 1.
//
// Beyond the file's rules the grid works as a spreadsheet does: a block of cells can be selected,
// copied and pasted as tab-separated text (so blocks go to and from spreadsheet programs), Delete
// empties the selected cells, Enter moves down, every change can be undone and redone, and the
// row commands sit in a context menu too.

#include <QByteArray>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QStringList>
#include <string>

#include "base/user_interface.h"

class QAction;
class QCloseEvent;
class QPoint;
class QTableWidget;
class QTableWidgetItem;
class QToolBar;
class QUndoStack;

namespace zelv {

// Data file type codes of the editor.
inline constexpr int kPointFileType = 2;  // ".crd": image or scene control points

// Shown instead of opening or overwriting a point table (files/point_table.h): the grid edits
// ".crd" files only, and saving a table from it would drop its identifiers.
inline constexpr char kPointTableNotEdited[] =
    "Таблицы точек с номерами (.csv, .txt, .tsv) редактор данных не открывает и не "
    "перезаписывает: он работает только с файлами .crd. Изменяйте таблицу в текстовом редакторе "
    "или в программе электронных таблиц.";
inline constexpr int kCameraFileType = 5;  // ".cam": interior geometry

class CellEditDelegate;
class ColumnSizer;

// Text of a block of cells, one list per row, as spreadsheet programs put it on the clipboard:
// cells separated by tabs, rows by line breaks; a cell holding a tab, a line break or a quote
// is quoted with its quotes doubled. A final line break ends the last row.
QList<QStringList> ParseTabSeparated(const QString& text);
QString TabSeparated(const QList<QStringList>& rows);

class TRedForm : public QMainWindow {
  Q_OBJECT

 public:
  // All messages and the save dialog go through `ui`, which must outlive the window.
  explicit TRedForm(UserInterface& ui, QWidget* parent = nullptr);
  ~TRedForm() override;

  // Sets the window up for a file of type `typeCode` (kPointFileType or kCameraFileType) and
  // loads `name` into the grid; an empty name gives an empty grid captioned "Untitled". Returns 1
  // when the window is ready, 0 after showing "Внутренняя ошибка. Обратитесь к разработчику." for
  // a file that cannot be read or does not fit the type.
  int OpenDataFile(const std::string& name, int typeCode);

  // The text of a cell, fixed row and column included (see the top of this file).
  QString Cell(int row, int col) const;
  // Writes a cell, as a key-less edit: it does not mark the data modified.
  void SetCell(int row, int col, const QString& text);
  // The number of grid rows, the fixed heading row included.
  int RowCount() const;
  // The number of grid columns, the fixed column included.
  int ColCount() const;
  // The current row (never a fixed row), addressed as the cells are.
  int Row() const;
  // Makes a value cell (row below the heading, col >= 1) the current one.
  void SetCurrentCell(int row, int col);

  int DataFileType = 0;      // kPointFileType or kCameraFileType, as given at opening
  std::string DataFileName;  // the path given at opening; saving elsewhere does not change it
  bool Modified = false;     // the grid holds changes not yet written to a file

  QTableWidget* StringGrid1 = nullptr;
  QToolBar* ToolBar1 = nullptr;
  QAction* ToolButton10 = nullptr;  // save
  QAction* ToolButton3 = nullptr;   // insert a row
  QAction* ToolButton5 = nullptr;   // append a row
  QAction* ToolButton1 = nullptr;   // delete a row
  QAction* ToolButton8 = nullptr;   // clear
  QAction* N3 = nullptr;            // "Файл" / "Сохранить" (Ctrl+S)
  QAction* N6 = nullptr;            // "Файл" / "Выход"
  // "Правка" and the grid's context menu.
  QAction* UndoAction = nullptr;        // "Отменить" (Ctrl+Z)
  QAction* RedoAction = nullptr;        // "Повторить" (Ctrl+Y, Ctrl+Shift+Z)
  QAction* CutAction = nullptr;         // "Вырезать" (Ctrl+X)
  QAction* CopyAction = nullptr;        // "Копировать" (Ctrl+C)
  QAction* PasteAction = nullptr;       // "Вставить" (Ctrl+V)
  QAction* ClearCellsAction = nullptr;  // "Очистить ячейки" (Delete)
  QAction* SelectAllAction = nullptr;   // "Выделить всё" (Ctrl+A)
  QUndoStack* UndoStack = nullptr;

 public slots:
  // Saves the grid: checks every value, asks for the file name (pre-filled with DataFileName)
  // and writes the file. Returns true only when the file was written; only then are the data
  // no longer modified.
  bool N3Click();
  void ToolButton10Click();
  // Closes the window, asking about unsaved changes.
  void N6Click();
  // Inserts an empty row at the current row, moving the rows from there down by one.
  void ToolButton3Click();
  // Appends an empty row.
  void ToolButton5Click();
  // Deletes the current row; a single row is only emptied.
  void ToolButton1Click();
  // Cuts the grid to one empty row.
  void ToolButton8Click();
  // Any key in the grid or in a cell being edited marks the data modified.
  void StringGrid1KeyDown();
  // The selected block (the current cell when nothing is selected) as tab-separated text on the
  // clipboard; Cut empties the block afterwards.
  void CopyCells();
  void CutCells();
  // Pastes tab-separated text from the clipboard with its first cell at the selection's top left
  // cell, adding rows as needed in the point mode; columns and camera rows beyond the grid's
  // are left out. One value pasted into a selected block fills the block.
  void PasteCells();
  // Pastes `text` as PasteCells does.
  void PasteText(const QString& text);
  // Empties the selected value cells.
  void ClearSelectedCells();
  // Undoes or redoes the last change to the cells (typed, pasted, emptied, or a row command).
  void Undo();
  void Redo();

 protected:
  // FormClose: with unsaved changes asks "Данные не сохранены. Сохранить?"; Yes saves and the
  // window stays open when nothing was written, No closes and discards.
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;
  // Opens inside the screen's available area, shrunk to fit it.
  void showEvent(QShowEvent* event) override;

 private:
  void CreateActions();
  void CreateMenus();
  void CreateToolBar();
  void CreateGrid();
  // The number of fixed rows above the data: 1 with the heading, 0 in the camera mode.
  int FixedRows() const;
  // Grid rows and columns are addressed as described at the top; these map to the table's items.
  QTableWidgetItem* ItemAt(int row, int col) const;
  void SetRowCount(int rows);
  void SetRowNumber(int row);
  void ClearValueCells(int row);
  void CopyValueCells(int fromRow, int toRow);
  // Writes the text of a cell that is being edited into the grid and closes its editor, as the
  // commands read and move the cells.
  void CommitOpenEditor();
  void ShowOpenFailure();
  Owner OwnerWindow();
  void ShowGridMenu(const QPoint& at);
  void MoveDown();

  // The value cells of the data rows, row by row, for undo and redo.
  struct GridContent {
    int rows = 0;
    QStringList values;
  };
  GridContent TakeContent() const;
  void RestoreContent(const GridContent& content);
  // Puts the change since the last recorded content on the undo stack under `name` (what
  // "Отменить" takes back); nothing when the cells did not change.
  void RecordChange(const QString& name);
  friend class GridChange;

  // Remembers what the file `path` holds now, to notice a change made by another program.
  void RememberDiskState(const QString& path);
  // True when the file `path` is the one remembered and has changed since.
  bool ChangedOnDisk(const QString& path) const;

  // Marks the window's own writes into the grid for its lifetime, as they are no user changes.
  class FillGuard {
   public:
    explicit FillGuard(bool& flag) : flag_(flag), old_(flag) { flag_ = true; }
    ~FillGuard() { flag_ = old_; }
    FillGuard(const FillGuard&) = delete;
    FillGuard& operator=(const FillGuard&) = delete;

   private:
    bool& flag_;
    bool old_;
  };

  UserInterface& ui_;
  CellEditDelegate* delegate_ = nullptr;
  ColumnSizer* columnSizer_ = nullptr;
  GridContent recorded_;
  QString diskPath_;       // the file last opened or written, as an absolute path
  QByteArray diskDigest_;  // a digest of its bytes then; empty when it did not exist
  bool fixedHeading_ = true;
  bool fillingGrid_ = false;
};

// Opens `path` in a new modeless editor window owned by the application and shows it; a file
// that cannot be opened is reported and no window is shown. Returns the window, or nullptr.
QWidget* OpenDataEditor(const std::string& path, int typeCode, UserInterface& ui);

// Releases every editor window opened by OpenDataEditor; called when the application ends.
void ReleaseDataEditors();

}  // namespace zelv
