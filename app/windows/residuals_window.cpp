#include "app/windows/residuals_window.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QSaveFile>
#include <QSignalBlocker>
#include <QSplitter>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/windows/residual_picture.h"
#include "files/text_file.h"

namespace zelv {
namespace {

// The table's column headings, in the order of kResidualColumns.
const char* const kHeadings[kResidualColumnCount] = {"№",  "x",  "y",   "X", "Y",
                                                     "ex", "ey", "|e|", "!"};

// A cell that sorts by the number behind its text, not by the text.
class NumericItem : public QTableWidgetItem {
 public:
  NumericItem(const QString& text, double value) : QTableWidgetItem(text) {
    setData(Qt::UserRole, value);
    setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
    setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
  }
  bool operator<(const QTableWidgetItem& other) const override {
    return data(Qt::UserRole).toDouble() < other.data(Qt::UserRole).toDouble();
  }
};

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

ResidualsWindow::ResidualsWindow(UserInterface& ui, QWidget* owner)
    : QWidget(owner, Qt::Window), ui_(ui) {
  setObjectName(QStringLiteral("ResidualsWindow"));
  setWindowTitle(QStringLiteral("Невязки"));
  setAttribute(Qt::WA_DeleteOnClose, false);

  Picture = new ResidualPicture;
  Table = new QTableWidget(0, kResidualColumnCount);
  Table->setObjectName(QStringLiteral("ResidualTable"));
  QStringList headings;
  for (const char* heading : kHeadings) headings << QString::fromUtf8(heading);
  Table->setHorizontalHeaderLabels(headings);
  Table->verticalHeader()->hide();
  Table->verticalHeader()->setDefaultSectionSize(Table->fontMetrics().height() + 6);
  Table->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Table->setSelectionBehavior(QAbstractItemView::SelectRows);
  Table->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);
  Table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::ResizeToContents);
  Table->horizontalHeader()->setSectionResizeMode(kResidualColumnCount - 1,
                                                  QHeaderView::ResizeToContents);

  connect(Table, &QTableWidget::itemSelectionChanged, this, [this] {
    const QList<QTableWidgetItem*> chosen = Table->selectedItems();
    const int number =
        chosen.isEmpty() ? 0 : Table->item(chosen.front()->row(), 0)->data(Qt::UserRole).toInt();
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
  report_ = report;
  Picture->SetReport(report_);
  FillTable();
  SaveButton->setEnabled(report_.has_value());
  Summary->setText(report_ ? QString::fromStdString(
                                 ResidualSummaryText(report_->residuals, report_->decimalSeparator))
                           : QStringLiteral("Нет результата ориентации."));
}

void ResidualsWindow::FillTable() {
  Table->setSortingEnabled(false);
  Table->clearContents();
  if (!report_) {
    Table->setRowCount(0);
    return;
  }
  const std::vector<PointResidual>& points = report_->residuals.points;
  Table->setRowCount(static_cast<int>(points.size()));
  for (int row = 0; row < static_cast<int>(points.size()); ++row) {
    const PointResidual& p = points[static_cast<std::size_t>(row)];
    for (int column = 0; column < kResidualColumnCount; ++column) {
      auto* item = new NumericItem(
          QString::fromStdString(ResidualCell(p, column, report_->decimalSeparator)),
          SortValue(p, column));
      if (p.flagged) item->setForeground(QColor(200, 0, 0));
      if (column == kResidualColumnCount - 1) item->setTextAlignment(Qt::AlignCenter);
      Table->setItem(row, column, item);
    }
  }
  Table->setSortingEnabled(true);
  Table->sortByColumn(0, Qt::AscendingOrder);
}

void ResidualsWindow::SelectPoint(int number) {
  if (number == selectedNumber_) return;
  selectedNumber_ = number;
  const QSignalBlocker quiet(Table);
  Table->clearSelection();
  for (int row = 0; row < Table->rowCount(); ++row)
    if (Table->item(row, 0) != nullptr &&
        Table->item(row, 0)->data(Qt::UserRole).toInt() == number) {
      // Not selectRow: that follows the keyboard modifiers held at the moment.
      Table->selectionModel()->select(
          Table->model()->index(row, 0),
          QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
      Table->scrollToItem(Table->item(row, 0));
      break;
    }
}

void ResidualsWindow::SaveButtonClick() {
  if (!report_) return;
  FileDialogRequest request;
  request.filters = {{"CSV Files (*.csv)", "*.csv"}, {"All Files (*)", "*"}};
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

}  // namespace zelv
