#include "ui/EvaluationRunner.h"

#include <QEvent>
#include <QEventLoop>
#include <QProgressBar>
#include <QProgressDialog>
#include <algorithm>
#include <new>
#include <system_error>

#include "engine/EngineMessages.h"
#include "ui/UiMessages.h"

namespace vellumar::ui {
namespace {

constexpr int kDialogDelayMs = 500;
// The worker's end is noticed within a poll; the dialog is updated as often.
constexpr int kPollMs = 10;
constexpr int kProgressSteps = 1000;

}  // namespace

std::optional<double> ProgressBridge::Snapshot::share() const {
  const bool measured = open && total > 0;
  const double part =
      measured ? std::clamp(static_cast<double>(done) / static_cast<double>(total), 0.0, 1.0) : 0.0;
  if (statements > 1) return (statement + part) / statements;
  if (measured) return part;
  return std::nullopt;
}

void ProgressBridge::start(std::string_view caption, std::int64_t total) {
  std::lock_guard lock(mutex_);
  state_.open = true;
  state_.caption = caption;
  state_.total = total;
  state_.done = 0;
}

bool ProgressBridge::step(std::int64_t done) {
  {
    std::lock_guard lock(mutex_);
    state_.done = done;
  }
  return !cancelled_;
}

void ProgressBridge::close() {
  std::lock_guard lock(mutex_);
  state_.open = false;
}

void ProgressBridge::statement(int index, int count) {
  std::lock_guard lock(mutex_);
  state_.statement = index;
  state_.statements = count;
}

void ProgressBridge::reset() {
  std::lock_guard lock(mutex_);
  state_ = {};
  cancelled_ = false;
}

ProgressBridge::Snapshot ProgressBridge::snapshot() const {
  std::lock_guard lock(mutex_);
  return state_;
}

EvaluationRunner::EvaluationRunner(engine::S_Calculator& calc, QWidget* dialogParent)
    : calc_(calc), dialogParent_(dialogParent) {
  evaluate_ = [](engine::S_Calculator& c, std::string& text) { return c.run(text); };
  pollTimer_.setInterval(kPollMs);
  connect(&pollTimer_, &QTimer::timeout, this, &EvaluationRunner::poll);
}

EvaluationRunner::~EvaluationRunner() {
  if (!running_) return;
  bridge_.cancel();
  if (thread_.joinable()) thread_.join();
}

void EvaluationRunner::launch(std::function<void()> work, engine::Undo undo) {
  bridge_.reset();
  shownSteps_ = 0;
  current_.emplace(calc_, &bridge_, undo);
  running_ = true;
  workDone_.store(false, std::memory_order_relaxed);
  // The worker says it is done through an atomic flag that the window's timer reads: nothing of
  // the worker's making crosses to the window's thread before it has been joined.
  auto body = [this, work = std::move(work)] {
    // A file too large for memory fails its load or save (the caller's status says so), never
    // the program.
    try {
      work();
    } catch (const std::bad_alloc&) {
    }
    workDone_.store(true, std::memory_order_release);
  };
  clock_.start();
  pollTimer_.start();
  // A plain thread, not a QThread: nothing of Qt runs in it, so no Qt state is handed between
  // the threads. Without the resources for a thread, the work runs here.
  try {
    thread_ = std::thread(body);
  } catch (const std::system_error&) {
    body();
  }
}

void EvaluationRunner::start(const std::string& text) {
  start(text, evaluate_);
}

void EvaluationRunner::start(const std::string& text, Evaluate evaluate) {
  if (running()) return;
  evaluation_ = true;
  measured_ = false;
  caption_ = text::kEvaluating.in(calc_.language());
  text_ = text;
  ok_ = false;
  launch([this, evaluate = std::move(evaluate)] { ok_ = evaluate(calc_, text_); },
         engine::Undo::OnCancel);
}

bool EvaluationRunner::runTask(const std::string& caption, std::function<void()> work,
                               bool measured) {
  if (running()) return false;
  evaluation_ = false;
  measured_ = measured;
  caption_ = caption;
  QEventLoop loop;
  connect(this, &EvaluationRunner::taskFinished, &loop, &QEventLoop::quit);
  launch(std::move(work), engine::Undo::Never);
  loop.exec();
  // A quitting application ends every event loop, this one too, while the worker may still use
  // what the caller handed it: the worker is stopped and waited for before the caller goes on.
  if (running()) {
    bridge_.cancel();
    if (thread_.joinable()) thread_.join();
    onThreadFinished();
  }
  return !bridge_.cancelled();
}

void EvaluationRunner::createDialog() {
  dialog_ = new QProgressDialog(dialogParent_);
  dialog_->setWindowTitle(QString::fromUtf8(text::kProgramName.in(calc_.language())));
  dialog_->setCancelButtonText(QString::fromUtf8(text::kCancel.in(calc_.language())));
  dialog_->setAutoClose(false);
  dialog_->setAutoReset(false);
  dialog_->setMinimumDuration(0);
  // The percentage done, where the work reports its total.
  auto* bar = new QProgressBar(dialog_);
  bar->setFormat(QStringLiteral("%p%"));
  bar->setTextVisible(true);
  dialog_->setBar(bar);
  dialog_->installEventFilter(this);
  connect(dialog_, &QProgressDialog::canceled, this, &EvaluationRunner::cancel);
}

bool EvaluationRunner::eventFilter(QObject* watched, QEvent* event) {
  // A close from outside (the window manager's button, Alt+F4) is a close request of the
  // program, not a cancel. Escape and the cancel button cancel the work; the close event of
  // Escape never gets here (the dialog eats it), and the cancel button only hides the dialog.
  if (watched == dialog_ && event->type() == QEvent::Close) {
    event->ignore();
    emit closeRequested();
    return true;
  }
  return QObject::eventFilter(watched, event);
}

void EvaluationRunner::poll() {
  if (workDone_.load(std::memory_order_acquire)) {
    onThreadFinished();
    return;
  }
  if (clock_.elapsed() < kDialogDelayMs) return;
  const ProgressBridge::Snapshot progress = bridge_.snapshot();
  if (dialog_ == nullptr) createDialog();
  dialog_->setLabelText(QString::fromStdString(
      progress.open && !progress.caption.empty() ? progress.caption : caption_));
  const std::optional<double> share = progress.share();
  if (share || measured_) {
    const int steps = static_cast<int>(share.value_or(0.0) * kProgressSteps);
    shownSteps_ = progress.statements > 1 ? std::max(shownSteps_, steps) : steps;
    dialog_->setRange(0, kProgressSteps);
    dialog_->setValue(shownSteps_);
  } else {
    dialog_->setRange(0, 0);
  }
  if (!dialog_->isVisible()) dialog_->show();
}

void EvaluationRunner::onThreadFinished() {
  pollTimer_.stop();
  if (thread_.joinable()) thread_.join();
  running_ = false;
  if (dialog_ != nullptr) {
    dialog_->hide();
    dialog_->deleteLater();
    dialog_ = nullptr;
  }
  // A kernel that never asked about progress cannot notice the cancel button; its result is
  // dropped all the same, so a cancelled evaluation never looks like a success, and whatever it
  // assigned is undone as the evaluation ends.
  if (bridge_.cancelled()) current_->cancel();
  current_.reset();
  if (!evaluation_) {
    emit taskFinished();
    return;
  }
  if (bridge_.cancelled()) {
    ok_ = false;
    text_ = engine::text::kCancelled.in(calc_.language());
  }
  emit finished(ok_, QString::fromStdString(text_));
}

}  // namespace vellumar::ui
