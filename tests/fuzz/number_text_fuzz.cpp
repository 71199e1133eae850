// Fuzzes reading numbers and the two number texts: no crash, every text written reads back, and
// every read gives the bits a plain reading of the grammar gives (the C library's strtod in the
// C locale on the text with '.' as its separator).
#include <locale.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

#include "base/number_text.h"
#include "base/zelv_error.h"

namespace {

bool Digit(char c) { return c >= '0' && c <= '9'; }

// Blanks, optional sign, digits with at most one '.' or ',' (one digit at least), an optional
// exponent; the value through strtod, nothing when it is not finite.
std::optional<double> Reference(const std::string& text) {
  std::size_t b = 0, e = text.size();
  while (b < e && (text[b] == ' ' || text[b] == '\t')) ++b;
  while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t')) --e;
  std::string t;
  std::size_t i = b;
  if (i < e && (text[i] == '+' || text[i] == '-')) t += text[i++];
  int digits = 0;
  bool separator = false;
  for (; i < e; ++i) {
    if (Digit(text[i])) {
      t += text[i];
      ++digits;
    } else if ((text[i] == '.' || text[i] == ',') && !separator) {
      t += '.';
      separator = true;
    } else {
      break;
    }
  }
  if (digits == 0) return std::nullopt;
  if (i < e) {
    if (text[i] != 'e' && text[i] != 'E') return std::nullopt;
    t += text[i++];
    if (i < e && (text[i] == '+' || text[i] == '-')) t += text[i++];
    int exponentDigits = 0;
    for (; i < e && Digit(text[i]); ++i, ++exponentDigits) t += text[i];
    if (exponentDigits == 0 || i < e) return std::nullopt;
  }
  static const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(0));
  const double v = strtod_l(t.c_str(), nullptr, c);
  if (!std::isfinite(v)) return std::nullopt;
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto value = zelv::ParseNumber(text);
  const auto reference = Reference(text);
  if (value.has_value() != reference.has_value()) std::abort();
  if (value && std::memcmp(&*value, &*reference, sizeof(double)) != 0) std::abort();
  if (!value) return 0;
  if (!std::isfinite(*value)) std::abort();  // a read never yields NaN or infinity
  for (const char separator : {'.', ','}) {
    const std::string general = zelv::FormatGeneral(*value, separator);
    const auto back = zelv::ParseNumber(general);
    if (!back) std::abort();  // the general text always reads back
    const std::string fixed = zelv::FormatFixed4(*value, separator);
    if (!zelv::ParseNumber(fixed)) std::abort();
  }
  return 0;
}
