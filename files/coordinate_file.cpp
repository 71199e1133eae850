#include "files/coordinate_file.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <optional>
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
const char kGivenImageError[] = "Ошибка в точках изображения!";
const char kGivenSceneError[] = "Ошибка в точках сцены!";

// A line of a ".crd" file that does not read, or a file that is no text: what is wrong and on
// which line, for the second line of the reader's message.
class CoordinateLineError : public ZelvError {
 public:
  using ZelvError::ZelvError;
};

// The longest line or value quoted in a message, in characters; a longer one is cut with "…".
constexpr std::size_t kLongestQuoted = 60;

std::string Quoted(std::string_view text) {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    // Counts UTF-8 lead bytes, so a cut never splits a character.
    if ((static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) continue;
    if (++characters > kLongestQuoted) return "«" + std::string(text.substr(0, i)) + "…»";
  }
  return "«" + std::string(text) + "»";
}

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

std::string Where(int line, const std::string& name) {
  return "строке " + std::to_string(line) + " файла " + FileNameOf(name);
}

// The number of a ".crd" line's value (`which`: "x" or "y"), or CoordinateLineError naming it and
// the line.
double LineValue(std::string_view value, const char* which, std::string_view line, int number,
                 const std::string& name) {
  if (const std::optional<double> read = ParseNumber(value)) return *read;
  throw CoordinateLineError("В " + Where(number, name) + " значение " + which + " " +
                            Quoted(TrimBlanks(value)) + " не читается как число: " + Quoted(line) +
                            ".");
}

// The line (from 1) of the byte at `at`, its line ends counted as LineCursor counts them.
int LineOfByte(std::string_view bytes, std::size_t at) {
  int line = 1;
  for (std::size_t i = 0; i < at && i < bytes.size(); ++i)
    if (bytes[i] == '\n' || (bytes[i] == '\r' && (i + 1 >= bytes.size() || bytes[i + 1] != '\n')))
      ++line;
  return line;
}

// The text of a ".crd" file, or CoordinateLineError saying where it stops being text: a NUL byte
// (a binary file) or a byte Windows-1251 leaves undefined.
std::string LoadCoordinateText(const std::string& name) {
  std::string bytes = ReadInputFile(name);
  const std::size_t nul = bytes.find('\0');
  if (nul != std::string::npos)
    throw CoordinateLineError("В " + Where(LineOfByte(bytes, nul), name) +
                              " нулевой байт: это не текстовый файл координат.");
  // Plain ASCII always decodes: only a text with other bytes is kept for finding the fault.
  if (std::all_of(bytes.begin(), bytes.end(),
                  [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
    return DecodeText(std::move(bytes));
  const bool marked = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
  try {
    return DecodeText(bytes);
  } catch (const TextEncodingError&) {
    // Not marked as UTF-8 and not UTF-8: Windows-1251, whose only undefined byte is 0x98.
    const std::size_t undefined = marked ? std::string::npos : bytes.find('\x98');
    if (undefined == std::string::npos)
      throw CoordinateLineError("Текст файла " + FileNameOf(name) +
                                " не в кодировке UTF-8, хотя начинается с её метки.");
    throw CoordinateLineError("В " + Where(LineOfByte(bytes, undefined), name) +
                              " байт, которого нет в кодировке Windows-1251: сохраните файл "
                              "как текст в Windows-1251 или UTF-8.");
  }
}

// Appends one point per line to `points`; `correct` turns the two values into the point's
// coordinates. The points of the lines before a failing one stay in the list. The lines are
// views into the one text of the file: no line is copied. A point table (files/point_table.h)
// is read whole first; its identifiers go to `ids` when it has them. A line that does not read
// raises CoordinateLineError naming it.
template <typename Correct>
void ReadPoints(const std::string& name, VT_Points& points, std::vector<std::string>* ids,
                PointExtras* extras, bool scene, Correct correct) {
  const std::string text = LoadCoordinateText(name);
  const auto add = [&](double first, double second) {
    double x = 0;
    double y = 0;
    correct(first, second, x, y);
    points.Emplace(x, y);
  };
  if (IsPointTable(name, text)) {
    PointTable table = ParsePointTable(text, name);
    if (!scene && (table.hasZ || table.hasRole))
      throw PointTableError("В таблице точек изображения " + FileNameOf(name) + " столбец " +
                            (table.hasZ ? "z" : "роли") +
                            ": высоты и роли точек задаются в таблице точек сцены. Уберите "
                            "столбец из таблицы изображения.");
    for (const PointTable::Point& p : table.points) add(p.x, p.y);
    if (extras != nullptr) {
      for (const PointTable::Point& p : table.points) {
        if (table.hasZ) extras->z.push_back(p.z);
        if (table.hasSigma) extras->sigma.push_back(p.sigma);
        if (table.hasRole) extras->check.push_back(p.check ? 1 : 0);
      }
    }
    if (ids != nullptr) *ids = std::move(table.ids);
    return;
  }
  LineCursor cursor(text);
  int number = 0;
  for (std::string_view line; cursor.Next(line);) {
    ++number;
    const std::size_t at = line.find(';');
    if (at == std::string_view::npos) {
      if (TrimBlanks(line).empty())
        throw CoordinateLineError("Строка " + std::to_string(number) + " файла " +
                                  FileNameOf(name) +
                                  " пустая: в файле координат не должно быть пустых строк.");
      throw CoordinateLineError("В " + Where(number, name) +
                                " нет «;» между x и y: " + Quoted(line) + ".");
    }
    const double first = LineValue(line.substr(0, at), "x", line, number, name);
    const double second = LineValue(line.substr(at + 1), "y", line, number, name);
    add(first, second);
  }
}

// Points given in memory, as ReadPoints reads a file's lines. Raises CoordinateLineError on a
// value that is not finite, identifiers that cannot pair the points, or extras that a table
// could not hold.
template <typename Correct>
void ReadPoints(const GivenPoints& given, VT_Points& points, std::vector<std::string>* ids,
                PointExtras* extras, bool scene, Correct correct) {
  const std::size_t count = given.values.size();
  const PointExtras& more = given.extras;
  const auto oneEach = [count](std::size_t size, const char* what) {
    if (size != 0 && size != count)
      throw CoordinateLineError(std::string(what) + " " + std::to_string(size) + ", а точек " +
                                std::to_string(count) + ": нужно по одному значению на точку.");
  };
  oneEach(more.z.size(), "Высот");
  oneEach(more.sigma.size(), "Значений СКО");
  oneEach(more.check.size(), "Ролей");
  if (!scene && (!more.z.empty() || !more.check.empty()))
    throw CoordinateLineError("Высоты и роли точек задаются для точек сцены, а не изображения.");
  for (std::size_t i = 0; i < more.z.size(); ++i)
    if (!std::isfinite(more.z[i]))
      throw CoordinateLineError("Высота точки " + std::to_string(i + 1) +
                                " — не конечное число: задайте её числом.");
  for (std::size_t i = 0; i < more.sigma.size(); ++i)
    if (!std::isfinite(more.sigma[i]) || more.sigma[i] < 0)
      throw CoordinateLineError("СКО точки " + std::to_string(i + 1) +
                                " должно быть числом не меньше 0 (0 — точность всего набора).");
  if (!given.ids.empty()) {
    if (given.ids.size() != given.values.size())
      throw CoordinateLineError("Идентификаторов " + std::to_string(given.ids.size()) +
                                ", а точек " + std::to_string(given.values.size()) +
                                ": нужен один идентификатор на точку.");
    std::vector<std::string> sorted = given.ids;
    std::sort(sorted.begin(), sorted.end());
    if (sorted.front().empty())
      throw CoordinateLineError("Пустой идентификатор точки: задайте его.");
    if (const auto repeated = std::adjacent_find(sorted.begin(), sorted.end());
        repeated != sorted.end())
      throw CoordinateLineError("Идентификатор " + Quoted(*repeated) +
                                " повторяется: у каждой точки он свой.");
  }
  for (std::size_t i = 0; i < given.values.size(); ++i) {
    const std::array<double, 2>& v = given.values[i];
    if (!std::isfinite(v[0]) || !std::isfinite(v[1]))
      throw CoordinateLineError("Координаты точки " + std::to_string(i + 1) +
                                " — не конечные числа: задайте их числами.");
    double x = 0;
    double y = 0;
    correct(v[0], v[1], x, y);
    points.Emplace(x, y);
  }
  if (ids != nullptr) *ids = given.ids;
  if (extras != nullptr) {
    *extras = more;
    for (char& role : extras->check) role = role != 0 ? 1 : 0;
  }
}

// The message of a failed read: the reader's own, and on its second line the reason when it is
// known: what is wrong on which line (of a ".crd" file or a point table), or why the file was not
// read (too large, a FIFO or a device, a byte that is text in neither code page).
std::string ReadErrorText(const char* error, const std::exception& failure) {
  if (dynamic_cast<const PointTableError*>(&failure) != nullptr ||
      dynamic_cast<const CoordinateLineError*>(&failure) != nullptr ||
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

namespace {

// The first line of a failed read's message: the file reader's, or that of points given in memory.
const char* ErrorOf(const std::string&, const char* fileError, const char*) { return fileError; }
const char* ErrorOf(const GivenPoints&, const char*, const char* givenError) { return givenError; }

Expected<void> CheckSource(const std::string& name) { return CheckFileExists(name); }
Expected<void> CheckSource(const GivenPoints&) { return Success(); }

template <typename Source>
Expected<void> ReadCorrectedPoints(const Source& source, VT_Points& points,
                                   const std::vector<std::string>& correctionTable,
                                   double imageCentreX, double imageCentreY,
                                   std::vector<int>* uncovered, std::vector<std::string>* ids,
                                   PointExtras* extras) {
  if (Expected<void> found = CheckSource(source); !found) return found;
  points.Clear();
  if (uncovered != nullptr) uncovered->clear();
  if (ids != nullptr) ids->clear();
  if (extras != nullptr) *extras = PointExtras{};
  try {
    CorrectionTableParser table(correctionTable);
    ReadPoints(source, points, ids, extras, false,
               [&](double rawX, double rawY, double& x, double& y) {
                 x = table.CorrectX(rawX, imageCentreX);
                 y = table.CorrectY(rawY, imageCentreY);
                 // Asked after the corrections, which have parsed every band these coordinates
                 // reach.
                 if (uncovered != nullptr && (!table.CoversX(rawX) || !table.CoversY(rawY)))
                   uncovered->push_back(points.Count() + 1);
               });
    return Success();
  } catch (const std::exception& failure) {
    return Failure{ReadErrorText(ErrorOf(source, kImageReadError, kGivenImageError), failure)};
  }
}

}  // namespace

Expected<void> ReadImagePoints(const std::string& name, VT_Points& points,
                               const std::vector<std::string>& correctionTable, double imageCentreX,
                               double imageCentreY, std::vector<int>* uncovered,
                               std::vector<std::string>* ids, PointExtras* extras) {
  return ReadCorrectedPoints(name, points, correctionTable, imageCentreX, imageCentreY, uncovered,
                             ids, extras);
}

Expected<void> ReadImagePoints(const GivenPoints& given, VT_Points& points,
                               const std::vector<std::string>& correctionTable, double imageCentreX,
                               double imageCentreY, std::vector<int>* uncovered,
                               std::vector<std::string>* ids, PointExtras* extras) {
  return ReadCorrectedPoints(given, points, correctionTable, imageCentreX, imageCentreY, uncovered,
                             ids, extras);
}

namespace {

// Reads the two values of each point as they stand; `error` is the message of a failure.
template <typename Source>
Expected<void> ReadUncorrectedPoints(const Source& source, VT_Points& points, const char* error,
                                     std::vector<std::string>* ids, PointExtras* extras,
                                     bool scene) {
  if (Expected<void> found = CheckSource(source); !found) return found;
  points.Clear();
  if (ids != nullptr) ids->clear();
  if (extras != nullptr) *extras = PointExtras{};
  try {
    ReadPoints(source, points, ids, extras, scene,
               [](double first, double second, double& x, double& y) {
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
                                  std::vector<std::string>* ids, PointExtras* extras) {
  return ReadUncorrectedPoints(name, points, kImageReadError, ids, extras, false);
}

Expected<void> ReadScenePoints(const std::string& name, VT_Points& points,
                               std::vector<std::string>* ids, PointExtras* extras) {
  return ReadUncorrectedPoints(name, points, kSceneReadError, ids, extras, true);
}

Expected<void> ReadRawImagePoints(const GivenPoints& given, VT_Points& points,
                                  std::vector<std::string>* ids, PointExtras* extras) {
  return ReadUncorrectedPoints(given, points, kGivenImageError, ids, extras, false);
}

Expected<void> ReadScenePoints(const GivenPoints& given, VT_Points& points,
                               std::vector<std::string>* ids, PointExtras* extras) {
  return ReadUncorrectedPoints(given, points, kGivenSceneError, ids, extras, true);
}

}  // namespace zelv
