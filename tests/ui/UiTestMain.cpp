// Runs every window test class under one QApplication (offscreen in CTest).

#include <QApplication>
#include <QTest>
#include <clocale>
#include <memory>
#include <vector>

#include "UiTests.h"

int main(int argc, char* argv[]) {
  QApplication app(argc, argv);
  std::setlocale(LC_NUMERIC, "C");
  int failures = 0;
  for (const auto& make : vellumar::ui::testing::testClasses()) {
    std::unique_ptr<QObject> test = make();
    failures += QTest::qExec(test.get(), argc, argv);
  }
  return failures == 0 ? 0 : 1;
}
