// The correction table: bands, polynomials, the token scan and its faults.
#include "files/correction_table.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "base/zelv_error.h"

namespace zelv {
namespace {

using Table = std::vector<std::string>;

const char kIdentityBand[] = "0 0 4000 4000 X 0 1 - Y 0 1 - ; ";

TEST(CorrectionTableTest, IdentityBandCentresAndTurnsYUp) {
  const Table table = {"1", kIdentityBand};
  EXPECT_EQ(CorrectImageX(100, table, 320), -220.0);
  EXPECT_EQ(CorrectImageY(50, table, 240), 190.0);
  EXPECT_EQ(CorrectImageY(50, {"2", kIdentityBand}, 240), 95.0);
  EXPECT_EQ(CorrectImageY(50, {"0,5", kIdentityBand}, 240), 380.0);
}

TEST(CorrectionTableTest, BoundsBelongToTheBandAndTheEarliestBandWins) {
  const Table table = {"1", "0 0 100 50 X 1 1 - Y 1 1 - ;", "50 20 200 200 X 2 1 - Y 2 1 - ;"};
  EXPECT_EQ(CorrectImageX(100, table, 0), 101.0);  // x2 of the first band
  EXPECT_EQ(CorrectImageX(0, table, 0), 1.0);      // x1 of the first band
  EXPECT_EQ(CorrectImageX(60, table, 0), 61.0);    // both cover 60: the first line wins
  EXPECT_EQ(CorrectImageX(150, table, 0), 152.0);  // only the second covers 150
  // The y band is chosen by y1 y2 alone: y = 60 is in the second band although x = 60 is not.
  EXPECT_EQ(CorrectImageY(50, table, 0), -51.0);
  EXPECT_EQ(CorrectImageY(60, table, 0), -62.0);
}

TEST(CorrectionTableTest, ACoordinateNoBandCoversBecomesMinusOne) {
  const Table table = {"2", "0 0 100 100 X 0 1 - Y 0 1 - ; "};
  EXPECT_EQ(CorrectImageX(-0.5, table, 320), -1.0);
  EXPECT_EQ(CorrectImageX(100.5, table, 320), -1.0);
  EXPECT_EQ(CorrectImageY(101, table, 240), -1.0);  // neither s nor the centre applied
}

TEST(CorrectionTableTest, PolynomialsSumPositiveThenNegativePowers) {
  // Px(2) = 1 + 2*2 + 0.5*4 + 4/2 + 8/4 = 11; Py(4) = 3 + 16/4 = 7.
  const Table table = {"2", "0 0 10 10 X 1 2 0.5 - 4 8 Y 3 - 16 ;"};
  EXPECT_EQ(CorrectImageX(2, table, 1), 10.0);
  EXPECT_EQ(CorrectImageY(4, table, 21), 7.0);  // 21/2 - 7/2
}

TEST(CorrectionTableTest, AnEmptyXGroupGivesMinusTheCentre) {
  const Table table = {"1", "0 0 4000 4000 X - Y 0 1 - ; "};
  EXPECT_EQ(CorrectImageX(100, table, 320), -320.0);
}

TEST(CorrectionTableTest, ACoefficientGluedToTheMarkerEndsTheGroupWithoutBeingTaken) {
  const Table table = {"1", "0 0 4000 4000 X 5 1.5- 7 Y 0 1.5- ; "};
  EXPECT_EQ(CorrectImageX(100, table, 0), 5.0 + 7.0 / 100.0);
  EXPECT_EQ(CorrectImageY(100, table, 0), 0.0);
}

TEST(CorrectionTableTest, ATableWithoutBandLinesFailsEveryPoint) {
  EXPECT_THROW(CorrectImageX(100, {"1"}, 320), ZelvError);
  EXPECT_THROW(CorrectImageY(100, {"1"}, 240), ZelvError);
  EXPECT_THROW(CorrectImageX(100, {}, 320), ZelvError);
  EXPECT_THROW(CorrectImageY(100, {}, 240), ZelvError);
}

TEST(CorrectionTableTest, MalformedRangesAndSFail) {
  EXPECT_THROW(CorrectImageX(1, {"1", "0  0 9 9 X 0 1 - Y 0 1 - ; "}, 0), ZelvError);
  EXPECT_THROW(CorrectImageX(1, {"1", "0 0 9"}, 0), ZelvError);
  EXPECT_THROW(CorrectImageX(1, {"1", ""}, 0), ZelvError);  // an empty band line
  EXPECT_THROW(CorrectImageY(1, {"s", kIdentityBand}, 0), ZelvError);
  EXPECT_THROW(CorrectImageY(1, {"", kIdentityBand}, 0), ZelvError);
}

TEST(CorrectionTableTest, AMatchingLineWithoutItsMarkerFailsButOnlyWhenReached) {
  EXPECT_THROW(CorrectImageX(1, {"1", "0 0 9 9 Y 0 1 - ; "}, 0), ZelvError);
  EXPECT_THROW(CorrectImageY(1, {"1", "0 0 9 9 X 0 1 - ; "}, 0), ZelvError);
  // Lines after the matching one are never read, however broken.
  const Table table = {"1", kIdentityBand, "", "garbage", "1  2"};
  EXPECT_EQ(CorrectImageX(10, table, 0), 10.0);
  EXPECT_EQ(CorrectImageY(10, table, 0), -10.0);
}

TEST(CorrectionTableTest, TheEndOfTheLineClosesAnOpenGroup) {
  // No blank after the final ";", and a line that ends inside a group.
  EXPECT_EQ(CorrectImageY(3, {"1", "0 0 9 9 X 0 1 - Y 0 1 - ;"}, 0), -3.0);
  EXPECT_EQ(CorrectImageX(3, {"1", "0 0 9 9 X 1 2"}, 0), 7.0);
  EXPECT_EQ(CorrectImageX(3, {"1", "0 0 9 9 X 1 2 "}, 0), 7.0);
  EXPECT_EQ(CorrectImageX(3, {"1", "0 0 9 9 X 1 - 3"}, 0), 2.0);
  EXPECT_EQ(CorrectImageY(3, {"1", "0 0 9 9 X - Y 6 - 3"}, 0), -7.0);
  EXPECT_EQ(CorrectImageX(3, {"1", "0 0 9 9 X"}, 5), -5.0);
  // Two blanks inside a group give an empty token, which does not convert.
  EXPECT_THROW(CorrectImageX(3, {"1", "0 0 9 9 X 1  2 - Y - ; "}, 0), ZelvError);
}

TEST(CorrectionTableTest, ANonFiniteResultFailsInsteadOfBecomingAPoint) {
  const Table negative = {"1", "-10 -10 10 10 X 0 1 - 2 Y 0 1 - 2 ; "};
  EXPECT_EQ(CorrectImageX(2, negative, 0), 3.0);
  EXPECT_THROW(CorrectImageX(0, negative, 0), ZelvError);
  EXPECT_THROW(CorrectImageY(0, negative, 0), ZelvError);
  EXPECT_EQ(CorrectImageX(0, {"1", "-10 -10 10 10 X 4 1 - Y 0 1 - ; "}, 0), 4.0);  // 0^0 = 1
  EXPECT_THROW(CorrectImageY(5, {"0", kIdentityBand}, 240), ZelvError);
  EXPECT_THROW(CorrectImageX(1e200, {"1", "0 0 1e300 1e300 X 0 0 1 - Y - ; "}, 0), ZelvError);
  EXPECT_THROW(CorrectImageY(1, {"1e-320", kIdentityBand}, 1e300), ZelvError);
}

TEST(CorrectionTableParserTest, GivesTheResultsAndFailuresOfThePlainFunctions) {
  const Table table = {"0.8",
                       "1 1 512 1524 X -1.3353808594414 1.00391135755285 -9.18790962486897E-7 - "
                       "-0.489482913592847 Y 1.24230920491902 0.997235456718622 - ; rest",
                       "0 0 1524 1524 X -0.835380859441399 1.00391135755285 - Y 1.24230920491902 "
                       "0.997235456718622 - ; ",
                       "1600 1600 1700 1700 X 1 - Y - ; ", "broken line"};
  CorrectionTableParser parser(table);
  for (double v = -50; v <= 1800; v += 0.73) {
    for (int axis = 0; axis < 2; ++axis) {
      double expected = 0;
      bool expectedFails = false;
      try {
        expected = axis == 0 ? CorrectImageX(v, table, 506.679) : CorrectImageY(v, table, 512.363);
      } catch (const ZelvError&) {
        expectedFails = true;
      }
      try {
        const double got = axis == 0 ? parser.CorrectX(v, 506.679) : parser.CorrectY(v, 512.363);
        EXPECT_FALSE(expectedFails) << v;
        EXPECT_EQ(std::memcmp(&got, &expected, sizeof got), 0)
            << v << " " << got << " " << expected;
      } catch (const ZelvError&) {
        EXPECT_TRUE(expectedFails) << v;
      }
    }
  }
  EXPECT_THROW(parser.CorrectX(1750, 0), ZelvError);  // reaches the broken line
  EXPECT_EQ(parser.CorrectX(1650, 0), 1.0);
}

}  // namespace
}  // namespace zelv
