#pragma once
// The residuals of the orientation the main window shows, and their texts: the summary line, the
// command's table and the CSV export.

#include <optional>
#include <string>
#include <vector>

#include "app/orientation.h"
#include "app/report_figure.h"
#include "solver/residuals.h"

namespace zelv {

// What the residuals window shows of one orientation, taken when it was computed.
struct ResidualsReport {
  Residuals residuals;
  double imageWidth = 0;   // ImageWidth of the camera, pixels
  double imageHeight = 0;  // ImageHeight of the camera, pixels
  char decimalSeparator = '.';
  std::string csvName;  // the file name the CSV export proposes
  // The 95 % ellipse of each point's projection (pixels, corrected frame), one per point, where
  // the pose's covariance is known; empty otherwise.
  std::vector<Ellipse2> ellipses;
};

// The orientation's residuals with what the window needs beside them (`imageFileName` names the
// CSV export); nothing when the orientation has no residuals.
std::optional<ResidualsReport> ResidualsReportOf(const Orientation& orientation,
                                                 const std::string& imageFileName);

// The CSV name proposed for an image file: its name without folder, cut at its first ".", and
// "-residuals.csv"; "residuals.csv" when that leaves nothing.
std::string DefaultResidualsCsvName(const std::string& imageFileName);

// The magnification of the residual arrows: the largest of 1, 2, 2.5 and 5 times a power of ten
// that keeps the longest arrow (largest · factor) within a tenth of `frameSize` (both in pixels).
// 1 when there is nothing to magnify (largest within kNegligibleResidual, or no frame).
double ArrowMagnification(double largest, double frameSize);

// The column headings of the table and the CSV file, in column order: number (the identifier,
// where the point has one), corrected x and y
// (pixels), scene X and Y (scene units), ex, ey, |e| (pixels) and the flag.
inline constexpr const char* kResidualColumns[] = {"N",  "x",  "y",   "X",   "Y",
                                                   "ex", "ey", "|e|", "flag"};
inline constexpr int kResidualColumnCount = 9;

// The text of one cell (column as in kResidualColumns): the identifier, or the number as a
// decimal integer, the
// values in FormatFixed4 with the separator, the flag "!" or empty.
std::string ResidualCell(const PointResidual& point, int column, char decimalSeparator);

// The summary in one line, in Russian, e.g. "Сумма |ex| + |ey|: 4.1234 пикс.   σ: 0.3000 пикс.
// Наибольшая |e|: 1.2000 пикс. (точка 7)   Отмечено точек: 1 (за 3σ)".
std::string ResidualSummaryText(const Residuals& residuals, char decimalSeparator);

// The command's table: a heading line, one line per point with right-aligned columns, then the
// summary lines (English, as the command's other output).
std::vector<std::string> ResidualTableLines(const Residuals& residuals, char decimalSeparator);

// The CSV export: the heading row, then one row per point; cells separated by ';', numbers with
// the given decimal separator. All ASCII, so the file is valid UTF-8 without a byte order mark.
std::vector<std::string> ResidualCsvLines(const Residuals& residuals, char decimalSeparator);

}  // namespace zelv
