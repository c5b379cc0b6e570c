#include "main/command_line.h"

CommandLine parse_command_line(Platform& platform) {
  CommandLine line;
  const int count = platform.arg_count();
  if (count == 0) return line;
  const char* native = platform.native_help_switch();
  if (platform.arg_is(0, "--help") || platform.arg_is(0, "-h") || (native && platform.arg_is(0, native))) {
    line.mode = Mode::kHelp;
  } else if (platform.arg_is(0, "--version")) {
    line.mode = Mode::kVersion;
  } else if (platform.arg_is(0, "--list") || platform.arg_is(0, "--check")) {
    line.mode = platform.arg_is(0, "--list") ? Mode::kList : Mode::kCheck;
    if (count > 1) line.base_arg = 1;
  } else {
    line.base_arg = 0;
    if (count > 1) line.target_arg = 1;
  }
  return line;
}
