#include "ui/EvaluationRunner.h"

#include <QEventLoop>
#include <QProgressBar>
#include <QProgressDialog>
#include <QThread>
#include <algorithm>
#include <new>

#include "engine/EngineMessages.h"
#include "ui/UiMessages.h"

namespace vellumar::ui {
namespace {

constexpr int kDialogDelayMs = 500;
constexpr int kPollMs = 50;
constexpr int kProgressSteps = 1000;

}  // namespace

void ProgressBridge::start(std::string_view caption, std::int64_t total) {
  std::lock_guard lock(mutex_);
  state_ = {true, std::string(caption), total, 0};
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
  if (thread_ == nullptr) return;
  bridge_.cancel();
  thread_->wait();
  delete thread_;
}

void EvaluationRunner::launch(std::function<void()> work) {
  bridge_.reset();
  sink_ = std::make_unique<ErrorSink>(&bridge_);
  calc_.attachErrorSink(sink_.get());
  // A file too large for memory fails its load or save (the caller's status says so), never
  // the program.
  thread_ = QThread::create([work = std::move(work)] {
    try {
      work();
    } catch (const std::bad_alloc&) {
    }
  });
  connect(thread_, &QThread::finished, this, &EvaluationRunner::onThreadFinished,
          Qt::QueuedConnection);
  clock_.start();
  pollTimer_.start();
  thread_->start();
}

void EvaluationRunner::start(const std::string& text) {
  start(text, evaluate_);
}

void EvaluationRunner::start(const std::string& text, Evaluate evaluate) {
  if (running()) return;
  evaluation_ = true;
  caption_ = text::kEvaluating.in(calc_.language());
  checkpoint_ = calc_.checkpoint();
  text_ = text;
  ok_ = false;
  launch([this, evaluate = std::move(evaluate)] { ok_ = evaluate(calc_, text_); });
}

bool EvaluationRunner::runTask(const std::string& caption, std::function<void()> work) {
  if (running()) return false;
  evaluation_ = false;
  caption_ = caption;
  QEventLoop loop;
  connect(this, &EvaluationRunner::taskFinished, &loop, &QEventLoop::quit);
  launch(std::move(work));
  loop.exec();
  return !bridge_.cancelled();
}

void EvaluationRunner::poll() {
  if (clock_.elapsed() < kDialogDelayMs) return;
  const ProgressBridge::Snapshot progress = bridge_.snapshot();
  if (dialog_ == nullptr) {
    dialog_ = new QProgressDialog(dialogParent_);
    dialog_->setWindowTitle(QString::fromUtf8(text::kProgramName.in(calc_.language())));
    dialog_->setCancelButtonText(QString::fromUtf8(text::kCancel.in(calc_.language())));
    dialog_->setWindowModality(Qt::WindowModal);
    dialog_->setAutoClose(false);
    dialog_->setAutoReset(false);
    dialog_->setMinimumDuration(0);
    // The percentage done, where the work reports its total.
    auto* bar = new QProgressBar(dialog_);
    bar->setFormat(QStringLiteral("%p%"));
    bar->setTextVisible(true);
    dialog_->setBar(bar);
    connect(dialog_, &QProgressDialog::canceled, this, &EvaluationRunner::cancel);
  }
  const bool measured = progress.open && progress.total > 0;
  dialog_->setLabelText(QString::fromStdString(
      progress.open && !progress.caption.empty() ? progress.caption : caption_));
  dialog_->setRange(0, measured ? kProgressSteps : 0);
  if (measured) {
    const double share = static_cast<double>(progress.done) / static_cast<double>(progress.total);
    dialog_->setValue(static_cast<int>(std::clamp(share, 0.0, 1.0) * kProgressSteps));
  }
  if (!dialog_->isVisible()) dialog_->show();
}

void EvaluationRunner::onThreadFinished() {
  pollTimer_.stop();
  thread_->wait();
  delete thread_;
  thread_ = nullptr;
  if (dialog_ != nullptr) {
    dialog_->hide();
    dialog_->deleteLater();
    dialog_ = nullptr;
  }
  calc_.attachErrorSink(nullptr);
  sink_.reset();
  if (!evaluation_) {
    emit taskFinished();
    return;
  }
  // A kernel that never asked about progress cannot notice the cancel button; its result is
  // dropped all the same, so a cancelled evaluation never looks like a success, and whatever it
  // assigned is undone.
  if (bridge_.cancelled()) {
    ok_ = false;
    text_ = engine::text::kCancelled.in(calc_.language());
    calc_.rollBack(checkpoint_);
  }
  checkpoint_ = {};
  emit finished(ok_, QString::fromStdString(text_));
}

}  // namespace vellumar::ui
