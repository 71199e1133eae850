#include "files/editor_data.h"

#include "base/zelv_error.h"
#include "files/camera_file.h"
#include "files/coordinate_file.h"

namespace zelv {

namespace {

// Converts a value text, raising ZelvError with `message` when it is not a number.
double ConvertOrRaise(const std::string& text, const std::string& message) {
  const std::optional<double> value = ParseNumber(text);
  if (!value) throw ZelvError(message);
  return *value;
}

}  // namespace

std::vector<PointCells> PointCellsFromLines(const std::vector<std::string>& lines,
                                            char decimalSeparator) {
  const std::string message = "coordinate line does not convert";
  std::vector<PointCells> rows;
  rows.reserve(lines.size());
  for (const std::string& line : lines) {
    const SplitLine parts = SplitAtFirstSemicolon(line);
    if (!parts.hasSemicolon) throw ZelvError(message);
    const double x = ConvertOrRaise(parts.first, message);
    const double y = ConvertOrRaise(parts.rest, message);
    rows.push_back({FormatGeneral(x, decimalSeparator), FormatGeneral(y, decimalSeparator)});
  }
  return rows;
}

std::array<std::string, kCameraLineCount> CameraCellsFromLines(
    const std::vector<std::string>& lines) {
  if (lines.size() < static_cast<std::size_t>(kCameraLineCount)) {
    throw ZelvError("camera file has fewer than eight lines");
  }
  std::array<std::string, kCameraLineCount> cells;
  for (int i = 0; i < kCameraLineCount; ++i) {
    const SplitLine parts = SplitAtFirstSemicolon(lines[i]);
    cells[i] = parts.hasSemicolon ? parts.first : std::string();
  }
  return cells;
}

std::optional<std::string> NormaliseNumberText(const std::string& cell, char decimalSeparator) {
  if (cell.empty() || cell == " ") return std::string();
  const std::optional<double> value = ParseNumber(cell);
  if (!value) return std::nullopt;
  return FormatGeneral(*value, decimalSeparator);
}

std::vector<std::string> PointFileLines(const std::vector<PointCells>& rows,
                                        char decimalSeparator) {
  std::vector<std::string> lines;
  lines.reserve(rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const std::string message =
        "Ошибка в " + std::to_string(i + 1) + "-й строке координат изображения!";
    const double x = ConvertOrRaise(rows[i].x, message);
    const double y = ConvertOrRaise(rows[i].y, message);
    lines.push_back(FormatGeneral(x, decimalSeparator) + " ; " +
                    FormatGeneral(y, decimalSeparator));
  }
  return lines;
}

std::vector<std::string> CameraFileLines(const std::array<std::string, kCameraLineCount>& cells,
                                         char decimalSeparator) {
  const std::string message = "Ошибка в калибровочных данных!";
  std::vector<std::string> lines;
  lines.reserve(kCameraLineCount);
  for (int i = 0; i < kCameraLineCount; ++i) {
    std::string value;
    if (i == kCorrectionTableRow) {
      // A ';' would end the name early when the file is read back, and a line break would split
      // the file's lines: the saved file would not say what the grid showed.
      if (cells[i].find_first_of(";\r\n") != std::string::npos) throw ZelvError(message);
      value = cells[i];
    } else {
      const std::optional<std::string> normalised = NormaliseNumberText(cells[i], decimalSeparator);
      if (!normalised) throw ZelvError(message);
      value = *normalised;
    }
    lines.push_back(value + kCameraLineComments[i]);
  }
  return lines;
}

}  // namespace zelv
