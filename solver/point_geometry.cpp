#include "solver/point_geometry.h"

#include <cmath>
#include <cstddef>

namespace zelv {
namespace {

struct Point {
  double x, y;
};

double Distance(const Point& a, const Point& b) { return std::hypot(a.x - b.x, a.y - b.y); }

// The distance of q from the line through a and b (a ≠ b).
double DistanceFromLine(const Point& a, const Point& b, const Point& q) {
  const double dx = b.x - a.x;
  const double dy = b.y - a.y;
  return std::fabs(dx * (q.y - a.y) - dy * (q.x - a.x)) / std::hypot(dx, dy);
}

// The points off the line through a and b, counted as distinct positions (coincident points off
// it are one), stopping at two; `first` is the index of the first one.
int DistinctOffLine(const std::vector<Point>& p, const Point& a, const Point& b, double tolerance,
                    std::size_t& first) {
  int off = 0;
  for (std::size_t i = 0; i < p.size(); ++i) {
    if (DistanceFromLine(a, b, p[i]) <= tolerance) continue;
    if (off == 0) {
      first = i;
      off = 1;
    } else if (Distance(p[i], p[first]) > tolerance) {
      return 2;
    }
  }
  return off;
}

std::string Reason(PointGeometryProblem problem, const std::string& which, int offLine) {
  const std::string points = "Реперные точки " + which;
  switch (problem) {
    case PointGeometryProblem::kNone:
      return std::string();
    case PointGeometryProblem::kCoincident:
      return "Среди реперных точек " + which +
             " меньше четырёх различных: положение камеры по ним не определяется. Проверьте "
             "координаты точек.";
    case PointGeometryProblem::kCollinear:
      return points +
             " лежат на одной прямой: положение камеры по ним не определяется. Добавьте точки "
             "вне этой прямой.";
    case PointGeometryProblem::kAllButOneOnLine:
      return "Все реперные точки " + which + ", кроме точки " + std::to_string(offLine) +
             ", лежат на одной прямой: положение камеры по ним не определяется. Добавьте точки "
             "вне этой прямой.";
  }
  return std::string();
}

PointGeometry Result(PointGeometryProblem problem, const std::string& which, int offLine = 0) {
  return PointGeometry{problem, offLine, Reason(problem, which, offLine)};
}

PointGeometry Check(const std::vector<Point>& p, const std::string& which, double relative) {
  if (p.empty()) return Result(PointGeometryProblem::kCoincident, which);
  // The extent: the farthest point from the first one. The tolerance scales with it, so the
  // answer does not depend on the unit.
  const Point& p0 = p[0];
  std::size_t i1 = 0;
  double extent = 0;
  for (std::size_t i = 0; i < p.size(); ++i)
    if (const double d = Distance(p0, p[i]); d > extent) {
      extent = d;
      i1 = i;
    }
  if (!std::isfinite(extent)) return Result(PointGeometryProblem::kNone, which);
  const double tolerance = relative * extent;
  if (!(extent > tolerance)) return Result(PointGeometryProblem::kCoincident, which);

  // Up to four distinct positions: fewer cannot fix the transformation however they lie.
  std::vector<Point> distinct;
  for (const Point& q : p) {
    bool known = false;
    for (const Point& d : distinct) known = known || Distance(q, d) <= tolerance;
    if (!known) distinct.push_back(q);
    if (distinct.size() == 4) break;
  }
  if (distinct.size() < 4) {
    // Two or three positions on one line are better named as a line.
    if (distinct.size() == 3 && DistanceFromLine(distinct[0], distinct[1], distinct[2]) > tolerance)
      return Result(PointGeometryProblem::kCoincident, which);
    if (distinct.size() == 3 || distinct.size() == 2)
      return Result(PointGeometryProblem::kCollinear, which);
    return Result(PointGeometryProblem::kCoincident, which);
  }

  // A line that holds all points but at most one holds two of any three distinct points: of
  // p0, the point farthest from it and the point farthest from their line, so only the three
  // lines through two of them are tried. Their points are far apart, so each line's direction is
  // known to within rounding.
  const Point& p1 = p[i1];
  std::size_t i2 = 0;
  double farthest = -1;
  for (std::size_t i = 0; i < p.size(); ++i)
    if (const double d = DistanceFromLine(p0, p1, p[i]); d > farthest) {
      farthest = d;
      i2 = i;
    }
  const Point& p2 = p[i2];
  const Point* lines[3][2] = {{&p0, &p1}, {&p0, &p2}, {&p1, &p2}};
  for (const auto& line : lines) {
    if (Distance(*line[0], *line[1]) <= tolerance) continue;
    std::size_t first = 0;
    const int off = DistinctOffLine(p, *line[0], *line[1], tolerance, first);
    if (off == 0) return Result(PointGeometryProblem::kCollinear, which);
    // Copies of the point off the line are one position: still only one point off it.
    if (off == 1)
      return Result(PointGeometryProblem::kAllButOneOnLine, which, static_cast<int>(first) + 1);
  }
  return Result(PointGeometryProblem::kNone, which);
}

}  // namespace

PointGeometry CheckPointGeometry(const std::vector<double>& x, const std::vector<double>& y,
                                 const std::string& which, double tolerance) {
  std::vector<Point> p;
  const std::size_t n = x.size() < y.size() ? x.size() : y.size();
  p.reserve(n);
  for (std::size_t i = 0; i < n; ++i) p.push_back({x[i], y[i]});
  return Check(p, which, tolerance);
}

PointGeometry CheckPointGeometry(const VT_Points& points, const std::string& which,
                                 double tolerance) {
  std::vector<Point> p;
  p.reserve(static_cast<std::size_t>(points.Count()));
  for (int i = 0; i < points.Count(); ++i) p.push_back({points.Get(i)->x, points.Get(i)->y});
  return Check(p, which, tolerance);
}

}  // namespace zelv
