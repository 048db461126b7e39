// Evaluation from the window: the message line per result kind, errors, the current result,
// the switches, Ctrl+Enter, and cancelling long evaluations without freezing the window.

#include <QAbstractButton>
#include <QPlainTextEdit>
#include <QProgressDialog>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <chrono>
#include <thread>

#include "UiTestSupport.h"
#include "UiTests.h"
#include "ui/CDataListDialog.h"
#include "ui/ViewValues.h"

namespace vellumar::ui::testing {

class EvaluationWindowTest : public QObject {
  Q_OBJECT

 private slots:
  void numbersInFixedOrExponentForm();
  void resultKindsAndErrors();
  void switchesAndShortcut();
  void cancellingProgressKeepsResult();
  void cancellingSilentKernelKeepsResult();
  void identifierWindow();
  void screenshot();
};

void EvaluationWindowTest::numbersInFixedOrExponentForm() {
  WindowFixture f;
  QCOMPARE(f.evaluate("2+3*4"), QStringLiteral("14.000000000000"));
  QCOMPARE(f.evaluate("0"), QStringLiteral("0.000000000000E+00"));
  QCOMPARE(f.evaluate("1000000000000"), QStringLiteral("1000000000000.000000000000"));
  QCOMPARE(f.evaluate("1000000000000*10"), QStringLiteral("1.000000000000E+13"));
  QCOMPARE(f.evaluate("0.000000000001"), QStringLiteral("0.000000000001"));
  QCOMPARE(f.evaluate("-0.000000000001/10"), QStringLiteral("-1.000000000000E-13"));
  QCOMPARE(f.evaluate("x = 1.5;\nx * 2"), QStringLiteral("3.000000000000"));
  // An empty display only clears the message line.
  f.window->display()->clear();
  f.press(QStringLiteral("Sqrt"));
  f.window->display()->clear();
  f.press(QStringLiteral("Расчет"));
  QVERIFY(!f.window->isEvaluating());
  QCOMPARE(f.window->messageText(), QString());
}

void EvaluationWindowTest::resultKindsAndErrors() {
  WindowFixture f;
  f.load(engine::FileKind::Grid, f.write("relief.grd", gridFile()));
  f.load(engine::FileKind::Polygon, f.write("square.pol", squareFile(2)));
  f.load(engine::FileKind::Lines, f.write("edge.con", squareFile(2, 1)));
  QVERIFY2(f.dialogs.messages.empty(), qPrintable(f.dialogs.lastMessage()));
  QCOMPARE(f.evaluate("G1 * 2"), QStringLiteral("Результат - карта - готов !"));
  QCOMPARE(f.window->currentResult().kind(), engine::Kind::Grid);
  QCOMPARE(f.evaluate("P1"), QStringLiteral("Результат - полигон - готов !"));
  QCOMPARE(f.evaluate("C1"), QStringLiteral("Результат - линии - готов !"));

  f.dialogs.files.push_back(f.write("wells.dat", dataFile()));
  f.dialogs.onDialog = [](QDialog&) { return true; };
  f.press(QStringLiteral("Данные"));
  f.window->dataWindow(1)->chooseColumn(2);
  QCOMPARE(f.evaluate("D1_3 + 1"), QStringLiteral("Результат - данные - готов !"));

  // Failures go to the message line, never to a message box, and keep the current result.
  QCOMPARE(f.evaluate("7"), QStringLiteral("7.000000000000"));
  QCOMPARE(f.evaluate("Sqrt(-1)"), QStringLiteral("Sqrt: недопустимое значение аргумента 1"));
  QCOMPARE(f.window->display()->toPlainText(), QStringLiteral("Sqrt(-1)"));
  QCOMPARE(f.evaluate("nosuch + 1"), QStringLiteral("неизвестное имя \" nosuch \" "));
  QCOMPARE(f.window->currentResult().numberValue(), 7.0);
  QVERIFY(f.dialogs.messages.empty());
}

void EvaluationWindowTest::switchesAndShortcut() {
  WindowFixture f;
  QCOMPARE(f.evaluate("ArcCos(0)"), QStringLiteral("1.570796326795"));
  f.press(QStringLiteral("Градус"));
  QCOMPARE(f.evaluate("ArcCos(0)"), QStringLiteral("90.000000000000"));
  f.press(QStringLiteral("м"));
  f.evaluate("1");
  QCOMPARE(f.window->calculator().lengthTolerance(), 1.0);
  f.press(QStringLiteral("км"));
  f.evaluate("1");
  QCOMPARE(f.window->calculator().lengthTolerance(), 0.001);

  f.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
  f.window->display()->setPlainText(QStringLiteral("6*7"));
  QSignalSpy finished(f.window.get(), &CTarnwickDlg::evaluationFinished);
  QTest::keyClick(f.window->display(), Qt::Key_Return, Qt::ControlModifier);
  QVERIFY(!finished.isEmpty() || finished.wait(10000));
  QCOMPARE(f.window->messageText(), QStringLiteral("42.000000000000"));
  QCOMPARE(f.window->display()->toPlainText(), QStringLiteral("6*7"));
}

namespace {

// A kernel that reports progress for up to a minute and stops when asked, then evaluates.
bool longKernel(engine::S_Calculator& calc, std::string& text) {
  ErrorSink& sink = calc.sink();
  sink.progressStart("Долгий расчет", 60000);
  for (int i = 0; i < 60000 && sink.progressStep(i); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  sink.progressClose();
  return calc.run(text);
}

QProgressDialog* waitForProgress(CTarnwickDlg& window) {
  const bool shown = QTest::qWaitFor(
      [&] {
        const QProgressDialog* dialog = window.evaluationRunner().progressDialog();
        return dialog != nullptr && dialog->isVisible();
      },
      20000);
  return shown ? window.evaluationRunner().progressDialog() : nullptr;
}

}  // namespace

void EvaluationWindowTest::cancellingProgressKeepsResult() {
  WindowFixture f;
  f.window->show();
  QCOMPARE(f.evaluate("7"), QStringLiteral("7.000000000000"));
  f.window->evaluationRunner().setEvaluate(longKernel);
  f.window->display()->setPlainText(QStringLiteral("y = 2; y + 1"));
  QSignalSpy finished(f.window.get(), &CTarnwickDlg::evaluationFinished);
  f.press(QStringLiteral("Расчет"));
  QVERIFY(f.window->isEvaluating());
  // While the worker runs, the window processes events and its controls are off.
  QProgressDialog* progress = waitForProgress(*f.window);
  QVERIFY(progress != nullptr);
  QCOMPARE(progress->labelText(), QStringLiteral("Долгий расчет"));
  QVERIFY(progress->maximum() > 0);
  QVERIFY(!f.window->button(QStringLiteral("Расчет"))->isEnabled());
  QVERIFY(!f.window->display()->isEnabled());
  f.press(QStringLiteral("Расчет"));  // ignored while busy
  progress->findChild<QPushButton*>()->click();
  QVERIFY(!finished.isEmpty() || finished.wait(20000));
  QCOMPARE(finished.size(), 1);
  QCOMPARE(f.window->messageText(), QStringLiteral("Вычисление прервано"));
  QCOMPARE(f.window->currentResult().numberValue(), 7.0);
  QVERIFY(f.window->button(QStringLiteral("Расчет"))->isEnabled());
  // The cancelled statements never ran; the next evaluation gets a fresh sink and succeeds.
  QVERIFY(f.window->calculator().registry().find("y") == nullptr);
  f.window->evaluationRunner().setEvaluate(
      [](engine::S_Calculator& calc, std::string& text) { return calc.run(text); });
  QCOMPARE(f.evaluate("y = 2; y + 1"), QStringLiteral("3.000000000000"));
}

void EvaluationWindowTest::cancellingSilentKernelKeepsResult() {
  WindowFixture f;
  f.window->show();
  QCOMPARE(f.evaluate("5"), QStringLiteral("5.000000000000"));
  // A kernel that never reports progress: a busy indicator appears and cancel drops its result.
  f.window->evaluationRunner().setEvaluate([](engine::S_Calculator& calc, std::string& text) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    return calc.run(text);
  });
  QSignalSpy finished(f.window.get(), &CTarnwickDlg::evaluationFinished);
  f.window->display()->setPlainText(QStringLiteral("8"));
  f.press(QStringLiteral("Расчет"));
  QProgressDialog* progress = waitForProgress(*f.window);
  QVERIFY(progress != nullptr);
  if (!finished.isEmpty()) QSKIP("the machine was too slow to see the busy indicator");
  QCOMPARE(progress->maximum(), 0);
  progress->findChild<QPushButton*>()->click();
  QVERIFY(!finished.isEmpty() || finished.wait(20000));
  QCOMPARE(f.window->messageText(), QStringLiteral("Вычисление прервано"));
  QCOMPARE(f.window->currentResult().numberValue(), 5.0);
}

void EvaluationWindowTest::identifierWindow() {
  WindowFixture f;
  ViewValues* values = f.window->viewValues();
  QVERIFY(values != nullptr);
  QVERIFY(!values->isVisible());
  f.evaluate("x = 5");
  f.load(engine::FileKind::Grid, f.write("relief.grd", gridFile()));
  f.press(QStringLiteral("ID"));
  QVERIFY(values->isVisible());
  const QStringList lines = values->lines();
  QCOMPARE(lines.front().left(3), QStringLiteral("Pi:"));
  QVERIFY(lines.contains("x:" + QString(17, ' ') + "5.000000"));
  QVERIFY(lines.contains("G1:" + QString(17, ' ') + f.path("relief.grd")));
  QCOMPARE(values->kindText(), QStringLiteral("Не выбран"));

  // Refreshed after an evaluation while visible, keeping the selection.
  const int xRow = static_cast<int>(lines.indexOf("x:" + QString(17, ' ') + "5.000000"));
  values->selectLine(xRow);
  QCOMPARE(values->kindText(), QStringLiteral("Число"));
  QVERIFY(!values->saveEnabled());
  QVERIFY(!values->showEnabled());
  f.evaluate("x = 6; total = 1");
  QVERIFY(values->lines().contains("x:" + QString(17, ' ') + "6.000000"));
  QVERIFY(values->lines().contains("total:" + QString(14, ' ') + "1.000000"));
  QCOMPARE(values->kindText(), QStringLiteral("Число"));

  // Double-click inserts the name; "Сохранить как..." saves a copy of the entry.
  const int gridRow = static_cast<int>(values->lines().indexOf(QRegularExpression("^G1:.*")));
  values->selectLine(gridRow);
  QCOMPARE(values->kindText(), QStringLiteral("Грид"));
  QVERIFY(values->saveEnabled());
  f.window->display()->clear();
  values->activateLine(gridRow);
  QCOMPARE(f.window->display()->toPlainText(), QStringLiteral("G1"));
  f.dialogs.files.push_back(f.path("copy.grd"));
  values->saveSelected();
  QCOMPARE(f.dialogs.fileDialogs.back().title, QStringLiteral("Сохранить грид как..."));
  QVERIFY(f.read("copy.grd").rfind("DSAA", 0) == 0);
}

void EvaluationWindowTest::screenshot() {
  WindowFixture f;
  f.window->resize(1000, 520);
  f.window->show();
  QVERIFY(QTest::qWaitForWindowExposed(f.window.get()));
  f.evaluate("depth = 1500;\ndepth / 2");
  const QImage image = f.window->grab().toImage();
  QVERIFY(image.width() >= 600);
  const QString out = qEnvironmentVariable("VELLUMAR_SCREENSHOT");
  if (out.isEmpty()) return;
  QVERIFY(image.save(out));
  // The data-format dialog and the data window, for a look at their layout.
  f.dialogs.onDialog = [&out](QDialog& dialog) {
    dialog.show();
    dialog.grab().save(out + ".format.png");
    return true;
  };
  f.dialogs.files.push_back(f.write("wells.dat", dataFile()));
  f.press(QStringLiteral("Данные"));
  f.window->dataWindow(1)->grab().save(out + ".data.png");
  f.press(QStringLiteral("ID"));
  f.window->viewValues()->grab().save(out + ".id.png");
}

VELLUMAR_UI_TEST(EvaluationWindowTest);

}  // namespace vellumar::ui::testing

#include "EvaluationWindowTest.moc"
