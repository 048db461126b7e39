#include "engine/Calculator.h"

#include <cmath>
#include <new>
#include <stdexcept>
#include <system_error>

#include "common/CFormat.h"
#include "common/MemoryGuard.h"
#include "common/Parallel.h"
#include "common/Pointwise.h"
#include "engine/Builtins.h"
#include "engine/CoordinateSystems.h"
#include "engine/OperandKernels.h"
#include "engine/Operators.h"
#include "engine/StatementPlan.h"
#include "grid/Grid.h"

namespace vellumar::engine {
namespace {

std::string trimmed(const std::string& text) {
  const char* blanks = " \t\n\r\v\f";
  const auto first = text.find_first_not_of(blanks);
  if (first == std::string::npos) return {};
  const auto last = text.find_last_not_of(blanks);
  return text.substr(first, last - first + 1);
}

bool isKernelCode(int code) {
  return *kernelMessage(code, Language::Russian) != '\0';
}

// Counts one level of nesting for as long as it lives.
class NestingGuard {
 public:
  explicit NestingGuard(int& nesting) : nesting_(nesting) { ++nesting_; }
  ~NestingGuard() { --nesting_; }
  NestingGuard(const NestingGuard&) = delete;
  NestingGuard& operator=(const NestingGuard&) = delete;

 private:
  int& nesting_;
};

// The argument a function's overflowing number result is blamed on: the first one that is not a
// number (the map or data whose values gave it), else a lone number argument; 0 names none.
std::uint32_t overflowPosition(const Arguments& arguments) {
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (!arguments[i].isNumber()) return static_cast<std::uint32_t>(i + 1);
  }
  return arguments.size() == 1 ? 1 : 0;
}

}  // namespace

S_Calculator::S_Calculator() = default;

S_Calculator::S_Calculator(const S_Calculator& other)
    : registry_(other.registry_), result_(other.result_), context_(other.context_) {}

bool S_Calculator::run(std::string& text) {
  std::string input = trimmed(text);
  if (input.empty()) {
    context_.sink().record(sink_code::kMessage, {});
    return false;
  }
  if (input.back() != ';') input += ';';
  const Registry::Evaluating evaluating(registry_);
  std::optional<memory::Guard> guard(std::in_place);
  lexer_.reset(input);
  context_.beginText();
  const bool ok = withinResources([&] { return runStatements(input, guard); });
  // A refused allocation that a library or reader turned into a failure of its own is still the
  // memory's failure.
  ErrorSink& sink = context_.sink();
  if (!ok && memory::allocationRefused() && sink.code() != sink_code::kCancelled) {
    sink.overrule(sink_code::kMessage, text::kOutOfMemory.in(context_.language()));
  }
  if (!ok) fail(text);
  return ok;
}

namespace {

// The statements of a text that ends in ';': its ';' tokens, empty statements included. A text
// the lexer refuses counts as one; its evaluation fails at the fault.
int statementCount(const std::string& text, Language language) {
  Lexer lexer;
  lexer.reset(text);
  ErrorSink scratch;
  int count = 0;
  for (int token = lexer.next(scratch, language); token != token::kEnd && !scratch.failed();
       token = lexer.next(scratch, language)) {
    if (token == ';') ++count;
  }
  return scratch.failed() ? 1 : count;
}

}  // namespace

bool S_Calculator::runStatements(const std::string& text, std::optional<memory::Guard>& guard) {
  // Whoever watches the progress of a text of several statements hears where each begins.
  ErrorSink& sink = context_.sink();
  const Language language = context_.language();
  const int count = sink.observer() != nullptr ? statementCount(text, language) : 1;
  StatementAnnouncer announcer(sink.progress(), count);
  // Statements are evaluated at the same time only with threads to spare for them, and when one
  // of them may do enough work to pay for a copy of the calculator; without a planner they go
  // one after the other.
  std::optional<StatementPlanner> planner;
  if (parallel::threadLimit() > 1 && !parallel::insideParallelWork() &&
      mayWorkHard(text, registry_)) {
    planner.emplace(text, language);
  }
  const std::size_t mostAtOnce = kStatementsPerThread * parallel::threadLimit();
  std::size_t aloneUntil = 0;  // statements before it are evaluated alone (a group's repeat)
  for (std::size_t index = 0;; ++index) {
    if (planner && index >= aloneUntil && index < planner->statementCount() &&
        planner->worksHard(index, registry_) && !memory::allocationRefused()) {
      const std::size_t size = planner->groupSize(index, mostAtOnce);
      std::size_t hard = 0;
      for (std::size_t k = index; k < index + size; ++k) hard += planner->worksHard(k, registry_);
      if (hard >= 2) {
        const GroupEnd end = runGroup(*planner, index, size, announcer);
        if (end.kind == GroupEnd::Failed) return false;
        if (end.kind == GroupEnd::Again) {
          // The guard starts afresh: the refusal of the statements together is no failure of
          // the statements alone.
          guard.reset();
          guard.emplace();
          aloneUntil = index + size;
        }
        if (end.kind == GroupEnd::Apart) planner.reset();
        if (end.landed > 0) {
          // The lexer goes past the statements that landed, to where the next one begins (the
          // planner read them without a fault, so none comes now).
          for (std::size_t ends = 0; ends < end.landed;) {
            const int token = lexer_.next(sink, language);
            if (token == token::kEnd) break;
            if (token == ';') ++ends;
          }
          refreshMirrors();
          if (lexer_.atEnd()) return true;
          index += end.landed - 1;
          continue;
        }
      }
    }
    announcer.begins(index);
    nextToken();
    if (failed()) return false;
    if (token_ != ';') {
      Operand value = expression();
      result_.assign(value);
      if (failed()) return false;
      // The expression ended before its ';': the rest of the text is not read as the planner cut
      // it, so the statements go on one after the other.
      if (token_ != ';') planner.reset();
    }
    if (lexer_.atEnd()) return true;
  }
}

void S_Calculator::rollBack(const Checkpoint& checkpoint) {
  registry_.restore(checkpoint.registry);
  result_ = checkpoint.result;
  refreshMirrors();
}

void S_Calculator::fail(std::string& text) {
  text = failureMessage();
}

std::string S_Calculator::failureMessage() {
  ErrorSink& sink = context_.sink();
  if (isKernelCode(sink.code())) {
    sink.setMessage(kernelMessageOf(contextName(), sink.code(), language()));
  }
  return sink.message();
}

int S_Calculator::nextToken() {
  token_ = lexer_.next(context_.sink(), language());
  if (token_ == ';') refreshMirrors();
  if (token_ == token::kName && findBuiltin(lexer_.identifier()) != nullptr) {
    token_ = token::kFunction;
  }
  return token_;
}

void S_Calculator::refreshMirrors() {
  if (const Calc_ID* missing = registry_.find(kMissingConstant);
      missing && missing->value.isNumber()) {
    context_.setMissingValue(missing->value.numberValue());
  }
  if (const Calc_ID* fill = registry_.find(kMergeConstant); fill && fill->value.isNumber()) {
    context_.setMergeFill(fill->value.numberValue());
  }
}

void S_Calculator::argumentError(ArgumentMessage message, std::uint32_t position) {
  context_.sink().record(sink_code::kArgument,
                         argumentMessageOf(contextName(), message, position, language()));
}

void S_Calculator::functionError(const MessageText& message) {
  context_.sink().record(sink_code::kMessage,
                         functionMessageOf(contextName(), message, language()));
}

Operand S_Calculator::executionError() {
  argumentError(ArgumentMessage::ExecutionError);
  return Operand();
}

Operand S_Calculator::expression() {
  NestingGuard guard(context_.nesting());
  if (context_.nesting() > kMostNesting) {
    argumentError(ArgumentMessage::NestedTooDeeply);
    return Operand();
  }
  return leftToRight(&S_Calculator::term, "+-");
}

Operand S_Calculator::term() {
  return leftToRight(&S_Calculator::power, "*/");
}

Operand S_Calculator::power() {
  return leftToRight(&S_Calculator::primary, "^");
}

Operand S_Calculator::leftToRight(Operand (S_Calculator::*operand)(), std::string_view operators) {
  // The context name is restored after each operand and each operator, so an error is reported
  // with the name of the innermost operation running when it occurred.
  const std::string saved = contextName();
  Operand left = (this->*operand)();
  setContextName(saved);
  while (token_ > 0 && operators.find(static_cast<char>(token_)) != std::string_view::npos) {
    const int op = token_;
    nextToken();
    Operand right = (this->*operand)();
    setContextName(saved);
    left = applyOperator(op, std::move(left), std::move(right));
    setContextName(saved);
  }
  return left;
}

Operand S_Calculator::applyOperator(int op, Operand left, Operand right) {
  Operand result;
  switch (op) {
    case '+':
      result = add(*this, std::move(left), std::move(right));
      break;
    case '-':
      result = subtract(*this, std::move(left), std::move(right));
      break;
    case '*':
      result = multiply(*this, std::move(left), std::move(right));
      break;
    case '/':
      result = divide(*this, std::move(left), std::move(right));
      break;
    default:
      result = raise(*this, std::move(left), std::move(right));
  }
  // A number comes of two numbers only, and an overflow is owed to both of them.
  return finiteNumber(std::move(result), 0);
}

Operand S_Calculator::finiteNumber(Operand result, std::uint32_t position) {
  if (failed() || !result.isNumber() || std::isfinite(result.numberValue())) return result;
  argumentError(ArgumentMessage::InvalidValue, position);
  return Operand();
}

Operand S_Calculator::primary() {
  switch (token_) {
    case token::kName:
      return namePrimary();
    case token::kNumber: {
      const double value = lexer_.number();
      nextToken();
      return Operand::number(value);
    }
    case '(': {
      nextToken();
      Operand inner = expression();
      if (token_ != ')') argumentError(ArgumentMessage::CloseParenthesisExpected);
      nextToken();
      return inner;
    }
    case '-': {
      nextToken();
      return negate(*this, expression());
    }
    case token::kFunction:
      return callFunction(*findBuiltin(lexer_.identifier()));
    default:
      argumentError(ArgumentMessage::UnknownExpression);
      return Operand();
  }
}

Operand S_Calculator::namePrimary() {
  const std::string name = lexer_.identifier();
  nextToken();
  if (token_ == '=') {
    Calc_ID& entry = registry_.findOrCreate(name);
    nextToken();
    const Operand value = expression();
    // A failed expression leaves the name as it was: a half-computed value is never stored.
    if (!failed()) storeInto(entry, value);
    return entry.value;
  }
  if (const Calc_ID* entry = registry_.find(name)) return entry->value;
  const char* unknown = text::kUnknownName.in(language());
  context_.sink().record(sink_code::kMessage, std::string(unknown) + " \" " + name + " \" ");
  return registry_.emptyEntry().value;
}

void S_Calculator::storeInto(Calc_ID& entry, const Operand& value) {
  if (!entry.value.isNumber() && value.isNumber()) {
    entry.value.assign(fillWithNumber(*this, entry.value, value.numberValue()));
  } else {
    entry.value.assign(value);
  }
  if (entry.value.isNumber() && (entry.name == kMissingConstant || entry.name == kMergeConstant)) {
    refreshMirrors();
  }
}

Operand S_Calculator::callFunction(const Builtin& builtin) {
  setContextName(std::string(builtin.name));
  Arguments arguments = parseArguments(builtin);
  if (failed()) return Operand();
  const Form* form = builtin.formFor(static_cast<int>(arguments.size()));
  if (form == nullptr) {
    argumentError(ArgumentMessage::InvalidCombination);
    return Operand();
  }
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const KindSet accepted = form->kinds[std::min(i, form->kinds.size() - 1)];
    if ((accepted & kindBit(arguments[i].kind())) == 0) {
      argumentError(ArgumentMessage::InvalidType, static_cast<std::uint32_t>(i + 1));
      return Operand();
    }
  }
  if (form->check != nullptr && !form->check(*this, arguments)) return Operand();
  std::vector<const Operand*> operands;
  for (const Operand& argument : arguments) operands.push_back(&argument);
  if (!checkCoordinateSystems(*this, operands)) return Operand();
  if (measuresLengthOrArea(builtin) && inDegrees(operands)) context_.noteMeasuredInDegrees();
  // The handler may take the arguments' contents over: their georeference is kept aside first.
  const std::optional<grid::Georeference> georeference = resultGeoreference(operands);
  Operand result = form->handler(*this, arguments);
  carryGeoreference(result, georeference);
  return finiteNumber(std::move(result), overflowPosition(arguments));
}

std::vector<Operand> S_Calculator::parseArguments(const Builtin& builtin) {
  Arguments arguments;
  nextToken();
  if (token_ != '(') argumentError(ArgumentMessage::OpenParenthesisExpected);
  nextToken();
  for (;;) {
    Operand argument = expression();
    argument.setArgumentPosition(static_cast<std::uint32_t>(arguments.size() + 1));
    arguments.push_back(std::move(argument));
    if (builtin.parseCheck != nullptr && !failed()) builtin.parseCheck(*this, arguments);
    const ListStep step = builtin.stepAfter(arguments);
    if (step == ListStep::End) {
      if (token_ != ')') argumentError(ArgumentMessage::CloseParenthesisExpected);
      break;
    }
    if (token_ == ',') {
      nextToken();
      continue;
    }
    if (step == ListStep::Continue) {
      argumentError(ArgumentMessage::CommaExpected);
      continue;
    }
    if (token_ != ')') argumentError(ArgumentMessage::CommaOrCloseExpected);
    break;
  }
  nextToken();
  return arguments;
}

}  // namespace vellumar::engine
