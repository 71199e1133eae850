// The cost kernel's division by the FMA units (solver/fma_division.h) against `vdivpd`, bit for
// bit, on the hard cases: wide exponents, the kernel's own range, significands near powers of
// two, b near a, quotients within a hair of a rounding midpoint (built with 128-bit integers),
// exact quotients, the largest significands and the edges of the gate; and the kernel on its
// special points. Run where the processor has AVX-512, skipped (and said so) elsewhere.
#include "solver/fma_division.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "base/zelv_error.h"
#include "oracle/refinement_oracle.h"
#include "solver/refinement_cost_kernel.h"

namespace zelv {
namespace {

#if defined(__x86_64__) && !defined(ZELV_NO_VECTOR_KERNELS)

std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }
double FromBits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

// For 8 pairs: vdivpd's quotients, the gated division's, the ungated formula's (meaningful where
// the gate admits the lane) and the gate's verdict.
struct Eight {
  alignas(64) double divider[8], gated[8], formula[8];
  unsigned admitted;
};
__attribute__((target("avx512f,avx512dq"))) Eight DivideEight(const double* a, const double* b) {
  const __m512d va = _mm512_loadu_pd(a), vb = _mm512_loadu_pd(b);
  Eight out;
  _mm512_store_pd(out.divider, _mm512_div_pd(va, vb));
  _mm512_store_pd(out.gated, fma_division::Divide(va, vb));
  _mm512_store_pd(out.formula, fma_division::Quotient(va, vb, fma_division::Reciprocal(vb)));
  out.admitted = fma_division::FitsNumerator(va) & fma_division::FitsDenominator(vb);
  return out;
}

// Pairs from `next`, 8 at a time: the gated division is vdivpd's bits everywhere, the formula
// where the gate admits. Returns how many pairs the formula was checked on.
std::int64_t Compare(const char* what, std::int64_t pairs,
                     const std::function<void(double&, double&)>& next) {
  std::int64_t admitted = 0, mismatches = 0;
  double a[8], b[8];
  for (std::int64_t done = 0; done < pairs; done += 8) {
    for (int i = 0; i < 8; ++i) next(a[i], b[i]);
    const Eight e = DivideEight(a, b);
    for (int i = 0; i < 8; ++i) {
      const bool fits = (e.admitted >> i) & 1;
      admitted += fits;
      const bool wrong = Bits(e.gated[i]) != Bits(e.divider[i]) ||
                         (fits && Bits(e.formula[i]) != Bits(e.divider[i]));
      if (wrong && ++mismatches <= 5)
        ADD_FAILURE() << what << ": " << std::hexfloat << a[i] << " / " << b[i] << " gives "
                      << e.gated[i] << " (formula " << e.formula[i] << "), vdivpd " << e.divider[i];
    }
  }
  EXPECT_EQ(mismatches, 0) << what;
  return admitted;
}

// A double of sign s, biased exponent e and significand bits m.
double Make(bool negative, int exponent, std::uint64_t significand) {
  return FromBits((negative ? 1ull << 63 : 0) | (static_cast<std::uint64_t>(exponent) << 52) |
                  (significand & 0xFFFFFFFFFFFFFull));
}

class FmaDivisionTest : public testing::Test {
 protected:
  void SetUp() override {
    if (!Supports(CostInstructions::kAvx512))
      GTEST_SKIP() << "this processor has no AVX-512: the kernel divides with vdivpd only";
    ASSERT_TRUE(RoundingIsDefault());
  }
  std::mt19937_64 random_{20261209};
  std::uint64_t Significand() { return random_() & 0xFFFFFFFFFFFFFull; }
  bool Sign() { return random_() & 1; }
  int Exponent(int from, int to) {  // unbiased, inclusive
    return 1023 + from + static_cast<int>(random_() % static_cast<std::uint64_t>(to - from + 1));
  }
};

TEST_F(FmaDivisionTest, WideExponentsAndTheGatesEdges) {
  // Exponents over the whole range (the gate refuses most) and over the admitted one.
  Compare("whole range", 1 << 20, [&](double& a, double& b) {
    a = FromBits(random_());
    b = FromBits(random_());
  });
  const std::int64_t admitted = Compare("admitted range", 2'000'000, [&](double& a, double& b) {
    a = Make(Sign(), Exponent(-510, 509), Significand());
    b = Make(Sign(), Exponent(-510, 509), Significand());
  });
  EXPECT_GT(admitted, 1'990'000);
  // At the gate's edges: the extreme quotients 2^±1020 and their neighbours.
  Compare("edges", 1 << 18, [&](double& a, double& b) {
    const int edges[] = {-511, -510, -509, 508, 509, 510};
    a = Make(Sign(), 1023 + edges[random_() % 6], Significand());
    b = Make(Sign(), 1023 + edges[random_() % 6], Significand());
  });
}

TEST_F(FmaDivisionTest, TheKernelsRangeAndItsSpecialValues) {
  // Numerators F·(k1·X + k2·Y) up to some 1e7 pixels, denominators of scene units.
  std::uniform_real_distribution<double> unit(0, 1);
  const std::int64_t admitted = Compare("kernel range", 2'000'000, [&](double& a, double& b) {
    a = (unit(random_) - 0.5) * std::pow(10.0, 8 * unit(random_) - 1);
    b = std::pow(10.0, 6 * unit(random_) - 1) * (Sign() ? 1 : -1);
  });
  EXPECT_GT(admitted, 1'990'000);
  // Zero and tiny numerators (a point at the origin), zero, subnormal, infinite and NaN
  // operands: the gate refuses them and the vector takes vdivpd.
  const double specials[] = {0.0,
                             -0.0,
                             1e-300,
                             -1e-160,
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::infinity(),
                             -std::numeric_limits<double>::infinity(),
                             std::numeric_limits<double>::quiet_NaN(),
                             1e300,
                             1.0,
                             3.0};
  Compare("special values", 1 << 16, [&](double& a, double& b) {
    const double other = (unit(random_) - 0.5) * 1e4;
    a = random_() % 2 ? specials[random_() % 11] : other;
    b = random_() % 2 ? specials[random_() % 11] : other;
  });
}

TEST_F(FmaDivisionTest, SignificandsNearPowersOfTwoAndBNearA) {
  // Significands within 2^12 units of 1 or of 2, both operands.
  const auto nearPower = [&] {
    const std::uint64_t k = random_() % 4096;
    return random_() % 2 ? k : 0xFFFFFFFFFFFFFull - k;
  };
  Compare("near powers of two", 1'000'000, [&](double& a, double& b) {
    a = Make(Sign(), Exponent(-20, 20), nearPower());
    b = Make(Sign(), Exponent(-20, 20), nearPower());
  });
  // b within a few units of a, and of 2a.
  Compare("b near a", 1'000'000, [&](double& a, double& b) {
    a = Make(Sign(), Exponent(-30, 30), Significand());
    const std::int64_t k = static_cast<std::int64_t>(random_() % 65) - 32;
    b = FromBits(Bits(a) + k) * (random_() % 2 ? 1 : 2);
  });
}

// x·x⁻¹ ≡ 1 mod 2^64 for odd x (Newton's iteration on the integers).
std::uint64_t InverseMod64(std::uint64_t x) {
  std::uint64_t y = x;  // correct to 3 bits
  for (int i = 0; i < 5; ++i) y *= 2 - x * y;
  return y;
}

TEST_F(FmaDivisionTest, QuotientsWithinAHairOfAMidpointAndExactQuotients) {
  // a = (M·B + k) / 2^54 with B odd (53 bits) and M = −k·B⁻¹ mod 2^54 (54 bits): then
  // a/b = M/2^54 + k/(2^54·B), within k·2^-107 (relative) of M/2^54, a rounding midpoint
  // when k (so M) is odd, a double next to the quotient when k is even, and the quotient
  // itself when k = 0 (exact quotients, M even).
  std::int64_t built = 0;
  const auto hard = [&](double& a, double& b) {
    for (;;) {
      // One b in eight among the 64 largest odd significands (the two largest refused).
      const std::uint64_t B = random_() % 8 == 0
                                  ? (1ull << 53) - 1 - 2 * (random_() % 32)
                                  : (random_() & 0xFFFFFFFFFFFFFull) | (1ull << 52) | 1;
      const std::int64_t k = static_cast<std::int64_t>(random_() % 17) - 8;
      const std::uint64_t mask54 = (1ull << 54) - 1;
      if (k == 0) {
        // An exact quotient Q of j bits over a B of 53 − j bits: a = Q·B has at most 53.
        const int j = 1 + static_cast<int>(random_() % 52);
        const std::uint64_t Q = (random_() & ((1ull << (j - 1)) - 1)) | (1ull << (j - 1));
        const std::uint64_t Bj = (random_() & ((1ull << (52 - j)) - 1)) | (1ull << (52 - j)) | 1;
        a = static_cast<double>(Q * Bj);
        b = static_cast<double>(Bj);
        break;
      }
      const std::uint64_t M = (static_cast<std::uint64_t>(-k) * InverseMod64(B)) & mask54;
      if (M < (1ull << 53)) continue;
      const unsigned __int128 numerator = static_cast<unsigned __int128>(M) * B + k;
      if (numerator & mask54) continue;  // (never: M·B ≡ −k)
      const unsigned __int128 A = numerator >> 54;
      if (A < (1ull << 52) || A >= (1ull << 53)) continue;
      a = static_cast<double>(static_cast<std::uint64_t>(A));
      b = static_cast<double>(B);
      break;
    }
    // Any exponents in the kernel's range, any signs.
    a = std::ldexp(a, static_cast<int>(random_() % 61) - 30 - 52) * (Sign() ? 1 : -1);
    b = std::ldexp(b, static_cast<int>(random_() % 61) - 30 - 52) * (Sign() ? 1 : -1);
    ++built;
  };
  const std::int64_t admitted = Compare("near a midpoint", 3'000'000, hard);
  EXPECT_GT(admitted, 2'960'000);
  EXPECT_EQ(built, 3'000'000);
}

TEST_F(FmaDivisionTest, TheLargestSignificandsAndWhyTheGateRefusesTwo) {
  // The 64 largest significands of b (the two largest refused), of a, and both.
  const auto largest = [&] { return 0xFFFFFFFFFFFFFull - random_() % 64; };
  std::int64_t refused = 0;
  for (int which = 0; which < 3; ++which) {
    Compare("largest significands", 1'000'000, [&](double& a, double& b) {
      a = Make(Sign(), Exponent(-30, 30), which == 1 ? Significand() : largest());
      b = Make(Sign(), Exponent(-30, 30), which == 0 ? Significand() : largest());
      refused += (Bits(b) & 0xFFFFFFFFFFFFFull) >= 0xFFFFFFFFFFFFEull;
    });
  }
  EXPECT_GT(refused, 0);
  // The formula without the gate misses on 1/(2 − 2^-52): the all-ones significand defeats
  // the reciprocal's last step (argument 1. in solver/fma_division.h).
  const double a[8] = {1, 1, 1, 1, 1, 1, 1, 1};
  const double b[8] = {2 - 0x1p-52, 2 - 0x1p-52, 2 - 0x1p-52, 2 - 0x1p-52,
                       2 - 0x1p-52, 2 - 0x1p-52, 2 - 0x1p-52, 2 - 0x1p-52};
  const Eight e = DivideEight(a, b);
  EXPECT_EQ(e.admitted, 0u);
  EXPECT_EQ(Bits(e.gated[0]), Bits(e.divider[0]));
  EXPECT_NE(Bits(e.formula[0]), Bits(e.divider[0]));
}

// A scene of `n` points in which every fifth is at the origin (zero numerators), and others have
// tiny coordinates (numerators below the gate's range, or within it), among ordinary points.
void SpecialScene(std::mt19937& random, int n, VT_Points& image, VT_Points& scene) {
  std::uniform_real_distribution<double> unit(0, 1);
  for (int i = 0; i < n; ++i) {
    const int kind = i % 5;
    const double X = kind == 0   ? 0
                     : kind == 1 ? 1e-140 * unit(random)
                     : kind == 2 ? 1e-300
                                 : 1000 * (unit(random) - 0.5);
    const double Y = kind == 0 ? 0 : kind == 2 ? -1e-300 : 1000 * (unit(random) - 0.5);
    scene.Add(new VT_Point(X, Y));
    image.Add(new VT_Point(100 * (unit(random) - 0.5), 100 * (unit(random) - 0.5)));
  }
}

std::vector<PoseParameters> RandomPoses(std::mt19937& random, int count) {
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<PoseParameters> p(count);
  for (auto& q : p)
    q = {unit(random) - 0.5, unit(random) - 0.5, 6 * unit(random) - 3, 1000 + 3000 * unit(random)};
  return p;
}

TEST_F(FmaDivisionTest, AnotherRoundingModeIsSeenAndTakesTheDivider) {
  const unsigned saved = _mm_getcsr();
  for (const unsigned bits : {0x2000u, 0x4000u, 0x6000u, 0x8000u, 0x0040u}) {
    _mm_setcsr(saved | bits);
    const bool seen = !RoundingIsDefault();
    _mm_setcsr(saved);
    EXPECT_TRUE(seen) << std::hex << bits;
  }
  EXPECT_TRUE(RoundingIsDefault());
  // Rounding toward zero and upward: the kernel with the FMA division gives the divider's bits.
  std::mt19937 random(31);
  VT_Points image(1), scene(1);
  SpecialScene(random, 40, image, scene);
  const PointArrayCost divider(image, scene, 1500, CostInstructions::kAvx512);
  const PointArrayCost fma(image, scene, 1500, CostInstructions::kAvx512Fma);
  const auto p = RandomPoses(random, 40);
  for (const unsigned bits : {0x6000u, 0x4000u}) {
    double expected[43], actual[43];
    _mm_setcsr(saved | bits);
    divider.Costs(p.data(), 40, expected);
    fma.Costs(p.data(), 40, actual);
    divider.Costs(p.data(), 3, expected + 40);
    fma.Costs(p.data(), 3, actual + 40);
    _mm_setcsr(saved);
    for (int e = 0; e < 43; ++e) EXPECT_EQ(Bits(expected[e]), Bits(actual[e])) << e;
  }
}

// The kernel with the FMA division against the plain cost: random scenes (ordinary ones and
// ones with points at the origin and tiny coordinates), a few evaluations over the points in the
// lanes (alone, sharing the angles, sharing the denominator) and many each in its own lane.
TEST_F(FmaDivisionTest, TheKernelGivesThePlainCostOnOrdinaryAndSpecialPoints) {
  std::mt19937 random(77);
  std::uniform_real_distribution<double> unit(0, 1);
  for (int n = 1; n <= 41; n += 4) {
    for (const bool special : {false, true}) {
      VT_Points image(1), scene(1);
      if (special) {
        SpecialScene(random, n, image, scene);
      } else {
        for (int i = 0; i < n; ++i) {
          scene.Add(new VT_Point(1000 * (unit(random) - 0.5), 1000 * (unit(random) - 0.5)));
          image.Add(new VT_Point(300 * (unit(random) - 0.5), 300 * (unit(random) - 0.5)));
        }
      }
      const PointArrayCost cost(image, scene, 1500, CostInstructions::kAvx512Fma);
      const auto check = [&](const std::vector<PoseParameters>& p, const char* what) {
        std::vector<double> costs(p.size());
        cost.Costs(p.data(), static_cast<int>(p.size()), costs.data());
        for (std::size_t e = 0; e < p.size(); ++e)
          EXPECT_EQ(Bits(costs[e]), Bits(oracle::RefinementCost(image, scene, p[e].Al, p[e].Bet,
                                                                p[e].Hi, 1500, p[e].L)))
              << n << " points, " << (special ? "special" : "ordinary") << ", " << what << ", "
              << p.size() << " at once, evaluation " << e;
      };
      const auto p = RandomPoses(random, 40);
      for (int count : {1, 2, 3, 5, 8, 9, 16, 17, 40})
        check(std::vector<PoseParameters>(p.begin(), p.begin() + count), "separate");
      for (int count : {2, 3}) {
        std::vector<PoseParameters> step(count, p[0]), turn(count, p[1]);
        for (int e = 1; e < count; ++e) {
          step[e].L = step[0].L + 17 * e;
          turn[e].Hi = turn[0].Hi - 0.01 * e;
        }
        check(step, "sharing the angles");
        check(turn, "sharing the denominator");
      }
    }
  }
}

TEST_F(FmaDivisionTest, TheKernelRaisesOnAZeroDenominator) {
  VT_Points image(1), scene(1);
  for (int i = 0; i < 9; ++i) {
    image.Add(new VT_Point(i, i));
    scene.Add(new VT_Point(i == 5 ? 0 : 10, 10));
  }
  // D = sin a·X + L − cos a·sin b·Y is 0 for the point at X = 0 with a = b = 0, L = 0.
  const PointArrayCost cost(image, scene, 1000, CostInstructions::kAvx512Fma);
  EXPECT_THROW(cost.Cost({0, 0, 0, 0}), ZelvError);
  const PoseParameters turns[2] = {{0, 0, 0.1, 0}, {0, 0, 0.2, 0}};
  double two[2];
  EXPECT_THROW(cost.Costs(turns, 2, two), ZelvError);
  std::vector<PoseParameters> many(20, PoseParameters{0.1, 0.1, 0.2, 3000});
  many[10] = {0, 0, 0, 0};
  std::vector<double> costs(20);
  EXPECT_THROW(cost.Costs(many.data(), 20, costs.data()), ZelvError);
}

#else
TEST(FmaDivisionTest, NotOnThisProcessor) {
  GTEST_SKIP() << "no x86-64 vector kernels in this build: the kernel divides with the plain path";
}
#endif

}  // namespace
}  // namespace zelv
