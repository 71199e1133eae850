// The distribution functions against tabulated values: a wrong quantile would pass a bad pose or
// fail a good one without any other sign.
#include "solver/distributions.h"

#include <gtest/gtest.h>

namespace zelv {
namespace {

TEST(Distributions, QuantilesAndTailsMatchTheTables) {
  EXPECT_NEAR(StudentTQuantile(0.975, 1), 12.7062, 1e-4);
  EXPECT_NEAR(StudentTQuantile(0.975, 2), 4.3027, 1e-4);
  EXPECT_NEAR(StudentTQuantile(0.975, 10), 2.2281, 1e-4);
  EXPECT_NEAR(StudentTQuantile(0.975, 500), 1.9647, 1e-4);
  EXPECT_NEAR(ChiSquareQuantile(0.95, 1), 3.8415, 1e-4);
  EXPECT_NEAR(ChiSquareQuantile(0.99, 2), 9.2103, 1e-4);
  EXPECT_NEAR(ChiSquareQuantile(0.99, 18), 34.8053, 1e-4);
  EXPECT_NEAR(ChiSquareQuantile(0.99, 500), 576.4928, 1e-3);
  EXPECT_NEAR(ChiSquareUpperTail(3.8415, 1), 0.05, 1e-5);
  EXPECT_NEAR(ChiSquareUpperTail(34.8053, 18), 0.01, 1e-6);
  EXPECT_NEAR(ChiSquareUpperTail(2.0, 2), 0.367879, 1e-6);  // e^(−1)
  EXPECT_EQ(ChiSquareUpperTail(0, 5), 1);
  EXPECT_EQ(ChiSquareUpperTail(1e6, 5), 0);
}

}  // namespace
}  // namespace zelv
