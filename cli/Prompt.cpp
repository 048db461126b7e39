#include "cli/Prompt.h"

#include <readline/history.h>
#include <readline/readline.h>
#include <sys/select.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>

namespace vellumar::cli {
namespace {

volatile std::sig_atomic_t interrupted = 0;

void onInterrupt(int) {
  interrupted = 1;
}

// What readline's line handler delivered for the line being read.
struct Delivery {
  bool done = false;
  std::optional<std::string> line;
};
Delivery* delivery = nullptr;

void onLine(char* line) {
  delivery->done = true;
  if (line != nullptr) {
    delivery->line = line;
    std::free(line);
  }
  // No further line is read until the next call asks for one.
  rl_callback_handler_remove();
}

// Ctrl-C while typing: the line is dropped and a fresh prompt shown.
void clearLine() {
  rl_free_line_state();
  rl_callback_sigcleanup();
  std::fputs("^C", rl_outstream != nullptr ? rl_outstream : stdout);
  rl_crlf();
  rl_replace_line("", 0);
  rl_on_new_line();
  rl_redisplay();
}

// SIGINT is caught only while a line is read, and then only inside pselect: the handler sets a
// flag that the loop acts on outside the signal handler, where readline may be called.
class InterruptCatcher {
 public:
  InterruptCatcher() {
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;  // no SA_RESTART: pselect must return
    sigaction(SIGINT, &action, &previous_);
    sigset_t block;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    sigprocmask(SIG_BLOCK, &block, &waitMask_);
    sigdelset(&waitMask_, SIGINT);
  }
  ~InterruptCatcher() {
    sigset_t unblock;
    sigemptyset(&unblock);
    sigaddset(&unblock, SIGINT);
    interrupted = 0;
    sigaction(SIGINT, &previous_, nullptr);
    sigprocmask(SIG_UNBLOCK, &unblock, nullptr);
  }
  InterruptCatcher(const InterruptCatcher&) = delete;
  InterruptCatcher& operator=(const InterruptCatcher&) = delete;

  // The mask to wait under: the caller's, with SIGINT let through.
  const sigset_t* waitMask() const { return &waitMask_; }

 private:
  struct sigaction previous_ {};
  sigset_t waitMask_{};
};

}  // namespace

std::optional<std::string> Prompt::next() {
  rl_catch_signals = 0;
  rl_outstream = screen_;
  InterruptCatcher catcher;
  Delivery received;
  delivery = &received;
  rl_callback_handler_install(prompt_.c_str(), onLine);
  const int input = fileno(rl_instream != nullptr ? rl_instream : stdin);
  while (!received.done) {
    fd_set ready;
    FD_ZERO(&ready);
    FD_SET(input, &ready);
    const int count = pselect(input + 1, &ready, nullptr, nullptr, nullptr, catcher.waitMask());
    if (interrupted != 0) {
      interrupted = 0;
      clearLine();
      continue;
    }
    if (count < 0) {
      if (errno == EINTR) continue;
      rl_callback_handler_remove();
      break;  // the terminal is gone: end of input
    }
    rl_callback_read_char();
  }
  delivery = nullptr;
  if (received.line && received.line->find_first_not_of(" \t") != std::string::npos) {
    add_history(received.line->c_str());
  }
  return received.line;
}

}  // namespace vellumar::cli
