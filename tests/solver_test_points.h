#pragma once
// Small point lists for the solver tests.

#include <initializer_list>
#include <memory>
#include <utility>

#include "points/Data_structures.h"

namespace zelv::testing {

// An owning list with the given (x, y) points in order.
inline std::unique_ptr<VT_Points> MakePoints(std::initializer_list<std::pair<double, double>> xy) {
  auto points = std::make_unique<VT_Points>(1);
  for (const auto& [x, y] : xy) points->Add(new VT_Point(x, y));
  return points;
}

// Appends the points to an existing list.
inline void AddPoints(VT_Points& points, std::initializer_list<std::pair<double, double>> xy) {
  for (const auto& [x, y] : xy) points.Add(new VT_Point(x, y));
}

// The square of side 200 pixels around the image origin, and the scene at twice its size.
inline constexpr std::pair<double, double> kSquareImage[4] = {
    {-100, -100}, {100, -100}, {100, 100}, {-100, 100}};

}  // namespace zelv::testing
