#pragma once

#include <sys/wait.h>
#include <unistd.h>

#include <functional>

namespace vellumar::testing {

// The user "nobody", whom file permissions bind even when the tests run as root.
inline constexpr uid_t kNobody = 65534;

// Runs work in a child process, as the user nobody when asked (only root can switch), and returns
// the number it returned; -1 when the child did not end normally.
inline int inChild(const std::function<int()>& work, bool asNobody) {
  const pid_t child = fork();
  if (child == 0) {
    if (asNobody && (setgid(kNobody) != 0 || setuid(kNobody) != 0)) _exit(100);
    _exit(work());
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace vellumar::testing
