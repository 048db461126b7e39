#pragma once

#include <QObject>
#include <functional>
#include <memory>
#include <vector>

namespace vellumar::ui::testing {

using TestFactory = std::function<std::unique_ptr<QObject>()>;

// Every test class of the program registers itself here (see VELLUMAR_UI_TEST).
std::vector<TestFactory>& testClasses();

template <typename Test>
struct TestRegistration {
  TestRegistration() {
    testClasses().push_back([] { return std::make_unique<Test>(); });
  }
};

}  // namespace vellumar::ui::testing

#define VELLUMAR_UI_TEST(Class) \
  static const vellumar::ui::testing::TestRegistration<Class> registration##Class
