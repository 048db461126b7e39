#pragma once

#include <string>
#include <utility>

#include "common/ErrorSink.h"
#include "common/Language.h"
#include "common/Pointwise.h"
#include "engine/EngineMessages.h"
#include "engine/Registry.h"

namespace vellumar::engine {

// What an evaluation runs under and what it has done so far, apart from the text being parsed:
// the settings the window or command line makes (angle unit, language, length tolerance), the
// mirrors of the constants outC and mergeC, the name of the operation running, and the state of
// the evaluation under way (its nesting, whether it measured in degrees, how it grouped its
// statements, the sink its errors and progress go to).
class EvalContext {
 public:
  EvalContext() = default;
  // The same settings and a fresh state: its own sink, nothing under way. The copy of a
  // calculator, which evaluates apart from the original (a record or a statement on another
  // thread), has its context copied so.
  EvalContext(const EvalContext& other) : settings_(other.settings_) {}
  EvalContext& operator=(const EvalContext&) = delete;

  // How an evaluation ran its statements (see S_Calculator::statementGroups).
  struct StatementGroups {
    int groups = 0;
    int statements = 0;
    int repeated = 0;
  };

  void setAnglesInRadians(bool radians) { settings_.anglesInRadians = radians; }
  bool anglesInRadians() const { return settings_.anglesInRadians; }
  double angleFactor() const { return settings_.anglesInRadians ? kRadiansFactor : kDegreesFactor; }
  void setLanguage(Language language) { settings_.language = language; }
  Language language() const { return settings_.language; }
  void setLengthTolerance(double tolerance) { settings_.lengthTolerance = tolerance; }
  double lengthTolerance() const { return settings_.lengthTolerance; }
  double missingValue() const { return settings_.missingValue; }
  double mergeFill() const { return settings_.mergeFill; }
  void setMissingValue(double value) { settings_.missingValue = value; }
  void setMergeFill(double value) { settings_.mergeFill = value; }
  const std::string& contextName() const { return settings_.contextName; }
  void setContextName(std::string name) { settings_.contextName = std::move(name); }

  // The sink errors and progress go to: the one attached, else the context's own. Attaching one
  // gives it the cancel message in the context's language.
  ErrorSink& sink() const { return *sink_; }
  void attachSink(ErrorSink* sink) {
    sink_ = sink != nullptr ? sink : &ownSink_;
    sink_->setCancelMessage(text::kCancelled.in(settings_.language));
  }
  bool failed() const { return sink_->failed(); }

  // Starts the state of an evaluation afresh; the groups are counted per text, so a statement
  // evaluated apart leaves them alone.
  void beginEvaluation() {
    nesting_ = 0;
    measuredInDegrees_ = false;
  }
  void beginText() {
    beginEvaluation();
    statementGroups_ = {};
  }
  int& nesting() { return nesting_; }
  bool measuredInDegrees() const { return measuredInDegrees_; }
  void noteMeasuredInDegrees() { measuredInDegrees_ = true; }
  // The warning of a result measured in degrees; empty otherwise.
  std::string resultWarning() const {
    return measuredInDegrees_ ? text::kMeasuredInDegrees.in(settings_.language) : std::string();
  }
  StatementGroups& statementGroups() { return statementGroups_; }
  const StatementGroups& statementGroups() const { return statementGroups_; }

 private:
  struct Settings {
    std::string contextName;
    bool anglesInRadians = true;
    Language language = Language::Russian;
    double lengthTolerance = 0.001;
    double missingValue = kDefaultMissing;
    double mergeFill = 0.0;
  };

  Settings settings_;
  int nesting_ = 0;
  bool measuredInDegrees_ = false;
  StatementGroups statementGroups_;
  ErrorSink ownSink_;
  ErrorSink* sink_ = &ownSink_;
};

}  // namespace vellumar::engine
