#include "app/windows/Edit.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEvent>
#include <QHeaderView>
#include <QMenuBar>
#include <QPointer>
#include <QStyledItemDelegate>
#include <QTableWidget>
#include <QToolBar>
#include <algorithm>
#include <array>
#include <exception>
#include <functional>
#include <utility>
#include <vector>

#include "app/windows/editor_icons.h"
#include "base/zelv_error.h"
#include "files/camera_file.h"
#include "files/editor_data.h"
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

}  // namespace

// The grid's cell editor: reports every key that reaches an open editor (the delegate filters the
// editor's events before the editor sees them, so Tab, Enter and Escape are seen too) and can
// commit and close the open editor on demand.
class CellEditDelegate : public QStyledItemDelegate {
 public:
  CellEditDelegate(std::function<void()> onKey, QObject* parent)
      : QStyledItemDelegate(parent), onKey_(std::move(onKey)) {
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
    if (event->type() == QEvent::KeyPress) onKey_();
    return QStyledItemDelegate::eventFilter(watched, event);
  }

 private:
  std::function<void()> onKey_;
  mutable QPointer<QWidget> editor_;
};

TRedForm::TRedForm(UserInterface& ui, QWidget* parent) : QMainWindow(parent), ui_(ui) {
  setAttribute(Qt::WA_DeleteOnClose, false);
  setWindowTitle("Редактор");
  move(kLeft, kTop);
  setMinimumSize(300, 200);
  CreateActions();
  CreateMenus();
  CreateToolBar();
  CreateGrid();
}

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
  connect(N3, &QAction::triggered, this, &TRedForm::N3Click);
  N6 = new QAction("Выход", this);
  N6->setObjectName("N6");
  connect(N6, &QAction::triggered, this, &TRedForm::N6Click);
}

void TRedForm::CreateMenus() {
  QMenu* file = menuBar()->addMenu("Файл");
  file->setObjectName("N1");
  file->addAction(N3);
  file->addSeparator();
  file->addAction(N6);
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
  StringGrid1->setSelectionMode(QAbstractItemView::SingleSelection);
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

  delegate_ = new CellEditDelegate([this] { StringGrid1KeyDown(); }, StringGrid1);
  StringGrid1->setItemDelegate(delegate_);
  StringGrid1->installEventFilter(this);
  // A change committed from the cell editor without a key (pasted with the mouse) is a change
  // too; the window's own writes into the grid are excluded.
  connect(StringGrid1, &QTableWidget::itemChanged, this, [this] {
    if (!fillingGrid_) Modified = true;
  });
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
  StringGrid1->setCurrentCell(tableRow, col - 1);
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
}

void TRedForm::ToolButton5Click() {
  if (DataFileType != kPointFileType) return;
  CommitOpenEditor();
  const int newRow = RowCount();
  SetRowCount(newRow + 1);
  SetRowNumber(newRow);
  ClearValueCells(newRow);
  Modified = true;
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
}

void TRedForm::ToolButton8Click() {
  if (DataFileType != kPointFileType) return;
  CommitOpenEditor();
  SetRowCount(FixedRows() + 1);
  SetRowNumber(FixedRows());
  ClearValueCells(FixedRows());
  StringGrid1->setCurrentCell(0, 0);
  Modified = true;
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
  Modified = false;
  return true;
}

void TRedForm::ToolButton10Click() { N3Click(); }

void TRedForm::N6Click() { close(); }

void TRedForm::closeEvent(QCloseEvent* event) {
  CommitOpenEditor();
  if (Modified &&
      ui_.AskYesNo("Данные не сохранены. Сохранить?", "Предупреждение", OwnerWindow())) {
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
  if (watched == StringGrid1 && event->type() == QEvent::KeyPress) StringGrid1KeyDown();
  return QMainWindow::eventFilter(watched, event);
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

}  // namespace zelv
