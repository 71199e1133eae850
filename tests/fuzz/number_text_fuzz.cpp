// Fuzzes reading numbers and the two number texts: no crash, and every text written reads back.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "base/number_text.h"
#include "base/zelv_error.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto value = zelv::ParseNumber(text);
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
