#include "ui/CTarnwickDlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QFontDatabase>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QTextCursor>
#include <QTimer>
#include <QUrl>
#include <QVBoxLayout>
#include <algorithm>
#include <array>
#include <functional>

#include "common/CFormat.h"
#include "common/DisplayFile.h"
#include "data/DataMessages.h"
#include "data/Shapefile.h"
#include "engine/EngineMessages.h"
#include "engine/LayerRecords.h"
#include "engine/ResultText.h"
#include "formats/FormatMessages.h"
#include "formats/VectorFile.h"
#include "ui/CDataListDialog.h"
#include "ui/FileDialogs.h"
#include "ui/FileListWindow.h"
#include "ui/FunctionButtons.h"
#include "ui/HelpWindow.h"
#include "ui/HistoryWindow.h"
#include "ui/UiMessages.h"
#include "ui/UserDialogs.h"
#include "ui/ViewValues.h"
#include "ui/mapview/CRVWnd.h"
#include "ui/mapview/MapViewMessages.h"

namespace vellumar::ui {
namespace {

using engine::FileKind;

// Keypad rows: digits, operators and constants, inserted as they stand ("(" as "(  )").
constexpr std::array<std::array<const char*, 5>, 5> kKeypad{{
    {"7", "8", "9", "/", "("},
    {"4", "5", "6", "*", ")"},
    {"1", "2", "3", "-", ";"},
    {"0", ".", ",", "+", "="},
    {"Pi", "e", "outC", "mergeC", ""},
}};

constexpr int kFunctionColumns = 10;
constexpr int kLastLinesShown = 3;

// The pale colours of the function buttons, alternating by column.
constexpr std::array<const char*, 3> kFunctionColours = {"rgb(210, 220, 238)", "rgb(230, 220, 240)",
                                                         "rgb(225, 234, 250)"};

engine::FileStatus outOfMemory(Language language) {
  return engine::FileStatus::failure(engine::text::kOutOfMemory.in(language));
}

QString fromUtf8(std::string_view text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

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

  content_ = new QWidget(this);
  content_->setObjectName(QStringLiteral("content"));
  display_ = new QPlainTextEdit(content_);
  display_->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  display_->setMinimumHeight(110);
  messageLine_ = new QLineEdit(content_);
  messageLine_->setReadOnly(true);
  setAcceptDrops(true);

  auto* keypad = new QGridLayout;
  buildKeypad(keypad);
  auto* functions = new QGridLayout;
  functions->setSpacing(2);
  buildFunctionButtons(functions);

  auto* keys = new QHBoxLayout;
  keys->addLayout(keypad);
  keys->addSpacing(12);
  keys->addLayout(functions, 1);

  auto* contentLayout = new QVBoxLayout(content_);
  contentLayout->addWidget(display_, 1);
  contentLayout->addWidget(messageLine_);
  contentLayout->addWidget(buildCommands());
  contentLayout->addLayout(keys);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(content_);

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

  viewValues_ = new ViewValues(calc_.registry(), calc_.language(), this);
  connect(viewValues_, &ViewValues::nameChosen, this, &CTarnwickDlg::insertAtCaret);
  connect(viewValues_, &ViewValues::showRequested, this, [this](const QString& name) {
    if (const engine::Calc_ID* entry = calc_.registry().find(name.toStdString())) {
      showInView(entry->value, entry->name);
    }
  });
  connect(viewValues_, &ViewValues::saveRequested, this, [this](const QString& name) {
    if (const engine::Calc_ID* entry = calc_.registry().find(name.toStdString())) {
      saveOperand(engine::Operand(entry->value));
    }
  });
  dbfFields_ = engine::Workspace::layerFields;
  display_->setFocus();
  // A memory limit or thread count setting that is no usable value is not ignored in silence.
  if (const std::string warning = engine::environmentWarnings(calc_.language()); !warning.empty()) {
    showMessage(fromUtf8(warning), true);
  }
}

// The tool windows refer to the evaluator and the workspace: they go before those members do.
CTarnwickDlg::~CTarnwickDlg() {
  closeToolWindows();
}

QAbstractButton* CTarnwickDlg::addButton(const QString& caption, const QString& tooltip,
                                         QWidget* parent) {
  auto* button = new QPushButton(caption, parent);
  button->setToolTip(tooltip);
  button->setFocusPolicy(Qt::NoFocus);  // the caret stays in the display
  buttons_[caption] = button;
  return button;
}

void CTarnwickDlg::buildKeypad(QGridLayout* layout) {
  for (int row = 0; row < static_cast<int>(kKeypad.size()); ++row) {
    for (int column = 0; column < static_cast<int>(kKeypad[0].size()); ++column) {
      const QString caption = QString::fromUtf8(kKeypad[row][column]);
      if (caption.isEmpty()) continue;
      QAbstractButton* key = addButton(caption, {}, content_);
      // Wide enough for its caption ("mergeC"), never below the keypad's usual width.
      key->setMinimumWidth(std::max(44, key->sizeHint().width()));
      connect(key, &QAbstractButton::clicked, this, [this, caption] { pressKey(caption); });
      layout->addWidget(key, row, column);
    }
  }
}

void CTarnwickDlg::buildFunctionButtons(QGridLayout* layout) {
  int index = 0;
  for (const FunctionButton& function : functionButtons()) {
    const QString caption = fromUtf8(function.caption);
    QAbstractButton* key = addButton(caption, fromUtf8(function.tooltip), content_);
    key->setStyleSheet(
        QStringLiteral("QPushButton { background: %1; border: 1px solid rgb(160, 165, 180);"
                       " padding: 3px 6px; } QPushButton:pressed { background: white; }")
            .arg(QString::fromUtf8(
                kFunctionColours[(index % kFunctionColumns) % kFunctionColours.size()])));
    connect(key, &QAbstractButton::clicked, this, [this, caption] { pressKey(caption); });
    layout->addWidget(key, index / kFunctionColumns, index % kFunctionColumns);
    ++index;
  }
  for (int column = 0; column < kFunctionColumns; ++column) layout->setColumnStretch(column, 1);
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
  auto place = [&](QAbstractButton* button, int row) { grid->addWidget(button, row, column); };

  for (const Command& command : kCommands) {
    QAbstractButton* button =
        addButton(QString::fromUtf8(command.caption), QString::fromUtf8(command.tooltip), box);
    if (command.tooltip == nullptr) button->setToolTip({});
    connect(button, &QAbstractButton::clicked, this, command.action);
    place(button, 0);
    ++column;
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
    QAbstractButton* loadButton = addButton(QString::fromUtf8(caption), {}, box);
    connect(loadButton, &QAbstractButton::clicked, this, load);
    place(loadButton, 1);
    ++column;
  }

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
    buttons_[radio->text()] = radio;
  }
  grid->addWidget(angles, 1, 4, 1, 3);
  grid->addWidget(units, 1, 7, 1, 3);

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
  buttons_[byRecord_->text()] = byRecord_;
  grid->addWidget(records, 2, 0, 1, 4);
  return box;
}

QString CTarnwickDlg::messageText() const {
  return messageLine_->text();
}

QColor CTarnwickDlg::messageColor() const {
  return messageLine_->palette().color(QPalette::Text);
}

void CTarnwickDlg::showMessage(const QString& text, bool error) {
  QPalette colours = messageLine_->palette();
  colours.setColor(QPalette::Text, error ? QColor(200, 0, 0) : palette().color(QPalette::Text));
  messageLine_->setPalette(colours);
  messageLine_->setText(text);
}

QAbstractButton* CTarnwickDlg::button(const QString& caption) const {
  const auto found = buttons_.find(caption);
  return found == buttons_.end() ? nullptr : found->second;
}

FileListWindow* CTarnwickDlg::fileListWindow(FileKind kind) const {
  const auto found = fileLists_.find(kind);
  return found == fileLists_.end() ? nullptr : found->second.data();
}

CDataListDialog* CTarnwickDlg::dataWindow(int slot) const {
  const auto found = dataWindows_.find(slot);
  return found == dataWindows_.end() ? nullptr : found->second.data();
}

ViewValues* CTarnwickDlg::viewValues() const {
  return viewValues_;
}
HistoryWindow* CTarnwickDlg::historyWindow() const {
  return historyWindow_;
}
HelpWindow* CTarnwickDlg::helpWindow() const {
  return helpWindow_;
}

// --- display ---

void CTarnwickDlg::insertAtCaret(const QString& text) {
  display_->textCursor().insertText(text);
  display_->ensureCursorVisible();
}

void CTarnwickDlg::pressKey(const QString& caption) {
  const Insertion insertion = insertionFor(caption.toStdString());
  showMessage(QString::fromStdString(insertion.hint), false);
  insertAtCaret(QString::fromStdString(insertion.text));
}

void CTarnwickDlg::replaceDisplay(const QString& text) {
  // One undoable edit, as typing over a selection of everything is.
  QTextCursor cursor(display_->document());
  cursor.select(QTextCursor::Document);
  cursor.insertText(text);
  display_->setTextCursor(cursor);
  display_->setFocus();
}

void CTarnwickDlg::deleteLastCharacter() {
  const QString text = display_->toPlainText();
  if (text.isEmpty()) return;
  qsizetype keep = text.size() - 1;
  if (keep > 0 && text[keep].isLowSurrogate() && text[keep - 1].isHighSurrogate()) --keep;
  // A line break goes in one press, with the character before it.
  if (keep > 0 && text[keep - 1] == QLatin1Char('\n')) --keep;
  if (keep > 0 && text[keep - 1] == QLatin1Char('\r')) --keep;
  QTextCursor cursor = display_->textCursor();
  cursor.setPosition(static_cast<int>(keep));
  cursor.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
  cursor.removeSelectedText();
  display_->setTextCursor(cursor);
  if (display_->blockCount() > kLastLinesShown) {
    display_->verticalScrollBar()->setValue(display_->verticalScrollBar()->maximum());
  }
  display_->ensureCursorVisible();
}

void CTarnwickDlg::resetDisplay() {
  showMessage({}, false);
  const QString text = display_->toPlainText();
  if (text.isEmpty()) return;
  history_.append(text.toStdString());
  display_->clear();
}

void CTarnwickDlg::loadDisplay() {
  const QString path = chooseFile(dialogs_, this, loadDisplayDialogSetup(), false);
  if (path.isEmpty()) return;
  const std::string file = path.toStdString();
  std::string text;
  // Stays a failure when the work runs out of memory.
  FileError error = FileError::OutOfMemory;
  if (!runFileTask(text::kLoading, file, [&] { error = readDisplayFile(file, text); })) return;
  if (error != FileError::None) {
    stop(engine::displayFileMessage(error).in(calc_.language()));
    return;
  }
  insertAtCaret(QString::fromStdString(text));
}

void CTarnwickDlg::saveDisplay() {
  const QString path = chooseFile(dialogs_, this, saveDisplayDialogSetup(), true);
  if (path.isEmpty()) return;
  const std::string file = path.toStdString();
  const std::string text = display_->toPlainText().toStdString();
  bool saved = false;
  if (!runFileTask(text::kSaving, file, [&] { saved = writeDisplayFile(file, text); })) return;
  if (!saved) stop(text::kCannotSaveDisplay.in(calc_.language()));
}

// --- evaluation ---

void CTarnwickDlg::evaluate() {
  if (runner_->running()) return;
  showMessage({}, false);
  const QString text = display_->toPlainText();
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
  if (viewValues_ != nullptr && viewValues_->isVisible()) viewValues_->refresh();
  emit evaluationFinished();
  if (closePending_) close();
}

void CTarnwickDlg::setBusy(bool busy) {
  // The evaluator belongs to the worker thread until it finishes: nothing may reach it.
  content_->setEnabled(!busy);
  for (QWidget* window : findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    if (window->isWindow() && window != runner_->progressDialog()) window->setEnabled(!busy);
  }
  if (!busy) display_->setFocus();
}

// --- operand files ---

void CTarnwickDlg::stop(const std::string& message) {
  dialogs_.message(this, QString::fromStdString(message), UserDialogs::Icon::Stop);
}

void CTarnwickDlg::refreshIdentifiers() {
  if (viewValues_ != nullptr) viewValues_->refresh();
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

void CTarnwickDlg::stopNamingFile(const std::string& message, const std::string& path) {
  stop(message.find(path) == std::string::npos ? message + "\n" + path : message);
}

void CTarnwickDlg::loadFile(FileKind kind) {
  const QString chosen = chooseFile(dialogs_, this, loadDialogSetup(kind), false);
  if (!chosen.isEmpty()) loadOperandFile(kind, chosen.toStdString());
}

void CTarnwickDlg::loadOperandFile(FileKind kind, const std::string& file) {
  // The layer of a file of several is part of the operand's path: "file.gpkg:layer".
  const std::string path = kind == FileKind::Grid ? file : chooseLayer(file);
  if (path.empty()) return;
  if (const engine::FileStatus loaded = workspace_.checkNotLoaded(kind, path); !loaded.ok) {
    stop(loaded.message);
    return;
  }
  std::string valueField;
  if (kind != FileKind::Grid && engine::Workspace::isLayerPath(path)) {
    CInputDbfDialog fields(path, dbfFields_, this);
    if (dialogs_.runDialog(fields)) valueField = fields.chosenField();
  }
  const int band = kind == FileKind::Grid ? chooseBand(path) : 1;
  if (band < 1) return;
  engine::Operand operand;
  // Stays a failure when the work runs out of memory.
  engine::FileStatus status = outOfMemory(calc_.language());
  const bool completed =
      runFileTask(text::kLoading, path, [this, kind, &path, &valueField, band, &operand, &status] {
        status = workspace_.read(kind, path, valueField, operand, band);
      });
  // A cancelled load registers nothing, even when the reader finished.
  if (!completed) return;
  if (!status.ok) {
    stopNamingFile(status.message, path);
    return;
  }
  workspace_.addLoaded(kind, path, std::move(operand));
  // A load that succeeded with a warning (no value file, Z values left out) says so.
  if (!status.message.empty()) showMessage(fromUtf8(status.message), true);
  showFileList(kind);
  refreshIdentifiers();
}

std::string CTarnwickDlg::chooseLayer(const std::string& path) {
  if (engine::Workspace::isShapefilePath(path) || !formats::readsAsVector(path) ||
      !formats::splitLayerPath(path).layer.empty()) {
    return path;
  }
  const std::vector<std::string> layers = formats::vectorLayers(path);
  // A file of one layer, or one GDAL cannot open, is read as it is, so the load says why.
  if (layers.size() <= 1) return path;
  QStringList items;
  for (const std::string& layer : layers) items << QString::fromStdString(layer);
  const std::string name = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
  const int chosen = dialogs_.chooseItem(
      this,
      QString::fromStdString(cformat(formats::text::kLayerQuestion.in(calc_.language()),
                                     name.c_str(), static_cast<int>(layers.size()))),
      items);
  if (chosen < 0) return {};
  return path + ":" + layers[static_cast<std::size_t>(chosen)];
}

int CTarnwickDlg::chooseBand(const std::string& path) {
  const int bands = engine::Workspace::gridBandCount(path);
  // A file GDAL cannot open reads as band 1, so the load reports why it fails.
  if (bands <= 1) return 1;
  const std::string name = QFileInfo(QString::fromStdString(path)).fileName().toStdString();
  return dialogs_.chooseNumber(
      this,
      QString::fromStdString(
          cformat(formats::text::kBandQuestion.in(calc_.language()), name.c_str(), bands)),
      1, bands);
}

void CTarnwickDlg::showFileList(FileKind kind) {
  QPointer<FileListWindow>& list = fileLists_[kind];
  if (list == nullptr) {
    list = new FileListWindow(kind, this);
    connect(list, &FileListWindow::nameChosen, this, &CTarnwickDlg::insertAtCaret);
    connect(list, &FileListWindow::closed, this,
            [this](FileKind closedKind) { workspace_.closeList(closedKind); });
  }
  list->setPaths(workspace_.loadedPaths(kind));
  list->show();
  list->raise();
}

bool CTarnwickDlg::dataFileLoaded(const std::string& path) {
  for (int slot = 1; slot <= workspace_.dataSlotCount(); ++slot) {
    if (workspace_.dataSlot(slot).path == path) return true;
  }
  return false;
}

void CTarnwickDlg::loadData() {
  const QString chosen = chooseFile(dialogs_, this, loadDataDialogSetup(), false);
  if (!chosen.isEmpty()) loadDataFile(chosen.toStdString());
}

void CTarnwickDlg::loadDataFile(const std::string& file) {
  const Language language = calc_.language();
  const std::string path = chooseLayer(file);
  if (path.empty()) return;
  if (dataFileLoaded(path)) {
    stop(data::text::kAlreadyLoaded.in(language));
    return;
  }
  data::ReadOptions options;
  const bool shapefile = engine::Workspace::isShapefilePath(path);
  // A layer's table has its columns from the layer, not from a text format.
  if (!engine::Workspace::isLayerPath(path)) {
    std::string head;
    if (!readDataHead(path, head)) {
      stop(cformat(data::text::kCannotOpen.in(language), path.c_str()));
      return;
    }
    DataFileProc format(dataFormat_, QFileInfo(QString::fromStdString(path)).fileName(), this);
    format.setFileHead(std::move(head));
    if (!dialogs_.runDialog(format)) return;
    dataFormat_ = format.format();
    if (!dataFormat_.readOptions(options)) {
      stop(data::text::kBadDelimiter.in(language));
      return;
    }
  }
  data::M_Data table;
  std::string system;
  // Stays a failure when the work runs out of memory.
  engine::FileStatus status = outOfMemory(calc_.language());
  const bool completed =
      runFileTask(text::kLoading, path, [this, &path, &options, &table, &system, &status] {
        status = workspace_.readDataTable(path, options, table, &system);
      });
  if (!completed) return;
  if (!status.ok) {
    // A shapefile that cannot be converted loads nothing, silently.
    if (!shapefile) stopNamingFile(status.message, path);
    return;
  }
  // A load that succeeded with a warning (Z values left out) says so.
  if (!status.message.empty()) showMessage(fromUtf8(status.message), true);
  const int slot = workspace_.storeDataTable(path, std::move(table), std::move(system));
  CDataListDialog* window = dataWindowFor(slot);
  window->showLoadedTable();
  window->show();
  window->raise();
}

namespace {

// The extensions a dropped file loads as a grid by: DSAA and the rasters read through GDAL.
bool isGridSuffix(const QString& suffix) {
  static const QStringList kGridSuffixes = {
      QStringLiteral("grd"), QStringLiteral("tif"), QStringLiteral("tiff"), QStringLiteral("asc"),
      QStringLiteral("nc"),  QStringLiteral("img"), QStringLiteral("vrt")};
  return kGridSuffixes.contains(suffix);
}

}  // namespace

void CTarnwickDlg::loadDroppedFiles(const QStringList& paths) {
  for (const QString& path : paths) {
    if (closePending_ || runner_->running()) return;
    loadDroppedFile(path);
  }
}

void CTarnwickDlg::loadDroppedFile(const QString& path) {
  const Language language = calc_.language();
  const std::string file = path.toStdString();
  const QString suffix = QFileInfo(path).suffix().toLower();
  const std::string name = QFileInfo(path).fileName().toStdString();
  if (isGridSuffix(suffix)) {
    loadOperandFile(FileKind::Grid, file);
  } else if (suffix == QLatin1String("con") || suffix == QLatin1String("lin")) {
    loadOperandFile(FileKind::Lines, file);
  } else if (suffix == QLatin1String("pol")) {
    loadOperandFile(FileKind::Polygon, file);
  } else if (suffix == QLatin1String("dat") || suffix == QLatin1String("txt") ||
             suffix == QLatin1String("csv")) {
    loadDataFile(file);
  } else if (suffix == QLatin1String("shp") || engine::Workspace::isLayerPath(file)) {
    const QStringList answers = {fromUtf8(text::kAsLines.in(language)),
                                 fromUtf8(text::kAsPolygons.in(language)),
                                 fromUtf8(text::kAsData.in(language))};
    switch (dialogs_.choose(
        this,
        QString::fromStdString(cformat(text::kShapefileKindQuestion.in(language), name.c_str())),
        answers)) {
      case 0:
        loadOperandFile(FileKind::Lines, file);
        break;
      case 1:
        loadOperandFile(FileKind::Polygon, file);
        break;
      case 2:
        loadDataFile(file);
        break;
      default:
        break;
    }
  } else {
    stop(cformat(text::kUnknownFileType.in(language), name.c_str()));
  }
}

namespace {

// The local files a drag carries.
QStringList localFiles(const QMimeData* mime) {
  QStringList files;
  if (mime == nullptr || !mime->hasUrls()) return files;
  for (const QUrl& url : mime->urls()) {
    if (url.isLocalFile()) files << url.toLocalFile();
  }
  return files;
}

}  // namespace

void CTarnwickDlg::dragEnterEvent(QDragEnterEvent* event) {
  if (!runner_->running() && !localFiles(event->mimeData()).isEmpty()) {
    event->acceptProposedAction();
  }
}

void CTarnwickDlg::dropEvent(QDropEvent* event) {
  const QStringList files = localFiles(event->mimeData());
  if (runner_->running() || files.isEmpty()) return;
  event->acceptProposedAction();
  // Loading runs dialogs and waits for the worker: not inside the drop's own event handling.
  QTimer::singleShot(0, this, [this, files] { loadDroppedFiles(files); });
}

CDataListDialog* CTarnwickDlg::dataWindowFor(int slot) {
  QPointer<CDataListDialog>& window = dataWindows_[slot];
  if (window == nullptr) {
    window = new CDataListDialog(workspace_, slot, dialogs_, calc_.language(), this);
    connect(window, &CDataListDialog::nameChosen, this, [this](const QString& name) {
      insertAtCaret(name);
      refreshIdentifiers();
    });
  }
  return window;
}

void CTarnwickDlg::saveCurrentResult() {
  saveOperand(currentResult_);
}

void CTarnwickDlg::saveOperand(const engine::Operand& operand) {
  const Language language = calc_.language();
  if (operand.isNumber()) {
    showMessage(QString::fromStdString(engine::formatResultNumber(operand.numberValue())), false);
    dialogs_.message(this, QString::fromUtf8(engine::text::kNumberInTextField.in(language)),
                     UserDialogs::Icon::Information);
    return;
  }
  const QString chosen = chooseFile(dialogs_, this, saveDialogSetup(operand.kind()), true);
  if (chosen.isEmpty()) return;
  const std::string path = chosen.toStdString();
  if (operand.kind() == engine::Kind::Data && !confirmDataSave(path)) return;
  // Stays a failure when the work runs out of memory.
  engine::FileStatus status = outOfMemory(calc_.language());
  const bool completed = runFileTask(text::kSaving, path, [this, &operand, &path, &status] {
    status = workspace_.save(operand, path);
  });
  // When the window is closing, a save that ran to its end stays, but nothing more is shown.
  if (closePending_) return;
  if (!status.ok) {
    // A save the user cancelled leaves the old file; it needs no message box. A data file that
    // another program changed since its load is named, since the message does not say which.
    if (!completed) return;
    if (status.message == data::text::kDataChanged.in(calc_.language())) {
      stopNamingFile(status.message, path);
    } else {
      stop(status.message);
    }
    return;
  }
  // A save that left something out (rings too small for the file's digits) says so.
  if (!status.message.empty()) showMessage(fromUtf8(status.message), true);
  // A column appended to a loaded data file shows in its window.
  for (const auto& [slot, window] : dataWindows_) {
    if (window != nullptr && workspace_.dataSlot(slot).path != engine::kEmptySlotPath) {
      window->refresh();
    }
  }
  refreshIdentifiers();
}

bool CTarnwickDlg::confirmDataSave(const std::string& path) {
  const Language language = calc_.language();
  const QFileInfo file(QString::fromStdString(path));
  const std::string name = file.fileName().toStdString();
  const bool shapefile = engine::Workspace::isShapefilePath(path);
  if (dataFileLoaded(path)) {
    // A loaded shapefile is refused by the save itself; a loaded table gains a column.
    return shapefile ||
           dialogs_.question(this,
                             QString::fromStdString(
                                 cformat(text::kAppendZresQuestion.in(language), name.c_str())),
                             UserDialogs::Icon::Question);
  }
  if (!file.exists()) return true;
  return dialogs_.question(
      this, QString::fromStdString(cformat(text::kReplaceQuestion.in(language), name.c_str())),
      UserDialogs::Icon::Stop);
}

void CTarnwickDlg::showView() {
  showInView(currentResult_);
}

void CTarnwickDlg::showInView(const engine::Operand& operand, const std::string& name) {
  if (operand.isNumber()) {
    saveOperand(operand);
    return;
  }
  if (!mapview::CRVWnd::canShow(operand)) {
    stop(mapview::text::kUnknownCoordinates.in(calc_.language()));
    return;
  }
  delete mapView_.data();
  mapView_ = new mapview::CRVWnd(mapview::registryLayers(calc_.registry(), operand, name,
                                                         calc_.missingValue(), calc_.language()),
                                 calc_.missingValue(), calc_.language());
  mapView_->setPicturePathChooser([this](const QString& folder) {
    return chooseFile(dialogs_, mapView_, savePictureDialogSetup(folder), true);
  });
  // Beside the calculator, so that neither covers the other's controls.
  const QScreen* screen = this->screen();
  mapView_->move(
      mapview::CRVWnd::placeBeside(frameGeometry(), mapView_->size(),
                                   screen != nullptr ? screen->availableGeometry() : QRect()));
  mapView_->show();
}

mapview::CRVWnd* CTarnwickDlg::mapView() const {
  return mapView_;
}

// --- windows ---

void CTarnwickDlg::showIdentifiers() {
  viewValues_->refresh();
  viewValues_->show();
  viewValues_->raise();
}

void CTarnwickDlg::showHistory() {
  if (historyWindow_ != nullptr) {
    historyWindow_->raise();
    return;
  }
  std::string text;
  if (!runFileTask(text::kLoading, history_.path(), [&] { text = history_.windowText(); })) {
    return;
  }
  historyWindow_ = new HistoryWindow(
      history_, text, dialogs_, calc_.language(),
      [this](std::function<void()> work) {
        return runFileTask(text::kSaving, history_.path(), std::move(work));
      },
      this);
  connect(historyWindow_, &HistoryWindow::entryChosen, this, &CTarnwickDlg::replaceDisplay);
  QAbstractButton* historyButton = button(QStringLiteral("История"));
  historyButton->setEnabled(false);
  connect(historyWindow_, &QObject::destroyed, historyButton,
          [historyButton] { historyButton->setEnabled(true); });
  historyWindow_->show();
}

void CTarnwickDlg::showHelp() {
  if (helpWindow_ == nullptr) helpWindow_ = new HelpWindow(this);
  helpWindow_->show();
  helpWindow_->raise();
}

void CTarnwickDlg::showAbout() {
  const Language language = calc_.language();
  dialogs_.message(this,
                   QStringLiteral("Vellumar\n%1\n\n%2")
                       .arg(QString::fromUtf8(text::kVersion.in(language)),
                            QString::fromUtf8(text::kDescription.in(language))),
                   UserDialogs::Icon::Information);
}

void CTarnwickDlg::closeToolWindows() {
  delete helpWindow_.data();
  delete viewValues_.data();
  delete mapView_.data();
  delete historyWindow_.data();
  for (auto& [slot, window] : dataWindows_) delete window.data();
  for (auto& [kind, list] : fileLists_) delete list.data();
  dataWindows_.clear();
  fileLists_.clear();
}

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
  closeToolWindows();
  event->accept();
}

}  // namespace vellumar::ui
