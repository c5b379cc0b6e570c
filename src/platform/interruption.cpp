#include "platform/interruption.h"

#include <signal.h>
#include <unistd.h>

namespace {

void end_line_and_die(int signal_number) {
  const ssize_t ignored = write(STDOUT_FILENO, "\n", 1);
  (void)ignored;
  raise(signal_number);  // the default action again: SA_RESETHAND put it back
}

}  // namespace

void catch_interruptions() {
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  struct sigaction action = {};
  action.sa_handler = end_line_and_die;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESETHAND;
  const int caught[] = {SIGINT, SIGTERM, SIGHUP};
  for (int s : caught) sigaction(s, &action, nullptr);
}
