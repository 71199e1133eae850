#include "solver/point_spread.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace zelv {
namespace {

struct Point {
  double x, y;
};

double Distance(const Point& a, const Point& b) {
  const double dx = a.x - b.x;
  const double dy = a.y - b.y;
  return std::sqrt(dx * dx + dy * dy);
}

// Error-free transformations (without fused multiply-add): a ∘ b = x + y exactly.
void TwoSum(double a, double b, double& x, double& y) {
  x = a + b;
  const double bVirtual = x - a;
  const double aVirtual = x - bVirtual;
  y = (a - aVirtual) + (b - bVirtual);
}
void TwoDiff(double a, double b, double& x, double& y) {
  x = a - b;
  const double bVirtual = a - x;
  const double aVirtual = x + bVirtual;
  y = (a - aVirtual) + (bVirtual - b);
}
void Split(double a, double& high, double& low) {
  const double c = 134217729.0 * a;  // 2^27 + 1
  high = c - (c - a);
  low = a - high;
}
void TwoProduct(double a, double b, double& x, double& y) {
  x = a * b;
  double aHigh, aLow, bHigh, bLow;
  Split(a, aHigh, aLow);
  Split(b, bHigh, bLow);
  const double e1 = x - aHigh * bHigh;
  const double e2 = e1 - aLow * bHigh;
  const double e3 = e2 - aHigh * bLow;
  y = aLow * bLow - e3;
}

// The exact sign of u1·v1 + sign·u2·v2, where u1 = a1 − b1 and so on are differences of
// coordinates. Exact for coordinates of magnitude 0 or within [2^-250, 2^250] (checked by the
// caller): nothing then overflows or underflows.
int ExactSign(double a1, double b1, double c1, double d1, double a2, double b2, double c2,
              double d2, double sign) {
  double u1[2], v1[2], u2[2], v2[2];
  TwoDiff(a1, b1, u1[1], u1[0]);
  TwoDiff(c1, d1, v1[1], v1[0]);
  TwoDiff(a2, b2, u2[1], u2[0]);
  TwoDiff(c2, d2, v2[1], v2[0]);
  {
    // The floating-point value decides unless it is within its error bound: the four rounded
    // differences, two rounded products and one rounded sum of the orientation test stay within
    // (3 + 16ε)ε of the sum of the products' magnitudes (the bound of the classic adaptive
    // orientation predicate, whose analysis holds for any four differences).
    constexpr double kEpsilon = 0x1p-53;
    constexpr double kBound = (3.0 + 16.0 * kEpsilon) * kEpsilon;
    const double p = u1[1] * v1[1];
    const double q = sign * (u2[1] * v2[1]);
    const double value = p + q;
    const double bound = kBound * (std::fabs(p) + std::fabs(q));
    if (value > bound) return 1;
    if (value < -bound) return -1;
  }
  // The sixteen partial products summed into a nonoverlapping expansion; its sign is the sign
  // of its largest (last nonzero) component.
  double expansion[33];
  int size = 0;
  const auto grow = [&](double b) {
    double q = b;
    for (int i = 0; i < size; ++i) TwoSum(q, expansion[i], q, expansion[i]);
    expansion[size++] = q;
  };
  for (int i = 0; i < 2; ++i)
    for (int j = 0; j < 2; ++j) {
      double x, y;
      TwoProduct(u1[i], v1[j], x, y);
      grow(x);
      grow(y);
      TwoProduct(u2[i], v2[j], x, y);
      grow(sign * x);
      grow(sign * y);
    }
  for (int i = size - 1; i >= 0; --i)
    if (expansion[i] != 0) return expansion[i] > 0 ? 1 : -1;
  return 0;
}

// Sign of the cross product (b − a) × (d − c).
int CrossSign(const Point& a, const Point& b, const Point& c, const Point& d) {
  return ExactSign(b.x, a.x, d.y, c.y, b.y, a.y, d.x, c.x, -1);
}
// Sign of the dot product (b − a) · (d − c).
int DotSign(const Point& a, const Point& b, const Point& c, const Point& d) {
  return ExactSign(b.x, a.x, d.x, c.x, b.y, a.y, d.y, c.y, 1);
}

bool WithinExactRange(double v) {
  const double a = std::fabs(v);
  return a == 0 || (a >= 0x1p-250 && a <= 0x1p250);
}

double QuadraticScan(const std::vector<Point>& p) {
  double largest = 0;
  for (std::size_t i = 0; i < p.size(); ++i)
    for (std::size_t j = i; j < p.size(); ++j) largest = std::max(largest, Distance(p[i], p[j]));
  return largest;
}

}  // namespace

double LargestPointDistance(const VT_Points& points) {
  std::vector<Point> p;
  p.reserve(static_cast<std::size_t>(points.Count()));
  bool exact = true;
  for (std::int32_t i = 0; i < points.Count(); ++i) {
    const VT_Point& v = *points.Get(i);
    p.push_back({v.x, v.y});
    exact = exact && WithinExactRange(v.x) && WithinExactRange(v.y);
  }
  // Coordinates beyond the range of the exact predicate (or not finite) are compared pair by
  // pair; no real image comes near it.
  if (!exact) return QuadraticScan(p);

  // `d > largest` in the scan: a NaN or a 0 never counts, so the maximum starts at 0.
  double largest = 0;
  const auto consider = [&largest](const Point& a, const Point& b) {
    const double d = Distance(a, b);
    if (d > largest) largest = d;
  };

  const auto before = [](const Point& a, const Point& b) {
    return a.x < b.x || (a.x == b.x && a.y < b.y);
  };
  const auto same = [](const Point& a, const Point& b) { return a.x == b.x && a.y == b.y; };
  if (p.size() < 2) return largest;
  const auto [firstAt, lastAt] = std::minmax_element(p.begin(), p.end(), before);
  const Point first = *firstAt;
  const Point last = *lastAt;
  if (same(first, last)) return largest;  // fewer than two distinct points

  const bool collinear = std::all_of(
      p.begin(), p.end(), [&](const Point& q) { return CrossSign(first, last, first, q) == 0; });
  if (collinear) {
    // The farthest pair joins the two ends; every point is compared with both.
    for (const Point& q : p) {
      consider(first, q);
      consider(q, last);
    }
    return largest;
  }

  // The points extreme in x and in y, counter-clockwise, span a polygon inside the hull: a point
  // strictly inside it is strictly inside the hull, neither a vertex nor on an edge, and is left
  // out before sorting. (A side of no length keeps every point.)
  const auto lower = [](const Point& a, const Point& b) {
    return a.y < b.y || (a.y == b.y && a.x < b.x);
  };
  const auto [bottomAt, topAt] = std::minmax_element(p.begin(), p.end(), lower);
  const Point corners[4] = {first, *bottomAt, last, *topAt};
  std::vector<Point> kept;
  for (const Point& q : p) {
    bool inside = true;
    for (int k = 0; k < 4 && inside; ++k)
      inside = CrossSign(corners[k], corners[(k + 1) % 4], corners[k], q) > 0;
    if (!inside) kept.push_back(q);
  }
  std::sort(kept.begin(), kept.end(), before);
  kept.erase(std::unique(kept.begin(), kept.end(), same), kept.end());

  // Convex hull, counter-clockwise, with the points on its edges kept (only strict right turns
  // are removed), so a pair whose computed distance ties the ends of an edge is compared too.
  std::vector<Point> hull;
  hull.reserve(2 * kept.size());
  for (int pass = 0; pass < 2; ++pass) {
    const std::size_t chainStart = hull.size();
    for (std::size_t k = 0; k < kept.size(); ++k) {
      const Point& q = pass == 0 ? kept[k] : kept[kept.size() - 1 - k];
      while (hull.size() >= chainStart + 2 &&
             CrossSign(hull[hull.size() - 2], hull.back(), hull[hull.size() - 2], q) < 0)
        hull.pop_back();
      hull.push_back(q);
    }
    hull.pop_back();  // the chain's end starts the other chain
  }

  // Rotating calipers: for every edge i → i+1 the vertex j farthest from its line, found by
  // walking j forward while the next edge still leads away from the line (a next edge in the
  // same direction as edge i lies on the same side, so j walks over it too). Edges i and j
  // parallel and opposite: both ends of j are antipodal to edge i. Every pair compared is kept
  // for the second look below.
  struct Pair {
    std::size_t u, v;
    double d;
  };
  std::vector<Pair> pairs;
  const auto compare = [&](std::size_t u, std::size_t v) {
    const double d = Distance(hull[u], hull[v]);
    pairs.push_back({u, v, d});
    if (d > largest) largest = d;
  };
  const std::size_t m = hull.size();
  std::size_t j = 1;
  for (std::size_t i = 0; i < m; ++i) {
    const std::size_t b = (i + 1) % m;
    std::size_t guard = 0;
    while (guard++ < m) {
      const int cross = CrossSign(hull[i], hull[b], hull[j], hull[(j + 1) % m]);
      if (cross > 0 || (cross == 0 && DotSign(hull[i], hull[b], hull[j], hull[(j + 1) % m]) > 0) ||
          j == i)
        j = (j + 1) % m;
      else
        break;
    }
    compare(i, j);
    compare(b, j);
    const std::size_t next = (j + 1) % m;
    if (CrossSign(hull[i], hull[b], hull[j], hull[next]) == 0) {
      compare(i, next);
      compare(b, next);
    }
  }

  // The hull's farthest pair is exact, its computed distance is not: a pair of points a few
  // units in the last place from it (near-duplicates, inside the hull or on it) may compute a
  // larger distance, and the scan keeps the largest computed one. Such a pair is longer than
  // `floor` exactly (the computed distance is within a few rounding errors of the exact one),
  // and both its points lie within `radius` of the ends of a hull pair that long: a pair that
  // long is within (floor's shortfall · diameter)^½ of the diameter's ends. Both bounds are
  // taken with a wide margin; the points near those ends are compared pair by pair.
  const double floor = largest * (1 - 0x1p-44);
  const double radius = largest * 0x1p-18;
  std::vector<Point> ends;
  std::vector<char> seen(m, 0);
  for (const Pair& pair : pairs) {
    if (!(pair.d >= floor)) continue;
    for (const std::size_t end : {pair.u, pair.v}) {
      if (!seen[end]) ends.push_back(hull[end]);
      seen[end] = 1;
    }
  }
  std::vector<Point> nearEnds;
  for (const Point& q : p)
    for (const Point& e : ends)
      if (std::fabs(q.x - e.x) <= radius && std::fabs(q.y - e.y) <= radius) {
        nearEnds.push_back(q);
        break;
      }
  std::sort(nearEnds.begin(), nearEnds.end(), before);
  nearEnds.erase(std::unique(nearEnds.begin(), nearEnds.end(), same), nearEnds.end());
  // Far more points than any real image has near its two farthest points: only then the pairs
  // are too many to compare, and the hull's answer stands.
  if (nearEnds.size() <= 4096) {
    for (std::size_t a = 0; a < nearEnds.size(); ++a)
      for (std::size_t c = a + 1; c < nearEnds.size(); ++c) consider(nearEnds[a], nearEnds[c]);
  }
  return largest;
}

}  // namespace zelv
