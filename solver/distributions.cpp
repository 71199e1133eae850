#include "solver/distributions.h"

#include <math.h>

#include <algorithm>
#include <cmath>

namespace zelv {
namespace {

// ln Γ(a), as std::lgamma computes it but without its write of the sign to the global signgam,
// which races when orientations run on several threads.
double LogGamma(double a) {
  int sign = 0;
  return ::lgamma_r(a, &sign);
}

// The regularised lower incomplete gamma function P(a, x) by its series (x < a + 1) and the
// upper Q(a, x) by Legendre's continued fraction (modified Lentz), each to double precision.
double LowerGammaSeries(double a, double x) {
  double term = 1 / a, sum = term;
  for (int k = 1; k < 1000; ++k) {
    term *= x / (a + k);
    sum += term;
    if (std::fabs(term) < std::fabs(sum) * 1e-16) break;
  }
  return sum * std::exp(-x + a * std::log(x) - LogGamma(a));
}

double UpperGammaFraction(double a, double x) {
  constexpr double kTiny = 1e-300;
  double b = x + 1 - a, c = 1 / kTiny, d = 1 / b, h = d;
  for (int k = 1; k < 1000; ++k) {
    const double an = -k * (k - a);
    b += 2;
    d = an * d + b;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = b + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1) < 1e-16) break;
  }
  return std::exp(-x + a * std::log(x) - LogGamma(a)) * h;
}

// The regularised incomplete beta function I_x(a, b) by its continued fraction (modified Lentz),
// with the symmetry I_x(a, b) = 1 − I_{1−x}(b, a) where the fraction converges slowly.
double BetaFraction(double a, double b, double x) {
  constexpr double kTiny = 1e-300;
  double c = 1, d = 1 - (a + b) * x / (a + 1);
  if (std::fabs(d) < kTiny) d = kTiny;
  d = 1 / d;
  double h = d;
  for (int m = 1; m < 1000; ++m) {
    const double m2 = 2.0 * m;
    double an = m * (b - m) * x / ((a + m2 - 1) * (a + m2));
    d = 1 + an * d;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = 1 + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    h *= d * c;
    an = -(a + m) * (a + b + m) * x / ((a + m2) * (a + m2 + 1));
    d = 1 + an * d;
    if (std::fabs(d) < kTiny) d = kTiny;
    c = 1 + an / c;
    if (std::fabs(c) < kTiny) c = kTiny;
    d = 1 / d;
    const double step = d * c;
    h *= step;
    if (std::fabs(step - 1) < 1e-16) break;
  }
  return h;
}

double IncompleteBeta(double a, double b, double x) {
  if (x <= 0) return 0;
  if (x >= 1) return 1;
  const double front =
      std::exp(LogGamma(a + b) - LogGamma(a) - LogGamma(b) + a * std::log(x) + b * std::log1p(-x));
  if (x < (a + 1) / (a + b + 2)) return front * BetaFraction(a, b, x) / a;
  return 1 - front * BetaFraction(b, a, 1 - x) / b;
}

}  // namespace

double ChiSquareUpperTail(double x, int dof) {
  if (!(x > 0) || dof < 1) return 1;
  if (!std::isfinite(x)) return 0;
  const double a = 0.5 * dof, h = 0.5 * x;
  return h < a + 1 ? 1 - LowerGammaSeries(a, h) : UpperGammaFraction(a, h);
}

double ChiSquareQuantile(double p, int dof) {
  if (dof < 1 || !(p > 0)) return 0;
  // Newton on the lower tail from the Wilson–Hilferty value, kept inside a bisection bracket.
  const double v = dof, a = 0.5 * v;
  const auto lower = [dof](double x) { return 1 - ChiSquareUpperTail(x, dof); };
  const auto density = [a](double x) {
    return std::exp((a - 1) * std::log(x) - 0.5 * x - a * std::log(2.0) - LogGamma(a));
  };
  double low = 0, high = v + 20 * std::sqrt(2 * v) + 100;
  while (lower(high) < p && high < 1e300) high *= 2;
  // The normal quantile of p, by bisection on erfc: a start value only.
  double zl = -40, zh = 40;
  for (int k = 0; k < 60; ++k) {
    const double zm = 0.5 * (zl + zh);
    (0.5 * std::erfc(-zm / std::sqrt(2.0)) < p ? zl : zh) = zm;
  }
  const double normal = 0.5 * (zl + zh), c = 2 / (9 * v);
  double x = v * std::pow(std::max(1 - c + normal * std::sqrt(c), 1e-3), 3);
  x = std::clamp(x, low, high);
  for (int k = 0; k < 100; ++k) {
    const double f = lower(x) - p;
    if (f < 0)
      low = x;
    else
      high = x;
    const double d = density(x);
    double next = d > 0 ? x - f / d : 0.5 * (low + high);
    if (!(next > low && next < high)) next = 0.5 * (low + high);
    if (std::fabs(next - x) <= 1e-14 * x) return next;
    x = next;
  }
  return x;
}

double StudentTQuantile(double p, int dof) {
  if (dof < 1 || !(p > 0.5)) return 0;
  // P(T > t) = I_{v/(v+t²)}(v/2, 1/2) / 2; Newton on it with the density, inside a bisection
  // bracket.
  const double v = dof, tail = 1 - p;
  const auto upper = [v](double t) { return 0.5 * IncompleteBeta(0.5 * v, 0.5, v / (v + t * t)); };
  const double logNorm =
      LogGamma(0.5 * (v + 1)) - LogGamma(0.5 * v) - 0.5 * std::log(v * 3.14159265358979323846);
  const auto density = [v, logNorm](double t) {
    return std::exp(logNorm - 0.5 * (v + 1) * std::log1p(t * t / v));
  };
  double low = 0, high = 10;
  while (upper(high) > tail && high < 1e300) high *= 2;
  double t = std::min(2.0, high);
  for (int k = 0; k < 100; ++k) {
    const double f = upper(t) - tail;  // decreasing in t
    if (f > 0)
      low = t;
    else
      high = t;
    const double d = density(t);
    double next = d > 0 ? t + f / d : 0.5 * (low + high);
    if (!(next > low && next < high)) next = 0.5 * (low + high);
    if (std::fabs(next - t) <= 1e-14 * t) return next;
    t = next;
  }
  return t;
}

}  // namespace zelv
