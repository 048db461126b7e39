#include "cli/CalcSession.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <optional>

#include "cli/CliMessages.h"
#include "cli/Prompt.h"
#include "common/CFormat.h"
#include "common/ErrorSink.h"
#include "common/Parallel.h"
#include "common/SafeSave.h"
#include "common/TextEncoding.h"
#include "engine/EngineMessages.h"
#include "engine/LayerRecords.h"
#include "engine/ResultText.h"

namespace vellumar::cli {
namespace {

bool isBlankText(const std::string& text) {
  return text.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
}

}  // namespace

CalcSession::CalcSession(const Options& options, std::ostream& out, std::ostream& err)
    // With "-o -" standard output carries the saved file alone: what the run would print there
    // goes to standard error.
    : options_(options), out_(options.outputToStandardOutput() ? err : out), err_(err) {
  calc_.setAnglesInRadians(!options.degrees);
  calc_.setLengthTolerance(options.meters ? 1.0 : 0.001);
  calc_.setLanguage(options.english ? Language::English : Language::Russian);
  workspace_.setRasterOptions({options.creationOptions, options.dataType, 0});
}

int CalcSession::run() {
  if (const std::string warning = engine::environmentWarnings(calc_.language()); !warning.empty()) {
    err_ << warning << '\n';
  }
  if (options_.threads != 0) parallel::setThreadLimit(options_.threads);
  if (options_.tiles > 0) return runTiled();
  if (const int status = loadFiles(); status != exit_status::kSuccess) return status;
  return runActions();
}

int CalcSession::loadFiles() {
  for (const Action& action : options_.actions) {
    if (const int status = reportLoad(loadOperand(action)); status != exit_status::kSuccess) {
      return status;
    }
  }
  return exit_status::kSuccess;
}

engine::FileStatus CalcSession::loadOperand(const Action& action) {
  switch (action.type) {
    case Action::Type::LoadGrid:
      return workspace_.load(engine::FileKind::Grid, action.argument, {}, action.band);
    case Action::Type::LoadLines:
      return workspace_.load(engine::FileKind::Lines, action.argument, action.valueField);
    case Action::Type::LoadPolygon:
      return workspace_.load(engine::FileKind::Polygon, action.argument, action.valueField);
    case Action::Type::LoadData:
      return loadData(action);
    default:
      return engine::FileStatus::success();
  }
}

int CalcSession::reportLoad(const engine::FileStatus& status) {
  if (!status.ok) {
    reportFileError(status.message);
    return exit_status::kFileFailed;
  }
  // A load that succeeded with a warning (a line file without its value file).
  if (!status.message.empty()) err_ << status.message << '\n';
  return exit_status::kSuccess;
}

engine::FileStatus CalcSession::loadData(const Action& action) {
  const DataFormat& format = action.format;
  int slot = 0;
  engine::FileStatus status =
      workspace_.loadData(action.argument, {format.delimiter, format.merge, format.header}, slot);
  if (!status.ok) return status;
  engine::DataSlot& loaded = workspace_.dataSlot(slot);
  const int columns = loaded.table.columnCount();
  // Without --xy the workspace's default stands (a shapefile's X and Y columns, else 1 and 2),
  // and only for tables that have the columns.
  if (format.xyGiven) {
    loaded.xy = {format.xy.has_value(), format.xy ? format.xy->first : 0,
                 format.xy ? format.xy->second : 0};
  } else if (!data::validCoordinateColumns(loaded.xy, columns)) {
    loaded.xy = {};
  }
  // The load's warning (Z values left out) outlives the registrations.
  const std::string notice = status.message;
  for (int column = 1; column <= columns && status.ok; ++column) {
    status = workspace_.registerColumn(slot, column);
  }
  return status.ok ? engine::FileStatus::success(notice) : status;
}

int CalcSession::saveResult() {
  if (options_.outputPath.empty() || !evaluatedAny_) return exit_status::kSuccess;
  const std::string path =
      options_.outputToStandardOutput() ? std::string(kStandardOutputName) : options_.outputPath;
  const engine::FileStatus status = workspace_.save(currentResult_, path);
  if (!status.message.empty()) err_ << status.message << '\n';
  return status.ok ? exit_status::kSuccess : exit_status::kFileFailed;
}

int CalcSession::runActions() {
  bool anyExpression = false;
  // With --each the last display text is the one evaluated per record.
  const Action* perRecord = nullptr;
  for (const Action& action : options_.actions) {
    if (action.type == Action::Type::Evaluate) perRecord = &action;
  }
  for (const Action& action : options_.actions) {
    int status = exit_status::kSuccess;
    if (action.type == Action::Type::Evaluate) {
      anyExpression = true;
      const bool each = !options_.eachLayer.empty() && &action == perRecord;
      const bool ok = each ? evaluateEach(action.argument) : evaluate(action.argument);
      status = ok ? exit_status::kSuccess : exit_status::kEvaluationFailed;
    } else if (action.type == Action::Type::EvaluateFile) {
      anyExpression = true;
      status = evaluateFile(action.argument);
    }
    if (status != exit_status::kSuccess) return status;
  }
  if (!anyExpression) return runStandardInput(isatty(0) != 0);
  return finish(true);
}

bool CalcSession::evaluate(const std::string& text) {
  if (isBlankText(text)) return true;
  const engine::TextEvaluation evaluation = engine::evaluateText(calc_, text);
  if (evaluation.ok) {
    evaluatedAny_ = true;
    currentResult_ = calc_.result();
    out_ << engine::resultText(calc_.result(), calc_.language()) << '\n';
    // A length or area in degrees is said to be one, beside the result and off its stream.
    if (!evaluation.warning.empty()) err_ << evaluation.warning << '\n';
  } else {
    err_ << evaluation.message << '\n';
    if (!evaluation.detail.empty()) err_ << evaluation.detail << '\n';
  }
  out_.flush();
  return evaluation.ok;
}

bool CalcSession::evaluateEach(const std::string& text) {
  const engine::EachOutcome outcome = engine::evaluateEachRecord(
      calc_, options_.eachLayer, text, nullptr, [&](const engine::RecordOutcome& record) {
        std::ostream& to = record.value ? out_ : err_;
        to << record.number << '\t' << record.text << '\n';
        if (!record.detail.empty()) err_ << record.number << '\t' << record.detail << '\n';
      });
  out_.flush();
  if (!outcome.layerFound) {
    err_ << "--each: "
         << cformat(engine::text::kNotALayer.in(calc_.language()), options_.eachLayer.c_str())
         << '\n';
    return false;
  }
  if (!outcome.layer.isLineKind()) return false;  // no record succeeded
  if (outcome.measuredInDegrees) {
    err_ << engine::text::kMeasuredInDegrees.in(calc_.language()) << '\n';
  }
  evaluatedAny_ = true;
  currentResult_ = outcome.layer;
  return true;
}

int CalcSession::evaluateFile(const std::string& path) {
  // A display file as the window reads it.
  std::string text;
  if (const MessageText* failure = engine::readDisplayText(path, text)) {
    reportFileError(failure->in(calc_.language()));
    return exit_status::kFileFailed;
  }
  return evaluate(text) ? exit_status::kSuccess : exit_status::kEvaluationFailed;
}

int CalcSession::runStandardInput(bool interactive) {
  bool allOk = true;
  Prompt prompt("vellumar> ", options_.outputToStandardOutput() ? stderr : stdout);
  for (bool first = true;; first = false) {
    std::string line;
    if (interactive) {
      std::optional<std::string> read = prompt.next();
      if (!read) break;
      line = std::move(*read);
    } else if (!std::getline(std::cin, line)) {
      break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (first) line = std::string(withoutByteOrderMark(line));
    // Lines piped from files written on Russian Windows desktops may be CP1251.
    allOk = evaluate(toUtf8(line)) && allOk;
  }
  // Input that could not be read (a folder, a broken device) is not an empty session: nothing
  // after the last line read is saved or listed.
  if (!interactive && std::ferror(stdin) != 0) {
    err_ << text::kInputFailed.in(calc_.language()) << '\n';
    return exit_status::kUsage;
  }
  return finish(allOk);
}

int CalcSession::finish(bool evaluationsOk) {
  const int saved = evaluationsOk ? saveResult() : exit_status::kSuccess;
  if (options_.list) {
    for (const std::string& line : calc_.registry().listLines(calc_.language())) {
      out_ << line << '\n';
    }
  }
  out_.flush();
  if (!evaluationsOk) return exit_status::kEvaluationFailed;
  return saved;
}

void CalcSession::reportFileError(const std::string& message) {
  err_ << message << '\n';
}

}  // namespace vellumar::cli
