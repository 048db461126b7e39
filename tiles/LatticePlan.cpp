#include "tiles/LatticePlan.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <map>
#include <string_view>

#include "common/CFormat.h"
#include "common/ErrorSink.h"
#include "engine/Builtins.h"
#include "engine/EngineMessages.h"
#include "engine/Lexer.h"
#include "grid/GridArithmetic.h"
#include "tiles/DerivedInputs.h"
#include "tiles/TileMessages.h"

namespace vellumar::tiles {

namespace {

// Built-ins whose grid result lies on the lattice of their first argument.
constexpr std::array<std::string_view, 18> kOnFirstLattice = {
    "Sqrt",   "Abs",   "Exp", "Ln", "Lg", "Sin", "Cos", "Tg",  "ArcSin",
    "ArcCos", "ArcTg", "Not", "Dx", "Dy", "Dxx", "Dxy", "Dyy", "Spec"};
// Built-ins that combine two grids as the arithmetic operators do.
constexpr std::array<std::string_view, 3> kArithmetic = {"min", "max", "Mul_SP"};
// Built-ins that need two grids on one lattice.
constexpr std::array<std::string_view, 7> kComparisons = {"And",        "Or",   "Equal",    "Great",
                                                          "GreatEqual", "Less", "LessEqual"};

template <std::size_t N>
bool among(const std::array<std::string_view, N>& names, std::string_view name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

bool equalLattices(const grid::Lattice& a, const grid::Lattice& b) {
  return a.nx == b.nx && a.ny == b.ny && a.sameRectangle(b);
}

// What the plan knows of a sub-expression's value.
struct Value {
  enum class Kind { Number, Grid, Other };  // Other: a value the plan does not follow
  Kind kind = Kind::Other;
  grid::Lattice lattice;  // of a grid
  int input = -1;         // the input the value is as read (a name, in parentheses or not)
  std::string text;       // rebuilt from the tokens
  std::string label;      // the text with the calls made inputs spelled out, for messages
  bool assigns = false;   // the text assigns a name, or uses one the text assigned

  bool isGrid() const { return kind == Kind::Grid; }
  static Value number() { return {Kind::Number, {}, -1, {}, {}, false}; }
  static Value on(const grid::Lattice& lattice) { return {Kind::Grid, lattice, -1, {}, {}, false}; }
};

std::string numberText(double value) {
  char buffer[32];
  const std::to_chars_result written = std::to_chars(buffer, buffer + sizeof buffer, value);
  return std::string(buffer, written.ptr);
}

// Reads the text as S_Calculator parses it, statement by statement, with the same lexer, the same
// precedence and the same nesting limit; it stops at the first token the calculator would fail
// on or pass over, and at the first refusal.
class Reader {
 public:
  Reader(const engine::S_Calculator& calc, std::vector<NamedInput> inputs)
      : calc_(calc), language_(calc.language()), inputs_(std::move(inputs)) {}

  LatticePlan read(const std::string& text) {
    LatticePlan plan;
    lexer_.reset(text);
    Value result;
    for (;;) {
      next();
      if (token_ != ';' && !stopped()) {
        result = expression();
        plan.text += result.text;
      }
      if (!refusal_.empty()) break;
      if (failed()) return plan;
      // The calculator passes over any token that ends a statement; only ';' and the end are
      // followed here.
      if (token_ != ';' && token_ != engine::token::kEnd) return plan;
      if (lexer_.atEnd()) break;
      plan.text += " ; ";
    }
    plan.understood = true;
    plan.refusal = refusal_;
    plan.inputs = std::move(inputs_);
    if (result.isGrid()) plan.lattice = result.lattice;
    return plan;
  }

 private:
  bool failed() const { return failed_ || sink_.failed(); }
  bool stopped() const { return failed() || !refusal_.empty(); }

  void next() {
    token_ = lexer_.next(sink_, language_);
    if (token_ == engine::token::kName && engine::findBuiltin(lexer_.identifier()) != nullptr) {
      token_ = engine::token::kFunction;
    }
  }

  Value expression() {
    struct Nesting {
      int& depth;
      explicit Nesting(int& d) : depth(++d) {}
      ~Nesting() { --depth; }
    } nesting(nesting_);
    if (nesting_ > engine::S_Calculator::kMostNesting) {
      failed_ = true;
      return {};
    }
    return leftToRight(&Reader::term, "+-");
  }
  Value term() { return leftToRight(&Reader::power, "*/"); }
  Value power() { return leftToRight(&Reader::primary, "^"); }

  Value leftToRight(Value (Reader::*operand)(), std::string_view operators) {
    Value left = (this->*operand)();
    while (!stopped() && token_ > 0 &&
           operators.find(static_cast<char>(token_)) != std::string_view::npos) {
      const char op = static_cast<char>(token_);
      next();
      Value right = (this->*operand)();
      if (stopped()) return left;
      Value result = op == '^' ? raised(left, right) : arithmetic(left, right);
      if (result.text.empty()) {
        result.text = left.text + ' ' + op + ' ' + right.text;
        result.label = left.label + ' ' + op + ' ' + right.label;
      }
      result.assigns = left.assigns || right.assigns;
      left = std::move(result);
    }
    return left;
  }

  Value primary() {
    switch (token_) {
      case engine::token::kName:
        return named();
      case engine::token::kNumber: {
        Value value = Value::number();
        value.text = value.label = numberText(lexer_.number());
        next();
        return value;
      }
      case '(': {
        next();
        Value inner = expression();
        if (stopped()) return inner;
        if (token_ != ')') {
          failed_ = true;
          return inner;
        }
        next();
        inner.text = "( " + inner.text + " )";
        inner.label = "(" + inner.label + ")";
        return inner;
      }
      case '-': {
        next();
        Value inner = expression();
        inner.input = -1;
        inner.text = "- " + inner.text;
        inner.label = "-" + inner.label;
        return inner;
      }
      case engine::token::kFunction:
        return call();
      default:
        failed_ = true;
        return {};
    }
  }

  // A name's value, or an assignment's.
  Value named() {
    const std::string name = lexer_.identifier();
    next();
    if (token_ != '=') return valueOf(name);
    next();
    const Value assigned = expression();
    // A number stored over a grid fills the grid, which keeps its lattice.
    const Value old = valueOf(name);
    Value stored = assigned.kind == Value::Kind::Number && old.isGrid() ? old : assigned;
    stored.input = -1;
    stored.text = stored.label = name;
    stored.assigns = true;
    assigned_[name] = stored;
    stored.text = name + " = " + assigned.text;
    stored.label = name + " = " + assigned.label;
    return stored;
  }

  Value valueOf(const std::string& name) const {
    Value value;
    if (const auto found = assigned_.find(name); found != assigned_.end()) {
      value = found->second;
    } else if (const auto input =
                   std::find_if(inputs_.begin(), inputs_.end(),
                                [&](const NamedInput& known) { return known.name == name; });
               input != inputs_.end()) {
      value = Value::on(input->source.lattice());
      value.input = static_cast<int>(input - inputs_.begin());
      value.label = input->label();
    } else if (const engine::Calc_ID* entry = calc_.registry().find(name);
               entry != nullptr && entry->value.isNumber()) {
      value = Value::number();
    }
    value.text = name;
    if (value.label.empty()) value.label = name;
    return value;
  }

  Value call() {
    const std::string function = lexer_.identifier();
    next();
    if (token_ != '(') {
      failed_ = true;
      return {};
    }
    next();
    std::vector<Value> arguments;
    for (;;) {
      arguments.push_back(expression());
      if (stopped()) return {};
      if (token_ == ',') {
        next();
        continue;
      }
      if (token_ != ')') {
        failed_ = true;
        return {};
      }
      break;
    }
    next();
    Value result = valueOfCall(function, arguments);
    result.input = -1;
    result.text = function + " (";
    result.label = function + "(";
    for (std::size_t k = 0; k < arguments.size(); ++k) {
      result.text += (k == 0 ? " " : " , ") + arguments[k].text;
      result.label += (k == 0 ? "" : ", ") + arguments[k].label;
    }
    result.text += " )";
    result.label += ")";
    result.assigns = std::any_of(arguments.begin(), arguments.end(),
                                 [](const Value& argument) { return argument.assigns; });
    return result;
  }

  Value valueOfCall(const std::string& function, std::vector<Value>& arguments) {
    if (among(kOnFirstLattice, function)) {
      const Value& first = arguments.front();
      return first.isGrid() ? Value::on(first.lattice) : first;
    }
    if (among(kArithmetic, function) && arguments.size() == 2) {
      return arithmetic(arguments[0], arguments[1]);
    }
    if (among(kComparisons, function) && arguments.size() == 2) {
      return compared(arguments[0], arguments[1]);
    }
    if (function == "IF" && arguments.size() == 3) return chosen(arguments);
    return {};
  }

  // A kernel's code, worded after the outermost context, which is empty, as the whole evaluation
  // words it once the failed statement has returned.
  std::string kernelMessage(int code) const { return engine::kernelMessageOf("", code, language_); }

  // The result of + - * /, min, max and Mul_SP: on the common lattice of two grids, where the
  // inputs read through their surfaces become inputs on that lattice.
  Value arithmetic(Value& a, Value& b) {
    if (a.kind == Value::Kind::Other || b.kind == Value::Kind::Other) return {};
    if (!a.isGrid() || !b.isGrid()) {
      if (a.isGrid() || b.isGrid()) return Value::on(a.isGrid() ? a.lattice : b.lattice);
      return Value::number();
    }
    ErrorSink sink;
    const std::optional<grid::CommonLattice> common =
        grid::commonLattice(a.lattice, b.lattice, sink);
    if (!common) {
      refusal_ = sink.failed() ? kernelMessage(sink.code()) : text::kResultNotGrid.in(language_);
      return {};
    }
    if (common->firstResampled) readOnto(a, common->lattice);
    if (common->secondResampled && refusal_.empty()) readOnto(b, common->lattice);
    return Value::on(common->lattice);
  }

  // a ^ b: repeated products or Exp(b * Ln(a)), which keep a's lattice when b is a number. A
  // grid exponent is multiplied by Ln(a), a new grid; when that one is read onto b's lattice,
  // the text is written as the calculator computes the power, Exp(b * Ln(a)), to name it.
  Value raised(const Value& a, Value& b) {
    if (a.kind == Value::Kind::Other || b.kind == Value::Kind::Other) return {};
    if (!b.isGrid()) return a.isGrid() ? Value::on(a.lattice) : Value::number();
    Value logarithm = a;
    logarithm.input = -1;
    logarithm.text = "Ln ( " + a.text + " )";
    logarithm.label = "Ln(" + a.label + ")";
    Value power = arithmetic(b, logarithm);
    if (logarithm.input >= 0) {
      power.text = "Exp ( " + b.text + " * " + logarithm.text + " )";
      power.label = "Exp(" + b.label + " * " + logarithm.label + ")";
    }
    return power;
  }

  // The comparisons, And and Or: two grids must share one lattice, the first one's.
  Value compared(const Value& a, const Value& b) {
    if (a.kind == Value::Kind::Other || b.kind == Value::Kind::Other) return {};
    if (!a.isGrid() || !b.isGrid()) {
      if (a.isGrid() || b.isGrid()) return Value::on(a.isGrid() ? a.lattice : b.lattice);
      return Value::number();
    }
    if (!a.lattice.sameNodes(b.lattice)) {
      refusal_ = kernelMessage(sink_code::kGridMismatch);
      return {};
    }
    return Value::on(a.lattice);
  }

  // IF(N, A, B) gives A when N is 1 and B otherwise; N is evaluated now when the two lie apart.
  Value chosen(const std::vector<Value>& arguments) const {
    const Value& yes = arguments[1];
    const Value& no = arguments[2];
    const bool alike =
        yes.kind == no.kind && (!yes.isGrid() || equalLattices(yes.lattice, no.lattice));
    if (alike) return yes;
    if (arguments[0].kind != Value::Kind::Number) return {};
    engine::S_Calculator scratch(calc_);
    const engine::TextEvaluation condition = engine::evaluateText(scratch, arguments[0].text);
    if (!condition.ok || !scratch.result().isNumber()) return {};
    return scratch.result().numberValue() == 1.0 ? yes : no;
  }

  // Makes the value, which the arithmetic reads through its surface at the nodes of the lattice,
  // an input on that lattice. An intermediate result becomes an input first, whose windows are
  // its expression evaluated over its inputs' windows; not one that depends on names the text
  // assigns, whose values only the whole text's evaluation has.
  void readOnto(Value& value, const grid::Lattice& lattice) {
    if (value.input < 0 && value.assigns) {
      refusal_ = cformat(text::kIntermediateOnOtherLattice.in(language_), value.label.c_str());
      return;
    }
    if (value.input < 0) {
      TileInput evaluated = TileInput::evaluated(calc_, value.text,
                                                 inputsNamedIn(value.text, inputs_), value.lattice);
      inputs_.push_back({freeName("Value_"), std::move(evaluated), value.label});
      value.input = static_cast<int>(inputs_.size()) - 1;
    }
    const std::string source = inputs_[value.input].name;
    const auto same = std::find_if(created_.begin(), created_.end(), [&](const Created& made) {
      return made.source == source && equalLattices(made.lattice, lattice);
    });
    if (same != created_.end()) {
      value.text = same->name;
      return;
    }
    const std::string name = freeName("Surface_");
    const NamedInput& from = inputs_[value.input];
    NamedInput made{name, TileInput::surfaceOn(from.source, lattice), from.label()};
    inputs_.push_back(std::move(made));
    created_.push_back({source, lattice, name});
    value.text = name;
  }

  // A name neither the calculator nor the inputs know.
  std::string freeName(const std::string& prefix) const {
    for (int n = 1;; ++n) {
      const std::string name = prefix + std::to_string(n);
      const bool taken = std::any_of(inputs_.begin(), inputs_.end(),
                                     [&](const NamedInput& input) { return input.name == name; });
      if (!taken && calc_.registry().find(name) == nullptr) return name;
    }
  }

  struct Created {
    std::string source;
    grid::Lattice lattice;
    std::string name;
  };

  const engine::S_Calculator& calc_;
  const Language language_;
  std::vector<NamedInput> inputs_;
  std::vector<Created> created_;
  std::map<std::string, Value> assigned_;
  engine::Lexer lexer_;
  ErrorSink sink_;
  int token_ = engine::token::kEnd;
  int nesting_ = 0;
  bool failed_ = false;
  std::string refusal_;
};

}  // namespace

LatticePlan planLattices(const engine::S_Calculator& calc, const std::string& text,
                         std::vector<NamedInput> inputs) {
  return Reader(calc, std::move(inputs)).read(text);
}

}  // namespace vellumar::tiles
