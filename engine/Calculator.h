#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/ErrorSink.h"
#include "common/Language.h"
#include "common/MemoryGuard.h"
#include "engine/EngineMessages.h"
#include "engine/EvalContext.h"
#include "engine/Lexer.h"
#include "engine/Operand.h"
#include "engine/Registry.h"

namespace vellumar::engine {

struct Builtin;
class StatementAnnouncer;
class StatementPlanner;

// The evaluator: turns the text of the display into an operand value. Statements are separated
// by ';' and evaluated in order while they are parsed (recursive descent, no syntax tree); the
// result is the value of the last statement. Names are looked up in, and assigned into, the
// registry, which lives as long as the calculator. Errors go to the attached error sink; the
// first one wins and ends the evaluation with its message. The settings an evaluation runs under
// and its state apart from the parse are the calculator's EvalContext; an Evaluation (see
// engine/Evaluation.h) attaches the sink of one evaluation and undoes it on a cancel.
//
// Consecutive statements that do not depend on each other (StatementPlanner tells from the text)
// are evaluated at the same time when threads are allowed, each on a copy of the calculator,
// and their outcomes land in statement order: the registry, the result, the message of the first
// statement that fails and the progress shown are those of the evaluation one statement after
// the other. A group whose memory ran out is evaluated again one statement after the other.
//
// Grammar (each level returns a new value):
//   Expression = Term { ('+' | '-') Term }
//   Term       = Power { ('*' | '/') Power }
//   Power      = Primary { '^' Primary }
//   Primary    = name '=' Expression | name | number | '(' Expression ')' | '-' Expression
//              | function '(' arguments ')'
// Unary minus takes the whole following sum (-2+3 is -5); '^' is left-associative (2^3^2 is 64).
class S_Calculator {
 public:
  // Parentheses, unary minus and arguments may nest this deep; deeper input fails with a message
  // instead of exhausting the stack.
  static constexpr int kMostNesting = 400;

  S_Calculator();
  // A calculator with the same names, values and settings, for an evaluation apart from this
  // one's (a record of a layer on another thread): its own sink, nothing under way.
  S_Calculator(const S_Calculator& other);
  S_Calculator& operator=(const S_Calculator&) = delete;

  // Attaches the error sink of the next evaluation (a fresh one for each); null attaches the
  // calculator's own. An Evaluation attaches one for as long as it runs.
  void attachErrorSink(ErrorSink* sink) { context_.attachSink(sink); }
  // The sink attached now (the calculator's own when none is).
  ErrorSink* attachedSink() const { return &context_.sink(); }
  // Evaluates text. On success the result holds the last statement's value; on failure text is
  // replaced by the error message (it stays as it was when the input is blank).
  bool run(std::string& text);
  const Operand& result() const { return result_; }
  // Makes value the result, as an evaluation that computed it would (a layer evaluated record by
  // record).
  void setResult(const Operand& value) { result_.assign(value); }

  Registry& registry() { return registry_; }
  const Registry& registry() const { return registry_; }

  // The named operands and the result at one moment: an evaluation the user cancels is rolled
  // back to the checkpoint taken before it, so none of its assignments land.
  struct Checkpoint {
    Registry::Snapshot registry;
    Operand result;
  };
  Checkpoint checkpoint() const { return {registry_.snapshot(), result_}; }
  void rollBack(const Checkpoint& checkpoint);

  // The settings and the state of the evaluation; the accessors below forward to it.
  EvalContext& context() { return context_; }
  const EvalContext& context() const { return context_; }

  // Settings the window (or command line) makes before each evaluation.
  void setAnglesInRadians(bool radians) { context_.setAnglesInRadians(radians); }
  bool anglesInRadians() const { return context_.anglesInRadians(); }
  double angleFactor() const { return context_.angleFactor(); }
  void setLanguage(Language language) { context_.setLanguage(language); }
  Language language() const { return context_.language(); }
  void setLengthTolerance(double tolerance) { context_.setLengthTolerance(tolerance); }
  double lengthTolerance() const { return context_.lengthTolerance(); }
  // The missing value of data elements (the constant outC) and the Merge fill (mergeC).
  double missingValue() const { return context_.missingValue(); }
  double mergeFill() const { return context_.mergeFill(); }

  // --- used by operators and built-in functions ---
  ErrorSink& sink() { return context_.sink(); }
  bool failed() const { return context_.failed(); }
  // Records an argument or parse message, composed with the context name and the position.
  void argumentError(ArgumentMessage message, std::uint32_t position = 0);
  // Records a message of the function being evaluated, after its name ("Mean: ...").
  void functionError(const MessageText& message);
  // Records message 12 (the function could not be executed) and returns the empty value.
  Operand executionError();
  // The message of the failure the sink holds, as a failed evaluation gives it: a kernel's code
  // is worded now, after the context name current then.
  std::string failureMessage();
  // Records a kernel code; its message is composed when the evaluation fails.
  void kernelError(int code) { context_.sink().kernelError(code); }
  const std::string& contextName() const { return context_.contextName(); }
  void setContextName(std::string name) { context_.setContextName(std::move(name)); }

  // Whether the last evaluation measured a length or an area (Len, Area, Integral) of an operand
  // whose coordinates are degrees, which its result then is in: the faces say so beside it.
  bool measuredInDegrees() const { return context_.measuredInDegrees(); }
  // The warning of such a result; empty after any other evaluation.
  std::string resultWarning() const { return context_.resultWarning(); }

  // How the last evaluation ran its statements: the groups of independent statements it
  // evaluated at the same time, the statements in them, and the groups it evaluated once more one
  // statement after the other, because the memory ran out while they ran together.
  using StatementGroups = EvalContext::StatementGroups;
  const StatementGroups& statementGroups() const { return context_.statementGroups(); }

  // Stores value into a registry entry by the assignment rules: a number assigned to a grid,
  // data, polygon or lines entry fills that content; anything else replaces the value.
  void storeInto(Calc_ID& entry, const Operand& value);

 private:
  // Evaluates the statements of text, which the lexer has been reset to, under guard, the
  // memory guard of the evaluation (started afresh before a group is evaluated again).
  bool runStatements(const std::string& text, std::optional<memory::Guard>& guard);
  // What came of a group of statements evaluated at the same time.
  struct GroupEnd {
    enum Kind { Done, Failed, Again, Apart } kind = Done;
    std::size_t landed = 0;  // statements whose outcome landed (the failing one with them)
  };
  // Evaluates statements first ... first + size - 1 of the planner's text at the same time and
  // lands their outcomes in order; Apart: statement landed ends elsewhere than at its ';', so
  // the text goes on one statement after the other from there.
  GroupEnd runGroup(StatementPlanner& planner, std::size_t first, std::size_t size,
                    StatementAnnouncer& announcer);
  // One statement of a group, evaluated on its own copy of this calculator.
  struct GroupStatement;
  // Lands a group statement's outcome as the statement alone would have left it, failed or not:
  // the entries it created after the first entries ones, in order, the values of the names it
  // assigned, the result, and its failure. False when it failed.
  bool land(const GroupStatement& statement, const std::vector<std::string>& assigned,
            std::size_t entries);
  // Evaluates one statement (its text with the ';') on this copy of a calculator. True when it
  // succeeded and its expression ended at the ';'.
  bool evaluateApart(std::string_view statement);
  // Runs an evaluation step, turning what the system refuses it into the out-of-memory failure:
  // a result too large for memory (a huge Dense, say), and a kernel's helper thread that could
  // not be started. False when the step failed or was refused.
  template <class Step>
  bool withinResources(Step&& step);
  int nextToken();
  Operand expression();
  Operand term();
  Operand power();
  // operand { op operand } for the operator characters given, combined left to right.
  Operand leftToRight(Operand (S_Calculator::*operand)(), std::string_view operators);
  Operand applyOperator(int op, Operand left, Operand right);
  // A number result that is not finite (an overflow, a NaN) is no result: it fails with the
  // argument-value message for position (0 names no argument).
  Operand finiteNumber(Operand result, std::uint32_t position);
  Operand primary();
  Operand namePrimary();
  Operand callFunction(const Builtin& builtin);
  std::vector<Operand> parseArguments(const Builtin& builtin);
  void refreshMirrors();
  void fail(std::string& text);

  Registry registry_;
  Operand result_;
  Lexer lexer_;
  int token_ = token::kEnd;
  EvalContext context_;
};

template <class Step>
bool S_Calculator::withinResources(Step&& step) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  } catch (const std::system_error&) {
  }
  context_.sink().record(sink_code::kMessage, text::kOutOfMemory.in(context_.language()));
  return false;
}

// What came of one evaluation: success, or the error's message and detail, and whether it was
// the user's cancel.
struct TextEvaluation {
  bool ok = false;
  std::string message;
  std::string detail;
  std::string warning;  // of a result that succeeded (S_Calculator::resultWarning)
  bool cancelled = false;
};

// Evaluates text within an Evaluation whose sink reports progress to observer (may be null): the
// sink attached before is attached again afterwards. Nothing is rolled back, not even on a
// cancel: the caller that offers one undoes the whole run of which this text is part.
TextEvaluation evaluateText(S_Calculator& calc, const std::string& text,
                            ProgressObserver* observer = nullptr);

}  // namespace vellumar::engine
