#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "common/Language.h"
#include "engine/Operand.h"

namespace vellumar::engine {

// A named operand: the name as written (compared exactly, case-sensitively) and its value.
struct Calc_ID {
  std::string name;
  Operand value;
};

// The named operands of one calculator, in creation order. The first entries are always the
// predefined NameEmpty, Pi, e, mergeC and outC. Entries are only removed by restoring a snapshot
// taken before they were created (a cancelled evaluation leaves no trace); otherwise only their
// values change, and their addresses stay valid.
//
// An evaluation marks the registry as its own while it runs (Evaluating). Nothing but that
// evaluation may change the registry meanwhile; the mutators assert it in debug builds, and so do
// the mutators of the workspace over the registry.
class Registry {
 public:
  // Marks the calling thread as the one evaluating over the registry, for the scope's lifetime.
  class Evaluating {
   public:
    explicit Evaluating(Registry& registry);
    ~Evaluating();
    Evaluating(const Evaluating&) = delete;
    Evaluating& operator=(const Evaluating&) = delete;

   private:
    Registry& registry_;
    std::thread::id outer_;
  };

  // Aborts a debug build when an evaluation runs in another thread than the caller's: the
  // caller is about to change what that evaluation reads.
  void assertNoOtherEvaluation() const;

  // The values of every entry at one moment. Values share their contents, so a snapshot is cheap.
  struct Snapshot {
    std::vector<Operand> values;
  };

  Registry();
  // The same names with the same values (which share their contents), for an evaluation apart;
  // no evaluation runs over the copy.
  Registry(const Registry& other);
  Registry& operator=(const Registry&) = delete;

  Snapshot snapshot() const;
  // Puts back the values of the snapshot and removes the entries created after it.
  void restore(const Snapshot& snapshot);

  // The entry of that name, or null.
  Calc_ID* find(std::string_view name);
  const Calc_ID* find(std::string_view name) const;
  // The entry of that name, appended with the number 0 when it does not exist yet.
  Calc_ID& findOrCreate(std::string_view name);
  // The placeholder entry NameEmpty (value 0), returned for unknown names.
  Calc_ID& emptyEntry() { return *entries_.front(); }

  const std::vector<std::unique_ptr<Calc_ID>>& entries() const { return entries_; }

  // The lines of the identifier-values list: every entry but NameEmpty, in order.
  std::vector<std::string> listLines(Language language) const;

 private:
  Calc_ID& append(std::string_view name, Operand value);

  std::vector<std::unique_ptr<Calc_ID>> entries_;
  std::unordered_map<std::string, Calc_ID*> index_;
  // The thread of the running evaluation; no thread between evaluations.
  std::atomic<std::thread::id> evaluator_{};
};

// One line of the identifier-values list: the name, ':', blanks up to 19 characters for name and
// blanks together (at most 17), then the number ("%lf") or the source path.
std::string listLine(const Calc_ID& entry, Language language);

// The name a list line stands for: the text before its first ':'.
std::string nameOfListLine(std::string_view line);

// Names of the predefined entries.
inline constexpr std::string_view kNameEmpty = "NameEmpty";
inline constexpr std::string_view kMergeConstant = "mergeC";
inline constexpr std::string_view kMissingConstant = "outC";
inline constexpr double kPi = 3.141592653589793;
inline constexpr double kE = 2.718281828459045;
inline constexpr double kDefaultMissing = -9999.0;

}  // namespace vellumar::engine
