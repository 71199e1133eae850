#include "app/windows/report_commands.h"

#include <QBuffer>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "app/report_pdf/figure_painter.h"
#include "app/report_pdf/report_pdf.h"
#include "app/windows/screen_fit.h"
#include "base/zelv_error.h"
#include "files/text_file.h"

namespace zelv {
namespace {

std::string FileName(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool EndsWithPng(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return name.size() >= 4 && name.compare(name.size() - 4, 4, ".png") == 0;
}

// Asks before replacing an existing file, as the result file's save does.
bool MayWrite(UserInterface& ui, const std::string& path, QWidget* owner) {
  return !FileExists(path) ||
         ui.AskYesNo("Файл " + FileName(path) + " уже существует. Перезаписать?", "Предупреждение",
                     Owner{owner});
}

}  // namespace

FigureView::FigureView(QWidget* parent) : QWidget(parent) {
  setMinimumSize(220, 160);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void FigureView::SetFigure(std::optional<Figure> figure) {
  figure_ = std::move(figure);
  update();
}

void FigureView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  if (!figure_ || !(figure_->width > 0) || !(figure_->height > 0)) {
    painter.setPen(Qt::gray);
    painter.drawText(rect(), Qt::AlignCenter, QStringLiteral("Нет результата ориентации"));
    return;
  }
  const double scale = std::min(width() / figure_->width, height() / figure_->height);
  painter.translate((width() - figure_->width * scale) / 2,
                    (height() - figure_->height * scale) / 2);
  painter.scale(scale, scale);
  PaintFigure(painter, *figure_);
}

Expected<void> WriteFigure(const std::string& path, const Figure& figure) {
  try {
    if (EndsWithPng(path)) {
      QByteArray bytes;
      QBuffer buffer(&bytes);
      buffer.open(QIODevice::WriteOnly);
      if (!FigureImage(figure, 2.0).save(&buffer, "PNG")) throw ZelvError("PNG не создан");
      ReplaceFile(path, std::string(bytes.constData(), static_cast<std::size_t>(bytes.size())));
    } else {
      // A file of its own names the SVG namespace, which the HTML report's inline figures need
      // not.
      std::string svg = FigureSvg(figure);
      svg.replace(0, 4, "<svg xmlns=\"http://www.w3.org/2000/svg\"");
      ReplaceFile(path, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + svg + "\n");
    }
  } catch (const ZelvError& error) {
    return Failure{std::string("Ошибка записи рисунка!\n") + error.what(), "Ошибка!",
                   MessageIcon::Stop};
  }
  return Success();
}

SchemeWindow::SchemeWindow(UserInterface* ui, QWidget* parent)
    : QWidget(parent, Qt::Window), ui_(ui) {
  setObjectName(QStringLiteral("SchemeWindow"));
  setWindowTitle(QStringLiteral("Схема"));
  auto* row = new QHBoxLayout(this);
  const auto column = [&](const QString& title, const char* name, FigureView*& view) {
    auto* box = new QVBoxLayout;
    box->addWidget(new QLabel(title));
    view = new FigureView(this);
    view->setObjectName(QString::fromLatin1(name));
    box->addWidget(view, 1);
    auto* save = new QPushButton(QStringLiteral("Сохранить рисунок..."), this);
    save->setObjectName(QString::fromLatin1(name) + QStringLiteral("Export"));
    const std::string proposed =
        std::string(name == std::string("PlanView") ? "plan" : "side") + ".svg";
    connect(save, &QPushButton::clicked, this, [this, view, proposed] {
      if (view->Shown()) ExportFigure(*view->Shown(), proposed);
    });
    box->addWidget(save, 0, Qt::AlignRight);
    row->addLayout(box, 1);
  };
  column(QStringLiteral("План"), "PlanView", plan_);
  column(QStringLiteral("Вид сбоку"), "SideView", side_);
  column(QStringLiteral("Невязки на кадре"), "ResidualView", residuals_);
  resize(1020, 440);
}

void SchemeWindow::SetOrientation(const Orientation* orientation) {
  plan_->SetFigure(orientation ? PlanFigure(*orientation) : std::nullopt);
  side_->SetFigure(orientation ? SideFigure(*orientation) : std::nullopt);
  residuals_->SetFigure(orientation ? ResidualFigure(*orientation) : std::nullopt);
  residuals_->setToolTip(residuals_->Shown() ? QString::fromStdString(residuals_->Shown()->caption)
                                             : QString());
  plan_->setToolTip(plan_->Shown() ? QString::fromStdString(plan_->Shown()->caption) : QString());
  side_->setToolTip(side_->Shown() ? QString::fromStdString(side_->Shown()->caption) : QString());
}

bool SchemeWindow::ExportFigure(const Figure& figure, const std::string& proposedName) {
  FileDialogRequest request;
  request.filters = {{"Рисунок SVG (*.svg)", "*.svg"}, {"Рисунок PNG (*.png)", "*.png"}};
  request.defaultSuffix = "svg";
  request.proposedName = proposedName;
  request.owner = Owner{this};
  const std::optional<std::string> chosen = ui_->ChooseSaveFile(request);
  if (!chosen || !MayWrite(*ui_, *chosen, this)) return false;
  const Expected<void> written = WriteFigure(*chosen, figure);
  if (!written)
    ui_->ShowMessage(written.error().text, written.error().caption, written.error().icon,
                     Owner{this});
  return static_cast<bool>(written);
}

ReportCommands::ReportCommands(UserInterface* ui, QWidget* window)
    : QObject(window), ui_(ui), window_(window) {
  SaveReportAction = new QAction(QStringLiteral("Сохранить отчёт..."), window);
  SaveReportAction->setObjectName(QStringLiteral("SaveReportAction"));
  SaveReportAction->setEnabled(false);
  connect(SaveReportAction, &QAction::triggered, this, [this] { SaveReport(); });
  SchemeAction = new QAction(QStringLiteral("Схема..."), window);
  SchemeAction->setObjectName(QStringLiteral("SchemeAction"));
  SchemeAction->setEnabled(false);
  connect(SchemeAction, &QAction::triggered, this, [this] { ShowScheme(); });
}

void ReportCommands::SetResult(const Orientation* orientation, ReportContext context,
                               const std::string& imageFile) {
  orientation_ = orientation;
  context_ = std::move(context);
  imageFile_ = imageFile;
  SaveReportAction->setEnabled(orientation_ != nullptr);
  SchemeAction->setEnabled(orientation_ != nullptr);
  if (scheme_ != nullptr) scheme_->SetOrientation(orientation_);
}

bool ReportCommands::SaveReport() {
  if (orientation_ == nullptr) return false;
  FileDialogRequest request;
  request.filters = {{"Отчёт HTML (*.html)", "*.html"}, {"Отчёт PDF (*.pdf)", "*.pdf"}};
  request.defaultSuffix = "html";
  request.proposedName = ReportNameFor(imageFile_, ".html");
  request.owner = Owner{window_};
  const std::optional<std::string> chosen = ui_->ChooseSaveFile(request);
  if (!chosen || !MayWrite(*ui_, *chosen, window_)) return false;
  const Expected<void> written = WriteReport(*chosen, *orientation_, context_);
  if (!written)
    ui_->ShowMessage(written.error().text, written.error().caption, written.error().icon,
                     Owner{window_});
  return static_cast<bool>(written);
}

void ReportCommands::ShowScheme() {
  if (scheme_ == nullptr) scheme_ = new SchemeWindow(ui_, window_);
  scheme_->SetOrientation(orientation_);
  scheme_->show();
  FitToScreen(scheme_);
  scheme_->raise();
}

}  // namespace zelv
