#pragma once
// Whether a set of control points can fix a plane-to-plane projective transformation at all: it
// needs four distinct points of which no three lie on one line. Points all on one line, all but
// one on a line, or fewer than four distinct points leave the fit rank-deficient; any pose then
// computed from them is arbitrary, so such a set is refused before any estimate level reports a
// result. Coordinates in any unit (image pixels or scene units): the test is scale-invariant.

#include <string>
#include <vector>

#include "points/Data_structures.h"

namespace zelv {

enum class PointGeometryProblem {
  kNone,             // four points in general position exist
  kCoincident,       // fewer than four distinct points
  kCollinear,        // every point on one line
  kAllButOneOnLine,  // every point but one on one line (`offLine` names it)
};

struct PointGeometry {
  PointGeometryProblem problem = PointGeometryProblem::kNone;
  int offLine = 0;  // kAllButOneOnLine: the number (from 1, in list order) of the point off it
  // Russian, naming the problem and what to do: "Реперные точки изображения лежат на одной
  // прямой ..."; empty for kNone.
  std::string reason;
};

// The relative distance below which two points count as one, or a point as lying on a line: a
// fraction of the set's extent (the largest distance from its first point). Points of a line
// written with five or more significant digits of the extent (millimetres over tens of metres,
// thousandths of a pixel) stay within it, so a row of targets read from a file is still told as
// a line; a survey that can fix a pose is off any line by far more.
inline constexpr double kPointGeometryTolerance = 1e-5;

// Checks the points of one list. `which` names the list in the reason, in the genitive
// ("изображения", "сцены"). O(n).
PointGeometry CheckPointGeometry(const std::vector<double>& x, const std::vector<double>& y,
                                 const std::string& which,
                                 double tolerance = kPointGeometryTolerance);

// The same for a point list.
PointGeometry CheckPointGeometry(const VT_Points& points, const std::string& which,
                                 double tolerance = kPointGeometryTolerance);

}  // namespace zelv
