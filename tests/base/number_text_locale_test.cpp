// The number texts must not follow the C library's current locale: the desktop application sets
// it from the environment, where a comma may be the decimal point.
#include <gtest/gtest.h>

#include <clocale>
#include <string>

#include "base/number_text.h"

namespace zelv {
namespace {

class CommaLocale : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    saved_ = previous ? previous : "C";
    for (const char* name : {"ru_RU.UTF-8", "de_DE.UTF-8", "ru_RU.utf8", "de_DE.utf8"})
      if (std::setlocale(LC_NUMERIC, name)) return;
    GTEST_SKIP() << "no locale with a decimal comma is installed";
  }
  void TearDown() override { std::setlocale(LC_NUMERIC, saved_.c_str()); }

 private:
  std::string saved_;
};

TEST_F(CommaLocale, NumberTextsWriteOnlyTheSeparatorAskedFor) {
  EXPECT_EQ(FormatFixed4(1234.5, '.'), "1234.5000");
  EXPECT_EQ(FormatFixed4(-0.5, ','), "-0,5000");
  EXPECT_EQ(FormatGeneral(1.5, '.'), "1.5");
  EXPECT_EQ(FormatGeneral(0.00001234, '.'), "1.234E-5");
  EXPECT_EQ(ParseNumber("2.25"), 2.25);
  EXPECT_EQ(ParseNumber("2,25"), 2.25);
}

}  // namespace
}  // namespace zelv
