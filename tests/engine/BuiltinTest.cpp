#include <gtest/gtest.h>

#include <cmath>
#include <set>
#include <string_view>

#include "EvaluationHelpers.h"
#include "engine/Builtins.h"

namespace vellumar::engine {
namespace {

using testing::evaluate;
using testing::expectFailure;
using testing::numberOf;

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

TEST(Builtins, ArgumentListMessages) {
  expectFailure("Sqrt 4)", "неизвестное имя \" Sqrt4 \" ");
  expectFailure("max(1 2)", "max: пропущена ','!");
  expectFailure("max(1, 2", "max: пропущена ')'!");
  expectFailure("Sqrt(1, 2)", "Sqrt: пропущена ')'!");
  expectFailure("MIN(3 4", "MIN: пропущена ',' или ')'!");
  expectFailure("EG(1, 2)", "EG: пропущена ','!");
  expectFailure("Cut(1, 2, 3, 4, 5, 6, 7)", "Cut: пропущена ')'!");
  // Trace-L is the function Trace followed by '-'.
  expectFailure("Trace-L", "Trace: пропущена '('!");
}

TEST(Builtins, KindChecksNameTheArgument) {
  expectFailure("Dx(5)", "Dx: недопустимый тип аргумента 1");
  expectFailure("Sum(3)", "Sum: недопустимый тип аргумента 1");
  expectFailure("Spec(1, 3)", "Spec: недопустимый тип аргумента 1");
  expectFailure("Merge(1, 2)", "Merge: неверное сочетание аргументов!");
  EXPECT_TRUE(evaluate("EG(1, 2, 3, 4, 5, 6)").ok);
}

TEST(Builtins, ChecksMadeWhileReadingArguments) {
  expectFailure("Spec(x, 18)", "неизвестное имя \" x \" ");
  expectFailure("Spec(1, 18)", "Spec: недопустимое значение аргумента 2");
  expectFailure("Spec(1, 0)", "Spec: недопустимое значение аргумента 2");
  expectFailure("Spec(1, 17.9)", "Spec: недопустимый тип аргумента 1");  // 17 is in range
  // IF checks its condition before reading the branches.
  expectFailure("IF(Spec(1, 0), 1+, 2)", "Spec: недопустимое значение аргумента 2");
}

TEST(Builtins, RandomGridArgumentCountsFollowTheDistribution) {
  // Complete after one parameter for distributions 4, 6, 7; three for 8; two otherwise.
  EXPECT_TRUE(evaluate("RG(0, 10, 0, 10, 1, 1, 4, 3)").ok);
  expectFailure("RG(0, 10, 0, 10, 1, 1, 4, 3, 5)", "RG: пропущена ')'!");
  expectFailure("RG(0, 10, 0, 10, 1, 1, 2, 0)", "RG: пропущена ','!");
  EXPECT_TRUE(evaluate("RG(0, 10, 0, 10, 1, 1, 2, 0, 1)").ok);
  expectFailure("RG(0, 10, 0, 10, 1, 1, 8, 0, 1)", "RG: пропущена ','!");
  // Three parameters read: the mode 2 lies outside (0, 1).
  expectFailure("RG(0, 10, 0, 10, 1, 1, 8, 0, 1, 2)", "RG: недопустимое значение аргумента 10");
  expectFailure("RG(1, Pi, 0, 10)", "RG: пропущена ','!");
}

TEST(Builtins, ChoiceWithIf) {
  EXPECT_EQ(numberOf("IF(2, 5, 7)"), 7);
  EXPECT_EQ(numberOf("IF(1, 5, 7)"), 5);
  EXPECT_EQ(numberOf("IF(0.999, 5, 7)"), 7);
  // Both branches are evaluated before the choice: an error in the other branch still counts.
  expectFailure("IF(1, 5, 1/0)", ": деление на 0!");
}

TEST(Builtins, FunctionsOfNumbersWithAngleUnits) {
  EXPECT_EQ(numberOf("Sqrt(16)"), 4);
  EXPECT_EQ(numberOf("Abs(-2.5)"), 2.5);
  EXPECT_DOUBLE_EQ(numberOf("Exp(1)"), std::exp(1.0));
  EXPECT_DOUBLE_EQ(numberOf("Ln(e)"), 1.0);
  EXPECT_EQ(numberOf("Lg(1000)"), 3);
  EXPECT_DOUBLE_EQ(numberOf("Sin(Pi/2)"), 1.0);
  EXPECT_DOUBLE_EQ(numberOf("ArcTg(1)"), std::atan(1.0));
  S_Calculator degrees;
  degrees.setAnglesInRadians(false);
  EXPECT_DOUBLE_EQ(numberOf(degrees, "Sin(30)"), 0.49999999999999994);
  EXPECT_DOUBLE_EQ(numberOf(degrees, "ArcCos(0)"), 90.0);
  // cos(90 degrees) is not exactly 0 in doubles: a very large number, not a failure.
  EXPECT_GT(numberOf(degrees, "Tg(90)"), 1e15);
}

TEST(Builtins, DomainErrorsOfNumbers) {
  expectFailure("Sqrt(-1)", "Sqrt: недопустимое значение аргумента 1");
  expectFailure("Ln(0)", "Ln: недопустимое значение аргумента 1");
  expectFailure("Lg(-5)", "Lg: недопустимое значение аргумента 1");
  expectFailure("ArcSin(1.5)", "ArcSin: недопустимое значение аргумента 1");
  expectFailure("ArcCos(-1.01)", "ArcCos: недопустимое значение аргумента 1");
  expectFailure("1 + Sqrt(-4)", "Sqrt: недопустимое значение аргумента 1");
  EXPECT_EQ(numberOf("Sqrt(0)"), 0);
}

TEST(Builtins, LogicComparisonsAndExtremaOfNumbers) {
  EXPECT_EQ(numberOf("And(2, 3)"), 1);
  EXPECT_EQ(numberOf("And(2, 0)"), 0);
  EXPECT_EQ(numberOf("Or(0, 0)"), 0);
  EXPECT_EQ(numberOf("Or(0, -1)"), 1);
  EXPECT_EQ(numberOf("Not(0)"), 1);
  EXPECT_EQ(numberOf("Not(0.1)"), 0);
  EXPECT_EQ(numberOf("Equal(0.1 + 0.2, 0.3)"), 0);
  EXPECT_EQ(numberOf("Great(2, 1) + Less(2, 1) + GreatEqual(2, 2) + LessEqual(3, 2)"), 2);
  EXPECT_EQ(numberOf("min(2, -3) + max(2, -3)"), -1);
  EXPECT_EQ(numberOf("MIN(4) + MAX(5)"), 9);
  EXPECT_EQ(numberOf("Mul_SP(-2, -3)"), -6);
  EXPECT_EQ(numberOf("Mul_SP(-2, 3)"), -6);
  EXPECT_EQ(numberOf("Mul_SP(2, 3)"), 6);
}

TEST(Builtins, FunctionsOfLaterKindsNeverInventAValue) {
  // Functions of polygons and grids check their arguments, then report that they cannot run.
  expectFailure("MIN(3, 4)", "MIN: недопустимый тип аргумента 1");
  expectFailure("Area(1)", "Area: недопустимый тип аргумента 1");
  expectFailure("Trace(1, 2, 3, 4)", "Trace: недопустимый тип аргумента 1");
}

}  // namespace
}  // namespace vellumar::engine
