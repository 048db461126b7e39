#include "engine/StatementPlan.h"

#include <algorithm>
#include <atomic>

#include "common/ErrorSink.h"
#include "engine/Builtins.h"
#include "engine/Lexer.h"
#include "engine/Registry.h"

namespace vellumar::engine {
namespace {

std::atomic<StatementWatch*> gWatch{nullptr};

// Sorted, once each.
void normalise(std::vector<std::string>& names) {
  std::sort(names.begin(), names.end());
  names.erase(std::unique(names.begin(), names.end()), names.end());
}

// Whether two sorted lists share a name.
bool intersect(const std::vector<std::string>& a, const std::vector<std::string>& b) {
  auto i = a.begin();
  auto j = b.begin();
  while (i != a.end() && j != b.end()) {
    if (*i < *j) {
      ++i;
    } else if (*j < *i) {
      ++j;
    } else {
      return true;
    }
  }
  return false;
}

// a with the names of b, sorted and once each.
void merge(std::vector<std::string>& a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  normalise(a);
}

// The characters without which a statement applies no operator and calls no function.
constexpr const char* kWorkCharacters = "(+-*/^";

bool isOperator(int token) {
  return token == '+' || token == '-' || token == '*' || token == '/' || token == '^';
}

}  // namespace

StatementPlanner::StatementPlanner(const std::string& text, Language language)
    : text_(text),
      language_(language),
      count_(static_cast<std::size_t>(std::count(text.begin(), text.end(), ';'))) {}

void StatementPlanner::cut(std::size_t index) {
  while (statements_.size() <= index) {
    StatementFacts next;
    next.begin = statements_.empty() ? 0 : statements_.back().end;
    next.end = text_.find(';', next.begin) + 1;
    statements_.push_back(std::move(next));
    read_.push_back(false);
  }
}

std::string_view StatementPlanner::text(std::size_t index) {
  cut(index);
  const StatementFacts& statement = statements_[index];
  return std::string_view(text_).substr(statement.begin, statement.end - statement.begin);
}

const StatementFacts& StatementPlanner::facts(std::size_t index) {
  cut(index);
  StatementFacts& statement = statements_[index];
  if (read_[index]) return statement;
  read_[index] = true;
  Lexer lexer;
  lexer.reset(std::string(text(index)));
  ErrorSink scratch;
  bool afterName = false;  // the token before was a name of the registry
  int tokens = 0;
  for (int token = lexer.next(scratch, language_); token != token::kEnd && token != ';';
       token = lexer.next(scratch, language_)) {
    ++tokens;
    if (token == '=' && afterName) statement.assigned.push_back(statement.names.back());
    afterName = false;
    if (isOperator(token)) statement.operates = true;
    if (token != token::kName) continue;
    const std::string& identifier = lexer.identifier();
    if (const Builtin* builtin = findBuiltin(identifier)) {
      statement.operates = true;
      if (builtin->name == "RG") statement.barrier = true;
      if (builtin->name == "XG" || builtin->name == "YG" || builtin->name == "EG") {
        statement.constructs = true;
      }
      continue;
    }
    statement.names.push_back(identifier);
    afterName = true;
  }
  statement.empty = tokens == 0;
  if (scratch.failed()) statement.barrier = true;
  normalise(statement.names);
  normalise(statement.assigned);
  for (const std::string& name : statement.assigned) {
    if (name == kMissingConstant || name == kMergeConstant) statement.barrier = true;
  }
  return statement;
}

bool StatementPlanner::worksHard(std::size_t index, const Registry& registry) {
  if (text(index).find_first_of(kWorkCharacters) == std::string_view::npos) return false;
  const StatementFacts& statement = facts(index);
  if (!statement.operates || statement.barrier) return false;
  if (statement.constructs) return true;
  return std::any_of(statement.names.begin(), statement.names.end(), [&](const std::string& name) {
    const Calc_ID* entry = registry.find(name);
    return entry != nullptr && !entry->value.isNumber();
  });
}

std::size_t StatementPlanner::groupSize(std::size_t first, std::size_t most) {
  std::vector<std::string> names;
  std::vector<std::string> assigned;
  std::size_t size = 0;
  for (std::size_t index = first; index < count_ && size < most; ++index, ++size) {
    const StatementFacts& statement = facts(index);
    if (statement.barrier || statement.empty) break;
    if (intersect(statement.assigned, names) || intersect(statement.names, assigned)) break;
    merge(names, statement.names);
    merge(assigned, statement.assigned);
  }
  return size;
}

bool mayWorkHard(const std::string& text, const Registry& registry) {
  if (text.find('(') != std::string::npos) return true;
  if (std::all_of(registry.entries().begin(), registry.entries().end(),
                  [](const auto& entry) { return entry->value.isNumber(); })) {
    return false;
  }
  // One fast search per character: a long text of bare names is not read character by character.
  const std::string_view operators = std::string_view(kWorkCharacters).substr(1);
  return std::any_of(operators.begin(), operators.end(),
                     [&text](char c) { return text.find(c) != std::string::npos; });
}

void setStatementWatch(StatementWatch* watch) {
  gWatch.store(watch);
}

StatementWatch* statementWatch() {
  return gWatch.load(std::memory_order_relaxed);
}

}  // namespace vellumar::engine
