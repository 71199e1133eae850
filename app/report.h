#pragma once
// The orientation report: one page in Russian that files an orientation with the stand's records —
// what went in (each input file's name, size and SHA-256), the camera, the level and settings,
// the known values, the 21 values with σ and 95 % intervals, the correlations, the residuals with
// their figure, the check points' misses and their RMSE, the camera over the scene, the warnings
// and the verdict, the program's version and the time.
// Written as HTML with inline SVG figures and no external resource; the PDF (app/report_pdf)
// prints the same text with the same figures painted.

#include <optional>
#include <string>
#include <vector>

#include "app/file_digest.h"
#include "app/orientation.h"
#include "app/report_figure.h"

namespace zelv {

// One input file of the report: its role ("Камера", ...), the name as given and its identity
// (nothing when it could not be read).
struct ReportInput {
  std::string role;
  std::string path;
  std::optional<FileIdentity> identity;
};

// What the report states beside the orientation.
struct ReportContext {
  std::vector<ReportInput> inputs;
  double sigmaCount = 3.0;  // the request's
  double imageSigma = 0.5;  // pixels, the request's
  KnownValues known;        // the camera values the request held known (fixed or with σ)
  std::string version;      // the program's
  std::string time;         // when the report was made, local time as text
};

// The inputs of `request` with their identities: the camera file, its correction table when it
// names one, the image points and the scene points; sigmaCount, imageSigma and the known values
// from the request, the version and the current local time.
ReportContext ReportContextOf(const OrientationRequest& request);

// How the figures are placed in the HTML: inline SVG for a browser, or <img src="figure:N"> for
// Qt's rich text, which the PDF fills with the painted figure N.
enum class ReportFigures { kInlineSvg, kImageResources };

// The report's figures, in the order the HTML names them: the residuals (when there are any), the
// plan and the side view.
std::vector<Figure> ReportFigureList(const Orientation& orientation);

// The whole report as one HTML document (UTF-8). Every number finite ("—" where none is known).
std::string ReportHtml(const Orientation& orientation, const ReportContext& context,
                       ReportFigures figures = ReportFigures::kInlineSvg);

// The report's name for a photograph in a folder of reports: the image file's stem + ".html"
// (or the extension given).
std::string ReportNameFor(const std::string& imageFile, const std::string& extension);

// Writes the HTML report to `path` atomically; on failure "Ошибка записи отчёта!" / "Ошибка!" with
// the reason on a second line.
Expected<void> WriteReportHtml(const std::string& path, const Orientation& orientation,
                               const ReportContext& context);

}  // namespace zelv
