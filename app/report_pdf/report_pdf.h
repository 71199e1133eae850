#pragma once
// The orientation report as PDF: the HTML report's text (app/report.h) laid out by Qt's rich text
// on A4 with the figures painted from the same model, written atomically. Needs Qt Gui; without a
// running application it starts one on the offscreen platform, so zelv-cli stays headless.

#include <string>

#include "app/orientation.h"
#include "app/report.h"

namespace zelv {

// The PDF's bytes.
std::string ReportPdf(const Orientation& orientation, const ReportContext& context);

// Writes the PDF report to `path` atomically; on failure "Ошибка записи отчёта!" / "Ошибка!" with
// the reason on a second line.
Expected<void> WriteReportPdf(const std::string& path, const Orientation& orientation,
                              const ReportContext& context);

// Writes the report as HTML or, when `path` ends in ".pdf" (any case), as PDF.
Expected<void> WriteReport(const std::string& path, const Orientation& orientation,
                           const ReportContext& context);

}  // namespace zelv
