#include "app/orientation_residuals.h"

#include <algorithm>
#include <cmath>

#include "base/number_text.h"
#include "base/zelv_error.h"
#include "files/text_file.h"

namespace zelv {

std::optional<ResidualsReport> ResidualsReportOf(const Orientation& orientation,
                                                 const std::string& imageFileName) {
  if (!orientation.residuals) return std::nullopt;
  ResidualsReport report;
  report.residuals = *orientation.residuals;
  report.imageWidth = orientation.camera.ImageWidth;
  report.imageHeight = orientation.camera.ImageHeight;
  report.decimalSeparator = orientation.decimalSeparator;
  report.csvName = DefaultResidualsCsvName(imageFileName);
  report.ellipses = PointEllipses(orientation);
  return report;
}

std::string DefaultResidualsCsvName(const std::string& imageFileName) {
  std::string name = FileNameOf(imageFileName);
  name = name.substr(0, name.find('.'));
  return name.empty() ? "residuals.csv" : name + "-residuals.csv";
}

double ArrowMagnification(double largest, double frameSize) {
  if (!(largest > kNegligibleResidual) || !(frameSize > 0) || !std::isfinite(frameSize)) return 1;
  const double wanted = frameSize * 0.1 / largest;
  if (!std::isfinite(wanted)) return 1;
  const double decade = std::pow(10.0, std::floor(std::log10(wanted)));
  double factor = decade;
  for (double step : {2.0, 2.5, 5.0, 10.0})
    if (decade * step <= wanted) factor = decade * step;
  return factor;
}

std::string ResidualCell(const PointResidual& point, int column, char decimalSeparator) {
  switch (column) {
    case 0:
      return point.id.empty() ? std::to_string(point.number) : point.id;
    case 1:
      return FormatFixed4(point.x, decimalSeparator);
    case 2:
      return FormatFixed4(point.y, decimalSeparator);
    case 3:
      return FormatFixed4(point.X, decimalSeparator);
    case 4:
      return FormatFixed4(point.Y, decimalSeparator);
    case 5:
      return FormatFixed4(point.ex, decimalSeparator);
    case 6:
      return FormatFixed4(point.ey, decimalSeparator);
    case 7:
      return FormatFixed4(point.length, decimalSeparator);
    case 8:
      return point.flagged ? "!" : "";
    default:
      return "";
  }
}

namespace {

// The name of the point with the largest residual: its identifier, or its number.
std::string LargestName(const Residuals& residuals) {
  const int number = residuals.summary.largestNumber;
  for (const PointResidual& p : residuals.points)
    if (p.number == number && !p.id.empty()) return p.id;
  return std::to_string(number);
}

}  // namespace

std::string ResidualSummaryText(const Residuals& residuals, char decimalSeparator) {
  const ResidualSummary& s = residuals.summary;
  return "Сумма |ex| + |ey|: " + FormatFixed4(s.cost, decimalSeparator) +
         " пикс.   σ: " + FormatFixed4(s.sigma, decimalSeparator) +
         " пикс.   Наибольшая |e|: " + FormatFixed4(s.largest, decimalSeparator) +
         " пикс. (точка " + LargestName(residuals) +
         ")   Отмечено точек: " + std::to_string(s.flaggedCount) + " (за " +
         FormatGeneral(s.sigmaCount, decimalSeparator) + "σ)";
}

std::vector<std::string> ResidualTableLines(const Residuals& residuals, char decimalSeparator) {
  // Column widths (characters): wide enough for four decimals of a large scene coordinate;
  // longer texts simply push the line on.
  constexpr std::size_t kWidths[kResidualColumnCount] = {5, 12, 12, 14, 14, 11, 11, 11, 5};
  const auto line = [&](auto cell) {
    std::string text;
    for (int c = 0; c < kResidualColumnCount; ++c) {
      const std::string value = cell(c);
      const std::size_t width = kWidths[c];
      text += std::string(width > value.size() ? width - value.size() : 1, ' ') + value;
    }
    // The flag column is empty for most rows: no blanks at the line end.
    return text.erase(text.find_last_not_of(' ') + 1);
  };
  std::vector<std::string> lines;
  lines.push_back(line([](int c) { return std::string(kResidualColumns[c]); }));
  for (const PointResidual& p : residuals.points)
    lines.push_back(line([&](int c) { return ResidualCell(p, c, decimalSeparator); }));
  const ResidualSummary& s = residuals.summary;
  lines.push_back("Residual cost: " + FormatFixed4(s.cost, decimalSeparator));
  lines.push_back("Residual sigma: " + FormatFixed4(s.sigma, decimalSeparator));
  lines.push_back("Largest residual: " + FormatFixed4(s.largest, decimalSeparator) + " (point " +
                  LargestName(residuals) + ")");
  lines.push_back("Flagged points: " + std::to_string(s.flaggedCount) + " (beyond " +
                  FormatGeneral(s.sigmaCount, decimalSeparator) + " sigma)");
  return lines;
}

std::vector<std::string> ResidualCsvLines(const Residuals& residuals, char decimalSeparator) {
  std::vector<std::string> lines;
  const auto row = [&](auto cell) {
    std::string text;
    for (int c = 0; c < kResidualColumnCount; ++c) {
      if (c > 0) text += ';';
      text += cell(c);
    }
    lines.push_back(text);
  };
  row([](int c) { return std::string(kResidualColumns[c]); });
  for (const PointResidual& p : residuals.points)
    row([&](int c) { return ResidualCell(p, c, decimalSeparator); });
  return lines;
}

}  // namespace zelv
