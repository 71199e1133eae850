#pragma once
// The one projection of a scene point into the corrected image, as the refinement's cost, the
// residuals and the per-point kernels evaluate it. See solver/conventions.h for the frames.
//
// For the stand angles Al, Bet, Hi (radians), focal length F (pixels) and distance L (scene
// units), a scene point (X, Y) measured from the sighting point projects to
//   D = sa·X + L − (ca·sb)·Y
//   x = (F·(k1·X + k2·Y)) / D,   k1 = ca·cc,  k2 = (sa·sb)·cc − cb·sc
//   y = (F·(k3·X + k4·Y)) / D,   k3 = ca·sc,  k4 = cb·cc + (sa·sb)·sc
// with sa = sin Al, ca = cos Al, sb = sin Bet, cb = cos Bet, sc = sin Hi, cc = cos Hi. Every
// operation is evaluated in this order, so each user gets the same bits.

#include <cmath>

#include "base/zelv_error.h"

namespace zelv {

// The per-pose factors of the projection, computed once for many points.
struct ProjectionTerms {
  double sa = 0, k1 = 0, k2 = 0, k3 = 0, k4 = 0, k5 = 0;  // k5 = ca·sb
  double F = 0, L = 0;
};

// The terms from the sines and cosines of the three angles (sa = sin Al, ca = cos Al, ...).
inline ProjectionTerms MakeProjectionTerms(double sa, double ca, double sb, double cb, double sc,
                                           double cc, double F, double L) {
  ProjectionTerms t;
  t.sa = sa;
  t.k1 = ca * cc;
  t.k2 = sa * sb * cc - cb * sc;
  t.k3 = ca * sc;
  t.k4 = cb * cc + sa * sb * sc;
  t.k5 = ca * sb;
  t.F = F;
  t.L = L;
  return t;
}

inline ProjectionTerms MakeProjectionTerms(double Al, double Bet, double Hi, double F, double L) {
  return MakeProjectionTerms(std::sin(Al), std::cos(Al), std::sin(Bet), std::cos(Bet), std::sin(Hi),
                             std::cos(Hi), F, L);
}

// The reprojection error (ex, ey) = measured (x, y) minus the projection of (X, Y). Raises
// ZelvError when the denominator overflows or is zero; the errors themselves may still be
// infinite when F or the point is huge, which each caller checks where it sums them.
inline void ReprojectionError(const ProjectionTerms& t, double X, double Y, double x, double y,
                              double& ex, double& ey) {
  const double D = Finite(t.sa * X + t.L - t.k5 * Y, "overflow in the projection");
  if (D == 0) throw ZelvError("division by zero in the projection");
  ex = x - t.F * (t.k1 * X + t.k2 * Y) / D;
  ey = y - t.F * (t.k3 * X + t.k4 * Y) / D;
}

}  // namespace zelv
