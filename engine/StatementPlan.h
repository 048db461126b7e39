#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "common/ErrorSink.h"
#include "common/Language.h"

namespace vellumar::engine {

class Registry;

// The largest group of statements evaluated at the same time, per thread: enough to keep every
// thread busy when the statements differ in length, few enough copies of the registry.
inline constexpr std::size_t kStatementsPerThread = 4;

// What the lexer tells of one statement of a text before it is evaluated: enough to decide
// whether it may be evaluated at the same time as its neighbours.
struct StatementFacts {
  std::size_t begin = 0;  // its characters in the text, up to and with its ';'
  std::size_t end = 0;
  std::vector<std::string> names;     // every name it reads or assigns, sorted, once each
  std::vector<std::string> assigned;  // the names it assigns, nested assignments too, sorted
  bool empty = false;                 // nothing before its ';'
  // It touches state beside its names: it assigns outC or mergeC, which every kernel reads
  // through the calculator's mirrors, or calls RG, whose draws are seeded by the clock; or the
  // lexer faults in it (its message then comes as the statement-by-statement evaluation has it).
  bool barrier = false;
  bool operates = false;    // it applies an operator or calls a function
  bool constructs = false;  // it calls a function that builds a grid from numbers alone
};

// Cuts a text that ends in ';' into its statements, lazily and in order, and groups consecutive
// independent statements: no statement of a group assigns a name that another one reads or
// assigns, and none is a barrier or empty. Every ';' of a text the lexer accepts is a ';' token
// (no token holds one), so the statements are cut at the characters.
class StatementPlanner {
 public:
  StatementPlanner(const std::string& text, Language language);

  std::size_t statementCount() const { return count_; }
  // The facts of statement index (below statementCount()); statements are cut up to it and read
  // as needed.
  const StatementFacts& facts(std::size_t index);
  // The text of statement index, with its ';'.
  std::string_view text(std::size_t index);
  // Whether statement index does work worth a thread of its own: an operator or a function over
  // a name that holds more than a number (in the registry as it is now), or a grid built from
  // numbers. A statement without a '(' or an operator character is not read to tell.
  bool worksHard(std::size_t index, const Registry& registry);
  // The size of the group of statements from first on, at most most: first and those after it,
  // as long as each is independent of every one before it in the group.
  std::size_t groupSize(std::size_t first, std::size_t most);

 private:
  // Cuts the text up to statement index.
  void cut(std::size_t index);

  const std::string& text_;
  Language language_;
  std::size_t count_ = 0;
  std::vector<StatementFacts> statements_;
  std::vector<bool> read_;  // whose facts have been read
};

// Whether a text may hold a statement that works hard: one calls a function (the text holds a
// '('), or one applies an operator while the registry holds an operand that is not a number. A
// text of numbers, or of bare names, needs no planning, so its evaluation pays nothing for it.
bool mayWorkHard(const std::string& text, const Registry& registry);

// Tells the observer where each statement of a text of several begins, in order and once each,
// whoever evaluates them: a statement evaluated again after its group tells nothing twice.
class StatementAnnouncer {
 public:
  StatementAnnouncer(ProgressReport& progress, int count) : progress_(progress), count_(count) {}
  ~StatementAnnouncer() {
    if (count_ > 1) progress_.statementStarted(0, 1);
  }
  StatementAnnouncer(const StatementAnnouncer&) = delete;
  StatementAnnouncer& operator=(const StatementAnnouncer&) = delete;

  // Statement index begins, and every one before it that has not been told yet.
  void begins(std::size_t index) {
    while (told_ < index + 1) {
      if (count_ > 1 && told_ < static_cast<std::size_t>(count_)) {
        progress_.statementStarted(static_cast<int>(told_), count_);
      }
      ++told_;
    }
  }

 private:
  ProgressReport& progress_;
  int count_;
  std::size_t told_ = 0;
};

// For tests: watches the statements a text evaluates at the same time. started() is called on
// the statement's own thread before its evaluation, finished() after it with the code its error
// sink holds (0 when it succeeded). Set to null when done.
class StatementWatch {
 public:
  virtual ~StatementWatch() = default;
  virtual void started(std::size_t index) { (void)index; }
  virtual void finished(std::size_t index, int code) {
    (void)index;
    (void)code;
  }
};
void setStatementWatch(StatementWatch* watch);
StatementWatch* statementWatch();

}  // namespace vellumar::engine
