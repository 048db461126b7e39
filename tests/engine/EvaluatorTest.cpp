#include <gtest/gtest.h>

#include <cmath>

#include "EvaluationHelpers.h"

namespace vellumar::engine {
namespace {

using testing::evaluate;
using testing::expectFailure;
using testing::numberOf;
using testing::Outcome;

TEST(Evaluator, PrecedenceAndAssociativity) {
  EXPECT_EQ(numberOf("2+3*4"), 14);
  EXPECT_EQ(numberOf("(2+3)*4"), 20);
  EXPECT_EQ(numberOf("2^3^2"), 64);
  EXPECT_EQ(numberOf("8/2/2"), 2);
  EXPECT_EQ(numberOf("7 - 2"), 5);
  EXPECT_EQ(numberOf("1 / 4"), 0.25);
  EXPECT_EQ(numberOf("2^3*2"), 16);
}

TEST(Evaluator, UnaryMinusTakesTheWholeFollowingSum) {
  EXPECT_EQ(numberOf("-2+3"), -5);
  EXPECT_EQ(numberOf("2*-3+1"), -8);
  EXPECT_EQ(numberOf("-2^2"), -4);
  EXPECT_EQ(numberOf("2^-1+3"), 0.0625);
  EXPECT_TRUE(std::signbit(numberOf("-0")));
}

TEST(Evaluator, StatementsAndTheTokensThatEndThem) {
  EXPECT_EQ(numberOf("1;2;3"), 3);
  EXPECT_EQ(numberOf(";;5;;"), 5);
  EXPECT_EQ(numberOf("  4  "), 4);
  EXPECT_EQ(numberOf("1)"), 1);   // a stray ')' ends the statement
  EXPECT_EQ(numberOf("1,2"), 2);  // and so does a ','
  EXPECT_EQ(numberOf("2x"), 2);   // the name that ends the statement is dropped
  EXPECT_EQ(numberOf("1;\r\n2"), 2);
}

TEST(Evaluator, BlanksInsideNumbersAndNames) {
  EXPECT_EQ(numberOf("1 000 + 1"), 1001);
  EXPECT_EQ(numberOf("Sq rt(16)"), 4);
  expectFailure("Sqrt 4", "неизвестное имя \" Sqrt4 \" ");
}

TEST(Evaluator, NumberSyntax) {
  EXPECT_EQ(numberOf("1e+5"), 100000);
  EXPECT_EQ(numberOf(".5"), 0.5);
  EXPECT_EQ(numberOf("5."), 5);
  EXPECT_EQ(numberOf("1E-3"), 0.001);
  expectFailure("1.2.3", "Неверный символ '.'");
  expectFailure("1e5e3", "Неверный символ 'e'");
  expectFailure("2e", "Неверный символ ';'");
  expectFailure("1e+-3", "Неверный символ '-'");
  expectFailure(".", "Неверный символ ';'");
  expectFailure("1e999", "1e999 - переполнение разрядности числа!");
  // A number far longer than any fixed buffer is still read whole.
  EXPECT_EQ(numberOf(std::string(300, '0') + "7"), 7);
}

TEST(Evaluator, NumberResultsThatAreNotFiniteFail) {
  expectFailure("1e200 * 1e200", "Умножение: недопустимое значение аргумента");
  expectFailure("(0 - 1e308) - 1e308", "Вычитание: недопустимое значение аргумента");
  expectFailure("2 ^ 5000", "Умножение: недопустимое значение аргумента");
  expectFailure("10 ^ 400.5", "Exp: недопустимое значение аргумента");
  expectFailure("Exp(1000)", "Exp: недопустимое значение аргумента 1");
  expectFailure("Mul_SP(1e200, 1e200)", "Mul_SP: недопустимое значение аргумента");
  EXPECT_EQ(numberOf("Exp(700) / Exp(700)"), 1);
  // The failed statement assigns nothing.
  S_Calculator calc;
  EXPECT_FALSE(evaluate(calc, "x = 2; x = 1e300 * x * 1e10").ok);
  EXPECT_EQ(numberOf(calc, "x"), 2);
}

TEST(Evaluator, InvalidCharacters) {
  expectFailure("2 # 3", "Неверный символ '#'");
  expectFailure("_x", "Неверный символ '_'");
  expectFailure("2 № 3", "Неверный символ '№'");
  expectFailure("2 \xFF 3", "Неверный символ '\xEF\xBF\xBD'");
}

TEST(Evaluator, ParseErrorsCarryTheInnermostOperation) {
  expectFailure("Sqrt+4", "Sqrt: пропущена '('!");
  expectFailure("(1+2", ": пропущена ')'!");
  expectFailure("1+", ": неизвестное выражение!");
  expectFailure("=3", ": неизвестное выражение!");
  expectFailure("Sqrt(Pi", "Sqrt: пропущена ')'!");
  expectFailure("Sqrt(1 + )", "Sqrt: неизвестное выражение!");
  expectFailure("abc", "неизвестное имя \" abc \" ");
  // Only the first of two errors is reported.
  expectFailure("abc + 1/0", "неизвестное имя \" abc \" ");
  expectFailure("1/0 + abc", ": деление на 0!");
}

TEST(Evaluator, BlankInputFailsWithoutMessageAndKeepsTheText) {
  S_Calculator calc;
  ErrorSink sink;
  calc.attachErrorSink(&sink);
  std::string text = "  \r\n ";
  EXPECT_FALSE(calc.run(text));
  EXPECT_EQ(text, "  \r\n ");
  EXPECT_EQ(sink.code(), sink_code::kMessage);
}

TEST(Evaluator, DeepNestingFailsInsteadOfOverflowingTheStack) {
  expectFailure(std::string(10000, '(') + "1", ": слишком глубокая вложенность выражения!");
  expectFailure(std::string(10000, '-') + "1", ": слишком глубокая вложенность выражения!");
  std::string calls;
  for (int i = 0; i < 5000; ++i) calls += "Abs(";
  expectFailure(calls + "1", "Abs: слишком глубокая вложенность выражения!");
  // Reasonable nesting still works.
  EXPECT_EQ(numberOf(std::string(100, '(') + "1" + std::string(100, ')')), 1);
}

TEST(Evaluator, EnglishMessages) {
  S_Calculator calc;
  calc.setLanguage(Language::English);
  EXPECT_EQ(evaluate(calc, "Sqrt(-1)").text, "Sqrt: invalid value of argument 1");
  EXPECT_EQ(evaluate(calc, "1/0").text, ": division by 0!");
  EXPECT_EQ(evaluate(calc, "1e999").text, "1e999 - overfolw!");
  EXPECT_EQ(evaluate(calc, "abc").text, "unknown name \" abc \" ");
  EXPECT_EQ(evaluate(calc, "2 # 3").text, "Invalid symbol '#'");
  EXPECT_EQ(evaluate(calc, "1 + 2").text, "3.000000000000");
}

TEST(Evaluator, CyrillicNames) {
  S_Calculator calc;
  EXPECT_EQ(numberOf(calc, "глубина = 1500; Ёж_2 = 2; глубина / Ёж_2"), 750);
  EXPECT_EQ(numberOf(calc, "глубина"), 1500);
}

TEST(ResultText, NumbersUseFixedOrExponentForm) {
  EXPECT_EQ(evaluate("0").text, "0.000000000000E+00");
  EXPECT_EQ(evaluate("1e12").text, "1000000000000.000000000000");
  EXPECT_EQ(evaluate("-1e-12").text, "-0.000000000001");
  EXPECT_EQ(evaluate("1e12*10").text, "1.000000000000E+13");
  EXPECT_EQ(evaluate("1e-12/10").text, "1.000000000000E-13");
  EXPECT_EQ(evaluate("Pi").text, "3.141592653590");
}

}  // namespace
}  // namespace vellumar::engine
