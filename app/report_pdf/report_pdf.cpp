#include "app/report_pdf/report_pdf.h"

#include <QBuffer>
#include <QGuiApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QUrl>
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <memory>

#include "app/report_pdf/figure_painter.h"
#include "base/zelv_error.h"
#include "files/text_file.h"

namespace zelv {
namespace {

// Qt's fonts need a QGuiApplication: a program without one (zelv-cli) gets one on the offscreen
// platform, made once and kept for the process.
void EnsureGuiApplication() {
  if (QCoreApplication::instance() != nullptr) return;
  // Qt's notes about the environment (no runtime folder on a server) are not the program's
  // output: only its errors reach standard error.
  qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
      std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
  });
  static int argc = 3;
  static char name[] = "zelv-cli", option[] = "-platform", platform[] = "offscreen";
  static char* argv[] = {name, option, platform, nullptr};
  static std::unique_ptr<QGuiApplication> application(new QGuiApplication(argc, argv));
}

}  // namespace

std::string ReportPdf(const Orientation& orientation, const ReportContext& context) {
  EnsureGuiApplication();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  {
    QPdfWriter writer(&buffer);
    writer.setPageSize(QPageSize(QPageSize::A4));
    writer.setPageMargins(QMarginsF(12, 12, 12, 12), QPageLayout::Millimeter);
    writer.setResolution(300);
    writer.setTitle(QStringLiteral("Отчёт об ориентации камеры"));
    writer.setCreator(QStringLiteral("ZELV ") + QString::fromStdString(context.version));
    QTextDocument document;
    // The figures as images three pixels to the point: sharp in print, small in the file.
    const std::vector<Figure> figures = ReportFigureList(orientation);
    for (std::size_t i = 0; i < figures.size(); ++i)
      document.addResource(QTextDocument::ImageResource, QUrl(QStringLiteral("figure:%1").arg(i)),
                           FigureImage(figures[i], 3.0));
    QFont font = document.defaultFont();
    font.setPointSizeF(8);
    document.setDefaultFont(font);
    document.setHtml(
        QString::fromStdString(ReportHtml(orientation, context, ReportFigures::kImageResources)));
    document.print(&writer);
  }
  return std::string(bytes.constData(), static_cast<std::size_t>(bytes.size()));
}

Expected<void> WriteReportPdf(const std::string& path, const Orientation& orientation,
                              const ReportContext& context) {
  try {
    const std::string pdf = ReportPdf(orientation, context);
    if (pdf.empty()) throw ZelvError("PDF не создан");
    ReplaceFile(path, pdf);
  } catch (const ZelvError& error) {
    return Failure{std::string("Ошибка записи отчёта!\n") + error.what(), "Ошибка!",
                   MessageIcon::Stop};
  }
  return Success();
}

Expected<void> WriteReport(const std::string& path, const Orientation& orientation,
                           const ReportContext& context) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".pdf") == 0)
    return WriteReportPdf(path, orientation, context);
  return WriteReportHtml(path, orientation, context);
}

}  // namespace zelv
