// Evaluation from the window: the message line per result kind, errors, the current result,
// the switches, Ctrl+Enter, cancelling long evaluations without freezing the window or leaving
// their assignments behind, closing during a run, Qt's Russian texts and the window's layout.

#include <QAbstractButton>
#include <QApplication>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "UiTestSupport.h"
#include "UiTests.h"
#include "ui/ViewValues.h"

namespace vellumar::ui::testing {

using namespace std::chrono_literals;

class EvaluationWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void aMemoryLimitThatIsNoLimitIsShown();
  void resultKindsAndErrors();
  void cancellingProgressKeepsResult();
  void closeRequestsWhileTheProgressShows();
  void closingDuringRunsNeverLosesTheProcess();
  void progressOfFileTasksAndOfSeveralStatements();
  void qtDialogsSpeakRussian();
  void identifierWindow();
  void switchesShortcutAndLayout();
};

void EvaluationWindowTest::aMemoryLimitThatIsNoLimitIsShown() {
  qputenv("VELLUMAR_MEMORY_LIMIT", "0");
  {
    WindowFixture f;
    QCOMPARE(f.window->messageText(),
             QStringLiteral("недопустимый предел памяти VELLUMAR_MEMORY_LIMIT=\"0\": используется "
                            "автоматический предел"));
  }
  qunsetenv("VELLUMAR_MEMORY_LIMIT");
}

void EvaluationWindowTest::resultKindsAndErrors() {
  WindowFixture f;
  const QColor normal = f.window->palette().color(QPalette::Text);
  // An empty display only clears the message line (here a button's hint).
  f.press(u"Sqrt"_s);
  f.display()->clear();
  f.press(u"Расчет"_s);
  QVERIFY(!f.window->isEvaluating());
  QCOMPARE(f.window->messageText(), QString());

  f.load(FileKind::Grid, f.write("relief.grd", gridFile()));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.lastMessage()));
  QCOMPARE(f.evaluate("G1 * 2"), u"Результат - карта - готов !"_s);
  QCOMPARE(f.window->currentResult().kind(), engine::Kind::Grid);
  // The other kinds' messages are the engine's and the command line's; lines and data results
  // show theirs where those results are saved.

  // Failures go to the message line, in red, never to a message box, and keep the current
  // result.
  QCOMPARE(f.evaluate("7"), u"7.000000000000"_s);
  QCOMPARE(f.evaluate("Sqrt(-1)"), u"Sqrt: недопустимое значение аргумента 1"_s);
  QCOMPARE(std::tuple(f.window->messageColor(), f.display()->toPlainText(),
                      f.window->currentResult().numberValue()),
           std::tuple(QColor(200, 0, 0), u"Sqrt(-1)"_s, 7.0));
  QVERIFY(f.dialogs.messages.empty());
  f.press(u"Sqrt"_s);  // a hint is no error
  QCOMPARE(f.window->messageColor(), normal);
  f.evaluate("Sqrt(-1)");
  f.evaluate("2");
  QCOMPARE(f.window->messageColor(), normal);
}

namespace {

// A kernel that first evaluates the text (its assignments land in the registry), then reports
// progress against a total until the user cancels, and then claims success.
bool assignThenWaitForCancel(engine::S_Calculator& calc, std::string& text) {
  const bool ok = calc.run(text);
  ErrorSink& sink = calc.sink();
  sink.progressStart("Долгий расчет", 1000);
  for (int i = 0; i < 600000 && sink.progressStep(250); ++i) std::this_thread::sleep_for(1ms);
  sink.progressClose();
  return ok;
}

// Long grid work: a 501 x 501 grid refined to 1001 x 1001, two hundred times.
QString longGridWork() {
  // Long enough that the progress dialog shows before the end even on a loaded machine, whose
  // window thread may wait a while for its turn; the tests cancel it once it shows.
  QString display = u"G = EG(0, 1, 0, 1, 0.002, 0.002)"_s;
  for (int k = 0; k < 1000; ++k) display += u"; H = Dense(G, 2)"_s;
  return display;
}

// The window's progress dialog once it shows; null when it does not within 20 s.
QProgressDialog* waitForProgress(CTarnwickDlg& window) {
  const auto dialog = [&] { return window.evaluationRunner().progressDialog(); };
  const bool shown =
      QTest::qWaitFor([&] { return dialog() != nullptr && dialog()->isVisible(); }, 20000);
  return shown ? dialog() : nullptr;
}

// Starts the window's evaluation of text with the kernel; its progress dialog once shown.
QProgressDialog* startRun(WindowFixture& f, EvaluationRunner::Evaluate kernel,
                          const QString& text) {
  f.window->evaluationRunner().setEvaluate(std::move(kernel));
  f.display()->setPlainText(text);
  f.press(u"Расчет"_s);
  return waitForProgress(*f.window);
}

// Presses the cancel button of the progress dialog and waits for the run to end as cancelled.
void cancelRun(QProgressDialog& progress, QSignalSpy& finished, WindowFixture& f) {
  progress.findChild<QPushButton*>()->click();
  QVERIFY(!finished.isEmpty() || finished.wait(20000));
  QCOMPARE(f.window->messageText(), u"Вычисление прервано"_s);
}

}  // namespace

void EvaluationWindowTest::cancellingProgressKeepsResult() {
  WindowFixture f;
  f.window->show();
  QCOMPARE(f.evaluate("x = 1; 7"), u"7.000000000000"_s);
  const std::size_t names = f.registry().entries().size();
  QSignalSpy finished(f.window.get(), &CTarnwickDlg::evaluationFinished);
  // While the worker runs, the window processes events and its controls are off.
  QProgressDialog* progress =
      startRun(f, assignThenWaitForCancel, u"x = 2; y = EG(0, 10, 0, 10, 1, 1); outC = 0; y + 1"_s);
  QVERIFY(progress != nullptr && f.window->isEvaluating());
  QCOMPARE(progress->labelText(), u"Долгий расчет"_s);
  // A kernel that reports its total shows the share done as a percentage.
  auto* bar = progress->findChild<QProgressBar*>();
  QVERIFY(bar != nullptr);
  QTRY_COMPARE(bar->text(), u"25%"_s);
  QCOMPARE(std::pair(f.window->button(u"Расчет"_s)->isEnabled(), f.display()->isEnabled()),
           std::pair(false, false));
  f.press(u"Расчет"_s);  // ignored while busy
  cancelRun(*progress, finished, f);
  QCOMPARE(std::tuple(finished.size(), f.window->currentResult().numberValue(),
                      f.window->button(u"Расчет"_s)->isEnabled()),
           std::tuple(qsizetype(1), 7.0, true));
  // The registry is exactly as before the run: the statements had run, but nothing landed.
  const engine::Registry& registry = f.registry();
  QCOMPARE(
      std::tuple(registry.entries().size(), registry.find("y") == nullptr,
                 registry.find("x")->value.numberValue(), f.window->calculator().missingValue()),
      std::tuple(names, true, 1.0, -9999.0));

  // The calculator's own run, recorded: it fails with the cancel message only when a kernel
  // noticed the cancel and stopped, not when the runner dropped a finished result.
  auto own = std::make_shared<std::string>();
  finished.clear();
  progress = startRun(
      f,
      [own](engine::S_Calculator& calc, std::string& text) {
        const bool ok = calc.run(text);
        *own = ok ? std::string("finished") : text;
        return ok;
      },
      longGridWork());
  QVERIFY(progress != nullptr);
  // The kernel's caption, with a percentage: the work reports its total.
  QTRY_COMPARE(progress->labelText(), u"Расчет грида..."_s);
  QTRY_VERIFY(progress->maximum() > 0);
  cancelRun(*progress, finished, f);
  QCOMPARE(QString::fromStdString(*own), u"Вычисление прервано"_s);
  QCOMPARE(f.window->currentResult().numberValue(), 7.0);
  QVERIFY(registry.find("G") == nullptr && registry.find("H") == nullptr);
  f.window->evaluationRunner().setEvaluate(
      [](engine::S_Calculator& calc, std::string& text) { return calc.run(text); });
  QCOMPARE(f.evaluate("y = 2; y + x"), u"3.000000000000"_s);
}

void EvaluationWindowTest::closeRequestsWhileTheProgressShows() {
  WindowFixture f;
  f.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
  QCOMPARE(f.evaluate("5"), u"5.000000000000"_s);
  // A kernel that never reports progress shows a busy indicator.
  // This one waits until the test releases it, then evaluates.
  const auto released = std::make_shared<std::atomic<bool>>(false);
  const auto kernel = [released](engine::S_Calculator& calc, std::string& text) {
    for (int i = 0; i < 600000 && !*released; ++i) std::this_thread::sleep_for(1ms);
    return calc.run(text);
  };
  QSignalSpy finished(f.window.get(), &CTarnwickDlg::evaluationFinished);
  QProgressDialog* progress = startRun(f, kernel, u"w = 1"_s);
  QVERIFY(progress != nullptr);
  QCOMPARE(std::pair(progress->maximum(), progress->labelText()), std::pair(0, u"Расчет..."_s));
  // Nothing blocks the window, so the window manager's close reaches it, as the program's own
  // does; the question is asked above the progress dialog, where it can be answered. "No" keeps
  // the run going.
  QVERIFY(QGuiApplication::modalWindow() == nullptr);
  f.dialogs.answer = false;
  QVERIFY(!f.window->close());
  f.window->windowHandle()->close();
  QTRY_COMPARE(f.dialogs.questions.size(), std::size_t(2));
  QCOMPARE(std::pair(f.dialogs.questionParents.back(), f.dialogs.questionIcons.back()),
           std::pair(static_cast<QWidget*>(progress), UserDialogs::Icon::Question));
  QVERIFY(f.window->isEvaluating() && progress->isVisible());
  // The window manager's close of the progress dialog asks the same; "Yes" stops the run, and
  // the window closes once the worker is done.
  f.dialogs.answer = true;
  progress->windowHandle()->close();
  QTRY_COMPARE(f.dialogs.questions.size(), std::size_t(3));
  QCOMPARE(f.dialogs.questions.back(), u"Идет расчет. Прервать его и закрыть Vellumar?"_s);
  // The kernel ends after the cancel: its result is dropped, the one before stays.
  *released = true;
  QVERIFY(!finished.isEmpty() || finished.wait(20000));
  QTRY_VERIFY(!f.window->isVisible());
  QCOMPARE(std::pair(f.window->currentResult().numberValue(), f.registry().find("w") == nullptr),
           std::pair(5.0, true));
}

void EvaluationWindowTest::closingDuringRunsNeverLosesTheProcess() {
  // A grid of 1001 x 1001 nodes whose load takes a while.
  std::string grid = "DSAA\n1001 1001\n0 1000\n0 1000\n0 2000\n";
  for (int row = 0; row < 1001; ++row) {
    for (int column = 0; column < 1001; ++column) grid += std::to_string(row + column) + ' ';
    grid += '\n';
  }
  QTemporaryDir scratch;
  const QString big = writeFile(scratch.filePath(u"big.grd"_s), grid);
  // Every way of asking to close, during evaluations and loads, early and late in the run.
  int closesDuringRuns = 0;
  for (int round = 0; round < 20; ++round) {
    WindowFixture f;
    f.window->show();
    f.dialogs.answer = true;
    bool closedDuringTheRun = false;
    const auto closeSomehow = [&f, round, &closedDuringTheRun] {
      closedDuringTheRun = f.window->isEvaluating();
      QProgressDialog* progress = f.window->evaluationRunner().progressDialog();
      if (round % 3 == 2 && progress != nullptr && progress->isVisible()) {
        progress->windowHandle()->close();
      } else if (round % 3 == 1 && f.window->windowHandle() != nullptr) {
        f.window->windowHandle()->close();
      } else {
        f.window->close();
      }
    };
    const int delayMs = (round / 2) % 2 == 0 ? 0 : 700;
    if (round % 2 == 0) {
      f.display()->setPlainText(longGridWork());
      f.press(u"Расчет"_s);
      QTest::qWait(delayMs);
      closeSomehow();
    } else {
      QTimer::singleShot(delayMs, f.window.get(), closeSomehow);
      f.load(FileKind::Grid, big);
    }
    QTRY_VERIFY2_WITH_TIMEOUT(!f.window->isVisible(), qPrintable(QString::number(round)), 30000);
    QVERIFY(!f.window->isEvaluating());
    // A run stopped by the close leaves none of its assignments.
    if (closedDuringTheRun) QVERIFY(f.registry().find("H") == nullptr);
    closesDuringRuns += closedDuringTheRun ? 1 : 0;
  }
  // At least the early closes met a running worker.
  QVERIFY2(closesDuringRuns >= 10, qPrintable(QString::number(closesDuringRuns)));
}

void EvaluationWindowTest::progressOfFileTasksAndOfSeveralStatements() {
  WindowFixture f;
  EvaluationRunner& runner = f.window->evaluationRunner();
  // A load of a known size shows a percentage before the reader reports anything; a task of
  // unknown size a busy indicator. Both show their caption, the file's name included.
  for (const bool measured : {true, false}) {
    std::atomic<bool> release{false};
    bool done = false;
    QTimer::singleShot(0, [&] {
      QProgressDialog* progress = waitForProgress(*f.window);
      QVERIFY(progress != nullptr);
      QCOMPARE(std::tuple(progress->labelText(), progress->maximum() > 0, progress->value() <= 0),
               std::tuple(u"Загрузка файла...\nrelief.grd"_s, measured, true));
      release = true;
    });
    QVERIFY(runner.runTask(
        "Загрузка файла...\nrelief.grd",
        [&] {
          while (!release) std::this_thread::sleep_for(1ms);
          done = true;
        },
        measured));
    QVERIFY(done);
  }

  f.window->show();
  // Four statements whose kernels each count from 0 to 100 again.
  const auto kernel = [](engine::S_Calculator& calc, std::string& text) {
    ErrorSink& sink = calc.sink();
    for (int statement = 0; statement < 4; ++statement) {
      sink.statementStarted(statement, 4);
      sink.progressStart("Шаг", 100);
      for (int done = 0; done <= 100; done += 5) {
        sink.progressStep(done);
        std::this_thread::sleep_for(15ms);
      }
      sink.progressClose();
    }
    return calc.run(text);
  };
  QSignalSpy finished(f.window.get(), &CTarnwickDlg::evaluationFinished);
  QProgressDialog* progress = startRun(f, kernel, u"1"_s);
  QVERIFY(progress != nullptr);
  std::vector<int> seen;
  while (finished.isEmpty() && f.window->evaluationRunner().progressDialog() != nullptr) {
    seen.push_back(progress->value());
    QTest::qWait(10);
  }
  QVERIFY(!finished.isEmpty() || finished.wait(20000));
  QVERIFY(seen.size() > 10);
  QVERIFY(std::is_sorted(seen.begin(), seen.end()));
  // One bar for the whole text: the last statement's share is reached, the first ones passed.
  QVERIFY2(seen.back() >= 750, qPrintable(QString::number(seen.back())));
  QVERIFY(std::count_if(seen.begin(), seen.end(), [](int v) { return v > 250 && v < 750; }) > 0);
}

void EvaluationWindowTest::qtDialogsSpeakRussian() {
  // The history-clear question as the program asks it, answered by a timer.
  QStringList buttons;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QTimer::singleShot(0, [&buttons, &icon] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    for (QAbstractButton* button : box->buttons()) buttons << button->text().remove('&');
    icon = box->icon();
    box->button(QMessageBox::No)->click();
  });
  QtUserDialogs dialogs;
  QVERIFY(!dialogs.question(nullptr, u"Добавить столбец Zres в wells.dat?"_s,
                            UserDialogs::Icon::Question));
  buttons.sort();
  QCOMPARE(buttons, QStringList({"Да", "Нет"}));
  QCOMPARE(icon, QMessageBox::Question);
}

void EvaluationWindowTest::identifierWindow() {
  WindowFixture f;
  ViewValues* values = f.window->viewValues();
  QVERIFY(values != nullptr);
  QVERIFY(!values->isVisible());
  f.evaluate("x = 5");
  f.load(FileKind::Grid, f.write("relief.grd", gridFile()));
  f.press(u"ID"_s);
  QVERIFY(values->isVisible());
  // The registry's list lines, whose form the registry's own test checks.
  const QStringList lines = values->lines();
  QVERIFY(lines.contains("x:" + QString(17, ' ') + "5.000000"));
  QCOMPARE(values->kindText(), u"Не выбран"_s);

  // Refreshed after an evaluation while visible, keeping the selection.
  const int xRow = static_cast<int>(lines.indexOf("x:" + QString(17, ' ') + "5.000000"));
  values->selectLine(xRow);
  QCOMPARE(values->kindText(), u"Число"_s);
  QVERIFY(!values->saveEnabled() && !values->showEnabled());
  f.evaluate("x = 6");
  QVERIFY(values->lines().contains("x:" + QString(17, ' ') + "6.000000"));
  QCOMPARE(values->kindText(), u"Число"_s);

  // Double-click inserts the name; "Сохранить как..." saves a copy of the entry.
  const int gridRow = static_cast<int>(values->lines().indexOf(QRegularExpression("^G1:.*")));
  values->selectLine(gridRow);
  QCOMPARE(values->kindText(), u"Грид"_s);
  QVERIFY(values->saveEnabled());
  f.display()->clear();
  values->activateLine(gridRow);
  QCOMPARE(f.display()->toPlainText(), u"G1"_s);
  f.dialogs.files.push_back(f.path("copy.grd"));
  values->saveSelected();
  QVERIFY(f.read("copy.grd").rfind("DSAA", 0) == 0);
}

void EvaluationWindowTest::switchesShortcutAndLayout() {
  WindowFixture f;
  QCOMPARE(f.evaluate("ArcCos(0)"), u"1.570796326795"_s);
  f.press(u"Градус"_s);
  QCOMPARE(f.evaluate("ArcCos(0)"), u"90.000000000000"_s);
  for (const auto& [unit, tolerance] : {std::pair{"м", 1.0}, std::pair{"км", 0.001}}) {
    f.press(QString::fromUtf8(unit));
    f.evaluate("1");
    QCOMPARE(f.window->calculator().lengthTolerance(), tolerance);
  }

  // Ctrl+Enter evaluates the display of the shown window and keeps its text.
  f.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
  f.display()->setPlainText(u"depth = 1500;\ndepth / 2"_s);
  QSignalSpy finished(f.window.get(), &CTarnwickDlg::evaluationFinished);
  QTest::keyClick(f.display(), Qt::Key_Return, Qt::ControlModifier);
  QVERIFY(!finished.isEmpty() || finished.wait(10000));
  QCOMPARE(f.window->messageText(), u"750.000000000000"_s);
  QCOMPARE(f.display()->toPlainText(), u"depth = 1500;\ndepth / 2"_s);
  const QRect inside = f.window->rect();
  // Every control lies inside the window, whole, with its caption unclipped, and no two overlap.
  std::vector<std::pair<QRect, QString>> controls;
  for (const QAbstractButton* button : f.window->findChildren<QAbstractButton*>()) {
    if (!button->isVisibleTo(f.window.get())) continue;
    const QRect rect(button->mapTo(f.window.get(), QPoint(0, 0)), button->size());
    QVERIFY2(inside.contains(rect), qPrintable(button->text()));
    QVERIFY2(button->width() >= button->fontMetrics().horizontalAdvance(button->text()),
             qPrintable(button->text()));
    for (const auto& [other, caption] : controls) {
      QVERIFY2(!rect.intersects(other), qPrintable(button->text() + " / " + caption));
    }
    controls.emplace_back(rect, button->text());
  }
  QVERIFY(controls.size() >= 70);
  // The display, then the message line, then the buttons, from top to bottom.
  const QRect display(f.display()->mapTo(f.window.get(), QPoint(0, 0)), f.display()->size());
  const QAbstractButton* evaluate = f.window->button(u"Расчет"_s);
  QVERIFY(display.height() >= 100);
  QVERIFY(evaluate->mapTo(f.window.get(), QPoint(0, 0)).y() > display.bottom());
  const QString out = qEnvironmentVariable("VELLUMAR_SCREENSHOT");
  if (!out.isEmpty()) QVERIFY(f.window->grab().save(out));
}

VELLUMAR_UI_TEST(EvaluationWindowTest);

}  // namespace vellumar::ui::testing

#include "EvaluationWindowTest.moc"
