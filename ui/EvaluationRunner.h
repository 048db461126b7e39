#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"

class QProgressDialog;
class QThread;
class QWidget;

namespace vellumar::ui {

// Carries the progress of a kernel running in the worker thread to the window. The kernel calls
// start/step/close from the worker thread; the window reads a snapshot and sets the cancel flag
// from the main thread.
class ProgressBridge final : public ProgressObserver {
 public:
  struct Snapshot {
    bool open = false;
    std::string caption;
    std::int64_t total = 0;
    std::int64_t done = 0;
  };

  void start(std::string_view caption, std::int64_t total) override;
  bool step(std::int64_t done) override;
  void close() override;

  void reset();
  void cancel() { cancelled_ = true; }
  bool cancelled() const { return cancelled_; }
  Snapshot snapshot() const;

 private:
  mutable std::mutex mutex_;
  Snapshot state_;
  std::atomic<bool> cancelled_{false};
};

// Runs one evaluation, load or save at a time in a worker thread so the window keeps repainting.
// After about half a second a progress dialog appears: with a percentage when the kernel or
// reader reports a total, else a busy indicator; its cancel button asks the work to stop. A
// cancelled evaluation fails with the sink's cancel message, whether or not the kernel noticed,
// and the calculator is rolled back to its state before the run, so none of its assignments land.
class EvaluationRunner : public QObject {
  Q_OBJECT

 public:
  // Evaluates the text with the calculator: on success true, on failure false with the text
  // replaced by the error message (the contract of S_Calculator::run).
  using Evaluate = std::function<bool(engine::S_Calculator&, std::string&)>;

  EvaluationRunner(engine::S_Calculator& calc, QWidget* dialogParent);
  ~EvaluationRunner() override;

  void setEvaluate(Evaluate evaluate) { evaluate_ = std::move(evaluate); }
  bool running() const { return thread_ != nullptr; }
  // Attaches a fresh sink to the calculator and starts the evaluation of text; finished() follows.
  void start(const std::string& text);
  // The same with evaluate in place of the runner's own way of evaluating, for this run only.
  void start(const std::string& text, Evaluate evaluate);
  // Runs work (a load or a save) in the worker thread with a fresh sink attached to the
  // calculator, showing caption in the progress dialog, and returns when it has finished; the
  // window goes on processing events meanwhile. False when the user cancelled.
  bool runTask(const std::string& caption, std::function<void()> work);
  void cancel() { bridge_.cancel(); }
  // The progress dialog while it exists (shown after the delay), else null.
  QProgressDialog* progressDialog() const { return dialog_; }

 signals:
  // ok: the evaluation succeeded; text: the error message on failure.
  void finished(bool ok, const QString& text);
  // A task of runTask has finished.
  void taskFinished();

 private:
  void launch(std::function<void()> work);
  void poll();
  void onThreadFinished();

  engine::S_Calculator& calc_;
  QWidget* dialogParent_;
  Evaluate evaluate_;
  ProgressBridge bridge_;
  std::unique_ptr<ErrorSink> sink_;
  QThread* thread_ = nullptr;
  std::string text_;
  bool ok_ = false;
  bool evaluation_ = false;
  std::string caption_;
  engine::S_Calculator::Checkpoint checkpoint_;
  QTimer pollTimer_;
  QElapsedTimer clock_;
  QProgressDialog* dialog_ = nullptr;
};

}  // namespace vellumar::ui
