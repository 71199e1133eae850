#include "app/windows/Edit.h"

#include <QClipboard>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMenuBar>
#include <QMouseEvent>
#include <QPointer>
#include <QShowEvent>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QToolBar>
#include <QUndoStack>
#include <algorithm>
#include <array>
#include <exception>
#include <functional>
#include <utility>
#include <vector>

#include "app/windows/editor_icons.h"
#include "app/windows/screen_fit.h"
#include "base/zelv_error.h"
#include "files/camera_file.h"
#include "files/editor_data.h"
#include "files/point_table.h"
#include "files/text_file.h"

namespace zelv {

namespace {

const char* const kPointHeading = " Реперные точки";
const char* const kCameraHeading = " Внутренняя геометрия";

// Window and grid set-up of the two modes (pixels).
constexpr int kLeft = 195;
constexpr int kTop = 244;
constexpr int kPointWidth = 300;
constexpr int kPointHeight = 500;
constexpr int kPointNumberWidth = 50;
constexpr int kPointValueWidth = 100;
constexpr int kPointRowHeight = 20;
constexpr int kCameraWidth = 520;
constexpr int kCameraHeight = 290;
constexpr int kCameraLabelWidth = 290;
constexpr int kCameraValueWidth = 200;
constexpr int kCameraRowHeight = 24;

QString ToQt(const std::string& text) { return QString::fromStdString(text); }

// A column is never dragged narrower than this (pixels).
constexpr int kNarrowestColumn = 16;
// How near a grid line the mouse must be to take it (pixels).
constexpr int kGripDistance = 3;

bool IsEnterKey(const QKeyEvent* key) {
  return (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
         !(key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::ShiftModifier));
}

// The digest of a file's bytes; empty when it cannot be read.
QByteArray FileDigest(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray();
  QCryptographicHash hash(QCryptographicHash::Sha256);
  if (!hash.addData(&file)) return QByteArray();
  return hash.result();
}

}  // namespace

QList<QStringList> ParseTabSeparated(const QString& text) {
  QList<QStringList> rows;
  QStringList row;
  QString cell;
  bool quoted = false;
  bool cellStarted = false;  // the current row has a cell or a separator so far
  for (qsizetype i = 0; i < text.size(); ++i) {
    const QChar c = text[i];
    if (quoted) {
      if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
        cell += '"';
        ++i;
      } else if (c == '"') {
        quoted = false;
      } else {
        cell += c;
      }
    } else if (c == '"' && cell.isEmpty()) {
      quoted = true;
      cellStarted = true;
    } else if (c == '\t') {
      row << cell;
      cell.clear();
      cellStarted = true;
    } else if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      row << cell;
      rows << row;
      row.clear();
      cell.clear();
      cellStarted = false;
    } else {
      cell += c;
      cellStarted = true;
    }
  }
  if (cellStarted || !cell.isEmpty()) {
    row << cell;
    rows << row;
  }
  return rows;
}

QString TabSeparated(const QList<QStringList>& rows) {
  QString text;
  for (const QStringList& row : rows) {
    QStringList cells;
    for (QString cell : row) {
      if (cell.contains('\t') || cell.contains('\n') || cell.contains('\r') ||
          cell.startsWith('"')) {
        cell.replace(QStringLiteral("\""), QStringLiteral("\"\""));
        cell = '"' + cell + '"';
      }
      cells << cell;
    }
    text += cells.join('\t') + '\n';
  }
  return text;
}

// One change to the cells, undone and redone by putting back the cells before or after it.
class GridChange : public QUndoCommand {
 public:
  GridChange(TRedForm& form, TRedForm::GridContent before, TRedForm::GridContent after,
             const QString& name)
      : QUndoCommand(name), form_(form), before_(std::move(before)), after_(std::move(after)) {}
  void undo() override { form_.RestoreContent(before_); }
  void redo() override {
    // Pushed after the change was made: the first redo has nothing to do.
    if (first_) {
      first_ = false;
      return;
    }
    form_.RestoreContent(after_);
  }

 private:
  TRedForm& form_;
  TRedForm::GridContent before_;
  TRedForm::GridContent after_;
  bool first_ = true;
};

// Lets the user drag the grid's column lines: the right edge of the fixed column (the vertical
// header) and the line right of each value column. The heading row's own sizing does the same
// in the point mode; without a heading row (the camera mode) this is the only way.
class ColumnSizer : public QObject {
 public:
  explicit ColumnSizer(QTableWidget* grid) : QObject(grid), grid_(grid) {
    grid_->viewport()->setMouseTracking(true);
    grid_->viewport()->installEventFilter(this);
    grid_->verticalHeader()->viewport()->setMouseTracking(true);
    grid_->verticalHeader()->viewport()->installEventFilter(this);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    const QEvent::Type type = event->type();
    if (type != QEvent::MouseMove && type != QEvent::MouseButtonPress &&
        type != QEvent::MouseButtonRelease && type != QEvent::MouseButtonDblClick)
      return false;
    auto* surface = qobject_cast<QWidget*>(watched);
    if (surface == nullptr) return false;
    const bool onHeader = surface == grid_->verticalHeader()->viewport();
    switch (type) {
      case QEvent::MouseMove: {
        const int x = static_cast<QMouseEvent*>(event)->position().toPoint().x();
        if (dragging_) {
          Resize(std::max(kNarrowestColumn, startWidth_ + Global(surface, x) - startX_));
          return true;
        }
        if (LineAt(onHeader, surface, x) != kNone)
          surface->setCursor(Qt::SplitHCursor);
        else
          surface->unsetCursor();
        return false;
      }
      case QEvent::MouseButtonPress: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton) return false;
        const int x = mouse->position().toPoint().x();
        column_ = LineAt(onHeader, surface, x);
        if (column_ == kNone) return false;
        dragging_ = true;
        startX_ = Global(surface, x);
        startWidth_ = column_ == kFixedColumn ? grid_->verticalHeader()->width()
                                              : grid_->columnWidth(column_);
        return true;
      }
      case QEvent::MouseButtonRelease:
      case QEvent::MouseButtonDblClick:
        if (!dragging_) return false;
        if (event->type() == QEvent::MouseButtonRelease) dragging_ = false;
        return true;
      default:
        return false;
    }
  }

 private:
  static constexpr int kNone = -2;
  static constexpr int kFixedColumn = -1;

  int Global(QWidget* surface, int x) const { return surface->mapToGlobal(QPoint(x, 0)).x(); }

  // The column whose right-hand line is at `x` of `surface`, kFixedColumn for the fixed column's.
  int LineAt(bool onHeader, QWidget* surface, int x) const {
    if (onHeader) return x >= surface->width() - kGripDistance ? kFixedColumn : kNone;
    if (grid_->verticalHeader()->isVisible() && x <= kGripDistance - 1) return kFixedColumn;
    for (int column = 0; column < grid_->columnCount(); ++column) {
      const int right = grid_->columnViewportPosition(column) + grid_->columnWidth(column);
      if (std::abs(x - right) <= kGripDistance) return column;
    }
    return kNone;
  }

  void Resize(int width) {
    if (column_ == kFixedColumn)
      grid_->verticalHeader()->setFixedWidth(width);
    else
      grid_->setColumnWidth(column_, width);
  }

  QTableWidget* grid_;
  bool dragging_ = false;
  int column_ = kNone;
  int startX_ = 0;
  int startWidth_ = 0;
};

// The grid's cell editor: reports every key that reaches an open editor (the delegate filters the
// editor's events before the editor sees them, so Tab, Enter and Escape are seen too) and can
// commit and close the open editor on demand.
class CellEditDelegate : public QStyledItemDelegate {
 public:
  CellEditDelegate(std::function<void()> onKey, std::function<void()> onEnter, QObject* parent)
      : QStyledItemDelegate(parent), onKey_(std::move(onKey)), onEnter_(std::move(onEnter)) {
    connect(this, &QAbstractItemDelegate::closeEditor, this, [this](QWidget* editor) {
      if (editor == editor_) editor_ = nullptr;
    });
  }

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    editor_ = editor;
    return editor;
  }

  // A cell editor is open (until its queued close has run).
  bool Editing() const { return editor_ != nullptr; }

  // Writes the open editor's text into its cell and closes the editor; nothing when none is
  // open. The view ignores an editor that it has already closed.
  void CommitAndClose() {
    QWidget* editor = editor_;
    editor_ = nullptr;
    if (editor == nullptr) return;
    emit commitData(editor);
    emit closeEditor(editor, QAbstractItemDelegate::NoHint);
  }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return QStyledItemDelegate::eventFilter(watched, event);
    onKey_();
    const bool enter = IsEnterKey(static_cast<QKeyEvent*>(event));
    const bool handled = QStyledItemDelegate::eventFilter(watched, event);
    // Enter commits the text through a queued call; the move down is queued after it.
    if (enter) QMetaObject::invokeMethod(this, onEnter_, Qt::QueuedConnection);
    return handled;
  }

 private:
  std::function<void()> onKey_;
  std::function<void()> onEnter_;
  mutable QPointer<QWidget> editor_;
};

TRedForm::TRedForm(UserInterface& ui, QWidget* parent) : QMainWindow(parent), ui_(ui) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle("Редактор");
  move(kLeft, kTop);
  setMinimumSize(300, 200);
  UndoStack = new QUndoStack(this);
  UndoStack->setUndoLimit(500);
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateGrid();
}

// The sizer watches the grid's parts: it goes before they do.
TRedForm::~TRedForm() { delete columnSizer_; }

void TRedForm::CreateActions() {
  auto make = [this](QAction*& action, const char* name, const QString& text, EditorIcon icon) {
    action = new QAction(MakeEditorIcon(icon), text, this);
    action->setObjectName(name);
    action->setToolTip(text);
  };
  make(ToolButton10, "ToolButton10", "Сохранить", EditorIcon::Save);
  make(ToolButton3, "ToolButton3", "Добавить", EditorIcon::InsertRow);
  make(ToolButton5, "ToolButton5", "Добавить в конец", EditorIcon::AppendRow);
  make(ToolButton1, "ToolButton1", "Удалить", EditorIcon::DeleteRow);
  make(ToolButton8, "ToolButton8", "Очистить", EditorIcon::Clear);
  connect(ToolButton10, &QAction::triggered, this, &TRedForm::ToolButton10Click);
  connect(ToolButton3, &QAction::triggered, this, &TRedForm::ToolButton3Click);
  connect(ToolButton5, &QAction::triggered, this, &TRedForm::ToolButton5Click);
  connect(ToolButton1, &QAction::triggered, this, &TRedForm::ToolButton1Click);
  connect(ToolButton8, &QAction::triggered, this, &TRedForm::ToolButton8Click);

  N3 = new QAction("Сохранить", this);
  N3->setObjectName("N3");
  N3->setShortcut(QKeySequence::Save);
  connect(N3, &QAction::triggered, this, &TRedForm::N3Click);
  N6 = new QAction("Выход", this);
  N6->setObjectName("N6");
  connect(N6, &QAction::triggered, this, &TRedForm::N6Click);

  auto edit = [this](QAction*& action, const char* name, const QString& text,
                     const QList<QKeySequence>& keys, void (TRedForm::*slot)()) {
    action = new QAction(text, this);
    action->setObjectName(name);
    action->setShortcuts(keys);
    // In the grid only: a cell being edited keeps these keys for its own text.
    action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
    if (slot != nullptr) connect(action, &QAction::triggered, this, slot);
  };
  edit(UndoAction, "UndoAction", "Отменить", QKeySequence::keyBindings(QKeySequence::Undo),
       &TRedForm::Undo);
  edit(RedoAction, "RedoAction", "Повторить",
       {QKeySequence(Qt::CTRL | Qt::Key_Y), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z)},
       &TRedForm::Redo);
  edit(CutAction, "CutAction", "Вырезать", QKeySequence::keyBindings(QKeySequence::Cut),
       &TRedForm::CutCells);
  edit(CopyAction, "CopyAction", "Копировать", QKeySequence::keyBindings(QKeySequence::Copy),
       &TRedForm::CopyCells);
  edit(PasteAction, "PasteAction", "Вставить", QKeySequence::keyBindings(QKeySequence::Paste),
       &TRedForm::PasteCells);
  edit(ClearCellsAction, "ClearCellsAction", "Очистить ячейки", {QKeySequence(Qt::Key_Delete)},
       &TRedForm::ClearSelectedCells);
  edit(SelectAllAction, "SelectAllAction", "Выделить всё",
       QKeySequence::keyBindings(QKeySequence::SelectAll), nullptr);
  UndoAction->setEnabled(false);
  RedoAction->setEnabled(false);
  connect(UndoStack, &QUndoStack::canUndoChanged, UndoAction, &QAction::setEnabled);
  connect(UndoStack, &QUndoStack::canRedoChanged, RedoAction, &QAction::setEnabled);
}

void TRedForm::CreateMenus() {
  QMenu* file = menuBar()->addMenu("&Файл");
  file->setObjectName("N1");
  file->addAction(N3);
  file->addSeparator();
  file->addAction(N6);

  QMenu* edit = menuBar()->addMenu("&Правка");
  edit->setObjectName("EditMenu");
  for (QAction* action : {UndoAction, RedoAction}) edit->addAction(action);
  edit->addSeparator();
  for (QAction* action : {CutAction, CopyAction, PasteAction, ClearCellsAction, SelectAllAction})
    edit->addAction(action);
}

void TRedForm::CreateToolBar() {
  ToolBar1 = addToolBar("ToolBar1");
  ToolBar1->setObjectName("ToolBar1");
  ToolBar1->setMovable(false);
  ToolBar1->setFloatable(false);
  ToolBar1->setIconSize(QSize(20, 20));
  ToolBar1->setContextMenuPolicy(Qt::PreventContextMenu);
  for (QAction* action : {ToolButton10, ToolButton3, ToolButton5, ToolButton1, ToolButton8}) {
    ToolBar1->addAction(action);
    if (QWidget* button = ToolBar1->widgetForAction(action)) {
      button->setObjectName(action->objectName());
    }
  }
  ToolBar1->insertSeparator(ToolButton3);
}

void TRedForm::CreateGrid() {
  StringGrid1 = new QTableWidget(this);
  StringGrid1->setObjectName("StringGrid1");
  StringGrid1->setShowGrid(true);
  // One rectangular block at a time, as spreadsheets select.
  StringGrid1->setSelectionMode(QAbstractItemView::ContiguousSelection);
  StringGrid1->setSelectionBehavior(QAbstractItemView::SelectItems);
  StringGrid1->setCornerButtonEnabled(false);
  StringGrid1->setWordWrap(false);
  // The fixed column (row numbers or camera labels) is the vertical header, the fixed heading row
  // the horizontal header: neither scrolls away nor can be edited.
  QHeaderView* columnZero = StringGrid1->verticalHeader();
  columnZero->setSectionResizeMode(QHeaderView::Fixed);
  columnZero->setSectionsClickable(false);
  columnZero->setMinimumSectionSize(12);
  columnZero->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  columnZero->setDefaultSectionSize(kPointRowHeight);
  QHeaderView* headingRow = StringGrid1->horizontalHeader();
  headingRow->setSectionResizeMode(QHeaderView::Interactive);
  headingRow->setSectionsClickable(false);
  headingRow->setHighlightSections(false);
  headingRow->setStretchLastSection(false);

  delegate_ =
      new CellEditDelegate([this] { StringGrid1KeyDown(); }, [this] { MoveDown(); }, StringGrid1);
  StringGrid1->setItemDelegate(delegate_);
  StringGrid1->installEventFilter(this);
  columnSizer_ = new ColumnSizer(StringGrid1);
  // A change committed from the cell editor without a key (pasted with the mouse) is a change
  // too; the window's own writes into the grid are excluded.
  connect(StringGrid1, &QTableWidget::itemChanged, this, [this] {
    if (fillingGrid_) return;
    Modified = true;
    RecordChange("ввод");
  });
  for (QAction* action : {UndoAction, RedoAction, CutAction, CopyAction, PasteAction,
                          ClearCellsAction, SelectAllAction})
    StringGrid1->addAction(action);
  connect(SelectAllAction, &QAction::triggered, StringGrid1, &QTableWidget::selectAll);
  StringGrid1->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(StringGrid1, &QWidget::customContextMenuRequested, this, &TRedForm::ShowGridMenu);
  setCentralWidget(StringGrid1);

  // Until a file is opened: one fixed row, one fixed column and one empty data row.
  const FillGuard guard(fillingGrid_);
  StringGrid1->setColumnCount(2);
  StringGrid1->setRowCount(1);
}

int TRedForm::FixedRows() const { return fixedHeading_ ? 1 : 0; }

int TRedForm::RowCount() const { return StringGrid1->rowCount() + FixedRows(); }

int TRedForm::ColCount() const { return StringGrid1->columnCount() + 1; }

int TRedForm::Row() const {
  const int current = StringGrid1->currentRow();
  return (current < 0 ? 0 : current) + FixedRows();
}

void TRedForm::SetCurrentCell(int row, int col) {
  const int tableRow = row - FixedRows();
  if (tableRow < 0 || tableRow >= StringGrid1->rowCount()) return;
  if (col < 1 || col >= ColCount()) return;
  // As a click on the cell: it alone is selected.
  StringGrid1->setCurrentCell(tableRow, col - 1, QItemSelectionModel::ClearAndSelect);
}

QTableWidgetItem* TRedForm::ItemAt(int row, int col) const {
  const int tableRow = row - FixedRows();
  if (col < 0 || col >= ColCount() || row < 0 || row >= RowCount()) return nullptr;
  if (tableRow < 0) return col == 0 ? nullptr : StringGrid1->horizontalHeaderItem(col - 1);
  if (col == 0) return StringGrid1->verticalHeaderItem(tableRow);
  return StringGrid1->item(tableRow, col - 1);
}

QString TRedForm::Cell(int row, int col) const {
  const QTableWidgetItem* item = ItemAt(row, col);
  return item ? item->text() : QString();
}

void TRedForm::SetCell(int row, int col, const QString& text) {
  if (col < 0 || col >= ColCount() || row < 0 || row >= RowCount()) return;
  const FillGuard guard(fillingGrid_);
  if (QTableWidgetItem* item = ItemAt(row, col)) {
    item->setText(text);
    return;
  }
  const int tableRow = row - FixedRows();
  if (tableRow < 0) {
    if (col > 0) StringGrid1->setHorizontalHeaderItem(col - 1, new QTableWidgetItem(text));
  } else if (col == 0) {
    StringGrid1->setVerticalHeaderItem(tableRow, new QTableWidgetItem(text));
  } else {
    StringGrid1->setItem(tableRow, col - 1, new QTableWidgetItem(text));
  }
}

void TRedForm::SetRowCount(int rows) {
  const FillGuard guard(fillingGrid_);
  StringGrid1->setRowCount(rows - FixedRows());
}

void TRedForm::SetRowNumber(int row) { SetCell(row, 0, QString::number(row)); }

void TRedForm::ClearValueCells(int row) {
  for (int col = 1; col < ColCount(); ++col) SetCell(row, col, QString());
}

void TRedForm::CopyValueCells(int fromRow, int toRow) {
  for (int col = 1; col < ColCount(); ++col) SetCell(toRow, col, Cell(fromRow, col));
}

void TRedForm::CommitOpenEditor() { delegate_->CommitAndClose(); }

Owner TRedForm::OwnerWindow() { return Owner{static_cast<void*>(static_cast<QWidget*>(this))}; }

void TRedForm::ShowOpenFailure() {
  ui_.ShowMessage("Внутренняя ошибка. Обратитесь к разработчику.", "Ошибка!", MessageIcon::None,
                  OwnerWindow());
}

int TRedForm::OpenDataFile(const std::string& name, int typeCode) {
  DataFileType = typeCode;
  DataFileName = name;
  const bool camera = typeCode == kCameraFileType;
  if (!camera && typeCode != kPointFileType) {
    ShowOpenFailure();
    return 0;
  }
  const std::string displayName = name.empty() ? std::string("Untitled") : FileNameOf(name);
  setWindowTitle(ToQt(displayName + (camera ? kCameraHeading : kPointHeading)));
  Modified = false;

  const FillGuard guard(fillingGrid_);
  StringGrid1->clear();
  QHeaderView* columnZero = StringGrid1->verticalHeader();
  try {
    if (camera) {
      resize(kCameraWidth, kCameraHeight);
      fixedHeading_ = false;
      StringGrid1->horizontalHeader()->hide();
      StringGrid1->setColumnCount(1);
      StringGrid1->setRowCount(kCameraLineCount);
      columnZero->setFixedWidth(kCameraLabelWidth);
      columnZero->setDefaultSectionSize(kCameraRowHeight);
      StringGrid1->setColumnWidth(0, kCameraValueWidth);
      for (int row = 0; row < kCameraLineCount; ++row) {
        SetCell(row, 0, ToQt(kCameraRowLabels[row]));
        SetCell(row, 1, QString());
      }
      if (!name.empty()) {
        const std::array<std::string, kCameraLineCount> values =
            CameraCellsFromLines(LoadTextLines(name));
        for (int row = 0; row < kCameraLineCount; ++row) SetCell(row, 1, ToQt(values[row]));
      }
    } else {
      resize(kPointWidth, kPointHeight);
      fixedHeading_ = true;
      StringGrid1->horizontalHeader()->show();
      StringGrid1->setColumnCount(2);
      StringGrid1->setHorizontalHeaderLabels({"x", "y"});
      columnZero->setFixedWidth(kPointNumberWidth);
      columnZero->setDefaultSectionSize(kPointRowHeight);
      StringGrid1->setColumnWidth(0, kPointValueWidth);
      StringGrid1->setColumnWidth(1, kPointValueWidth);
      std::vector<PointCells> rows;
      if (!name.empty()) rows = PointCellsFromLines(LoadTextLines(name));
      // An empty file opens like a new one, with one empty row: the heading never stands alone.
      SetRowCount(static_cast<int>(std::max<std::size_t>(rows.size(), 1)) + 1);
      for (int row = 1; row < RowCount(); ++row) {
        SetRowNumber(row);
        const bool hasValues = static_cast<std::size_t>(row) <= rows.size();
        SetCell(row, 1, hasValues ? ToQt(rows[row - 1].x) : QString());
        SetCell(row, 2, hasValues ? ToQt(rows[row - 1].y) : QString());
      }
    }
  } catch (const std::exception&) {
    ShowOpenFailure();
    return 0;
  }
  const bool rowCommands = !camera;
  for (QAction* action : {ToolButton3, ToolButton5, ToolButton1, ToolButton8}) {
    action->setEnabled(rowCommands);
  }
  StringGrid1->setCurrentCell(0, 0);
  UndoStack->clear();
  recorded_ = TakeContent();
  if (!name.empty()) RememberDiskState(ToQt(name));
  return 1;
}

void TRedForm::ToolButton3Click() {
  if (DataFileType != kPointFileType) return;
  CommitOpenEditor();
  const int current = Row();
  const int lastRow = RowCount();  // index of the row about to be added
  SetRowCount(lastRow + 1);
  for (int row = lastRow; row >= current + 1; --row) {
    CopyValueCells(row - 1, row);
    SetRowNumber(row);
  }
  ClearValueCells(current);
  Modified = true;
  RecordChange("добавление строки");
}

void TRedForm::ToolButton5Click() {
  if (DataFileType != kPointFileType) return;
  CommitOpenEditor();
  const int newRow = RowCount();
  SetRowCount(newRow + 1);
  SetRowNumber(newRow);
  ClearValueCells(newRow);
  Modified = true;
  RecordChange("добавление строки в конец");
}

void TRedForm::ToolButton1Click() {
  if (DataFileType != kPointFileType) return;
  CommitOpenEditor();
  const int lastRow = RowCount() - 1;
  if (lastRow == FixedRows()) {
    ClearValueCells(lastRow);
  } else {
    for (int row = Row(); row < lastRow; ++row) CopyValueCells(row + 1, row);
    SetRowCount(lastRow);
  }
  Modified = true;
  RecordChange("удаление строки");
}

void TRedForm::ToolButton8Click() {
  if (DataFileType != kPointFileType) return;
  CommitOpenEditor();
  SetRowCount(FixedRows() + 1);
  SetRowNumber(FixedRows());
  ClearValueCells(FixedRows());
  StringGrid1->setCurrentCell(0, 0);
  Modified = true;
  RecordChange("очистку таблицы");
}

void TRedForm::StringGrid1KeyDown() { Modified = true; }

bool TRedForm::N3Click() {
  CommitOpenEditor();
  const bool camera = DataFileType == kCameraFileType;
  std::vector<std::string> lines;
  try {
    if (camera) {
      std::array<std::string, kCameraLineCount> cells;
      for (int row = 0; row < kCameraLineCount; ++row) cells[row] = Cell(row, 1).toStdString();
      lines = CameraFileLines(cells);
    } else {
      std::vector<PointCells> rows;
      for (int row = FixedRows(); row < RowCount(); ++row) {
        rows.push_back({Cell(row, 1).toStdString(), Cell(row, 2).toStdString()});
      }
      lines = PointFileLines(rows);
    }
  } catch (const ZelvError& error) {
    ui_.ShowMessage(error.what(), "ZELV", MessageIcon::None, OwnerWindow());
    return false;
  }

  FileDialogRequest request;
  if (camera) {
    request.filters = {{"Cam Files (*.cam)", "*.cam"}, {"All Files (*)", "*"}};
    request.defaultSuffix = "cam";
  } else {
    request.filters = {{"Coordinate Files (*.crd)", "*.crd"}, {"All Files (*)", "*"}};
    request.defaultSuffix = "crd";
  }
  request.proposedName = DataFileName;
  request.owner = OwnerWindow();
  const std::optional<std::string> path = ui_.ChooseSaveFile(request);
  if (!path) return false;
  if (!camera && IsPointTableFile(*path)) {
    ui_.ShowMessage(kPointTableNotEdited, "Предупреждение!", MessageIcon::None, OwnerWindow());
    return false;
  }
  // Another program changed the file since this window read or wrote it: overwriting would lose
  // that change, so the user decides.
  if (ChangedOnDisk(ToQt(*path)) &&
      !ui_.AskYesNo(
          "Файл " + FileNameOf(*path) + " изменён другой программой после открытия. Перезаписать?",
          "Предупреждение", OwnerWindow()))
    return false;

  try {
    SaveTextLines(*path, lines);
  } catch (const TextEncodingError& error) {
    // The message names the character the file's code page cannot hold.
    ui_.ShowMessage("Ошибка записи файла " + *path + "!\n" + error.what(), "Ошибка!",
                    MessageIcon::Stop, OwnerWindow());
    return false;
  } catch (const ZelvError&) {
    ui_.ShowMessage("Ошибка записи файла " + *path + "!", "Ошибка!", MessageIcon::Stop,
                    OwnerWindow());
    return false;
  }
  RememberDiskState(ToQt(*path));
  Modified = false;
  return true;
}

void TRedForm::ToolButton10Click() { N3Click(); }

void TRedForm::N6Click() { close(); }

void TRedForm::closeEvent(QCloseEvent* event) {
  CommitOpenEditor();
  const Answer answer = Modified ? ui_.AskToSave("Данные не сохранены. Сохранить?",
                                                 "Предупреждение", DataFileName, OwnerWindow())
                                 : Answer::No;
  // Esc or the box's close button: no decision, so the data stay.
  if (answer == Answer::Cancel) {
    event->ignore();
    return;
  }
  if (answer == Answer::Yes) {
    // Nothing written (a value failed its check, the dialog was cancelled or the write failed):
    // the window stays open with its data rather than losing them.
    if (!N3Click()) {
      event->ignore();
      return;
    }
  }
  event->accept();
}

bool TRedForm::eventFilter(QObject* watched, QEvent* event) {
  // A key the open cell editor has had goes on to the grid when the editor leaves it (its line
  // edit leaves Enter): the delegate has counted it and queued the move down already, and a
  // second move would skip a row.
  if (watched == StringGrid1 && event->type() == QEvent::KeyPress && !delegate_->Editing()) {
    StringGrid1KeyDown();
    if (IsEnterKey(static_cast<QKeyEvent*>(event))) {
      MoveDown();
      return true;
    }
  }
  return QMainWindow::eventFilter(watched, event);
}

void TRedForm::MoveDown() {
  const int row = StringGrid1->currentRow();
  const int col = StringGrid1->currentColumn();
  if (row < 0 || col < 0) return;
  if (row + 1 < StringGrid1->rowCount()) StringGrid1->setCurrentCell(row + 1, col);
}

TRedForm::GridContent TRedForm::TakeContent() const {
  GridContent content;
  content.rows = RowCount() - FixedRows();
  for (int row = FixedRows(); row < RowCount(); ++row)
    for (int col = 1; col < ColCount(); ++col) content.values << Cell(row, col);
  return content;
}

void TRedForm::RestoreContent(const GridContent& content) {
  CommitOpenEditor();
  {
    const FillGuard guard(fillingGrid_);
    SetRowCount(FixedRows() + content.rows);
    qsizetype next = 0;
    for (int row = FixedRows(); row < RowCount(); ++row) {
      if (DataFileType == kPointFileType) SetRowNumber(row);
      for (int col = 1; col < ColCount(); ++col)
        SetCell(row, col, next < content.values.size() ? content.values[next++] : QString());
    }
  }
  recorded_ = content;
  Modified = true;
}

void TRedForm::RecordChange(const QString& name) {
  GridContent now = TakeContent();
  if (now.rows == recorded_.rows && now.values == recorded_.values) return;
  UndoStack->push(new GridChange(*this, recorded_, now, name));
  recorded_ = std::move(now);
}

void TRedForm::Undo() {
  CommitOpenEditor();
  UndoStack->undo();
}

void TRedForm::Redo() {
  CommitOpenEditor();
  UndoStack->redo();
}

void TRedForm::CopyCells() {
  CommitOpenEditor();
  QList<QTableWidgetSelectionRange> ranges = StringGrid1->selectedRanges();
  if (ranges.isEmpty()) {
    const int row = StringGrid1->currentRow();
    const int col = StringGrid1->currentColumn();
    if (row < 0 || col < 0) return;
    ranges << QTableWidgetSelectionRange(row, col, row, col);
  }
  const QTableWidgetSelectionRange& range = ranges.first();
  if (range.rowCount() == 1 && range.columnCount() == 1) {
    const QTableWidgetItem* item = StringGrid1->item(range.topRow(), range.leftColumn());
    QGuiApplication::clipboard()->setText(item ? item->text() : QString());
    return;
  }
  QList<QStringList> rows;
  for (int row = range.topRow(); row <= range.bottomRow(); ++row) {
    QStringList cells;
    for (int col = range.leftColumn(); col <= range.rightColumn(); ++col) {
      const QTableWidgetItem* item = StringGrid1->item(row, col);
      cells << (item ? item->text() : QString());
    }
    rows << cells;
  }
  QGuiApplication::clipboard()->setText(TabSeparated(rows));
}

void TRedForm::CutCells() {
  CopyCells();
  ClearSelectedCells();
}

void TRedForm::PasteCells() { PasteText(QGuiApplication::clipboard()->text()); }

void TRedForm::PasteText(const QString& text) {
  CommitOpenEditor();
  const QList<QStringList> block = ParseTabSeparated(text);
  if (block.isEmpty()) return;
  int top = StringGrid1->currentRow();
  int left = StringGrid1->currentColumn();
  QList<QTableWidgetSelectionRange> ranges = StringGrid1->selectedRanges();
  // The selected block counts when it holds the current cell; else the current cell alone.
  if (!ranges.isEmpty() &&
      (top < ranges.first().topRow() || top > ranges.first().bottomRow() ||
       left < ranges.first().leftColumn() || left > ranges.first().rightColumn()))
    ranges.clear();
  if (!ranges.isEmpty()) {
    top = ranges.first().topRow();
    left = ranges.first().leftColumn();
  }
  if (top < 0 || left < 0) return;
  const bool camera = DataFileType == kCameraFileType;
  {
    const FillGuard guard(fillingGrid_);
    if (block.size() == 1 && block.first().size() == 1 && !ranges.isEmpty() &&
        (ranges.first().rowCount() > 1 || ranges.first().columnCount() > 1)) {
      // One value into a selected block fills it.
      const QTableWidgetSelectionRange& range = ranges.first();
      for (int row = range.topRow(); row <= range.bottomRow(); ++row)
        for (int col = range.leftColumn(); col <= range.rightColumn(); ++col)
          SetCell(row + FixedRows(), col + 1, block.first().first());
    } else {
      int rows = static_cast<int>(block.size());
      if (camera) rows = std::min(rows, StringGrid1->rowCount() - top);
      if (!camera && top + rows > StringGrid1->rowCount()) {
        const int oldRows = RowCount();
        SetRowCount(FixedRows() + top + rows);
        for (int row = oldRows; row < RowCount(); ++row) SetRowNumber(row);
      }
      int widest = 0;
      for (int r = 0; r < rows; ++r) {
        const QStringList& cells = block[r];
        const int cols =
            std::min(static_cast<int>(cells.size()), StringGrid1->columnCount() - left);
        widest = std::max(widest, cols);
        for (int c = 0; c < cols; ++c) SetCell(top + r + FixedRows(), left + c + 1, cells[c]);
      }
      if (rows > 0 && widest > 0) {
        StringGrid1->clearSelection();
        StringGrid1->setCurrentCell(top, left);
        StringGrid1->setRangeSelected(
            QTableWidgetSelectionRange(top, left, top + rows - 1, left + widest - 1), true);
      }
    }
  }
  Modified = true;
  RecordChange("вставку");
}

void TRedForm::ClearSelectedCells() {
  CommitOpenEditor();
  QList<QTableWidgetSelectionRange> ranges = StringGrid1->selectedRanges();
  if (ranges.isEmpty() && StringGrid1->currentRow() >= 0 && StringGrid1->currentColumn() >= 0)
    ranges << QTableWidgetSelectionRange(StringGrid1->currentRow(), StringGrid1->currentColumn(),
                                         StringGrid1->currentRow(), StringGrid1->currentColumn());
  if (ranges.isEmpty()) return;
  {
    const FillGuard guard(fillingGrid_);
    for (const QTableWidgetSelectionRange& range : ranges)
      for (int row = range.topRow(); row <= range.bottomRow(); ++row)
        for (int col = range.leftColumn(); col <= range.rightColumn(); ++col)
          SetCell(row + FixedRows(), col + 1, QString());
  }
  Modified = true;
  RecordChange("очистку ячеек");
}

void TRedForm::ShowGridMenu(const QPoint& at) {
  // A right click outside the selection selects the cell under the mouse first.
  const QModelIndex index = StringGrid1->indexAt(at);
  if (index.isValid() && !StringGrid1->selectionModel()->isSelected(index))
    StringGrid1->setCurrentCell(index.row(), index.column());
  QMenu menu(this);
  for (QAction* action : {UndoAction, RedoAction}) menu.addAction(action);
  menu.addSeparator();
  for (QAction* action : {CutAction, CopyAction, PasteAction, ClearCellsAction})
    menu.addAction(action);
  if (DataFileType == kPointFileType) {
    menu.addSeparator();
    for (QAction* action : {ToolButton3, ToolButton5, ToolButton1, ToolButton8})
      menu.addAction(action);
  }
  menu.exec(StringGrid1->viewport()->mapToGlobal(at));
}

void TRedForm::RememberDiskState(const QString& path) {
  diskPath_ = QFileInfo(path).absoluteFilePath();
  diskDigest_ = FileDigest(path);
}

bool TRedForm::ChangedOnDisk(const QString& path) const {
  if (diskPath_.isEmpty() || QFileInfo(path).absoluteFilePath() != diskPath_) return false;
  const QByteArray now = FileDigest(path);
  // A file that is gone, or that cannot be read, has nothing of its own to lose.
  return !now.isEmpty() && now != diskDigest_;
}

namespace {

// The editors opened by OpenDataEditor: owned by the application and released when it ends.
std::vector<QPointer<TRedForm>>& OpenEditors() {
  static std::vector<QPointer<TRedForm>> editors;
  return editors;
}

}  // namespace

QWidget* OpenDataEditor(const std::string& path, int typeCode, UserInterface& ui) {
  auto* form = new TRedForm(ui);
  if (form->OpenDataFile(path, typeCode) != 1) {
    delete form;
    return nullptr;
  }
  static bool releaseAtQuit = false;
  if (!releaseAtQuit && QCoreApplication::instance() != nullptr) {
    QObject::connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit,
                     &ReleaseDataEditors);
    releaseAtQuit = true;
  }
  OpenEditors().push_back(form);
  form->show();
  return form;
}

void ReleaseDataEditors() {
  std::vector<QPointer<TRedForm>> editors;
  editors.swap(OpenEditors());
  for (const QPointer<TRedForm>& editor : editors) delete editor.data();
}

void TRedForm::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  FitToScreen(this);
}

}  // namespace zelv
