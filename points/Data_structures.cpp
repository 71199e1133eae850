#include "points/Data_structures.h"

namespace zelv {
namespace {

// Truncation toward zero, kept inside the int range so that a far-away point cannot overflow.
int TruncToInt(double v) {
  if (!(v == v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int>(v);
}

}  // namespace

void VT_Point::Draw(Canvas& canvas, std::int32_t originRow, std::int32_t originColumn,
                    double rowScale, double columnScale) {
  // Conversions of doubles to integers truncate toward zero.
  const int left = TruncToInt(columnScale * (y - originColumn));
  const int top = TruncToInt(rowScale * (x - originRow));
  const int right = TruncToInt(columnScale * (y - originColumn + 1));
  const int bottom = TruncToInt(rowScale * (x - originRow + 1));
  canvas.FillRectangle(left, top, right, bottom, color);
}

}  // namespace zelv
