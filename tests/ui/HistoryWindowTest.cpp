// The input history file, the history window and the display files.

#include <QAbstractButton>
#include <QCoreApplication>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <functional>

#include "UiTestSupport.h"
#include "UiTests.h"
#include "ui/HistoryWindow.h"

namespace vellumar::ui::testing {

class HistoryWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void resetAndEvaluationsAppendEntriesAfterOneHeader();
  void historyWindowShowsClearsAndChoosesEntries();
  void displayFilesRoundTripAndFailures();
};

namespace {

// A session header as the history file holds it, with the time the session began.
const QRegularExpression kHeader(
    QStringLiteral("\r\n----- Рабочая сессия: ---> [A-Z][a-z]{2} [A-Z][a-z]{2} [ 1-3][0-9] "
                   "[0-2][0-9]:[0-5][0-9]:[0-6][0-9] [0-9]{4}\r\n\r\n"));

// The entries of each session of the history file, which must begin with a session header.
QStringList sessions(const WindowFixture& f) {
  QStringList parts = QString::fromStdString(f.read("history.ses")).split(kHeader);
  if (parts.size() < 2 || !parts.takeFirst().isEmpty()) return {"<no header first>"};
  return parts;
}

// Whether the window ran the file work of an action in its worker. A zero-time timer set before
// an action fires in the first pass of an event loop: while the file work runs when the window
// hands it to the worker and waits, only afterwards (from the processEvents below) when the work
// ran in the GUI thread.
bool ranInWorker(WindowFixture& f, const std::function<void()>& action) {
  bool fired = false;
  bool busy = false;
  QTimer::singleShot(0, f.window.get(), [&] {
    fired = true;
    busy = f.window->isEvaluating();
  });
  action();
  QCoreApplication::processEvents();
  return fired && busy;
}

}  // namespace

void HistoryWindowTest::resetAndEvaluationsAppendEntriesAfterOneHeader() {
  WindowFixture f;
  // An empty display writes nothing.
  f.press(QStringLiteral("Сброс"));
  QCOMPARE(f.read("history.ses"), std::string("<missing>"));

  // A reset writes the history in the GUI thread, which the worker probe tells apart.
  f.window->display()->setPlainText(QStringLiteral("a\nb"));
  QVERIFY(!ranInWorker(f, [&] { f.press(QStringLiteral("Сброс")); }));
  QCOMPARE(f.window->display()->toPlainText(), QString());
  f.window->display()->setPlainText(QStringLiteral("x = 1"));
  f.window->close();  // closing logs the display as "Сброс" does
  QCOMPARE(sessions(f), QStringList({"a\r\nb\r\nx = 1\r\n"}));

  // The next run in the folder adds a session of its own after the last one. Evaluations are
  // logged once each: the same text again is not repeated, a failed evaluation is logged too.
  f.window = std::make_unique<CTarnwickDlg>(f.dialogs, f.dir.path());
  f.evaluate(QStringLiteral("1 + 1"));
  f.evaluate(QStringLiteral("1 + 1"));
  f.press(QStringLiteral("Сброс"));
  f.evaluate(QStringLiteral("Sqrt(-1)"));
  f.evaluate(QStringLiteral("1 + 1"));
  QCOMPARE(sessions(f), QStringList({"a\r\nb\r\nx = 1\r\n", "1 + 1\r\nSqrt(-1)\r\n1 + 1\r\n"}));
}

void HistoryWindowTest::historyWindowShowsClearsAndChoosesEntries() {
  WindowFixture f;
  f.window->display()->setPlainText(QStringLiteral("Sqrt(G1)"));
  f.press(QStringLiteral("Сброс"));
  f.window->display()->setPlainText(QStringLiteral("2 + 2"));
  f.press(QStringLiteral("Сброс"));
  QVERIFY(ranInWorker(f, [&] { f.press(QStringLiteral("История")); }));
  HistoryWindow* window = f.window->historyWindow();
  QVERIFY(window != nullptr);
  QVERIFY(!f.window->button(QStringLiteral("История"))->isEnabled());
  QVERIFY(window->text().endsWith(QStringLiteral("\nSqrt(G1)\n2 + 2")));
  QVERIFY(window->text().startsWith(QStringLiteral("\n----- Рабочая сессия: ---> ")));
  window->show();
  QVERIFY(QTest::qWaitForWindowExposed(window));
  auto* text = window->findChild<QPlainTextEdit*>();
  const QStringList lines = window->text().split(QLatin1Char('\n'));
  const int entry = static_cast<int>(lines.indexOf(QStringLiteral("2 + 2")));
  QVERIFY(entry > 0);
  // A real double-click on the entry's line.
  const QTextBlock block = text->document()->findBlockByNumber(entry);
  const QPoint point = text->cursorRect(QTextCursor(block)).center();
  // The entry replaces what the display holds, as one edit that undo takes back.
  f.window->display()->setPlainText(QStringLiteral("Sqrt("));
  QTest::mouseDClick(text->viewport(), Qt::LeftButton, Qt::NoModifier, point);
  QCOMPARE(f.window->display()->toPlainText(), QStringLiteral("2 + 2"));
  f.window->display()->undo();
  QCOMPARE(f.window->display()->toPlainText(), QStringLiteral("Sqrt("));
  // Session headers and empty lines put nothing there.
  f.window->display()->clear();
  for (int line = 0; line < lines.size(); ++line) {
    if (lines[line].isEmpty() || lines[line].startsWith(QStringLiteral("-----"))) {
      window->chooseLine(line);
    }
  }
  QCOMPARE(f.window->display()->toPlainText(), QString());

  // "No" keeps everything; any other answer truncates the file, in the worker.
  f.dialogs.answer = false;
  window->clearHistory();
  QCOMPARE(f.dialogs.questions.back(), QStringLiteral("История ввода будет потеряна, продолжить?"));
  QVERIFY(!window->text().isEmpty());
  f.dialogs.answer = true;
  QVERIFY(ranInWorker(f, [&] { window->clearHistory(); }));
  QCOMPARE(window->text(), QString());
  QCOMPARE(f.read("history.ses"), std::string());

  window->close();
  QTRY_VERIFY(f.window->historyWindow() == nullptr);
  QVERIFY(f.window->button(QStringLiteral("История"))->isEnabled());
  f.window->display()->setPlainText(QStringLiteral("3"));
  f.press(QStringLiteral("Сброс"));
  QCOMPARE(sessions(f), QStringList({"3\r\n"}));  // a new session begins after a clear
}

void HistoryWindowTest::displayFilesRoundTripAndFailures() {
  WindowFixture f;
  QPlainTextEdit* display = f.window->display();
  const QString text = QStringLiteral("x = 2;\n\ny = x * 3\nглубина = 1");
  display->setPlainText(text);
  // Both run their file work in the worker.
  QVERIFY(ranInWorker(f, [&] { f.pressChoosing(QStringLiteral(">>"), f.path("sheet.ctb")); }));
  QCOMPARE(f.dialogs.fileDialogs.back().defaultSuffix, QStringLiteral("ctb"));
  QCOMPARE(f.read("sheet.ctb"), std::string("x = 2;\r\n\r\ny = x * 3\r\nглубина = 1"));

  display->clear();
  QVERIFY(ranInWorker(f, [&] { f.pressChoosing(QStringLiteral("<<"), f.path("sheet.ctb")); }));
  QCOMPARE(display->toPlainText(), text);

  // Loading inserts at the caret, replacing the selection (the file's line breaks and encodings
  // are DisplayFile's tests').
  display->setPlainText(QStringLiteral("[]"));
  QTextCursor cursor = display->textCursor();
  cursor.setPosition(1);
  display->setTextCursor(cursor);
  f.pressChoosing(QStringLiteral("<<"), f.write("unix.ctb", "a\nb"));
  QCOMPARE(display->toPlainText(), QStringLiteral("[a\nb]"));

  // Failures say what failed and keep the display.
  f.window->display()->setPlainText(QStringLiteral("kept"));
  f.pressChoosing(QStringLiteral("<<"), f.path("missing.ctb"));
  QCOMPARE(f.dialogs.lastMessage(), QStringLiteral("Нельзя открыть файл содержимого табло!"));
  QCOMPARE(f.dialogs.messages.back().icon, UserDialogs::Icon::Stop);
  QCOMPARE(f.window->display()->toPlainText(), QStringLiteral("kept"));

  f.pressChoosing(QStringLiteral(">>"), f.path("no/such/folder/x.ctb"));
  QCOMPARE(f.dialogs.lastMessage(), QStringLiteral("Нельзя открыть файл для сохранения табло!"));
  // A cancelled dialog does nothing.
  const auto shown = f.dialogs.messages.size();
  f.press(QStringLiteral(">>"));
  f.press(QStringLiteral("<<"));
  QCOMPARE(f.dialogs.messages.size(), shown);
  QCOMPARE(f.window->display()->toPlainText(), QStringLiteral("kept"));
}

VELLUMAR_UI_TEST(HistoryWindowTest);

}  // namespace vellumar::ui::testing

#include "HistoryWindowTest.moc"
