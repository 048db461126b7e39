// vellumar-calc: the calculator without the window, for scripts, batch jobs and tests.
#include <iostream>
#include <string>
#include <vector>

#include "cli/CalcSession.h"
#include "cli/CommandLine.h"

int main(int argc, char** argv) {
  using namespace vellumar::cli;
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParseResult parsed = parseCommandLine(arguments);
  if (!parsed.ok()) {
    std::cerr << "vellumar-calc: " << parsed.error << "\n\n" << usageText();
    return exit_status::kUsage;
  }
  if (parsed.options.help) {
    std::cout << usageText();
    return exit_status::kSuccess;
  }
  if (parsed.options.version) {
    std::cout << "vellumar-calc " << VELLUMAR_VERSION << '\n';
    return exit_status::kSuccess;
  }
  CalcSession session(parsed.options, std::cout, std::cerr);
  return session.run();
}
