#include "ui/FunctionButtons.h"

#include <array>

#include "common/CFormat.h"

namespace vellumar::ui {
namespace {

constexpr std::string_view kAny = "G,D,C,P,N";
constexpr std::string_view kLogic = "G,D,N";
constexpr std::string_view kPointwise = "G,D,C,P";
constexpr std::string_view kOne = "( X )";
constexpr std::string_view kTwo = "( X, X )";
constexpr std::string_view kWithPolygon = "( X, P )";
constexpr std::string_view kLattice = "( Xmin, Xmax, Ymin, Ymax, Hx, Hy )";

constexpr std::array<FunctionButton, 51> kButtons{{
    {"Dense", "Dense", "( G, N )", "", "Dense(G,N) - сгущение (разрежение) сетки грида"},
    {"min", "min", kTwo, kAny, "min(X,X) - минимум из двух аргументов"},
    {"max", "max", kTwo, kAny, "max(X,X) - максимум из двух аргументов"},
    {"Sqrt", "Sqrt", kOne, kAny, "Sqrt(X) - корень квадратный"},
    {"Abs", "Abs", kOne, kAny, "Abs(X) - абсолютная величина (модуль)"},
    {"Exp", "Exp", kOne, kAny, "Exp(X) - экспонента"},
    {"Ln", "Ln", kOne, kAny, "Ln(X) - натуральный логарифм"},
    {"Sin", "Sin", kOne, kAny, "Sin(X) - синус"},
    {"Cos", "Cos", kOne, kAny, "Cos(X) - косинус"},
    {"Tg", "Tg", kOne, kAny, "Tg(X) - тангенс"},
    {"And", "And", kTwo, kLogic, "And(X,X) - логическое И"},
    {"Or", "Or", kTwo, kLogic, "Or(X,X) - логическое ИЛИ"},
    {"Not", "Not", kOne, kLogic, "Not(X) - логическое НЕ"},
    {"Equal", "Equal", kTwo, kLogic, "Equal(X,X) - логическое ="},
    {"Great", "Great", kTwo, kLogic, "Great(X,X) - логическое >"},
    {"Less", "Less", kTwo, kLogic, "Less(X,X) - логическое <"},
    {"Integral", "Integral", "( G, P )", "", "Integral(G,P) - интеграл от грида по полигону"},
    {"Mean", "Mean", "( G, P )", "", "Mean(G,P) - среднее значение грида по полигону"},
    {"Cut", "Cut", "( G, N, N, N, N [,N])", "",
     "Cut(G, N, N, N, N [,N]) - вырезание фрагмента из грида"},
    {"Merge", "Merge", "( G, G )", "", "Merge(G,G) - слияние двух гридов"},
    {"Dx", "Dx", "( G )", "", "Dx(G) - первая частная производная по X"},
    {"Dy", "Dy", "( G )", "", "Dy(G) - первая частная производная по Y"},
    {"Dxx", "Dxx", "( G )", "", "Dxx(G) - вторая частная производная по X"},
    {"Dyy", "Dyy", "( G )", "", "Dyy(G) - вторая частная производная по Y"},
    {"Dxy", "Dxy", "( G )", "", "Dxy(G) - смешанная частная производная"},
    {"Area", "Area", kOne, "G,P", "Area(X) - площадь полигона"},
    {"Len", "Len", kOne, kPointwise, "Len(X) - длина линии"},
    {"C_D", "C_D", kOne, "D,C,P", "C_D(X) - перевод линий в точки"},
    {"G_P", "G_P", kOne, "G,P", "G_P(X) - перевод грида в полигон"},
    {"G_D", "G_D", kOne, "G,D", "G_D(X) - перевод грида в данные"},
    {"C_G_D", "C_G_D", "( X ,G )", "D,C,P", "C_G_D(X,G) - снятие с грида значений в точках"},
    {"In_P", "In_P", kWithPolygon, kPointwise, "In_P(X,P) - сохранение аргумента внутри полигона"},
    {"Out_P", "Out_P", kWithPolygon, kPointwise, "Out_P(X,P) - сохранение аргумента вне полигона"},
    {"IO_P", "IO_P", kWithPolygon, kPointwise,
     "IO_P(X,P) - попадание точек внутрь полигона: 1 - внутри, 0 - вне"},
    {"Trace-L", "Trace", "( G, N, N, N, N )", "",
     "Trace-L(G,N,N,N,N) - трассировка изолиний грида"},
    {"Arc...", "Arc", "", "", "Arc[Sin,Cos,Tg](X)"},
    {"^", "^", "", "", "X^X - степень"},
    {"Trace-P", "Trace", "( G, N, N, N )", "", "Trace-P(G,N,N,N) - трассировка полигона грида"},
    {"MIN(x)", "MIN", kOne, kAny, "MIN(X) - минимум одного аргумента"},
    {"MAX(x)", "MAX", kOne, kAny, "MAX(X) - максимум одного аргумента"},
    {"MIN(x,p)", "MIN", kWithPolygon, "G,D,C P",
     "MIN(X,P) - минимум одного аргумента внутри полигона"},
    {"MAX(x,p)", "MAX", kWithPolygon, kPointwise,
     "MAX(X,P) - максимум одного аргумента внутри полигона"},
    {"Lg", "Lg", kOne, kAny, "Lg(X) - десятичный логарифм"},
    {"IF", "IF", "( N, X, X )", kAny, "IF(N,X,X) - логическое 'Если'"},
    {"Sum(d)", "Sum", "( D )", "", "Sum(D) - сумма элементов столбца данных"},
    {"Sum(d,p)", "Sum", "( D, P )", "",
     "Sum(D,P) - сумма элементов столбца данных внутри полигона"},
    {"Spec", "Spec", "( G, N )", "", "Spec(G,N) - специальные дифференциальные функции"},
    {"EG", "EG", kLattice, "", "EG(G) - создание единичного грида"},
    {"XG", "XG", kLattice, "", "XG(G) - создание грида значений, равных координате X"},
    {"YG", "YG", kLattice, "", "YG(G) - создание грида значений, равных координате Y"},
    {"RG", "RG", "( Xmin, Xmax, Ymin, Ymax, Hx, Hy, N, a, b, c )", "",
     "RG(G, N, a, b, c) - создание грида случайных величин"},
}};

constexpr std::string_view kHintFormat = "В функции %s тип аргумента X:  ";

}  // namespace

std::span<const FunctionButton> functionButtons() {
  return kButtons;
}

Insertion insertionFor(std::string_view caption) {
  if (caption == "(") return {"(  )", {}};
  for (const FunctionButton& button : kButtons) {
    if (button.caption != caption) continue;
    Insertion insertion{std::string(button.name) + std::string(button.argumentTemplate), {}};
    if (!button.kinds.empty()) {
      insertion.hint = cformat(kHintFormat.data(), insertion.text.c_str());
      insertion.hint += button.kinds;
    }
    return insertion;
  }
  return {std::string(caption), {}};
}

}  // namespace vellumar::ui
