#include "CalcRunner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <iterator>
#include <sstream>

#include "common/CFormat.h"

namespace vellumar::cli::testing {
namespace {

// A copy of the program that the user nobody can run: the build folder may lie in a folder only
// root may enter (root's home, a folder mkdtemp made), which nobody could not even look into.
std::string programPath(bool asNobody) {
  if (!asNobody || geteuid() != 0) return VELLUMAR_CALC_PATH;
  static const ScratchFolder copy;
  static const std::string path = [] {
    const std::string target = copy.path("vellumar-calc");
    std::error_code error;
    std::filesystem::copy_file(VELLUMAR_CALC_PATH, target, error);
    chmod(copy.root().c_str(), 0755);
    chmod(target.c_str(), 0755);
    return target;
  }();
  return path;
}

// The command line of a run, quoted word by word, for the messages of failed expectations.
std::string commandLine(const std::vector<std::string>& arguments) {
  std::string line = "vellumar-calc";
  for (const std::string& argument : arguments) line += " '" + argument + "'";
  return line;
}

}  // namespace

void expectOutcomes(const std::vector<Outcome>& cases, const RunSetup& setup) {
  for (const auto& [arguments, outcome] : cases)
    EXPECT_EQ(runCalc(arguments, setup).outcome(), outcome) << commandLine(arguments);
}

std::string ringFile(int n, double cx, double cy, const std::function<double(double)>& radius) {
  std::string text = "1\n";
  for (int k = 0; k <= n; ++k) {
    const double a = 2 * M_PI * (k % n) / n;
    text += cformat("%.12g %.12g\n", cx + radius(a) * std::cos(a), cy + radius(a) * std::sin(a));
  }
  return text + "END\nEND\n";
}

std::vector<double> numbersIn(const std::string& text) {
  std::istringstream in(text);
  return {std::istream_iterator<double>(in), std::istream_iterator<double>()};
}

CalcProcess::CalcProcess(const std::vector<std::string>& arguments, const RunSetup& setup)
    : captured_(setup.output.empty()) {
  const std::string inPath = folder_.write("stdin", setup.input);
  const std::string outPath = captured_ ? folder_.path("stdout") : setup.output;
  std::vector<std::string> copies(arguments);
  copies.insert(copies.begin(), programPath(setup.asNobody));
  std::vector<char*> argv;
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    for (const auto& [name, value] : setup.environment) setenv(name.c_str(), value.c_str(), 1);
    if (!setup.directory.empty() && chdir(setup.directory.c_str()) != 0) _exit(125);
    const auto limit = [](auto resource, long long value) {
      const rlimit both{static_cast<rlim_t>(value), static_cast<rlim_t>(value)};
      if (value >= 0) setrlimit(resource, &both);
    };
    limit(RLIMIT_FSIZE, setup.fileSizeLimit);
    limit(RLIMIT_AS, setup.addressSpaceLimit);
    dup2(open(setup.inputPath.empty() ? inPath.c_str() : setup.inputPath.c_str(), O_RDONLY), 0);
    dup2(
        open(outPath.c_str(), O_WRONLY | O_CREAT | (setup.appendOutput ? O_APPEND : O_TRUNC), 0644),
        1);
    dup2(open(folder_.path("stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644), 2);
    if (setup.asNobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
    // After the change of user, which would otherwise be refused by the limit at exec.
    limit(RLIMIT_NPROC, setup.threadLimit);
    execv(argv[0], argv.data());
    _exit(127);
  }
}

RunResult CalcProcess::wait() {
  RunResult result;
  if (pid_ <= 0) return result;
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (captured_) result.out = folder_.read("stdout");
  result.err = folder_.read("stderr");
  return result;
}

RunResult runCalc(const std::vector<std::string>& arguments, const RunSetup& setup) {
  return CalcProcess(arguments, setup).wait();
}

RunResult runClean(const std::vector<std::string>& arguments, const RunSetup& setup) {
  RunResult run = runCalc(arguments, setup);
  if (run.status != 0) ADD_FAILURE() << commandLine(arguments) << " ended with " << run.outcome();
  return run;
}

}  // namespace vellumar::cli::testing
