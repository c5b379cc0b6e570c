// What the command line asks for: one parser for every mode. A switch
// (--help, -h, --version, --list, --check, and the system's own help
// spelling) counts only as the first argument; any other argument, also one
// starting with "--", is a base path or a target.
#pragma once

#include "platform/platform.h"

enum class Mode { kRestore, kList, kCheck, kHelp, kVersion, kUsageError };

struct CommandLine {
  Mode mode = Mode::kRestore;
  int base_arg = -1;    // the argument holding the base path; -1: none
  int target_arg = -1;  // the argument naming the target (restore only); -1: none
  // --- parallel restore (-j): to be folded into the new option parser ---
  // -j N, --jobs N or --jobs=N before the other arguments: the writers of
  // the restore; 0: not given (the processors the process may use).
  int jobs = 0;
  // kUsageError: what is wrong, one line.
  const char* problem = nullptr;
};

CommandLine parse_command_line(Platform& platform);
