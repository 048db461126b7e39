// Evaluation from the window: the message line per result kind, errors, the current result,
// the switches, Ctrl+Enter, cancelling long evaluations without freezing the window or leaving
// their assignments behind, closing during a run, Qt's Russian texts and the window's layout;
// the keypad and function buttons (what each press inserts and which hint it shows) and the
// editing commands of the display; the map view from the window: "Вид" on each result kind,
// "Показать" in the identifier-values window, one view at a time, and the picture dialog.

#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QProgressBar>
#include <QProgressDialog>
#include <QPushButton>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <tuple>
#include <utility>

#include "UiTestSupport.h"
#include "engine/Builtins.h"
#include "grid/Grid.h"
#include "ui/FunctionButtons.h"
#include "ui/ViewValues.h"
#include "ui/mapview/CRVWnd.h"

namespace vellumar::ui::testing {

using namespace std::chrono_literals;
using mapview::CRVWnd;
using mapview::MapLayout;
using mapview::WorldBounds;

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

// The entries of a layer list, each its name after "+" when checked or "-" when not.
QStringList entries(const QListWidget* list) {
  QStringList shown;
  for (int row = 0; row < list->count(); ++row)
    shown << (list->item(row)->checkState() == Qt::Checked ? "+" : "-") + list->item(row)->text();
  return shown;
}

}  // namespace

class EvaluationWindowTest : public QObject {
  Q_OBJECT
  WindowFixture f;  // fresh for every test function

 private slots:
  void init() { f.reset(); }

  void resultKindsErrorsAndAMemoryLimitThatIsNoLimit() {
    // A memory limit that is no limit is said on the message line of a new window.
    qputenv("VELLUMAR_MEMORY_LIMIT", "0");
    const QString shown = WindowFixture().window->messageText();
    qunsetenv("VELLUMAR_MEMORY_LIMIT");
    QCOMPARE(shown, QStringLiteral("недопустимый предел памяти VELLUMAR_MEMORY_LIMIT=\"0\": "
                                   "используется автоматический предел"));

    const QColor normal = f.window->palette().color(QPalette::Text);
    // An empty display only clears the message line (here a button's hint).
    f.press(u"Sqrt"_s);
    f.display()->clear();
    f.press(u"Расчет"_s);
    QVERIFY(!f.window->isEvaluating() && f.window->messageText().isEmpty());

    QCOMPARE(f.evaluate("EG(0, 2, 0, 2, 1, 1) * 2"), u"Результат - карта - готов !"_s);
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

  void cancellingProgressKeepsResult() {
    f.window->show();
    QCOMPARE(f.evaluate("x = 1; 7"), u"7.000000000000"_s);
    const std::size_t names = f.registry().entries().size();
    QSignalSpy finished(f.window.get(), &CTarnwickDlg::evaluationFinished);
    // While the worker runs, the window processes events and its controls are off.
    QProgressDialog* progress = startRun(f, assignThenWaitForCancel,
                                         u"x = 2; y = EG(0, 10, 0, 10, 1, 1); outC = 0; y + 1"_s);
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
    const auto recorded = [own](engine::S_Calculator& calc, std::string& text) {
      const bool ok = calc.run(text);
      *own = ok ? std::string("finished") : text;
      return ok;
    };
    progress = startRun(f, recorded, longGridWork());
    QVERIFY(progress != nullptr);
    // The kernel's caption, with a percentage: the work reports its total.
    QTRY_COMPARE(progress->labelText(), u"Расчет грида..."_s);
    QTRY_VERIFY(progress->maximum() > 0);
    cancelRun(*progress, finished, f);
    QCOMPARE(QString::fromStdString(*own), u"Вычисление прервано"_s);
    QCOMPARE(f.window->currentResult().numberValue(), 7.0);
    QVERIFY(registry.find("G") == nullptr && registry.find("H") == nullptr);
    QCOMPARE(f.evaluate("y = 2; y + x"), u"3.000000000000"_s);  // through the recording kernel
  }

  void closeRequestsWhileTheProgressShows() {
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

  // Qt's own dialogs speak Russian: the history-clear question as the program asks it, answered by
  // a timer. A slot of its own, as scripts/tsan leaves Qt's real dialogs out.
  void qtDialogsSpeakRussian() {
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
    QCOMPARE(std::pair(buttons, icon),
             std::pair(QStringList({"Да", "Нет"}), QMessageBox::Question));
  }

  void closingDuringRunsNeverLosesTheProcess() {
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
        if (round % 3 == 2 && progress != nullptr && progress->isVisible())
          progress->windowHandle()->close();
        else if (round % 3 == 1 && f.window->windowHandle() != nullptr)
          f.window->windowHandle()->close();
        else
          f.window->close();
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

  void progressOfFileTasksAndOfSeveralStatements() {
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
      const auto task = [&] {
        while (!release) std::this_thread::sleep_for(1ms);
        done = true;
      };
      QVERIFY(runner.runTask("Загрузка файла...\nrelief.grd", task, measured) && done);
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
    QVERIFY(seen.size() > 10 && std::is_sorted(seen.begin(), seen.end()));
    // One bar for the whole text: the last statement's share is reached, the first ones passed.
    QVERIFY2(seen.back() >= 750, qPrintable(QString::number(seen.back())));
    QVERIFY(std::count_if(seen.begin(), seen.end(), [](int v) { return v > 250 && v < 750; }) > 0);
  }

  void identifierWindow() {
    ViewValues* values = f.window->viewValues();
    QVERIFY(values != nullptr && !values->isVisible());
    f.evaluate("x = 5");
    f.load(FileKind::Grid, f.write("relief.grd", gridFile()));
    f.press(u"ID"_s);
    QVERIFY(values->isVisible());
    // The registry's list lines, whose form the registry's own test checks.
    const int xRow =
        static_cast<int>(values->lines().indexOf("x:" + QString(17, ' ') + "5.000000"));
    QVERIFY(xRow >= 0);
    QCOMPARE(values->kindText(), u"Не выбран"_s);

    // Refreshed after an evaluation while visible, keeping the selection.
    values->selectLine(xRow);
    QCOMPARE(values->kindText(), u"Число"_s);
    QVERIFY(!values->saveEnabled() && !values->showEnabled());
    f.evaluate("x = 6");
    QVERIFY(values->lines().contains("x:" + QString(17, ' ') + "6.000000"));
    QCOMPARE(values->kindText(), u"Число"_s);

    // Double-click inserts the name; "Сохранить как..." saves a copy of the entry.
    const int gridRow = static_cast<int>(values->lines().indexOf(QRegularExpression("^G1:.*")));
    values->selectLine(gridRow);
    QCOMPARE(std::pair(values->kindText(), values->saveEnabled()), std::pair(u"Грид"_s, true));
    f.display()->clear();
    values->activateLine(gridRow);
    QCOMPARE(f.display()->toPlainText(), u"G1"_s);
    f.dialogs.files.push_back(f.path("copy.grd"));
    values->saveSelected();
    QVERIFY(f.read("copy.grd").rfind("DSAA", 0) == 0);
  }

  void switchesShortcutAndLayout() {
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
      for (const auto& [other, caption] : controls)
        QVERIFY2(!rect.intersects(other), qPrintable(button->text() + " / " + caption));
      controls.emplace_back(rect, button->text());
    }
    QVERIFY(controls.size() >= 70);
    // The display, then the message line, then the buttons, from top to bottom.
    const QRect display(f.display()->mapTo(f.window.get(), QPoint(0, 0)), f.display()->size());
    QVERIFY(display.height() >= 100 &&
            f.window->button(u"Расчет"_s)->mapTo(f.window.get(), QPoint(0, 0)).y() >
                display.bottom());
  }

  void editingKeysFunctionButtonsAndTheirHintsAndTooltips() {
    QPlainTextEdit* display = f.display();
    for (const char* key : {"1", "+", "(", "Pi", ")"}) f.press(QString::fromUtf8(key));
    QCOMPARE(display->toPlainText(), u"1+(  )Pi)"_s);
    // Caret after the last insertion; a selection is replaced and the edit can be undone.
    QTextCursor cursor = display->textCursor();
    cursor.setPosition(0);
    cursor.setPosition(1, QTextCursor::KeepAnchor);
    display->setTextCursor(cursor);
    f.press(u"outC"_s);
    QCOMPARE(display->toPlainText(), u"outC+(  )Pi)"_s);
    QCOMPARE(display->textCursor().position(), 4);
    display->undo();
    QCOMPARE(std::pair(display->toPlainText(), f.window->messageText()),
             std::pair(u"1+(  )Pi)"_s, QString()));

    // Backspace removes a whole line break, leaving the caret at the end.
    const std::pair<const char*, const char*> cases[] = {
        {"abc", "ab"}, {"ab\n", "ab"}, {"ab\nc", "ab"}, {"x", ""}, {"", ""}, {"a\n\n", "a"}};
    for (const auto& [before, after] : cases) {
      display->setPlainText(QString::fromUtf8(before));
      f.press(u"<-"_s);
      QCOMPARE(display->toPlainText(), QString::fromUtf8(after));
      QCOMPARE(display->textCursor().position(), static_cast<int>(display->toPlainText().size()));
    }

    QCOMPARE(f.window->button(u"Расчет"_s)->toolTip(), u"Вычислить выражение табло (Ctrl+Enter)"_s);
    QVERIFY(f.window->button(u"Вид"_s)->isEnabled());

    // The function buttons insert their templates and show their hints.
    // Every button once: a caption used twice would leave one of them unreachable.
    QSet<QString> captions;
    for (const FunctionButton& button : functionButtons()) {
      const QString caption = QString::fromUtf8(button.caption.data(), button.caption.size());
      const QString name = QString::fromUtf8(button.name.data(), button.name.size());
      const QString inserted =
          name + QString::fromUtf8(button.argumentTemplate.data(), button.argumentTemplate.size());
      const QString kinds = QString::fromUtf8(button.kinds.data(), button.kinds.size());
      QVERIFY2(!captions.contains(caption), qPrintable(caption));
      captions.insert(caption);
      // The inserted function is one the calculator knows ("Arc" is completed by the user), and
      // every kind of the hint is an operand letter.
      if (inserted.contains(QLatin1Char('(')))
        QVERIFY2(engine::findBuiltin(name.trimmed().toStdString()) != nullptr, qPrintable(name));
      for (const QString& kind : kinds.split(QRegularExpression(u"[, ]"_s), Qt::SkipEmptyParts))
        QVERIFY2(u"GDCPN"_s.contains(kind) && kind.size() == 1, qPrintable(kinds));
      // After a hint that a button without one must clear.
      f.press(u"Sqrt"_s);
      display->setPlainText(u"1+"_s);
      display->moveCursor(QTextCursor::End);
      f.press(caption);
      QCOMPARE(display->toPlainText(), "1+" + inserted);
      QCOMPARE(
          f.window->messageText(),
          kinds.isEmpty() ? QString() : "В функции " + inserted + " тип аргумента X:  " + kinds);
      QVERIFY(!f.window->button(caption)->toolTip().isEmpty());
    }
    QVERIFY(captions.size() >= 50);
  }

  void viewShowsResultsWithCoordinatesReplacesTheOpenViewAndLayersTheNamedOperands() {
    f.registry().findOrCreate("column").value =
        engine::Operand::data(std::make_shared<const data::DATA>(std::vector<double>{1, 2, 3}));
    const std::tuple<const char*, QString, UserDialogs::Icon> cases[] = {
        {"2+2", u"Результат - число - в текстовом поле"_s, UserDialogs::Icon::Information},
        {"column * 2", u"Не известны координаты данных!"_s, UserDialogs::Icon::Stop}};
    for (const auto& [display, message, icon] : cases) {
      f.evaluate(display);
      f.press(u"Вид"_s);
      QVERIFY(f.window->mapView() == nullptr);
      QCOMPARE(std::pair(f.lastMessage(), f.dialogs.messages.back().icon),
               std::pair(message, icon));
    }

    // Any other result is shown.
    f.load(FileKind::Grid, f.write("relief.grd", gridFile()));
    f.load(FileKind::Polygon, f.write("field.pol", squareFile(5)));
    f.evaluate("EG(0, 2, 0, 2, 1, 1) * 1000");
    std::weak_ptr<const grid::Grid> grid = f.window->currentResult().sharedGrid();
    QVERIFY(!grid.expired());
    f.press(u"Вид"_s);
    QPointer<CRVWnd> first = f.window->mapView();
    QVERIFY(first != nullptr && first->isVisible());
    // The view keeps its copy: a later result does not change what it shows.
    f.evaluate("EG(0, 8, 0, 8, 1, 1)");
    QCOMPARE(first->layout().world.xmax, 2.0);
    // A polygon result after a grid, in a new view: no legend, no grid value in the title.
    f.evaluate("P1");
    f.press(u"Вид"_s);
    QTRY_VERIFY(first == nullptr);  // one view at a time
    CRVWnd* view = f.window->mapView();
    QVERIFY(view != nullptr);
    const WorldBounds& shown = view->layout().world;
    QVERIFY(shown.xmin < 0 && shown.xmax > 5 && shown.xmax < 6);
    QVERIFY(view->classes() == nullptr && view->legend().boxes.empty());
    const MapLayout& layout = view->layout();
    QVERIFY(layout.left + layout.width > 500 - 40);  // no room kept for a legend
    view->readOut(QPoint(layout.column(2.5), layout.row(2.5)));
    QVERIFY2(!view->windowTitle().contains(u"z="_s), qPrintable(view->windowTitle()));
    QVERIFY(!view->statusText().contains(u"z ="_s));
    // A number next: the grid's memory is given back.
    f.evaluate("1");
    delete view;
    QVERIFY(grid.expired());

    // The named operands are layers of the view, besides the result.
    QSettings().setValue("Directory/LastOpenedDir", f.dir->path());
    f.evaluate("G1 * 2");
    f.press(u"Вид"_s);
    view = f.window->mapView();
    QVERIFY(view != nullptr);
    // Ctrl and a right click save a picture at the path chosen in the dialog, which starts in the
    // profile's folder (every view is given this dialog where it is made); a name without an
    // extension is saved as BMP.
    f.dialogs.files.push_back(f.path("picture"));
    QTest::mouseClick(view, Qt::RightButton, Qt::ControlModifier, QPoint(100, 100));
    QSettings().remove("Directory/LastOpenedDir");
    QCOMPARE(f.dialogs.fileDialogs.back().folder, f.dir->path());
    QVERIFY(f.dialogs.fileDialogs.back().filter.contains(u"*.svg"_s));
    QVERIFY(QFile::exists(f.path("picture.bmp")));  // its bytes are the view's own tests'
    QListWidget* list = view->layerList();
    QVERIFY(list != nullptr);
    QCOMPARE(entries(list), QStringList({"+результат", "-G1", "-P1"}));
    // The polygon checked: the view now spans both, the field over the doubled grid.
    list->item(2)->setCheckState(Qt::Checked);
    QVERIFY(view->layout().world.xmax >= 5 && view->classes() != nullptr);
    QCOMPARE(view->classes()->maximum(), 18.0);  // the doubled nodes 1 ... 9

    // Shown from the identifier list, a named operand is its own layer, checked, and the current
    // result stays the number of the last evaluation, which is no layer.
    f.evaluate("1");
    f.press(u"ID"_s);
    ViewValues* values = f.window->viewValues();
    values->selectLine(static_cast<int>(values->lines().indexOf(QRegularExpression("^P1:.*"))));
    QVERIFY(values->showEnabled());
    values->showSelected();
    QVERIFY(f.window->currentResult().isNumber());
    const WorldBounds& whole = f.window->mapView()->layout().world;
    QVERIFY(whole.xmin <= 0 && whole.xmax >= 5 && whole.ymin <= 0 && whole.ymax >= 5);
    QCOMPARE(entries(f.window->mapView()->layerList()), QStringList({"-G1", "+P1"}));
  }
};

VELLUMAR_UI_TEST(EvaluationWindowTest);

}  // namespace vellumar::ui::testing

#include "EvaluationWindowTest.moc"
