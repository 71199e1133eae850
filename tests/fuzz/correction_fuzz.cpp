// Fuzzes the correction of a coordinate by an arbitrary table: the first 16 bytes are the raw x
// and y, the rest the table's lines.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "base/zelv_error.h"
#include "files/correction_table.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 16) return 0;
  double raw[2];
  std::memcpy(raw, data, sizeof raw);
  if (!std::isfinite(raw[0]) || !std::isfinite(raw[1])) return 0;
  std::vector<std::string> table;
  std::string line;
  for (std::size_t i = 16; i < size; ++i) {
    const char c = static_cast<char>(data[i]);
    if (c == '\n') {
      table.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  table.push_back(line);
  try {
    const double x = zelv::CorrectImageX(raw[0], table, 320);
    if (!std::isfinite(x)) std::abort();
  } catch (const zelv::ZelvError&) {
  }
  try {
    const double y = zelv::CorrectImageY(raw[1], table, 240);
    if (!std::isfinite(y)) std::abort();
  } catch (const zelv::ZelvError&) {
  }
  return 0;
}
