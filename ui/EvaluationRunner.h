#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "common/ErrorSink.h"
#include "engine/Calculator.h"
#include "engine/Evaluation.h"

class QProgressDialog;
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
    int statement = 0;  // the statement running, of a text of several
    int statements = 1;

    // The share of the whole work done, from 0 to 1: the statements before this one and the
    // part of this one its kernel reports. None when nothing tells how far the work is.
    std::optional<double> share() const;
  };

  void start(std::string_view caption, std::int64_t total) override;
  bool step(std::int64_t done) override;
  void close() override;
  void statement(int index, int count) override;

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
// reader reports a total, else a busy indicator; its cancel button asks the work to stop. A text
// of several statements shows one bar for the whole text, each statement a share, that only moves
// forward. A cancelled evaluation fails with the sink's cancel message, whether or not the kernel
// noticed, and the calculator is rolled back to its state before the run, so none of its
// assignments land.
//
// The dialog does not block the window (the window disables its own controls while the worker
// runs), so a close request of the window manager reaches the window; one that reaches the dialog
// is passed on as closeRequested().
class EvaluationRunner : public QObject {
  Q_OBJECT

 public:
  // Evaluates the text with the calculator: on success true, on failure false with the text
  // replaced by the error message (the contract of S_Calculator::run).
  using Evaluate = std::function<bool(engine::S_Calculator&, std::string&)>;

  EvaluationRunner(engine::S_Calculator& calc, QWidget* dialogParent);
  ~EvaluationRunner() override;

  void setEvaluate(Evaluate evaluate) { evaluate_ = std::move(evaluate); }
  bool running() const { return running_; }
  // Attaches a fresh sink to the calculator and starts the evaluation of text; finished() follows.
  void start(const std::string& text);
  // The same with evaluate in place of the runner's own way of evaluating, for this run only.
  void start(const std::string& text, Evaluate evaluate);
  // Runs work (a load or a save) in the worker thread with a fresh sink attached to the
  // calculator, showing caption in the progress dialog, and returns when it has finished; the
  // window goes on processing events meanwhile. False when the user cancelled.
  // A task whose amount is known (a load of a file of known size) shows a percentage from the
  // start. When the application quits meanwhile, the task is cancelled and waited for.
  bool runTask(const std::string& caption, std::function<void()> work, bool measured = false);
  void cancel() { bridge_.cancel(); }
  // The progress dialog while it exists (shown after the delay), else null.
  QProgressDialog* progressDialog() const { return dialog_; }

 signals:
  // ok: the evaluation succeeded; text: the error message on failure.
  void finished(bool ok, const QString& text);
  // A task of runTask has finished.
  void taskFinished();
  // The window manager asked to close the progress dialog.
  void closeRequested();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // Runs work in the worker thread within an evaluation of the calculator, whose cancel is
  // undone or not as undo says.
  void launch(std::function<void()> work, engine::Undo undo);
  void createDialog();
  void poll();
  void onThreadFinished();

  engine::S_Calculator& calc_;
  QWidget* dialogParent_;
  Evaluate evaluate_;
  ProgressBridge bridge_;
  std::optional<engine::Evaluation> current_;  // the work under way
  std::thread thread_;
  bool running_ = false;
  std::atomic<bool> workDone_{false};  // set by the worker as its last step
  std::string text_;
  bool ok_ = false;
  bool evaluation_ = false;
  std::string caption_;
  bool measured_ = false;  // the task's amount is known from the start
  int shownSteps_ = 0;     // the bar's value, which a text of several statements never lowers
  QTimer pollTimer_;
  QElapsedTimer clock_;
  QProgressDialog* dialog_ = nullptr;
};

}  // namespace vellumar::ui
