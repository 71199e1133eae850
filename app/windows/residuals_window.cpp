#include "app/windows/residuals_window.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QShowEvent>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>
#include <numeric>
#include <vector>

#include "app/windows/residual_picture.h"
#include "app/windows/screen_fit.h"
#include "files/text_file.h"

namespace zelv {
namespace {

// The table's column headings, in the order of kResidualColumns.
const char* const kHeadings[kResidualColumnCount] = {"№",  "x",  "y",   "X", "Y",
                                                     "ex", "ey", "|e|", "!"};

const QColor kFlaggedText(200, 0, 0);

// The number behind a column (as kResidualColumns) for sorting; the flag sorts flagged last.
double SortValue(const PointResidual& p, int column) {
  switch (column) {
    case 0:
      return p.number;
    case 1:
      return p.x;
    case 2:
      return p.y;
    case 3:
      return p.X;
    case 4:
      return p.Y;
    case 5:
      return p.ex;
    case 6:
      return p.ey;
    case 7:
      return p.length;
    default:
      return p.flagged ? 1 : 0;
  }
}

}  // namespace

// The table's rows over the points of a report, in a sorted order of its own (the points stay in
// file order). Cells are made when the view asks for them; Qt::UserRole gives the number a cell
// sorts by.
class ResidualsModel : public QAbstractTableModel {
 public:
  using QAbstractTableModel::QAbstractTableModel;

  void SetReport(const std::optional<ResidualsReport>* report) {
    beginResetModel();
    report_ = report;
    rows_.resize(Points().size());
    std::iota(rows_.begin(), rows_.end(), std::size_t{0});
    column_ = -1;  // file order until the view sorts
    endResetModel();
  }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
  }
  int columnCount(const QModelIndex& parent = QModelIndex()) const override {
    return parent.isValid() ? 0 : kResidualColumnCount;
  }

  QVariant data(const QModelIndex& index, int role) const override {
    if (!index.isValid() || index.row() >= rowCount()) return QVariant();
    const PointResidual& p = Points()[rows_[static_cast<std::size_t>(index.row())]];
    switch (role) {
      case Qt::DisplayRole:
        return QString::fromStdString(
            ResidualCell(p, index.column(), (*report_)->decimalSeparator));
      case Qt::UserRole:
        return SortValue(p, index.column());
      case Qt::ForegroundRole:
        return p.flagged ? QVariant(QBrush(kFlaggedText)) : QVariant();
      case Qt::TextAlignmentRole:
        return index.column() == kResidualColumnCount - 1
                   ? QVariant(Qt::AlignCenter)
                   : QVariant(Qt::AlignRight | Qt::AlignVCenter);
      default:
        return QVariant();
    }
  }

  QVariant headerData(int section, Qt::Orientation orientation, int role) const override {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kResidualColumnCount)
      return QAbstractTableModel::headerData(section, orientation, role);
    return QString::fromUtf8(kHeadings[section]);
  }

  // The point number shown in `row`, and the row that shows point `number` (-1: none).
  int NumberAt(int row) const {
    if (row < 0 || row >= rowCount()) return 0;
    return Points()[rows_[static_cast<std::size_t>(row)]].number;
  }
  int RowOf(int number) const {
    for (std::size_t row = 0; row < rows_.size(); ++row)
      if (Points()[rows_[row]].number == number) return static_cast<int>(row);
    return -1;
  }

  // By the numbers behind the cells, equal ones in file order.
  void sort(int column, Qt::SortOrder order) override {
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    std::vector<std::size_t> rowsBefore;
    for (const QModelIndex& index : before)
      rowsBefore.push_back(rows_[static_cast<std::size_t>(index.row())]);
    column_ = column;
    sortOrder_ = order;
    SortRows();
    // The persistent indexes (the view's current cell and selection) follow their points.
    std::vector<int> rowOf(rows_.size());
    for (std::size_t row = 0; row < rows_.size(); ++row) rowOf[rows_[row]] = static_cast<int>(row);
    QModelIndexList after;
    for (std::size_t i = 0; i < static_cast<std::size_t>(before.size()); ++i)
      after << index(rowOf[rowsBefore[i]], before[static_cast<qsizetype>(i)].column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
  }

 private:
  const std::vector<PointResidual>& Points() const {
    static const std::vector<PointResidual> none;
    return report_ != nullptr && report_->has_value() ? (*report_)->residuals.points : none;
  }

  void SortRows() {
    if (column_ < 0) return;
    const std::vector<PointResidual>& points = Points();
    std::vector<double> keys(points.size());
    for (std::size_t i = 0; i < points.size(); ++i) keys[i] = SortValue(points[i], column_);
    std::iota(rows_.begin(), rows_.end(), std::size_t{0});
    const auto ascending = [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; };
    // The usual case, point numbers ascending, is file order already.
    if (sortOrder_ == Qt::AscendingOrder && std::is_sorted(rows_.begin(), rows_.end(), ascending))
      return;
    if (sortOrder_ == Qt::AscendingOrder)
      std::stable_sort(rows_.begin(), rows_.end(),
                       [&keys](std::size_t a, std::size_t b) { return keys[a] < keys[b]; });
    else
      std::stable_sort(rows_.begin(), rows_.end(),
                       [&keys](std::size_t a, std::size_t b) { return keys[b] < keys[a]; });
  }

  const std::optional<ResidualsReport>* report_ = nullptr;
  std::vector<std::size_t> rows_;
  int column_ = -1;
  Qt::SortOrder sortOrder_ = Qt::AscendingOrder;
};

ResidualsWindow::ResidualsWindow(UserInterface& ui, QWidget* owner)
    : QWidget(owner, Qt::Window), ui_(ui) {
  setObjectName(QStringLiteral("ResidualsWindow"));
  setWindowTitle(QStringLiteral("Невязки"));
  setAttribute(Qt::WA_DeleteOnClose, false);

  Picture = new ResidualPicture;
  model_ = new ResidualsModel(this);
  Table = new QTableView;
  Table->setObjectName(QStringLiteral("ResidualTable"));
  Table->setModel(model_);
  Table->verticalHeader()->hide();
  // Fixed row heights and column widths: sizing to the contents would measure every cell.
  Table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->setWordWrap(false);
  QHeaderView* columns = Table->horizontalHeader();
  columns->setSectionResizeMode(QHeaderView::Stretch);
  // The number and the flag columns are as wide as their widest possible text.
  const QFontMetrics metrics = Table->fontMetrics();
  columns->setSectionResizeMode(0, QHeaderView::Interactive);
  columns->resizeSection(0, metrics.horizontalAdvance(QStringLiteral("0000000")) + 12);
  columns->setSectionResizeMode(kResidualColumnCount - 1, QHeaderView::Interactive);
  columns->resizeSection(kResidualColumnCount - 1,
                         metrics.horizontalAdvance(QStringLiteral("!!!")) + 12);
  Table->setSortingEnabled(true);
  Table->sortByColumn(0, Qt::AscendingOrder);
  connect(Table->selectionModel(), &QItemSelectionModel::selectionChanged, this, [this] {
    const QModelIndexList chosen = Table->selectionModel()->selectedRows();
    const int number = chosen.isEmpty() ? 0 : model_->NumberAt(chosen.front().row());
    if (number != selectedNumber_) {
      selectedNumber_ = number;
      emit PointSelected(number);
    }
  });

  auto* splitter = new QSplitter(Qt::Vertical);
  splitter->addWidget(Picture);
  splitter->addWidget(Table);
  splitter->setStretchFactor(0, 3);
  splitter->setStretchFactor(1, 2);
  splitter->setChildrenCollapsible(false);

  Summary = new QLabel;
  Summary->setObjectName(QStringLiteral("ResidualSummary"));
  Summary->setWordWrap(true);
  Summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
  SaveButton = new QPushButton(QStringLiteral("Сохранить CSV..."));
  SaveButton->setObjectName(QStringLiteral("SaveCsvButton"));
  connect(SaveButton, &QPushButton::clicked, this, &ResidualsWindow::SaveButtonClick);

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(Summary, 1);
  bottom->addWidget(SaveButton, 0, Qt::AlignTop);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(splitter, 1);
  layout->addLayout(bottom);
  resize(760, 760);
  ShowReport(std::nullopt);
}

void ResidualsWindow::ShowReport(const std::optional<ResidualsReport>& report) {
  // The table and the picture let go of the points before they are replaced.
  model_->SetReport(nullptr);
  Picture->SetReport(nullptr);
  report_ = report;
  Picture->SetReport(report_ ? &*report_ : nullptr);
  FillTable();
  SaveButton->setEnabled(report_.has_value());
  Summary->setText(report_ ? QString::fromStdString(
                                 ResidualSummaryText(report_->residuals, report_->decimalSeparator))
                           : QStringLiteral("Нет результата ориентации."));
}

void ResidualsWindow::FillTable() {
  model_->SetReport(&report_);
  // A new orientation starts in point order, as the table first showed it.
  Table->sortByColumn(0, Qt::AscendingOrder);
}

void ResidualsWindow::SelectPoint(int number) {
  if (number == selectedNumber_) return;
  selectedNumber_ = number;
  const QSignalBlocker quiet(Table->selectionModel());
  Table->clearSelection();
  const int row = number > 0 ? model_->RowOf(number) : -1;
  if (row < 0) {
    Table->viewport()->update();
    return;
  }
  // Not selectRow: that follows the keyboard modifiers held at the moment.
  const QModelIndex index = model_->index(row, 0);
  Table->selectionModel()->select(index,
                                  QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
  Table->scrollTo(index);
  Table->viewport()->update();
}

void ResidualsWindow::SaveButtonClick() {
  if (!report_) return;
  FileDialogRequest request;
  request.filters = {{"Таблицы CSV (*.csv)", "*.csv"}, {"Все файлы (*)", "*"}};
  request.defaultSuffix = "csv";
  request.proposedName = report_->csvName;
  request.owner = SelfOwner();
  const std::optional<std::string> chosen = ui_.ChooseSaveFile(request);
  if (!chosen) return;
  if (FileExists(*chosen) &&
      !ui_.AskYesNo("Файл " + FileNameOf(*chosen) + " уже существует. Перезаписать?",
                    "Предупреждение", SelfOwner()))
    return;
  std::string text;
  for (const std::string& line : ResidualCsvLines(report_->residuals, report_->decimalSeparator))
    text += line + "\r\n";
  // Written beside the target and renamed over it: a failed write leaves an old file whole.
  QSaveFile file(QString::fromStdString(*chosen));
  const bool written = file.open(QIODevice::WriteOnly) &&
                       file.write(text.data(), static_cast<qint64>(text.size())) ==
                           static_cast<qint64>(text.size()) &&
                       file.commit();
  if (!written)
    ui_.ShowMessage("Ошибка записи CSV-файла!", "Ошибка!", MessageIcon::None, SelfOwner());
}

void ResidualsWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  FitToScreen(this);
}

}  // namespace zelv
