#include "files/point_table.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <unordered_map>

#include "base/number_text.h"
#include "base/shown_text.h"
#include "files/table_line.h"
#include "files/text_file.h"

namespace zelv {
namespace {

using Separator = TableSeparator;
enum class Column { kId, kX, kY, kZ, kRole, kSigma, kNone };

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

// The fields of one line, split by the one table-line splitter (files/table_line.h). Raises on an
// unclosed quote or text after one.
std::vector<std::string> Fields(std::string_view line, Separator separator, int lineNumber,
                                const std::string& name) {
  TableLineFault fault = TableLineFault::kNone;
  std::vector<std::string> fields = SplitTableLine(line, separator, fault);
  if (fault == TableLineFault::kUnclosedQuote)
    throw PointTableError("Незакрытая кавычка " + Where(lineNumber, name) +
                          ": закройте кавычку или уберите её.");
  if (fault == TableLineFault::kTextAfterQuote)
    throw PointTableError("Текст после закрывающей кавычки " + Where(lineNumber, name) +
                          ": возьмите в кавычки всё значение.");
  return fields;
}

Column ColumnNamed(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  static const std::unordered_map<std::string, Column> kNames = {
      {"id", Column::kId},     {"name", Column::kId},     {"point", Column::kId},
      {"pt", Column::kId},     {"no", Column::kId},       {"num", Column::kId},
      {"number", Column::kId}, {"№", Column::kId},        {"номер", Column::kId},
      {"Номер", Column::kId},  {"НОМЕР", Column::kId},    {"точка", Column::kId},
      {"Точка", Column::kId},  {"ТОЧКА", Column::kId},    {"имя", Column::kId},
      {"Имя", Column::kId},    {"ИМЯ", Column::kId},      {"x", Column::kX},
      {"e", Column::kX},       {"east", Column::kX},      {"easting", Column::kX},
      {"х", Column::kX},       {"Х", Column::kX},         {"y", Column::kY},
      {"n", Column::kY},       {"north", Column::kY},     {"northing", Column::kY},
      {"у", Column::kY},       {"У", Column::kY},         {"z", Column::kZ},
      {"h", Column::kZ},       {"height", Column::kZ},    {"elevation", Column::kZ},
      {"высота", Column::kZ},  {"Высота", Column::kZ},    {"ВЫСОТА", Column::kZ},
      {"role", Column::kRole}, {"роль", Column::kRole},   {"Роль", Column::kRole},
      {"РОЛЬ", Column::kRole}, {"sigma", Column::kSigma}, {"sigma_px", Column::kSigma},
      {"σ", Column::kSigma},   {"ско", Column::kSigma},   {"СКО", Column::kSigma}};
  const auto found = kNames.find(text);
  return found == kNames.end() ? Column::kNone : found->second;
}

// The most columns a table has: id, x, y, z, role and σ.
constexpr std::size_t kMostColumns = 6;

// The columns a heading names: two to six fields naming x and y once each and each other column
// at most once.
std::optional<std::vector<Column>> HeadingColumns(const std::vector<std::string>& fields) {
  if (fields.size() < 2 || fields.size() > kMostColumns) return std::nullopt;
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

// The most of a file looked at to tell a point table by its first line.
constexpr std::size_t kFirstLineLooked = 64 * 1024;

// At most this many fields of a line are kept: a point has up to six; a line with more is refused
// by its count alone.
constexpr std::size_t kMostFields = kMostColumns + 1;

// The fields of a line without quotes, as Fields splits it, as views into the line: at most
// kMostFields kept, all counted.
std::size_t SplitFields(std::string_view line, Separator separator,
                        std::string_view (&fields)[kMostFields]) {
  return SplitPlainTableLine(line, separator, fields, kMostFields);
}

// The identifiers seen so far, as indices into the table's list, in an open-addressing hash
// table: a slot holds the index and 32 bits of the identifier's hash, so a probe that meets
// another identifier is told by the slot alone, without reading that identifier. Eight bytes a
// slot, at most 70 % full: some twelve bytes a point where a set of strings takes some sixty.
class IdSet {
 public:
  explicit IdSet(const std::vector<std::string>& ids) : ids_(ids) {}
  void Reserve(std::size_t count) {
    std::size_t size = 16;
    while (size * 7 < count * 10) size *= 2;
    if (size > slots_.size()) Rehash(size);
  }
  // An identifier met again: its index in the list and its line.
  struct Repeat {
    std::size_t index;
    int line;
  };

  // Adds ids[index], read at `line`. The slot it goes to is fetched from memory now and the
  // identifier put there a few identifiers later, so that the table's memory is read while the
  // next lines are parsed. Returns the repeated identifier found among those put in, if any.
  std::optional<Repeat> Add(std::size_t index, int line) {
    if ((count_ + queued_ + 1) * 10 > slots_.size() * 7)
      Rehash(std::max<std::size_t>(16, 2 * slots_.size()));
    const std::uint64_t hash = std::hash<std::string_view>()(ids_[index]);
    __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
    std::optional<Repeat> repeat;
    if (queued_ == kQueue) repeat = PutOldest();
    queue_[(first_ + queued_) % kQueue] = {index, line, hash};
    ++queued_;
    return repeat;
  }
  // Puts in every queued identifier; the first repeated one, if any.
  std::optional<Repeat> Flush() {
    while (queued_ > 0)
      if (std::optional<Repeat> repeat = PutOldest()) return repeat;
    return std::nullopt;
  }

 private:
  static constexpr std::size_t kQueue = 16;
  struct Queued {
    std::size_t index;
    int line;
    std::uint64_t hash;
  };

  std::optional<Repeat> PutOldest() {
    const Queued q = queue_[first_];
    first_ = (first_ + 1) % kQueue;
    --queued_;
    if (!Insert(q.index, q.hash)) return Repeat{q.index, q.line};
    return std::nullopt;
  }

  // Adds ids[index]; false when an equal identifier is already there.
  bool Insert(std::size_t index, std::uint64_t hash) {
    const std::string& id = ids_[index];
    const std::uint64_t tag = hash >> 32 << 32;
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = hash & mask;; at = (at + 1) & mask) {
      const std::uint64_t slot = slots_[at];
      if (slot == 0) {
        slots_[at] = tag | (index + 1);
        ++count_;
        return true;
      }
      if ((slot & kTagBits) == tag && ids_[(slot & kIndexBits) - 1] == id) return false;
    }
  }

  static constexpr std::uint64_t kIndexBits = 0xFFFFFFFFu;
  static constexpr std::uint64_t kTagBits = ~kIndexBits;

  void Rehash(std::size_t size) {
    std::vector<std::uint64_t> old(size, 0);
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const std::uint64_t slot : old) {
      if (slot == 0) continue;
      std::size_t at = std::hash<std::string_view>()(ids_[(slot & kIndexBits) - 1]) & mask;
      while (slots_[at] != 0) at = (at + 1) & mask;
      slots_[at] = slot;
    }
  }

  const std::vector<std::string>& ids_;
  std::vector<std::uint64_t> slots_;
  std::size_t count_ = 0;
  Queued queue_[kQueue] = {};
  std::size_t first_ = 0;
  std::size_t queued_ = 0;
};

// The text in lower case: ASCII letters and the Cyrillic ones of UTF-8 (А–Я, Ё).
std::string LowerCase(std::string_view text) {
  std::string out(text);
  for (std::size_t i = 0; i < out.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(out[i]);
    if (c >= 'A' && c <= 'Z') {
      out[i] = static_cast<char>(c - 'A' + 'a');
    } else if (c == 0xD0 && i + 1 < out.size()) {
      const unsigned char n = static_cast<unsigned char>(out[i + 1]);
      if (n >= 0x90 && n <= 0x9F) {
        out[i + 1] = static_cast<char>(n + 0x20);
      } else if (n >= 0xA0 && n <= 0xAF) {
        out[i] = static_cast<char>(0xD1);
        out[i + 1] = static_cast<char>(n - 0x20);
      } else if (n == 0x81) {
        out[i] = static_cast<char>(0xD1);
        out[i + 1] = static_cast<char>(0x91);
      }
      ++i;
    }
  }
  return out;
}

// The role of a point: true for a check point. Raises on a word that names no role.
bool IsCheckRole(std::string_view field, int line, const std::string& name) {
  const std::string role = LowerCase(Trimmed(field));
  if (role.empty() || role == "control" || role == "опорная") return false;
  if (role == "check" || role == "контрольная") return true;
  throw PointTableError("Роль «" + ShownName(field) + "» " + Where(line, name) +
                        " не известна: укажите control (опорная) или check (контрольная) либо "
                        "оставьте поле пустым для опорной точки.");
}

// A point's σ: a number above 0, or 0 for an empty field (the precision of the whole file).
double SigmaValue(std::string_view field, int line, const std::string& name) {
  if (Trimmed(field).empty()) return 0;
  const std::optional<double> value = ParseNumber(field);
  if (!value)
    throw PointTableError("Значение σ «" + ShownName(field) + "» " + Where(line, name) +
                          " не число: σ точки должно быть числом больше нуля или пустым.");
  if (!(*value > 0) || !std::isfinite(*value))
    throw PointTableError("σ точки " + Where(line, name) +
                          " должно быть больше нуля: исправьте его или оставьте поле пустым.");
  return *value;
}

PointTableError RepeatedId(const std::string& id, int line, const std::string& name) {
  return PointTableError("Повторяющийся номер точки «" + ShownName(id) + "» " + Where(line, name) +
                         ": номера точек должны быть разными.");
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
    if ((fields.size() == 3 || fields.size() == 4) &&
        std::all_of(fields.begin() + 1, fields.end(), IsNumber))
      return true;
    return HeadingColumns(fields).has_value();
  } catch (const PointTableError&) {
    return false;
  }
}

bool IsPointTableFile(const std::string& path) {
  if (HasTableExtension(path)) return true;
  try {
    // Only the first line decides: its bytes are read, through the guarded open that keeps a
    // pipe's bytes for its reader, up to the end of that line.
    std::string head = ReadInputHead(path, kFirstLineLooked);
    const std::size_t end = head.find_first_of("\r\n");
    if (end != std::string::npos) head.resize(end);
    return IsPointTable(path, DecodeText(std::move(head)));
  } catch (const ZelvError&) {
    return false;
  }
}

PointTable ParsePointTable(std::string_view text, const std::string& name) {
  PointTable table;
  // Room for every line at once: a table of millions of points is not copied as it grows.
  std::size_t lineCount = 1;
  for (const char* at = text.data();
       (at = static_cast<const char*>(std::memchr(at, '\n', text.data() + text.size() - at))) !=
       nullptr;
       ++at)
    ++lineCount;
  LineCursor cursor(text);
  std::optional<Separator> separator;
  std::vector<Column> columns;
  IdSet ids(table.ids);
  int lineNumber = 0;
  std::vector<std::string> slowFields;
  std::string_view fields[kMostFields];
  std::string heldId;
  try {
    for (std::string_view line; cursor.Next(line);) {
      ++lineNumber;
      if (Trimmed(line).empty() || IsComment(line)) continue;
      if (!separator) separator = SeparatorOf(line);
      std::size_t count = 0;
      // A line without quotes is split in place; one with quotes, and the first line (which may
      // be the heading), by Fields.
      const bool quoted = line.find('"') != std::string_view::npos;
      if (quoted || columns.empty()) {
        slowFields = Fields(line, *separator, lineNumber, name);
        count = slowFields.size();
        for (std::size_t i = 0; i < count && i < kMostFields; ++i) fields[i] = slowFields[i];
      } else {
        count = SplitFields(line, *separator, fields);
      }
      if (columns.empty()) {
        if (count < 2 || count > kMostColumns)
          throw PointTableError("Неверное число значений (" + std::to_string(count) + ") " +
                                Where(lineNumber, name) +
                                ": у точки должны быть номер, x и y (и z) или только x и y.");
        // The first line: a heading when it names the columns, and refused as one when none of
        // its values is a number.
        const std::optional<std::vector<Column>> heading = HeadingColumns(slowFields);
        if (heading) {
          columns = *heading;
        } else if (std::none_of(slowFields.begin(), slowFields.end(), IsNumber)) {
          throw PointTableError("Заголовок " + Where(lineNumber, name) +
                                " не читается: назовите столбцы id, x, y (или x, y) либо "
                                "уберите заголовок.");
        } else if (count > 4) {
          throw PointTableError("Неверное число значений (" + std::to_string(count) + ") " +
                                Where(lineNumber, name) +
                                ": без заголовка у точки должны быть номер, x, y и z, номер, x "
                                "и y или только x и y; роль и σ — только со строкой заголовка.");
        } else {
          columns = count == 2 ? std::vector<Column>{Column::kX, Column::kY}
                    : count == 3
                        ? std::vector<Column>{Column::kId, Column::kX, Column::kY}
                        : std::vector<Column>{Column::kId, Column::kX, Column::kY, Column::kZ};
        }
        const auto has = [&](Column c) {
          return std::find(columns.begin(), columns.end(), c) != columns.end();
        };
        table.hasZ = has(Column::kZ);
        table.hasRole = has(Column::kRole);
        table.hasSigma = has(Column::kSigma);
        table.points.reserve(lineCount);
        table.lines.reserve(lineCount);
        if (std::find(columns.begin(), columns.end(), Column::kId) != columns.end()) {
          table.ids.reserve(lineCount);
          ids.Reserve(lineCount);
        }
        if (heading) continue;
      }
      if (count != columns.size())
        throw PointTableError("Неверное число значений (" + std::to_string(count) + ") " +
                              Where(lineNumber, name) + ": в таблице " +
                              std::to_string(columns.size()) +
                              " столбца, у всех точек должно быть столько же значений.");
      PointTable::Point point;
      for (std::size_t c = 0; c < columns.size(); ++c) {
        const std::string_view field = fields[c];
        if (columns[c] == Column::kId) {
          if (field.empty())
            throw PointTableError("Нет номера точки " + Where(lineNumber, name) +
                                  ": у каждой точки должен быть номер.");
          table.ids.emplace_back(field);
          if (const std::optional<IdSet::Repeat> repeat = ids.Add(table.ids.size() - 1, lineNumber))
            throw RepeatedId(table.ids[repeat->index], repeat->line, name);
          continue;
        }
        if (columns[c] == Column::kRole) {
          point.check = IsCheckRole(field, lineNumber, name);
          continue;
        }
        if (columns[c] == Column::kSigma) {
          point.sigma = SigmaValue(field, lineNumber, name);
          continue;
        }
        const std::optional<double> value = ParseNumber(field);
        if (!value)
          throw PointTableError("Значение «" + ShownName(field) + "» " + Where(lineNumber, name) +
                                " не число: координаты точки должны быть числами.");
        (columns[c] == Column::kX   ? point.x
         : columns[c] == Column::kY ? point.y
                                    : point.z) = *value;
      }
      table.points.push_back(point);
      table.lines.push_back(lineNumber);
    }
  } catch (const PointTableError&) {
    // An identifier repeated on an earlier line, still queued, is the first fault of the file.
    if (const std::optional<IdSet::Repeat> repeat = ids.Flush())
      throw RepeatedId(table.ids[repeat->index], repeat->line, name);
    throw;
  }
  if (const std::optional<IdSet::Repeat> repeat = ids.Flush())
    throw RepeatedId(table.ids[repeat->index], repeat->line, name);
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
