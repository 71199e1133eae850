#include "app/windows/photo_window.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDoubleSpinBox>
#include <QFileInfo>
#include <QGraphicsScene>
#include <QHeaderView>
#include <QImageReader>
#include <QInputDialog>
#include <QItemSelectionModel>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QShowEvent>
#include <QSpinBox>
#include <QSplitter>
#include <QStatusBar>
#include <QTableView>
#include <QToolBar>
#include <QUndoStack>
#include <algorithm>
#include <cmath>

#include "app/windows/photo_chessboard_dialog.h"
#include "app/windows/photo_corners.h"
#include "app/windows/photo_items.h"
#include "app/windows/photo_point_model.h"
#include "app/windows/photo_view.h"
#include "app/windows/screen_fit.h"
#include "base/number_text.h"
#include "base/zelv_error.h"
#include "files/text_file.h"
#include "targets/target_detection.h"

namespace zelv {
namespace {

const char kUnsavedQuestion[] = "Данные не сохранены. Сохранить?";
const char kUnsavedCaption[] = "Предупреждение";

// How finely a position is known, in photograph pixels: a click or a drag to a hundredth (a
// screen pixel at the largest zoom is 1/64), a corner found on the picture to a thousandth. The
// file then holds what was measured, not the binary noise of the conversions.
constexpr double kPointedStep = 0.01;
constexpr double kCornerStep = 0.001;

PixelPoint Measured(PixelPoint at, double step) {
  return PixelPoint{std::round(at.x / step) * step, std::round(at.y / step) * step};
}
constexpr int kNudgeMergeKey = 1;
constexpr int kPhotoAllocationLimitMb = 2048;  // a 50-megapixel photograph needs 200 MB

FileDialogRequest CrdRequest(const std::string& proposed, const std::string& folder, Owner owner) {
  FileDialogRequest request;
  request.filters = {{"Файлы координат (*.crd)", "*.crd"}, {"Все файлы (*)", "*"}};
  request.defaultSuffix = "crd";
  request.proposedName = proposed;
  request.startFolder = folder;
  request.owner = owner;
  return request;
}

}  // namespace

PhotoWindow::PhotoWindow(UserInterface& ui, QWidget* owner)
    : QMainWindow(owner, Qt::Window), ui_(ui) {
  setObjectName(QStringLiteral("PhotoWindow"));
  setAttribute(Qt::WA_DeleteOnClose, false);

  Scene = new QGraphicsScene(this);
  // Items are few and move; the index would only cost time on every drag.
  Scene->setItemIndexMethod(QGraphicsScene::NoIndex);
  View = new PhotoView;
  View->setScene(Scene);
  overlayItem_ = new PhotoOverlayItem;
  Scene->addItem(overlayItem_);

  Model = new PhotoPointModel(this);
  Model->SetDecimalSeparator(RegionalDecimalSeparator());
  List = new QTableView;
  List->setObjectName(QStringLiteral("PhotoPointList"));
  List->setModel(Model);
  List->setSelectionBehavior(QAbstractItemView::SelectRows);
  List->setSelectionMode(QAbstractItemView::ExtendedSelection);
  List->verticalHeader()->hide();
  List->verticalHeader()->setDefaultSectionSize(List->fontMetrics().height() + 4);
  List->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  List->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  List->setMinimumWidth(220);
  View->setMinimumWidth(320);

  auto* splitter = new QSplitter(Qt::Horizontal);
  splitter->addWidget(View);
  splitter->addWidget(List);
  splitter->setStretchFactor(0, 4);
  splitter->setStretchFactor(1, 1);
  splitter->setChildrenCollapsible(false);
  splitter->setSizes({840, 260});
  setCentralWidget(splitter);

  UndoStack = new QUndoStack(this);
  CreateActions();
  CreateMenus();

  ResidualLegend = new QLabel;
  ResidualLegend->setObjectName(QStringLiteral("ResidualLegend"));
  CursorLabel = new QLabel;
  ScaleLabel = new QLabel;
  statusBar()->addWidget(CursorLabel, 1);
  statusBar()->addPermanentWidget(ResidualLegend);
  statusBar()->addPermanentWidget(ScaleLabel);

  connect(View, &PhotoView::AddRequested, this, [this](QPointF at, bool refine) {
    AddPoint(Measured(PixelPoint{at.x(), at.y()}, kPointedStep), refine);
  });
  connect(View, &PhotoView::NudgeRequested, this, &PhotoWindow::NudgeSelected);
  connect(View, &PhotoView::PointsDragged, this, &PhotoWindow::TakeDraggedPositions);
  connect(View, &PhotoView::CursorMoved, this, [this](QPointF at) {
    const char separator = RegionalDecimalSeparator();
    CursorLabel->setText(QStringLiteral("x: %1   y: %2 пикс.")
                             .arg(QString::fromStdString(FormatFixed4(at.x(), separator)),
                                  QString::fromStdString(FormatFixed4(at.y(), separator))));
  });
  connect(View, &PhotoView::ScaleChanged, this, [this](double scale) {
    ScaleLabel->setText(
        QStringLiteral("Масштаб: %1 %").arg(scale * 100, 0, 'f', scale < 0.1 ? 1 : 0));
  });
  connect(Scene, &QGraphicsScene::selectionChanged, this, &PhotoWindow::SyncSelectionFromScene);
  connect(List->selectionModel(), &QItemSelectionModel::selectionChanged, this,
          &PhotoWindow::SyncSelectionFromList);
  connect(UndoStack, &QUndoStack::cleanChanged, this, &PhotoWindow::UpdateTitle);

  resize(1100, 760);
  UpdateTitle();
  UpdateActions();
}

PhotoWindow::~PhotoWindow() {
  // The scene deletes the items and the undo stack its commands after this body, signalling as
  // they go: nothing of this window may be reached then.
  disconnect(Scene, nullptr, this, nullptr);
  disconnect(UndoStack, nullptr, this, nullptr);
  items_.clear();
}

void PhotoWindow::CreateActions() {
  auto make = [this](const char* name, const QString& text, QKeySequence shortcut = {}) {
    auto* action = new QAction(text, this);
    action->setObjectName(QString::fromLatin1(name));
    if (!shortcut.isEmpty()) action->setShortcut(shortcut);
    addAction(action);
    return action;
  };
  OpenPointsAction = make("PhotoOpenPoints", QStringLiteral("Открыть точки..."));
  connect(OpenPointsAction, &QAction::triggered, this, &PhotoWindow::OpenPointsClick);
  SaveAction = make("PhotoSave", QStringLiteral("Сохранить"), QKeySequence::Save);
  connect(SaveAction, &QAction::triggered, this, [this] { Save(); });
  SaveAsAction = make("PhotoSaveAs", QStringLiteral("Сохранить как..."));
  connect(SaveAsAction, &QAction::triggered, this, [this] { SaveAs(); });
  CloseAction = make("PhotoClose", QStringLiteral("Закрыть"));
  connect(CloseAction, &QAction::triggered, this, &QWidget::close);

  UndoAction = UndoStack->createUndoAction(this, QStringLiteral("Отменить"));
  UndoAction->setObjectName(QStringLiteral("PhotoUndo"));
  UndoAction->setShortcut(QKeySequence::Undo);
  RedoAction = UndoStack->createRedoAction(this, QStringLiteral("Повторить"));
  RedoAction->setObjectName(QStringLiteral("PhotoRedo"));
  RedoAction->setShortcuts({QKeySequence::Redo, QKeySequence(Qt::CTRL | Qt::Key_Y)});
  addAction(UndoAction);
  addAction(RedoAction);

  AddModeAction =
      make("PhotoAddMode", QStringLiteral("Добавлять точки щелчком"), QKeySequence(Qt::Key_A));
  AddModeAction->setCheckable(true);
  AddModeAction->setToolTip(
      QStringLiteral("Щелчок ставит точку; без этого режима — Ctrl+щелчок. С Shift точка "
                     "ставится в уточнённый угол."));
  connect(AddModeAction, &QAction::toggled, this, [this](bool on) { View->SetAddingMode(on); });
  DeleteAction = make("PhotoDelete", QStringLiteral("Удалить точку"), QKeySequence::Delete);
  connect(DeleteAction, &QAction::triggered, this, &PhotoWindow::DeleteSelected);
  RenumberAction = make("PhotoRenumber", QStringLiteral("Перенумеровать..."),
                        QKeySequence(Qt::CTRL | Qt::Key_N));
  connect(RenumberAction, &QAction::triggered, this, &PhotoWindow::RenumberClick);
  RefineAction =
      make("PhotoRefine", QStringLiteral("Уточнить по углу"), QKeySequence(Qt::CTRL | Qt::Key_R));
  connect(RefineAction, &QAction::triggered, this, &PhotoWindow::RefineSelected);
  ChessboardAction = make("PhotoChessboard", QStringLiteral("Найти шахматную мишень..."));
  connect(ChessboardAction, &QAction::triggered, this, &PhotoWindow::ChessboardClick);
  TargetAction = make("PhotoTarget", QStringLiteral("Найти мишень..."));
  connect(TargetAction, &QAction::triggered, this, &PhotoWindow::TargetClick);
  OrientAction = make("PhotoOrient", QStringLiteral("Ориентация"));
  OrientAction->setShortcuts({QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)});
  connect(OrientAction, &QAction::triggered, this, &PhotoWindow::OrientClick);

  ZoomInAction = make("PhotoZoomIn", QStringLiteral("Увеличить"), QKeySequence::ZoomIn);
  connect(ZoomInAction, &QAction::triggered, View, &PhotoView::ZoomIn);
  ZoomOutAction = make("PhotoZoomOut", QStringLiteral("Уменьшить"), QKeySequence::ZoomOut);
  connect(ZoomOutAction, &QAction::triggered, View, &PhotoView::ZoomOut);
  FitAction = make("PhotoFit", QStringLiteral("По размеру окна"), QKeySequence(Qt::Key_0));
  connect(FitAction, &QAction::triggered, View, &PhotoView::FitToWindow);
  ActualSizeAction = make("PhotoActualSize", QStringLiteral("1:1"), QKeySequence(Qt::Key_1));
  connect(ActualSizeAction, &QAction::triggered, View, &PhotoView::ActualSize);
}

void PhotoWindow::CreateMenus() {
  QMenu* file = menuBar()->addMenu(QStringLiteral("&Файл"));
  file->addAction(OpenPointsAction);
  file->addAction(SaveAction);
  file->addAction(SaveAsAction);
  file->addSeparator();
  file->addAction(CloseAction);
  QMenu* edit = menuBar()->addMenu(QStringLiteral("&Правка"));
  edit->addAction(UndoAction);
  edit->addAction(RedoAction);
  edit->addSeparator();
  edit->addAction(AddModeAction);
  edit->addAction(DeleteAction);
  edit->addAction(RenumberAction);
  edit->addAction(RefineAction);
  edit->addSeparator();
  edit->addAction(ChessboardAction);
  edit->addAction(TargetAction);
  QMenu* view = menuBar()->addMenu(QStringLiteral("&Вид"));
  view->addAction(ZoomInAction);
  view->addAction(ZoomOutAction);
  view->addAction(FitAction);
  view->addAction(ActualSizeAction);
  QMenu* command = menuBar()->addMenu(QStringLiteral("Счёт"));
  command->addAction(OrientAction);

  QToolBar* tools = addToolBar(QStringLiteral("Снимок"));
  tools->setObjectName(QStringLiteral("PhotoToolBar"));
  tools->setMovable(false);
  // The two zooms first: a narrow window moves the tool bar's last buttons into its overflow
  // menu, and these are the ones wanted at any moment.
  tools->addAction(FitAction);
  tools->addAction(ActualSizeAction);
  tools->addSeparator();
  for (QAction* action : {SaveAction, UndoAction, RedoAction, AddModeAction, DeleteAction,
                          RefineAction, ChessboardAction})
    tools->addAction(action);
}

// ---------------------------------------------------------------- opening

bool PhotoWindow::OpenPhoto(const std::string& photoFile, const std::string& pointsFile) {
  if (!MaybeSave()) return false;
  QImage photo;
  {
    TWaitCursor busy(ui_);
    QImageReader::setAllocationLimit(kPhotoAllocationLimitMb);
    QImageReader reader(QString::fromStdString(photoFile));
    // Measured pixels are those stored in the file: no turning by the camera's orientation tag.
    reader.setAutoTransform(false);
    photo = reader.read();
    if (photo.isNull()) {
      ui_.ShowMessage(
          "Не удалось открыть снимок " + photoFile + ": " + reader.errorString().toStdString(),
          "Ошибка!", MessageIcon::None, SelfOwner());
      return false;
    }
  }
  photo_ = photo;
  grey_ = QImage();
  photoFile_ = photoFile;
  delete imageItem_;
  {
    TWaitCursor busy(ui_);
    imageItem_ = new PhotoImageItem(photo_);
  }
  Scene->addItem(imageItem_);
  Scene->setSceneRect(
      imageItem_->boundingRect().adjusted(-photo_.width() * 0.25, -photo_.height() * 0.25,
                                          photo_.width() * 0.25, photo_.height() * 0.25));
  UndoStack->clear();
  pointsFile_ = pointsFile;
  sceneFile_.clear();
  savedScene_.reset();
  PhotoEdit loaded;
  if (!pointsFile.empty() && FileExists(pointsFile)) {
    try {
      loaded.points = ReadPointFile(pointsFile);
    } catch (const ZelvError& error) {
      ui_.ShowMessage(error.what(), "Ошибка!", MessageIcon::None, SelfOwner());
    }
  }
  Apply(loaded);
  View->FitToWindow();
  UpdateTitle();
  return true;
}

bool PhotoWindow::OpenPoints(const std::string& pointsFile) {
  if (!MaybeSave()) return false;
  PhotoEdit loaded;
  try {
    loaded.points = ReadPointFile(pointsFile);
  } catch (const ZelvError& error) {
    ui_.ShowMessage(error.what(), "Ошибка!", MessageIcon::None, SelfOwner());
    return false;
  }
  UndoStack->clear();
  pointsFile_ = pointsFile;
  sceneFile_.clear();
  savedScene_.reset();
  Apply(loaded);
  UpdateTitle();
  return true;
}

void PhotoWindow::OpenPointsClick() {
  const std::optional<std::string> chosen =
      ui_.ChooseOpenFile(CrdRequest("", FolderOf(pointsFile_), SelfOwner()));
  if (chosen) OpenPoints(*chosen);
}

// ---------------------------------------------------------------- showing

bool PhotoWindow::Modified() const { return !UndoStack->isClean(); }

void PhotoWindow::UpdateTitle() {
  QString title = QStringLiteral("Снимок");
  if (!photoFile_.empty())
    title += QStringLiteral(" — ") + QString::fromStdString(FileNameOf(photoFile_));
  if (!pointsFile_.empty())
    title += QStringLiteral(" — ") + QString::fromStdString(FileNameOf(pointsFile_));
  setWindowTitle(title + QStringLiteral("[*]"));
  setWindowModified(Modified());
}

void PhotoWindow::UpdateActions() {
  const bool selected = !SelectedPoints().empty();
  DeleteAction->setEnabled(selected);
  RenumberAction->setEnabled(SelectedPoints().size() == 1);
  RefineAction->setEnabled(selected && !photo_.isNull());
  ChessboardAction->setEnabled(!photo_.isNull());
}

void PhotoWindow::Apply(const PhotoEdit& edit) {
  edit_ = edit;
  RebuildItems();
  Model->SetPoints(edit_.points);
  UpdateTitle();
  UpdateActions();
}

void PhotoWindow::RebuildItems() {
  const std::vector<int> selected = SelectedPoints();
  syncing_ = true;
  while (items_.size() > edit_.points.size()) {
    delete items_.back();
    items_.pop_back();
  }
  while (items_.size() < edit_.points.size()) {
    auto* item = new PhotoPointItem(static_cast<int>(items_.size()) + 1);
    Scene->addItem(item);
    items_.push_back(item);
  }
  std::vector<bool> flagged(items_.size(), false);
  if (overlay_)
    for (const OverlayPoint& p : overlay_->points)
      if ((p.flagged || p.outlier) && p.number >= 1 && p.number <= static_cast<int>(flagged.size()))
        flagged[static_cast<std::size_t>(p.number - 1)] = true;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const QPointF at(edit_.points[i].x, edit_.points[i].y);
    if (items_[i]->pos() != at) items_[i]->setPos(at);
    items_[i]->SetFlagged(flagged[i]);
  }
  syncing_ = false;
  // The selection follows the numbers where they still exist.
  for (PhotoPointItem* item : items_)
    item->setSelected(std::find(selected.begin(), selected.end(), item->Number()) !=
                      selected.end());
}

void PhotoWindow::ShowOverlay(const std::optional<PhotoOverlay>& overlay) {
  overlay_ = overlay;
  const QRectF frame = imageItem_ != nullptr ? imageItem_->boundingRect() : QRectF();
  overlayItem_->SetOverlay(overlay_, frame);
  Model->SetOverlay(overlay_);
  RebuildItems();
  if (overlay_) {
    const char separator = RegionalDecimalSeparator();
    // Measured on the photograph (raw pixels), not in the corrected frame of the residuals
    // window, whose largest residual differs by the lens correction.
    ResidualLegend->setText(
        QStringLiteral("Невязки ×%1 (наибольшая на снимке %2 пикс.)")
            .arg(QString::fromStdString(FormatGeneral(overlay_->magnification, separator)),
                 QString::fromStdString(FormatFixed4(overlay_->largest, separator))));
  } else {
    ResidualLegend->clear();
  }
  // The status bar lays its widgets out later; the legend must not be squeezed to a letter.
  ResidualLegend->setMinimumWidth(ResidualLegend->sizeHint().width());
}

std::vector<int> PhotoWindow::SelectedPoints() const {
  std::vector<int> numbers;
  for (PhotoPointItem* item : items_)
    if (item->isSelected()) numbers.push_back(item->Number());
  return numbers;
}

void PhotoWindow::SelectPoint(int number) {
  if (number < 0 || number > static_cast<int>(items_.size())) return;
  const std::vector<int> current = SelectedPoints();
  if (current.size() == 1 && current[0] == number) return;
  Scene->clearSelection();
  if (number == 0) return;
  items_[static_cast<std::size_t>(number - 1)]->setSelected(true);
  View->ensureVisible(items_[static_cast<std::size_t>(number - 1)]->pos().x(),
                      items_[static_cast<std::size_t>(number - 1)]->pos().y(), 1, 1, 80, 80);
}

void PhotoWindow::SyncSelectionFromScene() {
  if (syncing_) return;
  syncing_ = true;
  QItemSelection selection;
  for (PhotoPointItem* item : items_)
    if (item->isSelected())
      selection.select(Model->index(item->Number() - 1, 0),
                       Model->index(item->Number() - 1, Model->columnCount() - 1));
  List->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect);
  const std::vector<int> numbers = SelectedPoints();
  if (!numbers.empty()) List->scrollTo(Model->index(numbers.front() - 1, 0));
  syncing_ = false;
  UpdateActions();
  const int first = numbers.empty() ? 0 : numbers.front();
  if (first != lastSelected_) {
    lastSelected_ = first;
    emit PointSelected(first);
  }
}

void PhotoWindow::SyncSelectionFromList() {
  if (syncing_) return;
  syncing_ = true;
  std::vector<bool> chosen(items_.size(), false);
  for (const QModelIndex& row : List->selectionModel()->selectedRows())
    if (row.row() < static_cast<int>(chosen.size()))
      chosen[static_cast<std::size_t>(row.row())] = true;
  for (std::size_t i = 0; i < items_.size(); ++i) items_[i]->setSelected(chosen[i]);
  syncing_ = false;
  const std::vector<int> numbers = SelectedPoints();
  if (numbers.size() == 1)
    View->ensureVisible(items_[static_cast<std::size_t>(numbers[0] - 1)]->pos().x(),
                        items_[static_cast<std::size_t>(numbers[0] - 1)]->pos().y(), 1, 1, 80, 80);
  UpdateActions();
  const int first = numbers.empty() ? 0 : numbers.front();
  if (first != lastSelected_) {
    lastSelected_ = first;
    emit PointSelected(first);
  }
}

// ---------------------------------------------------------------- editing

void PhotoWindow::Push(const QString& text, PhotoEdit after, int mergeKey) {
  UndoStack->push(new PhotoEditCommand(
      text, edit_, std::move(after), [this](const PhotoEdit& edit) { Apply(edit); }, mergeKey));
}

const QImage& PhotoWindow::Grey() {
  if (grey_.isNull() && !photo_.isNull()) grey_ = GreyOf(photo_);
  return grey_;
}

void PhotoWindow::AddPoint(PixelPoint at, bool refine) {
  if (photo_.isNull()) return;
  const QRectF photo(-0.5, -0.5, photo_.width(), photo_.height());
  if (!photo.contains(QPointF(at.x, at.y))) {
    statusBar()->showMessage(QStringLiteral("Точка вне снимка не ставится."), 4000);
    return;
  }
  if (refine) {
    if (const std::optional<PixelPoint> corner = RefineCorner(Grey(), at))
      at = Measured(*corner, kCornerStep);
    else
      statusBar()->showMessage(
          QStringLiteral("Угол рядом не найден: точка поставлена, где был щелчок."), 4000);
  }
  PhotoEdit after = edit_;
  after.points = WithPointAdded(edit_.points, at);
  Push(QStringLiteral("Добавление точки"), std::move(after));
  SelectPoint(static_cast<int>(edit_.points.size()));
  // The list lays its new row out only later: scrolled now, it would stop a row short of it.
  List->doItemsLayout();
  List->scrollTo(Model->index(static_cast<int>(edit_.points.size()) - 1, 0));
}

void PhotoWindow::DeleteSelected() {
  const std::vector<int> numbers = SelectedPoints();
  if (numbers.empty()) return;
  std::vector<std::size_t> indexes;
  for (int n : numbers) indexes.push_back(static_cast<std::size_t>(n - 1));
  PhotoEdit after = edit_;
  after.points = WithPointsRemoved(edit_.points, indexes);
  Scene->clearSelection();
  Push(numbers.size() == 1 ? QStringLiteral("Удаление точки") : QStringLiteral("Удаление точек"),
       std::move(after));
}

void PhotoWindow::NudgeSelected(double dx, double dy) {
  const std::vector<int> numbers = SelectedPoints();
  if (numbers.empty()) return;
  PhotoEdit after = edit_;
  for (int n : numbers)
    after.points = WithPointShifted(after.points, static_cast<std::size_t>(n - 1), dx, dy);
  // Presses on the same points make one step, so one undo takes back the whole nudge.
  unsigned key = kNudgeMergeKey;
  for (int n : numbers) key = key * 31u + static_cast<unsigned>(n);
  Push(QStringLiteral("Сдвиг точки"), std::move(after), static_cast<int>(key % 1000000u) + 1);
}

void PhotoWindow::TakeDraggedPositions() {
  PhotoEdit after = edit_;
  bool moved = false;
  for (std::size_t i = 0; i < items_.size(); ++i) {
    const PixelPoint at{items_[i]->pos().x(), items_[i]->pos().y()};
    // Only the dragged points are taken, to what a drag measures; the others keep their digits.
    if (!(at == after.points[i])) {
      after.points = WithPointMoved(after.points, i, Measured(at, kPointedStep));
      moved = true;
    }
  }
  if (moved) Push(QStringLiteral("Перемещение точки"), std::move(after));
}

void PhotoWindow::RenumberSelected(int newNumber) {
  const std::vector<int> numbers = SelectedPoints();
  if (numbers.size() != 1 || newNumber < 1 || newNumber > static_cast<int>(edit_.points.size()) ||
      newNumber == numbers[0])
    return;
  PhotoEdit after = edit_;
  after.points = WithPointRenumbered(edit_.points, static_cast<std::size_t>(numbers[0] - 1),
                                     static_cast<std::size_t>(newNumber - 1));
  Push(QStringLiteral("Перенумерация точки"), std::move(after));
  SelectPoint(newNumber);
}

void PhotoWindow::RenumberClick() {
  const std::vector<int> numbers = SelectedPoints();
  if (numbers.size() != 1) return;
  QInputDialog dialog(this);
  dialog.setObjectName(QStringLiteral("PhotoRenumberDialog"));
  dialog.setWindowTitle(QStringLiteral("Перенумеровать"));
  dialog.setLabelText(
      QStringLiteral("Новый номер точки %1 (точки между сдвинутся):").arg(numbers[0]));
  dialog.setInputMode(QInputDialog::IntInput);
  dialog.setIntRange(1, static_cast<int>(edit_.points.size()));
  dialog.setIntValue(numbers[0]);
  if (dialog.exec() == QDialog::Accepted) RenumberSelected(dialog.intValue());
}

void PhotoWindow::RefineSelected() {
  const std::vector<int> numbers = SelectedPoints();
  if (numbers.empty() || photo_.isNull()) return;
  PhotoEdit after = edit_;
  int missed = 0;
  for (int n : numbers) {
    const std::size_t i = static_cast<std::size_t>(n - 1);
    if (const std::optional<PixelPoint> corner = RefineCorner(Grey(), after.points[i]))
      after.points = WithPointMoved(after.points, i, Measured(*corner, kCornerStep));
    else
      ++missed;
  }
  if (missed > 0)
    statusBar()->showMessage(QStringLiteral("Угол не найден у точек: %1").arg(missed), 4000);
  if (!(after.points == edit_.points)) Push(QStringLiteral("Уточнение по углу"), std::move(after));
}

bool PhotoWindow::FindChessboard(int columns, int rows, double squareSize) {
  if (photo_.isNull()) return false;
  std::optional<RawPoints> corners;
  {
    TWaitCursor busy(ui_);
    corners = zelv::FindChessboard(Grey(), columns, rows);
  }
  if (!corners) {
    ui_.ShowMessage("Шахматная мишень " + std::to_string(columns) + " × " + std::to_string(rows) +
                        " внутренних углов на снимке не найдена.",
                    "Предупреждение", MessageIcon::Exclamation, SelfOwner());
    return false;
  }
  PhotoEdit after;
  for (PixelPoint& corner : *corners) corner = Measured(corner, kCornerStep);
  after.points = *corners;
  after.scene = ChessboardScenePoints(columns, rows, squareSize, *corners);
  Push(QStringLiteral("Шахматная мишень"), std::move(after));
  statusBar()->showMessage(
      QStringLiteral("Найдено углов: %1. Проверьте точки и сохраните их вместе с файлом сцены.")
          .arg(corners->size()),
      8000);
  return true;
}

void PhotoWindow::ChessboardClick() {
  PhotoChessboardDialog dialog(this);
  if (dialog.exec() != QDialog::Accepted) return;
  FindChessboard(dialog.Columns->value(), dialog.Rows->value(), dialog.SquareSize->value());
}

bool PhotoWindow::FindTarget(const std::string& targetFile) {
  if (photo_.isNull()) return false;
  const Expected<TargetDescription> target = ReadTargetDescription(targetFile);
  if (!target) {
    ui_.ShowMessage(target.error().text, target.error().caption, target.error().icon, SelfOwner());
    return false;
  }
  Expected<TargetDetection> detection = Failure{};
  {
    TWaitCursor busy(ui_);
    const QImage& grey = Grey();
    GreyImage image;
    image.width = grey.width();
    image.height = grey.height();
    image.pixels.resize(static_cast<std::size_t>(image.width) * image.height);
    for (int y = 0; y < image.height; ++y)
      std::copy_n(grey.constScanLine(y), image.width,
                  image.pixels.data() + static_cast<std::size_t>(y) * image.width);
    detection = DetectTarget(image, *target);
  }
  if (!detection) {
    ui_.ShowMessage(detection.error().text, "Предупреждение", MessageIcon::Exclamation,
                    SelfOwner());
    return false;
  }
  PhotoEdit after;
  after.scene = RawPoints{};
  for (const DetectedCorner& corner : detection->corners) {
    after.points.push_back(Measured(PixelPoint{corner.x, corner.y}, kCornerStep));
    after.scene->push_back(PixelPoint{corner.sceneX, corner.sceneY});
  }
  Push(QStringLiteral("Мишень"), std::move(after));
  statusBar()->showMessage(
      QStringLiteral("Найдено углов мишени: %1 из %2. Проверьте точки и сохраните их вместе с "
                     "файлом сцены.")
          .arg(detection->corners.size())
          .arg(detection->totalCorners),
      8000);
  return true;
}

void PhotoWindow::TargetClick() {
  FileDialogRequest request;
  request.filters = {{"Описания мишеней (*.yml *.yaml *.xml *.json)", "*.yml *.yaml *.xml *.json"},
                     {"Все файлы (*)", "*"}};
  request.startFolder = FolderOf(photoFile_);
  request.owner = SelfOwner();
  const std::optional<std::string> chosen = ui_.ChooseOpenFile(request);
  if (chosen) FindTarget(*chosen);
}

void PhotoWindow::OrientClick() {
  if (Modified()) {
    const Answer answer = ui_.AskToSave("Точки снимка изменены. Сохранить их перед счётом?",
                                        "Предупреждение", pointsFile_, SelfOwner());
    if (answer == Answer::Cancel || (answer == Answer::Yes && !Save())) return;
  }
  emit OrientationRequested();
}

// ---------------------------------------------------------------- saving and closing

std::optional<std::string> PhotoWindow::AskSaveName(const std::string& proposed,
                                                    const std::string& folder) {
  const std::optional<std::string> chosen =
      ui_.ChooseSaveFile(CrdRequest(proposed, folder, SelfOwner()));
  if (!chosen) return std::nullopt;
  if (FileExists(*chosen) &&
      !ui_.AskYesNo("Файл " + FileNameOf(*chosen) + " уже существует. Перезаписать?",
                    "Предупреждение", SelfOwner()))
    return std::nullopt;
  return chosen;
}

bool PhotoWindow::Save() {
  std::string pointsFile = pointsFile_;
  const std::string folder = FolderOf(pointsFile_.empty() ? photoFile_ : pointsFile_);
  if (pointsFile.empty()) {
    const std::string stem =
        QFileInfo(QString::fromStdString(photoFile_)).completeBaseName().toStdString();
    const std::optional<std::string> chosen =
        AskSaveName(stem.empty() ? "image.crd" : stem + ".crd", folder);
    if (!chosen) return false;
    pointsFile = *chosen;
  }
  std::string sceneFile = sceneFile_;
  const bool sceneToWrite = edit_.scene && !(savedScene_ && *savedScene_ == *edit_.scene);
  if (sceneToWrite && sceneFile.empty()) {
    const std::optional<std::string> chosen = AskSaveName("scene.crd", FolderOf(pointsFile));
    if (!chosen) return false;
    sceneFile = *chosen;
  }
  try {
    SavePointFile(pointsFile, edit_.points);
    if (sceneToWrite) SavePointFile(sceneFile, *edit_.scene);
  } catch (const ZelvError& error) {
    ui_.ShowMessage(std::string("Ошибка записи файла: ") + error.what(), "Ошибка!",
                    MessageIcon::None, SelfOwner());
    return false;
  }
  pointsFile_ = pointsFile;
  if (sceneToWrite) {
    sceneFile_ = sceneFile;
    savedScene_ = edit_.scene;
  }
  UndoStack->setClean();
  UpdateTitle();
  statusBar()->showMessage(
      QStringLiteral("Сохранено в ") + QString::fromStdString(pointsFile_) +
          (sceneToWrite ? QStringLiteral(" и ") + QString::fromStdString(sceneFile_) : QString()),
      8000);
  emit FilesSaved(QString::fromStdString(pointsFile_),
                  sceneToWrite ? QString::fromStdString(sceneFile_) : QString());
  return true;
}

bool PhotoWindow::SaveAs() {
  const std::optional<std::string> chosen = AskSaveName(
      FileNameOf(pointsFile_), FolderOf(pointsFile_.empty() ? photoFile_ : pointsFile_));
  if (!chosen) return false;
  const std::string previous = pointsFile_;
  pointsFile_ = *chosen;
  if (!Save()) {
    pointsFile_ = previous;
    UpdateTitle();
    return false;
  }
  return true;
}

bool PhotoWindow::MaybeSave() {
  if (!Modified()) return true;
  const Answer answer = ui_.AskToSave(kUnsavedQuestion, kUnsavedCaption, pointsFile_, SelfOwner());
  // Esc or the box's close button: no decision, so the points stay on show.
  if (answer == Answer::Cancel) return false;
  if (answer == Answer::No) return true;
  // The user asked for the points to be kept: a save that did not happen keeps them on show.
  return Save();
}

void PhotoWindow::closeEvent(QCloseEvent* event) {
  if (!MaybeSave()) {
    event->ignore();
    return;
  }
  // Saved, or given up by the user's No: opening the workspace again starts from the files.
  UndoStack->clear();
  UpdateTitle();
  event->accept();
}

void PhotoWindow::showEvent(QShowEvent* event) {
  QMainWindow::showEvent(event);
  FitToScreen(this);
}

}  // namespace zelv
