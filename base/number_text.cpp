#include "base/number_text.h"

#include <langinfo.h>
#include <locale.h>

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <system_error>

#include "base/zelv_error.h"

namespace zelv {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// The C locale, made once, for the rare text std::from_chars refuses as out of range (a value
// that underflows to a subnormal or to zero is still a number).
locale_t CLocale() {
  static const locale_t c_locale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  return c_locale;
}

// Checks the grammar of a number (sign, digits with at most one '.', exponent) and writes the
// text that std::from_chars understands into `out`: without a '+' sign, '.' as the separator, a
// NUL at its end. `out` holds at least text.size() + 1 characters (the text never grows). False
// when the text is no number.
bool NormaliseNumber(std::string_view text, char* out, std::size_t& length) {
  std::size_t begin = 0;
  std::size_t end = text.size();
  while (begin < end && IsBlank(text[begin])) ++begin;
  while (end > begin && IsBlank(text[end - 1])) --end;
  if (begin == end) return false;

  std::size_t n = 0;
  std::size_t i = begin;
  if (text[i] == '+' || text[i] == '-') {
    if (text[i] == '-') out[n++] = '-';
    ++i;
  }
  int digits = 0;
  bool separator = false;
  for (; i < end; ++i) {
    const char c = text[i];
    if (IsDigit(c)) {
      out[n++] = c;
      ++digits;
    } else if ((c == '.' || c == ',') && !separator) {
      out[n++] = '.';
      separator = true;
    } else {
      break;
    }
  }
  if (digits == 0) return false;
  if (i < end) {
    if (text[i] != 'E' && text[i] != 'e') return false;
    out[n++] = 'e';
    ++i;
    if (i < end && (text[i] == '+' || text[i] == '-')) out[n++] = text[i++];
    int exponentDigits = 0;
    for (; i < end && IsDigit(text[i]); ++i) {
      out[n++] = text[i];
      ++exponentDigits;
    }
    if (exponentDigits == 0 || i < end) return false;
  }
  out[n] = '\0';
  length = n;
  return true;
}

// Splits a value into its 15 significant decimal digits (rounded to nearest, ties as the C
// library rounds the exact binary value) and the decimal exponent of the first digit.
void SignificantDigits(double magnitude, std::string& digits, int& exponent) {
  // std::to_chars, unlike printf, ignores the C library's current locale (the Qt application
  // sets it from the environment, which may make printf write a comma).
  char buffer[64];
  *std::to_chars(buffer, buffer + sizeof buffer - 1, magnitude, std::chars_format::scientific, 14)
       .ptr = '\0';  // d.ddddddddddddddde±XX
  digits.assign(1, buffer[0]);
  digits.append(buffer + 2, 14);
  exponent = std::atoi(buffer + 17);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
}

void CheckFinite(double value) {
  if (!std::isfinite(value)) throw ZelvError("Недопустимое число");
}

}  // namespace

char RegionalDecimalSeparator() {
  // Asked of a locale object of our own, so that the process's global locale, which other code
  // and the C library rely on, is never changed.
  static const char separator = [] {
    char result = '.';
    locale_t user = newlocale(LC_NUMERIC_MASK, "", static_cast<locale_t>(0));
    if (user != static_cast<locale_t>(0)) {
      const char* radix = nl_langinfo_l(RADIXCHAR, user);
      if (radix != nullptr && radix[0] == ',') result = ',';
      freelocale(user);
    }
    return result;
  }();
  return separator;
}

namespace {

// The value of a plain decimal "[-]digits" or "[-]digits.digits" (the way coordinate files
// write their numbers), or false for any other text. When the digits, read as one integer m,
// stay within 2^53 and the fraction has at most 22 digits, m and 10^k are exact doubles and
// their IEEE quotient is the correctly rounded value of the text, as std::from_chars gives it,
// at a fraction of its cost.
bool PlainDecimal(const char* p, const char* end, double& value) {
  const bool negative = p < end && *p == '-';
  if (negative) ++p;
  std::uint64_t m = 0;
  int digits = 0, fraction = 0;
  const char* const whole = p;
  for (; p < end && IsDigit(*p); ++p, ++digits) m = m * 10 + static_cast<unsigned>(*p - '0');
  if (p == whole) return false;
  if (p < end && *p == '.') {
    const char* const first = ++p;
    for (; p < end && IsDigit(*p); ++p, ++digits) m = m * 10 + static_cast<unsigned>(*p - '0');
    fraction = static_cast<int>(p - first);
    if (fraction == 0) return false;
  }
  if (p != end || digits > 19 || fraction > 22 || m > (std::uint64_t{1} << 53)) return false;
  static constexpr double kPowers[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                         1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                         1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
  const double magnitude = static_cast<double>(m) / kPowers[fraction];
  value = negative ? -magnitude : magnitude;
  return true;
}

}  // namespace

std::optional<double> ParseNumber(std::string_view text) {
  // The usual number ("-123.456", "1e-5") is what std::from_chars reads as it stands: when it
  // starts with an optional '-' and a digit or '.', and std::from_chars takes all of it, the
  // grammar above would give the same text. Anything else (a '+', a ',', an exponent out of
  // range, a text that is no number) takes the full way below.
  {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && IsBlank(text[begin])) ++begin;
    while (end > begin && IsBlank(text[end - 1])) --end;
    double plain = 0;
    if (PlainDecimal(text.data() + begin, text.data() + end, plain)) return plain;
    const std::size_t lead = begin < end && text[begin] == '-' ? begin + 1 : begin;
    if (lead < end && (IsDigit(text[lead]) || text[lead] == '.')) {
      double value = 0;
      const char* last = text.data() + end;
      const auto [ptr, ec] =
          std::from_chars(text.data() + begin, last, value, std::chars_format::general);
      if (ec == std::errc() && ptr == last && std::isfinite(value)) return value;
    }
  }
  // The usual number fits the buffer on the stack; only an absurdly long text takes the heap.
  char small[128];
  std::string large;
  char* buffer = small;
  if (text.size() >= sizeof small) {
    large.resize(text.size() + 1);
    buffer = large.data();
  }
  std::size_t length = 0;
  if (!NormaliseNumber(text, buffer, length)) return std::nullopt;
  double value = 0;
  const char* first = buffer;
  const char* last = first + length;
  const auto [ptr, ec] = std::from_chars(first, last, value, std::chars_format::general);
  if (ec == std::errc::result_out_of_range) {
    // Overflow is a conversion error; underflow gives the nearest subnormal or zero.
    const double fallback = strtod_l(buffer, nullptr, CLocale());
    if (!std::isfinite(fallback)) return std::nullopt;
    return fallback;
  }
  if (ec != std::errc() || ptr != last || !std::isfinite(value)) return std::nullopt;
  return value;
}

double ReadNumber(std::string_view text) {
  const std::optional<double> value = ParseNumber(text);
  if (!value) throw ZelvError("'" + std::string(text) + "' is not a valid floating point value");
  return *value;
}

std::string FormatFixed4(double value, char decimalSeparator) {
  CheckFinite(value);
  // 1e18 and above have more than 18 digits before the separator once rounded.
  if (std::fabs(value) >= 1e18) return FormatGeneral(value, decimalSeparator);
  char buffer[64];
  const auto end =
      std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 4).ptr;
  std::string text(buffer, end);
  if (text == "-0.0000") text.erase(0, 1);
  for (char& c : text)
    if (c == '.') c = decimalSeparator;
  return text;
}

std::string FormatGeneral(double value, char decimalSeparator) {
  CheckFinite(value);
  if (value == 0) return "0";
  std::string digits;
  int exponent = 0;
  SignificantDigits(std::fabs(value), digits, exponent);

  std::string text = value < 0 ? "-" : "";
  if (exponent < -4 || exponent >= 15) {
    text += digits[0];
    if (digits.size() > 1) {
      text += decimalSeparator;
      text.append(digits, 1, std::string::npos);
    }
    text += exponent < 0 ? "E-" : "E+";
    text += std::to_string(exponent < 0 ? -exponent : exponent);
    return text;
  }
  if (exponent < 0) {
    text += '0';
    text += decimalSeparator;
    text.append(static_cast<std::size_t>(-exponent - 1), '0');
    text += digits;
    return text;
  }
  const std::size_t integerDigits = static_cast<std::size_t>(exponent) + 1;
  if (digits.size() <= integerDigits) {
    text += digits;
    text.append(integerDigits - digits.size(), '0');
  } else {
    text.append(digits, 0, integerDigits);
    text += decimalSeparator;
    text.append(digits, integerDigits, std::string::npos);
  }
  return text;
}

}  // namespace zelv
