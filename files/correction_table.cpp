#include "files/correction_table.h"

#include <cmath>
#include <string_view>

#include "base/number_text.h"
#include "base/zelv_error.h"

namespace zelv {
namespace {

// Reads the four range numbers x1 y1 x2 y2 from the start of a band line. Each blank ends a
// token and the next one starts after it, so two blanks in a row give an empty token, which does
// not convert. The end of the line ends the last token.
void ParseRange(const std::string& line, double range[4]) {
  std::size_t pos = 0;
  for (int k = 0; k < 4; ++k) {
    if (pos > line.size()) throw ZelvError("Строка таблицы коррекции без диапазона");
    std::size_t end = line.find(' ', pos);
    if (end == std::string::npos) end = line.size();
    range[k] = ReadNumber(std::string_view(line).substr(pos, end - pos));
    pos = end + 1;
  }
}

// Collects the two coefficient groups that follow the first `marker` of a band line: the first
// group ends at a token whose last character is '-', the second at one whose last character is
// `secondEnd` ('Y' after "X", ';' after "Y"); neither end token is converted. The first token
// starts right after the marker; every later one starts at the blank that ended the one before.
// The end of the line closes the open group, so the scan never runs past it.
void ParseGroups(const std::string& line, char marker, char secondEnd, std::vector<double>& first,
                 std::vector<double>& second) {
  const std::size_t markerAt = line.find(marker);
  if (markerAt == std::string::npos)
    throw ZelvError(std::string("Строка таблицы коррекции без маркера ") + marker);
  const std::string_view text(line);
  std::size_t pos = markerAt + 1;
  std::vector<double>* groups[2] = {&first, &second};
  const char ends[2] = {'-', secondEnd};
  for (int g = 0; g < 2; ++g) {
    while (pos < text.size()) {
      std::size_t end = text.find(' ', pos + 1);
      if (end == std::string_view::npos) end = text.size();
      const std::string_view token = text.substr(pos, end - pos);
      pos = end;
      if (token.back() == ends[g]) break;
      // A lone blank at the very end of the line is no coefficient but the line's end.
      if (end == text.size() && token.find_first_not_of(' ') == std::string_view::npos) break;
      groups[g]->push_back(ReadNumber(token));
    }
  }
}

// P(v) = a0*v^0 + a1*v^1 + ... + b1*v^-1 + b2*v^-2 + ..., summed from 0 in that order.
double Evaluate(const std::vector<double>& positive, const std::vector<double>& negative,
                double v) {
  if (v == 0 && !negative.empty())
    throw ZelvError("Коррекция: отрицательная степень нулевой координаты");
  double sum = 0;
  // v^0 is 1 and v^1 is v exactly, as pow gives them; only the higher powers need pow.
  for (std::size_t k = 0; k < positive.size(); ++k)
    sum = sum + positive[k] * (k == 0 ? 1.0 : k == 1 ? v : std::pow(v, static_cast<double>(k)));
  for (std::size_t k = 0; k < negative.size(); ++k)
    sum = sum + negative[k] * std::pow(v, -static_cast<double>(k + 1));
  return Finite(sum, "Коррекция: недопустимый результат");
}

}  // namespace

CorrectionTableParser::CorrectionTableParser(const std::vector<std::string>& table)
    : table_(table), bands_(table.size() > 1 ? table.size() - 1 : 0) {}

CorrectionTableParser::Band& CorrectionTableParser::RangeOf(std::size_t line) {
  Band& band = bands_[line - 1];
  if (!band.rangeParsed) {
    band.rangeParsed = true;
    try {
      double range[4];
      ParseRange(table_[line], range);
      band.x1 = range[0];
      band.y1 = range[1];
      band.x2 = range[2];
      band.y2 = range[3];
    } catch (const ZelvError& error) {
      band.rangeError = error.what();
    }
  }
  if (!band.rangeError.empty()) throw ZelvError(band.rangeError);
  return band;
}

const CorrectionTableParser::Polynomial& CorrectionTableParser::PolynomialOf(std::size_t line,
                                                                             char marker) {
  Band& band = bands_[line - 1];
  std::optional<Polynomial>& polynomial = marker == 'X' ? band.xPolynomial : band.yPolynomial;
  std::string& error = marker == 'X' ? band.xError : band.yError;
  if (!polynomial && error.empty()) {
    try {
      Polynomial parsed;
      ParseGroups(table_[line], marker, marker == 'X' ? 'Y' : ';', parsed.positive,
                  parsed.negative);
      polynomial = std::move(parsed);
    } catch (const ZelvError& e) {
      error = e.what();
    }
  }
  if (!error.empty()) throw ZelvError(error);
  return *polynomial;
}

double CorrectionTableParser::Divisor() {
  if (!divisorParsed_) {
    divisorParsed_ = true;
    try {
      if (table_.empty()) throw ZelvError("Пустая таблица коррекции");
      divisor_ = ReadNumber(table_[0]);
    } catch (const ZelvError& e) {
      divisorError_ = e.what();
    }
  }
  if (!divisorError_.empty()) throw ZelvError(divisorError_);
  return divisor_;
}

double CorrectionTableParser::CorrectX(double x, double imageCentreX) {
  if (table_.size() < 2) throw ZelvError("В таблице коррекции нет строк диапазонов");
  for (std::size_t line = 1; line < table_.size(); ++line) {
    const Band& band = RangeOf(line);
    if (band.x1 <= x && x <= band.x2) {
      const Polynomial& p = PolynomialOf(line, 'X');
      return Finite(Evaluate(p.positive, p.negative, x) - imageCentreX,
                    "Коррекция: недопустимый результат");
    }
  }
  return -1;
}

double CorrectionTableParser::CorrectY(double y, double imageCentreY) {
  const double s = Divisor();
  if (table_.size() < 2) throw ZelvError("В таблице коррекции нет строк диапазонов");
  for (std::size_t line = 1; line < table_.size(); ++line) {
    const Band& band = RangeOf(line);
    if (band.y1 <= y && y <= band.y2) {
      const Polynomial& p = PolynomialOf(line, 'Y');
      const double py = Evaluate(p.positive, p.negative, y);
      if (s == 0) throw ZelvError("Коррекция: делитель s равен нулю");
      return Finite(imageCentreY / s - py / s, "Коррекция: недопустимый результат");
    }
  }
  return -1;
}

bool CorrectionTableParser::CoversX(double x) {
  for (std::size_t line = 1; line < table_.size(); ++line) {
    const Band& band = RangeOf(line);
    if (band.x1 <= x && x <= band.x2) return true;
  }
  return false;
}

bool CorrectionTableParser::CoversY(double y) {
  for (std::size_t line = 1; line < table_.size(); ++line) {
    const Band& band = RangeOf(line);
    if (band.y1 <= y && y <= band.y2) return true;
  }
  return false;
}

double CorrectImageX(double x, const std::vector<std::string>& table, double imageCentreX) {
  return CorrectionTableParser(table).CorrectX(x, imageCentreX);
}

double CorrectImageY(double y, const std::vector<std::string>& table, double imageCentreY) {
  return CorrectionTableParser(table).CorrectY(y, imageCentreY);
}

}  // namespace zelv
