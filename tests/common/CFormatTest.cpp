#include "common/CFormat.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>

#include <clocale>
#include <cmath>
#include <cstdio>

namespace vellumar {
namespace {

TEST(CFormat, FormatsLikePrintfAndKeepsTwelveDigitsWhateverTheLocale) {
  // A comma-decimal locale must not leak into files or messages.
  ASSERT_NE(std::setlocale(LC_NUMERIC, "ru_RU.UTF-8"), nullptr)
      << "the ru_RU.UTF-8 locale is missing (scripts/setup generates it)";
  char plain[16];
  std::snprintf(plain, sizeof plain, "%.1f", 0.5);
  EXPECT_STREQ(plain, "0,5") << "the locale in force must really use a decimal comma";
  EXPECT_EQ(cformat("%lf", 0.5), "0.500000");
  EXPECT_EQ(cformat("%.12E", 0.0), "0.000000000000E+00");
  EXPECT_EQ(cformat("%11.4E", 0.0000005), " 5.0000E-07");
  EXPECT_EQ(cformat("%s:%d", "x", 7), "x:7");
  const std::string longText(1000, 'a');
  EXPECT_EQ(cformat("%s", longText.c_str()), longText);
  // The general form keeps twelve significant digits.
  for (const auto& [value, text] :
       {std::pair{1.0 / 3.0, "0.333333333333"}, {1.5e20, "1.5e+20"}, {100.0, "100"}}) {
    std::string out = "x";
    appendGeneral(out, value, 12);
    EXPECT_EQ(out, std::string("x") + text);  // appended to what the text held
  }
  std::setlocale(LC_NUMERIC, "C");
}

TEST(CFormat, ParsesWholeNumbersOnly) {
  double value = 0;
  for (const char* bad : {"2e", "12abc", "", "1.5 ", "+-1", "++1", "2.5x"})
    EXPECT_FALSE(parseWholeDouble(bad, value)) << bad;
  // Every form reads exactly as strtod reads it: those of the fast path, and those it leaves to
  // strtod.
  for (const char* text : {"1e5", " -2.5", "+1.5", "0x1.8p1", "1e400", "-1e-400", "  7", "4.9e-324",
                           "inf", "-nan", "0.1000000000000000055511151231257827"}) {
    char* stop = nullptr;
    const double expected = std::strtod(text, &stop);
    ASSERT_TRUE(parseWholeDouble(text, value)) << text;
    EXPECT_EQ(std::memcmp(&value, &expected, sizeof value), 0) << text;
  }
  EXPECT_FALSE(parseWholeDouble(std::string_view("12", 1).substr(0, 0), value));
  EXPECT_TRUE(parseWholeDouble(std::string_view("125", 2), value));  // not terminated there
  EXPECT_EQ(value, 12.0);
  char* end = nullptr;
  EXPECT_EQ(cstrtod("1e999", &end), HUGE_VAL);
}

}  // namespace
}  // namespace vellumar
