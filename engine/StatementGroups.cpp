// The evaluation of a group of independent statements at the same time, each on a copy of the
// calculator (see S_Calculator and StatementPlanner).
#include "engine/Calculator.h"

#include <algorithm>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "common/MemoryGuard.h"
#include "common/Parallel.h"
#include "engine/Evaluation.h"
#include "engine/StatementPlan.h"

namespace vellumar::engine {
namespace {

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
        begins_(std::move(begins)),
        shownOpen_(size, false) {
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
  // What the observer was told (calling thread only).
  std::function<void(std::size_t)> begins_;
  std::size_t leading_ = 0;
  std::vector<bool> shownOpen_;  // whose operation is open, as far as the observer heard
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

struct S_Calculator::GroupStatement {
  std::unique_ptr<S_Calculator> calc;
  ErrorSink sink;
  bool ended = false;  // succeeded and ended at its ';'
  bool outOfMemory = false;
};

bool S_Calculator::land(const GroupStatement& statement, const std::vector<std::string>& assigned,
                        std::size_t entries) {
  const Registry& theirs = statement.calc->registry_;
  for (std::size_t e = entries; e < theirs.entries().size(); ++e) {
    registry_.findOrCreate(theirs.entries()[e]->name);
  }
  for (const std::string& name : assigned) {
    if (const Calc_ID* entry = theirs.find(name)) registry_.find(name)->value = entry->value;
  }
  result_ = statement.calc->result_;
  if (statement.calc->measuredInDegrees()) context_.noteMeasuredInDegrees();
  if (!statement.sink.failed()) return true;
  // The failure as the statement left it: its kernel code is worded with the context name
  // current at the failure, as the evaluation's own would be.
  setContextName(statement.calc->contextName());
  ErrorSink& sink = context_.sink();
  sink.record(statement.sink.code(), statement.sink.message());
  sink.setDetail(statement.sink.detail());
  return false;
}

S_Calculator::GroupEnd S_Calculator::runGroup(StatementPlanner& planner, std::size_t first,
                                              std::size_t size, StatementAnnouncer& announcer) {
  StatementGroups& counted = context_.statementGroups();
  ++counted.groups;
  counted.statements += static_cast<int>(size);
  announcer.begins(first);
  ErrorSink& sink = context_.sink();
  const Language language = context_.language();
  std::optional<GroupProgress> progress;
  if (sink.observer() != nullptr) {
    progress.emplace(*sink.observer(), size,
                     [&announcer, first](std::size_t k) { announcer.begins(first + k); });
  }
  std::vector<GroupStatement> statements(size);
  const std::size_t entries = registry_.entries().size();
  StatementWatch* const watch = statementWatch();
  const auto evaluate = [&](std::size_t k) {
    GroupStatement& statement = statements[k];
    statement.sink = ErrorSink(progress ? &progress->relay(k) : nullptr);
    try {
      if (watch != nullptr) watch->started(first + k);
      statement.calc = std::make_unique<S_Calculator>(*this);
      const Evaluation apart(*statement.calc, statement.sink, Undo::Never);
      statement.ended = statement.calc->evaluateApart(planner.text(first + k));
    } catch (const std::bad_alloc&) {
      statement.outOfMemory = true;
    } catch (const std::length_error&) {
      statement.outOfMemory = true;
    } catch (const std::system_error&) {
      statement.outOfMemory = true;
    }
    statement.outOfMemory = statement.outOfMemory || outOfMemory(statement.sink, language);
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
                                 [](const GroupStatement& s) { return s.outOfMemory; }))) {
    ++counted.repeated;
    return {GroupEnd::Again, 0};
  }
  for (std::size_t k = 0; k < size; ++k) {
    GroupStatement& statement = statements[k];
    if (!statement.sink.failed() && !statement.ended) return {GroupEnd::Apart, k};
    if (!land(statement, planner.facts(first + k).assigned, entries)) {
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
  context_.beginEvaluation();
  return withinResources([&] {
    nextToken();
    if (failed()) return false;
    Operand value = expression();
    result_.assign(value);
    return !failed() && token_ == ';' && lexer_.atEnd();
  });
}

}  // namespace vellumar::engine
