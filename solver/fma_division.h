#pragma once
// IEEE double division by the FMA units, for the AVX-512 cost kernel: the correctly rounded
// quotient, the bits `vdivpd` gives, for every lane the gate admits. x86-64 with AVX-512F only;
// the caller checks the processor and the rounding mode (RoundingIsDefault) first.
//
//   y  = vrcp14pd(b), then three steps  e = RN(1 − b·y),  y = RN(y + y·e)
//   q0 = RN(a·y),  r = RN(a − b·q0),  q = RN(q0 + r·y)
//
// (RN: round to nearest even, each line one fused operation.) y depends on b alone, so one
// reciprocal serves every numerator over the same denominator with the same bits.
//
// The gate (FitsDenominator, FitsNumerator), lane by lane: 2⁻⁵¹⁰ ≤ |a|, |b| ≤ 2⁵¹⁰ (so neither is
// zero, subnormal, infinite or NaN), and b's significand is not one of the two largest
// (1.11…11 and 1.11…10). A vector with any lane outside takes `vdivpd`.
//
// Why q is RN(a/b). Under the gate every intermediate value is normal, zero, or (r·y inside the
// last FMA only) unrounded, so rounding is the same as with an unbounded exponent; negating a or
// b negates the results or leaves them alone consistently. So take 1 ≤ a < 2 and 1 ≤ b < 2
// (b = 1: y = 1, q0 = a, r = 0, q = a). Then b ≤ 2 − 3·2⁻⁵² by the gate. u denotes the ulp of
// x = a/b: u = 2⁻⁵² if a ≥ b (x ∈ [1, 2)), u = 2⁻⁵³ if a < b (x ∈ (½, 1)).
//
// 1. The reciprocal is y = RN(1/b). vrcp14pd gives |δ₀| < 2⁻¹⁴ where δ = 1 − b·y. A step takes
//    the exact z = y(1 + e) to 1 − b·z = δ² − δε(1 − δ) with |ε| ≤ 2⁻⁵³ the error of e, and
//    y' = RN(z) adds at most 2⁻⁵³ relative: |δ₁| < 2⁻²⁷·⁹, and after the second step's exact z,
//    |1 − b·z| < 2⁻⁵⁵·⁷, so |z − 1/b| < 2⁻⁵⁵, under half an ulp of 1/b ∈ (½, 1): y₂ = RN(z) is
//    one of the two doubles around 1/b. Then |δ₂| < 2⁻⁵², a multiple of 2⁻¹⁰⁵, so e = δ₂ exactly
//    and the third step's z = y₂(1 + δ₂) has 1 − b·z = δ₂², z = 1/b − δ₂²/b just below 1/b. It
//    rounds to RN(1/b) unless a midpoint m (an odd multiple of 2⁻⁵⁴) lies in [z, 1/b). But
//    1/b − m = (1 − b·m)/b = k·2⁻¹⁰⁶/b with k ≥ 1 (b·m = B·M·2⁻¹⁰⁶ with M odd, never 2¹⁰⁶), and
//    y₂ = m ± 2⁻⁵⁴ gives |δ₂| ≤ b·2⁻⁵⁴ + k·2⁻¹⁰⁶; δ₂² ≥ k·2⁻¹⁰⁶ needs k = 1 and
//    b² + b·2⁻⁵⁰ + 2⁻¹⁰⁴ ≥ 4, true only for b ≥ 2 − 2⁻⁵¹: the two significands the gate refuses.
//    So |y − 1/b| ≤ 2⁻⁵⁴, and δ = 1 − b·y has |δ| ≤ b·2⁻⁵⁴ < 2⁻⁵³.
// 2. Midpoints stay away from x. x is never a midpoint, and for a midpoint m of x's binade (an
//    odd multiple of u/2) |x − m| = |a − b·m|/b ≥ 2⁻⁵³·u/b > 2⁻⁵⁴·u, since a − b·m is a
//    non-zero multiple of 2⁻⁵³·u. Breakpoints outside that grid (just below x's binade) are
//    at least u/4 away.
// 3. The identity. p = a·y = x(1 − δ); if r is exact, v = q0 + r·y = x + (q0 − x)·δ exactly,
//    and q = RN(v). |p − x| = x·|δ| ≤ a·2⁻⁵⁴: below u/2 if a ≥ b, below u if a < b.
// 4. q0 faithful (q0 = x, or one of the two doubles d < x < d + u around it). Then
//    |a − b·q0| < b·u < 2u, a multiple of 2⁻⁵²·u: r is exact. If q0 = x, r = 0 and q = x.
//    Otherwise only m = d + u/2 can separate v from x (|v − x| < 2⁻⁵³·u, far below u/4).
//    (a) x between q0 and m: |v − x| = |δ|·(u/2 − |x − m|) < 2⁻⁵⁴·u < |x − m| (2.).
//    (b) m between x and q0: q0 = RN(p) is not RN(x), so p lies on q0's side of m, beyond x;
//        p − x = −x·δ then gives δ the sign that makes v − x = (q0 − x)·δ point away from q0
//        and from m: the correction moves away from the midpoint.
// 5. q0 not faithful. By 3. this needs a < b (x ∈ (½, 1), u = 2⁻⁵³; a ≥ b gives |p − x| < u/2
//    and a faithful RN(p), except x = 1 with q0 = 1 − 2⁻⁵³, where r = b·2⁻⁵³ is exact and
//    v = 1 − 2⁻⁵³·δ rounds to 1), and q0 = d − u or d + 2u, one ulp past a neighbour of x,
//    with |q0 − x| < 3u/2. Here r may be rounded: r = (a − b·q0)(1 + ε), |ε| ≤ 2⁻⁵³, which
//    adds ε·(q0 − x)(1 − δ) to v; in all |v − x| < (3u/2)·(|δ| + 2⁻⁵³(1 + |δ|)) < 3·2⁻⁵³·u.
//    Take q0 = d + 2u (d − u is the mirror image): RN(p) = d + 2u needs p ≥ d + 3u/2, so
//    x > d + u/2 = m, δ < 0, and the only breakpoint within reach is m, below x, at
//    t = x − m ≥ u − x·|δ| ≥ u − a·2⁻⁵⁴ = (2 − a)·2⁻⁵⁴ (u = 2⁻⁵³). The gate gives
//    a < b ≤ 2 − 3·2⁻⁵², so a ≤ 2 − 2⁻⁵⁰ and t ≥ 2⁻¹⁰⁴ = 4·2⁻⁵³·u > |v − x|: v stays above m,
//    and q = RN(x) = d + u.
// (Markstein 1990 and Cornea-Hasegan, Golliver & Markstein 1999 give 4.; Harrison's IA-64
// division proofs treat the reciprocal. tests/app/fma_division_test.cpp compares with vdivpd on
// the hard cases: largest significands, near-midpoint quotients, b near a, the gate's edges.)

#if defined(__x86_64__) && !defined(ZELV_NO_VECTOR_KERNELS)
#include <immintrin.h>

#include <cstdint>

namespace zelv {

// Whether the SSE/AVX rounding mode is round to nearest with flush-to-zero and
// denormals-are-zero off: the division above assumes it; anything else takes `vdivpd`.
inline bool RoundingIsDefault() {
  // MXCSR: RC in bits 13-14, FTZ bit 15, DAZ bit 6.
  return (_mm_getcsr() & 0xE040u) == 0;
}

namespace fma_division {

// Lanes with 2⁻⁵¹⁰ ≤ |x| ≤ 2⁵¹⁰: the biased exponent in [513, 1533] (NaN and ∞ lie above).
__attribute__((target("avx512f,avx512dq"), always_inline)) inline __mmask8 InRange(__m512d x) {
  const __m512i magnitude =
      _mm512_and_si512(_mm512_castpd_si512(x), _mm512_set1_epi64(0x7FFFFFFFFFFFFFFFLL));
  const __m512i fromLow =
      _mm512_sub_epi64(magnitude, _mm512_set1_epi64(static_cast<long long>(513) << 52));
  return _mm512_cmple_epu64_mask(
      fromLow, _mm512_set1_epi64((static_cast<long long>(1533 - 513) << 52) | 0xFFFFFFFFFFFFFLL));
}

// Lanes whose numerator the division admits.
__attribute__((target("avx512f,avx512dq"), always_inline)) inline __mmask8 FitsNumerator(
    __m512d a) {
  return InRange(a);
}

// Lanes whose denominator the division admits: in range, and the significand below 1.11…10.
__attribute__((target("avx512f,avx512dq"), always_inline)) inline __mmask8 FitsDenominator(
    __m512d b) {
  const __m512i significand =
      _mm512_and_si512(_mm512_castpd_si512(b), _mm512_set1_epi64(0xFFFFFFFFFFFFFLL));
  return InRange(b) & _mm512_cmplt_epu64_mask(significand, _mm512_set1_epi64(0xFFFFFFFFFFFFELL));
}

// y = RN(1/b) for admitted b (argument 1.).
__attribute__((target("avx512f,avx512dq"), always_inline)) inline __m512d Reciprocal(__m512d b) {
  const __m512d one = _mm512_set1_pd(1.0);
  // (The zero-masked form: GCC 12 warns that the plain one's undefined merge source is
  // uninitialised. All lanes are computed either way.)
  __m512d y = _mm512_maskz_rcp14_pd(0xFF, b);
  for (int step = 0; step < 3; ++step) y = _mm512_fmadd_pd(y, _mm512_fnmadd_pd(b, y, one), y);
  return y;
}

// RN(a/b) from y = Reciprocal(b), for admitted a and b.
__attribute__((target("avx512f,avx512dq"), always_inline)) inline __m512d Quotient(__m512d a,
                                                                                   __m512d b,
                                                                                   __m512d y) {
  const __m512d q0 = _mm512_mul_pd(a, y);
  return _mm512_fmadd_pd(_mm512_fnmadd_pd(b, q0, a), y, q0);
}

// a/b with the bits of vdivpd for every input (the rounding mode as RoundingIsDefault asks).
__attribute__((target("avx512f,avx512dq"), always_inline)) inline __m512d Divide(__m512d a,
                                                                                 __m512d b) {
  if ((FitsNumerator(a) & FitsDenominator(b)) != 0xFF) return _mm512_div_pd(a, b);
  return Quotient(a, b, Reciprocal(b));
}

}  // namespace fma_division
}  // namespace zelv
#endif
