#pragma once
// Coordinate files (".crd"): one point a line, "first ; second", paired by line number. Every
// reader here also reads a point table with identifiers (files/point_table.h), which it tells
// from a ".crd" file by its name and first line; `ids`, when given, receives the table's
// identifiers in file order (emptied for a ".crd" file or a table without them). A table that
// does not read adds what is wrong on which line to the reader's message, and so does a ".crd"
// line without ';', with a value that is no number, or blank, and a file that is no text: the
// line's number, its text (cut after 60 characters) and the file's name, on a second line.

#include <array>
#include <string>
#include <vector>

#include "base/failure.h"
#include "points/Data_structures.h"

namespace zelv {

// What a point table may give beyond x and y (files/point_table.h), parallel to the points read;
// each list empty when the file has no such column (a ".crd" file has none).
struct PointExtras {
  std::vector<double> z;      // scene tables only
  std::vector<double> sigma;  // σ of each coordinate; 0: the precision of the whole file
  std::vector<char> check;    // scene tables only: 1 for a check point
};

// An image table may have a σ column (pixels), which goes to `extras` when given; a z or role
// column there is refused: heights and roles belong to the scene table.
//
// Reads raw image pixel coordinates, corrects each point with the table and the image centre and
// appends it to `points` (emptied first). On failure returns "Ошибка чтения файла координат точек
// изображения!" / "Ошибка!", the points of the earlier lines staying in the list.
// A missing file leaves the list untouched. `uncovered`, when given, receives the numbers (from 1)
// of the points whose raw x or y no band of the table covers (corrected to -1).
Expected<void> ReadImagePoints(const std::string& name, VT_Points& points,
                               const std::vector<std::string>& correctionTable, double imageCentreX,
                               double imageCentreY, std::vector<int>* uncovered = nullptr,
                               std::vector<std::string>* ids = nullptr,
                               PointExtras* extras = nullptr);

// Reads raw image pixel coordinates (x right, y down) as they stand, for a lens model to correct
// (files/calibration_file.h); messages and list as ReadImagePoints.
Expected<void> ReadRawImagePoints(const std::string& name, VT_Points& points,
                                  std::vector<std::string>* ids = nullptr,
                                  PointExtras* extras = nullptr);

// Reads scene coordinates (scene units) into `points` (emptied first). On failure returns
// "Ошибка чтения файла сцены!" / "Ошибка!".
Expected<void> ReadScenePoints(const std::string& name, VT_Points& points,
                               std::vector<std::string>* ids = nullptr,
                               PointExtras* extras = nullptr);

// Points given in memory in place of a file (a script's arrays): the two values of each point as
// a file's line holds them, in order, their identifiers (one per point, or none: paired by
// order) and what a point table's further columns would give (`extras`: each list one per point
// or empty; z and check for the scene only). The overloads below read them as the file readers
// read a file, with the same corrections, and hand `extras` on as a table's; values, z or σ that
// are not finite, a σ below 0, identifiers that are empty or repeated and lists that are not one
// per point fail with "Ошибка в точках изображения!" / "Ошибка в точках сцены!" and the reason
// on a second line.
struct GivenPoints {
  std::vector<std::array<double, 2>> values;
  std::vector<std::string> ids;
  PointExtras extras{};
};
Expected<void> ReadImagePoints(const GivenPoints& given, VT_Points& points,
                               const std::vector<std::string>& correctionTable, double imageCentreX,
                               double imageCentreY, std::vector<int>* uncovered = nullptr,
                               std::vector<std::string>* ids = nullptr,
                               PointExtras* extras = nullptr);
Expected<void> ReadRawImagePoints(const GivenPoints& given, VT_Points& points,
                                  std::vector<std::string>* ids = nullptr,
                                  PointExtras* extras = nullptr);
Expected<void> ReadScenePoints(const GivenPoints& given, VT_Points& points,
                               std::vector<std::string>* ids = nullptr,
                               PointExtras* extras = nullptr);

// Splits a data-file line at its first ';': the value before it and the rest after it. A line
// without ';' gives an empty first part and the whole line as the rest.
struct SplitLine {
  std::string first;
  std::string rest;
  bool hasSemicolon = false;
};
SplitLine SplitAtFirstSemicolon(const std::string& line);

}  // namespace zelv
