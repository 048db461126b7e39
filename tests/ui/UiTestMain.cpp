// Runs every window test class (or the one VELLUMAR_UI_TEST_CLASS names) under one QApplication
// (offscreen in CTest), with Qt's Russian texts as the program installs them and the settings in
// Qt's test folder.

#include <QApplication>
#include <QSettings>
#include <QStandardPaths>
#include <clocale>

#include "UiTestSupport.h"
#include "ui/Translations.h"

int main(int argc, char* argv[]) {
  // Settings go to Qt's test folder, never to the user's own, and start empty.
  QStandardPaths::setTestModeEnabled(true);
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  QApplication::setOrganizationName(QStringLiteral("Vellumar"));
  QApplication::setApplicationName(QStringLiteral("VellumarTests"));
  QSettings().clear();
  vellumar::ui::installRussianQtTranslations(app);
  // VELLUMAR_UI_TEST_CLASS=EvaluationWindowTest runs that class alone, so that test functions
  // named on the command line need not exist in every class.
  const QByteArray only = qgetenv("VELLUMAR_UI_TEST_CLASS");
  int failures = 0;
  for (const auto& make : vellumar::ui::testing::testClasses()) {
    std::unique_ptr<QObject> test = make();
    if (only.isEmpty() || QByteArray(test->metaObject()->className()).endsWith("::" + only))
      failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
