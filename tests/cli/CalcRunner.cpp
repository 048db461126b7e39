#include "CalcRunner.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace vellumar::cli::testing {
namespace {

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

std::vector<double> numbersIn(const std::string& text, int skip) {
  std::istringstream in(text);
  std::string token;
  for (int k = 0; k < skip; ++k) in >> token;
  std::vector<double> values;
  double v = 0.0;
  while (in >> v) values.push_back(v);
  return values;
}

RunResult runCalc(const std::vector<std::string>& arguments, const std::string& input) {
  ScratchFolder io;
  const std::string inPath = io.write("stdin", input);
  const std::string outPath = io.path("stdout");
  const std::string errPath = io.path("stderr");
  std::vector<char*> argv;
  std::string program = VELLUMAR_CALC_PATH;
  argv.push_back(program.data());
  std::vector<std::string> copies(arguments);
  for (std::string& argument : copies) argv.push_back(argument.data());
  argv.push_back(nullptr);
  const pid_t child = fork();
  if (child == 0) {
    const int in = open(inPath.c_str(), O_RDONLY);
    const int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    const int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    dup2(in, 0);
    dup2(out, 1);
    dup2(err, 2);
    execv(argv[0], argv.data());
    _exit(127);
  }
  int status = 0;
  waitpid(child, &status, 0);
  RunResult result;
  result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  result.out = slurp(outPath);
  result.err = slurp(errPath);
  return result;
}

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "vellumar-cli-XXXXXX").string();
  root_ = mkdtemp(pattern.data());
}

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
