#pragma once
// A point on the image, in pixels: raw (origin at the centre of the top-left pixel, x right, y
// down; solver/conventions.h) or corrected (origin at the image centre, y up), as the name of
// the variable or list holding it says. The one 2-D point of the core beside the point lists'
// records (points/Data_structures.h).

namespace zelv {

struct PixelPoint {
  double x = 0;
  double y = 0;
  friend bool operator==(const PixelPoint&, const PixelPoint&) = default;
};

}  // namespace zelv
