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
  f.press(u"Сброс"_s);
  QCOMPARE(f.read("history.ses"), std::string("<missing>"));

  // A reset writes the history in the GUI thread, which the worker probe tells apart.
  f.display()->setPlainText(u"a\nb"_s);
  QVERIFY(!ranInWorker(f, [&] { f.press(u"Сброс"_s); }));
  QCOMPARE(f.display()->toPlainText(), QString());
  f.display()->setPlainText(u"x = 1"_s);
  f.window->close();  // closing logs the display as "Сброс" does
  QCOMPARE(sessions(f), QStringList({"a\r\nb\r\nx = 1\r\n"}));

  // The next run in the folder adds a session of its own after the last one. Evaluations are
  // logged once each: the same text again is not repeated, a failed evaluation is logged too.
  f.window = std::make_unique<CTarnwickDlg>(f.dialogs, f.dir.path());
  f.evaluate(u"1 + 1"_s);
  f.evaluate(u"1 + 1"_s);
  f.press(u"Сброс"_s);
  f.evaluate(u"Sqrt(-1)"_s);
  f.evaluate(u"1 + 1"_s);
  QCOMPARE(sessions(f), QStringList({"a\r\nb\r\nx = 1\r\n", "1 + 1\r\nSqrt(-1)\r\n1 + 1\r\n"}));
}

void HistoryWindowTest::historyWindowShowsClearsAndChoosesEntries() {
  WindowFixture f;
  f.display()->setPlainText(u"Sqrt(G1)"_s);
  f.press(u"Сброс"_s);
  f.display()->setPlainText(u"2 + 2"_s);
  f.press(u"Сброс"_s);
  QVERIFY(ranInWorker(f, [&] { f.press(u"История"_s); }));
  HistoryWindow* window = f.window->historyWindow();
  QVERIFY(window != nullptr);
  QVERIFY(!f.window->button(u"История"_s)->isEnabled());
  QVERIFY(window->text().endsWith(u"\nSqrt(G1)\n2 + 2"_s));
  QVERIFY(window->text().startsWith(u"\n----- Рабочая сессия: ---> "_s));
  window->show();
  QVERIFY(QTest::qWaitForWindowExposed(window));
  auto* text = window->findChild<QPlainTextEdit*>();
  const QStringList lines = window->text().split(QLatin1Char('\n'));
  const int entry = static_cast<int>(lines.indexOf(u"2 + 2"_s));
  QVERIFY(entry > 0);
  // A real double-click on the entry's line.
  const QTextBlock block = text->document()->findBlockByNumber(entry);
  const QPoint point = text->cursorRect(QTextCursor(block)).center();
  // The entry replaces what the display holds, as one edit that undo takes back.
  f.display()->setPlainText(u"Sqrt("_s);
  QTest::mouseDClick(text->viewport(), Qt::LeftButton, Qt::NoModifier, point);
  QCOMPARE(f.display()->toPlainText(), u"2 + 2"_s);
  f.display()->undo();
  QCOMPARE(f.display()->toPlainText(), u"Sqrt("_s);
  // Session headers and empty lines put nothing there.
  f.display()->clear();
  for (int line = 0; line < lines.size(); ++line) {
    if (lines[line].isEmpty() || lines[line].startsWith(u"-----"_s)) {
      window->chooseLine(line);
    }
  }
  QCOMPARE(f.display()->toPlainText(), QString());

  // "No" keeps everything; any other answer truncates the file, in the worker.
  f.dialogs.answer = false;
  window->clearHistory();
  QCOMPARE(f.dialogs.questions.back(), u"История ввода будет потеряна, продолжить?"_s);
  QVERIFY(!window->text().isEmpty());
  f.dialogs.answer = true;
  QVERIFY(ranInWorker(f, [&] { window->clearHistory(); }));
  QCOMPARE(std::pair(window->text(), f.read("history.ses")), std::pair(QString(), std::string()));

  window->close();
  QTRY_VERIFY(f.window->historyWindow() == nullptr);
  QVERIFY(f.window->button(u"История"_s)->isEnabled());
  f.display()->setPlainText(u"3"_s);
  f.press(u"Сброс"_s);
  QCOMPARE(sessions(f), QStringList({"3\r\n"}));  // a new session begins after a clear
}

void HistoryWindowTest::displayFilesRoundTripAndFailures() {
  WindowFixture f;
  QPlainTextEdit* display = f.display();
  const QString text = u"x = 2;\n\ny = x * 3\nглубина = 1"_s;
  display->setPlainText(text);
  // Both run their file work in the worker.
  QVERIFY(ranInWorker(f, [&] { f.pressChoosing(u">>"_s, f.path("sheet.ctb")); }));
  QCOMPARE(f.dialogs.fileDialogs.back().defaultSuffix, u"ctb"_s);
  QCOMPARE(f.read("sheet.ctb"), std::string("x = 2;\r\n\r\ny = x * 3\r\nглубина = 1"));

  display->clear();
  QVERIFY(ranInWorker(f, [&] { f.pressChoosing(u"<<"_s, f.path("sheet.ctb")); }));
  QCOMPARE(display->toPlainText(), text);

  // Loading inserts at the caret, replacing the selection (the file's line breaks and encodings
  // are DisplayFile's tests').
  display->setPlainText(u"[]"_s);
  QTextCursor cursor = display->textCursor();
  cursor.setPosition(1);
  display->setTextCursor(cursor);
  f.pressChoosing(u"<<"_s, f.write("unix.ctb", "a\nb"));
  QCOMPARE(display->toPlainText(), u"[a\nb]"_s);

  // Failures say what failed and keep the display.
  display->setPlainText(u"kept"_s);
  f.pressChoosing(u"<<"_s, f.path("missing.ctb"));
  QCOMPARE(
      std::tuple(f.lastMessage(), f.dialogs.messages.back().icon, display->toPlainText()),
      std::tuple(u"Нельзя открыть файл содержимого табло!"_s, UserDialogs::Icon::Stop, u"kept"_s));

  QCOMPARE(f.pressChoosing(u">>"_s, f.path("no/such/folder/x.ctb")),
           u"Нельзя открыть файл для сохранения табло!"_s);
  // A cancelled dialog does nothing.
  const auto shown = f.dialogs.messages.size();
  f.press(u">>"_s);
  f.press(u"<<"_s);
  QCOMPARE(std::pair(f.dialogs.messages.size(), display->toPlainText()),
           std::pair(shown, u"kept"_s));
}

VELLUMAR_UI_TEST(HistoryWindowTest);

}  // namespace vellumar::ui::testing

#include "HistoryWindowTest.moc"
