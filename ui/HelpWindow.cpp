#include "ui/HelpWindow.h"

#include <QFontDatabase>
#include <QPlainTextEdit>
#include <QVBoxLayout>

namespace vellumar::ui {
namespace {

constexpr const char* kReference = R"(Типы аргументов:

G -  карта ( грид ),  D -  данные,  C -  линии,  P -  полигон,  N -  число.
X -  аргумент любого из типов, перечисленных для функции.

Константы:

Pi      -  число пи = 3.14159265358979
e       -  основание натуральных логарифмов = 2.71828182845905
mergeC  -  значение заполнения функции Merge (по умолчанию 0)
outC    -  пропущенное значение данных (по умолчанию -9999)

Формат функций:

min(X1, X2)        -  минимум из двух аргументов;  X: G,D,C,P,N (при C или P второй - N)
max(X1, X2)        -  максимум из двух аргументов;  X: G,D,C,P,N (при C или P второй - N)
Sqrt(X)            -  корень квадратный;  X: G,D,C,P,N
Abs(X)             -  абсолютная величина (модуль);  X: G,D,C,P,N
Ln(X)              -  натуральный логарифм;  X: G,D,C,P,N
Lg(X)              -  десятичный логарифм;  X: G,D,C,P,N
Exp(X)             -  экспонента;  X: G,D,C,P,N
X1 ^ X2            -  степень;  X: G,D,C,P,N
Sin(X)             -  синус;  X: G,D,C,P,N (угол в радианах или градусах)
Cos(X)             -  косинус;  X: G,D,C,P,N
Tg(X)              -  тангенс;  X: G,D,C,P,N
ArcSin(X)          -  арксинус;  X: G,D,C,P,N
ArcCos(X)          -  арккосинус;  X: G,D,C,P,N
ArcTg(X)           -  арктангенс;  X: G,D,C,P,N
And(X1, X2)        -  логическое И (1 или 0);  X: G,D,N
Or(X1, X2)         -  логическое ИЛИ;  X: G,D,N
Not(X)             -  логическое НЕ;  X: G,D,N
Equal(X1, X2)      -  логическое =;  X: G,D,N
Great(X1, X2)      -  логическое >;  X: G,D,N
GreatEqual(X1, X2) -  логическое >=;  X: G,D,N
Less(X1, X2)       -  логическое <;  X: G,D,N
LessEqual(X1, X2)  -  логическое <=;  X: G,D,N
IF(N, X1, X2)      -  X1, если N = 1, иначе X2;  N: N;  X: G,D,C,P,N
MIN(X)             -  минимум одного аргумента (число);  X: G,D,C,P,N
MAX(X)             -  максимум одного аргумента (число);  X: G,D,C,P,N
MIN(X, P)          -  минимум аргумента внутри полигона;  X: G,D,C,P;  P: P
MAX(X, P)          -  максимум аргумента внутри полигона;  X: G,D,C,P;  P: P
Area(X)            -  площадь полигона (или области грида);  X: G,P
Len(X)             -  длина линий;  X: G,D,C,P
In_P(X, P)         -  сохранение аргумента внутри полигона;  X: G,D,C,P;  P: P
Out_P(X, P)        -  сохранение аргумента вне полигона;  X: G,D,C,P;  P: P
IO_P(X, P)         -  попадание точек внутрь полигона: 1 - внутри, 0 - вне;  X: G,D,C,P;  P: P
Sum(D)             -  сумма элементов столбца данных;  D: D
Sum(D, P)          -  сумма элементов столбца данных внутри полигона;  D: D;  P: P
C_D(X)             -  перевод линий в точки (данные);  X: D,C,P
G_P(X)             -  перевод грида в полигон;  X: G,P
G_D(X)             -  перевод грида в данные;  X: G,D
C_G_D(X, G)        -  снятие с грида значений в точках;  X: D,C,P;  G: G
EG(Xmin, Xmax, Ymin, Ymax, Hx, Hy) или EG(G)  -  грид единиц;  N или G
XG(Xmin, Xmax, Ymin, Ymax, Hx, Hy) или XG(G)  -  грид значений координаты X;  N или G
YG(Xmin, Xmax, Ymin, Ymax, Hx, Hy) или YG(G)  -  грид значений координаты Y;  N или G
RG(Xmin, Xmax, Ymin, Ymax, Hx, Hy, N, a, b, c) или RG(G, N, a, b, c)  -  грид случайных
                     величин закона N:
                     1 - равномерный (a, b),  2 - нормальный (a, b),  3 - логнормальный (a, b),
                     4 - экспоненциальный (a),  5 - Вейбулла (a, b),  6 - Рэлея (a),
                     7 - Парето (a),  8 - треугольный (a, b, c)
Integral(G, P)     -  интеграл от грида по полигону;  G: G;  P: P
Mean(G, P)         -  среднее значение грида по части полигона, где у грида есть значения;
                     G: G;  P: P
Dense(G, N)        -  сгущение (разрежение) сетки грида в N раз;  G: G;  N: N
Cut(G, Nmin, Nmax, Mmin, Mmax)  -  вырезание фрагмента грида по номерам узлов;  G: G;  N: N
Cut(G, Xmin, Xmax, Ymin, Ymax, N)  -  вырезание фрагмента грида по координатам;  G: G;  N: N
Merge(G1, G2)      -  слияние двух гридов (вне обоих - mergeC);  G: G
Trace-L: Trace(G, N, N, N, N)  -  трассировка изолиний грида (линии);  G: G;  N: N
Trace-P: Trace(G, N, N, N)     -  трассировка полигона грида;  G: G;  N: N
Dx(G)              -  первая частная производная по X;  G: G
Dy(G)              -  первая частная производная по Y;  G: G
Dxx(G)             -  вторая частная производная по X;  G: G
Dyy(G)             -  вторая частная производная по Y;  G: G
Dxy(G)             -  смешанная частная производная;  G: G
Spec(G, N)         -  специальные дифференциальные функции;  G: G;  N: 1 ... 17
                     1 - уклон (норма градиента)
                     2 - плотность энергии деформации
                     3 - крутизна склонов (в градусах)
                     4 - фактор крутизны (безразмерный)
                     5 - ориентация склонов (в градусах)
                     6 - средняя кривизна (1/м)
                     7 - несферичность (1/м)
                     8 - разностная кривизна (1/м)
                     9 - горизонтальная кривизна (1/м)
                     10 - плановая кривизна (1/м)
                     11 - вертикальная (профильная) кривизна (1/м)
                     12 - ротор (1/м)
                     13 - горизонтальная избыточная кривизна (1/м)
                     14 - вертикальная избыточная кривизна (1/м)
                     15 - минимальная кривизна (1/м)
                     16 - максимальная кривизна (1/м)
                     17 - полная гауссова кривизна (1/м^2)
)";

}  // namespace

QString HelpWindow::referenceText() {
  return QString::fromUtf8(kReference);
}

HelpWindow::HelpWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setWindowTitle(QStringLiteral("Типы аргументов и формат функций"));
  auto* text = new QPlainTextEdit(referenceText(), this);
  text->setReadOnly(true);
  text->setLineWrapMode(QPlainTextEdit::NoWrap);
  text->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text);
  resize(760, 560);
}

}  // namespace vellumar::ui
