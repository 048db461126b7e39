#include "UiTestSupport.h"

#include <QAbstractButton>
#include <QFile>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTest>

#include "../cli/CalcRunner.h"
#include "common/CFormat.h"

namespace vellumar::ui::testing {

QString FakeDialogs::next(const FileDialogSetup& setup) {
  fileDialogs.push_back(setup);
  if (files.empty()) return {};
  QString path = files.front();
  files.pop_front();
  return path;
}

WindowFixture::WindowFixture() {
  window = std::make_unique<CTarnwickDlg>(dialogs, dir.path());
}

WindowFixture::~WindowFixture() = default;

QString writeFile(const QString& path, const std::string& bytes) {
  QFile file(path);
  if (file.open(QIODevice::WriteOnly)) file.write(bytes.data(), static_cast<qint64>(bytes.size()));
  return path;
}

QString WindowFixture::write(const QString& name, const std::string& bytes) const {
  return writeFile(path(name), bytes);
}

std::string WindowFixture::read(const QString& name) const {
  QFile file(path(name));
  if (!file.open(QIODevice::ReadOnly)) return "<missing>";
  return file.readAll().toStdString();
}

QString WindowFixture::evaluate(const QString& text) {
  window->display()->setPlainText(text);
  QSignalSpy finished(window.get(), &CTarnwickDlg::evaluationFinished);
  window->button(QStringLiteral("Расчет"))->click();
  if (finished.isEmpty() && window->isEvaluating()) finished.wait(30000);
  return window->messageText();
}

QString WindowFixture::load(engine::FileKind kind, const QString& file) {
  static const char* const kButtons[] = {"Гриды", "Линии", "Полигоны"};
  return pressChoosing(QString::fromUtf8(kButtons[static_cast<int>(kind)]), file);
}

void WindowFixture::press(const QString& caption) {
  QAbstractButton* button = window->button(caption);
  if (button == nullptr) QFAIL(qPrintable("no button " + caption));
  button->click();
}

QString WindowFixture::pressChoosing(const QString& caption, const QString& file) {
  dialogs.files.push_back(file);
  press(caption);
  return lastMessage();
}

QString WindowFixture::save(const QString& file) {
  return pressChoosing(QStringLiteral("Сохранить"), file);
}

QString WindowFixture::evaluateAndSave(const QString& text, const QString& name) {
  evaluate(text);
  return save(path(name));
}

QString WindowFixture::loadData(const QString& file) {
  return pressChoosing(QStringLiteral("Данные"), file);
}

void WindowFixture::answerDataFormat(const DataFormat& format) {
  dialogs.onDialog = [format](QDialog& dialog) {
    dynamic_cast<DataFileProc&>(dialog).setFormat(format);
    return true;
  };
}

std::string gridFile() {
  return "DSAA\r\n3 3\r\n0 2\r\n0 2\r\n1 9\r\n1 2 3\r\n4 5 6\r\n7 8 9\r\n";
}

std::string squareFile(double side, double gap) {
  return cformat("1\n0 0\n0 %g\n%g %g\n%g 0\n%g 0\nEND\nEND\n", side, side, side, side, gap);
}

std::string dataFile() {
  return "X Y Z\n0 0 5\n1 1 7\n2 2 9\n";
}

}  // namespace vellumar::ui::testing

#include "UiTests.h"

namespace vellumar::ui::testing {

std::vector<TestFactory>& testClasses() {
  static std::vector<TestFactory> classes;
  return classes;
}

// A 3 × 3 ESRI ASCII grid with one no-data node, 100 m cells, in UTM zone 32 (its .prj beside it).
QString writeAsciiRaster(WindowFixture& f) {
  f.write("dem.prj", cli::testing::kUtm32Prj);
  return f.write("dem.asc",
                 "ncols 3\nnrows 3\nxllcorner 500000\nyllcorner 5500000\ncellsize 100\n"
                 "NODATA_value -9999\n7 8 9\n4 -9999 6\n1 2 3\n");
}

}  // namespace vellumar::ui::testing
