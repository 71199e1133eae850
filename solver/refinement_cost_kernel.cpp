#include "solver/refinement_cost_kernel.h"

// The vector kernels exist on x86-64 only; ZELV_NO_VECTOR_KERNELS builds the scalar path alone,
// as on every other processor.
#if defined(__x86_64__) && !defined(ZELV_NO_VECTOR_KERNELS)
#include <immintrin.h>
#define ZELV_COST_VECTORS 1
#else
#define ZELV_COST_VECTORS 0
#endif

#include <algorithm>
#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "base/zelv_error.h"
#include "solver/fma_division.h"
#include "solver/projection.h"

namespace zelv {
namespace {

// The points as the kernels read them.
struct PointArrays {
  const double *x, *y, *X, *Y;  // pixels; scene units
  std::size_t n;
};

// Points from..n-1 of one evaluation with the one projection, continuing `sum`.
inline void ScalarSum(const PointArrays& a, std::size_t from, const ProjectionTerms& t,
                      double& sum) {
  for (std::size_t i = from; i < a.n; ++i) {
    double ex, ey;
    ReprojectionError(t, a.X[i], a.Y[i], a.x[i], a.y[i], ex, ey);
    sum = sum + (std::fabs(ex) + std::fabs(ey));
  }
}

#if ZELV_COST_VECTORS
// Every vector variant uses the operations of ReprojectionError in its order (IEEE multiply,
// add, subtract and divide, never fused; a division formed by the FMA units gives the IEEE
// quotient's bits, solver/fma_division.h), so every lane gives the scalar bits:
//   D  = (sa·X + L) − k5·Y,  ex = x − (F·(k1·X + k2·Y)) / D,  ey = y − (F·(k3·X + k4·Y)) / D
// and adds |ex| + |ey| to its evaluation's sum point by point from 0. A denominator that is 0 or
// not finite is found in the vector and reported by returning false.

// ---- a few evaluations, the points in the lanes: the terms of a vector of points are added to
// each sum one lane after the other (each sum is one dependency chain; M chains side by side).

// What the evaluations of one line-search step share: nothing; the angles (only the distance
// differs, so the numerators and the products in the denominator are common); the denominator
// (only Hi differs).
enum class Shared { kNothing, kAngles, kDenominator };

// `bad` with the lanes set where D is not finite (D − D is not 0, it is NaN) or zero.
__attribute__((target("avx2"), always_inline)) inline __m256d MarkBadDenominators(__m256d bad,
                                                                                  __m256d D) {
  const __m256d zero = _mm256_setzero_pd();
  bad = _mm256_or_pd(bad, _mm256_cmp_pd(_mm256_sub_pd(D, D), zero, _CMP_NEQ_UQ));
  return _mm256_or_pd(bad, _mm256_cmp_pd(D, zero, _CMP_EQ_OQ));
}

template <int M, Shared S = Shared::kNothing>
__attribute__((target("avx2"), optimize("no-tree-slp-vectorize"))) bool Avx2PointLanes(
    const PointArrays& a, const ProjectionTerms* k, double* sums) {
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
  const __m256d sign = _mm256_set1_pd(-0.0);
  __m256d bad = _mm256_setzero_pd();
  double s[M];
  for (int e = 0; e < M; ++e) s[e] = 0;
  std::size_t i = 0;
  for (; i + 4 <= a.n; i += 4) {
    const __m256d vX = _mm256_loadu_pd(a.X + i), vY = _mm256_loadu_pd(a.Y + i);
    const __m256d vx = _mm256_loadu_pd(a.x + i), vy = _mm256_loadu_pd(a.y + i);
    alignas(32) double t[M][4];
    // What the evaluations share is formed once: the same operations on the same operands.
    __m256d saX = vX, k5Y = vY, nx0 = vX, ny0 = vY, D0 = vX;
    if constexpr (S == Shared::kAngles) {
      saX = _mm256_mul_pd(sa[0], vX);
      k5Y = _mm256_mul_pd(k5[0], vY);
      nx0 = _mm256_mul_pd(F[0], _mm256_add_pd(_mm256_mul_pd(k1[0], vX), _mm256_mul_pd(k2[0], vY)));
      ny0 = _mm256_mul_pd(F[0], _mm256_add_pd(_mm256_mul_pd(k3[0], vX), _mm256_mul_pd(k4[0], vY)));
    }
    if constexpr (S == Shared::kDenominator) {
      D0 = _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(sa[0], vX), L[0]), _mm256_mul_pd(k5[0], vY));
      bad = MarkBadDenominators(bad, D0);
    }
    for (int e = 0; e < M; ++e) {
      __m256d D = D0, nx = nx0, ny = ny0;
      if constexpr (S != Shared::kDenominator) {
        D = S == Shared::kAngles ? _mm256_sub_pd(_mm256_add_pd(saX, L[e]), k5Y)
                                 : _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(sa[e], vX), L[e]),
                                                 _mm256_mul_pd(k5[e], vY));
        bad = MarkBadDenominators(bad, D);
      }
      if constexpr (S != Shared::kAngles) {
        nx = _mm256_mul_pd(F[e], _mm256_add_pd(_mm256_mul_pd(k1[e], vX), _mm256_mul_pd(k2[e], vY)));
        ny = _mm256_mul_pd(F[e], _mm256_add_pd(_mm256_mul_pd(k3[e], vX), _mm256_mul_pd(k4[e], vY)));
      }
      const __m256d ex = _mm256_sub_pd(vx, _mm256_div_pd(nx, D));
      const __m256d ey = _mm256_sub_pd(vy, _mm256_div_pd(ny, D));
      _mm256_store_pd(t[e], _mm256_add_pd(_mm256_andnot_pd(sign, ex), _mm256_andnot_pd(sign, ey)));
    }
    for (int lane = 0; lane < 4; ++lane)
      for (int e = 0; e < M; ++e) s[e] = s[e] + t[e][lane];
  }
  if (_mm256_movemask_pd(bad) != 0) return false;
  for (int e = 0; e < M; ++e) {
    ScalarSum(a, i, k[e], s[e]);
    sums[e] = s[e];
  }
  return true;
}

// The AVX-512 kernels divide in one of two ways, with the same bits (solver/fma_division.h):
// by `vdivpd`, or, where the rounding mode is the default one, by the FMA units from one
// reciprocal of D shared by nx/D and ny/D (and by every evaluation with the same D), for each
// vector whose lanes all pass the gate; a vector with any lane outside it takes `vdivpd`.

// D's reciprocal where every lane of D passes the gate (`fits`), for Quotients512.
struct Reciprocal512 {
  bool fits;
  __m512d y;
};
__attribute__((target("avx512f,avx512dq"), always_inline)) inline Reciprocal512 ReciprocalOf(
    __m512d D) {
  if (fma_division::FitsDenominator(D) != 0xFF) return {false, D};
  return {true, fma_division::Reciprocal(D)};
}
// nx/D and ny/D, with D's reciprocal r.
__attribute__((target("avx512f,avx512dq"), always_inline)) inline void Quotients512(
    __m512d nx, __m512d ny, __m512d D, const Reciprocal512& r, __m512d& qx, __m512d& qy) {
  if (r.fits && (fma_division::FitsNumerator(nx) & fma_division::FitsNumerator(ny)) == 0xFF) {
    qx = fma_division::Quotient(nx, D, r.y);
    qy = fma_division::Quotient(ny, D, r.y);
  } else {
    qx = _mm512_div_pd(nx, D);
    qy = _mm512_div_pd(ny, D);
  }
}

// (Without the pairing of the sums into one register, which would keep them in memory.)
// Fma: the quotients by the FMA units (where the gate admits), else by vdivpd.
template <int M, Shared S = Shared::kNothing, bool Fma = false>
__attribute__((target("avx512f,avx512dq"), optimize("no-tree-slp-vectorize"))) bool
Avx512PointLanes(const PointArrays& a, const ProjectionTerms* k, double* sums) {
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
  __mmask8 bad = 0;
  double s[M];
  for (int e = 0; e < M; ++e) s[e] = 0;
  std::size_t i = 0;
  for (; i + 8 <= a.n; i += 8) {
    const __m512d vX = _mm512_loadu_pd(a.X + i), vY = _mm512_loadu_pd(a.Y + i);
    const __m512d vx = _mm512_loadu_pd(a.x + i), vy = _mm512_loadu_pd(a.y + i);
    alignas(64) double t[M][8];
    // What the evaluations share is formed once: the same operations on the same operands.
    __m512d saX = vX, k5Y = vY, nx0 = vX, ny0 = vY, D0 = vX;
    if constexpr (S == Shared::kAngles) {
      saX = _mm512_mul_pd(sa[0], vX);
      k5Y = _mm512_mul_pd(k5[0], vY);
      nx0 = _mm512_mul_pd(F[0], _mm512_add_pd(_mm512_mul_pd(k1[0], vX), _mm512_mul_pd(k2[0], vY)));
      ny0 = _mm512_mul_pd(F[0], _mm512_add_pd(_mm512_mul_pd(k3[0], vX), _mm512_mul_pd(k4[0], vY)));
    }
    Reciprocal512 r0{false, D0};
    if constexpr (S == Shared::kDenominator) {
      D0 = _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(sa[0], vX), L[0]), _mm512_mul_pd(k5[0], vY));
      bad |= _mm512_fpclass_pd_mask(D0, 0x01 | 0x02 | 0x04 | 0x08 | 0x10 | 0x80);
      if constexpr (Fma) r0 = ReciprocalOf(D0);
    }
    for (int e = 0; e < M; ++e) {
      __m512d D = D0, nx = nx0, ny = ny0;
      if constexpr (S != Shared::kDenominator) {
        D = S == Shared::kAngles ? _mm512_sub_pd(_mm512_add_pd(saX, L[e]), k5Y)
                                 : _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(sa[e], vX), L[e]),
                                                 _mm512_mul_pd(k5[e], vY));
        // Zero, infinite or NaN.
        bad |= _mm512_fpclass_pd_mask(D, 0x01 | 0x02 | 0x04 | 0x08 | 0x10 | 0x80);
      }
      if constexpr (S != Shared::kAngles) {
        nx = _mm512_mul_pd(F[e], _mm512_add_pd(_mm512_mul_pd(k1[e], vX), _mm512_mul_pd(k2[e], vY)));
        ny = _mm512_mul_pd(F[e], _mm512_add_pd(_mm512_mul_pd(k3[e], vX), _mm512_mul_pd(k4[e], vY)));
      }
      __m512d qx, qy;
      if constexpr (Fma) {
        Quotients512(nx, ny, D, S == Shared::kDenominator ? r0 : ReciprocalOf(D), qx, qy);
      } else {
        qx = _mm512_div_pd(nx, D);
        qy = _mm512_div_pd(ny, D);
      }
      const __m512d ex = _mm512_sub_pd(vx, qx);
      const __m512d ey = _mm512_sub_pd(vy, qy);
      _mm512_store_pd(t[e], _mm512_add_pd(_mm512_abs_pd(ex), _mm512_abs_pd(ey)));
    }
    for (int lane = 0; lane < 8; ++lane)
      for (int e = 0; e < M; ++e) s[e] = s[e] + t[e][lane];
  }
  if (bad != 0) return false;
  for (int e = 0; e < M; ++e) {
    ScalarSum(a, i, k[e], s[e]);
    sums[e] = s[e];
  }
  return true;
}

// ---- many evaluations, each in its own lane: the points are visited in list order and every
// lane's sum is exactly the scalar chain, with no adding across lanes. W lanes a vector, G
// vectors side by side.

// The terms of up to W evaluations, one lane each (unused lanes repeat the last evaluation).
template <int W>
struct alignas(64) LaneTerms {
  double sa[W], L[W], k1[W], k2[W], k3[W], k4[W], k5[W];
  void Fill(const ProjectionTerms* k, int count) {
    for (int lane = 0; lane < W; ++lane) {
      const ProjectionTerms& t = k[std::min(lane, count - 1)];
      sa[lane] = t.sa;
      L[lane] = t.L;
      k1[lane] = t.k1;
      k2[lane] = t.k2;
      k3[lane] = t.k3;
      k4[lane] = t.k4;
      k5[lane] = t.k5;
    }
  }
};

// Fma: the quotients by the FMA units (where the gate admits), else by vdivpd.
template <int G, bool Fma = false>
__attribute__((target("avx512f,avx512dq"))) bool Avx512EvaluationLanes(const PointArrays& a,
                                                                       const LaneTerms<8>* k,
                                                                       double F, double* sums) {
  __m512d sa[G], L[G], k1[G], k2[G], k3[G], k4[G], k5[G], s[G];
  for (int g = 0; g < G; ++g) {
    sa[g] = _mm512_load_pd(k[g].sa);
    L[g] = _mm512_load_pd(k[g].L);
    k1[g] = _mm512_load_pd(k[g].k1);
    k2[g] = _mm512_load_pd(k[g].k2);
    k3[g] = _mm512_load_pd(k[g].k3);
    k4[g] = _mm512_load_pd(k[g].k4);
    k5[g] = _mm512_load_pd(k[g].k5);
    s[g] = _mm512_setzero_pd();
  }
  const __m512d vF = _mm512_set1_pd(F);
  __mmask8 bad = 0;
  for (std::size_t i = 0; i < a.n; ++i) {
    const __m512d vX = _mm512_set1_pd(a.X[i]), vY = _mm512_set1_pd(a.Y[i]);
    const __m512d vx = _mm512_set1_pd(a.x[i]), vy = _mm512_set1_pd(a.y[i]);
    for (int g = 0; g < G; ++g) {
      const __m512d D =
          _mm512_sub_pd(_mm512_add_pd(_mm512_mul_pd(sa[g], vX), L[g]), _mm512_mul_pd(k5[g], vY));
      // Zero, infinite or NaN.
      bad |= _mm512_fpclass_pd_mask(D, 0x01 | 0x02 | 0x04 | 0x08 | 0x10 | 0x80);
      const __m512d nx =
          _mm512_mul_pd(vF, _mm512_add_pd(_mm512_mul_pd(k1[g], vX), _mm512_mul_pd(k2[g], vY)));
      const __m512d ny =
          _mm512_mul_pd(vF, _mm512_add_pd(_mm512_mul_pd(k3[g], vX), _mm512_mul_pd(k4[g], vY)));
      __m512d qx, qy;
      if constexpr (Fma) {
        Quotients512(nx, ny, D, ReciprocalOf(D), qx, qy);
      } else {
        qx = _mm512_div_pd(nx, D);
        qy = _mm512_div_pd(ny, D);
      }
      const __m512d ex = _mm512_sub_pd(vx, qx);
      const __m512d ey = _mm512_sub_pd(vy, qy);
      s[g] = _mm512_add_pd(s[g], _mm512_add_pd(_mm512_abs_pd(ex), _mm512_abs_pd(ey)));
    }
  }
  for (int g = 0; g < G; ++g) _mm512_storeu_pd(sums + 8 * g, s[g]);
  return bad == 0;
}

template <int G>
__attribute__((target("avx2"))) bool Avx2EvaluationLanes(const PointArrays& a,
                                                         const LaneTerms<4>* k, double F,
                                                         double* sums) {
  __m256d sa[G], L[G], k1[G], k2[G], k3[G], k4[G], k5[G], s[G];
  for (int g = 0; g < G; ++g) {
    sa[g] = _mm256_load_pd(k[g].sa);
    L[g] = _mm256_load_pd(k[g].L);
    k1[g] = _mm256_load_pd(k[g].k1);
    k2[g] = _mm256_load_pd(k[g].k2);
    k3[g] = _mm256_load_pd(k[g].k3);
    k4[g] = _mm256_load_pd(k[g].k4);
    k5[g] = _mm256_load_pd(k[g].k5);
    s[g] = _mm256_setzero_pd();
  }
  const __m256d vF = _mm256_set1_pd(F), zero = _mm256_setzero_pd(), sign = _mm256_set1_pd(-0.0);
  __m256d bad = _mm256_setzero_pd();
  for (std::size_t i = 0; i < a.n; ++i) {
    const __m256d vX = _mm256_set1_pd(a.X[i]), vY = _mm256_set1_pd(a.Y[i]);
    const __m256d vx = _mm256_set1_pd(a.x[i]), vy = _mm256_set1_pd(a.y[i]);
    for (int g = 0; g < G; ++g) {
      const __m256d D =
          _mm256_sub_pd(_mm256_add_pd(_mm256_mul_pd(sa[g], vX), L[g]), _mm256_mul_pd(k5[g], vY));
      // Not finite: D − D is NaN. A zero D makes the sum infinite or NaN, found by the caller.
      bad = _mm256_or_pd(bad, _mm256_cmp_pd(_mm256_sub_pd(D, D), zero, _CMP_NEQ_UQ));
      const __m256d nx =
          _mm256_mul_pd(vF, _mm256_add_pd(_mm256_mul_pd(k1[g], vX), _mm256_mul_pd(k2[g], vY)));
      const __m256d ny =
          _mm256_mul_pd(vF, _mm256_add_pd(_mm256_mul_pd(k3[g], vX), _mm256_mul_pd(k4[g], vY)));
      const __m256d ex = _mm256_sub_pd(vx, _mm256_div_pd(nx, D));
      const __m256d ey = _mm256_sub_pd(vy, _mm256_div_pd(ny, D));
      s[g] = _mm256_add_pd(s[g],
                           _mm256_add_pd(_mm256_andnot_pd(sign, ex), _mm256_andnot_pd(sign, ey)));
    }
  }
  for (int g = 0; g < G; ++g) _mm256_storeu_pd(sums + 4 * g, s[g]);
  return _mm256_movemask_pd(bad) == 0;
}

// What the `count` evaluations share, by the bits of their terms.
Shared SharedBy(const ProjectionTerms* k, int count) {
  const auto same = [](double a, double b) {
    return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b);
  };
  bool angles = true, denominator = true;
  for (int e = 1; e < count; ++e) {
    const ProjectionTerms &t = k[e], &t0 = k[0];
    const bool common = same(t.sa, t0.sa) && same(t.k5, t0.k5) && same(t.F, t0.F);
    angles = angles && common && same(t.k1, t0.k1) && same(t.k2, t0.k2) && same(t.k3, t0.k3) &&
             same(t.k4, t0.k4);
    denominator = denominator && common && same(t.L, t0.L);
  }
  return angles ? Shared::kAngles : denominator ? Shared::kDenominator : Shared::kNothing;
}

// The sums of `count` evaluations with the instruction set: whole vectors of evaluations, two at
// once where the registers allow it; what is left over, unless it nearly fills a vector, in
// groups of up to three over the points in the lanes (a part-filled vector costs as much as a
// full one).
bool VectorSums(CostInstructions instructions, const PointArrays& a, const ProjectionTerms* k,
                int count, double* sums) {
  using PointLanes = bool (*)(const PointArrays&, const ProjectionTerms*, double*);
  using EvaluationLanes = bool (*)(const PointArrays&, const LaneTerms<8>*, double, double*);
  // [FMA division][what the evaluations share][evaluations − 1]
  static const PointLanes avx512Points[2][3][3] = {
      {{Avx512PointLanes<1>, Avx512PointLanes<2>, Avx512PointLanes<3>},
       {Avx512PointLanes<1>, Avx512PointLanes<2, Shared::kAngles>,
        Avx512PointLanes<3, Shared::kAngles>},
       {Avx512PointLanes<1>, Avx512PointLanes<2, Shared::kDenominator>,
        Avx512PointLanes<3, Shared::kDenominator>}},
      {{Avx512PointLanes<1, Shared::kNothing, true>, Avx512PointLanes<2, Shared::kNothing, true>,
        Avx512PointLanes<3, Shared::kNothing, true>},
       {Avx512PointLanes<1, Shared::kNothing, true>, Avx512PointLanes<2, Shared::kAngles, true>,
        Avx512PointLanes<3, Shared::kAngles, true>},
       {Avx512PointLanes<1, Shared::kNothing, true>,
        Avx512PointLanes<2, Shared::kDenominator, true>,
        Avx512PointLanes<3, Shared::kDenominator, true>}}};
  // [FMA division][vectors − 1]
  static const EvaluationLanes avx512Evaluations[2][2] = {
      {Avx512EvaluationLanes<1>, Avx512EvaluationLanes<2>},
      {Avx512EvaluationLanes<1, true>, Avx512EvaluationLanes<2, true>}};
  static const PointLanes avx2Points[3][3] = {
      {Avx2PointLanes<1>, Avx2PointLanes<2>, Avx2PointLanes<3>},
      {Avx2PointLanes<1>, Avx2PointLanes<2, Shared::kAngles>, Avx2PointLanes<3, Shared::kAngles>},
      {Avx2PointLanes<1>, Avx2PointLanes<2, Shared::kDenominator>,
       Avx2PointLanes<3, Shared::kDenominator>}};
  const bool wide =
      instructions == CostInstructions::kAvx512 || instructions == CostInstructions::kAvx512Fma;
  // The FMA division's argument needs round to nearest without flush-to-zero or
  // denormals-are-zero: under any other mode every quotient takes vdivpd.
  const int fma = instructions == CostInstructions::kAvx512Fma && RoundingIsDefault();
  int first = 0;
  if (wide) {
    LaneTerms<8> terms[2];
    double laneSums[16];
    while (count - first >= 7) {
      const int left = count - first;
      const int m = left >= 15 ? std::min(16, left) : std::min(8, left);
      terms[0].Fill(k + first, std::min(m, 8));
      if (m > 8) terms[1].Fill(k + first + 8, m - 8);
      if (!avx512Evaluations[fma][m > 8](a, terms, k[0].F, laneSums)) return false;
      std::copy(laneSums, laneSums + m, sums + first);
      first += m;
    }
  } else {
    // Sixteen vector registers hold the terms of one vector of evaluations.
    LaneTerms<4> terms[1];
    double laneSums[4];
    for (; count - first >= 4; first += 4) {
      terms[0].Fill(k + first, 4);
      if (!Avx2EvaluationLanes<1>(a, terms, k[0].F, laneSums)) return false;
      std::copy(laneSums, laneSums + 4, sums + first);
    }
  }
  // The rest, in threes (a pair for the last four).
  while (first < count) {
    const int left = count - first;
    const int m = left == 4 ? 2 : std::min(3, left);
    const int shared = static_cast<int>(SharedBy(k + first, m));
    const PointLanes f = wide ? avx512Points[fma][shared][m - 1] : avx2Points[shared][m - 1];
    if (!f(a, k + first, sums + first)) return false;
    first += m;
  }
  return true;
}
#endif

}  // namespace

bool Supports(CostInstructions instructions) {
  switch (instructions) {
#if ZELV_COST_VECTORS
    case CostInstructions::kAvx512:
    case CostInstructions::kAvx512Fma:
      return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512dq") &&
             __builtin_cpu_supports("avx2");
    case CostInstructions::kAvx2:
      return __builtin_cpu_supports("avx2");
#else
    case CostInstructions::kAvx512:
    case CostInstructions::kAvx512Fma:
    case CostInstructions::kAvx2:
      return false;
#endif
    case CostInstructions::kScalar:
      return true;
  }
  return false;
}

#if ZELV_COST_VECTORS
namespace {

// One point-evaluation's division work, `rounds` times over eight independent chains of whole
// vectors: two vdivpd, or (Fma) one reciprocal and two quotients by the FMA units.
template <bool Fma>
__attribute__((target("avx512f,avx512dq"), noinline)) double DivisionWork(long rounds) {
  __m512d qx[8], qy[8], d[8];
  for (int i = 0; i < 8; ++i) {
    qx[i] = _mm512_set1_pd(1e300 + i);
    qy[i] = _mm512_set1_pd(-1e300 - i);
    d[i] = _mm512_set1_pd(1.0000001 + 1e-9 * i);
  }
  for (long k = 0; k < rounds; ++k)
    for (int i = 0; i < 8; ++i) {
      asm volatile("" : "+v"(d[i]));  // a new denominator every round, as in the kernel
      if constexpr (Fma) {
        const __m512d y = fma_division::Reciprocal(d[i]);
        qx[i] = fma_division::Quotient(qx[i], d[i], y);
        qy[i] = fma_division::Quotient(qy[i], d[i], y);
      } else {
        qx[i] = _mm512_div_pd(qx[i], d[i]);
        qy[i] = _mm512_div_pd(qy[i], d[i]);
      }
    }
  __m512d sum = _mm512_setzero_pd();
  for (int i = 0; i < 8; ++i) sum = _mm512_add_pd(sum, _mm512_add_pd(qx[i], qy[i]));
  alignas(64) double lanes[8];
  _mm512_store_pd(lanes, sum);
  return lanes[0];
}

double DivisionWorkSeconds(bool fma, long rounds) {
  const auto start = std::chrono::steady_clock::now();
  volatile double sink = fma ? DivisionWork<true>(rounds) : DivisionWork<false>(rounds);
  (void)sink;
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Whether the FMA division is clearly cheaper than the divider on this processor: best of five
// alternating short measurements (about 0.3 ms in all), FMA work under three quarters of the
// divider's. (On a Xeon the FMA units are about twice the divider's rate; on AMD's Zen 4, whose
// divider is fast and whose FMA units take 512-bit vectors in two halves, they are not, and
// the kernel with the FMA division ran at twice the time.)
bool FmaDivisionPays() {
  double divider = 1e9, fma = 1e9;
  for (int trial = 0; trial < 5; ++trial) {
    divider = std::min(divider, DivisionWorkSeconds(false, 1000));
    fma = std::min(fma, DivisionWorkSeconds(true, 1000));
  }
  return fma < 0.75 * divider;
}

}  // namespace
#endif

double RunDivisionWork(bool fma, long rounds) {
#if ZELV_COST_VECTORS
  if (Supports(CostInstructions::kAvx512))
    return fma ? DivisionWork<true>(rounds) : DivisionWork<false>(rounds);
#endif
  (void)fma;
  (void)rounds;
  return 0;
}

CostInstructions BestCostInstructions() {
#if ZELV_COST_VECTORS
  if (Supports(CostInstructions::kAvx512)) {
    // ZELV_COST_DIVISION=fma or =divider sets the choice (for tests and measurements); the
    // results are the same bits either way.
    static const bool fma = [] {
      const char* forced = std::getenv("ZELV_COST_DIVISION");
      if (forced != nullptr && std::strcmp(forced, "fma") == 0) return true;
      if (forced != nullptr && std::strcmp(forced, "divider") == 0) return false;
      return FmaDivisionPays();
    }();
    return fma ? CostInstructions::kAvx512Fma : CostInstructions::kAvx512;
  }
#endif
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
  const CostQuery query{p, SineCosineOf(p.Al), SineCosineOf(p.Bet), SineCosineOf(p.Hi)};
  double cost;
  Evaluate(&query, 1, &cost);
  return cost;
}

void PointArrayCost::Costs(const PoseParameters* p, int count, double* costs) const {
  std::vector<CostQuery> queries(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i)
    queries[i] = {p[i], SineCosineOf(p[i].Al), SineCosineOf(p[i].Bet), SineCosineOf(p[i].Hi)};
  Evaluate(queries.data(), count, costs);
}

void PointArrayCost::Evaluate(const CostQuery* queries, int count, double* costs) const {
  if (sceneTooShort_) throw ZelvError("Index out of bounds ListOfT::Get");
  // The terms are formed in chunks on the stack, a small one for the few evaluations of one step.
  if (count <= 3)
    EvaluateChunks<3>(queries, count, costs);
  else
    EvaluateChunks<64>(queries, count, costs);
}

template <int Chunk>
void PointArrayCost::EvaluateChunks(const CostQuery* queries, int count, double* costs) const {
  const PointArrays a{x_.data(), y_.data(), X_.data(), Y_.data(), x_.size()};
  // Left uninitialised: each term is assigned before it is read, and zeroing all of them took
  // longer than the evaluations of a few points.
  union Terms {
    Terms() {}
    ProjectionTerms t[Chunk];
  } storage;
  ProjectionTerms* const terms = storage.t;
  for (int first = 0; first < count; first += Chunk) {
    const int m = std::min(Chunk, count - first);
    for (int e = 0; e < m; ++e) {
      const CostQuery& q = queries[first + e];
      terms[e] = MakeProjectionTerms(q.al.s, q.al.c, q.bet.s, q.bet.c, q.hi.s, q.hi.c, F_, q.p.L);
    }
    double* sums = costs + first;
#if ZELV_COST_VECTORS
    if (instructions_ != CostInstructions::kScalar) {
      if (!VectorSums(instructions_, a, terms, m, sums))
        throw ZelvError("division by zero or overflow in the projection");
    } else
#endif
    {
      for (int e = 0; e < m; ++e) {
        sums[e] = 0;
        ScalarSum(a, 0, terms[e], sums[e]);
      }
    }
    for (int e = 0; e < m; ++e) sums[e] = Finite(sums[e], "overflow in the refinement cost");
  }
}

}  // namespace zelv
