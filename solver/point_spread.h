#pragma once
// The largest distance between two points of a list, as the spread check needs it, in
// O(n log n): the farthest pair lies on the convex hull, so only antipodal pairs of the hull are
// compared. Coordinates in any unit (the check passes corrected image pixels).

#include "points/Data_structures.h"

namespace zelv {

// The largest sqrt((xi − xj)² + (yi − yj)²) over all pairs i ≤ j of the list (0 for fewer than
// two distinct points), each distance computed with exactly that formula.
double LargestPointDistance(const VT_Points& points);

}  // namespace zelv
