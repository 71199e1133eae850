#include "solver/refinement_cost_kernel.h"

#include <immintrin.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <utility>

#include "base/zelv_error.h"

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

// The sine and cosine of the last two values of each angle (Al, Bet, Hi; radians) this thread
// evaluated, keyed on their bits: a line search varies one angle, so the other two are the same
// at every evaluation, and the varied one often returns to a value just used. std::sin and
// std::cos are pure, so a kept value is the one a new call would give.
struct SineCosine {
  double s, c;
};
struct AngleCache {
  std::uint64_t key[3][2] = {};
  SineCosine value[3][2] = {{{0, 1}, {0, 1}}, {{0, 1}, {0, 1}}, {{0, 1}, {0, 1}}};  // angle 0

  SineCosine Get(int slot, double angle) {
    const std::uint64_t bits = std::bit_cast<std::uint64_t>(angle);
    if (key[slot][0] == bits) return value[slot][0];
    if (key[slot][1] == bits) {
      std::swap(key[slot][0], key[slot][1]);
      std::swap(value[slot][0], value[slot][1]);
      return value[slot][0];
    }
    key[slot][1] = key[slot][0];
    value[slot][1] = value[slot][0];
    key[slot][0] = bits;
    value[slot][0] = {std::sin(angle), std::cos(angle)};
    return value[slot][0];
  }
};
thread_local AngleCache angleCache;

Factors FactorsOf(const PoseParameters& p, double F, AngleCache& angles) {
  const SineCosine a = angles.Get(0, p.Al), b = angles.Get(1, p.Bet), c = angles.Get(2, p.Hi);
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

// The sums of M evaluations over n points: sums[e] = Σ (|ex| + |ey|) for the factors k[e],
// added point by point from 0. Returns false when a denominator is 0 or not finite (the sums are
// then meaningless). Every variant uses the same operations: IEEE multiply, add, subtract and
// divide, never fused, so every vector lane gives the scalar result; the terms of a vector are
// then added to the sums one lane after the other, so the divisions of the next points overlap
// the additions (each sum is one dependency chain; M chains run side by side).
using SumsFunction = bool (*)(const double* x, const double* y, const double* X, const double* Y,
                              std::size_t n, const Factors* k, double* sums);

// Points from..n-1 with plain scalar operations, continuing the sums.
template <int M>
inline bool ScalarTail(const double* x, const double* y, const double* X, const double* Y,
                       std::size_t from, std::size_t n, const Factors* k, double* sums) {
  bool ok = true;
  for (std::size_t i = from; i < n; ++i) {
    for (int e = 0; e < M; ++e) {
      const double D = k[e].sa * X[i] + k[e].L - k[e].k5 * Y[i];
      ok = ok && D - D == 0.0 && D != 0;
      const double ex = x[i] - k[e].F * (k[e].k1 * X[i] + k[e].k2 * Y[i]) / D;
      const double ey = y[i] - k[e].F * (k[e].k3 * X[i] + k[e].k4 * Y[i]) / D;
      sums[e] = sums[e] + (std::fabs(ex) + std::fabs(ey));
    }
  }
  return ok;
}

template <int M>
bool ScalarSums(const double* x, const double* y, const double* X, const double* Y, std::size_t n,
                const Factors* k, double* sums) {
  return ScalarTail<M>(x, y, X, Y, 0, n, k, sums);
}

template <int M>
__attribute__((target("avx2"))) bool Avx2Sums(const double* x, const double* y, const double* X,
                                              const double* Y, std::size_t n, const Factors* k,
                                              double* sums) {
  __m256d sa[M], L[M], k1[M], k2[M], k3[M], k4[M], k5[M], F[M];
  for (int e = 0; e < M; ++e) {
    sa[e] = _mm256_set1_pd(k[e].sa);
    L[e] = _mm256_set1_pd(k[e].L);
    k1[e] = _mm256_set1_pd(k[e].k1);
    k2[e] = _mm256_set1_pd(k[e].k2);
    k3[e] = _mm256_set1_pd(k[e].k3);
    k4[e] = _mm256_set1_pd(k[e].k4);
    k5[e] = _mm256_set1_pd(k[e].k5);
    F[e] = _mm256_set1_pd(k[e].F);
  }
  const __m256d zero = _mm256_setzero_pd(), sign = _mm256_set1_pd(-0.0);
  __m256d bad = _mm256_setzero_pd();
  double s[M];
  for (int e = 0; e < M; ++e) s[e] = sums[e];
  std::size_t i = 0;
  for (; i + 4 <= n; i += 4) {
    const __m256d vX = _mm256_loadu_pd(X + i), vY = _mm256_loadu_pd(Y + i);
    const __m256d vx = _mm256_loadu_pd(x + i), vy = _mm256_loadu_pd(y + i);
    alignas(32) double t[M][4];
    for (int e = 0; e < M; ++e) {
      const __m256d D =
          _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(sa[e], vX), L[e]), _mm256_mul_pd(k5[e], vY));
      // Not finite: D − D is not 0 (it is NaN); zero: D == 0.
      bad = _mm256_or_pd(bad, _mm256_cmp_pd(_mm256_sub_pd(D, D), zero, _CMP_NEQ_UQ));
      bad = _mm256_or_pd(bad, _mm256_cmp_pd(D, zero, _CMP_EQ_OQ));
      const __m256d nx =
          _mm256_mul_pd(F[e], _mm256_add_pd(_mm256_mul_pd(k1[e], vX), _mm256_mul_pd(k2[e], vY)));
      const __m256d ny =
          _mm256_mul_pd(F[e], _mm256_add_pd(_mm256_mul_pd(k3[e], vX), _mm256_mul_pd(k4[e], vY)));
      const __m256d ex = _mm256_sub_pd(vx, _mm256_div_pd(nx, D));
      const __m256d ey = _mm256_sub_pd(vy, _mm256_div_pd(ny, D));
      _mm256_store_pd(t[e], _mm256_add_pd(_mm256_andnot_pd(sign, ex), _mm256_andnot_pd(sign, ey)));
    }
    for (int lane = 0; lane < 4; ++lane)
      for (int e = 0; e < M; ++e) s[e] = s[e] + t[e][lane];
  }
  for (int e = 0; e < M; ++e) sums[e] = s[e];
  const bool ok = _mm256_movemask_pd(bad) == 0;
  return ScalarTail<M>(x, y, X, Y, i, n, k, sums) && ok;
}

template <int M>
__attribute__((target("avx512f"))) bool Avx512Sums(const double* x, const double* y,
                                                   const double* X, const double* Y, std::size_t n,
                                                   const Factors* k, double* sums) {
  __m512d sa[M], L[M], k1[M], k2[M], k3[M], k4[M], k5[M], F[M];
  for (int e = 0; e < M; ++e) {
    sa[e] = _mm512_set1_pd(k[e].sa);
    L[e] = _mm512_set1_pd(k[e].L);
    k1[e] = _mm512_set1_pd(k[e].k1);
    k2[e] = _mm512_set1_pd(k[e].k2);
    k3[e] = _mm512_set1_pd(k[e].k3);
    k4[e] = _mm512_set1_pd(k[e].k4);
    k5[e] = _mm512_set1_pd(k[e].k5);
    F[e] = _mm512_set1_pd(k[e].F);
  }
  const __m512d zero = _mm512_setzero_pd();
  __mmask8 bad = 0;
  double s[M];
  for (int e = 0; e < M; ++e) s[e] = sums[e];
  std::size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const __m512d vX = _mm512_loadu_pd(X + i), vY = _mm512_loadu_pd(Y + i);
    const __m512d vx = _mm512_loadu_pd(x + i), vy = _mm512_loadu_pd(y + i);
    alignas(64) double t[M][8];
    for (int e = 0; e < M; ++e) {
      const __m512d D =
          _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(sa[e], vX), L[e]), _mm512_mul_pd(k5[e], vY));
      bad |= _mm512_cmp_pd_mask(_mm512_sub_pd(D, D), zero, _CMP_NEQ_UQ);
      bad |= _mm512_cmp_pd_mask(D, zero, _CMP_EQ_OQ);
      const __m512d nx =
          _mm512_mul_pd(F[e], _mm512_add_pd(_mm512_mul_pd(k1[e], vX), _mm512_mul_pd(k2[e], vY)));
      const __m512d ny =
          _mm512_mul_pd(F[e], _mm512_add_pd(_mm512_mul_pd(k3[e], vX), _mm512_mul_pd(k4[e], vY)));
      const __m512d ex = _mm512_sub_pd(vx, _mm512_div_pd(nx, D));
      const __m512d ey = _mm512_sub_pd(vy, _mm512_div_pd(ny, D));
      _mm512_store_pd(t[e], _mm512_add_pd(_mm512_abs_pd(ex), _mm512_abs_pd(ey)));
    }
    for (int lane = 0; lane < 8; ++lane)
      for (int e = 0; e < M; ++e) s[e] = s[e] + t[e][lane];
  }
  for (int e = 0; e < M; ++e) sums[e] = s[e];
  return ScalarTail<M>(x, y, X, Y, i, n, k, sums) && bad == 0;
}

// The function for M = count evaluations with the instruction set.
SumsFunction SumsFor(CostInstructions instructions, int count) {
  static const SumsFunction table[3][3] = {
      {ScalarSums<1>, ScalarSums<2>, ScalarSums<3>},
      {Avx2Sums<1>, Avx2Sums<2>, Avx2Sums<3>},
      {Avx512Sums<1>, Avx512Sums<2>, Avx512Sums<3>},
  };
  const int row = instructions == CostInstructions::kAvx512 ? 2
                  : instructions == CostInstructions::kAvx2 ? 1
                                                            : 0;
  return table[row][count - 1];
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

PointArrayCost::PointArrayCost(const VT_Points& imagePoints, const VT_Points& scenePoints, double F,
                               CostInstructions instructions)
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
  // Up to three evaluations share one pass over the points.
  for (int first = 0; first < count; first += 3) {
    const int m = std::min(3, count - first);
    AngleCache& angles = angleCache;
    Factors k[3];
    for (int e = 0; e < m; ++e) k[e] = FactorsOf(p[first + e], F_, angles);
    double sums[3] = {0, 0, 0};
    if (!SumsFor(instructions_, m)(x_.data(), y_.data(), X_.data(), Y_.data(), x_.size(), k, sums))
      throw ZelvError("division by zero or overflow in the projection");
    for (int e = 0; e < m; ++e)
      costs[first + e] = Finite(sums[e], "overflow in the refinement cost");
  }
}

}  // namespace zelv
