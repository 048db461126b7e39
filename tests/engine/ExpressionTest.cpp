// Expressions of numbers: syntax, operators, the built-in functions and their messages, and the
// message-line text of results.
#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string_view>

#include "EvaluationHelpers.h"
#include "engine/Builtins.h"

namespace vellumar::engine {
namespace {

using testing::evaluate;
using testing::expectArgumentFailures;
using testing::expectFunctionFailures;
using Expressions = testing::CalculatorTest;

// Precedence and associativity; the unary minus takes the whole following sum; a stray ')' or ','
// ends a statement, and so does a name, which is dropped; blanks inside numbers and names; powers
// by multiplication or by Exp and Ln, where huge whole exponents finish quickly and keep their
// sign; IF chooses its second argument only for exactly 1; logic, comparisons and extrema.
TEST_F(Expressions, ExactNumberResults) {
  const testing::NumberCase shortCases[] = {
      {"2+3*4", 14},      {"(2+3)*4", 20},        {"2^3^2", 64},      {"8/2/2", 2},
      {"7 - 2", 5},       {"1 / 4", 0.25},        {"2^3*2", 16},      {"-2+3", -5},
      {"2*-3+1", -8},     {"-2^2", -4},           {"2^-1+3", 0.0625}, {"1;2;3", 3},
      {";;5;;", 5},       {"  4  ", 4},           {"1)", 1},          {"1,2", 2},
      {"2x", 2},          {"1;\r\n2", 2},         {"0/5", 0},         {"1 000 + 1", 1001},
      {"Sq rt(16)", 4},   {"1e+5", 100000},       {".5", 0.5},        {"5.", 5},
      {"1E-3", 0.001},    {"2^10", 1024},         {"2^0", 1},         {"2^-1", 0.5},
      {"(-2)^3", -8},     {"1^1e15", 1},          {"0.5^1e9", 0},     {"IF(2, 5, 7)", 7},
      {"IF(1, 5, 7)", 5}, {"IF(0.999, 5, 7)", 7}, {"Sqrt(16)", 4},    {"Abs(-2.5)", 2.5},
      {"Lg(1000)", 3},    {"Sqrt(0)", 0},         {"And(2, 3)", 1},   {"And(2, 0)", 0},
      {"Or(0, 0)", 0},    {"Or(0, -1)", 1},       {"Not(0)", 1},      {"Not(0.1)", 0}};
  const testing::NumberCase longCases[] = {
      {"Exp(700) / Exp(700)", 1},   {"1.1^3", 1.1 * 1.1 * 1.1},      {"(-1)^(2^40 + 1)", -1},
      {"Equal(0.1 + 0.2, 0.3)", 0}, {"min(2, -3) + max(2, -3)", -1}, {"MIN(4) + MAX(5)", 9},
      {"Mul_SP(-2, -3)", -6},       {"Mul_SP(-2, 3)", -6},           {"Mul_SP(2, 3)", 6},
      {"Pi", 3.141592653589793},    {"e", 2.718281828459045}};
  for (const auto& c : shortCases) EXPECT_EQ(number(c.display), c.value) << c.display;
  for (const auto& c : longCases) EXPECT_EQ(number(c.display), c.value) << c.display;
  EXPECT_EQ(number("Great(2, 1) + Less(2, 1) + GreatEqual(2, 2) + LessEqual(3, 2)"), 2);
  // A number far longer than any fixed buffer is still read whole; reasonable nesting works.
  EXPECT_EQ(number(std::string(300, '0') + "7"), 7);
  EXPECT_EQ(number(std::string(100, '(') + "1" + std::string(100, ')')), 1);
  EXPECT_TRUE(std::signbit(number("-0")));

  EXPECT_DOUBLE_EQ(number("Exp(1)"), std::exp(1.0));
  EXPECT_DOUBLE_EQ(number("Ln(e)"), 1.0);
  EXPECT_DOUBLE_EQ(number("Sin(Pi/2)"), 1.0);
  EXPECT_DOUBLE_EQ(number("ArcTg(1)"), std::atan(1.0));
  EXPECT_DOUBLE_EQ(number("2^0.5"), std::exp(0.5 * std::log(2.0)));
  calc_.setAnglesInRadians(false);
  EXPECT_DOUBLE_EQ(number("Sin(30)"), 0.49999999999999994);
  EXPECT_DOUBLE_EQ(number("ArcCos(0)"), 90.0);
  // cos(90 degrees) is not exactly 0 in doubles: a very large number, not a failure.
  EXPECT_GT(number("Tg(90)"), 1e15);
}

// Argument lists (Trace-L is the function Trace followed by '-'); checks made while reading the
// arguments (17 is in range), where IF checks its condition before reading the branches and
// evaluates both branches before the choice; random grids are complete after one parameter for
// laws 4, 6, 7, three for 8, two otherwise; number syntax, invalid characters, number results
// that are not finite; parse errors carry the innermost operation, and only the first of two
// errors is reported; deep nesting fails instead of overflowing the stack.
TEST_F(Expressions, FailuresAndTheirMessages) {
  expectArgumentFailures(calc_, testing::kType, 1,
                         {"Dx(5)", "Sum(3)", "Spec(1, 3)", "MIN(3, 4)", "Area(1)",
                          "Trace(1, 2, 3, 4)", "Spec(1, 17.9)"});
  expectArgumentFailures(
      calc_, testing::kValue, 1,
      {"Sqrt(-1)", "Ln(0)", "Lg(-5)", "ArcSin(1.5)", "ArcCos(-1.01)", "Exp(1000)"});
  expectArgumentFailures(calc_, testing::kValue, 2, {"Spec(1, 18)", "Spec(1, 0)"});
  expectFunctionFailures(calc_, ": пропущена ','!",
                         {"max(1 2)", "EG(1, 2)", "RG(0, 10, 0, 10, 1, 1, 2, 0)",
                          "RG(0, 10, 0, 10, 1, 1, 8, 0, 1)", "RG(1, Pi, 0, 10)"});
  expectFunctionFailures(calc_, ": пропущена ')'!",
                         {"max(1, 2", "Sqrt(1, 2)", "Cut(1, 2, 3, 4, 5, 6, 7)",
                          "RG(0, 10, 0, 10, 1, 1, 4, 3, 5)", "Sqrt(Pi"});
  expectArgumentFailures(calc_, testing::kValue, 10, {"RG(0, 10, 0, 10, 1, 1, 8, 0, 1, 2)"});
  std::string calls;
  for (int i = 0; i < 5000; ++i) calls += "Abs(";
  expectMessage(": деление на 0!", {"IF(1, 5, 1/0)", "1/0 + abc", "(1/0)", "Sqrt(1/0)"});
  expectMessage("Неверный символ ';'", {"2e", "."});
  expectMessage(": неизвестное выражение!", {"1+", "=3"});
  expectMessage("Ln: недопустимое значение аргумента 1", {"(-2)^0.5", "0^0"});
  expectMessage("Умножение: недопустимое значение аргумента", {"1e200 * 1e200", "2 ^ 5000"});
  expectMessage(": слишком глубокая вложенность выражения!",
                {std::string(10000, '(') + "1", std::string(10000, '-') + "1"});
  expectMessages({{"Sqrt 4)", "неизвестное имя \" Sqrt4 \" "},
                  {"MIN(3 4", "MIN: пропущена ',' или ')'!"},
                  {"Trace-L", "Trace: пропущена '('!"},
                  {"Spec(x, 18)", "неизвестное имя \" x \" "},
                  {"IF(Spec(1, 0), 1+, 2)", "Spec: недопустимое значение аргумента 2"},
                  {"1 + Sqrt(-4)", "Sqrt: недопустимое значение аргумента 1"},
                  {"1.2.3", "Неверный символ '.'"},
                  {"1e5e3", "Неверный символ 'e'"},
                  {"1e+-3", "Неверный символ '-'"},
                  {"1e999", "1e999 - переполнение разрядности числа!"},
                  {"_x", "Неверный символ '_'"},
                  {"2 № 3", "Неверный символ '№'"},
                  {"2 \xFF 3", "Неверный символ '\xEF\xBF\xBD'"},
                  {"(0 - 1e308) - 1e308", "Вычитание: недопустимое значение аргумента"},
                  {"10 ^ 400.5", "Exp: недопустимое значение аргумента"},
                  {"Mul_SP(1e200, 1e200)", "Mul_SP: недопустимое значение аргумента"},
                  {"Sqrt+4", "Sqrt: пропущена '('!"},
                  {"(1+2", ": пропущена ')'!"},
                  {"Sqrt(1 + )", "Sqrt: неизвестное выражение!"},
                  {"abc + 1/0", "неизвестное имя \" abc \" "},
                  {calls + "1", "Abs: слишком глубокая вложенность выражения!"}});
  for (const char* display : {"EG(1, 2, 3, 4, 5, 6)", "RG(0, 10, 0, 10, 1, 1, 4, 3)",
                              "RG(0, 10, 0, 10, 1, 1, 2, 0, 1)"}) {
    EXPECT_EQ(evaluate(calc_, display).text, "Результат - карта - готов !") << display;
  }
  // The failed statement assigns nothing; the statements before it keep their assignments.
  EXPECT_FALSE(evaluate(calc_, "x = 2; x = 1e300 * x * 1e10").ok);
  EXPECT_FALSE(evaluate(calc_, "a = 1; b = 2; a = 1/0").ok);
  EXPECT_EQ(number("x * 100 + a * 10 + b"), 212);
}

TEST_F(Expressions, ResultTextsAndEnglishMessages) {
  using Texts = std::pair<const char*, const char*>;
  const Texts russian[] = {
      {"0", "0.000000000000E+00"},        {"1e12", "1000000000000.000000000000"},
      {"-1e-12", "-0.000000000001"},      {"1e12*10", "1.000000000000E+13"},
      {"1e-12/10", "1.000000000000E-13"}, {"Pi", "3.141592653590"}};
  const Texts english[] = {
      {"1/0", ": division by 0!"},        {"1e999", "1e999 - overfolw!"},
      {"abc", "unknown name \" abc \" "}, {"2 # 3", "Invalid symbol '#'"},
      {"1 + 2", "3.000000000000"},        {"Sqrt(-1)", "Sqrt: invalid value of argument 1"}};
  for (const auto& [display, text] : russian)
    EXPECT_EQ(evaluate(calc_, display).text, text) << display;
  calc_.setLanguage(Language::English);
  for (const auto& [display, text] : english)
    EXPECT_EQ(evaluate(calc_, display).text, text) << display;
}

TEST_F(Expressions, BlankInputFailsWithoutMessageAndKeepsTheText) {
  ErrorSink sink;
  calc_.attachErrorSink(&sink);
  std::string text = "  \r\n ";
  EXPECT_FALSE(calc_.run(text));
  EXPECT_EQ(text, "  \r\n ");
  EXPECT_EQ(sink.code(), sink_code::kMessage);
}

TEST(Builtins, EveryNameIsFoundOnceAndEveryFormComputes) {
  // A name listed twice would shadow its second entry; a form without a handler would crash.
  std::set<std::string_view> names;
  for (const Builtin& builtin : builtins()) {
    EXPECT_TRUE(names.insert(builtin.name).second) << builtin.name;
    EXPECT_EQ(findBuiltin(builtin.name), &builtin) << builtin.name;
    EXPECT_FALSE(builtin.forms.empty()) << builtin.name;
    for (const Form& form : builtin.forms) {
      EXPECT_NE(form.handler, nullptr) << builtin.name << " " << form.count;
      EXPECT_FALSE(form.kinds.empty()) << builtin.name << " " << form.count;
    }
  }
  EXPECT_GE(names.size(), 57u);
  EXPECT_NE(findBuiltin("min"), nullptr);
  EXPECT_NE(findBuiltin("MIN"), findBuiltin("min"));
  EXPECT_EQ(findBuiltin("sqrt"), nullptr);
  EXPECT_EQ(findBuiltin("Trace-L"), nullptr);
}

}  // namespace
}  // namespace vellumar::engine
