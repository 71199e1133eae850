#pragma once
// The data editor window for coordinate and camera files: a grid of the file's values that can be
// edited, extended by rows (coordinate files) and saved back with every value checked.
//
// Cells are addressed as the file's grid shows them: row 0 of a coordinate file is its heading
// ("", "x", "y") and rows 1..n its points; a camera file has no heading and its rows 0..7 are the
// file's lines. Column 0 holds the row numbers or the camera row labels, and the value columns
// follow from 1.

#include <QMainWindow>
#include <QString>
#include <string>

#include "base/user_interface.h"

class QAction;
class QCloseEvent;
class QTableWidget;
class QTableWidgetItem;
class QToolBar;

namespace zelv {

// Data file type codes of the editor.
inline constexpr int kPointFileType = 2;   // ".crd": image or scene control points
inline constexpr int kCameraFileType = 5;  // ".cam": interior geometry

class CellEditDelegate;

class TRedForm : public QMainWindow {
  Q_OBJECT

 public:
  // All messages and the save dialog go through `ui`, which must outlive the window.
  explicit TRedForm(UserInterface& ui, QWidget* parent = nullptr);

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
  QAction* N3 = nullptr;            // "Файл" / "Сохранить"
  QAction* N6 = nullptr;            // "Файл" / "Выход"

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

 protected:
  // FormClose: with unsaved changes asks "Данные не сохранены. Сохранить?"; Yes saves and the
  // window stays open when nothing was written, No closes and discards.
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

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
  bool fixedHeading_ = true;
  bool fillingGrid_ = false;
};

// Opens `path` in a new modeless editor window owned by the application and shows it; a file
// that cannot be opened is reported and no window is shown. Returns the window, or nullptr.
QWidget* OpenDataEditor(const std::string& path, int typeCode, UserInterface& ui);

// Releases every editor window opened by OpenDataEditor; called when the application ends.
void ReleaseDataEditors();

}  // namespace zelv
