#include "files/coordinate_file.h"

#include <exception>
#include <string_view>

#include "base/number_text.h"
#include "files/camera_file.h"
#include "files/correction_table.h"
#include "files/point_table.h"
#include "files/text_file.h"

namespace zelv {
namespace {

const char kImageReadError[] = "Ошибка чтения файла координат точек изображения!";
const char kSceneReadError[] = "Ошибка чтения файла сцены!";

// Appends one point per line to `points`; `correct` turns the two values into the point's
// coordinates. The points of the lines before a failing one stay in the list. The lines are
// views into the one text of the file: no line is copied. A point table (files/point_table.h)
// is read whole first; its identifiers go to `ids` when it has them.
template <typename Correct>
void ReadPoints(const std::string& name, VT_Points& points, std::vector<std::string>* ids,
                Correct correct) {
  const std::string text = LoadText(name);
  const auto add = [&](double first, double second) {
    double x = 0;
    double y = 0;
    correct(first, second, x, y);
    points.Emplace(x, y);
  };
  if (IsPointTable(name, text)) {
    PointTable table = ParsePointTable(text, name);
    for (const PointTable::Point& p : table.points) add(p.x, p.y);
    if (ids != nullptr) *ids = std::move(table.ids);
    return;
  }
  LineCursor cursor(text);
  for (std::string_view line; cursor.Next(line);) {
    const std::size_t at = line.find(';');
    const double first =
        ReadNumber(at == std::string_view::npos ? std::string_view() : line.substr(0, at));
    const double second = ReadNumber(at == std::string_view::npos ? line : line.substr(at + 1));
    add(first, second);
  }
}

// The message of a failed read: the reader's own, and on its second line the reason when it is
// known: what is wrong on which line of a point table, or why the file was not read (too large,
// a FIFO or a device, a byte that is text in neither code page).
std::string ReadErrorText(const char* error, const std::exception& failure) {
  if (dynamic_cast<const PointTableError*>(&failure) != nullptr ||
      dynamic_cast<const InputFileError*>(&failure) != nullptr ||
      dynamic_cast<const TextEncodingError*>(&failure) != nullptr)
    return std::string(error) + "\n" + failure.what();
  return error;
}

}  // namespace

SplitLine SplitAtFirstSemicolon(const std::string& line) {
  const std::size_t at = line.find(';');
  if (at == std::string::npos) return SplitLine{std::string(), line, false};
  return SplitLine{line.substr(0, at), line.substr(at + 1), true};
}

Expected<void> ReadImagePoints(const std::string& name, VT_Points& points,
                               const std::vector<std::string>& correctionTable, double imageCentreX,
                               double imageCentreY, std::vector<int>* uncovered,
                               std::vector<std::string>* ids) {
  if (Expected<void> found = CheckFileExists(name); !found) return found;
  points.Clear();
  if (uncovered != nullptr) uncovered->clear();
  if (ids != nullptr) ids->clear();
  try {
    CorrectionTableParser table(correctionTable);
    ReadPoints(name, points, ids, [&](double rawX, double rawY, double& x, double& y) {
      x = table.CorrectX(rawX, imageCentreX);
      y = table.CorrectY(rawY, imageCentreY);
      // Asked after the corrections, which have parsed every band these coordinates reach.
      if (uncovered != nullptr && (!table.CoversX(rawX) || !table.CoversY(rawY)))
        uncovered->push_back(points.Count() + 1);
    });
    return Success();
  } catch (const std::exception& failure) {
    return Failure{ReadErrorText(kImageReadError, failure)};
  }
}

namespace {

// Reads the two values of each line as they stand; `error` is the message of a failure.
Expected<void> ReadUncorrectedPoints(const std::string& name, VT_Points& points, const char* error,
                                     std::vector<std::string>* ids) {
  if (Expected<void> found = CheckFileExists(name); !found) return found;
  points.Clear();
  if (ids != nullptr) ids->clear();
  try {
    ReadPoints(name, points, ids, [](double first, double second, double& x, double& y) {
      x = first;
      y = second;
    });
    return Success();
  } catch (const std::exception& failure) {
    return Failure{ReadErrorText(error, failure)};
  }
}

}  // namespace

Expected<void> ReadRawImagePoints(const std::string& name, VT_Points& points,
                                  std::vector<std::string>* ids) {
  return ReadUncorrectedPoints(name, points, kImageReadError, ids);
}

Expected<void> ReadScenePoints(const std::string& name, VT_Points& points,
                               std::vector<std::string>* ids) {
  return ReadUncorrectedPoints(name, points, kSceneReadError, ids);
}

}  // namespace zelv
