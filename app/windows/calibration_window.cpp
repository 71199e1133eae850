#include "app/windows/calibration_window.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QThread>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "app/windows/calibration_picture.h"
#include "app/windows/screen_fit.h"
#include "files/calibration_writer.h"

namespace zelv {

namespace {

const char kCaption[] = "Калибровка камеры";

QString Text(const std::string& text) { return QString::fromStdString(text); }

QString Fixed(double value, int digits) {
  return std::isfinite(value) ? QString::number(value, 'f', digits) : QStringLiteral("–");
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

const CalibrationModel kModels[] = {CalibrationModel::kPinhole5,  CalibrationModel::kPinhole4,
                                    CalibrationModel::kRational8, CalibrationModel::kThinPrism12,
                                    CalibrationModel::kTilted14,  CalibrationModel::kFisheye};
const char* const kModelTitles[] = {"k1 k2 p1 p2 k3 (обычный объектив)",
                                    "k1 k2 p1 p2 (узкоугольный)",
                                    "рациональная, 8 коэффициентов (широкоугольный)",
                                    "с тонкой призмой, 12 коэффициентов",
                                    "с наклоном матрицы, 14 коэффициентов",
                                    "«рыбий глаз», k1..k4"};

}  // namespace

CalibrationWindow::CalibrationWindow(UserInterface& ui, QWidget* owner)
    : QWidget(owner, Qt::Window), ui_(ui) {
  setObjectName(QStringLiteral("CalibrationWindow"));
  setWindowTitle(QString::fromUtf8(kCaption));
  BuildLayout();
  SetRunning(false);
  resize(1100, 720);
}

CalibrationWindow::~CalibrationWindow() {
  if (thread_ != nullptr) {
    stop_ = true;
    thread_->wait();
    delete thread_;
  }
}

void CalibrationWindow::BuildLayout() {
  AddButton = new QPushButton(QStringLiteral("Добавить снимки..."));
  AddButton->setObjectName(QStringLiteral("AddButton"));
  RemoveButton = new QPushButton(QStringLiteral("Убрать снимок"));
  RemoveButton->setObjectName(QStringLiteral("RemoveButton"));
  TargetEdit = new QLineEdit;
  TargetEdit->setObjectName(QStringLiteral("TargetEdit"));
  TargetEdit->setPlaceholderText(QStringLiteral("файл описания мишени (.yml)"));
  TargetButton = new QPushButton(QStringLiteral("Мишень..."));
  TargetButton->setObjectName(QStringLiteral("TargetButton"));
  ModelBox = new QComboBox;
  ModelBox->setObjectName(QStringLiteral("ModelBox"));
  for (size_t i = 0; i < std::size(kModels); ++i)
    ModelBox->addItem(
        QStringLiteral("%1 — %2").arg(QString::fromLatin1(CalibrationModelName(kModels[i])),
                                      QString::fromUtf8(kModelTitles[i])),
        static_cast<int>(kModels[i]));
  CrossValidateBox = new QCheckBox(QStringLiteral("Перекрёстная проверка по половинам снимков"));
  CrossValidateBox->setObjectName(QStringLiteral("CrossValidateBox"));
  RunButton = new QPushButton(QStringLiteral("Рассчитать"));
  RunButton->setObjectName(QStringLiteral("RunButton"));
  StopButton = new QPushButton(QStringLiteral("Остановить"));
  StopButton->setObjectName(QStringLiteral("StopButton"));
  SaveButton = new QPushButton(QStringLiteral("Сохранить..."));
  SaveButton->setObjectName(QStringLiteral("SaveButton"));
  Progress = new QProgressBar;
  Progress->setObjectName(QStringLiteral("Progress"));
  Progress->setRange(0, 1000);
  Progress->setTextVisible(true);

  ViewTable = new QTableWidget(0, 3);
  ViewTable->setObjectName(QStringLiteral("ViewTable"));
  ViewTable->setHorizontalHeaderLabels(
      {QStringLiteral("Снимок"), QStringLiteral("Углов"), QStringLiteral("СКО, пкс")});
  ViewTable->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
  ViewTable->horizontalHeader()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
  ViewTable->horizontalHeader()->setSectionResizeMode(2, QHeaderView::ResizeToContents);
  ViewTable->verticalHeader()->hide();
  ViewTable->setSelectionBehavior(QAbstractItemView::SelectRows);
  ViewTable->setSelectionMode(QAbstractItemView::SingleSelection);
  ViewTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
  ViewTable->setToolTip(QStringLiteral("Снимите флажок, чтобы не использовать вид в расчёте"));

  OverlayBox = new QComboBox;
  OverlayBox->setObjectName(QStringLiteral("OverlayBox"));
  OverlayBox->addItems({QStringLiteral("Без карты"), QStringLiteral("Неопределённость проекции"),
                        QStringLiteral("Покрытие кадра углами")});
  Picture = new CalibrationPicture;
  Picture->setObjectName(QStringLiteral("Picture"));
  ResultText = new QPlainTextEdit;
  ResultText->setObjectName(QStringLiteral("ResultText"));
  ResultText->setReadOnly(true);
  ResultText->setLineWrapMode(QPlainTextEdit::WidgetWidth);

  auto* left = new QWidget;
  auto* leftLayout = new QVBoxLayout(left);
  leftLayout->setContentsMargins(0, 0, 0, 0);
  auto* photoButtons = new QHBoxLayout;
  photoButtons->addWidget(AddButton);
  photoButtons->addWidget(RemoveButton);
  leftLayout->addLayout(photoButtons);
  auto* form = new QGridLayout;
  form->addWidget(new QLabel(QStringLiteral("Мишень:")), 0, 0);
  form->addWidget(TargetEdit, 0, 1);
  form->addWidget(TargetButton, 0, 2);
  form->addWidget(new QLabel(QStringLiteral("Модель:")), 1, 0);
  form->addWidget(ModelBox, 1, 1, 1, 2);
  leftLayout->addLayout(form);
  leftLayout->addWidget(CrossValidateBox);
  leftLayout->addWidget(ViewTable, 1);
  auto* runButtons = new QHBoxLayout;
  runButtons->addWidget(RunButton);
  runButtons->addWidget(StopButton);
  runButtons->addWidget(SaveButton);
  leftLayout->addLayout(runButtons);
  leftLayout->addWidget(Progress);

  auto* right = new QSplitter(Qt::Vertical);
  auto* pictureBox = new QWidget;
  auto* pictureLayout = new QVBoxLayout(pictureBox);
  pictureLayout->setContentsMargins(0, 0, 0, 0);
  auto* overlayRow = new QHBoxLayout;
  overlayRow->addWidget(new QLabel(QStringLiteral("Карта на снимке:")));
  overlayRow->addWidget(OverlayBox, 1);
  pictureLayout->addLayout(overlayRow);
  pictureLayout->addWidget(Picture, 1);
  right->addWidget(pictureBox);
  right->addWidget(ResultText);
  right->setStretchFactor(0, 3);
  right->setStretchFactor(1, 2);

  auto* split = new QSplitter(Qt::Horizontal);
  split->addWidget(left);
  split->addWidget(right);
  split->setStretchFactor(0, 2);
  split->setStretchFactor(1, 5);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(split);

  connect(AddButton, &QPushButton::clicked, this, &CalibrationWindow::AddButtonClick);
  connect(RemoveButton, &QPushButton::clicked, this, &CalibrationWindow::RemoveButtonClick);
  connect(TargetButton, &QPushButton::clicked, this, &CalibrationWindow::TargetButtonClick);
  connect(RunButton, &QPushButton::clicked, this, &CalibrationWindow::RunButtonClick);
  connect(StopButton, &QPushButton::clicked, this, &CalibrationWindow::StopButtonClick);
  connect(SaveButton, &QPushButton::clicked, this, &CalibrationWindow::SaveButtonClick);
  connect(ViewTable, &QTableWidget::itemSelectionChanged, this, &CalibrationWindow::ShowSelected);
  connect(OverlayBox, &QComboBox::currentIndexChanged, this, &CalibrationWindow::ShowSelected);
  connect(ViewTable, &QTableWidget::itemChanged, this, [this](QTableWidgetItem* item) {
    if (item->column() != 0 || item->row() >= static_cast<int>(photographs_.size())) return;
    const bool used = item->checkState() == Qt::Checked;
    if (photographs_[item->row()].used == used) return;
    photographs_[item->row()].used = used;
    Invalidate();
  });
  connect(TargetEdit, &QLineEdit::textEdited, this, [this] { Invalidate(); });
  connect(ModelBox, &QComboBox::currentIndexChanged, this, [this] { Invalidate(); });
}

void CalibrationWindow::AddPhotographs(const std::vector<std::string>& paths) {
  for (const std::string& path : paths) {
    const bool listed = std::any_of(photographs_.begin(), photographs_.end(),
                                    [&](const Photograph& p) { return p.path == path; });
    if (listed) continue;
    Photograph photograph;
    photograph.path = path;
    photographs_.push_back(std::move(photograph));
  }
  Invalidate();
}

void CalibrationWindow::SetTargetFile(const std::string& path) {
  TargetEdit->setText(Text(path));
  Invalidate();
}

void CalibrationWindow::SetViewUsed(int row, bool used) {
  if (row < 0 || row >= ViewTable->rowCount()) return;
  ViewTable->item(row, 0)->setCheckState(used ? Qt::Checked : Qt::Unchecked);
}

void CalibrationWindow::AddButtonClick() {
  const QStringList files = QFileDialog::getOpenFileNames(
      this, QStringLiteral("Снимки мишени"), QString(),
      QStringLiteral("Снимки (*.png *.jpg *.jpeg *.tif *.tiff *.bmp);;Все файлы (*)"));
  std::vector<std::string> paths;
  for (const QString& file : files) paths.push_back(file.toStdString());
  AddPhotographs(paths);
}

void CalibrationWindow::RemoveButtonClick() {
  const int row = ViewTable->currentRow();
  if (Running() || row < 0 || row >= static_cast<int>(photographs_.size())) return;
  photographs_.erase(photographs_.begin() + row);
  Invalidate();
}

void CalibrationWindow::TargetButtonClick() {
  FileDialogRequest request;
  request.filters = {{"Описание мишени (*.yml *.yaml *.xml *.json)", "*.yml *.yaml *.xml *.json"},
                     {"Все файлы (*.*)", "*.*"}};
  request.owner = SelfOwner();
  if (const std::optional<std::string> file = ui_.ChooseOpenFile(request)) SetTargetFile(*file);
}

// The views or the target changed: the last calibration no longer belongs to what the list shows;
// a new target means searching the photographs again.
void CalibrationWindow::Invalidate() {
  if (TargetEdit->text().toStdString() != searchedTarget_)
    for (Photograph& p : photographs_) {
      p.searched = false;
      p.view.reset();
      p.skipReason.clear();
    }
  run_.reset();
  runRows_.clear();
  FillTable();
  ShowResultText();
  ShowSelected();
  SetRunning(Running());
}

void CalibrationWindow::FillTable() {
  const QSignalBlocker blocker(ViewTable);
  const int selected = ViewTable->currentRow();
  ViewTable->setRowCount(static_cast<int>(photographs_.size()));
  std::vector<const ViewResult*> results(photographs_.size(), nullptr);
  if (run_)
    for (size_t k = 0; k < runRows_.size() && k < run_->calibration.views.size(); ++k)
      results[runRows_[k]] = &run_->calibration.views[k];
  for (int row = 0; row < static_cast<int>(photographs_.size()); ++row) {
    const Photograph& p = photographs_[row];
    auto* name = new QTableWidgetItem(Text(std::filesystem::path(p.path).filename().string()));
    name->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    name->setCheckState(p.used ? Qt::Checked : Qt::Unchecked);
    name->setToolTip(Text(p.skipReason.empty() ? p.path : p.path + "\n" + p.skipReason));
    QString corners, rms;
    if (p.view) corners = QString::number(p.view->ids.size());
    if (p.searched && !p.view) corners = QStringLiteral("нет");
    if (results[row] != nullptr)
      rms = Fixed(results[row]->rms, 3) +
            (results[row]->used ? QString() : QStringLiteral(" (исключён)"));
    ViewTable->setItem(row, 0, name);
    ViewTable->setItem(row, 1, new QTableWidgetItem(corners));
    ViewTable->setItem(row, 2, new QTableWidgetItem(rms));
    const bool rejected = (p.searched && !p.view) || (results[row] && !results[row]->used);
    if (rejected)
      for (int c = 0; c < 3; ++c) ViewTable->item(row, c)->setForeground(QColor(200, 0, 0));
  }
  if (selected >= 0 && selected < ViewTable->rowCount()) ViewTable->selectRow(selected);
}

void CalibrationWindow::ShowSelected() {
  const int row = ViewTable->currentRow();
  if (row < 0 || row >= static_cast<int>(photographs_.size())) {
    Picture->SetView(QImage(), {}, {}, 1);
    Picture->SetOverlay({}, CalibrationPicture::Overlay::kNone);
    return;
  }
  const Photograph& p = photographs_[row];
  QImage image(Text(p.path));
  std::vector<PixelPoint> corners, residuals;
  if (p.view) corners = p.view->image;
  double largest = 0;
  if (run_) {
    for (const ViewResult& v : run_->calibration.views)
      for (const PixelPoint& e : v.residuals) largest = std::max(largest, std::hypot(e.x, e.y));
    const auto at = std::find(runRows_.begin(), runRows_.end(), row);
    if (at != runRows_.end()) {
      const size_t k = at - runRows_.begin();
      if (k < run_->calibration.views.size()) residuals = run_->calibration.views[k].residuals;
    }
  }
  const double magnification =
      ResidualMagnification(largest, 0.04 * std::max(image.width(), image.height()));
  Picture->SetView(image, corners, residuals, magnification);
  if (run_ && OverlayBox->currentIndex() == 1)
    Picture->SetOverlay(run_->uncertainty, CalibrationPicture::Overlay::kUncertainty);
  else if (run_ && OverlayBox->currentIndex() == 2)
    Picture->SetOverlay(run_->coverage, CalibrationPicture::Overlay::kCoverage);
  else
    Picture->SetOverlay({}, CalibrationPicture::Overlay::kNone);
}

void CalibrationWindow::ShowResultText() {
  QStringList lines;
  for (const Photograph& p : photographs_)
    if (p.searched && !p.view)
      lines << QStringLiteral("Снимок %1 пропущен: %2")
                   .arg(Text(std::filesystem::path(p.path).filename().string()),
                        Text(p.skipReason));
  if (!run_) {
    if (!lines.isEmpty()) lines << QString();
    lines << (photographs_.empty()
                  ? QStringLiteral("Добавьте снимки мишени (15–40 видов, мишень под разными "
                                   "наклонами, во всех частях кадра) и выберите файл мишени.")
                  : QStringLiteral("Нажмите «Рассчитать»."));
    ResultText->setPlainText(lines.join(QLatin1Char('\n')));
    return;
  }
  const CalibrationResult& c = run_->calibration;
  auto rowName = [&](int view) {
    if (view < 0 || view >= static_cast<int>(runRows_.size())) return QString::number(view + 1);
    return Text(std::filesystem::path(photographs_[runRows_[view]].path).filename().string());
  };
  lines << QStringLiteral("Модель: %1, снимок %2 × %3 пкс")
               .arg(QString::fromLatin1(CalibrationModelName(runModel_)))
               .arg(imageWidth_)
               .arg(imageHeight_);
  for (size_t i = 0; i < c.parameterNames.size(); ++i) {
    const double value = i < run_->values.size() ? run_->values[i] : 0;
    const double sigma = i < c.sigmas.size() ? c.sigmas[i] : 0;
    lines << QStringLiteral("  %1 = %2 ± %3")
                 .arg(Text(c.parameterNames[i]), QString::number(value, 'g', 10),
                      QString::number(sigma, 'g', 3));
  }
  lines << QStringLiteral("СКО невязок: %1 пкс; σ0 = %2 пкс; углов в расчёте: %3")
               .arg(Fixed(c.rms, 4), Fixed(c.sigma0, 4))
               .arg(c.cornersUsed);
  if (!run_->uncertainty.values.empty())
    lines << QStringLiteral("Неопределённость проекции (1σ): медиана %1 пкс, наибольшая %2 пкс")
                 .arg(Fixed(run_->uncertaintyMedian, 4), Fixed(run_->uncertaintyWorst, 4));
  lines
      << QStringLiteral("Не покрыто углами: %1 % кадра").arg(Fixed(run_->uncoveredShare * 100, 1));
  if (const std::optional<std::string> warning = CoverageWarning(*run_))
    lines << QStringLiteral("Внимание! ") + Text(*warning);
  if (run_->crossValidation)
    lines << QStringLiteral(
                 "Перекрёстная проверка: медиана отношения расхождения половин к предсказанному "
                 "%1 (около 1 — модель подходит объективу)")
                 .arg(Fixed(run_->crossValidation->medianRatio, 2));
  else if (!run_->crossValidationFailure.empty())
    lines << QStringLiteral("Перекрёстная проверка не выполнена: ") +
                 Text(run_->crossValidationFailure);
  QStringList rejections;
  for (const RejectedView& r : c.rejectedViews)
    rejections << QStringLiteral("Вид %1 исключён (СКО %2 пкс): %3")
                      .arg(rowName(r.view), Fixed(r.rms, 3), Text(r.reason));
  for (const RejectedCorner& r : c.rejectedCorners)
    rejections << QStringLiteral("Угол %1 на виде %2 исключён: невязка %3 пкс")
                      .arg(r.id)
                      .arg(rowName(r.view), Fixed(r.residual, 3));
  if (!rejections.isEmpty()) lines << QString() << rejections;
  ResultText->setPlainText(lines.join(QLatin1Char('\n')));
}

void CalibrationWindow::SetRunning(bool running) {
  RunButton->setEnabled(!running && !photographs_.empty());
  StopButton->setEnabled(running);
  SaveButton->setEnabled(!running && run_.has_value());
  AddButton->setEnabled(!running);
  RemoveButton->setEnabled(!running);
  TargetButton->setEnabled(!running);
  TargetEdit->setEnabled(!running);
  ModelBox->setEnabled(!running);
  CrossValidateBox->setEnabled(!running);
  ViewTable->setEnabled(true);
  if (!running) Progress->setFormat(QStringLiteral("%p %"));
}

void CalibrationWindow::RunButtonClick() {
  if (Running()) return;
  const std::string targetPath = TargetEdit->text().toStdString();
  if (targetPath.empty()) {
    ui_.ShowMessage("Выберите файл описания мишени.", kCaption, MessageIcon::Exclamation,
                    SelfOwner());
    return;
  }
  if (photographs_.empty()) return;
  Invalidate();
  CalibrationOptions options;
  options.model = static_cast<CalibrationModel>(ModelBox->currentData().toInt());
  runModel_ = options.model;
  const bool crossValidate = CrossValidateBox->isChecked();
  std::vector<Photograph> photographs = photographs_;
  const int knownWidth = imageWidth_, knownHeight = imageHeight_;
  stop_ = false;
  outcome_ = Outcome{};
  Progress->setValue(0);
  Progress->setFormat(QStringLiteral("Поиск мишени на снимках"));

  // Reported from the worker: the window's widgets are touched on the window's thread only.
  auto report = [this](const std::string& step, double fraction) {
    QMetaObject::invokeMethod(
        this,
        [this, text = Text(step), fraction] {
          Progress->setValue(static_cast<int>(std::lround(std::clamp(fraction, 0.0, 1.0) * 1000)));
          Progress->setFormat(text);
        },
        Qt::QueuedConnection);
    return !stop_;
  };

  thread_ = QThread::create([this, photographs = std::move(photographs), targetPath, options,
                             crossValidate, knownWidth, knownHeight, report]() mutable {
    Outcome outcome;
    int width = knownWidth, height = knownHeight;
    // The photographs not yet searched for this target.
    std::vector<std::string> paths;
    for (const Photograph& p : photographs)
      if (!p.searched) paths.push_back(p.path);
    if (!paths.empty()) {
      const Expected<TargetDescription> target = ReadTargetDescription(targetPath);
      if (!target) {
        outcome.failure = target.error();
        outcome_ = std::move(outcome);
        return;
      }
      const Expected<PhotographViews> found = ViewsFromPhotographs(paths, *target, report);
      if (!found) {
        outcome.failure = found.error();
        outcome_ = std::move(outcome);
        return;
      }
      size_t nextView = 0;
      for (Photograph& p : photographs) {
        if (p.searched) continue;
        p.searched = true;
        if (nextView < found->paths.size() && found->paths[nextView] == p.path) {
          p.view = found->views[nextView++];
          continue;
        }
        for (const SkippedPhotograph& s : found->skipped)
          if (s.path == p.path) p.skipReason = s.reason;
      }
      if (width == 0) {
        width = found->imageWidth;
        height = found->imageHeight;
      } else if (found->imageWidth != 0 &&
                 (found->imageWidth != width || found->imageHeight != height)) {
        // The photographs searched before set the size; those of another size have no view.
        for (Photograph& p : photographs)
          if (p.view && std::find(paths.begin(), paths.end(), p.path) != paths.end()) {
            p.view.reset();
            p.skipReason = "Размер снимка не совпадает с размером остальных.";
          }
      }
    }
    outcome.searched = photographs;
    outcome.imageWidth = width;
    outcome.imageHeight = height;
    std::vector<CalibrationView> views;
    for (size_t row = 0; row < photographs.size(); ++row)
      if (photographs[row].used && photographs[row].view) {
        views.push_back(*photographs[row].view);
        outcome.rows.push_back(static_cast<int>(row));
      }
    if (views.empty()) {
      outcome.failure = Failure{
          "Нет ни одного вида с мишенью: добавьте снимки, на которых мишень "
          "видна, и проверьте файл мишени.",
          kCaption};
      outcome_ = std::move(outcome);
      return;
    }
    options.imageWidth = width;
    options.imageHeight = height;
    Expected<CalibrationRun> run = RunCalibration(views, options, crossValidate, report);
    if (run)
      outcome.run = std::move(*run);
    else
      outcome.failure = run.error();
    outcome_ = std::move(outcome);
  });
  connect(thread_, &QThread::finished, this, &CalibrationWindow::WorkDone);
  SetRunning(true);
  thread_->start();
}

void CalibrationWindow::StopButtonClick() {
  if (!Running()) return;
  stop_ = true;
  Progress->setFormat(QStringLiteral("Остановка..."));
}

void CalibrationWindow::WorkDone() {
  if (thread_ == nullptr) return;  // already taken in when the window closed
  thread_->deleteLater();
  thread_ = nullptr;
  Outcome outcome = std::move(outcome_);
  // What the search found is kept, also when the calibration failed or was stopped after it.
  // A view dropped or taken back while the work ran keeps the user's choice; the result, made
  // without it, is then not shown as if it were the list's.
  bool choiceChanged = false;
  if (outcome.searched.size() == photographs_.size()) {
    for (size_t row = 0; row < photographs_.size(); ++row) {
      choiceChanged = choiceChanged || outcome.searched[row].used != photographs_[row].used;
      outcome.searched[row].used = photographs_[row].used;
    }
    photographs_ = std::move(outcome.searched);
    searchedTarget_ = TargetEdit->text().toStdString();
    imageWidth_ = outcome.imageWidth;
    imageHeight_ = outcome.imageHeight;
  }
  if (choiceChanged) outcome.run.reset();
  run_ = std::move(outcome.run);
  runRows_ = run_ ? outcome.rows : std::vector<int>{};
  Progress->setValue(run_ ? 1000 : 0);
  FillTable();
  ShowResultText();
  ShowSelected();
  SetRunning(false);
  if (outcome.failure) {
    const bool stopped = stop_.load();
    if (!stopped)
      ui_.ShowMessage(outcome.failure->text, outcome.failure->caption, MessageIcon::Stop,
                      SelfOwner());
    ResultText->appendPlainText(
        QString() + QLatin1Char('\n') +
        (stopped ? QStringLiteral("Расчёт остановлен.") : Text(outcome.failure->text)));
  }
  if (ViewTable->currentRow() < 0 && ViewTable->rowCount() > 0) ViewTable->selectRow(0);
  emit RunFinished();
}

void CalibrationWindow::SaveButtonClick() {
  if (!run_ || Running()) return;
  FileDialogRequest request;
  request.filters = {{"Калибровка OpenCV (*.yml)", "*.yml"},
                     {"Камеры COLMAP (*.txt)", "*.txt"},
                     {"Файл камеры ZELV (*.cam)", "*.cam"}};
  request.defaultSuffix = "yml";
  request.proposedName = "camera.yml";
  request.owner = SelfOwner();
  const std::optional<std::string> path = ui_.ChooseSaveFile(request);
  if (!path) return;
  const std::string extension = Lower(std::filesystem::path(*path).extension().string());
  const LensCalibration& camera = run_->calibration.camera;
  std::optional<Failure> failure;
  if (extension == ".txt") {
    if (Expected<void> written = WriteColmapCamera(*path, camera); !written)
      failure = written.error();
  } else if (extension == ".cam") {
    const Expected<CorrectionTableFit> fit = WriteCameraFileWithTable(*path, camera);
    if (!fit)
      failure = fit.error();
    else
      ResultText->appendPlainText(
          QStringLiteral("Таблица поправок файла камеры: наибольшее отклонение от модели %1 пкс.")
              .arg(Fixed(fit->worstResidual, 4)));
  } else {
    if (Expected<void> written = WriteOpenCvCalibration(*path, camera); !written)
      failure = written.error();
  }
  if (failure)
    ui_.ShowMessage(failure->text, failure->caption,
                    failure->icon == MessageIcon::None ? MessageIcon::Stop : failure->icon,
                    SelfOwner());
}

void CalibrationWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FitToScreen(this);
}

void CalibrationWindow::closeEvent(QCloseEvent* event) {
  // A calibration under way is stopped with the window; its thread is waited for here so that
  // nothing is left writing into a closed window.
  if (thread_ != nullptr) {
    stop_ = true;
    thread_->wait();
    WorkDone();
  }
  QWidget::closeEvent(event);
}

}  // namespace zelv
