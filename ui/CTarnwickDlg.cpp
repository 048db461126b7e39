#include "ui/CTarnwickDlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QRadioButton>
#include <QShortcut>
#include <QTimer>
#include <QVBoxLayout>
#include <array>
#include <functional>

#include "common/CFormat.h"
#include "engine/EngineMessages.h"
#include "engine/LayerRecords.h"
#include "engine/ResultText.h"
#include "ui/QtText.h"
#include "ui/UiMessages.h"
#include "ui/UserDialogs.h"
#include "ui/ViewValues.h"

namespace vellumar::ui {

using engine::FileKind;

CTarnwickDlg::CTarnwickDlg(UserDialogs& dialogs, const QString& startDirectory, QWidget* parent)
    : QWidget(parent),
      dialogs_(dialogs),
      history_(QDir(startDirectory).filePath(QStringLiteral("history.ses")).toStdString()),
      runner_(std::make_unique<EvaluationRunner>(calc_, this)) {
  setWindowTitle(QStringLiteral("Vellumar"));
  setObjectName(QStringLiteral("CTarnwickDlg"));
  setStyleSheet(
      QStringLiteral("#CTarnwickDlg, #content { background: rgb(205, 208, 213); }"
                     "QLabel, QRadioButton, QGroupBox { color: rgb(103, 33, 7); }"));

  buildContent();

  for (const QKeySequence& keys :
       {QKeySequence(Qt::CTRL | Qt::Key_Return), QKeySequence(Qt::CTRL | Qt::Key_Enter)}) {
    connect(new QShortcut(keys, this), &QShortcut::activated, this, &CTarnwickDlg::evaluate);
  }
  auto* about = new QAction(fromUtf8(text::kAboutItem.in(calc_.language())), this);
  connect(about, &QAction::triggered, this, &CTarnwickDlg::showAbout);
  addAction(about);
  setContextMenuPolicy(Qt::ActionsContextMenu);

  connect(runner_.get(), &EvaluationRunner::finished, this, &CTarnwickDlg::onEvaluationFinished);
  // Closing the progress dialog from the window manager asks what closing the window asks.
  connect(runner_.get(), &EvaluationRunner::closeRequested, this, &QWidget::close,
          Qt::QueuedConnection);

  buildParts();
  editor_->display()->setFocus();
  // A memory limit or thread count setting that is no usable value is not ignored in silence.
  if (const std::string warning = engine::environmentWarnings(calc_.language()); !warning.empty()) {
    showMessage(fromUtf8(warning), true);
  }
}

// The tool windows refer to the evaluator and the workspace: they go before those members do.
CTarnwickDlg::~CTarnwickDlg() {
  tools_->closeAll();
}

void CTarnwickDlg::buildContent() {
  content_ = new QWidget(this);
  content_->setObjectName(QStringLiteral("content"));
  editor_ = new DisplayEditor(history_, content_, this);
  setAcceptDrops(true);

  auto* keypad = new QGridLayout;
  editor_->buildKeypad(keypad, content_);
  auto* functions = new QGridLayout;
  functions->setSpacing(2);
  editor_->buildFunctionButtons(functions, content_);

  auto* keys = new QHBoxLayout;
  keys->addLayout(keypad);
  keys->addSpacing(12);
  keys->addLayout(functions, 1);

  auto* contentLayout = new QVBoxLayout(content_);
  contentLayout->addWidget(editor_->display(), 1);
  contentLayout->addWidget(editor_->messageLine());
  contentLayout->addWidget(buildCommands());
  contentLayout->addLayout(keys);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(content_);
}

void CTarnwickDlg::buildParts() {
  const FileTaskRunner runFileTask = [this](const MessageText& caption, const std::string& file,
                                            std::function<void()> work) {
    return this->runFileTask(caption, file, std::move(work));
  };
  tools_ = new ToolWindows(this, dialogs_, calc_, workspace_, history_, runFileTask);
  connect(tools_, &ToolWindows::nameChosen, this, &CTarnwickDlg::insertAtCaret);
  connect(tools_, &ToolWindows::entryChosen, this, &CTarnwickDlg::replaceDisplay);
  connect(viewValues(), &ViewValues::showRequested, this, [this](const QString& name) {
    if (const engine::Calc_ID* entry = calc_.registry().find(name.toStdString())) {
      showInView(entry->value, entry->name);
    }
  });
  connect(viewValues(), &ViewValues::saveRequested, this, [this](const QString& name) {
    if (const engine::Calc_ID* entry = calc_.registry().find(name.toStdString())) {
      saveOperand(engine::Operand(entry->value));
    }
  });
  files_ = new FileCommands(
      this, dialogs_, calc_, workspace_, *editor_, *tools_, runFileTask,
      [this] { return closePending_; }, [this] { return runner_->running(); });
}

QWidget* CTarnwickDlg::buildCommands() {
  struct Command {
    const char* caption;
    const char* tooltip;
    void (CTarnwickDlg::*action)();
  };
  static constexpr std::array<Command, 10> kCommands{{
      {"Расчет", nullptr, &CTarnwickDlg::evaluate},
      {"Сброс", "Очистить табло", &CTarnwickDlg::resetDisplay},
      {"<-", "Удалить последний символ", &CTarnwickDlg::deleteLastCharacter},
      {"Сохранить", "", &CTarnwickDlg::saveCurrentResult},
      {"Вид", nullptr, &CTarnwickDlg::showView},
      {"ID", "Значения идентификаторов", &CTarnwickDlg::showIdentifiers},
      {"История", "История ввода в табло", &CTarnwickDlg::showHistory},
      {"<<", "Загрузить в табло", &CTarnwickDlg::loadDisplay},
      {">>", "Сохранить содержимое табло", &CTarnwickDlg::saveDisplay},
      {"Справка", "Типы аргументов и формат функций", &CTarnwickDlg::showHelp},
  }};
  auto* box = new QWidget(content_);
  auto* grid = new QGridLayout(box);
  grid->setContentsMargins(0, 0, 0, 0);
  int column = 0;
  for (const Command& command : kCommands) {
    QAbstractButton* button = editor_->addButton(QString::fromUtf8(command.caption),
                                                 QString::fromUtf8(command.tooltip), box);
    if (command.tooltip == nullptr) button->setToolTip({});
    connect(button, &QAbstractButton::clicked, this, command.action);
    grid->addWidget(button, 0, column++);
  }
  QAbstractButton* evaluateButton = button(QStringLiteral("Расчет"));
  evaluateButton->setStyleSheet(QStringLiteral("font-weight: bold;"));
  evaluateButton->setToolTip(fromUtf8(text::kEvaluateTip.in(calc_.language())));
  button(QStringLiteral("Вид"))->setToolTip(fromUtf8(text::kViewTip.in(calc_.language())));

  const std::array<std::pair<const char*, std::function<void()>>, 4> loads{{
      {"Гриды", [this] { loadFile(FileKind::Grid); }},
      {"Данные", [this] { loadData(); }},
      {"Линии", [this] { loadFile(FileKind::Lines); }},
      {"Полигоны", [this] { loadFile(FileKind::Polygon); }},
  }};
  column = 0;
  for (const auto& [caption, load] : loads) {
    QAbstractButton* loadButton = editor_->addButton(QString::fromUtf8(caption), {}, box);
    connect(loadButton, &QAbstractButton::clicked, this, load);
    grid->addWidget(loadButton, 1, column++);
  }
  buildUnits(box, grid);
  buildByRecord(box, grid);
  return box;
}

void CTarnwickDlg::buildUnits(QWidget* box, QGridLayout* grid) {
  auto* angles = new QGroupBox(box);
  radians_ = new QRadioButton(QStringLiteral("Радиан"), angles);
  auto* degrees = new QRadioButton(QStringLiteral("Градус"), angles);
  radians_->setChecked(true);
  auto* angleLayout = new QHBoxLayout(angles);
  angleLayout->addWidget(radians_);
  angleLayout->addWidget(degrees);
  auto* units = new QGroupBox(box);
  kilometres_ = new QRadioButton(QStringLiteral("км"), units);
  auto* metres = new QRadioButton(QStringLiteral("м"), units);
  kilometres_->setChecked(true);
  auto* unitLayout = new QHBoxLayout(units);
  unitLayout->addWidget(kilometres_);
  unitLayout->addWidget(metres);
  for (QAbstractButton* radio :
       {static_cast<QAbstractButton*>(radians_), static_cast<QAbstractButton*>(degrees),
        static_cast<QAbstractButton*>(kilometres_), static_cast<QAbstractButton*>(metres)}) {
    radio->setFocusPolicy(Qt::NoFocus);
    editor_->keepButton(radio);
  }
  grid->addWidget(angles, 1, 4, 1, 3);
  grid->addWidget(units, 1, 7, 1, 3);
}

void CTarnwickDlg::buildByRecord(QWidget* box, QGridLayout* grid) {
  auto* records = new QWidget(box);
  auto* recordsLayout = new QHBoxLayout(records);
  recordsLayout->setContentsMargins(0, 0, 0, 0);
  byRecord_ = new QCheckBox(QStringLiteral("По объектам"), records);
  byRecord_->setToolTip(fromUtf8(text::kByRecordTip.in(calc_.language())));
  byRecord_->setFocusPolicy(Qt::NoFocus);
  recordLayer_ = new QLineEdit(QStringLiteral("P1"), records);
  recordLayer_->setMaximumWidth(60);
  recordLayer_->setEnabled(false);
  connect(byRecord_, &QCheckBox::toggled, recordLayer_, &QWidget::setEnabled);
  recordsLayout->addWidget(byRecord_);
  recordsLayout->addWidget(recordLayer_);
  recordsLayout->addStretch(1);
  editor_->keepButton(byRecord_);
  grid->addWidget(records, 2, 0, 1, 4);
}

QString CTarnwickDlg::messageText() const {
  return editor_->messageText();
}

QColor CTarnwickDlg::messageColor() const {
  return editor_->messageColor();
}

QAbstractButton* CTarnwickDlg::button(const QString& caption) const {
  return editor_->button(caption);
}

FileListWindow* CTarnwickDlg::fileListWindow(FileKind kind) const {
  return tools_->fileList(kind);
}

CDataListDialog* CTarnwickDlg::dataWindow(int slot) const {
  return tools_->dataWindow(slot);
}

ViewValues* CTarnwickDlg::viewValues() const {
  return tools_->viewValues();
}

HistoryWindow* CTarnwickDlg::historyWindow() const {
  return tools_->historyWindow();
}

HelpWindow* CTarnwickDlg::helpWindow() const {
  return tools_->helpWindow();
}

mapview::CRVWnd* CTarnwickDlg::mapView() const {
  return tools_->mapView();
}

// --- the parts' commands ---

void CTarnwickDlg::insertAtCaret(const QString& text) {
  editor_->insertAtCaret(text);
}

void CTarnwickDlg::pressKey(const QString& caption) {
  editor_->pressKey(caption);
}

void CTarnwickDlg::replaceDisplay(const QString& text) {
  editor_->replaceDisplay(text);
}

void CTarnwickDlg::deleteLastCharacter() {
  editor_->deleteLastCharacter();
}

void CTarnwickDlg::resetDisplay() {
  editor_->resetDisplay();
}

void CTarnwickDlg::loadDisplay() {
  files_->loadDisplay();
}

void CTarnwickDlg::saveDisplay() {
  files_->saveDisplay();
}

void CTarnwickDlg::loadFile(FileKind kind) {
  files_->loadFile(kind);
}

void CTarnwickDlg::loadData() {
  files_->loadData();
}

void CTarnwickDlg::loadDroppedFiles(const QStringList& paths) {
  files_->loadDroppedFiles(paths);
}

void CTarnwickDlg::saveCurrentResult() {
  files_->saveOperand(currentResult_);
}

void CTarnwickDlg::saveOperand(const engine::Operand& operand) {
  files_->saveOperand(operand);
}

void CTarnwickDlg::showView() {
  showInView(currentResult_);
}

void CTarnwickDlg::showInView(const engine::Operand& operand, const std::string& name) {
  // A number is saved instead, as "Сохранить" does.
  if (operand.isNumber()) {
    saveOperand(operand);
    return;
  }
  tools_->showInView(operand, name);
}

void CTarnwickDlg::showIdentifiers() {
  tools_->showIdentifiers();
}

void CTarnwickDlg::showHistory() {
  tools_->showHistory(button(QStringLiteral("История")));
}

void CTarnwickDlg::showHelp() {
  tools_->showHelp();
}

void CTarnwickDlg::showAbout() {
  const Language language = calc_.language();
  dialogs_.message(this,
                   QStringLiteral("Vellumar\n%1\n\n%2")
                       .arg(QString::fromUtf8(text::kVersion.in(language)),
                            QString::fromUtf8(text::kDescription.in(language))),
                   UserDialogs::Icon::Information);
}

void CTarnwickDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!files_->droppable(event->mimeData()).isEmpty()) event->acceptProposedAction();
}

void CTarnwickDlg::dropEvent(QDropEvent* event) {
  const QStringList files = files_->droppable(event->mimeData());
  if (files.isEmpty()) return;
  event->acceptProposedAction();
  // Loading runs dialogs and waits for the worker: not inside the drop's own event handling.
  QTimer::singleShot(0, this, [this, files] { loadDroppedFiles(files); });
}

// --- evaluation ---

void CTarnwickDlg::evaluate() {
  if (runner_->running()) return;
  showMessage({}, false);
  const QString text = display()->toPlainText();
  if (text.isEmpty()) return;
  history_.append(text.toStdString());
  calc_.setLengthTolerance(kilometres_->isChecked() ? 0.001 : 1.0);
  calc_.setAnglesInRadians(radians_->isChecked());
  QApplication::setOverrideCursor(Qt::WaitCursor);
  setBusy(true);
  recordFailures_.clear();
  if (byRecord_->isChecked()) {
    const std::string layer = recordLayer_->text().trimmed().toStdString();
    runner_->start(text.toStdString(), [this, layer](engine::S_Calculator& calc, std::string& t) {
      return evaluateByRecord(calc, layer, t);
    });
    return;
  }
  runner_->start(text.toStdString());
}

bool CTarnwickDlg::evaluateByRecord(engine::S_Calculator& calc, const std::string& layer,
                                    std::string& text) {
  ErrorSink* sink = calc.attachedSink();
  const engine::EachOutcome outcome =
      engine::evaluateEachRecord(calc, layer, text, sink->observer());
  for (const engine::RecordOutcome& record : outcome.records) {
    if (!record.value)
      recordFailures_.push_back(cformat("%lld\t", static_cast<long long>(record.number)) +
                                record.text);
  }
  if (!outcome.layerFound) {
    text = cformat(engine::text::kNotALayer.in(calc.language()), layer.c_str());
    return false;
  }
  if (!outcome.layer.isLineKind()) {
    // Cancelled (the runner says so), or no record succeeded: the first failure tells why.
    text = recordFailures_.empty() ? std::string() : recordFailures_.front();
    return false;
  }
  return true;
}

void CTarnwickDlg::onEvaluationFinished(bool ok, const QString& text) {
  QApplication::restoreOverrideCursor();
  setBusy(false);
  if (ok) {
    currentResult_ = calc_.result();
    // A length or area in degrees is said to be one, beside the result.
    std::string shown = engine::resultText(currentResult_, calc_.language());
    if (const std::string warning = calc_.resultWarning(); !warning.empty()) {
      shown += "    " + warning;
    }
    showMessage(QString::fromStdString(shown), false);
    if (!recordFailures_.empty()) {
      std::string list = text::kFailedRecords.in(calc_.language());
      for (const std::string& failure : recordFailures_) list += "\n" + failure;
      dialogs_.message(this, QString::fromStdString(list), UserDialogs::Icon::Information);
    }
  } else {
    showMessage(text, true);
  }
  if (ViewValues* values = viewValues(); values != nullptr && values->isVisible()) {
    values->refresh();
  }
  emit evaluationFinished();
  if (closePending_) close();
}

void CTarnwickDlg::setBusy(bool busy) {
  // The evaluator belongs to the worker thread until it finishes: nothing may reach it.
  content_->setEnabled(!busy);
  for (QWidget* window : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (window->isWindow() && window != runner_->progressDialog()) window->setEnabled(!busy);
  }
  if (!busy) display()->setFocus();
}

bool CTarnwickDlg::runFileTask(const MessageText& caption, const std::string& file,
                               std::function<void()> work) {
  // One piece of work at a time: the worker is taken while an evaluation runs.
  if (runner_->running()) return false;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  setBusy(true);
  // The progress dialog names the file; a load of a file whose size is known shows its
  // percentage from the start.
  const QFileInfo info(QString::fromStdString(file));
  QString shown = fromUtf8(caption.in(calc_.language()));
  if (!file.empty()) shown += QLatin1Char('\n') + info.fileName();
  const bool measured = &caption == &text::kLoading && info.isFile() && info.size() > 0;
  const bool completed = runner_->runTask(shown.toStdString(), std::move(work), measured);
  QApplication::restoreOverrideCursor();
  setBusy(false);
  if (closePending_) {
    QTimer::singleShot(0, this, &QWidget::close);
    return false;
  }
  return completed;
}

// --- closing ---

bool CTarnwickDlg::stopRunToClose() {
  if (closePending_) return true;
  // Asked above the progress dialog while it shows, where it can be answered.
  QWidget* progress = runner_->progressDialog();
  QWidget* above = progress != nullptr && progress->isVisible() ? progress : this;
  if (!dialogs_.question(above, fromUtf8(text::kCloseWhileRunning.in(calc_.language())),
                         UserDialogs::Icon::Question)) {
    return false;
  }
  closePending_ = true;
  runner_->cancel();
  return true;
}

void CTarnwickDlg::closeEvent(QCloseEvent* event) {
  // While the worker runs, the window closes on the user's word once it has stopped: the end of
  // the run or of the file task closes it again. A run that ended while the question was open
  // lets the window close at once.
  if (runner_->running() && (!stopRunToClose() || runner_->running())) {
    event->ignore();
    return;
  }
  resetDisplay();
  tools_->closeAll();
  event->accept();
}

}  // namespace vellumar::ui
