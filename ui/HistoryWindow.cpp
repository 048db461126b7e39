#include "ui/HistoryWindow.h"

#include <QHBoxLayout>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QVBoxLayout>

#include "ui/InputHistory.h"
#include "ui/UiMessages.h"
#include "ui/UserDialogs.h"

namespace vellumar::ui {

HistoryWindow::HistoryWindow(InputHistory& history, const std::string& text, UserDialogs& dialogs,
                             Language language, RunFileWork runFileWork, QWidget* parent)
    : QWidget(parent, Qt::Window),
      history_(history),
      dialogs_(dialogs),
      language_(language),
      runFileWork_(std::move(runFileWork)) {
  setAttribute(Qt::WA_DeleteOnClose);
  setWindowTitle(QStringLiteral("История ввода в табло"));
  text_ = new QPlainTextEdit(QString::fromStdString(text), this);
  text_->setReadOnly(true);
  text_->viewport()->installEventFilter(this);
  auto* clear = new QPushButton(QStringLiteral("Очистить"), this);
  auto* close = new QPushButton(QStringLiteral("Закрыть"), this);
  connect(clear, &QPushButton::clicked, this, &HistoryWindow::clearHistory);
  connect(close, &QPushButton::clicked, this, &QWidget::close);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(clear);
  buttons->addWidget(close);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(text_);
  layout->addLayout(buttons);
  resize(560, 420);
}

QString HistoryWindow::text() const {
  return text_->toPlainText();
}

bool HistoryWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == text_->viewport() && event->type() == QEvent::MouseButtonDblClick) {
    const auto* click = static_cast<QMouseEvent*>(event);
    chooseLine(text_->cursorForPosition(click->position().toPoint()).blockNumber());
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void HistoryWindow::chooseLine(int line) {
  const QString entry = text_->document()->findBlockByNumber(line).text().trimmed();
  const QString header = QString::fromUtf8(text::kSessionHeader.russian).trimmed();
  if (entry.isEmpty() || entry.startsWith(header)) return;
  emit entryChosen(entry);
}

void HistoryWindow::clearHistory() {
  if (!dialogs_.question(this, QString::fromUtf8(text::kClearHistoryQuestion.in(language_)),
                         UserDialogs::Icon::Stop)) {
    return;
  }
  if (!runFileWork_([this] { history_.clear(); })) return;
  text_->clear();
}

}  // namespace vellumar::ui
