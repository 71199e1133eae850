#pragma once
// The conversions between data-file lines and the cells of the data editor: reading a coordinate
// or camera file into cell texts, and building the file's lines back from the cells with every
// value checked. Qt-free, so the rules can be tested without a window.

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "base/number_text.h"

namespace zelv {

// The camera file has one value a line; the editor shows exactly these many rows.
inline constexpr int kCameraLineCount = 8;
// The camera row whose value is a file name, kept as typed (0-based).
inline constexpr int kCorrectionTableRow = 2;

// The two value cells of one point row of the editor.
struct PointCells {
  std::string x;
  std::string y;
};

// Converts the lines of a coordinate file into value cells: each line is split at its first ';',
// both parts are converted and written back as general number text. Raises ZelvError at the
// first line without ';' or with a part that does not convert.
std::vector<PointCells> PointCellsFromLines(const std::vector<std::string>& lines,
                                            char decimalSeparator = RegionalDecimalSeparator());

// The values of the first eight camera file lines: each the text before the line's first ';',
// blanks included; a line without ';' gives an empty value. Raises ZelvError for fewer than
// eight lines; further lines are ignored.
std::array<std::string, kCameraLineCount> CameraCellsFromLines(
    const std::vector<std::string>& lines);

// A camera value cell as it is written: an empty cell or a cell of exactly one blank gives an
// empty value, any other cell is converted and written back as general number text. Nothing when
// the cell does not convert.
std::optional<std::string> NormaliseNumberText(const std::string& cell,
                                               char decimalSeparator = RegionalDecimalSeparator());

// The lines of a coordinate file: for row r (from 1) "x ; y" with both values as general number
// text. Raises ZelvError "Ошибка в <r>-й строке координат изображения!" at the first row whose x
// or y cell does not convert.
std::vector<std::string> PointFileLines(const std::vector<PointCells>& rows,
                                        char decimalSeparator = RegionalDecimalSeparator());

// The eight lines of a camera file: each value followed by its line comment. Every value but the
// correction-table name goes through NormaliseNumberText; the name is written unchanged. Raises
// ZelvError "Ошибка в калибровочных данных!" when a value does not convert, or when the name
// holds a ';' or a line break, which the file could not give back.
std::vector<std::string> CameraFileLines(const std::array<std::string, kCameraLineCount>& cells,
                                         char decimalSeparator = RegionalDecimalSeparator());

}  // namespace zelv
