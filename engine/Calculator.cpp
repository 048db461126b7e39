#include "engine/Calculator.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <mutex>
#include <new>
#include <stdexcept>
#include <system_error>
#include <thread>

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
    : registry_(other.registry_),
      result_(other.result_),
      contextName_(other.contextName_),
      anglesInRadians_(other.anglesInRadians_),
      language_(other.language_),
      lengthTolerance_(other.lengthTolerance_),
      missingValue_(other.missingValue_),
      mergeFill_(other.mergeFill_) {}

void S_Calculator::attachErrorSink(ErrorSink* sink) {
  sink_ = sink != nullptr ? sink : &ownSink_;
  sink_->setCancelMessage(text::kCancelled.in(language_));
}

double S_Calculator::angleFactor() const {
  return anglesInRadians_ ? kRadiansFactor : kDegreesFactor;
}

bool S_Calculator::run(std::string& text) {
  std::string input = trimmed(text);
  if (input.empty()) {
    sink_->record(sink_code::kMessage, {});
    return false;
  }
  if (input.back() != ';') input += ';';
  const Registry::Evaluating evaluating(registry_);
  std::optional<memory::Guard> guard(std::in_place);
  lexer_.reset(input);
  nesting_ = 0;
  measuredInDegrees_ = false;
  statementGroups_ = {};
  bool ok = false;
  try {
    ok = runStatements(input, guard);
  } catch (const std::bad_alloc&) {
    // A result too large for memory (a huge Dense, say) fails the evaluation, not the program.
    sink_->record(sink_code::kMessage, text::kOutOfMemory.in(language_));
  } catch (const std::length_error&) {
    sink_->record(sink_code::kMessage, text::kOutOfMemory.in(language_));
  } catch (const std::system_error&) {
    // A kernel's helper thread could not be started: the system is out of resources.
    sink_->record(sink_code::kMessage, text::kOutOfMemory.in(language_));
  }
  // A refused allocation that a library or reader turned into a failure of its own is still the
  // memory's failure.
  if (!ok && memory::allocationRefused() && sink_->code() != sink_code::kCancelled) {
    sink_->overrule(sink_code::kMessage, text::kOutOfMemory.in(language_));
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

// Tells the observer where each statement of a text of several begins, in order and once each,
// whoever evaluates them: a statement evaluated again after its group tells nothing twice.
class S_Calculator::Announcer {
 public:
  Announcer(ErrorSink& sink, int count) : sink_(sink), count_(count) {}
  ~Announcer() {
    if (count_ > 1) sink_.statementStarted(0, 1);
  }
  Announcer(const Announcer&) = delete;
  Announcer& operator=(const Announcer&) = delete;

  // Statement index begins, and every one before it that has not been told yet.
  void begins(std::size_t index) {
    while (told_ < index + 1) {
      if (count_ > 1 && told_ < static_cast<std::size_t>(count_)) {
        sink_.statementStarted(static_cast<int>(told_), count_);
      }
      ++told_;
    }
  }

 private:
  ErrorSink& sink_;
  int count_;
  std::size_t told_ = 0;
};

namespace {

// The largest group of statements evaluated at the same time, per thread: enough to keep every
// thread busy when the statements differ in length, few enough copies of the registry.
constexpr std::size_t kStatementsPerThread = 4;

// The progress of the statements of a group. Each statement's sink reports to a relay of its
// own, on whatever thread evaluates it; only the calling thread passes anything on to the
// evaluation's observer (which need not be thread-safe): whenever one of its own statements
// reports, and every few milliseconds once it has no statement left to take. The observer hears
// every start of every statement's operations in the order they came, the reports of the latest
// one still open, and a close once none is open; the statements' shares move on in order. Once
// the observer asks to cancel, every statement stops at its next report.
class GroupProgress {
 public:
  class Relay final : public ProgressObserver {
   public:
    void start(std::string_view caption, std::int64_t total) override {
      group_->opened(index_, caption, total);
    }
    bool step(std::int64_t done) override {
      group_->stepped(index_, done);
      return !group_->stopped();
    }
    void close() override { group_->closed(index_); }

   private:
    friend class GroupProgress;
    GroupProgress* group_ = nullptr;
    std::size_t index_ = 0;
  };

  GroupProgress(ProgressObserver& observer, std::size_t size,
                std::function<void(std::size_t)> begins)
      : observer_(observer),
        relays_(size),
        finished_(size),
        done_(size, 0),
        open_(size, false),
        begins_(std::move(begins)) {
    for (std::size_t k = 0; k < size; ++k) {
      relays_[k].group_ = this;
      relays_[k].index_ = k;
      finished_[k].store(false);
    }
  }
  GroupProgress(const GroupProgress&) = delete;
  GroupProgress& operator=(const GroupProgress&) = delete;

  Relay& relay(std::size_t index) { return relays_[index]; }
  // Statement index succeeded and ended at its ';'.
  void finished(std::size_t index) { finished_[index].store(true, std::memory_order_release); }
  bool stopped() const { return stop_.load(std::memory_order_relaxed); }

  // Passes the statements' progress on to the observer; the calling thread only. The share
  // moves past a statement only once it has succeeded as a statement alone would: after a
  // failure the observer hears of nothing beyond it.
  void pump() {
    while (leading_ + 1 < relays_.size() && finished_[leading_].load(std::memory_order_acquire)) {
      ++leading_;
    }
    begins_(leading_);
    std::vector<Event> events;
    std::vector<std::int64_t> done;
    {
      const std::lock_guard<std::mutex> hold(mutex_);
      events.swap(events_);
      done = done_;
    }
    for (const Event& event : events) {
      shownOpen_[event.statement] = event.start;
      if (event.start) {
        if (shown_) observer_.close();
        observer_.start(event.caption, event.total);
        shown_ = true;
        latest_ = event.statement;
      } else if (shown_ && std::none_of(shownOpen_.begin(), shownOpen_.end(),
                                        [](bool open) { return open; })) {
        observer_.close();
        shown_ = false;
      }
    }
    if (!shown_ || stopped()) return;
    std::size_t reporting = latest_;
    if (!shownOpen_[reporting]) {
      reporting = static_cast<std::size_t>(std::find(shownOpen_.begin(), shownOpen_.end(), true) -
                                           shownOpen_.begin());
    }
    if (!observer_.step(done[reporting])) stop_.store(true, std::memory_order_relaxed);
  }

  // After the group: closes what the observer shows.
  void closeShown() {
    if (shown_) observer_.close();
    shown_ = false;
  }

 private:
  struct Event {
    std::size_t statement;
    bool start;  // else a close
    std::string caption;
    std::int64_t total;
  };

  void opened(std::size_t index, std::string_view caption, std::int64_t total) {
    {
      const std::lock_guard<std::mutex> hold(mutex_);
      events_.push_back({index, true, std::string(caption), total});
      done_[index] = 0;
      open_[index] = true;
    }
    pumpIfCalling();
  }
  void stepped(std::size_t index, std::int64_t done) {
    {
      const std::lock_guard<std::mutex> hold(mutex_);
      done_[index] = done;
    }
    pumpIfCalling();
  }
  void closed(std::size_t index) {
    {
      const std::lock_guard<std::mutex> hold(mutex_);
      events_.push_back({index, false, {}, 0});
      open_[index] = false;
    }
    pumpIfCalling();
  }
  void pumpIfCalling() {
    if (std::this_thread::get_id() == caller_) pump();
  }

  ProgressObserver& observer_;
  std::vector<Relay> relays_;
  std::vector<std::atomic<bool>> finished_;
  const std::thread::id caller_ = std::this_thread::get_id();
  std::atomic<bool> stop_{false};
  // What the statements reported, not yet passed on.
  std::mutex mutex_;
  std::vector<Event> events_;
  std::vector<std::int64_t> done_;
  std::vector<bool> open_;
  // What the observer was told (calling thread only).
  std::function<void(std::size_t)> begins_;
  std::size_t leading_ = 0;
  std::vector<bool> shownOpen_ = open_;
  bool shown_ = false;
  std::size_t latest_ = 0;
};

// A failure that the memory caused, or may have: the statements that ran together are evaluated
// again one after the other.
bool outOfMemory(const ErrorSink& sink, Language language) {
  return memory::allocationRefused() ||
         (sink.failed() && sink.message() == text::kOutOfMemory.in(language));
}

}  // namespace

bool S_Calculator::runStatements(const std::string& text, std::optional<memory::Guard>& guard) {
  // Whoever watches the progress of a text of several statements hears where each begins.
  const int count = sink_->observer() != nullptr ? statementCount(text, language_) : 1;
  Announcer announcer(*sink_, count);
  // Statements are evaluated at the same time only with threads to spare for them, and when one
  // of them may do enough work to pay for a copy of the calculator.
  std::optional<StatementPlanner> planner;
  if (parallel::threadLimit() > 1 && !parallel::insideParallelWork() &&
      mayWorkHard(text, registry_)) {
    planner.emplace(text, language_);
  }
  const std::size_t mostAtOnce = kStatementsPerThread * parallel::threadLimit();
  std::size_t aloneUntil = 0;  // statements before it are evaluated alone (a group's repeat)
  for (std::size_t index = 0;; ++index) {
    if (planner && index >= aloneUntil && index < planner->statementCount() &&
        !memory::allocationRefused() && planner->worksHard(index, registry_)) {
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
          // The lexer goes past the statements that landed, to where the next one begins.
          for (std::size_t ends = 0; ends < end.landed;) {
            if (lexer_.next(*sink_, language_) == ';') ++ends;
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

S_Calculator::GroupEnd S_Calculator::runGroup(StatementPlanner& planner, std::size_t first,
                                              std::size_t size, Announcer& announcer) {
  ++statementGroups_.groups;
  statementGroups_.statements += static_cast<int>(size);
  announcer.begins(first);
  std::optional<GroupProgress> progress;
  if (sink_->observer() != nullptr) {
    progress.emplace(*sink_->observer(), size,
                     [&announcer, first](std::size_t k) { announcer.begins(first + k); });
  }
  struct Statement {
    std::unique_ptr<S_Calculator> calc;
    ErrorSink sink;
    bool ended = false;  // succeeded and ended at its ';'
    bool outOfMemory = false;
  };
  std::vector<Statement> statements(size);
  const std::size_t entries = registry_.entries().size();
  StatementWatch* const watch = statementWatch();
  const auto evaluate = [&](std::size_t k) {
    Statement& statement = statements[k];
    statement.sink = ErrorSink(progress ? &progress->relay(k) : nullptr);
    try {
      if (watch != nullptr) watch->started(first + k);
      statement.calc = std::make_unique<S_Calculator>(*this);
      const AttachedSink attached(*statement.calc, statement.sink);
      statement.ended = statement.calc->evaluateApart(planner.text(first + k));
    } catch (const std::bad_alloc&) {
      statement.outOfMemory = true;
    } catch (const std::length_error&) {
      statement.outOfMemory = true;
    } catch (const std::system_error&) {
      statement.outOfMemory = true;
    }
    statement.outOfMemory = statement.outOfMemory || outOfMemory(statement.sink, language_);
    if (progress && statement.ended) progress->finished(k);
    if (watch != nullptr) watch->finished(first + k, statement.sink.code());
  };
  // The texts are cut before the threads start: the planner is not shared.
  for (std::size_t k = 0; k < size; ++k) planner.text(first + k);
  std::function<void()> idle;
  if (progress) idle = [&progress] { progress->pump(); };
  parallel::runTasks(size, evaluate, idle);
  if (progress) {
    progress->pump();
    progress->closeShown();
  }
  const bool cancelled = progress && progress->stopped();
  if (!cancelled && (memory::allocationRefused() ||
                     std::any_of(statements.begin(), statements.end(),
                                 [](const Statement& s) { return s.outOfMemory; }))) {
    ++statementGroups_.repeated;
    return {GroupEnd::Again, 0};
  }
  for (std::size_t k = 0; k < size; ++k) {
    Statement& statement = statements[k];
    if (!statement.sink.failed() && !statement.ended) return {GroupEnd::Apart, k};
    // The outcome lands as the statement alone would have left it, failed or not: the entries it
    // created, in order, the values of the names it assigned, the result.
    const Registry& theirs = statement.calc->registry_;
    for (std::size_t e = entries; e < theirs.entries().size(); ++e) {
      registry_.findOrCreate(theirs.entries()[e]->name);
    }
    for (const std::string& name : planner.facts(first + k).assigned) {
      if (const Calc_ID* entry = theirs.find(name)) registry_.find(name)->value = entry->value;
    }
    result_ = statement.calc->result_;
    measuredInDegrees_ = measuredInDegrees_ || statement.calc->measuredInDegrees_;
    if (statement.sink.failed()) {
      // The failure as the statement left it: its kernel code is worded with the context name
      // current at the failure, as the evaluation's own would be.
      contextName_ = statement.calc->contextName_;
      sink_->record(statement.sink.code(), statement.sink.message());
      sink_->setDetail(statement.sink.detail());
      announcer.begins(first + k);
      return {GroupEnd::Failed, k + 1};
    }
  }
  announcer.begins(first + size - 1);
  return {GroupEnd::Done, size};
}

bool S_Calculator::evaluateApart(std::string_view statement) {
  const Registry::Evaluating evaluating(registry_);
  lexer_.reset(std::string(statement));
  nesting_ = 0;
  measuredInDegrees_ = false;
  try {
    nextToken();
    if (failed()) return false;
    Operand value = expression();
    result_.assign(value);
    return !failed() && token_ == ';' && lexer_.atEnd();
  } catch (const std::bad_alloc&) {
    sink_->record(sink_code::kMessage, text::kOutOfMemory.in(language_));
  } catch (const std::length_error&) {
    sink_->record(sink_code::kMessage, text::kOutOfMemory.in(language_));
  } catch (const std::system_error&) {
    sink_->record(sink_code::kMessage, text::kOutOfMemory.in(language_));
  }
  return false;
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
  if (isKernelCode(sink_->code())) {
    sink_->setMessage(kernelMessageOf(contextName_, sink_->code(), language_));
  }
  return sink_->message();
}

int S_Calculator::nextToken() {
  token_ = lexer_.next(*sink_, language_);
  if (token_ == ';') refreshMirrors();
  if (token_ == token::kName && findBuiltin(lexer_.identifier()) != nullptr) {
    token_ = token::kFunction;
  }
  return token_;
}

void S_Calculator::refreshMirrors() {
  if (const Calc_ID* missing = registry_.find(kMissingConstant);
      missing && missing->value.isNumber()) {
    missingValue_ = missing->value.numberValue();
  }
  if (const Calc_ID* fill = registry_.find(kMergeConstant); fill && fill->value.isNumber()) {
    mergeFill_ = fill->value.numberValue();
  }
}

void S_Calculator::argumentError(ArgumentMessage message, std::uint32_t position) {
  sink_->record(sink_code::kArgument,
                argumentMessageOf(contextName_, message, position, language_));
}

void S_Calculator::functionError(const MessageText& message) {
  sink_->record(sink_code::kMessage, functionMessageOf(contextName_, message, language_));
}

Operand S_Calculator::executionError() {
  argumentError(ArgumentMessage::ExecutionError);
  return Operand();
}

Operand S_Calculator::expression() {
  NestingGuard guard(nesting_);
  if (nesting_ > kMostNesting) {
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
  const std::string saved = contextName_;
  Operand left = (this->*operand)();
  contextName_ = saved;
  while (token_ > 0 && operators.find(static_cast<char>(token_)) != std::string_view::npos) {
    const int op = token_;
    nextToken();
    Operand right = (this->*operand)();
    contextName_ = saved;
    left = applyOperator(op, std::move(left), std::move(right));
    contextName_ = saved;
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
  const char* unknown = text::kUnknownName.in(language_);
  sink_->record(sink_code::kMessage, std::string(unknown) + " \" " + name + " \" ");
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
  contextName_ = std::string(builtin.name);
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
  if (measuresLengthOrArea(builtin) && inDegrees(operands)) measuredInDegrees_ = true;
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

std::string S_Calculator::resultWarning() const {
  return measuredInDegrees_ ? text::kMeasuredInDegrees.in(language_) : std::string();
}

TextEvaluation evaluateText(S_Calculator& calc, const std::string& text,
                            ProgressObserver* observer) {
  TextEvaluation evaluation;
  ErrorSink sink(observer);
  {
    const AttachedSink attached(calc, sink);
    evaluation.message = text;
    evaluation.ok = calc.run(evaluation.message);
  }
  evaluation.detail = sink.detail();
  if (evaluation.ok) evaluation.warning = calc.resultWarning();
  evaluation.cancelled = sink.code() == sink_code::kCancelled;
  return evaluation;
}

}  // namespace vellumar::engine
