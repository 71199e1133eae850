#include "solver/refinement_cost_kernel.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

#include "points/zelv_error.h"

namespace zelv {
namespace {

// The products of one evaluation that do not depend on the point, each formed with the same
// operations in the same order as RefinementCost forms it inside its loop:
//   D  = (sa·X + L) − k5·Y                      k5 = ca·sb
//   ex = x − (F·(k1·X + k2·Y)) / D               k1 = ca·cc, k2 = (sa·sb)·cc − cb·sc
//   ey = y − (F·(k3·X + k4·Y)) / D               k3 = ca·sc, k4 = cb·cc + (sa·sb)·sc
struct Factors {
  double sa, L, k5, k1, k2, k3, k4, F;
};

// Points per block: the terms of three evaluations of one block stay in the first-level cache.
constexpr std::size_t kBlock = 256;

// The sine and cosine of recent angles (radians) on this thread, keyed on their bits: a line
// search varies one angle, so the other two are the same at every evaluation. std::sin and
// std::cos are pure, so a cached value is the one a new call would give.
struct SineCosine {
  double s, c;
};
SineCosine SinCos(double angle) {
  constexpr int kSize = 8;
  thread_local std::uint64_t keys[kSize];
  thread_local SineCosine values[kSize];
  thread_local int used = 0, next = 0;
  const std::uint64_t key = std::bit_cast<std::uint64_t>(angle);
  for (int i = 0; i < used; ++i)
    if (keys[i] == key) return values[i];
  const SineCosine v{std::sin(angle), std::cos(angle)};
  keys[next] = key;
  values[next] = v;
  next = (next + 1) % kSize;
  if (used < kSize) ++used;
  return v;
}

Factors FactorsOf(const PoseParameters& p, double F) {
  const SineCosine a = SinCos(p.Al), b = SinCos(p.Bet), c = SinCos(p.Hi);
  const double sa = a.s, ca = a.c, sb = b.s, cb = b.c, sc = c.s, cc = c.c;
  Factors k;
  k.sa = sa;
  k.L = p.L;
  k.k5 = ca * sb;
  k.k1 = ca * cc;
  k.k2 = sa * sb * cc - cb * sc;
  k.k3 = ca * sc;
  k.k4 = cb * cc + sa * sb * sc;
  k.F = F;
  return k;
}

// terms[i] = |ex| + |ey| of point i; false when a denominator is 0 or not finite (the terms are
// then meaningless). The same operations in every variant: IEEE multiply, add, subtract and
// divide, never fused, so every lane gives the scalar result.
using TermsFunction = bool (*)(const double* x, const double* y, const double* X, const double* Y,
                               std::size_t n, const Factors& k, double* terms);

bool ScalarTerms(const double* x, const double* y, const double* X, const double* Y,
                 std::size_t n, const Factors& k, double* terms, std::size_t from) {
  bool ok = true;
  for (std::size_t i = from; i < n; ++i) {
    const double D = k.sa * X[i] + k.L - k.k5 * Y[i];
    ok = ok && D - D == 0.0 && D != 0;
    const double ex = x[i] - k.F * (k.k1 * X[i] + k.k2 * Y[i]) / D;
    const double ey = y[i] - k.F * (k.k3 * X[i] + k.k4 * Y[i]) / D;
    terms[i] = std::fabs(ex) + std::fabs(ey);
  }
  return ok;
}

bool PlainTerms(const double* x, const double* y, const double* X, const double* Y, std::size_t n,
                const Factors& k, double* terms) {
  return ScalarTerms(x, y, X, Y, n, k, terms, 0);
}

__attribute__((target("avx2"))) bool Avx2Terms(const double* x, const double* y, const double* X,
                                               const double* Y, std::size_t n, const Factors& k,
                                               double* terms) {
  const __m256d sa = _mm256_set1_pd(k.sa), L = _mm256_set1_pd(k.L), k5 = _mm256_set1_pd(k.k5);
  const __m256d k1 = _mm256_set1_pd(k.k1), k2 = _mm256_set1_pd(k.k2);
  const __m256d k3 = _mm256_set1_pd(k.k3), k4 = _mm256_set1_pd(k.k4);
  const __m256d F = _mm256_set1_pd(k.F), zero = _mm256_setzero_pd();
  const __m256d sign = _mm256_set1_pd(-0.0);
  __m256d bad = _mm256_setzero_pd();
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d vX = _mm256_loadu_pd(X + i), vY = _mm256_loadu_pd(Y + i);
    const __m256d D =
        _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(sa, vX), L), _mm256_mul_pd(k5, vY));
    // Not finite: D − D is not 0 (it is NaN); zero: D == 0.
    bad = _mm256_or_pd(bad, _mm256_cmp_pd(_mm256_sub_pd(D, D), zero, _CMP_NEQ_UQ));
    bad = _mm256_or_pd(bad, _mm256_cmp_pd(D, zero, _CMP_EQ_OQ));
    const __m256d nx = _mm256_mul_pd(F, _mm256_add_pd(_mm256_mul_pd(k1, vX), _mm256_mul_pd(k2, vY)));
    const __m256d ny = _mm256_mul_pd(F, _mm256_add_pd(_mm256_mul_pd(k3, vX), _mm256_mul_pd(k4, vY)));
    const __m256d ex = _mm256_sub_pd(_mm256_loadu_pd(x + i), _mm256_div_pd(nx, D));
    const __m256d ey = _mm256_sub_pd(_mm256_loadu_pd(y + i), _mm256_div_pd(ny, D));
    _mm256_storeu_pd(terms + i,
                     _mm256_add_pd(_mm256_andnot_pd(sign, ex), _mm256_andnot_pd(sign, ey)));
  }
  const bool ok = _mm256_movemask_pd(bad) == 0;
  return ScalarTerms(x, y, X, Y, n, k, terms, i) && ok;
}

__attribute__((target("avx512f"))) bool Avx512Terms(const double* x, const double* y,
                                                   const double* X, const double* Y,
                                                   std::size_t n, const Factors& k,
                                                   double* terms) {
  const __m512d sa = _mm512_set1_pd(k.sa), L = _mm512_set1_pd(k.L), k5 = _mm512_set1_pd(k.k5);
  const __m512d k1 = _mm512_set1_pd(k.k1), k2 = _mm512_set1_pd(k.k2);
  const __m512d k3 = _mm512_set1_pd(k.k3), k4 = _mm512_set1_pd(k.k4);
  const __m512d F = _mm512_set1_pd(k.F), zero = _mm512_setzero_pd();
  __mmask8 bad = 0;
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m512d vX = _mm512_loadu_pd(X + i), vY = _mm512_loadu_pd(Y + i);
    const __m512d D =
        _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(sa, vX), L), _mm512_mul_pd(k5, vY));
    bad |= _mm512_cmp_pd_mask(_mm512_sub_pd(D, D), zero, _CMP_NEQ_UQ);
    bad |= _mm512_cmp_pd_mask(D, zero, _CMP_EQ_OQ);
    const __m512d nx = _mm512_mul_pd(F, _mm512_add_pd(_mm512_mul_pd(k1, vX), _mm512_mul_pd(k2, vY)));
    const __m512d ny = _mm512_mul_pd(F, _mm512_add_pd(_mm512_mul_pd(k3, vX), _mm512_mul_pd(k4, vY)));
    const __m512d ex = _mm512_sub_pd(_mm512_loadu_pd(x + i), _mm512_div_pd(nx, D));
    const __m512d ey = _mm512_sub_pd(_mm512_loadu_pd(y + i), _mm512_div_pd(ny, D));
    _mm512_storeu_pd(terms + i, _mm512_add_pd(_mm512_abs_pd(ex), _mm512_abs_pd(ey)));
  }
  return ScalarTerms(x, y, X, Y, n, k, terms, i) && bad == 0;
}

TermsFunction TermsFor(CostInstructions instructions) {
  switch (instructions) {
    case CostInstructions::kAvx512:
      return Avx512Terms;
    case CostInstructions::kAvx2:
      return Avx2Terms;
    case CostInstructions::kScalar:
      break;
  }
  return PlainTerms;
}

}  // namespace

bool Supports(CostInstructions instructions) {
  switch (instructions) {
    case CostInstructions::kAvx512:
      return __builtin_cpu_supports("avx512f");
    case CostInstructions::kAvx2:
      return __builtin_cpu_supports("avx2");
    case CostInstructions::kScalar:
      return true;
  }
  return false;
}

CostInstructions BestCostInstructions() {
  if (Supports(CostInstructions::kAvx512)) return CostInstructions::kAvx512;
  if (Supports(CostInstructions::kAvx2)) return CostInstructions::kAvx2;
  return CostInstructions::kScalar;
}

PointArrayCost::PointArrayCost(const VT_Points& imagePoints, const VT_Points& scenePoints,
                               double F, CostInstructions instructions)
    : F_(F), instructions_(Supports(instructions) ? instructions : CostInstructions::kScalar) {
  const std::int32_t n = imagePoints.Count();
  sceneTooShort_ = scenePoints.Count() < n;
  if (sceneTooShort_) return;
  x_.reserve(n);
  y_.reserve(n);
  X_.reserve(n);
  Y_.reserve(n);
  for (std::int32_t i = 0; i < n; ++i) {
    x_.push_back(imagePoints.Get(i)->x);
    y_.push_back(imagePoints.Get(i)->y);
    X_.push_back(scenePoints.Get(i)->x);
    Y_.push_back(scenePoints.Get(i)->y);
  }
}

double PointArrayCost::Cost(const PoseParameters& p) const {
  double cost;
  Costs(&p, 1, &cost);
  return cost;
}

void PointArrayCost::Costs(const PoseParameters* p, int count, double* costs) const {
  if (sceneTooShort_) throw ZelvError("Index out of bounds ListOfT::Get");
  const TermsFunction terms = TermsFor(instructions_);
  // Up to three evaluations share one pass over the points; each sum is its own dependency
  // chain, added point by point from 0 as RefinementCost adds.
  for (int first = 0; first < count; first += 3) {
    const int m = std::min(3, count - first);
    Factors k[3];
    for (int e = 0; e < m; ++e) k[e] = FactorsOf(p[first + e], F_);
    double sum0 = 0, sum1 = 0, sum2 = 0;
    bool ok = true;
    alignas(64) double t[3][kBlock];
    const std::size_t n = x_.size();
    for (std::size_t begin = 0; begin < n; begin += kBlock) {
      const std::size_t size = std::min(kBlock, n - begin);
      for (int e = 0; e < m; ++e)
        ok = terms(&x_[begin], &y_[begin], &X_[begin], &Y_[begin], size, k[e], t[e]) && ok;
      if (m == 3) {
        for (std::size_t i = 0; i < size; ++i) {
          sum0 = sum0 + t[0][i];
          sum1 = sum1 + t[1][i];
          sum2 = sum2 + t[2][i];
        }
      } else if (m == 2) {
        for (std::size_t i = 0; i < size; ++i) {
          sum0 = sum0 + t[0][i];
          sum1 = sum1 + t[1][i];
        }
      } else {
        for (std::size_t i = 0; i < size; ++i) sum0 = sum0 + t[0][i];
      }
    }
    if (!ok) throw ZelvError("division by zero or overflow in the projection");
    const double sums[3] = {sum0, sum1, sum2};
    for (int e = 0; e < m; ++e)
      costs[first + e] = Finite(sums[e], "overflow in the refinement cost");
  }
}

}  // namespace zelv
