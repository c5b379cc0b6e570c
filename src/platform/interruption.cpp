#include "platform/interruption.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

static_assert(std::atomic<LastWords>::is_always_lock_free && std::atomic<bool>::is_always_lock_free,
              "the handler reads these; only lock-free atomics may be touched in a signal handler");

namespace {

void end_run(int signal_number) {
  say_last_words();
  if (take_console_line()) {
    const ssize_t ignored = write(STDOUT_FILENO, "\n", 1);
    (void)ignored;
  }
  raise(signal_number);  // the default action again: SA_RESETHAND put it back
}

}  // namespace

void hold_interruption_signals(bool held) {
  sigset_t set;
  sigemptyset(&set);
  for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, s);
  pthread_sigmask(held ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

void catch_interruptions() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = end_run;
  // While one of them is handled the others wait: the last words are said
  // once, and the first signal decides the status.
  sigemptyset(&action.sa_mask);
  const int caught[] = {SIGINT, SIGTERM, SIGHUP};
  for (int s : caught) sigaddset(&action.sa_mask, s);
  action.sa_flags = SA_RESETHAND;
  for (int s : caught) sigaction(s, &action, nullptr);
}
