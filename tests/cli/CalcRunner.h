#pragma once

#include <string>
#include <vector>

namespace vellumar::cli::testing {

// What one run of the built vellumar-calc printed and returned.
struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs vellumar-calc with the arguments (no shell involved) and the given standard input.
RunResult runCalc(const std::vector<std::string>& arguments, const std::string& input = {});

// The numbers of a text separated by white space, after its first skip tokens.
std::vector<double> numbersIn(const std::string& text, int skip = 0);

// A fresh folder for the files of one test, removed with the object.
class ScratchFolder {
 public:
  ScratchFolder();
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  std::string path(const std::string& name) const;
  std::string write(const std::string& name, const std::string& bytes) const;
  std::string read(const std::string& name) const;

 private:
  std::string root_;
};

}  // namespace vellumar::cli::testing
