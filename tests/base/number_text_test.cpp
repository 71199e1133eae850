// Reading and writing numbers as text: both decimal separators, the edge values, the log figures.
#include "base/number_text.h"

#include <gtest/gtest.h>

#include <bit>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <string>

#include "base/zelv_error.h"

namespace zelv {
namespace {

TEST(ParseNumberTest, AcceptsBlanksSignSeparatorAndExponent) {
  EXPECT_EQ(ParseNumber("12.5"), 12.5);
  EXPECT_EQ(ParseNumber("12,5"), 12.5);
  EXPECT_EQ(ParseNumber("  -12.5  "), -12.5);
  EXPECT_EQ(ParseNumber("+7"), 7.0);
  EXPECT_EQ(ParseNumber("1E3"), 1000.0);
  EXPECT_EQ(ParseNumber("1,5e-3"), 0.0015);
  EXPECT_EQ(ParseNumber("-9.18790962486897E-7"), -9.18790962486897E-7);
  EXPECT_EQ(ParseNumber("2."), 2.0);
  EXPECT_EQ(ParseNumber(".5"), 0.5);
  EXPECT_EQ(ParseNumber("0.1"), 0.1);  // correctly rounded, like the compiler's literal
}

TEST(ParseNumberTest, RejectsEverythingElse) {
  for (const char* text :
       {"",  "   ",  "1.2.3", "1,2.3", "1 2", "--1", "+-1",      "1e",   "1e+", "e5",    ".",
        "-", "0x10", "inf",   "-inf",  "nan", "NaN", "infinity", "1e5x", "12;", "1'000", "\t"}) {
    EXPECT_FALSE(ParseNumber(text).has_value()) << "'" << text << "'";
  }
}

// Plain decimals of every length around the limits of the short way (2^53, 19 digits, 22
// decimals) read to the bits std::from_chars gives.
TEST(ParseNumberTest, PlainDecimalsReadToTheCorrectlyRoundedBits) {
  std::mt19937 random(11);
  std::uniform_int_distribution<int> digit(0, 9), length(0, 24), coin(0, 1);
  const auto check = [](const std::string& text) {
    double expected = 0;
    std::from_chars(text.data(), text.data() + text.size(), expected);
    const std::optional<double> actual = ParseNumber(text);
    ASSERT_TRUE(actual.has_value()) << text;
    ASSERT_EQ(std::bit_cast<std::uint64_t>(*actual), std::bit_cast<std::uint64_t>(expected))
        << text;
  };
  for (int i = 0; i < 200000; ++i) {
    std::string text = coin(random) ? "-" : "";
    const int whole = 1 + length(random) % 17, fraction = length(random);
    for (int d = 0; d < whole; ++d) text += static_cast<char>('0' + digit(random));
    if (fraction > 0 || coin(random)) {
      text += '.';
      for (int d = 0; d <= fraction; ++d) text += static_cast<char>('0' + digit(random));
    }
    check(text);
  }
  for (const char* text : {"9007199254740992", "9007199254740993", "9007199254740992.5",
                           "0.0000000000000000000001", "-0.000", "0", "-0", "1234567890123456789",
                           "12345678901234567890", "0.1", "0.3", "4503599627370497.5"})
    check(text);
}

TEST(ParseNumberTest, OverflowIsAnErrorButUnderflowIsANumber) {
  EXPECT_FALSE(ParseNumber("1e309").has_value());
  EXPECT_FALSE(ParseNumber("-2e400").has_value());
  EXPECT_EQ(ParseNumber("1.7976931348623157e308"), std::numeric_limits<double>::max());
  EXPECT_EQ(ParseNumber("1e-400"), 0.0);
  EXPECT_EQ(ParseNumber("4.9406564584124654e-324"), std::numeric_limits<double>::denorm_min());
}

TEST(ReadNumberTest, RaisesOnConversionError) {
  EXPECT_EQ(ReadNumber(" 3,25 "), 3.25);
  EXPECT_THROW(ReadNumber("  "), ZelvError);
  EXPECT_THROW(ReadNumber("2;3"), ZelvError);
}

TEST(FormatFixed4Test, FourDecimalsWithEitherSeparator) {
  EXPECT_EQ(FormatFixed4(2000, '.'), "2000.0000");
  EXPECT_EQ(FormatFixed4(2000, ','), "2000,0000");
  EXPECT_EQ(FormatFixed4(-1.5, '.'), "-1.5000");
  EXPECT_EQ(FormatFixed4(0.5, '.'), "0.5000");
  EXPECT_EQ(FormatFixed4(-0.25, ','), "-0,2500");
  EXPECT_EQ(FormatFixed4(123456.78905, '.'), "123456.7891");  // 78905 is stored above the tie
  EXPECT_EQ(FormatFixed4(0.00005, '.'), "0.0001");            // stored just above 0.00005
  EXPECT_EQ(FormatFixed4(2.00005, '.'), "2.0000");            // stored just below the tie
}

TEST(FormatFixed4Test, ZeroAndValuesRoundingToZeroHaveNoSign) {
  EXPECT_EQ(FormatFixed4(0.0, '.'), "0.0000");
  EXPECT_EQ(FormatFixed4(-0.0, '.'), "0.0000");
  EXPECT_EQ(FormatFixed4(-0.00004, '.'), "0.0000");
  EXPECT_EQ(FormatFixed4(-0.00004, ','), "0,0000");
}

TEST(FormatFixed4Test, ExponentOnlyBeyondEighteenIntegerDigits) {
  EXPECT_EQ(FormatFixed4(999999999999999872.0, '.'), "999999999999999872.0000");
  EXPECT_EQ(FormatFixed4(1e18, '.'), "1E+18");
  EXPECT_EQ(FormatFixed4(-2.5e20, ','), "-2,5E+20");
}

TEST(FormatFixed4Test, RefusesNonFiniteValues) {
  EXPECT_THROW(FormatFixed4(std::numeric_limits<double>::infinity(), '.'), ZelvError);
  EXPECT_THROW(FormatFixed4(std::nan(""), '.'), ZelvError);
  EXPECT_THROW(FormatGeneral(-std::numeric_limits<double>::infinity(), '.'), ZelvError);
}

TEST(FormatGeneralTest, ShortestTextWithoutTrailingZeros) {
  EXPECT_EQ(FormatGeneral(0, '.'), "0");
  EXPECT_EQ(FormatGeneral(-0.0, '.'), "0");
  EXPECT_EQ(FormatGeneral(2000, '.'), "2000");
  EXPECT_EQ(FormatGeneral(-15, '.'), "-15");
  EXPECT_EQ(FormatGeneral(1.5, '.'), "1.5");
  EXPECT_EQ(FormatGeneral(1.5, ','), "1,5");
  EXPECT_EQ(FormatGeneral(0.1, '.'), "0.1");
  EXPECT_EQ(FormatGeneral(0.1 + 0.2, '.'), "0.3");  // 15 significant digits
  EXPECT_EQ(FormatGeneral(1.0 / 3.0, '.'), "0.333333333333333");
  EXPECT_EQ(FormatGeneral(-2.0 / 3.0, ','), "-0,666666666666667");
  EXPECT_EQ(FormatGeneral(123456789012345.0, '.'), "123456789012345");
  EXPECT_EQ(FormatGeneral(1826.48, '.'), "1826.48");
}

TEST(FormatGeneralTest, ExponentBelowOneTenThousandthAndBeyondFifteenDigits) {
  EXPECT_EQ(FormatGeneral(0.0001, '.'), "0.0001");
  EXPECT_EQ(FormatGeneral(0.00012, ','), "0,00012");
  EXPECT_EQ(FormatGeneral(0.00001, '.'), "1E-5");
  EXPECT_EQ(FormatGeneral(-0.000015, ','), "-1,5E-5");
  EXPECT_EQ(FormatGeneral(0.00009999999999999999, '.'), "0.0001");  // rounds up to 0.0001
  EXPECT_EQ(FormatGeneral(1.5e20, '.'), "1.5E+20");
  EXPECT_EQ(FormatGeneral(1e15, '.'), "1E+15");
  EXPECT_EQ(FormatGeneral(999999999999999.0, '.'), "999999999999999");
  EXPECT_EQ(FormatGeneral(9999999999999999.0, '.'), "1E+16");
  EXPECT_EQ(FormatGeneral(5e-324, '.'), "4.94065645841247E-324");
}

TEST(FormatGeneralTest, TheRefinementLogFinalOffsetOfOneTenThousandthDegree) {
  // The default final offset is 0.0001 degrees, kept in radians and turned back into degrees
  // for the log, which prints it as "Конечное смещение:0.0001".
  const double radians = 0.0001 * 3.141592653589793 * (1.0 / 180.0);
  const double degrees = (radians * 180) * 0.3183098861837907;
  EXPECT_EQ(FormatGeneral(degrees, '.'), "0.0001");
  EXPECT_EQ(FormatFixed4(15.0, '.'), "15.0000");  // "Начальное смещение:15.0000"
}

TEST(FormatGeneralTest, TextReadsBackToTheSameFifteenDigits) {
  for (double v : {1826.48, -0.489482913592847, 3171.495581483421, 1e-7, 123.456e12}) {
    const std::string text = FormatGeneral(v, ',');
    const double back = ReadNumber(text);
    EXPECT_EQ(FormatGeneral(back, ','), text);
    EXPECT_NEAR(back, v, std::fabs(v) * 1e-14);
  }
}

TEST(RegionalDecimalSeparatorTest, IsAPointOrAComma) {
  const char separator = RegionalDecimalSeparator();
  EXPECT_TRUE(separator == '.' || separator == ',');
}

}  // namespace
}  // namespace zelv
