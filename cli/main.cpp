// vellumar-calc: the calculator without the window, for scripts, batch jobs and tests.
#include <cstdio>
#include <iostream>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "cli/CalcSession.h"
#include "cli/CliMessages.h"
#include "cli/CommandLine.h"
#include "engine/EngineMessages.h"
#include "tiles/TiledRun.h"

namespace {

using namespace vellumar::cli;

int run(const ParseResult& parsed) {
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
  // Of the processes of an MPI launch, rank 0 alone speaks: the others evaluate their tiles.
  std::ostream silent(nullptr);
  const bool speaks = parsed.options.tiles == 0 || vellumar::tiles::launchRanks().rank == 0;
  CalcSession session(parsed.options, speaks ? std::cout : silent, speaks ? std::cerr : silent);
  return session.run();
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + 1, argv + argc);
  const ParseResult parsed = parseCommandLine(arguments);
  const vellumar::Language language =
      parsed.options.english ? vellumar::Language::English : vellumar::Language::Russian;
  int status = exit_status::kEvaluationFailed;
  try {
    status = run(parsed);
  } catch (const std::bad_alloc&) {
    std::cerr << vellumar::engine::text::kOutOfMemory.in(language) << '\n';
  } catch (const std::length_error&) {
    std::cerr << vellumar::engine::text::kOutOfMemory.in(language) << '\n';
  } catch (const std::system_error&) {
    std::cerr << vellumar::engine::text::kOutOfMemory.in(language) << '\n';
  }
  // Whatever was printed must have reached standard output (a full disk, a closed pipe).
  std::cout.flush();
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0 || !std::cout.good()) {
    std::cerr << text::kOutputFailed.in(language) << '\n';
    return exit_status::kEvaluationFailed;
  }
  return status;
}
