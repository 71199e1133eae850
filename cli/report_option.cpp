#include "cli/report_option.h"

#include <algorithm>
#include <cctype>

#include "app/report.h"
#ifdef ZELV_REPORT_PDF
#include "app/report_pdf/report_pdf.h"
#endif

namespace zelv::cli {
namespace {

bool EndsWith(std::string text, const std::string& end) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

const char kReportOptionHelp[] =
    "  --report FILE.html|FILE.pdf\n"
    "                            also write the report: the inputs with their SHA-256, the\n"
    "                            camera, the level, the 21 values with sigma and 95 % intervals,\n"
    "                            the residuals and the figures, on one A4 page (HTML without\n"
    "                            any external resource; PDF through Qt, offscreen)\n";

std::optional<std::string> ReportPathProblem(const std::string& path) {
  if (path.empty()) return "--report needs a file name";
  if (EndsWith(path, ".pdf")) {
#ifdef ZELV_REPORT_PDF
    return std::nullopt;
#else
    return "--report: this build writes HTML reports only (it was built without Qt)";
#endif
  }
  if (EndsWith(path, ".html") || EndsWith(path, ".htm")) return std::nullopt;
  return "--report needs a name ending in .html or .pdf";
}

Expected<void> WriteReportFile(const std::string& path, const Orientation& orientation,
                               const OrientationRequest& request) {
  const ReportContext context = ReportContextOf(request);
#ifdef ZELV_REPORT_PDF
  return WriteReport(path, orientation, context);
#else
  return WriteReportHtml(path, orientation, context);
#endif
}

}  // namespace zelv::cli
