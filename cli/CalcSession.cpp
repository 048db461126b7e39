#include "cli/CalcSession.h"

#include <readline/history.h>
#include <readline/readline.h>

#include <unistd.h>

#include <cstdlib>
#include <iostream>

#include "common/ErrorSink.h"
#include "common/FileIo.h"
#include "common/TextEncoding.h"
#include "engine/EngineMessages.h"
#include "engine/ResultText.h"

namespace vellumar::cli {
namespace {

bool isBlankText(const std::string& text) {
  return text.find_first_not_of(" \t\r\n\v\f") == std::string::npos;
}

// A display file as the window reads it: CR LF pairs become LF, CP1251 becomes UTF-8.
std::string displayText(const std::string& bytes) {
  std::string text;
  text.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') continue;
    text += bytes[i];
  }
  return toUtf8(text);
}

}  // namespace

CalcSession::CalcSession(const Options& options, std::ostream& out, std::ostream& err)
    : options_(options), out_(out), err_(err) {
  calc_.setAnglesInRadians(!options.degrees);
  calc_.setLengthTolerance(options.meters ? 1.0 : 0.001);
  calc_.setLanguage(options.english ? Language::English : Language::Russian);
}

int CalcSession::run() {
  for (const Action& action : options_.actions) {
    if (action.type != Action::Type::Evaluate && action.type != Action::Type::EvaluateFile) {
      err_ << "vellumar-calc: option " << action.option << " is not available in this version\n";
      return exit_status::kUsage;
    }
  }
  if (!options_.outputPath.empty()) {
    err_ << "vellumar-calc: option -o is not available in this version\n";
    return exit_status::kUsage;
  }
  return runActions();
}

int CalcSession::runActions() {
  bool anyExpression = false;
  for (const Action& action : options_.actions) {
    int status = exit_status::kSuccess;
    if (action.type == Action::Type::Evaluate) {
      anyExpression = true;
      status = evaluate(action.argument) ? exit_status::kSuccess : exit_status::kEvaluationFailed;
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
  ErrorSink sink;
  calc_.attachErrorSink(&sink);
  std::string display = text;
  const bool ok = calc_.run(display);
  calc_.attachErrorSink(nullptr);
  if (ok) {
    evaluatedAny_ = true;
    out_ << engine::resultText(calc_.result(), calc_.language()) << '\n';
  } else {
    err_ << display << '\n';
  }
  out_.flush();
  return ok;
}

int CalcSession::evaluateFile(const std::string& path) {
  const auto bytes = readWholeFile(path);
  if (!bytes) {
    reportFileError(engine::text::kCannotOpenDisplayFile.in(calc_.language()));
    return exit_status::kFileFailed;
  }
  return evaluate(displayText(*bytes)) ? exit_status::kSuccess : exit_status::kEvaluationFailed;
}

int CalcSession::runStandardInput(bool interactive) {
  bool allOk = true;
  for (;;) {
    std::string line;
    if (interactive) {
      char* read = readline("vellumar> ");
      if (read == nullptr) break;
      line = read;
      std::free(read);
      if (!isBlankText(line)) add_history(line.c_str());
    } else if (!std::getline(std::cin, line)) {
      break;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    allOk = evaluate(line) && allOk;
  }
  return finish(allOk);
}

int CalcSession::finish(bool evaluationsOk) {
  if (options_.list) {
    for (const std::string& line : calc_.registry().listLines(calc_.language())) {
      out_ << line << '\n';
    }
  }
  out_.flush();
  return evaluationsOk ? exit_status::kSuccess : exit_status::kEvaluationFailed;
}

void CalcSession::reportFileError(const std::string& message) {
  err_ << message << '\n';
}

}  // namespace vellumar::cli
