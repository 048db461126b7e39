#include "engine/Builtins.h"

#include <algorithm>
#include <unordered_map>

#include "engine/functions/Functions.h"

namespace vellumar::engine {
namespace {

using namespace functions;

constexpr KindSet kGDN = kG | kD | kN;
constexpr KindSet kGDCP = kG | kD | kC | kP;

Builtin unaryFunction(std::string_view name, Handler handler, KindSet kinds = kAny,
                      FormCheck check = nullptr) {
  return {name, {{1, {kinds}, handler, check}}};
}

Builtin binaryFunction(std::string_view name, Handler handler, KindSet kinds) {
  return {name, {{2, {kinds, kinds}, handler}}};
}

// An argument that must be a polygon after a first argument of the given kinds; the functions
// over polygons compute with the coordinates of both.
Builtin withPolygon(std::string_view name, KindSet first, Handler handler) {
  return {name, {{2, {first, kP}, handler, checkArgumentCoordinates}}};
}

std::vector<Builtin> makeTable() {
  std::vector<Builtin> table = {
      {"min", {{2, {kAny, kAny}, binary<BinaryOp::Min>, lineWithNumberOnly}}},
      {"max", {{2, {kAny, kAny}, binary<BinaryOp::Max>, lineWithNumberOnly}}},
      unaryFunction("Sqrt", unary<UnaryFn::Sqrt>),
      unaryFunction("Abs", unary<UnaryFn::Abs>),
      unaryFunction("Exp", unary<UnaryFn::Exp>),
      unaryFunction("Ln", unary<UnaryFn::Ln>),
      unaryFunction("Lg", unary<UnaryFn::Lg>),
      unaryFunction("Sin", unary<UnaryFn::Sin>),
      unaryFunction("Cos", unary<UnaryFn::Cos>),
      unaryFunction("Tg", unary<UnaryFn::Tg>),
      unaryFunction("ArcSin", unary<UnaryFn::ArcSin>),
      unaryFunction("ArcCos", unary<UnaryFn::ArcCos>),
      unaryFunction("ArcTg", unary<UnaryFn::ArcTg>),
      binaryFunction("And", binary<BinaryOp::And>, kGDN),
      binaryFunction("Or", binary<BinaryOp::Or>, kGDN),
      binaryFunction("Equal", binary<BinaryOp::Equal>, kGDN),
      binaryFunction("Great", binary<BinaryOp::Great>, kGDN),
      binaryFunction("GreatEqual", binary<BinaryOp::GreatEqual>, kGDN),
      binaryFunction("Less", binary<BinaryOp::Less>, kGDN),
      binaryFunction("LessEqual", binary<BinaryOp::LessEqual>, kGDN),
      unaryFunction("Not", unary<UnaryFn::Not>, kGDN),
      {"Mul_SP", {{2, {kAny, kAny}, multiplyKeepingSign, multiplicationPair}}},
      {"IF", {{3, {kN, kAny, kAny}, choose}}, nullptr, checkChoiceCondition},
      {"MIN", {{1, {kAny}, minimum}, {2, {kGDCP, kP}, minimum, checkArgumentCoordinates}}},
      {"MAX", {{1, {kAny}, maximum}, {2, {kGDCP, kP}, maximum, checkArgumentCoordinates}}},
      {"Sum", {{1, {kD}, sum}, {2, {kD, kP}, sum, checkArgumentCoordinates}}},
      unaryFunction("Area", area, kG | kP, checkArgumentCoordinates),
      {"Len",
       {{1, {kGDCP}, length, checkArgumentCoordinates},
        {2, {kGDCP, kP}, length, checkArgumentCoordinates}}},
      withPolygon("In_P", kGDCP, keepPart<true>),
      withPolygon("Out_P", kGDCP, keepPart<false>),
      withPolygon("IO_P", kGDCP, insideFlags<true>),
      withPolygon("In", kGDCP, insideFlags<true>),
      withPolygon("Out", kGDCP, insideFlags<false>),
      withPolygon("Integral", kG, integral),
      withPolygon("Mean", kG, mean),
      // Numbers and grids are refused with the message on missing coordinates, not on the type.
      unaryFunction("C_D", pointsToData),
      unaryFunction("G_D", gridToData, kG | kD),
      unaryFunction("G_P", gridOutline, kG | kP),
  };
  const std::pair<std::string_view, Handler> samplers[] = {
      {"C_G_D", sampleGrid<0>},   {"C_Gx_D", sampleGrid<1>},  {"C_Gy_D", sampleGrid<2>},
      {"C_Gxx_D", sampleGrid<3>}, {"C_Gxy_D", sampleGrid<4>}, {"C_Gyy_D", sampleGrid<5>}};
  for (const auto& [name, handler] : samplers) {
    // The derivatives divide by products of the grid's steps; the surface value does not.
    const FormCheck check = name == "C_G_D" ? nullptr : checkArgumentCoordinates;
    table.push_back({name, {{2, {kD | kC | kP, kG}, handler, check}}});
  }
  const std::pair<std::string_view, Handler> derivatives[] = {{"Dx", derivative<1>},
                                                              {"Dy", derivative<2>},
                                                              {"Dxx", derivative<3>},
                                                              {"Dxy", derivative<4>},
                                                              {"Dyy", derivative<5>}};
  for (const auto& [name, handler] : derivatives) {
    table.push_back(unaryFunction(name, handler, kG, checkArgumentCoordinates));
  }
  table.push_back(
      {"Spec", {{2, {kG, kN}, specialGrid, checkArgumentCoordinates}}, nullptr, checkSpecNumber});
  // The rectangle forms check their arguments in the documented order themselves.
  const std::pair<std::string_view, Handler> constructors[] = {
      {"EG", onesGrid}, {"XG", xCoordinateGrid}, {"YG", yCoordinateGrid}};
  for (const auto& [name, handler] : constructors) {
    table.push_back({name, {{1, {kG}, handler}, {6, {kAny}, handler}}});
  }
  table.push_back({"RG",
                   {{3, {kG, kAny}, randomGrid},
                    {4, {kG, kAny}, randomGrid},
                    {5, {kG, kAny}, randomGrid},
                    {8, {kAny}, randomGrid},
                    {9, {kAny}, randomGrid},
                    {10, {kAny}, randomGrid}},
                   randomGridListStep,
                   checkRandomGridArguments});
  table.push_back({"Dense", {{2, {kG, kN}, denseGrid}}});
  table.push_back({"Cut", {{5, {kG, kN}, cutGrid}, {6, {kG, kN}, cutGrid}}});
  table.push_back({"Merge", {{2, {kAny, kAny}, mergeGrids, twoGrids}}});
  // The level regions pass the polygon check and the overlay; isolines only interpolate.
  table.push_back(
      {"Trace",
       {{4, {kG, kN}, traceRegion, checkArgumentCoordinates}, {5, {kG, kN}, traceIsolines}}});
  return table;
}

}  // namespace

const Form* Builtin::formFor(int count) const {
  const auto found = std::find_if(forms.begin(), forms.end(),
                                  [count](const Form& form) { return form.count == count; });
  return found == forms.end() ? nullptr : &*found;
}

ListStep Builtin::stepAfter(const Arguments& arguments) const {
  if (listStep != nullptr) return listStep(arguments);
  const int count = static_cast<int>(arguments.size());
  int most = 0;
  for (const Form& form : forms) most = std::max(most, form.count);
  if (count >= most) return ListStep::End;
  return formFor(count) != nullptr ? ListStep::MayEnd : ListStep::Continue;
}

const std::vector<Builtin>& builtins() {
  static const std::vector<Builtin> table = makeTable();
  return table;
}

bool measuresLengthOrArea(const Builtin& builtin) {
  return builtin.name == "Len" || builtin.name == "Area" || builtin.name == "Integral";
}

const Builtin* findBuiltin(std::string_view name) {
  static const std::unordered_map<std::string_view, const Builtin*> index = [] {
    std::unordered_map<std::string_view, const Builtin*> map;
    for (const Builtin& builtin : builtins()) map.emplace(builtin.name, &builtin);
    return map;
  }();
  const auto found = index.find(name);
  return found == index.end() ? nullptr : found->second;
}

}  // namespace vellumar::engine
