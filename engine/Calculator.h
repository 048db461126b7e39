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
// first one wins and ends the evaluation with its message.
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

  // Attaches the error sink of the next evaluation (a fresh one for each).
  void attachErrorSink(ErrorSink* sink);
  // The sink attached now (the calculator's own when none is).
  ErrorSink* attachedSink() const { return sink_; }
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

  // Settings the window (or command line) makes before each evaluation.
  void setAnglesInRadians(bool radians) { anglesInRadians_ = radians; }
  bool anglesInRadians() const { return anglesInRadians_; }
  double angleFactor() const;
  void setLanguage(Language language) { language_ = language; }
  Language language() const { return language_; }
  void setLengthTolerance(double tolerance) { lengthTolerance_ = tolerance; }
  double lengthTolerance() const { return lengthTolerance_; }
  // The missing value of data elements (the constant outC) and the Merge fill (mergeC).
  double missingValue() const { return missingValue_; }
  double mergeFill() const { return mergeFill_; }

  // --- used by operators and built-in functions ---
  ErrorSink& sink() { return *sink_; }
  bool failed() const { return sink_->failed(); }
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
  void kernelError(int code) { sink_->kernelError(code); }
  const std::string& contextName() const { return contextName_; }
  void setContextName(std::string name) { contextName_ = std::move(name); }

  // Whether the last evaluation measured a length or an area (Len, Area, Integral) of an operand
  // whose coordinates are degrees, which its result then is in: the faces say so beside it.
  bool measuredInDegrees() const { return measuredInDegrees_; }
  // The warning of such a result; empty after any other evaluation.
  std::string resultWarning() const;

  // How the last evaluation ran its statements: the groups of independent statements it
  // evaluated at the same time, the statements in them, and the groups it evaluated once more one
  // statement after the other, because the memory ran out while they ran together.
  struct StatementGroups {
    int groups = 0;
    int statements = 0;
    int repeated = 0;
  };
  const StatementGroups& statementGroups() const { return statementGroups_; }

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
  ErrorSink ownSink_;
  ErrorSink* sink_ = &ownSink_;
  std::string contextName_;
  bool anglesInRadians_ = true;
  Language language_ = Language::Russian;
  double lengthTolerance_ = 0.001;
  double missingValue_ = kDefaultMissing;
  double mergeFill_ = 0.0;
  int nesting_ = 0;
  bool measuredInDegrees_ = false;
  StatementGroups statementGroups_;
};

template <class Step>
bool S_Calculator::withinResources(Step&& step) {
  try {
    return step();
  } catch (const std::bad_alloc&) {
  } catch (const std::length_error&) {
  } catch (const std::system_error&) {
  }
  sink_->record(sink_code::kMessage, text::kOutOfMemory.in(language_));
  return false;
}

// Attaches a sink to a calculator for as long as it lives, and the sink attached before again
// afterwards.
class AttachedSink {
 public:
  AttachedSink(S_Calculator& calc, ErrorSink& sink) : calc_(calc), outer_(calc.attachedSink()) {
    calc.attachErrorSink(&sink);
  }
  ~AttachedSink() { calc_.attachErrorSink(outer_); }
  AttachedSink(const AttachedSink&) = delete;
  AttachedSink& operator=(const AttachedSink&) = delete;

 private:
  S_Calculator& calc_;
  ErrorSink* outer_;
};

// What came of one evaluation: success, or the error's message and detail, and whether it was
// the user's cancel.
struct TextEvaluation {
  bool ok = false;
  std::string message;
  std::string detail;
  std::string warning;  // of a result that succeeded (S_Calculator::resultWarning)
  bool cancelled = false;
};

// Evaluates text with a sink of its own, which reports progress to observer (may be null); the
// sink attached before is attached again afterwards.
TextEvaluation evaluateText(S_Calculator& calc, const std::string& text,
                            ProgressObserver* observer = nullptr);

}  // namespace vellumar::engine
