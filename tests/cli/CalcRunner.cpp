#include "CalcRunner.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "common/FileIo.h"

namespace vellumar::cli::testing {
namespace {

// The bytes of a file the test wrote or a run left; "" when it is not there.
std::string slurp(const std::string& path) {
  return readWholeFile(path).value_or("");
}

std::string makeFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vellumar-cli-XXXXXX").string();
  return mkdtemp(pattern.data());
}

// A copy of the program that the user nobody can run: the build folder may lie in a folder only
// root may enter (root's home, a folder mkdtemp made), which nobody could not even look into.
class ProgramForNobody {
 public:
  ProgramForNobody() {
    folder_ = makeFolder();
    path_ = folder_ + "/vellumar-calc";
    std::error_code error;
    std::filesystem::copy_file(VELLUMAR_CALC_PATH, path_, error);
    chmod(folder_.c_str(), 0755);
    chmod(path_.c_str(), 0755);
  }
  ~ProgramForNobody() { std::filesystem::remove_all(folder_); }
  const std::string& path() const { return path_; }

 private:
  std::string folder_;
  std::string path_;
};

std::string programPath(bool asNobody) {
  if (!asNobody || geteuid() != 0) return VELLUMAR_CALC_PATH;
  static const ProgramForNobody copy;
  return copy.path();
}

}  // namespace

// The command line of a run, quoted word by word, for the messages of failed expectations.
static std::string commandLine(const std::vector<std::string>& arguments) {
  std::string line = "vellumar-calc";
  for (const std::string& argument : arguments) line += " '" + argument + "'";
  return line;
}

void expectOutcomes(const std::vector<Outcome>& cases, const RunSetup& setup) {
  for (const auto& [arguments, outcome] : cases) {
    EXPECT_EQ(runCalc(arguments, setup).outcome(), outcome) << commandLine(arguments);
  }
}

std::vector<std::vector<std::string>> lineRecords(const std::string& file) {
  std::vector<std::vector<std::string>> lines(1);
  std::size_t at = 0;
  for (std::size_t end; (end = file.find("\r\n", at)) != std::string::npos; at = end + 2) {
    const std::string record = file.substr(at, end - at);
    if (record == "END") {
      lines.emplace_back();
    } else {
      lines.back().push_back(record);
    }
  }
  return lines;
}

std::string ringFile(int n, double cx, double cy, const std::function<double(double)>& radius) {
  std::string text = "1\n";
  for (int k = 0; k <= n; ++k) {
    const double a = 2 * M_PI * (k % n) / n;
    char line[64];
    std::snprintf(line, sizeof line, "%.12g %.12g\n", cx + radius(a) * std::cos(a),
                  cy + radius(a) * std::sin(a));
    text += line;
  }
  return text + "END\nEND\n";
}

std::vector<double> numbersIn(const std::string& text) {
  std::istringstream in(text);
  std::vector<double> values;
  double v = 0.0;
  while (in >> v) values.push_back(v);
  return values;
}

CalcProcess::CalcProcess(const std::vector<std::string>& arguments, const RunSetup& setup)
    : folder_(makeFolder()), captured_(setup.output.empty()) {
  const std::string inPath = folder_ + "/stdin";
  std::ofstream(inPath, std::ios::binary) << setup.input;
  const std::string outPath = captured_ ? folder_ + "/stdout" : setup.output;
  const std::string errPath = folder_ + "/stderr";
  std::vector<char*> argv;
  std::string program = programPath(setup.asNobody);
  argv.push_back(program.data());
  std::vector<std::string> copies(arguments);
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_ = fork();
  if (pid_ == 0) {
    for (const auto& [name, value] : setup.environment) setenv(name.c_str(), value.c_str(), 1);
    if (!setup.directory.empty() && chdir(setup.directory.c_str()) != 0) _exit(125);
    for (const auto& [resource, bytes] : {std::pair{RLIMIT_FSIZE, setup.fileSizeLimit},
                                          std::pair{RLIMIT_AS, setup.addressSpaceLimit}}) {
      if (bytes < 0) continue;
      const rlimit limit{static_cast<rlim_t>(bytes), static_cast<rlim_t>(bytes)};
      setrlimit(resource, &limit);
    }
    const int in =
        open(setup.inputPath.empty() ? inPath.c_str() : setup.inputPath.c_str(), O_RDONLY);
    const int out =
        open(outPath.c_str(), O_WRONLY | O_CREAT | (setup.appendOutput ? O_APPEND : O_TRUNC), 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    if (setup.asNobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) {
      _exit(126);
    }
    // After the change of user, which would otherwise be refused by the limit at exec.
    if (setup.threadLimit >= 0) {
      const rlimit limit{static_cast<rlim_t>(setup.threadLimit),
                         static_cast<rlim_t>(setup.threadLimit)};
      setrlimit(RLIMIT_NPROC, &limit);
    }
    execv(argv[0], argv.data());
    _exit(127);
  }
}

CalcProcess::~CalcProcess() {
  if (pid_ > 0) wait();
  std::filesystem::remove_all(folder_);
}

RunResult CalcProcess::wait() {
  RunResult result;
  if (pid_ <= 0) return result;
  int status = 0;
  waitpid(pid_, &status, 0);
  pid_ = -1;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (captured_) result.out = slurp(folder_ + "/stdout");
  result.err = slurp(folder_ + "/stderr");
  return result;
}

RunResult runCalc(const std::vector<std::string>& arguments, const std::string& input) {
  RunSetup setup;
  setup.input = input;
  return runCalc(arguments, setup);
}

RunResult runCalc(const std::vector<std::string>& arguments, const RunSetup& setup) {
  return CalcProcess(arguments, setup).wait();
}

RunResult runClean(const std::vector<std::string>& arguments, const RunSetup& setup) {
  RunResult run = runCalc(arguments, setup);
  if (run.status != 0) ADD_FAILURE() << commandLine(arguments) << " ended with " << run.outcome();
  return run;
}

ScratchFolder::ScratchFolder() : root_(makeFolder()) {}

ScratchFolder::~ScratchFolder() {
  std::filesystem::remove_all(root_);
}

std::string ScratchFolder::path(const std::string& name) const {
  return root_ + "/" + name;
}

std::string ScratchFolder::write(const std::string& name, const std::string& bytes) const {
  const std::string target = path(name);
  std::ofstream(target, std::ios::binary) << bytes;
  return target;
}

std::string ScratchFolder::read(const std::string& name) const {
  return slurp(path(name));
}

}  // namespace vellumar::cli::testing
