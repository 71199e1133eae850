#include "files/point_table.h"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

#include "base/number_text.h"
#include "files/text_file.h"

namespace zelv {
namespace {

enum class Separator { kComma, kSemicolon, kTab, kBlank };
enum class Column { kId, kX, kY, kNone };

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trimmed(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool IsComment(std::string_view line) {
  const std::string_view text = Trimmed(line);
  return !text.empty() && text.front() == '#';
}

std::vector<std::string_view> BlankSplit(std::string_view line) {
  std::vector<std::string_view> fields;
  std::size_t at = 0;
  while (at < line.size()) {
    while (at < line.size() && IsBlank(line[at])) ++at;
    const std::size_t start = at;
    while (at < line.size() && !IsBlank(line[at])) ++at;
    if (at > start) fields.push_back(line.substr(start, at - start));
  }
  return fields;
}

// The separator of a table, from its first line that holds a point or the heading: a tab, else
// ';', else blanks when the line splits at blanks into two or three values none of which starts
// or ends in ',' ("1,5 2,5": decimal commas), else ','.
Separator SeparatorOf(std::string_view line) {
  if (line.find('\t') != std::string_view::npos) return Separator::kTab;
  if (line.find(';') != std::string_view::npos) return Separator::kSemicolon;
  if (line.find(',') == std::string_view::npos) return Separator::kBlank;
  const std::vector<std::string_view> fields = BlankSplit(line);
  if (fields.size() < 2 || fields.size() > 3) return Separator::kComma;
  for (std::string_view f : fields)
    if (f.front() == ',' || f.back() == ',') return Separator::kComma;
  return Separator::kBlank;
}

std::string Where(int line, const std::string& name) {
  return "в строке " + std::to_string(line) + " файла " + FileNameOf(name);
}

// The fields of one line, blanks around them dropped. A field may be in double quotes (a quote
// inside written twice); the quotes are dropped. Raises on an unclosed quote or text after one.
std::vector<std::string> Fields(std::string_view line, Separator separator, int lineNumber,
                                const std::string& name) {
  const char sep = separator == Separator::kComma       ? ','
                   : separator == Separator::kSemicolon ? ';'
                                                        : '\t';
  const auto ends = [&](char c) { return separator == Separator::kBlank ? IsBlank(c) : c == sep; };
  std::vector<std::string> fields;
  std::size_t at = 0;
  const std::size_t n = line.size();
  while (true) {
    while (at < n && IsBlank(line[at]) && !ends(line[at])) ++at;
    if (separator == Separator::kBlank) {
      while (at < n && IsBlank(line[at])) ++at;
      if (at == n) break;
    }
    std::string field;
    if (at < n && line[at] == '"') {
      ++at;
      bool closed = false;
      while (at < n) {
        if (line[at] == '"') {
          if (at + 1 < n && line[at + 1] == '"') {
            field += '"';
            at += 2;
            continue;
          }
          ++at;
          closed = true;
          break;
        }
        field += line[at++];
      }
      if (!closed)
        throw PointTableError("Незакрытая кавычка " + Where(lineNumber, name) +
                              ": закройте кавычку или уберите её.");
      while (at < n && IsBlank(line[at]) && !ends(line[at])) ++at;
      if (at < n && !ends(line[at]))
        throw PointTableError("Текст после закрывающей кавычки " + Where(lineNumber, name) +
                              ": возьмите в кавычки всё значение.");
    } else {
      const std::size_t start = at;
      while (at < n && !ends(line[at])) ++at;
      field = std::string(Trimmed(line.substr(start, at - start)));
    }
    fields.push_back(std::move(field));
    if (at == n) break;
    ++at;  // the separator
    if (separator != Separator::kBlank && at == n) {
      fields.emplace_back();  // "1;2;" has an empty third value
      break;
    }
  }
  return fields;
}

Column ColumnNamed(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  static const std::unordered_map<std::string, Column> kNames = {
      {"id", Column::kId},     {"name", Column::kId},  {"point", Column::kId},
      {"pt", Column::kId},     {"no", Column::kId},    {"num", Column::kId},
      {"number", Column::kId}, {"№", Column::kId},     {"номер", Column::kId},
      {"Номер", Column::kId},  {"НОМЕР", Column::kId}, {"точка", Column::kId},
      {"Точка", Column::kId},  {"ТОЧКА", Column::kId}, {"имя", Column::kId},
      {"Имя", Column::kId},    {"ИМЯ", Column::kId},   {"x", Column::kX},
      {"e", Column::kX},       {"east", Column::kX},   {"easting", Column::kX},
      {"х", Column::kX},       {"Х", Column::kX},      {"y", Column::kY},
      {"n", Column::kY},       {"north", Column::kY},  {"northing", Column::kY},
      {"у", Column::kY},       {"У", Column::kY}};
  const auto found = kNames.find(text);
  return found == kNames.end() ? Column::kNone : found->second;
}

// The columns a heading names: two or three fields naming x and y once each and at most one id.
std::optional<std::vector<Column>> HeadingColumns(const std::vector<std::string>& fields) {
  if (fields.size() < 2 || fields.size() > 3) return std::nullopt;
  std::vector<Column> columns;
  for (const std::string& f : fields) {
    const Column c = ColumnNamed(f);
    if (c == Column::kNone || std::find(columns.begin(), columns.end(), c) != columns.end())
      return std::nullopt;
    columns.push_back(c);
  }
  if (std::find(columns.begin(), columns.end(), Column::kX) == columns.end() ||
      std::find(columns.begin(), columns.end(), Column::kY) == columns.end())
    return std::nullopt;
  return columns;
}

bool IsNumber(const std::string& text) { return ParseNumber(text).has_value(); }

bool HasTableExtension(const std::string& name) {
  const std::string file = FileNameOf(name);
  const std::size_t dot = file.rfind('.');
  if (dot == std::string::npos) return false;
  std::string ext = file.substr(dot + 1);
  for (char& c : ext)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return ext == "csv" || ext == "txt" || ext == "tsv";
}

// The digits of an identifier of digits only without its leading zeros; nothing for any other.
std::optional<std::string_view> NumericValue(std::string_view id) {
  if (id.empty() || !std::all_of(id.begin(), id.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return std::nullopt;
  while (id.size() > 1 && id.front() == '0') id.remove_prefix(1);
  return id;
}

}  // namespace

bool IsPointTable(const std::string& name, std::string_view text) {
  if (HasTableExtension(name)) return true;
  LineCursor cursor(text);
  std::string_view line;
  if (!cursor.Next(line)) return false;
  const std::size_t at = line.find(';');
  if (at != std::string_view::npos && ParseNumber(line.substr(0, at)) &&
      ParseNumber(line.substr(at + 1)))
    return false;  // a ".crd" line
  if (IsComment(line)) return true;
  try {
    const std::vector<std::string> fields = Fields(line, SeparatorOf(line), 1, name);
    if (fields.size() == 3 && IsNumber(fields[1]) && IsNumber(fields[2])) return true;
    return HeadingColumns(fields).has_value();
  } catch (const PointTableError&) {
    return false;
  }
}

bool IsPointTableFile(const std::string& path) {
  if (HasTableExtension(path)) return true;
  try {
    return IsPointTable(path, LoadText(path));
  } catch (const ZelvError&) {
    return false;
  }
}

PointTable ParsePointTable(std::string_view text, const std::string& name) {
  PointTable table;
  LineCursor cursor(text);
  std::optional<Separator> separator;
  std::vector<Column> columns;
  std::unordered_set<std::string> ids;
  int lineNumber = 0;
  for (std::string_view line; cursor.Next(line);) {
    ++lineNumber;
    if (Trimmed(line).empty() || IsComment(line)) continue;
    if (!separator) separator = SeparatorOf(line);
    const std::vector<std::string> fields = Fields(line, *separator, lineNumber, name);
    if (columns.empty()) {
      if (fields.size() < 2 || fields.size() > 3)
        throw PointTableError("Неверное число значений (" + std::to_string(fields.size()) + ") " +
                              Where(lineNumber, name) +
                              ": у точки должны быть номер, x и y или только x и y.");
      // The first line: a heading when it names the columns, and refused as one when none of
      // its values is a number.
      if (const std::optional<std::vector<Column>> heading = HeadingColumns(fields)) {
        columns = *heading;
        continue;
      }
      if (std::none_of(fields.begin(), fields.end(), IsNumber))
        throw PointTableError("Заголовок " + Where(lineNumber, name) +
                              " не читается: назовите столбцы id, x, y (или x, y) либо "
                              "уберите заголовок.");
      columns = fields.size() == 2 ? std::vector<Column>{Column::kX, Column::kY}
                                   : std::vector<Column>{Column::kId, Column::kX, Column::kY};
    }
    if (fields.size() != columns.size())
      throw PointTableError("Неверное число значений (" + std::to_string(fields.size()) + ") " +
                            Where(lineNumber, name) + ": в таблице " +
                            std::to_string(columns.size()) +
                            " столбца, у всех точек должно быть столько же значений.");
    PointTable::Point point;
    for (std::size_t c = 0; c < columns.size(); ++c) {
      const std::string& field = fields[c];
      if (columns[c] == Column::kId) {
        if (field.empty())
          throw PointTableError("Нет номера точки " + Where(lineNumber, name) +
                                ": у каждой точки должен быть номер.");
        if (!ids.insert(field).second)
          throw PointTableError("Повторяющийся номер точки «" + field + "» " +
                                Where(lineNumber, name) + ": номера точек должны быть разными.");
        table.ids.push_back(field);
        continue;
      }
      const std::optional<double> value = ParseNumber(field);
      if (!value)
        throw PointTableError("Значение «" + field + "» " + Where(lineNumber, name) +
                              " не число: координаты точки должны быть числами.");
      (columns[c] == Column::kX ? point.x : point.y) = *value;
    }
    table.points.push_back(point);
    table.lines.push_back(lineNumber);
  }
  return table;
}

bool PointIdLess(const std::string& a, const std::string& b) {
  const std::optional<std::string_view> va = NumericValue(a);
  const std::optional<std::string_view> vb = NumericValue(b);
  if (va && vb) {
    if (va->size() != vb->size()) return va->size() < vb->size();
    if (*va != *vb) return *va < *vb;
    return a < b;
  }
  if (va || vb) return va.has_value();
  return a < b;
}

}  // namespace zelv
